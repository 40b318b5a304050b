// The builds of the per-sample loops (baseline, AVX2 with FMA, AVX-512) give
// the same fan: the fast ones may round differently from the baseline in the
// last bits, never more, and agree with each other bit for bit. Forming a
// beam together with its mirror, and the vector form of the rise limit, give
// exactly what the plain forms give.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "beamform_test_util.h"

namespace {

class BeamformTargetsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    BeamformForceKernelTier(-1);
    BeamformShareMirrorSums(1);
  }
};

float s_first[kMaxBeams][kMaxSamples];

struct Case {
  const char* legend;
  int stepSize, mode, dataType;
  int profileRoll;  // 1: Profile display, Bottom Following, rolled 4 deg (no mirror pairs)
};

// Every sharpening curve, Narrow Mixed's strided zones, both data types, and
// a fan with and without roll, so mirror pairs and single beams both occur.
const Case kCases[] = {
    {"480 Narrow U rolled", 0, 2, 0, 1},        {"480 Narrow Mixed U rolled", 0, 3, 0, 1},
    {"240 Narrow Mixed V rolled", 1, 3, 1, 1},  {"120 Wide U rolled", 2, 0, 0, 1},
    {"120 Normal U rolled", 2, 1, 0, 1},        {"480 Narrow U", 0, 2, 0, 0},
    {"480 Narrow Mixed V", 0, 3, 1, 0},         {"240 Normal U", 1, 1, 0, 0},
    {"120 Wide V", 2, 0, 1, 0},
};

// Three pings of a speckled, sloping seabed with a target: averaging, the
// clean-up (roll-shifted in Profile mode) and the rise limit all take part.
void RunScene(const Case& c, int tier) {
  const SceneParams p = bftest::SlopingSeabedScene(c.dataType, 1);
  bftest::ResetAll(c.stepSize, c.mode, SceneSamples(p));
  ResetScene();
  bftest::ApplyScene(p);
  g_settings.AvgFilter = 1;
  g_settings.ProfilePointFilter = c.profileRoll ? 2 : 1;
  g_settings.DisplayType = c.profileRoll ? 3 : 0;
  g_settings.GainEqualization = 1;
  g_liveRollDeg = 4.0;
  ASSERT_EQ(BeamformForceKernelTier(tier), tier);
  for (int ping = 0; ping < 3; ++ping) {
    ASSERT_EQ(bftest::DecodeScenePing(p, ping), 1);
    ASSERT_EQ(ProcessPing(), 1);
  }
}

float KeepFan() {
  const int N = g_beamGeom.beams, n = g_sampleCount;
  float largest = 0.0f;
  for (int b = 0; b < N; ++b) {
    std::memcpy(s_first[b], g_beamImage[b], sizeof(float) * n);
    for (int s = 0; s < n; ++s) largest = std::max(largest, g_beamImage[b][s]);
  }
  return largest;
}

float WorstDifference() {
  float worst = 0.0f;
  for (int b = 0; b < g_beamGeom.beams; ++b)
    for (int s = 0; s < g_sampleCount; ++s) worst = std::max(worst, std::fabs(g_beamImage[b][s] - s_first[b][s]));
  return worst;
}

bool SameBits() {
  for (int b = 0; b < g_beamGeom.beams; ++b)
    if (std::memcmp(g_beamImage[b], s_first[b], sizeof(float) * g_sampleCount) != 0) return false;
  return true;
}

TEST_F(BeamformTargetsTest, FastBuildsAgreeWithTheBaselineToFloatRounding) {
  const int best = BeamformForceKernelTier(-1);
  if (best == kBeamformTierBaseline) GTEST_SKIP() << "processor without AVX2 and FMA";
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.legend);
    RunScene(c, kBeamformTierBaseline);
    EXPECT_EQ(BeamformFastKernels(), 0);
    const float largest = KeepFan();
    ASSERT_GT(largest, 100.0f);
    for (int tier = kBeamformTierAvx2; tier <= best; ++tier) {
      SCOPED_TRACE(testing::Message() << "tier " << tier);
      RunScene(c, tier);
      EXPECT_EQ(BeamformKernelTier(), tier);
      EXPECT_EQ(BeamformFastKernels(), 1);
      EXPECT_LE(WorstDifference(), 2e-5f * largest);
    }
  }
}

TEST_F(BeamformTargetsTest, Avx512BuildGivesTheAvx2FanBitForBit) {
  // The products of a machine with AVX-512 stay those of one with AVX2.
  if (BeamformForceKernelTier(-1) < kBeamformTierAvx512) GTEST_SKIP() << "processor without AVX-512";
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.legend);
    RunScene(c, kBeamformTierAvx2);
    ASSERT_GT(KeepFan(), 100.0f);
    RunScene(c, kBeamformTierAvx512);
    EXPECT_TRUE(SameBits());
  }
}

TEST_F(BeamformTargetsTest, ForcingATierTheProcessorLacksGivesTheBestItHas) {
  const int best = BeamformForceKernelTier(-1);
  EXPECT_GE(best, kBeamformTierBaseline);
  EXPECT_LE(best, kBeamformTierAvx512);
  EXPECT_EQ(BeamformForceKernelTier(kBeamformTierAvx512 + 1), best);
  EXPECT_EQ(BeamformForceBaselineKernels(1), 0);
  EXPECT_EQ(BeamformKernelTier(), kBeamformTierBaseline);
  EXPECT_EQ(BeamformForceBaselineKernels(0), best != kBeamformTierBaseline ? 1 : 0);
  BeamformForceKernelTier(kBeamformTierBaseline);
  ResetBeamform();
  EXPECT_EQ(BeamformKernelTier(), best);
}

TEST_F(BeamformTargetsTest, MirrorBeamsFormedTogetherEqualEachFormedAlone) {
  // Without roll every beam has an exact mirror; Profile display without roll
  // adds the nadir beams of Bottom Following, whose mirrors partly lie
  // outside the nadir band and are formed alone.
  const Case cases[] = {
      {"480 Narrow U", 0, 2, 0, 0},    {"480 Narrow Mixed U", 0, 3, 0, 0}, {"240 Narrow Mixed V", 1, 3, 1, 0},
      {"120 Normal U", 2, 1, 0, 0},    {"120 Wide V", 2, 0, 1, 0},
  };
  for (int tier = kBeamformTierBaseline; tier <= BeamformForceKernelTier(-1); ++tier) {
    for (const Case& c : cases) {
      for (int profile = 0; profile < 2; ++profile) {
        SCOPED_TRACE(testing::Message() << c.legend << " tier " << tier << (profile ? " Profile" : ""));
        for (int share = 1; share >= 0; --share) {
          RunScene(c, tier);  // resets the sharing to its default
          if (profile) {
            g_settings.DisplayType = 3;
            g_settings.ProfilePointFilter = 2;
            g_liveRollDeg = 0.0;
          }
          BeamformShareMirrorSums(share);
          SceneParams p;
          p.dataType = c.dataType;
          p.rangeStep = 4;
          p.speckle = 1;
          p.targetCount = 1;
          p.targets[0] = {30.0, 5.0, 60.0};
          ASSERT_EQ(bftest::DecodeScenePing(p, 7), 1);
          ASSERT_EQ(ProcessPing(), 1);
          if (share)
            ASSERT_GT(KeepFan(), 50.0f);
          else
            EXPECT_TRUE(SameBits());
        }
      }
    }
  }
}

TEST_F(BeamformTargetsTest, RiseLimitIsTheSampleBySampleChain) {
  // First Return leaves the sharpened rows unlimited, Maximum Return limits
  // them; with no clean-up and no averaging shown, BeamImage holds the rows
  // themselves. A strong near target makes capped stretches longer than the
  // limit's window; speckle makes many short ones.
  static float unlimited[kMaxBeams][kMaxSamples];
  for (int tier = kBeamformTierBaseline; tier <= BeamformForceKernelTier(-1); ++tier) {
    for (int mode : {0, 2, 3}) {
      SCOPED_TRACE(testing::Message() << "tier " << tier << " mode " << mode);
      long capped = 0, longStretches = 0;
      for (int filter = 0; filter < 2; ++filter) {
        bftest::ResetAll(0, mode);
        g_settings.ProfilePointFilter = filter;
        g_flatBottomFlag = 1;
        ASSERT_EQ(BeamformForceKernelTier(tier), tier);
        bftest::AddNoise(40, 99u);
        bftest::AddEcho(10 * M_PI / 180.0, 60, 10, 2000.0);
        bftest::AddEcho(-30 * M_PI / 180.0, 300, 40, 400.0);
        ASSERT_EQ(ProcessPing(), 1);
        const int N = g_beamGeom.beams;
        if (filter == 0) {
          std::memcpy(unlimited, g_beamImage, sizeof(float) * kMaxSamples * N);
          continue;
        }
        for (int b = 0; b < N; ++b) {
          float p = unlimited[b][0];
          int run = 0;
          for (int s = 1; s <= 498; ++s) {
            const float v = unlimited[b][s];
            const float cap = p + 50.0f;
            p = v > cap ? cap : v;
            run = v > cap ? run + 1 : 0;
            capped += v > cap;
            longStretches += run == 4;
            ASSERT_EQ(std::memcmp(&p, &g_beamImage[b][s], sizeof p), 0) << "beam " << b << " sample " << s;
          }
        }
      }
      EXPECT_GT(capped, 1000);
      EXPECT_GT(longStretches, 10);
    }
  }
}

}  // namespace
