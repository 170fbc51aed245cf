#include "runtime/onnx_adapter.hpp"

#include "core/json_forms.hpp"
#include "core/process.hpp"
#include "runtime/json_reply.hpp"
#include "runtime/runner_location.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {
namespace {

AdapterError not_installed(std::string binary) {
  return AdapterError::not_installed(std::move(binary), std::string(kOnnxInstallHint));
}

}  // namespace

Status OnnxAdapter::initialize(const RuntimeConfig& config) {
  auto python = find_executable("python3");
  if (!python) return fail(not_installed("python3"));
  auto script = first_existing(onnx_runner_candidates(host_executable_path(), dev_dir_from_env(),
                                                      runtime_library_directory()));
  if (!script) return fail(not_installed("onnx_runner.py"));

  ProcessSpec check;
  check.program = *python;
  check.args = {script->native(), "--check"};
  check.input = ProcessSpec::Input::Inherit;
  check.capture_output = false;
  auto run = run_process(check);
  if (!run) return fail(AdapterError::initialization_failed(run.error().message()));
  if (!run->success()) return fail(not_installed("onnxruntime (python package)"));

  state_.tool_path = script->native();
  state_.run_config = config;
  return {};
}

Status OnnxAdapter::load_model(const ModelProfile& model) {
  if (auto s = require_format(model, ModelFormat::Onnx, "OnnxAdapter"); !s) return s;
  if (auto s = check_model_file(model.model_path); !s) return s;
  state_.loaded_model = model;
  return {};
}

std::string onnx_request(const RuntimeConfig& config, const std::string& model_path) {
  OrderedJson request = OrderedJson::object();
  request["batch_size"] = config.batch_size;
  request["execution_provider"] =
      config.gpu_layers > 0 ? "CUDAExecutionProvider" : "CPUExecutionProvider";
  request["model_path"] = model_path;
  request["prompt_tokens"] = 50;
  request["threads"] = config.threads;
  return write_json(request);
}

Expected<BenchmarkResult> OnnxAdapter::run_inference(const std::string& /*prompt*/) const {
  if (auto s = check_ready(); !s) return std::unexpected(s.error());
  ProcessSpec job;
  job.program = "python3";
  job.args = {*state_.tool_path};
  job.input = ProcessSpec::Input::Bytes;
  job.input_bytes = onnx_request(*state_.run_config, state_.loaded_model->model_path);
  auto run = run_process(job);
  if (!run) return fail(AdapterError::inference_failed(run.error().message()));
  if (run->input_short) return fail(AdapterError::inference_failed("failed to write whole buffer"));
  if (!run->success())
    return fail(
        AdapterError::inference_failed("onnx_runner.py exited non-zero: " + output_text(run->err)));
  return parse_onnx_reply(output_text(run->out));
}

Expected<BenchmarkResult> parse_onnx_reply(std::string_view reply_text) {
  auto reply = read_json_reply(reply_text);
  if (reply) {
    const OrderedJson* tps = reply->member("tokens_per_sec");
    const OrderedJson* latency = reply->member("latency_ms");
    const OrderedJson* memory = reply->member("peak_memory_mb");
    // A peak figure written with a fraction, an exponent or a sign is refused.
    if (tps && tps->is_number() && latency && latency->is_number() && memory &&
        memory->is_number_unsigned()) {
      return BenchmarkResult{tps->get<double>(), latency->get<double>(), memory->get<uint64_t>()};
    }
    const OrderedJson* error = reply->member("error");
    if (error && error->is_string())
      return fail(AdapterError::inference_failed(error->get<std::string>()));
  }
  return fail(
      AdapterError::inference_failed("unparseable onnx_runner output: " + std::string(reply_text)));
}

}  // namespace bc
