// Scan-conversion tables: weights, sub-beams, the geometry of every mode, the
// spans, the build's progress box and its guard.
#include <cmath>
#include <set>
#include <string>
#include <vector>

#include "imaging_fixture.h"

namespace {

class ScanConvert : public ImagingTest {};

TEST_F(ScanConvert, WeightTableTriplesRiseFromLeftToRightAroundAFixedCentre) {
  const int left[20] = {121, 115, 108, 102, 96, 89, 83, 76, 70, 64, 57, 51, 44, 38, 32, 25, 19, 12, 6, 0};
  const int right[20] = {0, 6, 12, 19, 25, 32, 38, 44, 51, 57, 64, 70, 76, 83, 89, 96, 102, 108, 115, 121};
  for (int k = 0; k < 20; ++k) {
    SCOPED_TRACE(k);
    EXPECT_EQ(left[k], g_scan.WeightTable[k][0]);
    EXPECT_EQ(134, g_scan.WeightTable[k][1]);
    EXPECT_EQ(right[k], g_scan.WeightTable[k][2]);
    const int sum = left[k] + 134 + right[k];
    EXPECT_TRUE(sum == 254 || sum == 255) << sum;
  }
}

TEST_F(ScanConvert, SubBeamCountIsRoundedEvenAndCapped) {
  struct Case {
    const char* legend;
    double sector;
    int beams, t;
  } cases[] = {
      {"480 beams", 120, 480, 4},  {"240 beams", 120, 240, 8},     {"120 beams: 15 goes up to 16", 120, 120, 16},
      {"30 deg, 120 beams", 30, 120, 4}, {"capped at 20", 120, 60, 20}, {"60 deg, 240 beams", 60, 240, 4},
      {"never below two", 30, 540, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(c.t, SubBeamsFor(c.sector, c.beams));
  }
}

TEST_F(ScanConvert, SectorFirstSubBeamAngleAndWeightTriplesPerBeamCount) {
  struct Case {
    int beams, step, t;
    double firstDeg;
    int firstTriple, lastTriple;
  } cases[] = {{480, 0, 4, -149.875, 8, 11}, {240, 1, 8, -149.75, 6, 13}, {120, 2, 16, -149.5, 2, 17}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.beams);
    Build(kModeSector, c.beams, 120.0, c.step);
    EXPECT_EQ(c.t, g_scan.SubBeamsPerBeam);
    EXPECT_EQ(c.t * c.beams, g_scan.SubBeamCount);
    EXPECT_EQ(1920, g_scan.SubBeamCount);
    EXPECT_NEAR(c.firstDeg, g_scan.geom.startAngleDeg, 1e-9);
    // The weights found in the map are exactly the triples around the middle of the table.
    std::set<int> used;
    for (int r = 0; r < kImageHeight; ++r)
      for (int col = 0; col < kImageWidth; ++col) {
        const PixelEntry& p = g_scan.PixelMap[r][col];
        if (p.WeightCentre == 0) continue;
        for (int k = 0; k < 20; ++k)
          if (p.WeightLeft == g_scan.WeightTable[k][0] && p.WeightRight == g_scan.WeightTable[k][2]) used.insert(k);
      }
    ASSERT_FALSE(used.empty());
    EXPECT_EQ(c.firstTriple, *used.begin());
    EXPECT_EQ(c.lastTriple, *used.rbegin());
    EXPECT_EQ(static_cast<size_t>(c.t), used.size());
  }
}

TEST_F(ScanConvert, SectorCentreRayRisesFromTheApexOneSamplePerRow) {
  Build(kModeSector, 480, 120.0, 0);
  EXPECT_EQ(0, g_scan.PixelMap[kApexRow][kApexColumn].SampleIndex);
  for (int i = 0; i < 500; i += 7) {
    SCOPED_TRACE(i);
    const PixelEntry& p = g_scan.PixelMap[kApexRow - i][kApexColumn];
    EXPECT_LE(std::abs(p.SampleIndex - i), 1);
    // Away from the apex, where every sub-beam crowds into a few pixels, the
    // centre column belongs to the middle beams of the fan.
    if (i >= 50) {
      EXPECT_NEAR(240, p.BeamIndex, 3);
    }
    EXPECT_EQ(p.SubBeamIndex / g_scan.SubBeamsPerBeam, p.BeamIndex);
  }
  // Beam slot 0 lies at the left end of the fan, slot N-1 at the right.
  const double a0 = (-149.875) * 3.141592654 / 180.0;
  const int x0 = static_cast<int>(kApexColumn + 400 * std::cos(a0) + 0.5);
  const int y0 = static_cast<int>(kApexRow + 400 * std::sin(a0) + 0.5);
  EXPECT_LE(g_scan.PixelMap[y0][x0].BeamIndex, 1);
  EXPECT_GE(g_scan.PixelMap[y0][2 * kApexColumn - x0].BeamIndex, 478);
}

TEST_F(ScanConvert, SectorSpansLieInsideTheFanOutline) {
  Build(kModeSector, 240);
  // Rows 100 and 200 above the apex are bounded by the 60-degree edge rays.
  for (int up : {100, 200}) {
    SCOPED_TRACE(up);
    const int r = kApexRow - up;
    const double half = up * std::tan(60.0 * 3.141592654 / 180.0);
    EXPECT_NEAR(kApexColumn - half + 1, g_scan.SpanLeft[r], 2.0);
    EXPECT_NEAR(kApexColumn + half, g_scan.SpanRight[r], 2.0);
  }
  // Row 400 above the apex is bounded by the far arc of radius 499.
  const int r = kApexRow - 400;
  const double half = std::sqrt(499.0 * 499.0 - 400.0 * 400.0);
  EXPECT_NEAR(kApexColumn - half + 1, g_scan.SpanLeft[r], 2.0);
  EXPECT_NEAR(kApexColumn + half, g_scan.SpanRight[r], 2.0);
  // Above the arc and on the apex row nothing is drawn.
  for (int row : {0, 20, 41, kApexRow}) EXPECT_GE(g_scan.SpanLeft[row], g_scan.SpanRight[row]) << row;
  // Inside the spans every pixel has an entry (the sliver left of the first
  // sub-beam and the odd pixel between far rays included); outside the fan
  // the map stays empty.
  int holes = 0, strays = 0;
  for (int y = 0; y < kImageHeight; ++y)
    for (int x = 0; x < kImageWidth; ++x) {
      const PixelEntry& p = g_scan.PixelMap[y][x];
      const int empty = p.SubBeamIndex == 0 && p.SampleIndex == 0 && p.WeightCentre == 0;
      if (InSpan(y, x) && empty) ++holes;
      if (!empty && std::hypot(x - kApexColumn, y - kApexRow) > 500.5) ++strays;
    }
  EXPECT_EQ(0, holes);
  EXPECT_EQ(0, strays);
}

TEST_F(ScanConvert, RangeOffsetKeepsCentreSampleZeroOnTheBottomRow) {
  g_settings.Range = 5;       // 30 m
  g_switch.rangeOffset = 3;   // J = 50 samples
  Build(kModeSector, 240);
  EXPECT_EQ(50, g_scan.geom.offsetSamples);
  EXPECT_EQ(0, g_scan.PixelMap[kApexRow][kApexColumn].SampleIndex);
  EXPECT_NEAR(100, g_scan.PixelMap[kApexRow - 100][kApexColumn].SampleIndex, 1);
}

TEST_F(ScanConvert, PointsOutsideThePictureNeverChangeTheMap) {
  // A Profile fan pushed far right: its right part falls beyond the last
  // column. What lands inside is mapped; nothing wraps into the next row.
  g_settings.ProfileTiltAngle = 0.0;
  g_beamGeom.beams = 240;
  g_scan.ProfileOffsetX = 300;
  g_scan.ProfileOffsetY = 0;
  ASSERT_EQ(1, BuildMode(plat::kWinMain, kModeProfile));
  long inside = 0, wrapped = 0;
  for (int y = 0; y < kImageHeight; ++y)
    for (int x = 0; x < kImageWidth; ++x) {
      const PixelEntry& p = g_scan.PixelMap[y][x];
      const int touched = p.SubBeamIndex || p.SampleIndex || p.WeightCentre;
      if (!touched) continue;
      if (std::hypot(x - 805, y) > 500.5) ++wrapped;
      else ++inside;
    }
  EXPECT_GT(inside, 100000);
  EXPECT_EQ(0, wrapped);
  EXPECT_NEAR(400, g_scan.PixelMap[346][1005].SampleIndex, 2);
}

TEST_F(ScanConvert, LinearMapAndSpans) {
  Build(kModeLinear, 240);
  for (int r = 0; r < kImageHeight; ++r) {
    ASSERT_EQ(377, g_scan.SpanLeft[r]);
    ASSERT_EQ(633, g_scan.SpanRight[r]);
  }
  for (int q : {0, 1, 2, 3, 128, 255, 256}) {
    SCOPED_TRACE(q);
    const PixelEntry& p = g_scan.PixelMap[kApexRow - 17][kApexColumn + q - 128];
    EXPECT_EQ(q, p.SubBeamIndex);
    EXPECT_EQ(q / 4, p.BeamIndex);
    EXPECT_EQ(17, p.SampleIndex);
    EXPECT_EQ(g_scan.WeightTable[5 * (q % 4)][0], p.WeightLeft);
    EXPECT_EQ(g_scan.WeightTable[5 * (q % 4)][2], p.WeightRight);
  }
  g_beamGeom.sectorDeg = 60.0;
  ASSERT_EQ(1, BuildDisplayMode(plat::kWinMain));
  EXPECT_EQ(441, g_scan.SpanLeft[100]);
  EXPECT_EQ(569, g_scan.SpanRight[100]);
}

TEST_F(ScanConvert, BeamTestShowsSlots24To39InColumns433To576) {
  Build(kModeBeamTest, 240);
  for (int r = 0; r < kImageHeight; ++r) {
    ASSERT_EQ(433, g_scan.SpanLeft[r]);
    ASSERT_EQ(577, g_scan.SpanRight[r]);
  }
  EXPECT_EQ(24, g_scan.PixelMap[300][433].BeamIndex);
  EXPECT_EQ(216, g_scan.PixelMap[300][433].SubBeamIndex);
  EXPECT_EQ(39, g_scan.PixelMap[300][576].BeamIndex);
  EXPECT_EQ(241, g_scan.PixelMap[300][576].SampleIndex);
  // The map covers 64 beams although only 16 are shown.
  EXPECT_EQ(0, g_scan.PixelMap[300][217].BeamIndex);
  EXPECT_EQ(63, g_scan.PixelMap[300][792].BeamIndex);
  EXPECT_EQ(g_scan.WeightTable[17][0], g_scan.PixelMap[300][217 + 8].WeightLeft);
}

TEST_F(ScanConvert, ProfileCentringFromSectorAndTilt) {
  struct Case {
    const char* legend;
    double sector, tilt;
    int offset;
  } cases[] = {
      {"straight down", 120, 0, 0},   {"tilted right 45", 120, 45, -177}, {"tilted left 45", 120, -45, 177},
      {"wholly right", 30, 60, -241}, {"wider than 120 uses 120", 130, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_beamGeom.sectorDeg = c.sector;
    g_settings.ProfileTiltAngle = c.tilt;
    CentreProfile();
    EXPECT_EQ(c.offset, g_scan.ProfileOffsetX);
  }
}

TEST_F(ScanConvert, ProfileFanOpensDownwardFromTheTopEdge) {
  g_settings.ProfileTiltAngle = 0.0;
  CentreProfile();
  Build(kModeProfile, 240);
  EXPECT_EQ(0, g_scan.geom.originY);
  for (int i = 10; i < 500; i += 37) {
    SCOPED_TRACE(i);
    EXPECT_LE(std::abs(g_scan.PixelMap[i][kApexColumn].SampleIndex - i), 1);
  }
  EXPECT_LT(g_scan.SpanLeft[300], kApexColumn);
  EXPECT_GT(g_scan.SpanRight[300], kApexColumn);
  // Entering Profile mode switches persistence off.
  EXPECT_EQ(0, g_settings.Persistence);
}

TEST_F(ScanConvert, ProfileTiltedFanIsCentredInThePicture) {
  g_settings.ProfileTiltAngle = 45.0;
  CentreProfile();
  Build(kModeProfile, 240);
  EXPECT_EQ(kApexColumn - 177, g_scan.geom.originX);
  // The fan runs from its left edge, 129 columns left of the apex, through the
  // horizontal to 499 columns right of it.
  int first = kImageWidth, last = -1;
  for (int r = 0; r < kImageHeight; ++r)
    if (g_scan.SpanLeft[r] < g_scan.SpanRight[r]) {
      first = std::min<int>(first, g_scan.SpanLeft[r]);
      last = std::max<int>(last, g_scan.SpanRight[r]);
    }
  EXPECT_NEAR(kApexColumn - 177 - 129, first, 3);
  EXPECT_NEAR(kApexColumn - 177 + 499, last, 3);
}

TEST_F(ScanConvert, PerspectiveHolesAreFilled) {
  Build(kModePerspective, 240);
  auto unmapped = [](int r, int c) {
    const PixelEntry& p = g_scan.PixelMap[r][c];
    return p.SubBeamIndex == 0 && p.SampleIndex == 0 && p.WeightCentre == 0;
  };
  int far = 0, farHoles = 0, firstHoleRow = -1, firstHoleCol = -1;
  for (int r = 0; r < kPerspectiveSplitRow; ++r)
    for (int c = g_scan.SpanLeft[r]; c < g_scan.SpanRight[r]; ++c) {
      ++far;
      if (unmapped(r, c) && firstHoleRow < 0) firstHoleRow = r, firstHoleCol = c;
      farHoles += unmapped(r, c);
    }
  EXPECT_GT(far, 10000);
  EXPECT_EQ(0, farHoles) << firstHoleRow << "," << firstHoleCol;
  // Near rows: what the fan covers is one unbroken run of columns.
  int rows = 0;
  for (int r = kPerspectiveSplitRow; r < kImageHeight - 1; ++r) {
    int first = -1, last = -1;
    for (int c = 0; c < kImageWidth; ++c)
      if (!unmapped(r, c)) {
        if (first < 0) first = c;
        last = c;
      }
    if (first < 0) continue;
    ++rows;
    for (int c = first; c <= last; ++c) ASSERT_FALSE(unmapped(r, c)) << r << "," << c;
  }
  EXPECT_GT(rows, 100);
}

TEST_F(ScanConvert, PerspectiveProjectionOfTheApexAndFarCentre) {
  int dx = 1, dy = 1;
  ProjectPerspective(0.0, 0.0, 0.0, &dx, &dy);
  EXPECT_EQ(0, dx);
  EXPECT_EQ(0, dy);
  // Straight ahead goes up the picture, shrinking with distance.
  int dy100, dy400;
  ProjectPerspective(0.0, -100.0, 0.0, &dx, &dy100);
  EXPECT_EQ(0, dx);
  ProjectPerspective(0.0, -400.0, 0.0, &dx, &dy400);
  EXPECT_LT(dy100, 0);
  EXPECT_LT(dy400, dy100);
  // Four times as far is less than four times as high on the picture.
  EXPECT_GT(dy400, 4 * dy100);
  // Across: right of the head is right in the picture, mirrored for the left.
  int dxr, dxl;
  ProjectPerspective(100.0, -200.0, 0.0, &dxr, &dy);
  ProjectPerspective(-100.0, -200.0, 0.0, &dxl, &dy);
  EXPECT_GT(dxr, 0);
  EXPECT_EQ(-dxr, dxl);
}

TEST_F(ScanConvert, ProgressBoxNamesTheModeAndFillsTheBarOncePerPixelStep) {
  const char* texts[] = {"|Loading Sector Mode ...", "|Loading Linear Mode ...",
                         "|Loading Perspective Mode ...", "|Loading Profile Mode ...",
                         "|Loading Beam Test Mode ..."};
  for (int mode = 0; mode < kModeCount; ++mode) {
    SCOPED_TRACE(mode);
    plat::rec::Reset();
    Build(mode, 480, 120.0, 0);
    const auto& rec = plat::rec::Get();
    ASSERT_EQ(1u, rec.progressTitles.size());
    EXPECT_EQ(texts[mode], rec.progressTitles[0]);
    EXPECT_EQ(0, rec.progressOpen);
    ASSERT_FALSE(rec.progressValues.empty());
    EXPECT_EQ(100, rec.progressValues.back());
    // One repaint per change of the 280-pixel bar, never more.
    EXPECT_LE(rec.progressValues.size(), 281u);
    for (size_t i = 1; i < rec.progressValues.size(); ++i) EXPECT_GE(rec.progressValues[i], rec.progressValues[i - 1]);
  }
}

// A backend whose progress repaint asks for another build, as a message loop
// running during the build could.
int g_nestedResult = -1;
int g_busySeen = -1;
void NestedProgress(int) {
  g_busySeen = TablesBusy.load();
  if (g_nestedResult < 0) g_nestedResult = BuildMode(plat::kWinMain, kModeLinear);
}

TEST_F(ScanConvert, BuildIsNotReentrantAndHoldsTablesBusy) {
  plat::Backend b = plat::RecordingBackend();
  b.progressSet = NestedProgress;
  plat::SetBackend(&b);
  g_nestedResult = -1;
  g_busySeen = -1;
  g_beamGeom.beams = 240;
  EXPECT_EQ(1, BuildMode(plat::kWinMain, kModeSector));
  plat::SetBackend(nullptr);
  EXPECT_EQ(0, g_nestedResult);
  EXPECT_EQ(1, g_busySeen);
  EXPECT_EQ(1, g_scan.refusedBuilds);
  EXPECT_EQ(kModeSector, g_scan.geom.mode);
  EXPECT_EQ(0, TablesBusy.load());
  // The next request after the build is honoured.
  EXPECT_EQ(1, BuildMode(plat::kWinMain, kModeLinear));
  EXPECT_EQ(kModeLinear, g_scan.geom.mode);
}

TEST_F(ScanConvert, BuildClearsPicturesAndDrawsTheGrid) {
  std::memset(g_scan.ImageBuffer, 77, sizeof g_scan.ImageBuffer);
  std::memset(g_scan.CleanImageBuffer, 77, sizeof g_scan.CleanImageBuffer);
  g_render.PersistenceAccumulator[300][500] = 90.f;
  Build(kModeSector, 240);
  long grid = 0, stale = 0;
  for (int r = 0; r < kImageHeight; ++r)
    for (int c = 0; c < kImageWidth; ++c) {
      grid += Img(r, c) == kOverlayMarker;
      stale += Img(r, c) == 77 || Clean(r, c) == 77;
    }
  EXPECT_EQ(0, stale);
  EXPECT_GT(grid, 1000);
  EXPECT_EQ(0.f, g_render.PersistenceAccumulator[300][500]);
  EXPECT_GT(plat::rec::Get().invalidations[plat::kWinMain], 0);
}

}  // namespace

namespace {

// The map, spans and walk as a build leaves them.
std::vector<uint8_t> TablesOf() {
  std::vector<uint8_t> t;
  auto add = [&](const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    t.insert(t.end(), b, b + n);
  };
  add(g_scan.PixelMap, sizeof g_scan.PixelMap);
  add(g_scan.SpanLeft, sizeof g_scan.SpanLeft);
  add(g_scan.SpanRight, sizeof g_scan.SpanRight);
  add(g_scan.walk, sizeof(uint32_t) * g_scan.walkCount);
  add(g_scan.walkDirect, sizeof(uint32_t) * g_scan.walkCount);
  add(g_scan.walkRuns, sizeof(WalkRun) * g_scan.walkRunCount);
  return t;
}

TEST_F(ScanConvert, AFanOfTheSameGeometryKeepsItsMapAndEveryOtherChangeComputesIt) {
  struct Step {
    const char* legend;
    int mode, range, rangeOffset;
    double tilt;
    int computed;  // 1 when this build must compute the map
  } steps[] = {
      {"first Sector build", kModeSector, 5, 0, 0.0, 1},
      {"new range, no offset", kModeSector, 3, 0, 0.0, 0},
      {"the same again", kModeSector, 3, 0, 0.0, 0},
      {"a range offset moves the fan", kModeSector, 3, 2, 0.0, 1},
      {"Profile", kModeProfile, 3, 2, 0.0, 1},
      {"Profile tilted", kModeProfile, 3, 2, 12.0, 1},
      {"Linear overwrites the map", kModeLinear, 3, 2, 12.0, 1},
      {"back to the tilted Profile", kModeProfile, 3, 2, 12.0, 1},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.legend);
    g_settings.Range = s.range;
    g_switch.rangeOffset = s.rangeOffset;
    g_settings.ProfileTiltAngle = s.tilt;
    const int before = g_scan.mapBuilds;
    Build(s.mode);
    EXPECT_EQ(g_scan.mapBuilds, before + s.computed);
    // Whatever was kept is what a build from nothing makes.
    const std::vector<uint8_t> kept = TablesOf();
    g_scan.mapKeyValid = 0;
    Build(s.mode);
    EXPECT_TRUE(kept == TablesOf());
  }
}

}  // namespace
