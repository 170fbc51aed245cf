#pragma once
// Helpers every adapter shares: the PATH search, reading a tool's output,
// the memory estimate and the two word scanners the output readers use.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.hpp"
#include "core/process.hpp"
#include "core/records.hpp"

namespace bc {

// The first PATH entry holding a regular file `name` (links followed) that we
// may execute, as the path formed from the entry and the name.
std::optional<std::string> find_executable(std::string_view name);

// The bytes decoded as UTF-8 (invalid sequences become U+FFFD), trimmed of
// white space at both ends.
std::string output_text(std::string_view bytes);

// Whether the path's metadata can be read (links followed).
bool path_exists(const std::string& path);

double bytes_per_weight(QuantizationStrategy quantization);
// Weights only, in units of 1,000,000 bytes; 0 without a parameter count.
uint64_t estimate_peak_memory_mb(std::optional<uint64_t> param_count,
                                 QuantizationStrategy quantization);

// The last word before / first word after the first occurrence of `marker`.
std::optional<std::string_view> last_word_before(std::string_view line, std::string_view marker);
std::optional<std::string_view> first_word_after(std::string_view line, std::string_view marker);

// Among the lines holding both `marker` and `also`, the first one whose marker
// is not directly preceded by the word "prompt". Tools print the prompt
// processing figures before the generation figures under the same marker, and
// the prefill rate is not a generation rate. When every such line is a prompt
// line, the first of them.
std::optional<std::string_view> find_generation_line(const std::vector<std::string_view>& lines,
                                                     std::string_view marker,
                                                     std::string_view also = {});

struct TimingFigures {
  double tokens_per_sec = 0.0;
  double latency_ms = 0.0;
  bool operator==(const TimingFigures&) const = default;
};

// Runs a tool and applies the common failure rules: a start error becomes
// InferenceFailed with its system text, an unsuccessful exit (a signal
// included) InferenceFailed with `exit_prefix` and the trimmed stderr.
[[nodiscard]] Expected<ProcessResult> run_tool(const std::string& program,
                                               const std::vector<std::string>& args,
                                               std::string_view exit_prefix);

}  // namespace bc
