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
// runs on sample-major vectors of 16 samples with the element window folded
// into the per-beam phasors, and, with the other per-sample loops, is
// compiled twice (AVX2 with FMA, and baseline) with the choice made once
// from the processor, so the shipped binary needs no particular CPU. The
// two builds may differ in the last float bits (fused multiply-add) after
// the element compression, which both share.
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

#include <cmath>
#include <cstring>

#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "settings/settings.h"

// The hot loops are written once as always-inline bodies and compiled twice:
// for the baseline x86-64 and for AVX2 with fused multiply-add. The choice
// is made once, from the processor, through a small table of pointers.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && !defined(ORVALE_NO_FAST_KERNELS)
#define ORVALE_FAST_KERNELS 1
#define ORVALE_FAST_TARGET __attribute__((target("avx2,fma")))
#endif
#define ORVALE_KERNEL static inline __attribute__((always_inline))

struct BeamKernels {
  void (*sumBeamSpan)(const float (*)[kMaxSamples], const float (*)[kMaxSamples], const float*, const float*,
                      float, int, int);
  void (*sharpenSpan)(int, float, float*, int, int);
  void (*smoothRow)(const float*, const float*, const float*, float*, int);
  void (*subtractRow)(float*, const float*, int);
  void (*averageRow)(float*, float*, float*, int, int, int, int, float);
};
static const BeamKernels& Kernels();

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

// Per-beam work rows of the beam sum: c₁ and the coherence ρ.
alignas(64) static float s_c1[kMaxSamples + 16];
alignas(64) static float s_rho[kMaxSamples + 16];

// Smoothed copy for the sidelobe clean-up; its border rows and columns keep
// their values from ping to ping (0 after a reset).
alignas(64) static float s_smooth[kMaxBeams][kMaxSamples];
alignas(64) static float s_colSum[kMaxSamples];

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

static void TransposeIn(int count) {
  for (int s = 0; s < count; ++s)
    for (int e = 0; e < kElements; ++e) s_xt[s][e] = g_elementSamples[e][s];
}

// Demodulation: first pass on the raw samples (bins 1..3), pre-filtered and
// compressed samples written back, second pass (bins 0..3) into ElementIQ.
// Pre-filter and compression on the sample-major rows: the pre-filtered
// sample into s_vt (what ElementSamples keeps), the second pass's input into
// s_xt.
static void CompressTransposed(int n) {
  float* x = &s_xt[0][0];
  float* kept = &s_vt[0][0];
  const float* I = &s_it[0][0];
  const float* Q = &s_qt[0][0];
  for (int k = 0; k < n * kElements; ++k) {
    const float p = (I[k] + Q[k]) * 0.125f;
    const float v = CompressSample(p);
    kept[k] = v;
    // The compression moves an exact zero to -1. Fed on, that offset is a DC
    // level on every element alike, which bin 0 passes and the beam sum forms
    // into a bright nadir stripe over the whole range of a silent ping.
    // Silence therefore enters the second pass as silence.
    x[k] = p == 0.0f ? 0.0f : v;
  }
}

static void PrefilterAndDemodulate(int n) {
  const int steps = n + kDftDrop;
  TransposeIn(steps);
  DemodulateTransposed(steps, 1, 3);
  CompressTransposed(n);
  for (int e = 0; e < kElements; ++e) {
    for (int s = 0; s < n; ++s) {
      const float i1 = s_it[s][e];
      const float q1 = s_qt[s][e];
      g_firstPassI[e][s] = i1;
      g_firstPassQ[e][s] = q1;
      g_nadirI[e][s] = 0.2f * i1;
      g_nadirQ[e][s] = 0.2f * q1;
      g_elementSamples[e][s] = s_vt[s][e];
    }
  }
  // Past n the second pass reads the rows as they stand.
  for (int s = n; s < steps; ++s)
    for (int e = 0; e < kElements; ++e) s_xt[s][e] = g_elementSamples[e][s];
  DemodulateTransposed(steps, 0, 3);
  for (int e = 0; e < kElements; ++e) {
    for (int s = 0; s < n; ++s) {
      g_elementI[e][s] = s_it[s][e];
      g_elementQ[e][s] = s_qt[s][e];
    }
  }
}

//-----------------------------------------------------------------------------
// [SECTION] Beam sum and sharpening
//-----------------------------------------------------------------------------

float SharpenP5(float r) {
  return 0.5034f + r * (0.0783f + r * (-0.1533f + r * (2.9357f + r * (-6.0816f + r * 30.9087f))));
}

double SharpenP15(double r) {
  static const double c[16] = {0.5034,    0.0783,   0.1533,    -2.9357,   -6.0816,  30.9087,
                               68.5798,   -124.5031, -321.1395, 191.2037,  712.976,  -8.88,
                               -744.021,  -230.0377, 293.4049,  148.0401};
  double v = c[15];
  for (int i = 14; i >= 0; --i) v = v * r + c[i];
  return v;
}

typedef float v8f __attribute__((vector_size(32)));  // AVX2 build
typedef float v4f __attribute__((vector_size(16)));  // baseline build (SSE2)

// Unaligned load; by reference, since passing wide vectors by value would
// depend on the calling convention of the build.
template <typename V>
ORVALE_KERNEL void LoadV(V& v, const float* p) {
  __builtin_memcpy(&v, p, sizeof v);
}

// One half aperture (elements e0..e0+7) over two vectors of samples from s:
// the steered, windowed complex sum. The four products of each complex
// multiply go to four separate sums, so eight independent chains of
// multiply-adds keep the arithmetic units busy instead of waiting on one
// long chain per output.
template <typename V>
ORVALE_KERNEL void HalfApertureSum(const float (*srcI)[kMaxSamples], const float (*srcQ)[kMaxSamples],
                                   const float* wc, const float* ws, int e0, int s, V& r0, V& i0, V& r1, V& i1) {
  constexpr int L = sizeof(V) / sizeof(float);
  V rc0 = {}, rs0 = {}, ic0 = {}, is0 = {}, rc1 = {}, rs1 = {}, ic1 = {}, is1 = {};
  for (int e = e0; e < e0 + 8; ++e) {
    V I0, I1, Q0, Q1;
    LoadV(I0, &srcI[e][s]);
    LoadV(I1, &srcI[e][s + L]);
    LoadV(Q0, &srcQ[e][s]);
    LoadV(Q1, &srcQ[e][s + L]);
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
  r0 = rc0 - rs0;
  i0 = ic0 + is0;
  r1 = rc1 - rs1;
  i1 = ic1 + is1;
}

// Split-aperture sum of beam b over samples s0..s1 (inclusive): elements 0..7
// into A, 8..15 into B; c₁ = Re(A B*) g and ρ = c₁² / (c₁² + c₂² + 1) into
// s_c1 / s_rho at the sample's index. Two vectors of samples per step (16
// samples with AVX2, 8 in the baseline build).
template <typename V>
ORVALE_KERNEL void SumBeamSpanK(const float (*srcI)[kMaxSamples], const float (*srcQ)[kMaxSamples],
                                const float* wc, const float* ws, float gain, int s0, int s1) {
  constexpr int L = sizeof(V) / sizeof(float);
  int s = s0;
  for (; s + 2 * L <= s1 + 1; s += 2 * L) {
    V ar0, ai0, ar1, ai1, br0, bi0, br1, bi1;
    HalfApertureSum<V>(srcI, srcQ, wc, ws, 0, s, ar0, ai0, ar1, ai1);
    HalfApertureSum<V>(srcI, srcQ, wc, ws, 8, s, br0, bi0, br1, bi1);
    const V c10 = (ar0 * br0 + ai0 * bi0) * gain;
    const V c20 = (ai0 * br0 - ar0 * bi0) * gain;
    const V c11 = (ar1 * br1 + ai1 * bi1) * gain;
    const V c21 = (ai1 * br1 - ar1 * bi1) * gain;
    const V q0 = c10 * c10, q1 = c11 * c11;
    const V rho0 = q0 / (q0 + c20 * c20 + 1.0f);
    const V rho1 = q1 / (q1 + c21 * c21 + 1.0f);
    __builtin_memcpy(&s_c1[s], &c10, sizeof c10);
    __builtin_memcpy(&s_c1[s + L], &c11, sizeof c11);
    __builtin_memcpy(&s_rho[s], &rho0, sizeof rho0);
    __builtin_memcpy(&s_rho[s + L], &rho1, sizeof rho1);
  }
  for (; s <= s1; ++s) {
    float ar = 0, ai = 0, br = 0, bi = 0;
    for (int e = 0; e < 8; ++e) {
      ar += srcI[e][s] * wc[e];
      ar -= srcQ[e][s] * ws[e];
      ai += srcQ[e][s] * wc[e];
      ai += srcI[e][s] * ws[e];
    }
    for (int e = 8; e < 16; ++e) {
      br += srcI[e][s] * wc[e];
      br -= srcQ[e][s] * ws[e];
      bi += srcQ[e][s] * wc[e];
      bi += srcI[e][s] * ws[e];
    }
    const float c1 = (ar * br + ai * bi) * gain;
    const float c2 = (ai * br - ar * bi) * gain;
    s_c1[s] = c1;
    s_rho[s] = c1 * c1 / (c1 * c1 + c2 * c2 + 1.0f);
  }
}

// Sharpening of one span: the curve of the mode, negatives to 0.
ORVALE_KERNEL void SharpenSpanK(int mode, float gainG, float* out, int s0, int s1) {
  switch (mode) {
    case 0: {
      const float k = gainG * 0.02f;
      for (int s = s0; s <= s1; ++s) {
        const float v = k * s_rho[s] * s_c1[s];
        out[s] = v < 0.0f ? 0.0f : v;
      }
      break;
    }
    case 1: {
      const float k = gainG * 0.001f;
      for (int s = s0; s <= s1; ++s) {
        const float v = k * SharpenP5(s_rho[s]) * s_c1[s];
        out[s] = v < 0.0f ? 0.0f : v;
      }
      break;
    }
    default: {
      const double k = gainG * 0.004;
      for (int s = s0; s <= s1; ++s) {
        const float v = static_cast<float>(k * SharpenP15(s_rho[s]) * s_c1[s]);
        out[s] = v < 0.0f ? 0.0f : v;
      }
      break;
    }
  }
}

// No sample may rise more than 50 above its predecessor as it stands in the
// row (the detectors' leading-edge search relies on it). The limit is a
// chain from sample to sample; four rows side by side keep the processor
// busy while each chain waits on its previous sample.
static void LimitRise(float* row, int s0, int s1) {
  if (s0 < 1) s0 = 1;
  float prev = row[s0 - 1];
  for (int s = s0; s <= s1; ++s) {
    float v = row[s];
    const float cap = prev + static_cast<float>(kRiseLimit);
    if (v > cap) v = cap;
    row[s] = v;
    prev = v;
  }
}

static inline float CapAt(float v, float cap) { return v > cap ? cap : v; }

static void LimitRise4(float* r0, float* r1, float* r2, float* r3, int s0, int s1) {
  if (s0 < 1) s0 = 1;
  const float lim = static_cast<float>(kRiseLimit);
  float p0 = r0[s0 - 1], p1 = r1[s0 - 1], p2 = r2[s0 - 1], p3 = r3[s0 - 1];
  for (int s = s0; s <= s1; ++s) {
    p0 = CapAt(r0[s], p0 + lim);
    p1 = CapAt(r1[s], p1 + lim);
    p2 = CapAt(r2[s], p2 + lim);
    p3 = CapAt(r3[s], p3 + lim);
    r0[s] = p0;
    r1[s] = p1;
    r2[s] = p2;
    r3[s] = p3;
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

// Split-aperture sum and sharpening for every beam and zone of the ping.
static void FormBeams(int n) {
  const BeamGeometry& g = g_beamGeom;
  const int N = g.beams;
  const int mode = g_settings.ProcessingMode;
  const float G = static_cast<float>(g_settings.DisplayGain);
  const int limitRise = g_settings.ProfilePointFilter > 0;

  // Bottom Following in Profile mode forms the beams around nadir from the
  // uncompressed first pass: the compression flattens the strong vertical echo.
  int nadirLo = 0, nadirHi = -1;  // beams in (nadirLo, nadirHi]
  if (g_settings.DisplayType == 3 && g_settings.ProfilePointFilter == 2) {
    const float f = g.BeamSpacingFactor;
    const int c = static_cast<int>(std::trunc((N * f * 0.5 - g_settings.ProfileTiltAngle) / f));
    const int h = f == 0.25f ? 60 : f == 0.5f ? 30 : 15;
    nadirLo = c - h;
    nadirHi = c + h;
  }

  const BeamKernels& k = Kernels();
  Zone zones[3];
  const int zoneCount = ZonesOf(mode, g_settings.StepSize, n, zones);
  for (int z = 0; z < zoneCount; ++z) {
    const int s0 = zones[z].s0 < 0 ? 0 : zones[z].s0;
    const int s1 = zones[z].s1 > n - 2 ? n - 2 : zones[z].s1;
    if (s1 < s0) continue;
    const int stride = zones[z].stride;
    // Sample blocks outermost: the block's element I/Q (16 KB) stays in the
    // first-level cache while every beam is formed from it.
    for (int t0 = s0; t0 <= s1; t0 += kSampleBlock) {
      const int t1 = t0 + kSampleBlock - 1 < s1 ? t0 + kSampleBlock - 1 : s1;
      for (int b = 0; b < N; b += stride) {
        const bool nadir = b > nadirLo && b <= nadirHi;
        k.sumBeamSpan(nadir ? g_nadirI : g_elementI, nadir ? g_nadirQ : g_elementQ, s_weightedCos[b],
                      s_weightedSin[b], g_beamGain[b], t0, t1);
        k.sharpenSpan(mode, G, g_beamImage[b], t0, t1);
      }
    }
    if (limitRise) {
      int b = 0;
      for (; b + 3 * stride < N; b += 4 * stride)
        LimitRise4(g_beamImage[b], g_beamImage[b + stride], g_beamImage[b + 2 * stride],
                   g_beamImage[b + 3 * stride], s0, s1);
      for (; b < N; b += stride) LimitRise(g_beamImage[b], s0, s1);
    }
    for (int b = 0; b < N && stride > 1; b += stride)
      for (int k = 1; k < stride && b + k < N; ++k)
        std::memcpy(&g_beamImage[b + k][s0], &g_beamImage[b][s0], sizeof(float) * (s1 - s0 + 1));
  }
}

//-----------------------------------------------------------------------------
// [SECTION] Sidelobe clean-up and averaging
//-----------------------------------------------------------------------------
// The clean-up's smoothed copy needs the whole fan first; the subtraction,
// the clamp at zero and the averaging then run row by row in one pass, so
// each row of BeamImage goes through the cache once instead of three times.

// Mirror rows to subtract from each beam, in the order of the pair loop.
static int s_mirrorStart[kMaxBeams + 1];
static int s_mirrorList[2 * kMaxBeams];

ORVALE_KERNEL void SmoothRowK(const float* up, const float* mid, const float* down, float* out, int n) {
  for (int s = 0; s < n; ++s) s_colSum[s] = up[s] + mid[s] + down[s];
  for (int s = 1; s < n - 1; ++s) out[s] = 0.25f * (s_colSum[s - 1] + s_colSum[s] + s_colSum[s + 1]);
}

ORVALE_KERNEL void SubtractRowK(float* row, const float* minus, int n) {
  for (int s = 0; s < n; ++s) row[s] -= minus[s];
}

static int ClampBeam(int b, int N) { return b < 0 ? 0 : b > N - 1 ? N - 1 : b; }
// The clean-up's mirror index: row N, just outside the fan, stands for every
// mirror past the last beam.
static int ClampMirror(int b, int N) { return b < 0 ? 0 : b > N ? N : b; }

// Clean-up, first half: the smoothed copy and, for every beam, the mirror
// beams whose smoothed echo it loses: the mirror about the fan centre
// (shifted by the roll), which is where the array's grating and side lobes
// put a strong echo of the other side. Returns 0 when the fan is too small.
static int PrepareCleanUp(int n) {
  const int N = g_beamGeom.beams;
  if (N < 3 || n < 3) return 0;
  const BeamKernels& k = Kernels();
  for (int b = 1; b < N - 1; ++b)
    k.smoothRow(g_beamImage[b - 1], g_beamImage[b], g_beamImage[b + 1], s_smooth[b], n);

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
    s_mirrorList[s_mirrorStart[v] + fill[v]++] = u;
    s_mirrorList[s_mirrorStart[u] + fill[u]++] = v;
  }
  return 1;
}

// Averaging of one row (after the clean-up's subtraction and clamp when
// `clamp`): sum -= ring; sum >= 0; ring = value; sum += value; shown value
// 1.3 x the mean when `show`. An empty slot counts as zeros.
ORVALE_KERNEL void AverageRowK(float* value, float* ring, float* sum, int n, int clamp, int filled, int show,
                                  float scale) {
  for (int s = 0; s < n; ++s) {
    float v = value[s];
    if (clamp) v = v < 0.0f ? 0.0f : v;
    float t = filled ? sum[s] - ring[s] : sum[s];
    t = t < 0.0f ? 0.0f : t;
    ring[s] = v;
    t += v;
    sum[s] = t;
    if (show) {
      const float a = t * scale;
      v = a < 0.0f ? 0.0f : a;
    }
    value[s] = v;
  }
}

// Each kernel twice: baseline and AVX2 with fused multiply-add.
#ifdef ORVALE_FAST_KERNELS
#define ORVALE_KERNEL_PAIR(name, params, args)          \
  static void name##Base params { name##K args; }      \
  ORVALE_FAST_TARGET static void name##Fast params { name##K args; }
#else
#define ORVALE_KERNEL_PAIR(name, params, args) \
  static void name##Base params { name##K args; }
#endif

static void SumBeamSpanBase(const float (*srcI)[kMaxSamples], const float (*srcQ)[kMaxSamples], const float* wc,
                            const float* ws, float gain, int s0, int s1) {
  SumBeamSpanK<v4f>(srcI, srcQ, wc, ws, gain, s0, s1);
}
#ifdef ORVALE_FAST_KERNELS
ORVALE_FAST_TARGET static void SumBeamSpanFast(const float (*srcI)[kMaxSamples], const float (*srcQ)[kMaxSamples],
                                               const float* wc, const float* ws, float gain, int s0, int s1) {
  SumBeamSpanK<v8f>(srcI, srcQ, wc, ws, gain, s0, s1);
}
#endif
ORVALE_KERNEL_PAIR(SharpenSpan, (int mode, float gainG, float* out, int s0, int s1), (mode, gainG, out, s0, s1))
ORVALE_KERNEL_PAIR(SmoothRow, (const float* up, const float* mid, const float* down, float* out, int n),
                   (up, mid, down, out, n))
ORVALE_KERNEL_PAIR(SubtractRow, (float* row, const float* minus, int n), (row, minus, n))
ORVALE_KERNEL_PAIR(AverageRow,
                   (float* value, float* ring, float* sum, int n, int clamp, int filled, int show, float scale),
                   (value, ring, sum, n, clamp, filled, show, scale))

static const BeamKernels kBaseKernels = {SumBeamSpanBase, SharpenSpanBase, SmoothRowBase, SubtractRowBase,
                                         AverageRowBase};
#ifdef ORVALE_FAST_KERNELS
static const BeamKernels kFastKernels = {SumBeamSpanFast, SharpenSpanFast, SmoothRowFast, SubtractRowFast,
                                         AverageRowFast};
#endif
static int s_forceBaseline = 0;

static int FastKernelsAvailable() {
#ifdef ORVALE_FAST_KERNELS
  static const int available = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") ? 1 : 0;
  }();
  return available;
#else
  return 0;
#endif
}

static const BeamKernels& Kernels() {
#ifdef ORVALE_FAST_KERNELS
  if (!s_forceBaseline && FastKernelsAvailable()) return kFastKernels;
#endif
  return kBaseKernels;
}

int BeamformFastKernels() { return !s_forceBaseline && FastKernelsAvailable(); }

int BeamformForceBaselineKernels(int on) {
  s_forceBaseline = on ? 1 : 0;
  return BeamformFastKernels();
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
static void CleanAndAverage(int n, int cleaned) {
  const int N = g_beamGeom.beams;
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
  const int show = g_settings.AvgFilter == 1;
  const float scale = 1.3f / static_cast<float>(A);
  const int filled = s_slotFilled[slot];
  const BeamKernels& k = Kernels();
  for (int b = 0; b < N; ++b) {
    if (cleaned)
      for (int i = s_mirrorStart[b]; i < s_mirrorStart[b + 1]; ++i)
        k.subtractRow(g_beamImage[b], s_smooth[s_mirrorList[i]], n);
    k.averageRow(g_beamImage[b], s_ring[slot][b], s_ringSum[b], n, cleaned, filled, show, scale);
  }
  s_slotFilled[slot] = 1;
  ++slot;
  if (slot >= A) slot = 0;
  g_beamform.avgSlot = slot;
}

//-----------------------------------------------------------------------------
// [SECTION] Per-ping chain
//-----------------------------------------------------------------------------

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
  const int N = g.beams;

  for (int b = 0; b < N; ++b)
    for (int s = kStaleFrom; s < n; ++s) g_beamImage[b][s] = 0.0f;

  g.BeamSpacingFactor = BeamSpacingFactorOf(g.beamSpacingRad, g.BeamSpacingFactor);
  BuildSteering();
  PrefilterAndDemodulate(n);
  FormBeams(n);
  const int cleaned = g_flatBottomFlag == 0 && PrepareCleanUp(n);
  CleanAndAverage(n, cleaned);
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
