#pragma once
// Named GPU models, for planning on hardware other than the machine's own.

#include <optional>
#include <string_view>

#include "core/error.hpp"
#include "core/records.hpp"

namespace bc {

// The built-in profile named by `text` (case-insensitive; spaces and hyphens
// ignored), or no GPU for "cpu" and the empty text; an error for any other
// model.
[[nodiscard]] Expected<std::optional<GpuInfo>> gpu_profile_for_name(std::string_view text);

}  // namespace bc
