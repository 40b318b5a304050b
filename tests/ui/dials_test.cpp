// Side-panel dials pressed with the mouse: the needle's tip, the direction a
// press takes against it, the accelerating repeats with their clamps, the
// limits during repeats, and which dials a mode leaves alone.
#include "ui/dials.h"

#include "head/switch_command.h"
#include "ui/ui_test_util.h"

namespace {

class Dials : public uitest::UiFixture {
 protected:
  void SetUp() override {
    UiFixture::SetUp();
    ResetDials();
  }
  static int Col(int dial) { return kDialColumns[dial]; }
};

TEST_F(Dials, NeedleSweepsThreeHundredDegreesClockwiseFromTheLowerLeft) {
  // The tip lies trunc(4 * 27 / 7) = 15 pixels out, coordinates rounded.
  struct Case {
    const char* legend;
    int displayGain;
    int dx, dy;  // tip relative to the dial's centre, y downward
  } cases[] = {
      {"1 %: just past the lower left (123 deg)", 1, -8, 13},
      {"50 %: straight up", 50, 0, -15},
      {"75 %: right of the top (-15 deg)", 75, 14, -4},
      {"80 %: level with the centre, on the right", 80, 15, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.DisplayGain = c.displayGain;
    int tx = 0, ty = 0;
    DialNeedleTip(kDialDisplayGain, &tx, &ty);
    EXPECT_EQ(tx - Col(kDialDisplayGain), c.dx);
    EXPECT_EQ(ty - kDialRow, c.dy);
  }
}

TEST_F(Dials, PressDirectionFollowsTheHalfAndTheNeedle) {
  const int c = Col(kDialDisplayGain);
  struct Case {
    const char* legend;
    int displayGain;
    int x, y;
    int expected;
  } cases[] = {
      // Needle on the right (75 %): the left half lowers, the right half
      // raises below the tip and lowers above it.
      {"tip right, left half", 75, c - 10, kDialRow, -1},
      {"tip right, right half below the tip", 75, c + 10, kDialRow + 5, 1},
      {"tip right, right half above the tip", 75, c + 10, kDialRow - 20, -1},
      // Needle on the left (10 %): the right half raises, the left half
      // raises above the tip and lowers below it.
      {"tip left, right half", 10, c + 10, kDialRow + 20, 1},
      {"tip left, left half above the tip", 10, c - 10, kDialRow - 5, 1},
      {"tip left, left half below the tip", 10, c - 10, kDialRow + 20, -1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.legend);
    g_settings.DisplayGain = k.displayGain;
    EXPECT_EQ(DialPressDirection(kDialDisplayGain, k.x, k.y), k.expected);
  }
  // Level with the tip on its own side: no step.
  g_settings.DisplayGain = 75;
  int tx = 0, ty = 0;
  DialNeedleTip(kDialDisplayGain, &tx, &ty);
  EXPECT_EQ(DialPressDirection(kDialDisplayGain, c + 20, ty), 0);
}

TEST_F(Dials, HeldPressAcceleratesAndIsClampedAtTheTop) {
  g_settings.DisplayGain = 50;
  // Right half, low: below the tip all the way up to 100 %.
  const int x = Col(kDialDisplayGain) + 20, y = kDialRow + 25;
  ASSERT_EQ(DialPressDirection(kDialDisplayGain, x, y), 1);
  ASSERT_EQ(DialPress(x, y), 1);
  std::vector<int> seen = {g_settings.DisplayGain};
  while (DialRepeat(x, y) && seen.size() < 20) seen.push_back(g_settings.DisplayGain);
  // Steps 1 1 1 1 1, then half the count: 2 3 3 4 4 5 5 ..., clamped at 100.
  const std::vector<int> expected = {51, 52, 53, 54, 55, 57, 60, 63, 67, 71, 76, 81, 86, 91, 96, 100, 100, 100, 100, 100};
  EXPECT_EQ(seen, expected);
  DialRelease();
  EXPECT_EQ(DialRepeat(x, y), 0);
}

TEST_F(Dials, HeldPressBringsTheNeedleToThePressAndStaysThere) {
  // A press above the centre on the right: the needle climbs round from the
  // left until its tip passes the press, then swings about it.
  g_settings.DisplayGain = 10;
  const int x = Col(kDialDisplayGain) + 12, y = kDialRow - 9;
  ASSERT_EQ(DialPress(x, y), 1);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(DialRepeat(x, y), 1);
  int tx = 0, ty = 0;
  DialNeedleTip(kDialDisplayGain, &tx, &ty);
  EXPECT_GE(tx, Col(kDialDisplayGain));
  EXPECT_LE(std::abs(ty - y), 6) << "display gain " << g_settings.DisplayGain;
  EXPECT_GT(g_settings.DisplayGain, 55);
  EXPECT_LT(g_settings.DisplayGain, 85);
}

TEST_F(Dials, LeavingTheFieldEndsTheRepeats) {
  g_settings.DisplayGain = 50;
  const int x = Col(kDialDisplayGain) + 20, y = kDialRow - 20;
  ASSERT_EQ(DialPress(x, y), 1);
  EXPECT_EQ(DialRepeat(x, y), 1);
  const int held = g_settings.DisplayGain;
  EXPECT_EQ(DialRepeat(x + kDialRadius + 5, y), 0);
  EXPECT_EQ(DialRepeat(x, y), 0);  // the press is over
  EXPECT_EQ(g_settings.DisplayGain, held);
}

TEST_F(Dials, RepeatsLeaveAValueAtItsLimitAlone) {
  // The left half does nothing at the maximum, the right half nothing at the minimum.
  struct Case {
    const char* legend;
    int value;
    int dx;
  } cases[] = {
      {"left half at 100", 100, -10},
      {"right half at 1", 1, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.DisplayGain = c.value;
    g_dialPress.dial = kDialDisplayGain;
    g_dialPress.count = 3;
    EXPECT_EQ(DialRepeat(Col(kDialDisplayGain) + c.dx, kDialRow - 10), 1);
    EXPECT_EQ(g_settings.DisplayGain, c.value);
  }
}

TEST_F(Dials, ModesLeaveTheirDialsAlone) {
  struct Case {
    const char* legend;
    int runMode, displayType, dial;
    int live;
  } cases[] = {
      {"range in Head mode", 0, 0, kDialRange, 1},
      {"range in File mode", 1, 0, kDialRange, 0},
      {"gain in File mode", 1, 0, kDialGain, 0},
      {"display gain in File mode", 1, 0, kDialDisplayGain, 1},
      {"persistence in Sector mode", 1, 0, kDialPersistence, 1},
      {"persistence in Profile mode", 0, 3, kDialPersistence, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.RunMode = c.runMode;
    g_settings.DisplayType = c.displayType;
    EXPECT_EQ(DialAt(Col(c.dial), kDialRow), c.live ? c.dial : -1);
    EXPECT_EQ(DialPress(Col(c.dial) + 5, kDialRow + 5), c.live);
  }
  EXPECT_EQ(DialAt(Col(kDialRange) - kDialRadius - 1, kDialRow), -1);
}

TEST_F(Dials, GainAndPersistenceAreClampedAndRangeStepsByCode) {
  g_settings.RunMode = 0;
  g_settings.Gain = g_headLimits.maxGain - 1;
  g_settings.Persistence = 1;
  const int range = g_settings.Range;
  // Gain: right half below the tip (the needle is at the right) raises it to the top.
  ASSERT_EQ(DialPress(Col(kDialGain) + 20, kDialRow + 20), 1);
  EXPECT_EQ(g_settings.Gain, g_headLimits.maxGain);
  // Persistence 1 s: the needle is at the lower left; the left half below it lowers to 0.
  ASSERT_EQ(DialPress(Col(kDialPersistence) - 20, kDialRow + 24), 1);
  EXPECT_EQ(g_settings.Persistence, 0);
  ASSERT_EQ(DialRepeat(Col(kDialPersistence) - 20, kDialRow + 24), 1);
  EXPECT_EQ(g_settings.Persistence, 0);
  // Range: one code per step, through the switch module's range request.
  int tx = 0, ty = 0;
  DialNeedleTip(kDialRange, &tx, &ty);
  const int up = tx >= Col(kDialRange) ? ty + 3 : ty - 3;  // the side of the tip that raises
  const int x = tx >= Col(kDialRange) ? Col(kDialRange) + 20 : Col(kDialRange) - 20;
  ASSERT_EQ(DialPressDirection(kDialRange, x, up), 1);
  ASSERT_EQ(DialPress(x, up), 1);
  EXPECT_EQ(g_settings.Range, range + 1);
}

TEST_F(Dials, ProfileModeShowsTheMixChoiceWhereThePersistenceDialStands) {
  const struct {
    const char* legend;
    int mode, choice;
    const char* expected;
  } cases[] = {
      {"high", kModeProfile, 0, "High Mix"},   {"medium", kModeProfile, 1, "Med Mix"},
      {"low", kModeProfile, 2, "Low Mix"},     {"points", kModeProfile, 3, "Points Only"},
      {"sector", kModeSector, 3, nullptr},     {"beam test", kModeBeamTest, 1, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.DisplayType = c.mode;
    g_settings.ProfileDisplayType = c.choice;
    const char* label = PanelMixLabel();
    if (c.expected) {
      ASSERT_NE(label, nullptr);
      EXPECT_STREQ(label, c.expected);
    } else {
      EXPECT_EQ(label, nullptr);
    }
  }
}

}  // namespace
