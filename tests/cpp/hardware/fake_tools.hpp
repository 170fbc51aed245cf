#pragma once
// Fake vendor tools: shell scripts in a temporary directory that becomes the
// whole of PATH while the fixture lives.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace bc::testing {

class FakeToolDir {
 public:
  FakeToolDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "bc-hw-XXXXXX").string();
    if (::mkdtemp(templ.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    dir_ = templ;
    if (const char* old = std::getenv("PATH")) old_path_ = old;
    ::setenv("PATH", dir_.c_str(), 1);
  }
  ~FakeToolDir() {
    if (old_path_) {
      ::setenv("PATH", old_path_->c_str(), 1);
    } else {
      ::unsetenv("PATH");
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  FakeToolDir(const FakeToolDir&) = delete;
  FakeToolDir& operator=(const FakeToolDir&) = delete;

  // A tool that appends "name args..." to the call log, then runs `body`
  // (PATH inside it is only this directory: use absolute paths).
  void add(const std::string& name, const std::string& body) {
    std::filesystem::path path = dir_ / name;
    {
      std::ofstream f(path);
      f << "#!/bin/sh\necho \"${0##*/} $*\" >> '" << log_path().string() << "'\n" << body << "\n";
    }
    ::chmod(path.c_str(), 0755);
  }

  // A plain file beside the tools; a tool finds it as "${0%/*}/<name>".
  std::string write_data(const std::string& name, const std::string& content) {
    std::filesystem::path data = dir_ / name;
    std::ofstream(data, std::ios::binary) << content;
    return data.string();
  }

  // Prints `out` verbatim and exits with `status`.
  void add_printing(const std::string& name, const std::string& out, int status = 0) {
    std::string data = write_data(name + ".out", out);
    add(name, "/bin/cat '" + data + "'\nexit " + std::to_string(status));
  }

  std::string calls() const {
    std::ifstream f(log_path());
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
  }

 private:
  std::filesystem::path log_path() const { return dir_ / "calls.log"; }
  std::filesystem::path dir_;
  std::optional<std::string> old_path_;
};

}  // namespace bc::testing
