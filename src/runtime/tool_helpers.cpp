#include "runtime/tool_helpers.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "core/text.hpp"

namespace bc {

std::optional<std::string> find_executable(std::string_view name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return std::nullopt;
  for (std::string_view entry : split_char(path, ':')) {
    // An empty entry is the current directory, as the shell reads it.
    std::string candidate(entry);
    if (!candidate.empty() && candidate.back() != '/') candidate += '/';
    candidate += name;
    struct stat st;
    if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return std::nullopt;
}

std::string output_text(std::string_view bytes) {
  return std::string(trim(decode_utf8_lossy(bytes)));
}

bool path_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

double bytes_per_weight(QuantizationStrategy quantization) {
  switch (quantization) {
    case QuantizationStrategy::F16:
      return 2.0;
    case QuantizationStrategy::Q8_0:
      return 1.0;
    case QuantizationStrategy::Q4_K_M:
      return 0.5;
    case QuantizationStrategy::Q4_0:
      return 0.5;
    case QuantizationStrategy::Int8:
      return 1.0;
    case QuantizationStrategy::Int4:
      return 0.5;
  }
  return 2.0;
}

uint64_t estimate_peak_memory_mb(std::optional<uint64_t> param_count,
                                 QuantizationStrategy quantization) {
  if (!param_count) return 0;
  return saturate_u64(static_cast<double>(*param_count) * bytes_per_weight(quantization) /
                      1'000'000.0);
}

std::optional<std::string_view> last_word_before(std::string_view line, std::string_view marker) {
  size_t at = line.find(marker);
  if (at == std::string_view::npos) return std::nullopt;
  auto words = split_whitespace(line.substr(0, at));
  if (words.empty()) return std::nullopt;
  return words.back();
}

std::optional<std::string_view> first_word_after(std::string_view line, std::string_view marker) {
  size_t at = line.find(marker);
  if (at == std::string_view::npos) return std::nullopt;
  auto words = split_whitespace(line.substr(at + marker.size()));
  if (words.empty()) return std::nullopt;
  return words.front();
}

std::optional<std::string_view> find_generation_line(const std::vector<std::string_view>& lines,
                                                     std::string_view marker,
                                                     std::string_view also) {
  std::optional<std::string_view> first;
  for (std::string_view line : lines) {
    if (line.find(marker) == std::string_view::npos || line.find(also) == std::string_view::npos)
      continue;
    if (last_word_before(line, marker) != "prompt") return line;
    if (!first) first = line;
  }
  return first;
}

Expected<ProcessResult> run_tool(const std::string& program, const std::vector<std::string>& args,
                                 std::string_view exit_prefix) {
  auto run = run_captured(program, args);
  if (!run) return fail(AdapterError::inference_failed(run.error().message()));
  if (!run->success())
    return fail(AdapterError::inference_failed(std::string(exit_prefix) + output_text(run->err)));
  return run;
}

}  // namespace bc
