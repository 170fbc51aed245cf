#include "core/line_sink.hpp"

#include <unistd.h>

#include <cerrno>

namespace bc {
namespace {

class StderrSink : public LineSink {
 public:
  void write_line(std::string_view line) override {
    std::string whole(line);
    whole += '\n';
    const char* p = whole.data();
    size_t left = whole.size();
    while (left > 0) {
      ssize_t n = ::write(2, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        return;  // nowhere to report a failing stderr
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
  }
};

}  // namespace

LineSink& stderr_sink() {
  static StderrSink sink;
  return sink;
}

}  // namespace bc
