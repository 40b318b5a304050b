// Waterfall windows: owns the three history pictures (Sidescan, Echo
// Sounder, Intensity) and their per-window state. Each ping, every window
// that is shown, built and not minimised scrolls its picture by one line,
// resamples its source vector (sidescan line, nadir trace, point intensity)
// into the newest line and hands the picture to the painter through the
// frame hand-off, so the ping never waits for a repaint. The Sidescan's fan
// symbols are drawn into the published copy only: the history underneath is
// restored at once, so the symbols never scroll. Also the Altitude text.
#include "imaging/waterfall.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "imaging/palette.h"
#include "platform/platform.h"
#include "processing/beamform.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

WaterfallWindow g_waterfalls[kWaterfallCount];

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFeetPerMetre = 3.2808398950131231941;
constexpr int kDisplayBeamTest = 4;
constexpr int kGridMarkMin = 128;   // overlay marks sit at 128 and above
constexpr int kGridMarkMax = 245;   // a marked echo never reaches the top entries
constexpr float kSidescanAngleStepDeg = 5.0f;
constexpr int kFanApexRow = 2;
constexpr int kFanEdgeInset = 5;    // apex column of a single symbol from its edge
constexpr double kFanHalfOpeningDeg = 15.0;
constexpr double kFanLengthOfDiagonal = 0.075;
constexpr double kTiltOneSideDeg = 20.0;

const int kWindowOfKind[kWaterfallCount] = {plat::kWinSidescan, plat::kWinEchoSounder,
                                            plat::kWinIntensity};

int ValidKind(int kind) { return kind >= 0 && kind < kWaterfallCount; }

int Wanted(const WaterfallWindow& w) { return w.shown && w.ready && !w.minimised; }

int LevelOf(int v) { return v < 0 ? 0 : v > kWaterfallLevelMax ? kWaterfallLevelMax : v; }

// A pixel that carried an overlay mark keeps it through the new value.
uint8_t Marked(int value, int old, int grid) {
  if (grid && old >= kGridMarkMin) return static_cast<uint8_t>(std::min(value + 128, kGridMarkMax));
  return static_cast<uint8_t>(value);
}

void BuildPicture(WaterfallWindow& w, int kind) {
  w.width = WaterfallPictureWidth(w.clientWidth);
  w.height = WaterfallPictureHeight(w.clientHeight);
  w.lineLength = WaterfallLineLength(kind, w.width, w.height);
  std::memset(w.pixels, 0, static_cast<size_t>(w.width) * static_cast<size_t>(w.height));
  std::memset(w.line, 0, sizeof w.line);
  w.updates = 0;
  w.ready = 1;
}

int Publish(WaterfallWindow& w, int kind) {
  if (!w.shown || !w.ready) return 0;
  static int savedIndex[kFanMaxPoints];
  static uint8_t savedValue[kFanMaxPoints];
  int saved = 0;
  if (kind == kSidescanWaterfall)
    saved = DrawSidescanFans(w.pixels, w.width, w.height, w.clientWidth, w.clientHeight,
                             g_sidescanAngleDeg, g_settings.ProfileTiltAngle, savedIndex, savedValue);
  const int ok = plat::PublishFrame(w.window, w.pixels, w.width, w.height, g_palette.pictureColours,
                                    0, 0, w.width - 1, w.height - 1);
  // Backwards, so a pixel the symbols crossed twice gets its history back.
  for (int i = saved - 1; i >= 0; --i) w.pixels[savedIndex[i]] = savedValue[i];
  if (!ok) return 0;
  w.published++;
  plat::InvalidateWindow(w.window);
  return 1;
}

// The newest line goes into row 0 after every row moved down one.
void ScrollDownAndWrite(WaterfallWindow& w, int grid) {
  const int W = w.width, H = w.height;
  if (H > 1) std::memmove(w.pixels + W, w.pixels, static_cast<size_t>(W) * static_cast<size_t>(H - 1));
  uint8_t* row = w.pixels;
  for (int x = 0; x < W; ++x) row[x] = Marked(x < w.lineLength ? w.line[x] : 0, row[x], grid);
}

// The newest line goes into the last column, top to bottom, after every
// column moved left one.
void ScrollLeftAndWrite(WaterfallWindow& w, int grid) {
  const int W = w.width, H = w.height;
  for (int y = 0; y < H; ++y) {
    uint8_t* row = w.pixels + static_cast<size_t>(y) * static_cast<size_t>(W);
    if (W > 1) std::memmove(row, row + 1, static_cast<size_t>(W - 1));
    row[W - 1] = Marked(y < w.lineLength ? w.line[y] : 0, row[W - 1], grid);
  }
}

struct FanPlot {
  uint8_t* pixels;
  int width, height;
  int* savedIndex;
  uint8_t* savedValue;
  int count;
};

void Plot(FanPlot& f, double x, double y) {
  const int px = static_cast<int>(std::lround(x)), py = static_cast<int>(std::lround(y));
  if (px < 0 || py < 0 || px >= f.width || py >= f.height || f.count >= kFanMaxPoints) return;
  const int index = py * f.width + px;
  if (f.savedIndex) f.savedIndex[f.count] = index;
  if (f.savedValue) f.savedValue[f.count] = f.pixels[index];
  f.pixels[index] = kFanColour;
  f.count++;
}

// One symbol: `direction` -1 points to port (left), +1 to starboard.
void DrawFan(FanPlot& f, int apexX, int direction, double angleDeg, double length) {
  const double a0 = (angleDeg - kFanHalfOpeningDeg) * kPi / 180.0;
  const double a1 = (angleDeg + kFanHalfOpeningDeg) * kPi / 180.0;
  const int steps = std::max(1, static_cast<int>(std::ceil(2.0 * length)));
  for (double a : {a0, a1})
    for (int i = 0; i <= steps; ++i) {
      const double r = length * i / steps;
      Plot(f, apexX + direction * r * std::cos(a), kFanApexRow + r * std::sin(a));
    }
  const int arcSteps = std::max(1, static_cast<int>(std::ceil(2.0 * length * (a1 - a0))));
  for (int i = 0; i <= arcSteps; ++i) {
    const double a = a0 + (a1 - a0) * i / arcSteps;
    Plot(f, apexX + direction * length * std::cos(a), kFanApexRow + length * std::sin(a));
  }
}

}  // namespace

void ResetWaterfalls() {
  for (int k = 0; k < kWaterfallCount; ++k) {
    WaterfallWindow& w = g_waterfalls[k];
    w.window = kWindowOfKind[k];
    w.shown = 0;
    w.minimised = 0;
    w.ready = 0;
    w.clientWidth = kWaterfallDefaultClientW;
    w.clientHeight = kWaterfallDefaultClientH;
    w.width = w.height = w.lineLength = 0;
    w.pingsSinceShown = 0;
    w.updates = 0;
    w.published = 0;
    std::memset(w.line, 0, sizeof w.line);
    std::memset(w.pixels, 0, sizeof w.pixels);
  }
}

int WaterfallOfWindow(int window) {
  for (int k = 0; k < kWaterfallCount; ++k)
    if (kWindowOfKind[k] == window) return k;
  return -1;
}

void SetWaterfallShown(int kind, int shown) {
  if (!ValidKind(kind)) return;
  WaterfallWindow& w = g_waterfalls[kind];
  // A record that was never reset still names its window.
  w.window = kWindowOfKind[kind];
  if (w.clientWidth <= 0 || w.clientHeight <= 0) {
    w.clientWidth = kWaterfallDefaultClientW;
    w.clientHeight = kWaterfallDefaultClientH;
  }
  w.shown = shown ? 1 : 0;
  w.pingsSinceShown = 0;
  if (w.shown) {
    BuildPicture(w, kind);
    (void)Publish(w, kind);
  } else {
    w.ready = 0;
  }
}

int WaterfallShown(int kind) { return ValidKind(kind) ? g_waterfalls[kind].shown : 0; }

void SetWaterfallMinimised(int kind, int minimised) {
  if (ValidKind(kind)) g_waterfalls[kind].minimised = minimised ? 1 : 0;
}

int ResizeWaterfall(int kind, int clientWidth, int clientHeight, int* clientW, int* clientH) {
  if (!ValidKind(kind)) return 0;
  WaterfallWindow& w = g_waterfalls[kind];
  w.window = kWindowOfKind[kind];
  w.clientWidth = std::max(clientWidth, kWaterfallMinClient);
  w.clientHeight = std::max(clientHeight, kWaterfallMinClient);
  if (clientW) *clientW = w.clientWidth;
  if (clientH) *clientH = w.clientHeight;
  if (w.shown) {
    BuildPicture(w, kind);
    (void)Publish(w, kind);
  }
  return 1;
}

int WaterfallPictureWidth(int clientWidth) {
  const int w = (std::max(clientWidth, kWaterfallMinClient) + 1) / 4 * 4;
  return std::min(w, kWaterfallMaxWidth / 4 * 4);
}

int WaterfallPictureHeight(int clientHeight) {
  return std::min(std::max(clientHeight, kWaterfallMinClient) + 1, kWaterfallMaxHeight);
}

int WaterfallLineLength(int kind, int width, int height) {
  if (kind == kEchoSounderWaterfall) return std::min(height, kWaterfallMaxLine);
  return width > 1996 ? kWaterfallMaxLine : width;
}

void ResampleWaterfallLine(const int* source, int count, uint8_t* line, int length) {
  if (length <= 0) return;
  if (source == nullptr || count <= 0) {
    std::memset(line, 0, static_cast<size_t>(length));
    return;
  }
  if (count >= length) {
    // Pixel k ends where c * length reaches (k + 1) * count: integer
    // arithmetic, so the last pixel always reaches the last value.
    int c = 0;
    for (int k = 0; k < length; ++k) {
      const long long boundary = static_cast<long long>(k + 1) * count;
      int peak = 0;
      while (c < count && static_cast<long long>(c) * length < boundary) peak = std::max(peak, source[c++]);
      line[k] = static_cast<uint8_t>(LevelOf(peak));
    }
    return;
  }
  for (int k = 0; k < length; ++k)
    line[k] = static_cast<uint8_t>(LevelOf(source[static_cast<long long>(k) * count / length]));
}

int UpdateWaterfall(int kind, const int* source, int count) {
  if (!ValidKind(kind)) return 0;
  WaterfallWindow& w = g_waterfalls[kind];
  if (!Wanted(w)) return 0;
  if (kind == kSidescanWaterfall) {
    if (w.pingsSinceShown <= kSidescanSkippedPings) w.pingsSinceShown++;
    if (w.pingsSinceShown <= kSidescanSkippedPings) return 0;
  }
  const int length = std::min(w.lineLength, kWaterfallMaxLine);
  ResampleWaterfallLine(source, std::max(count, 0), w.line, length);
  const int grid = g_settings.Grid == 1;
  if (kind == kEchoSounderWaterfall)
    ScrollLeftAndWrite(w, grid);
  else
    ScrollDownAndWrite(w, grid);
  w.updates++;
  (void)Publish(w, kind);
  return 1;
}

int UpdateWaterfalls() {
  // Beam Test forms no beams, so no source vector belongs to this ping.
  if (g_settings.DisplayType == kDisplayBeamTest) return 0;
  int updated = 0;
  updated += UpdateWaterfall(kSidescanWaterfall, g_sidescanLine, g_sidescanLength);
  if (Wanted(g_waterfalls[kEchoSounderWaterfall])) {
    BuildNadirTrace();
    updated += UpdateWaterfall(kEchoSounderWaterfall, g_nadirTrace, g_nadirTraceLength);
  }
  if (Wanted(g_waterfalls[kIntensityWaterfall])) {
    if (g_settings.ProfilePointIntensityOutput != 1) ComputePointIntensity();
    updated += UpdateWaterfall(kIntensityWaterfall, g_pointIntensity,
                               std::clamp(g_beamGeom.beams, 0, kMaxBeams));
  }
  return updated;
}

void ClearWaterfalls() {
  for (int k = 0; k < kWaterfallCount; ++k) {
    WaterfallWindow& w = g_waterfalls[k];
    if (!w.shown || !w.ready) continue;
    std::memset(w.pixels, 0, static_cast<size_t>(w.width) * static_cast<size_t>(w.height));
    (void)Publish(w, k);
  }
}

int RepublishWaterfall(int kind) { return ValidKind(kind) ? Publish(g_waterfalls[kind], kind) : 0; }

void RepublishWaterfalls() {
  for (int k = 0; k < kWaterfallCount; ++k) (void)RepublishWaterfall(k);
}

float SidescanLeftClick() {
  AdjustSidescanAngle(kSidescanAngleStepDeg);
  (void)RepublishWaterfall(kSidescanWaterfall);
  return g_sidescanAngleDeg;
}

float SidescanRightClick() {
  AdjustSidescanAngle(-kSidescanAngleStepDeg);
  (void)RepublishWaterfall(kSidescanWaterfall);
  return g_sidescanAngleDeg;
}

int DrawSidescanFans(uint8_t* pixels, int width, int height, int clientWidth, int clientHeight,
                     float angleDeg, double tiltDeg, int* savedIndex, uint8_t* savedValue) {
  if (pixels == nullptr || width <= 0 || height <= 0) return 0;
  FanPlot f{pixels, width, height, savedIndex, savedValue, 0};
  const double length = kFanLengthOfDiagonal * std::sqrt(static_cast<double>(clientWidth) * clientWidth +
                                                         static_cast<double>(clientHeight) * clientHeight);
  if (tiltDeg <= -kTiltOneSideDeg) {
    DrawFan(f, width - kFanEdgeInset, -1, angleDeg, length);
  } else if (tiltDeg >= kTiltOneSideDeg) {
    DrawFan(f, kFanEdgeInset, +1, angleDeg, length);
  } else {
    DrawFan(f, width / 2, -1, angleDeg, length);
    DrawFan(f, width / 2, +1, angleDeg, length);
  }
  return f.count;
}

int AltitudeText(char* out, int size, double altitudeM, int detectionOn, int units) {
  if (out == nullptr || size <= 0) return 0;
  out[0] = '\0';
  if (!detectionOn || altitudeM == 0.0) return 0;
  double value = altitudeM;
  if (units == 1) value = altitudeM * kFeetPerMetre;
  if (units == 2) value = altitudeM * kFeetPerMetre / 3.0;
  const int n = std::snprintf(out, static_cast<size_t>(size), "%3.1f", value);
  return n < 0 ? 0 : std::min(n, size - 1);
}
