#pragma once
// The one place that starts child processes. A run is described as data;
// children are started directly (never through a shell).

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "core/error.hpp"

namespace bc {

struct ProcessSpec {
  // A bare name is looked up in PATH the way execvp does.
  std::string program;
  std::vector<std::string> args;
  enum class Input { Null, Inherit, Bytes };
  Input input = Input::Null;
  std::string input_bytes;  // written to the child's stdin for Input::Bytes
  // false: the child inherits our stdout and stderr.
  bool capture_output = true;
  // When set, a child still running after this long is killed and reaped.
  std::optional<std::chrono::milliseconds> time_limit;
};

struct ProcessResult {
  std::optional<int> exit_code;  // absent when ended by a signal
  std::optional<int> signal;
  bool timed_out = false;
  std::string out;
  std::string err;
  // The write of input_bytes stopped short (the child closed its stdin).
  bool input_short = false;
  bool success() const { return exit_code && *exit_code == 0; }
};

// The error is the start error, with the system error text as its message.
[[nodiscard]] Expected<ProcessResult> run_process(const ProcessSpec& job);

// Null stdin, both streams captured in full, no time limit.
[[nodiscard]] Expected<ProcessResult> run_captured(const std::string& program,
                                                   const std::vector<std::string>& args);

}  // namespace bc
