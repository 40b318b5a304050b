// Navigation state: the fix-age time-out that drops a stale position, and the
// sequence-locked hand-off between the GPS reader and the readers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "common/alloc_counter.h"
#include "common/nav_edit.h"
#include "nav/nav_state.h"

namespace {

class NavStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetNavState();
    testutil::NavEdit nav;
    std::memcpy(nav->latitude, " 51.28.12345 N", kPositionTextBytes);
    std::memcpy(nav->longitude, "000.07.54321 W", kPositionTextBytes);
    nav->speedKnots = 6.5;
    nav->speedShown = 1;
    nav->positionShown = 1;
  }
};

TEST_F(NavStateTest, CopyTakesBothTextsOfThePublishedFix) {
  char lat[kPositionTextBytes + 1] = {};
  char lon[kPositionTextBytes + 1] = {};
  CopyPositionTexts(lat, lon);
  EXPECT_STREQ(" 51.28.12345 N", lat);
  EXPECT_STREQ("000.07.54321 W", lon);
}

TEST_F(NavStateTest, ResetLeavesNoFixAndDefaultLetters) {
  ResetNavState();
  const NavSnapshot n = testutil::NavNow();
  const char zeros[kPositionTextBytes] = {};
  EXPECT_EQ(0, std::memcmp(zeros, n.latitude, kPositionTextBytes));
  EXPECT_EQ('N', n.latHemisphere);
  EXPECT_EQ('E', n.lonHemisphere);
  EXPECT_EQ(0u, n.publishCount);
  EXPECT_DOUBLE_EQ(0.0, n.speedKnots);
}

TEST_F(NavStateTest, FixAgeTimeOutClearsTextsAndSpeedOnTheTenthSecond) {
  for (int i = 1; i < kFixAgeTimeoutS; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(0, AdvanceFixAge());
    const NavSnapshot n = testutil::NavNow();
    EXPECT_EQ(' ', n.latitude[0]);
    EXPECT_DOUBLE_EQ(6.5, n.speedKnots);
    EXPECT_EQ(i, n.fixAge);
  }
  EXPECT_EQ(1, AdvanceFixAge());
  const NavSnapshot n = testutil::NavNow();
  const char zeros[kPositionTextBytes] = {};
  EXPECT_EQ(0, std::memcmp(zeros, n.latitude, kPositionTextBytes));
  EXPECT_EQ(0, std::memcmp(zeros, n.longitude, kPositionTextBytes));
  EXPECT_DOUBLE_EQ(0.0, n.speedKnots);
  EXPECT_EQ(0, n.speedShown);
  EXPECT_EQ(0, n.positionShown);
  // Only the passage from 9 to 10 times out; later ticks leave it alone.
  EXPECT_EQ(0, AdvanceFixAge());
}

TEST_F(NavStateTest, ExpireNowTimesOutAtOnce) {
  EXPECT_EQ(1, ExpireFixNow());
  EXPECT_EQ('\0', testutil::NavNow().latitude[0]);
  EXPECT_DOUBLE_EQ(0.0, testutil::NavNow().speedKnots);
}

TEST_F(NavStateTest, SnapshotCopyAllocatesNothing) {
  NavSnapshot n;
  alloc_counter::Start();
  for (int i = 0; i < 100; ++i) CopyNavSnapshot(&n);
  EXPECT_EQ(0, alloc_counter::Stop());
}

// A writer thread alternates between two complete fixes whose every field
// differs; a reader on another thread must only ever see one of them whole.
TEST(NavHandOff, ReaderNeverSeesAMixOfTwoFixes) {
  ResetNavState();
  struct Fix {
    const char* lat;
    const char* lon;
    double speed, course, heading;
    int headingValid;
  };
  const Fix fixes[2] = {
      {" 51.28.12345 N", "000.07.54321 W", 4.5, 90.0, 91.5, 1},
      {" 12.34.99999 S", "123.45.00001 E", 17.25, 271.0, 3.0, 0},
  };
  std::atomic<int> stop{0};
  std::atomic<long> written{0};
  std::thread writer([&] {
    for (long i = 0; !stop.load(std::memory_order_relaxed); ++i) {
      const Fix& f = fixes[i & 1];
      NavSnapshot* n = BeginNavWrite();
      std::memcpy(n->latitude, f.lat, kPositionTextBytes);
      std::memcpy(n->longitude, f.lon, kPositionTextBytes);
      n->speedKnots = f.speed;
      n->courseDeg = f.course;
      n->trueHeadingDeg = f.heading;
      n->trueHeadingValid = f.headingValid;
      EndNavWrite();
      written.fetch_add(1, std::memory_order_relaxed);
    }
  });
  while (written.load() == 0) std::this_thread::yield();
  long mixed = 0, reads = 0, seen[2] = {0, 0};
  // Until both fixes were seen many times over many publishes; a busy
  // machine may keep the writer off the processor for a while.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (; std::chrono::steady_clock::now() < deadline; ++reads) {
    if (reads >= 200000 && seen[0] > 1000 && seen[1] > 1000 && written.load() > 2000) break;
    NavSnapshot n;
    CopyNavSnapshot(&n);
    int which = -1;
    for (int k = 0; k < 2; ++k) {
      const Fix& f = fixes[k];
      if (std::memcmp(n.latitude, f.lat, kPositionTextBytes) == 0 &&
          std::memcmp(n.longitude, f.lon, kPositionTextBytes) == 0 && n.speedKnots == f.speed &&
          n.courseDeg == f.course && n.trueHeadingDeg == f.heading && n.trueHeadingValid == f.headingValid)
        which = k;
    }
    if (which < 0) {
      ++mixed;
    } else {
      ++seen[which];
    }
  }
  stop = 1;
  writer.join();
  EXPECT_EQ(0, mixed) << "of " << reads << " reads";
  EXPECT_GT(seen[0], 1000);
  EXPECT_GT(seen[1], 1000);
  EXPECT_GT(written.load(), 2000);
  RecordProperty("reads_retried", static_cast<int>(NavReadRetries()));
}

}  // namespace
