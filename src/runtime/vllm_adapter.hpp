#pragma once
// vLLM, measured by a generated Python script run with `python3 -c` that
// prints a one-line JSON report.

#include <optional>
#include <string>
#include <string_view>

#include "runtime/adapter.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {

inline constexpr std::string_view kVllmPythonInstallHint =
    "install Python 3 from https://www.python.org/downloads/ or via your system package manager";

class VllmAdapter final : public RuntimeAdapter {
 public:
  [[nodiscard]] Status initialize(const RuntimeConfig& config) override;
  [[nodiscard]] Status load_model(const ModelProfile& model) override;
  [[nodiscard]] Expected<BenchmarkResult> run_inference(const std::string& prompt) const override;
};

std::string_view vllm_dtype(QuantizationStrategy quantization);
// The text for the inside of a double-quoted Python literal: backslashes
// doubled, then double quotes escaped.
std::string python_string_escape(std::string_view text);
// The measuring script. The model path is escaped like the prompt: a path
// must never be able to end the literal and run code of its own.
std::string vllm_script(std::string_view model_path, std::string_view dtype,
                        std::string_view prompt);

// The rate and the latency in milliseconds from the script's report (after
// output_text); none unless both are JSON numbers and positive.
std::optional<TimingFigures> parse_vllm_report(std::string_view report_text);

}  // namespace bc
