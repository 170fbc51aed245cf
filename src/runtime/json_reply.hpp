#pragma once
// Reading the one JSON object a runner or generated script replies with.

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "core/json_forms.hpp"

namespace bc {

struct JsonReply {
  OrderedJson value;
  // How often each top-level key was written: a repeated member must make
  // the reply not match instead of letting one copy silently win.
  std::map<std::string, int, std::less<>> key_counts;

  // The member when it is present exactly once.
  const OrderedJson* member(std::string_view key) const;
};

// One JSON object with nothing but JSON white space around it.
std::optional<JsonReply> read_json_reply(std::string_view text);

}  // namespace bc
