// The command table and its dispatch through the recording backend: every
// row acts or names the module it waits for, radio groups keep one check,
// run-mode limits hold, the settings file follows every command, and the
// follow-ups of the tilt, data-output and display-mode commands happen.
#include <cstring>
#include <set>

#include "head/switch_command.h"
#include "platform/dialog.h"
#include "processing/outputs.h"
#include "ui/display_dialogs.h"
#include "ui/output_dialogs.h"
#include "ui/profile_dialogs.h"
#include "ui_test_util.h"

namespace {

using uitest::MenuChecks;
using A = plat::rec::DialogAction;

class Commands : public uitest::UiFixture {};

std::vector<const CommandRow*> Rows() {
  int count = 0;
  const CommandRow* table = CommandTable(&count);
  std::vector<const CommandRow*> rows;
  for (int i = 0; i < count; ++i) rows.push_back(&table[i]);
  return rows;
}

TEST_F(Commands, IdentifiersAreUniqueAndMenuItemsSitInAPopup) {
  std::set<int> ids;
  for (const CommandRow* row : Rows()) {
    SCOPED_TRACE(row->id);
    EXPECT_TRUE(ids.insert(row->id).second);
    EXPECT_EQ(FindCommand(row->id), row);
    if (row->text) {
      ASSERT_GE(row->popup, 0);
      ASSERT_LT(row->popup, kMenuPopupCount);
      // A direct entry of the menu bar is its own item, with the same text.
      if (kMenuPopups[row->popup].directCommand) {
        EXPECT_EQ(kMenuPopups[row->popup].directCommand, row->id);
        EXPECT_STREQ(kMenuPopups[row->popup].title, row->text);
      }
    } else {
      EXPECT_EQ(row->popup, kNoMenu);
    }
    if (row->check == kCheckEquals || row->check == kCheckOn) {
      EXPECT_NE(row->field, nullptr);
    }
  }
  EXPECT_EQ(FindCommand(12345), nullptr);
  EXPECT_EQ(RunCommand(12345), 0);
}

TEST_F(Commands, GroupedItemsSitInTheirNamedSubmenus) {
  const struct {
    int id;
    int popup;
    const char* submenu;
  } cases[] = {
      {1, kPopupFile, "&Data From..."},       {2, kPopupFile, "&Data From..."},
      {200, kPopupSetup, "&Xdcr Position"},   {210, kPopupSetup, "Units"},
      {212, kPopupSetup, "Units"},            {220, kPopupSetup, "Automatic Filename &Type"},
      {221, kPopupSetup, "Automatic Filename &Type"}, {208, kPopupSetup, nullptr},
      {230, kPopupSetup, nullptr},            {570, kPopupProfileSetup, "&Grid Type"},
      {510, kPopupOptions, "&Averaging"},     {762, kPopupOptions, "&Beams"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const CommandRow* row = FindCommand(c.id);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->popup, c.popup);
    if (c.submenu) {
      ASSERT_NE(row->submenu, nullptr);
      EXPECT_STREQ(row->submenu, c.submenu);
    } else {
      EXPECT_EQ(row->submenu, nullptr);
    }
  }
}

TEST_F(Commands, EveryRowDispatches) {
  BuildTables();
  for (const CommandRow* row : Rows()) {
    SCOPED_TRACE(row->id);
    g_settings.RunMode = row->modeLimit == kFileOnly ? 1 : 0;
    EXPECT_EQ(RunCommand(row->id), 1);
  }
}

TEST_F(Commands, RadioGroupsKeepExactlyOneCheck) {
  BuildTables();
  for (const CommandRow* row : Rows()) {
    if (row->group == kNoGroup || row->group == kGroupSignalLevel) continue;
    SCOPED_TRACE(row->id);
    plat::rec::Get().menuChecks.clear();
    CheckMarksFromSettings();
    ASSERT_EQ(RunCommand(row->id), 1);
    const auto state = MenuChecks();
    int checked = 0;
    for (const CommandRow* other : Rows()) {
      if (other->group != row->group) continue;
      ASSERT_TRUE(state.count(other->id)) << other->id;
      checked += state.at(other->id);
      EXPECT_EQ(state.at(other->id), other == row ? 1 : 0) << other->id;
    }
    EXPECT_EQ(checked, 1);
  }
}

TEST_F(Commands, CheckMarksFollowTheLoadedSettings) {
  g_settings.Colors = 4;
  g_settings.AvgFilter = 0;
  g_settings.Units = 1;
  g_settings.Grid = 0;
  g_settings.RollCorrection = 1;
  CheckMarksFromSettings();
  auto state = MenuChecks();
  const struct {
    int id, checked;
  } cases[] = {{84, 1}, {80, 0}, {510, 1}, {514, 0}, {211, 1}, {210, 0}, {206, 0}, {660, 1}, {621, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    ASSERT_TRUE(state.count(c.id));
    EXPECT_EQ(state[c.id], c.checked);
  }
  // Averaging of 15 pings checks "&15 Shot" and nothing else of the group.
  g_settings.AvgFilter = 1;
  g_settings.AvgFilterIndex = 15;
  CheckMarksFromSettings();
  state = MenuChecks();
  EXPECT_EQ(state[524], 1);
  EXPECT_EQ(state[510], 0);
  EXPECT_EQ(state[514], 0);
}

TEST_F(Commands, ModeLimitedCommandsDoNothingInTheOtherMode) {
  for (const CommandRow* row : Rows()) {
    if (row->modeLimit == kAnyMode) continue;
    SCOPED_TRACE(row->id);
    const Settings before = g_settings;
    g_settings.RunMode = row->modeLimit == kHeadOnly ? 1 : 0;
    const int realtime = g_settings.RealtimePlayback, video = g_settings.RecordVideo;
    EXPECT_EQ(RunCommand(row->id), 0);
    EXPECT_EQ(g_settings.RealtimePlayback, realtime);
    EXPECT_EQ(g_settings.RecordVideo, video);
    EXPECT_EQ(g_player.fastPlayback, 0);
    EXPECT_TRUE(plat::rec::Get().fileRequests.empty());
    g_settings = before;
  }
  // The same video toggle acts live.
  g_settings.RunMode = 0;
  const int video = g_settings.RecordVideo;
  EXPECT_EQ(RunCommand(173), 1);
  EXPECT_EQ(g_settings.RecordVideo, !video);
}

TEST_F(Commands, EveryCommandLeavesTheSettingsFileUpdated) {
  const struct {
    int id;
    const char* line;
  } cases[] = {
      {212, "Units=2"}, {87, "Colors=7"}, {201, "Xdcr=0"}, {534, "AvgFilterIndex=25"},
      {660, "RollCorrection=0"}, {221, "AutoFilenameType=1"}, {173, "RecordVideo=0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    std::remove(g_settingsFile.path);
    RunCommand(c.id);
    EXPECT_NE(testutil::ReadText(g_settingsFile.path).find(c.line), std::string::npos);
  }
  // A command ignored in this mode still writes the file.
  g_settings.RunMode = 1;
  std::remove(g_settingsFile.path);
  EXPECT_EQ(RunCommand(173), 0);
  EXPECT_NE(testutil::ReadText(g_settingsFile.path).find("RunMode=1"), std::string::npos);
}

TEST_F(Commands, OnlyRevGreyRedrawsTheGrid) {
  BuildTables();
  const struct {
    const char* legend;
    int from, id, redraws;
  } cases[] = {
      {"normal to green", 0, 82, 0}, {"normal to rev grey", 0, 84, 1}, {"rev grey to blue", 4, 88, 1},
      {"grey to brown", 3, 85, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.Colors = c.from;
    const int blits = plat::rec::Get().blits;
    const int versions = g_palette.paletteVersion;
    EXPECT_EQ(RunCommand(c.id), 1);
    EXPECT_EQ(g_settings.Colors, c.id - 80);
    EXPECT_EQ(g_palette.colorTable, c.id - 80);
    EXPECT_EQ(g_palette.paletteVersion, versions + 1);
    EXPECT_EQ(plat::rec::Get().blits - blits, c.redraws);
  }
}

TEST_F(Commands, TiltFollowUpMovesTheProfileDownForSteepTilts) {
  g_settings.DisplayType = kModeProfile;
  BuildTables();
  const struct {
    const char* legend;
    int displayType;
    const char* tilt;
    int offset;
  } cases[] = {
      {"profile, 85 degrees", kModeProfile, "85", 250}, {"profile, -80 degrees", kModeProfile, "-80", 250},
      {"profile, 79.9 degrees", kModeProfile, "79.9", 0}, {"sector, 85 degrees", kModeSector, "85", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.DisplayType = c.displayType;
    g_scan.ProfileOffsetY = c.offset ? 0 : 250;  // the opposite of what must follow
    const int builds = g_scan.builds;
    plat::rec::ScriptDialog(
        {"PROFILETILTANGLE", {A{A::kSetText, kTiltValue, c.tilt}, A{A::kClick, plat::kIdOk, ""}}});
    EXPECT_EQ(RunCommand(580), 1);
    EXPECT_EQ(g_scan.ProfileOffsetY, c.offset);
    EXPECT_EQ(g_scan.builds, builds + 1);
    EXPECT_EQ(g_scan.geom.mode, c.displayType);
  }
}

TEST_F(Commands, DataOutputTurnedOnForcesATableRebuild) {
  BuildTables();
  const struct {
    const char* legend;
    int radio, button, rebuilds;
  } cases[] = {
      {"points, Ok", kDoRadioPoints, plat::kIdOk, 1},
      {"beams, Ok", kDoRadioBeams, plat::kIdOk, 1},
      {"none, Ok", kDoRadioNone, plat::kIdOk, 0},
      {"points, Cancel", kDoRadioPoints, plat::kIdCancel, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.DataOutputType = kOutputNone;
    const int refreshes = g_perPing.frequencyRefreshes;
    plat::rec::ScriptDialog({"DATAOUTPUTSETUP", {A{A::kCheck, c.radio, "", 1}, A{A::kClick, c.button, ""}}});
    EXPECT_EQ(RunCommand(970), 1);
    EXPECT_EQ(g_perPing.frequencyRefreshes - refreshes, c.rebuilds);
  }
}

TEST_F(Commands, DisplayModeIsBuiltAtOnceInFileModeOnlyWhenItChanges) {
  BuildTables();
  ASSERT_EQ(g_scan.geom.mode, kModeSector);
  g_settings.RunMode = 1;
  int builds = g_scan.builds;
  EXPECT_EQ(RunCommand(401), 1);
  EXPECT_EQ(g_settings.DisplayType, kModeLinear);
  EXPECT_EQ(g_scan.geom.mode, kModeLinear);
  EXPECT_EQ(g_scan.builds, builds + 1);
  EXPECT_EQ(g_remembered.previousDisplayType, kModeLinear);
  builds = g_scan.builds;
  EXPECT_EQ(RunCommand(401), 1);
  EXPECT_EQ(g_scan.builds, builds);
  // Head mode leaves the build to the acquisition loop.
  g_settings.RunMode = 0;
  EXPECT_EQ(RunCommand(403), 1);
  EXPECT_EQ(g_settings.DisplayType, kModeProfile);
  EXPECT_EQ(g_scan.geom.mode, kModeLinear);
  EXPECT_EQ(g_scan.builds, builds);
}

TEST_F(Commands, TheBuiltModeDecidesTheModeItemsAndTheAltitudeWindow) {
  BuildTables();
  g_settings.RunMode = 1;
  g_settings.AltitudeWindow = 1;
  g_remembered.previousAltitudeWindow = 1;
  const int profileItems[] = {660, 580, 590, 570, 571};
  const struct {
    const char* legend;
    int command, sectorItem, profileItem, altitudeShown;
  } cases[] = {
      {"profile", 403, 0, 1, 1},
      {"sector", 400, 1, 0, 0},
      {"profile again", 403, 0, 1, 1},
      {"linear", 401, 0, 0, 0},
      {"beam test", 404, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(RunCommand(c.command), 1);
    EXPECT_EQ(plat::rec::LastMenuEnable(560), c.sectorItem);
    for (const int id : profileItems) EXPECT_EQ(plat::rec::LastMenuEnable(id), c.profileItem) << id;
    EXPECT_EQ(plat::rec::Get().shown[plat::kWinAltitude], c.altitudeShown);
    EXPECT_EQ(g_settings.AltitudeWindow, c.altitudeShown);
    EXPECT_EQ(MenuChecks()[590], c.altitudeShown);
  }
  // Closed in Profile mode, it stays closed when Profile mode comes back.
  EXPECT_EQ(RunCommand(403), 1);
  EXPECT_EQ(RunCommand(590), 1);
  EXPECT_EQ(RunCommand(400), 1);
  EXPECT_EQ(RunCommand(403), 1);
  EXPECT_EQ(plat::rec::Get().shown[plat::kWinAltitude], 0);
  EXPECT_EQ(g_settings.AltitudeWindow, 0);
}

TEST_F(Commands, HeadConfigurationsSetFrequencyLimitsAndRebuild) {
  BuildTables();
  const struct {
    int id, frequency, freqMin, freqMax, maxStep, coefficient;
  } cases[] = {{909, 1700, 1000, 3000, 3, 170}, {900, 260, 50, 1000, 16, 10}, {913, 260, 50, 1000, 16, 10}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    const int refreshes = g_perPing.frequencyRefreshes;
    EXPECT_EQ(RunCommand(c.id), 1);
    EXPECT_EQ(g_switch.headTypeSetting, c.id - 900);
    EXPECT_EQ(g_settings.Frequency, c.frequency);
    EXPECT_EQ(g_switch.playbackFrequencyKHz, c.frequency);
    EXPECT_EQ(g_headLimits.freqMinKHz, c.freqMin);
    EXPECT_EQ(g_headLimits.freqMaxKHz, c.freqMax);
    EXPECT_EQ(g_headLimits.maxStep, c.maxStep);
    EXPECT_EQ(g_headLimits.FrequencyCoefficient, c.coefficient);
    EXPECT_EQ(g_perPing.frequencyRefreshes, refreshes + 1);
  }
}

TEST_F(Commands, SignalLevelDisplaysExcludeEachOther) {
  BuildTables();
  EXPECT_EQ(RunCommand(690), 1);
  EXPECT_EQ(g_settings.SignalLevel, 1);
  EXPECT_EQ(g_commands.signalLevelShown, 1);
  EXPECT_EQ(RunCommand(691), 1);
  EXPECT_EQ(g_commands.signalLevel2, 1);
  EXPECT_EQ(g_settings.SignalLevel, 0);
  auto state = MenuChecks();
  EXPECT_EQ(state[690], 0);
  EXPECT_EQ(state[691], 1);
  EXPECT_EQ(RunCommand(691), 1);
  EXPECT_EQ(g_commands.signalLevelShown, 0);
}

TEST_F(Commands, WindowsTheSettingsDoNotRecordAreShownAndClosed) {
  EXPECT_EQ(RunCommand(622), 1);
  EXPECT_EQ(plat::rec::Get().shown[plat::kWinEchoSounder], 1);
  EXPECT_EQ(MenuChecks()[622], 1);
  EXPECT_EQ(RunCommand(622), 1);
  EXPECT_EQ(plat::rec::Get().shown[plat::kWinEchoSounder], 0);
  EXPECT_EQ(MenuChecks()[622], 0);
  // Altitude follows its setting.
  g_settings.AltitudeWindow = 1;
  EXPECT_EQ(RunCommand(590), 1);
  EXPECT_EQ(g_settings.AltitudeWindow, 0);
  EXPECT_EQ(plat::rec::Get().shown[plat::kWinAltitude], 0);
}

TEST_F(Commands, PersistenceDialogIsRefusedInProfileAndEndingItClearsThePicture) {
  BuildTables();
  g_settings.DisplayType = kModeProfile;
  EXPECT_EQ(RunCommand(565), 1);
  EXPECT_TRUE(plat::rec::Get().dialogsRun.empty());
  g_settings.DisplayType = kModeSector;
  g_settings.Persistence = 30;
  g_scan.CleanImageBuffer[300][500] = 77;
  plat::rec::ScriptDialog({"DECAYTIME", {A{A::kSetText, kIdDecayTime, "0"}, A{A::kClick, plat::kIdOk, ""}}});
  EXPECT_EQ(RunCommand(565), 1);
  EXPECT_EQ(g_settings.Persistence, 0);
  EXPECT_EQ(g_scan.CleanImageBuffer[300][500], 0);
}

TEST_F(Commands, SectorItemsAreGreyedForAHeadWhoseSpacingSetsTheSector) {
  BuildTables();
  auto sectorItems = [] {
    std::set<int> states;
    for (int id = 770; id <= 775; ++id) states.insert(plat::rec::LastMenuEnable(id));
    return states;
  };
  const struct {
    const char* legend;
    int outputType, command;
    std::set<int> expected;
  } cases[] = {
      {"spacing sets the sector", kOutputNone, 901, {0}},
      {"sector chosen again", kOutputNone, 900, {1}},
      {"spacing sets it under beam output", kOutputBeams, 906, {0}},
      {"beam output leaves them as they are", kOutputBeams, 900, {0}},
      {"point output offers them", kOutputPoints, 904, {1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.DataOutputType = c.outputType;
    EXPECT_EQ(RunCommand(c.command), 1);
    EXPECT_EQ(sectorItems(), c.expected);
  }
}

}  // namespace
