#include "runtime/vllm_adapter.hpp"

#include "runtime/json_reply.hpp"

namespace bc {

Status VllmAdapter::initialize(const RuntimeConfig& config) {
  auto python = find_executable("python3");
  if (!python)
    return fail(AdapterError::not_installed("python3", std::string(kVllmPythonInstallHint)));
  auto check = run_captured(*python, {"-c", "import vllm"});
  if (!check)
    return fail(AdapterError::initialization_failed("could not invoke python3 for vLLM check: " +
                                                    check.error().message()));
  if (!check->success())
    return fail(AdapterError::not_installed(
        "vllm", "install vLLM via `pip install vllm`; python3 said: " + output_text(check->err)));
  state_.tool_path = *python;
  state_.run_config = config;
  return {};
}

Status VllmAdapter::load_model(const ModelProfile& model) {
  if (auto s = check_model_file(model.model_path); !s) return s;
  state_.loaded_model = model;
  return {};
}

std::string_view vllm_dtype(QuantizationStrategy quantization) {
  switch (quantization) {
    case QuantizationStrategy::Q8_0:
    case QuantizationStrategy::Int8:
      return "float8_e4m3fn";
    case QuantizationStrategy::F16:
    case QuantizationStrategy::Q4_K_M:
    case QuantizationStrategy::Q4_0:
    case QuantizationStrategy::Int4:
      return "float16";
  }
  return "float16";
}

std::string python_string_escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out;
}

std::string vllm_script(std::string_view model_path, std::string_view dtype,
                        std::string_view prompt) {
  std::string s = "\n";
  s += "import time, json, sys\n";
  s += "try:\n";
  s += "    from vllm import LLM, SamplingParams\n";
  s += "    llm = LLM(model=\"" + python_string_escape(model_path) + "\", dtype=\"" +
       std::string(dtype) + "\", max_model_len=512)\n";
  s += "    params = SamplingParams(max_tokens=50)\n";
  s += "    t0 = time.perf_counter()\n";
  s += "    out = llm.generate([\"" + python_string_escape(prompt) + "\"], params)\n";
  s += "    elapsed_s = time.perf_counter() - t0\n";
  s += "    tokens = sum(len(o.outputs[0].token_ids) for o in out)\n";
  s += "    tps = tokens / elapsed_s if elapsed_s > 0 else 0.0\n";
  s += "    print(json.dumps({\"tokens\": tokens, \"elapsed_s\": elapsed_s, \"tps\": tps}))\n";
  s += "except Exception as e:\n";
  s += "    print(json.dumps({\"error\": str(e)}), file=sys.stderr)\n";
  s += "    sys.exit(1)\n";
  return s;
}

Expected<BenchmarkResult> VllmAdapter::run_inference(const std::string& prompt) const {
  if (auto s = check_ready(); !s) return std::unexpected(s.error());
  const RuntimeConfig& config = *state_.run_config;
  const ModelProfile& model = *state_.loaded_model;
  auto script = vllm_script(model.model_path, vllm_dtype(config.quantization), prompt);
  auto run = run_tool(*state_.tool_path, {"-c", script}, "vLLM inference failed: ");
  if (!run) return std::unexpected(run.error());
  std::string report = output_text(run->out);
  auto figures = parse_vllm_report(report);
  if (!figures)
    return fail(AdapterError::inference_failed("could not parse vLLM JSON output: " + report));
  return BenchmarkResult{figures->tokens_per_sec, figures->latency_ms,
                         estimate_peak_memory_mb(model.param_count, config.quantization)};
}

std::optional<TimingFigures> parse_vllm_report(std::string_view report_text) {
  auto reply = read_json_reply(report_text);
  if (!reply) return std::nullopt;
  const OrderedJson* tps = reply->member("tps");
  const OrderedJson* elapsed = reply->member("elapsed_s");
  if (!tps || !tps->is_number() || !elapsed || !elapsed->is_number()) return std::nullopt;
  double rate = tps->get<double>();
  double latency_ms = elapsed->get<double>() * 1000.0;
  if (!(rate > 0.0) || !(latency_ms > 0.0)) return std::nullopt;
  return TimingFigures{rate, latency_ms};
}

}  // namespace bc
