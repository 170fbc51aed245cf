#include "optimizer/cache.hpp"

#include <fcntl.h>
#include <openssl/evp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "core/json_forms.hpp"
#include "core/text.hpp"

namespace bc {
namespace {

std::optional<std::string> sha256_hex(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &len, EVP_sha256(), nullptr) != 1)
    return std::nullopt;
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < len; ++i) {
    out += hex[digest[i] >> 4];
    out += hex[digest[i] & 0xF];
  }
  return out;
}

std::optional<std::string> read_whole_file(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string data;
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    data.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return data;
}

Status write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(system_error_text(errno));
    }
    if (n == 0) return fail("failed to write whole buffer");
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return {};
}

// The entry appears whole or not at all: a crash or a second process never
// leaves a half-written file under the final name.
Status write_file_atomically(const std::string& path, std::string_view bytes) {
  // open() applies the umask to 0666 itself; changing the process-wide umask
  // to learn it would race with files other threads create meanwhile.
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return fail(system_error_text(errno));
  Status written = write_all(fd, bytes);
  if (::close(fd) != 0 && written) written = fail(system_error_text(errno));
  if (written && ::rename(temp.c_str(), path.c_str()) != 0)
    written = fail(system_error_text(errno));
  if (!written) ::unlink(temp.c_str());
  return written;
}

}  // namespace

std::optional<std::string> home_directory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && *home != '\0') return std::string(home);
  long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(suggested > 0 ? static_cast<size_t>(suggested) : 512);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buf.data(), buf.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] != '\0')
    return std::string(found->pw_dir);
  return std::nullopt;
}

std::optional<std::string> cache_key_text(const HardwareProfile& hardware,
                                          const std::string& model_path) {
  struct stat st {};
  if (::stat(model_path.c_str(), &st) != 0) return std::nullopt;
  uint64_t mtime = st.st_mtim.tv_sec > 0 ? static_cast<uint64_t>(st.st_mtim.tv_sec) : 0;
  return std::to_string(mtime) + "_" + std::to_string(static_cast<uint64_t>(st.st_size)) + "_" +
         to_json_compact(hardware);
}

std::optional<std::string> cache_key(const HardwareProfile& hardware,
                                     const std::string& model_path) {
  auto text = cache_key_text(hardware, model_path);
  if (!text) return std::nullopt;
  return sha256_hex(*text);
}

std::optional<std::string> cache_file_path(const std::string& key) {
  auto home = home_directory();
  if (!home) return std::nullopt;
  return (std::filesystem::path(*home) / ".quarlent" / "cache" / (key + ".json")).string();
}

std::string cached_result_json(const CachedResult& entry) {
  OrderedJson v = OrderedJson::object();
  v["result"] = to_json_value(entry.result);
  v["model_path"] = entry.model_path;
  v["created_at"] = entry.created_at;
  return write_json(v);
}

Expected<CachedResult> read_cached_result(std::string_view text) {
  auto v = parse_json_strict(text);
  if (!v) return std::unexpected(v.error());
  if (!v->is_object()) return fail("invalid type: expected CachedResult object");
  auto r = v->find("result");
  auto p = v->find("model_path");
  auto c = v->find("created_at");
  if (r == v->end()) return fail("missing field `result`");
  if (p == v->end()) return fail("missing field `model_path`");
  if (c == v->end()) return fail("missing field `created_at`");
  auto result = optimization_result_from_value(*r);
  if (!result) return std::unexpected(result.error());
  if (!p->is_string()) return fail("invalid type for `model_path`");
  if (!c->is_number_unsigned() && !(c->is_number_integer() && c->get<int64_t>() >= 0))
    return fail("invalid type for `created_at`");
  return CachedResult{*result, p->get<std::string>(), c->get<uint64_t>()};
}

std::optional<OptimizationResult> lookup_cached_result(const HardwareProfile& hardware,
                                                       const ModelProfile& model) {
  auto key = cache_key(hardware, model.model_path);
  if (!key) return std::nullopt;
  auto path = cache_file_path(*key);
  if (!path) return std::nullopt;
  auto text = read_whole_file(*path);
  if (!text || !is_valid_utf8(*text)) return std::nullopt;
  auto entry = read_cached_result(*text);
  if (!entry) return std::nullopt;
  return entry->result;
}

Status store_cached_result(const HardwareProfile& hardware, const ModelProfile& model,
                           const OptimizationResult& result) {
  auto key = cache_key(hardware, model.model_path);
  if (!key) return fail("could not compute cache key");
  auto path = cache_file_path(*key);
  if (!path) return fail("could not resolve cache directory");
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(*path).parent_path(), ec);
  if (ec) return fail(ec.message() + " (os error " + std::to_string(ec.value()) + ")");
  auto now = std::chrono::system_clock::now().time_since_epoch();
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now).count();
  CachedResult entry{result, decode_utf8_lossy(model.model_path),
                     seconds > 0 ? static_cast<uint64_t>(seconds) : 0};
  return write_file_atomically(*path, cached_result_json(entry));
}

}  // namespace bc
