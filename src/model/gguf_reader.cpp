#include "model/gguf_reader.hpp"

#include <algorithm>
#include <cstring>

#include "core/text.hpp"
#include "model/byte_reader.hpp"
#include "model/mapped_file.hpp"

namespace bc {

std::string_view name(GgufValueType t) {
  switch (t) {
    case GgufValueType::Uint8:
      return "Uint8";
    case GgufValueType::Int8:
      return "Int8";
    case GgufValueType::Uint16:
      return "Uint16";
    case GgufValueType::Int16:
      return "Int16";
    case GgufValueType::Uint32:
      return "Uint32";
    case GgufValueType::Int32:
      return "Int32";
    case GgufValueType::Float32:
      return "Float32";
    case GgufValueType::Bool:
      return "Bool";
    case GgufValueType::String:
      return "String";
    case GgufValueType::Array:
      return "Array";
    case GgufValueType::Uint64:
      return "Uint64";
    case GgufValueType::Int64:
      return "Int64";
    case GgufValueType::Float64:
      return "Float64";
  }
  return "Unknown";
}

namespace {

using T = GgufValueType;

std::unexpected<Error> short_read() { return std::unexpected(short_read_error()); }

// The encoded size of a fixed-width type, 0 for strings and arrays.
uint64_t fixed_size(uint32_t code) {
  switch (static_cast<T>(code)) {
    case T::Uint8:
    case T::Int8:
    case T::Bool:
      return 1;
    case T::Uint16:
    case T::Int16:
      return 2;
    case T::Uint32:
    case T::Int32:
    case T::Float32:
      return 4;
    case T::Uint64:
    case T::Int64:
    case T::Float64:
      return 8;
    case T::String:
    case T::Array:
      return 0;
  }
  return 0;
}

bool is_integer(uint32_t code) {
  switch (static_cast<T>(code)) {
    case T::Uint8:
    case T::Int8:
    case T::Uint16:
    case T::Int16:
    case T::Uint32:
    case T::Int32:
    case T::Uint64:
    case T::Int64:
      return true;
    default:
      return false;
  }
}

template <class R>
Expected<uint32_t> read_u32(R& r) {
  return read_le<R, uint32_t>(r);
}
template <class R>
Expected<uint64_t> read_u64(R& r) {
  return read_le<R, uint64_t>(r);
}

// The length is checked against what is left before any memory is taken,
// and the text grows with the bytes actually read when the size is unknown.
template <class R>
Expected<std::string> read_string(R& r) {
  auto len = read_u64(r);
  if (!len) return std::unexpected(len.error());
  if (*len > r.remaining()) {
    (void)r.skip(*len);
    return short_read();
  }
  std::string raw;
  for (uint64_t left = *len; left > 0;) {
    size_t chunk = static_cast<size_t>(std::min<uint64_t>(left, 1 << 16));
    size_t old = raw.size();
    raw.resize(old + chunk);
    if (auto s = r.read(raw.data() + old, chunk); !s) return std::unexpected(s.error());
    left -= chunk;
  }
  return decode_utf8_lossy(raw);
}

std::unexpected<Error> element_error(Error cause, const char* step) {
  return fail_with(Error::wrap(std::move(cause), step), "skip array element");
}

// Each string costs one length read and one seek; those lying wholly inside
// the reader's window are walked in place, without a call per element.
template <class R>
Status skip_string_elements(R& r, uint64_t count) {
  uint64_t least = 0;
  if (__builtin_mul_overflow(count, uint64_t{8}, &least) || least > r.remaining()) {
    return element_error(short_read_error(), "string length in skip");
  }
  while (count > 0) {
    std::span<const uint8_t> w = r.window();
    const uint8_t* p = w.data();
    size_t n = w.size();
    size_t i = 0;
    while (count > 0 && n - i >= 8) {
      uint64_t len = load_le64(p + i);
      if (len > n - i - 8) break;
      i += 8 + static_cast<size_t>(len);
      --count;
    }
    r.consume(i);
    if (count == 0) break;
    auto len = read_u64(r);
    if (!len) return element_error(len.error(), "string length in skip");
    if (auto s = r.skip(*len); !s) return element_error(s.error(), "seek past string value");
    --count;
  }
  return {};
}

template <class R>
Status skip_array(R& r, int depth) {
  auto elem = read_u32(r);
  if (!elem) return fail_with(elem.error(), "array element type");
  auto count = read_u64(r);
  if (!count) return fail_with(count.error(), "array element count");
  if (*elem >= kGgufValueTypeCount) {
    return fail("unknown array element type " + std::to_string(*elem));
  }
  if (*count == 0) return {};
  if (uint64_t size = fixed_size(*elem); size != 0) {
    uint64_t total = 0;
    Status s = __builtin_mul_overflow(*count, size, &total) ? short_read() : r.skip(total);
    if (!s) return element_error(s.error(), "seek past scalar value");
    return {};
  }
  if (static_cast<T>(*elem) == T::String) return skip_string_elements(r, *count);

  if (depth >= kGgufMaxArrayDepth) {
    return fail("GGUF arrays nested deeper than " + std::to_string(kGgufMaxArrayDepth) + " levels");
  }
  // An element array takes at least its type and count: 12 bytes.
  uint64_t least = 0;
  if (__builtin_mul_overflow(*count, uint64_t{12}, &least) || least > r.remaining()) {
    return element_error(short_read_error(), "array element type");
  }
  for (uint64_t i = 0; i < *count; ++i) {
    if (auto s = skip_array(r, depth + 1); !s) return fail_with(s.error(), "skip array element");
  }
  return {};
}

template <class R>
Status skip_value(R& r, uint32_t type) {
  if (uint64_t size = fixed_size(type); size != 0) {
    if (auto s = r.skip(size); !s) return fail_with(s.error(), "seek past scalar value");
    return {};
  }
  if (static_cast<T>(type) == T::String) {
    auto len = read_u64(r);
    if (!len) return fail_with(len.error(), "string length in skip");
    if (auto s = r.skip(*len); !s) return fail_with(s.error(), "seek past string value");
    return {};
  }
  return skip_array(r, 1);
}

template <class R, class U>
Expected<U> read_context(R& r, const char* context) {
  auto v = read_le<R, U>(r);
  if (!v) return fail_with(v.error(), context);
  return *v;
}

template <class R>
Expected<uint64_t> coerce_u64(R& r, uint32_t type) {
  switch (static_cast<T>(type)) {
    case T::Uint8:
      return read_context<R, uint8_t>(r, "read uint8 value");
    case T::Uint16:
      return read_context<R, uint16_t>(r, "read uint16 value");
    case T::Uint32:
      return read_context<R, uint32_t>(r, "read uint32 value");
    case T::Uint64:
      return read_context<R, uint64_t>(r, "read uint64 value");
    // The byte as it is: an Int8 of -1 reads as 255.
    case T::Int8:
      return read_context<R, uint8_t>(r, "read int8 value (reinterp)");
    case T::Int16: {
      auto v = read_context<R, uint16_t>(r, "read int16 value (reinterp)");
      if (!v) return std::unexpected(v.error());
      return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int16_t>(*v)));
    }
    case T::Int32: {
      auto v = read_context<R, uint32_t>(r, "read int32 value (reinterp)");
      if (!v) return std::unexpected(v.error());
      return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(*v)));
    }
    case T::Int64:
      return read_context<R, uint64_t>(r, "read int64 value (reinterp)");
    default:
      return fail("cannot coerce value type " + std::string(name(static_cast<T>(type))) +
                  " to u64");
  }
}

template <class R>
Status skip_key(R& r, uint32_t type, const std::string& key) {
  if (auto s = skip_value(r, type); !s) return fail_with(s.error(), "skip key '" + key + "'");
  return {};
}

// A value that cannot be read leaves its target absent; the read after it
// then fails in its turn if the file has ended.
template <class R>
Status read_lenient(R& r, uint32_t type, const std::string& key, std::optional<uint64_t>& target) {
  if (is_integer(type)) {
    auto v = coerce_u64(r, type);
    target = v ? std::optional<uint64_t>(*v) : std::nullopt;
    return {};
  }
  target.reset();
  return skip_key(r, type, key);
}

// Keys whose last dotted part names a first-readable-wins target.
std::optional<uint64_t>* first_wins_target(std::string_view key, GgufMetadata& m) {
  size_t dot = key.rfind('.');
  if (dot == std::string_view::npos) return nullptr;
  std::string_view tail = key.substr(dot + 1);
  if (tail == "block_count") return &m.block_count;
  if (tail == "context_length") return &m.context_length;
  if (tail == "embedding_length") return &m.embedding_length;
  return nullptr;
}

template <class R>
Status read_pair(R& r, GgufMetadata& m) {
  auto key = read_string(r);
  if (!key) return fail_with(key.error(), "read KV key");
  auto type = read_u32(r);
  if (!type) return fail_with(type.error(), "read KV value type");
  if (*type >= kGgufValueTypeCount) {
    return fail("unknown value type " + std::to_string(*type) + " for key '" + *key + "'");
  }
  std::string_view k = *key;
  if (k == "general.architecture") {
    if (static_cast<T>(*type) == T::String) {
      auto text = read_string(r);
      if (!text) return fail_with(text.error(), "read general.architecture value");
      m.architecture = std::move(*text);
    } else if (auto s = skip_value(r, *type); !s) {
      return fail_with(s.error(), "skip general.architecture (unexpected type)");
    }
    return {};
  }
  if (k == "general.parameter_count") {
    auto v = coerce_u64(r, *type);
    if (!v) {
      return fail_with(v.error(), "read general.parameter_count (type=" +
                                      std::string(name(static_cast<T>(*type))) + ")");
    }
    m.parameter_count = *v;
    return {};
  }
  if (k.ends_with(".attention.head_count")) return read_lenient(r, *type, *key, m.head_count);
  if (k.ends_with(".attention.head_count_kv")) {
    return read_lenient(r, *type, *key, m.head_count_kv);
  }
  if (k.ends_with(".feed_forward_length")) {
    return read_lenient(r, *type, *key, m.feed_forward_length);
  }
  if (auto* target = first_wins_target(k, m); target != nullptr && !target->has_value()) {
    return read_lenient(r, *type, *key, *target);
  }
  return skip_key(r, *type, *key);
}

template <class R>
Expected<GgufMetadata> parse_gguf(R& r) {
  uint8_t magic[4];
  if (auto s = r.read(magic, 4); !s) return fail_with(s.error(), "read GGUF magic");
  if (std::memcmp(magic, "GGUF", 4) != 0) {
    std::string list;
    for (uint8_t b : magic) list += (list.empty() ? "" : ", ") + std::to_string(b);
    return fail("not a GGUF file (bad magic: [" + list + "])");
  }
  auto version = read_u32(r);
  if (!version) return fail_with(version.error(), "read GGUF version");
  if (*version < 1 || *version > 3) {
    return fail("unsupported GGUF version " + std::to_string(*version) + "; expected 1\u20133");
  }
  if (auto n = read_u64(r); !n) return fail_with(n.error(), "read tensor_count");
  auto kv_count = read_u64(r);
  if (!kv_count) return fail_with(kv_count.error(), "read kv_count");

  // Every pair takes at least 12 bytes, so a corrupt count ends with the file.
  GgufMetadata m;
  for (uint64_t i = 0; i < *kv_count; ++i) {
    if (auto s = read_pair(r, m); !s) return std::unexpected(s.error());
  }
  return m;
}

}  // namespace

Expected<GgufMetadata> read_gguf_bytes(std::span<const uint8_t> bytes) {
  SpanReader r(bytes);
  return parse_gguf(r);
}

Expected<GgufMetadata> read_gguf(const std::string& path) {
  auto r = FileReader::open(path);
  if (!r) return fail_with(r.error(), "open GGUF file: " + path);
  // A mapped file is walked in place: skipping a string is only a pointer
  // move, and no byte is copied. Only the pages of the metadata are touched.
  // Pipes and special files, and a failed mapping, go through the buffer.
  if (r->is_regular()) {
    if (auto mapped = MappedFile::map(r->fd(), r->size())) return read_gguf_bytes(mapped->bytes());
  }
  return parse_gguf(*r);
}

}  // namespace bc
