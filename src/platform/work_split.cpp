// The ping's helper thread. One thread, started and stopped between pings,
// waits for a split, runs part 1 of it and reports back. A split takes a few
// hundred microseconds, so the helper spins briefly before it sleeps: pings
// that follow each other closely (a conversion, a fast head) find it awake,
// while a console idling between pings does not keep a core busy.
//
// Owned here: the helper thread and the job slot (function, context, the job
// and done words). The slot is written by the caller before the job word is
// published (release) and read by the taker after it claims the job
// (acquire); the mutex only guards the helper's sleep.
#include "platform/work_split.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace plat {
namespace {

// The job word holds the split's generation shifted left by one and, in bit
// 0, whether part 1 still waits for a taker. Whoever clears the bit (the
// helper, or the caller once its own part is done) runs part 1, so a helper
// that is asleep or descheduled never holds the ping up.
struct SplitState {
  std::thread helper;
  std::mutex sleepMutex;
  std::condition_variable wake;
  std::atomic<unsigned long long> job{0};   // written by the caller (post) and the taker (claim)
  std::atomic<unsigned long long> done{0};  // generation whose part 1 finished; written by its taker
  std::atomic<SplitFn> fn{nullptr};         // the job, stable from post until done
  std::atomic<void*> ctx{nullptr};
  std::atomic<int> running{0};              // 1 while the helper thread exists
  std::atomic<int> stop{0};

  // A program that leaves without StopWorkSplit (an exit path that never
  // reaches the console's shutdown) must not destroy the mutex and the
  // condition the helper waits on under it: that blocks the exit for good.
  ~SplitState() { StopHelper(*this); }
  static void StopHelper(SplitState& st);
};

// Set while this thread is inside a split: a split asked for from within a
// part runs inline.
thread_local int t_inSplit = 0;

SplitState s_split;

constexpr auto kSpin = std::chrono::microseconds(200);

inline void Pause() {
#if defined(__x86_64__)
  __builtin_ia32_pause();
#endif
}

// Takes part 1 of the posted job if nobody has; runs it and reports it done.
bool TakeAndRun() {
  unsigned long long j = s_split.job.load(std::memory_order_acquire);
  if (!(j & 1ull)) return false;
  if (!s_split.job.compare_exchange_strong(j, j & ~1ull, std::memory_order_acq_rel)) return false;
  t_inSplit = 1;
  s_split.fn.load(std::memory_order_relaxed)(s_split.ctx.load(std::memory_order_relaxed), 1, 2);
  t_inSplit = 0;
  s_split.done.store(j >> 1, std::memory_order_release);
  return true;
}

bool Pending() {
  return (s_split.job.load(std::memory_order_acquire) & 1ull) || s_split.stop.load(std::memory_order_acquire);
}

void HelperLoop() {
  for (;;) {
    // The clock is read once per 64 pauses: reading it on every pause made
    // the spin itself a visible cost.
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (int n = 1; !Pending(); ++n) {
      Pause();
      if ((n & 63) == 0 && std::chrono::steady_clock::now() >= until) break;
    }
    if (!Pending()) {
      std::unique_lock<std::mutex> lock(s_split.sleepMutex);
      s_split.wake.wait(lock, Pending);
    }
    if (s_split.stop.load(std::memory_order_acquire)) return;
    TakeAndRun();
  }
}

}  // namespace

int StartWorkSplit(int threads) {
  StopWorkSplit();
  if (threads != 2 || std::thread::hardware_concurrency() < 2) return WorkSplitParts();
  s_split.stop.store(0, std::memory_order_release);
  s_split.helper = std::thread(HelperLoop);
  s_split.running.store(1, std::memory_order_release);
  return WorkSplitParts();
}

void SplitState::StopHelper(SplitState& st) {
  if (!st.running.load(std::memory_order_acquire)) return;
  {
    std::lock_guard<std::mutex> lock(st.sleepMutex);
    st.stop.store(1, std::memory_order_release);
  }
  st.wake.notify_one();
  st.helper.join();
  st.running.store(0, std::memory_order_release);
}

void StopWorkSplit() { SplitState::StopHelper(s_split); }

int WorkSplitParts() { return s_split.running.load(std::memory_order_acquire) ? 2 : 1; }

void RunSplit(SplitFn fn, void* ctx) {
  if (!s_split.running.load(std::memory_order_acquire) || t_inSplit) {
    fn(ctx, 0, 1);
    return;
  }
  t_inSplit = 1;
  s_split.fn.store(fn, std::memory_order_relaxed);
  s_split.ctx.store(ctx, std::memory_order_relaxed);
  const unsigned long long gen = (s_split.job.load(std::memory_order_relaxed) >> 1) + 1;
  {
    // Posting under the mutex orders it against a helper about to sleep, so
    // the wake-up cannot fall between its check and its wait.
    std::lock_guard<std::mutex> lock(s_split.sleepMutex);
    s_split.job.store((gen << 1) | 1ull, std::memory_order_release);
  }
  s_split.wake.notify_one();
  fn(ctx, 0, 2);
  if (!TakeAndRun())
    while (s_split.done.load(std::memory_order_acquire) != gen) Pause();
  t_inSplit = 0;
}

}  // namespace plat
