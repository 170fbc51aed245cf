#pragma once
// The contract every inference runtime is driven through. An adapter runs
// its tool as a child process and reads what the tool prints; nothing here
// links against an inference runtime.

#include <optional>
#include <string>
#include <string_view>

#include "core/error.hpp"
#include "core/records.hpp"

namespace bc {

// What every adapter keeps between its operations.
struct AdapterState {
  // The tool found by initialize (for the ONNX adapter, the runner script).
  std::optional<std::string> tool_path;
  std::optional<RuntimeConfig> run_config;
  std::optional<ModelProfile> loaded_model;
  bool initialized() const { return tool_path.has_value() && run_config.has_value(); }
};

// Operations in the order they are declared and used. A failed initialize or
// load_model leaves the state as it was; run_inference changes nothing.
class RuntimeAdapter {
 public:
  virtual ~RuntimeAdapter() = default;

  [[nodiscard]] virtual Status initialize(const RuntimeConfig& config) = 0;
  [[nodiscard]] virtual Status load_model(const ModelProfile& model) = 0;
  [[nodiscard]] virtual Expected<BenchmarkResult> run_inference(
      const std::string& prompt) const = 0;
  [[nodiscard]] virtual Status unload() { return {}; }

  const AdapterState& state() const { return state_; }

 protected:
  // "adapter not initialized", then "model not loaded".
  [[nodiscard]] Status check_ready() const;

  AdapterState state_;
};

// The check load_model ends with: the path's metadata must be readable
// (links followed; a directory passes).
[[nodiscard]] Status check_model_file(const std::string& model_path);

// UnsupportedConfiguration "<runtime> only supports <FORMAT> models, got <FORMAT>"
// unless the model has the format the runtime takes.
[[nodiscard]] Status require_format(const ModelProfile& model, ModelFormat expected,
                                    std::string_view runtime);

}  // namespace bc
