#include "hardware/cgroup.hpp"

#include <gtest/gtest.h>

#include <map>

#include "hardware/cpu_count.hpp"

namespace bc {
namespace {

using Files = std::map<std::string, std::string>;

FileReader reader(const Files& files) {
  return [files](const std::string& path) -> std::optional<std::string> {
    auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second;
  };
}

constexpr std::string_view kV2Cgroup = "0::/user.slice/app.scope\n";
constexpr std::string_view kV2Mounts =
    "22 1 0:21 / /proc rw - proc proc rw\n"
    "30 22 0:26 / /sys/fs/cgroup rw,nosuid shared:4 - cgroup2 cgroup2 rw,nsdelegate\n";
constexpr std::string_view kV2Dir = "/sys/fs/cgroup/user.slice/app.scope/cpu.max";

// A hybrid host: the unified hierarchy holds no cpu controller, version 1 does.
constexpr std::string_view kHybridCgroup =
    "9:name=systemd:/\n4:memory:/job/7\n2:cpuacct:/\n1:cpu:/job/7\n0::/\n";
constexpr std::string_view kHybridMounts =
    "33 32 0:30 / /sys/fs/cgroup/cpu rw,relatime - cgroup cgroup rw,cpu\n"
    "34 32 0:31 / /sys/fs/cgroup/cpuacct rw,relatime - cgroup cgroup rw,cpuacct\n"
    "42 32 0:39 / /sys/fs/cgroup/unified rw,relatime - cgroup2 cgroup2 rw\n";

TEST(CgroupQuota, QuotaTexts) {
  struct Case {
    std::string_view quota, period;
    std::optional<uint64_t> cpus;
  } cases[] = {
      {"150000", "100000", 2},
      {"100000", "100000", 1},
      {"100001", "100000", 2},
      {"50000\n", "100000\n", 1},
      {"max", "100000", std::nullopt},
      {"-1", "100000", std::nullopt},
      {"150000", "0", std::nullopt},
      {"0", "100000", std::nullopt},
      {"", "100000", std::nullopt},
      {"150000", "", std::nullopt},
      {"1.5", "1", std::nullopt},
      {"18446744073709551615", "1", UINT64_MAX},
      {"18446744073709551616", "1", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quota_in_cpus(c.quota, c.period), c.cpus) << c.quota << " / " << c.period;
  }
}

TEST(CgroupQuota, Version2) {
  struct Case {
    std::optional<std::string> cpu_max;
    std::optional<uint64_t> cpus;
  } cases[] = {
      {"150000 100000\n", 2},       {"max 100000\n", std::nullopt},
      {"150000 0\n", std::nullopt}, {"150000\n", std::nullopt},
      {"", std::nullopt},           {"garbage \xef\xbf\xbd\n", std::nullopt},
      {std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    Files files;
    if (c.cpu_max) files[std::string(kV2Dir)] = *c.cpu_max;
    EXPECT_EQ(cgroup_cpu_quota(kV2Cgroup, kV2Mounts, reader(files)), c.cpus)
        << c.cpu_max.value_or("<missing>");
  }
  // 1.5 periods on an 8-CPU machine: 2 cores; "max": all 8.
  auto cores = [](std::string cpu_max) {
    Files files{{std::string(kV2Dir), cpu_max}};
    return cores_from_quota(cgroup_cpu_quota(kV2Cgroup, kV2Mounts, reader(files)), 8);
  };
  EXPECT_EQ(cores("150000 100000\n"), 2u);
  EXPECT_EQ(cores("max 100000\n"), 8u);
}

TEST(CgroupQuota, Version1OnHybridHost) {
  const std::string dir = "/sys/fs/cgroup/cpu/job/7/";
  struct Case {
    std::optional<std::string> quota, period;
    std::optional<uint64_t> cpus;
  } cases[] = {
      {"250000\n", "100000\n", 3},
      {"-1\n", "100000\n", std::nullopt},
      {"250000\n", "0\n", std::nullopt},
      {std::nullopt, "100000\n", std::nullopt},
      {"250000\n", std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    Files files;
    if (c.quota) files[dir + "cpu.cfs_quota_us"] = *c.quota;
    if (c.period) files[dir + "cpu.cfs_period_us"] = *c.period;
    EXPECT_EQ(cgroup_cpu_quota(kHybridCgroup, kHybridMounts, reader(files)), c.cpus)
        << c.quota.value_or("<missing>") << " / " << c.period.value_or("<missing>");
  }
  // A version 2 cpu.max, when the unified hierarchy has one, comes first.
  Files both{{"/sys/fs/cgroup/unified/cpu.max", "max 100000"},
             {dir + "cpu.cfs_quota_us", "250000"},
             {dir + "cpu.cfs_period_us", "100000"}};
  EXPECT_EQ(cgroup_cpu_quota(kHybridCgroup, kHybridMounts, reader(both)), std::nullopt);
}

TEST(CgroupQuota, MountRootsAndEscapes) {
  // A container's mount shows only its own cgroup, at the mount point.
  EXPECT_EQ(cgroup_cpu_quota("0::/docker/abc\n",
                             "40 30 0:26 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup2 rw\n",
                             reader({{"/sys/fs/cgroup/cpu.max", "200000 100000"}})),
            2u);
  // A cgroup outside the mounted subtree cannot be looked up.
  EXPECT_EQ(cgroup_cpu_quota("0::/other\n",
                             "40 30 0:26 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup2 rw\n",
                             reader({{"/sys/fs/cgroup/cpu.max", "200000 100000"},
                                     {"/sys/fs/cgroup/other/cpu.max", "200000 100000"}})),
            std::nullopt);
  // Prefix of a sibling's name is not a parent.
  EXPECT_EQ(cgroup_cpu_quota("0::/docker/abcdef\n",
                             "40 30 0:26 /docker/abc /sys/fs/cgroup ro - cgroup2 cgroup2 rw\n",
                             reader({{"/sys/fs/cgroup/def/cpu.max", "200000 100000"},
                                     {"/sys/fs/cgroup/cpu.max", "200000 100000"}})),
            std::nullopt);
  // Mount points with escaped blanks; optional fields before the separator.
  EXPECT_EQ(cgroup_cpu_quota("0::/a b\n",
                             "40 30 0:26 / /mnt/cg\\040root rw shared:1 master:2 - cgroup2 x rw\n",
                             reader({{"/mnt/cg root/a b/cpu.max", "300000 100000"}})),
            3u);
}

TEST(CgroupQuota, MalformedTextsMeanNoQuota) {
  Files files{{std::string(kV2Dir), "150000 100000"}};
  struct Case {
    std::string_view cgroup, mounts;
  } cases[] = {
      {"", kV2Mounts},
      {kV2Cgroup, ""},
      {"garbage without colons\n", kV2Mounts},
      {"0:/user.slice/app.scope\n", kV2Mounts},
      {kV2Cgroup, "30 22 0:26 / /sys/fs/cgroup rw - cgroup2\n"},
      {kV2Cgroup, "30 22 0:26 / /sys/fs/cgroup rw cgroup2 cgroup2 rw\n"},
      {kV2Cgroup, "30 22 0:26 /\n"},
      {kV2Cgroup, "30 22 0:26 / /sys/fs/cgroup rw - tmpfs tmpfs rw\n"},
      {"1:cpu:/user.slice/app.scope\n", kV2Mounts},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(cgroup_cpu_quota(c.cgroup, c.mounts, reader(files)), std::nullopt)
        << c.cgroup << "|" << c.mounts;
  }
}

}  // namespace
}  // namespace bc
