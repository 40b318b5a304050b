// Per-ping rendering. Reads the formed beams of the ping (g_beamImage, the
// beam count the tables were built for, g_sampleCount and the type letter of
// the ping record), turns them into bytes in BeamSampleBuffer and draws them
// into ImageBuffer and CleanImageBuffer through the scan-conversion tables;
// Linear mode draws straight from the beams, Beam Test from the decoder's
// element raster. It owns the persistence accumulator, the background
// removal's shown picture, the Profile waterfall picture and the per-column
// rows of the drawn profile points. Nothing here allocates: the per-ping path
// only walks fixed arrays.
//
// Index: [sample buffer] [sub-beam lines] [scan-converted walk] [linear and beam test]
// [persistence] [profile points] [waterfall] [signal level] [entry]
#include "imaging/render.h"

#include <atomic>
#include <cmath>
#include <cstring>

#include "head/return_data.h"
#include "imaging/background.h"
#include "imaging/render_kernels.h"
#include "platform/work_split.h"
#include "processing/beamform.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

RenderState g_render;

static constexpr double kPi = 3.141592654;
static constexpr double kDegToRad = kPi / 180.0;

static inline int Rnd(double v) { return static_cast<int>(v + 0.5); }

void ClearPersistence() {
  std::memset(g_render.PersistenceAccumulator, 0, sizeof g_render.PersistenceAccumulator);
  std::memset(g_render.PersistencePicture, kBackgroundIndex, sizeof g_render.PersistencePicture);
  std::memset(g_render.WaterfallPicture, kBackgroundIndex, sizeof g_render.WaterfallPicture);
  g_render.waterfallLastRow = -1;
  g_render.waterfallCarry = 0;
}

void ResetRender() {
  ClearPersistence();
  ResetRenderKernels();
  std::memset(g_render.SubBeamLines, 0, sizeof g_render.SubBeamLines);
  std::memset(g_render.SubBeamLinesTail, 0, sizeof g_render.SubBeamLinesTail);
  std::memset(g_render.PartEdgeSlots, 0, sizeof g_render.PartEdgeSlots);
  std::memset(g_render.SlotColumns, 0, sizeof g_render.SlotColumns);
  for (int c = 0; c < kImageWidth; ++c) g_render.PointRowOfColumn[c] = -1;
  g_render.pointColumns = 0;
  g_render.decay = 0.5f;
  g_render.bottomThreshold = 63.75f;
  g_render.bottomTrackActive = 0;
  g_render.pingsDrawn = 0;
  g_render.echoesDrawn = 0;
}

// ------------------------------------------------------------ sample buffer

static inline int DisplayedSamples(int foldPairs) {
  int m = foldPairs ? g_sampleCount / 2 : g_sampleCount;
  if (m > kScreenSamples) m = kScreenSamples;
  if (m < 0) m = 0;
  return m;
}

// Slot `slot` of an n-beam fan (beam n - 1 - slot) as bytes into `dst`. At
// Half Range the nearer half of the range shows at twice the scale:
// displayed samples 2s and 2s + 1 take sample s.
static void ConvertSlot(uint8_t* dst, int slot, int n, int m, int foldPairs) {
  const float* beam = g_beamImage[n - 1 - slot];
  if (g_settings.HalfRange != 1) {
    ConvertBeamRow(dst, beam, m, foldPairs);
    return;
  }
  uint8_t full[kScreenSamples];
  ConvertBeamRow(full, beam, m, foldPairs);
  for (int s = 0; s < kScreenSamples; ++s) dst[s] = full[s / 2];
}

static const uint8_t kEmptySlot[kScreenSamples] = {};

void FillBeamSamples(int foldPairs) {
  const int n = g_scan.geom.beams;
  const int m = DisplayedSamples(foldPairs);
  for (int slot = 0; slot < n; ++slot) ConvertSlot(BeamSlot(slot), slot, n, m, foldPairs);
  // The slots beside the fan are read by the edge interpolation. After a
  // change to fewer beams slot N still holds a beam of the old fan, so both
  // border slots are cleared rather than left as they were.
  std::memset(BeamSlot(-1), 0, kScreenSamples);
  std::memset(BeamSlot(n), 0, kScreenSamples);
}

// ------------------------------------------------------------ sub-beam lines

// Each displayed value is (wL A[b-1][s] + wC A[b][s] + wR A[b+1][s]) >> 8 for
// the pixel's sub-beam. Without AVX-512 the sums are formed per sub-beam and
// sample, t lines per beam, before the walk gathers one byte a pixel: many
// pixels share a sub-beam sample near the apex. A ping that brings new beams
// converts each slot just before the lines that read it, so the three slots
// are still in the first-level cache. With AVX-512 the walk forms each
// pixel's sum itself from the slots turned on their side (SlotColumns): the
// lines are 960 kB a ping of which the 262 000 pixels of a Sector picture
// read a quarter, and writing and reading them cost more than the sums.
//
// Split in two, the parts take pieces in turn from a shared counter (a
// block of 16 slots for the direct walk, 16 beams for the lines) until none
// is left, so a helper that gets less of its core than the caller does less
// of the work instead of holding the ping up. Each piece writes only its own
// slots, lines and columns; for the lines it converts the slot either side
// of its beams into its part's own edge slots instead of reading another
// piece's.
constexpr int kLineChunkBeams = 16;

struct SubBeamJob {
  int convert;    // the ping's beams become the slots; 0 draws from the slots as they are
  int foldPairs;
  int m;          // displayed samples
  int beams;      // N
  int t;          // sub-beams per beam
  int lines;      // write the sub-beam lines; 0 when the walk interpolates each pixel itself
  int chunks;     // pieces of this split
  std::atomic<int> nextChunk{0};  // next piece to take; reset by the caller before the split
  uint16_t weights[kMaxSubBeamsPerBeam * 3];
};

// One block of 16 slot rows for the direct walk (row j is slot j - 1,
// borders included), converted and then turned on its side. The walk reads
// rows 0 .. N + 2.
static void SlotColumnsChunk(const SubBeamJob& job, int block) {
  const int n = job.beams;
  if (job.convert) {
    const int j0 = 16 * block, j1 = 16 * (block + 1) < n + 2 ? 16 * (block + 1) : n + 2;
    for (int j = j0; j < j1; ++j) {
      const int slot = j - 1;
      if (slot < 0 || slot >= n) std::memset(BeamSlot(slot), 0, kScreenSamples);
      else ConvertSlot(BeamSlot(slot), slot, n, job.m, job.foldPairs);
    }
  }
  TransposeSlotBlocks(g_scan.BeamSampleBuffer, block, block + 1, g_render.SlotColumns);
}

// The sub-beam lines of beams [16 c, 16 c + 16).
static void LinesChunk(const SubBeamJob& job, int part, int chunk) {
  const int n = job.beams, t = job.t;
  const int b0 = chunk * kLineChunkBeams, b1 = b0 + kLineChunkBeams < n ? b0 + kLineChunkBeams : n;
  // Each border slot is cleared by one piece and read by none while the
  // split runs: the pieces beside it read an empty slot instead.
  if (job.convert && chunk == 0) std::memset(BeamSlot(-1), 0, kScreenSamples);
  if (job.convert && chunk == job.chunks - 1) std::memset(BeamSlot(n), 0, kScreenSamples);
  uint8_t* leftEdge = g_render.PartEdgeSlots[part][0];
  uint8_t* rightEdge = g_render.PartEdgeSlots[part][1];
  auto slotOf = [&](int slot) -> const uint8_t* {
    if (!job.convert) return BeamSlot(slot);
    if (slot < 0 || slot >= n) return kEmptySlot;
    uint8_t* dst = slot < b0 ? leftEdge : slot >= b1 ? rightEdge : BeamSlot(slot);
    ConvertSlot(dst, slot, n, job.m, job.foldPairs);
    return dst;
  };
  const uint8_t* left = slotOf(b0 - 1);
  const uint8_t* centre = slotOf(b0);
  for (int b = b0; b < b1; ++b) {
    const uint8_t* right = slotOf(b + 1);
    InterpolateBeamLines(g_render.SubBeamLines[b * t + 1], t, left, centre, right, job.weights);
    left = centre;
    centre = right;
  }
}

static void SubBeamPart(void* context, int part, int /*parts*/) {
  SubBeamJob& job = *static_cast<SubBeamJob*>(context);
  for (;;) {
    const int chunk = job.nextChunk.fetch_add(1, std::memory_order_relaxed);
    if (chunk >= job.chunks) return;
    if (job.lines) LinesChunk(job, part, chunk);
    else SlotColumnsChunk(job, chunk);
  }
}

static SubBeamJob s_subBeamJob;
static DirectWeights s_directWeights;

static void PrepareSubBeams(int convert, int foldPairs, int lines) {
  SubBeamJob& job = s_subBeamJob;
  const int t = g_scan.SubBeamsPerBeam;
  if (t <= 0 || t > kMaxSubBeamsPerBeam) {
    if (convert) FillBeamSamples(foldPairs);
    return;
  }
  job.convert = convert;
  job.foldPairs = foldPairs;
  job.m = DisplayedSamples(foldPairs);
  job.t = t;
  // Sub-beams count t per beam and stop where the lines do.
  job.beams = g_scan.SubBeamCount / t;
  if (job.beams * t > kMaxSubBeamLines - 1) job.beams = (kMaxSubBeamLines - 1) / t;
  for (int i = 0; i < t; ++i) {
    const uint8_t* w = SubBeamWeights(i, t);
    for (int j = 0; j < 3; ++j) job.weights[3 * i + j] = w[j];
  }
  job.lines = lines;
  for (int i = 0; i < 32; ++i) {
    s_directWeights.outer[i] = i < t ? job.weights[3 * i] | static_cast<uint32_t>(job.weights[3 * i + 2]) << 16 : 0;
    s_directWeights.centre[i] = i < t ? job.weights[3 * i + 1] : 0;
  }
  job.chunks = lines ? (job.beams + kLineChunkBeams - 1) / kLineChunkBeams : (job.beams + 3 + 15) / 16;
  job.nextChunk.store(0, std::memory_order_relaxed);
  plat::RunSplit(SubBeamPart, &job);
}

void InterpolateSubBeams() { PrepareSubBeams(0, 0, 1); }

// ------------------------------------------------------------ scan-converted walk

// The runs fall into kWalkChunks pieces of about equal pixel counts, taken
// in turn by the threads of a split; runs never share a pixel, so the
// pieces write disjoint bytes.
static std::atomic<int> s_nextWalkChunk{0};  // reset by the caller before each walk

static void WalkPart(void*, int, int) {
  for (;;) {
    const int c = s_nextWalkChunk.fetch_add(1, std::memory_order_relaxed);
    if (c >= kWalkChunks) return;
    const int r0 = g_scan.walkChunkRun[c], r1 = g_scan.walkChunkRun[c + 1], first = g_scan.walkChunkIndex[c];
    if (HasDirectWalk())
      WalkDirectRuns(g_scan.walkRuns + r0, r1 - r0, g_scan.walkDirect + first, g_render.SlotColumns,
                     s_directWeights, g_scan.ImageBuffer, g_scan.CleanImageBuffer);
    else
      WalkRuns(g_scan.walkRuns + r0, r1 - r0, g_scan.walk + first, &g_render.SubBeamLines[0][0], g_scan.ImageBuffer,
               g_scan.CleanImageBuffer);
  }
}

static void WalkMap() {
  s_nextWalkChunk.store(0, std::memory_order_relaxed);
  plat::RunSplit(WalkPart, nullptr);
}

// ------------------------------------------------------------ persistence

void UpdatePersistenceDecay(int persistenceS, int pingPeriodMs) {
  if (persistenceS <= 0) return;
  if (pingPeriodMs > 0 && pingPeriodMs < 1000)
    g_render.decay = static_cast<float>(80.0 / (persistenceS * (1.0 / (pingPeriodMs * 0.001))));
}

void ApplyPersistence() {
  const float d = g_render.decay;
  for (int r = 0; r < kImageHeight; ++r) {
    const int c0 = g_scan.SpanLeft[r], c1 = g_scan.SpanRight[r];
    float* acc = g_render.PersistenceAccumulator[r];
    const uint8_t* clean = g_scan.CleanImageBuffer[r];
    uint8_t* img = g_scan.ImageBuffer[r];
    for (int c = c0; c < c1; ++c) {
      const float e = clean[c];
      const float a = acc[c] > e ? acc[c] : e;
      img[c] = img[c] == kOverlayMarker ? kOverlayMarker : static_cast<uint8_t>(a);
      const float lowered = a - d;
      acc[c] = lowered < 0.f ? 0.f : lowered;
    }
  }
}

// ------------------------------------------------------------ profile points

static void MixPicture(int divisorShift, int zero) {
  for (int r = 0; r < kImageHeight - 1; ++r) {
    uint8_t* img = g_scan.ImageBuffer[r];
    for (int c = g_scan.SpanLeft[r]; c < g_scan.SpanRight[r]; ++c) {
      if (img[c] == kOverlayMarker) continue;
      img[c] = zero ? 0 : static_cast<uint8_t>(img[c] >> divisorShift);
    }
  }
}

static inline void PutPoint(int y, int x) {
  if (x < 0 || x >= kImageWidth || y < 0 || y >= kImageHeight) return;
  if (g_scan.ImageBuffer[y][x] != kOverlayMarker) g_scan.ImageBuffer[y][x] = kPointColour;
}

static int GapLimitColumns() {
  switch (g_settings.StepSize) {
    case 0: return 6;
    case 2: return 24;
    default: return 12;
  }
}

void DrawProfilePoints(const int32_t* tenths, int slots) {
  const ScanGeometry& g = g_scan.geom;
  const int mode = g.mode;
  const int choice = g_settings.ProfileDisplayType;
  int mix = choice;
  if (choice != 3 && (g_settings.ProfilePointType == 1 ||
                      (mode == kModeProfile && g_settings.ProfilePointFilter == 2 &&
                       g_render.bottomTrackActive)))
    mix = 0;
  if (mix == 1) MixPicture(1, 0);
  else if (mix == 2) MixPicture(2, 0);
  else if (mix == 3) MixPicture(0, 1);

  for (int c = 0; c < kImageWidth; ++c) g_render.PointRowOfColumn[c] = -1;
  g_render.pointColumns = 0;
  if (!tenths || slots <= 0) return;
  if (slots > g.beams) slots = g.beams;

  // Tenths of a sample on the stored scale to on-screen samples.
  double k = g_sampleCount > 0 ? 500.0 / g_sampleCount : 1.0;
  if (g_settings.HalfRange == 1) k *= 2.0;
  k *= 0.1;
  const double step = g.sectorDeg / g.beams;

  if (mode == kModePerspective) {
    for (int j = 0; j < slots; ++j) {
      if (tenths[j] <= 0) continue;
      const double f = static_cast<int>(tenths[j] * k + g.offsetSamples);
      const double a = (g.startAngleDeg + (j + 0.5) * step) * kDegToRad;
      int dx, dy;
      ProjectPerspective(f * std::cos(a) + 0.5, f * std::sin(a) + 0.5 + g.offsetSamples, 0.0, &dx, &dy);
      const int x = kApexColumn + dx, y = kApexRow + dy;
      if (x < 0 || x >= kImageWidth || y < 0 || y > kImageHeight - 2) continue;
      if (!(g_scan.SpanLeft[y] < x && x < g_scan.SpanRight[y] - 2)) continue;
      PutPoint(y, x);
    }
    return;
  }

  const int large = g_settings.ProfilePointDotSize == 1;
  for (int j = 0; j < slots; ++j) {
    if (tenths[j] <= 0) continue;
    const double f = static_cast<int>(tenths[j] * k + g.offsetSamples);
    const double a = (g.startAngleDeg + (j + 0.5) * step) * kDegToRad;
    const int y = Rnd(g.originY + f * std::sin(a) + g.verticalShift);
    const int x = Rnd(g.originX + f * std::cos(a));
    if (x < 1 || x > kImageWidth - 2 || y < 1 || y > kImageHeight - 3) continue;
    // The span test looks three rows back; a point that close to the top
    // edge has no such row and is left out rather than read before the table.
    if (y < 3) continue;
    if (!(g_scan.SpanLeft[y + 1] < x && x < g_scan.SpanRight[y - 3])) continue;
    PutPoint(y, x);
    if (large)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
          if (dx || dy) PutPoint(y + dy, x + dx);
    g_render.PointRowOfColumn[x] = static_cast<int16_t>(y);
  }
  // Short gaps between points take the row of the point to their left so
  // the bottom line reads as continuous.
  const int limit = GapLimitColumns();
  int last = -1;
  for (int c = 0; c < kImageWidth; ++c) {
    if (g_render.PointRowOfColumn[c] < 0) continue;
    if (last >= 0 && c - last - 1 > 0 && c - last - 1 < limit)
      for (int f = last + 1; f < c; ++f) g_render.PointRowOfColumn[f] = g_render.PointRowOfColumn[last];
    last = c;
  }
  for (int c = 0; c < kImageWidth; ++c) g_render.pointColumns += g_render.PointRowOfColumn[c] >= 0;
}

// ------------------------------------------------------------ waterfall

void DrawProfileWaterfall() {
  // The trace area is redrawn each ping; the history moves down one row and
  // the new line enters at the top of it.
  std::memset(g_render.WaterfallPicture, kBackgroundIndex, kWaterfallTraceRows * kWaterfallWidth);
  std::memmove(g_render.WaterfallPicture[kWaterfallTraceRows + 1], g_render.WaterfallPicture[kWaterfallTraceRows],
               (kWaterfallHeight - kWaterfallTraceRows - 1) * kWaterfallWidth);
  uint8_t* line = g_render.WaterfallPicture[kWaterfallTraceRows];
  std::memset(line, kBackgroundIndex, kWaterfallWidth);

  const int offset = g_settings.ProfileWaterfallOffset;
  int bottom = offset + g_settings.ProfileWaterfallSpan;
  if (bottom > 500) bottom = 500;
  const int span = g_settings.ProfileWaterfallSpan;
  auto hline = [](int row) {
    if (row < 0 || row >= kImageHeight) return;
    for (int c = 110; c <= 911; ++c) g_scan.ImageBuffer[row][c] = kMarkColour;
  };
  hline(offset);
  hline(bottom);
  for (int r = offset; r <= bottom; ++r) {
    if (r < 0 || r >= kImageHeight) continue;
    g_scan.ImageBuffer[r][256] = kMarkColour;
    g_scan.ImageBuffer[r][756] = kMarkColour;
    if (span > 0) {
      int level = kMaxEchoIndex - (r - offset) * kMaxEchoIndex / span;
      if (level < 0) level = 0;
      for (int c = 100; c <= 109; ++c) g_scan.ImageBuffer[r][c] = static_cast<uint8_t>(level);
    }
  }
  // A band of no height has no depths to colour.
  if (span <= 0) return;

  const int usePersistence = g_settings.Persistence > 0;
  const float threshold = g_render.bottomThreshold;
  int lastRow = -1, carry = 0;
  for (int k = 0; k < kWaterfallWidth - 1; ++k) {
    const int col = 256 + k;
    int found = -1;
    for (int r = 1; r <= kImageHeight - 2; ++r) {
      if (r <= offset || r >= bottom) continue;
      const float v = usePersistence ? g_render.PersistenceAccumulator[r][col]
                                     : static_cast<float>(g_scan.CleanImageBuffer[r][col]);
      if (v >= threshold) { found = r; break; }
    }
    if (found >= 0) {
      lastRow = found;
      carry = 0;
    } else if (lastRow >= 0 && carry < 10) {
      found = lastRow;
      ++carry;
    }
    if (found < 0) continue;
    int n = kMaxEchoIndex - (found - offset) * kMaxEchoIndex / span;
    if (n < 0) n = 0;
    if (n > kMaxEchoIndex) n = kMaxEchoIndex;
    line[k] = static_cast<uint8_t>(n);
    if (n > 0) g_render.WaterfallPicture[kMaxEchoIndex - n][k] = kPointColour;
  }
}

// ------------------------------------------------------------ signal level

void DrawSignalLevel(char letter) {
  const int waterfall = g_scan.geom.mode == kModeProfile && g_settings.ProfileWaterfall == 1;
  const int w = waterfall ? 3 : 5;
  const int first = waterfall ? 116 : 51;
  const int perElement = g_sampleCount;  // stored samples per element
  const int fold = letter == 'V';
  const int levels = fold ? perElement / 2 : (perElement > kScreenSamples ? kScreenSamples : perElement);
  const uint8_t* data = g_pingRecord + 12;
  for (int e = 0; e < kElements; ++e) {
    const int pos = g_settings.Xdcr == 0 ? kElements - 1 - e : e;
    const int col = first + w * e;
    int runMax = 0;
    for (int j = 0; j < levels; ++j) {
      int v;
      if (fold) {
        const int a = std::abs(data[(2 * j) * kElements + pos] - 127);
        const int b = std::abs(data[(2 * j + 1) * kElements + pos] - 127);
        v = a > b ? a : b;
      } else {
        v = std::abs(data[j * kElements + pos] - 127);
      }
      if (v > kMaxEchoIndex) v = kMaxEchoIndex;
      if (v > runMax) runMax = v;
      if (j % 3 != 2) continue;
      const int row = kApexRow - j / 3;
      if (row >= 0)
        for (int c = col; c < col + w && c < kImageWidth; ++c)
          if (g_scan.ImageBuffer[row][c] != kOverlayMarker) g_scan.ImageBuffer[row][c] = static_cast<uint8_t>(runMax);
      runMax = 0;
    }
  }
}

// ------------------------------------------------------------ linear and beam test

void DrawLinear(int foldPairs) {
  const int n = g_scan.geom.beams;
  const int m = DisplayedSamples(foldPairs);
  for (int i = 0; i < n; ++i) {
    const int x = kApexColumn + n / 2 - i;
    if (x < 0 || x >= kImageWidth) continue;
    const float* a = g_beamImage[i];
    for (int j = 1; j < m; ++j) {
      const int y = kImageHeight - j;
      float v = foldPairs ? (a[2 * j] > a[2 * j + 1] ? a[2 * j] : a[2 * j + 1]) : a[j];
      const uint8_t b = (v > -1.f && v < 119.f) ? static_cast<uint8_t>(static_cast<int>(v)) : kMaxEchoIndex;
      g_scan.CleanImageBuffer[y][x] = b;
      if (g_scan.ImageBuffer[y][x] != kOverlayMarker) g_scan.ImageBuffer[y][x] = b;
    }
  }
}

int BeamTestFirstSlot(char letter) {
  switch (letter) {
    case 'Z': return 61;
    case 'Y': return 45;
    default: return 69;
  }
}

// The decoder leaves the 16 element rows at a type-dependent place in the
// sample buffer; the picture shows them in beam slots 24..39 of the map.
void DrawBeamTest(char letter) {
  const int first = BeamTestFirstSlot(letter);
  for (int r = 0; r < kImageHeight; ++r) {
    for (int c = g_scan.SpanLeft[r]; c < g_scan.SpanRight[r]; ++c) {
      const PixelEntry& p = g_scan.PixelMap[r][c];
      const int slot = first + p.BeamIndex - 24;
      uint8_t v = 0;
      if (slot >= 0 && slot < kMaxBeams) v = BeamSlot(slot)[p.SampleIndex];
      if (v > kMaxEchoIndex) v = kMaxEchoIndex;
      g_scan.CleanImageBuffer[r][c] = v;
      if (g_scan.ImageBuffer[r][c] != kOverlayMarker) g_scan.ImageBuffer[r][c] = v;
    }
  }
}

// ------------------------------------------------------------ entry

// The walk and what is drawn over it, once the sub-beam lines are ready.
// The echoes of the scan-converted picture: what the profile points do not
// change (the ping cycle draws this while detection runs beside it).
static void DrawEchoesFromSubBeams() {
  WalkMap();
  const int mode = g_scan.geom.mode;
  const int background = g_background.enabled && mode == kModeSector;
  if (g_settings.Persistence > 0 && !background) {
    UpdatePersistenceDecay(g_settings.Persistence, g_ping.pingPeriodMs);
    ApplyPersistence();
  }
}

// What the picture shows of detection and the background removal, drawn
// over the echoes.
static void DrawOverEchoes() {
  const int mode = g_scan.geom.mode;
  const int background = g_background.enabled && mode == kModeSector;
  if (g_settings.ProfilePointDetection == 1 && mode != kModeLinear)
    DrawProfilePoints(g_pointRangeTenths, g_profileOutputCount);
  if (mode == kModeProfile && g_settings.ProfileWaterfall == 1) {
    g_render.bottomThreshold = g_detect.detectionLevelPct * 255.0f * 0.01f;
    DrawProfileWaterfall();
  }
  if (background) ApplyBackgroundRemoval(g_ping.pingPeriodMs);
}

static void DrawFromSubBeams() {
  DrawEchoesFromSubBeams();
  DrawOverEchoes();
}

void DrawScanConverted(int /*window*/) {
  PrepareSubBeams(0, 0, !HasDirectWalk());
  DrawFromSubBeams();
}

static char PingLetter() {
  const char t = static_cast<char>(g_pingRecord[1]);
  if (t == 'U' || t == 'V' || t == 'Y' || t == 'Z') return t;
  return g_sampleCount == 1000 ? 'V' : 'U';
}

int RenderPingEchoes(int /*window*/) {
  g_render.echoesDrawn = 0;
  if (TablesBusy.load()) return 0;
  const int mode = g_scan.geom.mode;
  if (mode < 0) return 0;
  const char letter = PingLetter();
  if (mode == kModeBeamTest) {
    DrawBeamTest(letter);
  } else {
    const int fold = letter == 'V';
    // Points alone on an empty picture: the slots keep the last beams drawn.
    const int newBeams = !(g_settings.ProfilePointDetection == 1 && g_settings.ProfileDisplayType == 3);
    if (mode == kModeLinear) {
      if (newBeams) FillBeamSamples(fold);
      DrawLinear(fold);
    } else {
      PrepareSubBeams(newBeams, fold, !HasDirectWalk());
      DrawEchoesFromSubBeams();
    }
  }
  g_render.echoesDrawn = 1;
  return 1;
}

int RenderPingOverlays(int /*window*/) {
  if (!g_render.echoesDrawn) return 0;
  g_render.echoesDrawn = 0;
  const int mode = g_scan.geom.mode;
  if (mode != kModeBeamTest && mode != kModeLinear) DrawOverEchoes();
  if (g_settings.SignalLevel == 1) DrawSignalLevel(PingLetter());
  ++g_render.pingsDrawn;
  return 1;
}

int RenderPing(int window) {
  if (!RenderPingEchoes(window)) return 0;
  return RenderPingOverlays(window);
}
