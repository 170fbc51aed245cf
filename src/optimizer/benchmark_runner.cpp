#include "optimizer/benchmark_runner.hpp"

#include <atomic>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "runtime/adapter_registry.hpp"

namespace bc {
namespace {

Expected<BenchmarkResult> guarded_benchmark(const BenchmarkFn& benchmark,
                                            const RuntimeConfig& config,
                                            const ModelProfile& model) {
  // A fault escaping one measurement must not take the others down.
  try {
    return benchmark(config, model, kBenchmarkPrompt);
  } catch (const std::exception& e) {
    return fail(std::string("benchmark task panicked: ") + e.what());
  } catch (...) {
    return fail("benchmark task panicked: unknown fault");
  }
}

}  // namespace

BenchmarkFn registry_benchmark() {
  return [](const RuntimeConfig& config, const ModelProfile& model, const std::string& prompt) {
    AdapterRegistry registry;
    return registry.benchmark(config, model, prompt);
  };
}

std::vector<BenchmarkOutcome> run_benchmarks(const std::vector<RuntimeConfig>& candidates,
                                             const ModelProfile& model,
                                             const BenchmarkFn& benchmark) {
  if (candidates.empty()) return {};
  // The workers only read the model; one shared copy serves them all.
  auto shared_model = std::make_shared<const ModelProfile>(model);
  std::vector<std::optional<Expected<BenchmarkResult>>> results(candidates.size());
  std::atomic<size_t> next{0};

  // Each worker takes the next candidate in order, so at most as many tool
  // runs are active as there are workers, and a slot freed by a finished run
  // is taken at once by the next waiting candidate.
  auto work = [&] {
    for (size_t i = next.fetch_add(1); i < candidates.size(); i = next.fetch_add(1))
      results[i].emplace(guarded_benchmark(benchmark, candidates[i], *shared_model));
  };
  {
    std::vector<std::jthread> workers;
    const size_t wanted = std::min<size_t>(kMaxConcurrentBenchmarks, candidates.size());
    for (size_t w = 0; w < wanted; ++w) {
      try {
        workers.emplace_back(work);
      } catch (const std::system_error&) {
        break;  // fewer threads only means less parallelism
      }
    }
    if (workers.empty()) work();
  }  // joins every worker

  std::vector<BenchmarkOutcome> outcomes;
  outcomes.reserve(candidates.size());
  for (size_t i = 0; i < candidates.size(); ++i)
    outcomes.push_back({candidates[i], std::move(*results[i])});
  return outcomes;
}

}  // namespace bc
