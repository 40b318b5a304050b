// Overlays drawn into the main picture: the range grid of each display mode
// with its numbers (built-in digit font), and the Profile depth gate lines.
// Grid pixels carry the overlay marker so the per-ping drawing keeps them.
#pragma once

#include <cstdint>

constexpr double kFeetPerMetre = 3.2808398950131231941;
constexpr double kYardsPerMetre = 1.093613298337707665;
constexpr int kGlyphWidth = 8;
constexpr int kGlyphHeight = 16;
constexpr uint8_t kGateColour = 121;

enum LabelAlign { kAlignLeft = 0, kAlignRight = 1, kAlignCentre = 2 };

struct OverlayState {
  int gateRowMin = -1;     // picture rows of the depth gate lines, -1 when not drawn;
  int gateRowMax = -1;     // the main window lets the operator drag them
  int halfSizeLayout = 0;  // Profile with the waterfall: the picture is shown at half size
  int labelsDrawn = 0;     // labels written by the last DrawGrid
};
extern OverlayState g_overlay;

void ResetOverlay();

// Unit suffix " M", " FT", " YDS" of Units 0..2.
const char* UnitSuffix(int units);
// Range text of a step in a display unit ("30 M", "90 FT", "30 YDS").
const char* RangeText(int step, int units);
// 1 while HalfRange is set and the range is the head's smallest.
int HalfRangeActive();
// "0.75 M", "2.5 M", "2.25 FT", ... for the head's smallest range.
const char* HalfRangeText(int units);
// The range title of the main window: range text, half-range text, or with a
// range offset "%d to %d M" and its variants. Returns the length written.
int RangeTitleText(char* out, int size);
// Label step L in the display unit, and ring spacing s in pixels (with or
// without the head's RangeScaleFactor).
double LabelStep();
double RingSpacingPixels(int withScaleFactor);
// Colour of a label: the background when hidden or the grid is off, the
// overlay marker with a range offset or in Perspective, else 121/123.
uint8_t LabelColour(int visible);

// Writes `text` with the digit font into ImageBuffer; glyph row i goes to
// picture row y + i. Characters other than digits, '.' and ' ' draw nothing.
void DrawLabel(int x, int y, int align, const char* text, int visible);
// Grid and labels of the mode the tables were built for.
void DrawGrid(int window);
// Profile mode with detection: the depth limits as dotted lines over the fan,
// the band between them hatched. Remembers the rows.
void DrawDepthGateLines();
// Picture row of a depth below the sonar in Profile mode.
int ProfileRowOfDepth(double depthM);
// 1 while the main window shows the Profile waterfall layout (Profile mode
// built, `ProfileWaterfall` on): the picture at half size beside the
// waterfall. Follows the setting at once; halfSizeLayout is what the grid
// was last drawn for.
int WaterfallLayoutShown();
