#include "optimizer/estimate.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fixtures.hpp"

namespace bc {
namespace {

using testing::cpu_only;
using testing::gguf_model;
using testing::with_gpu;
using Q = QuantizationStrategy;

RuntimeConfig config(Q q, uint32_t threads, uint32_t gpu_layers = 0,
                     RuntimeKind runtime = RuntimeKind::LlamaCpp, uint32_t batch = 512) {
  return RuntimeConfig{runtime, q, threads, batch, gpu_layers};
}

TEST(Estimate, ThroughputAndLatency) {
  const ModelProfile m = gguf_model();
  const HardwareProfile cpu = cpu_only(8, 16000, SimdLevel::AVX2);
  const HardwareProfile gpu = with_gpu(cpu, GpuVendor::Nvidia, 24576);

  const BenchmarkResult base = estimate_performance(config(Q::Q4_K_M, 8), m, cpu);
  EXPECT_EQ(base.tokens_per_sec, 19.2);
  EXPECT_EQ(base.latency_ms, 1000.0 / 19.2);

  // The efficiency of half the cores is 0.5 × 0.8 + 0.2, which is not the double 0.6.
  EXPECT_EQ(estimate_performance(config(Q::Q4_K_M, 4), m, cpu).tokens_per_sec,
            19.2 * (0.5 * 0.8 + 0.2));
  EXPECT_EQ(estimate_performance(config(Q::Q4_K_M, 16), m, cpu), base);

  const double gpu_factor = 32.0 / 33.0 * 4.0 + 1.0;
  EXPECT_EQ(estimate_performance(config(Q::Q4_K_M, 8, 32), m, gpu).tokens_per_sec,
            19.2 * gpu_factor);
  EXPECT_EQ(estimate_performance(config(Q::Q4_K_M, 8, 0), m, gpu), base);
  EXPECT_EQ(estimate_performance(config(Q::Q4_K_M, 8, 32), m, cpu), base);

  EXPECT_EQ(
      estimate_performance(config(Q::F16, 16), m, cpu_only(8, 1, SimdLevel::AVX512)).tokens_per_sec,
      8.0 * 2.0 * 0.28 * 1.5);
  EXPECT_EQ(
      estimate_performance(config(Q::Q4_0, 2), m, cpu_only(2, 1, SimdLevel::None)).tokens_per_sec,
      2.0 * 2.0 * 0.95 * 0.8);
}

TEST(Estimate, NoCoresGiveZeroThroughputAndInfiniteLatency) {
  for (uint32_t threads : {0u, 4u}) {
    const BenchmarkResult r = estimate_performance(config(Q::Q4_K_M, threads, 32), gguf_model(),
                                                   with_gpu(cpu_only(0), GpuVendor::Nvidia, 24576));
    EXPECT_EQ(r.tokens_per_sec, 0.0);
    EXPECT_FALSE(std::signbit(r.tokens_per_sec));
    EXPECT_EQ(r.latency_ms, std::numeric_limits<double>::infinity());
  }
}

TEST(Estimate, IgnoresRuntimeAndBatchSize) {
  const ModelProfile m = gguf_model(7'000'000'000);
  const HardwareProfile p = with_gpu(cpu_only(8), GpuVendor::Nvidia, 24576);
  const BenchmarkResult a =
      estimate_performance(config(Q::Q8_0, 4, 16, RuntimeKind::LlamaCpp, 128), m, p);
  EXPECT_EQ(estimate_performance(config(Q::Q8_0, 4, 16, RuntimeKind::Ollama, 128), m, p), a);
  EXPECT_EQ(estimate_performance(config(Q::Q8_0, 4, 16, RuntimeKind::Vllm, 512), m, p), a);
}

TEST(Estimate, PeakMemory) {
  const HardwareProfile p = cpu_only(8);
  ModelProfile m = gguf_model(7'000'000'000);
  m.memory_footprint_mb = 7'000'000'000.0 * 2.0 / 1048576.0;
  EXPECT_EQ(estimate_performance(config(Q::Q4_K_M, 8), m, p).peak_memory_mb, 3337u);
  m.kv_cache_size_mb = 1024.0;
  EXPECT_EQ(estimate_performance(config(Q::Q4_K_M, 8), m, p).peak_memory_mb, 3337u + 1024u);

  ModelProfile params_only = gguf_model(7'000'000'000);
  EXPECT_EQ(estimate_performance(config(Q::Q8_0, 8), params_only, p).peak_memory_mb, 7000u);

  ModelProfile kv_only = gguf_model();
  kv_only.kv_cache_size_mb = 511.9;
  EXPECT_EQ(estimate_performance(config(Q::F16, 8), kv_only, p).peak_memory_mb, 511u);

  // Each part truncates on its own, then the sum saturates.
  ModelProfile huge = gguf_model();
  huge.memory_footprint_mb = 1e30;
  huge.kv_cache_size_mb = 5.0;
  EXPECT_EQ(estimate_performance(config(Q::F16, 8), huge, p).peak_memory_mb,
            std::numeric_limits<uint64_t>::max());
  ModelProfile odd = gguf_model();
  odd.memory_footprint_mb = std::nan("");
  odd.kv_cache_size_mb = -3.0;
  EXPECT_EQ(estimate_performance(config(Q::F16, 8), odd, p).peak_memory_mb, 0u);
}

}  // namespace
}  // namespace bc
