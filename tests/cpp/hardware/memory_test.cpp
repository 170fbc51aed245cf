#include "hardware/memory.hpp"

#include <gtest/gtest.h>

namespace bc {
namespace {

TEST(Meminfo, Parses) {
  struct Case {
    std::string_view text;
    std::optional<RamInfo> ram;
  } cases[] = {
      {"MemTotal:       16318888 kB\nMemFree:  1 kB\nMemAvailable:   10240000 kB\n",
       RamInfo{15936, 10000}},
      {"MemTotal: 1023 kB\nMemAvailable: 1024 kB\n", RamInfo{0, 1}},
      {"MemTotal: 2047 kB\nMemAvailable: 2048 kB\n", RamInfo{1, 2}},
      {"MemTotal: 4096 kB\r\nMemAvailable: +2048 kB\r\n", RamInfo{4, 2}},
      // No MemAvailable: nothing else stands in for it.
      {"MemTotal: 4096 kB\nMemFree: 2048 kB\nCached: 1024 kB\n", RamInfo{4, 0}},
      {"MemAvailable: 2048 kB\nMemTotal: 4096 kB\n", RamInfo{4, 2}},
      // A later line replaces the earlier outcome, valid or not...
      {"MemTotal: 4096 kB\nMemTotal: 8192 kB\n", RamInfo{8, 0}},
      {"MemTotal: 4096 kB\nMemTotal: oops\nMemAvailable: 1024 kB\n", std::nullopt},
      {"MemTotal: 4096 kB\nMemAvailable: x\nMemAvailable: 1024 kB\n", RamInfo{4, 1}},
      // ...until both are valid, where reading stops.
      {"MemTotal: 4096 kB\nMemAvailable: 1024 kB\nMemTotal: bad\n", RamInfo{4, 1}},
      {"MemTotal:4096 kB\nMemAvailable: 1024 kB\n", std::nullopt},
      {"MemTotal:4096\n", std::nullopt},
      {"MemTotal:\n", std::nullopt},
      {"MemTotal: -4096 kB\n", std::nullopt},
      {"MemTotal: 0x100 kB\n", std::nullopt},
      {"MemTotal: 18446744073709551616 kB\n", std::nullopt},
      {"MemTotal: 18446744073709551615 kB\n", RamInfo{18014398509481983, 0}},
      {" MemTotal: 4096 kB\n", std::nullopt},
      {"memtotal: 4096 kB\n", std::nullopt},
      {"MemTotal 4096 kB\n", std::nullopt},
      {"", std::nullopt},
      {"\xef\xbf\xbd\n\n\n", std::nullopt},
      {"MemTotal: 4096", RamInfo{4, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_meminfo(c.text), c.ram) << c.text;
}

TEST(Meminfo, DetectsThisMachine) {
  RamInfo ram = detect_ram();
  EXPECT_GT(ram.total_mb, 0u);
  EXPECT_LE(ram.available_mb, ram.total_mb);
}

}  // namespace
}  // namespace bc
