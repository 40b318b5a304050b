// Cursor readout arithmetic. Window coordinates: the picture's pixel (0, 0)
// is at (2, 61), so the apex of the Sector, Linear, Perspective and Beam
// Test pictures is at (507, 602); the Profile apex moves with the profile
// offsets. One pixel is R / 500 metres of the head's range; slant ranges
// are also scaled by the speed of sound against 1500 m/s and the head's
// range scale factor, as the grid's rings are. A window point is first taken
// back to that full-size placement: through the display scale, or from the
// half-size picture of the Profile waterfall layout, so every distance
// measured there doubles. Owns g_mainLayout (user-interface thread).
#include "ui/readout.h"

#include <cmath>
#include <cstdio>

#include "files/sonar_file.h"
#include "head/return_data.h"
#include "imaging/overlay.h"
#include "nav/nav_state.h"
#include "imaging/scan_convert.h"
#include "settings/settings.h"

namespace {

constexpr int kPictureLeft = 2;
constexpr int kPictureTop = 61;
constexpr int kHalfLeft = 22;         // the half-size picture's left edge
constexpr int kHalfFirstColumn = 100;  // the picture column it starts with
constexpr int kBeamTestFirstColumn = 216;
constexpr int kBeamTestLastColumn = 359;
constexpr double kDegPerRad = 57.29577951;

double SlantScale() {
  const double v = g_settings.SoundVelocityMeters > 0.0 ? g_settings.SoundVelocityMeters : 1500.0;
  return v / 1500.0 * g_ping.rangeScaleFactor;
}

double UnitFactor(int units) { return units == 1 ? kFeetPerMetre : units == 2 ? kYardsPerMetre : 1.0; }

// Bearing of (x, y) seen from the apex, 0 up, clockwise, 0 <= b < 360.
double Bearing(double dx, double d, int left, int below) {
  const double b = std::asin(dx / d) * kDegPerRad;
  double bearing = b;
  if (left && !below) bearing = 360.0 - b;
  else if (!left && below) bearing = 180.0 - b;
  else if (left && below) bearing = 180.0 + b;
  if (bearing >= 360.0) bearing = 0.0;
  return bearing;
}

}  // namespace

MainLayout g_mainLayout;

void SetDisplayScale(double scale) {
  g_mainLayout.displayScale = scale >= kMinDisplayScale && scale <= kMaxDisplayScale ? scale : 1.0;
}

int PicturePointOfWindow(int x, int y, double* ux, double* uy) {
  if (WaterfallLayoutShown()) {
    // The small picture of the waterfall layout: columns 100..911 at half size from (22, 61).
    if (x < 21 || x > 429 || y < 60 || y > 330) return 0;
    *ux = kPictureLeft + kHalfFirstColumn + (x - kHalfLeft) * 2.0;
    *uy = kPictureTop + (y - kPictureTop) * 2.0;
    return 1;
  }
  const double z = g_mainLayout.displayScale;
  if (x < kPictureLeft || y < kPictureTop || x >= kPictureLeft + kImageWidth * z || y >= kPictureTop + kImageHeight * z)
    return 0;
  *ux = kPictureLeft + (x - kPictureLeft) / z;
  *uy = kPictureTop + (y - kPictureTop) / z;
  return 1;
}

CursorReadout ComputeCursorReadout(int x, int y) {
  CursorReadout r;
  const ScanGeometry& g = g_scan.geom;
  const int mode = g.mode;
  if (mode < 0) return r;
  // Everything below is measured in pixels of the full-size picture, placed
  // at (2, 61): the half-size layout and a display scale map back to it.
  double ux, uy;
  if (!PicturePointOfWindow(x, y, &ux, &uy)) return r;
  const int units = g_settings.Units;
  const double unit = UnitFactor(units);
  const char* suffix = UnitSuffix(units);
  const double p = g.rangeM / 500.0;
  const double offset = g.rangeOffset;
  const int apexX = g.originX + kPictureLeft;
  const int apexY = g.originY + kPictureTop;
  r.shown = 1;

  if (mode == kModeLinear) {
    const double range = (apexY - uy - 4) * p;
    double angle = g.beams > 0 ? (ux - apexX) * g.sectorDeg / g.beams : 0.0;
    if (angle < 0.0) angle += 360.0;
    r.range = range * unit;
    r.across = angle;
    std::snprintf(r.value1, sizeof r.value1, "%3.2f%s", r.range, suffix);
    std::snprintf(r.value2, sizeof r.value2, "%05.1f Deg", r.across);
    return r;
  }
  if (mode == kModeBeamTest) {
    r.range = ((apexY - uy) * p - offset) * unit;
    std::snprintf(r.value1, sizeof r.value1, "%3.2f%s", r.range, suffix);
    // The map is read one row lower than the picture row the range uses.
    int px = static_cast<int>(ux) - kPictureLeft, py = static_cast<int>(uy) - (kPictureTop - 1);
    px = px < 0 ? 0 : px >= kImageWidth ? kImageWidth - 1 : px;
    py = py < 0 ? 0 : py >= kImageHeight ? kImageHeight - 1 : py;
    int q = g_scan.PixelMap[py][px].SubBeamIndex;
    if (q >= kBeamTestFirstColumn && q <= kBeamTestLastColumn) {
      // A down-looking head's raster arrives the other way round (the decoder
      // puts element position e at the far end), so the columns count from
      // the other side. 575 - q maps 216..359 onto 359..216 exactly.
      if (BeamTestMirrored()) q = kBeamTestFirstColumn + kBeamTestLastColumn - q;
      r.across = 40 - q / 9;
      std::snprintf(r.value2, sizeof r.value2, "Beam %d", 40 - q / 9);
    }
    return r;
  }
  if (mode == kModeProfile && g_settings.ProfileGrid == 1) {
    r.rectangular = 1;
    std::snprintf(r.label1, sizeof r.label1, "HOR:");
    std::snprintf(r.label2, sizeof r.label2, "VER:");
    r.range = (ux - apexX) * p * unit;
    r.across = ((apexY - uy + 1) * p - offset) * unit;
    std::snprintf(r.value1, sizeof r.value1, "%5.2f%s", r.range, suffix);
    std::snprintf(r.value2, sizeof r.value2, "%5.2f%s", r.across, suffix);
    return r;
  }
  // Circular grids: Sector, Perspective, Profile.
  const double dx = std::abs(apexX - ux), dy = std::abs(apexY - uy);
  double d = std::sqrt(dx * dx + dy * dy);
  if (d == 0.0) d = 1e-6;
  double bearing = Bearing(dx, d, ux < apexX, uy > apexY);
  const double range = d * p * SlantScale();
  if (mode == kModeProfile) {
    bearing = 360.0 - (bearing - 180.0);
    while (bearing > 180.0) bearing -= 360.0;
    while (bearing < -180.0) bearing += 360.0;
  }
  r.range = range * unit;
  r.across = bearing;
  std::snprintf(r.value1, sizeof r.value1, "%3.2f%s", r.range, suffix);
  std::snprintf(r.value2, sizeof r.value2, "%05.1f Deg", r.across);
  return r;
}

int BeamTestMirrored() { return g_settings.Xdcr == 0; }

int MeasuringAllowed() {
  const int mode = g_scan.geom.mode;
  return mode == kModeSector || mode == kModePerspective || (mode == kModeProfile && !WaterfallLayoutShown());
}

double MeasuredDistance(int x0, int y0, int x1, int y1) {
  if (!MeasuringAllowed()) return -1.0;
  const double dx = x1 - x0, dy = y1 - y0;
  return std::sqrt(dx * dx + dy * dy) / g_mainLayout.displayScale * g_scan.geom.rangeM / 500.0 * SlantScale() * UnitFactor(g_settings.Units);
}

// ============================================================ navigation

void CourseArrow(double courseDeg, int cx, int cy, int r, int* p) {
  const double a = courseDeg / kDegPerRad;
  const double ux = std::sin(a), uy = -std::cos(a);  // along the course, screen y down
  const double px = -uy, py = ux;                    // to its right
  auto put = [&](int i, double x, double y) {
    p[2 * i] = static_cast<int>(std::lround(x));
    p[2 * i + 1] = static_cast<int>(std::lround(y));
  };
  const double tipX = cx + r * ux, tipY = cy + r * uy;
  put(0, tipX, tipY);
  put(1, cx - r * ux, cy - r * uy);
  const double back = 0.45 * r, side = 0.35 * r;
  put(2, tipX - back * ux - side * px, tipY - back * uy - side * py);
  put(3, tipX - back * ux + side * px, tipY - back * uy + side * py);
}

NavReadout ComputeNavReadout() {
  NavReadout r;
  NavSnapshot nav;  // the texts are copied out of it below
  const char* lat = nullptr;
  const char* lon = nullptr;
  double speed = 0.0;
  if (g_settings.RunMode == 1) {
    // Playback shows what the played record carries.
    if (g_playback.positionPresent) {
      lat = g_playback.latitude;
      lon = g_playback.longitude;
      speed = g_playback.speedKnots;
      r.courseDeg = g_playback.courseDeg;
      r.positionShown = r.speedShown = 1;
    }
  } else {
    CopyNavSnapshot(&nav);
    if (nav.positionShown && nav.latitude[0]) {
      lat = nav.latitude;
      lon = nav.longitude;
      r.positionShown = 1;
    }
    r.speedShown = nav.speedShown;
    speed = nav.speedKnots;
    r.courseDeg = nav.courseDeg;
  }
  if (lat) {
    std::snprintf(r.latitude, sizeof r.latitude, "%.14s", lat);
    std::snprintf(r.longitude, sizeof r.longitude, "%.14s", lon);
  }
  if (r.speedShown) std::snprintf(r.speed, sizeof r.speed, "%3.1f  KTS", speed);
  CourseArrow(r.courseDeg, kCourseArrowX, kCourseArrowY, kCourseArrowRadius, r.arrow);
  return r;
}
