// The persistence-time dialog through the recording backend.
#include <gtest/gtest.h>

#include <vector>

#include "platform/recording.h"
#include "settings/settings.h"
#include "ui/display_dialogs.h"

namespace {

class DisplayDialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSettings();
    plat::rec::Reset();
  }
};

plat::rec::DialogScript Script(std::vector<plat::rec::DialogAction> actions) {
  plat::rec::DialogScript s;
  s.resource = "DECAYTIME";
  s.actions = std::move(actions);
  return s;
}

using A = plat::rec::DialogAction;

TEST_F(DisplayDialogs, PersistenceStoresAValidTime) {
  g_settings.Persistence = 5;
  plat::rec::ScriptDialog(Script({{A::kSetText, kIdDecayTime, "120"}, {A::kClick, plat::kIdOk, ""}}));
  EXPECT_EQ(1, RunPersistenceDialog());
  EXPECT_EQ(120, g_settings.Persistence);
  EXPECT_TRUE(plat::rec::Get().messages.empty());
  ASSERT_EQ(1u, plat::rec::Get().dialogsRun.size());
  EXPECT_EQ("DECAYTIME", plat::rec::Get().dialogsRun[0]);
}

TEST_F(DisplayDialogs, PersistenceRefusesOutOfRangeAndKeepsTheOldValue) {
  struct Case {
    const char* legend;
    const char* text;
  } cases[] = {{"601", "601"}, {"negative", "-1"}, {"not a number", "ten"}, {"empty", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    plat::rec::Reset();
    g_settings.Persistence = 7;
    plat::rec::ScriptDialog(Script({{A::kSetText, kIdDecayTime, c.text}, {A::kClick, plat::kIdOk, ""}}));
    EXPECT_EQ(0, RunPersistenceDialog());
    EXPECT_EQ(7, g_settings.Persistence);
    ASSERT_EQ(1u, plat::rec::Get().messages.size());
    EXPECT_EQ("Persistence", plat::rec::Get().messages[0].caption);
    EXPECT_EQ("Time is out of range!\nUse 0 to 600 seconds", plat::rec::Get().messages[0].text);
    EXPECT_EQ(plat::kIconWarning, plat::rec::Get().messages[0].icon);
  }
}

TEST_F(DisplayDialogs, PersistenceSpinStopsAtItsLimitsAndDefaultIsZero) {
  g_settings.Persistence = 599;
  plat::rec::ScriptDialog(Script({{A::kSpin, kIdDecaySpin, "", +1},
                                  {A::kSpin, kIdDecaySpin, "", +1},
                                  {A::kSpin, kIdDecaySpin, "", +1},
                                  {A::kClick, plat::kIdOk, ""}}));
  EXPECT_EQ(1, RunPersistenceDialog());
  EXPECT_EQ(600, g_settings.Persistence);
  g_settings.Persistence = 1;
  plat::rec::ScriptDialog(Script({{A::kSpin, kIdDecaySpin, "", -1},
                                  {A::kSpin, kIdDecaySpin, "", -1},
                                  {A::kClick, plat::kIdOk, ""}}));
  EXPECT_EQ(1, RunPersistenceDialog());
  EXPECT_EQ(0, g_settings.Persistence);
  g_settings.Persistence = 42;
  plat::rec::ScriptDialog(Script({{A::kClick, kIdDecayDefault, ""}, {A::kClick, plat::kIdOk, ""}}));
  EXPECT_EQ(1, RunPersistenceDialog());
  EXPECT_EQ(0, g_settings.Persistence);
  // The field opens with the value right-aligned in six places; Cancel keeps it.
  g_settings.Persistence = 42;
  plat::rec::ScriptDialog(Script({{A::kSetText, kIdDecayTime, "9"}, {A::kClick, plat::kIdCancel, ""}}));
  EXPECT_EQ(0, RunPersistenceDialog());
  EXPECT_EQ(42, g_settings.Persistence);
}

}  // namespace
