#include "hardware/cpu.hpp"

#include <gtest/gtest.h>
#include <sched.h>

#include <cstring>

#include "hardware/cpu_count.hpp"

namespace bc {
namespace {

// The registers CPUID would return for a brand string of up to 48 bytes.
std::array<uint32_t, 12> brand_registers(std::string_view text) {
  std::array<char, 48> bytes{};
  std::memcpy(bytes.data(), text.data(), std::min(text.size(), bytes.size()));
  std::array<uint32_t, 12> regs{};
  for (size_t i = 0; i < 48; ++i) {
    regs[i / 4] |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * (i % 4));
  }
  return regs;
}

TEST(CpuBrand, FromCpuidRegisters) {
  struct Case {
    std::string_view bytes;
    std::string_view brand;
  } cases[] = {
      {"       Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz",
       "Intel(R) Xeon(R) CPU E5-2680 v4 @ 2.40GHz"},
      {"AMD Ryzen 9 7950X 16-Core Processor            ", "AMD Ryzen 9 7950X 16-Core Processor"},
      {"", ""},
      {"      \t   ", ""},
      {std::string_view("Cut\0 after zero", 15), "Cut"},
      {"caf\xc3\xa9 CPU", "caf\xc3\xa9 CPU"},
      {"bad \xff byte", "Invalid Processor Brand String"},
      // All 48 bytes used, no terminating zero.
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuv",
       "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuv"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(brand_from_cpuid_registers(brand_registers(c.bytes)), c.brand) << c.bytes;
  }
}

TEST(CpuBrand, FromCpuinfo) {
  struct Case {
    std::string_view text;
    std::string_view brand;
  } cases[] = {
      {"processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t:  \tIntel Core i7 \t \nflags: x\n",
       "Intel Core i7"},
      {"model name\t:\n", ""},
      {"model name\n", "Unknown"},
      {"processor : 0\n", "Unknown"},
      {"", "Unknown"},
      {"model name : first\r\nmodel name : second\r\n", "first"},
      {"Model name : wrong case\n", "Unknown"},
      {"  model name : indented\n", "Unknown"},
      {"model name: a: b\n", "a: b"},
      {"model names are many : X\n", "X"},
      {"model name : last line without feed", "last line without feed"},
  };
  for (const auto& c : cases) EXPECT_EQ(brand_from_cpuinfo(c.text), c.brand) << c.text;
}

TEST(CpuSimd, WidestFlagWins) {
  constexpr uint32_t kAvx512f = 1u << 16, kAvx2 = 1u << 5, kAvx = 1u << 28;
  struct Case {
    uint32_t max_leaf, leaf7_ebx, leaf1_ecx;
    SimdLevel level;
  } cases[] = {
      {13, kAvx512f | kAvx2, kAvx, SimdLevel::AVX512},
      {13, kAvx512f, 0, SimdLevel::AVX512},
      {7, kAvx2, kAvx, SimdLevel::AVX2},
      {7, 0, kAvx, SimdLevel::AVX},
      {7, 0, ~kAvx, SimdLevel::None},
      {6, kAvx512f | kAvx2, kAvx, SimdLevel::AVX},
      {1, kAvx512f, 0, SimdLevel::None},
      {0, kAvx512f | kAvx2, kAvx, SimdLevel::None},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(simd_level_from_cpuid(c.max_leaf, c.leaf7_ebx, c.leaf1_ecx), c.level)
        << c.max_leaf << " " << c.leaf7_ebx << " " << c.leaf1_ecx;
  }
}

TEST(CpuCount, QuotaLimitsLogicalCount) {
  EXPECT_EQ(cores_from_quota(std::nullopt, 8), 8u);
  EXPECT_EQ(cores_from_quota(2, 8), 2u);
  EXPECT_EQ(cores_from_quota(64, 8), 8u);
  EXPECT_EQ(cores_from_quota(UINT64_MAX, 8), 8u);
}

TEST(CpuCount, FollowsAffinityMask) {
  cpu_set_t saved;
  ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
  EXPECT_EQ(logical_cpu_count(), static_cast<uint32_t>(CPU_COUNT(&saved)));

  int first = 0;
  while (!CPU_ISSET(first, &saved)) ++first;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  uint32_t limited = logical_cpu_count();
  ASSERT_EQ(sched_setaffinity(0, sizeof saved, &saved), 0);
  EXPECT_EQ(limited, 1u);
}

TEST(CpuDetect, AlwaysComplete) {
  CpuInfo a = detect_cpu();
  EXPECT_GE(a.core_count, 1u);
  EXPECT_LE(a.core_count, logical_cpu_count());
  EXPECT_FALSE(a.brand.empty());
  // The quota-limited count is fixed per process; the rest is stable too.
  EXPECT_EQ(detect_cpu(), a);
}

}  // namespace
}  // namespace bc
