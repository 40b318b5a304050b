// Profile point detection. After the beamformer has filled BeamImage for a
// ping, every beam is searched for the bottom and keeps at most one point, a
// sample index along the beam; its steering angle turns it into an
// across-track position and a depth. Three methods: First Return (the first
// echo above the threshold in the depth window), Maximum Return (the most
// energetic echo segment in the window) and Bottom Following (the same with a
// multiple rule, a flat-bottom second-echo rule and the filter chain of
// profile_filter). Reads BeamImage, the geometry and the first-pass element
// I/Q (beamform), g_settings, g_switch (range offset) and g_ping (range
// scale factor). Owns the point set, the output arrays, the point
// intensity, the altitude, the swath extents and FlatBottomFlag's value.
//
// Index: [state] [common quantities] [first return] [segments]
//        [maximum return] [bottom following] [after detection]
//        [intensity and outputs] [altitude] [limits and external control]
#include "processing/profile_detect.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "head/return_data.h"
#include "head/switch_command.h"
#include "processing/beamform.h"
#include "processing/median_filter.h"
#include "processing/profile_filter.h"
#include "settings/settings.h"

// ================================================================ [state]
ProfilePointSet g_profilePoints;
int g_profileOutputCount = 0;
int32_t g_pointRangeTenths[kMaxBeams] = {};
ProfileOutputBeam g_profileOutputBeam[kMaxBeams];
int g_pointIntensity[kMaxBeams] = {};
ProfileDetectState g_detect;

static constexpr double kDegToRad = 0.017453292;  // the tilt's conversion
static constexpr double kPi = 3.14159265358979323846;
static constexpr int kChoiceSegments = 40;  // segments that take part in the choice
static constexpr float kArtificialBottomLevel = 106.0f;  // profile-point colour

void ResetProfileDetect() {
  const float level = g_detect.detectionLevelPct;
  const float minRange = g_detect.minimumRangeM;
  g_detect = ProfileDetectState{};
  g_detect.detectionLevelPct = level;
  g_detect.minimumRangeM = minRange;
  g_profilePoints = ProfilePointSet{};
  g_profileOutputCount = 0;
  for (int i = 0; i < kMaxBeams; ++i) {
    g_pointRangeTenths[i] = 0;
    g_profileOutputBeam[i] = ProfileOutputBeam{};
    g_pointIntensity[i] = 0;
  }
}

// ================================================================ [common quantities]
struct DetectSetup {
  int beams;        // N
  int samples;      // n
  double rangeM;    // R
  float threshold;  // T
  int blank;        // B0
  double zmin, zmax;  // vertical window, samples
  float jump;       // J
};

double DetectionRangeM() { return RangeMetersOfStep(g_settings.Range); }

double ProfileSteerAngle(int beam) {
  const BeamGeometry& g = g_beamGeom;
  return beam * g.beamSpacingRad - g.halfSectorRad + g.beamSpacingRad / 2.0 +
         g_settings.ProfileTiltAngle * kDegToRad;
}

static int JumpLimit() {
  switch (g_settings.StepSize) {
    case 1: return 20;
    case 2: return 40;
    default: return 10;
  }
}

// SteerAngle of every beam with its cos and sin. The geometry changes with
// the settings, not from ping to ping: 960 sines and cosines twice a ping
// were 4 % of Bottom Following at 480 beams, so they are kept until it does.
static void FillSteering() {
  ProfilePointSet& p = g_profilePoints;
  ProfileDetectState& d = g_detect;
  const BeamGeometry& g = g_beamGeom;
  const double tilt = g_settings.ProfileTiltAngle;
  if (!(d.steerBeams == p.beams && d.steerSpacingRad == g.beamSpacingRad && d.steerHalfSectorRad == g.halfSectorRad &&
        d.steerTiltDeg == tilt)) {
    for (int b = 0; b < p.beams; ++b) {
      const double phi = ProfileSteerAngle(b);
      d.steerAngle[b] = static_cast<float>(phi);
      d.steerCos[b] = static_cast<float>(std::cos(phi));
      d.steerSin[b] = static_cast<float>(std::sin(phi));
    }
    d.steerBeams = p.beams;
    d.steerSpacingRad = g.beamSpacingRad;
    d.steerHalfSectorRad = g.halfSectorRad;
    d.steerTiltDeg = tilt;
  }
  for (int b = 0; b < p.beams; ++b) p.SteerAngle[b] = d.steerAngle[b];
}

// Returns 0 when the geometry cannot be searched (no beams, no samples, no
// range); the point set is then left empty.
static int PrepareDetection(DetectSetup* d) {
  d->beams = std::clamp(g_beamGeom.beams, 0, kMaxBeams);
  // One slot stays beyond n: segment energies include their end sample.
  d->samples = std::clamp(g_beamGeom.samples, 0, kMaxSamples - 1);
  d->rangeM = DetectionRangeM();
  d->threshold = static_cast<float>(g_detect.detectionLevelPct * 255.0 * 0.01);
  const double perMetre = d->rangeM > 0.0 ? 500.0 / d->rangeM : 0.0;
  const double blankM = std::max(0.0, static_cast<double>(g_detect.minimumRangeM) -
                                          static_cast<double>(g_switch.rangeOffset));
  d->blank = static_cast<int>(blankM * perMetre + 0.5);
  d->zmin = g_settings.ProfileMinDepthBelowSonar * perMetre;
  d->zmax = g_settings.ProfileMaxDepthBelowSonar * perMetre;
  d->jump = static_cast<float>(JumpLimit());
  ProfilePointSet& p = g_profilePoints;
  p.beams = d->beams;
  for (int b = 0; b < kMaxBeams; ++b) {
    p.Range[b] = 0.0f;
    p.PeakLevel[b] = 0;
    p.SteerAngle[b] = 0.0f;
    p.Across[b] = 0.0f;
    p.Down[b] = 0.0f;
    p.RemovedRange[b] = 0;
    g_detect.secondRange[b] = 0.0f;
    g_detect.thirdRange[b] = 0.0f;
  }
  FillSteering();
  return d->beams > 0 && d->samples > 1 && d->rangeM > 0.0;
}

void ComputePointGeometry() {
  FillSteering();
  ProfilePointSet& p = g_profilePoints;
  for (int b = 0; b < p.beams; ++b) {
    p.Across[b] = g_detect.steerSin[b] * p.Range[b];
    p.Down[b] = g_detect.steerCos[b] * p.Range[b];
  }
}

// First index in [s, limit) whose value is above `threshold`, or `limit`.
// Most of a beam is water below the threshold, so it is passed over in
// blocks of eight whose running maximum stays at or below it. That maximum
// starts from the block's first sample and no NaN ever replaces it, so a NaN
// first sample passes the whole block over and a later NaN is ignored; the
// vector test keeps exactly that. Two 4-lane compares a block made the
// 480-beam Bottom Following search about twice as fast as the scalar maxima.
static int SkipAtOrBelow(const float* row, int s, int limit, float threshold) {
#if defined(__SSE2__)
  const __m128 t = _mm_set1_ps(threshold);
  while (s + 8 <= limit) {
    const __m128 above = _mm_or_ps(_mm_cmpgt_ps(_mm_loadu_ps(row + s), t), _mm_cmpgt_ps(_mm_loadu_ps(row + s + 4), t));
    if (_mm_movemask_ps(above) != 0 && row[s] == row[s]) break;
    s += 8;
  }
#else
  while (s + 8 <= limit) {
    float m = row[s];
    for (int k = 1; k < 8; ++k) m = row[s + k] > m ? row[s + k] : m;
    if (m > threshold) break;
    s += 8;
  }
#endif
  while (s < limit && row[s] <= threshold) ++s;
  return s;
}

// ================================================================ [first return]
struct SimpleEcho {
  int centre = 0;
  float peak = 0.0f;
  int width = 0;
};

// Advances from `s` (the first sample looked at is s + 1) to the first sample
// above `threshold`; when it starts early enough, follows it to its end.
// Returns the position the next search continues from.
static int FindEcho(const float* row, int n, int s, int s1, float threshold, SimpleEcho* echo) {
  *echo = SimpleEcho{};
  ++s;
  const int limit = std::min(n, s1);
  if (s < limit) s = SkipAtOrBelow(row, s, limit, threshold);
  if (!(s < n - 1 && s < s1 - 1)) return s;
  const int start = s;
  float peak = 0.0f;
  while (s < n && !(row[s] < threshold)) {
    peak = std::max(peak, row[s]);
    ++s;
  }
  const int end = s;
  if (end < n - 1) {
    echo->centre = (start + end) / 2;
    echo->peak = peak;
    echo->width = end - start;
  }
  return end;
}

void DetectFirstReturn() {
  DetectSetup d;
  if (!PrepareDetection(&d)) return;
  ProfilePointSet& p = g_profilePoints;
  int centre[kMaxBeams];
  float peak[kMaxBeams];
  int prev = 0;
  for (int b = 0; b < d.beams; ++b) {
    const double c = g_detect.steerCos[b];
    // Beams at or past the horizontal search the window without the stretch.
    const double stretch = c > 0.0 ? c : 1.0;
    // Near the horizontal the stretch grows without bound; past the beam's
    // end every limit means the same.
    const double far = kMaxSamples + 1.0;
    int s0 = static_cast<int>(std::min((d.zmin + 0.5) / stretch, far));
    int s1 = static_cast<int>(std::min((d.zmax + 0.5) / stretch, far));
    s0 = std::max(s0, d.blank);
    s1 = std::max(s1, d.blank);
    const float* row = g_beamImage[b];
    SimpleEcho first, second;
    const int next = FindEcho(row, d.samples, s0, s1, d.threshold, &first);
    FindEcho(row, d.samples, next, s1, d.threshold * 0.5f, &second);
    SimpleEcho chosen = first;
    if (second.centre > 0 && std::abs(prev - first.centre) >= std::abs(prev - second.centre))
      chosen = second;
    if (second.width > first.width) chosen = second;
    centre[b] = chosen.centre;
    peak[b] = chosen.peak;
    prev = chosen.centre;
  }
  // Beams 0 and N-1 have one neighbour only and never carry a point.
  for (int b = 1; b < d.beams - 1; ++b) {
    const int jump = static_cast<int>(d.jump);
    if (std::abs(centre[b] - centre[b - 1]) >= jump ||
        std::abs(centre[b] - centre[b + 1]) >= jump)
      continue;
    p.Range[b] = static_cast<float>(centre[b]);
    p.PeakLevel[b] = p.Range[b] > 0.0f ? static_cast<int>(std::min(peak[b], 255.0f)) : 0;
  }
  ComputePointGeometry();
}

// ================================================================ [segments]
struct EchoSegment {
  int start;
  int end;       // first sample below the threshold
  int centre;    // 0 when not recorded
  float energy;  // values from start to end inclusive
  int count;
  float peak;
};

// Collects up to kMaxEchoSegments runs at or above T from `from` on. Maximum
// Return records a centre only for segments that end before the last sample;
// Bottom Following accepts them up to n - 2 and always records the centre.
static int CollectSegments(const float* row, int n, int from, float threshold, int bottomFollowing,
                           EchoSegment* out) {
  int count = 0;
  int s = std::max(from, 0);
  const int startLimit = bottomFollowing ? n - 2 : n - 1;
  while (count < kMaxEchoSegments) {
    s = SkipAtOrBelow(row, s, n - 1, threshold);
    if (s >= startLimit) break;
    EchoSegment& seg = out[count++];
    seg.start = s;
    float energy = 0.0f, peak = 0.0f;
    while (s < n && !(row[s] < threshold)) {
      energy += row[s];
      peak = std::max(peak, row[s]);
      ++s;
    }
    seg.end = s;
    seg.energy = energy + row[s];  // s <= n < kMaxSamples
    seg.count = seg.end - seg.start + 1;
    seg.peak = peak;
    seg.centre = (bottomFollowing || seg.end < n - 1) ? (seg.start + seg.end) / 2 : 0;
    if (seg.end >= n - 1) break;
  }
  return count;
}

// Index of the strongest segment in [first, last) whose vertical position lies
// in the window, or -1. Starts from a best energy of T; on equal energy the
// later (deeper) segment wins.
static int StrongestInWindow(const EchoSegment* seg, int first, int last, double c,
                             const DetectSetup& d) {
  int best = -1;
  float bestEnergy = d.threshold;
  for (int k = first; k < last; ++k) {
    const double z = c * seg[k].centre;
    if (!(z >= d.zmin + 0.5 && z <= d.zmax + 0.5)) continue;
    if (seg[k].energy >= bestEnergy) {
      bestEnergy = seg[k].energy;
      best = k;
    }
  }
  return best;
}

// Clears points whose range jumps by J or more from either neighbour; the
// comparison uses the ranges as detected, before any is cleared.
static void NeighbourTest(const DetectSetup& d) {
  ProfilePointSet& p = g_profilePoints;
  float range[kMaxBeams];
  for (int b = 0; b < d.beams; ++b) range[b] = p.Range[b];
  for (int b = 1; b < d.beams - 1; ++b) {
    if (std::fabs(range[b] - range[b - 1]) >= d.jump || std::fabs(range[b] - range[b + 1]) >= d.jump) {
      p.Range[b] = 0.0f;
      p.PeakLevel[b] = 0;
    }
  }
}

// Far limit and final clean-up of Maximum Return and Bottom Following.
static void FarLimitAndCleanUp(const DetectSetup& d) {
  ProfilePointSet& p = g_profilePoints;
  const float far = static_cast<float>(static_cast<int>(0.95 * d.samples));
  for (int b = 0; b < d.beams; ++b) {
    if (p.Range[b] > far) p.Range[b] = 0.0f;
    if (!(p.Range[b] > 0.0f)) {
      p.Range[b] = 0.0f;
      p.PeakLevel[b] = 0;
    }
    p.PeakLevel[b] = std::min(p.PeakLevel[b], 255);
  }
}

// ================================================================ [maximum return]
void DetectMaximumReturn() {
  DetectSetup d;
  if (!PrepareDetection(&d)) return;
  ProfilePointSet& p = g_profilePoints;
  EchoSegment seg[kMaxEchoSegments];
  for (int b = 0; b < d.beams; ++b) {
    const double c = g_detect.steerCos[b];
    const int count = CollectSegments(g_beamImage[b], d.samples, d.blank, d.threshold, 0, seg);
    const int k = StrongestInWindow(seg, 0, count, c, d);
    if (k < 0) continue;
    p.Range[b] = static_cast<float>(seg[k].centre);
    p.PeakLevel[b] = static_cast<int>(std::min(seg[k].peak, 255.0f));
  }
  NeighbourTest(d);
  ComputePointGeometry();
  if (g_settings.ProfilePointFilter_g_fill_beams_sw == 1) FillGapsMaximumReturn();
  FarLimitAndCleanUp(d);
}

// ================================================================ [bottom following]
void DetectBottomFollowing() {
  DetectSetup d;
  if (!PrepareDetection(&d)) return;
  ProfilePointSet& p = g_profilePoints;
  EchoSegment seg[kMaxEchoSegments];
  for (int b = 0; b < d.beams; ++b) {
    const double c = g_detect.steerCos[b];
    const int count = CollectSegments(g_beamImage[b], d.samples, d.blank, d.threshold, 1, seg);
    const int usable = std::min(count, kChoiceSegments);
    if (usable == 0) continue;
    // Pass 1: the strongest echo in the window.
    int k1 = StrongestInWindow(seg, 0, usable, c, d);
    if (k1 >= 0) {
      p.Range[b] = static_cast<float>(seg[k1].centre);
      p.PeakLevel[b] = static_cast<int>(std::min(seg[k1].peak, 255.0f));
    } else {
      k1 = 0;
    }
    // Pass 2: the strongest deeper one.
    seg[k1].energy = 0.0f;
    int k2 = StrongestInWindow(seg, k1 + 1, usable, c, d);
    if (k2 >= 0) g_detect.secondRange[b] = static_cast<float>(seg[k2].centre);
    else k2 = k1;
    // Pass 3: the strongest that remains anywhere.
    seg[k2].energy = 0.0f;
    const int k3 = StrongestInWindow(seg, 0, usable, c, d);
    if (k3 >= 0) g_detect.thirdRange[b] = static_cast<float>(seg[k3].centre);
  }
  // Multiple rule, central half of the fan: a strong echo at about twice the
  // range of a weaker one is its multiple.
  for (int b = d.beams / 4 + 1; b < 3 * d.beams / 4; ++b) {
    const float s3 = g_detect.thirdRange[b];
    if (s3 > 0.0f && 2.0f * s3 - 50.0f < p.Range[b]) p.Range[b] = s3;
  }
  ComputePointGeometry();

  // Over a flat bottom a point far from the mean depth takes its second echo
  // when that one agrees with the mean.
  double sum = 0.0;
  int points = 0;
  for (int b = 0; b < d.beams; ++b) {
    if (p.Range[b] > 0.0f) {
      sum += p.Down[b];
      ++points;
    }
  }
  const double mean = points > 0 ? sum / points : 0.0;
  if (g_flatBottomFlag == 1) {
    for (int b = 0; b < d.beams; ++b) {
      if (!(p.Down[b] > 0.0f) || std::fabs(p.Down[b] - mean) <= 30.0) continue;
      const double c = g_detect.steerCos[b];
      const float s2 = g_detect.secondRange[b];
      // Range and depth follow the second echo; the across-track position
      // stays the first echo's until a later filter recomputes it.
      if (std::fabs(c * s2 - mean) < 30.0) {
        p.Range[b] = s2;
        p.Down[b] = static_cast<float>(c * s2);
      }
    }
  }
  FilterBottomFollowing();
  FarLimitAndCleanUp(d);
  if (g_settings.ProfilePointFilter_g_show_outliers_sw == 1) MarkRemovedPoints();
}

int DetectionWritesBeams() {
  return g_settings.ProfilePointDetection == 1 && g_settings.ProfilePointFilter_g_show_outliers_sw == 1;
}

// ================================================================ [after detection]
void FlatBottomTest() {
  const ProfilePointSet& p = g_profilePoints;
  const BeamGeometry& g = g_beamGeom;
  g_flatBottomFlag = 0;
  if (p.beams <= 0 || g.samples <= 0 || !(g.BeamSpacingFactor > 0.0f)) return;
  const double rangeM = DetectionRangeM();
  const double c0 = g_soundSpeedProfile[0];
  const double m = 13.333333333 * g_ping.rangeScaleFactor * 100.0 * rangeM / g.samples *
                   0.000001 * c0 * 0.5;
  const int b1 = static_cast<int>(20.0f / g.BeamSpacingFactor);
  const int b2 = static_cast<int>(100.0f / g.BeamSpacingFactor);
  // Narrow sectors have fewer beams than the second test beam: no verdict.
  if (b1 >= p.beams || b2 >= p.beams) return;
  if (!(p.Range[b1] > 0.0f) || !(p.Range[b2] > 0.0f)) return;
  const double z1 = std::fabs(m * p.Range[b1] * std::cos(ProfileSteerAngle(b1)));
  const double z2 = std::fabs(m * p.Range[b2] * std::cos(ProfileSteerAngle(b2)));
  if (std::fabs(z1 - z2) < 0.1 * rangeM) g_flatBottomFlag = 1;
}

static void ArtificialBottom() {
  const ProfilePointSet& p = g_profilePoints;
  const int samples = std::clamp(g_beamGeom.samples, 0, kMaxSamples);
  const float level = static_cast<float>(g_settings.ProfilePointFilter_g_bgd_lev);
  for (int b = 0; b < p.beams; ++b) {
    float* row = g_beamImage[b];
    for (int s = 0; s < samples; ++s) row[s] *= level;
    if (!(p.Range[b] > 0.0f)) continue;
    const int s1 = static_cast<int>(p.Range[b] + 1.0f);
    const int s2 = static_cast<int>(p.Range[b] + 2.0f);
    if (s1 < kMaxSamples) row[s1] = kArtificialBottomLevel;
    if (s2 < kMaxSamples) row[s2] = kArtificialBottomLevel;
  }
}

// Across-track extent of the points, in samples, starboard positive: the
// high beams, steered to positive angles, look to starboard, so starboard is
// +Across.
static void SwathExtents() {
  const ProfilePointSet& p = g_profilePoints;
  float lo = 0.0f, hi = 0.0f;
  int any = 0;
  for (int b = 0; b < p.beams; ++b) {
    if (!(p.Range[b] > 0.0f)) continue;
    const float x = g_detect.steerSin[b] * p.Range[b];
    if (!any || x < lo) lo = x;
    if (!any || x > hi) hi = x;
    any = 1;
  }
  if (!any) {
    g_detect.portExtent = -kSwathNone;
    g_detect.starboardExtent = kSwathNone;
    g_detect.swathValue = 0;
    return;
  }
  g_detect.portExtent = static_cast<int>(lo);
  g_detect.starboardExtent = static_cast<int>(hi);
  g_detect.swathValue = g_detect.starboardExtent - g_detect.portExtent;
}

void DetectProfile() {
  switch (g_settings.ProfilePointFilter) {
    case 0: DetectFirstReturn(); break;
    case 1: DetectMaximumReturn(); break;
    default: DetectBottomFollowing(); break;
  }
  AveragePoints();
  if (g_settings.ProfilePointType == 1) ArtificialBottom();
  FlatBottomTest();
  SwathExtents();
  ++g_detect.pings;
}

// ================================================================ [intensity and outputs]
// Each beam is formed again at its point from the first-pass element I/Q,
// all sixteen elements unweighted, so the intensity is the echo's own
// strength rather than the sharpened, averaged display value.
void ComputePointIntensity() {
  const ProfilePointSet& p = g_profilePoints;
  const BeamGeometry& g = g_beamGeom;
  const int samples = std::clamp(g.samples, 0, kMaxSamples);
  const double gain = g_settings.DisplayGain * 0.001;
  for (int b = 0; b < kMaxBeams; ++b) g_pointIntensity[b] = 0;
  for (int b = 0; b < p.beams; ++b) {
    if (!(p.Range[b] > 0.0f)) continue;
    const int s = static_cast<int>(p.Range[b]);
    if (s >= samples) continue;
    float sumI = 0.0f, sumQ = 0.0f;
    for (int e = 0; e < kElements; ++e) {
      const float i = g_firstPassI[e][s], q = g_firstPassQ[e][s];
      const float cs = g_steerCos[b][e], sn = g_steerSin[b][e];
      sumI += i * cs - q * sn;
      sumQ += q * cs + i * sn;
    }
    const double magnitude = gain * std::sqrt(static_cast<double>(sumI) * sumI +
                                              static_cast<double>(sumQ) * sumQ);
    const double beta =
        (b * g.sectorDeg / p.beams - g.sectorDeg / 2.0) * kPi / 180.0;
    const double c2 = std::cos(beta) * std::cos(beta);
    const double value = c2 > 1e-12 ? magnitude / c2 : (magnitude > 0.0 ? 255.0 : 0.0);
    g_pointIntensity[b] = std::clamp(static_cast<int>(std::min(255.0, value)), 0, 255);
  }
}

void BuildProfileOutput() {
  const ProfilePointSet& p = g_profilePoints;
  const int n = std::max(g_beamGeom.samples, 1);
  const double rangeM = DetectionRangeM();
  const double sector = g_beamGeom.sectorDeg;
  const int step = g_settings.StepSize;
  const double h = step == 0 ? 0.125 : step == 2 ? 0.5 : 0.25;
  const double first = g_settings.ProfileTiltAngle + (-0.5 * sector + h);
  const int beams = p.beams;
  for (int i = 0; i < beams; ++i) {
    const int b = beams - 1 - i;
    const float range = p.Range[b];
    g_pointRangeTenths[i] = static_cast<int32_t>(10.0f * range + 0.5f);
    ProfileOutputBeam& o = g_profileOutputBeam[i];
    o.RangeValue = static_cast<float>(10.0 * range * rangeM / n + g_switch.rangeOffset);
    o.AngleDeg = static_cast<float>(first + i * sector / beams);
    o.Intensity = g_pointIntensity[b];
  }
  for (int i = std::max(beams, 0); i < kMaxBeams; ++i) {
    g_pointRangeTenths[i] = 0;
    g_profileOutputBeam[i] = ProfileOutputBeam{};
  }
  g_profileOutputCount = beams;
}

// ================================================================ [altitude]
// The nine output beams around the one looking straight down; the first of
// them is believed when the median test allows it. A few pings without an
// altitude keep the last one, so a lost echo does not blank the display.
void UpdateAltitude() {
  const int beams = g_profileOutputCount;
  const int centre = static_cast<int>(beams / 2.0 + beams * g_settings.ProfileTiltAngle / 120.0);
  const double scale = 0.1 * g_ping.rangeScaleFactor * g_settings.SoundVelocityMeters / 1500.0;
  double values[kAltitudeValues];
  for (int k = 0; k < kAltitudeValues; ++k) {
    const int i = centre - 4 + k;
    // Output beams beyond the fan (steep tilts) have no range.
    values[k] = (i >= 0 && i < beams) ? g_profileOutputBeam[i].RangeValue * scale : 0.0;
  }
  const double result = OutlierFilterNine(values);
  if (result > 0.0) {
    g_detect.currentAltitudeM = result;
    g_detect.missCount = 0;
  } else if (++g_detect.missCount > kAltitudeMaxMisses) {
    g_detect.currentAltitudeM = 0.0;
  }
  int slot = g_detect.altitudeSlot;
  if (slot < 0 || slot >= kAltitudeSlots) slot = 0;
  g_detect.altitudeRing[slot] = g_detect.currentAltitudeM;
  g_detect.altitudeSlot = slot + 1 >= kAltitudeSlots ? 0 : slot + 1;
  double sum = 0.0;
  for (int k = 0; k < kAltitudeSlots; ++k) sum += g_detect.altitudeRing[k];
  g_detect.altitudeM = sum / kAltitudeSlots;
}

// ================================================================ [limits and external control]
int SetDetectionLevel(int percent) {
  if (percent < 10 || percent > 90) return 0;
  g_detect.detectionLevelPct = static_cast<float>(percent);
  return 1;
}

int SetMinimumRange(int metres) {
  if (metres < 0 || metres > 100) return 0;
  g_detect.minimumRangeM = metres == 0 ? 0.1f : static_cast<float>(metres);
  return 1;
}

