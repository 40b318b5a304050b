// Track plotter domain: UTM against an independent reference (cs2cs from
// PROJ, run as a program), the zone exceptions, the jump filter, the ring,
// the swath edges, the plot rules and the coverage log.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>

#include "common/nav_edit.h"
#include "common/test_files.h"
#include "nav/gps.h"
#include "nav/track.h"

namespace {

// Northing and easting from cs2cs for one point in a zone, on the same
// ellipsoid constants (a, e^2) the console uses.
int Cs2cs(double lat, double lon, int zone, double* north, double* east) {
  char cmd[256];
  std::snprintf(cmd, sizeof cmd,
                "echo '%.10f %.10f' | cs2cs -f %%.6f +proj=longlat +a=6378137 +es=0.00669438 +to +proj=utm "
                "+zone=%d %s +a=6378137 +es=0.00669438 2>/dev/null",
                lon, lat, zone, lat < 0 ? "+south" : "");
  FILE* p = popen(cmd, "r");
  if (p == nullptr) return 0;
  double e = 0, n = 0;
  const int got = std::fscanf(p, "%lf %lf", &e, &n);
  const int rc = pclose(p);
  if (got != 2 || rc != 0) return 0;
  *north = n;
  *east = e;
  return 1;
}

TEST(Utm, AgreesWithProjWithinAMillimetre) {
  struct Case {
    const char* legend;
    double lat, lon;
    int zone;
  };
  const Case cases[] = {
      {"mid latitude north", 51.331350, 1.419483, 31},
      {"southern hemisphere", -45.457633, 167.152750, 58},
      {"equator, central meridian", 0.0, 3.0, 31},
      {"just south of the equator", -0.000001, 9.0, 32},
      {"western zone edge", 42.0, -90.0 + 1e-9, 16},
      {"eastern zone edge", 42.0, -84.0 - 1e-9, 16},
      {"date line, west side", -17.7, 179.999999, 60},
      {"date line, east side", -17.7, -180.0, 1},
      {"Norway: 32 from 3 degrees east", 60.25, 3.0, 32},
      {"Norway: 32 up to 12 east", 63.999, 11.999, 32},
      {"Norway: not below 56", 55.999, 5.0, 31},
      {"Norway: not from 64", 64.0, 5.0, 31},
      {"Svalbard 31X below 9", 78.0, 8.999, 31},
      {"Svalbard 33X from 9", 78.0, 9.0, 33},
      {"Svalbard 33X to 21", 79.5, 20.999, 33},
      {"Svalbard 35X from 21", 80.0, 21.0, 35},
      {"Svalbard 37X from 33", 83.9, 33.0, 37},
      {"Svalbard 37X below 42", 72.0, 41.999, 37},
      {"Svalbard band ends at 42", 76.0, 42.0, 38},
      {"west of Greenwich in the band", 75.0, -1.0, 30},
      {"far south", -79.9, -64.5, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    double n, e, rn, re;
    int zone;
    LatLonToUtm(c.lat, c.lon, &n, &e, &zone);
    EXPECT_EQ(c.zone, zone);
    ASSERT_EQ(1, Cs2cs(c.lat, c.lon, zone, &rn, &re)) << "cs2cs (package proj-bin) must run";
    EXPECT_NEAR(rn, n, 0.001);
    EXPECT_NEAR(re, e, 0.001);
  }
}

TEST(Utm, WideExceptionZonesStayExactFarFromTheirMeridian) {
  // Svalbard zones are 12 degrees wide and Norway's 32V reaches 6 degrees
  // west of its meridian: a short series would drift there.
  const double points[][2] = {{56.0, 3.0}, {63.9, 3.0}, {72.0, 9.0}, {72.0, 20.99}, {72.0, 33.0}, {72.0, 41.99}};
  double worst = 0.0;
  for (const auto& pt : points) {
    double n = 0, e = 0, rn = 0, re = 0;
    int zone;
    LatLonToUtm(pt[0], pt[1], &n, &e, &zone);
    ASSERT_EQ(1, Cs2cs(pt[0], pt[1], zone, &rn, &re));
    worst = std::fmax(worst, std::fmax(std::fabs(rn - n), std::fabs(re - e)));
  }
  EXPECT_LT(worst, 0.001);
  ::testing::Test::RecordProperty("worst_um", static_cast<int>(worst * 1e6));
}

TEST(Utm, PositionTextsToDegrees) {
  double lat, lon;
  ASSERT_EQ(1, PositionTextsToDegrees(" 49.16.45000 S", "123.11.12000 W", &lat, &lon));
  EXPECT_NEAR(-(49 + 16.45 / 60), lat, 1e-12);
  EXPECT_NEAR(-(123 + 11.12 / 60), lon, 1e-12);
  const char zeros[14] = {};
  EXPECT_EQ(0, PositionTextsToDegrees(zeros, zeros, &lat, &lon));
  EXPECT_EQ(0, PositionTextsToDegrees(" 49.16.45000 X", "123.11.12000 W", &lat, &lon));
  EXPECT_EQ(0, PositionTextsToDegrees(" 99.16.45000 N", "123.11.12000 W", &lat, &lon));
}

class Track : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseCoverageLog(tmp_.path().c_str());
    ResetTrack();
  }
  void TearDown() override {
    CloseCoverageLog(tmp_.path().c_str());
    ResetTrack();
  }
  int Fix(double northM, double eastM, int fileMode = 0, int coverage = 0, double direction = 0.0) {
    char lat[14], lon[14];
    testutil::PositionTextsAt(northM, eastM, lat, lon);
    return AddTrackFix(lat, lon, 4.0, direction, direction, 0, fileMode, coverage);
  }
  testutil::TempDir tmp_{"orvale_track"};
};

TEST_F(Track, EmptyRingHasTheMarkersOfNoFix) {
  for (int i : {0, 1, kTrackEntries - 1}) {
    EXPECT_EQ(kTrackEmptyZone, g_track.ring[i].zone);
    EXPECT_EQ(0, g_track.ring[i].valid);
    EXPECT_EQ(-2000, g_track.ring[i].portExtent);
    EXPECT_EQ(2000, g_track.ring[i].starboardExtent);
  }
  EXPECT_EQ(nullptr, LastTrackPoint());
}

TEST_F(Track, FirstFixStartsANewTrackCentredOnIt) {
  EXPECT_EQ(kTrackFixNewTrack, Fix(0, 0));
  const TrackPoint* p = LastTrackPoint();
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(1, p->valid);
  EXPECT_EQ(31, p->zone);
  EXPECT_DOUBLE_EQ(p->north, g_track.originNorth);
  EXPECT_DOUBLE_EQ(p->west, g_track.originWest);
  EXPECT_LT(p->west, 0.0);  // easting stored negated
}

TEST_F(Track, ThirtyMetreJumpIsHeldFiveTimesAndTheSixthAccepted) {
  ASSERT_EQ(kTrackFixNewTrack, Fix(0, 0));
  const double n0 = LastTrackPoint()->north;
  for (int i = 1; i <= kTrackJumpLimitHead; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(kTrackFixHeld, Fix(30, 0));
    EXPECT_DOUBLE_EQ(n0, LastTrackPoint()->north);  // drawn where it was
  }
  EXPECT_EQ(kTrackFixStored, Fix(30, 0));
  EXPECT_NEAR(n0 + 30.0, LastTrackPoint()->north, 1.0);
  EXPECT_EQ(0, g_track.rejectedJumps);
}

TEST_F(Track, FileModeHoldsTenGlitches) {
  ASSERT_EQ(kTrackFixNewTrack, Fix(0, 0, 1));
  for (int i = 1; i <= kTrackJumpLimitFile; ++i) EXPECT_EQ(kTrackFixHeld, Fix(0, 30, 1)) << i;
  EXPECT_EQ(kTrackFixStored, Fix(0, 30, 1));
}

TEST_F(Track, AGoodFixEndsARunOfGlitches) {
  ASSERT_EQ(kTrackFixNewTrack, Fix(0, 0));
  for (int i = 0; i < 4; ++i) EXPECT_EQ(kTrackFixHeld, Fix(30, 0));
  EXPECT_EQ(kTrackFixStored, Fix(5, 0));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(kTrackFixHeld, Fix(40, 0)) << i;
}

// After a break (playback opened, rewound or jumped) the next fix is taken
// where it lies and starts a line of its own; the filter then works again.
TEST_F(Track, AFixAfterABreakIsBelievedAndStartsANewLine) {
  ASSERT_EQ(kTrackFixNewTrack, Fix(0, 0, 1));
  ASSERT_EQ(kTrackFixStored, Fix(10, 0, 1));
  const double n0 = LastTrackPoint()->north;
  EXPECT_EQ(0, LastTrackPoint()->lineStart);
  StartNewTrackLine();
  EXPECT_EQ(kTrackFixStored, Fix(300, 0, 1));
  EXPECT_NEAR(n0 + 290.0, LastTrackPoint()->north, 1.0);
  EXPECT_EQ(1, LastTrackPoint()->lineStart);
  EXPECT_EQ(0, g_track.newLinePending);
  EXPECT_EQ(kTrackFixStored, Fix(310, 0, 1));
  EXPECT_EQ(0, LastTrackPoint()->lineStart);
  EXPECT_EQ(kTrackFixHeld, Fix(400, 0, 1));
}

TEST_F(Track, SixKilometreJumpClearsAndRecentres) {
  ASSERT_EQ(kTrackFixNewTrack, Fix(0, 0));
  for (int i = 1; i < 10; ++i) ASSERT_EQ(kTrackFixStored, Fix(i * 10.0, 0));
  g_track.redrawAll = 0;
  EXPECT_EQ(kTrackFixNewTrack, Fix(6000, 0));
  EXPECT_EQ(1, g_track.stored);
  EXPECT_EQ(0, g_track.ring[1].valid);  // cleared; the new fix went to entry 0
  const TrackPoint* p = LastTrackPoint();
  EXPECT_DOUBLE_EQ(p->north, g_track.originNorth);
  EXPECT_EQ(1, g_track.redrawAll.load());
}

TEST_F(Track, RingWrapsAfterFortyThousandEntries) {
  ASSERT_EQ(kTrackFixNewTrack, Fix(0, 0));
  for (int i = 1; i < kTrackEntries; ++i) Fix(0, 0);
  EXPECT_EQ(0, g_track.position);
  EXPECT_EQ(kTrackEntries, g_track.stored);
  Fix(0, 0);
  EXPECT_EQ(1, g_track.position);
  EXPECT_EQ(&g_track.ring[0], LastTrackPoint());
}

TEST_F(Track, EntryCarriesThePingsValues) {
  SetTrackPingValues(240, -120, 120, 50.0, 100.0);
  ASSERT_EQ(kTrackFixNewTrack, Fix(0, 0));
  const TrackPoint* p = LastTrackPoint();
  EXPECT_EQ(240, p->swathValue);
  EXPECT_EQ(-120, p->portExtent);
  EXPECT_EQ(120, p->starboardExtent);
  EXPECT_FLOAT_EQ(50.0f, p->rangeM);
  EXPECT_FLOAT_EQ(4.0f, p->speedKnots);
}

TEST_F(Track, SwathEdgesLieAcrossTheDirection) {
  // 100 samples of 100 mm at 0.002: 20 m to each side.
  SetTrackPingValues(200, -100, 100, 50.0, 100.0);
  struct Case {
    const char* legend;
    double direction;
    double portNorth, portEast, starboardNorth, starboardEast;  // relative to the fix
  };
  const Case cases[] = {
      {"heading north: port is west", 0.0, 0, -20, 0, 20},
      {"heading east: port is north", 90.0, 20, 0, -20, 0},
      {"heading south-west", 225.0, -20 * std::sqrt(0.5), 20 * std::sqrt(0.5), 20 * std::sqrt(0.5),
       -20 * std::sqrt(0.5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    ResetTrack();
    SetTrackPingValues(200, -100, 100, 50.0, 100.0);
    Fix(0, 0, 0, 1, c.direction);
    const TrackPoint* p = LastTrackPoint();
    const double east = -p->west;
    EXPECT_NEAR(c.portNorth, p->swath[0] - p->north, 1e-9);
    EXPECT_NEAR(c.portEast, -p->swath[1] - east, 1e-9);
    EXPECT_NEAR(c.starboardNorth, p->swath[2] - p->north, 1e-9);
    EXPECT_NEAR(c.starboardEast, -p->swath[3] - east, 1e-9);
  }
}

TEST_F(Track, PlotScaleGridAndZoom) {
  const double scales[] = {0.05, 0.1, 0.2, 0.3, 0.4, 0.5, 1, 2, 3, 4, 5, 10};
  const int grids[] = {500, 200, 200, 200, 200, 100, 50, 20, 20, 10, 10, 10};
  for (int z = 0; z <= kTrackZoomMax; ++z) {
    SCOPED_TRACE(z);
    EXPECT_DOUBLE_EQ(scales[z], TrackPlotScale(z));
    EXPECT_EQ(grids[z], TrackGridSpacingM(TrackPlotScale(z)));
  }
  EXPECT_DOUBLE_EQ(0.5, TrackPlotScale(12));
  EXPECT_DOUBLE_EQ(0.5, TrackPlotScale(-1));
  EXPECT_EQ(11, TrackZoomIn(11));
  EXPECT_EQ(0, TrackZoomOut(0));
  EXPECT_EQ(6, TrackZoomIn(5));
  EXPECT_EQ(4, TrackZoomOut(5));
}

TEST_F(Track, MarkerNearAnEdgeRecentres) {
  ASSERT_EQ(kTrackFixNewTrack, Fix(0, 0));
  const double s = TrackPlotScale(11);  // 10 px/m
  double x, y;
  TrackPixel(g_track.originNorth, g_track.originWest, s, &x, &y);
  EXPECT_DOUBLE_EQ(138.0, x);
  EXPECT_DOUBLE_EQ(120.0, y);
  EXPECT_EQ(0, TrackNeedsRecentre(x, y));
  // 11 m north at 10 px/m: 110 px up, 10 px from the top.
  TrackPixel(g_track.originNorth + 11.0, g_track.originWest, s, &x, &y);
  EXPECT_DOUBLE_EQ(10.0, y);
  EXPECT_EQ(0, TrackNeedsRecentre(x, y));
  TrackPixel(g_track.originNorth + 11.1, g_track.originWest, s, &x, &y);
  EXPECT_EQ(1, TrackNeedsRecentre(x, y));
  // East is to the right.
  TrackPixel(g_track.originNorth, g_track.originWest - 5.0, s, &x, &y);
  EXPECT_DOUBLE_EQ(188.0, x);
  Fix(8, 0);
  RecentreTrack();
  EXPECT_DOUBLE_EQ(LastTrackPoint()->north, g_track.originNorth);
}

TEST_F(Track, APingWithoutPointsHasNoSwathAndLogsNothing) {
  ASSERT_EQ(1, OpenCoverageLog(tmp_.path().c_str()));
  SetTrackPingValues(0, -kSwathExtentNone, kSwathExtentNone, 50.0, 100.0);
  Fix(0, 0, 0, 1, 0.0);
  const TrackPoint p = *LastTrackPoint();
  EXPECT_EQ(1, p.valid);
  for (double v : p.swath) EXPECT_EQ(0.0, v);
  EXPECT_EQ(0, g_track.coverageLines);
  // The log stayed empty, so closing it deletes it.
  EXPECT_EQ(1, CloseCoverageLog(tmp_.path().c_str()));
}

TEST_F(Track, CoverageLogLinesRoundTrip) {
  ASSERT_EQ(1, OpenCoverageLog(tmp_.path().c_str()));
  SetTrackPingValues(200, -100, 100, 50.0, 100.0);
  Fix(0, 0, 0, 1, 0.0);
  Fix(10, 0, 0, 1, 0.0);
  Fix(20, 0, 0, 0, 0.0);  // coverage off: nothing logged
  const TrackPoint first = g_track.ring[0];
  const TrackPoint second = g_track.ring[1];
  EXPECT_EQ(0, CloseCoverageLog(tmp_.path().c_str()));
  const std::string text = testutil::ReadText(tmp_.File("coverage.LOG"));
  char expected[512], line[256];
  ASSERT_GT(FormatCoverageLine(first, expected, sizeof expected), 0);
  ASSERT_GT(FormatCoverageLine(second, line, sizeof line), 0);
  std::strcat(expected, line);
  EXPECT_EQ(expected, text);
  // Layout: six values with two decimals, the zone, CR LF.
  double v[6];
  int zone;
  ASSERT_EQ(7, std::sscanf(text.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf,%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &zone));
  EXPECT_NEAR(-first.west, v[0], 0.005);
  EXPECT_NEAR(first.north, v[1], 0.005);
  EXPECT_NEAR(-first.west - 20.0, v[2], 0.006);
  EXPECT_NEAR(-first.west + 20.0, v[4], 0.006);
  EXPECT_EQ(31, zone);
  EXPECT_NE(std::string::npos, text.find(",31\r\n"));
  // Read back into an emptied ring.
  ResetTrack();
  EXPECT_EQ(2, LoadCoverageLog(tmp_.File("coverage.LOG").c_str()));
  EXPECT_NEAR(first.north, g_track.ring[0].north, 0.005);
  EXPECT_NEAR(second.swath[3], g_track.ring[1].swath[3], 0.005);
  EXPECT_EQ(1, g_track.redrawAll.load());
}

TEST_F(Track, EmptyCoverageLogIsDeletedAtClose) {
  ASSERT_EQ(1, OpenCoverageLog(tmp_.path().c_str()));
  Fix(0, 0, 0, 0);
  EXPECT_EQ(1, CloseCoverageLog(tmp_.path().c_str()));
  struct stat st;
  EXPECT_NE(0, stat(tmp_.File("coverage.LOG").c_str(), &st));
  // A log that already held lines is kept, and appended to.
  testutil::WriteText(tmp_.File("coverage.LOG"), "1.00,2.00,3.00,4.00,5.00,6.00,31\r\n");
  ASSERT_EQ(1, OpenCoverageLog(tmp_.path().c_str()));
  EXPECT_EQ(0, CloseCoverageLog(tmp_.path().c_str()));
  EXPECT_EQ(0, stat(tmp_.File("coverage.LOG").c_str(), &st));
  EXPECT_EQ(0, OpenCoverageLog("/nonexistent/dir"));  // logging stays off
}

TEST_F(Track, LoadSkipsDamagedLines) {
  testutil::WriteText(tmp_.File("c.LOG"),
                      "1.00,2.00,3.00,4.00,5.00,6.00,31\r\nrubbish\r\n1.00,2.00,3.00\r\n7.00,8.00,9.00,10.00,11.00,"
                      "12.00,99\r\n7.00,8.00,9.00,10.00,11.00,12.00,32\r\n");
  EXPECT_EQ(2, LoadCoverageLog(tmp_.File("c.LOG").c_str()));
  EXPECT_EQ(0, LoadCoverageLog(tmp_.File("absent.LOG").c_str()));
}

TEST_F(Track, GpsFixesReachTheTrack) {
  ResetNavState();
  ResetGps();
  SetGpsHeadingType(1);
  const std::string s = "$GPGGA,1,5000.000,N,00100.000,E,1*";
  int x = 0;
  for (size_t i = 1; i < s.size() - 1; ++i) x ^= static_cast<unsigned char>(s[i]);
  char tail[8];
  std::snprintf(tail, sizeof tail, "%02X\r\n", x);
  const std::string sentence = s + tail;
  FeedGpsBytes(reinterpret_cast<const uint8_t*>(sentence.data()), static_cast<int>(sentence.size()));
  ASSERT_NE(nullptr, LastTrackPoint());
  double n, e;
  int zone;
  LatLonToUtm(50.0, 1.0, &n, &e, &zone);
  EXPECT_NEAR(n, LastTrackPoint()->north, 1e-6);
  EXPECT_NEAR(-e, LastTrackPoint()->west, 1e-6);
  ResetNavState();
}

}  // namespace
