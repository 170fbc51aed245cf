#pragma once
// A table-driven Protocol Buffers decoder that validates a whole message
// against a schema without building it: nothing is copied, so bulk payloads
// such as tensor bytes are stepped over, never read.
//
// It is stricter than the stock library: a known field with the wrong wire
// type and a `string` field that is not UTF-8 are errors. Unknown fields
// (including groups) are skipped. Repeated scalars are accepted packed and
// unpacked.

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/error.hpp"

namespace bc::proto {

enum class FieldType : uint8_t {
  Int32,
  Int64,
  Uint64,
  Enum,
  Float,
  Double,
  String,  // must be UTF-8
  Bytes,
  Message,
};

struct MessageType;

struct Field {
  uint32_t number;
  const char* name;
  FieldType type;
  bool repeated;
  const MessageType* message = nullptr;  // for FieldType::Message
};

struct MessageType {
  const char* name;
  std::span<const Field> fields;
};

// The stock library's default limit: messages nested below the outermost one.
inline constexpr int kRecursionLimit = 100;

// Receives what a caller wants out of a decode. Contexts are small integers
// the visitor hands out itself; 0 means "nothing of interest below here", and
// the decoder makes no calls at all for fields in context 0.
class Visitor {
 public:
  virtual ~Visitor() = default;
  // A nested message is about to be decoded; returns the context for its
  // fields.
  virtual int enter_message(int context, const Field& field) = 0;
  virtual void leave_message(int context) = 0;
  // One integer element of a varint-encoded field, packed or not.
  virtual void integer(int context, const Field& field, uint64_t value) = 0;
  // Everything before `upto` has been decoded and will not be looked at
  // again. Called now and then, after at least `progress_step` more bytes.
  virtual void progress(const uint8_t* upto) { (void)upto; }
  size_t progress_step = 0;  // 0: never call progress
};

// Decodes `bytes` as one message of `type`; `context` is the outermost
// message's context. The error says what was wrong and at which byte offset.
[[nodiscard]] Status decode(std::span<const uint8_t> bytes, const MessageType& type,
                            Visitor& visitor, int context);

}  // namespace bc::proto
