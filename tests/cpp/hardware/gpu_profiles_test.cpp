#include "hardware/gpu_profiles.hpp"

#include <gtest/gtest.h>

namespace bc {
namespace {

TEST(GpuProfiles, KnownModels) {
  struct Case {
    std::string_view text;
    std::string_view name;
    uint64_t vram_mb;
    uint32_t major, minor;
  } cases[] = {
      {"RTX 4090", "NVIDIA GeForce RTX 4090", 24576, 8, 9},
      {"rtx-4090", "NVIDIA GeForce RTX 4090", 24576, 8, 9},
      {"RTX4090", "NVIDIA GeForce RTX 4090", 24576, 8, 9},
      {"4090", "NVIDIA GeForce RTX 4090", 24576, 8, 9},
      {"  R-T-X 4 0 9 0 - ", "NVIDIA GeForce RTX 4090", 24576, 8, 9},
      {"4080", "NVIDIA GeForce RTX 4080", 16384, 8, 9},
      {"RTX 4070 Ti", "NVIDIA GeForce RTX 4070 Ti", 12288, 8, 9},
      {"4070", "NVIDIA GeForce RTX 4070", 12288, 8, 9},
      {"rtx3090", "NVIDIA GeForce RTX 3090", 24576, 8, 6},
      {"3080", "NVIDIA GeForce RTX 3080", 10240, 8, 6},
      {"3070", "NVIDIA GeForce RTX 3070", 8192, 8, 6},
      {"RTX 3060", "NVIDIA GeForce RTX 3060", 12288, 8, 6},
      {"2080 Ti", "NVIDIA GeForce RTX 2080 Ti", 11264, 7, 5},
      {"rtx 2080", "NVIDIA GeForce RTX 2080", 8192, 7, 5},
      {"A100", "NVIDIA A100", 81920, 8, 0},
      {"a10g", "NVIDIA A10G", 24576, 8, 6},
      {"H-100", "NVIDIA H100", 81920, 9, 0},
  };
  for (const auto& c : cases) {
    auto r = gpu_profile_for_name(c.text);
    ASSERT_TRUE(r) << c.text << ": " << r.error().message();
    ASSERT_TRUE(r->has_value()) << c.text;
    EXPECT_EQ(**r, (GpuInfo{std::string(c.name), c.vram_mb, std::pair{c.major, c.minor},
                            GpuVendor::Nvidia}))
        << c.text;
  }
}

TEST(GpuProfiles, CpuOnly) {
  for (std::string_view text : {"cpu", "CPU", " c-p-u ", "", "   ", "-", "- -"}) {
    auto r = gpu_profile_for_name(text);
    ASSERT_TRUE(r) << "'" << text << "'";
    EXPECT_EQ(*r, std::nullopt) << "'" << text << "'";
  }
}

TEST(GpuProfiles, UnknownModelQuotesNormalisedText) {
  struct Case {
    std::string_view text, quoted;
  } cases[] = {
      {"GeForce RTX 4090", "geforcertx4090"},
      {"rtx_4090", "rtx_4090"},
      {"rtx a100", "rtxa100"},
      {"rtx h100", "rtxh100"},
      {"rtx", "rtx"},
      {"4090\t", "4090\t"},
      {"4090 ti", "4090ti"},
      {"\xc3\x84-100",
       "\xc3\xa4"
       "100"},
      {"\xff", "\xff"},
      {"cpu0", "cpu0"},
  };
  for (const auto& c : cases) {
    auto r = gpu_profile_for_name(c.text);
    ASSERT_FALSE(r) << c.text;
    EXPECT_EQ(r.error().full_message(),
              "Unknown GPU model: '" + std::string(c.quoted) +
                  "'. Try: 4090, 4080, 3090, 3080, 3070, 2080ti, a100, h100, or 'cpu'");
  }
}

}  // namespace
}  // namespace bc
