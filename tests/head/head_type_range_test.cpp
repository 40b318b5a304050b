// A change of reported head type that lowers the longest range step: the
// range in use comes down to the new head's last step before the next
// command goes out, in Head mode only.
#include <gtest/gtest.h>

#include <cstdint>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "settings/settings.h"

namespace {

class HeadTypeRange : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettings();
    ResetSwitchState();
    ResetReturnData();
  }
  void TearDown() override { SetUp(); }
  int CommandedRangeM() {
    uint8_t cmd[kSwitchCommandBytes] = {};
    BuildSwitchCommand(cmd);
    return cmd[3];
  }
};

TEST_F(HeadTypeRange, ARangeAboveTheNewHeadsLastStepIsClampedAndCommanded) {
  g_settings.RunMode = 0;
  g_settings.Range = 11;  // 150 m on the start-up head
  EXPECT_EQ(CommandedRangeM(), 150);
  ASSERT_EQ(ApplyReportedHeadType(3), 1);  // a head that reaches 60 m (step 8)
  EXPECT_EQ(g_headLimits.maxStep, 8);
  EXPECT_EQ(g_settings.Range, 8);
  EXPECT_EQ(g_switch.pendingStep.load(), 8);
  EXPECT_EQ(g_switch.rangeChangePending.load(), 1);
  EXPECT_EQ(CommandedRangeM(), 60);
}

TEST_F(HeadTypeRange, RangesTheHeadReachesAndPlayedRangesStay) {
  struct Case {
    const char* legend;
    int runMode, range, reported, expectRange, expectPending;
  } cases[] = {
      {"head mode, 40 m on a 60 m head", 0, 6, 3, 6, 0},
      {"head mode, 60 m on a 60 m head", 0, 8, 3, 8, 0},
      {"head mode, 150 m on a 300 m head", 0, 11, 1, 11, 0},
      {"file mode: the played record's range", 1, 11, 3, 11, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SetUp();
    g_settings.RunMode = c.runMode;
    g_settings.Range = c.range;
    ASSERT_EQ(ApplyReportedHeadType(c.reported), 1);
    EXPECT_EQ(g_settings.Range, c.expectRange);
    EXPECT_EQ(g_switch.rangeChangePending.load(), c.expectPending);
  }
}

TEST_F(HeadTypeRange, AnAutomaticPulseFollowsTheClampedStep) {
  g_settings.RunMode = 0;
  g_settings.Range = 12;  // 200 m, reachable after the 120 kHz rule
  g_headLimits.maxStep = 14;
  g_switch.autoPulseLength = 1;
  g_settings.PulseLength = AutoPulseLength(12);
  ASSERT_NE(AutoPulseLength(12), AutoPulseLength(8));
  ASSERT_EQ(ApplyReportedHeadType(3), 1);
  EXPECT_EQ(g_settings.Range, 8);
  EXPECT_EQ(g_settings.PulseLength, AutoPulseLength(8));
}

}  // namespace
