// Profile point detection: at most one bottom point per formed beam, found in
// BeamImage by one of three methods (First Return, Maximum Return, Bottom
// Following), turned into across-track and depth positions, and the per-ping
// products derived from them: the output arrays for the display and the point
// writers, the point intensity, the altitude, the swath extents and the
// flat-bottom flag that the next ping's beamformer and filters read.
//
// Units: ranges, across and down distances are in samples along the beam on
// the 500-sample scale of the range (z metres = z * 500 / R samples).
#pragma once

#include <cstdint>

#include "settings/constants.h"

// ---------------------------------------------------------------- point set
// ProfilePointSet: one entry per beam b = 0 .. beams-1, rebuilt every ping by
// DetectProfile (cleared at the start of each method).
struct ProfilePointSet {
  int beams = 0;                    // N of the ping that filled the set
  float Range[kMaxBeams] = {};      // point position in samples, 0 = no point
  int PeakLevel[kMaxBeams] = {};    // peak beam value of the echo, 0..255, 0 without point
  float SteerAngle[kMaxBeams] = {}; // radians, fan angle plus profile tilt
  float Across[kMaxBeams] = {};     // sin(SteerAngle) * Range
  float Down[kMaxBeams] = {};       // cos(SteerAngle) * Range
  int RemovedRange[kMaxBeams] = {}; // range of a point a filter removed this ping, 0 = none
};
extern ProfilePointSet g_profilePoints;

// ---------------------------------------------------------------- outputs
// One output beam of the point record (three 4-byte fields).
struct ProfileOutputBeam {
  float RangeValue = 0.0f;  // 10 * Range * R / n + range offset
  float AngleDeg = 0.0f;    // tilt + fan angle of the output beam, degrees
  int32_t Intensity = 0;    // PointIntensity of the beam
};

// Rebuilt by BuildProfileOutput in reversed beam order: output index i holds
// beam N-1-i. g_profileOutputCount is N of that ping (0 before any).
extern int g_profileOutputCount;
extern int32_t g_pointRangeTenths[kMaxBeams];         // trunc(10 * Range + 0.5), 0 = no point
extern ProfileOutputBeam g_profileOutputBeam[kMaxBeams];
// PointIntensity [beam] 0..255, filled by ComputePointIntensity.
extern int g_pointIntensity[kMaxBeams];

// ---------------------------------------------------------------- state
constexpr int kMaxEchoSegments = 41;     // segments collected per beam
constexpr int kAltitudeValues = 9;       // output beams around nadir for the altitude
constexpr int kAltitudeSlots = 3;        // altitude mean over this many pings
constexpr int kAltitudeMaxMisses = 10;   // pings without altitude before it drops to 0
constexpr int kSwathNone = 2000;         // extents of a ping without points: -2000 / 2000

struct ProfileDetectState {
  // Set by external control (SetDetectionLevel / SetMinimumRange); survive Reset.
  float detectionLevelPct = 25.0f;  // L, 10..90
  float minimumRangeM = 0.1f;       // blanking distance, metres

  // cos and sin of each beam's SteerAngle, filled with it (PrepareDetection,
  // ComputePointGeometry) so that the methods and filters share one table.
  float steerCos[kMaxBeams] = {};
  float steerSin[kMaxBeams] = {};
  // The steering angles themselves, and the geometry they were worked out
  // for: beam count, spacing, half sector and tilt. FillSteering recomputes
  // the three tables only when one of these changes; Reset clears them.
  float steerAngle[kMaxBeams] = {};
  int steerBeams = -1;
  double steerSpacingRad = 0.0;
  double steerHalfSectorRad = 0.0;
  double steerTiltDeg = 0.0;

  // Bottom Following's second and third echo per beam, this ping.
  float secondRange[kMaxBeams] = {};
  float thirdRange[kMaxBeams] = {};

  // Altitude: set by UpdateAltitude every ping with detection on; cleared by Reset.
  double currentAltitudeM = 0.0;  // last accepted altitude, 0 after too many misses
  int missCount = 0;
  double altitudeRing[kAltitudeSlots] = {};
  int altitudeSlot = 0;
  double altitudeM = 0.0;         // mean of the ring: shown and written to point records

  // Swath extents in samples across track, starboard positive (port extent
  // negative), of this ping's points; set by DetectProfile.
  int portExtent = -kSwathNone;
  int starboardExtent = kSwathNone;
  int swathValue = 0;             // starboard - port extent of the points, 0 without points

  int pings = 0;                  // DetectProfile calls since Reset
};
extern ProfileDetectState g_detect;

// Clears the point set, outputs, altitude and swath values; keeps the detection
// level and minimum range that external control set.
void ResetProfileDetect();


// ---------------------------------------------------------------- per ping
// Runs the method of ProfilePointFilter on BeamImage, then point averaging, the
// artificial bottom and the flat-bottom test. The ping cycle calls it after
// ProcessPing when ProfilePointDetection is 1.
void DetectProfile();
// 1 when detection will write into BeamImage this ping (the removed points
// marked in the picture), so the picture must be drawn after it, not beside it.
int DetectionWritesBeams();
void DetectFirstReturn();
void DetectMaximumReturn();
void DetectBottomFollowing();
// SteerAngle, Across and Down of every beam from Range.
void ComputePointGeometry();
// FlatBottomFlag from the points of this ping.
void FlatBottomTest();
// Re-forms each beam around its point from the first-pass element I/Q.
void ComputePointIntensity();
// PointRangeTenths and ProfileOutputBeam from the point set.
void BuildProfileOutput();
// Altitude from the nine output beams around nadir (after BuildProfileOutput).
void UpdateAltitude();

// ---------------------------------------------------------------- helpers
// Steering angle of beam b, radians, including the profile tilt.
double ProfileSteerAngle(int beam);
// Range R in metres that the detection scales by.
double DetectionRangeM();

// External control: detection level in percent (10..90) and minimum range in
// metres (0 means 0.1; 1..100). Return 1 when taken, 0 when out of range.
int SetDetectionLevel(int percent);
int SetMinimumRange(int metres);

