#pragma once
// The CPU quota of the process's cgroup (version 2, else version 1), found
// through the texts of /proc/self/cgroup and /proc/self/mountinfo.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace bc {

// Reads a whole file; absent when it cannot be read.
using FileReader = std::function<std::optional<std::string>(const std::string& path)>;

// ceil(quota / period) in processors, or absent for "no quota": either text
// not an unsigned decimal integer (after trimming), a zero period or a zero
// result.
std::optional<uint64_t> quota_in_cpus(std::string_view quota, std::string_view period);

// The quota in processors of the cgroup named by `proc_self_cgroup`, looking
// its files up under the mounts listed in `proc_self_mountinfo`. Version 2's
// cpu.max is used when the unified hierarchy has one for this cgroup; a hybrid
// system whose cpu controller sits on version 1 falls through to
// cpu.cfs_quota_us and cpu.cfs_period_us.
std::optional<uint64_t> cgroup_cpu_quota(std::string_view proc_self_cgroup,
                                         std::string_view proc_self_mountinfo,
                                         const FileReader& read_file);

// The same, for this process.
std::optional<uint64_t> read_cgroup_cpu_quota();

}  // namespace bc
