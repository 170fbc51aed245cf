#include <string>
#include <vector>

#include "core/text.hpp"
#include "hardware/gpu.hpp"
#include "hardware/gpu_tool.hpp"

namespace bc {
namespace {

constexpr std::string_view kRocmName[] = {"card", "name"};
constexpr std::string_view kRocmVram[] = {"vram", "memory"};
constexpr std::string_view kAmdName[] = {"name"};
constexpr std::string_view kAmdVram[] = {"mem_total", "memory_total", "vram"};

// Figures above this are byte counts; up to it they are already MB.
constexpr uint64_t kLargestMbFigure = 1'000'000;

std::optional<size_t> find_column(const std::vector<std::string_view>& header,
                                  std::span<const std::string_view> keywords) {
  for (size_t i = 0; i < header.size(); ++i) {
    std::string cell = to_lower_unicode(header[i]);
    for (std::string_view k : keywords) {
      if (cell.find(k) != std::string::npos) return i;
    }
  }
  return std::nullopt;
}

}  // namespace

constinit const AmdCsvKeywords kRocmSmiKeywords{kRocmName, kRocmVram};
constinit const AmdCsvKeywords kAmdSmiKeywords{kAmdName, kAmdVram};

std::optional<GpuInfo> parse_amd_csv(std::string_view stdout_text, const AmdCsvKeywords& keywords) {
  std::vector<std::string_view> rows;
  for (std::string_view line : split_lines(stdout_text)) {
    if (!trim(line).empty()) rows.push_back(line);
    if (rows.size() == 2) break;
  }
  if (rows.empty()) return std::nullopt;

  std::vector<std::string_view> header = split_char(rows[0], ',');
  std::optional<size_t> name_col = find_column(header, keywords.name);
  std::optional<size_t> vram_col = find_column(header, keywords.vram);
  if (!name_col || !vram_col || rows.size() < 2) return std::nullopt;

  std::vector<std::string_view> cells = split_char(rows[1], ',');
  if (*name_col >= cells.size()) return std::nullopt;
  std::string_view name = trim(cells[*name_col]);
  if (name.empty() || *vram_col >= cells.size()) return std::nullopt;
  std::optional<uint64_t> vram = parse_u64(trim(cells[*vram_col]));
  if (!vram) return std::nullopt;

  GpuInfo gpu;
  gpu.name = std::string(name);
  gpu.vram_mb = *vram > kLargestMbFigure ? *vram / (1024 * 1024) : *vram;
  gpu.vendor = GpuVendor::Amd;
  return gpu;
}

std::optional<GpuInfo> probe_amd_gpu(std::chrono::milliseconds tool_time_limit) {
  if (std::optional<std::string> out = run_gpu_tool(
          "rocm-smi", {"--showproductname", "--showmeminfo", "vram", "--csv"}, tool_time_limit)) {
    if (std::optional<GpuInfo> gpu = parse_amd_csv(*out, kRocmSmiKeywords)) return gpu;
  }
  std::optional<std::string> out =
      run_gpu_tool("amd-smi", {"monitor", "--gpu", "--csv"}, tool_time_limit);
  if (!out) return std::nullopt;
  return parse_amd_csv(*out, kAmdSmiKeywords);
}

std::optional<GpuInfo> probe_amd_gpu() { return probe_amd_gpu(kGpuToolTimeLimit); }

}  // namespace bc
