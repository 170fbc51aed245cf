#include "runtime/llamacpp_adapter.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "core/text.hpp"

namespace bc {
namespace {

constexpr std::array<unsigned char, 4> kGgufMagic = {0x47, 0x47, 0x55, 0x46};

struct FirstBytes {
  std::optional<std::array<unsigned char, 4>> bytes;
  std::string error;
};

FirstBytes read_first_four(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {std::nullopt, system_error_text(errno)};
  std::array<unsigned char, 4> bytes{};
  size_t got = 0;
  FirstBytes result;
  while (got < bytes.size()) {
    ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      result.error = system_error_text(errno);
      break;
    }
    if (n == 0) {
      result.error = "failed to fill whole buffer";
      break;
    }
    got += static_cast<size_t>(n);
  }
  ::close(fd);
  if (got == bytes.size()) result.bytes = bytes;
  return result;
}

std::optional<TimingFigures> read_eval_time_line(std::string_view line) {
  auto rate = last_word_before(line, "tokens per second");
  auto per_token = last_word_before(line, "ms per token");
  if (!rate || !per_token) return std::nullopt;
  auto tps = parse_f64(*rate);
  auto ms = parse_f64(*per_token);
  if (!tps || !ms) return std::nullopt;
  return TimingFigures{*tps, *ms};
}

}  // namespace

Status LlamaCppAdapter::initialize(const RuntimeConfig& config) {
  auto tool = find_executable("llama-cli");
  if (!tool)
    return fail(AdapterError::not_installed("llama-cli", std::string(kLlamaCppInstallHint)));
  // Only a smoke test: an old build without --version still measures fine.
  (void)run_captured(*tool, {"--version"});
  state_.tool_path = *tool;
  state_.run_config = config;
  return {};
}

Status LlamaCppAdapter::load_model(const ModelProfile& model) {
  if (auto s = require_format(model, ModelFormat::Gguf, "llama.cpp"); !s) return s;
  if (auto s = check_model_file(model.model_path); !s) return s;
  FirstBytes first = read_first_four(model.model_path);
  if (!first.bytes) return fail(AdapterError::model_load_failed(model.model_path, first.error));
  if (*first.bytes != kGgufMagic) {
    const auto& b = *first.bytes;
    return fail(AdapterError::unsupported(
        "file does not start with GGUF magic bytes (got [" + std::to_string(b[0]) + ", " +
        std::to_string(b[1]) + ", " + std::to_string(b[2]) + ", " + std::to_string(b[3]) + "])"));
  }
  state_.loaded_model = model;
  return {};
}

std::vector<std::string> llamacpp_arguments(const ModelProfile& model, const RuntimeConfig& config,
                                            const std::string& prompt) {
  return {"-m",
          model.model_path,
          "--threads",
          std::to_string(config.threads),
          "--n-gpu-layers",
          std::to_string(config.gpu_layers),
          "--ctx-size",
          "512",
          "-p",
          prompt,
          "--n-predict",
          "50",
          "--log-disable"};
}

Expected<BenchmarkResult> LlamaCppAdapter::run_inference(const std::string& prompt) const {
  if (auto s = check_ready(); !s) return std::unexpected(s.error());
  const RuntimeConfig& config = *state_.run_config;
  const ModelProfile& model = *state_.loaded_model;
  auto run = run_tool(*state_.tool_path, llamacpp_arguments(model, config, prompt),
                      "llama-cli exited non-zero: ");
  if (!run) return std::unexpected(run.error());
  auto figures = parse_llamacpp_output(decode_utf8_lossy(run->out));
  if (!figures)
    return fail(AdapterError::inference_failed("could not parse timing output from llama-cli"));
  return BenchmarkResult{figures->tokens_per_sec, figures->latency_ms,
                         estimate_peak_memory_mb(model.param_count, config.quantization)};
}

std::optional<TimingFigures> parse_llamacpp_output(std::string_view text) {
  auto lines = split_lines(text);
  if (auto line = find_generation_line(lines, "eval time", "tokens per second"))
    return read_eval_time_line(*line);
  // Current llama-cli prints no eval-time line without verbose logging, only
  // "[ Prompt: P t/s | Generation: R t/s ]".
  for (std::string_view line : lines) {
    if (line.find("Generation:") == std::string_view::npos ||
        line.find("t/s") == std::string_view::npos)
      continue;
    auto word = first_word_after(line, "Generation:");
    auto rate = word ? parse_f64(*word) : std::nullopt;
    if (!rate) return std::nullopt;
    return TimingFigures{*rate, 1000.0 / *rate};
  }
  return std::nullopt;
}

}  // namespace bc
