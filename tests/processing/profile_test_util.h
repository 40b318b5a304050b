// Helpers shared by the detection and filter tests: a clean start of every
// module detection reads, and BeamImage painted directly with echoes at known
// ranges, so each rule is exercised on an input whose answer is known.
#pragma once

#include <cmath>
#include <cstring>

#include "processing/beamform.h"
#include "processing/beamform_test_util.h"
#include "processing/profile_detect.h"
#include "processing/profile_filter.h"
#include "settings/settings.h"

namespace pdtest {

// Geometry of `stepSize` (0: 480, 1: 240, 2: 120 beams) over 120 degrees,
// n = 500, range step 3 (10 m): one sample is 2 cm, the window 0.1..100 m.
// Every filter switch off so a test turns on what it exercises.
inline void ResetAll(int stepSize = 1, int method = 2) {
  bftest::ResetAll(stepSize, 2, 500);
  g_detect.detectionLevelPct = 25.0f;
  g_detect.minimumRangeM = 0.1f;
  g_settings.Range = 3;
  g_settings.ProfilePointDetection = 1;
  g_settings.ProfilePointFilter = method;
  g_settings.ProfileMinDepthBelowSonar = 0.1;
  g_settings.ProfileMaxDepthBelowSonar = 100.0;
  g_settings.ProfileTiltAngle = 0.0;
  g_settings.ProfilePointType = 0;
  g_settings.ProfilePointFilter_g_pre_filter_sw = 0;
  g_settings.ProfilePointFilter_g_main_filter_sw = 0;
  g_settings.ProfilePointFilter_g_short_outliers_sw = 0;
  g_settings.ProfilePointFilter_g_show_outliers_sw = 0;
  g_settings.ProfilePointFilter_g_fill_beams_sw = 0;
  g_filter.deepOutlierSw = 0;
  g_flatBottomFlag = 0;
  g_beamGeom.samples = 500;
  std::memset(g_beamImage, 0, sizeof g_beamImage);
}

inline int Beams() { return g_beamGeom.beams; }

// An echo of `width` samples at `level` centred on sample `centre` of a beam.
inline void PaintEcho(int beam, int centre, int width = 5, float level = 200.0f) {
  for (int s = centre - width / 2; s < centre - width / 2 + width; ++s)
    if (s >= 0 && s < kMaxSamples) g_beamImage[beam][s] = level;
}

// A flat seabed `depth` samples below the head: beam b sees it at depth / cos.
inline void PaintFlatBottom(double depth, int width = 5, float level = 200.0f) {
  for (int b = 0; b < Beams(); ++b) {
    const double c = std::cos(ProfileSteerAngle(b));
    if (c <= 0.0) continue;
    const double r = depth / c;
    if (r < g_beamGeom.samples - 10) PaintEcho(b, static_cast<int>(std::lround(r)), width, level);
  }
}

inline int PointCount() {
  int n = 0;
  for (int b = 0; b < Beams(); ++b) n += g_profilePoints.Range[b] > 0.0f;
  return n;
}

}  // namespace pdtest
