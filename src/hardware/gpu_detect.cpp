#include "hardware/gpu.hpp"

namespace bc {

std::optional<GpuInfo> detect_gpu(std::chrono::milliseconds tool_time_limit) {
  if (std::optional<GpuInfo> gpu = probe_nvidia_gpu(tool_time_limit)) return gpu;
  return probe_amd_gpu(tool_time_limit);
}

std::optional<GpuInfo> detect_gpu() { return detect_gpu(kGpuToolTimeLimit); }

}  // namespace bc
