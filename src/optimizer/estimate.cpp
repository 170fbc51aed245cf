#include "optimizer/estimate.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/text.hpp"
#include "optimizer/quant_factors.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {
namespace {

double simd_factor(SimdLevel s) {
  switch (s) {
    case SimdLevel::None:
      return 0.8;
    case SimdLevel::AVX:
      return 1.0;
    case SimdLevel::AVX2:
      return 1.2;
    case SimdLevel::AVX512:
      return 1.5;
  }
  return 0.8;
}

uint64_t saturating_add(uint64_t a, uint64_t b) {
  uint64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) return std::numeric_limits<uint64_t>::max();
  return sum;
}

}  // namespace

BenchmarkResult estimate_performance(const RuntimeConfig& config, const ModelProfile& model,
                                     const HardwareProfile& profile) {
  const double cores = static_cast<double>(profile.cpu.core_count);
  const QuantizationStrategy q = config.quantization;

  double share = static_cast<double>(config.threads) / cores;
  // Without a core count the share is meaningless; count the cores as fully used.
  if (!std::isfinite(share)) share = 1.0;
  const double efficiency = std::min(share, 1.0) * 0.8 + 0.2;

  // 33, not 32, on purpose: cached and reported estimates were all made with it.
  double gpu_factor = 1.0;
  if (profile.gpu && config.gpu_layers != 0) {
    gpu_factor = static_cast<double>(config.gpu_layers) / 33.0 * 4.0 + 1.0;
  }

  BenchmarkResult r;
  r.tokens_per_sec = cores * 2.0 * quant::speed_factor(q) * simd_factor(profile.cpu.simd_level) *
                     efficiency * gpu_factor;
  // A throughput of 0 gives an infinite latency.
  r.latency_ms = 1000.0 / r.tokens_per_sec;

  double weights = 0.0;
  if (model.memory_footprint_mb) {
    weights = *model.memory_footprint_mb * quant::memory_factor(q);
  } else if (model.param_count) {
    weights = static_cast<double>(*model.param_count) * bytes_per_weight(q) / 1'000'000.0;
  }
  r.peak_memory_mb = saturate_u64(weights);
  if (model.kv_cache_size_mb) {
    r.peak_memory_mb = saturating_add(r.peak_memory_mb, saturate_u64(*model.kv_cache_size_mb));
  }
  return r;
}

}  // namespace bc
