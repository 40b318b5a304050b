// A recursive lock with an explicit owner and depth, so that a modal wait can
// give up every level at once and take them back afterwards. The owner is an
// atomic so that another thread's "is it mine?" check is not a data race.
#include "console/cycle_lock.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace {

std::mutex g_mutex;
std::atomic<std::thread::id> g_owner{};
int g_depth = 0;  // touched only by the owner
std::atomic<long> g_contentions{0};

}  // namespace

void LockCycle() {
  const std::thread::id self = std::this_thread::get_id();
  if (g_owner.load(std::memory_order_relaxed) == self) {
    ++g_depth;
    return;
  }
  if (!g_mutex.try_lock()) {
    g_contentions.fetch_add(1, std::memory_order_relaxed);
    g_mutex.lock();
  }
  g_owner.store(self, std::memory_order_relaxed);
  g_depth = 1;
}

void UnlockCycle() {
  if (g_owner.load(std::memory_order_relaxed) != std::this_thread::get_id()) return;
  if (--g_depth > 0) return;
  g_owner.store(std::thread::id{}, std::memory_order_relaxed);
  g_mutex.unlock();
}

int CycleLockHeld() { return g_owner.load(std::memory_order_relaxed) == std::this_thread::get_id(); }

int SuspendCycleLock() {
  if (!CycleLockHeld()) return 0;
  const int levels = g_depth;
  g_depth = 1;
  UnlockCycle();
  return levels;
}

void ResumeCycleLock(int levels) {
  if (levels <= 0) return;
  LockCycle();
  g_depth += levels - 1;
}

long CycleLockContentions() { return g_contentions.load(std::memory_order_relaxed); }
