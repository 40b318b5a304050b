// Beam geometry, steering table, beam gains and the small numeric helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>
#include <limits>

#include "beamform_test_util.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

class BeamGeometryTest : public ::testing::Test {
 protected:
  void SetUp() override { bftest::ResetAll(); }
};

struct GeometryCase {
  const char* legend;
  int headType;
  int stepSize;
  int sectorSize;
  int frequencyKHz;
  int runMode;
  int rangeStep;
  int headMode;
  int beams;
  double spacingM;
  double sectorDeg;
  double carrierHz;
  float spacingFactor;
};

TEST_F(BeamGeometryTest, BeamCountSpacingAndSectorFollowHeadTypeAndSettings) {
  const GeometryCase cases[] = {
      {"type 4, 480 beams, 120 deg, 20 m, mode 0", 4, 0, 3, 260, 0, 4, 0, 480, 0.0028702 * 1.03, 120.0,
       260000.0, 0.25f},
      {"type 4, 240 beams, 90 deg, 5 m, mode 4", 4, 1, 2, 260, 0, 2, 4, 180, 0.0028702 * 1.03, 90.0, 260000.0,
       0.5f},
      {"type 4, 5 m, mode 3 uses the low-mode factor", 4, 1, 3, 260, 0, 2, 3, 240, 0.0028702 * 1.0626, 120.0,
       260000.0, 0.5f},
      {"type 4 beyond 30 m has no correction", 4, 1, 3, 260, 0, 6, 0, 240, 0.0028702, 120.0, 260000.0, 0.5f},
      {"type 5, 10 m, 480 beams, 100 deg", 5, 0, 4, 260, 0, 3, 0, 400, 0.006223 * 1.05, 100.0, 260000.0, 0.25f},
      {"type 5, 30 m, 110 deg", 5, 1, 5, 260, 0, 5, 0, 220, 0.006223 * 1.01, 110.0, 260000.0, 0.5f},
      {"120 beams over 30 deg", 4, 2, 0, 260, 0, 4, 0, 30, 0.0028702 * 1.03, 30.0, 260000.0, 1.0f},
      {"480 beams over 30 deg keep the fine spacing", 4, 0, 0, 260, 0, 4, 0, 120, 0.0028702 * 1.03, 30.0,
       260000.0, 0.25f},
      // sin θs = 0.5 c / (f d) = 750 / (675000 x 0.0031886) = 0.34846: θs = 20.392 deg
      {"type 2 at 675 kHz takes the sector from the spacing", 2, 0, 3, 675, 0, 4, 0, 163, 0.0031886, 40.785,
       675000.0, 0.25f},
      // 0.5 c / (f d) = 0.984 is above the 0.866 cap: the sector stops at 120 deg
      {"type 1 at 120 kHz is capped at 120 deg", 1, 1, 0, 120, 0, 4, 0, 240, 0.006351, 120.0, 120000.0, 0.5f},
      {"type 6 at 260 kHz is capped at 120 deg", 6, 2, 0, 260, 0, 4, 0, 120, 0.003175, 120.0, 260000.0, 1.0f},
      {"type 0 played at 260 kHz is taken as 60 kHz", 0, 1, 3, 260, 1, 4, 0, 240, 0.0127, 120.0, 60000.0, 0.5f},
      {"type 0 played at 75 kHz keeps it", 0, 1, 3, 75, 1, 4, 0, 240, 0.0127, 120.0, 75000.0, 0.5f},
      {"type 0 live at 260 kHz keeps it", 0, 1, 3, 260, 0, 4, 0, 240, 0.0127, 120.0, 260000.0, 0.5f},
      {"type 9", 9, 1, 3, 260, 0, 4, 0, 240, 0.0003556, 120.0, 260000.0, 0.5f},
      {"type 13", 13, 1, 3, 260, 0, 4, 0, 240, 0.0009398, 120.0, 260000.0, 0.5f},
  };
  for (const GeometryCase& c : cases) {
    SCOPED_TRACE(c.legend);
    bftest::ResetAll(c.stepSize);
    g_switch.headTypeSetting = c.headType;
    g_settings.SectorSize = c.sectorSize;
    g_settings.RunMode = c.runMode;
    g_settings.Frequency = c.frequencyKHz;
    g_switch.playbackFrequencyKHz = c.frequencyKHz;
    g_settings.Range = c.rangeStep;
    g_ping.headModeCode = c.headMode;
    SetupBeamGeometry();
    const BeamGeometry& g = g_beamGeom;
    EXPECT_EQ(g.beams, c.beams);
    EXPECT_NEAR(g.elementSpacingM, c.spacingM, 1e-9);
    EXPECT_NEAR(g.sectorDeg, c.sectorDeg, 0.002);
    EXPECT_DOUBLE_EQ(g.carrierHz, c.carrierHz);
    EXPECT_FLOAT_EQ(g.BeamSpacingFactor, c.spacingFactor);
    EXPECT_NEAR(g.beamSpacingRad, 2.0 * g.halfSectorRad / g.beams, 1e-15);
    EXPECT_NEAR(g.omega, 2.0 * M_PI * c.carrierHz, 1e-6);
  }
}

TEST_F(BeamGeometryTest, HeadTypeTenKeepsThePreviousSpacing) {
  g_switch.headTypeSetting = 7;
  SetupBeamGeometry();
  EXPECT_DOUBLE_EQ(g_beamGeom.elementSpacingM, 0.0010922);
  g_switch.headTypeSetting = 10;
  SetupBeamGeometry();
  EXPECT_DOUBLE_EQ(g_beamGeom.elementSpacingM, 0.0010922);
  g_switch.headTypeSetting = 3;
  g_settings.Frequency = 675;
  SetupBeamGeometry();
  EXPECT_DOUBLE_EQ(g_beamGeom.elementSpacingM, 0.004064);
  EXPECT_EQ(g_beamGeom.sectorFromSpacing, 1);
}

TEST_F(BeamGeometryTest, SpacingFactorThresholdsLastTrueTestWinsAndBelowKeepsPrevious) {
  struct Case {
    const char* legend;
    double spacing;
    float previous;
    float expected;
  } cases[] = {
      {"below the first threshold keeps 0.5", 0.004, 0.5f, 0.5f},
      {"below the first threshold keeps 1.0", 0.001, 1.0f, 1.0f},
      {"just above the first", 0.0040143, 1.0f, 0.25f},
      {"at the second is not above it", 0.00837758, 1.0f, 0.25f},
      {"above the second", 0.0084, 0.25f, 0.5f},
      {"above the third", 0.0172, 0.25f, 1.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_FLOAT_EQ(BeamSpacingFactorOf(c.spacing, c.previous), c.expected);
  }
}

TEST_F(BeamGeometryTest, SteeringPhaseIsTheCarrierLagOfAPlaneWaveFromTheBeamAngle) {
  bftest::ResetAll(0);
  BuildSteering();
  const BeamGeometry& g = g_beamGeom;
  for (int b : {0, 1, 119, 239, 240, 400, 479}) {
    const double phi = b * g.beamSpacingRad - g.halfSectorRad + g.beamSpacingRad / 2.0;
    EXPECT_NEAR(BeamSteerAngle(b), phi, 1e-12);
    for (int e = 0; e < kElements; ++e) {
      const double lag = 2.0 * M_PI * g.carrierHz * (e - 7.5) * g.elementSpacingM * std::sin(phi) / g.soundSpeed;
      SCOPED_TRACE(testing::Message() << "beam " << b << " element " << e);
      EXPECT_NEAR(g_steerCos[b][e], std::cos(lag), 2e-6);
      EXPECT_NEAR(g_steerSin[b][e], std::sin(lag), 2e-6);
    }
  }
  // The fan is symmetric: mirror beams have opposite phases.
  for (int e = 0; e < kElements; ++e) {
    EXPECT_NEAR(g_steerCos[10][e], g_steerCos[469][e], 2e-6);
    EXPECT_NEAR(g_steerSin[10][e], -g_steerSin[469][e], 2e-6);
  }
}

TEST_F(BeamGeometryTest, RollSteersTheFanOnlyInProfileModeWithRollCorrection) {
  // 15 deg is 30 beams of 0.5 deg only up to the last bit of the division.
  constexpr int kAnyShift = 1000;
  struct Case {
    const char* legend;
    int displayType;
    int rollCorrection;
    int runMode;
    double fileRollDeg;
    double liveRollDeg;
    double expectedDeg;
    int expectedShift;  // beams of 0.5 deg
  } cases[] = {
      {"profile, file roll 5", 3, 1, 1, 5.0, 0.0, 5.0, 10},
      {"profile, file roll 40 is held at 15", 3, 1, 1, 40.0, 0.0, 15.0, kAnyShift},
      {"profile, file roll -3.3 truncates toward zero", 3, 1, 1, -3.3, 0.0, -3.3, -6},
      {"profile, live roll -7", 3, 1, 0, 9.0, -7.0, -7.0, -14},
      {"profile without roll correction", 3, 0, 1, 5.0, 0.0, 0.0, 0},
      {"sector mode ignores roll", 0, 1, 1, 5.0, 0.0, 0.0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    bftest::ResetAll(1);
    g_settings.DisplayType = c.displayType;
    g_settings.RollCorrection = c.rollCorrection;
    g_settings.RunMode = c.runMode;
    g_playback.rollCorrectionDeg = c.fileRollDeg;
    g_liveRollDeg = c.liveRollDeg;
    SetupBeamGeometry();
    BuildSteering();
    EXPECT_NEAR(g_beamGeom.rollRad, c.expectedDeg * kDeg, 1e-12);
    if (c.expectedShift != kAnyShift) EXPECT_EQ(g_beamGeom.rollShift, c.expectedShift);
    else EXPECT_NEAR(g_beamGeom.rollShift, 30, 1);
    EXPECT_NEAR(BeamSteerAngle(120), (0.25 + c.expectedDeg) * kDeg, 1e-12);
  }
}

TEST_F(BeamGeometryTest, SteeringFollowsRollFromPingToPing) {
  g_settings.DisplayType = 3;
  g_settings.RollCorrection = 1;
  BuildSteering();
  const float before = g_steerSin[200][0];
  g_liveRollDeg = 6.0;
  BuildSteering();
  EXPECT_NE(g_steerSin[200][0], before);
  const double phi = BeamSteerAngle(200);
  const BeamGeometry& g = g_beamGeom;
  const double lag = g.omega * (0 - 7.5) * g.elementSpacingM * std::sin(phi) / g.soundSpeed;
  EXPECT_NEAR(g_steerSin[200][0], std::sin(lag), 2e-6);
}

TEST_F(BeamGeometryTest, GainEqualizationLiftsTheOuterBeamsByOneOverCosSquared) {
  BuildSteering();
  EXPECT_FLOAT_EQ(g_beamGain[0], 1.0f);
  EXPECT_FLOAT_EQ(g_beamGain[239], 1.0f);

  g_settings.GainEqualization = 1;
  BuildSteering();
  EXPECT_NEAR(g_beamGain[0], 4.0, 1e-5);     // β = -60 deg
  EXPECT_NEAR(g_beamGain[120], 1.0, 1e-6);   // β = 0
  EXPECT_NEAR(g_beamGain[60], 1.0 / (std::cos(30 * kDeg) * std::cos(30 * kDeg)), 1e-5);

  g_settings.DisplayType = 3;
  g_settings.RollCorrection = 1;
  g_liveRollDeg = 10.0;
  BuildSteering();
  EXPECT_NEAR(g_beamGain[120], 1.0 / (std::cos(10 * kDeg) * std::cos(10 * kDeg)), 1e-5);
}

TEST(BeamformHelpers, CompressionIsASignedRootThatNeverReturnsZero) {
  struct Case {
    const char* legend;
    float in;
    float out;
  } cases[] = {
      {"zero becomes -1", 0.0f, -1.0f},
      {"negative zero becomes -1", -0.0f, -1.0f},
      {"3 becomes 2", 3.0f, 2.0f},
      {"-3 becomes -2", -3.0f, -2.0f},
      {"small positive", 0.5f, std::sqrt(1.5f)},
      {"small negative", -0.25f, -std::sqrt(1.25f)},
      {"largest decoded product", 8000.0f, std::sqrt(8001.0f)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_FLOAT_EQ(CompressSample(c.in), c.out);
  }
}

TEST(BeamformHelpers, RowCompressionMatchesTheSampleCompressionBitForBit) {
  // Edge values on I (Q = 0), then pseudo-random pairs of every sign and
  // size; 103 samples so the row ends in a partial vector.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> I = {0.0f, -0.0f, 8.0f, -8.0f, -16.0f, 1e-40f, -1e-40f, nan, -nan, inf, -inf,
                          3e38f, -3e38f, 7.999999f, -8.000001f};
  std::vector<float> Q(I.size(), 0.0f);
  uint32_t x = 12345u;
  while (I.size() < 103) {
    x = x * 1664525u + 1013904223u;
    I.push_back(static_cast<float>(static_cast<int32_t>(x)) * 1e-6f);
    x = x * 1664525u + 1013904223u;
    Q.push_back(static_cast<float>(static_cast<int32_t>(x)) * 1e-7f);
  }
  const int n = static_cast<int>(I.size());
  std::vector<float> kept(n), next(n);
  CompressPrefiltered(I.data(), Q.data(), kept.data(), next.data(), n);
  for (int k = 0; k < n; ++k) {
    SCOPED_TRACE(k);
    const float p = (I[k] + Q[k]) * 0.125f;
    const float v = CompressSample(p);
    const float z = p == 0.0f ? 0.0f : v;
    EXPECT_EQ(0, std::memcmp(&kept[k], &v, sizeof v)) << I[k] << " " << Q[k];
    EXPECT_EQ(0, std::memcmp(&next[k], &z, sizeof z)) << I[k] << " " << Q[k];
  }
}

TEST(BeamformHelpers, SharpeningPolynomialsDifferInTheSignsOfTheSquareAndCubeTerms) {
  // At ρ = 0 both curves give the constant; at ρ = 1 the sums of their
  // coefficients, which differ only through the ρ² and ρ³ terms' signs.
  EXPECT_FLOAT_EQ(SharpenP5(0.0f), 0.5034f);
  EXPECT_DOUBLE_EQ(SharpenP15(0.0), 0.5034);
  EXPECT_NEAR(SharpenP5(1.0f), 28.1912, 1e-4);
  EXPECT_NEAR(SharpenP15(1.0), 8.2496, 1e-9);
  EXPECT_NEAR(SharpenP15(0.5), 0.5034 + 0.0783 * 0.5 + 0.1533 * 0.25 - 2.9357 * 0.125 - 6.0816 * 0.0625 +
                                   30.9087 * 0.03125 + 68.5798 / 64 - 124.5031 / 128 - 321.1395 / 256 +
                                   191.2037 / 512 + 712.976 / 1024 - 8.88 / 2048 - 744.021 / 4096 -
                                   230.0377 / 8192 + 293.4049 / 16384 + 148.0401 / 32768,
              1e-12);
}

TEST(BeamformHelpers, SidescanAngleStaysWithinFifteenToSeventyFive) {
  ResetBeamform();
  EXPECT_FLOAT_EQ(g_sidescanAngleDeg, 15.0f);
  AdjustSidescanAngle(-5.0f);
  EXPECT_FLOAT_EQ(g_sidescanAngleDeg, 15.0f);
  for (int i = 0; i < 20; ++i) AdjustSidescanAngle(5.0f);
  EXPECT_FLOAT_EQ(g_sidescanAngleDeg, 75.0f);
  AdjustSidescanAngle(-5.0f);
  EXPECT_FLOAT_EQ(g_sidescanAngleDeg, 70.0f);
}

}  // namespace
