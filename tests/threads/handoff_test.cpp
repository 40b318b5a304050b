// The two hand-offs between threads that need no console lock: the frame
// triple buffer (a painter never sees a picture half drawn, nor an older one
// after a newer) and the console lock itself (exclusive, recursive, given up
// whole for a modal wait). Run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

#include "console/cycle_lock.h"
#include "platform/frame_handoff.h"
#include "platform/platform.h"

namespace {

TEST(FrameHandoff, ThePainterSeesOnlyWholePicturesInOrder) {
  plat::ResetFrames();
  EXPECT_EQ(plat::LatestFrame(plat::kWinSidescan), nullptr);
  constexpr int kW = 300, kH = 200, kFrames = 3000;
  std::atomic<int> done{0};
  std::thread drawer([&] {
    static uint8_t picture[kW * kH];
    uint32_t palette[256];
    for (int n = 1; n <= kFrames; ++n) {
      std::memset(picture, n & 0xFF, sizeof picture);
      for (uint32_t& p : palette) p = static_cast<uint32_t>(n);
      ASSERT_EQ(plat::PublishFrame(plat::kWinSidescan, picture, kW, kH, palette, 0, 0, kW - 1, kH - 1), 1);
    }
    done = 1;
  });
  int64_t last = 0;
  int taken = 0;
  int torn = 0;
  while (!done.load() || last < kFrames) {
    const plat::Frame* f = plat::LatestFrame(plat::kWinSidescan);
    if (f == nullptr) continue;
    ASSERT_GE(f->sequence, last);
    if (f->sequence == last) continue;
    last = f->sequence;
    ++taken;
    const uint8_t v = f->pixels[0];
    for (int i = 0; i < kW * kH; i += 97) torn += f->pixels[i] != v;
    torn += f->palette[255] != static_cast<uint32_t>(f->sequence);
    torn += v != static_cast<uint8_t>(f->sequence & 0xFF);
  }
  drawer.join();
  EXPECT_EQ(torn, 0);
  EXPECT_EQ(last, kFrames);  // the newest picture always arrives
  EXPECT_GT(taken, 1);
  EXPECT_EQ(plat::FramesPublished(plat::kWinSidescan), kFrames);
}

TEST(FrameHandoff, RefusesPicturesLargerThanASlot) {
  static uint8_t big[plat::kFrameMaxBytes];
  EXPECT_EQ(plat::PublishFrame(plat::kWinMain, big, plat::kFrameMaxWidth + 1, 10, nullptr, 0, 0, 0, 0), 0);
  EXPECT_EQ(plat::PublishFrame(plat::kFrameChannels, big, 10, 10, nullptr, 0, 0, 0, 0), 0);
  EXPECT_EQ(plat::PublishFrame(-1, big, 10, 10, nullptr, 0, 0, 0, 0), 0);
  // The channel after the windows carries the Profile waterfall picture, 500 x 518.
  EXPECT_EQ(plat::PublishFrame(plat::kFrameProfileWaterfall, big, 500, 518, nullptr, 0, 0, 499, 517), 1);
  const plat::Frame* f = plat::LatestFrame(plat::kFrameProfileWaterfall);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->width * f->height, 500 * 518);
  plat::ResetFrames();
}

TEST(CycleLock, ExcludesTheOtherThreadAndNestsOnItsOwn) {
  int shared = 0;  // a plain int: ThreadSanitizer checks the lock guards it
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      CycleLock outer;
      CycleLock inner;  // recursive on the owning thread
      ++shared;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(shared, 40000);
  EXPECT_EQ(CycleLockHeld(), 0);
}

TEST(CycleLock, SuspendGivesEveryLevelUpAndResumeTakesThemBack) {
  LockCycle();
  LockCycle();
  const int levels = SuspendCycleLock();
  EXPECT_EQ(levels, 2);
  EXPECT_EQ(CycleLockHeld(), 0);
  std::atomic<int> other{0};
  std::thread t([&] {
    CycleLock lock;  // free while suspended
    other = 1;
  });
  t.join();
  EXPECT_EQ(other.load(), 1);
  ResumeCycleLock(levels);
  EXPECT_EQ(CycleLockHeld(), 1);
  UnlockCycle();
  EXPECT_EQ(CycleLockHeld(), 1);  // one level still held
  UnlockCycle();
  EXPECT_EQ(CycleLockHeld(), 0);
  EXPECT_EQ(SuspendCycleLock(), 0);
}

}  // namespace

namespace {

// A thread that takes the lock ping after ping must still let a waiting
// thread in at the next boundary, not after an unbounded number of pings.
TEST(CycleLock, AWaitingThreadGetsInAtTheNextBoundary) {
  std::atomic<int> stop{0};
  std::atomic<long> pings{0};
  std::thread cycle([&] {
    while (!stop.load()) {
      CycleLock lock;
      volatile int work = 0;
      for (int i = 0; i < 20000; ++i) work = work + i;  // a ping's worth of work under the lock
      pings.fetch_add(1);
    }
  });
  while (pings.load() < 3) std::this_thread::yield();
  long worst = 0;
  for (int k = 0; k < 50; ++k) {
    const long before = pings.load();
    {
      CycleLock lock;  // the operator's command
    }
    worst = std::max(worst, pings.load() - before);
  }
  stop = 1;
  cycle.join();
  EXPECT_LE(worst, 3);  // in at the next ping boundary or the one after
}

}  // namespace
