#pragma once
// The published onnx.proto schema (with the ONNX-ML opaque type) as decoder
// tables: every message, field number and field type.

#include "model/protobuf_decoder.hpp"

namespace bc::onnx_schema {

extern const proto::MessageType kModelProto;
extern const proto::MessageType kGraphProto;
extern const proto::MessageType kTensorProto;

// The field numbers the reader looks at.
inline constexpr uint32_t kModelGraph = 7;
inline constexpr uint32_t kGraphNode = 1;
inline constexpr uint32_t kGraphInitializer = 5;
inline constexpr uint32_t kTensorDims = 1;

}  // namespace bc::onnx_schema
