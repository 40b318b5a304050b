// Detection against synthetic scenes: pings of a known seabed made by the
// scene generator, decoded and beamformed by the real chain, must put the
// profile at the seabed's depth, keep a fish off the profile, give a sloping
// seabed its slope and the altitude its depth.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "console/ping_cycle.h"
#include "processing/beamform_test_util.h"
#include "processing/profile_test_util.h"
#include "common/seabed_scene.h"
#include "scene.h"

namespace {

struct Figures {
  int inside = 0;      // beams within the angle limit that can see the seabed
  int withPoint = 0;   // of them, carrying a point
  int withinTol = 0;   // of those, within the depth tolerance
  double worstErr = 0.0;  // largest |depth error| / true depth
};

struct Case {
  double depthM;
  double rangeM;
  int rangeStep;
};
const Case kCases[] = {{8.0, 10.0, 3}, {15.0, 30.0, 5}, {60.0, 100.0, 10}};

const char* MethodName(int m) {
  return m == 0 ? "FirstReturn" : m == 1 ? "MaximumReturn" : "BottomFollowing";
}

SceneParams FlatScene(const Case& c) { return seabed::SurveySeabed(c.depthM, c.rangeStep); }

// Runs `pings` pings of the scene through decode, beamforming and detection.
// "9 Shot" averaging: the longest point average the console keeps, as a
// survey runs it.
void RunScene(const SceneParams& p, int stepSize, int method, int pings,
              int displayGain = seabed::kSurveyGain) {
  pdtest::ResetAll(stepSize, method);
  // The product's filter defaults for Bottom Following.
  g_settings.ProfilePointFilter_g_main_filter_sw = 1;
  g_settings.ProfilePointFilter_g_short_outliers_sw = 1;
  g_settings.ProfilePointFilter_g_fill_beams_sw = 1;
  g_filter.deepOutlierSw = 1;
  g_settings.ProcessingMode = 3;
  g_settings.AvgFilter = 1;
  g_settings.AvgFilterIndex = 9;
  g_settings.DisplayGain = displayGain;
  bftest::ApplyScene(p);
  for (int i = 0; i < pings; ++i) {
    ASSERT_TRUE(bftest::DecodeScenePing(p, i));
    ASSERT_TRUE(FormBeamsAndProfile());
    ComputePointIntensity();
    BuildProfileOutput();
    UpdateAltitude();
  }
}

// Depth of every point against the plane of the scene, over the beams within
// `maxDeg` of nadir whose seabed lies inside the far limit (0.95 of the range).
Figures Measure(double depthM, double slopeDeg, double rangeM, double maxDeg = 55.0) {
  Figures f;
  const double t = std::tan(slopeDeg * M_PI / 180.0);
  const double perSample = rangeM / 500.0;
  for (int b = 0; b < g_profilePoints.beams; ++b) {
    const double phi = ProfileSteerAngle(b);
    if (std::fabs(phi) > maxDeg * M_PI / 180.0) continue;
    // Scene angle theta = phi; the seabed deepens to starboard by x tan(slope).
    const double theta = phi;
    const double trueSlant = depthM / (std::cos(theta) - std::sin(theta) * t);
    if (trueSlant > 0.95 * rangeM) continue;
    ++f.inside;
    const float r = g_profilePoints.Range[b];
    if (r <= 0.0f) continue;
    ++f.withPoint;
    const double trueDepth = trueSlant * std::cos(theta);
    const double depth = r * std::cos(phi) * perSample;
    const double err = std::fabs(depth - trueDepth);
    f.worstErr = std::max(f.worstErr, err / trueDepth);
    if (err <= std::max(0.02 * trueDepth, perSample)) ++f.withinTol;
  }
  return f;
}

class ProfilePhysics : public ::testing::Test {
 protected:
  void SetUp() override { ResetScene(); }
};

// Measured over seeds 1..6 (twelve pings, the last one measured; printed by
// this test for seed 1):
//  - Bottom Following: 98.5-100 % of the beams within +-55 degrees carry a
//    point and at least 99.5 % of the points lie within 2 %, the worst 2.1 %,
//    at 50-55 degrees (only the 15 m / 30 m case reaches there inside 0.95 of
//    the range). There the beam's main lobe, about +-1 degree, spans +-2.3 %
//    of range, and the seabed's speckle moves the strongest run within it
//    (0.7 % rms, no bias: the mean error of every 5-degree band lies within
//    +0.5 %).
//  - Maximum Return takes one ping's strongest run without a point average:
//    the same speckle gives 1.4 % rms at 50 degrees, worst 3-5 %; where
//    neighbouring beams pick runs 10-20 samples apart the neighbour test
//    clears them, and a run of cleared beams with no point beyond it stays
//    empty, so some seeds lose a third of one side.
//  - First Return takes the leading edge of the footprint: points on
//    85-100 % of the beams, 77-100 % of them within 2 %, the worst 2-10 %
//    at the far edge of the fan.
TEST_F(ProfilePhysics, FlatSeabedAtItsDepth) {
  for (const Case& c : kCases) {
    for (int step = 0; step < 3; ++step) {
      for (int method = 0; method < 3; ++method) {
        char legend[96];
        std::snprintf(legend, sizeof legend, "%.0f m at %.0f m, %d beams, %s", c.depthM, c.rangeM, 480 >> step,
                      MethodName(method));
        SCOPED_TRACE(legend);
        RunScene(FlatScene(c), step, method, 12);
        const float level = seabed::SeabedDisplayLevel();
        const Figures f = Measure(c.depthM, 0.0, c.rangeM);
        const Figures f45 = Measure(c.depthM, 0.0, c.rangeM, 45.0);
        std::printf("[ figures  ] %-44s level %3.0f; +-55: points %3d/%3d, %3d within 2 %%, worst %5.2f %%;"
                    " +-45: %3d/%3d, worst %5.2f %%\n",
                    legend, level, f.withPoint, f.inside, f.withinTol, 100.0 * f.worstErr,
                    f45.withinTol, f45.inside, 100.0 * f45.worstErr);
        ASSERT_GT(f.inside, 0);
        if (method == 2) {
          // The survey gain shows the seabed bright, not saturated (except
          // where the mirror clean-up stays on, see seabed_scene.h).
          if (c.rangeM > 20.0) {
            EXPECT_GT(level, 0.7f * seabed::kSurveyLevel);
            EXPECT_LT(level, 1.3f * seabed::kSurveyLevel);
          }
          EXPECT_GE(f.withPoint, 0.95 * f.inside);
          EXPECT_EQ(f45.withinTol, f45.withPoint);
          EXPECT_GE(f.withinTol, 0.98 * f.withPoint);
          EXPECT_LT(f.worstErr, 0.03);
        } else if (method == 1) {
          EXPECT_GE(f.withPoint, 0.6 * f.inside);
          EXPECT_GE(f.withinTol, 0.9 * f.withPoint);
          EXPECT_LT(f.worstErr, 0.06);
        } else {
          EXPECT_GE(f.withPoint, 0.8 * f.inside);
          EXPECT_GE(f.withinTol, 0.6 * f.withPoint);
          EXPECT_LT(f.worstErr, 0.12);
        }
      }
    }
  }
}

TEST_F(ProfilePhysics, AltitudeIsTheDepthBelowTheSonar) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.depthM);
    RunScene(FlatScene(c), 1, 2, 6);
    std::printf("[ figures  ] altitude %.3f m for a seabed %.1f m below the sonar\n",
                g_detect.altitudeM, c.depthM);
    EXPECT_NEAR(g_detect.altitudeM, c.depthM, 0.02 * c.depthM);
  }
}

TEST_F(ProfilePhysics, FishInMidWaterIsNotTakenByBottomFollowing) {
  const Case c = kCases[1];  // 15 m at 30 m
  SceneParams p = FlatScene(c);
  // A strong fish 6 m below the sonar, 10 degrees to starboard.
  p.targets[0] = PointTarget{10.0, 6.0, 120.0};
  p.targetCount = 1;
  for (int step = 0; step < 3; ++step) {
    SCOPED_TRACE(480 >> step);
    // The first pings, before the flat-bottom flag stops the mirror-beam
    // clean-up, see little seabed beside the fish; twelve pings flush them
    // out of the point average (nine pings).
    RunScene(p, step, 2, 12);
    const double perSample = c.rangeM / 500.0;
    int onFish = 0;
    for (int b = 0; b < g_profilePoints.beams; ++b) {
      const float r = g_profilePoints.Range[b];
      if (r > 0.0f && std::fabs(r * perSample - 6.0) < 1.0) ++onFish;
    }
    EXPECT_EQ(onFish, 0);
    const Figures f = Measure(c.depthM, 0.0, c.rangeM);
    const Figures f45 = Measure(c.depthM, 0.0, c.rangeM, 45.0);
    std::printf("[ figures  ] fish scene, %3d beams: points %3d/%3d; +-45: %3d/%3d within 2 %%\n",
                480 >> step, f.withPoint, f.inside, f45.withinTol, f45.withPoint);
    EXPECT_GE(f.withPoint, 0.9 * f.inside);
    EXPECT_GE(f45.withinTol, 0.99 * f45.withPoint);
  }
}

// Least-squares slope of depth against starboard position over the points
// within 45 degrees of nadir.
double FittedSlopeDeg(double rangeM) {
  double sx = 0, sz = 0, sxx = 0, sxz = 0;
  int n = 0;
  const double perSample = rangeM / 500.0;
  for (int b = 0; b < g_profilePoints.beams; ++b) {
    const float r = g_profilePoints.Range[b];
    if (r <= 0.0f) continue;
    const double phi = ProfileSteerAngle(b);
    if (std::fabs(phi) > 45.0 * M_PI / 180.0) continue;
    const double x = std::sin(phi) * r * perSample;  // starboard positive
    const double z = std::cos(phi) * r * perSample;
    sx += x, sz += z, sxx += x * x, sxz += x * z;
    ++n;
  }
  if (n < 2) return 0.0;
  const double slope = (n * sxz - sx * sz) / (n * sxx - sx * sx);
  return std::atan(slope) * 180.0 / M_PI;
}

TEST_F(ProfilePhysics, SlopingSeabedKeepsItsSlope) {
  for (double slope : {-10.0, 5.0, 15.0}) {
    for (int method = 1; method < 3; ++method) {
      char legend[64];
      std::snprintf(legend, sizeof legend, "slope %.0f, %s", slope, MethodName(method));
      SCOPED_TRACE(legend);
      SceneParams p = FlatScene(kCases[1]);
      p.slopeDeg = slope;
      RunScene(p, 1, method, 4);
      const double fitted = FittedSlopeDeg(kCases[1].rangeM);
      std::printf("[ figures  ] %-32s fitted %.2f deg\n", legend, fitted);
      EXPECT_NEAR(fitted, slope, 1.0);
    }
  }
}

}  // namespace
