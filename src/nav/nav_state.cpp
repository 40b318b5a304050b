// Navigation state shared by the GPS reader (which writes it on its own
// thread) and the recorder, outputs, XTF writer and track plotter (which read
// it on the acquisition and user-interface threads).
//
// The hand-off is a sequence lock. The published record lives in an array of
// 64-bit atomic words so that a reader racing a writer is never undefined
// behaviour: the writer makes the sequence odd, stores the words, makes it
// even again; a reader copies the words between two loads of the sequence
// and starts over when they differ or are odd. Two threads can write (the
// GPS reader for fixes, the acquisition thread for the fix-age time-out), so
// writers first take a mutex; readers never touch it, so the acquisition
// thread never waits on the lowest-priority reader thread to copy a fix.
// Owns the working record, the published words and the sequence.
#include "nav/nav_state.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

constexpr int kWords = (sizeof(NavSnapshot) + 7) / 8;
static_assert(sizeof(NavSnapshot) % 8 == 0, "snapshot must be whole words");

struct NavShared {
  // The writer's record: changed only between BeginNavWrite and EndNavWrite.
  NavSnapshot working;
  // Held by the one writer in progress (GPS reader or fix-age time-out).
  std::mutex writerLock;
  // Odd while a publish is in flight; raised by EndNavWrite only.
  std::atomic<uint64_t> sequence{0};
  // The published record, word by word; stored by EndNavWrite only.
  std::atomic<uint64_t> words[kWords];
  // Reader retries, counted by CopyNavSnapshot on any thread.
  std::atomic<uint64_t> retries{0};
  // The operator's hold; set by the user-interface thread.
  std::atomic<int> hold{0};
};

NavShared g_navShared;

void FreshRecord(NavSnapshot* n) {
  std::memset(n, 0, sizeof *n);
  n->latHemisphere = 'N';
  n->lonHemisphere = 'E';
}

// Caller holds the writer lock.
void Publish() {
  NavSnapshot& w = g_navShared.working;
  w.publishCount++;
  uint64_t buf[kWords];
  std::memcpy(buf, &w, sizeof w);
  const uint64_t s = g_navShared.sequence.load(std::memory_order_relaxed);
  g_navShared.sequence.store(s + 1, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (int i = 0; i < kWords; ++i) g_navShared.words[i].store(buf[i], std::memory_order_relaxed);
  g_navShared.sequence.store(s + 2, std::memory_order_release);
}

// Caller holds the writer lock.
int TimeOutStep(NavSnapshot* n) {
  n->fixAge++;
  if (n->fixAge != kFixAgeTimeoutS) return 0;
  // Ten seconds without a position sentence: what is left is stale, so it
  // must not go into records as if it were current.
  n->positionShown = 0;
  std::memset(n->latitude, 0, sizeof n->latitude);
  std::memset(n->longitude, 0, sizeof n->longitude);
  n->speedShown = 0;
  n->speedKnots = 0.0;
  return 1;
}

}  // namespace

void ResetNavState() {
  std::lock_guard<std::mutex> hold(g_navShared.writerLock);
  FreshRecord(&g_navShared.working);
  g_navShared.working.publishCount = static_cast<uint64_t>(-1);  // first publish makes it 0
  Publish();
  g_navShared.retries.store(0, std::memory_order_relaxed);
  g_navShared.hold.store(0, std::memory_order_relaxed);
}

void SetNavHold(int on) { g_navShared.hold.store(on ? 1 : 0, std::memory_order_relaxed); }
int NavHold() { return g_navShared.hold.load(std::memory_order_relaxed); }

void CopyNavSnapshot(NavSnapshot* out) {
  uint64_t buf[kWords];
  for (;;) {
    const uint64_t s1 = g_navShared.sequence.load(std::memory_order_acquire);
    if ((s1 & 1) == 0) {
      for (int i = 0; i < kWords; ++i) buf[i] = g_navShared.words[i].load(std::memory_order_relaxed);
      std::atomic_thread_fence(std::memory_order_acquire);
      if (g_navShared.sequence.load(std::memory_order_relaxed) == s1) break;
    }
    g_navShared.retries.fetch_add(1, std::memory_order_relaxed);
  }
  std::memcpy(out, buf, sizeof *out);
}

void CopyPositionTexts(char* latitude, char* longitude) {
  NavSnapshot n;
  CopyNavSnapshot(&n);
  std::memcpy(latitude, n.latitude, kPositionTextBytes);
  std::memcpy(longitude, n.longitude, kPositionTextBytes);
}

NavSnapshot* BeginNavWrite() {
  g_navShared.writerLock.lock();
  return &g_navShared.working;
}

void EndNavWrite() {
  Publish();
  g_navShared.writerLock.unlock();
}

int AdvanceFixAge() {
  NavSnapshot* n = BeginNavWrite();
  const int timedOut = TimeOutStep(n);
  EndNavWrite();
  return timedOut;
}

int ExpireFixNow() {
  NavSnapshot* n = BeginNavWrite();
  n->fixAge = kFixAgeTimeoutS - 1;
  const int timedOut = TimeOutStep(n);
  EndNavWrite();
  return timedOut;
}

// The program's first reader sees letters 'N' and 'E' as after a reset.
const int kInitialised = (ResetNavState(), 1);

uint64_t NavReadRetries() { return g_navShared.retries.load(std::memory_order_relaxed); }
