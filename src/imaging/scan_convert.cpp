// Scan conversion. When a display mode is entered this module works out, for
// every pixel of the 1012 x 542 picture, which sub-beam and sample it shows and
// with which interpolation weights (PixelMap), and which columns of each row
// lie inside the fan (RowSpan). The inputs are the beam geometry of the
// beamformer (g_beamGeom: beam count and sector), the range step and range
// offset of the switch settings and the Profile tilt. It owns the two picture
// buffers, the beam sample buffer the renderer fills each ping, the tables and
// the TablesBusy flag the ping handler waits on while they are rebuilt.
//
// Index: [weights and sub-beams] [perspective] [outline spans] [mode builds]
// [build driver and progress]
#include "imaging/scan_convert.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/overlay.h"
#include "imaging/render.h"
#include "platform/platform.h"
#include "processing/beamform.h"
#include "settings/settings.h"

ScanState g_scan;
std::atomic<int> TablesBusy{0};

static std::atomic<int> g_building{0};
// Outline marks of the span computation; cleared after every use.
static uint8_t g_marks[kImageHeight][kImageWidth];

static constexpr double kPi = 3.141592654;
static constexpr double kDegToRad = kPi / 180.0;
static constexpr double kArcStepRad = 0.0008726645;  // 0.05 degrees

static inline int Rnd(double v) { return static_cast<int>(v + 0.5); }

// ------------------------------------------------------------ weights and sub-beams

void BuildWeightTable() {
  for (int k = 0; k < kWeightTriples; ++k) {
    g_scan.WeightTable[k][0] = static_cast<uint8_t>((95 - 5 * k) * 1.28);
    g_scan.WeightTable[k][1] = static_cast<uint8_t>(105 * 1.28);
    g_scan.WeightTable[k][2] = static_cast<uint8_t>((5 * k) * 1.28);
  }
}

int SubBeamsFor(double sectorDeg, int beams) {
  if (beams <= 0) return 2;
  int t = static_cast<int>(sectorDeg * 15.0 / beams + 0.5);
  if (t % 2) ++t;
  if (t > kMaxSubBeamsPerBeam) t = kMaxSubBeamsPerBeam;
  // A very narrow sector with many beams would round to 0 and leave no
  // sub-beam at all; two per beam is the least that interpolates.
  if (t < 2) t = 2;
  return t;
}

double HalfStepDeg(int stepSize) {
  switch (stepSize) {
    case 0: return 0.125;
    case 2: return 0.5;
    default: return 0.25;
  }
}

// ------------------------------------------------------------ perspective

void InitPerspective() {
  const double a = 3.141592654, b = 3.141592654, c = 0.867198;
  g_scan.sinA = std::sin(a);
  g_scan.cosA = std::cos(a);
  g_scan.sinB = std::sin(b);
  g_scan.cosB = std::cos(b);
  g_scan.sinC = std::sin(c);
  g_scan.cosC = std::cos(c);
}

// A fixed view of the seabed plane from above and behind the head: mirror and
// scale across, two half turns, tilt by about 49.7 degrees, push 350 away.
void ProjectPerspective(double x, double y, double z, int* dx, int* dy) {
  const double x1 = -0.63 * x;
  const double x2 = g_scan.cosA * x1 - g_scan.sinA * z;
  const double z2 = g_scan.sinA * x1 + g_scan.cosA * z;
  const double x3 = g_scan.cosB * x2 + g_scan.sinB * y;
  const double y3 = g_scan.cosB * y * 1.0 - g_scan.sinB * x2;
  const double z4 = g_scan.cosC * z2 - g_scan.sinC * y3;
  const double y4 = g_scan.sinC * z2 + g_scan.cosC * y3;
  const double X = x3, Y = y4, Z = z4 - 350.0;
  *dx = static_cast<int>(1000.0 * X / Z);
  *dy = static_cast<int>(1000.0 * Y / Z);
}

// ------------------------------------------------------------ profile centring

void CentreProfile() {
  double s = g_beamGeom.sectorDeg;
  if (s > 120.0) s = 120.0;
  const double t = g_settings.ProfileTiltAngle;
  const int e = Rnd(505.0 + 500.0 * std::sin((t + s / 2) * kDegToRad));
  const int d = Rnd(505.0 + 500.0 * std::sin((t - s / 2) * kDegToRad));
  if (e >= 506 && d > 505)
    g_scan.ProfileOffsetX = 505 - (e + 505) / 2;
  else if (e < 505 && d < 505)
    g_scan.ProfileOffsetX = 505 - (d + 505) / 2;
  else
    g_scan.ProfileOffsetX = 505 - (d + e) / 2;
}

void UpdateProfileOffsetY() {
  const double t = g_settings.ProfileTiltAngle;
  g_scan.ProfileOffsetY = (g_settings.DisplayType == kModeProfile && (t >= 80.0 || t <= -80.0)) ? 250 : 0;
}

// ------------------------------------------------------------ pictures

void ClearImage() {
  std::memset(g_scan.ImageBuffer, kBackgroundIndex, sizeof g_scan.ImageBuffer);
  std::memset(g_scan.CleanImageBuffer, kBackgroundIndex, sizeof g_scan.CleanImageBuffer);
  ClearPersistence();
}

void ResetScanConvert() {
  std::memset(g_scan.ImageBuffer, 0, sizeof g_scan.ImageBuffer);
  std::memset(g_scan.CleanImageBuffer, 0, sizeof g_scan.CleanImageBuffer);
  std::memset(g_scan.BeamSampleBuffer, 0, sizeof g_scan.BeamSampleBuffer);
  std::memset(g_scan.PixelMap, 0, sizeof g_scan.PixelMap);
  std::memset(g_scan.SpanLeft, 0, sizeof g_scan.SpanLeft);
  std::memset(g_scan.SpanRight, 0, sizeof g_scan.SpanRight);
  g_scan.walkCount = 0;
  g_scan.walkRunCount = 0;
  for (int c = 0; c <= kWalkChunks; ++c) g_scan.walkChunkRun[c] = g_scan.walkChunkIndex[c] = 0;
  std::memset(g_marks, 0, sizeof g_marks);
  g_scan.SubBeamsPerBeam = 0;
  g_scan.SubBeamCount = 0;
  g_scan.ProfileOffsetX = 0;
  g_scan.ProfileOffsetY = 0;
  g_scan.gridRectangular = 0;
  g_scan.geom = ScanGeometry{};
  g_scan.builds = 0;
  g_scan.refusedBuilds = 0;
  g_scan.mapKey = FanMapKey{};
  g_scan.mapKeyValid = 0;
  g_scan.mapBuilds = 0;
  BuildWeightTable();
  InitPerspective();
  TablesBusy = 0;
  g_building = 0;
}

// ------------------------------------------------------------ outline spans

static inline void Mark(int x, int y) {
  if (y < 0 || y >= kImageHeight) return;
  if (x < 0) x = 0;
  if (x >= kImageWidth) x = kImageWidth - 1;
  g_marks[y][x] = 1;
}

// Sector and Profile: the span of a row lies strictly between the outline
// pixels, so the fan's own edge is never overdrawn by echo.
static void SpansFromMarksFan(int originX) {
  for (int r = 0; r < kImageHeight; ++r) g_scan.SpanLeft[r] = g_scan.SpanRight[r] = 0;
  for (int r = 0; r < kImageHeight - 1; ++r) {
    int left = -1, right = -1;
    for (int c = 0; c < kImageWidth; ++c)
      if (g_marks[r][c]) { left = c; break; }
    for (int c = kImageWidth - 1; c >= 0; --c)
      if (g_marks[r][c]) { right = c; break; }
    int sl = left < 0 ? originX : left + 1;
    if (sl >= kImageWidth - 1) sl = originX;
    int sr = right < 0 ? originX : right;
    if (sl < 0) sl = 0;
    if (sr > kImageWidth) sr = kImageWidth;
    if (sr < 0) sr = 0;
    g_scan.SpanLeft[r] = static_cast<int16_t>(sl);
    g_scan.SpanRight[r] = static_cast<int16_t>(sr);
  }
  std::memset(g_marks, 0, sizeof g_marks);
}

static void OutlineFan(const ScanGeometry& g, double extraDeg) {
  const double s = g.sectorDeg;
  const double edges[2] = {180.0 + s / 2 + extraDeg, 180.0 - s / 2 + extraDeg};
  for (double a : edges) {
    const double sa = std::sin(a * kDegToRad), ca = std::cos(a * kDegToRad);
    for (int i = 0; i < kScreenSamples; ++i) {
      const double d = g.offsetSamples + i;
      Mark(Rnd(g.originX + d * sa), Rnd(g.originY + d * ca + g.verticalShift));
    }
  }
  const double radius = g.offsetSamples + 499.0;
  double a = edges[1] * kDegToRad;
  const int steps = static_cast<int>(s * 20);
  for (int k = 0; k <= steps; ++k, a += kArcStepRad)
    Mark(Rnd(g.originX + radius * std::sin(a)), Rnd(g.originY + radius * std::cos(a) + g.verticalShift));
}

// ------------------------------------------------------------ mode builds

static inline void SetPixel(int y, int x, int k, int t, const uint8_t* w, int i) {
  PixelEntry& e = g_scan.PixelMap[y][x];
  e.SubBeamIndex = k;
  e.BeamIndex = static_cast<int16_t>(k / t);
  e.SampleIndex = static_cast<int16_t>(i);
  e.WeightLeft = w[0];
  e.WeightCentre = w[1];
  e.WeightRight = w[2];
}

// Sub-beam k's weights: the triples around the middle of the table, so the
// sub-beams of one beam lean from the left neighbour to the right one.
const uint8_t* SubBeamWeights(int k, int t) {
  const int base = 10 - t / 2;
  return g_scan.WeightTable[base + k % t];
}

static void BuildFan(int window, int kind, int projected) {
  ScanGeometry& g = g_scan.geom;
  const int t = g_scan.SubBeamsPerBeam;
  const int c = g_scan.SubBeamCount;
  const double step = g.sectorDeg / c;
  double theta = g.startAngleDeg;
  for (int k = 0; k < c; ++k, theta += step) {
    const double cs = std::cos(theta * kDegToRad), sn = std::sin(theta * kDegToRad);
    const uint8_t* w = SubBeamWeights(k, t);
    for (int i = 0; i < kScreenSamples; ++i) {
      const double p = i + g.offsetSamples;
      int x, y;
      if (projected) {
        int dx, dy;
        ProjectPerspective(p * cs + 0.5, p * sn + 0.5 + g.offsetSamples, 0.0, &dx, &dy);
        x = kApexColumn + dx;
        y = kApexRow + dy;
      } else {
        x = Rnd(g.originX + p * cs);
        y = Rnd(g.originY + p * sn + g.verticalShift);
      }
      if (x < 0 || x >= kImageWidth || y < 0 || y >= kImageHeight) continue;
      SetPixel(y, x, k, t, w, i);
    }
    ShowBuildProgress(window, 0, kind, k + 1, c);
  }
}

static inline int Unmapped(const PixelEntry& e) {
  return e.SubBeamIndex == 0 && e.SampleIndex == 0 && e.WeightCentre == 0;
}

// Rounded rays of sub-beams half a pixel apart still miss the odd pixel far
// out (where the fan crosses the pixel grid diagonally), and the first
// sub-beam starts half a beam step inside the left edge of the outline. Such
// pixels would show as black dots and a black seam inside the fan; they take
// the entry of their right neighbour (the left one at the right end of a row).
static void FillRowGaps(int r, int c0, int c1) {
  PixelEntry* row = g_scan.PixelMap[r];
  for (int c = c1 - 2; c >= c0; --c)
    if (Unmapped(row[c]) && !Unmapped(row[c + 1])) row[c] = row[c + 1];
  for (int c = c0 + 1; c < c1; ++c)
    if (Unmapped(row[c]) && !Unmapped(row[c - 1])) row[c] = row[c - 1];
}

static void FillSpanGaps(int fromRow, int toRow) {
  for (int r = fromRow; r < toRow; ++r)
    if (g_scan.SpanLeft[r] < g_scan.SpanRight[r]) FillRowGaps(r, g_scan.SpanLeft[r], g_scan.SpanRight[r]);
}

static void BuildSectorOrProfile(int window, int mode) {
  BuildFan(window, mode, 0);
  OutlineFan(g_scan.geom, mode == kModeProfile ? g_scan.geom.tiltDeg - 180.0 : 0.0);
  SpansFromMarksFan(g_scan.geom.originX);
  FillSpanGaps(0, kImageHeight);
}

static void ProjectMark(double x, double y) {
  int dx, dy;
  ProjectPerspective(x, y, 0.0, &dx, &dy);
  Mark(kApexColumn + dx, kApexRow + dy);
}

static void BuildPerspective(int window) {
  BuildFan(window, kModePerspective, 0 + 1);
  // Points are sparse far from the viewer: a pixel no sub-beam reached takes
  // its right neighbour's entry in the far rows and the entry below it in the
  // near rows, bottom row first.
  for (int r = kImageHeight - 2; r >= 0; --r) {
    for (int c = 0; c < kImageWidth; ++c) {
      if (g_scan.PixelMap[r][c].SampleIndex != 0) continue;
      if (r < kPerspectiveSplitRow) {
        if (c + 1 < kImageWidth) g_scan.PixelMap[r][c] = g_scan.PixelMap[r][c + 1];
      } else {
        g_scan.PixelMap[r][c] = g_scan.PixelMap[r + 1][c];
      }
    }
  }
  const ScanGeometry& g = g_scan.geom;
  const double s = g.sectorDeg;
  const double edges[2] = {180.0 + s / 2, 180.0 - s / 2};
  for (double a : edges) {
    const double sa = std::sin(a * kDegToRad), ca = std::cos(a * kDegToRad);
    // A tenth of a sample per step keeps the projected edge unbroken where
    // the projection magnifies the near range.
    for (int j = 0; j < 10 * kScreenSamples; ++j) {
      const double d = g.offsetSamples + 0.1 * j;
      ProjectMark(d * sa, d * ca + g.offsetSamples);
    }
  }
  const double radius = g.offsetSamples + 499.0;
  double a = edges[1] * kDegToRad;
  const int steps = static_cast<int>(s * 20);
  for (int k = 0; k <= steps; ++k, a += kArcStepRad)
    ProjectMark(radius * std::sin(a), radius * std::cos(a) + g.offsetSamples);
  for (int r = 0; r < kImageHeight; ++r) {
    if (r < kPerspectiveSplitRow) {
      int left = -1, right = -1;
      for (int c = 0; c < kImageWidth; ++c)
        if (g_marks[r][c]) { left = c; break; }
      for (int c = kImageWidth - 1; c >= 0; --c)
        if (g_marks[r][c]) { right = c; break; }
      g_scan.SpanLeft[r] = static_cast<int16_t>(left < 0 ? kImageWidth - 1 : left + 1);
      g_scan.SpanRight[r] = static_cast<int16_t>(right < 0 ? 0 : right);
    } else {
      g_scan.SpanLeft[r] = 0;
      g_scan.SpanRight[r] = kImageWidth - 1;
    }
  }
  std::memset(g_marks, 0, sizeof g_marks);
  // The far rows are bounded by the outline; the near rows span the whole
  // width, so only the run between their first and last mapped pixel is closed.
  FillSpanGaps(0, kPerspectiveSplitRow);
  for (int r = kPerspectiveSplitRow; r < kImageHeight; ++r) {
    int first = -1, last = -1;
    for (int c = 0; c < kImageWidth; ++c)
      if (!Unmapped(g_scan.PixelMap[r][c])) {
        if (first < 0) first = c;
        last = c;
      }
    if (first >= 0) FillRowGaps(r, first, last + 1);
  }
}

static void BuildLinear(int window) {
  for (int q = 0; q <= 256; ++q) {
    const int x = kApexColumn + q - 128;
    const uint8_t* w = g_scan.WeightTable[5 * (q % 4)];
    for (int i = 0; i < kScreenSamples; ++i) SetPixel(kApexRow - i, x, q, 4, w, i);
    ShowBuildProgress(window, 0, kModeLinear, q + 1, 257);
  }
  const double s = g_scan.geom.sectorDeg;
  const int left = static_cast<int>(505 - s * 128 / 120);
  const int right = static_cast<int>(505 + s * 128 / 120);
  for (int r = 0; r < kImageHeight; ++r) {
    g_scan.SpanLeft[r] = static_cast<int16_t>(left);
    g_scan.SpanRight[r] = static_cast<int16_t>(right);
  }
}

static void BuildBeamTest(int window) {
  constexpr int w = 9;
  for (int q = 0; q < 64 * w; ++q) {
    const int x = kApexColumn - 288 + q;
    const uint8_t* wt = g_scan.WeightTable[static_cast<int>((20.0 / 9.0) * (q % w))];
    for (int i = 0; i < kScreenSamples; ++i) SetPixel(kApexRow - i, x, q, w, wt, i);
    ShowBuildProgress(window, 0, kModeBeamTest, q + 1, 64 * w);
  }
  for (int r = 0; r < kImageHeight; ++r) {
    g_scan.SpanLeft[r] = kApexColumn - 9 * 8;
    g_scan.SpanRight[r] = kApexColumn + 72;
  }
}

// The per-ping walk reads 4 bytes per pixel in order instead of 12 scattered
// over the whole 6.6 MB map. Strip order keeps what it reads and the picture
// rows it writes in cache: at 480 beams whole-row order missed the cache on
// almost every pixel.
static uint32_t LineIndex(int k, int s) { return static_cast<uint32_t>((k + 1) * kScreenSamples + s); }
static uint32_t SlotIndex(int k, int s, int t) {
  return static_cast<uint32_t>(s * kSlotColumnStride + k / t) | static_cast<uint32_t>(k % t) << kWalkWeightShift;
}

void BuildWalkOrder() {
  int n = 0, runs = 0;
  const int count = g_scan.SubBeamCount;
  const int t = g_scan.SubBeamsPerBeam > 0 ? g_scan.SubBeamsPerBeam : 1;
  const uint32_t noSlot = kWalkNoWeights << kWalkWeightShift;
  for (int strip = 0; strip < kImageWidth; strip += kWalkStrip) {
    const int stripEnd = strip + kWalkStrip < kImageWidth ? strip + kWalkStrip : kImageWidth;
    for (int r = kImageHeight - 2; r >= 0; --r) {
      const int rowStart = g_scan.SpanLeft[r] > strip ? g_scan.SpanLeft[r] : strip;
      const int rowEnd = g_scan.SpanRight[r] < stripEnd ? g_scan.SpanRight[r] : stripEnd;
      for (int c0 = rowStart; c0 < rowEnd; c0 += kWalkRunMax) {
        const int c1 = c0 + kWalkRunMax < rowEnd ? c0 + kWalkRunMax : rowEnd;
        WalkRun& run = g_scan.walkRuns[runs++];
        run.row = static_cast<int16_t>(r);
        run.column = static_cast<int16_t>(c0);
        run.count = static_cast<int16_t>(c1 - c0);
        for (int c = c0; c < c1; ++c, ++n) {
          const PixelEntry& p = g_scan.PixelMap[r][c];
          const int k = p.SubBeamIndex, s = p.SampleIndex;
          const int empty = k == 0 && s == 0 && p.WeightCentre == 0;
          // Entries come from this module's builds; a map edited by hand still
          // never leads the walk outside the lines or the slots.
          const int valid =
              !empty && k >= 0 && k < count && k < kMaxSubBeamLines - 1 && s >= 0 && s < kScreenSamples;
          g_scan.walk[n] = valid ? LineIndex(k, s) : 0u;
          g_scan.walkDirect[n] = valid ? SlotIndex(k, s, t) : noSlot;
        }
      }
    }
  }
  g_scan.walkCount = n;
  g_scan.walkRunCount = runs;
  // Runs are at most kWalkRunMax pixels, so the chunks differ by a few.
  int run = 0, index = 0;
  for (int c = 0; c < kWalkChunks; ++c) {
    while (run < runs && static_cast<long long>(kWalkChunks) * index < static_cast<long long>(c) * n)
      index += g_scan.walkRuns[run++].count;
    g_scan.walkChunkRun[c] = run;
    g_scan.walkChunkIndex[c] = index;
  }
  g_scan.walkChunkRun[kWalkChunks] = runs;
  g_scan.walkChunkIndex[kWalkChunks] = n;
}

// ------------------------------------------------------------ build driver and progress

static const char* const kLoadingText[kModeCount] = {
    "Loading Sector Mode ...", "Loading Linear Mode ...", "Loading Perspective Mode ...",
    "Loading Profile Mode ...", "Loading Beam Test Mode ..."};

static int g_barLength = -1;

void ShowBuildProgress(int /*window*/, int first, int kind, int done, int total) {
  if (first) {
    g_barLength = -1;
    plat::ProgressBegin("", (kind >= 0 && kind < kModeCount) ? kLoadingText[kind]
                                                             : "Loading Swath Coverage LOG File ...");
  }
  if (total <= 0) return;
  // The bar is 280 pixels; the box is repainted only when its length changes.
  const int length = static_cast<int>(static_cast<long long>(done) * 280 / total);
  if (length == g_barLength) return;
  g_barLength = length;
  plat::ProgressSet(static_cast<int>(static_cast<long long>(done) * 100 / total));
}

static void TakeGeometry(int mode) {
  ScanGeometry& g = g_scan.geom;
  g.mode = mode;
  g.beams = g_beamGeom.beams;
  if (g.beams < 1) g.beams = 1;
  if (g.beams > kMaxBeams) g.beams = kMaxBeams;
  g.sectorDeg = g_beamGeom.sectorDeg;
  g.halfStepDeg = HalfStepDeg(g_settings.StepSize);
  g.rangeM = RangeMetersOfStep(g_settings.Range);
  g.rangeOffset = g_switch.rangeOffset;
  g.offsetSamples = static_cast<int>(g.rangeOffset * 500.0 / g.rangeM);
  g.tiltDeg = g_settings.ProfileTiltAngle;
  g.startAngleDeg = (-g.sectorDeg / 2 + g.halfStepDeg) - 90.0;
  g.originX = kApexColumn;
  g.originY = kApexRow;
  g.verticalShift = g.offsetSamples;
  if (mode == kModeProfile) {
    g.startAngleDeg = g.startAngleDeg - 180.0 - g.tiltDeg;
    g.originX = kApexColumn + g_scan.ProfileOffsetX;
    g.originY = g_scan.ProfileOffsetY;
    g.verticalShift = -g.offsetSamples;
  }
  g_scan.SubBeamsPerBeam = SubBeamsFor(g.sectorDeg, g.beams);
  g_scan.SubBeamCount = g_scan.SubBeamsPerBeam * g.beams;
}

int BuildMode(int window, int mode) {
  int expected = 0;
  if (!g_building.compare_exchange_strong(expected, 1)) {
    ++g_scan.refusedBuilds;
    return 0;
  }
  if (mode < 0 || mode >= kModeCount) mode = kModeSector;
  TablesBusy = 1;
  ShowBuildProgress(window, 1, mode, 0, 1);
  TakeGeometry(mode);
  // A fan built for the same geometry is kept: a new range alone (the
  // commonest change while a survey plays) needs only a new grid.
  FanMapKey key;
  const int fan = mode == kModeSector || mode == kModeProfile;
  if (fan) {
    const ScanGeometry& g = g_scan.geom;
    key = FanMapKey{mode,          g.sectorDeg, g.startAngleDeg,        g.tiltDeg,
                    g.offsetSamples, g.originX, g.originY,              g.verticalShift,
                    g_scan.SubBeamsPerBeam, g_scan.SubBeamCount};
  }
  if (!(fan && g_scan.mapKeyValid && key == g_scan.mapKey)) {
    g_scan.mapKeyValid = 0;
    std::memset(g_scan.PixelMap, 0, sizeof g_scan.PixelMap);
    switch (mode) {
      case kModeSector:
      case kModeProfile: BuildSectorOrProfile(window, mode); break;
      case kModePerspective: BuildPerspective(window); break;
      case kModeLinear: BuildLinear(window); break;
      case kModeBeamTest: BuildBeamTest(window); break;
    }
    BuildWalkOrder();
    g_scan.mapKey = key;
    g_scan.mapKeyValid = fan;
    ++g_scan.mapBuilds;
  }
  plat::ProgressEnd();
  g_scan.gridRectangular = mode == kModePerspective ? 1
                           : mode == kModeProfile  ? (g_settings.ProfileGrid == 1)
                                                   : 0;
  ClearImage();
  DrawGrid(window);
  TablesBusy = 0;
  if (mode == kModeProfile) g_settings.Persistence = 0;
  plat::InvalidateWindow(plat::kWinMain);
  ++g_scan.builds;
  g_building = 0;
  return 1;
}

int BuildDisplayMode(int window) { return BuildMode(window, g_settings.DisplayType); }
