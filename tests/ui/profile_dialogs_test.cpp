// The profile dialogs driven through the recording backend: limits and
// messages in each unit, what "Ok", "Defaults" and "Cancel" store, and what
// the dialogs show on opening.
#include <gtest/gtest.h>

#include <string>

#include "files/sonar_file.h"
#include "platform/recording.h"
#include "processing/device_offsets.h"
#include "processing/profile_detect.h"
#include "processing/profile_filter.h"
#include "settings/settings.h"
#include "ui/profile_dialogs.h"

namespace {

using A = plat::rec::DialogAction;

class ProfileDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    g_settings = Settings{};
    g_settings.Range = 7;  // 50 m: 5 % of the range is 2.5 m
    ResetPlaybackCopies();
    ResetProfileFilter();
    ResetDeviceOffsets();
    plat::rec::Reset();
  }
  static const plat::rec::Record& Rec() { return plat::rec::Get(); }
};

// Runs the setup dialog with the two depths typed and "Ok" pressed.
int SetupWithDepths(const char* minText, const char* maxText) {
  plat::rec::ScriptDialog({"PROFILEPOINTSETUP",
                           {A{A::kSetText, kPsMinDepth, minText},
                            A{A::kSetText, kPsMaxDepth, maxText},
                            A{A::kClick, plat::kIdOk, ""}}});
  return RunProfilePointSetupDialog();
}

TEST_F(ProfileDialogs, SetupRefusesDepthsOutOfRange) {
  const struct {
    const char* legend;
    int units;
    const char* minText;
    const char* maxText;
    const char* message;
  } cases[] = {
      {"minimum below 0.1", 0, "0.04", "50", "Minimum Depth is out of range!\nUse 0.1 to 97.5 Meters."},
      {"minimum too deep", 0, "97.6", "100", "Minimum Depth is out of range!\nUse 0.1 to 97.5 Meters."},
      {"not a number", 0, "abc", "50", "Minimum Depth is out of range!\nUse 0.1 to 97.5 Meters."},
      {"maximum too close", 0, "10", "12.4",
       "Maximum Depth must be at least 3 Meters greater than Minimum Depth!"},
      {"maximum beyond the limit", 0, "10", "100.1",
       "Maximum Depth is out of range!\nUse 0.5 to 100.0 Meters."},
      {"feet: minimum too deep", 1, "320", "328",
       "Minimum Depth is out of range!\nUse 0.1 to 319.9 Feet."},
      {"feet: maximum too close", 1, "10", "15",
       "Maximum Depth must be at least 8 Feet greater than Minimum Depth!"},
      {"yards: maximum beyond the limit", 2, "1", "110",
       "Maximum Depth is out of range!\nUse 0.5 to 109.4 Yards."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    SetUp();
    g_settings.Units = c.units;
    g_settings.ProfileMinDepthBelowSonar = 1.0;
    g_settings.ProfileMaxDepthBelowSonar = 40.0;
    g_settings.ProfilePointFilter = 2;
    EXPECT_EQ(SetupWithDepths(c.minText, c.maxText), 0);  // stays open, then cancelled
    ASSERT_EQ(Rec().messages.size(), 1u);
    EXPECT_EQ(Rec().messages[0].caption, "Profile Setup");
    EXPECT_EQ(Rec().messages[0].text, c.message);
    EXPECT_EQ(Rec().messages[0].icon, plat::kIconWarning);
    EXPECT_EQ(g_settings.ProfileMinDepthBelowSonar, 1.0);
    EXPECT_EQ(g_settings.ProfileMaxDepthBelowSonar, 40.0);
  }
}

TEST_F(ProfileDialogs, SetupShowsFieldsAgainAsParsedAfterAFailure) {
  // Type a bad pair, press Ok, then fix the maximum with its spin and press Ok.
  plat::rec::ScriptDialog({"PROFILEPOINTSETUP",
                           {A{A::kSetText, kPsMinDepth, "10.04"},
                            A{A::kSetText, kPsMaxDepth, "11"},
                            A{A::kClick, plat::kIdOk, ""},
                            A{A::kSetText, kPsMaxDepth, "12.4"},
                            A{A::kSpin, kPsMaxDepthSpin, "", 1},
                            A{A::kClick, plat::kIdOk, ""}}});
  EXPECT_EQ(RunProfilePointSetupDialog(), 1);
  ASSERT_EQ(Rec().messages.size(), 1u);
  // The minimum went back into its field as " 10.0", which is what got stored.
  EXPECT_DOUBLE_EQ(g_settings.ProfileMinDepthBelowSonar, 10.0);
  EXPECT_NEAR(g_settings.ProfileMaxDepthBelowSonar, 12.5, 1e-9);
}

TEST_F(ProfileDialogs, SetupStoresChoicesAndConvertsFeetToMetres) {
  g_settings.Units = 1;
  g_settings.ProfilePointDetection = 0;
  plat::rec::ScriptDialog({"PROFILEPOINTSETUP",
                           {A{A::kCheck, kPsEnable, "", 1},
                            A{A::kCheck, kPsMaximumReturn, "", 1},
                            A{A::kCheck, kPsPointsOnly, "", 1},
                            A{A::kCheck, kPsLargeDots, "", 1},
                            A{A::kCheck, kPsArtificialBottom, "", 1},
                            A{A::kSetText, kPsMinDepth, "10"},
                            A{A::kSetText, kPsMaxDepth, "100"},
                            A{A::kClick, plat::kIdOk, ""}}});
  EXPECT_EQ(RunProfilePointSetupDialog(), 1);
  EXPECT_TRUE(Rec().messages.empty());
  EXPECT_EQ(g_settings.ProfilePointDetection, 1);
  EXPECT_EQ(g_settings.ProfilePointFilter, 1);
  EXPECT_EQ(g_settings.ProfileDisplayType, 3);
  EXPECT_EQ(g_settings.ProfilePointDotSize, 1);
  EXPECT_EQ(g_settings.ProfilePointType, 1);
  EXPECT_NEAR(g_settings.ProfileMinDepthBelowSonar, 3.048, 1e-9);
  EXPECT_NEAR(g_settings.ProfileMaxDepthBelowSonar, 30.48, 1e-9);
}

TEST_F(ProfileDialogs, SetupDefaults) {
  g_settings.ProfilePointDetection = 0;
  g_settings.ProfilePointFilter = 0;
  g_settings.ProfileDisplayType = 0;
  g_settings.ProfilePointDotSize = 1;
  g_settings.ProfilePointType = 1;
  g_settings.ProfilePointFilter_g_along_track_avg_sw = 0;
  plat::rec::ScriptDialog(
      {"PROFILEPOINTSETUP", {A{A::kClick, kPsDefaults, ""}, A{A::kClick, plat::kIdOk, ""}}});
  EXPECT_EQ(RunProfilePointSetupDialog(), 1);
  EXPECT_EQ(g_settings.ProfilePointDetection, 1);
  EXPECT_EQ(g_settings.ProfilePointFilter, 2);
  EXPECT_EQ(g_settings.ProfileDisplayType, 2);
  EXPECT_EQ(g_settings.ProfilePointDotSize, 0);
  EXPECT_EQ(g_settings.ProfilePointType, 0);
  EXPECT_DOUBLE_EQ(g_settings.ProfileMinDepthBelowSonar, 0.1);
  EXPECT_DOUBLE_EQ(g_settings.ProfileMaxDepthBelowSonar, 100.0);
  EXPECT_EQ(g_settings.ProfilePointFilter_g_along_track_avg_sw, 1);
}

// The handler's view of the dialog on opening, through a backend that only
// initialises it.
plat::Dialog s_opened;
int InitOnly(plat::Dialog& d, plat::DialogHandler handler) {
  handler(d, plat::kDlgInit, 0, 0);
  s_opened = d;
  return 0;
}

std::string OpenedText(int id) {
  const plat::Control* c = plat::FindControl(s_opened, id);
  return c ? c->text : "";
}

TEST_F(ProfileDialogs, SetupOpeningAdjustsTheShownMaximum) {
  plat::Backend backend = plat::RecordingBackend();
  backend.runDialog = InitOnly;
  plat::SetBackend(&backend);
  const struct {
    double minM, maxM;
    const char* shownMax;
  } cases[] = {{1.0, 50.0, "50.0"}, {10.0, 11.0, "50.0"}, {1.0, 150.0, "100.0"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.shownMax);
    g_settings.ProfileMinDepthBelowSonar = c.minM;
    g_settings.ProfileMaxDepthBelowSonar = c.maxM;
    RunProfilePointSetupDialog();
    EXPECT_EQ(OpenedText(kPsMaxDepth), c.shownMax);
  }
  g_settings.Units = 2;
  RunProfilePointSetupDialog();
  EXPECT_EQ(OpenedText(kPsMinUnit), "Yards");
  EXPECT_EQ(OpenedText(kPsMinDepth), " 1.1");
  plat::SetBackend(nullptr);
}

TEST_F(ProfileDialogs, SetupOpensTheAdvancedFilterSettings) {
  plat::rec::ScriptDialog({"PROFILEPOINTSETUP", {A{A::kClick, kPsAdvanced, ""}}});
  plat::rec::ScriptDialog({"PROFILEFILTER", {A{A::kSetText, kPfSegments, "4"},
                                             A{A::kClick, plat::kIdOk, ""}}});
  RunProfilePointSetupDialog();
  ASSERT_EQ(Rec().dialogsRun.size(), 2u);
  EXPECT_EQ(Rec().dialogsRun[1], "PROFILEFILTER");
  EXPECT_EQ(g_filter.segments, 4);
}

TEST_F(ProfileDialogs, TiltRefusesOutOfRangeAndKeepsThePreviousValue) {
  for (const char* text : {"90.1", "-95", "east"}) {
    SCOPED_TRACE(text);
    SetUp();
    g_settings.ProfileTiltAngle = 12.5;
    plat::rec::ScriptDialog(
        {"PROFILETILTANGLE", {A{A::kSetText, kTiltValue, text}, A{A::kClick, plat::kIdOk, ""}}});
    EXPECT_EQ(RunProfileTiltAngleDialog(), 0);
    ASSERT_EQ(Rec().messages.size(), 1u);
    EXPECT_EQ(Rec().messages[0].caption, "Profile Tilt Angle");
    EXPECT_EQ(Rec().messages[0].text, "Profile Tilt Angle is out of range!\nUse -90 to 90 Degrees.");
    EXPECT_EQ(g_settings.ProfileTiltAngle, 12.5);
  }
}

TEST_F(ProfileDialogs, TiltStoresAndMarksTheOperatorChangeInFileMode) {
  g_settings.RunMode = 1;
  g_settings.ProfileTiltAngle = 5.0;
  g_playback.tiltDeg = 5.0;
  // Spins are clamped at 90.
  plat::rec::ScriptDialog({"PROFILETILTANGLE",
                           {A{A::kSetText, kTiltValue, "89.9"},
                            A{A::kSpin, kTiltSpin, "", 1},
                            A{A::kSpin, kTiltSpin, "", 1},
                            A{A::kClick, plat::kIdOk, ""}}});
  EXPECT_EQ(RunProfileTiltAngleDialog(), 1);
  EXPECT_DOUBLE_EQ(g_settings.ProfileTiltAngle, 90.0);
  EXPECT_EQ(g_playback.operatorChangedTilt, 1);
  // The same value again in Head mode changes no flag; "Default" gives 0.
  ResetPlaybackCopies();
  g_settings.RunMode = 0;
  plat::rec::ScriptDialog(
      {"PROFILETILTANGLE", {A{A::kClick, kTiltDefault, ""}, A{A::kClick, plat::kIdOk, ""}}});
  EXPECT_EQ(RunProfileTiltAngleDialog(), 1);
  EXPECT_DOUBLE_EQ(g_settings.ProfileTiltAngle, 0.0);
  EXPECT_EQ(g_playback.operatorChangedTilt, 0);
}

TEST_F(ProfileDialogs, TiltShowsTheFileTiltInFileMode) {
  plat::Backend backend = plat::RecordingBackend();
  backend.runDialog = InitOnly;
  plat::SetBackend(&backend);
  g_settings.RunMode = 1;
  g_settings.ProfileTiltAngle = -3.0;
  g_playback.tiltDeg = 7.25;
  RunProfileTiltAngleDialog();
  EXPECT_EQ(OpenedText(kTiltStored), "(7.2) :");
  EXPECT_EQ(OpenedText(kTiltValue), "-3.0");
  g_settings.RunMode = 0;
  RunProfileTiltAngleDialog();
  EXPECT_EQ(OpenedText(kTiltStored), "(-3.0) :");
  plat::SetBackend(nullptr);
}

TEST_F(ProfileDialogs, DeviceOffsetsLimitsAndMessages) {
  const struct {
    const char* legend;
    int units;
    int field;
    const char* text;
    const char* caption;
    const char* message;
  } cases[] = {
      {"starboard metres", 0, kDoStarboard, "100.5", "Sonar Head Offsets",
       "Starboard Offset is out of range!\nUse -100.0 to 100.0 Meters."},
      {"forward feet", 1, kDoForward, "-330", "Sonar Head Offsets",
       "Forward Offset is out of range!\nUse -328.1 to 328.1 Feet."},
      {"vertical yards", 2, kDoVertical, "110", "Sonar Head Offsets",
       "Vertical Offset is out of range!\nUse -109.4 to 109.4 Yards."},
      {"yaw", 0, kDoYaw, "45.5", "Sonar Head Offsets",
       "Yaw Offset is out of range!\nUse -45.0 to 45.0 degrees."},
      {"pitch", 0, kDoPitch, "-46", "Sonar Head Offsets",
       "Pitch Offset is out of range!\nUse -45.0 to 45.0 degrees."},
      {"roll", 0, kDoRoll, "50", "Sonar Head Offsets",
       "Roll Offset is out of range!\nUse -45.0 to 45.0 degrees."},
      {"latency", 0, kDoLatency, "5.01", "Sonar Head Offsets",
       "Latency is out of range!\nUse -5.0 to 5.0 seconds."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    SetUp();
    g_settings.Units = c.units;
    plat::rec::ScriptDialog(
        {"DEVICEOFFSETS", {A{A::kSetText, c.field, c.text}, A{A::kClick, plat::kIdOk, ""}}});
    EXPECT_EQ(RunDeviceOffsetsDialog(), 0);
    ASSERT_EQ(Rec().messages.size(), 1u);
    EXPECT_EQ(Rec().messages[0].caption, c.caption);
    EXPECT_EQ(Rec().messages[0].text, c.message);
    for (int f = 0; f < kOffFieldCount; ++f) EXPECT_EQ(g_deviceOffsets.values[0][f], 0.0f);
  }
}

TEST_F(ProfileDialogs, DeviceOffsetsForBothDevicesStoredInMetres) {
  g_settings.Units = 1;
  g_settings.ComPortGPSEnable = 1;
  plat::rec::ScriptDialog({"DEVICEOFFSETS",
                           {A{A::kSetText, kDoStarboard, "10"},
                            A{A::kSetText, kDoYaw, "2.5"},
                            A{A::kSelect, kDoDevice, "", 1},
                            A{A::kSetText, kDoForward, "-20"},
                            A{A::kSetText, kDoLatency, "0.5"},
                            A{A::kSelect, kDoDevice, "", 0},
                            A{A::kClick, plat::kIdOk, ""}}});
  EXPECT_EQ(RunDeviceOffsetsDialog(), 1);
  EXPECT_TRUE(Rec().messages.empty());
  EXPECT_NEAR(g_deviceOffsets.values[kDeviceSonarHead][kOffStarboard], 3.048f, 1e-5);
  EXPECT_FLOAT_EQ(g_deviceOffsets.values[kDeviceSonarHead][kOffYaw], 2.5f);
  EXPECT_NEAR(g_deviceOffsets.values[kDeviceGpsAntenna][kOffForward], -6.096f, 1e-5);
  EXPECT_FLOAT_EQ(g_deviceOffsets.values[kDeviceGpsAntenna][kOffLatency], 0.5f);
}

TEST_F(ProfileDialogs, DeviceOffsetsListTheAntennaOnlyWithTheGpsPort) {
  plat::Backend backend = plat::RecordingBackend();
  backend.runDialog = InitOnly;
  plat::SetBackend(&backend);
  g_settings.ComPortGPSEnable = 0;
  RunDeviceOffsetsDialog();
  const plat::Control* list = plat::FindControl(s_opened, kDoDevice);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->itemCount, 1);
  EXPECT_STREQ(list->items[0], "Sonar Head Offsets");
  g_settings.ComPortGPSEnable = 1;
  RunDeviceOffsetsDialog();
  list = plat::FindControl(s_opened, kDoDevice);
  ASSERT_EQ(list->itemCount, 2);
  EXPECT_STREQ(list->items[1], "GPS Antenna Offsets");
  plat::SetBackend(nullptr);
}

}  // namespace
