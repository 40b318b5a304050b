// What the per-ping chain hands the settings loader and the renderer: the
// follow-ups of the keys the loader reads (detection's blanking distance, the
// outlier filters' switches, the frequency refresh) and the Bottom Following
// track that keeps the Profile picture from being mixed down.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/chain_fixture.h"
#include "console/conversion.h"
#include "console/playback.h"
#include "files/sonar_file.h"
#include "processing/xtf.h"
#include "console/ping_cycle.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/render.h"
#include "nav/nav_state.h"
#include "platform/net.h"
#include "platform/recording.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "processing/profile_filter.h"
#include "scene.h"
#include "scene_file.h"
#include "settings/settings.h"

namespace {


class SettingsWiring : public testutil::ChainTest {
 protected:
  SettingsWiring() : ChainTest("orvale_wiring") {}
  std::string WriteIni(const char* text) {
    const std::string path = Path("Orvale.INI");
    testutil::WriteText(path, text);
    return path;
  }
  // Plays every record of a recording of the scene through the whole chain.
  void Play(const SceneParams& scene, int pings) {
    SurveyParams survey;
    survey.pingCount = pings;
    const std::string path = Path("scene.K41");
    ASSERT_EQ(WriteSceneFile(path.c_str(), scene, survey), pings);
    g_settings.RunMode = 1;
    SaveLiveHeadCopies();
    ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
    for (int i = 0; i < pings; ++i) ASSERT_EQ(PlaybackStep(), kStepRecord);
  }
};

TEST_F(SettingsWiring, LoadingRunsTheDetectionAndFilterFollowUps) {
  const std::string ini = WriteIni(
      "[Settings]\nProfilePointDotSize=1\n"
      "[Filter Settings]\nProfilePointFilter_g_short_outliers_sw=0\n");
  // What external control and the filter dialog may have left behind.
  SetMinimumRange(12);
  g_filter.deepOutlierSw = 0;
  g_filter.shortOutlierCompanion = 0;
  LoadConsoleSettings(ini.c_str());
  EXPECT_FLOAT_EQ(g_detect.minimumRangeM, 0.1f);
  EXPECT_EQ(g_filter.deepOutlierSw, 1);
  EXPECT_EQ(g_filter.shortOutlierCompanion, 1);
  EXPECT_EQ(g_settings.ProfilePointFilter_g_short_outliers_sw, 0);
}

TEST_F(SettingsWiring, AFrequencyReadBeforeTheChainExistsIsLeftForItsStart) {
  const std::string ini = WriteIni("[Settings]\nFrequency=245\n");
  g_perPing.refreshFrequencyKHz = 245;  // as if the tables were built for it
  LoadConsoleSettings(ini.c_str());
  EXPECT_EQ(g_settings.Frequency, 245);
  EXPECT_EQ(g_perPing.refreshFrequencyKHz, -1);  // forced: InitPipeline rebuilds
  EXPECT_EQ(g_perPing.frequencyRefreshes, 0);
}

TEST_F(SettingsWiring, AFrequencyReadWhileTheChainRunsRebuildsTheTables) {
  InitPipeline();
  const int rebuilds = g_perPing.frequencyRefreshes;
  const int tables = g_perPing.tableRebuilds;
  // The same frequency as the tables hold: the refresh is still forced.
  const std::string ini = WriteIni("[Settings]\nFrequency=260\n");
  LoadConsoleSettings(ini.c_str());
  EXPECT_EQ(g_perPing.frequencyRefreshes, rebuilds + 1);
  EXPECT_EQ(g_perPing.tableRebuilds, tables + 1);
  EXPECT_EQ(g_perPing.refreshFrequencyKHz, 260);
}

TEST_F(SettingsWiring, BottomFollowingOnASeabedHoldsATrack) {
  g_settings.ProfilePointDetection = 1;
  g_settings.ProfilePointFilter = 2;
  g_settings.DisplayType = 3;
  SceneParams scene;
  scene.depthM = 12.0;
  Play(scene, 4);
  EXPECT_GT(g_profilePoints.beams, 0);
  EXPECT_EQ(g_render.bottomTrackActive, 1);
}

TEST_F(SettingsWiring, NoTrackWithoutPointsOrWithAnotherMethod) {
  struct Case {
    const char* legend;
    int seabed, detection, method, display;
  } cases[] = {
      {"silent open water", 0, 1, 2, 3},
      {"detection off", 1, 0, 2, 3},
      {"Maximum Return", 1, 1, 1, 3},
      {"First Return", 1, 1, 0, 3},
      {"Beam Test", 1, 1, 2, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    TearDown();
    SetUp();
    g_settings.ProfilePointDetection = c.detection;
    g_settings.ProfilePointFilter = c.method;
    g_settings.DisplayType = c.display;
    g_render.bottomTrackActive = 1;  // left over from an earlier ping
    SceneParams scene;
    scene.depthM = 12.0;
    scene.seabed = c.seabed;
    if (!c.seabed) scene.noise = 0.0;
    Play(scene, 3);
    EXPECT_EQ(g_render.bottomTrackActive, 0);
  }
}

TEST_F(SettingsWiring, AStoredFrequencyBringsItsHeadsLimitsBeforeTheKeysAreRead) {
  // 120 kHz names the 300 m head: step 14 is allowed and 120 itself lies in
  // the band its configuration brings, so the operator's values survive.
  LoadConsoleSettings(WriteIni("[Settings]\nFrequency=120\nRange=14\n").c_str());
  EXPECT_EQ(g_headLimits.maxStep, 14);
  EXPECT_EQ(g_headLimits.headDefaultFreqKHz, 120);
  EXPECT_EQ(g_headLimits.FrequencyCoefficient, 3);
  EXPECT_EQ(g_liveHead.FrequencyCoefficient, 3);
  EXPECT_EQ(g_headLimits.freqMinKHz, 50);
  EXPECT_EQ(g_headLimits.freqMaxKHz, 1000);
  EXPECT_EQ(g_settings.Range, 14);
  EXPECT_EQ(g_settings.Frequency, 120);

  // A frequency no head is made for leaves the start-up head's limits.
  ResetSwitchState();
  LoadConsoleSettings(WriteIni("[Settings]\nFrequency=125\nRange=14\n").c_str());
  EXPECT_EQ(g_headLimits.maxStep, 11);
  EXPECT_EQ(g_headLimits.FrequencyCoefficient, 10);
  EXPECT_EQ(g_settings.Range, 5);
  EXPECT_NE(g_settings.Frequency, 125);
}

}  // namespace
