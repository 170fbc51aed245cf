#pragma once
// TensorRT, measured with NVIDIA's trtexec on an ONNX model.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/adapter.hpp"

namespace bc {

inline constexpr std::string_view kTensorRtInstallHint =
    "install NVIDIA TensorRT from https://developer.nvidia.com/tensorrt";

class TensorRtAdapter final : public RuntimeAdapter {
 public:
  [[nodiscard]] Status initialize(const RuntimeConfig& config) override;
  [[nodiscard]] Status load_model(const ModelProfile& model) override;
  // The prompt is not used: trtexec feeds the engine its own inputs.
  [[nodiscard]] Expected<BenchmarkResult> run_inference(const std::string& prompt) const override;
};

std::string_view trtexec_precision_switch(QuantizationStrategy quantization);
// The 7 arguments of one measuring run.
std::vector<std::string> trtexec_arguments(const ModelProfile& model, const RuntimeConfig& config);

// Major and minor number of the first GPU in nvidia-smi's compute_cap query
// (raw standard output); none when the text does not hold them.
std::optional<std::pair<uint32_t, uint32_t>> parse_compute_capability(
    std::string_view stdout_bytes);

// Throughput, mean latency and GPU memory from trtexec's standard output
// (decoded, untrimmed), taken as printed. A missing GPU-memory line is 0.
[[nodiscard]] Expected<BenchmarkResult> parse_trtexec_output(std::string_view text);

}  // namespace bc
