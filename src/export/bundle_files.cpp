#include "export/bundle_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace bc {
namespace {

std::unexpected<Error> fail_code(const std::error_code& ec) {
  return fail(system_error_text(ec.value()));
}

}  // namespace

Status create_directory_tree(const std::filesystem::path& dir) {
  if (dir.empty()) return {};
  // Made by hand rather than with create_directories, whose error for a
  // file in the way is its own (ENOTDIR) instead of what mkdir reports.
  if (::mkdir(dir.c_str(), 0777) == 0) return {};
  int err = errno;
  if (err == ENOENT) {
    const auto parent = dir.parent_path();
    if (!parent.empty() && parent != dir) {
      if (auto s = create_directory_tree(parent); !s) return s;
      if (::mkdir(dir.c_str(), 0777) == 0) return {};
      err = errno;
    }
  }
  std::error_code ec;
  if (std::filesystem::is_directory(dir, ec)) return {};
  return fail(system_error_text(err));
}

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b) {
  if (a == b) return true;
  std::error_code ec;
  return std::filesystem::equivalent(a, b, ec) && !ec;
}

Status replace_with_copy(const std::filesystem::path& source,
                         const std::filesystem::path& destination) {
  std::error_code ec;
  auto source_status = std::filesystem::status(source, ec);
  if (ec) return fail_code(ec);
  if (!std::filesystem::is_regular_file(source_status))
    return fail(system_error_text(std::filesystem::is_directory(source_status) ? EISDIR : EINVAL));

  std::filesystem::path temp = destination;
  temp += ".partial-" + std::to_string(::getpid());
  std::filesystem::remove(temp, ec);
  Status status = [&]() -> Status {
    if (!std::filesystem::copy_file(source, temp, ec) || ec) return fail_code(ec);
    std::filesystem::permissions(temp, source_status.permissions(),
                                 std::filesystem::perm_options::replace, ec);
    if (ec) return fail_code(ec);
    std::filesystem::rename(temp, destination, ec);
    if (ec) return fail_code(ec);
    return {};
  }();
  if (!status) std::filesystem::remove(temp, ec);
  return status;
}

Status write_whole_file(const std::filesystem::path& path, std::string_view bytes) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return fail(system_error_text(errno));
  Status written;
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      written = fail(system_error_text(errno));
      break;
    }
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  if (::close(fd) != 0 && written) written = fail(system_error_text(errno));
  return written;
}

}  // namespace bc
