#pragma once
// Where a conversion runner script is looked for: beside the host executable,
// up from the working directory, up from the development directory, in the
// package the PATH interpreter imports, and finally beside the loaded module.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bc {

// The places a search starts from, gathered once so tests can set each one.
struct RunnerSearchPlaces {
  std::optional<std::filesystem::path> host_executable;
  std::optional<std::filesystem::path> working_directory;
  std::optional<std::string> dev_dir;
  std::optional<std::filesystem::path> module_directory;
};

RunnerSearchPlaces runner_search_places();

// The part of `relative_path` after its last '/'.
std::string_view runner_file_name(std::string_view relative_path);

// The candidates that need no child process, in the order tried.
std::vector<std::filesystem::path> runner_script_candidates(std::string_view relative_path,
                                                            const RunnerSearchPlaces& places);

// The code that makes an interpreter print where the installed package keeps
// `file_name`.
std::string package_directory_snippet(std::string_view file_name);

// The first candidate that exists. Between the fixed candidates and the
// module directory, the python3 on PATH is asked where its installed
// package lives.
std::optional<std::filesystem::path> locate_runner_script(std::string_view relative_path,
                                                          const RunnerSearchPlaces& places);

}  // namespace bc
