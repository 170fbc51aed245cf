#pragma once
// The number of logical processors this process may use.

#include <cstdint>
#include <optional>

namespace bc {

// The affinity count, limited by the cgroup CPU quota. The quota, and the
// limited count that goes with it, are fixed on the first call of the
// process; without a quota the affinity count is taken afresh each call.
uint32_t detect_core_count();

// CPUs set in the calling thread's affinity mask (the first 1,024), or the
// online processor count (at least 1) when the mask cannot be read.
uint32_t logical_cpu_count();

// The smaller of the quota and the logical count; the logical count when
// there is no quota.
uint32_t cores_from_quota(std::optional<uint64_t> quota_cpus, uint32_t logical);

}  // namespace bc
