// Replaces the global operator new for the test programs. Allocation goes to
// malloc as usual; while counting is on, every call is counted.
#include "common/alloc_counter.h"

#include <cstdlib>
#include <new>

namespace {
std::atomic<int> g_counting{0};
std::atomic<long> g_count{0};

void* Allocate(std::size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) g_count.fetch_add(1, std::memory_order_relaxed);
  void* p = std::malloc(size ? size : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
}  // namespace

namespace alloc_counter {
void Start() {
  g_count = 0;
  g_counting = 1;
}
long Stop() {
  g_counting = 0;
  return g_count.load();
}
}  // namespace alloc_counter

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
