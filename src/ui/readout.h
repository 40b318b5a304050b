// The cursor readout of the main window: for a mouse position over the
// picture, range and bearing from the apex (circular grids), the horizontal
// and vertical distances (the rectangular Profile grid), range and across
// angle (Linear) or range and beam number (Beam Test), in the display unit.
// Pure arithmetic over the geometry the display tables were built with.
#pragma once

struct CursorReadout {
  int shown = 0;          // 0: the boxes show blanks
  int rectangular = 0;    // labels "HOR:"/"VER:" instead of "RNG:"/"BRG:"
  char label1[8] = "RNG:";
  char label2[8] = "BRG:";
  char value1[32] = "";   // box 1 at (889, 680)
  char value2[32] = "";   // box 2 at (889, 698)
  double range = 0.0;     // display unit: range, or HOR in the rectangular grid
  double across = 0.0;    // bearing or angle in degrees, VER, or the beam number
};

// Window position of the readout boxes and labels.
constexpr int kReadoutLabelX = 844;
constexpr int kReadoutValueX = 889;
constexpr int kReadoutRow1 = 680;
constexpr int kReadoutRow2 = 698;

// How the main window lays the picture out: the display scale z stretches
// the 1012 x 542 picture to 1012 z x 542 z from (2, 61). The window's fixed
// layout shows it 1:1; the painter and the readout both follow this value.
// Written and read on the user-interface thread.
struct MainLayout {
  double displayScale = 1.0;
};
extern MainLayout g_mainLayout;
constexpr double kMinDisplayScale = 0.25;
constexpr double kMaxDisplayScale = 4.0;
// Values outside kMinDisplayScale..kMaxDisplayScale fall back to 1.
void SetDisplayScale(double scale);

// The window point as a point of the full-size picture placed at (2, 61):
// through the display scale, or from the half-size picture of the Profile
// waterfall layout. 0 when the point is off the picture shown.
int PicturePointOfWindow(int x, int y, double* ux, double* uy);

// The readout for the mouse at window position (x, y).
CursorReadout ComputeCursorReadout(int x, int y);
// 1 when the Beam Test raster runs the other way round (a down-looking
// transducer), so the readout counts the element columns from the other side.
int BeamTestMirrored();

// The measuring mark: a click on the picture sets it (Sector, Perspective,
// Profile in its single layout), the next click clears it.
int MeasuringAllowed();
// Straight distance between two window points in the display unit, scaled
// as the slant ranges are; the Beam Test and Linear pictures measure nothing (-1).
double MeasuredDistance(int x0, int y0, int x1, int y1);

// ---------------------------------------------------------------- navigation
// The navigation panel: "LAT:", "LNG:", "SPD:" with their values and an
// arrow pointing along the course over ground, north up. Head mode shows
// the navigation snapshot (each value while its readout is on); File mode
// the position, speed and course of the record played last.
constexpr int kNavLabelX = 844;
constexpr int kNavValueX = 889;
constexpr int kNavRowLat = 608;
constexpr int kNavRowLng = 626;
constexpr int kNavRowSpd = 644;
constexpr int kCourseArrowX = 990;  // centre of the arrow beside the speed
constexpr int kCourseArrowY = 650;
constexpr int kCourseArrowRadius = 10;

struct NavReadout {
  int positionShown = 0;
  int speedShown = 0;       // the speed and the course arrow
  char latitude[16] = "";   // the 14-character position texts
  char longitude[16] = "";
  char speed[24] = "";      // "%3.1f  KTS"
  double courseDeg = 0.0;
  int arrow[8] = {};        // window points: tip, tail, left barb, right barb
};

NavReadout ComputeNavReadout();
// The arrow of a course (0 north, clockwise) in a circle of radius r round
// (cx, cy), y downwards: tip, tail and the two barbs, rounded to pixels.
void CourseArrow(double courseDeg, int cx, int cy, int r, int* points8);
