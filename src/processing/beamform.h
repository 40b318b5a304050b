// Beamforming: the element samples of one ping turned into a fan of formed
// beams (BeamImage), with the geometry, the steering table and the averaging
// ring that persist between pings.
#pragma once

#include "settings/constants.h"

struct BeamGeometry {
  int beams = 240;              // N, beam count in use
  int samples = 500;            // n, samples per beam of the current data type
  double carrierHz = 260000.0;  // f
  double elementSpacingM = 0.0028702;  // d
  double soundSpeed = 1500.0;   // c, working speed of sound
  double halfSectorRad = 1.0471975511965976;  // θs
  double sectorDeg = 120.0;
  double beamSpacingRad = 0.0;  // Δθ = 2θs / N
  float BeamSpacingFactor = 0.25f;
  double omega = 0.0;           // 2π f
  double rollRad = 0.0;         // roll' in use for this ping
  int rollShift = 0;            // trunc(roll' / Δθ)
};
extern BeamGeometry g_beamGeom;

// BeamImage [beam][sample]: formed magnitudes on the display's 0..255 scale.
extern float g_beamImage[kMaxBeams][kMaxSamples];
// First-pass element I/Q (before compression) kept for point intensity and sidescan.
extern float g_firstPassI[kElements][kMaxSamples];
extern float g_firstPassQ[kElements][kMaxSamples];
