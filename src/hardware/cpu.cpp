#include "hardware/cpu.hpp"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define BC_HAVE_CPUID 1
#endif

#include <algorithm>
#include <optional>

#include "core/text.hpp"
#include "hardware/cpu_count.hpp"
#include "hardware/text_file.hpp"

namespace bc {
namespace {

constexpr std::string_view kUnknownBrand = "Unknown";

#ifdef BC_HAVE_CPUID
std::string cpuid_brand() {
  if (__get_cpuid_max(0x80000000u, nullptr) < 0x80000004u) return {};
  std::array<uint32_t, 12> regs{};
  for (uint32_t i = 0; i < 3; ++i) {
    __cpuid(0x80000002u + i, regs[4 * i], regs[4 * i + 1], regs[4 * i + 2], regs[4 * i + 3]);
  }
  return brand_from_cpuid_registers(regs);
}

SimdLevel cpuid_simd_level() {
  uint32_t max_basic = __get_cpuid_max(0, nullptr);
  uint32_t a = 0, b = 0, c = 0, d = 0;
  uint32_t leaf7_ebx = 0, leaf1_ecx = 0;
  if (max_basic >= 7) {
    __cpuid_count(7, 0, a, b, c, d);
    leaf7_ebx = b;
  }
  if (max_basic >= 1) {
    __cpuid(1, a, b, c, d);
    leaf1_ecx = c;
  }
  return simd_level_from_cpuid(max_basic, leaf7_ebx, leaf1_ecx);
}
#else
// Brand strings and vector flags are read the x86 way only; elsewhere the
// /proc/cpuinfo brand and no SIMD level are what we can vouch for.
std::string cpuid_brand() { return {}; }
SimdLevel cpuid_simd_level() { return SimdLevel::None; }
#endif

}  // namespace

std::string brand_from_cpuid_registers(const std::array<uint32_t, 12>& regs) {
  std::string bytes;
  for (uint32_t reg : regs) {
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((reg >> shift) & 0xFFu);
  }
  bytes.resize(std::min(bytes.find('\0'), bytes.size()));
  if (!is_valid_utf8(bytes)) return "Invalid Processor Brand String";
  return std::string(trim(bytes));
}

std::string brand_from_cpuinfo(std::string_view cpuinfo_text) {
  for (std::string_view line : split_lines(cpuinfo_text)) {
    if (!line.starts_with("model name")) continue;
    size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::string(kUnknownBrand);
    return std::string(trim(line.substr(colon + 1)));
  }
  return std::string(kUnknownBrand);
}

SimdLevel simd_level_from_cpuid(uint32_t max_basic_leaf, uint32_t leaf7_ebx, uint32_t leaf1_ecx) {
  if (max_basic_leaf == 0) return SimdLevel::None;
  if (max_basic_leaf >= 7) {
    if (leaf7_ebx & (1u << 16)) return SimdLevel::AVX512;
    if (leaf7_ebx & (1u << 5)) return SimdLevel::AVX2;
  }
  return (leaf1_ecx & (1u << 28)) ? SimdLevel::AVX : SimdLevel::None;
}

CpuInfo detect_cpu() {
  CpuInfo info;
  info.core_count = detect_core_count();
  info.brand = cpuid_brand();
  if (info.brand.empty()) {
    std::optional<std::string> text = read_text_file("/proc/cpuinfo");
    info.brand = text ? brand_from_cpuinfo(*text) : std::string(kUnknownBrand);
  }
  info.simd_level = cpuid_simd_level();
  return info;
}

}  // namespace bc
