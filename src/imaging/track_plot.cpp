// The Track Plotter's picture. Owns g_trackPlot: the 276 x 240 byte picture,
// its colour table, the marker's place and the pixels under it, and how far
// into the track ring the picture has drawn.
//
// The ring itself belongs to nav/track and is filled by the GPS reader
// thread; this module reads it under the track lock and draws under the
// console lock, so a fix never waits for a picture and a ping never waits
// for the painter (the picture crosses through the frame hand-off). A new
// fix normally costs one segment, one swath line and the marker; the whole
// plot is drawn only when the view changes (shown, zoom, recentring, clear,
// load, a new track after a jump of kilometres).
//
//   [SECTION] Pixels   lines clipped to the picture, the font
//   [SECTION] Plot     whole plot, the per-fix update, publishing
//   [SECTION] Commands show, clear, load, zoom clicks
#include "imaging/track_plot.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/frame_handoff.h"
#include "platform/platform.h"
#include "platform/small_font.h"
#include "settings/settings.h"

TrackPlotState g_trackPlot;

namespace {

constexpr int W = kTrackPlotWidth;
constexpr int H = kTrackPlotHeight;
constexpr int kHalfMarker = kTrackMarkerSize / 2;
constexpr int kLabelX = 4, kLabelY = 4;


// ============================================================ [SECTION] Pixels

void Put(int x, int y, uint8_t c) {
  if (x >= 0 && x < W && y >= 0 && y < H) g_trackPlot.pixels[y * W + x] = c;
}

// Liang-Barsky: the part of the segment inside [lo, hi] in both axes, so a
// segment kilometres off the picture at a fine zoom costs nothing.
int ClipSegment(double* x0, double* y0, double* x1, double* y1, double lo, double hiX, double hiY) {
  const double dx = *x1 - *x0, dy = *y1 - *y0;
  double t0 = 0.0, t1 = 1.0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {*x0 - lo, hiX - *x0, *y0 - lo, hiY - *y0};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0) return 0;
      continue;
    }
    const double r = q[i] / p[i];
    if (p[i] < 0.0) {
      if (r > t1) return 0;
      if (r > t0) t0 = r;
    } else {
      if (r < t0) return 0;
      if (r < t1) t1 = r;
    }
  }
  const double ax = *x0 + t0 * dx, ay = *y0 + t0 * dy;
  *x1 = *x0 + t1 * dx;
  *y1 = *y0 + t1 * dy;
  *x0 = ax;
  *y0 = ay;
  return 1;
}

// A line of `width` 1 or 3 pixels (a square brush) between two pixel
// positions; the rest of the plane is clipped away first.
void Line(double x0, double y0, double x1, double y1, int width, uint8_t c) {
  if (!std::isfinite(x0) || !std::isfinite(y0) || !std::isfinite(x1) || !std::isfinite(y1)) return;
  if (!ClipSegment(&x0, &y0, &x1, &y1, -2.0, W + 1.0, H + 1.0)) return;
  int ax = static_cast<int>(std::lround(x0)), ay = static_cast<int>(std::lround(y0));
  const int bx = static_cast<int>(std::lround(x1)), by = static_cast<int>(std::lround(y1));
  const int dx = std::abs(bx - ax), dy = -std::abs(by - ay);
  const int sx = ax < bx ? 1 : -1, sy = ay < by ? 1 : -1;
  int err = dx + dy;
  const int r = width / 2;
  for (;;) {
    for (int j = -r; j <= r; ++j)
      for (int i = -r; i <= r; ++i) Put(ax + i, ay + j, c);
    if (ax == bx && ay == by) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      ax += sx;
    }
    if (e2 <= dx) {
      err += dx;
      ay += sy;
    }
  }
}

}  // namespace

int DrawTrackText(uint8_t* pixels, int width, int height, int x, int y, const char* text, uint8_t colour) {
  const int start = x;
  for (const char* p = text; *p; ++p) {
    const uint8_t* rows = plat::SmallGlyphRows(*p);
    if (rows == nullptr) continue;
    for (int r = 0; r < plat::kSmallGlyphHeight; ++r)
      for (int c = 0; c < plat::kSmallGlyphWidth; ++c) {
        const int px = x + c, py = y + r;
        if ((rows[r] >> (4 - c)) & 1 && px >= 0 && px < width && py >= 0 && py < height)
          pixels[py * width + px] = colour;
      }
    x += plat::kSmallGlyphAdvance;
  }
  return x - start;
}

namespace {

// ============================================================ [SECTION] Plot

int SwathShown() { return g_settings.DisplaySwathCoverage != 0; }
int Zoom() { return g_settings.TrackPlotterZoom; }

int Loaded(const TrackPoint& e) { return e.headingChoice == kTrackLoadedEntry; }

// An entry carries swath edges when it was read from a log, or when its
// ping had points and the edges were placed (DisplaySwathCoverage on).
int HasSwath(const TrackPoint& e) {
  if (Loaded(e)) return 1;
  if (e.portExtent <= -kSwathExtentNone && e.starboardExtent >= kSwathExtentNone) return 0;
  return e.swath[0] != 0.0 || e.swath[1] != 0.0 || e.swath[2] != 0.0 || e.swath[3] != 0.0;
}

void RestoreUnderMarker() {
  TrackPlotState& t = g_trackPlot;
  if (!t.markerShown) return;
  for (int j = 0; j < kTrackMarkerSize; ++j)
    for (int i = 0; i < kTrackMarkerSize; ++i)
      Put(t.markerX - kHalfMarker + i, t.markerY - kHalfMarker + j, t.saved[j * kTrackMarkerSize + i]);
  t.markerShown = 0;
}

void DrawMarkerAt(int x, int y) {
  TrackPlotState& t = g_trackPlot;
  for (int j = 0; j < kTrackMarkerSize; ++j)
    for (int i = 0; i < kTrackMarkerSize; ++i) {
      const int px = x - kHalfMarker + i, py = y - kHalfMarker + j;
      const int inside = px >= 0 && px < W && py >= 0 && py < H;
      t.saved[j * kTrackMarkerSize + i] = inside ? t.pixels[py * W + px] : static_cast<uint8_t>(kTrackBackground);
      Put(px, py, kTrackMarkerColour);
    }
  t.markerX = x;
  t.markerY = y;
  t.markerShown = 1;
}

void DrawGrid(double scale) {
  const int spacing = TrackGridSpacingM(scale);
  // Grid lines at whole multiples of the spacing in UTM metres, so they
  // stay on the ground when the plot recentres.
  const double originEast = -g_track.originWest, originNorth = g_track.originNorth;
  const double halfW = W / 2.0 / scale, halfH = H / 2.0 / scale;
  for (double e = std::ceil((originEast - halfW) / spacing) * spacing; e <= originEast + halfW; e += spacing) {
    double x, y;
    TrackPixel(originNorth, -e, scale, &x, &y);
    Line(x, 0, x, H - 1, 1, kTrackGridColour);
  }
  for (double n = std::ceil((originNorth - halfH) / spacing) * spacing; n <= originNorth + halfH; n += spacing) {
    double x, y;
    TrackPixel(n, g_track.originWest, scale, &x, &y);
    Line(0, y, W - 1, y, 1, kTrackGridColour);
  }
}

void DrawLabel(double scale) {
  char text[32];
  std::snprintf(text, sizeof text, "%d M/DIV", TrackGridSpacingM(scale));
  const int len = static_cast<int>(std::strlen(text));
  for (int y = kLabelY - 2; y < kLabelY + 9; ++y)
    for (int x = kLabelX - 2; x < kLabelX + 6 * len + 1; ++x) Put(x, y, kTrackBackground);
  DrawTrackText(g_trackPlot.pixels, W, H, kLabelX, kLabelY, text, kTrackLabelColour);
}

void SwathLine(const TrackPoint& e, double scale) {
  double ax, ay, bx, by;
  TrackPixel(e.swath[0], e.swath[1], scale, &ax, &ay);
  TrackPixel(e.swath[2], e.swath[3], scale, &bx, &by);
  Line(ax, ay, bx, by, 1, Loaded(e) ? kTrackLoadedSwathColour : kTrackSwathColour);
}

void Publish() {
  TrackPlotState& t = g_trackPlot;
  if (plat::PublishFrame(plat::kWinTrackPlotter, t.pixels, W, H, t.colours.data(), 0, 0, W - 1, H - 1)) t.published++;
  plat::InvalidateWindow(plat::kWinTrackPlotter);
}

// The whole plot, with the track lock held: grid, the stored track (live
// fixes joined with each other, fixes read from a log with each other),
// the swath lines, the label, and the marker on the last live fix.
void DrawWholeLocked() {
  TrackPlotState& t = g_trackPlot;
  const double scale = TrackPlotScale(Zoom());
  double mx = 0, my = 0;
  if (g_track.haveFix) {
    // A zoom can put the vessel outside the picture: centre on it first.
    TrackPixel(g_track.previousNorth, g_track.previousWest, scale, &mx, &my);
    if (TrackNeedsRecentre(mx, my)) RecentreTrackLocked();
  }
  std::memset(t.pixels, kTrackBackground, sizeof t.pixels);
  t.markerShown = 0;
  DrawGrid(scale);
  const int swath = SwathShown();
  const int count = g_track.stored;
  const int first = count < kTrackEntries ? 0 : g_track.position;
  double last[2][2] = {};
  int haveLast[2] = {0, 0};
  for (int k = 0; k < count; ++k) {
    const TrackPoint& e = g_track.ring[(first + k) % kTrackEntries];
    if (!e.valid) continue;
    const int kind = Loaded(e);
    double x, y;
    TrackPixel(e.north, e.west, scale, &x, &y);
    if (e.lineStart) haveLast[kind] = 0;
    if (haveLast[kind])
      Line(last[kind][0], last[kind][1], x, y, 3, kind ? kTrackLoadedLineColour : kTrackLineColour);
    last[kind][0] = x;
    last[kind][1] = y;
    haveLast[kind] = 1;
    if ((swath || kind) && HasSwath(e)) SwathLine(e, scale);
  }
  DrawLabel(scale);
  if (g_track.haveFix) {
    TrackPixel(g_track.previousNorth, g_track.previousWest, scale, &mx, &my);
    DrawMarkerAt(static_cast<int>(std::lround(mx)), static_cast<int>(std::lround(my)));
  }
  g_track.redrawAll.store(0);
  t.entriesDrawn = g_track.written.load();
  t.zoomDrawn = Zoom();
  t.swathDrawn = swath;
  t.drawn = 1;
  t.fullDraws++;
}

// The entries stored since the last picture, oldest first, with the lock
// held. Returns 0 when only a whole plot can show them.
int AddNewEntriesLocked() {
  TrackPlotState& t = g_trackPlot;
  const uint64_t written = g_track.written.load();
  const uint64_t fresh = written - t.entriesDrawn;
  if (fresh > static_cast<uint64_t>(g_track.stored)) return 0;
  const double scale = TrackPlotScale(Zoom());
  const int swath = SwathShown();
  for (uint64_t k = fresh; k > 0; --k) {
    const int index = static_cast<int>((g_track.position + kTrackEntries - static_cast<int>(k)) % kTrackEntries);
    const TrackPoint& e = g_track.ring[index];
    if (!e.valid) continue;
    if (Loaded(e)) return 0;
    double x, y;
    TrackPixel(e.north, e.west, scale, &x, &y);
    // The segment runs from the marker's last place; the pixels it covered
    // go back first so neither the line nor the next save keeps the marker.
    const int hadMarker = t.markerShown;
    const int fromX = t.markerX, fromY = t.markerY;
    RestoreUnderMarker();
    if (hadMarker && !e.lineStart) {
      Line(fromX, fromY, x, y, 3, kTrackLineColour);
      t.segmentsDrawn++;
    }
    if (swath && HasSwath(e)) SwathLine(e, scale);
    if (TrackNeedsRecentre(x, y)) {
      RecentreTrackLocked();
      return 0;
    }
    DrawMarkerAt(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
  }
  // The label stays readable over a track that runs under it.
  DrawLabel(scale);
  if (t.markerShown) {
    // Re-draw the marker in case the label covered part of it.
    const int mx = t.markerX, my = t.markerY;
    RestoreUnderMarker();
    DrawMarkerAt(mx, my);
  }
  t.entriesDrawn = written;
  return 1;
}

}  // namespace

void ResetTrackPlot() {
  TrackPlotState& t = g_trackPlot;
  t = TrackPlotState{};
}

void SyncTrackOptions() {
  SetTrackOptions(g_settings.RunMode == 1, g_settings.DisplaySwathCoverage, g_settings.SwathCoverageHeading);
}

int DrawTrackPlot() {
  if (!g_settings.TrackPlotterWindow) return 0;
  {
    TrackLock lock;
    DrawWholeLocked();
  }
  Publish();
  return 1;
}

int UpdateTrackPlot() {
  TrackPlotState& t = g_trackPlot;
  if (!g_settings.TrackPlotterWindow) return 0;
  const int viewChanged = !t.drawn || t.zoomDrawn != Zoom() || t.swathDrawn != SwathShown();
  if (!viewChanged && !g_track.redrawAll.load() && g_track.written.load() == t.entriesDrawn) return 0;
  {
    TrackLock lock;
    if (viewChanged || g_track.redrawAll.load() || !AddNewEntriesLocked()) DrawWholeLocked();
  }
  Publish();
  return 1;
}

// ============================================================ [SECTION] Commands

void ShowTrackPlotter(int shown) {
  g_settings.TrackPlotterWindow = shown ? 1 : 0;
  plat::ShowWindow(plat::kWinTrackPlotter, g_settings.TrackPlotterWindow);
  if (shown) DrawTrackPlot();
}

void ClearTrackPlotter() {
  if (!g_settings.TrackPlotterWindow) return;
  ClearTrack();
  DrawTrackPlot();
}

int LoadSwathCoverage(const char* directory) {
  const std::string path = CoverageLogPath(directory);
  plat::ProgressBegin("", "Loading Swath Coverage LOG File ...");
  const int lines = LoadCoverageLog(path.c_str(), plat::ProgressSet);
  plat::ProgressEnd();
  DrawTrackPlot();
  return lines;
}

int TrackPlotterClick(int leftButton) {
  const int zoom = Zoom();
  g_settings.TrackPlotterZoom = leftButton ? TrackZoomIn(zoom) : TrackZoomOut(zoom);
  DrawTrackPlot();
  return g_settings.TrackPlotterZoom;
}
