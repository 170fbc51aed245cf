#pragma once
// Reads the facts the optimizer needs from a GGUF file's header and metadata
// key-value section. Tensor descriptions and data are never touched.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/error.hpp"

namespace bc {

enum class GgufValueType : uint32_t {
  Uint8 = 0,
  Int8 = 1,
  Uint16 = 2,
  Int16 = 3,
  Uint32 = 4,
  Int32 = 5,
  Float32 = 6,
  Bool = 7,
  String = 8,
  Array = 9,
  Uint64 = 10,
  Int64 = 11,
  Float64 = 12,
};
inline constexpr uint32_t kGgufValueTypeCount = 13;

// The name messages print for a type ("Uint8", "Float64", ...).
std::string_view name(GgufValueType t);

struct GgufMetadata {
  std::optional<std::string> architecture;
  std::optional<uint64_t> parameter_count;
  std::optional<uint64_t> block_count;
  std::optional<uint64_t> context_length;
  std::optional<uint64_t> embedding_length;
  std::optional<uint64_t> head_count;
  std::optional<uint64_t> head_count_kv;
  std::optional<uint64_t> feed_forward_length;
  bool operator==(const GgufMetadata&) const = default;
};

// Arrays nested deeper than this are refused rather than risk the stack.
inline constexpr int kGgufMaxArrayDepth = 64;

[[nodiscard]] Expected<GgufMetadata> read_gguf(const std::string& path);
// The same reader over bytes already in memory (the whole file or a prefix).
[[nodiscard]] Expected<GgufMetadata> read_gguf_bytes(std::span<const uint8_t> bytes);

}  // namespace bc
