#include "runtime/conversion.hpp"

#include "core/json_forms.hpp"
#include "core/process.hpp"
#include "runtime/json_reply.hpp"
#include "runtime/runner_script_search.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {
namespace {

// Missing or null: absent. Another type, or a repeated key: not a reply.
bool read_optional_string(const JsonReply& reply, std::string_view key,
                          std::optional<std::string>& out) {
  auto count = reply.key_counts.find(key);
  if (count == reply.key_counts.end()) return true;
  if (count->second != 1) return false;
  const OrderedJson& value = *reply.member(key);
  if (value.is_null()) return true;
  if (!value.is_string()) return false;
  out = value.get<std::string>();
  return true;
}

}  // namespace

std::string conversion_request(const std::string& input_path, const std::string& output_path) {
  OrderedJson request = OrderedJson::object();
  request["input_path"] = input_path;
  request["output_path"] = output_path;
  return write_json(request);
}

std::optional<ConvertResponse> read_convert_response(std::string_view stdout_bytes) {
  auto reply = read_json_reply(stdout_bytes);
  if (!reply) return std::nullopt;
  ConvertResponse response;
  if (!read_optional_string(*reply, "output_path", response.output_path) ||
      !read_optional_string(*reply, "error", response.error))
    return std::nullopt;
  return response;
}

Expected<std::string> run_conversion(std::string_view runner_relative_path,
                                     const std::string& input_path,
                                     const std::string& output_path) {
  auto python = find_executable("python3");
  if (!python) return fail(AdapterError::not_installed("python3", std::string(kPythonInstallHint)));
  auto script = locate_runner_script(runner_relative_path, runner_search_places());
  if (!script)
    return fail(std::string(runner_file_name(runner_relative_path)) +
                " not found \u2014 ensure brindlecove is properly installed");

  ProcessSpec job;
  job.program = *python;
  job.args = {script->native()};
  job.input = ProcessSpec::Input::Bytes;
  job.input_bytes = conversion_request(input_path, output_path);
  auto run = run_process(job);
  if (!run) return fail("failed to spawn conversion process: " + run.error().message());
  if (run->input_short) return fail("failed to write whole buffer");

  // The exit status is deliberately not looked at: the reply decides.
  auto response = read_convert_response(run->out);
  if (!response)
    return fail("conversion process returned invalid output (stderr: " + output_text(run->err) +
                ")");
  if (response->error) return fail(*response->error);
  if (response->output_path) return *response->output_path;
  return fail("conversion succeeded but no output_path was returned");
}

Expected<std::string> convert_gguf_to_onnx(const std::string& input_path,
                                           const std::string& output_path) {
  return run_conversion(kGgufToOnnxRunner, input_path, output_path);
}

Expected<std::string> convert_onnx_to_gguf(const std::string& input_path,
                                           const std::string& output_path) {
  return run_conversion(kOnnxToGgufRunner, input_path, output_path);
}

}  // namespace bc
