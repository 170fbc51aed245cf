// Replaces the global allocation functions of the model test program: they
// still use malloc and free, and record the largest request while armed.

#include "model/alloc_probe.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<bool> armed{false};
std::atomic<size_t> largest_seen{0};

void* allocate(size_t n) {
  if (armed.load(std::memory_order_relaxed)) {
    size_t prev = largest_seen.load(std::memory_order_relaxed);
    while (n > prev && !largest_seen.compare_exchange_weak(prev, n)) {
    }
  }
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(size_t n) { return allocate(n); }
void* operator new[](size_t n) { return allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace bc::test {

AllocProbe::AllocProbe() {
  largest_seen = 0;
  armed = true;
}
AllocProbe::~AllocProbe() { armed = false; }
size_t AllocProbe::largest() const { return largest_seen.load(); }

}  // namespace bc::test
