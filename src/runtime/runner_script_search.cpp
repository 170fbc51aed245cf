#include "runtime/runner_script_search.hpp"

#include <system_error>

#include "core/process.hpp"
#include "runtime/runner_location.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {
namespace {

constexpr int kWorkingDirectoryLevels = 6;
constexpr int kDevDirLevels = 5;

std::optional<std::filesystem::path> installed_package_candidate(std::string_view file_name) {
  auto python = find_executable("python3");
  if (!python) return std::nullopt;
  auto run = run_captured(*python, {"-c", package_directory_snippet(file_name)});
  if (!run || !run->success()) return std::nullopt;
  return std::filesystem::path(output_text(run->out));
}

}  // namespace

RunnerSearchPlaces runner_search_places() {
  RunnerSearchPlaces places;
  places.host_executable = host_executable_path();
  std::error_code ec;
  auto cwd = std::filesystem::current_path(ec);
  if (!ec) places.working_directory = std::move(cwd);
  places.dev_dir = dev_dir_from_env();
  places.module_directory = runtime_library_directory();
  return places;
}

std::string_view runner_file_name(std::string_view relative_path) {
  size_t slash = relative_path.rfind('/');
  return slash == std::string_view::npos ? relative_path : relative_path.substr(slash + 1);
}

std::vector<std::filesystem::path> runner_script_candidates(std::string_view relative_path,
                                                            const RunnerSearchPlaces& places) {
  const std::filesystem::path relative(relative_path);
  const std::string_view file_name = runner_file_name(relative_path);
  std::vector<std::filesystem::path> out;
  if (places.host_executable) {
    if (auto dir = parent_directory(*places.host_executable))
      out.push_back(*dir / "python" / "brindlecove" / file_name);
  }
  if (places.working_directory) {
    for (auto& c :
         ancestor_candidates(*places.working_directory, relative, kWorkingDirectoryLevels))
      out.push_back(std::move(c));
  }
  if (places.dev_dir) {
    for (auto& c : ancestor_candidates(*places.dev_dir, relative, kDevDirLevels))
      out.push_back(std::move(c));
  }
  return out;
}

std::string package_directory_snippet(std::string_view file_name) {
  return "import brindlecove, os; print(os.path.join(os.path.dirname(brindlecove.__file__), '" +
         std::string(file_name) + "'))";
}

std::optional<std::filesystem::path> locate_runner_script(std::string_view relative_path,
                                                          const RunnerSearchPlaces& places) {
  if (auto found = first_existing(runner_script_candidates(relative_path, places))) return found;
  const std::string_view file_name = runner_file_name(relative_path);
  if (auto installed = installed_package_candidate(file_name)) {
    if (auto found = first_existing({*installed})) return found;
  }
  // The interpreter on PATH need not be the one that loaded this module (a
  // virtual environment, a second Python): the package that is running keeps
  // its scripts beside its extension module.
  if (places.module_directory) return first_existing({*places.module_directory / file_name});
  return std::nullopt;
}

}  // namespace bc
