// The history windows: picture size and line rules, peak-keeping
// resampling, scrolling, the kept overlay marks, the Sidescan's skipped
// pings, angle clicks and fan symbols, the hand-off to the painter, and the
// pictures of synthetic scenes (a target on its side of the Sidescan at its
// range, the seabed in the Echo Sounder at its depth, one band per beam in
// the Intensity window). Also the Altitude text.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/palette.h"
#include "imaging/waterfall.h"
#include "platform/frame_handoff.h"
#include "platform/recording.h"
#include "processing/beamform.h"
#include "processing/profile_detect.h"
#include "scene.h"
#include "settings/settings.h"
#include "tools/scene_test_util.h"

namespace {

class Waterfall : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::rec::Reset();
    plat::ResetFrames();
    scenetest::ResetForScenePings();
    ResetProfileDetect();
    ResetPalette();
    ASSERT_EQ(1, SelectColorTable(plat::kWinMain, 0));
    ResetWaterfalls();
  }
  void TearDown() override { ResetWaterfalls(); }

  static WaterfallWindow& W(int kind) { return g_waterfalls[kind]; }
  static uint8_t Px(int kind, int x, int y) { return W(kind).pixels[y * W(kind).width + x]; }
  static void Show(int kind, int clientW, int clientH) {
    SetWaterfallShown(kind, 1);
    ASSERT_EQ(1, ResizeWaterfall(kind, clientW, clientH));
  }
};

TEST_F(Waterfall, PictureSizeFollowsTheClientWithItsMinimum) {
  struct Case { const char* legend; int cw, ch; int W, H, fixedW, fixedH; } cases[] = {
      {"default window", 300, 200, 300, 201, 300, 200},
      {"width + 1 rounded down to 4", 302, 100, 300, 101, 302, 100},
      {"width + 1 reaching the next 4", 303, 100, 304, 101, 303, 100},
      {"too small is undone to 30", 10, 5, 28, 31, 30, 30},
      {"larger than a frame slot", 3000, 2000, kWaterfallMaxWidth, kWaterfallMaxHeight, 3000, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SetWaterfallShown(kIntensityWaterfall, 1);
    int fw = 0, fh = 0;
    ASSERT_EQ(1, ResizeWaterfall(kIntensityWaterfall, c.cw, c.ch, &fw, &fh));
    EXPECT_EQ(c.fixedW, fw);
    EXPECT_EQ(c.fixedH, fh);
    EXPECT_EQ(c.W, W(kIntensityWaterfall).width);
    EXPECT_EQ(c.H, W(kIntensityWaterfall).height);
    const plat::Frame* f = plat::LatestFrame(plat::kWinIntensity);
    ASSERT_NE(nullptr, f);
    EXPECT_EQ(c.W, f->width);
    EXPECT_EQ(c.H, f->height);
  }
}

TEST_F(Waterfall, LineLengthRules) {
  struct Case { const char* legend; int kind, width, height, expected; } cases[] = {
      {"sidescan up to 1996 is W", kSidescanWaterfall, 1996, 100, 1996},
      {"sidescan 1998 gives 2000", kSidescanWaterfall, 1998, 100, 2000},
      {"sidescan 2000", kSidescanWaterfall, 2000, 100, 2000},
      {"intensity wider than 2000 still 2000", kIntensityWaterfall, 2400, 100, 2000},
      {"intensity 300", kIntensityWaterfall, 300, 100, 300},
      {"echo sounder takes H", kEchoSounderWaterfall, 300, 201, 201},
      {"echo sounder at most 2000", kEchoSounderWaterfall, 300, 2300, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(c.expected, WaterfallLineLength(c.kind, c.width, c.height));
  }
}

TEST_F(Waterfall, MoreSamplesThanPixelsKeepEveryPeak) {
  // 300 pixels for 500 samples a side: each pixel holds about three samples,
  // and a lone echo anywhere must survive at its own place.
  std::vector<int> source(1000, 0);
  uint8_t line[300];
  for (int pos = 0; pos < 1000; ++pos) {
    source.assign(1000, 3);
    source[pos] = 90;
    ResampleWaterfallLine(source.data(), 1000, line, 300);
    const int at = static_cast<int>(std::max_element(line, line + 300) - line);
    ASSERT_EQ(90, line[at]) << "sample " << pos;
    ASSERT_EQ(pos * 300 / 1000, at) << "sample " << pos;
    ASSERT_EQ(1, std::count(line, line + 300, 90)) << "sample " << pos;
  }
  // The last pixel reaches the last sample; levels above 118 are held at 118.
  source.assign(1000, 0);
  source[999] = 127;
  ResampleWaterfallLine(source.data(), 1000, line, 300);
  EXPECT_EQ(kWaterfallLevelMax, line[299]);
}

TEST_F(Waterfall, FewerBeamsThanPixelsRepeatInOrder) {
  // 480 beams on 600 pixels: every beam shows, in order, on one or two
  // neighbouring pixels, and nothing is written past the line.
  std::vector<int> source(480);
  for (int b = 0; b < 480; ++b) source[b] = b % 100;
  uint8_t line[602];
  std::memset(line, 0xEE, sizeof line);
  ResampleWaterfallLine(source.data(), 480, line, 600);
  EXPECT_EQ(0xEE, line[600]);
  int beam = 0, run = 0;
  for (int k = 0; k < 600; ++k) {
    if (line[k] != source[beam]) {
      ASSERT_GE(run, 1);
      ASSERT_LE(run, 2);
      beam++;
      run = 0;
      ASSERT_LT(beam, 480);
      ASSERT_EQ(source[beam], line[k]) << "pixel " << k;
    }
    run++;
  }
  EXPECT_EQ(479, beam);
  // Negative values (never expected) draw as 0 rather than wrap.
  const int negative[2] = {-5, 200};
  ResampleWaterfallLine(negative, 2, line, 4);
  EXPECT_EQ(0, line[0]);
  EXPECT_EQ(kWaterfallLevelMax, line[3]);
}

TEST_F(Waterfall, ScrollDirectionsAndNewestLine) {
  Show(kIntensityWaterfall, 300, 200);
  Show(kEchoSounderWaterfall, 300, 200);
  std::vector<int> a(300, 10), b(300, 20);
  for (int kind : {kIntensityWaterfall, kEchoSounderWaterfall}) {
    ASSERT_EQ(1, UpdateWaterfall(kind, a.data(), 300));
    ASSERT_EQ(1, UpdateWaterfall(kind, b.data(), 300));
  }
  // Intensity: the history moves down, the newest line is the top row.
  EXPECT_EQ(20, Px(kIntensityWaterfall, 150, 0));
  EXPECT_EQ(10, Px(kIntensityWaterfall, 150, 1));
  EXPECT_EQ(0, Px(kIntensityWaterfall, 150, 2));
  // Echo Sounder: the history moves left, the newest line is the last column.
  const int w = W(kEchoSounderWaterfall).width;
  EXPECT_EQ(20, Px(kEchoSounderWaterfall, w - 1, 100));
  EXPECT_EQ(10, Px(kEchoSounderWaterfall, w - 2, 100));
  EXPECT_EQ(0, Px(kEchoSounderWaterfall, w - 3, 100));
  EXPECT_EQ(10, Px(kEchoSounderWaterfall, w - 2, W(kEchoSounderWaterfall).height - 1));
}

TEST_F(Waterfall, OverlayMarksSurviveWithTheGridOn) {
  std::vector<int> line(300, 118);
  for (int grid : {1, 0}) {
    SCOPED_TRACE(grid ? "grid on" : "grid off");
    g_settings.Grid = grid;
    Show(kIntensityWaterfall, 300, 200);
    W(kIntensityWaterfall).pixels[7] = 130;
    ASSERT_EQ(1, UpdateWaterfall(kIntensityWaterfall, line.data(), 300));
    EXPECT_EQ(grid ? 245 : 118, Px(kIntensityWaterfall, 7, 0));
    EXPECT_EQ(130, Px(kIntensityWaterfall, 7, 1));  // the old line moved on
    EXPECT_EQ(118, Px(kIntensityWaterfall, 8, 0));
  }
}

TEST_F(Waterfall, OnlyShownReadyUnminimisedWindowsUpdate) {
  std::vector<int> line(300, 50);
  EXPECT_EQ(0, UpdateWaterfall(kIntensityWaterfall, line.data(), 300));  // hidden
  EXPECT_EQ(0, plat::FramesPublished(plat::kWinIntensity));
  Show(kIntensityWaterfall, 300, 200);
  const int64_t published = plat::FramesPublished(plat::kWinIntensity);
  SetWaterfallMinimised(kIntensityWaterfall, 1);
  EXPECT_EQ(0, UpdateWaterfall(kIntensityWaterfall, line.data(), 300));
  EXPECT_EQ(published, plat::FramesPublished(plat::kWinIntensity));
  SetWaterfallMinimised(kIntensityWaterfall, 0);
  EXPECT_EQ(1, UpdateWaterfall(kIntensityWaterfall, line.data(), 300));
  EXPECT_EQ(published + 1, plat::FramesPublished(plat::kWinIntensity));
  EXPECT_GE(plat::rec::Get().invalidations[plat::kWinIntensity], 1);
  // Hiding frees the picture: no update until it is shown again.
  SetWaterfallShown(kIntensityWaterfall, 0);
  EXPECT_EQ(0, W(kIntensityWaterfall).ready);
  EXPECT_EQ(0, UpdateWaterfall(kIntensityWaterfall, line.data(), 300));
  // A resize loses the history.
  Show(kIntensityWaterfall, 300, 200);
  ASSERT_EQ(1, UpdateWaterfall(kIntensityWaterfall, line.data(), 300));
  ASSERT_EQ(1, ResizeWaterfall(kIntensityWaterfall, 400, 100));
  EXPECT_EQ(0, Px(kIntensityWaterfall, 10, 0));
  EXPECT_EQ(0, W(kIntensityWaterfall).updates);
}

TEST_F(Waterfall, SidescanStartsWithTheFifthPingAfterOpening) {
  Show(kSidescanWaterfall, 300, 200);
  std::vector<int> line(1000, 40);
  for (int ping = 1; ping <= 4; ++ping) EXPECT_EQ(0, UpdateWaterfall(kSidescanWaterfall, line.data(), 1000));
  EXPECT_EQ(1, UpdateWaterfall(kSidescanWaterfall, line.data(), 1000));
  EXPECT_EQ(1, UpdateWaterfall(kSidescanWaterfall, line.data(), 1000));
  // Opening again starts the count over.
  SetWaterfallShown(kSidescanWaterfall, 0);
  SetWaterfallShown(kSidescanWaterfall, 1);
  EXPECT_EQ(0, UpdateWaterfall(kSidescanWaterfall, line.data(), 1000));
}

TEST_F(Waterfall, AngleClicksStayWithinFifteenToSeventyFive) {
  g_sidescanAngleDeg = kSidescanAngleMinDeg;
  for (int i = 0; i < 20; ++i) SidescanLeftClick();
  EXPECT_FLOAT_EQ(75.0f, g_sidescanAngleDeg);
  EXPECT_FLOAT_EQ(70.0f, SidescanRightClick());
  for (int i = 0; i < 20; ++i) SidescanRightClick();
  EXPECT_FLOAT_EQ(15.0f, g_sidescanAngleDeg);
}

TEST_F(Waterfall, FanSymbolsGoIntoThePublishedPictureOnly) {
  Show(kSidescanWaterfall, 300, 200);
  auto columnsOfFan = [](const plat::Frame* f, int* left, int* right) {
    *left = f->width;
    *right = -1;
    for (int y = 0; y < f->height; ++y)
      for (int x = 0; x < f->width; ++x)
        if (f->pixels[y * f->width + x] == kFanColour) {
          *left = std::min(*left, x);
          *right = std::max(*right, x);
        }
  };
  struct Case { const char* legend; double tilt; int leftMin, leftMax, rightMin, rightMax; } cases[] = {
      // 0.075 x the 360-pixel diagonal is 27 pixels.
      {"both sides from the centre", 0.0, 150 - 27, 150 - 20, 150 + 20, 150 + 27},
      {"port only at the right edge", -20.0, 295 - 27, 295 - 20, 295, 295},
      {"starboard only at the left edge", 25.0, 5, 5, 5 + 20, 5 + 27},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_settings.ProfileTiltAngle = c.tilt;
    ASSERT_EQ(1, RepublishWaterfall(kSidescanWaterfall));
    const plat::Frame* f = plat::LatestFrame(plat::kWinSidescan);
    ASSERT_NE(nullptr, f);
    int left = 0, right = 0;
    columnsOfFan(f, &left, &right);
    EXPECT_GE(left, c.leftMin);
    EXPECT_LE(left, c.leftMax);
    EXPECT_GE(right, c.rightMin);
    EXPECT_LE(right, c.rightMax);
    EXPECT_EQ(kFanColour, f->pixels[2 * f->width + (c.tilt <= -20 ? 295 : c.tilt >= 20 ? 5 : 150)]);
  }
  // The history underneath keeps no symbol, so it never scrolls down.
  const WaterfallWindow& w = W(kSidescanWaterfall);
  EXPECT_EQ(0, std::count(w.pixels, w.pixels + w.width * w.height, kFanColour));
  // A steeper angle points the lines further down.
  g_settings.ProfileTiltAngle = 0.0;
  uint8_t shallow[300 * 60] = {}, steep[300 * 60] = {};
  DrawSidescanFans(shallow, 300, 60, 300, 200, 15.0f, 0.0, nullptr, nullptr);
  DrawSidescanFans(steep, 300, 60, 300, 200, 75.0f, 0.0, nullptr, nullptr);
  auto lowest = [](const uint8_t* p) {
    int row = 0;
    for (int i = 0; i < 300 * 60; ++i)
      if (p[i] == kFanColour) row = std::max(row, i / 300);
    return row;
  };
  EXPECT_GT(lowest(steep), lowest(shallow) + 10);
}

TEST_F(Waterfall, PicturesCarryTheMainColourSelection) {
  Show(kEchoSounderWaterfall, 300, 200);
  ASSERT_EQ(1, SelectColorTable(plat::kWinMain, 4));
  const plat::Frame* f = plat::LatestFrame(plat::kWinEchoSounder);
  ASSERT_NE(nullptr, f);
  for (int i : {0, 60, 118, 121, 200}) EXPECT_EQ(g_palette.pictureColours[i], f->palette[i]) << i;
  EXPECT_EQ(EchoColour(4, 60), f->palette[60]);
}

TEST_F(Waterfall, ClearEmptiesTheShownPictures) {
  Show(kIntensityWaterfall, 300, 200);
  std::vector<int> line(300, 70);
  ASSERT_EQ(1, UpdateWaterfall(kIntensityWaterfall, line.data(), 300));
  ClearWaterfalls();
  EXPECT_EQ(0, Px(kIntensityWaterfall, 0, 0));
  EXPECT_EQ(0, plat::LatestFrame(plat::kWinIntensity)->pixels[0]);
}

// ---------------------------------------------------------------- scenes

class WaterfallScene : public Waterfall {
 protected:
  void SetUp() override {
    Waterfall::SetUp();
    g_settings.StepSize = 1;  // 240 beams over 120 degrees
    g_settings.SectorSize = 3;
    g_settings.Frequency = 260;
    SetupBeamGeometry();
    ASSERT_EQ(240, g_beamGeom.beams);
  }
  // Scene angle (degrees, positive to starboard) of beam b's centre.
  static double AngleOfBeam(int b) {
    return ((b + 0.5) * g_beamGeom.beamSpacingRad - g_beamGeom.halfSectorRad) * 180.0 / M_PI;
  }
};

TEST_F(WaterfallScene, TargetShowsOnItsSideOfTheSidescanAtItsRange) {
  const int N = g_beamGeom.beams;
  const int portBeam = static_cast<int>(N * 15.0 / 180.0);  // SidescanAngle 15
  for (int side : {-1, +1}) {
    SCOPED_TRACE(side < 0 ? "port" : "starboard");
    ResetWaterfalls();
    Show(kSidescanWaterfall, 300, 200);
    SceneParams p;
    p.dataType = 0;
    p.rangeStep = 5;
    p.seabed = 0;
    p.noise = 0.5;
    const double rangeM = 14.0;
    p.targets[0] = {side < 0 ? AngleOfBeam(portBeam) : AngleOfBeam(N - portBeam), rangeM, 60.0};
    p.targetCount = 1;
    scenetest::FormScenePing(p);
    BuildSidescanLine();
    for (int ping = 0; ping < 5; ++ping) UpdateWaterfalls();
    ASSERT_EQ(1, W(kSidescanWaterfall).updates);
    const int n = g_beamGeom.samples, Wd = W(kSidescanWaterfall).width;
    const double s = SceneSampleOfRange(p, rangeM);
    // Port runs far to near up to the centre, starboard near to far after it.
    const double expected = (side < 0 ? (n - 1 - s) : (n + s)) * Wd / (2.0 * n);
    int best = 0;
    for (int x = 0; x < Wd; ++x)
      if (Px(kSidescanWaterfall, x, 0) > Px(kSidescanWaterfall, best, 0)) best = x;
    EXPECT_GT(Px(kSidescanWaterfall, best, 0), 30);
    EXPECT_NEAR(expected, best, 3.0);
    int other = 0;
    for (int x = 0; x < Wd; ++x)
      if ((x < Wd / 2) != (side < 0)) other = std::max<int>(other, Px(kSidescanWaterfall, x, 0));
    EXPECT_LT(other, Px(kSidescanWaterfall, best, 0) / 2);
  }
}

TEST_F(WaterfallScene, EchoSounderShowsTheSeabedAtTheRowOfItsDepth) {
  for (double depthM : {8.0, 17.0}) {
    SCOPED_TRACE(depthM);
    ResetWaterfalls();
    Show(kEchoSounderWaterfall, 300, 200);
    SceneParams p;
    p.dataType = 0;
    p.rangeStep = 5;
    p.depthM = depthM;
    p.noise = 0.5;
    p.seabedStrength = 16.0;
    scenetest::FormScenePing(p);
    ASSERT_EQ(1, UpdateWaterfalls());
    const WaterfallWindow& w = W(kEchoSounderWaterfall);
    const double expected = SceneSampleOfRange(p, depthM) * w.lineLength / g_beamGeom.samples;
    int best = 0;
    for (int y = 0; y < w.height; ++y)
      if (Px(kEchoSounderWaterfall, w.width - 1, y) > Px(kEchoSounderWaterfall, w.width - 1, best)) best = y;
    EXPECT_GT(Px(kEchoSounderWaterfall, w.width - 1, best), 20);
    EXPECT_NEAR(expected, best, 3.0);
    // Open water above the seabed stays dark.
    EXPECT_LT(Px(kEchoSounderWaterfall, w.width - 1, static_cast<int>(expected / 2)), 10);
  }
}

TEST_F(WaterfallScene, IntensityShowsOneBandPerBeam) {
  // Beams alternate between two intensities: 240 beams on a 600-pixel line
  // make 240 bands of two or three pixels.
  Show(kIntensityWaterfall, 600, 100);
  ASSERT_EQ(600, W(kIntensityWaterfall).lineLength);
  g_settings.ProfilePointIntensityOutput = 1;  // the outputs already computed it
  for (int b = 0; b < kMaxBeams; ++b) g_pointIntensity[b] = b % 2 ? 100 : 20;
  ASSERT_EQ(1, UpdateWaterfalls());
  int bands = 1, run = 1;
  for (int x = 1; x < 600; ++x) {
    if (Px(kIntensityWaterfall, x, 0) != Px(kIntensityWaterfall, x - 1, 0)) {
      EXPECT_GE(run, 2);
      EXPECT_LE(run, 3);
      bands++;
      run = 0;
    }
    run++;
  }
  EXPECT_EQ(240, bands);
  // With the intensity output off the window computes the values itself:
  // no profile points, so every beam reads 0.
  g_settings.ProfilePointIntensityOutput = 0;
  ASSERT_EQ(1, UpdateWaterfalls());
  EXPECT_EQ(0, *std::max_element(W(kIntensityWaterfall).pixels, W(kIntensityWaterfall).pixels + 600));
}

TEST_F(Waterfall, AltitudeText) {
  struct Case { const char* legend; double m; int detection, units; const char* expected; } cases[] = {
      {"metres", 12.345, 1, 0, "12.3"},
      {"feet", 10.0, 1, 1, "32.8"},
      {"yards", 10.0, 1, 2, "10.9"},
      {"short value", 1.24, 1, 0, "1.2"},
      {"detection off", 12.0, 0, 0, ""},
      {"no altitude", 0.0, 1, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    char text[16] = "x";
    const int n = AltitudeText(text, sizeof text, c.m, c.detection, c.units);
    EXPECT_STREQ(c.expected, text);
    EXPECT_EQ(static_cast<int>(std::strlen(c.expected)), n);
  }
}

}  // namespace
