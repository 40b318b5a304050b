// The cursor readout against the geometry of each display mode: slant range
// and bearing round the apex with their units and the speed of sound, the
// rectangular Profile grid, the Linear angle, the Beam Test beam number, and
// blanks outside the picture.
#include "ui/readout.h"

#include <cmath>
#include <string>

#include "common/nav_edit.h"
#include "files/sonar_file.h"
#include "imaging/overlay.h"

#include "ui/ui_test_util.h"

namespace {

class Readout : public uitest::UiFixture {
 protected:
  void Build(int mode) {
    g_settings.DisplayType = mode;
    BuildTables();
    ASSERT_EQ(g_scan.geom.mode, mode);
  }
};

TEST_F(Readout, SectorRangeAndBearingRoundTheApex) {
  Build(kModeSector);
  const double p = g_scan.geom.rangeM / 500.0;
  struct Case {
    const char* legend;
    int x, y, units;
    double soundSpeed;
    double range;
    const char* value1;
    const char* value2;
  } cases[] = {
      {"on the apex", 507, 602, 0, 1500.0, 0.0, "0.00 M", "000.0 Deg"},
      {"100 px up", 507, 502, 0, 1500.0, 100 * p, nullptr, "000.0 Deg"},
      {"100 px right", 607, 602, 0, 1500.0, 100 * p, nullptr, "090.0 Deg"},
      {"up and left at 45 degrees", 407, 502, 0, 1500.0, 100 * std::sqrt(2.0) * p, nullptr, "315.0 Deg"},
      {"feet", 507, 502, 1, 1500.0, 100 * p * kFeetPerMetre, nullptr, "000.0 Deg"},
      {"yards", 507, 502, 2, 1500.0, 100 * p * kYardsPerMetre, nullptr, "000.0 Deg"},
      {"faster sound reaches further", 507, 502, 0, 1530.0, 100 * p * 1.02, nullptr, "000.0 Deg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.Units = c.units;
    g_settings.SoundVelocityMeters = c.soundSpeed;
    const CursorReadout r = ComputeCursorReadout(c.x, c.y);
    ASSERT_EQ(r.shown, 1);
    EXPECT_EQ(r.rectangular, 0);
    EXPECT_STREQ(r.label1, "RNG:");
    EXPECT_STREQ(r.label2, "BRG:");
    EXPECT_NEAR(r.range, c.range, 1e-6);
    if (c.value1) {
      EXPECT_STREQ(r.value1, c.value1);
    }
    EXPECT_STREQ(r.value2, c.value2);
  }
  g_settings.Units = 1;
  EXPECT_NE(std::string(ComputeCursorReadout(507, 502).value1).find(" FT"), std::string::npos);
}

TEST_F(Readout, OutsideThePictureShowsBlanks) {
  Build(kModeSector);
  for (auto [x, y] : {std::pair{1, 300}, std::pair{1014, 300}, std::pair{500, 60}, std::pair{500, 603}}) {
    SCOPED_TRACE(x * 1000 + y);
    EXPECT_EQ(ComputeCursorReadout(x, y).shown, 0);
  }
  EXPECT_EQ(ComputeCursorReadout(2, 61).shown, 1);
}

TEST_F(Readout, LinearRangeAndAcrossAngle) {
  Build(kModeLinear);
  const ScanGeometry& g = g_scan.geom;
  const double p = g.rangeM / 500.0;
  CursorReadout r = ComputeCursorReadout(607, 502);
  EXPECT_NEAR(r.range, (602 - 502 - 4) * p, 1e-9);
  EXPECT_NEAR(r.across, 100 * g.sectorDeg / g.beams, 1e-9);
  // Left of the centre the angle wraps to just under 360.
  r = ComputeCursorReadout(506, 502);
  EXPECT_NEAR(r.across, 360.0 - g.sectorDeg / g.beams, 1e-9);
}

TEST_F(Readout, RectangularProfileGridGivesHorizontalAndVertical) {
  g_settings.ProfileGrid = 1;
  Build(kModeProfile);
  const ScanGeometry& g = g_scan.geom;
  const double p = g.rangeM / 500.0;
  const int ax = g.originX + 2, ay = g.originY + 61;
  const int x = ax - 50, y = ay + 120;
  const CursorReadout r = ComputeCursorReadout(x, y);
  ASSERT_EQ(r.shown, 1);
  EXPECT_EQ(r.rectangular, 1);
  EXPECT_STREQ(r.label1, "HOR:");
  EXPECT_STREQ(r.label2, "VER:");
  EXPECT_NEAR(r.range, -50 * p, 1e-9);
  EXPECT_NEAR(r.across, (ay - y + 1) * p - g.rangeOffset, 1e-9);
}

TEST_F(Readout, BeamTestNamesTheBeamUnderTheCursorFromEitherSide) {
  Build(kModeBeamTest);
  // Sub-column 216 is beam 16 and 359 beam 1 (16 elements, 9 columns each);
  // a down-looking head's raster is mirrored, so the same columns read the
  // other way round, and every column of an element's band reads that element.
  struct Case {
    const char* legend;
    int xdcr, column;
    const char* beam;
  } cases[] = {
      {"up, first column", 1, 216, "Beam 16"},   {"up, last column", 1, 359, "Beam 1"},
      {"up, end of the first band", 1, 224, "Beam 16"}, {"up, next band", 1, 225, "Beam 15"},
      {"down, first column", 0, 216, "Beam 1"},  {"down, last column", 0, 359, "Beam 16"},
      {"down, end of the first band", 0, 224, "Beam 1"}, {"down, next band", 0, 225, "Beam 2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.Xdcr = c.xdcr;
    EXPECT_EQ(BeamTestMirrored(), c.xdcr == 0);
    // The map's column q lies at picture column 217 + q, every row alike.
    const int x = 2 + 217 + c.column, y = 61 + 300;
    ASSERT_EQ(g_scan.PixelMap[300 + 1][217 + c.column].SubBeamIndex, c.column);
    EXPECT_STREQ(ComputeCursorReadout(x, y).value2, c.beam);
  }
}

TEST_F(Readout, DisplayScaleMapsTheWindowBackToThePicture) {
  Build(kModeSector);
  const double p = g_scan.geom.rangeM / 500.0;
  const double oneToOne = MeasuredDistance(100, 100, 130, 140);
  SetDisplayScale(0.5);
  ASSERT_EQ(g_mainLayout.displayScale, 0.5);
  // The apex of the half-scale picture is at (2 + 505 / 2, 61 + 541 / 2);
  // (254, 331) is picture pixel (504, 540), one pixel left of and above it.
  CursorReadout r = ComputeCursorReadout(254, 331);
  ASSERT_EQ(r.shown, 1);
  EXPECT_NEAR(r.range, std::hypot(1.0, 1.0) * p, 1e-9);
  r = ComputeCursorReadout(254, 331 - 50);
  EXPECT_NEAR(r.range, std::hypot(1.0, 101.0) * p, 1e-9) << "50 window pixels are 100 picture pixels";
  EXPECT_EQ(ComputeCursorReadout(2 + 507, 300).shown, 0) << "right of the scaled picture";
  EXPECT_EQ(ComputeCursorReadout(300, 61 + 272).shown, 0) << "below it";
  EXPECT_NEAR(MeasuredDistance(100, 100, 130, 140), 2 * oneToOne, 1e-9);
  SetDisplayScale(9.0);
  EXPECT_EQ(g_mainLayout.displayScale, 1.0) << "out of range falls back to 1:1";
  r = ComputeCursorReadout(507, 502);
  EXPECT_NEAR(r.range, 100 * p, 1e-9);
  SetDisplayScale(1.0);
}

TEST_F(Readout, HalfSizeWaterfallLayoutMeasuresTheSmallPicture) {
  g_settings.ProfileWaterfall = 1;
  g_settings.ProfileGrid = 0;
  Build(kModeProfile);
  DrawGrid(0);
  ASSERT_EQ(g_overlay.halfSizeLayout, 1);
  const ScanGeometry& g = g_scan.geom;
  const double p = g.rangeM / 500.0;
  // The small picture shows columns 100..911 at half size from (22, 61):
  // window column x is picture column 100 + 2 (x - 22), row y picture row 2 (y - 61).
  const int x = 22 + (g.originX - 100) / 2, y = 61 + g.originY / 2 + 60;
  const int dx = 100 + 2 * (x - 22) - g.originX;
  CursorReadout r = ComputeCursorReadout(x, y);
  ASSERT_EQ(r.shown, 1);
  EXPECT_NEAR(r.range, std::hypot(dx, 120.0) * p, 1e-9) << "60 small pixels down are 120 picture pixels";
  for (auto [wx, wy] : {std::pair{20, 100}, std::pair{430, 100}, std::pair{100, 59}, std::pair{100, 331}}) {
    SCOPED_TRACE(wx * 1000 + wy);
    EXPECT_EQ(ComputeCursorReadout(wx, wy).shown, 0);
  }
  EXPECT_EQ(MeasuringAllowed(), 0);
  g_settings.ProfileGrid = 1;
  Build(kModeProfile);
  DrawGrid(0);
  r = ComputeCursorReadout(x - 25, y);
  EXPECT_NEAR(r.range, (dx - 50) * p, 1e-9) << "HOR doubles";
  EXPECT_NEAR(r.across, (-120 + 1) * p - g.rangeOffset, 1e-9) << "VER doubles too";
}

TEST_F(Readout, MeasuredDistanceBetweenTwoPoints) {
  struct Case {
    const char* legend;
    int mode, units;
    double expectedPerPixel;  // of the 3-4-5 triangle's 50 pixels, -1: nothing measured
  } cases[] = {
      {"Sector, metres", kModeSector, 0, 1.0},
      {"Sector, feet", kModeSector, 1, kFeetPerMetre},
      {"Perspective", kModePerspective, 0, 1.0},
      {"Linear measures nothing", kModeLinear, 0, -1.0},
      {"Beam Test measures nothing", kModeBeamTest, 0, -1.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    Build(c.mode);
    g_settings.Units = c.units;
    const double d = MeasuredDistance(100, 100, 130, 140);
    if (c.expectedPerPixel < 0) {
      EXPECT_EQ(MeasuringAllowed(), 0);
      EXPECT_LT(d, 0.0);
    } else {
      EXPECT_EQ(MeasuringAllowed(), 1);
      EXPECT_NEAR(d, 50 * g_scan.geom.rangeM / 500.0 * c.expectedPerPixel, 1e-9);
    }
  }
}

TEST(CourseArrowTest, PointsAlongTheCourseNorthUp) {
  struct Case {
    const char* legend;
    double course;
    int tipX, tipY, tailX, tailY;
  } cases[] = {
      {"north", 0.0, 100, 90, 100, 110},  {"east", 90.0, 110, 100, 90, 100},
      {"south", 180.0, 100, 110, 100, 90}, {"west", 270.0, 90, 100, 110, 100},
      {"north-east", 45.0, 107, 93, 93, 107},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    int p[8];
    CourseArrow(c.course, 100, 100, 10, p);
    EXPECT_EQ(c.tipX, p[0]);
    EXPECT_EQ(c.tipY, p[1]);
    EXPECT_EQ(c.tailX, p[2]);
    EXPECT_EQ(c.tailY, p[3]);
    // The barbs sit behind the tip, one to each side of the shaft.
    const double ux = std::sin(c.course * M_PI / 180), uy = -std::cos(c.course * M_PI / 180);
    for (int b : {4, 6}) {
      const double along = (p[b] - p[0]) * ux + (p[b + 1] - p[1]) * uy;
      EXPECT_LT(along, -2.0);
    }
    const double side1 = (p[4] - p[0]) * -uy + (p[5] - p[1]) * ux;
    const double side2 = (p[6] - p[0]) * -uy + (p[7] - p[1]) * ux;
    EXPECT_LT(side1 * side2, 0.0);
  }
}

TEST_F(Readout, NavigationPanelShowsTheSnapshotLiveAndTheRecordInPlayback) {
  g_settings.RunMode = 0;
  NavReadout r = ComputeNavReadout();
  EXPECT_EQ(0, r.positionShown);
  EXPECT_EQ(0, r.speedShown);
  {
    testutil::NavEdit w;
    std::memcpy(w->latitude, " 49.16.45000 N", 14);
    std::memcpy(w->longitude, "123.11.12000 W", 14);
    w->positionShown = 1;
    w->speedShown = 1;
    w->speedKnots = 7.46;
    w->courseDeg = 90.0;
  }
  r = ComputeNavReadout();
  EXPECT_STREQ(" 49.16.45000 N", r.latitude);
  EXPECT_STREQ("123.11.12000 W", r.longitude);
  EXPECT_STREQ("7.5  KTS", r.speed);
  EXPECT_EQ(kCourseArrowX + kCourseArrowRadius, r.arrow[0]);  // east
  EXPECT_EQ(kCourseArrowY, r.arrow[1]);
  // Ten seconds without a fix switch the readouts off.
  for (int i = 0; i < kFixAgeTimeoutS; ++i) AdvanceFixAge();
  r = ComputeNavReadout();
  EXPECT_EQ(0, r.positionShown);
  EXPECT_EQ(0, r.speedShown);
  EXPECT_STREQ("", r.speed);
  // Playback shows the played record's position whatever the snapshot says.
  g_settings.RunMode = 1;
  g_playback.positionPresent = 1;
  std::snprintf(g_playback.latitude, sizeof g_playback.latitude, " 47.30.00000 N");
  std::snprintf(g_playback.longitude, sizeof g_playback.longitude, "008.15.00000 E");
  g_playback.speedKnots = 12.0;
  g_playback.courseDeg = 180.0;
  r = ComputeNavReadout();
  EXPECT_STREQ(" 47.30.00000 N", r.latitude);
  EXPECT_STREQ("12.0  KTS", r.speed);
  EXPECT_EQ(kCourseArrowY + kCourseArrowRadius, r.arrow[1]);  // south
  g_playback.positionPresent = 0;
  EXPECT_EQ(0, ComputeNavReadout().positionShown);
}

}  // namespace
