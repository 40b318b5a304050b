// The Diagnostics rows (header, timings, settings in use, the velocity mark
// and its warning, Head and File mode texts, "n/a" before the first ping and
// after a run-mode change) and the per-ping wiring of the rows and the
// waterfall windows through the console's own cycle.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "common/alloc_counter.h"
#include "common/chain_fixture.h"
#include "console/diagnostics.h"
#include "console/ping_cycle.h"
#include "console/playback.h"
#include "console/run_mode.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/waterfall.h"
#include "nav/sound_velocity.h"
#include "platform/frame_handoff.h"
#include "platform/platform.h"
#include "platform/recording.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "scene.h"
#include "scene_file.h"
#include "settings/settings.h"
#include "ui/commands.h"

namespace {

class Diagnostics : public testutil::ChainTest {
 protected:
  Diagnostics() : ChainTest("orvale_diag") {}
  static std::string RowText(int row) { return g_diagnostics.rows[row]; }
  // A header as packet 0 of a "U" ping from a head of `headType`.
  static void PutHeader(int headType, int modeCode = 2, int byte6 = 0x21) {
    const uint8_t h[kDiagnosticsHeaderBytes] = {'I', 'U', 'X', 0x05, 0x0A, 0, static_cast<uint8_t>(byte6),
                                                30, static_cast<uint8_t>(headType),
                                                static_cast<uint8_t>(modeCode), 0, 0};
    std::memcpy(g_pingRecord, h, sizeof h);
    UpdateDiagnostics();
  }
};

TEST_F(Diagnostics, HeaderRowsReadNaBeforeTheFirstPingAndAfterARunModeChange) {
  for (int row : {kDiagHeader, kDiagType, kDiagHeadLabel}) EXPECT_EQ("n/a", RowText(row)) << row;
  PutHeader(4);
  EXPECT_EQ("IUX   0x05, 0x0A", RowText(kDiagHeader));
  EXPECT_EQ("0x02, 0x04, 0x21", RowText(kDiagType));
  EXPECT_EQ("260kHz: 90 x 20", RowText(kDiagHeadLabel));
  // The cycle wipes the record's header after each ping; the rows keep it.
  FinishPing();
  RefreshDiagnostics();
  EXPECT_EQ("IUX   0x05, 0x0A", RowText(kDiagHeader));
  ResetRunState();
  for (int row : {kDiagHeader, kDiagType, kDiagHeadLabel}) EXPECT_EQ("n/a", RowText(row)) << row;
  EXPECT_EQ("0 ms + 0 ms", RowText(kDiagSonarTime));
}

TEST_F(Diagnostics, SettingRowsInHeadMode) {
  struct Case { const char* legend; int avg, avgIndex, mode, eq, row; const char* expected; } cases[] = {
      {"averaging off", 0, 5, 0, 0, kDiagAverage, "Off"},
      {"averaging on", 1, 5, 0, 0, kDiagAverage, "5 shots"},
      {"wide", 0, 5, 0, 0, kDiagBeamwidth, "Wide"},
      {"narrow mixed", 0, 5, 3, 0, kDiagBeamwidth, "Narrow Mixed"},
      {"equalisation off", 0, 5, 0, 0, kDiagBeams, "240    EQ=Off"},
      {"equalisation on", 0, 5, 0, 1, kDiagBeams, "240    EQ=On"},
  };
  g_beamGeom.beams = 240;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.AvgFilter = c.avg;
    g_settings.AvgFilterIndex = c.avgIndex;
    g_settings.ProcessingMode = c.mode;
    g_settings.GainEqualization = c.eq;
    RefreshDiagnostics();
    EXPECT_EQ(c.expected, RowText(c.row));
  }
  g_settings.DisplayGain = 45;
  g_settings.PulseLength = 120;
  g_settings.SonarDepthMeters = 1.5;
  std::strcpy(g_settings.IPAddress_Sonar1, "127.0.0.1");
  RefreshDiagnostics();
  EXPECT_EQ("45%", RowText(kDiagDisplayGain));
  EXPECT_EQ("120 us", RowText(kDiagPulse));
  EXPECT_EQ("1.50 m", RowText(kDiagDepth));
  EXPECT_EQ("0.00 m  ", RowText(kDiagHeave));
  EXPECT_EQ("n/a", RowText(kDiagHdt));
  EXPECT_EQ("127.0.0.1 d", RowText(kDiagIpSonar));
  EXPECT_EQ("", RowText(kDiagIpAzimuth));
  EXPECT_EQ("IP Azimuth", std::string(kDiagnosticsLabels[kDiagIpAzimuth]));
  EXPECT_EQ("", std::string(kDiagnosticsLabels[8]));
}

TEST_F(Diagnostics, FrequencyRowInMegahertzForTheHighFrequencyHead) {
  struct Case { const char* legend; int headType, kHz, coefficient; const char* expected; } cases[] = {
      {"1.7 MHz head", 9, 1700, 170, "1.70 MHz, 1.70"},
      {"260 kHz head", 4, 260, 10, "260 kHz, 0.10"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.Frequency = c.kHz;
    g_headLimits.FrequencyCoefficient = c.coefficient;
    PutHeader(c.headType);
    EXPECT_EQ(c.expected, RowText(kDiagFrequency));
  }
  EXPECT_EQ("1.7MHz: 120 x 0.9", std::string(HeadTypeLabel(9)));
  EXPECT_EQ("n/a", std::string(HeadTypeLabel(19)));
}

TEST_F(Diagnostics, TimingRowsFromTheLinkAndTheCycle) {
  g_settings.Range = 5;  // 30 m: 40 ms there and back
  NoteLinkTimes(55, 3, 12);
  g_ping.sequenceErrors = 2;
  g_perPing.procTimeMs = 6.5;
  g_perPing.plotTimeMs = 2.4;
  std::strcpy(g_ping.meanPeriodText, "100 ms");
  std::strcpy(g_ping.rateText, "10 Hz");
  RefreshDiagnostics();
  EXPECT_EQ("40 ms + 15 ms", RowText(kDiagSonarTime));
  EXPECT_EQ("3 ms, 12 ms   2", RowText(kDiagPacketTime));
  EXPECT_EQ("7 ms", RowText(kDiagProcTime));
  EXPECT_EQ("2 + 0 ms", RowText(kDiagPlotTime));
  EXPECT_EQ("100 ms (10 Hz)", RowText(kDiagPrf));
  // The painter's own time shows with the next build.
  BeginDiagnosticsPaint();
  plat::SleepMs(3);
  EndDiagnosticsPaint();
  EXPECT_GE(g_diagnostics.paintTimeMs.load(), 2);
  RefreshDiagnostics();
  EXPECT_EQ("2 + " + std::to_string(g_diagnostics.paintTimeMs.load()) + " ms", RowText(kDiagPlotTime));
  const uint8_t control[] = {'S', 'V', '1'};
  NoteControlDatagram(control, 3);
  // The bytes of the last send beside the output counter (the ping number
  // the records carry), not a count of datagrams.
  g_outputs.bytesOut = 812;
  g_outputs.outputCounter = 57;
  g_outputs.datagramsSent = 4;
  g_ping.extTriggerStatus = 0x81;
  RefreshDiagnostics();
  EXPECT_EQ("812-57 SV", RowText(kDiagBytesOut));
  EXPECT_EQ("0x81     HR-1", RowText(kDiagExtTrigger));
}

TEST_F(Diagnostics, FileModeRowsShowThePlayedValuesBeside) {
  g_settings.RunMode = 1;
  g_settings.DisplayGain = 50;
  g_playback.displayGain = 40;
  g_settings.SoundVelocityMeters = 1500.0;
  g_playback.soundSpeed = 1490.0;
  g_playback.depthM = 2.25f;
  g_playback.heaveM = 0.5f;
  g_playback.hdtValid = 1;
  g_playback.hdtHeadingDeg = 12.5f;
  std::strcpy(g_ping.meanPeriodText, "100 ms");
  struct Case { const char* legend; int period; const char* expected; } cases[] = {
      {"10 Hz", 100, "100 ms (100,10Hz)"},
      {"no period", 0, "100 ms (0,0Hz)"},
      {"rounded half up", 3, "100 ms (3,333Hz)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_player.lastPingPeriodMs = c.period;
    RefreshDiagnostics();
    EXPECT_EQ(c.expected, RowText(kDiagPrf));
  }
  EXPECT_EQ("50%  (40%)", RowText(kDiagDisplayGain));
  EXPECT_EQ("1500.0 (1490.0)", RowText(kDiagVelocity));
  EXPECT_EQ("2.25 m", RowText(kDiagDepth));
  EXPECT_EQ("0.50 m", RowText(kDiagHeave));
  EXPECT_EQ("12.50 deg", RowText(kDiagHdt));
  EXPECT_EQ(0, g_diagnostics.velocityWarning);
}

TEST_F(Diagnostics, NewVelocityAlternatesItsMarkThenGoesStale) {
  g_settings.SoundVelocityMeters = 1487.25;
  g_probe.probeActive.store(1);
  NoteNewVelocity();
  BuildDiagnosticsRows(10.0);
  EXPECT_EQ("1487.2 m/s *", RowText(kDiagVelocity));
  BuildDiagnosticsRows(10.5);
  EXPECT_EQ("1487.2 m/s", RowText(kDiagVelocity));
  BuildDiagnosticsRows(11.0);
  EXPECT_EQ("1487.2 m/s *", RowText(kDiagVelocity));
  EXPECT_EQ(0, g_diagnostics.velocityWarning);
  // More than four seconds without a new value: plain text, warning colour.
  BuildDiagnosticsRows(14.5);
  EXPECT_EQ("1487.2 m/s", RowText(kDiagVelocity));
  EXPECT_EQ(1, g_diagnostics.velocityWarning);
  // A reading from the probe starts the mark again.
  g_probe.newValue.store(1);
  BuildDiagnosticsRows(20.0);
  EXPECT_EQ("1487.2 m/s *", RowText(kDiagVelocity));
  EXPECT_EQ(0, g_diagnostics.velocityWarning);
  EXPECT_EQ(0, g_probe.newValue.load());
  // Without a probe nothing is late.
  g_probe.probeActive.store(0);
  BuildDiagnosticsRows(40.0);
  EXPECT_EQ(0, g_diagnostics.velocityWarning);
}

// ---------------------------------------------------------------- the cycle

// A generated survey at 12 m opened for playback in File mode, with the
// Diagnostics window shown.
void OpenPlayedSurvey(const std::string& path, int pings) {
  SceneParams scene;
  scene.rangeStep = 5;
  scene.depthM = 12.0;
  SurveyParams survey;
  survey.pingCount = pings;
  ASSERT_EQ(pings, WriteSceneFile(path.c_str(), scene, survey));
  g_settings.RunMode = 1;
  SaveLiveHeadCopies();
  g_settings.DiagnosticsWindow = 1;
  ASSERT_EQ(1, OpenPlaybackFile(path.c_str()));
}

TEST_F(Diagnostics, PlayedPingsUpdateTheShownWaterfallsAndTheRows) {
  ASSERT_NO_FATAL_FAILURE(OpenPlayedSurvey(Path("survey.K41"), 9));
  InitPipeline();  // its colour selection republishes every shown picture
  ASSERT_EQ(1, RunCommand(621));  // Sidescan
  ASSERT_EQ(1, RunCommand(622));  // Echo Sounder; Intensity stays hidden
  EXPECT_EQ(1, WaterfallShown(kSidescanWaterfall));
  const int64_t sidescan0 = plat::FramesPublished(plat::kWinSidescan);
  const int64_t echo0 = plat::FramesPublished(plat::kWinEchoSounder);
  const int diagInvalidations0 = plat::rec::Get().invalidations[plat::kWinDiagnostics];
  // The first record after opening is passed over.
  for (int i = 0; i < 7; ++i) ASSERT_EQ(kStepRecord, PlaybackStep());
  EXPECT_EQ(6, g_perPing.pingsProcessed);
  // The Sidescan waits for its fifth ping; the Echo Sounder draws every one.
  EXPECT_EQ(2, g_waterfalls[kSidescanWaterfall].updates);
  EXPECT_EQ(sidescan0 + 2, plat::FramesPublished(plat::kWinSidescan));
  EXPECT_EQ(echo0 + 6, plat::FramesPublished(plat::kWinEchoSounder));
  EXPECT_EQ(0, plat::FramesPublished(plat::kWinIntensity));
  // The seabed of the played file shows in the newest Echo Sounder column.
  const WaterfallWindow& echo = g_waterfalls[kEchoSounderWaterfall];
  int brightest = 0;
  for (int y = 0; y < echo.height; ++y)
    brightest = std::max<int>(brightest, echo.pixels[y * echo.width + echo.width - 1]);
  EXPECT_GT(brightest, 10);
  // Rows of the last ping, its header kept although the record was finished.
  EXPECT_EQ(6, g_diagnostics.builds);
  EXPECT_EQ('I', RowText(kDiagHeader)[0]);
  EXPECT_GE(plat::rec::Get().invalidations[plat::kWinDiagnostics], diagInvalidations0 + 6);
  // Closing the window frees its picture; later pings leave it alone.
  ASSERT_EQ(1, RunCommand(621));
  EXPECT_EQ(0, g_waterfalls[kSidescanWaterfall].ready);
  ASSERT_EQ(kStepRecord, PlaybackStep());
  EXPECT_EQ(sidescan0 + 2, plat::FramesPublished(plat::kWinSidescan));
}

TEST_F(Diagnostics, ShownWindowsAllocateNothingPerPing) {
  g_settings.ProfilePointIntensityOutput = 0;  // the Intensity window computes its own
  ASSERT_NO_FATAL_FAILURE(OpenPlayedSurvey(Path("alloc.K41"), 12));
  for (int id : {621, 622, 623}) ASSERT_EQ(1, RunCommand(id));
  for (int i = 0; i < 6; ++i) PlaybackStep();  // past the Sidescan's skipped pings
  alloc_counter::Start();
  for (int i = 0; i < 5; ++i) PlaybackStep();
  EXPECT_EQ(0, alloc_counter::Stop());
  EXPECT_EQ(10, g_perPing.pingsProcessed);
  for (int kind = 0; kind < kWaterfallCount; ++kind) EXPECT_GE(g_waterfalls[kind].updates, 5) << kind;
}

}  // namespace
