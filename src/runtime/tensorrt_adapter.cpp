#include "runtime/tensorrt_adapter.hpp"

#include "core/process.hpp"
#include "core/text.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {
namespace {

std::optional<std::string_view> first_line_with(const std::vector<std::string_view>& lines,
                                                std::string_view marker,
                                                std::string_view also = {}) {
  for (std::string_view line : lines)
    if (line.find(marker) != std::string_view::npos && line.find(also) != std::string_view::npos)
      return line;
  return std::nullopt;
}

}  // namespace

std::optional<std::pair<uint32_t, uint32_t>> parse_compute_capability(
    std::string_view stdout_bytes) {
  std::string text = decode_utf8_lossy(stdout_bytes);
  auto lines = split_lines(text);
  if (lines.empty()) return std::nullopt;
  auto pieces = split_char(trim(lines.front()), '.');
  if (pieces.size() < 2) return std::nullopt;
  auto major = parse_u32(pieces[0]);
  auto minor = parse_u32(pieces[1]);
  if (!major || !minor) return std::nullopt;
  return std::pair{*major, *minor};
}

Status TensorRtAdapter::initialize(const RuntimeConfig& config) {
  auto tool = find_executable("trtexec");
  if (!tool) return fail(AdapterError::not_installed("trtexec", std::string(kTensorRtInstallHint)));
  // Only the first listed GPU is judged; a machine whose nvidia-smi is
  // missing or unreadable is given the benefit of the doubt.
  auto query = run_captured("nvidia-smi", {"--query-gpu=compute_cap", "--format=csv,noheader"});
  if (query && query->success()) {
    auto capability = parse_compute_capability(query->out);
    if (capability && capability->first < 7)
      return fail(
          AdapterError::unsupported("TensorRT requires compute capability \u2265 7.0, found " +
                                    std::to_string(capability->first) + ".x"));
  }
  state_.tool_path = *tool;
  state_.run_config = config;
  return {};
}

Status TensorRtAdapter::load_model(const ModelProfile& model) {
  if (auto s = require_format(model, ModelFormat::Onnx, "TensorRT"); !s) return s;
  if (auto s = check_model_file(model.model_path); !s) return s;
  state_.loaded_model = model;
  return {};
}

std::string_view trtexec_precision_switch(QuantizationStrategy quantization) {
  switch (quantization) {
    case QuantizationStrategy::Int8:
    case QuantizationStrategy::Int4:
      return "--int8";
    case QuantizationStrategy::F16:
    case QuantizationStrategy::Q8_0:
    case QuantizationStrategy::Q4_K_M:
    case QuantizationStrategy::Q4_0:
      return "--fp16";
  }
  return "--fp16";
}

std::vector<std::string> trtexec_arguments(const ModelProfile& model, const RuntimeConfig& config) {
  return {"--onnx=" + model.model_path,
          std::string(trtexec_precision_switch(config.quantization)),
          "--batch=" + std::to_string(config.batch_size),
          "--workspace=4096",
          "--iterations=10",
          "--warmUp=2000",
          "--duration=0"};
}

Expected<BenchmarkResult> TensorRtAdapter::run_inference(const std::string& /*prompt*/) const {
  if (auto s = check_ready(); !s) return std::unexpected(s.error());
  auto run =
      run_tool(*state_.tool_path, trtexec_arguments(*state_.loaded_model, *state_.run_config),
               "trtexec exited non-zero: ");
  if (!run) return std::unexpected(run.error());
  return parse_trtexec_output(decode_utf8_lossy(run->out));
}

Expected<BenchmarkResult> parse_trtexec_output(std::string_view text) {
  auto lines = split_lines(text);
  BenchmarkResult result;

  auto throughput_line = first_line_with(lines, "Throughput:");
  auto throughput_word =
      throughput_line ? first_word_after(*throughput_line, "Throughput:") : std::nullopt;
  auto throughput = throughput_word ? parse_f64(*throughput_word) : std::nullopt;
  if (!throughput)
    return fail(AdapterError::inference_failed("could not parse throughput from trtexec output"));
  result.tokens_per_sec = *throughput;

  auto latency_line = first_line_with(lines, "Latency:", "mean");
  auto latency_word = latency_line ? first_word_after(*latency_line, "mean =") : std::nullopt;
  std::optional<double> latency;
  if (latency_word) {
    std::string_view word = *latency_word;
    while (!word.empty() && word.back() == ',') word.remove_suffix(1);
    latency = parse_f64(word);
  }
  if (!latency)
    return fail(AdapterError::inference_failed("could not parse latency from trtexec output"));
  result.latency_ms = *latency;

  if (auto memory_line = first_line_with(lines, "GPU Memory:")) {
    auto word = first_word_after(*memory_line, "GPU Memory:");
    if (auto memory = word ? parse_u64(*word) : std::nullopt) result.peak_memory_mb = *memory;
  }
  return result;
}

}  // namespace bc
