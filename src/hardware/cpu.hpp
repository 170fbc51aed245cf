#pragma once
// Processor detection: usable core count, brand text and widest SIMD level.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/records.hpp"

namespace bc {

// Core count, then brand, then SIMD level. Never fails.
CpuInfo detect_cpu();

// The brand string held in EAX, EBX, ECX, EDX of CPUID leaves 0x80000002 to
// 0x80000004, in that order: cut at the first zero byte, checked as UTF-8 and
// trimmed. Empty means "ask /proc/cpuinfo instead".
std::string brand_from_cpuid_registers(const std::array<uint32_t, 12>& regs);

// The brand named by the first "model name" line of /proc/cpuinfo, or
// "Unknown" when there is none.
std::string brand_from_cpuinfo(std::string_view cpuinfo_text);

// The widest extension the feature flags announce. `leaf7_ebx` is read only
// when max_basic_leaf >= 7 and `leaf1_ecx` only when max_basic_leaf >= 1.
SimdLevel simd_level_from_cpuid(uint32_t max_basic_leaf, uint32_t leaf7_ebx, uint32_t leaf1_ecx);

}  // namespace bc
