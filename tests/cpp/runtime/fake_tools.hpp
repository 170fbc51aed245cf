#pragma once
// Fake inference tools for the adapter tests: small shell scripts in a
// temporary directory that becomes the whole PATH. Each records its argv
// (argv[0] as the script sees it: its own path) and prints what the real
// tool would print.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bc::testing {

// Sets (or, with nullopt, unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    apply(value);
  }
  ~ScopedEnv() { apply(old_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void apply(const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name_.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name_.c_str());
    }
  }
  std::string name_;
  std::optional<std::string> old_;
};

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void write_file(const std::filesystem::path& p, std::string_view bytes,
                       bool executable = false) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ::chmod(p.c_str(), executable ? 0755 : 0644);
}

// A fresh temporary directory, removed with everything in it.
class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "bc_rt_XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct FakeRun {
  FakeRun() = default;
  FakeRun(std::string out_, std::string err_ = {}, int exit_code_ = 0, bool killed_ = false)
      : out(std::move(out_)), err(std::move(err_)), exit_code(exit_code_), killed(killed_) {}
  // Runs `commands` (e.g. an exec of the real program) after recording.
  static FakeRun shell_commands(std::string commands) {
    FakeRun r;
    r.shell = std::move(commands);
    return r;
  }

  std::string out;
  std::string err;
  int exit_code = 0;
  bool killed = false;      // ends itself with SIGKILL after printing
  bool save_stdin = false;  // keeps what it read on stdin
  std::string shell;        // extra shell commands run before printing
};

class FakeTools {
 public:
  // The tools directory is the whole PATH until destruction.
  FakeTools() : path_env_("PATH", (dir_ / "bin").string()) {
    std::filesystem::create_directories(dir_ / "bin");
  }

  const std::filesystem::path& root() const { return dir_.path(); }
  std::filesystem::path bin() const { return dir_ / "bin"; }
  std::filesystem::path tool_path(const std::string& name) const { return bin() / name; }

  // A tool that behaves as `run`, or as the entry of `when` whose key equals
  // one of its arguments.
  void add(const std::string& name, const FakeRun& run,
           const std::vector<std::pair<std::string, FakeRun>>& when = {}) {
    const std::filesystem::path data = dir_ / ("data_" + name);
    std::filesystem::create_directories(data);
    std::string s = "#!/bin/sh\n";
    s += "d='" + data.string() + "'\n";
    s += "{ printf '\\036%s\\037' \"$0\"; for a in \"$@\"; do printf '%s\\037' \"$a\"; done; } "
         ">> \"$d/calls\"\n";
    s += "mode=0\n";
    for (size_t i = 0; i < when.size(); ++i) {
      s += "for a in \"$@\"; do [ \"$a\" = '" + when[i].first +
           "' ] && mode=" + std::to_string(i + 1) + "; done\n";
    }
    s += "case $mode in\n";
    for (size_t i = 1; i <= when.size() + 1; ++i) {
      // The default branch goes last: case takes the first matching pattern.
      const bool fallback = i == when.size() + 1;
      const FakeRun& r = fallback ? run : when[i - 1].second;
      const std::string tag = std::to_string(i);
      write_file(data / (tag + ".out"), r.out);
      write_file(data / (tag + ".err"), r.err);
      s += (fallback ? std::string("*") : tag) + ")\n";
      if (r.save_stdin) s += "  /bin/cat > \"$d/stdin\"\n";
      if (!r.shell.empty()) s += "  " + r.shell + "\n";
      s += "  /bin/cat \"$d/" + tag + ".out\"\n";
      s += "  /bin/cat \"$d/" + tag + ".err\" >&2\n";
      if (r.killed) s += "  kill -9 $$\n";
      s += "  exit " + std::to_string(r.exit_code) + " ;;\n";
    }
    s += "esac\n";
    write_file(tool_path(name), s, true);
  }

  // Every call so far, each as the tool's path followed by the arguments.
  std::vector<std::vector<std::string>> calls(const std::string& name) const {
    std::vector<std::vector<std::string>> out;
    std::string log = read_file(dir_ / ("data_" + name) / "calls");
    size_t pos = 0;
    while ((pos = log.find('\036', pos)) != std::string::npos) {
      size_t end = log.find('\036', pos + 1);
      std::string record = log.substr(pos + 1, end == std::string::npos ? end : end - pos - 1);
      std::vector<std::string> argv;
      size_t start = 0, sep;
      while ((sep = record.find('\037', start)) != std::string::npos) {
        argv.push_back(record.substr(start, sep - start));
        start = sep + 1;
      }
      out.push_back(std::move(argv));
      pos = end == std::string::npos ? log.size() : end;
    }
    return out;
  }

  std::string saved_stdin(const std::string& name) const {
    return read_file(dir_ / ("data_" + name) / "stdin");
  }

  // A file outside the tools directory, e.g. a model.
  std::filesystem::path file(const std::string& name, std::string_view bytes) const {
    auto p = dir_ / "files" / name;
    write_file(p, bytes);
    return p;
  }

 private:
  TempDir dir_;
  ScopedEnv path_env_;
};

}  // namespace bc::testing
