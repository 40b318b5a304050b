// The drag of the Profile depth gate lines. The overlay remembers the rows
// it drew the lines at; a press near one takes it, and every move turns the
// cursor's row back into a depth (the inverse of the overlay's row rule, so
// range, half range and the profile origin agree), in tenths of a metre,
// clamps it as the Profile Point Setup dialog would (the minimum from 0.1 to
// the depth limit less 5 % of the range, and 5 % of the range shallower than
// the maximum; the maximum 5 % of the range deeper than the minimum, at most
// the depth limit), and redraws:
// the picture is put back from the echo-only copy (so the old line goes), the
// grid drawn again, and the blit draws the lines at their new rows.
//
// Owns g_depthGate; everything runs on the user-interface thread under the
// console lock the caller holds.
#include "ui/depth_gate.h"

#include <cmath>

#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/scan_convert.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "ui/readout.h"

DepthGateDrag g_depthGate;

void ResetDepthGate() { g_depthGate = DepthGateDrag{}; }

namespace {

constexpr int kPictureTop = 61;

int GatesShown() { return g_scan.geom.mode == kModeProfile && g_settings.ProfilePointDetection == 1; }

// The picture row under a window point, -1 off the picture.
int PictureRowAt(int x, int y, double* row) {
  double ux, uy;
  if (!PicturePointOfWindow(x, y, &ux, &uy)) return 0;
  *row = uy - kPictureTop;
  return 1;
}

double RangeM() { return g_scan.geom.rangeM > 0.0 ? g_scan.geom.rangeM : 1.0; }

// Redraws the picture without the old lines: echoes back from the clean
// copy (overlay pixels stay), the grid again, then the blit draws the lines.
void Redraw() {
  for (int r = 0; r < kImageHeight; ++r)
    for (int c = 0; c < kImageWidth; ++c)
      if (g_scan.ImageBuffer[r][c] != kOverlayMarker) g_scan.ImageBuffer[r][c] = g_scan.CleanImageBuffer[r][c];
  DrawGrid(plat::kWinMain);
  BlitImage(plat::kWinMain);
}

}  // namespace

double DepthOfProfileRow(double row) {
  const ScanGeometry& g = g_scan.geom;
  double samplesPerM = 500.0 / RangeM();
  if (g_settings.HalfRange == 1) samplesPerM *= 2.0;
  return (row - g.originY - g.verticalShift) / samplesPerM;
}

int DepthGateAt(int x, int y) {
  if (!GatesShown()) return kGateNone;
  double row;
  if (!PictureRowAt(x, y, &row)) return kGateNone;
  // The nearer line wins where both are within reach.
  const double dMin = g_overlay.gateRowMin >= 0 ? std::fabs(row - g_overlay.gateRowMin) : 1e9;
  const double dMax = g_overlay.gateRowMax >= 0 ? std::fabs(row - g_overlay.gateRowMax) : 1e9;
  const double reach = kGateGrabRows * (WaterfallLayoutShown() ? 2.0 : 1.0);
  if (dMin > reach && dMax > reach) return kGateNone;
  return dMin <= dMax ? kGateMin : kGateMax;
}

int DepthGateDragBegin(int x, int y) {
  g_depthGate.line = DepthGateAt(x, y);
  g_depthGate.moves = 0;
  if (g_depthGate.line == kGateNone) return 0;
  plat::SetCursor(plat::kCursorSizeNS);
  return 1;
}

int DepthGateDragTo(int x, int y) {
  if (g_depthGate.line == kGateNone || !GatesShown()) return 0;
  double row;
  if (!PictureRowAt(x, y, &row)) return 0;
  const double r = RangeM();
  const double margin = 0.05 * r;
  // Tenths of a metre, as the dialog shows them; the limits below may cut finer.
  double depth = std::round(DepthOfProfileRow(row) * 10.0) / 10.0;
  double& target = g_depthGate.line == kGateMin ? g_settings.ProfileMinDepthBelowSonar
                                                : g_settings.ProfileMaxDepthBelowSonar;
  if (g_depthGate.line == kGateMin) {
    double high = kProfileDepthLimitM - margin;
    if (g_settings.ProfileMaxDepthBelowSonar - margin < high) high = g_settings.ProfileMaxDepthBelowSonar - margin;
    if (depth > high) depth = high;
    if (depth < 0.1) depth = 0.1;
  } else {
    const double low = g_settings.ProfileMinDepthBelowSonar + margin;
    if (depth < low) depth = low;
    if (depth > kProfileDepthLimitM) depth = kProfileDepthLimitM;
  }
  if (depth == target) return 0;
  target = depth;
  ++g_depthGate.moves;
  Redraw();
  return 1;
}

void DepthGateDragEnd() {
  if (g_depthGate.line == kGateNone) return;
  const int changed = g_depthGate.moves > 0;
  g_depthGate = DepthGateDrag{};
  plat::SetCursor(plat::kCursorArrow);
  if (changed && g_settingsFile.path[0]) SaveSettings(g_settingsFile.path);
}
