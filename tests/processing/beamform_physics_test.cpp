// The beamformer against the geometry of synthetic scenes: point targets come
// out at their angle and range, a flat seabed gives a symmetric fan at its
// depth, a sloping one shows its deep side where the slope puts it. The scenes
// go through the real record, decoder and element mapping of either mounting.
#include <gtest/gtest.h>

#include <cmath>

#include "beamform_test_util.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

class BeamformPhysicsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bftest::ResetAll();
    ResetScene();
  }
};

// Half the null-to-null width of the 16-element array's main lobe at angle
// phi: λ / (M d cos phi), halved.
double HalfMainLobeRad(double phi) {
  const BeamGeometry& g = g_beamGeom;
  const double lambda = g.soundSpeed / g.carrierHz;
  return 0.5 * lambda / (kElements * g.elementSpacingM * std::cos(phi));
}

// Pulse length in samples of the scene's range scale.
double PulseSamples(const SceneParams& p) {
  return ScenePulseUs(p) * 1e-6 * 1500.0 * 0.5 / SceneMetresPerSample(p);
}

SceneParams TargetScene(double angleDeg, double rangeM, int xdcr) {
  SceneParams p;
  p.seabed = 0;
  p.rangeStep = 4;  // 20 m
  p.xdcr = xdcr;
  p.noise = 1.0;
  p.targetCount = 1;
  p.targets[0].angleDeg = angleDeg;
  p.targets[0].rangeM = rangeM;
  p.targets[0].strength = 60.0;
  return p;
}

TEST_F(BeamformPhysicsTest, PointTargetPeaksInItsBeamAtItsRange) {
  struct Case {
    int stepSize;
    int sectorSize;
    int xdcr;
    int mode;
    int dataType;
  };
  Case cases[64];
  int count = 0;
  for (int step = 0; step < 3; ++step)
    for (int sector = 0; sector < 6; ++sector) cases[count++] = {step, sector, 1, 2, 0};
  for (int step = 0; step < 3; ++step) cases[count++] = {step, 3, 0, 2, 0};  // mounted down
  for (int mode : {0, 1, 3}) cases[count++] = {0, 3, 1, mode, 0};
  cases[count++] = {1, 3, 0, 3, 1};  // type "V", 1000 samples

  for (int i = 0; i < count; ++i) {
    const Case& c = cases[i];
    bftest::ResetAll(c.stepSize, c.mode);
    g_settings.SectorSize = c.sectorSize;
    SetupBeamGeometry();
    const double halfSectorDeg = g_beamGeom.sectorDeg / 2.0;
    for (double fraction : {-0.6, 0.23, 0.7}) {
      const double angleDeg = fraction * halfSectorDeg;
      const double rangeM = 7.0 + 8.0 * (fraction + 1.0) / 2.0;
      SCOPED_TRACE(testing::Message() << "step " << c.stepSize << " sector " << g_beamGeom.sectorDeg << " xdcr "
                                      << c.xdcr << " mode " << c.mode << " type " << c.dataType << " target "
                                      << angleDeg << " deg at " << rangeM << " m");
      SceneParams p = TargetScene(angleDeg, rangeM, c.xdcr);
      p.dataType = c.dataType;
      bftest::ResetAll(c.stepSize, c.mode, SceneSamples(p));
      g_settings.SectorSize = c.sectorSize;
      bftest::ApplyScene(p);
      ASSERT_EQ(bftest::DecodeScenePing(p, 0), 1);
      ASSERT_EQ(ProcessPing(), 1);

      int beam = -1, sample = -1;
      const float peak = bftest::PeakIn(0, g_beamGeom.beams, 0, g_sampleCount, &beam, &sample);
      ASSERT_GT(peak, 100.0f);
      const double expected = SteerAngleOfSceneAngle(angleDeg);
      EXPECT_NEAR(BeamSteerAngle(beam), expected, HalfMainLobeRad(expected))
          << "peak in beam " << beam << " of " << g_beamGeom.beams;
      EXPECT_NEAR(sample, SceneSampleOfRange(p, rangeM), PulseSamples(p) + 1.0);
    }
  }
}

TEST_F(BeamformPhysicsTest, StarboardTargetShowsInTheHighBeamsForEitherMounting) {
  for (int xdcr : {1, 0}) {
    SCOPED_TRACE(xdcr ? "mounted up" : "mounted down");
    bftest::ResetAll(1, 2);
    SceneParams p = TargetScene(35.0, 11.0, xdcr);
    bftest::ApplyScene(p);
    ASSERT_EQ(bftest::DecodeScenePing(p, 0), 1);
    ASSERT_EQ(ProcessPing(), 1);
    const int N = g_beamGeom.beams;
    const float low = bftest::PeakIn(0, N / 2, 0, 500);
    const float high = bftest::PeakIn(N / 2, N, 0, 500);
    EXPECT_GT(high, 20.0f * std::max(low, 1.0f));
  }
}

// Energy of the beams whose steering angles lie in [loDeg, hiDeg).
double BandEnergy(double loDeg, double hiDeg) {
  double sum = 0.0;
  for (int b = 0; b < g_beamGeom.beams; ++b) {
    const double a = BeamSteerAngle(b) / kDeg;
    if (a < loDeg || a >= hiDeg) continue;
    for (int s = 0; s < g_sampleCount; ++s) sum += g_beamImage[b][s];
  }
  return sum;
}

SceneParams SeabedScene(double depthM, double slopeDeg, int xdcr, int dataType = 0) {
  SceneParams p;
  p.seabed = 1;
  p.depthM = depthM;
  p.slopeDeg = slopeDeg;
  p.rangeStep = 4;
  p.xdcr = xdcr;
  p.noise = 0.5;
  p.dataType = dataType;
  return p;
}

// The flat-bottom flag is what detection sets over such a seabed; without it
// the mirror-beam clean-up would take the symmetric echoes out of each other.
void FormSeabed(const SceneParams& p, int stepSize) {
  bftest::ResetAll(stepSize, 2, SceneSamples(p));
  bftest::ApplyScene(p);
  ASSERT_EQ(bftest::DecodeScenePing(p, 0), 1);
  g_flatBottomFlag = 1;
  ASSERT_EQ(ProcessPing(), 1);
}

TEST_F(BeamformPhysicsTest, FlatSeabedGivesAFanSymmetricAboutTheCentreBeam) {
  for (int step = 0; step < 3; ++step) {
    for (int xdcr : {1, 0}) {
      SCOPED_TRACE(testing::Message() << "step " << step << " xdcr " << xdcr);
      FormSeabed(SeabedScene(10.0, 0.0, xdcr), step);
      // From 15 deg out: nearer nadir the echoes of both sides arrive together
      // and the split-aperture sum turns their interference into deep,
      // patch-dependent nulls that no mirror comparison can hold to 5 %.
      for (double lo = 15.0; lo < 55.0; lo += 10.0) {
        const double port = BandEnergy(-lo - 10.0, -lo);
        const double starboard = BandEnergy(lo, lo + 10.0);
        SCOPED_TRACE(testing::Message() << "band " << lo << ".." << lo + 10 << " deg");
        ASSERT_GT(port, 0.0);
        ASSERT_GT(starboard, 0.0);
        // The element taper is symmetric about element 8, not about the
        // array centre, so the two sides' sidelobes differ by a few per cent.
        EXPECT_NEAR(starboard / port, 1.0, 0.08);
      }
    }
  }
}

TEST_F(BeamformPhysicsTest, FlatSeabedComesOutAtItsDepth) {
  for (int type : {0, 1}) {
    SCOPED_TRACE(type == 0 ? "type U" : "type V");
    const SceneParams p = SeabedScene(10.0, 0.0, 1, type);
    FormSeabed(p, 1);
    const double mps = SceneMetresPerSample(p);
    const float strongest = bftest::PeakIn(0, g_beamGeom.beams, 0, g_sampleCount);
    int checked = 0, inWindow = 0;
    for (int b = 0; b < g_beamGeom.beams; ++b) {
      const double phi = BeamSteerAngle(b);
      if (std::fabs(phi) > 35.0 * kDeg) continue;
      ++inWindow;
      int beam = 0, sample = 0;
      // Beams in an interference null of the two sides' echoes carry no seabed.
      if (bftest::PeakIn(b, b + 1, 0, g_sampleCount, &beam, &sample) < 0.2f * strongest) continue;
      ++checked;
      // The main lobe meets the seabed over a few per cent of its depth at
      // 30 degrees and more; the peak may lie anywhere in that strip.
      EXPECT_NEAR(sample * mps * std::cos(phi), 10.0, 0.4) << "beam " << b << " at " << phi / kDeg << " deg";
    }
    EXPECT_GE(checked, inWindow * 3 / 4);
  }
}

TEST_F(BeamformPhysicsTest, SlopingSeabedShowsItsDeepSideWhereTheSlopePutsIt) {
  // Plane z = D + y tan(slope), y positive to starboard: a ray at scene
  // angle θ meets it at r = D / (cos θ - sin θ tan(slope)).
  for (double slope : {10.0, -10.0}) {
    for (int xdcr : {1, 0}) {
      SCOPED_TRACE(testing::Message() << "slope " << slope << " xdcr " << xdcr);
      const SceneParams p = SeabedScene(10.0, slope, xdcr);
      FormSeabed(p, 1);
      int peaks[2];
      for (int side = 0; side < 2; ++side) {
        const double theta = (side == 0 ? 30.0 : -30.0) * kDeg;  // starboard, port
        const double r = 10.0 / (std::cos(theta) - std::sin(theta) * std::tan(slope * kDeg));
        const int b = bftest::NearestBeam(SteerAngleOfSceneAngle(theta / kDeg));
        int beam = 0;
        bftest::PeakIn(b, b + 1, 0, g_sampleCount, &beam, &peaks[side]);
        EXPECT_NEAR(peaks[side], SceneSampleOfRange(p, r), 8.0) << (side == 0 ? "starboard" : "port");
      }
      if (slope > 0)
        EXPECT_GT(peaks[0], peaks[1] + 40);
      else
        EXPECT_GT(peaks[1], peaks[0] + 40);
    }
  }
}

}  // namespace
