#pragma once
// A whole file mapped read-only and private, for readers that step over
// large payloads without reading them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/error.hpp"

namespace bc {

class MappedFile {
 public:
  // The error is the system's description of the failure.
  // Regular files are mapped; anything else is read whole into memory.
  [[nodiscard]] static Expected<MappedFile> open(const std::string& path);
  // Maps the first `size` bytes of an open regular file; the descriptor may
  // be closed afterwards.
  [[nodiscard]] static Expected<MappedFile> map(int fd, uint64_t size);
  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&&) = delete;
  MappedFile(const MappedFile&) = delete;
  ~MappedFile();

  std::span<const uint8_t> bytes() const { return {data_, size_}; }
  // Drops the mapped pages that lie wholly before `upto` from the process;
  // the bytes stay readable (they fault back in from the page cache).
  void release_before(const uint8_t* upto);

 private:
  MappedFile() = default;

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  bool mapped_ = false;
  const uint8_t* released_ = nullptr;
  std::vector<uint8_t> copy_;  // files the system cannot map, read whole
};

}  // namespace bc
