#include "head/switch_command.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "head/return_data.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace {

class SwitchCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettings();
    ResetSwitchState();
    ResetReturnData();
  }
  void TearDown() override {
    ResetSettings();
    ResetSwitchState();
    ResetReturnData();
  }
  uint8_t cmd_[kSwitchCommandBytes] = {};
  void Build() {
    std::memset(cmd_, 0xAA, sizeof cmd_);
    BuildSwitchCommand(cmd_);
  }
};

struct ByteCase {
  const char* legend;
  std::function<void()> setup;
  int index;
  int expected;
};

TEST_F(SwitchCommandTest, CommandBytesFollowTheSettings) {
  const ByteCase cases[] = {
      {"start byte", [] {}, 0, 0xFE},
      {"command letter D", [] {}, 1, 0x44},
      {"byte 2", [] {}, 2, 0x10},
      {"byte 9", [] {}, 9, 1},
      {"byte 20", [] {}, 20, 8},
      {"end byte", [] {}, 26, 0xFD},
      {"default 30 m", [] {}, 3, 30},
      {"step 0 sent as 1 m", [] { g_settings.Range = 0; }, 3, 1},
      {"200 m as itself", [] { g_settings.Range = 12; }, 3, 200},
      {"250 m", [] { g_settings.Range = 13; }, 3, 201},
      {"300 m", [] { g_settings.Range = 14; }, 3, 202},
      {"400 m", [] { g_settings.Range = 15; }, 3, 203},
      {"500 m", [] { g_settings.Range = 16; }, 3, 204},
      {"range offset low byte", [] { g_switch.rangeOffset = 300; }, 4, 300 & 0xFF},
      {"start gain", [] { g_settings.Gain = 17; }, 8, 17},
      {"frequency coefficient", [] { g_headLimits.FrequencyCoefficient = 170; }, 10, 170},
      {"packet index", [] { g_switch.packetIndex = 5; }, 13, 5},
      {"pulse 185 us in tens", [] { g_settings.PulseLength = 185; }, 14, 18},
      {"pulse 2500 us", [] { g_settings.PulseLength = 2500; }, 14, 250},
      {"trigger control", [] { g_settings.ExternalTriggerControl = 3; }, 16, 3},
      {"trigger delay high", [] { g_settings.ExternalTriggerXmitDelay = 10000; }, 17, 0x27},
      {"trigger delay low", [] { g_settings.ExternalTriggerXmitDelay = 10000; }, 18, 0x10},
      {"packets of type U", [] {}, 19, 8},
      {"packets of type Y", [] { g_switch.dataType = 3; }, 19, 32},
      {"packets of type V", [] { g_switch.dataType = 1; }, 19, 16},
      {"transmit enabled", [] {}, 22, 0},
      {"transmit disabled", [] { g_switch.transmitDisabled = 1; }, 22, 1},
      {"switch delay halved", [] { g_settings.SwitchDelay = 5; }, 24, 2},
      {"switch delay 500", [] { g_settings.SwitchDelay = 500; }, 24, 250},
      {"260 kHz", [] { g_settings.Frequency = 260; }, 25, 86},
      {"675 kHz", [] { g_settings.Frequency = 675; }, 25, 169},
      {"120 kHz", [] { g_settings.Frequency = 120; }, 25, 58},
      {"1700 kHz on head type 9",
       [] {
         g_settings.Frequency = 1700;
         g_switch.headTypeSetting = 9;
       },
       25, 68},
  };
  for (const ByteCase& c : cases) {
    SCOPED_TRACE(c.legend);
    ResetSettings();
    ResetSwitchState();
    ResetReturnData();
    c.setup();
    Build();
    EXPECT_EQ(cmd_[c.index], c.expected);
  }
  // The unused bytes are zero whatever the settings.
  ResetSettings();
  g_settings.Gain = 20;
  g_settings.ExternalTriggerXmitDelay = 0xFFFF;
  g_switch.rangeOffset = 0xFFFF;
  Build();
  for (int i : {5, 6, 7, 11, 12, 15, 21, 23}) {
    SCOPED_TRACE(i);
    EXPECT_EQ(cmd_[i], 0);
  }
}

TEST_F(SwitchCommandTest, RangeAndFrequencyCodes) {
  EXPECT_EQ(RangeCode(1), 1);
  EXPECT_EQ(RangeCode(150), 150);
  EXPECT_EQ(RangeCode(200), 200);
  EXPECT_EQ(RangeCode(250), 201);
  EXPECT_EQ(RangeCode(500), 204);
  // (f - 330) / 5 truncates toward zero on both sides of 330 kHz.
  EXPECT_EQ(FrequencyCode(326, 4), 100);
  EXPECT_EQ(FrequencyCode(334, 4), 100);
  EXPECT_EQ(FrequencyCode(335, 4), 101);
  EXPECT_EQ(FrequencyCode(1700, 4), (274 + 100) & 0xFF);
  EXPECT_EQ(FrequencyCode(1750, 9), 69);
}

TEST_F(SwitchCommandTest, CommandClearsPingValidAndTakesNewDataType) {
  g_ping.pingValid = 1;
  g_switch.dataType = 2;
  Build();
  EXPECT_EQ(g_ping.pingValid, 0);
  EXPECT_EQ(g_ping.expectedType, 2);
  EXPECT_EQ(g_switch.processingResetRequested.load(), 1);
  g_switch.processingResetRequested = 0;
  Build();
  EXPECT_EQ(g_switch.processingResetRequested.load(), 0);
  // A type change waits for the start of the next ping.
  g_switch.dataType = 3;
  g_switch.packetIndex = 4;
  Build();
  EXPECT_EQ(cmd_[19], 16);
  EXPECT_EQ(cmd_[13], 4);
}

TEST_F(SwitchCommandTest, AutoPulseLengthFollowsRange) {
  EXPECT_EQ(AutoPulseLength(0), 10);    // 1.5 m
  EXPECT_EQ(AutoPulseLength(2), 30);    // 5 m
  EXPECT_EQ(AutoPulseLength(5), 180);   // 30 m
  EXPECT_EQ(AutoPulseLength(16), 2500); // 500 m: 3000 capped
  g_settings.PulseLengthMultiplier = 2.0;
  EXPECT_EQ(AutoPulseLength(16), 2500);
  EXPECT_EQ(AutoPulseLength(5), 360);
  g_settings.PulseLengthMultiplier = 1.5;
  EXPECT_EQ(AutoPulseLength(0), 15);
  EXPECT_EQ(AutoPulseLengthWith(3, 1.0), 60);  // 10 m
}

struct HalfRangeCase {
  const char* legend;
  int minStep;
  int halfBefore;
  int request;
  int step;
  int halfAfter;
};

TEST_F(SwitchCommandTest, RangeRequestsFollowTheHalfRangeRule) {
  const HalfRangeCase cases[] = {
      {"half range on, longer step asked: smallest step, still half", 2, 1, 7, 2, 1},
      {"below the smallest step of a short head: half range", 2, 0, 1, 2, 1},
      {"below the smallest step 0: held at 0, half range", 0, 0, -1, 0, 1},
      {"half range on, smallest step asked: half range off", 2, 1, 2, 2, 0},
      {"below a smallest step of 3: clamped, no half range", 3, 0, 1, 3, 0},
      {"above the largest step: clamped", 2, 0, 15, 11, 0},
      {"ordinary step", 2, 0, 7, 7, 0},
  };
  for (const HalfRangeCase& c : cases) {
    SCOPED_TRACE(c.legend);
    ResetSettings();
    ResetSwitchState();
    g_headLimits.minStep = c.minStep;
    g_settings.HalfRange = c.halfBefore;
    EXPECT_EQ(RequestRangeStep(c.request), c.step);
    EXPECT_EQ(g_settings.Range, c.step);
    EXPECT_EQ(g_settings.HalfRange, c.halfAfter);
    EXPECT_EQ(g_switch.pendingStep.load(), c.step);
    EXPECT_EQ(g_switch.rangeChangePending.load(), 1);
  }
}

TEST_F(SwitchCommandTest, SelectingAStepClampsOffsetAndFollowsAutoPulse) {
  g_switch.rangeOffset = 150;
  g_switch.autoPulseLength = 1;
  RequestRangeStep(3);  // 10 m: offset at most 40
  EXPECT_EQ(g_switch.rangeOffset, 40);
  EXPECT_EQ(g_settings.PulseLength, 60);
  g_switch.autoPulseLength = 0;
  g_settings.PulseLength = 500;
  RequestRangeStep(9);
  EXPECT_EQ(g_switch.rangeOffset, 40);
  EXPECT_EQ(g_settings.PulseLength, 500);
}

TEST_F(SwitchCommandTest, FileModeIgnoresRangeRequests) {
  g_settings.RunMode = 1;
  g_settings.Range = 6;
  EXPECT_EQ(RequestRangeStep(9), 6);
  EXPECT_EQ(g_settings.Range, 6);
  EXPECT_EQ(g_switch.rangeChangePending.load(), 0);
}

TEST_F(SwitchCommandTest, PendingStepDrivesByteThreeUntilTheRunModeChanges) {
  RequestRangeStep(7);
  EXPECT_EQ(g_switch.rangeChangeSent.load(), 0);
  g_settings.Range = 3;  // e.g. a played record's value: the command keeps the request
  Build();
  EXPECT_EQ(cmd_[3], 50);
  EXPECT_EQ(g_switch.rangeChangeSent.load(), 1);
  Build();
  EXPECT_EQ(cmd_[3], 50);
  ClearRangeChangeMarks();
  Build();
  EXPECT_EQ(cmd_[3], 10);
}

TEST_F(SwitchCommandTest, RangeRequestMarksAtOnceAndTheWaitForThePingEndsAfterHalfASecond) {
  g_switch.pingInProgress = 1;
  auto t0 = std::chrono::steady_clock::now();
  RequestRangeStep(6);
  auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(ms, 100.0) << "the request itself never waits";
  EXPECT_EQ(g_switch.rangeChangePending.load(), 1);
  t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForPingInProgress(), 0);
  ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_GE(ms, 490.0);
  EXPECT_LT(ms, 5000.0);  // bounded, with room for a loaded machine
}

TEST_F(SwitchCommandTest, AcquisitionThreadSeesTheRequestWhileTheUserWaits) {
  g_switch.pingInProgress = 1;
  std::atomic<int> byte3{-1};
  // The acquisition side: as soon as a change is pending, build the next
  // command, then end the ping so the requesting thread may go on.
  std::thread acquisition([&] {
    while (!g_switch.rangeChangePending.load()) std::this_thread::yield();
    uint8_t cmd[kSwitchCommandBytes];
    BuildSwitchCommand(cmd);
    byte3 = cmd[3];
    g_switch.pingInProgress = 0;
  });
  const auto t0 = std::chrono::steady_clock::now();
  RequestRangeStep(10);
  EXPECT_EQ(WaitForPingInProgress(), 1);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  acquisition.join();
  EXPECT_EQ(byte3.load(), 100);
  EXPECT_EQ(g_switch.rangeChangeSent.load(), 1);
  EXPECT_LT(ms, 490.0);  // released by the end of the ping, not by the time-out
}

struct HeadTypeCase {
  int reported;
  int setting;
  int coefficient;
  int defaultKHz;
};

// Types the table does not list take the start-up head's configuration.
TEST_F(SwitchCommandTest, AnUnlistedReportedHeadTypeIsTheStartupHead) {
  const HeadTypeCase cases[] = {{0, 4, 10, 260}, {6, 4, 10, 260}, {255, 4, 10, 260}};
  for (const HeadTypeCase& c : cases) {
    SCOPED_TRACE(c.reported);
    ResetSettings();
    ResetSwitchState();
    EXPECT_EQ(ApplyReportedHeadType(c.reported), 1);
    EXPECT_EQ(g_switch.headTypeSetting, c.setting);
    EXPECT_EQ(g_headLimits.FrequencyCoefficient, c.coefficient);
    EXPECT_EQ(g_headLimits.headDefaultFreqKHz, c.defaultKHz);
  }
}

TEST_F(SwitchCommandTest, HeadTypeChangeMovesLiveFrequencyAndRequestsReset) {
  g_settings.Frequency = 250;
  EXPECT_EQ(ApplyReportedHeadType(2), 1);  // setting 6: its default frequency
  EXPECT_EQ(g_settings.Frequency, 675);
  EXPECT_EQ(g_switch.processingResetRequested.load(), 1);
  g_switch.processingResetRequested = 0;
  EXPECT_EQ(ApplyReportedHeadType(2), 0);  // the same type again: nothing
  EXPECT_EQ(g_switch.processingResetRequested.load(), 0);

  g_settings.Frequency = 700;
  EXPECT_EQ(ApplyReportedHeadType(3), 1);  // setting 7 keeps the frequency, 60 m at most
  EXPECT_EQ(g_settings.Frequency, 700);
  EXPECT_EQ(g_headLimits.maxStep, 8);
  EXPECT_EQ(ApplyReportedHeadType(1), 1);  // setting 5: 300 m
  EXPECT_EQ(g_settings.Frequency, 120);
  EXPECT_EQ(g_headLimits.maxStep, 14);

  g_settings.Frequency = 245;
  EXPECT_EQ(ApplyReportedHeadType(99), 1);  // setting 4 keeps a frequency within limits
  EXPECT_EQ(g_settings.Frequency, 245);
  EXPECT_EQ(g_headLimits.maxStep, 11);
  g_settings.Frequency = 1200;  // beyond the 50..1000 kHz that a head-type change brings
  EXPECT_EQ(ApplyReportedHeadType(98), 1);  // ... and falls back to 260 outside them
  EXPECT_EQ(g_settings.Frequency, 260);

  g_settings.RunMode = 1;  // File mode: the operator's frequency stays
  g_settings.Frequency = 250;
  EXPECT_EQ(ApplyReportedHeadType(9), 1);
  EXPECT_EQ(g_settings.Frequency, 250);
  EXPECT_EQ(g_headLimits.FrequencyCoefficient, 170);
}

TEST_F(SwitchCommandTest, HeadTypeChangeBringsFrequencyLimitsHoldingItsFrequency) {
  struct Case {
    const char* legend;
    int reported, expectMin, expectMax, expectFrequency;
  } cases[] = {
      {"675 kHz head", 2, 50, 1000, 675},
      {"675 kHz head keeping the start-up frequency", 3, 50, 1000, 260},
      {"120 kHz head", 1, 50, 1000, 120},
      {"800 kHz head", 18, 50, 1000, 800},
      {"1700 kHz head", 9, 1000, 3000, 1700},
      {"unknown head", 99, 50, 1000, 260},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    ResetSettings();
    ResetSwitchState();
    g_settings.RunMode = 0;
    g_settings.Frequency = 260;
    ASSERT_EQ(ApplyReportedHeadType(c.reported), 1);
    EXPECT_EQ(g_headLimits.freqMinKHz, c.expectMin);
    EXPECT_EQ(g_headLimits.freqMaxKHz, c.expectMax);
    EXPECT_EQ(g_settings.Frequency, c.expectFrequency);
    int stored = 0;
    EXPECT_EQ(AcceptFrequencyEntry(g_settings.Frequency, &stored), 1);
    EXPECT_EQ(AcceptFrequencyEntry(g_headLimits.headDefaultFreqKHz, &stored), 1);
  }
}

TEST_F(SwitchCommandTest, FrequencyEntryRoundsToFiveKilohertz) {
  int stored = 0;
  EXPECT_EQ(AcceptFrequencyEntry(252, &stored), 1);
  EXPECT_EQ(stored, 250);
  EXPECT_EQ(AcceptFrequencyEntry(253, &stored), 1);
  EXPECT_EQ(stored, 255);
  EXPECT_EQ(AcceptFrequencyEntry(240, &stored), 1);
  EXPECT_EQ(stored, 240);
  stored = -1;
  EXPECT_EQ(AcceptFrequencyEntry(238, &stored), 0);
  EXPECT_EQ(AcceptFrequencyEntry(261, &stored), 0);
  EXPECT_EQ(stored, -1);

  char text[128];
  FrequencyRangeMessage(text, sizeof text);
  EXPECT_STREQ(text, "Frequency is out of range!\nUse 240 to 260 kHz.");
  g_headLimits.freqMinKHz = g_headLimits.freqMaxKHz = 675;
  g_headLimits.headDefaultFreqKHz = 675;
  FrequencyRangeMessage(text, sizeof text);
  EXPECT_STREQ(text, "Frequency is out of range!\nFrequency must be 675 kHz.");
}

TEST_F(SwitchCommandTest, StartupLimitsAndRangeTable) {
  g_headLimits.maxStep = 3;
  g_headLimits.freqMaxKHz = 9;
  SetStartupHeadLimits();
  EXPECT_EQ(g_headLimits.minStep, 2);
  EXPECT_EQ(g_headLimits.maxStep, 11);
  EXPECT_EQ(g_headLimits.maxGain, 20);
  EXPECT_EQ(g_headLimits.minPulse, 30);
  EXPECT_EQ(g_headLimits.freqMinKHz, 240);
  EXPECT_EQ(g_headLimits.freqMaxKHz, 260);
  EXPECT_EQ(g_headLimits.headDefaultFreqKHz, 260);
  EXPECT_EQ(g_switch.headTypeSetting, 4);
  // The two-way time column is the range at 1500 m/s there and back, rounded.
  for (int s = 0; s < kRangeSteps; ++s) {
    SCOPED_TRACE(s);
    EXPECT_EQ(kRangeTable[s].twoWayMs,
              static_cast<int>(kRangeTable[s].rangeM * 1000.0 / 750.0 + 0.5));
  }
  EXPECT_FLOAT_EQ(RangeMetersOfStep(-3), 1.5f);
  EXPECT_FLOAT_EQ(RangeMetersOfStep(99), 500.f);
}

}  // namespace
