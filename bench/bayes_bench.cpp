// One complete Bayesian search (12 estimates, 7 proposals of 24 candidates),
// with its progress lines dropped so only the search itself is timed.

#include <benchmark/benchmark.h>

#include "core/line_sink.hpp"
#include "core/records.hpp"
#include "optimizer/bayes.hpp"

namespace {

class NullSink : public bc::LineSink {
 public:
  void write_line(std::string_view) override {}
};

void BM_BayesianSearch(benchmark::State& state) {
  using bc::QuantizationStrategy;
  using bc::RuntimeKind;
  const bc::SearchSpace space{{RuntimeKind::LlamaCpp, RuntimeKind::Ollama},
                              {QuantizationStrategy::Q4_K_M, QuantizationStrategy::Q8_0},
                              {4, 8, 16},
                              {128, 256, 512},
                              32};
  bc::ModelProfile model;
  model.model_path = "/models/bench.gguf";
  model.param_count = 7'000'000'000;
  model.memory_footprint_mb = 7'000'000'000.0 * 2.0 / 1048576.0;
  model.kv_cache_size_mb = 1024.0;
  bc::HardwareProfile profile;
  profile.cpu.core_count = 8;
  profile.cpu.simd_level = bc::SimdLevel::AVX2;
  profile.ram = {32000, 16000};
  profile.gpu =
      bc::GpuInfo{"Bench GPU", 24576, std::pair<uint32_t, uint32_t>{8, 9}, bc::GpuVendor::Nvidia};
  NullSink sink;
  for (auto _ : state) {
    benchmark::DoNotOptimize(bc::bayesian_search(space, model, profile, 1.0, sink));
  }
}
BENCHMARK(BM_BayesianSearch)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
