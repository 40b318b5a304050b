// Profile point filters. Raw detections (g_profilePoints, filled by
// profile_detect) hold outliers from fish, side lobes, multiples and noise and
// leave gaps where the bottom echo is weak; these stages clean them up in
// place within the ping, and the averaging ring smooths them from ping to
// ping. Inputs besides the point set: the beam geometry (beamform), the
// flat-bottom flag of the previous ping, and the "Filter Settings" values of
// g_settings. Owns the sort arrays, segment histograms, the averaging ring and
// the advanced filter values that have no INI key.
//
// Index: [sort] [segment outliers] [flat-bottom filter] [gap fill]
//        [main filter] [removed points] [averaging]
#include "processing/profile_filter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "processing/beamform.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

ProfileFilterState g_filter;

static constexpr double kHalfPi = 1.5707963267948966;
static constexpr double kQuarterPi = 0.7853981633974483;

void ResetPointHistory() {
  for (int s = 0; s < kPointAvgSlots; ++s)
    for (int b = 0; b < kMaxBeams; ++b) g_filter.ring[s][b] = 0.0f;
  for (int b = 0; b < kMaxBeams; ++b) g_filter.ringSum[b] = 0.0f;
  g_filter.ringSlot = 0;
}

void ResetProfileFilter() { g_filter = ProfileFilterState{}; }

static int BeamCount() {
  const int n = g_profilePoints.beams;
  return n < 0 ? 0 : (n > kMaxBeams ? kMaxBeams : n);
}

static void RemovePoint(int b) {
  ProfilePointSet& p = g_profilePoints;
  p.Down[b] = 0.0f;
  p.Across[b] = 0.0f;
  p.RemovedRange[b] = static_cast<int>(p.Range[b]);
  p.Range[b] = 0.0f;
  p.PeakLevel[b] = 0;
}

// ================================================================ [sort]
// SortedAcross ascending; SortedBeam[p] is the highest-numbered beam whose
// Across equals SortedAcross[p], so the beams without a point (Across 0) all
// map to one beam. Sorting (Across, beam) pairs gives exactly what a
// min/max selection sort gives, in N log N instead of N^2, and has no
// unplaced middle slot for an odd beam count.
void SortByAcross() {
  const int n = BeamCount();
  const ProfilePointSet& p = g_profilePoints;
  // Each beam becomes one 64-bit key, its across-track position mapped to
  // an unsigned integer of the same order above its beam number: sorting the
  // keys orders by position and ties by beam, as comparing the floats would,
  // without an indirect comparison per step (a third of the sort's time).
  // -0 (a beam without a point left of the nadir) is 0, as it compares.
  uint64_t keys[kMaxBeams];
  for (int b = 0; b < n; ++b) {
    const float across = p.Across[b] + 0.0f;
    uint32_t bits;
    std::memcpy(&bits, &across, sizeof bits);
    bits = (bits & 0x80000000u) ? ~bits : bits | 0x80000000u;
    keys[b] = static_cast<uint64_t>(bits) << 32 | static_cast<uint32_t>(b);
  }
  std::sort(keys, keys + n);
  int order[kMaxBeams];
  for (int q = 0; q < n; ++q) order[q] = static_cast<int>(keys[q] & 0xFFFFFFFFu);
  int pos = 0;
  while (pos < n) {
    int end = pos;
    while (end + 1 < n && p.Across[order[end + 1]] == p.Across[order[pos]]) ++end;
    const int highest = order[end];  // ties are ordered by beam, the last is the highest
    for (int q = pos; q <= end; ++q) {
      g_filter.SortedAcross[q] = p.Across[order[q]];
      g_filter.SortedBeam[q] = highest;
    }
    pos = end + 1;
  }
}

// ================================================================ [segment outliers]
// The swath is cut into segments of equal across-track length; in each, the
// most common 50-sample depth bin is taken as the bottom. Deep mode drops
// points well below it (multiples, side lobes), short mode points well above
// it (fish, noise), unless the bottom of that segment is too ill-defined.
void RemoveSegmentOutliers(int mode) {
  const int n = BeamCount();
  g_filter.segmentCount = 0;
  if (n < 1) return;
  SortByAcross();
  ProfilePointSet& p = g_profilePoints;
  int segments = g_filter.segments;
  if (g_flatBottomFlag == 1) segments = 1;
  segments = std::clamp(segments, 1, kMaxSegments);
  const float first = g_filter.SortedAcross[0];
  const float length = (g_filter.SortedAcross[n - 1] - first) / static_cast<float>(segments);

  int pos = 0;
  for (int s = 0; s < segments; ++s) {
    int* hist = g_filter.histogram[s];
    for (int k = 0; k < kDepthBins; ++k) hist[k] = 0;
    int count = 0;
    const int start = pos;
    const float bound = static_cast<float>(s + 1) * length + first;
    int last = n - 1;
    for (int q = start; q < n; ++q) {
      ++count;
      const float down = p.Down[g_filter.SortedBeam[q]];
      for (int k = 0; k < kDepthBins; ++k) {
        if (down > 50.0f * k && down <= 50.0f * k + 49.0f) {
          ++hist[k];
          break;
        }
      }
      if (!(g_filter.SortedAcross[q] < bound)) {
        last = q;
        break;
      }
    }
    int mode = 0;
    for (int k = 1; k < kDepthBins; ++k)
      if (hist[k] > hist[mode]) mode = k;
    g_filter.modeDepth[s] = 50 * mode + 25;
    g_filter.modeCount[s] = hist[mode];
    g_filter.binned[s] = hist[mode] > 0;
    g_filter.pointCount[s] = count;
    g_filter.firstPosition[s] = start;
    g_filter.lastPosition[s] = last;
    pos = last;  // the last position also opens the next segment
  }
  g_filter.segmentCount = segments;

  for (int s = 0; s < segments; ++s) {
    // A segment none of whose points fell in a bin (all between bins or
    // deeper than 499) has no bottom to measure against; judging it against
    // the empty first bin would throw away every point it has.
    if (!g_filter.binned[s]) continue;
    const float dm = static_cast<float>(g_filter.modeDepth[s]);
    float limit;
    if (mode == kSegmentDeep) {
      limit = std::clamp(0.5f * dm, 25.0f, 100.0f);
    } else {
      limit = static_cast<float>(g_settings.ProfilePointFilter_g_ol_fil_val);
      // An ill-defined bottom (mode bin under a quarter of the positions)
      // says nothing about what lies above it: keep every shallow point.
      if (4 * g_filter.modeCount[s] < g_filter.pointCount[s]) limit = 510.0f;
    }
    for (int q = g_filter.firstPosition[s]; q <= g_filter.lastPosition[s]; ++q) {
      const int b = g_filter.SortedBeam[q];
      const float excess = mode == kSegmentDeep ? p.Down[b] - dm : dm - p.Down[b];
      if (excess > limit) RemovePoint(b);
    }
  }
}

// ================================================================ [flat-bottom filter]
// Over a flat bottom every point should agree with a trimmed mean of its ten
// across-track neighbours; disagreeing or isolated points go. Down is
// replaced in place, so later windows already see the smoothed values.
void FlatBottomFilter() {
  const int n = BeamCount();
  ProfilePointSet& p = g_profilePoints;
  float result[kMaxBeams];
  for (int b = 0; b < n; ++b) result[b] = p.Range[b];
  for (int j = 5; j <= n - 6; ++j) {
    const int c = g_filter.SortedBeam[j];
    double sum = 0.0;
    int count = 0;
    // The minimum starts at 500 samples, the deepest point of 500-sample
    // data; on 1000-sample data a window deeper than that trims the 500
    // instead of its shallowest point. Readers of our point outputs compare
    // against exactly this, so it stays.
    float lo = 500.0f, hi = 0.0f;
    for (int q = j - 5; q <= j + 4; ++q) {
      const float d = p.Down[g_filter.SortedBeam[q]];
      if (d <= 0.0f) continue;
      if (d < lo) lo = d;
      if (d > hi) hi = d;
      sum += d;
      ++count;
    }
    if (count < 3 || p.Down[c] <= 0.0f) {
      p.Down[c] = 0.0f;
      result[c] = 0.0f;
      continue;
    }
    const float a = static_cast<float>((sum - lo - hi) / (count - 2));
    const float angle = p.SteerAngle[c];
    if (!(angle > -kHalfPi && angle < kHalfPi) || std::fabs(a - p.Down[c]) >= 20.0f) {
      p.Down[c] = 0.0f;
      result[c] = 0.0f;
      continue;
    }
    p.Down[c] = a;
    result[c] = std::min(a / std::cos(angle), kFilterRangeLimit);
  }
  for (int b = 0; b < n; ++b) p.Range[b] = result[b];
}

// ================================================================ [gap fill]
struct GapRule {
  float slopeThreshold;   // |X_R - X_L| above this gives a slope
  int widthFactor;        // longest gap = |trunc(cos(angle_L) * widthFactor)|
  int bottomFollowing;    // slope limit by gap size, range limit, Down written
};

static void FillGaps(const GapRule& rule) {
  const int n = BeamCount();
  ProfilePointSet& p = g_profilePoints;
  const double dTheta = g_beamGeom.beamSpacingRad;
  int left = -1;
  for (int b = 0; b < n; ++b) {
    if (p.Range[b] <= 0.0f) continue;
    if (left >= 0 && b - left > 1) {
      const int gap = b - left;
      const float xl = p.Across[left], zl = p.Down[left];
      const float xr = p.Across[b], zr = p.Down[b];
      const float dx = std::fabs(xr - xl);
      const float slope = dx > rule.slopeThreshold ? (zr - zl) / dx : 0.0f;
      const double angleL = p.SteerAngle[left];
      const int longest = std::abs(static_cast<int>(std::cos(angleL) * rule.widthFactor));
      const float maxSlope = (rule.bottomFollowing && gap <= 4) ? 1.0f : 0.25f;
      if (gap <= longest && std::fabs(slope) <= maxSlope) {
        for (int k = 1; k < gap; ++k) {
          const float z = zl + static_cast<float>(k) * slope;
          const double a = angleL + k * dTheta;
          float range = 0.0f;
          const double c = std::cos(a);
          if (a > -kHalfPi && a < kHalfPi && c != 0.0) range = static_cast<float>(z / c);
          if (rule.bottomFollowing) {
            if (range >= kFilterRangeLimit) range = kFilterRangeLimit;
            p.Down[left + k] = z;
          }
          p.Range[left + k] = range;
          p.PeakLevel[left + k] = p.PeakLevel[left];
        }
      }
    }
    left = b;
  }
}

void FillGapsMaximumReturn() { FillGaps(GapRule{1.0f, 40, 0}); }

void FillGapsBottomFollowing() {
  const int step = g_settings.StepSize;
  const int w = step == 0 ? 80 : step == 2 ? 20 : 40;
  FillGaps(GapRule{0.0f, w, 1});
}

// ================================================================ [main filter]
// Each point is compared with the mean of its neighbours on either side
// (a window that narrows toward the edges of the fan); a point more than 10
// samples off is dropped, the rest are replaced by that mean.
void MainFilter() {
  const int n = BeamCount();
  ProfilePointSet& p = g_profilePoints;
  const int step = g_settings.StepSize;
  int w = step == 0 ? 12 : step == 1 ? 6 : step == 2 ? 3 : 6;
  if (g_filter.maxPoints == 1) w = 3;
  float result[kMaxBeams];
  for (int b = 0; b < n; ++b) result[b] = 0.0f;
  for (int j = w / 2; j <= n - w / 2 - 1; ++j) {
    const double angle = p.SteerAngle[j];
    const double cosAngle = g_detect.steerCos[j];
    const int k = std::max(2, static_cast<int>(cosAngle * w));
    double sumL = 0.0, sumR = 0.0;
    int countL = 0, countR = 0;
    for (int i = j - k; i <= j; ++i) {
      if (i < 0 || i >= n) continue;
      const float r = p.Range[i];
      if (r > 0.0f && r < kFilterRangeLimit) {
        sumL += r;
        ++countL;
      }
    }
    for (int i = j; i <= j + k; ++i) {
      if (i < 0 || i >= n) continue;
      const float r = p.Range[i];
      if (r > 0.0f && r < kFilterRangeLimit) {
        sumR += r;
        ++countR;
      }
    }
    double aL = countL > 0 ? sumL / countL : 0.0;
    double aR = countR > 0 ? sumR / countR : 0.0;
    if (std::fabs(angle) > kQuarterPi && std::abs(countL - countR) > 1) aL = aR = 0.0;
    const double m = (aL > 0.0 && aR > 0.0) ? (aL + aR) / 2.0 : 0.0;
    if (std::fabs(p.Range[j] - m) >= 10.0) {
      result[j] = 0.0f;
      p.Down[j] = 0.0f;
      p.Across[j] = 0.0f;
    } else {
      result[j] = static_cast<float>(m);
      p.Down[j] = static_cast<float>(m * cosAngle);
      p.Across[j] = static_cast<float>(m * g_detect.steerSin[j]);
    }
  }
  for (int b = 0; b < w && b < n; ++b) result[b] = 0.0f;
  for (int b = std::max(0, n - w); b < n; ++b) result[b] = 0.0f;
  for (int b = 0; b < n; ++b) p.Range[b] = result[b];
}

void FilterBottomFollowing() {
  if (g_filter.deepOutlierSw) RemoveSegmentOutliers(kSegmentDeep);
  if (g_settings.ProfilePointFilter_g_short_outliers_sw) RemoveSegmentOutliers(kSegmentShort);
  if (g_settings.ProfilePointFilter_g_pre_filter_sw) {
    // The filter walks the across-track order; make sure it is this ping's.
    if (!g_filter.deepOutlierSw && !g_settings.ProfilePointFilter_g_short_outliers_sw) SortByAcross();
    FlatBottomFilter();
  }
  if (g_settings.ProfilePointFilter_g_fill_beams_sw) FillGapsBottomFollowing();
  if (g_settings.ProfilePointFilter_g_main_filter_sw) MainFilter();
}

// ================================================================ [removed points]
// The picture is dimmed (unless the artificial bottom dims it anyway) and each
// removed point left as a small mark over three beams, five samples deep.
void MarkRemovedPoints() {
  const int n = BeamCount();
  const int samples = std::clamp(g_beamGeom.samples, 0, kMaxSamples);
  const float level = static_cast<float>(g_settings.ProfilePointFilter_g_bgd_lev);
  const ProfilePointSet& p = g_profilePoints;
  for (int b = 1; b < n; ++b) {
    if (g_settings.ProfilePointType == 0)
      for (int s = 0; s < samples; ++s) g_beamImage[b][s] *= level;
    const int removed = p.RemovedRange[b];
    if (removed > 0 && removed < 494) {
      for (int beam = b - 1; beam <= b + 1; ++beam) {
        if (beam >= n) continue;  // the last beam has no right-hand neighbour
        for (int s = removed + 1; s <= removed + 5; ++s) g_beamImage[beam][s] = 50.0f;
      }
    }
  }
}

// ================================================================ [averaging]
// A running sum over the last A pings per beam, divided by the pings in which
// the beam had a point: a beam seen once in three pings keeps that range.
void AveragePoints() {
  const int n = BeamCount();
  ProfilePointSet& p = g_profilePoints;
  const int depth = std::clamp(g_settings.AvgFilterIndex, kPointAvgMin, kPointAvgMax);
  int slot = g_filter.ringSlot;
  if (slot < 0 || slot >= depth) slot = 0;
  const int replace = g_settings.ProfilePointFilter == 2;
  for (int b = 0; b < n; ++b) {
    float sum = g_filter.ringSum[b] - g_filter.ring[slot][b];
    if (sum < 0.0f) sum = 0.0f;
    g_filter.ring[slot][b] = p.Range[b];
    sum += p.Range[b];
    g_filter.ringSum[b] = sum;
    if (!replace) continue;
    int q = 0;
    for (int s = 0; s < depth; ++s)
      if (g_filter.ring[s][b] > 0.0f) ++q;
    p.Range[b] = q > 0 ? sum / static_cast<float>(q) : 0.0f;
  }
  g_filter.ringSlot = slot + 1 >= depth ? 0 : slot + 1;
}
