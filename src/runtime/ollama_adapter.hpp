#pragma once
// Ollama, measured with `ollama run TAG PROMPT --verbose`, whose statistics
// come on standard error.

#include <optional>
#include <string>
#include <string_view>

#include "runtime/adapter.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {

inline constexpr std::string_view kOllamaInstallHint =
    "install Ollama from https://ollama.com/download or via your package manager (e.g. brew "
    "install ollama)";

class OllamaAdapter final : public RuntimeAdapter {
 public:
  [[nodiscard]] Status initialize(const RuntimeConfig& config) override;
  [[nodiscard]] Status load_model(const ModelProfile& model) override;
  [[nodiscard]] Expected<BenchmarkResult> run_inference(const std::string& prompt) const override;

  const std::optional<std::string>& model_tag() const { return model_tag_; }

 private:
  std::optional<std::string> model_tag_;
};

// The file name's stem, lower-cased, every character that is neither a
// letter nor a digit turned into '-'; "model" when there is no usable stem.
std::string ollama_model_tag(std::string_view model_path);

// The generation rate and latency in milliseconds from the statistics on
// standard error (decoded, untrimmed). Only the rate is required; an
// unreadable duration gives 1000 / rate.
std::optional<TimingFigures> parse_ollama_output(std::string_view text);

}  // namespace bc
