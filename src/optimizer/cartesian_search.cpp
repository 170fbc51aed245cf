#include "optimizer/cartesian_search.hpp"

#include <algorithm>

#include "core/text.hpp"
#include "optimizer/estimate.hpp"
#include "optimizer/search_space.hpp"

namespace bc {
namespace {

const Error& root_cause(const Error& e) {
  const Error* at = &e;
  while (at->cause() != nullptr) at = at->cause();
  return *at;
}

// The first NotInstalled in the chain, outermost first.
const AdapterError* not_installed(const Error& e) {
  for (const Error* at = &e; at != nullptr; at = at->cause()) {
    const AdapterError* a = at->adapter_error();
    if (a != nullptr && a->kind == AdapterError::Kind::NotInstalled) return a;
  }
  return nullptr;
}

bool fails_not_installed(const BenchmarkOutcome& o) {
  return !o.result && not_installed(o.result.error()) != nullptr;
}

std::string join(const std::set<std::string>& items, std::string_view sep) {
  std::string out;
  for (const auto& item : items) {
    if (!out.empty()) out += sep;
    out += item;
  }
  return out;
}

}  // namespace

std::string latency_constraint_message(std::optional<double> max_latency_ms) {
  return "no valid configuration found: no configuration meets the latency constraint of " +
         format_fixed(max_latency_ms.value_or(0.0), 1) +
         " ms. Try relaxing --latency or freeing RAM.";
}

std::optional<OptimizationResult> select_best(const std::vector<BenchmarkOutcome>& outcomes,
                                              const HardwareProfile& hardware,
                                              std::optional<double> max_latency_ms,
                                              LineSink& sink) {
  const uint64_t budget = saturate_u64(static_cast<double>(hardware.ram.available_mb) * 0.9);
  std::vector<OptimizationResult> kept;
  for (const auto& o : outcomes) {
    if (!o.result) {
      sink.write_line("[brindlecove-optimizer] benchmark error: " + o.result.error().message());
      continue;
    }
    const BenchmarkResult& m = *o.result;
    if (m.peak_memory_mb > budget) continue;
    // Written so that a NaN latency is never within the limit.
    if (max_latency_ms && !(m.latency_ms <= *max_latency_ms)) continue;
    kept.push_back({o.config, m});
  }
  // Insertion sort: a candidate passes only those it strictly outpaces, so
  // ties and NaN throughputs keep the grid order. std::stable_sort cannot
  // promise that once a NaN breaks the ordering.
  for (size_t i = 1; i < kept.size(); ++i) {
    for (size_t j = i; j > 0 && kept[j].metrics.tokens_per_sec > kept[j - 1].metrics.tokens_per_sec;
         --j)
      std::swap(kept[j], kept[j - 1]);
  }
  if (kept.empty()) return std::nullopt;
  return kept.front();
}

Error no_valid_configuration_error(const std::set<std::string>& reasons,
                                   const std::set<std::string>& missing,
                                   std::optional<double> max_latency_ms) {
  const std::string r = join(reasons, "; ");
  const std::string m = join(missing, ", ");
  if (missing.empty() && !reasons.empty())
    return Error(
        "no compatible runtimes found \u2014 all benchmark attempts failed.\nFailure reasons: " +
        r);
  if (!missing.empty() && !reasons.empty())
    return Error("no compatible runtimes found \u2014 required runtime binaries are missing: " + m +
                 "\nInstall the missing programs and retry.\nAdditional failure reasons: " + r);
  if (!missing.empty())
    return Error("no compatible runtimes found \u2014 required runtime binaries are missing: " + m +
                 "\nInstall the missing programs and retry.");
  return Error(latency_constraint_message(max_latency_ms));
}

Expected<OptimizationResult> cartesian_search(const ModelProfile& model,
                                              const HardwareProfile& hardware,
                                              std::optional<double> max_latency_ms, LineSink& sink,
                                              const BenchmarkFn& benchmark) {
  const std::vector<RuntimeConfig> grid = generate_grid(hardware, model);
  if (grid.empty())
    return fail("no candidate configurations generated for this hardware / model combination");

  std::vector<BenchmarkOutcome> outcomes = run_benchmarks(grid, model, benchmark);

  // Reasons and missing tools are read before estimates and skips change
  // the outcomes, so a missing llama-cli is still reported.
  std::set<std::string> reasons, missing;
  for (const auto& o : outcomes) {
    if (o.result) continue;
    reasons.insert(root_cause(o.result.error()).message());
    for (const Error* at = &o.result.error(); at != nullptr; at = at->cause()) {
      const AdapterError* a = at->adapter_error();
      if (a != nullptr && a->kind == AdapterError::Kind::NotInstalled) missing.insert(a->a);
    }
  }

  bool any_llama = false, all_llama_missing = true;
  for (const auto& o : outcomes) {
    if (o.config.runtime != RuntimeKind::LlamaCpp) continue;
    any_llama = true;
    if (!fails_not_installed(o)) all_llama_missing = false;
  }
  if (any_llama && all_llama_missing) {
    sink.write_line(
        "[brindlecove] llama-cli not found \u2014 using hardware-aware estimates for GGUF configs");
    for (auto& o : outcomes)
      if (o.config.runtime == RuntimeKind::LlamaCpp && !o.result)
        o.result = estimate_performance(o.config, model, hardware);
  }

  std::set<std::string> skipped;
  std::erase_if(outcomes, [&](const BenchmarkOutcome& o) {
    if (!fails_not_installed(o)) return false;
    skipped.insert(not_installed(o.result.error())->a);
    return true;
  });
  for (const auto& binary : skipped)
    sink.write_line("[brindlecove] " + binary +
                    " not found \u2014 skipping configs that require it");

  if (auto best = select_best(outcomes, hardware, max_latency_ms, sink)) return *best;
  return std::unexpected(no_valid_configuration_error(reasons, missing, max_latency_ms));
}

}  // namespace bc
