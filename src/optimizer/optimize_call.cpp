#include "optimizer/optimize_call.hpp"

#include <sys/stat.h>

#include <filesystem>

#include "hardware/detect.hpp"
#include "hardware/gpu_profiles.hpp"
#include "model/model_description.hpp"
#include "optimizer/pipeline.hpp"
#include "runtime/requantize.hpp"

namespace bc {
namespace {

ModelProfile model_profile(const std::string& path, ModelFormat format,
                           const std::optional<ModelIr>& ir) {
  ModelProfile m;
  m.model_path = path;
  m.format = format;
  if (ir) {
    m.param_count = ir->param_count;
    m.feed_forward_length = ir->feed_forward_length;
    m.kv_cache_size_mb = ir->kv_cache_size_mb;
    m.memory_footprint_mb = ir->memory_footprint_mb;
    m.flops_per_token = ir->flops_per_token;
    m.hidden_size = ir->hidden_size;
    m.attention_head_count = ir->attention_head_count;
    m.attention_head_count_kv = ir->attention_head_count_kv;
  }
  return m;
}

// llama-quantize reading and writing the same file would destroy the
// user's model before anything is written.
bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

std::string default_output_path(const std::string& model_path) {
  namespace fs = std::filesystem;
  fs::path path(model_path);
  std::string stem = path.has_filename() ? path.stem().string() : "model";
  if (path.filename() == ".." || path.filename() == ".") stem = "model";
  std::string file = stem + "-optimized.gguf";
  fs::path parent = path.parent_path();
  if (!parent.empty()) return (parent / file).string();
  return file;
}

Expected<OptimizeOutcome> optimize_model(const OptimizeRequest& request, LineSink& sink) {
  auto format = parse_model_format(request.format);
  if (!format) return std::unexpected(format.error());

  // A model that cannot be inspected is still planned for, with nothing known.
  std::optional<ModelIr> ir;
  if (auto inspected = inspect_model(request.model_path)) ir = std::move(*inspected);

  HardwareProfile hardware = detect_hardware();
  if (request.gpu) {
    auto named = gpu_profile_for_name(*request.gpu);
    if (!named) return std::unexpected(named.error());
    hardware.gpu = *named;
  }

  const ModelProfile model = model_profile(request.model_path, *format, ir);
  auto result = run_pipeline(model, request.max_latency_ms, hardware, request.use_cache, sink);
  if (!result) return std::unexpected(result.error());

  const std::string output =
      request.output_path ? *request.output_path : default_output_path(request.model_path);
  OptimizeOutcome outcome{*result, std::nullopt};
  Status quantized =
      same_file(request.model_path, output)
          ? Status(fail("output path '" + output +
                        "' is the model file itself; refusing to overwrite it"))
          : requantize_model(request.model_path, output, result->config.quantization);
  if (quantized) {
    outcome.output_path = output;
  } else {
    sink.write_line("[brindlecove] Warning: quantization failed: " + quantized.error().message());
  }
  return outcome;
}

}  // namespace bc
