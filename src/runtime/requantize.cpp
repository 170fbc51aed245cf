#include "runtime/requantize.hpp"

#include "core/process.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {

Status requantize_model(const std::string& source, const std::string& destination,
                        QuantizationStrategy quantization) {
  auto tool = find_executable("llama-quantize");
  if (!tool)
    return fail("llama-quantize not found \u2014 install llama.cpp to enable model quantization");
  ProcessSpec job;
  job.program = *tool;
  job.args = {"--allow-requantize", source, destination,
               std::string(llama_quantize_type(quantization))};
  job.input = ProcessSpec::Input::Inherit;
  job.capture_output = false;
  auto run = run_process(job);
  if (!run) return fail("failed to launch llama-quantize: " + run.error().message());
  if (!run->success()) {
    std::string code = run->exit_code ? "Some(" + std::to_string(*run->exit_code) + ")" : "None";
    return fail("llama-quantize exited with code " + code +
                " (if the source model is already quantized, ensure llama.cpp >= b2606 is "
                "installed)");
  }
  return {};
}

}  // namespace bc
