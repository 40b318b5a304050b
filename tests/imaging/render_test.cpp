// Per-ping rendering: the sample buffer, the scan-converted walk, Linear and
// Beam Test, persistence, background removal, the profile point overlay, the
// waterfall and the signal-level strip.
#include <cmath>

#include "common/alloc_counter.h"
#include "imaging_fixture.h"

namespace {

class Render : public ImagingTest {
 protected:
  // Pixel at radius `radius` on the centre line of beam slot j of the fan.
  static void SlotPixel(int j, double radius, int* row, int* col) {
    const ScanGeometry& g = g_scan.geom;
    const double a = (g.startAngleDeg + (j + 0.5) * g.sectorDeg / g.beams) * 3.141592654 / 180.0;
    *col = static_cast<int>(g.originX + radius * std::cos(a) + 0.5);
    *row = static_cast<int>(g.originY + radius * std::sin(a) + g.verticalShift + 0.5);
  }
};

TEST_F(Render, ConstantRangeArcIsDrawnAtItsRadiusInEveryDirection) {
  Build(kModeSector, 240);
  FillArc(240, 300, 306, 100.f);
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  for (int j = 10; j < 230; j += 20) {
    SCOPED_TRACE(j);
    int r, c;
    SlotPixel(j, 303, &r, &c);
    // Weights sum to 254 or 255 of 256: a level of 100 comes out as 99.
    EXPECT_NEAR(99, Clean(r, c), 1);
    SlotPixel(j, 200, &r, &c);
    EXPECT_EQ(0, Clean(r, c));
    SlotPixel(j, 400, &r, &c);
    EXPECT_EQ(0, Clean(r, c));
  }
}

TEST_F(Render, OverlayPixelsSurviveWhileTheCleanPictureGetsTheEcho) {
  Build(kModeSector, 240);
  FillArc(240, 0, 500, 60.f);
  const int r = kApexRow - 250, c = kApexColumn + 7;
  ASSERT_TRUE(InSpan(r, c));
  g_scan.ImageBuffer[r][c] = kOverlayMarker;
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_EQ(kOverlayMarker, Img(r, c));
  EXPECT_NEAR(60, Clean(r, c), 1);
  EXPECT_NEAR(60, Img(r, c + 1), 1);
  // The grid drawn by the build is still there after a ping.
  EXPECT_EQ(kOverlayMarker, Img(kApexRow - 100, kApexColumn));
}

TEST_F(Render, SampleBytesAreRoundedAndOverflowShowsFullScale) {
  struct Case {
    const char* legend;
    float amplitude;
    int byte;
  } cases[] = {{"rounds half up", 10.5f, 11}, {"rounds down", 10.49f, 10}, {"300 is out of range", 300.f, 255},
               {"255.4 still fits", 255.4f, 255}, {"small negative rounds to 0", -0.7f, 0},
               {"large negative", -20.f, 255}, {"not a number", std::nanf(""), 255}};
  Build(kModeSector, 240);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    std::memset(g_beamImage, 0, sizeof g_beamImage);
    g_beamImage[0][123] = c.amplitude;
    FillBeamSamples(0);
    // Beam 0 lies in the last slot, at the right-hand end of the fan.
    EXPECT_EQ(c.byte, BeamSlot(239)[123]);
  }
  // 255 in three neighbouring slots interpolates to 254 and is limited to 118.
  FillArc(240, 200, 201, 300.f);
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_EQ(kMaxEchoIndex, Clean(kApexRow - 200, kApexColumn));
}

TEST_F(Render, BorderSlotsAreClearedEvenAfterAWiderFan) {
  Build(kModeSector, 480, 120.0, 0);
  FillArc(480, 0, 500, 90.f);
  FillBeamSamples(0);
  EXPECT_EQ(90, BeamSlot(240)[10]);
  // Fewer beams now: slot 240 is the border beside the last slot of the fan.
  Build(kModeSector, 240);
  FillArc(240, 0, 500, 90.f);
  FillBeamSamples(0);
  EXPECT_EQ(0, BeamSlot(240)[10]);
  EXPECT_EQ(0, BeamSlot(-1)[10]);
  EXPECT_EQ(90, BeamSlot(239)[10]);
}

TEST_F(Render, TypeVFoldsPairsIntoTheLargerOfTwo) {
  Build(kModeSector, 240);
  g_sampleCount = 1000;
  g_pingRecord[1] = 'V';
  for (int b = 0; b < 240; ++b)
    for (int j = 0; j < 500; ++j) {
      g_beamImage[b][2 * j] = static_cast<float>(j % 50);
      g_beamImage[b][2 * j + 1] = static_cast<float>(49 - j % 50);
    }
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  for (int j : {0, 1, 24, 25, 49, 250, 499}) {
    SCOPED_TRACE(j);
    const int expect = std::max(j % 50, 49 - j % 50);
    EXPECT_EQ(expect, BeamSlot(0)[j]);
    EXPECT_EQ(expect, BeamSlot(239)[j]);
  }
}

TEST_F(Render, HalfRangeShowsTheNearerHalfTwiceOver) {
  Build(kModeSector, 240);
  g_settings.HalfRange = 1;
  for (int b = 0; b < 240; ++b)
    for (int s = 0; s < 500; ++s) g_beamImage[b][s] = static_cast<float>(s % 200);
  FillBeamSamples(0);
  for (int s : {0, 1, 100, 249}) {
    SCOPED_TRACE(s);
    EXPECT_EQ(s % 200, BeamSlot(17)[2 * s]);
    EXPECT_EQ(s % 200, BeamSlot(17)[2 * s + 1]);
  }
}

TEST_F(Render, LinearModeDrawsOneColumnPerBeamRightToLeft) {
  Build(kModeLinear, 480, 120.0, 0);
  for (int b = 0; b < 480; ++b)
    for (int s = 0; s < 500; ++s) g_beamImage[b][s] = static_cast<float>(b % 100);
  g_beamImage[0][1] = 300.f;  // outside 0..118: full scale
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  // Beam 0 in column 745, beam 479 in column 266.
  EXPECT_EQ(kMaxEchoIndex, Clean(541, 745));
  EXPECT_EQ(79, Clean(541, 266));
  EXPECT_EQ(17, Clean(300, 745 - 17));
  EXPECT_EQ(0, Clean(300, 746));
  EXPECT_EQ(0, Clean(300, 265));
  // Displayed sample 1 is the bottom line, sample 499 row 43; row 42 is not drawn.
  EXPECT_EQ(5, Clean(43, 745 - 5));
  EXPECT_EQ(0, Clean(42, 745 - 5));
  // The grid at the fan's edges stays.
  EXPECT_EQ(kOverlayMarker, Img(300, 745));
}

TEST_F(Render, BeamTestShowsTheElementRowsOfThePingType) {
  Build(kModeBeamTest, 240);
  struct Case {
    char letter;
    int first;
  } cases[] = {{'U', 69}, {'V', 69}, {'Z', 61}, {'Y', 45}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.letter);
    std::memset(g_scan.BeamSampleBuffer, 0, sizeof g_scan.BeamSampleBuffer);
    for (int e = 0; e < 16; ++e) std::memset(BeamSlot(c.first + e), e == 15 ? 200 : 5 * e + 1, kScreenSamples);
    DrawBeamTest(c.letter);
    for (int e = 0; e < 16; ++e) {
      SCOPED_TRACE(e);
      const int expect = e == 15 ? kMaxEchoIndex : 5 * e + 1;
      EXPECT_EQ(expect, Clean(200, 433 + 9 * e + 4));
    }
  }
  // Outside the span nothing is drawn: column 432 keeps the grid line.
  EXPECT_EQ(kOverlayMarker, Img(200, 432));
}

TEST_F(Render, PersistenceHoldsAndDecaysLinearly) {
  Build(kModeSector, 240);
  g_settings.Persistence = 3;
  g_ping.pingPeriodMs = 100;
  FillArc(240, 328, 333, 100.f);
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_NEAR(80.0 * 100 / 3000.0, g_render.decay, 1e-5);
  const int r = kApexRow - 330, c = kApexColumn + 3;
  const int first = Img(r, c);
  EXPECT_NEAR(99, first, 1);
  FillArc(240, 0, 0, 0.f);
  for (int k = 1; k <= 6; ++k) {
    ASSERT_EQ(1, RenderPing(plat::kWinMain));
    SCOPED_TRACE(k);
    EXPECT_EQ(0, Clean(r, c));
    EXPECT_NEAR(first - 2.6666667 * k, Img(r, c), 1.0);
  }
  // After P seconds (30 pings) a pixel has fallen by 80 levels.
  for (int k = 7; k <= 30; ++k) ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_NEAR(first - 80, Img(r, c), 1);
}

TEST_F(Render, PersistenceDecayKeptWhilePingIntervalIsUnusable) {
  Build(kModeSector, 240);
  g_settings.Persistence = 2;
  for (int t : {0, 1000, 1500}) {
    SCOPED_TRACE(t);
    g_ping.pingPeriodMs = t;
    ASSERT_EQ(1, RenderPing(plat::kWinMain));
    EXPECT_FLOAT_EQ(0.5f, g_render.decay);
  }
  g_ping.pingPeriodMs = 999;
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_NEAR(80.0 * 999 / 2000.0, g_render.decay, 1e-4);
  // Persistence 0 leaves the accumulator alone.
  g_settings.Persistence = 0;
  std::memset(g_render.PersistenceAccumulator, 0, sizeof g_render.PersistenceAccumulator);
  FillArc(240, 300, 301, 100.f);
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_EQ(0.f, g_render.PersistenceAccumulator[kApexRow - 300][kApexColumn]);
}

TEST_F(Render, BackgroundRemovalWithAnEmptyReferenceShowsTheEchoHeldAndFading) {
  Build(kModeSector, 240);
  SetBackgroundRemoval(1);
  ASSERT_EQ(1, BuildReference());
  ASSERT_EQ(1, StoreReference());
  g_settings.Persistence = 0;     // taken as 1 s
  g_ping.pingPeriodMs = 100;      // f = 1 - 3 / 10 = 0.7
  FillArc(240, 328, 333, 100.f);
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_NEAR(0.7f, g_background.factor, 1e-6);
  const int r = kApexRow - 330, c = kApexColumn + 3;
  const int echo = Clean(r, c);
  EXPECT_EQ(echo, Img(r, c));
  FillArc(240, 0, 0, 0.f);
  double held = echo * 0.7;
  for (int k = 0; k < 4; ++k) {
    ASSERT_EQ(1, RenderPing(plat::kWinMain));
    EXPECT_EQ(static_cast<int>(held + 1e-4), Img(r, c)) << k;
    held *= 0.7;
  }
}

TEST_F(Render, BackgroundRemovalShowsOnlyWhatRisesAboveTheReference) {
  Build(kModeSector, 240);
  SetBackgroundRemoval(1);
  ASSERT_EQ(1, BuildReference());
  FillArc(240, 328, 333, 50.f);
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  const int r = kApexRow - 330, c = kApexColumn + 3;
  // While building, the picture shows the reference; neighbours widen it by
  // one pixel (the arc covers rows 209..213 here).
  EXPECT_NEAR(49, Img(r, c), 1);
  EXPECT_NEAR(49, g_background.Reference[214][c], 1);
  EXPECT_EQ(0, g_background.Reference[216][c]);
  ASSERT_EQ(1, StoreReference());
  g_ping.pingPeriodMs = 100;
  FillArc(240, 328, 333, 80.f);
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_NEAR(30, Img(r, c), 1);
  EXPECT_NEAR(30, g_background.Difference[r][c], 1);
  ASSERT_EQ(1, ClearBackgroundImage());
  EXPECT_EQ(0.f, g_render.PersistenceAccumulator[r][c]);
  // Switched off, the buttons do nothing.
  SetBackgroundRemoval(0);
  EXPECT_EQ(0, BuildReference());
}

TEST_F(Render, BackgroundFactorIsNotTakenFromThePersistenceDecay) {
  // Persistence leaves a decay of 2.67 levels per ping behind; background
  // removal with no usable ping interval must still hold with a factor below 1.
  Build(kModeSector, 240);
  g_settings.Persistence = 3;
  g_ping.pingPeriodMs = 100;
  FillArc(240, 328, 333, 100.f);
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  SetBackgroundRemoval(1);
  ASSERT_EQ(1, BuildReference());
  ASSERT_EQ(1, StoreReference());
  g_ping.pingPeriodMs = 0;
  for (int k = 0; k < 20; ++k) ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_LE(g_background.factor, 1.0f);
  EXPECT_LE(g_render.PersistenceAccumulator[kApexRow - 330][kApexColumn + 3], 100.f);
}

TEST_F(Render, ProfilePointsAreDrawnOnTheirSlotCentreLine) {
  Build(kModeSector, 240);
  g_settings.ProfilePointDetection = 1;
  g_settings.ProfileDisplayType = 0;
  FillArc(240, 0, 500, 40.f);
  g_profileOutputCount = 240;
  for (int j = 0; j < 240; ++j) g_pointRangeTenths[j] = j % 7 == 3 ? 0 : 3300;  // 330 samples, between two rings
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  int drawn = 0;
  for (int j = 20; j < 220; ++j) {
    int r, c;
    SlotPixel(j, 330, &r, &c);
    if (j % 7 == 3) continue;
    SCOPED_TRACE(j);
    // The grid's centre line keeps its own pixels.
    EXPECT_EQ(c == kApexColumn ? kOverlayMarker : kPointColour, Img(r, c));
    EXPECT_EQ(r, g_render.PointRowOfColumn[c]);
    ++drawn;
  }
  EXPECT_GT(drawn, 150);
  // "High Mix" leaves the echo as it was.
  EXPECT_NEAR(40, Img(kApexRow - 150, kApexColumn + 3), 1);
}

TEST_F(Render, MixingScalesTheEchoUnderThePoints) {
  struct Case {
    int choice;
    int expect;
  } cases[] = {{0, 79}, {1, 39}, {2, 19}, {3, 0}};
  for (const Case& m : cases) {
    SCOPED_TRACE(m.choice);
    Build(kModeSector, 240);
    g_settings.ProfilePointDetection = 1;
    g_settings.ProfileDisplayType = m.choice;
    FillArc(240, 0, 500, 80.f);
    // "Points Only" does not even fill the sample buffer: fill it by hand once.
    FillBeamSamples(0);
    ASSERT_EQ(1, RenderPing(plat::kWinMain));
    EXPECT_EQ(m.expect, Img(kApexRow - 150, kApexColumn + 3));
    EXPECT_EQ(kOverlayMarker, Img(kApexRow - 100, kApexColumn));
  }
  // The artificial bottom keeps the picture unless only points are wanted.
  g_settings.ProfilePointType = 1;
  g_settings.ProfileDisplayType = 2;
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_EQ(79, Img(kApexRow - 150, kApexColumn + 3));
}

TEST_F(Render, LargeDotsAndGapFillingOfThePerColumnRows) {
  Build(kModeSector, 240);
  g_settings.ProfilePointDetection = 1;
  g_settings.ProfilePointDotSize = 1;
  g_settings.StepSize = 1;  // gaps shorter than 12 columns are filled
  g_profileOutputCount = 240;
  g_pointRangeTenths[100] = 2300;  // 230 samples, clear of the rings
  g_pointRangeTenths[102] = 2300;  // a gap of one slot, about 2 columns
  g_pointRangeTenths[130] = 2300;  // a wider gap
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  int r, c;
  SlotPixel(100, 230, &r, &c);
  for (int dy = -1; dy <= 1; ++dy)
    for (int dx = -1; dx <= 1; ++dx) EXPECT_EQ(kPointColour, Img(r + dy, c + dx));
  int r2, c2;
  SlotPixel(102, 230, &r2, &c2);
  ASSERT_GT(c2 - c, 1);
  for (int col = c + 1; col < c2; ++col) EXPECT_EQ(r, g_render.PointRowOfColumn[col]);
  int r3, c3;
  SlotPixel(130, 230, &r3, &c3);
  ASSERT_GE(c3 - c2 - 1, 12);
  EXPECT_EQ(-1, g_render.PointRowOfColumn[c2 + 1]);
  EXPECT_EQ(r3, g_render.PointRowOfColumn[c3]);
}

TEST_F(Render, ProfileModePointsFollowTheDownwardFan) {
  g_settings.ProfileTiltAngle = 0.0;
  CentreProfile();
  Build(kModeProfile, 240);
  g_settings.ProfilePointDetection = 1;
  g_profileOutputCount = 240;
  for (int j = 0; j < 240; ++j) g_pointRangeTenths[j] = 2500;
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  // The middle slots look straight down: their points lie 250 rows below the apex.
  EXPECT_NEAR(250, g_render.PointRowOfColumn[kApexColumn], 1);
  int r, c;
  SlotPixel(40, 250, &r, &c);
  EXPECT_EQ(kPointColour, Img(r, c));
}

TEST_F(Render, WaterfallRecordsTheBottomDepthOfEachColumn) {
  g_settings.ProfileTiltAngle = 0.0;
  CentreProfile();
  Build(kModeProfile, 240);
  g_settings.ProfileWaterfall = 1;
  g_settings.ProfileWaterfallOffset = 20;
  g_settings.ProfileWaterfallSpan = 200;
  FillArc(240, 120, 124, 100.f);  // bottom at 120 samples: rows near 120 under the apex
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  const int k = kApexColumn - 256;  // waterfall column under the apex
  const int h = 120;
  const int n = 118 - (h - 20) * 118 / 200;
  EXPECT_NEAR(n, g_render.WaterfallPicture[kWaterfallTraceRows][k], 1);
  EXPECT_EQ(kPointColour, g_render.WaterfallPicture[118 - g_render.WaterfallPicture[kWaterfallTraceRows][k]][k]);
  // The band is marked in the picture.
  EXPECT_EQ(kMarkColour, Img(20, 500));
  EXPECT_EQ(kMarkColour, Img(220, 500));
  EXPECT_EQ(kMaxEchoIndex, Img(20, 105));
  // Next ping: the line moves down one row.
  const uint8_t first = g_render.WaterfallPicture[kWaterfallTraceRows][k];
  FillArc(240, 0, 0, 0.f);
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_EQ(first, g_render.WaterfallPicture[kWaterfallTraceRows + 1][k]);
  EXPECT_EQ(0, g_render.WaterfallPicture[kWaterfallTraceRows][k]);
  // A band of no height colours nothing and divides by nothing.
  g_settings.ProfileWaterfallSpan = 0;
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
}

TEST_F(Render, SignalLevelStripShowsEachElementsRawLevel) {
  Build(kModeSector, 240);
  g_settings.SignalLevel = 1;
  g_settings.Xdcr = 1;
  uint8_t* data = g_pingRecord + 12;
  for (int s = 0; s < 500; ++s)
    for (int e = 0; e < 16; ++e) data[s * 16 + e] = static_cast<uint8_t>(127 + (s == 31 ? 5 * e : 0));
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  // Sample 31 falls in the eleventh group of three: row 541 - 10.
  for (int e = 1; e < 16; ++e) {
    SCOPED_TRACE(e);
    EXPECT_EQ(5 * e, Img(kApexRow - 10, 51 + 5 * e + 2));
    EXPECT_EQ(0, Img(kApexRow - 11, 51 + 5 * e + 2));
  }
  // Mounted down, the elements are shown in reverse order.
  g_settings.Xdcr = 0;
  ASSERT_EQ(1, RenderPing(plat::kWinMain));
  EXPECT_EQ(5 * 15, Img(kApexRow - 10, 51 + 2));
}

TEST_F(Render, NothingIsDrawnWhileTheTablesAreRebuilt) {
  EXPECT_EQ(0, RenderPing(plat::kWinMain));  // no table built yet
  Build(kModeSector, 240);
  TablesBusy = 1;
  EXPECT_EQ(0, RenderPing(plat::kWinMain));
  TablesBusy = 0;
  EXPECT_EQ(1, RenderPing(plat::kWinMain));
}

TEST_F(Render, PerPingPathAllocatesNothing) {
  for (int mode : {kModeSector, kModeLinear, kModePerspective, kModeProfile, kModeBeamTest}) {
    SCOPED_TRACE(mode);
    Build(mode, 480, 120.0, 0);
    g_settings.Persistence = mode == kModeProfile ? 0 : 3;
    g_settings.ProfilePointDetection = 1;
    g_settings.ProfileWaterfall = 1;
    g_settings.SignalLevel = 1;
    g_profileOutputCount = 480;
    for (int j = 0; j < 480; ++j) g_pointRangeTenths[j] = 3000;
    FillArc(480, 200, 210, 90.f);
    g_ping.pingPeriodMs = 100;
    BlitImage(plat::kWinMain);  // the recording backend sizes its copy once
    alloc_counter::Start();
    for (int k = 0; k < 3; ++k) {
      RenderPing(plat::kWinMain);
      BlitImage(plat::kWinMain);
    }
    EXPECT_EQ(0, alloc_counter::Stop());
  }
}

}  // namespace
