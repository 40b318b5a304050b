// The ping's split helper: every part of every split runs exactly once, the
// caller sees the helper's writes when RunSplit returns, nested splits run
// inline, and starting and stopping between splits leaves nothing behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/work_split.h"

namespace {

struct Fill {
  int* cells;
  int count;
  int stamp;
  std::atomic<int> calls{0};
  std::atomic<int> partsSeen{0};
};

void FillPart(void* ctx, int part, int parts) {
  Fill* f = static_cast<Fill*>(ctx);
  f->calls.fetch_add(1);
  f->partsSeen.store(parts);
  int b, e;
  plat::SplitRange(f->count, part, parts, &b, &e);
  for (int i = b; i < e; ++i) f->cells[i] += f->stamp + i;
}

class WorkSplit : public ::testing::Test {
 protected:
  void TearDown() override { plat::StopWorkSplit(); }
};

TEST_F(WorkSplit, EveryCellWrittenOnceWithAndWithoutHelper) {
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    const int parts = plat::StartWorkSplit(threads);
    EXPECT_EQ(parts, threads == 2 && std::thread::hardware_concurrency() > 1 ? 2 : 1);
    std::vector<int> cells(999, 0);
    Fill f{cells.data(), 999, 0};
    for (int round = 0; round < 3000; ++round) {
      f.stamp = round;
      // The helper's half must be visible when this returns: the next
      // round adds to it, and a lost or late write shows in the total.
      plat::RunSplit(FillPart, &f);
    }
    for (int i = 0; i < 999; ++i) {
      // Sum over rounds of (round + i).
      ASSERT_EQ(cells[i], 3000LL * 2999 / 2 + 3000LL * i) << "cell " << i;
    }
    EXPECT_EQ(f.calls.load(), 3000 * parts);
    EXPECT_EQ(f.partsSeen.load(), parts);
    plat::StopWorkSplit();
    EXPECT_EQ(plat::WorkSplitParts(), 1);
  }
}

void Nested(void* ctx, int part, int) {
  Fill* f = static_cast<Fill*>(ctx);
  // From inside a part a split is one part on this thread. Each part fills
  // its own cell: the two parts run at the same time.
  Fill inner{f->cells + part, 1, 5};
  plat::RunSplit(FillPart, &inner);
  f->calls.fetch_add(inner.partsSeen.load() == 1 ? 1 : 100);
}

TEST_F(WorkSplit, SplitInsideAPartRunsInline) {
  plat::StartWorkSplit(2);
  int cells[2] = {0, 0};
  Fill f{cells, 2, 0};
  plat::RunSplit(Nested, &f);
  EXPECT_EQ(f.calls.load(), plat::WorkSplitParts());
}

TEST_F(WorkSplit, RestartsBetweenSplitsAndAfterIdleSleep) {
  std::vector<int> cells(64, 0);
  Fill f{cells.data(), 64, 1};
  for (int cycle = 0; cycle < 20; ++cycle) {
    plat::StartWorkSplit(2);
    plat::RunSplit(FillPart, &f);
    if (cycle % 5 == 0) {
      // Long enough for the helper to stop spinning and sleep.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      plat::RunSplit(FillPart, &f);
    }
    plat::StopWorkSplit();
  }
  const int runs = 20 + 4;
  for (int i = 0; i < 64; ++i) ASSERT_EQ(cells[i], runs * (1 + i)) << "cell " << i;
}

// A program may exit with the helper still running; the exit must not wait
// for ever on it (the alarm ends a child that hangs).
TEST(WorkSplitExit, ExitWithTheHelperRunningEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        alarm(20);
        plat::StartWorkSplit(2);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(WorkSplitRange, PartsCoverTheRangeWithoutOverlap) {
  for (int count : {0, 1, 2, 7, 480, 481}) {
    for (int parts : {1, 2, 3}) {
      int next = 0;
      for (int p = 0; p < parts; ++p) {
        int b, e;
        plat::SplitRange(count, p, parts, &b, &e);
        EXPECT_EQ(b, next) << count << "/" << parts;
        EXPECT_LE(e - b, count / parts + 1);
        next = e;
      }
      EXPECT_EQ(next, count);
    }
  }
}

}  // namespace
