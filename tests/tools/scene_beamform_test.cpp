// Synthetic pings through the console's own decoder and beamformer: a point
// target peaks in the beam of its angle, on the side the geometry
// convention gives, for either transducer mounting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "processing/beamform.h"
#include "scene.h"
#include "settings/settings.h"
#include "tools/scene_test_util.h"

namespace {

class SceneBeamform : public ::testing::Test {
 protected:
  void SetUp() override {
    scenetest::ResetForScenePings();  // Wide: every beam formed over the whole range, 30 m
    g_settings.StepSize = 1;          // 240 beams
    g_settings.SectorSize = 3;        // 120 degrees
    g_settings.Frequency = 260;
    SetupBeamGeometry();
  }

  // Beam with the most energy within a few samples of the target's range.
  int StrongestBeam(const SceneParams& p, double rangeM) {
    scenetest::FormScenePing(p);
    const int s0 = static_cast<int>(SceneSampleOfRange(p, rangeM));
    int best = -1;
    float bestValue = 0.f;
    for (int b = 0; b < g_beamGeom.beams; ++b)
      for (int s = s0 - 4; s <= s0 + 4; ++s)
        if (g_beamImage[b][s] > bestValue) {
          bestValue = g_beamImage[b][s];
          best = b;
        }
    EXPECT_GT(bestValue, 0.f);
    return best;
  }
};

TEST_F(SceneBeamform, PointTargetPeaksInTheBeamOfItsAngle) {
  ASSERT_EQ(240, g_beamGeom.beams);
  const double half = g_beamGeom.halfSectorRad;
  const double step = g_beamGeom.beamSpacingRad;
  for (int xdcr : {1, 0}) {
    for (double theta : {-45.0, -30.0, -8.0, 0.0, 12.5, 30.0, 50.0}) {
      SCOPED_TRACE(testing::Message() << "xdcr " << xdcr << " angle " << theta);
      SceneParams p;
      p.dataType = 0;
      p.rangeStep = 5;
      p.xdcr = xdcr;
      p.seabed = 0;
      p.noise = 0.5;
      p.targets[0] = {theta, 14.0, 80.0};
      p.targetCount = 1;
      // Beam centre b sits at steering angle (b + 1/2) Δθ - θs; the echo from
      // θ belongs where the steering angle is θ.
      const double expected = (theta * M_PI / 180.0 + half) / step - 0.5;
      const int beam = StrongestBeam(p, 14.0);
      EXPECT_NEAR(expected, beam, 1.5);
      // Starboard (θ > 0) is the high-index half, port the low-index half
      // where the sidescan's port beam lies.
      if (theta > 1.0) {
        EXPECT_GT(beam, g_beamGeom.beams / 2);
      } else if (theta < -1.0) {
        EXPECT_LT(beam, g_beamGeom.beams / 2);
      }
    }
  }
}

TEST_F(SceneBeamform, SeabedSlopeShowsDeeperOnItsOwnSide) {
  // Deeper to starboard: the seabed in the starboard beams lies further out
  // than in the port beams at the same angle off nadir.
  SceneParams p;
  p.dataType = 1;
  p.rangeStep = 5;
  p.depthM = 10.0;
  p.slopeDeg = 15.0;
  p.noise = 0.5;
  std::vector<uint8_t> rec(kRecordBufferBytes);
  const int length = SynthesizePing(p, 0, rec.data());
  ASSERT_GT(length, 0);
  g_settings.Xdcr = p.xdcr;
  ASSERT_EQ(1, LoadPingRecord(rec.data(), length));
  ASSERT_EQ(1, DecodePingAt(1.0));
  ASSERT_EQ(1, ProcessPing());
  const int n = g_sampleCount;
  const double half = g_beamGeom.halfSectorRad;
  const double step = g_beamGeom.beamSpacingRad;
  auto beamOf = [&](double sceneDeg) {
    return static_cast<int>(std::lround((sceneDeg * M_PI / 180.0 + half) / step - 0.5));
  };
  auto peakSample = [&](int b) {
    int best = 0;
    for (int s = 1; s < n - 1; ++s)
      if (g_beamImage[b][s] > g_beamImage[b][best]) best = s;
    return best;
  };
  const double a = p.slopeDeg * M_PI / 180.0;
  const double lambda = g_beamGeom.soundSpeed / g_beamGeom.carrierHz;
  // Slant range to the seabed along scene angle θ: D cos α / cos(θ + α).
  auto seabedSample = [&](double thetaRad) {
    return SceneSampleOfRange(p, p.depthM * std::cos(a) / std::cos(thetaRad + a));
  };
  for (double off : {20.0, 35.0}) {
    SCOPED_TRACE(off);
    const double theta = off * M_PI / 180.0;
    // The beam hears the seabed across its main lobe (half-width to the
    // first null λ / (M d cos θ)); the peak lies where that lobe meets it,
    // which on the steep side spans tens of samples.
    const double lobe = lambda / (kElements * g_beamGeom.elementSpacingM * std::cos(theta));
    const int starboard = peakSample(beamOf(off));
    const int port = peakSample(beamOf(-off));
    for (double side : {1.0, -1.0}) {
      const int peak = side > 0 ? starboard : port;
      const double r1 = seabedSample(side * theta - lobe), r2 = seabedSample(side * theta + lobe);
      EXPECT_GT(peak, std::min(r1, r2)) << (side > 0 ? "starboard" : "port");
      EXPECT_LT(peak, std::max(r1, r2)) << (side > 0 ? "starboard" : "port");
    }
    // Deeper to starboard by the slope, far beyond either beam's spread.
    EXPECT_GT(starboard - port, 0.5 * (seabedSample(theta) - seabedSample(-theta)));
  }
}

}  // namespace
