#pragma once
// Where the Python runner scripts of the package are looked for.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bc {

// Names a directory inside a source tree during development; the runner
// scripts are looked for in it and in its ancestors.
inline constexpr const char* kDevDirVariable = "BRINDLECOVE_DEV_DIR";

// The host process's own executable (/proc/self/exe).
std::optional<std::filesystem::path> host_executable_path();
// The directory of the binary this library is linked into: the extension
// module inside the installed package, or a test program.
std::optional<std::filesystem::path> runtime_library_directory();
// The development variable's value when it is set and valid UTF-8.
std::optional<std::string> dev_dir_from_env();

// The path's parent as a path walk sees it: none for an empty path or the
// root, an empty path for a bare relative name. Trailing '/' are ignored.
std::optional<std::filesystem::path> parent_directory(const std::filesystem::path& p);

// `relative` joined onto `start` and then onto each ancestor, `max_dirs`
// directories at most.
std::vector<std::filesystem::path> ancestor_candidates(const std::filesystem::path& start,
                                                       const std::filesystem::path& relative,
                                                       int max_dirs);

// Where onnx_runner.py may be, in the order tried: beside the host executable
// in python/brindlecove/, then the development directory and four of its
// ancestors, then beside the loaded module itself (an installed package keeps
// the script next to its extension module, and a Python host executable has
// no python/brindlecove/ beside it).
std::vector<std::filesystem::path> onnx_runner_candidates(
    const std::optional<std::filesystem::path>& host_executable,
    const std::optional<std::string>& dev_dir,
    const std::optional<std::filesystem::path>& module_directory);

// The first candidate whose metadata can be read.
std::optional<std::filesystem::path> first_existing(
    const std::vector<std::filesystem::path>& candidates);

}  // namespace bc
