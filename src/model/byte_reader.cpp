#include "model/byte_reader.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace bc {

Error short_read_error() { return Error("failed to fill whole buffer"); }

Status SpanReader::read(void* dst, size_t n) {
  if (n > remaining()) {
    pos_ = bytes_.size();
    return std::unexpected(short_read_error());
  }
  if (n != 0) std::memcpy(dst, bytes_.data() + pos_, n);
  pos_ += n;
  return {};
}

Status SpanReader::skip(uint64_t n) {
  if (n > remaining()) {
    pos_ = bytes_.size();
    return std::unexpected(short_read_error());
  }
  pos_ += static_cast<size_t>(n);
  return {};
}

Expected<FileReader> FileReader::open(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail(system_error_text(errno));
  struct stat st {};
  uint64_t size = kUnknownRemaining;
  // Only a regular file's size says where its bytes end; pipes and special
  // files are read until they report the end.
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) size = static_cast<uint64_t>(st.st_size);
  return FileReader(fd, size);
}

FileReader::FileReader(FileReader&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(other.size_),
      file_pos_(other.file_pos_),
      pos_(other.pos_),
      len_(other.len_) {
  std::memcpy(buffer_, other.buffer_, len_);
}

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

uint64_t FileReader::remaining() const {
  if (size_ == kUnknownRemaining) return kUnknownRemaining;
  uint64_t buffered = len_ - pos_;
  return file_pos_ >= size_ ? buffered : buffered + (size_ - file_pos_);
}

Status FileReader::refill() {
  pos_ = 0;
  len_ = 0;
  for (;;) {
    ssize_t got = ::read(fd_, buffer_, kBufferSize);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(system_error_text(errno));
    len_ = static_cast<size_t>(got);
    file_pos_ += len_;
    return {};
  }
}

Status FileReader::read(void* dst, size_t n) {
  auto* out = static_cast<uint8_t*>(dst);
  while (n > 0) {
    if (pos_ == len_) {
      if (auto s = refill(); !s) return s;
      if (len_ == 0) return std::unexpected(short_read_error());
    }
    size_t take = std::min(n, len_ - pos_);
    std::memcpy(out, buffer_ + pos_, take);
    out += take;
    pos_ += take;
    n -= take;
  }
  return {};
}

Status FileReader::skip(uint64_t n) {
  if (n <= len_ - pos_) {
    pos_ += static_cast<size_t>(n);
    return {};
  }
  uint64_t beyond = n - (len_ - pos_);
  if (size_ == kUnknownRemaining) {
    // Pipes cannot seek: pass over the bytes as they arrive, so a corrupt
    // length costs no more than the data actually there.
    pos_ = len_;
    while (beyond > 0) {
      if (auto s = refill(); !s) return s;
      if (len_ == 0) return std::unexpected(short_read_error());
      size_t take = static_cast<size_t>(std::min<uint64_t>(beyond, len_));
      pos_ = take;
      beyond -= take;
    }
    return {};
  }
  if (file_pos_ > size_ || beyond > size_ - file_pos_) {
    // Park at the end so that later reads fail as well.
    pos_ = len_ = 0;
    file_pos_ = std::max(file_pos_, size_);
    ::lseek(fd_, static_cast<off_t>(file_pos_), SEEK_SET);
    return std::unexpected(short_read_error());
  }
  if (beyond > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) - file_pos_) {
    return std::unexpected(short_read_error());
  }
  uint64_t target = file_pos_ + beyond;
  if (::lseek(fd_, static_cast<off_t>(target), SEEK_SET) < 0) {
    return fail(system_error_text(errno));
  }
  file_pos_ = target;
  pos_ = len_ = 0;
  return {};
}

}  // namespace bc
