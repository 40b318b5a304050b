// "Advanced Filter Settings" through the recording backend: the counts it
// refuses, the percentage it converts to samples and what "Defaults" restores.
#include <gtest/gtest.h>

#include "platform/recording.h"
#include "processing/profile_test_util.h"
#include "ui/profile_dialogs.h"

namespace {

class ProfileFilterDialog : public ::testing::Test {
 protected:
  void SetUp() override { pdtest::ResetAll(1, 2); }
};

using A = plat::rec::DialogAction;

TEST_F(ProfileFilterDialog, RefusesCountsOutOfRange) {
  const struct {
    const char* legend;
    int field;
    const char* text;
    const char* message;
  } cases[] = {
      {"max points 0", kPfMaxPoints, "0", "Max. Points is out of range!\nUse 1 to 10."},
      {"max points 11", kPfMaxPoints, "11", "Max. Points is out of range!\nUse 1 to 10."},
      {"max points text", kPfMaxPoints, "x", "Max. Points is out of range!\nUse 1 to 10."},
      {"segments 0", kPfSegments, "0", "No. of Segments is out of range!\nUse 1 to 10."},
      {"segments 12", kPfSegments, "12", "No. of Segments is out of range!\nUse 1 to 10."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    pdtest::ResetAll(1, 2);
    plat::rec::Reset();
    plat::rec::ScriptDialog({"PROFILEFILTER",
                             {A{A::kSetText, c.field, c.text}, A{A::kClick, plat::kIdOk, ""}}});
    EXPECT_EQ(RunProfileFilterDialog(), 0);  // stays open, then cancelled
    const auto& msgs = plat::rec::Get().messages;
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0].caption, "Advanced Filter Settings");
    EXPECT_EQ(msgs[0].text, c.message);
    EXPECT_EQ(msgs[0].icon, plat::kIconWarning);
    EXPECT_EQ(g_filter.maxPoints, 10);
    EXPECT_EQ(g_filter.segments, 7);
  }
}

TEST_F(ProfileFilterDialog, StoresValuesAndConvertsThePercentage) {
  plat::rec::Reset();
  g_settings.ProfilePointFilter_g_ol_fil_val = 50;  // 10 % of 500 samples
  g_settings.ProfilePointFilter_g_bgd_lev = 0.10;
  plat::rec::ScriptDialog({"PROFILEFILTER",
                           {A{A::kSetText, kPfMaxPoints, "4"},
                            A{A::kSetText, kPfSegments, "3"},
                            A{A::kSetText, kPfPercent, "99"},  // typed text is not read
                            A{A::kSpin, kPfPercentSpin, "", 1},
                            A{A::kSpin, kPfPercentSpin, "", 1},
                            A{A::kSpin, kPfBackgroundSpin, "", 1},
                            A{A::kSpin, kPfBackgroundSpin, "", -1},
                            A{A::kSpin, kPfBackgroundSpin, "", -1},
                            A{A::kCheck, kPfShowRemoved, "", 1},
                            A{A::kCheck, kPfMainFilter, "", 0},
                            A{A::kClick, plat::kIdOk, ""}}});
  EXPECT_EQ(RunProfileFilterDialog(), 1);
  EXPECT_TRUE(plat::rec::Get().messages.empty());
  EXPECT_EQ(g_filter.maxPoints, 4);
  EXPECT_EQ(g_filter.segments, 3);
  EXPECT_EQ(g_settings.ProfilePointFilter_g_ol_fil_val, 60);  // 12 % of 500
  EXPECT_DOUBLE_EQ(g_settings.ProfilePointFilter_g_bgd_lev, 0.10);  // clamped at its floor
  EXPECT_EQ(g_settings.ProfilePointFilter_g_show_outliers_sw, 1);
  EXPECT_EQ(g_settings.ProfilePointFilter_g_main_filter_sw, 0);
}

TEST_F(ProfileFilterDialog, Defaults) {
  plat::rec::Reset();
  g_filter.maxPoints = 2;
  g_filter.segments = 2;
  g_settings.ProfilePointFilter_g_ol_fil_val = 200;
  g_settings.ProfilePointFilter_g_bgd_lev = 0.8;
  g_settings.ProfilePointFilter_g_show_outliers_sw = 1;
  plat::rec::ScriptDialog(
      {"PROFILEFILTER", {A{A::kClick, kPfDefaults, ""}, A{A::kClick, plat::kIdOk, ""}}});
  EXPECT_EQ(RunProfileFilterDialog(), 1);
  EXPECT_EQ(g_filter.maxPoints, 10);
  EXPECT_EQ(g_filter.segments, 7);
  EXPECT_EQ(g_filter.thirdCount, 10);
  EXPECT_EQ(g_settings.ProfilePointFilter_g_ol_fil_val, 50);
  EXPECT_DOUBLE_EQ(g_settings.ProfilePointFilter_g_bgd_lev, 0.10);
  EXPECT_EQ(g_settings.ProfilePointFilter_g_show_outliers_sw, 0);
  EXPECT_EQ(g_settings.ProfilePointFilter_g_fill_beams_sw, 1);
  EXPECT_EQ(g_settings.ProfilePointFilter_g_main_filter_sw, 1);
  EXPECT_EQ(g_settings.ProfilePointFilter_g_pre_filter_sw, 1);
  EXPECT_EQ(g_settings.ProfilePointFilter_g_short_outliers_sw, 1);
}

}  // namespace
