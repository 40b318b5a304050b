#include "settings/settings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "head/switch_command.h"
#include "settings/profile_file.h"

namespace {

namespace fs = std::filesystem;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettings();
    ResetSwitchState();
    ASSERT_TRUE(tmp_.ok());
    dir_ = tmp_.path();
    path_ = dir_ + "/Orvale.INI";
  }
  void TearDown() override {
    ResetSettings();
    ResetSwitchState();
  }

  void Write(const std::string& bytes) { testutil::WriteText(path_, bytes); }
  std::string Read() const { return testutil::ReadText(path_); }
  // The value text the saved file holds for a key, "<none>" when absent.
  std::string Saved(const char* key, const char* section = "Settings") {
    ProfileFile f;
    ProfileLoad(f, path_.c_str());
    char out[kProfileValueChars + 1];
    ProfileGetString(f, section, key, "<none>", out, sizeof out);
    return out;
  }
  // Fresh start-up state, then load the given file text.
  int Load(const std::string& text) {
    ResetSettings();
    ResetSwitchState();
    Write(text);
    return LoadSettings(path_.c_str());
  }

  testutil::TempDir tmp_{"orvale_settings"};
  std::string dir_, path_;
};

// Every ranged key must be inside its limits after any load.
void ExpectEverythingInRange() {
  const Settings& s = g_settings;
  struct IntRange {
    const char* name;
    int value, lo, hi;
  } ints[] = {
      {"Grid", s.Grid, 0, 1},
      {"Colors", s.Colors, 0, 8},
      {"Xdcr", s.Xdcr, 0, 1},
      {"Units", s.Units, 0, 2},
      {"Range", s.Range, g_headLimits.minStep, g_headLimits.maxStep},
      {"RunMode", s.RunMode, 0, 1},
      {"Gain", s.Gain, 0, g_headLimits.maxGain},
      {"ComPortGPS", s.ComPortGPS, 0, 31},
      {"ComPortGPS_bits_per_second", s.ComPortGPS_bits_per_second, 0, 5},
      {"ComPortSV", s.ComPortSV, 0, 31},
      {"PulseLength", s.PulseLength, g_headLimits.minPulse, 2500},
      {"SwitchDelay", s.SwitchDelay, 0, 500},
      {"DisplayType", s.DisplayType, 0, 4},
      {"AvgFilterIndex", s.AvgFilterIndex, 3, 25},
      {"Frequency", s.Frequency, g_headLimits.freqMinKHz, g_headLimits.freqMaxKHz},
      {"ProcessingMode", s.ProcessingMode, 0, 3},
      {"DisplayGain", s.DisplayGain, 1, 100},
      {"ProfileWaterfallOffset", s.ProfileWaterfallOffset, 0, 500},
      {"PlaybackDelay", s.PlaybackDelay, 0, 2000},
      {"ProfileDisplayType", s.ProfileDisplayType, 0, 3},
      {"StepSize", s.StepSize, 0, 2},
      {"SectorSize", s.SectorSize, 0, 5},
      {"Persistence", s.Persistence, 0, 600},
      {"DataOutputType", s.DataOutputType, 0, 2},
      {"ExternalTriggerControl", s.ExternalTriggerControl, 0, 3},
      {"ExternalTriggerXmitDelay", s.ExternalTriggerXmitDelay, 0, 10000},
      {"ProfilePointFilter_g_ol_fil_val", s.ProfilePointFilter_g_ol_fil_val, 10, 500},
      {"TrackPlotterZoom", s.TrackPlotterZoom, 0, 11},
      {"MaximumFilesize", s.MaximumFilesize, 100, 1000},
      {"DisplayLocalTime", s.DisplayLocalTime, 1, 1},
  };
  for (const IntRange& r : ints) {
    SCOPED_TRACE(r.name);
    EXPECT_GE(r.value, r.lo);
    EXPECT_LE(r.value, r.hi);
  }
  EXPECT_EQ(s.AvgFilterIndex % 2, 1);
  EXPECT_EQ(s.Frequency % 5, 0);
  struct RealRange {
    const char* name;
    double value, lo, hi;
  } reals[] = {
      {"PulseLengthMultiplier", s.PulseLengthMultiplier, 1.0, 2.0},
      {"RecordVideoRate", s.RecordVideoRate, 0.1, 20.0},
      {"ProfileTiltAngle", s.ProfileTiltAngle, -90.0, 90.0},
      {"ProfileMinDepthBelowSonar", s.ProfileMinDepthBelowSonar, 0.1, 100.0},
      {"ProfileMaxDepthBelowSonar", s.ProfileMaxDepthBelowSonar, 0.1, 100.0},
      {"SoundVelocityMeters", s.SoundVelocityMeters, 1400.0, 2000.0},
      {"SonarDepthMeters", s.SonarDepthMeters, -100.0, 6000.0},
      {"HeadingOffset", s.HeadingOffset, -180.0, 180.0},
      {"ProfilePointFilter_g_bgd_lev", s.ProfilePointFilter_g_bgd_lev, 0.1, 1.000001},
  };
  for (const RealRange& r : reals) {
    SCOPED_TRACE(r.name);
    EXPECT_TRUE(std::isfinite(r.value));
    EXPECT_GE(r.value, r.lo);
    EXPECT_LE(r.value, r.hi);
  }
  EXPECT_NE(s.IPAddress_Sonar1[0], 0);
  EXPECT_NE(s.IPAddress_Output1[0], 0);
}

// ------------------------------------------------------------------ loading

TEST_F(SettingsTest, MissingFileGivesDefaultsAndFirstSaveCreatesIt) {
  EXPECT_EQ(LoadSettings(path_.c_str()), 0);
  const Settings defaults;
  EXPECT_EQ(g_settings.Range, defaults.Range);
  EXPECT_EQ(g_settings.Frequency, 260);
  EXPECT_EQ(g_settings.DisplayGain, 50);
  EXPECT_DOUBLE_EQ(g_settings.SoundVelocityMeters, 1500.0);
  EXPECT_STREQ(g_settings.IPAddress_Sonar1, "192.168.0.2");
  EXPECT_EQ(g_settings.DisplayLocalTime, 1);
  EXPECT_FALSE(fs::exists(path_));
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  ASSERT_TRUE(fs::exists(path_));
  EXPECT_EQ(Saved("Range"), "5");
  EXPECT_EQ(Saved("ProfilePointFilter_g_bgd_lev", "Filter Settings"), "0.10");
}

struct IntCase {
  const char* legend;
  std::string file;
  int Settings::*field;
  int expected;
};

TEST_F(SettingsTest, IntegerKeysTakeTheirFallbacks) {
  const IntCase cases[] = {
      {"AvgFilterIndex 4 is even", "[Settings]\nAvgFilterIndex=4\n", &Settings::AvgFilterIndex, 3},
      {"AvgFilterIndex 27 too large", "[Settings]\nAvgFilterIndex=27\n", &Settings::AvgFilterIndex,
       3},
      {"AvgFilterIndex 25 kept", "[Settings]\nAvgFilterIndex=25\n", &Settings::AvgFilterIndex, 25},
      {"AvgFilterIndex 1 too small", "[Settings]\nAvgFilterIndex=1\n", &Settings::AvgFilterIndex, 3},
      {"DisplayGain missing", "[Settings]\n", &Settings::DisplayGain, 50},
      {"DisplayGain 0", "[Settings]\nDisplayGain=0\n", &Settings::DisplayGain, 25},
      {"DisplayGain 101", "[Settings]\nDisplayGain=101\n", &Settings::DisplayGain, 25},
      {"DisplayGain 100 kept", "[Settings]\nDisplayGain=100\n", &Settings::DisplayGain, 100},
      {"Frequency 300 outside 240..260", "[Settings]\nFrequency=300\n", &Settings::Frequency, 260},
      {"Frequency 252 rounded", "[Settings]\nFrequency=252\n", &Settings::Frequency, 250},
      {"Frequency 243 rounded up", "[Settings]\nFrequency=243\n", &Settings::Frequency, 245},
      {"MaximumFilesize 99", "[Settings]\nMaximumFilesize=99\n", &Settings::MaximumFilesize, 500},
      {"Gain 25 above max gain", "[Settings]\nGain=25\n", &Settings::Gain, 3},
      {"Gain 20 kept", "[Settings]\nGain=20\n", &Settings::Gain, 20},
      {"Range 12 above max step", "[Settings]\nRange=12\n", &Settings::Range, 5},
      {"Range 1 below min step", "[Settings]\nRange=1\n", &Settings::Range, 5},
      {"PulseLength 29", "[Settings]\nPulseLength=29\n", &Settings::PulseLength, 180},
      {"ProfileDisplayType 7", "[Settings]\nProfileDisplayType=7\n", &Settings::ProfileDisplayType,
       2},
      {"Persistence 601", "[Settings]\nPersistence=601\n", &Settings::Persistence, 3},
      {"StepSize 3", "[Settings]\nStepSize=3\n", &Settings::StepSize, 2},
      {"SignalLevel 2", "[Settings]\nSignalLevel=2\n", &Settings::SignalLevel, 1},
      {"pre-filter 2", "[Filter Settings]\nProfilePointFilter_g_pre_filter_sw=2\n",
       &Settings::ProfilePointFilter_g_pre_filter_sw, 0},
      {"filter key in the wrong section is not seen", "[Settings]\nProfilePointFilter_g_ol_fil_val=99\n",
       &Settings::ProfilePointFilter_g_ol_fil_val, 50},
      {"DisplayLocalTime 0 forced to 1", "[Settings]\nDisplayLocalTime=0\n",
       &Settings::DisplayLocalTime, 1},
      {"text reads 0 by the leading-digits rule", "[Settings]\nXdcr=up\n", &Settings::Xdcr, 0},
      {"leading digits taken", "[Settings]\nUnits=  2 yards\n", &Settings::Units, 2},
      {"trailing text does not rescue a bad value", "[Settings]\nProcessingMode=12abc\n",
       &Settings::ProcessingMode, 3},
      {"overflow is out of range", "[Settings]\nGain=99999999999999999999\n", &Settings::Gain, 3},
      {"negative overflow is out of range", "[Settings]\nColors=-99999999999999999999\n",
       &Settings::Colors, 0},
      {"INT_MAX plus one", "[Settings]\nSwitchDelay=2147483648\n", &Settings::SwitchDelay, 0},
      {"unranged key overflow keeps the default", "[Settings]\nRemotePort_Output1=99999999999999999999\n",
       &Settings::RemotePort_Output1, 4040},
      {"unranged key taken as is", "[Settings]\nAltitudeWindowX=-40\n", &Settings::AltitudeWindowX,
       -40},
      {"key names ignore case", "[SETTINGS]\ncolors=7\n", &Settings::Colors, 7},
  };
  for (const IntCase& c : cases) {
    SCOPED_TRACE(c.legend);
    Load(c.file);
    EXPECT_EQ(g_settings.*c.field, c.expected);
  }
}

struct RealCase {
  const char* legend;
  std::string file;
  double Settings::*field;
  double expected;
};

TEST_F(SettingsTest, RealKeysRefuseOutOfRangeAndNonFiniteValues) {
  const RealCase cases[] = {
      {"SoundVelocity 1399.9", "[Settings]\nSoundVelocityMeters=1399.9\n",
       &Settings::SoundVelocityMeters, 1500.0},
      {"SoundVelocity 1480.5 kept", "[Settings]\nSoundVelocityMeters=1480.5\n",
       &Settings::SoundVelocityMeters, 1480.5},
      {"SoundVelocity nan", "[Settings]\nSoundVelocityMeters=nan\n", &Settings::SoundVelocityMeters,
       1500.0},
      {"SoundVelocity inf", "[Settings]\nSoundVelocityMeters=inf\n", &Settings::SoundVelocityMeters,
       1500.0},
      {"SoundVelocity overflowing exponent", "[Settings]\nSoundVelocityMeters=1e999\n",
       &Settings::SoundVelocityMeters, 1500.0},
      {"tilt -inf", "[Settings]\nProfileTiltAngle=-inf\n", &Settings::ProfileTiltAngle, 0.0},
      {"tilt nan with payload", "[Settings]\nProfileTiltAngle=nan(123)\n",
       &Settings::ProfileTiltAngle, 0.0},
      {"tilt -45.5 kept", "[Settings]\nProfileTiltAngle=-45.5\n", &Settings::ProfileTiltAngle,
       -45.5},
      {"multiplier 2.05", "[Settings]\nPulseLengthMultiplier=2.05\n",
       &Settings::PulseLengthMultiplier, 1.0},
      {"multiplier text reads 0", "[Settings]\nPulseLengthMultiplier=abc\n",
       &Settings::PulseLengthMultiplier, 1.0},
      {"video rate 0.05", "[Settings]\nRecordVideoRate=0.05\n", &Settings::RecordVideoRate, 3.0},
      {"heading offset 180 kept", "[Settings]\nHeadingOffset=180\n", &Settings::HeadingOffset,
       180.0},
      {"sonar depth 6000.1", "[Settings]\nSonarDepthMeters=6000.1\n", &Settings::SonarDepthMeters,
       0.0},
      {"background level 1.0000005 kept", "[Filter Settings]\nProfilePointFilter_g_bgd_lev=1.0000005\n",
       &Settings::ProfilePointFilter_g_bgd_lev, 1.0000005},
      {"background level 0.05", "[Filter Settings]\nProfilePointFilter_g_bgd_lev=0.05\n",
       &Settings::ProfilePointFilter_g_bgd_lev, 0.1},
      // Depth window against the 50 m range in force while loading: minimum
      // up to 100 - 2.5 = 97.5 (tests/settings/depth_window_test.cpp).
      {"min depth 97.4 kept", "[Settings]\nProfileMinDepthBelowSonar=97.4\n",
       &Settings::ProfileMinDepthBelowSonar, 97.4},
      {"min depth 97.6", "[Settings]\nProfileMinDepthBelowSonar=97.6\n",
       &Settings::ProfileMinDepthBelowSonar, 0.2},
      {"min depth 0.05", "[Settings]\nProfileMinDepthBelowSonar=0.05\n",
       &Settings::ProfileMinDepthBelowSonar, 0.2},
      {"max depth closer than 5 % of the range",
       "[Settings]\nProfileMinDepthBelowSonar=10\nProfileMaxDepthBelowSonar=11\n",
       &Settings::ProfileMaxDepthBelowSonar, 100.0},
      {"max depth 12.6 kept",
       "[Settings]\nProfileMinDepthBelowSonar=10\nProfileMaxDepthBelowSonar=12.6\n",
       &Settings::ProfileMaxDepthBelowSonar, 12.6},
      {"max depth missing is the limit", "[Settings]\n", &Settings::ProfileMaxDepthBelowSonar, 100.0},
  };
  for (const RealCase& c : cases) {
    SCOPED_TRACE(c.legend);
    Load(c.file);
    EXPECT_DOUBLE_EQ(g_settings.*c.field, c.expected);
  }
}

TEST_F(SettingsTest, FrequencyRoundsWithinTheHeadsLimits) {
  // With a head whose limits reach 262, the value is rounded, not refused.
  ResetSettings();
  ResetSwitchState();
  g_headLimits.freqMinKHz = 50;
  g_headLimits.freqMaxKHz = 1000;
  Write("[Settings]\nFrequency=262\n");
  LoadSettings(path_.c_str());
  EXPECT_EQ(g_settings.Frequency, 260);
  // Outside the limits the current frequency stays, whatever it is.
  ResetSettings();
  ResetSwitchState();
  g_settings.Frequency = 245;
  Write("[Settings]\nFrequency=300\n");
  LoadSettings(path_.c_str());
  EXPECT_EQ(g_settings.Frequency, 245);
}

TEST_F(SettingsTest, CurrentValuesAreTheDefaultsOfMissingKeys) {
  g_settings.Units = 2;
  g_settings.DisplayGain = 70;
  g_settings.StepSize = 0;
  g_settings.Gain = 9;  // not a "current" key: its default is the fixed 3
  Write("[Settings]\n");
  LoadSettings(path_.c_str());
  EXPECT_EQ(g_settings.Units, 2);
  EXPECT_EQ(g_settings.DisplayGain, 70);
  EXPECT_EQ(g_settings.StepSize, 0);
  EXPECT_EQ(g_settings.Gain, 3);
}

TEST_F(SettingsTest, AddressesKeepTheBuiltInTextWhenEmpty) {
  Load("[Settings]\nIPAddress_Sonar1=\nIPAddress_Output1=  127.0.0.1  \n");
  EXPECT_STREQ(g_settings.IPAddress_Sonar1, "192.168.0.2");
  EXPECT_STREQ(g_settings.IPAddress_Output1, "127.0.0.1");
  Load("[Settings]\nIPAddress_Output1=" + std::string(300, '9') + "\n");
  EXPECT_EQ(std::string(g_settings.IPAddress_Output1), std::string(80, '9'));
}

TEST_F(SettingsTest, LoadSeedsLiveCopiesAndRememberedValues) {
  Load(
      "[Settings]\nXdcr=0\nRange=8\nRunMode=1\nGain=12\nPulseLength=400\nDisplayType=3\n"
      "AltitudeWindow=0\nProfileTiltAngle=12.5\nSoundVelocityMeters=1490\n"
      "SonarXOffsetMeters=1.25\nSonarYOffsetMeters=-2\nSonarDepthMeters=7.5\n");
  EXPECT_EQ(g_liveHead.Xdcr, 0);
  EXPECT_EQ(g_liveHead.Range, 8);
  EXPECT_EQ(g_liveHead.Gain, 12);
  EXPECT_EQ(g_liveHead.PulseLength, 400);
  EXPECT_DOUBLE_EQ(g_liveHead.ProfileTiltAngle, 12.5);
  EXPECT_DOUBLE_EQ(g_liveHead.SoundVelocityMeters, 1490.0);
  EXPECT_DOUBLE_EQ(g_liveHead.SonarXOffsetMeters, 1.25);
  EXPECT_DOUBLE_EQ(g_liveHead.SonarYOffsetMeters, -2.0);
  EXPECT_DOUBLE_EQ(g_liveHead.SonarDepthMeters, 7.5);
  EXPECT_EQ(g_remembered.previousRunMode, 1);
  EXPECT_EQ(g_remembered.previousDisplayType, 3);
  EXPECT_EQ(g_remembered.previousAltitudeWindow, 0);
}

// ------------------------------------------------------------------ saving

TEST_F(SettingsTest, RealsAreWrittenInTheirFormats) {
  Load(
      "[Settings]\nSoundVelocityMeters=1399.9\nSonarDepthMeters=2.5\nPulseLengthMultiplier=1.5\n"
      "RecordVideoRate=3\nProfileTiltAngle=-12.25\nSonarXOffsetMeters=-1.23456\n"
      "PitchOffset=1.25\nDisplayLocalTime=0\n"
      "[Filter Settings]\nProfilePointFilter_g_bgd_lev=0.5\n");
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  EXPECT_EQ(Saved("SoundVelocityMeters"), "1500.0");
  EXPECT_EQ(Saved("SonarDepthMeters"), "2.500");
  EXPECT_EQ(Saved("PulseLengthMultiplier"), "1.5");
  EXPECT_EQ(Saved("RecordVideoRate"), "3.000000");
  EXPECT_EQ(Saved("ProfileTiltAngle"), "-12.250000");
  EXPECT_EQ(Saved("SonarXOffsetMeters"), "-1.235");
  EXPECT_EQ(Saved("PitchOffset"), "1.2");
  EXPECT_EQ(Saved("ProfileMaxDepthBelowSonar"), "100.000000");
  EXPECT_EQ(Saved("DisplayLocalTime"), "1");
  EXPECT_EQ(Saved("ProfilePointFilter_g_bgd_lev", "Filter Settings"), "0.50");
}

TEST_F(SettingsTest, KeysAreWrittenInFileOrderWithFrequencyOnce) {
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  const std::string text = Read();
  size_t count = 0;
  for (size_t at = text.find("\nFrequency="); at != std::string::npos;
       at = text.find("\nFrequency=", at + 1))
    ++count;
  EXPECT_EQ(count, 1u);
  const char* order[] = {"[Settings]\nGrid=", "\nColors=", "\nXdcr=", "\nUnits=", "\nRange=",
                         "\nRunMode=", "\nGain=", "\nPulseLength=", "\nAvgFilterIndex=",
                         "\nFrequency=", "\nProcessingMode=", "\nIPAddress_Sonar1=",
                         "\nProfilePointIntensityOutput=", "\nAltitudeWindowX=",
                         "\nDisplayLocalTime=", "[Filter Settings]\nProfilePointFilter_g_ol_fil_val=",
                         "\nProfilePointFilter_g_bgd_lev="};
  size_t last = 0;
  for (const char* key : order) {
    SCOPED_TRACE(key);
    const size_t at = text.find(key);
    ASSERT_NE(at, std::string::npos);
    EXPECT_GE(at, last);
    last = at;
  }
}

TEST_F(SettingsTest, FileModeWritesTheOperatorsHeadValues) {
  Load("[Settings]\n");
  g_settings.RunMode = 1;
  g_liveHead.Xdcr = 0;
  g_liveHead.Range = 9;
  g_liveHead.Gain = 11;
  g_liveHead.PulseLength = 320;
  g_liveHead.ProfileTiltAngle = 15.0;
  g_liveHead.SoundVelocityMeters = 1475.0;
  g_liveHead.SonarXOffsetMeters = 1.5;
  g_liveHead.SonarYOffsetMeters = -0.5;
  g_liveHead.SonarDepthMeters = 3.25;
  // What the played record brought.
  g_settings.Xdcr = 1;
  g_settings.Range = 3;
  g_settings.Gain = 2;
  g_settings.PulseLength = 60;
  g_settings.ProfileTiltAngle = -30.0;
  g_settings.SoundVelocityMeters = 1530.0;
  g_settings.SonarXOffsetMeters = 9.0;
  g_settings.SonarYOffsetMeters = 9.0;
  g_settings.SonarDepthMeters = 9.0;
  g_settings.Frequency = 250;
  g_switch.playbackFrequencyKHz = 675;
  g_settings.DisplayGain = 77;
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  EXPECT_EQ(Saved("Xdcr"), "0");
  EXPECT_EQ(Saved("Range"), "9");
  EXPECT_EQ(Saved("Gain"), "11");
  EXPECT_EQ(Saved("PulseLength"), "320");
  EXPECT_EQ(Saved("ProfileTiltAngle"), "15.000000");
  EXPECT_EQ(Saved("SoundVelocityMeters"), "1475.0");
  EXPECT_EQ(Saved("SonarXOffsetMeters"), "1.500");
  EXPECT_EQ(Saved("SonarYOffsetMeters"), "-0.500");
  EXPECT_EQ(Saved("SonarDepthMeters"), "3.250");
  EXPECT_EQ(Saved("Frequency"), "250");  // the operator's, not the played ping's
  EXPECT_EQ(Saved("DisplayGain"), "77");
  EXPECT_EQ(Saved("RunMode"), "1");

  g_settings.RunMode = 0;
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  EXPECT_EQ(Saved("Range"), "3");
  EXPECT_EQ(Saved("SoundVelocityMeters"), "1530.0");
}

TEST_F(SettingsTest, SaveKeepsForeignSectionsKeysAndComments) {
  Write(
      "; written by hand\n"
      "[Settings]\n"
      "Gain=4\n"
      "OperatorNote=keep this\n"
      "broken line\n"
      "[Camera]\n"
      "Exposure=12\n");
  LoadSettings(path_.c_str());
  g_settings.Gain = 6;
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  const std::string text = Read();
  EXPECT_EQ(text.rfind("; written by hand\n[Settings]\nGain=6\nOperatorNote=keep this\n", 0), 0u)
      << text.substr(0, 200);
  EXPECT_NE(text.find("\nbroken line\n"), std::string::npos);
  EXPECT_NE(text.find("\n[Camera]\nExposure=12\n"), std::string::npos);
  EXPECT_EQ(Saved("Exposure", "Camera"), "12");
  // A second save is a fixed point.
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  EXPECT_EQ(Read(), text);
}

TEST_F(SettingsTest, EverySettingSurvivesARoundTrip) {
  Load("[Settings]\n");
  Settings& s = g_settings;
  s.Grid = 0; s.Colors = 7; s.Xdcr = 0; s.Units = 1; s.Range = 9; s.Gain = 14;
  s.ComPortGPSEnable = 0; s.ComPortGPS = 5; s.ComPortGPS_bits_per_second = 4;
  s.ComPortGPS_data_bits = 1; s.ComPortGPS_parity = 0; s.ComPortGPS_stop_bits = 1;
  s.GPSHeadingType = 2; s.ComPortSVEnable = 0; s.ComPortSV = 7; s.ComPortSV_bits_per_second = 5;
  s.ComPortSV_data_bits = 2; s.ComPortSV_parity = 1; s.ComPortSV_stop_bits = 1;
  s.SVDeviceType = 1; s.PulseLength = 450; s.PulseLengthMultiplier = 1.7; s.SwitchDelay = 250;
  s.DisplayType = 2; s.DiagnosticsWindow = 1; s.TrackPlotterWindow = 1; s.AltitudeWindow = 0;
  s.AvgFilter = 0; s.AvgFilterIndex = 9; s.Frequency = 245; s.ProcessingMode = 1;
  s.RecordVideo = 0; s.RecordVideoRate = 12.5; s.AutoFilename = 0; s.HalfRange = 1;
  s.DisplayGain = 64; s.ProfileWaterfall = 1; s.ProfileWaterfallOffset = 120;
  s.ProfileWaterfallSpan = 300; s.RealtimePlayback = 0; s.PlaybackDelay = 1500;
  s.PlaybackDelayX = 500;
  std::snprintf(s.IPAddress_Sonar1, sizeof s.IPAddress_Sonar1, "127.0.0.7");
  std::snprintf(s.IPAddress_Output1, sizeof s.IPAddress_Output1, "127.0.0.8");
  s.RemotePort_Output1 = 5050; s.ProfileTiltAngle = -22.5; s.ProfilePointDetection = 1;
  s.ProfilePointType = 1; s.ProfilePointDotSize = 1; s.ProfileMinDepthBelowSonar = 2.5;
  s.ProfileMaxDepthBelowSonar = 40.0; s.ProfileDisplayType = 3; s.SoundVelocityMeters = 1487.3;
  s.SonarXOffsetMeters = 1.125; s.SonarYOffsetMeters = -3.5; s.SonarDepthMeters = 12.75;
  s.StepSize = 0; s.SectorSize = 5; s.SignalLevel = 1; s.Persistence = 30; s.ProfileGrid = 0;
  s.GainEqualization = 1; s.RollCorrection = 0; s.PitchOffset = 2.5; s.RollOffset = -1.5;
  s.HeadingOffset = 170.5; s.AutoFilenameType = 1; s.DataOutputType = 2;
  s.ExternalTriggerControl = 3; s.ExternalTriggerXmitDelay = 9999; s.ProfilePointFilter = 1;
  s.ProfilePointIntensityOutput = 0; s.ProfilePointFilter_g_ol_fil_val = 250;
  s.ProfilePointFilter_g_pre_filter_sw = 0; s.ProfilePointFilter_g_main_filter_sw = 0;
  s.ProfilePointFilter_g_short_outliers_sw = 0; s.ProfilePointFilter_g_show_outliers_sw = 1;
  s.ProfilePointFilter_g_fill_beams_sw = 0; s.ProfilePointFilter_g_along_track_avg_sw = 0;
  s.ProfilePointFilter_g_bgd_lev = 0.35; s.AltitudeWindowX = 300; s.AltitudeWindowY = -20;
  s.TrackPlotterWindowX = 1; s.TrackPlotterWindowY = 2; s.DisplaySwathCoverage = 1;
  s.SwathCoverageHeading = 0; s.IntegratedRoll = 1; s.TrackPlotterZoom = 11;
  s.MaximumFilesize = 1000; s.UseInternalPitchRollHeading = 1;
  const Settings before = s;
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  ResetSettings();
  ResetSwitchState();
  ASSERT_EQ(LoadSettings(path_.c_str()), 1);
  // Compare field by field through a second save: both files must be identical.
  const std::string first = Read();
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  EXPECT_EQ(Read(), first);
  EXPECT_EQ(g_settings.Range, before.Range);
  EXPECT_EQ(g_settings.Frequency, before.Frequency);
  EXPECT_EQ(g_settings.HalfRange, 1);
  EXPECT_EQ(g_settings.AltitudeWindowY, -20);
  EXPECT_STREQ(g_settings.IPAddress_Output1, "127.0.0.8");
  EXPECT_DOUBLE_EQ(g_settings.SoundVelocityMeters, 1487.3);
  EXPECT_DOUBLE_EQ(g_settings.SonarXOffsetMeters, 1.125);
  EXPECT_DOUBLE_EQ(g_settings.ProfileTiltAngle, -22.5);
  EXPECT_DOUBLE_EQ(g_settings.ProfilePointFilter_g_bgd_lev, 0.35);
  EXPECT_DOUBLE_EQ(g_settings.HeadingOffset, 170.5);
  EXPECT_EQ(g_settings.ProfilePointFilter_g_show_outliers_sw, 1);
  EXPECT_EQ(g_settings.UseInternalPitchRollHeading, 1);
}

// ------------------------------------------------------------------ damage

TEST_F(SettingsTest, DamagedFilesLoadInRange) {
  std::mt19937 rng(20240601);
  std::string garbage(64 * 1024, '\0');
  for (char& c : garbage) c = static_cast<char>(rng() & 0xFF);
  std::string noisyKeys = "[Settings]\n";
  const char* keys[] = {"Range", "Gain", "Frequency", "AvgFilterIndex", "SoundVelocityMeters",
                        "DisplayGain", "ProfileMinDepthBelowSonar", "ProfileMaxDepthBelowSonar"};
  for (int i = 0; i < 400; ++i) {
    noisyKeys += keys[rng() % 8];
    noisyKeys += "=";
    for (int k = 0; k < 12; ++k) noisyKeys += "0123456789-+.eEnaif x"[rng() % 21];
    noisyKeys += "\n";
  }
  const struct {
    const char* legend;
    std::string text;
  } files[] = {
      {"binary garbage", garbage},
      {"garbage inside the section", "[Settings]\n" + garbage + "\nGain=7\n"},
      {"line of megabytes", "[Settings]\nGain=" + std::string(2u << 20, '7') + "\n"},
      {"keys without equals", "[Settings]\nGain\nRange\nFrequency 300\n[Filter Settings]\nx\n"},
      {"repeated sections", "[Settings]\nGain=30\n[Settings]\nGain=5\n[Settings]\nRange=99\n"},
      {"random numeric noise", noisyKeys},
      {"huge numbers", "[Settings]\nRange=99999999999999999999\nGain=-99999999999999999999\n"
                       "Frequency=1e10\nSoundVelocityMeters=1e400\nAvgFilterIndex=4294967297\n"},
      {"empty file", ""},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.legend);
    Load(f.text);
    ExpectEverythingInRange();
    EXPECT_EQ(SettingOutOfRange(), nullptr);
    EXPECT_EQ(SaveSettings(path_.c_str()), 1);
    // What was saved loads back to the same values.
    const Settings saved = g_settings;
    ResetSettings();
    ResetSwitchState();
    LoadSettings(path_.c_str());
    EXPECT_EQ(g_settings.Range, saved.Range);
    EXPECT_EQ(g_settings.Gain, saved.Gain);
    EXPECT_EQ(g_settings.Frequency, saved.Frequency);
  }
  Load("[Settings]\nGain=" + std::string(2u << 20, '7') + "\n");
  EXPECT_EQ(g_settings.Gain, 3);  // 80 sevens overflow an int
  Load("[Settings]\nGain=30\n[Settings]\nGain=5\n");
  EXPECT_EQ(g_settings.Gain, 3);  // the first occurrence counts
}

TEST_F(SettingsTest, OutOfRangeValuesAreNamedByTheirKey) {
  Load("[Settings]\n");
  EXPECT_EQ(SettingOutOfRange(), nullptr);
  const struct {
    const char* legend;
    void (*poke)(Settings&);
    const char* key;
  } cases[] = {
      {"range step past the head's", [](Settings& s) { s.Range = 12; }, "Range"},
      {"even average", [](Settings& s) { s.AvgFilterIndex = 6; }, "AvgFilterIndex"},
      {"frequency off the 5 kHz grid", [](Settings& s) { s.Frequency = 253; }, "Frequency"},
      {"frequency past the head's", [](Settings& s) { s.Frequency = 265; }, "Frequency"},
      {"NaN speed of sound", [](Settings& s) { s.SoundVelocityMeters = std::nan(""); }, "SoundVelocityMeters"},
      {"depth window too narrow", [](Settings& s) { s.ProfileMaxDepthBelowSonar = s.ProfileMinDepthBelowSonar; },
       "ProfileMaxDepthBelowSonar"},
      {"empty head address", [](Settings& s) { s.IPAddress_Sonar1[0] = '\0'; }, "IPAddress_Sonar1"},
      {"local time off", [](Settings& s) { s.DisplayLocalTime = 0; }, "DisplayLocalTime"},
      {"filter level", [](Settings& s) { s.ProfilePointFilter_g_bgd_lev = 0.05; }, "ProfilePointFilter_g_bgd_lev"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    Load("[Settings]\n");
    c.poke(g_settings);
    ASSERT_NE(SettingOutOfRange(), nullptr);
    EXPECT_STREQ(SettingOutOfRange(), c.key);
  }
  // Any value the loader takes passes; a window position may be anything.
  Load("[Settings]\nAltitudeWindowX=-99999\nVideoDevice=\nFrequency=243\n");
  EXPECT_EQ(SettingOutOfRange(), nullptr);
}

TEST_F(SettingsTest, TextValuesTheReaderWouldChangeSurviveASave) {
  // A NUL cuts the value short of its trailing blank; a quoted value keeps
  // its blanks; a lone carriage return cannot be written back.
  const struct {
    const char* legend;
    std::string line;
    const char* loaded;
  } cases[] = {
      {"blank before a NUL", "VideoDevice=\r3 8 1 " + std::string(2, '\0') + "junk", "3 8 1 "},
      {"quoted blanks", "VideoDevice=\" /dev/video1 \"", " /dev/video1 "},
      {"quotes kept inside quotes", "ComPortGPSDevice=\"\"/dev/pts/3\"\"", "\"/dev/pts/3\""},
      {"lone carriage return", "ExternalControlAllow=127.0.0.1\r, 127.0.0.2/32", "127.0.0.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    Load("[Settings]\n" + c.line + "\n");
    const char* field = std::string(c.line).rfind("VideoDevice", 0) == 0        ? g_settings.VideoDevice
                        : std::string(c.line).rfind("ComPortGPSDevice", 0) == 0 ? g_settings.ComPortGPSDevice
                                                                                 : g_settings.ExternalControlAllow;
    EXPECT_STREQ(field, c.loaded);
    ASSERT_EQ(SaveSettings(path_.c_str()), 1);
    const std::string first = Read();
    ResetSettings();
    ResetSwitchState();
    ASSERT_EQ(LoadSettings(path_.c_str()), 1);
    EXPECT_STREQ(field, c.loaded);
    ASSERT_EQ(SaveSettings(path_.c_str()), 1);
    EXPECT_EQ(Read(), first);
  }
}

TEST_F(SettingsTest, UnwritableSettingsFileIsReportedNotFatal) {
  const std::string nowhere = dir_ + "/no/such/dir/Orvale.INI";
  EXPECT_EQ(SaveSettings(nowhere.c_str()), 0);
  EXPECT_EQ(SaveSettings(dir_.c_str()), 0);
  EXPECT_TRUE(fs::is_directory(dir_));
  EXPECT_EQ(SaveSettings(""), 0);
  // A file too large to read is not replaced by a save.
  Write("[Settings]\nGain=7\n" + std::string(kMaxProfileFileBytes, ';'));
  const auto size = fs::file_size(path_);
  EXPECT_EQ(SaveSettings(path_.c_str()), 0);
  EXPECT_EQ(fs::file_size(path_), size);
}

TEST_F(SettingsTest, SaveLeavesNoTemporaryFiles) {
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  int entries = 0;
  for (const auto& e : fs::directory_iterator(dir_)) {
    ++entries;
    EXPECT_EQ(e.path().filename(), "Orvale.INI");
  }
  EXPECT_EQ(entries, 1);
}

TEST_F(SettingsTest, SettingsPathIsFormedInTheWorkingDirectory) {
  const fs::path before = fs::current_path();
  fs::current_path(dir_);
  const int ok = FormSettingsPath();
  fs::current_path(before);
  ASSERT_EQ(ok, 1);
  const std::string real = fs::canonical(dir_).string();
  EXPECT_EQ(std::string(g_settingsFile.workingDirectory), real);
  EXPECT_EQ(std::string(g_settingsFile.path), real + "/Orvale.INI");
}

// ------------------------------------------------------------------ run-mode copies

TEST_F(SettingsTest, HeadValuesComeBackAfterFileMode) {
  Load("[Settings]\nRange=7\nGain=9\nXdcr=0\nPulseLength=300\n");
  g_switch.rangeOffset = 40;
  g_settings.SoundVelocityMeters = 1490.0;
  SaveLiveHeadCopies();
  // Playback overwrites them with a record's values.
  g_settings.Range = 2;
  g_settings.Gain = 1;
  g_settings.Xdcr = 1;
  g_settings.PulseLength = 50;
  g_settings.SoundVelocityMeters = 1520.0;
  g_switch.rangeOffset = 0;
  g_headLimits.FrequencyCoefficient = 20;
  g_settings.HalfRange = 1;
  g_switch.rangeChangePending = 1;
  g_switch.pingInProgress = 1;
  RestoreLiveHeadCopies();
  EXPECT_EQ(g_settings.Range, 7);
  EXPECT_EQ(g_settings.Gain, 9);
  EXPECT_EQ(g_settings.Xdcr, 0);
  EXPECT_EQ(g_settings.PulseLength, 300);
  EXPECT_DOUBLE_EQ(g_settings.SoundVelocityMeters, 1490.0);
  EXPECT_EQ(g_switch.rangeOffset, 40);
  EXPECT_EQ(g_headLimits.FrequencyCoefficient, 10);
  EXPECT_EQ(g_settings.HalfRange, 0);
  EXPECT_EQ(g_switch.rangeChangePending.load(), 0);
  EXPECT_EQ(g_switch.pingInProgress.load(), 0);
}

}  // namespace

namespace {

TEST_F(SettingsTest, DevicePathsDefaultEmptyAreKeptOnSaveAndMayBeCleared) {
  Load("[Settings]\n");
  EXPECT_STREQ(g_settings.ComPortGPSDevice, "");
  EXPECT_STREQ(g_settings.ComPortSVDevice, "");
  std::snprintf(g_settings.ComPortGPSDevice, sizeof g_settings.ComPortGPSDevice, "%s",
                "/dev/serial/by-id/usb-Receiver_0001-if00-port0");
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  EXPECT_EQ(Saved("ComPortGPSDevice"), "/dev/serial/by-id/usb-Receiver_0001-if00-port0");
  EXPECT_EQ(Saved("ComPortSVDevice"), "");
  ResetSettings();
  ASSERT_EQ(LoadSettings(path_.c_str()), 1);
  EXPECT_STREQ(g_settings.ComPortGPSDevice, "/dev/serial/by-id/usb-Receiver_0001-if00-port0");
  // Unlike an address, an empty device path is a value: back to the index.
  Load("[Settings]\nComPortGPSDevice=\nComPortSVDevice=/dev/ttyUSB3\n");
  EXPECT_STREQ(g_settings.ComPortGPSDevice, "");
  EXPECT_STREQ(g_settings.ComPortSVDevice, "/dev/ttyUSB3");
  // The camera's device is kept the same way: "test", a path, or empty.
  Load("[Settings]\nVideoDevice=test\n");
  EXPECT_STREQ(g_settings.VideoDevice, "test");
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  EXPECT_EQ(Saved("VideoDevice"), "test");
  Load("[Settings]\nVideoDevice=\n");
  EXPECT_STREQ(g_settings.VideoDevice, "");
}

}  // namespace
