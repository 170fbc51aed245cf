#pragma once
// A coarse, hardware-aware figure of merit for a configuration, computed
// without running anything. Runtime and batch size do not enter it.

#include "core/records.hpp"

namespace bc {

BenchmarkResult estimate_performance(const RuntimeConfig& config, const ModelProfile& model,
                                     const HardwareProfile& profile);

}  // namespace bc
