// Helpers shared by the beamformer tests: a clean start of every module the
// chain reads, and element data made directly (without the decoder) for the
// cases that need a controlled input rather than a scene.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#include "console/run_mode.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "processing/beamform.h"
#include "scene.h"
#include "settings/settings.h"

namespace bftest {

// Settings for a plain beamforming run: no averaging shown, no detection,
// head type 4 at 260 kHz (spacing fixed, sector from SectorSize).
inline void ResetAll(int stepSize = 1, int mode = 2, int samples = 500) {
  ResetConsole();
  g_settings.StepSize = stepSize;
  g_settings.ProcessingMode = mode;
  g_settings.SectorSize = 3;
  g_settings.AvgFilter = 0;
  g_settings.ProfilePointDetection = 0;
  g_settings.ProfilePointFilter = 0;
  g_settings.DisplayType = 0;
  g_settings.Range = 4;  // 20 m
  g_switch.headTypeSetting = 4;
  g_settings.Frequency = 260;
  g_sampleCount = samples;
  SetupBeamGeometry();
}

inline void Silence() { std::memset(g_elementSamples, 0, sizeof g_elementSamples); }

// Adds an echo arriving from angle `angleRad` (measured like the beams'
// steering angles: negative toward beam 0): a tone of `cyclesPerSample`
// under a Hann envelope of `length` samples starting at `start`. Element e
// hears it (e - 7.5) d sin(angle) / c later, which at the carrier is a phase lag.
inline void AddEcho(double angleRad, int start, int length, double amplitude,
                    double cyclesPerSample = 0.25) {
  const BeamGeometry& g = g_beamGeom;
  for (int e = 0; e < kElements; ++e) {
    const double lag = (e - 7.5) * g.elementSpacingM * std::sin(angleRad) / g.soundSpeed * g.omega;
    for (int i = 0; i < length; ++i) {
      const int s = start + i;
      if (s < 0 || s >= g_sampleCount) continue;
      const double env = 0.5 - 0.5 * std::cos(2.0 * M_PI * (i + 0.5) / length);
      g_elementSamples[e][s] += static_cast<float>(
          std::trunc(amplitude * env * std::cos(2.0 * M_PI * cyclesPerSample * s - lag)));
    }
  }
}

// Deterministic element noise of integer values in -amp..amp (as bytes would give).
inline void AddNoise(int amp, uint32_t seed) {
  uint32_t x = seed ? seed : 1u;
  for (int e = 0; e < kElements; ++e)
    for (int s = 0; s < g_sampleCount; ++s) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      g_elementSamples[e][s] += static_cast<float>(static_cast<int>(x % (2u * amp + 1)) - amp);
    }
}

// Largest BeamImage value in beams [b0, b1) and samples [s0, s1); beam and
// sample of it through the pointers.
inline float PeakIn(int b0, int b1, int s0, int s1, int* beam = nullptr, int* sample = nullptr) {
  float best = -1.0f;
  for (int b = b0; b < b1; ++b)
    for (int s = s0; s < s1; ++s)
      if (g_beamImage[b][s] > best) {
        best = g_beamImage[b][s];
        if (beam) *beam = b;
        if (sample) *sample = s;
      }
  return best;
}

// Beam whose steering angle is nearest `angleRad`.
inline int NearestBeam(double angleRad) {
  int best = 0;
  for (int b = 1; b < g_beamGeom.beams; ++b)
    if (std::fabs(BeamSteerAngle(b) - angleRad) < std::fabs(BeamSteerAngle(best) - angleRad)) best = b;
  return best;
}

// A 20 m ping over a speckled seabed 10 m down, sloping 4 degrees, with a
// target at -25 degrees and 6 m (and, with two, one at 40 degrees and 9 m):
// averaging, the clean-up and the rise limit all take part.
inline SceneParams SlopingSeabedScene(int dataType, int targets = 1) {
  SceneParams p;
  p.dataType = dataType;
  p.rangeStep = 4;
  p.depthM = 10.0;
  p.slopeDeg = 4.0;
  p.speckle = 1;
  p.noise = 1.5;
  p.targetCount = targets;
  p.targets[0] = {-25.0, 6.0, 50.0};
  p.targets[1] = {40.0, 9.0, 35.0};
  return p;
}

// Takes a scene's head settings into the console (range, head type,
// frequency, speed of sound, mounting, pulse) and sets the geometry up.
inline void ApplyScene(const SceneParams& p) {
  g_settings.Range = p.rangeStep;
  g_settings.Frequency = p.frequencyKHz;
  g_settings.Xdcr = p.xdcr;
  g_settings.PulseLength = ScenePulseUs(p);
  g_settings.SoundVelocityMeters = 1500.0;
  g_switch.headTypeSetting = p.headTypeSetting;
  g_ping.headModeCode = p.headModeCode;
  ApplyDataType(p.dataType);
  SetupBeamGeometry();
}

// Synthesises ping `index` of the scene and decodes it into ElementSamples.
inline int DecodeScenePing(const SceneParams& p, int index) {
  static uint8_t record[kRecordBufferBytes];
  const int length = SynthesizePing(p, index, record);
  if (length <= 0 || !LoadPingRecord(record, length)) return 0;
  return DecodePingAt(1.0 + 0.01 * index);
}

}  // namespace bftest
