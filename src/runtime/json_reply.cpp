#include "runtime/json_reply.hpp"

namespace bc {

const OrderedJson* JsonReply::member(std::string_view key) const {
  auto count = key_counts.find(key);
  if (count == key_counts.end() || count->second != 1) return nullptr;
  auto it = value.find(std::string(key));
  return it == value.end() ? nullptr : &*it;
}

std::optional<JsonReply> read_json_reply(std::string_view text) {
  // The JSON reader skips a byte order mark, but it is not white space.
  if (text.starts_with("\xEF\xBB\xBF")) return std::nullopt;
  JsonReply reply;
  auto callback = [&](int depth, OrderedJson::parse_event_t event, OrderedJson& parsed) {
    if (event == OrderedJson::parse_event_t::key && depth == 1)
      ++reply.key_counts[parsed.get<std::string>()];
    return true;
  };
  try {
    reply.value = OrderedJson::parse(text.begin(), text.end(), callback);
  } catch (const OrderedJson::exception&) {
    return std::nullopt;
  }
  if (!reply.value.is_object()) return std::nullopt;
  return reply;
}

}  // namespace bc
