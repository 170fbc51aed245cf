#pragma once
// Writes GGUF files byte by byte for tests and benchmarks: a header, typed
// key-value pairs (arrays included) and tensor infos. Anything can be made
// wrong on purpose: the magic, the version, the counts, a raw value type.

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace bc::test {

enum GgufType : uint32_t {
  kU8 = 0,
  kI8 = 1,
  kU16 = 2,
  kI16 = 3,
  kU32 = 4,
  kI32 = 5,
  kF32 = 6,
  kBool = 7,
  kString = 8,
  kArray = 9,
  kU64 = 10,
  kI64 = 11,
  kF64 = 12,
};

// Little-endian encoders for building payloads by hand.
inline void put_u8(std::vector<uint8_t>& out, uint8_t v) { out.push_back(v); }
inline void put_u16(std::vector<uint8_t>& out, uint16_t v) {
  for (int i = 0; i < 2; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void put_u32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void put_u64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void put_f32(std::vector<uint8_t>& out, float v) {
  uint32_t bits = 0;
  std::memcpy(&bits, &v, 4);
  put_u32(out, bits);
}
inline void put_f64(std::vector<uint8_t>& out, double v) {
  uint64_t bits = 0;
  std::memcpy(&bits, &v, 8);
  put_u64(out, bits);
}
inline void put_str(std::vector<uint8_t>& out, std::string_view s) {
  put_u64(out, s.size());
  out.insert(out.end(), s.begin(), s.end());
}

class GgufBuilder {
 public:
  explicit GgufBuilder(uint32_t version = 3) : version_(version) {}

  GgufBuilder& magic(std::string_view four_bytes) {
    magic_ = std::string(four_bytes);
    return *this;
  }
  // Overrides the key-value count written in the header.
  GgufBuilder& kv_count(uint64_t n) {
    kv_count_override_ = n;
    has_kv_override_ = true;
    return *this;
  }

  // A pair whose value bytes are given already encoded (any type code).
  GgufBuilder& kv_raw(std::string_view key, uint32_t type, const std::vector<uint8_t>& value) {
    put_str(kv_, key);
    put_u32(kv_, type);
    kv_.insert(kv_.end(), value.begin(), value.end());
    ++kv_pairs_;
    return *this;
  }
  GgufBuilder& kv_u8(std::string_view key, uint8_t v) { return kv_raw(key, kU8, enc(v, put_u8)); }
  GgufBuilder& kv_i8(std::string_view key, int8_t v) {
    return kv_raw(key, kI8, enc(static_cast<uint8_t>(v), put_u8));
  }
  GgufBuilder& kv_u16(std::string_view key, uint16_t v) {
    return kv_raw(key, kU16, enc(v, put_u16));
  }
  GgufBuilder& kv_i16(std::string_view key, int16_t v) {
    return kv_raw(key, kI16, enc(static_cast<uint16_t>(v), put_u16));
  }
  GgufBuilder& kv_u32(std::string_view key, uint32_t v) {
    return kv_raw(key, kU32, enc(v, put_u32));
  }
  GgufBuilder& kv_i32(std::string_view key, int32_t v) {
    return kv_raw(key, kI32, enc(static_cast<uint32_t>(v), put_u32));
  }
  GgufBuilder& kv_u64(std::string_view key, uint64_t v) {
    return kv_raw(key, kU64, enc(v, put_u64));
  }
  GgufBuilder& kv_i64(std::string_view key, int64_t v) {
    return kv_raw(key, kI64, enc(static_cast<uint64_t>(v), put_u64));
  }
  GgufBuilder& kv_f32(std::string_view key, float v) { return kv_raw(key, kF32, enc(v, put_f32)); }
  GgufBuilder& kv_f64(std::string_view key, double v) { return kv_raw(key, kF64, enc(v, put_f64)); }
  GgufBuilder& kv_bool(std::string_view key, bool v) {
    return kv_raw(key, kBool, enc(static_cast<uint8_t>(v), put_u8));
  }
  GgufBuilder& kv_string(std::string_view key, std::string_view v) {
    std::vector<uint8_t> b;
    put_str(b, v);
    return kv_raw(key, kString, b);
  }
  // An array whose elements are given already encoded.
  GgufBuilder& kv_array(std::string_view key, uint32_t elem_type, uint64_t count,
                        const std::vector<uint8_t>& elements) {
    return kv_raw(key, kArray, array_value(elem_type, count, elements));
  }
  GgufBuilder& kv_string_array(std::string_view key, const std::vector<std::string>& items) {
    std::vector<uint8_t> b;
    for (const auto& s : items) put_str(b, s);
    return kv_array(key, kString, items.size(), b);
  }

  // Tensor infos follow the metadata; the reader must never need them.
  GgufBuilder& tensor_info(std::string_view name, const std::vector<uint64_t>& dims,
                           uint32_t ggml_type, uint64_t offset) {
    put_str(tensors_, name);
    put_u32(tensors_, static_cast<uint32_t>(dims.size()));
    for (uint64_t d : dims) put_u64(tensors_, d);
    put_u32(tensors_, ggml_type);
    put_u64(tensors_, offset);
    ++tensor_count_;
    return *this;
  }

  // The encoded bytes of an array value (element type, count, elements),
  // for nesting arrays inside arrays.
  static std::vector<uint8_t> array_value(uint32_t elem_type, uint64_t count,
                                          const std::vector<uint8_t>& elements) {
    std::vector<uint8_t> b;
    put_u32(b, elem_type);
    put_u64(b, count);
    b.insert(b.end(), elements.begin(), elements.end());
    return b;
  }

  std::vector<uint8_t> bytes() const {
    std::vector<uint8_t> out(magic_.begin(), magic_.end());
    put_u32(out, version_);
    put_u64(out, tensor_count_);
    put_u64(out, has_kv_override_ ? kv_count_override_ : kv_pairs_);
    out.insert(out.end(), kv_.begin(), kv_.end());
    out.insert(out.end(), tensors_.begin(), tensors_.end());
    return out;
  }
  // Bytes up to the end of the metadata section.
  size_t metadata_end() const { return 4 + 4 + 8 + 8 + kv_.size(); }

  void write(const std::string& path) const {
    auto b = bytes();
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
  }

 private:
  template <class V, class F>
  static std::vector<uint8_t> enc(V v, F put) {
    std::vector<uint8_t> b;
    put(b, v);
    return b;
  }

  std::string magic_ = "GGUF";
  uint32_t version_;
  uint64_t tensor_count_ = 0;
  uint64_t kv_pairs_ = 0;
  uint64_t kv_count_override_ = 0;
  bool has_kv_override_ = false;
  std::vector<uint8_t> kv_;
  std::vector<uint8_t> tensors_;
};

}  // namespace bc::test
