// Beamforming: the element samples of one ping turned into a fan of formed
// beams (BeamImage), with the geometry, the steering table and the averaging
// ring that persist between pings, and the per-ping sidescan and nadir vectors
// formed from the same element data.
#pragma once

#include "settings/constants.h"

// ---------------------------------------------------------------- geometry
// Set by SetupBeamGeometry / ResetProcessing from the settings, the head type
// and the frequency in use; the per-ping fields (BeamSpacingFactor, rollRad,
// rollShift, samples) are refreshed by every ProcessPing.
struct BeamGeometry {
  int beams = 240;              // N, beam count in use (base count scaled by the sector)
  int baseBeams = 240;          // 480 / 240 / 120 from StepSize, before sector scaling
  int samples = 500;            // n, samples per beam of the current data type
  double carrierHz = 260000.0;  // f
  double elementSpacingM = 0.0028702;  // d
  double soundSpeed = 1500.0;   // c, working speed of sound
  double halfSectorRad = 1.0471975511965976;  // θs
  double sectorDeg = 120.0;
  int sectorFromSpacing = 0;    // 1 when the head type derives the sector from d
  double beamSpacingRad = 0.0;  // Δθ = 2θs / N
  float BeamSpacingFactor = 0.25f;
  double omega = 0.0;           // 2π f
  double rollRad = 0.0;         // roll' in use for this ping
  int rollShift = 0;            // trunc(roll' / Δθ)
};
extern BeamGeometry g_beamGeom;

// ---------------------------------------------------------------- buffers
// BeamImage [beam][sample]: formed magnitudes on the display's 0..255 scale.
extern float g_beamImage[kMaxBeams][kMaxSamples];
// First-pass element I/Q (before compression) kept for point intensity and sidescan.
extern float g_firstPassI[kElements][kMaxSamples];
extern float g_firstPassQ[kElements][kMaxSamples];
// ElementIQ: second-pass I/Q of the compressed element samples (the beam sum's input).
extern float g_elementI[kElements][kMaxSamples];
extern float g_elementQ[kElements][kMaxSamples];
// NadirIQ: 0.2 x first-pass I/Q, used for the beams around nadir under Bottom Following.
extern float g_nadirI[kElements][kMaxSamples];
extern float g_nadirQ[kElements][kMaxSamples];
// SteeringTable [beam][element]: cos and sin of the steering phase (no window).
extern float g_steerCos[kMaxBeams][kElements];
extern float g_steerSin[kMaxBeams][kElements];
// Beam gain g_b of this ping (1 unless GainEqualization).
extern float g_beamGain[kMaxBeams];
// Speed of sound per sample, m/s; 1500 after ResetProcessing. Detection reads [0].
extern float g_soundSpeedProfile[kMaxSamples];

// FlatBottomFlag: written by profile detection at the end of a ping, read by
// the next ping's sidelobe clean-up and by the filters. 0 at start.
extern int g_flatBottomFlag;
// Roll for roll correction, degrees, when no played file provides one
// (there is no live attitude source; 0). In File mode the played record's
// clamped copy (g_playback.rollCorrectionDeg) is used instead.
extern double g_liveRollDeg;

// SidescanLine: 2n values 0..127, port (far to near) then starboard (near to far).
extern int g_sidescanLine[2 * kMaxSamples];
extern int g_sidescanLength;   // 2n of the last BuildSidescanLine
// NadirTrace: n values 0..127 of the beam looking straight down.
extern int g_nadirTrace[kMaxSamples];
extern int g_nadirTraceLength;
// SidescanAngle α in degrees (15..75, initially 15), set from the sidescan window.
extern float g_sidescanAngleDeg;
constexpr float kSidescanAngleMinDeg = 15.0f;
constexpr float kSidescanAngleMaxDeg = 75.0f;

// ---------------------------------------------------------------- state
constexpr int kAvgRingSlots = 30;   // deepest averaging 29 pings

// What ProcessPing keeps from one ping to the next besides the buffers above.
struct BeamformState {
  // Settings of the previous ping; a change clears the histories (set every ping).
  int prevAvgFilterIndex = -1;
  int prevDetection = -1;
  int prevFilter = -1;
  int avgSlot = 0;               // averaging ring slot of the next ping; 0 on reset
  int avgDepth = 3;              // A of the last ping
  int historyResets = 0;         // times the histories were cleared (ResetProcessing or a change)
  int pingsProcessed = 0;
};
extern BeamformState g_beamform;

// Clears every buffer, the state record and the geometry to defaults (tests).
void ResetBeamform();

// ---------------------------------------------------------------- operations
// Geometry from the settings, the head type and the frequency in use, then
// ResetProcessing. Called when frequency, head type, beam count or sector change.
void SetupBeamGeometry();
// The geometry alone, nothing cleared (ResetProcessing computes it too).
void ComputeBeamGeometry();
// Clears element samples, demodulator rows and the averaging ring; speed
// profile to 1500; recomputes the geometry. Detection's point histories are
// cleared beside it by the ping cycle (ResetChain).
void ResetProcessing();
// Steering table, roll' and roll shift, beam gains for this ping.
void BuildSteering();
// The whole per-ping chain into BeamImage (detection is the caller's next step).
// Returns 1, or 0 when not run (Beam Test display mode).
int ProcessPing();
// Per-ping sidescan and nadir vectors (after ProcessPing).
void BuildSidescanLine();
void BuildNadirTrace();
// Moves SidescanAngle by deltaDeg within 15..75.
void AdjustSidescanAngle(float deltaDeg);

// The per-sample loops exist as three builds (tiers): baseline x86-64,
// AVX2 with FMA, and AVX-512; the best the processor runs is chosen once.
// BeamformKernelTier: the tier in use. BeamformForceKernelTier(tier) asks for
// a lower tier (tests and benchmarks compare them; a tier the processor
// lacks gives the best it has), -1 returns to the processor's choice;
// returns the tier in use afterwards. BeamformFastKernels: 1 unless the
// baseline tier is in use. BeamformForceBaselineKernels(1) forces the
// baseline, (0) returns to the processor's choice; returns
// BeamformFastKernels() afterwards. Call between pings, from the ping's
// thread; ResetBeamform returns to the processor's choice.
constexpr int kBeamformTierBaseline = 0;
constexpr int kBeamformTierAvx2 = 1;
constexpr int kBeamformTierAvx512 = 2;
int BeamformKernelTier();
int BeamformForceKernelTier(int tier);
int BeamformFastKernels();
int BeamformForceBaselineKernels(int on);
// A beam and its mirror about the fan centre whose weights mirror each other
// exactly (every beam without roll) are formed together from shared sums,
// with the same result bit for bit. BeamformShareMirrorSums(0) forms every
// beam on its own (tests compare the two), (1) and ResetBeamform restore
// the default.
void BeamformShareMirrorSums(int on);

// ---------------------------------------------------------------- helpers
// BeamSpacingFactor for a beam spacing Δθ (radians), `previous` when Δθ is
// below the smallest threshold.
float BeamSpacingFactorOf(double beamSpacingRad, float previous);
// Steering angle φ_b of beam b for this ping's geometry and roll, radians.
double BeamSteerAngle(int beam);
// Signed square-root compression of one pre-filtered sample.
float CompressSample(float v);
// The pre-filter and compression of `count` samples: p = (I + Q) / 8, kept[k]
// = CompressSample(p) and next[k] the same except 0 where p is exactly 0.
// Bit for bit what CompressSample gives, NaN included, without its branches.
void CompressPrefiltered(const float* I, const float* Q, float* kept, float* next, int count);
// Sharpening polynomials of the Normal and Narrow curves.
float SharpenP5(float rho);
double SharpenP15(double rho);
