// The keyboard and the numeric entry box: typed ranges in each unit with the
// refusal texts of the head's largest range, the other fields' limits, the
// three-character buffer, the accelerating repeat step, half-range stepping
// and the run-mode limits of the keys.
#include <string>

#include "head/switch_command.h"
#include "ui_test_util.h"

namespace {

class Keys : public uitest::UiFixture {};

void Type(const char* keys) {
  for (const char* k = keys; *k; ++k) CharKey(*k);
}

const std::vector<plat::rec::ShownMessage>& Messages() { return plat::rec::Get().messages; }

std::string WarningFor(int maxCode, int units) {
  char text[256];
  RangeWarningText(maxCode, units, text, sizeof text);
  return text;
}

TEST_F(Keys, RangeEntryTakesListedRangesAndRefusesTheRest) {
  const struct {
    const char* legend;
    int units, maxStep, range;
    const char* keys;
    int expectRange;  // -1: refused, range unchanged
  } cases[] = {
      {"7 m is not a range", 0, 11, 5, "r7\r", -1},
      {"250 m beyond max code 10", 0, 10, 5, "R250\r", -1},
      {"50 m", 0, 11, 5, "R50\r", 7},
      {"the range in use", 0, 11, 5, "R30\r", -1},
      {"2 m below the head's smallest", 0, 11, 5, "R2\r", -1},
      {"60 ft", 1, 11, 5, "R60\r", 4},
      {"31 ft is not a range", 1, 11, 5, "R31\r", -1},
      {"7 yd", 2, 11, 5, "R7\r", -1},
      {"100 yd", 2, 11, 5, "R100\r", 10},
      {"1.5 m is not typed as a range", 0, 11, 5, "R1.5\r", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    SetUp();
    g_settings.Units = c.units;
    g_settings.Range = c.range;
    g_headLimits.maxStep = c.maxStep;
    Type(c.keys);
    EXPECT_EQ(g_keys.field, kEntryNone);
    if (c.expectRange < 0) {
      EXPECT_EQ(g_settings.Range, c.range);
      ASSERT_EQ(Messages().size(), 1u);
      EXPECT_EQ(Messages()[0].caption, "Range");
      EXPECT_EQ(Messages()[0].text, WarningFor(c.maxStep, c.units));
      EXPECT_EQ(Messages()[0].icon, plat::kIconWarning);
    } else {
      EXPECT_EQ(g_settings.Range, c.expectRange);
      EXPECT_EQ(g_switch.pendingStep.load(), c.expectRange);
      EXPECT_TRUE(Messages().empty());
    }
  }
}

TEST_F(Keys, RangeWarningNamesTheUnitAndTheHeadsLongestRange) {
  const std::string prefix = "Please use one of the following ranges:\n 5, 10, ";
  const struct {
    const char* legend;
    int maxCode, units;
    const char* ending;
  } cases[] = {
      {"metres, code 10", 10, 0, "80 or 100 Meters    "},
      {"yards, code 16", 16, 2, "400 or 500 Yards    "},
      {"metres, code 12", 12, 0, "150, or 200 Meters    "},
      {"feet, code 14", 14, 1, "750 or 900 Feet"},
      {"metres, code 3", 3, 0, "5 or 10 Meters    "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    const std::string text = WarningFor(c.maxCode, c.units);
    EXPECT_EQ(text.rfind("Please use one of the following ranges:\n ", 0), 0u);
    const std::string ending = c.ending;
    ASSERT_GE(text.size(), ending.size());
    EXPECT_EQ(text.substr(text.size() - ending.size()), ending);
  }
  EXPECT_EQ(WarningFor(10, 0).rfind(prefix, 0), 0u);
  // Feet ranges are three times the metres, typed to the nearest figure.
  EXPECT_EQ(RangeCodeOfEntry(4, 1), 0);
  EXPECT_EQ(RangeCodeOfEntry(5, 1), 0);
  EXPECT_EQ(RangeCodeOfEntry(1500, 1), 16);
  EXPECT_EQ(RangeCodeOfEntry(1500, 0), -1);
  EXPECT_EQ(RangeCodeOfEntry(2, 2), 0);
}

TEST_F(Keys, OtherFieldsCheckTheirLimits) {
  const struct {
    const char* legend;
    const char* keys;
    const char* caption;  // nullptr: accepted
    const char* text;
    int Settings::*field;
    int expect;
  } cases[] = {
      {"gain 21 over 20", "G21\r", "Gain", "Entered Gain is out of range!\nUse 0 to 20 dB", &Settings::Gain, 3},
      {"gain 20", "g20\r", nullptr, nullptr, &Settings::Gain, 20},
      {"display gain 0", "D0\r", "Display Gain", "Entered Display Gain is out of range!\nUse 1 to 100 percent",
       &Settings::DisplayGain, 50},
      {"display gain 101", "D101\r", "Display Gain",
       "Entered Display Gain is out of range!\nUse 1 to 100 percent", &Settings::DisplayGain, 50},
      {"display gain 1", "d1\r", nullptr, nullptr, &Settings::DisplayGain, 1},
      {"persistence 601", "P601\r", "Persistenece", "Entered Persistence is out of range!\nUse 0 to 600 seconds",
       &Settings::Persistence, 0},
      {"persistence 600", "p600\r", nullptr, nullptr, &Settings::Persistence, 600},
      {"escape keeps the value", "D77\x1b", nullptr, nullptr, &Settings::DisplayGain, 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    SetUp();
    Type(c.keys);
    EXPECT_EQ(g_settings.*c.field, c.expect);
    EXPECT_EQ(g_keys.field, kEntryNone);
    if (c.caption) {
      ASSERT_EQ(Messages().size(), 1u);
      EXPECT_EQ(Messages()[0].caption, c.caption);
      EXPECT_EQ(Messages()[0].text, c.text);
    } else {
      EXPECT_TRUE(Messages().empty());
    }
  }
}

TEST_F(Keys, TheBoxHoldsThreeCharactersAndIgnoresAFourth) {
  Type("D");
  EXPECT_EQ(g_keys.field, kEntryDisplayGain);
  EXPECT_EQ(g_keys.boxDrawn, 1);
  Type("1000");
  EXPECT_STREQ(g_keys.text, "100");
  Type("\r");
  EXPECT_EQ(g_settings.DisplayGain, 100);
  EXPECT_EQ(g_keys.boxDrawn, 0);
  // Digits without an open box change nothing.
  EXPECT_EQ(CharKey('5'), 0);
  EXPECT_STREQ(g_keys.text, "");
}

TEST_F(Keys, HeldF6AcceleratesAndStopsAtOneHundred) {
  g_settings.DisplayGain = 1;
  std::vector<int> steps;
  for (int i = 0; i < 60; ++i) {
    const int before = g_settings.DisplayGain;
    KeyDown(kKeyF6, 0, 0, nullptr, nullptr);
    steps.push_back(g_settings.DisplayGain - before);
  }
  for (size_t i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(steps[i], static_cast<int>(1.0 + 0.5 * i));  // 1, 1, 2, 2, 3, ...
  }
  EXPECT_EQ(g_settings.DisplayGain, 100);
  EXPECT_EQ(steps.back(), 0);
  EXPECT_DOUBLE_EQ(g_keys.step, kKeyStepMax);
  // A key-up brings the step back to rest.
  KeyUp();
  KeyDown(kKeyF5, 0, 0, nullptr, nullptr);
  EXPECT_EQ(g_settings.DisplayGain, 99);
}

TEST_F(Keys, RangeStepsEnterAndLeaveHalfRangeAtTheSmallestStep) {
  const struct {
    const char* legend;
    int minStep, range, half, key, expectRange, expectHalf;
  } cases[] = {
      {"down to half range", 2, 2, 0, kKeyF1, 2, 1},
      {"down again stays", 2, 2, 1, kKeyF1, 2, 1},
      {"up leaves half range at the smallest", 2, 2, 1, kKeyF2, 2, 0},
      {"up one step", 2, 2, 0, kKeyF2, 3, 0},
      {"no half range for min code 3", 3, 3, 0, kKeyF1, 3, 0},
      {"capped at the largest", 2, 11, 0, kKeyF2, 11, 0},
      {"down one step", 2, 7, 0, kKeyF1, 6, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    SetUp();
    g_headLimits.minStep = c.minStep;
    g_settings.Range = c.range;
    g_settings.HalfRange = c.half;
    KeyDown(c.key, 0, 0, nullptr, nullptr);
    EXPECT_EQ(g_settings.Range, c.expectRange);
    EXPECT_EQ(g_settings.HalfRange, c.expectHalf);
  }
}

TEST_F(Keys, HeadOnlyKeysDoNothingInFileMode) {
  g_settings.RunMode = 1;
  EXPECT_EQ(CharKey('R'), 0);
  EXPECT_EQ(CharKey('g'), 0);
  EXPECT_EQ(g_keys.field, kEntryNone);
  for (int key : {kKeyF1, kKeyF2, kKeyF3, kKeyF4}) {
    SCOPED_TRACE(key);
    EXPECT_EQ(KeyDown(key, 0, 0, nullptr, nullptr), 0);
  }
  EXPECT_EQ(g_settings.Range, 5);
  EXPECT_EQ(g_settings.Gain, 3);
  // Display gain works in either mode (after a key-up, with the step at rest).
  KeyUp();
  EXPECT_EQ(KeyDown(kKeyF6, 0, 0, nullptr, nullptr), 1);
  EXPECT_EQ(g_settings.DisplayGain, 51);
  // Persistence is not offered in Profile mode.
  g_settings.DisplayType = kModeProfile;
  EXPECT_EQ(CharKey('P'), 0);
}

TEST_F(Keys, ArrowsStepThePanelUnderTheMouseOrMoveTheCursor) {
  int dx = 0, dy = 0;
  EXPECT_EQ(KeyDown(kKeyUp, kDialColumns[kDialGain] + 5, kDialRow - 5, &dx, &dy), 1);
  EXPECT_EQ(g_settings.Gain, 4);
  EXPECT_EQ(dy, 0);
  EXPECT_EQ(KeyDown(kKeyDown, kDialColumns[kDialPersistence], kDialRow, &dx, &dy), 0);  // at 0
  EXPECT_EQ(g_settings.Persistence, 0);
  KeyUp();
  EXPECT_EQ(KeyDown(kKeyDown, 100, 100, &dx, &dy), 1);
  EXPECT_EQ(dy, 1);
  KeyDown(kKeyLeft, 100, 100, &dx, &dy);
  EXPECT_EQ(dx, -1);
  KeyDown(kKeyRight, 100, 100, &dx, &dy);
  EXPECT_EQ(dx, 2);  // the third key-down without a key-up
}

TEST_F(Keys, EndingPersistenceClearsThePictureAndHoldToggles) {
  BuildTables();
  g_settings.Persistence = 20;
  g_scan.CleanImageBuffer[200][400] = 90;
  Type("P0\r");
  EXPECT_EQ(g_settings.Persistence, 0);
  EXPECT_EQ(g_scan.CleanImageBuffer[200][400], 0);
  Type("h");
  EXPECT_EQ(g_player.hold, 1);
  Type("H");
  EXPECT_EQ(g_player.hold, 0);
}

}  // namespace
