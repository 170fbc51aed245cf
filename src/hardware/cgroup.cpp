#include "hardware/cgroup.hpp"

#include <cmath>
#include <vector>

#include "core/text.hpp"
#include "hardware/text_file.hpp"

namespace bc {
namespace {

struct Mount {
  std::string root;
  std::string mount_point;
  std::string fs_type;
  std::string super_options;
};

bool has_item(std::string_view comma_list, std::string_view item) {
  for (std::string_view piece : split_char(comma_list, ','))
    if (piece == item) return true;
  return false;
}

// mountinfo writes space, tab, line feed and backslash in paths as \ooo.
std::string unescape_octal(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    auto digit = [&](size_t k, char max) { return s[k] >= '0' && s[k] <= max; };
    if (s[i] == '\\' && i + 3 < s.size() && digit(i + 1, '3') && digit(i + 2, '7') &&
        digit(i + 3, '7')) {
      out += static_cast<char>((s[i + 1] - '0') * 64 + (s[i + 2] - '0') * 8 + (s[i + 3] - '0'));
      i += 3;
      continue;
    }
    out += s[i];
  }
  return out;
}

std::vector<Mount> parse_mountinfo(std::string_view text) {
  std::vector<Mount> mounts;
  for (std::string_view line : split_lines(text)) {
    // Fields are separated by single spaces; other white space may be part
    // of a path.
    std::vector<std::string_view> f = split_char(line, ' ');
    // id parent major:minor root mount-point options [optional...] - type source super
    size_t dash = 6;
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (f.size() < 6 || dash + 3 >= f.size()) continue;
    Mount m;
    m.root = unescape_octal(f[3]);
    m.mount_point = unescape_octal(f[4]);
    m.fs_type = std::string(f[dash + 1]);
    m.super_options = std::string(f[dash + 3]);
    mounts.push_back(std::move(m));
  }
  return mounts;
}

// The directory of `cgroup_path` inside mount `m`, without a trailing slash,
// or absent when the cgroup
// lies outside the part of the hierarchy that the mount shows.
std::optional<std::string> cgroup_dir(const Mount& m, std::string_view cgroup_path) {
  std::string_view rest = cgroup_path;
  if (m.root != "/") {
    if (!rest.starts_with(m.root)) return std::nullopt;
    rest.remove_prefix(m.root.size());
    if (!rest.empty() && rest.front() != '/') return std::nullopt;
  }
  std::string dir = m.mount_point;
  while (!dir.empty() && dir.back() == '/') dir.pop_back();
  while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  if (!rest.empty()) {
    dir += '/';
    dir += rest;
  }
  return dir;  // empty for the file system root; callers append "/name"
}

struct CgroupLine {
  std::string_view controllers;
  std::string_view path;
};

// "hierarchy-id:controllers:path"; the path itself may hold colons.
std::vector<CgroupLine> parse_cgroup(std::string_view text) {
  std::vector<CgroupLine> out;
  for (std::string_view line : split_lines(text)) {
    size_t first = line.find(':');
    if (first == std::string_view::npos) continue;
    size_t second = line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    out.push_back({line.substr(first + 1, second - first - 1), line.substr(second + 1)});
  }
  return out;
}

}  // namespace

std::optional<uint64_t> quota_in_cpus(std::string_view quota, std::string_view period) {
  std::optional<uint64_t> q = parse_u64(trim(quota));
  std::optional<uint64_t> p = parse_u64(trim(period));
  if (!q || !p || *p == 0) return std::nullopt;
  uint64_t cpus = saturate_u64(std::ceil(static_cast<double>(*q) / static_cast<double>(*p)));
  if (cpus == 0) return std::nullopt;
  return cpus;
}

std::optional<uint64_t> cgroup_cpu_quota(std::string_view proc_self_cgroup,
                                         std::string_view proc_self_mountinfo,
                                         const FileReader& read_file) {
  std::vector<CgroupLine> groups = parse_cgroup(proc_self_cgroup);
  std::vector<Mount> mounts = parse_mountinfo(proc_self_mountinfo);

  for (const CgroupLine& g : groups) {
    if (!g.controllers.empty()) continue;
    for (const Mount& m : mounts) {
      if (m.fs_type != "cgroup2") continue;
      std::optional<std::string> dir = cgroup_dir(m, g.path);
      if (!dir) continue;
      std::optional<std::string> cpu_max = read_file(*dir + "/cpu.max");
      if (!cpu_max) continue;
      std::vector<std::string_view> fields = split_whitespace(*cpu_max);
      if (fields.size() < 2) return std::nullopt;
      return quota_in_cpus(fields[0], fields[1]);
    }
  }

  for (const CgroupLine& g : groups) {
    if (!has_item(g.controllers, "cpu")) continue;
    for (const Mount& m : mounts) {
      if (m.fs_type != "cgroup" || !has_item(m.super_options, "cpu")) continue;
      std::optional<std::string> dir = cgroup_dir(m, g.path);
      if (!dir) continue;
      std::optional<std::string> quota = read_file(*dir + "/cpu.cfs_quota_us");
      std::optional<std::string> period = read_file(*dir + "/cpu.cfs_period_us");
      if (!quota || !period) continue;
      return quota_in_cpus(*quota, *period);
    }
  }
  return std::nullopt;
}

std::optional<uint64_t> read_cgroup_cpu_quota() {
  std::optional<std::string> cgroup = read_text_file("/proc/self/cgroup");
  std::optional<std::string> mountinfo = read_text_file("/proc/self/mountinfo");
  if (!cgroup || !mountinfo) return std::nullopt;
  return cgroup_cpu_quota(*cgroup, *mountinfo, read_text_file);
}

}  // namespace bc
