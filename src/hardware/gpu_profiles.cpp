#include "hardware/gpu_profiles.hpp"

#include <string>

#include "core/text.hpp"

namespace bc {
namespace {

struct NamedGpu {
  std::string_view key;  // normalised text without the "rtx" prefix
  bool rtx_form;         // "rtx" + key is accepted too
  std::string_view name;
  uint64_t vram_mb;
  uint32_t major, minor;
};

constexpr NamedGpu kNamedGpus[] = {
    {"4090", true, "NVIDIA GeForce RTX 4090", 24576, 8, 9},
    {"4080", true, "NVIDIA GeForce RTX 4080", 16384, 8, 9},
    {"4070ti", true, "NVIDIA GeForce RTX 4070 Ti", 12288, 8, 9},
    {"4070", true, "NVIDIA GeForce RTX 4070", 12288, 8, 9},
    {"3090", true, "NVIDIA GeForce RTX 3090", 24576, 8, 6},
    {"3080", true, "NVIDIA GeForce RTX 3080", 10240, 8, 6},
    {"3070", true, "NVIDIA GeForce RTX 3070", 8192, 8, 6},
    {"3060", true, "NVIDIA GeForce RTX 3060", 12288, 8, 6},
    {"2080ti", true, "NVIDIA GeForce RTX 2080 Ti", 11264, 7, 5},
    {"2080", true, "NVIDIA GeForce RTX 2080", 8192, 7, 5},
    {"a100", false, "NVIDIA A100", 81920, 8, 0},
    {"a10g", false, "NVIDIA A10G", 24576, 8, 6},
    {"h100", false, "NVIDIA H100", 81920, 9, 0},
};

std::string normalise(std::string_view text) {
  std::string out;
  for (char c : to_lower_unicode(text)) {
    if (c != ' ' && c != '-') out += c;
  }
  return out;
}

}  // namespace

Expected<std::optional<GpuInfo>> gpu_profile_for_name(std::string_view text) {
  std::string key = normalise(text);
  if (key.empty() || key == "cpu") return std::optional<GpuInfo>{};
  std::string_view bare = key;
  bool has_rtx = bare.starts_with("rtx");
  if (has_rtx) bare.remove_prefix(3);
  for (const NamedGpu& g : kNamedGpus) {
    if (g.key == bare && (!has_rtx || g.rtx_form)) {
      return GpuInfo{std::string(g.name), g.vram_mb, std::pair{g.major, g.minor},
                     GpuVendor::Nvidia};
    }
  }
  return fail("Unknown GPU model: '" + key +
              "'. Try: 4090, 4080, 3090, 3080, 3070, 2080ti, a100, h100, or 'cpu'");
}

}  // namespace bc
