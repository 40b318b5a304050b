// The Track Plotter's picture: what a fix, a glitch, a jump of kilometres,
// an edge and a zoom click do to the published plot, read back from the
// frame hand-off as the painter sees it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "common/nav_edit.h"
#include "imaging/track_plot.h"
#include "nav/track.h"
#include "platform/frame_handoff.h"
#include "platform/recording.h"
#include "settings/settings.h"

namespace {

struct Box {
  int count = 0, x0 = 9999, y0 = 9999, x1 = -1, y1 = -1;
  double cx() const { return (x0 + x1) / 2.0; }
  double cy() const { return (y0 + y1) / 2.0; }
};

Box PixelsOf(const uint8_t* pixels, uint8_t colour) {
  Box b;
  for (int y = 0; y < kTrackPlotHeight; ++y)
    for (int x = 0; x < kTrackPlotWidth; ++x)
      if (pixels[y * kTrackPlotWidth + x] == colour) {
        b.count++;
        b.x0 = std::min(b.x0, x);
        b.y0 = std::min(b.y0, y);
        b.x1 = std::max(b.x1, x);
        b.y1 = std::max(b.y1, y);
      }
  return b;
}

class TrackPlot : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::rec::Reset();
    plat::ResetFrames();
    g_settings = Settings{};
    ResetTrack();
    ResetTrackPlot();
    g_settings.TrackPlotterZoom = 5;  // 0.5 pixels per metre
  }
  void TearDown() override {
    ResetTrack();
    ResetTrackPlot();
    plat::ResetFrames();
  }
  static int Fix(double northM, double eastM, int coverage = 0) {
    char lat[14], lon[14];
    testutil::PositionTextsAt(northM, eastM, lat, lon);
    const int r = AddTrackFix(lat, lon, 4.0, 90.0, 90.0, 0, 0, coverage);
    UpdateTrackPlot();
    return r;
  }
  // The picture as the painter gets it.
  static const plat::Frame& Shown() {
    const plat::Frame* f = plat::LatestFrame(plat::kWinTrackPlotter);
    EXPECT_NE(f, nullptr);
    static plat::Frame empty;
    return f ? *f : empty;
  }
  static Box Marker() { return PixelsOf(Shown().pixels, kTrackMarkerColour); }
};

TEST_F(TrackPlot, ShownPlotHasGridLabelAndItsOwnColours) {
  ShowTrackPlotter(1);
  EXPECT_EQ(1, g_settings.TrackPlotterWindow);
  EXPECT_EQ(1, plat::rec::Get().shown[plat::kWinTrackPlotter]);
  const plat::Frame& f = Shown();
  EXPECT_EQ(kTrackPlotWidth, f.width);
  EXPECT_EQ(kTrackPlotHeight, f.height);
  EXPECT_EQ(g_trackPlot.colours[kTrackMarkerColour], f.palette[kTrackMarkerColour]);
  EXPECT_NE(f.palette[kTrackBackground], f.palette[kTrackLineColour]);
  // 0.5 px/m: grid every 100 m, i.e. every 50 pixels across 276.
  const Box grid = PixelsOf(f.pixels, kTrackGridColour);
  EXPECT_GT(grid.count, 4 * kTrackPlotHeight);
  // "100 M/DIV" in the top left corner: 7 glyphs of 5 x 7 cells.
  const Box label = PixelsOf(f.pixels, kTrackLabelColour);
  EXPECT_GT(label.count, 40);
  EXPECT_LT(label.x1, 4 + 9 * 6);
  EXPECT_LT(label.y1, 12);
  EXPECT_EQ(0, Marker().count);  // no fix yet
}

// The console program never resets its modules before use: the record as
// the program starts must already carry distinct colours.
TEST_F(TrackPlot, AFreshRecordPaintsInColourWithoutAReset) {
  const TrackPlotState fresh;
  EXPECT_EQ(fresh.colours, g_trackPlot.colours);
  EXPECT_NE(fresh.colours[kTrackBackground], fresh.colours[kTrackGridColour]);
  EXPECT_NE(fresh.colours[kTrackBackground], fresh.colours[kTrackLabelColour]);
  EXPECT_NE(fresh.colours[kTrackBackground], fresh.colours[kTrackLineColour]);
}

TEST_F(TrackPlot, FirstFixSitsInTheCentreAndTheNextDrawsATrackSegment) {
  ShowTrackPlotter(1);
  Fix(0, 0);
  Box m = Marker();
  EXPECT_EQ(49, m.count);
  EXPECT_NEAR(kTrackPlotWidth / 2.0, m.cx(), 1.0);
  EXPECT_NEAR(kTrackPlotHeight / 2.0, m.cy(), 1.0);
  const int fullDraws = g_trackPlot.fullDraws;
  Fix(0, 20);  // 20 m east: 10 pixels to the right
  m = Marker();
  EXPECT_EQ(49, m.count);
  EXPECT_NEAR(kTrackPlotWidth / 2.0 + 10.0, m.cx(), 1.0);
  EXPECT_EQ(fullDraws, g_trackPlot.fullDraws);  // a segment, not a whole plot
  EXPECT_EQ(1, g_trackPlot.segmentsDrawn);
  // The segment runs from the old place, 3 pixels wide, under the new marker.
  const Box line = PixelsOf(Shown().pixels, kTrackLineColour);
  EXPECT_GE(line.count, 3 * 7);
  EXPECT_LE(line.x0, kTrackPlotWidth / 2 - 1);
  EXPECT_EQ(3, line.y1 - line.y0 + 1);
}

// A fix after a break moves the marker without a track line, both when it
// is added and when the whole plot is drawn again.
TEST_F(TrackPlot, ANewLineIsNotJoinedToTheTrackBefore) {
  ShowTrackPlotter(1);
  Fix(0, 0);
  StartNewTrackLine();
  Fix(0, 60);  // 30 pixels right
  EXPECT_NEAR(kTrackPlotWidth / 2.0 + 30.0, Marker().cx(), 1.0);
  EXPECT_EQ(0, g_trackPlot.segmentsDrawn);
  EXPECT_EQ(0, PixelsOf(Shown().pixels, kTrackLineColour).count);
  Fix(0, 80);  // the new line goes on from there
  EXPECT_EQ(1, g_trackPlot.segmentsDrawn);
  const Box joined = PixelsOf(Shown().pixels, kTrackLineColour);
  EXPECT_GE(joined.x0, kTrackPlotWidth / 2 + 30 - 4);
  ASSERT_EQ(1, DrawTrackPlot());
  const Box redrawn = PixelsOf(Shown().pixels, kTrackLineColour);
  EXPECT_GE(redrawn.x0, kTrackPlotWidth / 2 + 30 - 4);
  EXPECT_GT(redrawn.count, 0);
}

TEST_F(TrackPlot, MovingMarkerPutsBackWhatItCovered) {
  ShowTrackPlotter(1);
  // Start on the centre, then step north so the old marker's left and right
  // columns are not covered by the (3 pixel) segment.
  Fix(0, 0);
  Fix(20, 0);
  Fix(40, 0);  // 20 pixels up, in two steps the jump filter believes
  const uint8_t* p = Shown().pixels;
  const int cx = kTrackPlotWidth / 2, cy = kTrackPlotHeight / 2;
  for (int dy = -3; dy <= 3; ++dy)
    for (int dx : {-3, -2, 2, 3}) {
      SCOPED_TRACE(testing::Message() << dx << "," << dy);
      const uint8_t v = p[(cy + dy) * kTrackPlotWidth + cx + dx];
      EXPECT_TRUE(v == kTrackBackground || v == kTrackGridColour) << int(v);
    }
  EXPECT_NEAR(cy - 20.0, Marker().cy(), 1.0);
}

TEST_F(TrackPlot, GlitchesAreDrawnWhereTheVesselWasUntilTheSixth) {
  ShowTrackPlotter(1);
  Fix(0, 0);
  for (int i = 1; i <= kTrackJumpLimitHead; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(kTrackFixHeld, Fix(30, 0));
    EXPECT_NEAR(kTrackPlotHeight / 2.0, Marker().cy(), 1.0);
  }
  EXPECT_EQ(kTrackFixStored, Fix(30, 0));
  EXPECT_NEAR(kTrackPlotHeight / 2.0 - 15.0, Marker().cy(), 1.0);
}

TEST_F(TrackPlot, MarkerNearAnEdgeRecentresOnTheCurrentFix) {
  ShowTrackPlotter(1);
  Fix(0, 0);
  // 0.5 px/m: the marker passes x = 276 - 11 after about 254 m east.
  double east = 0;
  int draws = g_trackPlot.fullDraws;
  while (g_trackPlot.fullDraws == draws && east < 400) Fix(0, east += 20);
  ASSERT_GT(g_trackPlot.fullDraws, draws) << "never recentred";
  EXPECT_GT(east, 240.0);
  EXPECT_LT(east, 280.0);
  const Box m = Marker();
  EXPECT_NEAR(kTrackPlotWidth / 2.0, m.cx(), 1.0);
  EXPECT_NEAR(kTrackPlotHeight / 2.0, m.cy(), 1.0);
  // The track behind it is redrawn, back to the first fix about 130
  // pixels to the left.
  const Box line = PixelsOf(Shown().pixels, kTrackLineColour);
  EXPECT_NEAR(kTrackPlotWidth / 2.0 - east / 2.0, line.x0 + 1.0, 2.0);
  EXPECT_GE(line.x1, kTrackPlotWidth / 2 - 4);
}

TEST_F(TrackPlot, SixKilometreJumpClearsTheTrackAndRecentres) {
  ShowTrackPlotter(1);
  Fix(0, 0);
  Fix(0, 20);
  Fix(0, 40);
  ASSERT_GT(PixelsOf(Shown().pixels, kTrackLineColour).count, 0);
  const int draws = g_trackPlot.fullDraws;
  EXPECT_EQ(kTrackFixNewTrack, Fix(6000, 0));
  EXPECT_EQ(draws + 1, g_trackPlot.fullDraws);
  EXPECT_EQ(0, PixelsOf(Shown().pixels, kTrackLineColour).count);
  const Box m = Marker();
  EXPECT_EQ(49, m.count);
  EXPECT_NEAR(kTrackPlotWidth / 2.0, m.cx(), 1.0);
  EXPECT_NEAR(kTrackPlotHeight / 2.0, m.cy(), 1.0);
}

TEST_F(TrackPlot, ZoomClicksStayWithinTheirLimitsAndRedraw) {
  ShowTrackPlotter(1);
  const struct {
    const char* legend;
    int from, left, expected;
  } cases[] = {
      {"left at 11 stays", 11, 1, 11}, {"right at 0 stays", 0, 0, 0}, {"left from 5", 5, 1, 6},
      {"right from 5", 5, 0, 4},       {"left from 10", 10, 1, 11},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.TrackPlotterZoom = c.from;
    const int draws = g_trackPlot.fullDraws;
    EXPECT_EQ(c.expected, TrackPlotterClick(c.left));
    EXPECT_EQ(c.expected, g_settings.TrackPlotterZoom);
    EXPECT_EQ(draws + 1, g_trackPlot.fullDraws);
    EXPECT_EQ(c.expected, g_trackPlot.zoomDrawn);
  }
}

TEST_F(TrackPlot, ZoomInKeepsTheVesselInSight) {
  ShowTrackPlotter(1);
  Fix(0, 0);
  Fix(0, 100);  // 50 pixels right of the centre at zoom 5
  g_settings.TrackPlotterZoom = 10;  // 5 px/m: 500 pixels away, off the picture
  UpdateTrackPlot();
  const Box m = Marker();
  EXPECT_EQ(49, m.count);
  EXPECT_NEAR(kTrackPlotWidth / 2.0, m.cx(), 1.0);
}

TEST_F(TrackPlot, SwathLinesFollowTheCoverageChoice) {
  ShowTrackPlotter(1);
  SetTrackPingValues(200, -100, 100, 50.0, 100.0);  // edges 20 m to each side
  g_settings.DisplaySwathCoverage = 1;
  Fix(0, 0, 1);
  Fix(0, 20, 1);
  Box swath = PixelsOf(Shown().pixels, kTrackSwathColour);
  // Heading east: the swath runs north-south, 40 m = 20 pixels long.
  EXPECT_GE(swath.y1 - swath.y0, 18);
  EXPECT_LE(swath.x1 - swath.x0, 12);
  // Switched off, the next whole plot leaves the lines out.
  g_settings.DisplaySwathCoverage = 0;
  UpdateTrackPlot();
  EXPECT_EQ(0, PixelsOf(Shown().pixels, kTrackSwathColour).count);
}

TEST_F(TrackPlot, HiddenWindowIsNotDrawnAndClearNeedsItShown) {
  Fix(0, 0);
  EXPECT_EQ(0, g_trackPlot.published);
  EXPECT_EQ(nullptr, plat::LatestFrame(plat::kWinTrackPlotter));
  ClearTrackPlotter();  // hidden: the track stays
  EXPECT_EQ(1, g_track.stored);
  ShowTrackPlotter(1);
  EXPECT_EQ(49, Marker().count);  // the fix stored while hidden is shown
  ClearTrackPlotter();
  EXPECT_EQ(0, g_track.stored);
  ShowTrackPlotter(0);
  EXPECT_EQ(0, g_settings.TrackPlotterWindow);
  EXPECT_EQ(0, plat::rec::Get().shown[plat::kWinTrackPlotter]);
}

TEST_F(TrackPlot, TextFontCoversTheLabel) {
  uint8_t pixels[20 * 80] = {};
  EXPECT_EQ(6 * 9, DrawTrackText(pixels, 80, 20, 0, 0, "500 M/DIV", 1));
  int set = 0;
  for (uint8_t v : pixels) set += v;
  EXPECT_GT(set, 60);
  // A character it does not know takes no room.
  EXPECT_EQ(6, DrawTrackText(pixels, 80, 20, 0, 10, "x5", 1));
}

}  // namespace
