#include "optimizer/pipeline.hpp"

#include "core/text.hpp"
#include "optimizer/bayes.hpp"
#include "optimizer/cache.hpp"
#include "optimizer/cartesian_search.hpp"
#include "optimizer/preselect.hpp"
#include "optimizer/search_space.hpp"
#include "optimizer/workload.hpp"

namespace bc {
namespace {

void store(const HardwareProfile& hardware, const ModelProfile& model,
           const OptimizationResult& result, bool use_cache, LineSink& sink) {
  if (!use_cache) return;
  if (auto stored = store_cached_result(hardware, model, result); !stored)
    sink.write_line("[brindlecove] Warning: could not write cache: " + stored.error().message());
}

std::string runtime_list(const std::vector<RuntimeKind>& runtimes) {
  std::string out = "[";
  for (size_t i = 0; i < runtimes.size(); ++i) {
    if (i > 0) out += ", ";
    out += name(runtimes[i]);
  }
  return out + "]";
}

}  // namespace

Expected<OptimizationResult> run_pipeline(const ModelProfile& model,
                                          std::optional<double> max_latency_ms,
                                          const HardwareProfile& hardware, bool use_cache,
                                          LineSink& sink, const BenchmarkFn& benchmark) {
  if (use_cache) {
    if (auto hit = lookup_cached_result(hardware, model)) {
      sink.write_line(
          "[brindlecove] Cache hit \u2014 returning stored result (use --no-cache to force "
          "re-run)");
      return *hit;
    }
  }

  const HardwareSummary summary = summarize_hardware(hardware);
  sink.write_line("[Stage 1/4] Hardware: " + std::to_string(summary.core_count) +
                  " cores, GPU=" + (summary.has_gpu ? "yes" : "no") + ", VRAM=" +
                  (hardware.gpu ? std::to_string(hardware.gpu->vram_mb) + "MB" : "none") +
                  ", RAM=" + std::to_string(summary.available_ram_mb) + "MB");

  const ModelAnalysis analysis = analyze_workload(model, summary);
  sink.write_line("[Stage 2/4] Model: workload=" + std::string(name(analysis.workload)) +
                  ", params=" +
                  (analysis.param_count
                       ? format_fixed(static_cast<double>(*analysis.param_count) / 1e9, 1) + "B"
                       : std::string("unknown")) +
                  ", FP16=" +
                  (analysis.fp16_size_mb ? format_fixed(*analysis.fp16_size_mb, 0) + "MB"
                                         : std::string("unknown")));

  SearchSpace space;
  space.runtimes = preselect_runtimes(model.format, summary, analysis, sink);
  sink.write_line("[Stage 3/4] Preselected runtimes: " + runtime_list(space.runtimes));
  space.quantizations = quantization_candidates(model.format, analysis, summary);
  space.threads = thread_candidates(summary.core_count);
  space.batch_sizes.assign(std::begin(kBatchSizes), std::end(kBatchSizes));
  space.max_gpu_layers = max_gpu_layers(hardware, model);

  sink.write_line("[Stage 4/4] Bayesian optimization (hardware-aware estimation): " +
                  std::to_string(kInitialSamples) + " initial samples + " +
                  std::to_string(kRefinementIterations) + " refinement iterations");

  const BayesianOutcome bayes = bayesian_search(space, model, hardware, max_latency_ms, sink);
  if (!bayes.fallback) {
    store(hardware, model, bayes.best, use_cache, sink);
    return bayes.best;
  }

  auto fallback = cartesian_search(model, hardware, max_latency_ms, sink, benchmark);
  if (!fallback) {
    return fail_with(Error(latency_constraint_message(max_latency_ms)),
                     "cartesian fallback also failed: " + fallback.error().message());
  }
  store(hardware, model, *fallback, use_cache, sink);
  return *fallback;
}

}  // namespace bc
