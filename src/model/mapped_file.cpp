#include "model/mapped_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <utility>

namespace bc {
namespace {

struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

Expected<MappedFile> MappedFile::open(const std::string& path) {
  Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
  if (file.fd < 0) return fail(system_error_text(errno));
  struct stat st {};
  if (::fstat(file.fd, &st) != 0) return fail(system_error_text(errno));

  if (S_ISREG(st.st_mode)) return map(file.fd, static_cast<uint64_t>(st.st_size));
  MappedFile out;
  // Pipes and special files: read whole (a directory fails here).
  uint8_t chunk[65536];
  for (;;) {
    ssize_t got = ::read(file.fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(system_error_text(errno));
    if (got == 0) break;
    out.copy_.insert(out.copy_.end(), chunk, chunk + got);
  }
  out.data_ = out.copy_.data();
  out.size_ = out.copy_.size();
  return out;
}

Expected<MappedFile> MappedFile::map(int fd, uint64_t size) {
  MappedFile out;
  // An empty file cannot be mapped, and needs no mapping.
  if (size == 0) return out;
  if (size > std::numeric_limits<size_t>::max()) return fail(system_error_text(EFBIG));
  void* p = ::mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) return fail(system_error_text(errno));
  out.data_ = static_cast<const uint8_t*>(p);
  out.size_ = static_cast<size_t>(size);
  out.mapped_ = true;
  out.released_ = out.data_;
  return out;
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, false)),
      released_(std::exchange(other.released_, nullptr)),
      copy_(std::move(other.copy_)) {}

MappedFile::~MappedFile() {
  if (mapped_) ::munmap(const_cast<uint8_t*>(data_), size_);
}

void MappedFile::release_before(const uint8_t* upto) {
  if (!mapped_ || upto <= released_) return;
  static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  size_t whole = static_cast<size_t>(upto - data_) / page * page;
  const uint8_t* stop = data_ + whole;
  if (stop <= released_) return;
  // The mapping is private and never written, so dropping the pages loses
  // nothing; only the process's resident set shrinks.
  ::madvise(const_cast<uint8_t*>(released_), static_cast<size_t>(stop - released_), MADV_DONTNEED);
  released_ = stop;
}

}  // namespace bc
