// The profile search window read from "Orvale.INI": the minimum depth must lie
// in 0.1 .. 97.5 m and the maximum at least 2.5 m below it, up to 100 m (5 %
// of the 50 m range in force while the file is read), whatever range step the
// file holds; values outside become 0.2 and 100.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/test_files.h"
#include "head/switch_command.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

namespace {

class DepthWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.ok());
    dir_ = tmp_.path();
    path_ = dir_ + "/Orvale.INI";
    ResetSettings();
    ResetSwitchState();
  }
  void TearDown() override {
    ResetSettings();
    ResetSwitchState();
  }
  void Load(const std::string& text) {
    ResetSettings();
    ResetSwitchState();
    ASSERT_NO_FATAL_FAILURE(testutil::WriteText(path_, text));
    ASSERT_EQ(LoadSettings(path_.c_str()), 1);
  }
  testutil::TempDir tmp_{"orvale_depth"};
  std::string dir_, path_;
};

TEST_F(DepthWindow, EdgeValuesOfBothKeys) {
  struct Case {
    const char* legend;
    const char* min;  // nullptr: key missing
    const char* max;
    double expectMin, expectMax;
  } cases[] = {
      {"both missing", nullptr, nullptr, 0.1, 100.0},
      {"minimum 0.1 kept", "0.1", "100", 0.1, 100.0},
      {"minimum 0.0999 refused", "0.0999", "100", 0.2, 100.0},
      {"minimum 0 refused", "0", "100", 0.2, 100.0},
      {"minimum -5 refused", "-5", "100", 0.2, 100.0},
      {"minimum 97.5 kept", "97.5", "100", 97.5, 100.0},
      {"minimum 97.5001 refused", "97.5001", "100", 0.2, 100.0},
      {"maximum 100 kept", "10", "100", 10.0, 100.0},
      {"maximum 100.0001 refused", "10", "100.0001", 10.0, 100.0},
      {"maximum exactly 2.5 below the minimum kept", "10", "12.5", 10.0, 12.5},
      {"maximum 2.4999 below refused", "10", "12.4999", 10.0, 100.0},
      {"maximum above the minimum but too close", "10", "11", 10.0, 100.0},
      {"maximum shallower than the minimum", "50", "20", 50.0, 100.0},
      {"maximum judged against the minimum's fallback", "99", "2.7", 0.2, 2.7},
      {"maximum too close to the minimum's fallback", "99", "2.6", 0.2, 100.0},
      {"minimum at its limit, maximum at the depth limit", "97.5", "100", 97.5, 100.0},
      {"non-finite minimum", "nan", "50", 0.2, 50.0},
      {"non-finite maximum", "1", "inf", 1.0, 100.0},
      {"text reads 0", "deep", "shallow", 0.2, 100.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    std::string text = "[Settings]\n";
    if (c.min) text += std::string("ProfileMinDepthBelowSonar=") + c.min + "\n";
    if (c.max) text += std::string("ProfileMaxDepthBelowSonar=") + c.max + "\n";
    Load(text);
    EXPECT_DOUBLE_EQ(g_settings.ProfileMinDepthBelowSonar, c.expectMin);
    EXPECT_DOUBLE_EQ(g_settings.ProfileMaxDepthBelowSonar, c.expectMax);
  }
}

TEST_F(DepthWindow, TheRangeStepInTheFileDoesNotMoveTheLimits) {
  // 5 m (step 2) would allow a minimum of 99.75, 150 m (step 11) only 92.5:
  // the loader takes neither, the limits stay those of the loading range.
  for (int step : {2, 5, 11}) {
    SCOPED_TRACE(step);
    Load("[Settings]\nRange=" + std::to_string(step) +
         "\nProfileMinDepthBelowSonar=97.5\nProfileMaxDepthBelowSonar=100\n");
    EXPECT_EQ(g_settings.Range, step);
    EXPECT_DOUBLE_EQ(g_settings.ProfileMinDepthBelowSonar, 97.5);
    Load("[Settings]\nRange=" + std::to_string(step) + "\nProfileMinDepthBelowSonar=97.6\n");
    EXPECT_DOUBLE_EQ(g_settings.ProfileMinDepthBelowSonar, 0.2);
  }
}

TEST_F(DepthWindow, WhatTheLoaderKeepsTheDialogRuleAccepts) {
  // A window read back from the file is one the detection's own check passes
  // at the loading range, so saving and reloading never changes it.
  Load("[Settings]\nProfileMinDepthBelowSonar=40\nProfileMaxDepthBelowSonar=42.5\n");
  EXPECT_TRUE(ProfileMinDepthValid(g_settings.ProfileMinDepthBelowSonar, 50.0));
  EXPECT_TRUE(ProfileMaxDepthValid(g_settings.ProfileMaxDepthBelowSonar,
                                   g_settings.ProfileMinDepthBelowSonar, 50.0));
  ASSERT_EQ(SaveSettings(path_.c_str()), 1);
  const double min = g_settings.ProfileMinDepthBelowSonar;
  const double max = g_settings.ProfileMaxDepthBelowSonar;
  ResetSettings();
  ASSERT_EQ(LoadSettings(path_.c_str()), 1);
  EXPECT_DOUBLE_EQ(g_settings.ProfileMinDepthBelowSonar, min);
  EXPECT_DOUBLE_EQ(g_settings.ProfileMaxDepthBelowSonar, max);
}

}  // namespace
