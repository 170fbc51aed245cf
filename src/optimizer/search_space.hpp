#pragma once
// The two spaces the optimizer searches: the five axes the Bayesian search
// samples from, and the explicit grid the cartesian fallback benchmarks.

#include <cstdint>
#include <utility>
#include <vector>

#include "core/records.hpp"
#include "optimizer/workload.hpp"

namespace bc {

struct SearchSpace {
  std::vector<RuntimeKind> runtimes;                // preselected, best first
  std::vector<QuantizationStrategy> quantizations;  // never empty
  std::vector<uint32_t> threads;                    // ascending, distinct
  std::vector<uint32_t> batch_sizes;                // kBatchSizes
  uint32_t max_gpu_layers = 0;                      // 0: CPU-only
  bool operator==(const SearchSpace&) const = default;
};

inline constexpr uint32_t kBatchSizes[] = {128, 256, 512};

std::vector<QuantizationStrategy> quantization_candidates(ModelFormat format,
                                                          const ModelAnalysis& analysis,
                                                          const HardwareSummary& summary);

// Half, once and twice the core count, each within 1..64; ascending, distinct.
std::vector<uint32_t> thread_candidates(uint32_t core_count);

uint32_t max_gpu_layers(const HardwareProfile& profile, const ModelProfile& model);

// Quarters of the bound, ascending and distinct; {0} for a bound of 0.
std::vector<uint32_t> gpu_layer_levels(uint32_t bound);

std::vector<std::pair<RuntimeKind, QuantizationStrategy>> runtime_quantization_pairs(
    ModelFormat format, const HardwareProfile& profile, WorkloadClass workload);

// In benchmark order; empty only when no pair fits the GPU's memory.
std::vector<RuntimeConfig> generate_grid(const HardwareProfile& profile, const ModelProfile& model);

}  // namespace bc
