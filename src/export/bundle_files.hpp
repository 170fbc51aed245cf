#pragma once
// File steps of the bundle export, each reporting the system's own message.

#include <filesystem>
#include <string_view>

#include "core/error.hpp"

namespace bc {

// The directory and its missing ancestors (0777 less the umask). An empty
// path is the working directory and is left alone.
[[nodiscard]] Status create_directory_tree(const std::filesystem::path& dir);

// Whether both paths name the same file: equal component by component, or
// (when both exist) the same file reached another way, through "..", a
// symbolic or a hard link.
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

// Copies `source` over `destination` with the source's permission bits.
// The copy is made beside the destination and then renamed over it, so a
// failed copy leaves an earlier destination whole and a destination that is
// a link is replaced rather than written through.
[[nodiscard]] Status replace_with_copy(const std::filesystem::path& source,
                                       const std::filesystem::path& destination);

// Creates or truncates `path` and writes `bytes`.
[[nodiscard]] Status write_whole_file(const std::filesystem::path& path, std::string_view bytes);

}  // namespace bc
