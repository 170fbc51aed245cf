#include "hardware/memory.hpp"

#include <sys/sysinfo.h>

#include <cstdint>
#include <vector>

#include "core/text.hpp"
#include "hardware/text_file.hpp"

namespace bc {
namespace {

constexpr uint64_t kBytesPerMb = 1024 * 1024;

// "Name:   value kB": the value is the second token, so a number glued to the
// colon leaves the unit in its place and the line is invalid.
std::optional<uint64_t> meminfo_value(std::string_view line) {
  std::vector<std::string_view> tokens = split_whitespace(line);
  if (tokens.size() < 2) return std::nullopt;
  return parse_u64(tokens[1]);
}

RamInfo ram_from_sysinfo() {
  struct sysinfo si {};
  if (::sysinfo(&si) != 0) return {};
  auto mb = [&](unsigned long units) {
    unsigned __int128 bytes =
        static_cast<unsigned __int128>(units) * (si.mem_unit ? si.mem_unit : 1);
    return static_cast<uint64_t>(bytes / kBytesPerMb);
  };
  // sysinfo has no "available" figure; free RAM is its nearest.
  return {mb(si.totalram), mb(si.freeram)};
}

}  // namespace

std::optional<RamInfo> parse_meminfo(std::string_view meminfo_text) {
  std::optional<uint64_t> total, available;
  for (std::string_view line : split_lines(meminfo_text)) {
    // A later line of the same name replaces the earlier outcome, valid or not.
    if (line.starts_with("MemTotal:")) {
      total = meminfo_value(line);
    } else if (line.starts_with("MemAvailable:")) {
      available = meminfo_value(line);
    }
    if (total && available) break;
  }
  if (!total) return std::nullopt;
  return RamInfo{*total / 1024, available ? *available / 1024 : 0};
}

RamInfo detect_ram() {
  if (std::optional<std::string> text = read_text_file("/proc/meminfo")) {
    if (std::optional<RamInfo> ram = parse_meminfo(*text)) return *ram;
  }
  return ram_from_sysinfo();
}

}  // namespace bc
