// Synthetic scenes: the ping records and return packets a real head would
// send for a seabed, a few point targets and noise, so that the decoder, the
// beamformer, detection, imaging, the file code and the head link can be
// tested against a known geometry.
//
// Geometry convention (docs/DESIGN.md, "Geometry convention"):
//  - A scene angle θ is measured from the sonar's boresight in the
//    across-track plane, positive to STARBOARD. Slant ranges are in metres.
//  - The seabed lies depthM below the sonar along the boresight, with an
//    across-track slope: positive slopeDeg means deeper to starboard.
//  - Element e (the index in ElementSamples after decoding) carries, for an
//    echo from θ, the carrier phase -(e - 7.5) · sin θ · ω · d / c relative to
//    the array centre. The beamformer's steering phase for beam b is
//    ψ = (e - 7.5) · sin φ_b · ω · d / c applied as z · e^{jψ}, so the echo adds
//    up in the beam whose steering angle is φ_b = θ (SteerAngleOfSceneAngle).
//    A port echo therefore lands in a LOW beam index and a starboard echo in
//    a HIGH one, as the console's sidescan expects (its port beam is
//    trunc(N·α/180), starboard N minus that) and as detection's across-track
//    position sin φ_b · range (positive to starboard) expects. Imaging draws
//    beam 0 at the right-hand end of the fan, so port shows on the right.
//  - The decoded element order is the same for Xdcr Up and Down: the
//    generator writes element e at raw byte position 15 - e (Up) or e (Down),
//    the inverse of the decoder's mapping, so a target stays on its side of
//    the picture for either mounting.
//  - Sample s (after decoding) holds slant range s · (R / n) · (c / 1500) · k:
//    the head samples in time for its range R at 1500 m/s, k being the
//    RangeScaleFactor of the head mode. With c = 1500 and mode 0 this is
//    s · R / n. Type "U" raw data is shifted by the inverse of the decoder's
//    delay shift so that the decoded echo sits at its true sample.
//  - The carrier sits at a quarter of the sample rate, the centre of the
//    beamformer's sliding-DFT pass band, where neither of its passes has an
//    image response. The echo envelope is a raised cosine whose half-power
//    width is the pulse length in samples (at least 1.5 samples), centred on
//    the scatterer's range.
//  - The seabed is a sheet of evenly spread scatterers. Each sample's patch
//    stands for the strip of seabed that the sample's range interval cuts
//    out (wide under the sonar, one sample wide towards grazing); its
//    amplitude goes with the square root of that width, times
//    cos(incidence)^angleFalloff (1: Lambert). Under the sonar the seabed is
//    therefore several times louder than seabedStrength.
#pragma once

#include <cstdint>

#include "settings/constants.h"

constexpr int kMaxSceneTargets = 16;
// Envelope half-width cap, samples: very long pulses at the shortest ranges
// are clipped to this rather than smearing the whole ping.
constexpr int kMaxPulseHalfWidth = 48;
// True-sample span the seabed table covers: the samples of the ping plus the
// envelope reach on both sides.
constexpr int kSceneSpan = kMaxSamples + 2 * kMaxPulseHalfWidth + 2;
constexpr int kPatchesPerSample = 2;  // the seabed cuts a range circle twice

struct PointTarget {
  double angleDeg = 0.0;   // scene angle, positive to starboard
  double rangeM = 0.0;     // slant range from the sonar
  double strength = 0.0;   // peak carrier amplitude on each element, counts
  bool operator==(const PointTarget&) const = default;
};

struct SceneParams {
  // ---- head and ping
  int dataType = 0;          // 0 "U", 1 "V", 2 "Z", 3 "Y"
  int rangeStep = 5;         // range table step 0..16, used while rangeM is 0
  double rangeM = 0.0;       // range as commanded: 1.5, 1..200, 250, 300, 400, 500; 0: rangeStep
  int headTypeSetting = 4;   // head configuration index 0..13 (not 10), fixes the element spacing
  int frequencyKHz = 260;    // carrier of the head
  int xdcr = 1;              // 1 Up, 0 Down, as the console's Xdcr
  double soundSpeed = 1500.0;  // true speed of sound in the water, m/s
  int headModeCode = 0;      // byte 9 of the return, 0..5
  int pulseUs = 180;         // pulse length; the head takes it in 10 us units
  int scrambled = 0;         // element data scrambled (types "U" and "V" only)
  // ---- seabed
  int seabed = 1;            // 0: open water
  double depthM = 10.0;      // seabed distance below the sonar along the boresight
  double slopeDeg = 0.0;     // across-track slope, positive: deeper to starboard
  double seabedStrength = 8.0;   // seabed echo amplitude, counts, before the angle and strip-width terms
  double angleFalloff = 1.0;     // seabed echo falls as cos(incidence)^angleFalloff
  double rangeFalloffDb = 0.0;   // every echo loses this many dB from zero to full range
  int speckle = 0;           // seabed speckle (Rayleigh amplitude, random phase), new each ping
  uint32_t seed = 1;         // speckle and noise
  // ---- targets and noise
  PointTarget targets[kMaxSceneTargets];
  int targetCount = 0;
  double noise = 1.0;        // standard deviation of the element noise, counts
  int transmit = 1;          // 0: the head listens only (noise, no echoes)

  bool operator==(const SceneParams&) const = default;
};

// The tables of the scene last built and the ping last synthesised. Rebuilt
// whenever a call brings different SceneParams; cleared by ResetScene().
struct SceneState {
  SceneParams params;        // scene the tables below belong to
  int built = 0;             // 1 once the tables match params
  // ---- geometry of the built scene
  int type = 0;
  int samples = 500;         // n
  int shift = 0;             // decoder's type "U" delay shift, samples
  double metresPerSample = 0.06;
  double pulseHalfWidth = 1.5;   // envelope half-width h, samples
  int envReach = 1;              // H = ceil(h) - 1: envelope taps -H..H are non-zero
  float env[2 * kMaxPulseHalfWidth + 1] = {};  // envelope at integer offsets -H..H
  double seabedNorm = 1.0;       // makes seabedStrength the echo amplitude, speckle or not
  // ---- seabed patches: true sample u = patchBase + i, up to two per sample
  int patchBase = 0;
  int patchCount = 0;            // entries of the span in use
  float patchAmp[kSceneSpan][kPatchesPerSample] = {};   // 0: no patch
  float patchRe[kSceneSpan][kPatchesPerSample][kElements] = {};  // element phasors
  float patchIm[kSceneSpan][kPatchesPerSample][kElements] = {};
  // ---- per-ping work rows
  float srcRe[kSceneSpan][kElements] = {};
  float srcIm[kSceneSpan][kElements] = {};
  // ---- the last ping, for the packets of the same ping
  int pingIndex = -1;
  int recordLength = 0;
  uint8_t record[kRecordBufferBytes] = {};
  // ---- counters
  int tableBuilds = 0;
  int pingsSynthesized = 0;
};
extern SceneState g_scene;

void ResetScene();

// ---------------------------------------------------------------- scene facts
// RangeCode the head reports (byte 7): 1..200, 201..204; 0 when invalid.
int SceneRangeCode(const SceneParams& p);
// Range in metres the console's geometry uses for that code (1.5 for code 1).
double SceneRangeM(const SceneParams& p);
// Samples per element of the scene's data type.
int SceneSamples(const SceneParams& p);
// True slant range of one sample: R / n · c / 1500 · RangeScaleFactor.
double SceneMetresPerSample(const SceneParams& p);
// Decoded sample index (fractional) at which an echo from slantM peaks.
double SceneSampleOfRange(const SceneParams& p, double slantM);
// Type "U" delay shift the decoder will apply (0 for other types).
int SceneDelayShift(const SceneParams& p);
// Pulse length the head actually uses: whole 10 us units.
int ScenePulseUs(const SceneParams& p);
// Element spacing of the head type at the scene's range and head mode, m.
double SceneElementSpacingM(const SceneParams& p);
// HeadTypeIndex (byte 8) a head of this type setting reports.
int HeadTypeIndexOfSetting(int headTypeSetting);
// FrequencyCoefficient (hundredths) that goes with a head type setting.
int FrequencyCoefficientOfSetting(int headTypeSetting);
// Beamformer steering angle (radians) at which a scene angle shows: -θ.
double SteerAngleOfSceneAngle(double angleDeg);

// 1 when the scene can be synthesised; otherwise 0 with a reason in `why`.
int ValidateScene(const SceneParams& p, char* why, int whySize);

// ---------------------------------------------------------------- synthesis
// Writes the PingRecord of ping `pingIndex` (header "I", letter, "X", bytes
// 3-11, element data, end byte 0xFC) to `out`, which must hold the record
// length of the type (kRecordBufferBytes always does). Returns the record
// length, or 0 for an invalid scene.
[[nodiscard]] int SynthesizePing(const SceneParams& p, int pingIndex, uint8_t* out);
// Return packet `packetIndex` of ping `pingIndex` (1033 bytes), cut from the
// same ping record; consecutive calls for one ping synthesise it once.
// Returns 1, or 0 for an invalid scene or an index beyond the ping's packets.
[[nodiscard]] int GetPacket(const SceneParams& p, int pingIndex, int packetIndex,
                            uint8_t out[kReturnPacketBytes]);
// All packets of a ping into out[0..]; returns the count, 0 when they do not fit.
[[nodiscard]] int SynthesizePackets(const SceneParams& p, int pingIndex,
                                    uint8_t (*out)[kReturnPacketBytes], int maxPackets);
