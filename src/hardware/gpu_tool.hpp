#pragma once
// Running one vendor tool for the GPU probes.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace bc {

// The tool's standard output, decoded as UTF-8 with invalid sequences
// replaced; absent when it cannot be started, exits with a status other than
// 0, or is still running after `time_limit` (it is then killed).
std::optional<std::string> run_gpu_tool(const std::string& program,
                                        const std::vector<std::string>& args,
                                        std::chrono::milliseconds time_limit);

}  // namespace bc
