#pragma once
// Total and available RAM, from /proc/meminfo with a sysinfo(2) fallback.

#include <optional>
#include <string_view>

#include "core/records.hpp"

namespace bc {

// Never fails: 0 MB for both figures when no source has them.
RamInfo detect_ram();

// MemTotal and MemAvailable in MB (KiB / 1,024, rounded down). Absent when
// no valid MemTotal line is found; available_mb is 0 without a valid
// MemAvailable line.
std::optional<RamInfo> parse_meminfo(std::string_view meminfo_text);

}  // namespace bc
