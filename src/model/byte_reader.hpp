#pragma once
// Forward-only readers over a model file's bytes: one over memory, one over a
// file through an 8 KiB buffer. Both know how much is left (when the file's
// size is known), so a corrupt length can be refused as a short read before
// anything is allocated or looped over.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>

#include "core/error.hpp"

namespace bc {

// The cause of every read that runs out of bytes.
Error short_read_error();

inline constexpr uint64_t kUnknownRemaining = std::numeric_limits<uint64_t>::max();

class SpanReader {
 public:
  explicit SpanReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  // A short read consumes what was left and fails.
  [[nodiscard]] Status read(void* dst, size_t n);
  // Moving past the end consumes what was left and fails as a short read.
  [[nodiscard]] Status skip(uint64_t n);
  uint64_t remaining() const { return bytes_.size() - pos_; }

  // The bytes available without further I/O, and how to step over them; they
  // let tight loops walk many small items without a call per item.
  std::span<const uint8_t> window() const { return bytes_.subspan(pos_); }
  void consume(size_t n) { pos_ += n; }

 private:
  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

class FileReader {
 public:
  static constexpr size_t kBufferSize = 8192;

  // The error is the system's description of the failed open.
  [[nodiscard]] static Expected<FileReader> open(const std::string& path);
  FileReader(FileReader&& other) noexcept;
  FileReader& operator=(FileReader&&) = delete;
  FileReader(const FileReader&) = delete;
  ~FileReader();

  [[nodiscard]] Status read(void* dst, size_t n);
  [[nodiscard]] Status skip(uint64_t n);
  // kUnknownRemaining for files whose size the system does not report.
  uint64_t remaining() const;
  // Only a regular file has a size that says where its bytes end.
  bool is_regular() const { return size_ != kUnknownRemaining; }
  uint64_t size() const { return size_; }
  int fd() const { return fd_; }

  std::span<const uint8_t> window() const { return {buffer_ + pos_, len_ - pos_}; }
  void consume(size_t n) { pos_ += n; }

 private:
  FileReader(int fd, uint64_t size) : fd_(fd), size_(size) {}
  [[nodiscard]] Status refill();

  int fd_ = -1;
  uint64_t size_ = kUnknownRemaining;
  uint64_t file_pos_ = 0;  // offset of the byte after the buffered ones
  size_t pos_ = 0;
  size_t len_ = 0;
  uint8_t buffer_[kBufferSize];
};

// Little-endian fixed-width reads; the error is the reader's.
template <class Reader, class T>
[[nodiscard]] Expected<T> read_le(Reader& r) {
  uint8_t raw[sizeof(T)];
  if (auto s = r.read(raw, sizeof raw); !s) return std::unexpected(s.error());
  T v = 0;
  for (size_t i = 0; i < sizeof(T); ++i) {
    v |= static_cast<T>(static_cast<T>(raw[i]) << (8 * i));
  }
  return v;
}

inline uint64_t load_le64(const uint8_t* p) {
  uint64_t v = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // One unaligned load: this sits on the path of every skipped string.
    std::memcpy(&v, p, sizeof v);
  } else {
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  }
  return v;
}

}  // namespace bc
