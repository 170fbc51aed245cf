#pragma once
// Whole-file reads of the small /proc and cgroup texts detection looks at.

#include <optional>
#include <string>

namespace bc {

// The file's contents when it can be opened and read in full and is valid
// UTF-8; otherwise absent. Detection treats both cases as "no such source".
std::optional<std::string> read_text_file(const std::string& path);

}  // namespace bc
