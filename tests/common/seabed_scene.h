// A flat seabed as a survey sees it, for the tests that hold the picture and
// the profile to the seabed's true depth.
//
// What matters for where the picture and the detection put a seabed is not
// the echo's absolute level but two ratios: the echo against the element
// noise, and the displayed level against the detection threshold (a quarter
// of full scale). The scene fixes both the way a real survey has them:
//  - a rough seabed (Rayleigh speckle, new every ping) whose echo stands
//    about 30 dB over the element noise of one count, so that noise runs do
//    not cross the threshold near the sonar;
//  - the pulse the console's "Auto Pulse Length" sets for the range, which
//    keeps the pulse about two samples long on every range;
//  - a display gain at which the seabed reads about two thirds of full scale
//    in most beams, as an operator sets it (SeabedDisplayLevel measures it).
//    Where the flat-bottom test's beams, some 40 degrees out, see no seabed
//    (8 m on the 10 m range) the mirror-beam clean-up stays on and takes
//    most of a symmetric seabed away: it then reads about 50 at this gain,
//    and raising the gain to make up for it lifts the noise over the
//    threshold too.
// At a gain that drives the seabed far past full scale, every beam's echo
// runs above the threshold over its whole footprint, including the beam's
// off-axis pedestal, and both the picture and the points smear outward.
#pragma once

#include <algorithm>
#include <cmath>

#include "head/switch_command.h"
#include "processing/beamform.h"
#include "processing/profile_detect.h"
#include "scene.h"

namespace seabed {

constexpr double kStrength = 32.0;  // seabed echo, counts per element, before the strip and angle terms
constexpr int kSurveyGain = 4;  // display gain that puts that seabed at about 170 of 255 (below)
constexpr float kSurveyLevel = 170.0f;

inline SceneParams SurveySeabed(double depthM, int rangeStep) {
  SceneParams p;
  p.dataType = 0;
  p.rangeStep = rangeStep;
  p.depthM = depthM;
  p.noise = 1.0;
  p.speckle = 1;
  p.seabedStrength = kStrength;
  p.pulseUs = AutoPulseLengthWith(rangeStep, 1.0);
  return p;
}

// Median over the beams within `maxDeg` of nadir of each beam's largest
// BeamImage value: how bright the seabed shows at the gain in use.
inline float SeabedDisplayLevel(double maxDeg = 55.0) {
  float peaks[kMaxBeams];
  int count = 0;
  for (int b = 0; b < g_beamGeom.beams; ++b) {
    if (std::fabs(ProfileSteerAngle(b)) > maxDeg * M_PI / 180.0) continue;
    float m = 0.0f;
    for (int s = 0; s < g_beamGeom.samples; ++s) m = std::max(m, g_beamImage[b][s]);
    peaks[count++] = m;
  }
  if (count == 0) return 0.0f;
  std::nth_element(peaks, peaks + count / 2, peaks + count);
  return peaks[count / 2];
}

}  // namespace seabed
