// Profile point detection on painted BeamImage: each method's window, echo
// and neighbour rules, the far limit, the outputs, intensity, altitude and
// the flat-bottom test.
#include <gtest/gtest.h>

#include <cmath>

#include "common/alloc_counter.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "processing/profile_test_util.h"

namespace {

using pdtest::Beams;
using pdtest::PaintEcho;
using pdtest::PaintFlatBottom;
using pdtest::PointCount;

class ProfileDetect : public ::testing::Test {
 protected:
  void SetUp() override { pdtest::ResetAll(1, 2); }
};

void RunMethod(int method) {
  g_settings.ProfilePointFilter = method;
  switch (method) {
    case 0: DetectFirstReturn(); break;
    case 1: DetectMaximumReturn(); break;
    default: DetectBottomFollowing(); break;
  }
}

const char* MethodName(int m) {
  return m == 0 ? "First Return" : m == 1 ? "Maximum Return" : "Bottom Following";
}

TEST_F(ProfileDetect, EmptyPictureGivesNoPointAndNoFlatBottom) {
  for (int method = 0; method < 3; ++method) {
    SCOPED_TRACE(MethodName(method));
    pdtest::ResetAll(1, method);
    g_flatBottomFlag = 1;
    // Everything just at the threshold (63.75 is not above 63.75 for L = 25).
    for (int b = 0; b < Beams(); ++b)
      for (int s = 0; s < 500; ++s) g_beamImage[b][s] = 63.75f;
    DetectProfile();
    EXPECT_EQ(PointCount(), 0);
    EXPECT_EQ(g_flatBottomFlag, 0);
    EXPECT_EQ(g_detect.portExtent, -kSwathNone);
    EXPECT_EQ(g_detect.starboardExtent, kSwathNone);
  }
}

TEST_F(ProfileDetect, FlatBottomFoundAtItsDepthByEveryMethod) {
  const double depth = 200.0;
  for (int method = 0; method < 3; ++method) {
    SCOPED_TRACE(MethodName(method));
    pdtest::ResetAll(1, method);
    PaintFlatBottom(depth);
    RunMethod(method);
    int inside = 0, found = 0;
    for (int b = 1; b < Beams() - 1; ++b) {
      const double phi = ProfileSteerAngle(b);
      if (std::fabs(phi) > 55.0 * M_PI / 180.0) continue;
      ++inside;
      if (g_profilePoints.Range[b] <= 0.0f) continue;
      ++found;
      EXPECT_NEAR(g_profilePoints.Down[b], depth, 1.0) << "beam " << b;
      EXPECT_NEAR(g_profilePoints.Across[b], depth * std::tan(phi), 2.0) << "beam " << b;
      EXPECT_EQ(g_profilePoints.PeakLevel[b], 200);
    }
    EXPECT_EQ(found, inside);
  }
}

TEST_F(ProfileDetect, FirstReturnNeverMarksTheOuterBeams) {
  pdtest::ResetAll(1, 0);
  for (int b = 0; b < Beams(); ++b) PaintEcho(b, 150);
  DetectFirstReturn();
  EXPECT_EQ(g_profilePoints.Range[0], 0.0f);
  EXPECT_EQ(g_profilePoints.Range[Beams() - 1], 0.0f);
  EXPECT_EQ(g_profilePoints.Range[1], 150.0f);
  EXPECT_EQ(g_profilePoints.Range[Beams() - 2], 150.0f);
  // Maximum Return keeps them.
  pdtest::ResetAll(1, 1);
  for (int b = 0; b < Beams(); ++b) PaintEcho(b, 150);
  DetectMaximumReturn();
  EXPECT_EQ(g_profilePoints.Range[0], 150.0f);
  EXPECT_EQ(g_profilePoints.Range[Beams() - 1], 150.0f);
}

TEST_F(ProfileDetect, FarLimitRemovesOnlyForMaximumReturnAndBottomFollowing) {
  // trunc(0.95 * 500) = 475: a point at 480 is beyond it, one at 474 inside.
  const struct {
    int method;
    int centre;
    bool kept;
  } cases[] = {{0, 480, true}, {1, 480, false}, {2, 480, false},
               {0, 474, true}, {1, 474, true},  {2, 474, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(MethodName(c.method)) + " at " + std::to_string(c.centre));
    pdtest::ResetAll(1, c.method);
    for (int b = 0; b < Beams(); ++b) PaintEcho(b, c.centre);
    RunMethod(c.method);
    const int mid = Beams() / 2;
    EXPECT_EQ(g_profilePoints.Range[mid] > 0.0f, c.kept);
    if (!c.kept) {
      EXPECT_EQ(g_profilePoints.PeakLevel[mid], 0);
    }
  }
}

TEST_F(ProfileDetect, EchoRunningIntoTheLastSamplesTakenOnlyByBottomFollowing) {
  // Starts at 300 and stays above the threshold up to sample `last`: its end
  // (first sample below) is n - 1 or n. Bottom Following takes its centre
  // (300 + end) / 2, well inside the far limit; the others refuse it.
  for (int last : {498, 499}) {
    for (int method = 0; method < 3; ++method) {
      SCOPED_TRACE(std::string(MethodName(method)) + ", last sample " + std::to_string(last));
      pdtest::ResetAll(1, method);
      for (int b = 0; b < Beams(); ++b)
        for (int s = 300; s <= last; ++s) g_beamImage[b][s] = 150.0f;
      RunMethod(method);
      const int mid = Beams() / 2;
      if (method == 2) {
        EXPECT_EQ(g_profilePoints.Range[mid], static_cast<float>((300 + last + 1) / 2));
      } else {
        EXPECT_EQ(PointCount(), 0);
      }
    }
  }
}

TEST_F(ProfileDetect, BeamsLookingAboveTheHorizontal) {
  // Tilt 60: the fan spans 0 .. 120 degrees, beams past 90 have cos <= 0.
  for (int method = 0; method < 3; ++method) {
    SCOPED_TRACE(MethodName(method));
    pdtest::ResetAll(1, method);
    g_settings.ProfileTiltAngle = 60.0;
    for (int b = 0; b < Beams(); ++b) PaintEcho(b, 200);
    RunMethod(method);
    int horizontalWithPoint = 0, horizontal = 0, belowWithPoint = 0, below = 0;
    for (int b = 1; b < Beams() - 1; ++b) {
      const double c = std::cos(ProfileSteerAngle(b));
      // Keep away from the beams where the window cuts the echo off (and
      // their neighbours, which the jump rule clears).
      if (c > -0.05 && c < 0.2) continue;
      if (c <= 0.0) {
        ++horizontal;
        horizontalWithPoint += g_profilePoints.Range[b] > 0.0f;
      } else {
        ++below;
        belowWithPoint += g_profilePoints.Range[b] > 0.0f;
      }
    }
    ASSERT_GT(horizontal, 10);
    EXPECT_EQ(belowWithPoint, below);
    // First Return searches them without the 1/cos stretch; the others give none.
    EXPECT_EQ(horizontalWithPoint, method == 0 ? horizontal : 0);
  }
}

TEST_F(ProfileDetect, NeighbourJumpLimitPerStepSize) {
  // J = 10, 20, 40 samples for 480, 240, 120 beams.
  const struct {
    int step;
    int jump;
  } cases[] = {{0, 10}, {1, 20}, {2, 40}};
  for (const auto& c : cases) {
    for (int method = 0; method < 2; ++method) {
      for (int offset : {c.jump - 1, c.jump}) {
        SCOPED_TRACE(std::string(MethodName(method)) + " step " + std::to_string(c.step) +
                     " offset " + std::to_string(offset));
        pdtest::ResetAll(c.step, method);
        const int odd = Beams() / 2;
        for (int b = 0; b < Beams(); ++b) PaintEcho(b, b == odd ? 200 + offset : 200);
        RunMethod(method);
        const bool kept = offset < c.jump;
        EXPECT_EQ(g_profilePoints.Range[odd] > 0.0f, kept);
        EXPECT_EQ(g_profilePoints.Range[odd - 1] > 0.0f, kept);
        EXPECT_EQ(g_profilePoints.Range[odd + 1] > 0.0f, kept);
        EXPECT_GT(g_profilePoints.Range[odd - 2], 0.0f);
      }
    }
  }
}

TEST_F(ProfileDetect, FirstReturnPrefersTheWiderSecondEcho) {
  pdtest::ResetAll(1, 0);
  for (int b = 0; b < Beams(); ++b) {
    PaintEcho(b, 100, 3, 200.0f);          // narrow first echo above T
    PaintEcho(b, 150, 9, 50.0f);           // wider, above T/2 only
  }
  DetectFirstReturn();
  EXPECT_EQ(g_profilePoints.Range[Beams() / 2], 150.0f);
  EXPECT_EQ(g_profilePoints.PeakLevel[Beams() / 2], 50);
}

TEST_F(ProfileDetect, DepthWindowAndBlankingLimitTheSearch) {
  // Echoes at 40 and 300 samples (0.8 m and 6 m at 10 m range).
  const struct {
    const char* legend;
    double minDepth, maxDepth;
    int minRange;
    float expected;
  } cases[] = {
      {"both in window: the stronger, deeper one", 0.1, 100.0, 0, 300.0f},
      {"window ends at 5 m", 0.1, 5.0, 0, 40.0f},
      {"window starts at 1 m", 1.0, 100.0, 0, 300.0f},
      {"blanking 1 m hides the shallow echo", 0.1, 5.0, 1, 0.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    pdtest::ResetAll(1, 1);
    g_settings.ProfileMinDepthBelowSonar = c.minDepth;
    g_settings.ProfileMaxDepthBelowSonar = c.maxDepth;
    ASSERT_TRUE(SetMinimumRange(c.minRange));
    const int mid = Beams() / 2;
    for (int b = mid - 3; b <= mid + 3; ++b) {
      PaintEcho(b, 40, 5, 150.0f);
      PaintEcho(b, 300, 7, 150.0f);
    }
    DetectMaximumReturn();
    EXPECT_EQ(g_profilePoints.Range[mid], c.expected);
  }
}

TEST_F(ProfileDetect, EqualEnergyGoesToTheDeeperSegment) {
  pdtest::ResetAll(1, 1);
  const int mid = Beams() / 2;
  for (int b = mid - 3; b <= mid + 3; ++b) {
    PaintEcho(b, 100);
    PaintEcho(b, 110);
  }
  DetectMaximumReturn();
  EXPECT_EQ(g_profilePoints.Range[mid], 110.0f);
}

TEST_F(ProfileDetect, DetectionLevelAndMinimumRangeSetters) {
  EXPECT_FALSE(SetDetectionLevel(9));
  EXPECT_FALSE(SetDetectionLevel(91));
  EXPECT_TRUE(SetDetectionLevel(50));
  EXPECT_FLOAT_EQ(g_detect.detectionLevelPct, 50.0f);
  EXPECT_FALSE(SetMinimumRange(101));
  EXPECT_FALSE(SetMinimumRange(-1));
  EXPECT_TRUE(SetMinimumRange(0));
  EXPECT_FLOAT_EQ(g_detect.minimumRangeM, 0.1f);
  EXPECT_TRUE(SetMinimumRange(7));
  EXPECT_FLOAT_EQ(g_detect.minimumRangeM, 7.0f);
  // T = 127.5 at 50 %: an echo of 120 is no longer seen.
  pdtest::ResetAll(1, 1);
  ASSERT_TRUE(SetDetectionLevel(50));
  for (int b = 0; b < Beams(); ++b) PaintEcho(b, 200, 5, 120.0f);
  DetectMaximumReturn();
  EXPECT_EQ(PointCount(), 0);
  // The level survives a reset of the detection state.
  ResetProfileDetect();
  EXPECT_FLOAT_EQ(g_detect.detectionLevelPct, 50.0f);
}

TEST_F(ProfileDetect, MultipleRuleTakesTheHalfRangeEchoInTheCentralBeams) {
  pdtest::ResetAll(1, 2);
  for (int b = 0; b < Beams(); ++b) {
    PaintEcho(b, 100, 5, 120.0f);   // the bottom
    PaintEcho(b, 200, 9, 200.0f);   // its stronger multiple at twice the range
  }
  DetectBottomFollowing();
  const int n = Beams();
  EXPECT_EQ(g_profilePoints.Range[n / 2], 100.0f);
  EXPECT_EQ(g_profilePoints.Range[n / 4 + 1], 100.0f);
  EXPECT_EQ(g_profilePoints.Range[3 * n / 4 - 1], 100.0f);
  // Outside the central half the rule does not apply.
  EXPECT_EQ(g_profilePoints.Range[n / 4], 200.0f);
  EXPECT_EQ(g_profilePoints.Range[3 * n / 4], 200.0f);
  // The peak stays the one of the strongest echo.
  EXPECT_EQ(g_profilePoints.PeakLevel[n / 2], 200);
}

TEST_F(ProfileDetect, FlatBottomReplacesAnOutlierByItsSecondEcho) {
  const double depth = 200.0;
  const int fishBeam = Beams() / 3;
  for (int flag = 0; flag < 2; ++flag) {
    SCOPED_TRACE(flag ? "flat bottom" : "not flat");
    pdtest::ResetAll(1, 2);
    g_flatBottomFlag = flag;
    PaintFlatBottom(depth, 5, 120.0f);
    PaintEcho(fishBeam, 120, 11, 250.0f);  // a strong echo well above the bottom
    DetectBottomFollowing();
    const double c = std::cos(ProfileSteerAngle(fishBeam));
    if (flag) {
      // The swap takes the second echo's range and depth; the across-track
      // position stays the first echo's, which the outlier sort then uses.
      EXPECT_NEAR(g_profilePoints.Down[fishBeam], depth, 1.0);
      EXPECT_NEAR(g_profilePoints.Range[fishBeam], depth / c, 1.0);
      EXPECT_NEAR(g_profilePoints.Across[fishBeam], 120.0 * std::sin(ProfileSteerAngle(fishBeam)), 0.5);
    } else {
      EXPECT_NEAR(g_profilePoints.Down[fishBeam], 120.0 * c, 0.5);
    }
  }
}

TEST_F(ProfileDetect, FlatBottomTest) {
  // 480 beams over 120 degrees: BeamSpacingFactor 0.25, test beams 80 and 400.
  const struct {
    const char* legend;
    int sectorSize;
    double slopeDeg;
    int expected;
  } cases[] = {
      {"flat", 3, 0.0, 1},
      {"steep slope", 3, 20.0, 0},
      {"30 degree sector: beam 400 does not exist", 0, 0.0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    pdtest::ResetAll(0, 1);
    g_settings.SectorSize = c.sectorSize;
    SetupBeamGeometry();
    g_beamGeom.samples = 500;
    g_beamGeom.BeamSpacingFactor = BeamSpacingFactorOf(g_beamGeom.beamSpacingRad, 0.25f);
    const double t = std::tan(c.slopeDeg * M_PI / 180.0);
    for (int b = 0; b < Beams(); ++b) {
      const double phi = ProfileSteerAngle(b);
      // Plane z = 200 + x tan(slope) met by the ray (sin, cos) * r.
      const double r = 200.0 / (std::cos(phi) - std::sin(phi) * t);
      g_profilePoints.Range[b] = r > 0 && r < 499 ? static_cast<float>(r) : 0.0f;
    }
    g_profilePoints.beams = Beams();
    FlatBottomTest();
    EXPECT_EQ(g_flatBottomFlag, c.expected);
  }
}

TEST_F(ProfileDetect, OutputArraysInReversedBeamOrder) {
  pdtest::ResetAll(1, 1);
  g_switch.rangeOffset = 3;
  const int n = Beams();
  g_profilePoints.beams = n;
  g_profilePoints.Range[0] = 123.44f;
  g_profilePoints.Range[1] = 123.45f;
  g_profilePoints.Range[n - 1] = 250.0f;
  g_pointIntensity[0] = 77;
  BuildProfileOutput();
  EXPECT_EQ(g_profileOutputCount, n);
  EXPECT_EQ(g_pointRangeTenths[n - 1], 1234);
  EXPECT_EQ(g_pointRangeTenths[n - 2], 1235);
  EXPECT_EQ(g_pointRangeTenths[0], 2500);
  EXPECT_EQ(g_pointRangeTenths[1], 0);
  // 250 samples of 500 at 10 m are 5 m: ten times that plus the offset.
  EXPECT_FLOAT_EQ(g_profileOutputBeam[0].RangeValue, 50.0f + 3.0f);
  EXPECT_FLOAT_EQ(g_profileOutputBeam[1].RangeValue, 3.0f);
  EXPECT_EQ(g_profileOutputBeam[n - 1].Intensity, 77);
  // 240 beams: h = 0.25, step 0.5 degrees from -59.75.
  EXPECT_FLOAT_EQ(g_profileOutputBeam[0].AngleDeg, -59.75f);
  EXPECT_FLOAT_EQ(g_profileOutputBeam[n - 1].AngleDeg, -59.75f + (n - 1) * 0.5f);
  g_settings.ProfileTiltAngle = 10.0;
  BuildProfileOutput();
  EXPECT_FLOAT_EQ(g_profileOutputBeam[0].AngleDeg, -49.75f);
}

TEST_F(ProfileDetect, AltitudeIsTheDepthBelowTheNadirBeams) {
  pdtest::ResetAll(1, 2);
  g_ping.rangeScaleFactor = 1.0f;
  g_settings.SoundVelocityMeters = 1500.0;
  PaintFlatBottom(200.0);  // 4 m at 10 m range
  for (int ping = 0; ping < 3; ++ping) {
    DetectProfile();
    ComputePointIntensity();
    BuildProfileOutput();
    UpdateAltitude();
  }
  EXPECT_NEAR(g_detect.altitudeM, 4.0, 0.04);
  // Sound speed scales it.
  g_settings.SoundVelocityMeters = 1530.0;
  for (int ping = 0; ping < 3; ++ping) {
    BuildProfileOutput();
    UpdateAltitude();
  }
  EXPECT_NEAR(g_detect.altitudeM, 4.0 * 1.02, 0.04);
}

TEST_F(ProfileDetect, AltitudeHoldsThroughTenMissesThenDrops) {
  pdtest::ResetAll(1, 2);
  const int n = Beams();
  g_profileOutputCount = n;
  for (int i = 0; i < n; ++i) g_profileOutputBeam[i].RangeValue = 60.0f;  // 6 m
  for (int k = 0; k < 3; ++k) UpdateAltitude();
  EXPECT_NEAR(g_detect.altitudeM, 6.0, 1e-5);
  for (int i = 0; i < n; ++i) g_profileOutputBeam[i].RangeValue = 0.0f;
  for (int miss = 1; miss <= 10; ++miss) {
    UpdateAltitude();
    EXPECT_NEAR(g_detect.altitudeM, 6.0, 1e-5) << "miss " << miss;
  }
  UpdateAltitude();  // the eleventh
  EXPECT_NEAR(g_detect.altitudeM, 4.0, 1e-5);  // (0 + 6 + 6) / 3
  UpdateAltitude();
  UpdateAltitude();
  EXPECT_EQ(g_detect.altitudeM, 0.0);
}

TEST_F(ProfileDetect, AltitudeRejectsAnOutlyingCandidateBeam) {
  pdtest::ResetAll(1, 2);
  const int n = Beams();
  g_profileOutputCount = n;
  const int c = n / 2;
  for (int i = 0; i < n; ++i) g_profileOutputBeam[i].RangeValue = 50.0f + 0.1f * (i - c);
  g_profileOutputBeam[c - 4].RangeValue = 90.0f;  // the candidate is far off
  for (int k = 0; k < 3; ++k) UpdateAltitude();
  EXPECT_NEAR(g_detect.altitudeM, 5.0, 0.02);
  // Steep tilt: the nadir beams lie outside the fan, no altitude at all.
  g_settings.ProfileTiltAngle = 90.0;
  for (int k = 0; k < 14; ++k) UpdateAltitude();
  EXPECT_EQ(g_detect.altitudeM, 0.0);
}

TEST_F(ProfileDetect, PointIntensityReformsTheBeamAtItsPoint) {
  pdtest::ResetAll(1, 1);
  const int n = Beams();
  const int beam = n / 2;  // beta = 0: no gain correction
  const int edge = 0;      // beta = -60 degrees: cos^2 = 0.25
  g_profilePoints.beams = n;
  g_profilePoints.Range[beam] = 150.6f;
  g_profilePoints.Range[edge] = 100.0f;
  g_settings.DisplayGain = 50;
  for (int e = 0; e < kElements; ++e) {
    const double psi = 0.3 * (e - 7.5);
    for (int b : {beam, edge}) {
      g_steerCos[b][e] = static_cast<float>(std::cos(psi));
      g_steerSin[b][e] = static_cast<float>(std::sin(psi));
    }
    // Element phases that the steering brings into line: 16 x 100 summed.
    g_firstPassI[e][150] = static_cast<float>(100.0 * std::cos(-psi));
    g_firstPassQ[e][150] = static_cast<float>(100.0 * std::sin(-psi));
    g_firstPassI[e][100] = static_cast<float>(2.0 * std::cos(-psi));
    g_firstPassQ[e][100] = static_cast<float>(2.0 * std::sin(-psi));
  }
  ComputePointIntensity();
  EXPECT_EQ(g_pointIntensity[beam], 80);     // 0.05 * 1600
  EXPECT_EQ(g_pointIntensity[edge], 6);      // 0.05 * 32 / 0.25 = 6.4
  EXPECT_EQ(g_pointIntensity[beam + 1], 0);  // no point
  g_settings.DisplayGain = 100;
  for (int e = 0; e < kElements; ++e) g_firstPassI[e][150] *= 4.0f, g_firstPassQ[e][150] *= 4.0f;
  ComputePointIntensity();
  EXPECT_EQ(g_pointIntensity[beam], 255);
}

TEST_F(ProfileDetect, ArtificialBottomDimsThePictureAndDrawsThePoints) {
  pdtest::ResetAll(1, 1);
  g_settings.ProfilePointType = 1;
  g_settings.ProfilePointFilter_g_bgd_lev = 0.5;
  const int mid = Beams() / 2;
  for (int b = 0; b < Beams(); ++b) PaintEcho(b, 200, 5, 160.0f);
  g_beamImage[mid][10] = 40.0f;
  DetectProfile();
  EXPECT_FLOAT_EQ(g_beamImage[mid][10], 20.0f);
  EXPECT_FLOAT_EQ(g_beamImage[mid][200], 80.0f);
  EXPECT_FLOAT_EQ(g_beamImage[mid][201], 106.0f);
  EXPECT_FLOAT_EQ(g_beamImage[mid][202], 106.0f);
  EXPECT_FLOAT_EQ(g_beamImage[mid][203], 0.0f);
}

TEST_F(ProfileDetect, SwathExtentsSpanThePoints) {
  pdtest::ResetAll(1, 1);
  const int n = Beams();
  const int lo = n / 4, hi = 3 * n / 4;
  for (int b = lo; b <= hi; ++b) PaintEcho(b, 200);
  DetectProfile();
  // The end beams of the run lose their points to the jump rule.
  // Low beams look to port, high beams to starboard.
  const double xPort = 200.0 * std::sin(ProfileSteerAngle(lo + 1));
  const double xStarboard = 200.0 * std::sin(ProfileSteerAngle(hi - 1));
  EXPECT_NEAR(g_detect.portExtent, xPort, 1.0);
  EXPECT_NEAR(g_detect.starboardExtent, xStarboard, 1.0);
  EXPECT_LT(g_detect.portExtent, 0);
  EXPECT_EQ(g_detect.swathValue, g_detect.starboardExtent - g_detect.portExtent);
}

TEST_F(ProfileDetect, PerPingPathAllocatesNothing) {
  pdtest::ResetAll(0, 2);
  g_settings.ProfilePointFilter_g_pre_filter_sw = 1;
  g_settings.ProfilePointFilter_g_main_filter_sw = 1;
  g_settings.ProfilePointFilter_g_short_outliers_sw = 1;
  g_settings.ProfilePointFilter_g_fill_beams_sw = 1;
  g_settings.ProfilePointFilter_g_show_outliers_sw = 1;
  g_filter.deepOutlierSw = 1;
  PaintFlatBottom(200.0);
  alloc_counter::Start();
  for (int method = 0; method < 3; ++method) {
    g_settings.ProfilePointFilter = method;
    DetectProfile();
    ComputePointIntensity();
    BuildProfileOutput();
    UpdateAltitude();
  }
  EXPECT_EQ(alloc_counter::Stop(), 0);
}

TEST_F(ProfileDetect, OutOfRangeGeometryAndValuesStayInBounds) {
  for (int method = 0; method < 3; ++method) {
    SCOPED_TRACE(MethodName(method));
    pdtest::ResetAll(1, method);
    // A beam exactly along the horizontal, huge echo values, and a geometry
    // larger than the buffers (as a corrupted setup might leave it).
    g_settings.ProfileTiltAngle = 89.75;
    for (int b = 0; b < kMaxBeams; ++b)
      for (int s = 100; s < 120; ++s) g_beamImage[b][s] = 1e30f;
    g_beamGeom.beams = 100000;
    g_beamGeom.samples = 100000;
    g_settings.ProfilePointFilter_g_fill_beams_sw = 1;
    g_settings.ProfilePointFilter_g_main_filter_sw = 1;
    g_settings.ProfilePointType = 1;
    DetectProfile();
    ComputePointIntensity();
    BuildProfileOutput();
    UpdateAltitude();
    EXPECT_EQ(g_profilePoints.beams, kMaxBeams);
    for (int b = 0; b < kMaxBeams; ++b) {
      EXPECT_GE(g_profilePoints.PeakLevel[b], 0);
      EXPECT_LE(g_profilePoints.PeakLevel[b], 255);
      EXPECT_LE(g_pointIntensity[b], 255);
    }
    // No samples: nothing to search, nothing found.
    pdtest::ResetAll(1, method);
    g_beamGeom.samples = 0;
    for (int b = 0; b < Beams(); ++b) PaintEcho(b, 100);
    DetectProfile();
    EXPECT_EQ(PointCount(), 0);
  }
}

TEST(ProfileDepthLimits, LoaderRule) {
  const struct {
    const char* legend;
    double minM, maxM, rangeM;
    double expMin, expMax;
  } cases[] = {
      {"valid pair", 1.0, 50.0, 50.0, 1.0, 50.0},
      {"minimum below 0.1", 0.05, 50.0, 50.0, 0.2, 50.0},
      {"minimum above limit - 5 % of range", 97.6, 100.0, 50.0, 0.2, 100.0},
      {"minimum at its upper limit", 97.5, 100.0, 50.0, 97.5, 100.0},
      {"maximum too close to the minimum", 10.0, 12.0, 50.0, 10.0, 100.0},
      {"maximum beyond the depth limit", 1.0, 150.0, 50.0, 1.0, 100.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    double minM = c.minM, maxM = c.maxM;
    ApplyProfileDepthLimits(&minM, &maxM, c.rangeM);
    EXPECT_DOUBLE_EQ(minM, c.expMin);
    EXPECT_DOUBLE_EQ(maxM, c.expMax);
  }
}

}  // namespace

namespace {

// The search passes water over in blocks of eight from the blanking
// distance (5 samples at 10 m), testing each block's running maximum, which
// starts from the block's first sample: a NaN there passes the block over,
// a NaN further in is ignored. The products depend on exactly this.
TEST_F(ProfileDetect, NaNSamplesAndTheBlocksOfTheWaterSearch) {
  struct Case {
    const char* legend;
    int nanAt;       // sample of beam 100 made NaN, -1 for none
    float expected;  // range found on beam 100
  } cases[] = {
      {"no NaN", -1, 202.0f},
      {"NaN inside the echo's block", 198, 202.0f},
      {"NaN after the echo", 206, 202.0f},
      {"NaN opening the echo's block", 197, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    pdtest::ResetAll(1, 1);
    for (int b = 0; b < Beams(); ++b) PaintEcho(b, 202, 5);
    if (c.nanAt >= 0) g_beamImage[100][c.nanAt] = std::nanf("");
    DetectMaximumReturn();
    EXPECT_EQ(g_profilePoints.Range[100], c.expected);
    EXPECT_EQ(g_profilePoints.Range[50], 202.0f);
  }
}

// The steering tables are kept from ping to ping; any change of the
// geometry or the tilt must show in the next ping's angles.
TEST_F(ProfileDetect, SteeringFollowsEveryChangeOfGeometryAndTilt) {
  struct Step {
    const char* legend;
    void (*change)();
  } steps[] = {
      {"first ping", [] {}},
      {"same geometry", [] {}},
      {"tilt", [] { g_settings.ProfileTiltAngle = 17.5; }},
      {"fewer beams", [] { g_beamGeom.beams -= 40; }},
      {"beam spacing", [] { g_beamGeom.beamSpacingRad *= 0.5; }},
      {"half sector", [] { g_beamGeom.halfSectorRad *= 0.5; }},
  };
  pdtest::ResetAll(1, 2);
  PaintFlatBottom(150.0);
  for (const Step& s : steps) {
    SCOPED_TRACE(s.legend);
    s.change();
    DetectProfile();
    const ProfilePointSet& p = g_profilePoints;
    ASSERT_EQ(p.beams, g_beamGeom.beams);
    int wrong = 0;
    for (int b = 0; b < p.beams; ++b) {
      const double phi = ProfileSteerAngle(b);
      wrong += p.SteerAngle[b] != static_cast<float>(phi);
      wrong += g_detect.steerCos[b] != static_cast<float>(std::cos(phi));
      wrong += g_detect.steerSin[b] != static_cast<float>(std::sin(phi));
    }
    EXPECT_EQ(wrong, 0);
  }
}

}  // namespace
