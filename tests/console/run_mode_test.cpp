// Start-up, the run-mode switch and shutdown, seen from outside: what the
// operator's head values, the menus, the title, the open files and the
// settings file look like after each.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "common/chain_fixture.h"
#include "console/command_line.h"
#include "console/ping_cycle.h"
#include "console/playback.h"
#include "console/run_mode.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/track_plot.h"
#include "platform/recording.h"
#include "processing/outputs.h"
#include "processing/xtf.h"
#include "scene.h"
#include "scene_file.h"
#include "settings/profile_file.h"
#include "settings/settings.h"

namespace {

class RunMode : public testutil::ChainTest {
 protected:
  RunMode() : ChainTest("orvale_runmode") {}
  std::string Ini(const char* extra = "") { return WriteLoopbackIni(extra, 40997); }
  std::string Recording(int pings) {
    SceneParams scene;
    scene.rangeStep = 3;
    SurveyParams survey;
    survey.pingCount = pings;
    const std::string path = Path("survey.K41");
    EXPECT_EQ(WriteSceneFile(path.c_str(), scene, survey), pings);
    testutil::ResetAllModules();  // the writer borrowed the settings
    return path;
  }
  // The last enable state the menus were given for an item, -1 if none.
  static int Enabled(int id) {
    const auto& e = plat::rec::Get().menuEnables;
    for (auto it = e.rbegin(); it != e.rend(); ++it)
      if (it->first == id) return it->second;
    return -1;
  }
};

TEST_F(RunMode, HeadFileHeadRestoresTheOperatorsHeadValues) {
  const std::string file = Recording(3);
  ASSERT_EQ(CreateConsole(Ini("Range=7\nGain=9\nXdcr=0\n").c_str()), 1);
  ASSERT_EQ(StartConsole(""), kCmdInteractive);
  g_switch.rangeOffset = 4;

  plat::rec::ScriptFileDialog(1, file);
  g_settings.RunMode = 1;
  SetRunMode();
  ASSERT_EQ(g_player.fileOpen, 1);
  for (int i = 0; i < 3; ++i) PlaybackStep();
  EXPECT_EQ(g_settings.Range, 3);  // the played record's range is the one in use
  EXPECT_EQ(g_settings.Xdcr, 1);

  g_settings.RunMode = 0;
  SetRunMode();
  EXPECT_EQ(g_settings.Range, 7);
  EXPECT_EQ(g_settings.Gain, 9);
  EXPECT_EQ(g_settings.Xdcr, 0);
  EXPECT_EQ(g_switch.rangeOffset, 4);
  EXPECT_EQ(g_player.fileOpen, 0);  // the playback file closes with File mode
  EXPECT_EQ(g_runMode.layoutRefreshes, 2);
}

TEST_F(RunMode, EachModeEnablesItsItemsAndGreysTheOthers) {
  CreateConsole(Ini().c_str());
  StartConsole("");
  struct Case {
    int runMode;
    int id;
    int enabled;
  } cases[] = {
      {1, kCmdPlaybackFile, 1}, {1, kCmdCopy, 1},       {1, kCmdRecord, 0},    {1, kCmdComPorts, 0},
      {1, kCmdXdcrUp, 0},       {1, kCmdTrackPlotter, 1}, {0, kCmdPlaybackFile, 0}, {0, kCmdFastPlayback, 0},
      {0, kCmdRecord, 1},       {0, kCmdOpenVideoWindow, 1}, {0, kCmdTimeLocal, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.runMode << " item " << c.id);
    g_settings.RunMode = c.runMode;
    SetRunMode();
    EXPECT_EQ(Enabled(c.id), c.enabled);
  }
  // File mode with the open dialog cancelled: no file, and the title says so.
  g_settings.RunMode = 1;
  SetRunMode();
  EXPECT_EQ(plat::rec::Get().titles[plat::kWinMain], "Orvale Multibeam Sonar - [No File]");
  EXPECT_EQ(plat::rec::Get().shown[plat::kWinPlayback], 1);
  // Head mode with the GPS port disabled greys the track plotter.
  g_settings.ComPortGPSEnable = 0;
  g_settings.RunMode = 0;
  SetRunMode();
  EXPECT_EQ(Enabled(kCmdTrackPlotter), 0);
  EXPECT_EQ(plat::rec::Get().titles[plat::kWinMain], "Orvale Multibeam Sonar");
  const auto& cursors = plat::rec::Get().cursors;
  ASSERT_FALSE(cursors.empty());
  EXPECT_EQ(cursors.back(), plat::kCursorArrow);
}

TEST_F(RunMode, HeadModeWithoutAReceiverClosesAnOpenTrackPlotter) {
  CreateConsole(Ini("ComPortGPSEnable=0\nTrackPlotterWindow=1\n").c_str());
  StartConsole("");
  // Not even started in Head mode without a receiver.
  EXPECT_EQ(g_settings.TrackPlotterWindow, 0);
  g_settings.RunMode = 1;
  SetRunMode();
  EXPECT_EQ(Enabled(kCmdTrackPlotter), 1);
  ShowTrackPlotter(1);
  EXPECT_EQ(plat::rec::Get().shown[plat::kWinTrackPlotter], 1);
  g_settings.RunMode = 0;
  SetRunMode();
  EXPECT_EQ(plat::rec::Get().shown[plat::kWinTrackPlotter], 0);
  EXPECT_EQ(g_settings.TrackPlotterWindow, 0);
  const auto& checks = plat::rec::Get().menuChecks;
  const auto last = std::find_if(checks.rbegin(), checks.rend(), [](const auto& c) { return c.first == kCmdTrackPlotter; });
  ASSERT_NE(last, checks.rend());
  EXPECT_EQ(last->second, 0);
}

TEST_F(RunMode, TheSwitchClosesOutputsUnlessAConversionRunOwnsThem) {
  const std::string file = Recording(2);
  CreateConsole(Ini("ProfilePointDetection=1\n").c_str());
  ASSERT_EQ(StartConsole((file + " /x").c_str()), kCmdConversion);
  EXPECT_EQ(g_settings.RunMode, 1);
  EXPECT_EQ(g_player.fileOpen, 1);
  EXPECT_EQ(g_player.commandLineRun, 1);
  EXPECT_EQ(XtfFileOpen(), 1);
  EXPECT_EQ(g_outputs.pointFileOpen, 1);
  SetRunMode();  // a conversion run keeps its products open
  EXPECT_EQ(XtfFileOpen(), 1);

  g_commandLine.conversionRun = 0;
  g_settings.RunMode = 0;
  SetRunMode();
  EXPECT_EQ(XtfFileOpen(), 0);
  EXPECT_EQ(g_outputs.pointFileOpen, 0);
}

TEST_F(RunMode, ABadCommandLineEndsStartUpBeforeTheModeIsApplied) {
  CreateConsole(Ini().c_str());
  EXPECT_EQ(StartConsole(Path("missing.K41 /p").c_str()), kCmdClose);
  EXPECT_EQ(g_runMode.switches, 0);
  EXPECT_EQ(g_runMode.started, 0);
  EXPECT_TRUE(plat::rec::Get().messages.empty());  // closes without a message
}

TEST_F(RunMode, TheSwitchStartsTheRunCountersOver) {
  CreateConsole(Ini().c_str());
  StartConsole("");
  g_ping.sequenceErrors = 5;
  g_ping.pingsDecoded = 40;
  std::snprintf(g_ping.meanPeriodText, sizeof g_ping.meanPeriodText, "83 ms");
  g_settings.RunMode = 1;
  SetRunMode();
  EXPECT_EQ(g_ping.sequenceErrors, 0);
  EXPECT_EQ(g_ping.pingsDecoded, 0);
  EXPECT_STREQ(g_ping.meanPeriodText, "0 ms");
  EXPECT_STREQ(g_ping.rateText, "0 Hz");
}

TEST_F(RunMode, ShutdownInFileModeSavesTheOperatorsValuesNotThePlayedOnes) {
  const std::string file = Recording(2);
  const std::string ini = Ini("Range=8\nGain=6\n");
  CreateConsole(ini.c_str());
  StartConsole("");
  plat::rec::ScriptFileDialog(1, file);
  g_settings.RunMode = 1;
  SetRunMode();
  PlaybackStep();
  PlaybackStep();
  ASSERT_EQ(g_settings.Range, 3);
  ASSERT_EQ(ShutdownConsole(), 1);
  EXPECT_EQ(g_player.fileOpen, 0);
  testutil::ResetAllModules();
  ASSERT_EQ(CreateConsole(ini.c_str()), 1);
  EXPECT_EQ(g_settings.Range, 8);
  EXPECT_EQ(g_settings.Gain, 6);
  EXPECT_EQ(g_settings.RunMode, 1);
}

// A recording belongs to Head mode: the switch to File mode stops it (and
// its sequence), and so does the program's end.
TEST_F(RunMode, LeavingHeadModeAndShutdownStopTheRecording) {
  CreateConsole(Ini().c_str());
  std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s", dir_.c_str());
  StartConsole("");
  TakeTimeStampAt(plat::LocalTime{2026, 12, 7, 1, 2, 3, 0});
  ASSERT_EQ(StartAutomaticRecording(), 1);
  g_recording.sequenceNumber = 3;
  g_settings.RunMode = 1;
  plat::rec::ScriptFileDialog(0, "");
  SetRunMode();
  EXPECT_EQ(::Recording(), 0);
  EXPECT_EQ(g_recording.sequenceNumber, 0);
  EXPECT_FALSE(std::filesystem::exists(Path("coverage.LOG"))) << "the empty log goes with the recording";

  g_settings.RunMode = 0;
  SetRunMode();
  ASSERT_EQ(StartAutomaticRecording(), 1);
  EXPECT_EQ(std::string(g_recording.name), Path("07DEC2026-0002.K41"));
  ShutdownConsole();
  EXPECT_EQ(::Recording(), 0);
  EXPECT_EQ(OutputOpen(g_recording.file), 0);
}

}  // namespace
