// Navigation state: the position copy under its flag and the fix-age time-out
// that drops a stale position.
#include <gtest/gtest.h>

#include <cstring>

#include "nav/nav_state.h"

namespace {

class NavStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetNavState();
    std::memcpy(g_nav.latitude, " 51.28.12345 N", kPositionTextBytes);
    std::memcpy(g_nav.longitude, "000.07.54321 W", kPositionTextBytes);
    g_nav.speedKnots = 6.5;
    g_nav.speedShown = 1;
    g_nav.positionShown = 1;
  }
};

TEST_F(NavStateTest, CopyTakesBothTextsAndLowersTheFlag) {
  char lat[kPositionTextBytes + 1] = {};
  char lon[kPositionTextBytes + 1] = {};
  CopyPositionTexts(lat, lon);
  EXPECT_STREQ(" 51.28.12345 N", lat);
  EXPECT_STREQ("000.07.54321 W", lon);
  EXPECT_EQ(0, g_nav.positionCopy.load());
}

TEST_F(NavStateTest, TenSecondsWithoutAFixDropTheStalePosition) {
  for (int s = 1; s < kFixAgeTimeoutS; ++s) {
    SCOPED_TRACE(s);
    EXPECT_EQ(0, AdvanceFixAge());
    EXPECT_EQ(' ', g_nav.latitude[0]);
    EXPECT_DOUBLE_EQ(6.5, g_nav.speedKnots);
  }
  EXPECT_EQ(1, AdvanceFixAge());
  const char zeros[kPositionTextBytes] = {};
  EXPECT_EQ(0, std::memcmp(zeros, g_nav.latitude, kPositionTextBytes));
  EXPECT_EQ(0, std::memcmp(zeros, g_nav.longitude, kPositionTextBytes));
  EXPECT_DOUBLE_EQ(0.0, g_nav.speedKnots);
  EXPECT_EQ(0, g_nav.speedShown);
  EXPECT_EQ(0, g_nav.positionShown);
  EXPECT_EQ(0, g_nav.positionCopy.load());
  // Later ticks do not repeat the time-out.
  EXPECT_EQ(0, AdvanceFixAge());
}

}  // namespace
