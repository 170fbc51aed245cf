#pragma once
// Progress and warning lines go through a sink so tests can capture them;
// production writes each line whole to file descriptor 2.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace bc {

class LineSink {
 public:
  virtual ~LineSink() = default;
  // `line` has no trailing line feed; the sink adds it.
  virtual void write_line(std::string_view line) = 0;
};

// Writes "line\n" to fd 2 with one write call where possible.
LineSink& stderr_sink();

// Collects lines in memory; safe to share between threads.
class CaptureSink : public LineSink {
 public:
  void write_line(std::string_view line) override {
    std::lock_guard lock(mu_);
    lines_.emplace_back(line);
  }
  std::vector<std::string> lines() const {
    std::lock_guard lock(mu_);
    return lines_;
  }

 private:
  mutable std::mutex mu_;
  std::vector<std::string> lines_;
};

}  // namespace bc
