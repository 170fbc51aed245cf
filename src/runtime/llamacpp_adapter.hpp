#pragma once
// llama.cpp, measured by running llama-cli once on a GGUF model.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/adapter.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {

inline constexpr std::string_view kLlamaCppInstallHint =
    "install llama.cpp from https://github.com/ggml-org/llama.cpp/releases or via your package "
    "manager (e.g. brew install llama.cpp)";

class LlamaCppAdapter final : public RuntimeAdapter {
 public:
  [[nodiscard]] Status initialize(const RuntimeConfig& config) override;
  [[nodiscard]] Status load_model(const ModelProfile& model) override;
  [[nodiscard]] Expected<BenchmarkResult> run_inference(const std::string& prompt) const override;
};

// The 13 arguments of one measuring run.
std::vector<std::string> llamacpp_arguments(const ModelProfile& model, const RuntimeConfig& config,
                                            const std::string& prompt);

// Reads the generation figures from llama-cli's standard output (decoded,
// untrimmed). The "eval time ... tokens per second" line decides when there
// is one; otherwise the "[ Prompt: ... | Generation: R t/s ]" summary that
// current releases print instead, with 1000 / R as milliseconds per token.
std::optional<TimingFigures> parse_llamacpp_output(std::string_view text);

}  // namespace bc
