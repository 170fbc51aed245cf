#pragma once
// The derived values that steer planning: where the memory is, how large the
// model is at 16-bit precision, and whether it leans on memory or compute.

#include <cstdint>
#include <optional>
#include <string_view>

#include "core/records.hpp"

namespace bc {

enum class WorkloadClass { MemoryBound, ComputeBound, Balanced };

// "MemoryBound", "ComputeBound" or "Balanced", as the progress lines show it.
std::string_view name(WorkloadClass v);

struct HardwareSummary {
  std::optional<uint64_t> vram_mb;  // present exactly when there is a GPU
  uint64_t available_ram_mb = 0;
  uint32_t core_count = 0;
  bool has_gpu = false;
  bool is_nvidia = false;
  bool operator==(const HardwareSummary&) const = default;
};

struct ModelAnalysis {
  std::optional<uint64_t> param_count;
  std::optional<double> fp16_size_mb;
  bool kv_pressure = false;
  WorkloadClass workload = WorkloadClass::Balanced;
  bool operator==(const ModelAnalysis&) const = default;
};

HardwareSummary summarize_hardware(const HardwareProfile& profile);

// The feed-forward to hidden width ratio alone; the fallback grid classifies
// the model by this rule without a hardware summary.
WorkloadClass classify_workload(const ModelProfile& model);

ModelAnalysis analyze_workload(const ModelProfile& model, const HardwareSummary& summary);

}  // namespace bc
