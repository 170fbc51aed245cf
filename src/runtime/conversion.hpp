#pragma once
// Model format conversion through the package's runner scripts: one JSON
// request on the runner's stdin, one JSON reply on its stdout. The files
// themselves are the runner's business; nothing here looks at them.

#include <optional>
#include <string>
#include <string_view>

#include "core/error.hpp"

namespace bc {

inline constexpr std::string_view kPythonInstallHint =
    "install Python 3 from https://www.python.org/downloads/";

// Locations of the runners inside a source tree.
inline constexpr std::string_view kGgufToOnnxRunner = "python/brindlecove/gguf_to_onnx_runner.py";
inline constexpr std::string_view kOnnxToGgufRunner = "python/brindlecove/onnx_to_gguf_runner.py";

struct ConvertResponse {
  std::optional<std::string> output_path;
  std::optional<std::string> error;
  bool operator==(const ConvertResponse&) const = default;
};

// {"input_path":…,"output_path":…}, compact, no line feed.
std::string conversion_request(const std::string& input_path, const std::string& output_path);

// The runner's standard output as a reply; nullopt when it is not one.
std::optional<ConvertResponse> read_convert_response(std::string_view stdout_bytes);

// Finds python3 and the runner, runs it, and returns the output path it
// reports, or its error text as the whole message.
[[nodiscard]] Expected<std::string> run_conversion(std::string_view runner_relative_path,
                                                   const std::string& input_path,
                                                   const std::string& output_path);

[[nodiscard]] Expected<std::string> convert_gguf_to_onnx(const std::string& input_path,
                                                         const std::string& output_path);
[[nodiscard]] Expected<std::string> convert_onnx_to_gguf(const std::string& input_path,
                                                         const std::string& output_path);

}  // namespace bc
