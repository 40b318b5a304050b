// The two builds of the per-sample loops (baseline and AVX2 with FMA) give
// the same fan: they may round differently in the last bits, never more.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "beamform_test_util.h"

namespace {

class BeamformTargetsTest : public ::testing::Test {
 protected:
  void TearDown() override { BeamformForceBaselineKernels(0); }
};

float s_first[kMaxBeams][kMaxSamples];

// Three pings of a speckled, sloping seabed with a target: averaging, the
// clean-up (roll-shifted in Profile mode) and the rise limit all take part.
void RunScene(int stepSize, int mode, int dataType, int baseline) {
  SceneParams p;
  p.dataType = dataType;
  p.rangeStep = 4;
  p.depthM = 10.0;
  p.slopeDeg = 4.0;
  p.speckle = 1;
  p.noise = 1.5;
  p.targetCount = 1;
  p.targets[0] = {-25.0, 6.0, 50.0};
  bftest::ResetAll(stepSize, mode, SceneSamples(p));
  ResetScene();
  bftest::ApplyScene(p);
  g_settings.AvgFilter = 1;
  g_settings.ProfilePointFilter = 2;
  g_settings.DisplayType = 3;
  g_settings.GainEqualization = 1;
  g_liveRollDeg = 4.0;
  BeamformForceBaselineKernels(baseline);
  for (int ping = 0; ping < 3; ++ping) {
    ASSERT_EQ(bftest::DecodeScenePing(p, ping), 1);
    ASSERT_EQ(ProcessPing(), 1);
  }
}

TEST_F(BeamformTargetsTest, BaselineAndAvx2BuildsAgreeToFloatRounding) {
  if (BeamformForceBaselineKernels(0) == 0) GTEST_SKIP() << "processor without AVX2 and FMA";
  struct Case {
    int stepSize, mode, dataType;
  } cases[] = {{0, 2, 0}, {0, 3, 0}, {1, 3, 1}, {2, 0, 0}, {2, 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "step " << c.stepSize << " mode " << c.mode << " type " << c.dataType);
    RunScene(c.stepSize, c.mode, c.dataType, 1);
    EXPECT_EQ(BeamformFastKernels(), 0);
    const int N = g_beamGeom.beams, n = g_sampleCount;
    float largest = 0.0f;
    for (int b = 0; b < N; ++b) {
      std::memcpy(s_first[b], g_beamImage[b], sizeof(float) * n);
      for (int s = 0; s < n; ++s) largest = std::max(largest, g_beamImage[b][s]);
    }
    ASSERT_GT(largest, 100.0f);
    RunScene(c.stepSize, c.mode, c.dataType, 0);
    EXPECT_EQ(BeamformFastKernels(), 1);
    float worst = 0.0f;
    for (int b = 0; b < N; ++b)
      for (int s = 0; s < n; ++s) worst = std::max(worst, std::fabs(g_beamImage[b][s] - s_first[b][s]));
    EXPECT_LE(worst, 2e-5f * largest);
  }
}

}  // namespace
