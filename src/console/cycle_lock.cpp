// A recursive lock with an explicit owner and depth, so that a modal wait can
// give up every level at once and take them back afterwards. The owner is an
// atomic so that another thread's "is it mine?" check is not a data race.
//
// A plain mutex is not fair: the cycle thread lets go at the end of a ping
// and takes the lock again for the next one before a waiting user-interface
// thread has even woken, so against a fast head the operator's commands
// could wait for many pings. A thread that comes straight back while another
// waits therefore steps aside until the waiter is in (bounded, so a waiter
// that never wakes cannot stop the pings).
#include "console/cycle_lock.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace {

std::mutex g_mutex;
std::atomic<std::thread::id> g_owner{};
int g_depth = 0;  // touched only by the owner
std::atomic<long> g_contentions{0};
std::atomic<int> g_waiting{0};                 // threads blocked in LockCycle
std::atomic<std::thread::id> g_lastReleaser{};  // the thread that let go last
constexpr int kStepAsideYields = 20000;

}  // namespace

void LockCycle() {
  const std::thread::id self = std::this_thread::get_id();
  if (g_owner.load(std::memory_order_relaxed) == self) {
    ++g_depth;
    return;
  }
  for (int i = 0; i < kStepAsideYields && g_waiting.load() > 0 && g_lastReleaser.load() == self; ++i)
    std::this_thread::yield();
  if (!g_mutex.try_lock()) {
    g_contentions.fetch_add(1, std::memory_order_relaxed);
    g_waiting.fetch_add(1);
    g_mutex.lock();
    g_waiting.fetch_sub(1);
  }
  g_owner.store(self, std::memory_order_relaxed);
  g_depth = 1;
}

void UnlockCycle() {
  if (g_owner.load(std::memory_order_relaxed) != std::this_thread::get_id()) return;
  if (--g_depth > 0) return;
  g_owner.store(std::thread::id{}, std::memory_order_relaxed);
  g_lastReleaser.store(std::this_thread::get_id());
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
