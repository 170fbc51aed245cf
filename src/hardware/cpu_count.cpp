#include "hardware/cpu_count.hpp"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "hardware/cgroup.hpp"

namespace bc {

uint32_t logical_cpu_count() {
  // cpu_set_t is the fixed 1,024-CPU (128-byte) mask.
  cpu_set_t mask;
  CPU_ZERO(&mask);
  if (::sched_getaffinity(0, sizeof mask, &mask) == 0) {
    int n = CPU_COUNT(&mask);
    if (n > 0) return static_cast<uint32_t>(n);
  }
  long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  return online > 1 ? static_cast<uint32_t>(std::min<long>(online, UINT32_MAX)) : 1u;
}

uint32_t cores_from_quota(std::optional<uint64_t> quota_cpus, uint32_t logical) {
  if (!quota_cpus) return logical;
  return static_cast<uint32_t>(std::min<uint64_t>(*quota_cpus, logical));
}

uint32_t detect_core_count() {
  static std::once_flag once;
  static std::optional<uint32_t> limited;
  std::call_once(once, [] {
    if (std::optional<uint64_t> quota = read_cgroup_cpu_quota()) {
      limited = cores_from_quota(quota, logical_cpu_count());
    }
  });
  return limited ? *limited : logical_cpu_count();
}

}  // namespace bc
