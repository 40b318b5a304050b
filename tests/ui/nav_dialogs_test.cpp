// The navigation commands: "COMPORTSETUP" (ports by device name, " N/A"
// without one, the same-port refusal, what "Ok" stores and opens, on
// pseudo-terminals only), "SOUNDVELOCITY" (units, limits, messages and what
// closing it does), and the Track Plotter's menu items.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "common/nav_edit.h"
#include "common/pty.h"
#include "console/menu_ids.h"
#include "files/sonar_file.h"
#include "imaging/track_plot.h"
#include "nav/com_ports.h"
#include "nav/gps.h"
#include "nav/sound_velocity.h"
#include "nav/track.h"
#include "platform/frame_handoff.h"
#include "ui/nav_dialogs.h"
#include "ui_test_util.h"

namespace {

using A = plat::rec::DialogAction;

std::vector<plat::rec::ShownMessage> Messages() { return plat::rec::Get().messages; }

class NavDialogs : public uitest::UiFixture {
 protected:
  // Devices the setup lists, as EnumeratePorts would have found them.
  static void Present(const std::vector<std::string>& paths) {
    serial::PortList list;
    for (const std::string& p : paths) std::snprintf(list.paths[list.count++], serial::kPathChars, "%s", p.c_str());
    AssignPorts(list);
  }
  int RunComPorts(const std::vector<A>& actions) {
    plat::rec::ScriptDialog({"COMPORTSETUP", actions});
    PrepareComPortSetupDialog(dialog_);
    const int r = plat::RunDialog(dialog_, ComPortSetupHandler);
    if (r == 1) ApplyComPortSetup();
    return r;
  }
  int RunSpeed(const std::vector<A>& actions) {
    plat::rec::ScriptDialog({"SOUNDVELOCITY", actions});
    PrepareSoundVelocityDialog(dialog_);
    return plat::RunDialog(dialog_, SoundVelocityHandler);
  }
  const plat::Control& Ctl(int id) {
    static plat::Control none;
    const plat::Control* c = plat::FindControl(dialog_, id);
    EXPECT_NE(c, nullptr) << id;
    return c ? *c : none;
  }
  std::string Text(int id) { return plat::GetText(dialog_, id); }
  plat::Dialog dialog_;
};

// ---------------------------------------------------------------- ComPort Setup

TEST_F(NavDialogs, ComPortListsShowThePresentDevicesByName) {
  g_settings.ComPortGPS_bits_per_second = 1;
  g_settings.ComPortSV_parity = 0;
  Present({"/dev/ttyNOPE0", "/dev/serial/by-id/usb-Nope_Receiver-if00"});
  RunComPorts({{A::kClick, plat::kIdCancel, ""}});
  EXPECT_EQ("ComPort Setup", std::string(dialog_.title));
  const plat::Control& gps = Ctl(kIdGpsPort);
  ASSERT_EQ(2, gps.itemCount);
  EXPECT_STREQ("ttyNOPE0", gps.items[0]);
  EXPECT_STREQ("usb-Nope_Receiver-if00", gps.items[1]);
  EXPECT_EQ(0, gps.selection);
  EXPECT_EQ(1, Ctl(kIdSvPort).selection);  // the probe takes the next free port
  const struct {
    int id;
    int count;
    const char* first;
    const char* last;
    int selection;
  } lists[] = {
      {kIdGpsBitRate, 6, "4800", "115200", 1}, {kIdGpsDataBits, 4, "5", "8", 3}, {kIdGpsParity, 3, "Even", "None", 2},
      {kIdGpsStopBits, 2, "1", "2", 0},        {kIdSvParity, 3, "Even", "None", 0},
  };
  for (const auto& l : lists) {
    SCOPED_TRACE(l.id);
    const plat::Control& c = Ctl(l.id);
    ASSERT_EQ(l.count, c.itemCount);
    EXPECT_STREQ(l.first, c.items[0]);
    EXPECT_STREQ(l.last, c.items[l.count - 1]);
    EXPECT_EQ(l.selection, c.selection);
  }
  EXPECT_EQ(1, plat::IsChecked(dialog_, kIdGpsGga));  // GPSHeadingType 1
  EXPECT_EQ(1, plat::IsChecked(dialog_, kIdSvDigibar));
}

TEST_F(NavDialogs, ComPortWithoutAnyDeviceShowsNotAvailable) {
  Present({});
  const Settings before = g_settings;
  RunComPorts({{A::kCheck, kIdGpsRmc, "", 1}, {A::kClick, plat::kIdOk, ""}});
  for (int id : {kIdGpsPort, kIdGpsBitRate, kIdSvPort, kIdSvStopBits}) {
    SCOPED_TRACE(id);
    ASSERT_EQ(1, Ctl(id).itemCount);
    EXPECT_STREQ(" N/A", Ctl(id).items[0]);
    EXPECT_EQ(0, Ctl(id).enabled);
  }
  // Its radio buttons cannot be changed.
  EXPECT_EQ(0, Ctl(kIdGpsRmc).enabled);
  EXPECT_EQ(1, plat::IsChecked(dialog_, kIdGpsGga));
  EXPECT_EQ(before.GPSHeadingType, g_settings.GPSHeadingType);
  EXPECT_EQ(0, GpsRunning());
}

TEST_F(NavDialogs, SamePortForBothIsRefusedAndTheDialogStays) {
  Present({"/dev/ttyNOPE0", "/dev/ttyNOPE1"});
  const Settings before = g_settings;
  EXPECT_EQ(0, RunComPorts({{A::kSelect, kIdSvPort, "", 0}, {A::kClick, plat::kIdOk, ""}}));
  // Not ended by the refusal: the script running out cancelled it.
  const auto m = Messages();
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ("ComPort Setup", m[0].caption);
  EXPECT_EQ("ComPorts can not be the same.", m[0].text);
  EXPECT_EQ(plat::kIconWarning, m[0].icon);
  EXPECT_EQ(before.ComPortSV, g_settings.ComPortSV);
  // The same choice with the probe switched off is fine.
  plat::rec::Reset();
  EXPECT_EQ(1, RunComPorts({{A::kSelect, kIdSvPort, "", 0}, {A::kCheck, kIdSvEnable, "", 0},
                            {A::kClick, plat::kIdOk, ""}}));
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(0, g_settings.ComPortSVEnable);
  EXPECT_EQ(1, g_settings.ComPortGPSEnable);
}

TEST_F(NavDialogs, DefaultsSetTheLineSettingsButNotThePorts) {
  Present({"/dev/ttyNOPE0", "/dev/ttyNOPE1", "/dev/ttyNOPE2"});
  g_settings.ComPortGPS_bits_per_second = 5;
  g_settings.ComPortGPS_parity = 0;
  g_settings.ComPortSV_bits_per_second = 0;
  g_settings.ComPortSV_stop_bits = 1;
  RunComPorts({{A::kSelect, kIdGpsPort, "", 2}, {A::kClick, kIdComDefaults, ""}, {A::kClick, plat::kIdCancel, ""}});
  EXPECT_EQ(2, Ctl(kIdGpsPort).selection);
  const struct {
    int id, selection;
  } expected[] = {{kIdGpsBitRate, 0}, {kIdGpsDataBits, 3}, {kIdGpsParity, 2}, {kIdGpsStopBits, 0},
                  {kIdSvBitRate, 3},  {kIdSvDataBits, 3},  {kIdSvParity, 2},  {kIdSvStopBits, 0}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.id);
    EXPECT_EQ(e.selection, Ctl(e.id).selection);
  }
  // Cancel: nothing stored.
  EXPECT_EQ(5, g_settings.ComPortGPS_bits_per_second);
  EXPECT_EQ(1, g_settings.ComPortSV_stop_bits);
}

TEST_F(NavDialogs, OkStoresTheChoicesAndOpensBothReaders) {
  testutil::Pty gpsPty, probePty;
  ASSERT_TRUE(gpsPty.ok() && probePty.ok());
  Present({gpsPty.SlavePath(), probePty.SlavePath()});
  g_probe.probeActive = 1;
  ASSERT_EQ(1, RunComPorts({{A::kSelect, kIdGpsBitRate, "", 1},
                            {A::kCheck, kIdGpsRmc, "", 1},
                            {A::kSelect, kIdSvStopBits, "", 1},
                            {A::kCheck, kIdSvSbe37, "", 1},
                            {A::kClick, plat::kIdOk, ""}}));
  EXPECT_EQ(0, g_settings.ComPortGPS);
  EXPECT_EQ(1, g_settings.ComPortSV);
  EXPECT_EQ(1, g_settings.ComPortGPS_bits_per_second);
  EXPECT_EQ(1, g_settings.ComPortSV_stop_bits);
  EXPECT_EQ(2, g_settings.GPSHeadingType);
  EXPECT_EQ(1, g_settings.SVDeviceType);
  EXPECT_EQ(0, g_probe.probeActive.load());
  ASSERT_EQ(1, GpsRunning());
  ASSERT_EQ(1, SoundVelocityRunning());
  EXPECT_EQ(2, g_gpsParser.headingType.load());
  EXPECT_EQ(1, g_probe.deviceType.load());
  // The reader runs with the new choice: an RMC gives position and speed.
  ASSERT_TRUE(gpsPty.Write("$GPRMC,1,A,4916.45,N,12311.12,W,7.5,45.0,010101\r\n"));
  for (int i = 0; i < 200 && !testutil::NavNow().positionShown; ++i) plat::SleepMs(5);
  EXPECT_STREQ(" 49.16.45000 N", std::string(testutil::NavNow().latitude, 14).c_str());
  EXPECT_DOUBLE_EQ(7.5, testutil::NavNow().speedKnots);
  CloseGps();
  CloseSoundVelocity();
}

TEST_F(NavDialogs, ComPortsIsAHeadModeCommand) {
  g_settings.RunMode = 1;
  EXPECT_EQ(0, RunCommand(kCmdComPorts));
  EXPECT_TRUE(plat::rec::Get().dialogsRun.empty());
  g_settings.RunMode = 0;
  EXPECT_EQ(1, RunCommand(kCmdComPorts));  // cancelled: no script
  ASSERT_EQ(1u, plat::rec::Get().dialogsRun.size());
  EXPECT_EQ("COMPORTSETUP", plat::rec::Get().dialogsRun[0]);
}

// ---------------------------------------------------------------- Sound Velocity

TEST_F(NavDialogs, SoundVelocityInFeetShowsTheValueAndRefusesOutsideTheLimits) {
  g_settings.Units = 1;
  g_settings.SoundVelocityMeters = 1500.0;
  EXPECT_EQ(0, RunSpeed({{A::kSetText, kIdSpeedOfSound, "6600.0"}, {A::kClick, plat::kIdOk, ""}}));
  EXPECT_EQ("Sound Velocity", std::string(dialog_.title));
  EXPECT_EQ("(4921.3) :", Text(kIdSpeedOfSoundNow));
  EXPECT_EQ("ft/s", Text(kIdSpeedOfSoundUnit));
  EXPECT_EQ("4921.3", Text(kIdSpeedOfSound));  // put back after the refusal
  const auto m = Messages();
  ASSERT_EQ(1u, m.size());
  EXPECT_EQ("Sound Velocity", m[0].caption);
  EXPECT_EQ("Speed of Sound is out of range!\nUse 4593.2 to 6561.7 ft/s.", m[0].text);
  EXPECT_EQ(plat::kIconWarning, m[0].icon);
  EXPECT_DOUBLE_EQ(1500.0, g_settings.SoundVelocityMeters);
  // The lowest value the message offers is taken.
  EXPECT_EQ(1, RunSpeed({{A::kSetText, kIdSpeedOfSound, "4593.2"}, {A::kClick, plat::kIdOk, ""}}));
  EXPECT_NEAR(4593.2 * 0.3048, g_settings.SoundVelocityMeters, 1e-9);
}

// An edit left without a number is no speed at all: refused like any value
// outside the limits, the current value put back, the dialog left open.
TEST_F(NavDialogs, SoundVelocityWithoutANumberIsRefused) {
  for (const char* text : {"", "abc", "  ."}) {
    SCOPED_TRACE(text);
    plat::rec::Reset();
    g_settings.Units = 0;
    g_settings.SoundVelocityMeters = 1490.0;
    EXPECT_EQ(0, RunSpeed({{A::kSetText, kIdSpeedOfSound, text}, {A::kClick, plat::kIdOk, ""}}));
    const auto m = Messages();
    ASSERT_EQ(1u, m.size());
    EXPECT_EQ("Speed of Sound is out of range!\nUse 1400.0 to 2000.0 m/s.", m[0].text);
    EXPECT_EQ("1490.0", Text(kIdSpeedOfSound));
    EXPECT_DOUBLE_EQ(1490.0, g_settings.SoundVelocityMeters);
  }
}

TEST_F(NavDialogs, SoundVelocitySpinDefaultAndUnits) {
  const struct {
    const char* legend;
    int units;
    std::vector<A> actions;
    const char* shown;
    double stored;
  } cases[] = {
      {"metres, two spins up", 0, {{A::kSpin, kIdSpeedOfSoundSpin, "", 1}, {A::kSpin, kIdSpeedOfSoundSpin, "", 1}},
       "1480.2", 1480.2},
      {"yards, default", 2, {{A::kClick, kIdSpeedOfSoundDefault, ""}}, "1640.4", 1640.4 * 0.9144},
      {"feet, spin down", 1, {{A::kSpin, kIdSpeedOfSoundSpin, "", -1}}, "4855.5", 4855.5 * 0.3048},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    plat::rec::Reset();
    g_settings.Units = c.units;
    g_settings.SoundVelocityMeters = 1480.0;
    std::vector<A> actions = c.actions;
    actions.push_back({A::kClick, plat::kIdOk, ""});
    EXPECT_EQ(1, RunSpeed(actions));
    EXPECT_EQ(c.shown, Text(kIdSpeedOfSound));
    EXPECT_NEAR(c.stored, g_settings.SoundVelocityMeters, 1e-9);
  }
}

TEST_F(NavDialogs, ClosingTheSoundVelocityDialogStopsTheProbeAndMarksAPlayedFile) {
  const struct {
    const char* legend;
    int fileMode;
    const char* typed;
    int ok;
    int marked;
  } cases[] = {
      {"file mode, changed", 1, "1510.0", 1, 1},
      {"file mode, cancelled", 1, "1510.0", 0, 0},
      {"head mode, changed", 0, "1510.0", 1, 0},
      // The file's value in use differs from the probe's last one: unchanged
      // by the operator, so not an override.
      {"file mode, kept", 1, "1500.0", 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    plat::rec::Reset();
    g_settings.RunMode = c.fileMode;
    g_settings.SoundVelocityMeters = 1500.0;
    g_probe.lastApplied = 1487.0;
    g_probe.probeActive = 1;
    g_playback.operatorChangedSoundSpeed = 0;
    const int button = c.ok ? plat::kIdOk : plat::kIdCancel;
    plat::rec::ScriptDialog({"SOUNDVELOCITY", {{A::kSetText, kIdSpeedOfSound, c.typed}, {A::kClick, button, ""}}});
    EXPECT_EQ(1, RunCommand(kCmdSoundVelocity));
    EXPECT_EQ(0, g_probe.probeActive.load());
    EXPECT_EQ(c.marked, g_playback.operatorChangedSoundSpeed);
    EXPECT_DOUBLE_EQ(g_settings.SoundVelocityMeters, g_probe.lastApplied);
  }
}

TEST_F(NavDialogs, SoundVelocityShowsThePlayedFilesValueInFileMode) {
  g_settings.RunMode = 1;
  g_settings.SoundVelocityMeters = 1500.0;
  g_playback.soundSpeedPresent = 1;
  g_playback.soundSpeed = 1487.5;
  RunSpeed({{A::kClick, plat::kIdCancel, ""}});
  EXPECT_EQ("(1487.5) :", Text(kIdSpeedOfSoundNow));
  EXPECT_EQ("1500.0", Text(kIdSpeedOfSound));
}

// ---------------------------------------------------------------- Track Plotter items

TEST_F(NavDialogs, TrackPlotterItemShowsAndHidesTheWindow) {
  EXPECT_EQ(1, RunCommand(kCmdTrackPlotter));
  EXPECT_EQ(1, g_settings.TrackPlotterWindow);
  EXPECT_EQ(1, plat::rec::Get().shown[plat::kWinTrackPlotter]);
  EXPECT_EQ(1, uitest::MenuChecks()[kCmdTrackPlotter]);
  EXPECT_NE(nullptr, plat::LatestFrame(plat::kWinTrackPlotter));
  EXPECT_NE(testutil::ReadText(g_settingsFile.path).find("TrackPlotterWindow=1"), std::string::npos);
  EXPECT_EQ(1, RunCommand(kCmdTrackPlotter));
  EXPECT_EQ(0, g_settings.TrackPlotterWindow);
  EXPECT_EQ(0, plat::rec::Get().shown[plat::kWinTrackPlotter]);
  EXPECT_EQ(0, uitest::MenuChecks()[kCmdTrackPlotter]);
}

TEST_F(NavDialogs, ClearTrackPlotterActsOnlyWhileShown) {
  char lat[14], lon[14];
  testutil::PositionTextsAt(0, 0, lat, lon);
  ASSERT_NE(kTrackFixRejected, AddTrackFix(lat, lon, 1, 0, 0, 0, 0, 0));
  EXPECT_EQ(1, RunCommand(kCmdClearTrackPlotter));
  EXPECT_EQ(1, g_track.stored);
  RunCommand(kCmdTrackPlotter);
  const int draws = g_trackPlot.fullDraws;
  EXPECT_EQ(1, RunCommand(kCmdClearTrackPlotter));
  EXPECT_EQ(0, g_track.stored);
  EXPECT_EQ(draws + 1, g_trackPlot.fullDraws);
}

TEST_F(NavDialogs, LoadSwathCoverageReadsTheWorkingDirectorysLogWithItsProgressBox) {
  testutil::WriteText(dir_.File(kCoverageLogName),
                      "500000.00,5539000.00,499980.00,5539000.00,500020.00,5539000.00,31\r\n"
                      "500000.00,5539010.00,499980.00,5539010.00,500020.00,5539010.00,31\r\n"
                      "damaged line\r\n");
  RunCommand(kCmdTrackPlotter);
  EXPECT_EQ(1, RunCommand(kCmdLoadSwathCoverage));
  EXPECT_EQ(2, g_track.stored);
  EXPECT_EQ(kTrackLoadedEntry, g_track.ring[0].headingChoice);
  const auto& titles = plat::rec::Get().progressTitles;
  ASSERT_FALSE(titles.empty());
  EXPECT_EQ("|Loading Swath Coverage LOG File ...", titles.back());
  EXPECT_EQ(0, plat::rec::Get().progressOpen);
  EXPECT_EQ(100, plat::rec::Get().progressValues.back());
}

}  // namespace
