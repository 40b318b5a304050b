// Beamforming. Once per ping the 16 element rows that the decoder left in
// g_elementSamples are pre-filtered and compressed, demodulated to I/Q by a
// sliding DFT, steered by phase rotation into N beams and summed over the two
// half apertures; only energy that arrives in phase on both halves survives.
// One of four sharpening curves scales the result, the mirror-beam sidelobes
// are subtracted, and the fan is averaged over the last pings into
// g_beamImage, which the display draws and profile detection searches.
//
// Inputs: g_elementSamples / g_sampleCount (return data), g_settings, the head
// type and frequency of the switch state, the head mode of the latest ping and
// the played record's roll. Owned here: the geometry (g_beamGeom), BeamImage,
// the first-pass, second-pass and nadir I/Q rows, the steering table, the
// averaging ring, the sidescan line and nadir trace, and the flat-bottom flag
// that detection writes.
//
// Cost: the beam sum (N x 16 complex multiply-adds per sample) dominates. It
// runs on sample-major vectors with the element window folded into the
// per-beam phasors, a beam and its mirror sharing their sums, and the
// sharpening and rise limit fused into the same pass. With the other
// per-sample loops it is compiled three times (baseline, AVX2 with FMA,
// AVX-512) with the choice made once from the processor, so the shipped
// binary needs no particular CPU. The fast builds may differ from the
// baseline in the last float bits (fused multiply-add) after the element
// compression, which all share; the two fast builds agree bit for bit.
// The formed beams, the smoothed copy and the clean-up with the averaging
// are split over the ping's helper thread when it runs (platform/
// work_split), with the same result to the bit.
//
// Sections:
//   [SECTION] State and buffers
//   [SECTION] Geometry
//   [SECTION] Steering and gains
//   [SECTION] Pre-filter and demodulation
//   [SECTION] Beam sum and sharpening
//   [SECTION] Sidelobe clean-up and averaging
//   [SECTION] Per-ping chain
//   [SECTION] Sidescan line and nadir trace
#include "processing/beamform.h"

#include <atomic>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <immintrin.h>
#endif
#include <type_traits>
#include <utility>

#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "platform/work_split.h"
#include "settings/settings.h"

// The hot loops are written once as always-inline bodies and compiled three
// times: for the baseline x86-64, for AVX2 with fused multiply-add and for
// AVX-512. The choice is made once, from the processor, through a small
// table of pointers.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(ORVALE_NO_FAST_KERNELS)
#define ORVALE_FAST_KERNELS 1
#include <immintrin.h>
#define ORVALE_AVX2_TARGET __attribute__((target("avx2,fma")))
#if defined(__clang__)
#define ORVALE_AVX512_TARGET __attribute__((target("avx512f,avx512vl,avx512dq,avx512bw,avx2,fma")))
#else
#define ORVALE_AVX512_TARGET \
  __attribute__((target("avx512f,avx512vl,avx512dq,avx512bw,avx2,fma,prefer-vector-width=512")))
#endif
#endif
#define ORVALE_KERNEL static inline __attribute__((always_inline))

typedef float v2f __attribute__((vector_size(8)));
typedef float v4f __attribute__((vector_size(16)));   // baseline build (SSE2)
typedef float v8f __attribute__((vector_size(32)));   // AVX2 build
typedef float v16f __attribute__((vector_size(64)));  // AVX-512 build
typedef double v2d __attribute__((vector_size(16)));
typedef double v4d __attribute__((vector_size(32)));
typedef double v8d __attribute__((vector_size(64)));

struct BeamKernels {
  // Beam sum, sharpening and (when `limit`) the rise limit of one beam over
  // samples s0..s1 into `out`.
  void (*formSpan)(const float*, const float*, const float*, const float*, float, int, float, int, float*, int,
                   int);
  // The same for a beam and its mirror, whose sine weights are the negatives
  // of the beam's (see HalfAperturePair).
  void (*formPairSpan)(const float*, const float*, const float*, const float*, const float*, const float*, float,
                       float, int, float, int, float*, float*, int, int);
  void (*smoothRow)(const float*, const float*, const float*, float*, int);
  // Clean-up subtraction of the mirror rows, clamp and averaging of one row.
  void (*cleanAverageRow)(float*, const float* const*, int, int, float*, float*, int, int, int, float);
};
static const BeamKernels& Kernels();
// Test and benchmark controls, written on the ping's thread between pings;
// back to the defaults on ResetBeamform.
static int s_forcedTier = -1;      // BeamformForceKernelTier: -1 the processor's choice
static int s_shareMirrorSums = 1;  // BeamformShareMirrorSums

//-----------------------------------------------------------------------------
// [SECTION] State and buffers
//-----------------------------------------------------------------------------

BeamGeometry g_beamGeom;
BeamformState g_beamform;

alignas(64) float g_beamImage[kMaxBeams][kMaxSamples];
alignas(64) float g_firstPassI[kElements][kMaxSamples];
alignas(64) float g_firstPassQ[kElements][kMaxSamples];
alignas(64) float g_elementI[kElements][kMaxSamples];
alignas(64) float g_elementQ[kElements][kMaxSamples];
alignas(64) float g_nadirI[kElements][kMaxSamples];
alignas(64) float g_nadirQ[kElements][kMaxSamples];
alignas(64) float g_steerCos[kMaxBeams][kElements];
alignas(64) float g_steerSin[kMaxBeams][kElements];
float g_beamGain[kMaxBeams];
float g_soundSpeedProfile[kMaxSamples];

int g_flatBottomFlag = 0;
double g_liveRollDeg = 0.0;

int g_sidescanLine[2 * kMaxSamples];
int g_sidescanLength = 0;
int g_nadirTrace[kMaxSamples];
int g_nadirTraceLength = 0;
float g_sidescanAngleDeg = kSidescanAngleMinDeg;


// The demodulator reads up to four samples past n; the rows hold 1010.
static constexpr int kDftLength = 8;
static constexpr int kDftDrop = kDftLength / 2;
static constexpr int kMaxProcessedSamples = kMaxSamples - kDftDrop;
static constexpr int kStaleFrom = 300;
static constexpr int kRiseLimit = 50;
static constexpr int kSampleBlock = 128;  // a multiple of the beam sum's 16-sample step

// Element rows transposed to sample-major order for the demodulator, which
// runs all 16 elements side by side.
alignas(64) static float s_xt[kMaxSamples][kElements];
alignas(64) static float s_it[kMaxSamples][kElements];
alignas(64) static float s_qt[kMaxSamples][kElements];
alignas(64) static float s_vt[kMaxSamples][kElements];

// The beam sum's copies of ElementIQ and NadirIQ: rows 64-byte aligned and
// padded so that sample 1, where the formed span starts, begins a cache
// line; the sum's vector loads then never straddle two lines. Sample s of
// element e is at [e][kFormOffset + s].
static constexpr int kFormStride = 1040;
static constexpr int kFormOffset = 15;
static_assert(kFormOffset + kMaxSamples <= kFormStride, "form rows hold every sample");
alignas(64) static float s_formI[kElements][kFormStride];
alignas(64) static float s_formQ[kElements][kFormStride];
alignas(64) static float s_formNadirI[kElements][kFormStride];
alignas(64) static float s_formNadirQ[kElements][kFormStride];

// Steering phasors with the element window folded in (beam-sum input), and the
// key of the geometry they were built for, so an unchanged ping skips the trig.
alignas(64) static float s_weightedCos[kMaxBeams][kElements];
alignas(64) static float s_weightedSin[kMaxBeams][kElements];
struct SteeringKey {
  int beams = -1;
  double beamSpacingRad = 0, rollRad = 0, halfSectorRad = 0, spacing = 0, sound = 0, omega = 0;
  double sectorDeg = 0;
  int gainEqualization = -1;
  bool operator==(const SteeringKey&) const = default;
};
static SteeringKey s_steerKey;
// 1 where beam b's mirror N-1-b has the same cosine weights and the negated
// sine weights, bit for bit (every beam without roll): the beam sum forms
// the two together. Rebuilt with the weights.
static unsigned char s_mirrorWeights[kMaxBeams];

// Smoothed copy for the sidelobe clean-up; its border rows and columns keep
// their values from ping to ping (0 after a reset).
alignas(64) static float s_smooth[kMaxBeams][kMaxSamples];

// Averaging ring and running sum. A slot counts as empty (all zero) until a
// ping has been written into it since the last reset, so clearing the
// histories costs no pass over the 65 MB ring.
alignas(64) static float s_ring[kAvgRingSlots][kMaxBeams][kMaxSamples];
alignas(64) static float s_ringSum[kMaxBeams][kMaxSamples];
static int s_slotFilled[kAvgRingSlots];
static int s_ringBeams = 0;    // N and n the ring was filled with
static int s_ringSamples = 0;

static const float kElementWindow[kElements] = {
    // 1.7 x Hamming over 16 elements: 1.7 (0.54 - 0.46 cos(2π e / 16))
#define W(e) static_cast<float>(1.7 * (0.54 - 0.46 * std::cos(2.0 * M_PI * (e) / 16.0)))
    W(0), W(1), W(2),  W(3),  W(4),  W(5),  W(6),  W(7),
    W(8), W(9), W(10), W(11), W(12), W(13), W(14), W(15)
#undef W
};

// Averaging ring and running sum. The point histories of detection are the
// ping cycle's to clear: it watches historyResets.
static void ClearHistories() {
  std::memset(s_ringSum, 0, sizeof s_ringSum);
  std::memset(s_slotFilled, 0, sizeof s_slotFilled);
  s_ringBeams = 0;
  s_ringSamples = 0;
  g_beamform.avgSlot = 0;
  ++g_beamform.historyResets;
}

void ResetBeamform() {
  g_beamGeom = BeamGeometry{};
  g_beamform = BeamformState{};
  std::memset(g_beamImage, 0, sizeof g_beamImage);
  std::memset(g_firstPassI, 0, sizeof g_firstPassI);
  std::memset(g_firstPassQ, 0, sizeof g_firstPassQ);
  std::memset(g_elementI, 0, sizeof g_elementI);
  std::memset(g_elementQ, 0, sizeof g_elementQ);
  std::memset(g_nadirI, 0, sizeof g_nadirI);
  std::memset(g_nadirQ, 0, sizeof g_nadirQ);
  std::memset(g_steerCos, 0, sizeof g_steerCos);
  std::memset(g_steerSin, 0, sizeof g_steerSin);
  std::memset(s_smooth, 0, sizeof s_smooth);
  std::memset(g_sidescanLine, 0, sizeof g_sidescanLine);
  std::memset(g_nadirTrace, 0, sizeof g_nadirTrace);
  for (float& g : g_beamGain) g = 1.0f;
  for (float& c : g_soundSpeedProfile) c = 1500.0f;
  g_sidescanLength = 0;
  g_nadirTraceLength = 0;
  g_sidescanAngleDeg = kSidescanAngleMinDeg;
  g_flatBottomFlag = 0;
  g_liveRollDeg = 0.0;
  s_steerKey = SteeringKey{};
  std::memset(s_ringSum, 0, sizeof s_ringSum);
  std::memset(s_slotFilled, 0, sizeof s_slotFilled);
  s_ringBeams = 0;
  s_ringSamples = 0;
  s_forcedTier = -1;
  s_shareMirrorSums = 1;
}

//-----------------------------------------------------------------------------
// [SECTION] Geometry
//-----------------------------------------------------------------------------

// Element spacing per head-type setting; 0 marks a type that keeps the
// previous spacing (type 10 and anything unknown).
struct HeadSpacing {
  double spacingM;
  int sectorFromSpacing;
};
static const HeadSpacing kHeadSpacing[] = {
    {0.0127, 0},     {0.006351, 1},   {0.0031886, 1}, {0.004064, 1},  {0.0028702, 0},
    {0.006223, 0},   {0.003175, 1},   {0.0010922, 0}, {0.0028702, 0}, {0.0003556, 0},
    {0.0, 0},        {0.00103505, 0}, {0.0028702, 0}, {0.0009398, 0},
};
static constexpr int kHeadSpacingCount = sizeof kHeadSpacing / sizeof kHeadSpacing[0];

// Range-dependent corrections of the element spacing of head types 4 and 5:
// their effective aperture changes with the receiver's range-gated filters.
static double SpacingCorrection(int headType, double rangeM, int headModeCode) {
  struct Row {
    double rangeM, k4Low, k4High, k5;
  };
  static const Row kRows[] = {
      {5.0, 1.0626, 1.03, 1.08},
      {10.0, 1.02, 1.015, 1.05},
      {20.0, 1.03, 1.0125, 1.02},
      {30.0, 1.01, 1.01, 1.01},
  };
  for (const Row& r : kRows) {
    if (rangeM != r.rangeM) continue;
    if (headType == 4) return headModeCode < 4 ? r.k4Low : r.k4High;
    if (headType == 5) return r.k5;
  }
  return 1.0;
}

float BeamSpacingFactorOf(double beamSpacingRad, float previous) {
  float f = previous;
  if (beamSpacingRad > 0.0040142573) f = 0.25f;
  if (beamSpacingRad > 0.00837758) f = 0.5f;
  if (beamSpacingRad > 0.017104227) f = 1.0f;
  return f;
}

static void ComputeGeometry() {
  BeamGeometry& g = g_beamGeom;
  static const int kBaseBeams[3] = {480, 240, 120};
  static const double kSectorDeg[6] = {30.0, 60.0, 90.0, 120.0, 100.0, 110.0};

  const int step = g_settings.StepSize;
  g.baseBeams = (step >= 0 && step <= 2) ? kBaseBeams[step] : 240;

  const int kHz = FrequencyInUseKHz();
  const int headType = g_switch.headTypeSetting;
  if (headType == 0 && g_settings.RunMode == 1 && (kHz < 50 || kHz > 100))
    g.carrierHz = 60000.0;
  else
    g.carrierHz = kHz * 1000.0;

  if (headType >= 0 && headType < kHeadSpacingCount && kHeadSpacing[headType].spacingM > 0.0) {
    const double rangeM = RangeMetersOfStep(g_settings.Range);
    g.elementSpacingM = kHeadSpacing[headType].spacingM *
                        SpacingCorrection(headType, rangeM, g_ping.headModeCode);
    g.sectorFromSpacing = kHeadSpacing[headType].sectorFromSpacing;
  }

  g.soundSpeed = g_settings.SoundVelocityMeters > 0.0 ? g_settings.SoundVelocityMeters : 1500.0;

  if (g.sectorFromSpacing) {
    // Grating lobes stay out of the fan while sin θs ≤ λ / 2d.
    double s = 0.866025;
    if (g.carrierHz > 0.0 && g.elementSpacingM > 0.0)
      s = std::fmin(0.866025, 0.5 * g.soundSpeed / (g.carrierHz * g.elementSpacingM));
    g.halfSectorRad = std::asin(s);
    g.sectorDeg = 2.0 * g.halfSectorRad * 180.0 / M_PI;
  } else {
    const int sz = g_settings.SectorSize;
    g.sectorDeg = (sz >= 0 && sz <= 5) ? kSectorDeg[sz] : 120.0;
    g.halfSectorRad = g.sectorDeg / 2.0 * M_PI / 180.0;
  }

  int beams = static_cast<int>(std::trunc(g.baseBeams * g.sectorDeg / 120.0 + 0.5));
  if (beams < 1) beams = 1;
  if (beams > kMaxBeams) beams = kMaxBeams;
  g.beams = beams;
  g.beamSpacingRad = 2.0 * g.halfSectorRad / beams;
  g.BeamSpacingFactor = BeamSpacingFactorOf(g.beamSpacingRad, g.BeamSpacingFactor);
  g.omega = 2.0 * M_PI * g.carrierHz;
}

void SetupBeamGeometry() {
  ComputeGeometry();
  ResetProcessing();
}

void ComputeBeamGeometry() { ComputeGeometry(); }

void ResetProcessing() {
  std::memset(g_elementSamples, 0, sizeof g_elementSamples);
  std::memset(g_firstPassI, 0, sizeof g_firstPassI);
  std::memset(g_firstPassQ, 0, sizeof g_firstPassQ);
  std::memset(g_elementI, 0, sizeof g_elementI);
  std::memset(g_elementQ, 0, sizeof g_elementQ);
  std::memset(g_nadirI, 0, sizeof g_nadirI);
  std::memset(g_nadirQ, 0, sizeof g_nadirQ);
  for (float& c : g_soundSpeedProfile) c = 1500.0f;
  ComputeGeometry();
  // The smoothed copy's border keeps values between pings; after a change of
  // geometry rows of the old fan must not be subtracted from the new one.
  std::memset(s_smooth, 0, sizeof s_smooth);
  ClearHistories();
}

//-----------------------------------------------------------------------------
// [SECTION] Steering and gains
//-----------------------------------------------------------------------------

static double RollInUseRad() {
  if (g_settings.DisplayType != 3 || g_settings.RollCorrection != 1) return 0.0;
  double deg = g_settings.RunMode == 1 ? g_playback.rollCorrectionDeg : g_liveRollDeg;
  if (!(deg >= -15.0)) deg = -15.0;  // also catches NaN
  if (deg > 15.0) deg = 15.0;
  return deg * M_PI / 180.0;
}

double BeamSteerAngle(int beam) {
  const BeamGeometry& g = g_beamGeom;
  return beam * g.beamSpacingRad + g.rollRad - g.halfSectorRad + g.beamSpacingRad / 2.0;
}

void BuildSteering() {
  BeamGeometry& g = g_beamGeom;
  g.rollRad = RollInUseRad();
  g.rollShift = g.beamSpacingRad > 0.0 ? static_cast<int>(std::trunc(g.rollRad / g.beamSpacingRad)) : 0;

  SteeringKey key;
  key.beams = g.beams;
  key.beamSpacingRad = g.beamSpacingRad;
  key.rollRad = g.rollRad;
  key.halfSectorRad = g.halfSectorRad;
  key.spacing = g.elementSpacingM;
  key.sound = g.soundSpeed;
  key.omega = g.omega;
  key.sectorDeg = g.sectorDeg;
  key.gainEqualization = g_settings.GainEqualization;
  if (key == s_steerKey) return;
  s_steerKey = key;

  const double phasePerElement = g.elementSpacingM / g.soundSpeed * g.omega;
  for (int b = 0; b < g.beams; ++b) {
    // ψ_e = (e - 7.5) k: start at e = 0 and rotate by k per element, in double.
    const double k = std::sin(BeamSteerAngle(b)) * phasePerElement;
    double zr = std::cos(-7.5 * k), zi = std::sin(-7.5 * k);
    const double sr = std::cos(k), si = std::sin(k);
    for (int e = 0; e < kElements; ++e) {
      g_steerCos[b][e] = static_cast<float>(zr);
      g_steerSin[b][e] = static_cast<float>(zi);
      s_weightedCos[b][e] = static_cast<float>(zr * kElementWindow[e]);
      s_weightedSin[b][e] = static_cast<float>(zi * kElementWindow[e]);
      const double nr = zr * sr - zi * si;
      zi = zr * si + zi * sr;
      zr = nr;
    }
  }

  for (int b = 0; b < g.beams; ++b) {
    const int m = g.beams - 1 - b;
    int same = 1;
    for (int e = 0; e < kElements; ++e)
      same &= s_weightedCos[m][e] == s_weightedCos[b][e] && s_weightedSin[m][e] == -s_weightedSin[b][e];
    s_mirrorWeights[b] = static_cast<unsigned char>(same);
  }

  const double rollDeg = g.rollRad * 180.0 / M_PI;
  for (int b = 0; b < g.beams; ++b) {
    if (g_settings.GainEqualization != 1) {
      g_beamGain[b] = 1.0f;
      continue;
    }
    const double beta = (b * g.sectorDeg / g.beams - g.sectorDeg / 2.0 + rollDeg) * M_PI / 180.0;
    const double c = std::cos(beta);
    g_beamGain[b] = static_cast<float>(1.0 / (c * c));
  }
}

//-----------------------------------------------------------------------------
// [SECTION] Pre-filter and demodulation
//-----------------------------------------------------------------------------

float CompressSample(float v) {
  // v ≤ 0 moves down by one, v > 0 up by one, so 0 maps to -1 and the result
  // never crosses zero; the root keeps the sign.
  const float a = v <= 0.0f ? v - 1.0f : v + 1.0f;
  return a > 0.0f ? std::sqrt(a) : -std::sqrt(-a);
}

// Sliding 8-point DFT over `steps` rows of s_xt (16 elements side by side),
// bins k0..k1 summed with alternating signs, the first four outputs dropped:
// output row j - 4 of s_it/s_qt comes from step j. The damping keeps the
// recursion stable in single precision; it is stored rounded to float.
//
// This and the compression are built for the baseline instruction set only:
// the compression jumps from -1 to +1 where the pre-filtered sample crosses
// zero, so a last-bit difference there (a fused multiply-add in one build and
// not in the other) would become a visible one. Everything after the
// compression is continuous and may differ between builds in the last bit.
static void DemodulateTransposed(int steps, int k0, int k1) {
  const float r = 0.9999499917f;
  float rL = 1.0f;
  for (int i = 0; i < kDftLength; ++i) rL *= r;
  float tr[kDftLength], ti[kDftLength];
  for (int k = 0; k < kDftLength; ++k) {
    tr[k] = r * static_cast<float>(std::cos(2.0 * M_PI * k / kDftLength));
    ti[k] = r * static_cast<float>(std::sin(2.0 * M_PI * k / kDftLength));
  }
  const float c45 = static_cast<float>(std::cos(M_PI / 4.0));
  const float s45 = static_cast<float>(std::sin(M_PI / 4.0));

  alignas(64) float sre[4][kElements] = {};
  alignas(64) float sim[4][kElements] = {};
  alignas(64) float delay[kDftLength][kElements] = {};
  for (int j = 0; j < steps; ++j) {
    const float* x = s_xt[j];
    float* line = delay[j & (kDftLength - 1)];
    alignas(64) float old[kElements];
    for (int e = 0; e < kElements; ++e) {
      old[e] = rL * line[e];
      line[e] = x[e];
    }
    alignas(64) float accRe[kElements] = {};
    alignas(64) float accIm[kElements] = {};
    for (int k = k0; k <= k1; ++k) {
      const float a = tr[k], b = ti[k];
      float* Sr = sre[k];
      float* Si = sim[k];
      for (int e = 0; e < kElements; ++e) {
        const float nr = a * Sr[e] - b * Si[e] + old[e] - x[e];
        const float ni = a * Si[e] + b * Sr[e];
        Sr[e] = nr;
        Si[e] = ni;
        accRe[e] = nr - accRe[e];
        accIm[e] = ni - accIm[e];
      }
    }
    if (j >= kDftDrop) {
      float* oi = s_it[j - kDftDrop];
      float* oq = s_qt[j - kDftDrop];
      for (int e = 0; e < kElements; ++e) {
        oi[e] = -c45 * accRe[e];
        oq[e] = -s45 * accIm[e];
      }
    }
  }
}

// Four rows of four floats in, their four columns out: the element-major
// and sample-major copies of the rows move through this, four by four.
ORVALE_KERNEL void Transpose4(v4f (&r)[4]) {
  const v4f t0 = __builtin_shufflevector(r[0], r[1], 0, 4, 1, 5);
  const v4f t1 = __builtin_shufflevector(r[0], r[1], 2, 6, 3, 7);
  const v4f t2 = __builtin_shufflevector(r[2], r[3], 0, 4, 1, 5);
  const v4f t3 = __builtin_shufflevector(r[2], r[3], 2, 6, 3, 7);
  r[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
  r[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
  r[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
  r[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// Elements e..e+3 at samples s..s+3 of a sample-major array, as four rows
// (one per element).
ORVALE_KERNEL void LoadElementTile(const float (*t)[kElements], int s, int e, v4f (&r)[4]) {
  for (int k = 0; k < 4; ++k) __builtin_memcpy(&r[k], &t[s + k][e], sizeof r[k]);
  Transpose4(r);
}

static void TransposeIn(int count) {
  int s = 0;
  for (; s + 4 <= count; s += 4)
    for (int e = 0; e < kElements; e += 4) {
      v4f r[4];
      for (int k = 0; k < 4; ++k) __builtin_memcpy(&r[k], &g_elementSamples[e + k][s], sizeof r[k]);
      Transpose4(r);
      for (int k = 0; k < 4; ++k) __builtin_memcpy(&s_xt[s + k][e], &r[k], sizeof r[k]);
    }
  for (; s < count; ++s)
    for (int e = 0; e < kElements; ++e) s_xt[s][e] = g_elementSamples[e][s];
}

// Demodulation: first pass on the raw samples (bins 1..3), pre-filtered and
// compressed samples written back, second pass (bins 0..3) into ElementIQ.
// Pre-filter and compression on the sample-major rows: the pre-filtered
// sample into s_vt (what ElementSamples keeps), the second pass's input into
// s_xt.
// The sign of the pre-filtered sample is as good as random, so the branches
// of CompressSample mispredicted on every other sample; this is the same
// arithmetic as selects. -sqrt(-a) for a < 0 equals sqrt(|a|) with a's sign,
// to the bit (NaN and signed zeros included: the square root keeps a NaN's
// payload and only the sign bit differs on the way).
void CompressPrefiltered(const float* I, const float* Q, float* kept, float* next, int count) {
  int k = 0;
#if defined(__SSE2__)
  const __m128 one = _mm_set1_ps(1.0f), eighth = _mm_set1_ps(0.125f), zero = _mm_setzero_ps();
  const __m128 sign = _mm_set1_ps(-0.0f);
  for (; k + 4 <= count; k += 4) {
    const __m128 p = _mm_mul_ps(_mm_add_ps(_mm_loadu_ps(I + k), _mm_loadu_ps(Q + k)), eighth);
    const __m128 down = _mm_cmple_ps(p, zero);
    const __m128 a = _mm_or_ps(_mm_and_ps(down, _mm_sub_ps(p, one)), _mm_andnot_ps(down, _mm_add_ps(p, one)));
    const __m128 v = _mm_or_ps(_mm_sqrt_ps(_mm_andnot_ps(sign, a)), _mm_and_ps(sign, a));
    _mm_storeu_ps(kept + k, v);
    _mm_storeu_ps(next + k, _mm_andnot_ps(_mm_cmpeq_ps(p, zero), v));
  }
#endif
  for (; k < count; ++k) {
    const float p = (I[k] + Q[k]) * 0.125f;
    const float v = CompressSample(p);
    kept[k] = v;
    next[k] = p == 0.0f ? 0.0f : v;
  }
}

static void CompressTransposed(int n) {
  // The compression moves an exact zero to -1. Fed on, that offset is a DC
  // level on every element alike, which bin 0 passes and the beam sum forms
  // into a bright nadir stripe over the whole range of a silent ping.
  // Silence therefore enters the second pass as silence.
  CompressPrefiltered(&s_it[0][0], &s_qt[0][0], &s_vt[0][0], &s_xt[0][0], n * kElements);
}

static void PrefilterAndDemodulate(int n) {
  const int steps = n + kDftDrop;
  TransposeIn(steps);
  DemodulateTransposed(steps, 1, 3);
  CompressTransposed(n);
  const int n4 = n & ~3;
  for (int s = 0; s < n4; s += 4)
    for (int e = 0; e < kElements; e += 4) {
      v4f I[4], Q[4], V[4];
      LoadElementTile(s_it, s, e, I);
      LoadElementTile(s_qt, s, e, Q);
      LoadElementTile(s_vt, s, e, V);
      for (int k = 0; k < 4; ++k) {
        const v4f nI = 0.2f * I[k], nQ = 0.2f * Q[k];
        __builtin_memcpy(&g_firstPassI[e + k][s], &I[k], sizeof I[k]);
        __builtin_memcpy(&g_firstPassQ[e + k][s], &Q[k], sizeof Q[k]);
        __builtin_memcpy(&g_nadirI[e + k][s], &nI, sizeof nI);
        __builtin_memcpy(&g_nadirQ[e + k][s], &nQ, sizeof nQ);
        __builtin_memcpy(&s_formNadirI[e + k][kFormOffset + s], &nI, sizeof nI);
        __builtin_memcpy(&s_formNadirQ[e + k][kFormOffset + s], &nQ, sizeof nQ);
        __builtin_memcpy(&g_elementSamples[e + k][s], &V[k], sizeof V[k]);
      }
    }
  for (int e = 0; e < kElements; ++e) {
    for (int s = n4; s < n; ++s) {
      const float i1 = s_it[s][e];
      const float q1 = s_qt[s][e];
      g_firstPassI[e][s] = i1;
      g_firstPassQ[e][s] = q1;
      g_nadirI[e][s] = 0.2f * i1;
      g_nadirQ[e][s] = 0.2f * q1;
      s_formNadirI[e][kFormOffset + s] = 0.2f * i1;
      s_formNadirQ[e][kFormOffset + s] = 0.2f * q1;
      g_elementSamples[e][s] = s_vt[s][e];
    }
  }
  // Past n the second pass reads the rows as they stand.
  for (int s = n; s < steps; ++s)
    for (int e = 0; e < kElements; ++e) s_xt[s][e] = g_elementSamples[e][s];
  DemodulateTransposed(steps, 0, 3);
  for (int s = 0; s < n4; s += 4)
    for (int e = 0; e < kElements; e += 4) {
      v4f I[4], Q[4];
      LoadElementTile(s_it, s, e, I);
      LoadElementTile(s_qt, s, e, Q);
      for (int k = 0; k < 4; ++k) {
        __builtin_memcpy(&g_elementI[e + k][s], &I[k], sizeof I[k]);
        __builtin_memcpy(&g_elementQ[e + k][s], &Q[k], sizeof Q[k]);
        __builtin_memcpy(&s_formI[e + k][kFormOffset + s], &I[k], sizeof I[k]);
        __builtin_memcpy(&s_formQ[e + k][kFormOffset + s], &Q[k], sizeof Q[k]);
      }
    }
  for (int e = 0; e < kElements; ++e) {
    for (int s = n4; s < n; ++s) {
      g_elementI[e][s] = s_it[s][e];
      g_elementQ[e][s] = s_qt[s][e];
      s_formI[e][kFormOffset + s] = s_it[s][e];
      s_formQ[e][kFormOffset + s] = s_qt[s][e];
    }
  }
}

//-----------------------------------------------------------------------------
// [SECTION] Beam sum and sharpening
//-----------------------------------------------------------------------------

// Sharpening curves, written once for scalars and vectors so every kernel
// build evaluates them in the same order as the public functions.
template <typename T>
ORVALE_KERNEL void SharpenP5K(const T& r, T& out) {
  out = 0.5034f + r * (0.0783f + r * (-0.1533f + r * (2.9357f + r * (-6.0816f + r * 30.9087f))));
}

static const double kSharpenP15[16] = {0.5034,   0.0783,    0.1533,    -2.9357,  -6.0816,  30.9087,
                                       68.5798,  -124.5031, -321.1395, 191.2037, 712.976,  -8.88,
                                       -744.021, -230.0377, 293.4049,  148.0401};

template <typename T>
ORVALE_KERNEL void SharpenP15K(const T& r, T& out) {
  T v = T{} + kSharpenP15[15];
  for (int i = 14; i >= 0; --i) v = v * r + kSharpenP15[i];
  out = v;
}

float SharpenP5(float r) {
  float v;
  SharpenP5K(r, v);
  return v;
}
double SharpenP15(double r) {
  double v;
  SharpenP15K(r, v);
  return v;
}


// Half-width float vector and the double vector of the same lane count, for
// the sharpening curve that runs in double.
template <typename V>
struct VecHalves;
template <>
struct VecHalves<v4f> {
  typedef v2f H;
  typedef v2d D;
};
template <>
struct VecHalves<v8f> {
  typedef v4f H;
  typedef v4d D;
};
template <>
struct VecHalves<v16f> {
  typedef v8f H;
  typedef v8d D;
};

template <typename V>
constexpr int Lanes = sizeof(V) / sizeof(float);

// Lower and upper halves of a vector, and back, kept in registers.
ORVALE_KERNEL void SplitHalves(const v4f& v, v2f& lo, v2f& hi) {
  lo = __builtin_shufflevector(v, v, 0, 1);
  hi = __builtin_shufflevector(v, v, 2, 3);
}
ORVALE_KERNEL void SplitHalves(const v8f& v, v4f& lo, v4f& hi) {
  lo = __builtin_shufflevector(v, v, 0, 1, 2, 3);
  hi = __builtin_shufflevector(v, v, 4, 5, 6, 7);
}
ORVALE_KERNEL void SplitHalves(const v16f& v, v8f& lo, v8f& hi) {
  lo = __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7);
  hi = __builtin_shufflevector(v, v, 8, 9, 10, 11, 12, 13, 14, 15);
}
ORVALE_KERNEL void JoinHalves(const v2f& lo, const v2f& hi, v4f& v) { v = __builtin_shufflevector(lo, hi, 0, 1, 2, 3); }
ORVALE_KERNEL void JoinHalves(const v4f& lo, const v4f& hi, v8f& v) {
  v = __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7);
}
ORVALE_KERNEL void JoinHalves(const v8f& lo, const v8f& hi, v16f& v) {
  v = __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

// Unaligned load and store; by reference, since passing wide vectors by
// value would depend on the calling convention of the build.
template <typename V>
ORVALE_KERNEL void LoadV(V& v, const float* p) {
  __builtin_memcpy(&v, p, sizeof v);
}
template <typename V>
ORVALE_KERNEL void StoreV(float* p, const V& v) {
  __builtin_memcpy(p, &v, sizeof v);
}

// The products of one half aperture (elements e0..e0+7) over two vectors of
// samples from s, steered and windowed. The four products of each complex
// multiply go to four separate sums, so eight independent chains of
// multiply-adds keep the arithmetic units busy instead of waiting on one
// long chain per output.
template <typename V>
struct HalfSums {
  V rc0, rs0, ic0, is0, rc1, rs1, ic1, is1;
};

template <typename V>
ORVALE_KERNEL void AccumulateHalf(const float* srcI, const float* srcQ, const float* wc, const float* ws, int e0,
                                  int s, HalfSums<V>& h) {
  constexpr int L = Lanes<V>;
  V rc0 = {}, rs0 = {}, ic0 = {}, is0 = {}, rc1 = {}, rs1 = {}, ic1 = {}, is1 = {};
  for (int e = e0; e < e0 + 8; ++e) {
    V I0, I1, Q0, Q1;
    LoadV(I0, &srcI[e * kFormStride + s]);
    LoadV(I1, &srcI[e * kFormStride + s + L]);
    LoadV(Q0, &srcQ[e * kFormStride + s]);
    LoadV(Q1, &srcQ[e * kFormStride + s + L]);
    const float c = wc[e], sn = ws[e];
    rc0 += I0 * c;
    rs0 += Q0 * sn;
    ic0 += Q0 * c;
    is0 += I0 * sn;
    rc1 += I1 * c;
    rs1 += Q1 * sn;
    ic1 += Q1 * c;
    is1 += I1 * sn;
  }
  h = HalfSums<V>{rc0, rs0, ic0, is0, rc1, rs1, ic1, is1};
}

// One half aperture's complex sum.
template <typename V>
ORVALE_KERNEL void HalfApertureSum(const float* srcI, const float* srcQ,
                                   const float* wc, const float* ws, int e0, int s, V& r0, V& i0, V& r1, V& i1) {
  HalfSums<V> h;
  AccumulateHalf<V>(srcI, srcQ, wc, ws, e0, s, h);
  r0 = h.rc0 - h.rs0;
  i0 = h.ic0 + h.is0;
  r1 = h.rc1 - h.rs1;
  i1 = h.ic1 + h.is1;
}

// The same for a beam and its mirror about the fan centre, whose sine
// weights are the exact negatives of this beam's: the cosine sums are
// shared and the mirror's sine sums are 0 - the beam's. That is what the
// mirror's own sums come to bit for bit: each starts at +0 and a sum that
// starts at +0 never becomes -0, so negating every product negates every
// partial sum, and a zero stays +0.
template <typename V>
ORVALE_KERNEL void HalfAperturePair(const float* srcI, const float* srcQ, const float* wc, const float* ws, int e0,
                                    int s, V (&b)[4], V (&m)[4]) {
  HalfSums<V> h;
  AccumulateHalf<V>(srcI, srcQ, wc, ws, e0, s, h);
  const V zero = {};
  b[0] = h.rc0 - h.rs0;
  b[1] = h.ic0 + h.is0;
  b[2] = h.rc1 - h.rs1;
  b[3] = h.ic1 + h.is1;
  m[0] = h.rc0 - (zero - h.rs0);
  m[1] = h.ic0 + (zero - h.is0);
  m[2] = h.rc1 - (zero - h.rs1);
  m[3] = h.ic1 + (zero - h.is1);
}

// Sharpening of a vector of samples from c₁ and ρ: the curve of the mode,
// negatives to 0. Mode 2 (Narrow and Narrow Mixed) evaluates its curve in
// double, half a vector at a time.
template <int Mode, typename V>
ORVALE_KERNEL void SharpenV(const V& rho, const V& c1, float kf, double kd, V& out) {
  V v;
  if constexpr (Mode == 0) {
    v = kf * rho * c1;
  } else if constexpr (Mode == 1) {
    V p;
    SharpenP5K(rho, p);
    v = kf * p * c1;
  } else {
    typedef typename VecHalves<V>::H H;
    typedef typename VecHalves<V>::D D;
    H r[2], c[2], o[2];
    SplitHalves(rho, r[0], r[1]);
    SplitHalves(c1, c[0], c[1]);
    for (int h = 0; h < 2; ++h) {
      const D rd = __builtin_convertvector(r[h], D);
      const D cd = __builtin_convertvector(c[h], D);
      D p;
      SharpenP15K(rd, p);
      o[h] = __builtin_convertvector(kd * p * cd, H);
    }
    JoinHalves(o[0], o[1], v);
  }
  const V zero = {};
  out = v < zero ? zero : v;
}

template <int Mode>
ORVALE_KERNEL float SharpenS(float rho, float c1, float kf, double kd) {
  float v;
  if constexpr (Mode == 0) {
    v = kf * rho * c1;
  } else if constexpr (Mode == 1) {
    float p;
    SharpenP5K(rho, p);
    v = kf * p * c1;
  } else {
    double p;
    SharpenP15K(static_cast<double>(rho), p);
    v = static_cast<float>(kd * p * c1);
  }
  return v < 0.0f ? 0.0f : v;
}

// c₁ = Re(A B*) g and ρ = c₁² / (c₁² + c₂² + 1) of two vectors of samples,
// from the half-aperture sums A (elements 0..7) and B (8..15), each as
// (r0, i0, r1, i1).
template <typename V>
ORVALE_KERNEL void Coherence(const V (&A)[4], const V (&B)[4], float gain, V& c10, V& c11, V& rho0, V& rho1) {
  c10 = (A[0] * B[0] + A[1] * B[1]) * gain;
  const V c20 = (A[1] * B[0] - A[0] * B[1]) * gain;
  c11 = (A[2] * B[2] + A[3] * B[3]) * gain;
  const V c21 = (A[3] * B[2] - A[2] * B[3]) * gain;
  const V q0 = c10 * c10, q1 = c11 * c11;
  rho0 = q0 / (q0 + c20 * c20 + 1.0f);
  rho1 = q1 / (q1 + c21 * c21 + 1.0f);
}

// The sharpened output of two vectors of samples at out[s]. The Wide and
// Normal curves run in float right here; the Narrow curve's sixteen double
// terms are a long chain per vector, so with Block (see kBlockCurve) its c₁
// and ρ go to a block buffer in the first-level cache (at index s - base)
// and the curve runs over the whole block afterwards with many chains side
// by side.
template <typename V, int Mode, bool Block>
ORVALE_KERNEL void SharpenStep(const V (&A)[4], const V (&B)[4], float gain, float kf, double kd, float* out, int s,
                               float* c1Block, float* rhoBlock, int base) {
  constexpr int L = Lanes<V>;
  V c10, c11, rho0, rho1;
  Coherence(A, B, gain, c10, c11, rho0, rho1);
  if constexpr (Block) {
    StoreV(&c1Block[s - base], c10);
    StoreV(&c1Block[s - base + L], c11);
    StoreV(&rhoBlock[s - base], rho0);
    StoreV(&rhoBlock[s - base + L], rho1);
  } else {
    V o0, o1;
    SharpenV<Mode>(rho0, c10, kf, kd, o0);
    SharpenV<Mode>(rho1, c11, kf, kd, o1);
    StoreV(&out[s], o0);
    StoreV(&out[s + L], o1);
  }
}

// The Narrow curve over a block: out[s0 + i] from c1Block[i], rhoBlock[i].
// Every lane computes what the scalar code computes, so the grouping does
// not matter.
template <typename V>
ORVALE_KERNEL void SharpenBlockP15(const float* c1Block, const float* rhoBlock, double kd, float* out, int count) {
  constexpr int L = Lanes<V>;
  int i = 0;
  for (; i + 4 * L <= count; i += 4 * L) {
    V c[4], r[4], o[4];
    for (int k = 0; k < 4; ++k) {
      LoadV(c[k], &c1Block[i + k * L]);
      LoadV(r[k], &rhoBlock[i + k * L]);
    }
    for (int k = 0; k < 4; ++k) SharpenV<2>(r[k], c[k], 0.0f, kd, o[k]);
    for (int k = 0; k < 4; ++k) StoreV(&out[i + k * L], o[k]);
  }
  for (; i + L <= count; i += L) {
    V c, r, o;
    LoadV(c, &c1Block[i]);
    LoadV(r, &rhoBlock[i]);
    SharpenV<2>(r, c, 0.0f, kd, o);
    StoreV(&out[i], o);
  }
  for (; i < count; ++i) out[i] = SharpenS<2>(rhoBlock[i], c1Block[i], 0.0f, kd);
}

// Split-aperture sum and sharpening of one beam over two vectors of samples.
template <typename V, int Mode, bool Block>
ORVALE_KERNEL void FormStep(const float* srcI, const float* srcQ, const float* wc, const float* ws, float gain,
                            float kf, double kd, float* out, int s, float* c1Block, float* rhoBlock, int base) {
  V A[4], B[4];
  HalfApertureSum<V>(srcI, srcQ, wc, ws, 0, s, A[0], A[1], A[2], A[3]);
  HalfApertureSum<V>(srcI, srcQ, wc, ws, 8, s, B[0], B[1], B[2], B[3]);
  SharpenStep<V, Mode, Block>(A, B, gain, kf, kd, out, s, c1Block, rhoBlock, base);
}

// The same for a beam and its mirror, sharing the sums.
template <typename V, int Mode, bool Block>
ORVALE_KERNEL void FormPairStep(const float* srcI, const float* srcQ, const float* wc, const float* ws, float gainB,
                                float gainM, float kf, double kd, float* outB, float* outM, int s, float* c1B,
                                float* rhoB, float* c1M, float* rhoM, int base) {
  V ab[4], am[4], bb[4], bm[4];
  HalfAperturePair<V>(srcI, srcQ, wc, ws, 0, s, ab, am);
  HalfAperturePair<V>(srcI, srcQ, wc, ws, 8, s, bb, bm);
  SharpenStep<V, Mode, Block>(ab, bb, gainB, kf, kd, outB, s, c1B, rhoB, base);
  SharpenStep<V, Mode, Block>(am, bm, gainM, kf, kd, outM, s, c1M, rhoM, base);
}

// The scalar tail of a span, summed in the order it has always had.
template <int Mode, bool Block>
ORVALE_KERNEL void FormTail(const float* srcI, const float* srcQ, const float* wc, const float* ws, float gain,
                            float kf, double kd, float* out, int s, int s1, float* c1Block, float* rhoBlock,
                            int base) {
  for (; s <= s1; ++s) {
    float ar = 0, ai = 0, br = 0, bi = 0;
    for (int e = 0; e < 8; ++e) {
      ar += srcI[e * kFormStride + s] * wc[e];
      ar -= srcQ[e * kFormStride + s] * ws[e];
      ai += srcQ[e * kFormStride + s] * wc[e];
      ai += srcI[e * kFormStride + s] * ws[e];
    }
    for (int e = 8; e < 16; ++e) {
      br += srcI[e * kFormStride + s] * wc[e];
      br -= srcQ[e * kFormStride + s] * ws[e];
      bi += srcQ[e * kFormStride + s] * wc[e];
      bi += srcI[e * kFormStride + s] * ws[e];
    }
    const float c1 = (ar * br + ai * bi) * gain;
    const float c2 = (ai * br - ar * bi) * gain;
    const float rho = c1 * c1 / (c1 * c1 + c2 * c2 + 1.0f);
    if constexpr (Block) {
      c1Block[s - base] = c1;
      rhoBlock[s - base] = rho;
    } else {
      out[s] = SharpenS<Mode>(rho, c1, kf, kd);
    }
  }
}

// Spans are at most one sample block long; two vectors of slack.
static constexpr int kSharpenBlock = 128 + 32;

// Whether the Narrow curve runs over the block afterwards (measured: it pays
// with the 32 wide registers of AVX-512 and in the baseline build, not with
// AVX2's 16, where the fused form keeps more in registers).
template <typename V, int Mode>
constexpr bool kBlockCurve = Mode == 2 && !std::is_same_v<V, v8f>;

// One beam over samples s0..s1 (inclusive, at most kSampleBlock), two
// vectors per step. The widest build ends with one step of the AVX2 width,
// so the samples left to the scalar tail (which sums in another order) are
// the same in both fast builds and they agree bit for bit.
template <typename V, int Mode>
ORVALE_KERNEL void FormSpanModeK(const float* srcI, const float* srcQ, const float* wc, const float* ws, float gain,
                                 float kf, double kd, float* out, int s0, int s1) {
  constexpr int L = Lanes<V>;
  alignas(64) float c1Block[kSharpenBlock], rhoBlock[kSharpenBlock];
  int s = s0;
  constexpr bool B = kBlockCurve<V, Mode>;
  for (; s + 2 * L <= s1 + 1; s += 2 * L)
    FormStep<V, Mode, B>(srcI, srcQ, wc, ws, gain, kf, kd, out, s, c1Block, rhoBlock, s0);
  if constexpr (L == 16) {
    if (s + 16 <= s1 + 1) {
      FormStep<v8f, Mode, B>(srcI, srcQ, wc, ws, gain, kf, kd, out, s, c1Block, rhoBlock, s0);
      s += 16;
    }
  }
  FormTail<Mode, B>(srcI, srcQ, wc, ws, gain, kf, kd, out, s, s1, c1Block, rhoBlock, s0);
  if constexpr (B) SharpenBlockP15<V>(c1Block, rhoBlock, kd, out + s0, s1 - s0 + 1);
}

// A beam and its mirror over samples s0..s1; the scalar tail forms each
// with its own weights.
template <typename V, int Mode>
ORVALE_KERNEL void FormPairSpanModeK(const float* srcI, const float* srcQ, const float* wc, const float* ws,
                                     const float* wcM, const float* wsM, float gainB, float gainM, float kf,
                                     double kd, float* outB, float* outM, int s0, int s1) {
  constexpr int L = Lanes<V>;
  alignas(64) float c1B[kSharpenBlock], rhoB[kSharpenBlock], c1M[kSharpenBlock], rhoM[kSharpenBlock];
  int s = s0;
  constexpr bool B = kBlockCurve<V, Mode>;
  for (; s + 2 * L <= s1 + 1; s += 2 * L)
    FormPairStep<V, Mode, B>(srcI, srcQ, wc, ws, gainB, gainM, kf, kd, outB, outM, s, c1B, rhoB, c1M, rhoM, s0);
  if constexpr (L == 16) {
    if (s + 16 <= s1 + 1) {
      FormPairStep<v8f, Mode, B>(srcI, srcQ, wc, ws, gainB, gainM, kf, kd, outB, outM, s, c1B, rhoB, c1M, rhoM,
                                 s0);
      s += 16;
    }
  }
  FormTail<Mode, B>(srcI, srcQ, wc, ws, gainB, kf, kd, outB, s, s1, c1B, rhoB, s0);
  FormTail<Mode, B>(srcI, srcQ, wcM, wsM, gainM, kf, kd, outM, s, s1, c1M, rhoM, s0);
  if constexpr (B) {
    SharpenBlockP15<V>(c1B, rhoB, kd, outB + s0, s1 - s0 + 1);
    SharpenBlockP15<V>(c1M, rhoM, kd, outM + s0, s1 - s0 + 1);
  }
}

// Lane masks of comparisons: whether any lane is set, and one bit per lane.
// Wider masks are folded or split into four-lane ones with plain vector
// operations, so the tests need no instruction the caller's build lacks.
typedef int v4i __attribute__((vector_size(16)));
typedef int v8i __attribute__((vector_size(32)));
typedef int v16i __attribute__((vector_size(64)));
ORVALE_KERNEL unsigned LaneBits(const v4i& m) {
#ifdef ORVALE_FAST_KERNELS
  return static_cast<unsigned>(_mm_movemask_ps(reinterpret_cast<__m128>(m)));
#else
  return (m[0] ? 1u : 0u) | (m[1] ? 2u : 0u) | (m[2] ? 4u : 0u) | (m[3] ? 8u : 0u);
#endif
}
ORVALE_KERNEL unsigned LaneBits(const v8i& m) {
  v4i h[2];
  __builtin_memcpy(h, &m, sizeof m);
  return LaneBits(h[0]) | LaneBits(h[1]) << 4;
}
ORVALE_KERNEL unsigned LaneBits(const v16i& m) {
  v8i h[2];
  __builtin_memcpy(h, &m, sizeof m);
  return LaneBits(h[0]) | LaneBits(h[1]) << 8;
}
ORVALE_KERNEL int AnyLane(const v4i& m) { return LaneBits(m) != 0; }
ORVALE_KERNEL int AnyLane(const v8i& m) {
  v4i h[2];
  __builtin_memcpy(h, &m, sizeof m);
  return AnyLane(v4i(h[0] | h[1]));
}
ORVALE_KERNEL int AnyLane(const v16i& m) {
  v8i h[2];
  __builtin_memcpy(h, &m, sizeof m);
  return AnyLane(v8i(h[0] | h[1]));
}

// Whether two vectors differ in any bit.
ORVALE_KERNEL int AnyBitsDiffer(const v4f& a, const v4f& b) {
  return AnyLane(v4i((v4i)a != (v4i)b));
}
ORVALE_KERNEL int AnyBitsDiffer(const v8f& a, const v8f& b) {
  return AnyLane(v8i((v8i)a != (v8i)b));
}
ORVALE_KERNEL int AnyBitsDiffer(const v16f& a, const v16f& b) {
  return AnyLane(v16i((v16i)a != (v16i)b));
}

static inline float CapAt(float v, float cap) { return v > cap ? cap : v; }

// [last(L-K), ..., last(L-1), x0, ..., x(L-1-K)]: the vector x moved up K
// lanes, the top K lanes of `last` shifted in below it.
template <int K, typename V, int... I>
ORVALE_KERNEL void ShiftInImpl(const V& last, const V& x, V& out, std::integer_sequence<int, I...>) {
  out = __builtin_shufflevector(last, x, (I + Lanes<V> - K)...);
}
template <int K, typename V>
ORVALE_KERNEL void ShiftIn(const V& last, const V& x, V& out) {
  ShiftInImpl<K>(last, x, out, std::make_integer_sequence<int, Lanes<V>>{});
}

template <typename V>
ORVALE_KERNEL void CapV(V& v, const V& cap) {
  v = v > cap ? cap : v;
}

// No sample may rise more than 50 above its predecessor as it stands in the
// row (the detectors' leading-edge search relies on it): p[s] =
// min(v[s], p[s-1] + 50), a chain from sample to sample in float. Since
// x -> x + 50 is monotonic, p[s] is the least of v[s], f(v[s-1]),
// f(f(v[s-2])), ... (f adding 50 once per step, rounded each time), back to
// the last final sample. A capped stretch of more than a few samples is
// rare, so each vector takes that least over a window of three samples back
// (the samples before the vector are final already, and the previous
// vector's stay in a register), which is p wherever no capped stretch is
// longer; whether it is p everywhere is checked against the chain itself,
// bit for bit, and where it is not, the vector walks the chain.
template <typename V>
ORVALE_KERNEL void LimitRiseSpanK(float* row, int s0, int s1) {
  constexpr int L = Lanes<V>;
  if (s0 < 1) s0 = 1;
  const float lim = static_cast<float>(kRiseLimit);
  int s = s0;
  // The final samples before the span in the top lanes; before the row's
  // start nothing caps.
  V last = {};
  for (int k = 1; k <= 3; ++k) last[L - k] = s - k >= 0 ? row[s - k] : __builtin_inff();
  for (; s + L - 1 <= s1; s += L) {
    V v, v1, v2, v3;
    LoadV(v, row + s);
    ShiftIn<1>(last, v, v1);
    ShiftIn<2>(last, v, v2);
    ShiftIn<3>(last, v, v3);
    const V f1 = v1 + lim;
    const V f2 = (v2 + lim) + lim;
    const V f3 = ((v3 + lim) + lim) + lim;
    V q = v;
    CapV(q, f1);
    CapV(q, f2);
    CapV(q, f3);
    V prev, chain = v;
    ShiftIn<1>(last, q, prev);
    CapV(chain, V(prev + lim));
    if (!AnyBitsDiffer(q, chain)) {
      StoreV(row + s, q);
      last = q;
      continue;
    }
    float c = row[s - 1];
    for (int i = 0; i < L; ++i) {
      c = CapAt(row[s + i], c + lim);
      row[s + i] = c;
    }
    LoadV(last, row + s);
  }
  float p = row[s - 1];
  for (; s <= s1; ++s) {
    p = CapAt(row[s], p + lim);
    row[s] = p;
  }
}

// Beam sum, sharpening and rise limit of one beam and span: the curve's
// constant as the scalar code has always computed it, then the span's rise
// limit while the row is still in the first-level cache. The limit runs
// block by block of one row in sample order, which is the same chain as
// over the whole zone at once.
template <typename V>
ORVALE_KERNEL void FormSpanK(const float* srcI, const float* srcQ, const float* wc, const float* ws, float gain,
                             int mode, float gainG, int limit, float* out, int s0, int s1) {
  switch (mode) {
    case 0:
      FormSpanModeK<V, 0>(srcI, srcQ, wc, ws, gain, gainG * 0.02f, 0.0, out, s0, s1);
      break;
    case 1:
      FormSpanModeK<V, 1>(srcI, srcQ, wc, ws, gain, gainG * 0.001f, 0.0, out, s0, s1);
      break;
    default:
      FormSpanModeK<V, 2>(srcI, srcQ, wc, ws, gain, 0.0f, gainG * 0.004, out, s0, s1);
      break;
  }
  if (limit) LimitRiseSpanK<V>(out, s0, s1);
}

// The same for beam b and its mirror m (weights wc/ws and wcM/wsM).
template <typename V>
ORVALE_KERNEL void FormPairSpanK(const float* srcI, const float* srcQ, const float* wc, const float* ws,
                                 const float* wcM, const float* wsM, float gainB, float gainM, int mode, float gainG,
                                 int limit, float* outB, float* outM, int s0, int s1) {
  switch (mode) {
    case 0:
      FormPairSpanModeK<V, 0>(srcI, srcQ, wc, ws, wcM, wsM, gainB, gainM, gainG * 0.02f, 0.0, outB, outM, s0, s1);
      break;
    case 1:
      FormPairSpanModeK<V, 1>(srcI, srcQ, wc, ws, wcM, wsM, gainB, gainM, gainG * 0.001f, 0.0, outB, outM, s0, s1);
      break;
    default:
      FormPairSpanModeK<V, 2>(srcI, srcQ, wc, ws, wcM, wsM, gainB, gainM, 0.0f, gainG * 0.004, outB, outM, s0, s1);
      break;
  }
  if (limit) {
    LimitRiseSpanK<V>(outB, s0, s1);
    LimitRiseSpanK<V>(outM, s0, s1);
  }
}

// A range zone of Narrow Mixed: samples s0..s1 formed on every stride-th beam.
struct Zone {
  int s0, s1, stride;
};

// Zones of the ping. Narrow Mixed forms the near range with half or a quarter
// of the beams: there the beams are wider than their spacing anyway.
static int ZonesOf(int mode, int stepSize, int n, Zone* zones) {
  if (mode == 3 && stepSize == 1) {
    if (n >= 1000) {
      zones[0] = {1, 501, 2};
      zones[1] = {500, 998, 1};
    } else {
      zones[0] = {1, 251, 2};
      zones[1] = {250, 498, 1};
    }
    return 2;
  }
  if (mode == 3 && stepSize == 0) {
    if (n >= 1000) {
      zones[0] = {0, 502, 4};
      zones[1] = {500, 749, 2};
      zones[2] = {750, 998, 1};
    } else {
      zones[0] = {1, 126, 4};
      zones[1] = {125, 374, 2};
      zones[2] = {375, 498, 1};
    }
    return 3;
  }
  zones[0] = {1, n - 2, 1};
  return 1;
}

//-----------------------------------------------------------------------------
// [SECTION] Sidelobe clean-up and averaging
//-----------------------------------------------------------------------------
// The clean-up's smoothed copy needs the whole fan first; the subtraction,
// the clamp at zero and the averaging then run row by row in one pass, so
// each row of BeamImage goes through the cache once instead of three times.

// Mirror rows to subtract from each beam, in the order of the pair loop:
// those of beam b are s_mirrorRows[s_mirrorStart[b] .. s_mirrorStart[b + 1]).
static int s_mirrorStart[kMaxBeams + 1];
static const float* s_mirrorRows[2 * kMaxBeams];

// The column sums live on the stack: the two parts of a split smooth rows
// side by side.
ORVALE_KERNEL void SmoothRowK(const float* up, const float* mid, const float* down, float* out, int n) {
  alignas(64) float colSum[kMaxSamples];
  for (int s = 0; s < n; ++s) colSum[s] = up[s] + mid[s] + down[s];
  for (int s = 1; s < n - 1; ++s) out[s] = 0.25f * (colSum[s - 1] + colSum[s] + colSum[s + 1]);
}

// One row's clean-up and averaging: minus the M mirror rows (in list order),
// clamped at zero when Clamp; then sum -= ring (an empty slot counts as
// zeros); sum >= 0; ring = value; sum += value; shown value 1.3 x the mean
// when Show.
template <int M, int Clamp, int Filled, int Show>
ORVALE_KERNEL void CleanAverageLoopK(float* __restrict value, const float* __restrict m0,
                                     const float* __restrict m1, float* __restrict ring, float* __restrict sum,
                                     int n, float scale) {
  for (int s = 0; s < n; ++s) {
    float v = value[s];
    if constexpr (M >= 1) v -= m0[s];
    if constexpr (M >= 2) v -= m1[s];
    if constexpr (Clamp) v = v < 0.0f ? 0.0f : v;
    float t = Filled ? sum[s] - ring[s] : sum[s];
    t = t < 0.0f ? 0.0f : t;
    ring[s] = v;
    t += v;
    sum[s] = t;
    if constexpr (Show) {
      const float a = t * scale;
      v = a < 0.0f ? 0.0f : a;
    }
    value[s] = v;
  }
}

template <int M, int Clamp>
ORVALE_KERNEL void CleanAverageFlagsK(float* value, const float* m0, const float* m1, float* ring, float* sum, int n,
                                      int filled, int show, float scale) {
  if (filled) {
    if (show)
      CleanAverageLoopK<M, Clamp, 1, 1>(value, m0, m1, ring, sum, n, scale);
    else
      CleanAverageLoopK<M, Clamp, 1, 0>(value, m0, m1, ring, sum, n, scale);
  } else {
    if (show)
      CleanAverageLoopK<M, Clamp, 0, 1>(value, m0, m1, ring, sum, n, scale);
    else
      CleanAverageLoopK<M, Clamp, 0, 0>(value, m0, m1, ring, sum, n, scale);
  }
}

// A beam with more than two mirrors (the fan's edge under roll) loses the
// first ones in place, in list order; the last two go with the averaging.
ORVALE_KERNEL void CleanAverageRowK(float* value, const float* const* minus, int count, int clamp, float* ring,
                                    float* sum, int n, int filled, int show, float scale) {
  for (; count > 2; --count, ++minus)
    for (int s = 0; s < n; ++s) value[s] -= (*minus)[s];
  const float* m0 = count > 0 ? minus[0] : nullptr;
  const float* m1 = count > 1 ? minus[1] : nullptr;
  if (count == 2)
    CleanAverageFlagsK<2, 1>(value, m0, m1, ring, sum, n, filled, show, scale);
  else if (count == 1)
    CleanAverageFlagsK<1, 1>(value, m0, m1, ring, sum, n, filled, show, scale);
  else if (clamp)
    CleanAverageFlagsK<0, 1>(value, m0, m1, ring, sum, n, filled, show, scale);
  else
    CleanAverageFlagsK<0, 0>(value, m0, m1, ring, sum, n, filled, show, scale);
}

// Each kernel three times: baseline, AVX2 with fused multiply-add, AVX-512.
#define ORVALE_FORM_SPAN_PARAMS                                                                          \
  (const float* srcI, const float* srcQ, const float* wc, const float* ws, float gain, int mode, float gainG, \
   int limit, float* out, int s0, int s1)
#define ORVALE_FORM_SPAN_ARGS (srcI, srcQ, wc, ws, gain, mode, gainG, limit, out, s0, s1)
#define ORVALE_FORM_PAIR_PARAMS                                                                           \
  (const float* srcI, const float* srcQ, const float* wc, const float* ws, const float* wcM, const float* wsM, \
   float gainB, float gainM, int mode, float gainG, int limit, float* outB, float* outM, int s0, int s1)
#define ORVALE_FORM_PAIR_ARGS (srcI, srcQ, wc, ws, wcM, wsM, gainB, gainM, mode, gainG, limit, outB, outM, s0, s1)
#define ORVALE_SMOOTH_PARAMS (const float* up, const float* mid, const float* down, float* out, int n)
#define ORVALE_SMOOTH_ARGS (up, mid, down, out, n)
#define ORVALE_CLEAN_PARAMS                                                                                   \
  (float* value, const float* const* minus, int count, int clamp, float* ring, float* sum, int n, int filled, \
   int show, float scale)
#define ORVALE_CLEAN_ARGS (value, minus, count, clamp, ring, sum, n, filled, show, scale)
#define ORVALE_KERNEL_SET(suffix, target, V)                                                               \
  target static void FormSpan##suffix ORVALE_FORM_SPAN_PARAMS { FormSpanK<V> ORVALE_FORM_SPAN_ARGS; } \
  target static void FormPairSpan##suffix ORVALE_FORM_PAIR_PARAMS { FormPairSpanK<V> ORVALE_FORM_PAIR_ARGS; } \
  target static void SmoothRow##suffix ORVALE_SMOOTH_PARAMS { SmoothRowK ORVALE_SMOOTH_ARGS; }        \
  target static void CleanAverageRow##suffix ORVALE_CLEAN_PARAMS { CleanAverageRowK ORVALE_CLEAN_ARGS; }

ORVALE_KERNEL_SET(Base, , v4f)
static const BeamKernels kBaseKernels = {FormSpanBase, FormPairSpanBase, SmoothRowBase, CleanAverageRowBase};
#ifdef ORVALE_FAST_KERNELS
ORVALE_KERNEL_SET(Avx2, ORVALE_AVX2_TARGET, v8f)
ORVALE_KERNEL_SET(Avx512, ORVALE_AVX512_TARGET, v16f)
#ifndef ORVALE_AVX2_PAIR
#define ORVALE_AVX2_PAIR FormPairSpanAvx2
#endif
static const BeamKernels kAvx2Kernels = {FormSpanAvx2, ORVALE_AVX2_PAIR, SmoothRowAvx2, CleanAverageRowAvx2};
static const BeamKernels kAvx512Kernels = {FormSpanAvx512, FormPairSpanAvx512, SmoothRowAvx512,
                                           CleanAverageRowAvx512};
#endif


void BeamformShareMirrorSums(int on) { s_shareMirrorSums = on ? 1 : 0; }

static int BestKernelTier() {
#ifdef ORVALE_FAST_KERNELS
  static const int best = [] {
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) return kBeamformTierBaseline;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512bw"))
      return kBeamformTierAvx512;
    return kBeamformTierAvx2;
  }();
  return best;
#else
  return kBeamformTierBaseline;
#endif
}

int BeamformKernelTier() {
  const int best = BestKernelTier();
  return s_forcedTier >= 0 && s_forcedTier < best ? s_forcedTier : best;
}

int BeamformForceKernelTier(int tier) {
  s_forcedTier = tier < 0 ? -1 : tier;
  return BeamformKernelTier();
}

int BeamformFastKernels() { return BeamformKernelTier() != kBeamformTierBaseline; }

int BeamformForceBaselineKernels(int on) {
  BeamformForceKernelTier(on ? kBeamformTierBaseline : -1);
  return BeamformFastKernels();
}

static const BeamKernels& Kernels() {
#ifdef ORVALE_FAST_KERNELS
  switch (BeamformKernelTier()) {
    case kBeamformTierAvx512:
      return kAvx512Kernels;
    case kBeamformTierAvx2:
      return kAvx2Kernels;
    default:
      break;
  }
#endif
  return kBaseKernels;
}

//-----------------------------------------------------------------------------
// [SECTION] Per-ping chain
//-----------------------------------------------------------------------------
// The formed beams, the smoothed copy and the clean-up with the averaging
// each run as a split: the beams (or rows) in two halves, one on the
// caller and one on the ping's helper thread when it runs. Every beam and
// row is computed by the same code either way, so the results do not depend
// on the split; the halves write disjoint rows, and each step starts only
// after the previous one has finished on both threads.

// What the splits of one ping read. Written by the ping's thread before each
// split, read-only while the split runs.
struct PingJob {
  // The chunks still to take: the next from the front in the low 16 bits,
  // one past the next from the back in the high 16 (set before each
  // split). On a cache line of its own: both threads write it, and
  // everything else here is only read.
  alignas(64) std::atomic<unsigned> chunkEnds;
  alignas(64) int chunks;  // chunks of the current split
  const BeamKernels* kernels;
  int shareMirrorSums;
  int n, N;
  // Formed beams
  int mode;
  float G;
  int limitRise;
  int nadirLo, nadirHi;  // beams in (nadirLo, nadirHi] formed from NadirIQ
  Zone zones[3];         // clamped to the ping's samples; empty ones dropped
  int zoneCount;
  int clearFrom[4], clearTo[4];  // samples [from, to) past kStaleFrom that no zone writes
  int clearCount;
  // Clean-up and averaging
  int cleaned;
  float* ring;  // the slot this ping goes into, [kMaxBeams][kMaxSamples]
  int filled, show;
  float scale;
};
static PingJob s_job;

// Part 0 (the caller) takes chunks from the front, part 1 from the back, so
// each keeps to its end of the fan in every step of the ping and its rows
// stay in its own core's cache; whoever finishes first goes on into the
// other's end. -1 when none is left.
static int TakeChunk(PingJob& j, int part) {
  unsigned e = j.chunkEnds.load(std::memory_order_relaxed);
  for (;;) {
    const int front = static_cast<int>(e & 0xFFFFu), back = static_cast<int>(e >> 16);
    if (front >= back) return -1;
    const unsigned next = part == 0 ? e + 1u : e - 0x10000u;
    if (j.chunkEnds.compare_exchange_weak(e, next, std::memory_order_relaxed)) return part == 0 ? front : back - 1;
  }
}

static void StartChunks(PingJob& j, int chunks) {
  j.chunks = chunks;
  j.chunkEnds.store(static_cast<unsigned>(chunks) << 16, std::memory_order_relaxed);
}

// The splits hand out their rows in small chunks that both threads take in
// turn from a shared counter: a helper that is descheduled (the cores are
// shared with the user interface and other programs) then holds the ping
// up by one chunk at most, not by half of it.
//
// A chunk of formed beams is up to two ranges [from, to). Boundaries fall on
// multiples of four, so a beam formed at a stride of 2 or 4 in Narrow Mixed
// and the neighbours that copy it stay in one chunk. When the fan's beam
// count is a multiple of four, a chunk holds groups of four beams from the
// low edge together with their mirror groups from the high edge, so a beam
// and its mirror (formed together) are in one chunk.
struct ChunkRanges {
  int count;
  int from[2], to[2];
};

static constexpr int kFormChunkGroups = 4;   // groups of four beams (or mirror pairs of groups) per chunk

static int FormChunkCount(int N) {
  const int groups = (N + 3) / 4;
  const int units = N % 4 == 0 ? (groups + 1) / 2 : groups;
  return (units + kFormChunkGroups - 1) / kFormChunkGroups;
}

static ChunkRanges FormChunk(int N, int chunk) {
  ChunkRanges r;
  const int groups = (N + 3) / 4;
  if (N % 4 == 0) {
    const int pairs = (groups + 1) / 2;
    const int p0 = chunk * kFormChunkGroups;
    const int p1 = p0 + kFormChunkGroups < pairs ? p0 + kFormChunkGroups : pairs;
    r.count = 2;
    r.from[0] = 4 * p0;
    r.to[0] = 4 * p1;
    // An odd group count leaves a middle group that is its own mirror: the
    // low range holds it.
    r.from[1] = N - 4 * p1 > 4 * p1 ? N - 4 * p1 : 4 * p1;
    r.to[1] = N - 4 * p0;
    if (r.from[1] >= r.to[1]) r.count = 1;
  } else {
    const int g0 = chunk * kFormChunkGroups;
    const int g1 = g0 + kFormChunkGroups < groups ? g0 + kFormChunkGroups : groups;
    r.count = 1;
    r.from[0] = 4 * g0;
    r.to[0] = 4 * g1 < N ? 4 * g1 : N;
  }
  return r;
}

static bool InChunk(const ChunkRanges& r, int b) {
  for (int i = 0; i < r.count; ++i)
    if (b >= r.from[i] && b < r.to[i]) return true;
  return false;
}

// Samples from kStaleFrom on start each ping at zero; those a zone forms
// are overwritten anyway, so only the others are cleared.
static void FindStaleRanges(PingJob& j) {
  j.clearCount = 0;
  int s = kStaleFrom;
  while (s < j.n) {
    int next = s;
    for (int z = 0; z < j.zoneCount; ++z)
      if (j.zones[z].s0 <= next && next <= j.zones[z].s1) next = j.zones[z].s1 + 1;
    if (next != s) {
      s = next;
      continue;
    }
    int end = j.n;
    for (int z = 0; z < j.zoneCount; ++z)
      if (j.zones[z].s0 > s && j.zones[z].s0 < end) end = j.zones[z].s0;
    j.clearFrom[j.clearCount] = s;
    j.clearTo[j.clearCount] = end;
    ++j.clearCount;
    s = end;
  }
}

static void PrepareFormBeams(PingJob& j, int n) {
  const BeamGeometry& g = g_beamGeom;
  j.kernels = &Kernels();
  j.shareMirrorSums = s_shareMirrorSums;
  j.n = n;
  j.N = g.beams;
  j.mode = g_settings.ProcessingMode;
  j.G = static_cast<float>(g_settings.DisplayGain);
  j.limitRise = g_settings.ProfilePointFilter > 0;

  // Bottom Following in Profile mode forms the beams around nadir from the
  // uncompressed first pass: the compression flattens the strong vertical echo.
  j.nadirLo = 0;
  j.nadirHi = -1;
  if (g_settings.DisplayType == 3 && g_settings.ProfilePointFilter == 2) {
    const float f = g.BeamSpacingFactor;
    const int c = static_cast<int>(std::trunc((j.N * f * 0.5 - g_settings.ProfileTiltAngle) / f));
    const int h = f == 0.25f ? 60 : f == 0.5f ? 30 : 15;
    j.nadirLo = c - h;
    j.nadirHi = c + h;
  }

  Zone zones[3];
  const int count = ZonesOf(j.mode, g_settings.StepSize, n, zones);
  j.zoneCount = 0;
  for (int z = 0; z < count; ++z) {
    const int s0 = zones[z].s0 < 0 ? 0 : zones[z].s0;
    const int s1 = zones[z].s1 > n - 2 ? n - 2 : zones[z].s1;
    if (s1 < s0) continue;
    j.zones[j.zoneCount++] = {s0, s1, zones[z].stride};
  }
  FindStaleRanges(j);
}

// Split-aperture sum, sharpening and rise limit for the part's beams, every
// zone of the ping.
static void FormChunkBeams(const PingJob& j, const ChunkRanges& r) {
  const BeamKernels& k = *j.kernels;
  const int N = j.N;
  for (int i = 0; i < r.count; ++i)
    for (int b = r.from[i]; b < r.to[i]; ++b)
      for (int c = 0; c < j.clearCount; ++c)
        std::memset(&g_beamImage[b][j.clearFrom[c]], 0, sizeof(float) * (j.clearTo[c] - j.clearFrom[c]));

  for (int z = 0; z < j.zoneCount; ++z) {
    const int s0 = j.zones[z].s0, s1 = j.zones[z].s1, stride = j.zones[z].stride;
    // Sample blocks outermost: the block's element I/Q (16 KB) stays in the
    // first-level cache while every beam is formed from it.
    for (int t0 = s0; t0 <= s1; t0 += kSampleBlock) {
      const int t1 = t0 + kSampleBlock - 1 < s1 ? t0 + kSampleBlock - 1 : s1;
      for (int i = 0; i < r.count; ++i)
        for (int b = r.from[i]; b < r.to[i]; b += stride) {
          const bool nadir = b > j.nadirLo && b <= j.nadirHi;
          const float* srcI = nadir ? &s_formNadirI[0][kFormOffset] : &s_formI[0][kFormOffset];
          const float* srcQ = nadir ? &s_formNadirQ[0][kFormOffset] : &s_formQ[0][kFormOffset];
          const int m = N - 1 - b;
          if (j.shareMirrorSums && s_mirrorWeights[b] && m != b && m % stride == 0 && (m > j.nadirLo && m <= j.nadirHi) == nadir &&
              InChunk(r, m)) {
            if (m > b)
              k.formPairSpan(srcI, srcQ, s_weightedCos[b], s_weightedSin[b], s_weightedCos[m], s_weightedSin[m],
                             g_beamGain[b], g_beamGain[m], j.mode, j.G, j.limitRise, g_beamImage[b], g_beamImage[m],
                             t0, t1);
            continue;  // the mirror below formed this one
          }
          k.formSpan(srcI, srcQ, s_weightedCos[b], s_weightedSin[b], g_beamGain[b], j.mode, j.G, j.limitRise,
                     g_beamImage[b], t0, t1);
        }
    }
    for (int i = 0; i < r.count; ++i)
      for (int b = r.from[i]; b < r.to[i] && stride > 1; b += stride)
        for (int c = 1; c < stride && b + c < r.to[i]; ++c)
          std::memcpy(&g_beamImage[b + c][s0], &g_beamImage[b][s0], sizeof(float) * (s1 - s0 + 1));
  }
}

static void FormBeamsPart(void* ctx, int part, int) {
  PingJob& j = *static_cast<PingJob*>(ctx);
  for (int c; (c = TakeChunk(j, part)) >= 0;) FormChunkBeams(j, FormChunk(j.N, c));
}

static int ClampBeam(int b, int N) { return b < 0 ? 0 : b > N - 1 ? N - 1 : b; }
// The clean-up's mirror index: row N, just outside the fan, stands for every
// mirror past the last beam.
static int ClampMirror(int b, int N) { return b < 0 ? 0 : b > N ? N : b; }

// Clean-up, first half: for every beam, the mirror beams whose smoothed echo
// it loses: the mirror about the fan centre (shifted by the roll), which is
// where the array's grating and side lobes put a strong echo of the other
// side. Returns 0 when the fan is too small.
static int PrepareCleanUp(int n) {
  const int N = g_beamGeom.beams;
  if (N < 3 || n < 3) return 0;
  const int step = g_settings.StepSize;
  const int W = step == 0 ? 20 : step == 2 ? 5 : 10;
  const int rs = g_beamGeom.rollShift;
  const int pairs = N / 2 - W;
  int count[kMaxBeams] = {};
  // Under roll the mirror of a beam near the edge can fall outside the fan.
  // It is held at 0 below and at N above: row N lies just outside the fan,
  // its smoothed copy stays zero and nothing is shown there, so a pair that
  // reaches it subtracts nothing from either side.
  for (int k = 0; k < pairs; ++k) {
    const int u = ClampMirror(N - 1 - rs - k, N);
    const int v = ClampMirror(k - rs, N);
    if (u == N || v == N) continue;
    ++count[v];
    ++count[u];
  }
  s_mirrorStart[0] = 0;
  for (int b = 0; b < N; ++b) s_mirrorStart[b + 1] = s_mirrorStart[b] + count[b];
  int fill[kMaxBeams] = {};
  for (int k = 0; k < pairs; ++k) {
    const int u = ClampMirror(N - 1 - rs - k, N);
    const int v = ClampMirror(k - rs, N);
    if (u == N || v == N) continue;
    s_mirrorRows[s_mirrorStart[v] + fill[v]++] = s_smooth[u];
    s_mirrorRows[s_mirrorStart[u] + fill[u]++] = s_smooth[v];
  }
  return 1;
}

// The smoothed copy of the part's rows (the fan's border rows keep theirs).
// The smoothing and the clean-up take the rows in the chunks of the formed
// beams, so each thread mostly finds its rows (and their mirrors) in its
// own cache.
static void SmoothPart(void* ctx, int part, int) {
  PingJob& j = *static_cast<PingJob*>(ctx);
  for (int c; (c = TakeChunk(j, part)) >= 0;) {
    const ChunkRanges r = FormChunk(j.N, c);
    for (int i = 0; i < r.count; ++i) {
      const int b0 = r.from[i] < 1 ? 1 : r.from[i];
      const int b1 = r.to[i] > j.N - 1 ? j.N - 1 : r.to[i];
      for (int b = b0; b < b1; ++b)
        j.kernels->smoothRow(g_beamImage[b - 1], g_beamImage[b], g_beamImage[b + 1], s_smooth[b], j.n);
    }
  }
}

static void CleanAveragePart(void* ctx, int part, int) {
  PingJob& j = *static_cast<PingJob*>(ctx);
  for (int c; (c = TakeChunk(j, part)) >= 0;) {
    const ChunkRanges r = FormChunk(j.N, c);
    for (int i = 0; i < r.count; ++i)
      for (int b = r.from[i]; b < r.to[i]; ++b) {
        const int first = j.cleaned ? s_mirrorStart[b] : 0;
        const int count = j.cleaned ? s_mirrorStart[b + 1] - first : 0;
        j.kernels->cleanAverageRow(g_beamImage[b], &s_mirrorRows[first], count, j.cleaned,
                                   j.ring + static_cast<size_t>(b) * kMaxSamples, s_ringSum[b], j.n, j.filled,
                                   j.show, j.scale);
      }
  }
}

static int AveragingDepth() {
  int a = g_settings.AvgFilterIndex;
  if (a < 3) a = 3;
  if (a > kAvgRingSlots - 1) a = kAvgRingSlots - 1;
  if (g_settings.ProfilePointDetection == 1 && g_settings.ProfilePointFilter == 2) a = 3;
  return a;
}

// Clean-up (second half) and averaging. The ring always takes the ping; with
// AvgFilter on the picture shows 1.3 x the mean of the last A pings.
static void CleanAndAverage(PingJob& j, int cleaned) {
  const int N = j.N, n = j.n;
  if (s_ringBeams != N || s_ringSamples != n) {
    // A new fan shape without a reset: older slots do not line up with it.
    std::memset(s_slotFilled, 0, sizeof s_slotFilled);
    for (int b = 0; b < N; ++b) std::memset(s_ringSum[b], 0, sizeof s_ringSum[b]);
    s_ringBeams = N;
    s_ringSamples = n;
  }
  const int A = AveragingDepth();
  g_beamform.avgDepth = A;
  int slot = g_beamform.avgSlot;
  if (slot < 0 || slot >= A) slot = 0;
  j.cleaned = cleaned;
  j.ring = &s_ring[slot][0][0];
  j.filled = s_slotFilled[slot];
  j.show = g_settings.AvgFilter == 1;
  j.scale = 1.3f / static_cast<float>(A);
  StartChunks(j, FormChunkCount(N));
  plat::RunSplit(CleanAveragePart, &j);
  s_slotFilled[slot] = 1;
  ++slot;
  if (slot >= A) slot = 0;
  g_beamform.avgSlot = slot;
}

// A change of averaging depth or detection method makes the stored
// pings and points meaningless for the new setting.
static void CheckHistoryReset() {
  BeamformState& st = g_beamform;
  const int avg = g_settings.AvgFilterIndex;
  const int det = g_settings.ProfilePointDetection;
  const int fil = g_settings.ProfilePointFilter;
  if (st.prevAvgFilterIndex != -1 &&
      (avg != st.prevAvgFilterIndex || det != st.prevDetection || fil != st.prevFilter))
    ClearHistories();
  st.prevAvgFilterIndex = avg;
  st.prevDetection = det;
  st.prevFilter = fil;
}

int ProcessPing() {
  if (g_settings.DisplayType == 4) return 0;
  CheckHistoryReset();

  int n = g_sampleCount;
  if (n < 0) n = 0;
  if (n > kMaxProcessedSamples) n = kMaxProcessedSamples;
  BeamGeometry& g = g_beamGeom;
  g.samples = n;

  g.BeamSpacingFactor = BeamSpacingFactorOf(g.beamSpacingRad, g.BeamSpacingFactor);
  BuildSteering();
  PrefilterAndDemodulate(n);
  PingJob& j = s_job;
  PrepareFormBeams(j, n);
  StartChunks(j, FormChunkCount(j.N));
  plat::RunSplit(FormBeamsPart, &j);
  const int cleaned = g_flatBottomFlag == 0 && PrepareCleanUp(n);
  if (cleaned) {
    StartChunks(j, FormChunkCount(j.N));
    plat::RunSplit(SmoothPart, &j);
  }
  CleanAndAverage(j, cleaned);
  ++g_beamform.pingsProcessed;
  return 1;
}

//-----------------------------------------------------------------------------
// [SECTION] Sidescan line and nadir trace
//-----------------------------------------------------------------------------

// Six-element tapered sum of the first-pass I/Q with the phasors of `beam`:
// a short sub-array whose wide beam suits sidescan and echo-sounder pictures.
static float SubArrayMagnitude(int beam, int s) {
  static const float kTaper[6] = {0.33f, 0.67f, 1.0f, 1.0f, 0.67f, 0.33f};
  float re = 0.0f, im = 0.0f;
  for (int e = 0; e < 6; ++e) {
    const float I = g_firstPassI[e][s], Q = g_firstPassQ[e][s];
    const float c = g_steerCos[beam][e], sn = g_steerSin[beam][e];
    re += (I * c - Q * sn) * kTaper[e];
    im += (Q * c + I * sn) * kTaper[e];
  }
  return std::sqrt(re * re + im * im);
}

// Float to int with truncation, held inside a range that int holds.
static int TruncClamp(float v) {
  if (!(v > -1.0e6f)) return -1000000;
  if (v > 1.0e6f) return 1000000;
  return static_cast<int>(v);
}

void BuildSidescanLine() {
  const int n = g_beamGeom.samples;
  const int N = g_beamGeom.beams;
  g_sidescanLength = 2 * n;
  std::memset(g_sidescanLine, 0, sizeof(int) * 2 * n);
  if (n <= 0 || N <= 0) return;
  // Port echoes come out in the low beam indexes (beam 0 is the port edge of
  // the fan), so the beam α from that edge is port's and its mirror N - that
  // beam is starboard's.
  const int p = ClampBeam(static_cast<int>(std::trunc(N * g_sidescanAngleDeg / 180.0f)), N);
  const int q = ClampBeam(N - p, N);
  const double tilt = g_settings.ProfileTiltAngle;
  const bool port = tilt < 20.0;
  const bool starboard = tilt > -20.0;
  const float scale = static_cast<float>(g_settings.DisplayGain) * 0.02f;
  int* line = g_sidescanLine;

  if (port && starboard) {
    for (int s = 0; s < n; ++s) {
      const float mp = SubArrayMagnitude(p, s) * scale;
      const float ms = SubArrayMagnitude(q, s) * scale;
      line[n - 1 - s] += TruncClamp(mp);
      line[n + s] -= TruncClamp(0.33f * mp);
      line[n + s] += TruncClamp(ms);
      line[n - 1 - s] -= TruncClamp(0.33f * ms);
    }
  } else {
    // One side only: it fills the whole line, each sample twice, nearest
    // range at the edge where the window draws that side's fan symbol.
    const int beam = port ? p : q;
    for (int s = 0; s < n; ++s) {
      const int m = TruncClamp(SubArrayMagnitude(beam, s) * scale);
      if (port) {
        line[2 * n - 1 - 2 * s] = m;
        line[2 * n - 2 - 2 * s] = m;
      } else {
        line[2 * s] = m;
        line[2 * s + 1] = m;
      }
    }
  }
  for (int i = 0; i < 2 * n; ++i) line[i] = line[i] < 0 ? 0 : line[i] > 127 ? 127 : line[i];
}

void BuildNadirTrace() {
  const int n = g_beamGeom.samples;
  const int N = g_beamGeom.beams;
  g_nadirTraceLength = n;
  if (n <= 0 || N <= 0) return;
  // A tilt beyond the fan would look outside it; the edge beam stands in.
  const int beam = ClampBeam(
      static_cast<int>(std::trunc(N / 2 - N * g_settings.ProfileTiltAngle / 120.0)), N);
  const float scale = static_cast<float>(g_settings.DisplayGain) * 0.005f;
  for (int s = 0; s < n; ++s) {
    int v = TruncClamp(SubArrayMagnitude(beam, s) * scale);
    if (v > 126) v = 127;
    if (v < 0) v = 0;
    g_nadirTrace[s] = v;
  }
}

void AdjustSidescanAngle(float deltaDeg) {
  float a = g_sidescanAngleDeg + deltaDeg;
  if (!(a >= kSidescanAngleMinDeg)) a = kSidescanAngleMinDeg;
  if (a > kSidescanAngleMaxDeg) a = kSidescanAngleMaxDeg;
  g_sidescanAngleDeg = a;
}
