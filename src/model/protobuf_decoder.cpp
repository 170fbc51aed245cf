#include "model/protobuf_decoder.hpp"

#include <string>

#include "core/text.hpp"

namespace bc::proto {
namespace {

enum Wire : uint32_t {
  kVarint = 0,
  kFixed64 = 1,
  kLengthDelimited = 2,
  kStartGroup = 3,
  kEndGroup = 4,
  kFixed32 = 5,
};

// How many packed elements go by between progress checks.
constexpr size_t kPackedProgressEvery = 4096;

enum class VarintResult { Ok, Truncated, Malformed };

inline VarintResult read_varint(const uint8_t*& p, const uint8_t* end, uint64_t& out) {
  uint64_t v = 0;
  for (int i = 0; i < 10; ++i) {
    if (p == end) return VarintResult::Truncated;
    uint8_t b = *p++;
    v |= static_cast<uint64_t>(b & 0x7F) << (7 * i);
    if ((b & 0x80) == 0) {
      // The tenth byte holds only bit 63; anything more cannot be a 64-bit value.
      if (i == 9 && b > 1) return VarintResult::Malformed;
      out = v;
      return VarintResult::Ok;
    }
  }
  return VarintResult::Malformed;
}

const Field* find_field(const MessageType& type, uint32_t number) {
  for (const Field& f : type.fields) {
    if (f.number == number) return &f;
  }
  return nullptr;
}

class Decoder {
 public:
  Decoder(std::span<const uint8_t> bytes, Visitor& visitor)
      : base_(bytes.data()), visitor_(visitor), last_progress_(bytes.data()) {}

  Status message(const uint8_t* p, const uint8_t* end, const MessageType& type, int depth,
                 int context) {
    while (p < end) {
      note_progress(p);
      const uint8_t* at = p;
      uint32_t number = 0;
      uint32_t wire = 0;
      if (auto s = tag(p, end, number, wire); !s) return s;
      if (wire == kEndGroup) return error("unexpected end-group tag", at);
      const Field* field = find_field(type, number);
      Status s = field == nullptr ? skip_unknown(p, end, number, wire, depth, at)
                                  : known(p, end, type, *field, wire, depth, context, at);
      if (!s) return s;
    }
    return {};
  }

 private:
  std::unexpected<Error> error(const std::string& what, const uint8_t* at) const {
    return fail(what + " at byte " + std::to_string(at - base_));
  }
  std::unexpected<Error> truncated(const uint8_t* at) const {
    return error("truncated message", at);
  }
  static std::string field_name(const MessageType& type, const Field& field) {
    return std::string(type.name) + "." + field.name;
  }

  void note_progress(const uint8_t* p) {
    if (visitor_.progress_step != 0 &&
        static_cast<size_t>(p - last_progress_) >= visitor_.progress_step) {
      visitor_.progress(p);
      last_progress_ = p;
    }
  }

  Status varint(const uint8_t*& p, const uint8_t* end, uint64_t& out) const {
    const uint8_t* at = p;
    switch (read_varint(p, end, out)) {
      case VarintResult::Ok:
        return {};
      case VarintResult::Truncated:
        return truncated(at);
      case VarintResult::Malformed:
        return error("malformed varint", at);
    }
    return {};
  }

  Status tag(const uint8_t*& p, const uint8_t* end, uint32_t& number, uint32_t& wire) const {
    const uint8_t* at = p;
    uint64_t raw = 0;
    if (auto s = varint(p, end, raw); !s) return s;
    if (raw > 0xFFFFFFFFu || (raw >> 3) == 0)
      return error("invalid tag " + std::to_string(raw), at);
    number = static_cast<uint32_t>(raw >> 3);
    wire = static_cast<uint32_t>(raw & 7);
    if (wire > kFixed32) return error("invalid wire type " + std::to_string(wire), at);
    return {};
  }

  // Reads a length prefix and sets [p, body_end) to the payload.
  Status length(const uint8_t*& p, const uint8_t* end, const uint8_t*& body_end) const {
    uint64_t len = 0;
    if (auto s = varint(p, end, len); !s) return s;
    if (len > static_cast<uint64_t>(end - p)) return truncated(p);
    body_end = p + len;
    return {};
  }

  Status fixed(const uint8_t*& p, const uint8_t* end, size_t size) const {
    if (static_cast<size_t>(end - p) < size) return truncated(p);
    p += size;
    return {};
  }

  Status skip_unknown(const uint8_t*& p, const uint8_t* end, uint32_t number, uint32_t wire,
                      int depth, const uint8_t* at) {
    uint64_t ignored = 0;
    const uint8_t* body_end = nullptr;
    switch (wire) {
      case kVarint:
        return varint(p, end, ignored);
      case kFixed64:
        return fixed(p, end, 8);
      case kFixed32:
        return fixed(p, end, 4);
      case kLengthDelimited:
        if (auto s = length(p, end, body_end); !s) return s;
        p = body_end;
        return {};
      case kStartGroup:
        return skip_group(p, end, number, depth + 1, at);
      default:
        return error("unexpected end-group tag", at);
    }
  }

  // Groups count toward the recursion limit like messages do.
  Status skip_group(const uint8_t*& p, const uint8_t* end, uint32_t number, int depth,
                    const uint8_t* at) {
    if (depth > kRecursionLimit) return too_deep(at);
    while (p < end) {
      const uint8_t* field_at = p;
      uint32_t inner = 0;
      uint32_t wire = 0;
      if (auto s = tag(p, end, inner, wire); !s) return s;
      if (wire == kEndGroup) {
        if (inner != number) return error("mismatched end-group tag", field_at);
        return {};
      }
      if (auto s = skip_unknown(p, end, inner, wire, depth, field_at); !s) return s;
    }
    return truncated(p);
  }

  std::unexpected<Error> too_deep(const uint8_t* at) const {
    return error(
        "messages nested deeper than the recursion limit of " + std::to_string(kRecursionLimit),
        at);
  }

  std::unexpected<Error> wrong_wire(const MessageType& type, const Field& field, uint32_t wire,
                                    const uint8_t* at) const {
    return error("wrong wire type " + std::to_string(wire) + " for field " +
                     field_name(type, field) + " (" + std::to_string(field.number) + ")",
                 at);
  }

  Status known(const uint8_t*& p, const uint8_t* end, const MessageType& type, const Field& field,
               uint32_t wire, int depth, int context, const uint8_t* at) {
    const uint8_t* body_end = nullptr;
    switch (field.type) {
      case FieldType::Int32:
      case FieldType::Int64:
      case FieldType::Uint64:
      case FieldType::Enum: {
        if (wire == kVarint) {
          uint64_t v = 0;
          if (auto s = varint(p, end, v); !s) return s;
          if (context != 0) visitor_.integer(context, field, v);
          return {};
        }
        if (wire != kLengthDelimited || !field.repeated) return wrong_wire(type, field, wire, at);
        if (auto s = length(p, end, body_end); !s) return s;
        for (size_t n = 0; p < body_end; ++n) {
          uint64_t v = 0;
          if (read_varint(p, body_end, v) != VarintResult::Ok) {
            return error("malformed packed field " + field_name(type, field), at);
          }
          if (context != 0) visitor_.integer(context, field, v);
          if (n % kPackedProgressEvery == 0) note_progress(p);
        }
        return {};
      }
      case FieldType::Float:
      case FieldType::Double: {
        uint32_t want = field.type == FieldType::Float ? kFixed32 : kFixed64;
        size_t size = field.type == FieldType::Float ? 4 : 8;
        if (wire == want) return fixed(p, end, size);
        if (wire != kLengthDelimited || !field.repeated) return wrong_wire(type, field, wire, at);
        if (auto s = length(p, end, body_end); !s) return s;
        if ((body_end - p) % size != 0) {
          return error("malformed packed field " + field_name(type, field), at);
        }
        p = body_end;
        return {};
      }
      case FieldType::String:
      case FieldType::Bytes: {
        if (wire != kLengthDelimited) return wrong_wire(type, field, wire, at);
        if (auto s = length(p, end, body_end); !s) return s;
        if (field.type == FieldType::String &&
            !is_valid_utf8(std::string_view(reinterpret_cast<const char*>(p),
                                            static_cast<size_t>(body_end - p)))) {
          return error("invalid UTF-8 in string field " + field_name(type, field), at);
        }
        p = body_end;
        return {};
      }
      case FieldType::Message: {
        if (wire != kLengthDelimited) return wrong_wire(type, field, wire, at);
        if (auto s = length(p, end, body_end); !s) return s;
        if (depth + 1 > kRecursionLimit) return too_deep(at);
        int inner = context != 0 ? visitor_.enter_message(context, field) : 0;
        if (auto s = message(p, body_end, *field.message, depth + 1, inner); !s) return s;
        if (context != 0) visitor_.leave_message(inner);
        p = body_end;
        return {};
      }
    }
    return {};
  }

  const uint8_t* base_;
  Visitor& visitor_;
  const uint8_t* last_progress_;
};

}  // namespace

Status decode(std::span<const uint8_t> bytes, const MessageType& type, Visitor& visitor,
              int context) {
  Decoder d(bytes, visitor);
  return d.message(bytes.data(), bytes.data() + bytes.size(), type, 0, context);
}

}  // namespace bc::proto
