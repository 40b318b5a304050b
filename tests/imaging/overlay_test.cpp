// Grid and labels: the digit font, label colours and alignment, range texts
// and half-range rules, the ring spacing and the grid of each mode.
#include <cmath>
#include <string>

#include "imaging_fixture.h"

namespace {

class Overlay : public ImagingTest {
 protected:
  // Columns of row y (from x0, 40 wide) holding `colour`, as a string of '#' and '.'.
  static std::string Row(int y, int x0, uint8_t colour, int width = 40) {
    std::string s;
    for (int x = x0; x < x0 + width; ++x) s += Img(y, x) == colour ? '#' : '.';
    return s;
  }
};

TEST_F(Overlay, LabelGlyphsAdvanceByDigitAndPoint) {
  g_scan.geom.mode = kModeSector;
  DrawLabel(100, 200, kAlignLeft, "0.5", 1);
  // Glyph row 4 of "0" is 66, of "." nothing, of "5" is 60: the point advances 4 pixels.
  EXPECT_EQ(".##..##......##.....", Row(204, 100, 123, 20));
  // Glyph row 11 holds the point (60) beside "0" (66) and "5" (66).
  EXPECT_EQ(".##..##..##..##..##.", Row(211, 100, 123, 20));
  // Nothing above the glyph rows or after the text.
  EXPECT_EQ(std::string(40, '.'), Row(199, 100, 123));
  EXPECT_EQ(std::string(40, '.'), Row(216, 100, 123));
}

TEST_F(Overlay, LabelAlignmentRightAndCentre) {
  g_scan.geom.mode = kModeSector;
  // Right-aligned, two digits end at x + 2: "11" starts 16 - 2 = 14 left of x.
  DrawLabel(200, 100, kAlignRight, "11", 1);
  EXPECT_EQ("...##......##.....", Row(108, 186, 123, 18));
  // Centred: x moves left by 4 per character plus 2.
  DrawLabel(300, 100, kAlignCentre, "11", 1);
  EXPECT_EQ("...##......##.....", Row(108, 294, 123, 18));
  // Characters other than digits, point and space draw nothing.
  DrawLabel(400, 300, kAlignLeft, "M-x", 1);
  EXPECT_EQ(std::string(40, '.'), Row(308, 400, 123));
}

TEST_F(Overlay, LabelColourFollowsTableGridOffsetAndMode) {
  struct Case {
    const char* legend;
    int colors, grid, offset, mode, visible;
    uint8_t colour;
  } cases[] = {
      {"plain", 0, 1, 0, kModeSector, 1, 123},
      {"Rev Grey table", 4, 1, 0, kModeSector, 1, 121},
      {"hidden", 0, 1, 0, kModeSector, 0, kBackgroundIndex},
      {"grid off", 0, 0, 0, kModeSector, 1, kBackgroundIndex},
      {"range offset", 0, 1, 5, kModeSector, 1, kOverlayMarker},
      {"perspective", 0, 1, 0, kModePerspective, 1, kOverlayMarker},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.Colors = c.colors;
    g_settings.Grid = c.grid;
    g_switch.rangeOffset = c.offset;
    g_scan.geom.mode = c.mode;
    EXPECT_EQ(c.colour, LabelColour(c.visible));
  }
}

TEST_F(Overlay, OffsetLabelsMoveOffTheirPoint) {
  g_switch.rangeOffset = 5;
  g_scan.geom.mode = kModeSector;
  DrawLabel(100, 100, kAlignLeft, "1", 1);
  // Sector: 4 left and 4 down. Glyph row 4 of "1" is 78 (.####...).
  EXPECT_EQ(".####...", Row(108, 96, kOverlayMarker, 8));
  g_scan.geom.mode = kModeProfile;
  DrawLabel(300, 100, kAlignLeft, "1", 1);
  EXPECT_EQ(".####...", Row(100, 296, kOverlayMarker, 8));
}

TEST_F(Overlay, GridOffErasesTheLabels) {
  Build(kModeSector, 240);
  long before = 0, after = 0;
  for (int r = 0; r < kImageHeight; ++r)
    for (int c = 0; c < kImageWidth; ++c) before += Img(r, c) == 123 || Img(r, c) == kOverlayMarker;
  ASSERT_GT(before, 1000);
  g_settings.Grid = 0;
  DrawGrid(plat::kWinMain);
  for (int r = 0; r < kImageHeight; ++r)
    for (int c = 0; c < kImageWidth; ++c) after += Img(r, c) == 123 || Img(r, c) == kOverlayMarker;
  EXPECT_EQ(0, after);
}

TEST_F(Overlay, RangeTextsByUnit) {
  struct Case {
    int step, units;
    const char* text;
  } cases[] = {{0, 0, "1.5 M"}, {0, 1, "4.5 FT"}, {2, 1, "15 FT"}, {5, 2, "30 YDS"}, {16, 0, "500 M"},
               {16, 1, "1500 FT"}, {-3, 0, "1.5 M"}, {99, 2, "500 YDS"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_STREQ(c.text, RangeText(c.step, c.units));
  }
  EXPECT_STREQ(" M", UnitSuffix(0));
  EXPECT_STREQ(" FT", UnitSuffix(1));
  EXPECT_STREQ(" YDS", UnitSuffix(2));
}

TEST_F(Overlay, HalfRangeTextsStepsAndTitles) {
  struct Case {
    const char* legend;
    int minStep, range, units, halfRange, offset;
    const char* title;
    double step;
  } cases[] = {
      {"30 m", 2, 5, 0, 0, 0, "30 M", 6.0},
      {"30 m in feet", 2, 5, 1, 0, 0, "90 FT", 18.0},
      {"5 m head at half range", 2, 2, 0, 1, 0, "2.5 M", 0.5},
      {"5 m head at half range, feet", 2, 2, 1, 1, 0, "7.5 FT", 1.5},
      {"1.5 m head at half range", 0, 0, 0, 1, 0, "0.75 M", 0.15},
      {"1.5 m head at half range, feet", 0, 0, 1, 1, 0, "2.25 FT", 0.45},
      {"1.5 m head at half range, yards", 0, 0, 2, 1, 0, "0.75 YDS", 0.15},
      {"half range ignored above the smallest range", 2, 5, 0, 1, 0, "30 M", 6.0},
      {"offset", 2, 5, 0, 0, 10, "10 to 40 M", 6.0},
      {"offset at the smallest range", 0, 0, 0, 0, 2, "2 to 3.5 M", 0.3},
      {"offset at half range", 2, 2, 0, 1, 3, "3 to 5.50 M", 0.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_headLimits.minStep = c.minStep;
    g_settings.Range = c.range;
    g_settings.Units = c.units;
    g_settings.HalfRange = c.halfRange;
    g_switch.rangeOffset = c.offset;
    char title[64];
    EXPECT_GT(RangeTitleText(title, sizeof title), 0);
    EXPECT_STREQ(c.title, title);
    EXPECT_NEAR(c.step, LabelStep(), 1e-9);
  }
  char tiny[4];
  EXPECT_EQ(3, RangeTitleText(tiny, sizeof tiny));
  EXPECT_EQ(0, RangeTitleText(nullptr, 10));
}

TEST_F(Overlay, RingSpacingByUnitSoundSpeedAndScaleFactor) {
  EXPECT_DOUBLE_EQ(100.0, RingSpacingPixels(1));
  g_settings.Units = 1;  // feet: a 15 ft range has rings every 3 ft, 91.44 pixels
  EXPECT_DOUBLE_EQ(91.44, RingSpacingPixels(1));
  EXPECT_NEAR(457.2, 5 * RingSpacingPixels(1), 1e-9);
  g_settings.Units = 0;
  g_settings.SoundVelocityMeters = 1480.0;
  EXPECT_NEAR(100.0 * 1500.0 / 1480.0, RingSpacingPixels(1), 1e-9);
  g_ping.rangeScaleFactor = 0.992f;
  EXPECT_NEAR(100.0 * 1500.0 / 1480.0 / 0.992, RingSpacingPixels(1), 1e-4);
  EXPECT_NEAR(100.0 * 1500.0 / 1480.0, RingSpacingPixels(0), 1e-9);
  g_settings.SoundVelocityMeters = 0.0;  // no division by zero
  EXPECT_DOUBLE_EQ(100.0 / 0.992f, RingSpacingPixels(1));
}

TEST_F(Overlay, SectorGridRingsAndEdgesLieOnTheFan) {
  Build(kModeSector, 240);
  // Centre line and rings every 100 pixels on it.
  for (int i = 0; i < 500; i += 10) EXPECT_EQ(kOverlayMarker, Img(kApexRow - i, kApexColumn)) << i;
  for (int n = 1; n <= 5; ++n) {
    SCOPED_TRACE(n);
    const double a = (-90.0 - 35.0) * 3.141592654 / 180.0;
    const int x = static_cast<int>(kApexColumn + 100.0 * n * std::cos(a) + 0.5);
    const int y = static_cast<int>(kApexRow + 100.0 * n * std::sin(a) + 0.5);
    EXPECT_EQ(kOverlayMarker, Img(y, x));
  }
  // Edge rays at 60 degrees either side of the vertical.
  const double e = 300.0 * std::sin(60.0 * 3.141592654 / 180.0);
  const int ey = static_cast<int>(kApexRow - 300.0 * 0.5 + 0.5);
  EXPECT_EQ(kOverlayMarker, Img(ey, static_cast<int>(kApexColumn - e + 0.5)));
  EXPECT_EQ(kOverlayMarker, Img(ey, static_cast<int>(kApexColumn + e + 0.5)));
  // Labels 6.0 .. 30.0 (30 m) in 123 along both edges: ten labels.
  EXPECT_EQ(10, g_overlay.labelsDrawn);
}

TEST_F(Overlay, LinearAndBeamTestGridLines) {
  Build(kModeLinear, 480, 120.0, 0);
  for (int c : {265, 505, 745}) {
    EXPECT_EQ(kOverlayMarker, Img(42, c));
    EXPECT_EQ(kOverlayMarker, Img(541, c));
    EXPECT_NE(kOverlayMarker, Img(40, c));
  }
  for (int r : {541, 441, 341, 241, 141, 41}) EXPECT_EQ(kOverlayMarker, Img(r, 400)) << r;
  EXPECT_NE(kOverlayMarker, Img(391, 400));
  Build(kModeBeamTest, 240);
  for (int j = 24; j <= 40; ++j) EXPECT_EQ(kOverlayMarker, Img(300, 216 + 9 * j)) << j;
  EXPECT_NE(kOverlayMarker, Img(300, 216 + 9 * 24 + 4));
  EXPECT_EQ(kOverlayMarker, Img(41, 505 + 72));
  EXPECT_EQ(kOverlayMarker, Img(541, 505 - 72));
}

TEST_F(Overlay, PerspectiveGridIsProjectedWithItsLabels) {
  Build(kModePerspective, 240);
  // The floor line through the head, y = 0, is the bottom row at the apex.
  EXPECT_EQ(kOverlayMarker, Img(kApexRow, 506));
  int dx, dy;
  ProjectPerspective(0.0, -200.0, 0.0, &dx, &dy);
  EXPECT_EQ(kOverlayMarker, Img(kApexRow + dy, 506 + dx));
  // Six labels: the offset and five ranges, all in the overlay colour.
  EXPECT_EQ(6, g_overlay.labelsDrawn);
}

TEST_F(Overlay, ProfileRowOfDepthFollowsRangeHalfRangeAndOffset) {
  g_settings.ProfileTiltAngle = 0.0;
  CentreProfile();
  g_settings.Range = 5;  // 30 m
  Build(kModeProfile, 240);
  EXPECT_EQ(50, ProfileRowOfDepth(3.0));
  g_settings.HalfRange = 1;
  EXPECT_EQ(100, ProfileRowOfDepth(3.0));
  g_settings.HalfRange = 0;
  g_switch.rangeOffset = 3;  // J = 50
  Build(kModeProfile, 240);
  EXPECT_EQ(50, ProfileRowOfDepth(6.0));
}

}  // namespace
