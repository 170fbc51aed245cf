#include "hardware/text_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "core/text.hpp"

namespace bc {
namespace {

// /proc/cpuinfo on a 1,024-CPU machine is a few MB; anything far beyond that
// is not one of the files we read.
constexpr size_t kMaxBytes = 64u << 20;

}  // namespace

std::optional<std::string> read_text_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string data;
  char buf[16384];
  bool ok = true;
  for (;;) {
    ssize_t got = ::read(fd, buf, sizeof buf);
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (got == 0) break;
    data.append(buf, static_cast<size_t>(got));
    if (data.size() > kMaxBytes) {
      ok = false;
      break;
    }
  }
  ::close(fd);
  if (!ok || !is_valid_utf8(data)) return std::nullopt;
  return data;
}

}  // namespace bc
