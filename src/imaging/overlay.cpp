// Overlays in the main picture. The range grid of the display mode in force
// (rings, edge rays and centre line for the fan modes, lines for Linear, Beam
// Test and Perspective) is written into ImageBuffer with the overlay marker,
// so the per-ping drawing never overwrites it; its numbers use a built-in
// 8 x 16 digit font. Reads the geometry the tables were built with
// (g_scan.geom), the units, grid and colour settings, the sound velocity and
// the head's RangeScaleFactor. Also draws the Profile depth gate lines before
// a blit and keeps their rows for dragging.
//
// Index: [units and range texts] [digit font and labels] [fan grids]
// [linear, beam test, perspective] [depth gate lines]
#include "imaging/overlay.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/scan_convert.h"
#include "settings/settings.h"

OverlayState g_overlay;

static constexpr double kPi = 3.141592654;
static constexpr double kDegToRad = kPi / 180.0;

static inline int Rnd(double v) { return static_cast<int>(v + 0.5); }

void ResetOverlay() { g_overlay = OverlayState{}; }

// ------------------------------------------------------------ units and range texts

const char* UnitSuffix(int units) {
  switch (units) {
    case 1: return " FT";
    case 2: return " YDS";
    default: return " M";
  }
}

const char* RangeText(int step, int units) {
  if (step < 0) step = 0;
  if (step >= kRangeSteps) step = kRangeSteps - 1;
  const RangeEntry& e = kRangeTable[step];
  return units == 1 ? e.labelFt : units == 2 ? e.labelYds : e.labelM;
}

int HalfRangeActive() {
  return g_settings.HalfRange == 1 && g_settings.Range == g_headLimits.minStep;
}

const char* HalfRangeText(int units) {
  static const char* const kSmall[3] = {"0.75 M", "2.25 FT", "0.75 YDS"};
  static const char* const kFive[3] = {"2.5 M", "7.5 FT", "2.5 YDS"};
  const int u = (units == 1 || units == 2) ? units : 0;
  if (g_headLimits.minStep == 0) return kSmall[u];
  if (g_headLimits.minStep == 2) return kFive[u];
  return RangeText(g_headLimits.minStep, units);
}

int RangeTitleText(char* out, int size) {
  if (!out || size <= 0) return 0;
  const int offset = g_switch.rangeOffset;
  const float r = RangeMetersOfStep(g_settings.Range);
  const int smallest = g_settings.Range == g_headLimits.minStep;
  int n;
  if (offset == 0) {
    n = std::snprintf(out, size, "%s", HalfRangeActive() ? HalfRangeText(g_settings.Units)
                                                          : RangeText(g_settings.Range, g_settings.Units));
  } else if (HalfRangeActive()) {
    n = std::snprintf(out, size, "%d to %4.2f M", offset, offset + (g_headLimits.minStep == 0 ? 0.75 : 2.5));
  } else if (smallest) {
    n = std::snprintf(out, size, "%d to %3.1f M", offset, offset + r);
  } else {
    n = std::snprintf(out, size, "%d to %d M", offset, static_cast<int>(offset + r));
  }
  return n < 0 ? 0 : (n >= size ? size - 1 : n);
}

double LabelStep() {
  const double r = RangeMetersOfStep(g_settings.Range);
  const double unit = g_settings.Units == 1 ? 3.0 : 1.0;
  // At half range the five rings share half the range: 0.15 m at 1.5 m,
  // 0.5 m at 5 m (three times that in feet).
  if (HalfRangeActive()) return 0.1 * r * unit;
  return 0.2 * r * unit;
}

double RingSpacingPixels(int withScaleFactor) {
  const double u = g_settings.Units == 0 ? 100.0 : 91.44;
  double v = g_settings.SoundVelocityMeters;
  if (!(v > 0.0)) v = 1500.0;
  double k = withScaleFactor ? g_ping.rangeScaleFactor : 1.0;
  if (!(k > 0.0)) k = 1.0;
  return u * 1500.0 / v / k;
}

uint8_t LabelColour(int visible) {
  if (!visible || !g_settings.Grid) return kBackgroundIndex;
  if (g_switch.rangeOffset != 0 || g_scan.geom.mode == kModePerspective) return kOverlayMarker;
  return g_settings.Colors == 4 ? 121 : 123;
}

// ------------------------------------------------------------ digit font and labels

// Glyphs "0".."9" then ".", 16 rows each, top row first, MSB leftmost.
static const uint8_t kDigitFont[11][kGlyphHeight] = {
    {0x00, 0x00, 0x00, 0x3C, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x3C, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x18, 0x78, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x18, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x3C, 0x66, 0x66, 0x06, 0x0C, 0x18, 0x30, 0x60, 0x60, 0x7E, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x3C, 0x66, 0x06, 0x06, 0x1C, 0x06, 0x06, 0x06, 0x66, 0x3C, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x06, 0x0E, 0x1E, 0x1E, 0x36, 0x36, 0x66, 0x7E, 0x06, 0x06, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x7E, 0x60, 0x60, 0x60, 0x7C, 0x66, 0x06, 0x06, 0x66, 0x3C, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x3C, 0x66, 0x60, 0x60, 0x7C, 0x66, 0x66, 0x66, 0x66, 0x3C, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x7E, 0x06, 0x0C, 0x0C, 0x18, 0x18, 0x18, 0x30, 0x30, 0x30, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x3C, 0x66, 0x66, 0x66, 0x3C, 0x66, 0x66, 0x66, 0x66, 0x3C, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x3C, 0x66, 0x66, 0x66, 0x66, 0x3E, 0x06, 0x06, 0x66, 0x3C, 0x00, 0x00, 0x00},
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x60, 0x60, 0x00, 0x00, 0x00},
};

static void DrawGlyph(int x, int y, const uint8_t* glyph, uint8_t colour) {
  for (int i = 0; i < kGlyphHeight; ++i) {
    const int row = y + i;
    if (row < 0 || row >= kImageHeight) continue;
    for (int b = 0; b < kGlyphWidth; ++b) {
      if (!(glyph[i] & (0x80 >> b))) continue;
      const int col = x + b;
      if (col < 0 || col >= kImageWidth) continue;
      g_scan.ImageBuffer[row][col] = colour;
    }
  }
}

void DrawLabel(int x, int y, int align, const char* text, int visible) {
  if (!text) return;
  const uint8_t colour = LabelColour(visible);
  const int len = static_cast<int>(std::strlen(text));
  if (align == kAlignRight) x = x + 2 - kGlyphWidth * len;
  else if (align == kAlignCentre) x = x - 4 * len + 2;
  // Labels on the grid over an offset picture sit a little off their point
  // so that they do not cover the line they mark.
  if (g_switch.rangeOffset != 0) {
    const int shift = g_overlay.halfSizeLayout ? 8 : 4;
    if (g_scan.geom.mode == kModeSector) { x -= shift; y += shift; }
    else if (g_scan.geom.mode == kModeProfile) { x -= shift; y -= shift; }
  }
  for (const char* p = text; *p; ++p) {
    if (*p >= '0' && *p <= '9') {
      DrawGlyph(x, y, kDigitFont[*p - '0'], colour);
      x += kGlyphWidth;
    } else if (*p == '.') {
      DrawGlyph(x, y, kDigitFont[10], colour);
      x += 4;
    } else if (*p == ' ') {
      x += align == kAlignLeft ? 4 : kGlyphWidth;
    }
  }
  ++g_overlay.labelsDrawn;
}

// ------------------------------------------------------------ fan grids

static uint8_t g_gridColour = kOverlayMarker;

static inline void GridPixel(int x, int y) {
  if (x < 0 || x >= kImageWidth || y < 0 || y >= kImageHeight) return;
  g_scan.ImageBuffer[y][x] = g_gridColour;
}

static void FormatLabel(char* out, int size, double value) {
  std::snprintf(out, size, HalfRangeActive() ? "%4.2f" : "%4.1f", value);
}

// Point at radius r along map angle a (degrees) of the fan geometry in force;
// the same transform the map uses, so the grid lies on the echo.
static inline void FanPoint(const ScanGeometry& g, double r, double aDeg, int* x, int* y) {
  *x = Rnd(g.originX + r * std::cos(aDeg * kDegToRad));
  *y = Rnd(g.originY + r * std::sin(aDeg * kDegToRad) + g.verticalShift);
}

static void DrawFanGrid(double ringStepDeg, int pixelStep) {
  const ScanGeometry& g = g_scan.geom;
  const double s = RingSpacingPixels(1);
  const double five = 5.0 * s;
  const int r0 = g.offsetSamples;
  // Map angle of the fan's centre line and edges.
  const double centre = g.mode == kModeProfile ? 90.0 - g.tiltDeg : -90.0;
  const double left = centre - g.sectorDeg / 2, right = centre + g.sectorDeg / 2;
  int x, y;
  for (double r = r0; r <= r0 + five; r += pixelStep) {
    FanPoint(g, r, centre, &x, &y);
    GridPixel(x, y);
    FanPoint(g, r, left, &x, &y);
    GridPixel(x, y);
    FanPoint(g, r, right, &x, &y);
    GridPixel(x, y);
  }
  for (int n = r0 ? 0 : 1; n <= 5; ++n) {
    const double radius = r0 + n * s;
    const int steps = static_cast<int>(g.sectorDeg / ringStepDeg);
    for (int k = 0; k <= steps; ++k) {
      FanPoint(g, radius, left + k * ringStepDeg, &x, &y);
      GridPixel(x, y);
    }
  }
  const double l = LabelStep();
  const double o = g_switch.rangeOffset;
  char text[32];
  for (int n = o != 0 ? 0 : 1; n <= 5; ++n) {
    const double radius = r0 + n * s;
    if (o != 0) {
      FanPoint(g, radius, centre, &x, &y);
      FormatLabel(text, sizeof text, o + n * l);
      DrawLabel(x - 2, y - kGlyphHeight / 2, kAlignRight, text, 1);
      continue;
    }
    FormatLabel(text, sizeof text, n * l);
    FanPoint(g, radius, left, &x, &y);
    DrawLabel(x - 2, y - kGlyphHeight / 2, kAlignRight, text, 1);
    FanPoint(g, radius, right, &x, &y);
    DrawLabel(x + 2, y - kGlyphHeight / 2, kAlignLeft, text, 1);
  }
}

static void DrawProfileRectGrid(int pixelStep) {
  const ScanGeometry& g = g_scan.geom;
  const double s = RingSpacingPixels(1);
  const int x0 = g.originX, y0 = g.originY;
  const int depth = static_cast<int>(5 * s);
  // Horizontal lines every s below the apex across the width of five rings
  // either side; vertical lines every s either side of the apex.
  for (int n = 0; n <= 5; ++n) {
    const int row = Rnd(y0 + n * s);
    for (int c = Rnd(x0 - 5 * s); c <= Rnd(x0 + 5 * s); c += pixelStep) GridPixel(c, row);
  }
  for (int m = -5; m <= 5; ++m) {
    const int col = Rnd(x0 + m * s);
    for (int r = y0; r <= y0 + depth; r += pixelStep) GridPixel(col, r);
  }
  const double l = LabelStep();
  const double o = g_switch.rangeOffset;
  char text[32];
  for (int n = 1; n <= 5; ++n) {
    FormatLabel(text, sizeof text, o + n * l);
    DrawLabel(Rnd(x0 - 5 * s) - 2, Rnd(y0 + n * s) - kGlyphHeight / 2, kAlignRight, text, 1);
  }
}

// ------------------------------------------------------------ linear, beam test, perspective

static void DrawLinearGrid() {
  int n = g_scan.geom.beams;
  if (n % 2) ++n;
  const int cols[3] = {kApexColumn - n / 2, kApexColumn, kApexColumn + n / 2};
  for (int c : cols)
    for (int r = kApexRow; r >= 42; --r) GridPixel(c, r);
  for (int row = kApexRow; row >= 41; row -= 100)
    for (int c = cols[0]; c <= cols[2]; ++c) GridPixel(c, row);
}

static void DrawBeamTestGrid() {
  for (int j = 24; j <= 40; ++j)
    for (int r = 42; r <= kApexRow; ++r) GridPixel(216 + 9 * j, r);
  for (int c = kApexColumn - 72; c <= kApexColumn + 72; ++c) {
    GridPixel(c, kApexRow);
    GridPixel(c, 41);
  }
}

static void PerspectivePixel(double x, double y) {
  int dx, dy;
  ProjectPerspective(x, y, 0.0, &dx, &dy);
  GridPixel(506 + dx, kApexRow + dy);
}

static void DrawPerspectiveGrid() {
  const ScanGeometry& g = g_scan.geom;
  const double s = RingSpacingPixels(0);
  const double five = 5.0 * s;
  for (int m = 0; m * s <= 1011.0; ++m) {
    for (double y = 0; y >= -five; y -= 1.0) {
      PerspectivePixel(m * s, y);
      if (m) PerspectivePixel(-m * s, y);
    }
  }
  for (int n = 0; n < 6; ++n)
    for (double x = -1011.0; x <= 1011.0; x += 1.0) PerspectivePixel(x, -n * s);
  const int r0 = g.offsetSamples;
  const double left = -90.0 - g.sectorDeg / 2, right = -90.0 + g.sectorDeg / 2;
  for (double r = r0; r <= r0 + five; r += 4.0) {
    PerspectivePixel(r * std::cos(left * kDegToRad), r * std::sin(left * kDegToRad) + r0);
    PerspectivePixel(r * std::cos(right * kDegToRad), r * std::sin(right * kDegToRad) + r0);
  }
  const int steps = static_cast<int>(g.sectorDeg / 0.4);
  for (int k = 0; k <= steps; ++k) {
    const double a = (left + k * 0.4) * kDegToRad;
    PerspectivePixel((r0 + five) * std::cos(a), (r0 + five) * std::sin(a) + r0);
  }
  char text[32];
  const double o = g_switch.rangeOffset;
  std::snprintf(text, sizeof text, "%4.1f", o);
  DrawLabel(503, 524, kAlignRight, text, 1);
  const double l = LabelStep();
  for (int n = 1; n <= 5; ++n) {
    int dx, dy;
    ProjectPerspective(0.0, -n * s + 0.5, 0.0, &dx, &dy);
    FormatLabel(text, sizeof text, o + n * l);
    DrawLabel(506 + dx - 2, kApexRow + dy + 10, kAlignRight, text, 1);
  }
}

void DrawGrid(int /*window*/) {
  g_gridColour = g_settings.Grid ? kOverlayMarker : kBackgroundIndex;
  g_overlay.labelsDrawn = 0;
  g_overlay.halfSizeLayout = g_scan.geom.mode == kModeProfile && g_settings.ProfileWaterfall == 1;
  switch (g_scan.geom.mode) {
    case kModeSector: DrawFanGrid(0.05, 1); break;
    case kModeProfile: {
      const int step = g_overlay.halfSizeLayout ? 2 : 1;
      if (g_settings.ProfileGrid == 1) DrawProfileRectGrid(step);
      else DrawFanGrid(0.4, step);
      break;
    }
    case kModeLinear: DrawLinearGrid(); break;
    case kModeBeamTest: DrawBeamTestGrid(); break;
    case kModePerspective: DrawPerspectiveGrid(); break;
    default: break;
  }
}

// ------------------------------------------------------------ depth gate lines

int WaterfallLayoutShown() { return g_scan.geom.mode == kModeProfile && g_settings.ProfileWaterfall == 1; }

int ProfileRowOfDepth(double depthM) {
  const ScanGeometry& g = g_scan.geom;
  double samplesPerM = 500.0 / (g.rangeM > 0 ? g.rangeM : 1.0);
  if (g_settings.HalfRange == 1) samplesPerM *= 2.0;
  return g.originY + static_cast<int>(depthM * samplesPerM) + g.verticalShift;
}

static inline void GatePixel(int r, int c) {
  if (g_scan.ImageBuffer[r][c] != kOverlayMarker) g_scan.ImageBuffer[r][c] = kGateColour;
}

void DrawDepthGateLines() {
  g_overlay.gateRowMin = g_overlay.gateRowMax = -1;
  if (g_scan.geom.mode != kModeProfile || g_settings.ProfilePointDetection != 1) return;
  const int rows[2] = {ProfileRowOfDepth(g_settings.ProfileMinDepthBelowSonar),
                       ProfileRowOfDepth(g_settings.ProfileMaxDepthBelowSonar)};
  for (int i = 0; i < 2; ++i) {
    const int r = rows[i];
    if (r < 0 || r >= kImageHeight) continue;
    for (int c = g_scan.SpanLeft[r]; c < g_scan.SpanRight[r]; c += 2) GatePixel(r, c);
  }
  g_overlay.gateRowMin = rows[0] >= 0 && rows[0] < kImageHeight ? rows[0] : -1;
  g_overlay.gateRowMax = rows[1] >= 0 && rows[1] < kImageHeight ? rows[1] : -1;
  int top = rows[0] + 1, bottom = rows[1] - 1;
  if (top < 0) top = 0;
  if (bottom > kImageHeight - 1) bottom = kImageHeight - 1;
  for (int r = top; r <= bottom; r += 2)
    for (int c = g_scan.SpanLeft[r]; c < g_scan.SpanRight[r]; ++c)
      if ((c + r) % 30 == 0) GatePixel(r, c);
}
