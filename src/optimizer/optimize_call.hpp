#pragma once
// The whole road of one optimize() call, minus the Python objects: parse
// the format, inspect the model, profile the machine, plan, re-quantize.

#include <optional>
#include <string>

#include "core/error.hpp"
#include "core/line_sink.hpp"
#include "core/records.hpp"

namespace bc {

struct OptimizeRequest {
  std::string model_path;
  std::string format;
  std::optional<std::string> gpu;
  std::optional<double> max_latency_ms;
  std::optional<std::string> output_path;
  bool use_cache = true;
};

struct OptimizeOutcome {
  OptimizationResult result;
  std::optional<std::string> output_path;  // absent when re-quantization failed
};

// "{stem}-optimized.gguf" beside the model (or in the current directory).
std::string default_output_path(const std::string& model_path);

[[nodiscard]] Expected<OptimizeOutcome> optimize_model(const OptimizeRequest& request,
                                                       LineSink& sink = stderr_sink());

}  // namespace bc
