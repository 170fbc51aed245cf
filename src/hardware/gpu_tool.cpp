#include "hardware/gpu_tool.hpp"

#include "core/process.hpp"
#include "core/text.hpp"

namespace bc {

std::optional<std::string> run_gpu_tool(const std::string& program,
                                        const std::vector<std::string>& args,
                                        std::chrono::milliseconds time_limit) {
  ProcessSpec tool;
  tool.program = program;
  tool.args = args;
  tool.time_limit = time_limit;
  Expected<ProcessResult> run = run_process(tool);
  if (!run || run->timed_out || !run->success()) return std::nullopt;
  return decode_utf8_lossy(run->out);
}

}  // namespace bc
