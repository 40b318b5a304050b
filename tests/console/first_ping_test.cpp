// The ping that brings a new setting is formed from its own samples: the
// processing reset that a played record's new range (or a new head type)
// causes clears the histories, not the ping already decoded.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/chain_fixture.h"
#include "console/conversion.h"
#include "console/playback.h"
#include "files/sonar_file.h"
#include "processing/xtf.h"
#include "console/ping_cycle.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "platform/net.h"
#include "platform/recording.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "scene.h"
#include "scene_file.h"
#include "settings/settings.h"

namespace {

using testutil::ReadAll;

std::vector<float> g_peaks;      // strongest formed sample of each processed ping
std::vector<int> g_resets;       // processing resets seen by then
int PeakRecordingProcessor() {
  const int ok = ProcessDecodedRecord();
  float peak = 0.0f;
  for (int b = 0; b < g_beamGeom.beams; ++b)
    for (int s = 0; s < g_beamGeom.samples; ++s) peak = std::max(peak, g_beamImage[b][s]);
  g_peaks.push_back(ok ? peak : -1.0f);
  g_resets.push_back(g_perPing.processingResets);
  return ok;
}

class FirstPing : public testutil::ChainTest {
 protected:
  FirstPing() : ChainTest("orvale_first") {}
  void SetUp() override {
    ChainTest::SetUp();
    g_peaks.clear();
    g_resets.clear();
  }
  void TearDown() override {
    SetRecordProcessor(nullptr);
    ChainTest::TearDown();
  }
  std::vector<uint8_t> Survey(int pings, int rangeStep, double depthM) {
    SceneParams scene;
    scene.rangeStep = rangeStep;
    scene.depthM = depthM;
    SurveyParams survey;
    survey.pingCount = pings;
    const std::string tmp = dir_ + "/part.K41";
    EXPECT_EQ(WriteSceneFile(tmp.c_str(), scene, survey), pings);
    return ReadAll(tmp);
  }
};

TEST_F(FirstPing, EveryPingOfANewRangeShowsItsSeabed) {
  std::vector<uint8_t> bytes = Survey(3, 5, 12.0);        // 30 m
  const std::vector<uint8_t> more = Survey(3, 4, 8.0);    // 20 m
  bytes.insert(bytes.end(), more.begin(), more.end());
  const std::string path = dir_ + "/mixed.K41";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);

  g_settings.RunMode = 1;
  g_settings.AvgFilter = 0;
  SaveLiveHeadCopies();
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  g_player.commandLineRun = 1;  // a conversion: every record is processed
  SetRecordProcessor(PeakRecordingProcessor);
  int guard = 0;
  while (!g_player.quitRequested && ++guard < 100) PlaybackStep();
  ASSERT_EQ(g_peaks.size(), 6u);
  // Pings 0 and 3 brought a new range and reset the chain.
  EXPECT_GT(g_resets[0], 0);
  EXPECT_GT(g_resets[3], g_resets[2]);
  const float steady = std::min(g_peaks[1], g_peaks[4]);
  ASSERT_GT(steady, 50.0f);
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    EXPECT_GT(g_peaks[k], 0.5f * steady);
  }
}

}  // namespace
