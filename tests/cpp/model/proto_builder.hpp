#pragma once
// Hand-encodes Protocol Buffers messages for the ONNX reader's tests, so
// that every malformation can be made on purpose.

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace bc::test {

class Pb {
 public:
  enum Wire : uint32_t { kVarint = 0, kFixed64 = 1, kLen = 2, kStart = 3, kEnd = 4, kFixed32 = 5 };

  static void put_varint(std::vector<uint8_t>& out, uint64_t v) {
    while (v >= 0x80) {
      out.push_back(static_cast<uint8_t>(v | 0x80));
      v >>= 7;
    }
    out.push_back(static_cast<uint8_t>(v));
  }

  Pb& tag(uint32_t field, uint32_t wire) {
    put_varint(b_, (uint64_t{field} << 3) | wire);
    return *this;
  }
  Pb& varint(uint32_t field, uint64_t v) {
    tag(field, kVarint);
    put_varint(b_, v);
    return *this;
  }
  Pb& fixed32(uint32_t field, uint32_t v) {
    tag(field, kFixed32);
    for (int i = 0; i < 4; ++i) b_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Pb& fixed64(uint32_t field, uint64_t v) {
    tag(field, kFixed64);
    for (int i = 0; i < 8; ++i) b_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Pb& bytes(uint32_t field, std::span<const uint8_t> payload) {
    tag(field, kLen);
    put_varint(b_, payload.size());
    b_.insert(b_.end(), payload.begin(), payload.end());
    return *this;
  }
  Pb& str(uint32_t field, std::string_view s) {
    return bytes(field, {reinterpret_cast<const uint8_t*>(s.data()), s.size()});
  }
  Pb& msg(uint32_t field, const Pb& m) { return bytes(field, m.b_); }
  Pb& packed(uint32_t field, const std::vector<uint64_t>& values) {
    std::vector<uint8_t> payload;
    for (uint64_t v : values) put_varint(payload, v);
    return bytes(field, payload);
  }
  Pb& raw(std::span<const uint8_t> bytes) {
    b_.insert(b_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  Pb& raw(std::initializer_list<uint8_t> bytes) {
    b_.insert(b_.end(), bytes.begin(), bytes.end());
    return *this;
  }

  const std::vector<uint8_t>& data() const { return b_; }
  operator std::span<const uint8_t>() const { return b_; }

 private:
  std::vector<uint8_t> b_;
};

// ONNX field numbers the tests use.
namespace onnx {
inline constexpr uint32_t kModelIrVersion = 1, kModelGraph = 7, kModelOpset = 8,
                          kModelMetadata = 14, kModelTraining = 20, kModelFunctions = 25;
inline constexpr uint32_t kGraphNode = 1, kGraphName = 2, kGraphInitializer = 5, kGraphInput = 11,
                          kGraphSparseInitializer = 15;
inline constexpr uint32_t kNodeInput = 1, kNodeOutput = 2, kNodeOpType = 4, kNodeAttribute = 5;
inline constexpr uint32_t kAttrName = 1, kAttrF = 2, kAttrS = 4, kAttrG = 6, kAttrType = 20;
inline constexpr uint32_t kTensorDims = 1, kTensorDataType = 2, kTensorFloatData = 4,
                          kTensorInt64Data = 7, kTensorName = 8, kTensorRawData = 9,
                          kTensorExternalData = 13, kTensorDataLocation = 14;

inline Pb node(std::string_view op) {
  return Pb().str(kNodeInput, "x").str(kNodeOutput, "y").str(kNodeOpType, op);
}
// Dims as one packed field, or one field per dim.
inline Pb tensor(const std::vector<uint64_t>& dims, bool packed = true) {
  Pb t;
  if (packed) {
    t.packed(kTensorDims, dims);
  } else {
    for (uint64_t d : dims) t.varint(kTensorDims, d);
  }
  return t.varint(kTensorDataType, 1).str(kTensorName, "w");
}
inline Pb model(const Pb& graph) { return Pb().varint(kModelIrVersion, 8).msg(kModelGraph, graph); }
}  // namespace onnx

}  // namespace bc::test
