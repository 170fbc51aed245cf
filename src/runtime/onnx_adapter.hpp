#pragma once
// ONNX Runtime, driven through the package's onnx_runner.py: one JSON
// request on the runner's stdin, one JSON reply on its stdout.

#include <string>
#include <string_view>

#include "runtime/adapter.hpp"

namespace bc {

inline constexpr std::string_view kOnnxInstallHint =
    "install Python 3 and onnxruntime (pip install onnxruntime)";

class OnnxAdapter final : public RuntimeAdapter {
 public:
  [[nodiscard]] Status initialize(const RuntimeConfig& config) override;
  [[nodiscard]] Status load_model(const ModelProfile& model) override;
  // The prompt is not used: the runner is told a prompt length only.
  [[nodiscard]] Expected<BenchmarkResult> run_inference(const std::string& prompt) const override;
};

// The compact request, keys in alphabetical order, no trailing line feed.
std::string onnx_request(const RuntimeConfig& config, const std::string& model_path);

// The runner's reply (after output_text): its figures, or InferenceFailed
// with the runner's "error" text, or with "unparseable onnx_runner output: ".
[[nodiscard]] Expected<BenchmarkResult> parse_onnx_reply(std::string_view reply_text);

}  // namespace bc
