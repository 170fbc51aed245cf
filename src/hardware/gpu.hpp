#pragma once
// GPU detection through the vendors' command-line tools: nvidia-smi, then
// rocm-smi, then amd-smi. Only the first GPU of the first tool that answers
// is reported.

#include <chrono>
#include <optional>
#include <span>
#include <string_view>

#include "core/records.hpp"

namespace bc {

// How long one vendor tool may run before it is killed and counted as failed,
// so that a wedged driver cannot hang detection.
inline constexpr std::chrono::milliseconds kGpuToolTimeLimit{10'000};

// The NVIDIA probe; the AMD probes only when it yields nothing.
std::optional<GpuInfo> detect_gpu();
std::optional<GpuInfo> probe_nvidia_gpu();
// rocm-smi, then amd-smi when rocm-smi yields nothing.
std::optional<GpuInfo> probe_amd_gpu();

// The same, with each tool's wait bounded by `tool_time_limit`.
std::optional<GpuInfo> detect_gpu(std::chrono::milliseconds tool_time_limit);
std::optional<GpuInfo> probe_nvidia_gpu(std::chrono::milliseconds tool_time_limit);
std::optional<GpuInfo> probe_amd_gpu(std::chrono::milliseconds tool_time_limit);

// The first line of
// `nvidia-smi --query-gpu=name,memory.total,compute_cap --format=csv,noheader,nounits`.
std::optional<GpuInfo> parse_nvidia_smi(std::string_view stdout_text);

// Which header cells hold the name and the VRAM figure: the first cell whose
// lower-cased text contains any of the keywords.
struct AmdCsvKeywords {
  std::span<const std::string_view> name;
  std::span<const std::string_view> vram;
};
extern const AmdCsvKeywords kRocmSmiKeywords;
extern const AmdCsvKeywords kAmdSmiKeywords;

// The first data row of a rocm-smi / amd-smi CSV table. Cells are split at
// every comma (no quoting). A VRAM figure above 1,000,000 is a byte count.
std::optional<GpuInfo> parse_amd_csv(std::string_view stdout_text, const AmdCsvKeywords& keywords);

}  // namespace bc
