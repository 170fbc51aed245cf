#include "export/hf_converter.hpp"

#include "core/process.hpp"
#include "runtime/tool_helpers.hpp"

namespace bc {

Status convert_with_hf_converter(const std::string& model_path,
                                 const std::filesystem::path& destination) {
  auto converter = find_executable("convert_hf_to_gguf.py");
  if (!converter)
    return fail("ONNX-to-GGUF conversion requires llama.cpp's convert_hf_to_gguf.py on PATH");
  ProcessSpec job;
  job.program = "python3";
  // Paths go to the child as the bytes they are, whatever their encoding:
  // any stand-in text would point the converter at another file.
  job.args = {*converter, model_path, "--outfile", destination.native()};
  job.input = ProcessSpec::Input::Inherit;
  job.capture_output = false;
  auto run = run_process(job);
  if (!run) return std::unexpected(run.error());
  if (!run->success()) {
    std::string code = run->exit_code ? "Some(" + std::to_string(*run->exit_code) + ")" : "None";
    return fail("convert_hf_to_gguf.py failed with exit code " + code);
  }
  return {};
}

}  // namespace bc
