#include "runtime/runner_location.hpp"

#include <dlfcn.h>

#include <cstdlib>
#include <system_error>

#include "core/text.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {

std::optional<std::filesystem::path> host_executable_path() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec || p.empty()) return std::nullopt;
  return p;
}

std::optional<std::filesystem::path> runtime_library_directory() {
  Dl_info info{};
  // Any function of this library will do: it is linked statically into
  // whatever binary hosts it, so its address resolves to that binary.
  if (::dladdr(reinterpret_cast<void*>(&runtime_library_directory), &info) == 0 ||
      info.dli_fname == nullptr || info.dli_fname[0] == '\0')
    return std::nullopt;
  return parent_directory(std::filesystem::path(info.dli_fname));
}

std::optional<std::string> dev_dir_from_env() {
  const char* value = std::getenv(kDevDirVariable);
  if (value == nullptr || !is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

std::optional<std::filesystem::path> parent_directory(const std::filesystem::path& p) {
  std::string text = p.native();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  if (text.empty() || text == "/") return std::nullopt;
  return std::filesystem::path(text).parent_path();
}

std::vector<std::filesystem::path> ancestor_candidates(const std::filesystem::path& start,
                                                       const std::filesystem::path& relative,
                                                       int max_dirs) {
  std::vector<std::filesystem::path> out;
  std::optional<std::filesystem::path> dir = start;
  for (int i = 0; i < max_dirs && dir; ++i) {
    out.push_back(*dir / relative);
    dir = parent_directory(*dir);
  }
  return out;
}

std::vector<std::filesystem::path> onnx_runner_candidates(
    const std::optional<std::filesystem::path>& host_executable,
    const std::optional<std::string>& dev_dir,
    const std::optional<std::filesystem::path>& module_directory) {
  std::vector<std::filesystem::path> out;
  if (host_executable) {
    if (auto dir = parent_directory(*host_executable))
      out.push_back(*dir / "python" / "brindlecove" / "onnx_runner.py");
  }
  if (dev_dir) {
    for (auto& c : ancestor_candidates(*dev_dir, "python/brindlecove/onnx_runner.py", 5))
      out.push_back(std::move(c));
  }
  if (module_directory) out.push_back(*module_directory / "onnx_runner.py");
  return out;
}

std::optional<std::filesystem::path> first_existing(
    const std::vector<std::filesystem::path>& candidates) {
  for (const auto& c : candidates)
    if (path_exists(c.native())) return c;
  return std::nullopt;
}

}  // namespace bc
