#include <string>

#include "core/text.hpp"
#include "hardware/gpu.hpp"
#include "hardware/gpu_tool.hpp"

namespace bc {

std::optional<GpuInfo> parse_nvidia_smi(std::string_view stdout_text) {
  std::vector<std::string_view> lines = split_lines(stdout_text);
  if (lines.empty()) return std::nullopt;
  std::string_view line = trim(lines.front());

  size_t first = line.find(',');
  if (first == std::string_view::npos) return std::nullopt;
  size_t second = line.find(',', first + 1);
  if (second == std::string_view::npos) return std::nullopt;

  GpuInfo gpu;
  gpu.vendor = GpuVendor::Nvidia;
  gpu.name = std::string(trim(line.substr(0, first)));
  std::optional<uint64_t> vram = parse_u64(trim(line.substr(first + 1, second - first - 1)));
  if (!vram) return std::nullopt;
  gpu.vram_mb = *vram;

  // A malformed capability loses only the capability, not the GPU.
  std::string_view cap = trim(line.substr(second + 1));
  size_t dot = cap.find('.');
  if (dot != std::string_view::npos) {
    std::optional<uint32_t> major = parse_u32(trim(cap.substr(0, dot)));
    std::optional<uint32_t> minor = parse_u32(trim(cap.substr(dot + 1)));
    if (major && minor) gpu.compute_capability = std::pair{*major, *minor};
  }
  return gpu;
}

std::optional<GpuInfo> probe_nvidia_gpu(std::chrono::milliseconds tool_time_limit) {
  std::optional<std::string> out = run_gpu_tool(
      "nvidia-smi", {"--query-gpu=name,memory.total,compute_cap", "--format=csv,noheader,nounits"},
      tool_time_limit);
  if (!out) return std::nullopt;
  return parse_nvidia_smi(*out);
}

std::optional<GpuInfo> probe_nvidia_gpu() { return probe_nvidia_gpu(kGpuToolTimeLimit); }

}  // namespace bc
