// Scene synthesis. From a SceneParams (a flat or sloping seabed, a few point
// targets, noise, and the head's settings) this module makes the ping record
// a real head would return: for each of the 16 elements the echo of every
// scatterer at its two-way delay, on a quarter-sample-rate carrier with the
// inter-element phase of its arrival angle, in offset binary (127 silence),
// laid out sample-major with the raw element order of the transducer
// mounting, type "U" data shifted by the head's fixed delay, and scrambled
// when asked. Return packets are cut from that record.
//
// The geometry convention is stated in scene.h. Per scene (whenever the
// params change) the seabed is turned into a table of patches, at most two
// per true sample, each with its amplitude and 16 element phasors; per ping
// only the speckle, the envelope convolution, the point targets and the
// noise are computed, which keeps a 1000-sample ping well under a
// millisecond for ordinary pulse lengths. Owns g_scene.
//
// Index:
//   [SECTION] Scene facts
//   [SECTION] Validation
//   [SECTION] Tables
//   [SECTION] Synthesis
//   [SECTION] Packets
#include "scene.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "head/return_data.h"
#include "head/switch_command.h"

SceneState g_scene;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDegToRad = kPi / 180.0;
// Seabed echoes come from no further off the boresight than this; the
// elements hear nothing from the horizon.
constexpr double kMaxSeabedAngleRad = 85.0 * kDegToRad;
constexpr int kPacketDataOffset = 32;

// Element spacing per head-type setting (0 where the head has none we know).
constexpr double kSpacingM[14] = {0.0127,    0.006351,  0.0031886, 0.004064, 0.0028702,
                                  0.006223,  0.003175,  0.0010922, 0.0028702, 0.0003556,
                                  0.0,       0.00103505, 0.0028702, 0.0009398};

// ---- random numbers: splitmix64, one stream per (seed, ping, purpose)
struct Rng {
  uint64_t s;
};
uint64_t NextU64(Rng& r) {
  uint64_t z = (r.s += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}
double Uniform01(Rng& r) { return (static_cast<double>(NextU64(r) >> 11) + 0.5) * (1.0 / 9007199254740992.0); }
// Two independent standard normal values (Box-Muller).
void Gaussian2(Rng& r, double* a, double* b) {
  const double u = Uniform01(r), v = Uniform01(r);
  const double m = std::sqrt(-2.0 * std::log(u));
  *a = m * std::cos(2.0 * kPi * v);
  *b = m * std::sin(2.0 * kPi * v);
}
Rng StreamOf(uint32_t seed, int pingIndex, int purpose) {
  Rng r{(static_cast<uint64_t>(seed) << 32) ^ (static_cast<uint64_t>(static_cast<uint32_t>(pingIndex)) << 4) ^
        static_cast<uint64_t>(purpose)};
  NextU64(r);
  return r;
}

// Range code of a range in metres, 0 when the head has no such range.
int RangeCodeOfMetres(double m) {
  if (m == 1.5) return 1;
  if (m != std::floor(m)) return 0;
  const int r = static_cast<int>(m);
  if (r >= 1 && r <= 200) return r;
  switch (r) {
    case 250: return 201;
    case 300: return 202;
    case 400: return 203;
    case 500: return 204;
    default: return 0;
  }
}

// Element phasors e^{j (e - 7.5) k} for e = 0..15, rotated in double.
void ElementPhasors(double k, float* re, float* im) {
  double zr = std::cos(-7.5 * k), zi = std::sin(-7.5 * k);
  const double sr = std::cos(k), si = std::sin(k);
  for (int e = 0; e < kElements; ++e) {
    re[e] = static_cast<float>(zr);
    im[e] = static_cast<float>(zi);
    const double nr = zr * sr - zi * si;
    zi = zr * si + zi * sr;
    zr = nr;
  }
}

// Phase step between neighbouring elements for an echo from scene angle θ:
// negative to starboard, so that the echo forms in the beam steered to +θ.
double PhaseStepOf(const SceneParams& p, double angleRad) {
  const double omega = 2.0 * kPi * p.frequencyKHz * 1000.0;
  return -std::sin(angleRad) * SceneElementSpacingM(p) / p.soundSpeed * omega;
}

}  // namespace

// ============================================================ [SECTION] Scene facts

int SceneRangeCode(const SceneParams& p) {
  if (p.rangeM > 0.0) return RangeCodeOfMetres(p.rangeM);
  if (p.rangeStep < 0 || p.rangeStep >= kRangeSteps) return 0;
  return RangeCodeOfMetres(kRangeTable[p.rangeStep].commandM);
}

double SceneRangeM(const SceneParams& p) {
  const int code = SceneRangeCode(p);
  if (code == 1) return 1.5;  // the console draws the 1 m command as its 1.5 m step
  return PingRangeOfCode(code);
}

int SceneSamples(const SceneParams& p) {
  if (p.dataType < 0 || p.dataType >= kDataTypeCount) return 0;
  return kDataTypes[p.dataType].samplesPerElement;
}

double SceneMetresPerSample(const SceneParams& p) {
  const int n = SceneSamples(p);
  if (n <= 0) return 0.0;
  const double k = RangeScaleFactorOf(p.headModeCode, PingRangeOfCode(SceneRangeCode(p)));
  return SceneRangeM(p) / n * (p.soundSpeed / 1500.0) * k;
}

double SceneSampleOfRange(const SceneParams& p, double slantM) {
  const double m = SceneMetresPerSample(p);
  return m > 0.0 ? slantM / m : 0.0;
}

int ScenePulseUs(const SceneParams& p) { return (p.pulseUs / 10) * 10; }

int SceneDelayShift(const SceneParams& p) {
  if (p.dataType != 0) return 0;
  return DelayShiftSamples(PingRangeOfCode(SceneRangeCode(p)), ScenePulseUs(p), p.headModeCode,
                           SceneSamples(p));
}

double SceneElementSpacingM(const SceneParams& p) {
  const int t = p.headTypeSetting;
  if (t < 0 || t >= 14) return 0.0;
  double d = kSpacingM[t];
  // Heads 4 and 5 change their effective aperture with the range-gated
  // receive filters at the short ranges.
  const double r = SceneRangeM(p);
  struct Row {
    double rangeM, k4Low, k4High, k5;
  };
  static const Row kRows[] = {
      {5.0, 1.0626, 1.03, 1.08}, {10.0, 1.02, 1.015, 1.05}, {20.0, 1.03, 1.0125, 1.02}, {30.0, 1.01, 1.01, 1.01}};
  for (const Row& row : kRows) {
    if (r != row.rangeM) continue;
    if (t == 4) d *= p.headModeCode < 4 ? row.k4Low : row.k4High;
    if (t == 5) d *= row.k5;
  }
  return d;
}

int HeadTypeIndexOfSetting(int setting) {
  switch (setting) {
    case 3: return 4;
    case 5: return 1;
    case 6: return 2;
    case 7: return 3;
    case 8: return 5;
    case 9: return 9;
    case 11: return 11;
    case 12: return 17;
    case 13: return 18;
    case 4: return 0;
    default: return 8;  // no report names this configuration; the console assumes 4
  }
}

int FrequencyCoefficientOfSetting(int setting) {
  switch (setting) {
    case 5: return 3;
    case 6:
    case 7:
    case 11:
    case 13: return 20;
    case 9: return 170;
    default: return 10;
  }
}

double SteerAngleOfSceneAngle(double angleDeg) { return angleDeg * kDegToRad; }

// ============================================================ [SECTION] Validation

int ValidateScene(const SceneParams& p, char* why, int whySize) {
  const char* reason = nullptr;
  if (p.dataType < 0 || p.dataType >= kDataTypeCount)
    reason = "data type must be 0..3 (U, V, Z, Y)";
  else if (SceneRangeCode(p) == 0)
    reason = "range must be a head range: 1.5, 1..200, 250, 300, 400 or 500 m (or a step 0..16)";
  else if (p.headTypeSetting < 0 || p.headTypeSetting >= 14 || kSpacingM[p.headTypeSetting] == 0.0)
    reason = "head type setting must be 0..13 except 10";
  else if (p.frequencyKHz < 10 || p.frequencyKHz > 2000)
    reason = "frequency must be 10..2000 kHz";
  else if (p.xdcr != 0 && p.xdcr != 1)
    reason = "xdcr must be 0 (down) or 1 (up)";
  else if (!(p.soundSpeed >= 1400.0 && p.soundSpeed <= 2000.0))
    reason = "sound speed must be 1400..2000 m/s";
  else if (p.headModeCode < 0 || p.headModeCode > 5)
    reason = "head mode code must be 0..5";
  else if (p.pulseUs < 10 || p.pulseUs > 2500)
    reason = "pulse length must be 10..2500 us";
  else if (p.seabed && !(p.depthM > 0.0 && p.depthM < 10000.0))
    reason = "seabed depth must be above 0 m";
  else if (!(std::fabs(p.slopeDeg) <= 60.0))
    reason = "seabed slope must be -60..60 degrees";
  else if (!(p.seabedStrength >= 0.0 && p.seabedStrength <= 1000.0))
    reason = "seabed strength must be 0..1000 counts";
  else if (!(p.angleFalloff >= 0.0 && p.angleFalloff <= 20.0))
    reason = "angle fall-off must be 0..20";
  else if (!(p.rangeFalloffDb >= 0.0 && p.rangeFalloffDb <= 120.0))
    reason = "range fall-off must be 0..120 dB";
  else if (p.targetCount < 0 || p.targetCount > kMaxSceneTargets)
    reason = "at most 16 point targets";
  else if (!(p.noise >= 0.0 && p.noise <= 128.0))
    reason = "noise must be 0..128 counts";
  for (int i = 0; reason == nullptr && i < p.targetCount; ++i) {
    const PointTarget& t = p.targets[i];
    if (!(t.rangeM >= 0.0 && t.rangeM < 10000.0) || !(std::fabs(t.angleDeg) < 90.0) ||
        !(t.strength >= 0.0 && t.strength <= 1000.0))
      reason = "a target needs angle -90..90 deg, range >= 0 m, strength 0..1000";
  }
  if (reason == nullptr) return 1;
  if (why != nullptr && whySize > 0) std::snprintf(why, static_cast<size_t>(whySize), "%s", reason);
  return 0;
}

// ============================================================ [SECTION] Tables

namespace {

// Envelope at a (fractional) offset from the scatterer's centre.
inline double EnvelopeAt(double delta, double h) {
  if (!(std::fabs(delta) < h)) return 0.0;
  return 0.5 * (1.0 + std::cos(kPi * delta / h));
}

// Distance along a plane seabed from the foot of the perpendicular (at
// `nearestM`) to where the range circle `r` meets it; 0 inside the nearest
// distance.
inline double SeabedAlong(double nearestM, double r) {
  return r > nearestM ? std::sqrt(r * r - nearestM * nearestM) : 0.0;
}

// Amplitude factor of an echo from slant range r.
inline double RangeGain(const SceneParams& p, double r, double fullRangeM) {
  if (p.rangeFalloffDb <= 0.0 || fullRangeM <= 0.0) return 1.0;
  return std::pow(10.0, -p.rangeFalloffDb * (r / fullRangeM) / 20.0);
}

void BuildTables(const SceneParams& p) {
  SceneState& s = g_scene;
  s.params = p;
  s.type = p.dataType;
  s.samples = SceneSamples(p);
  s.shift = SceneDelayShift(p);
  s.metresPerSample = SceneMetresPerSample(p);

  // Half-power width of the envelope = the pulse's extent in range,
  // c · PL / 2, in samples.
  const double pulseSamples = ScenePulseUs(p) * 1e-6 * p.soundSpeed * 0.5 / s.metresPerSample;
  double h = pulseSamples < 1.5 ? 1.5 : pulseSamples;
  if (h > kMaxPulseHalfWidth) h = kMaxPulseHalfWidth;
  s.pulseHalfWidth = h;
  s.envReach = static_cast<int>(std::ceil(h)) - 1;
  double sum = 0.0, sumSq = 0.0;
  for (int k = -s.envReach; k <= s.envReach; ++k) {
    const double v = EnvelopeAt(k, h);
    s.env[k + s.envReach] = static_cast<float>(v);
    sum += v;
    sumSq += v * v;
  }
  // Neighbouring patches add in phase without speckle and in power with it;
  // either way a patch row of strength A reads as amplitude A.
  s.seabedNorm = p.speckle ? 1.0 / std::sqrt(sumSq) : 1.0 / sum;

  const int n = s.samples;
  const int reach = s.envReach;
  s.patchBase = s.shift - reach;
  s.patchCount = n + 2 * reach;
  std::memset(s.patchAmp, 0, sizeof s.patchAmp);
  const double fullRangeM = n * s.metresPerSample;
  const double alpha = p.slopeDeg * kDegToRad;
  const double nearestM = p.depthM * std::cos(alpha);  // perpendicular distance to the seabed
  for (int i = 0; p.seabed && p.transmit && i < s.patchCount; ++i) {
    const double r = (s.patchBase + i) * s.metresPerSample;
    if (r <= 0.0 || r < nearestM) continue;
    // The range circle r meets the seabed where cos(θ + α) = nearest / r.
    const double spread = std::acos(nearestM / r);
    const double angles[kPatchesPerSample] = {-alpha - spread, -alpha + spread};
    const int count = spread > 0.0 ? 2 : 1;
    // A patch stands for every scatterer of the seabed strip that this sample
    // cuts out; the strip is wide near the foot of the perpendicular and
    // narrows to one sample towards grazing. Its scatterers add in power, so
    // the patch amplitude goes with the square root of the strip's width.
    // Without this the seabed would be brighter per degree the further out
    // it lies, and dark under the sonar.
    const double stripM = SeabedAlong(nearestM, r + 0.5 * s.metresPerSample) -
                          SeabedAlong(nearestM, r - 0.5 * s.metresPerSample);
    const double areaGain = std::sqrt(stripM / s.metresPerSample);
    for (int j = 0; j < count; ++j) {
      const double theta = angles[j];
      if (std::fabs(theta) > kMaxSeabedAngleRad) continue;
      const double incidence = theta + alpha;  // from the seabed normal
      const double c = std::fabs(std::cos(incidence));
      const double a = p.seabedStrength * s.seabedNorm * areaGain * std::pow(c, p.angleFalloff) *
                       RangeGain(p, r, fullRangeM);
      s.patchAmp[i][j] = static_cast<float>(a);
      ElementPhasors(PhaseStepOf(p, theta), s.patchRe[i][j], s.patchIm[i][j]);
    }
  }
  s.built = 1;
  s.pingIndex = -1;
  s.recordLength = 0;
  s.tableBuilds++;
}

int EnsureTables(const SceneParams& p) {
  if (g_scene.built && g_scene.params == p) return 1;
  if (!ValidateScene(p, nullptr, 0)) return 0;
  BuildTables(p);
  return 1;
}

}  // namespace

void ResetScene() {
  // The record is large; reset in place rather than through a temporary.
  g_scene.params = SceneParams{};
  g_scene.built = 0;
  g_scene.type = 0;
  g_scene.samples = 500;
  g_scene.shift = 0;
  g_scene.metresPerSample = 0.06;
  g_scene.pulseHalfWidth = 1.5;
  g_scene.envReach = 1;
  std::memset(g_scene.env, 0, sizeof g_scene.env);
  g_scene.seabedNorm = 1.0;
  g_scene.patchBase = 0;
  g_scene.patchCount = 0;
  std::memset(g_scene.patchAmp, 0, sizeof g_scene.patchAmp);
  std::memset(g_scene.patchRe, 0, sizeof g_scene.patchRe);
  std::memset(g_scene.patchIm, 0, sizeof g_scene.patchIm);
  std::memset(g_scene.srcRe, 0, sizeof g_scene.srcRe);
  std::memset(g_scene.srcIm, 0, sizeof g_scene.srcIm);
  g_scene.pingIndex = -1;
  g_scene.recordLength = 0;
  std::memset(g_scene.record, 0, sizeof g_scene.record);
  g_scene.tableBuilds = 0;
  g_scene.pingsSynthesized = 0;
}

// ============================================================ [SECTION] Synthesis

namespace {

// Complex baseband of one element at raw sample q is kept in two small rows
// per element while the ping is built.
float s_zRe[kMaxSamples][kElements];
float s_zIm[kMaxSamples][kElements];

void SeabedSources(const SceneParams& p, int pingIndex) {
  SceneState& s = g_scene;
  Rng rng = StreamOf(p.seed, pingIndex, 1);
  for (int i = 0; i < s.patchCount; ++i) {
    float* re = s.srcRe[i];
    float* im = s.srcIm[i];
    for (int e = 0; e < kElements; ++e) re[e] = im[e] = 0.f;
    for (int j = 0; j < kPatchesPerSample; ++j) {
      const float a = s.patchAmp[i][j];
      if (a == 0.f) continue;
      float xr = a, xi = 0.f;
      if (p.speckle) {
        // Complex Gaussian of unit mean power: Rayleigh amplitude, uniform phase.
        double g1, g2;
        Gaussian2(rng, &g1, &g2);
        xr = static_cast<float>(a * g1 * 0.7071067811865476);
        xi = static_cast<float>(a * g2 * 0.7071067811865476);
      }
      const float* pr = s.patchRe[i][j];
      const float* pi = s.patchIm[i][j];
      for (int e = 0; e < kElements; ++e) {
        re[e] += xr * pr[e] - xi * pi[e];
        im[e] += xr * pi[e] + xi * pr[e];
      }
    }
  }
}

// z(q) = sum over the envelope taps of the seabed sources around true sample q + shift.
void ConvolveSeabed() {
  SceneState& s = g_scene;
  const int n = s.samples;
  const int reach = s.envReach;
  for (int q = 0; q < n; ++q) {
    float* zr = s_zRe[q];
    float* zi = s_zIm[q];
    for (int e = 0; e < kElements; ++e) zr[e] = zi[e] = 0.f;
    // Patch index of true sample t = q + shift is t - patchBase = q + reach.
    for (int k = -reach; k <= reach; ++k) {
      const float w = s.env[k + reach];
      const float* re = s.srcRe[q + reach - k];
      const float* im = s.srcIm[q + reach - k];
      for (int e = 0; e < kElements; ++e) {
        zr[e] += w * re[e];
        zi[e] += w * im[e];
      }
    }
  }
}

void AddTargets(const SceneParams& p) {
  const SceneState& s = g_scene;
  const double fullRangeM = s.samples * s.metresPerSample;
  const double h = s.pulseHalfWidth;
  for (int i = 0; i < p.targetCount; ++i) {
    const PointTarget& t = p.targets[i];
    if (t.strength <= 0.0) continue;
    const double centre = t.rangeM / s.metresPerSample;  // true sample
    float re[kElements], im[kElements];
    ElementPhasors(PhaseStepOf(p, t.angleDeg * kDegToRad), re, im);
    const double a = t.strength * RangeGain(p, t.rangeM, fullRangeM);
    const int t0 = static_cast<int>(std::floor(centre - h));
    const int t1 = static_cast<int>(std::ceil(centre + h));
    for (int tt = t0; tt <= t1; ++tt) {
      const int q = tt - s.shift;
      if (q < 0 || q >= s.samples) continue;
      const float w = static_cast<float>(a * EnvelopeAt(tt - centre, h));
      if (w == 0.f) continue;
      for (int e = 0; e < kElements; ++e) {
        s_zRe[q][e] += w * re[e];
        s_zIm[q][e] += w * im[e];
      }
    }
  }
}

inline uint8_t ToByte(double v) {
  const double b = std::floor(127.5 + v);
  if (b <= 0.0) return 0;
  if (b >= 255.0) return 255;
  return static_cast<uint8_t>(b);
}

// Real samples on the quarter-rate carrier: Re(z e^{jπq/2}) plus noise, in
// the raw element order of the mounting.
void WriteElementData(const SceneParams& p, int pingIndex, uint8_t* data) {
  const SceneState& s = g_scene;
  Rng rng = StreamOf(p.seed, pingIndex, 2);
  const int up = p.xdcr == 1;
  const double sigma = p.noise;
  for (int q = 0; q < s.samples; ++q) {
    const float* zr = s_zRe[q];
    const float* zi = s_zIm[q];
    uint8_t* group = data + q * kElements;
    double noise[kElements] = {};
    if (sigma > 0.0)
      for (int e = 0; e < kElements; e += 2) Gaussian2(rng, &noise[e], &noise[e + 1]);
    for (int e = 0; e < kElements; ++e) {
      double v;
      switch (q & 3) {
        case 0: v = zr[e]; break;
        case 1: v = -zi[e]; break;
        case 2: v = -zr[e]; break;
        default: v = zi[e]; break;
      }
      group[up ? kElements - 1 - e : e] = ToByte(v + sigma * noise[e]);
    }
  }
}

int BuildRecord(const SceneParams& p, int pingIndex, uint8_t* out) {
  if (!EnsureTables(p)) return 0;
  SceneState& s = g_scene;
  const DataTypeInfo& dt = kDataTypes[s.type];
  if (p.seabed && p.transmit) {
    SeabedSources(p, pingIndex);
    ConvolveSeabed();
  } else {
    std::memset(s_zRe, 0, sizeof s_zRe);
    std::memset(s_zIm, 0, sizeof s_zIm);
  }
  if (p.transmit) AddTargets(p);

  std::memset(out, 127, static_cast<size_t>(dt.recordLength));
  uint8_t* data = out + kRecordHeaderBytes;
  WriteElementData(p, pingIndex, data);
  // "Z" and "Y" carry more element bytes than the console decodes; the head
  // leaves them silent here.

  const int scrambled = p.scrambled && (s.type == 0 || s.type == 1);
  out[0] = 'I';
  out[1] = static_cast<uint8_t>(dt.letter);
  out[2] = 'X';
  out[3] = 0;
  out[4] = 0;
  out[5] = static_cast<uint8_t>(dt.packetsPerPing - 1);
  out[6] = static_cast<uint8_t>(scrambled ? 0x20 : 0x00);
  out[7] = static_cast<uint8_t>(SceneRangeCode(p));
  out[8] = static_cast<uint8_t>(HeadTypeIndexOfSetting(p.headTypeSetting));
  out[9] = static_cast<uint8_t>(p.headModeCode);
  out[10] = 0;
  out[11] = 0;
  if (scrambled) ScrambleElementData(data, dt.packetsPerPing);
  out[dt.recordLength - 1] = static_cast<uint8_t>(kEndByte);
  s.pingsSynthesized++;
  return dt.recordLength;
}

// The scene's ping in g_scene.record, synthesised unless it is already there.
int CachedPing(const SceneParams& p, int pingIndex) {
  if (g_scene.built && g_scene.params == p && g_scene.pingIndex == pingIndex && g_scene.recordLength > 0)
    return g_scene.recordLength;
  const int length = BuildRecord(p, pingIndex, g_scene.record);
  g_scene.pingIndex = length > 0 ? pingIndex : -1;
  g_scene.recordLength = length;
  return length;
}

}  // namespace

int SynthesizePing(const SceneParams& p, int pingIndex, uint8_t* out) {
  if (out == nullptr) return 0;
  const int length = CachedPing(p, pingIndex);
  if (length > 0) std::memcpy(out, g_scene.record, static_cast<size_t>(length));
  return length;
}

// ============================================================ [SECTION] Packets

// ReturnPacket k: bytes 0-11 as the record header with byte 5 = k, 12-31 0,
// 32-1031 the record's element bytes 1000 k .. 1000 k + 999, 1032 0xFC.
int GetPacket(const SceneParams& p, int pingIndex, int packetIndex, uint8_t out[kReturnPacketBytes]) {
  if (out == nullptr || p.dataType < 0 || p.dataType >= kDataTypeCount) return 0;
  const int packets = kDataTypes[p.dataType].packetsPerPing;
  if (packetIndex < 0 || packetIndex >= packets) return 0;
  if (CachedPing(p, pingIndex) == 0) return 0;
  const uint8_t* record = g_scene.record;
  std::memset(out, 0, kReturnPacketBytes);
  std::memcpy(out, record, kRecordHeaderBytes);
  out[5] = static_cast<uint8_t>(packetIndex);
  std::memcpy(out + kPacketDataOffset, record + kRecordHeaderBytes + kPacketDataBytes * packetIndex,
              kPacketDataBytes);
  out[kReturnPacketBytes - 1] = static_cast<uint8_t>(kEndByte);
  return 1;
}

int SynthesizePackets(const SceneParams& p, int pingIndex, uint8_t (*out)[kReturnPacketBytes], int maxPackets) {
  if (out == nullptr || p.dataType < 0 || p.dataType >= kDataTypeCount) return 0;
  const int packets = kDataTypes[p.dataType].packetsPerPing;
  if (maxPackets < packets) return 0;
  for (int k = 0; k < packets; ++k)
    if (!GetPacket(p, pingIndex, k, out[k])) return 0;
  return packets;
}
