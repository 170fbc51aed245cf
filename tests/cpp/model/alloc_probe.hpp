#pragma once
// Watches the size of every allocation the test program makes while a probe
// is alive, so a test can show that a corrupt length was not allocated.

#include <cstddef>

namespace bc::test {

class AllocProbe {
 public:
  AllocProbe();
  ~AllocProbe();
  AllocProbe(const AllocProbe&) = delete;
  AllocProbe& operator=(const AllocProbe&) = delete;
  // The largest single request seen since the probe was made.
  size_t largest() const;
};

}  // namespace bc::test
