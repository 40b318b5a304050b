// Profile point filters on hand-made point sets: the across-track sort, the
// segment outlier rules and their limits, the flat-bottom filter's borders,
// gap fill, the main filter's edges, removed-point marks and averaging.
#include <gtest/gtest.h>

#include <cmath>

#include "processing/profile_test_util.h"

namespace {

using pdtest::Beams;

class ProfileFilter : public ::testing::Test {
 protected:
  void SetUp() override { pdtest::ResetAll(1, 2); }
};

// A point set on a flat bottom `depth` samples deep, every beam carrying a point.
void FlatPoints(double depth) {
  ProfilePointSet& p = g_profilePoints;
  p.beams = Beams();
  for (int b = 0; b < p.beams; ++b) {
    const double phi = ProfileSteerAngle(b);
    p.Range[b] = static_cast<float>(depth / std::cos(phi));
    p.PeakLevel[b] = 100;
    p.RemovedRange[b] = 0;
  }
  ComputePointGeometry();
}

void SetRange(int b, float range) {
  ProfilePointSet& p = g_profilePoints;
  p.Range[b] = range;
  p.SteerAngle[b] = static_cast<float>(ProfileSteerAngle(b));
  p.Across[b] = std::sin(p.SteerAngle[b]) * range;
  p.Down[b] = std::cos(p.SteerAngle[b]) * range;
}

TEST_F(ProfileFilter, SortOrdersByAcrossAndMapsTiesToTheHighestBeam) {
  ProfilePointSet& p = g_profilePoints;
  p.beams = 7;  // odd: every position still gets a beam
  const float across[7] = {5.0f, 0.0f, -3.0f, 0.0f, 9.0f, -3.0f, 0.0f};
  for (int b = 0; b < 7; ++b) p.Across[b] = across[b];
  SortByAcross();
  const float sorted[7] = {-3.0f, -3.0f, 0.0f, 0.0f, 0.0f, 5.0f, 9.0f};
  const int beams[7] = {5, 5, 6, 6, 6, 0, 4};
  for (int q = 0; q < 7; ++q) {
    SCOPED_TRACE(q);
    EXPECT_EQ(g_filter.SortedAcross[q], sorted[q]);
    EXPECT_EQ(g_filter.SortedBeam[q], beams[q]);
  }
}

// Sign changes, magnitudes across the exponent range and the two zeros: a
// beam without a point left of the nadir has -0, which ties with +0.
TEST_F(ProfileFilter, SortTiesBothZerosAndOrdersAcrossTheSign) {
  ProfilePointSet& p = g_profilePoints;
  const float across[9] = {-0.0f, 1e-30f, -250.5f, 0.0f, -1e-30f, 3e7f, -0.0f, -3e7f, 250.5f};
  p.beams = 9;
  for (int b = 0; b < 9; ++b) p.Across[b] = across[b];
  SortByAcross();
  const float sorted[9] = {-3e7f, -250.5f, -1e-30f, 0.0f, 0.0f, 0.0f, 1e-30f, 250.5f, 3e7f};
  const int beams[9] = {7, 2, 4, 6, 6, 6, 1, 8, 5};
  for (int q = 0; q < 9; ++q) {
    SCOPED_TRACE(q);
    EXPECT_EQ(g_filter.SortedAcross[q], sorted[q]);
    EXPECT_EQ(g_filter.SortedBeam[q], beams[q]);
  }
}

TEST_F(ProfileFilter, FlatBottomFlagMakesOneSegment) {
  FlatPoints(210.0);
  g_filter.segments = 7;
  g_flatBottomFlag = 0;
  RemoveSegmentOutliers(kSegmentDeep);
  EXPECT_EQ(g_filter.segmentCount, 7);
  // Each segment starts where the previous one stopped.
  for (int s = 1; s < 7; ++s) EXPECT_EQ(g_filter.firstPosition[s], g_filter.lastPosition[s - 1]);
  EXPECT_EQ(g_filter.lastPosition[6], Beams() - 1);
  g_flatBottomFlag = 1;
  RemoveSegmentOutliers(kSegmentDeep);
  EXPECT_EQ(g_filter.segmentCount, 1);
  EXPECT_EQ(g_filter.firstPosition[0], 0);
  EXPECT_EQ(g_filter.lastPosition[0], Beams() - 1);
  EXPECT_EQ(g_filter.modeDepth[0], 225);  // 210 falls in bin (200, 249]
  EXPECT_EQ(pdtest::PointCount(), Beams());
}

TEST_F(ProfileFilter, SegmentWithoutBinnedPointsKeepsThem) {
  // Depth exactly 200 lies between the bins (150, 199] and (200, 249]; so do
  // depths beyond 499. Such a segment has no mode and loses nothing.
  for (double depth : {200.0, 520.0}) {
    SCOPED_TRACE(depth);
    pdtest::ResetAll(1, 2);
    g_flatBottomFlag = 1;
    FlatPoints(depth);
    for (int b = 0; b < Beams(); ++b) g_profilePoints.Down[b] = static_cast<float>(depth);
    RemoveSegmentOutliers(kSegmentDeep);
    RemoveSegmentOutliers(kSegmentShort);
    EXPECT_EQ(g_filter.binned[0], 0);
    EXPECT_EQ(pdtest::PointCount(), Beams());
  }
}

TEST_F(ProfileFilter, DeepOutlierLimitFollowsTheModeDepth) {
  // Limit = Dm / 2 clamped to 25..100: Dm 25 -> 25, Dm 125 -> 62.5, Dm 275 -> 100.
  const struct {
    double depth;
    float limit;
  } cases[] = {{20.0, 25.0f}, {120.0, 62.5f}, {270.0, 100.0f}};
  for (const auto& c : cases) {
    for (float extra : {-0.5f, 0.5f}) {
      SCOPED_TRACE(testing::Message() << "depth " << c.depth << " extra " << extra);
      pdtest::ResetAll(1, 2);
      g_flatBottomFlag = 1;
      FlatPoints(c.depth);
      const int b = Beams() / 2;
      const float dm = 50.0f * static_cast<int>(c.depth / 50.0) + 25.0f;
      SetRange(b, (dm + c.limit + extra) / std::cos(g_profilePoints.SteerAngle[b]));
      RemoveSegmentOutliers(kSegmentDeep);
      ASSERT_EQ(g_filter.modeDepth[0], static_cast<int>(dm));
      const bool removed = extra > 0.0f;
      EXPECT_EQ(g_profilePoints.Range[b] == 0.0f, removed);
      if (removed) {
        EXPECT_GT(g_profilePoints.RemovedRange[b], 0);
      }
    }
  }
}

TEST_F(ProfileFilter, ShortOutliersRemovedUnlessTheBottomIsIllDefined) {
  g_settings.ProfilePointFilter_g_ol_fil_val = 50;
  g_flatBottomFlag = 1;
  FlatPoints(210.0);
  const int fish = Beams() / 2;
  SetRange(fish, 100.0f);
  RemoveSegmentOutliers(kSegmentShort);
  EXPECT_EQ(g_profilePoints.Range[fish], 0.0f);
  EXPECT_EQ(g_profilePoints.RemovedRange[fish], 100);
  EXPECT_EQ(g_profilePoints.Down[fish], 0.0f);

  // Depths spread over many bins: the mode bin holds under a quarter, the
  // limit becomes 510 and the shallow point stays.
  pdtest::ResetAll(1, 2);
  g_flatBottomFlag = 1;
  g_profilePoints.beams = Beams();
  for (int b = 0; b < Beams(); ++b) SetRange(b, 0.0f);
  for (int b = 0; b < Beams(); ++b)
    SetRange(b, static_cast<float>((60 + 50 * (b % 8)) / std::cos(ProfileSteerAngle(b))));
  SetRange(fish, 20.0f);
  RemoveSegmentOutliers(kSegmentShort);
  EXPECT_LT(4 * g_filter.modeCount[0], g_filter.pointCount[0]);
  EXPECT_EQ(g_profilePoints.Range[fish], 20.0f);
}

TEST_F(ProfileFilter, FlatBottomFilterLeavesTheBordersAndDropsIsolatedPoints) {
  FlatPoints(200.0);
  // Sorted positions 0..4 and N-5..N-1 are the outermost beams here.
  const int n = Beams();
  SetRange(2, g_profilePoints.Range[2] + 30.0f);
  SetRange(n - 3, g_profilePoints.Range[n - 3] + 30.0f);
  const float edge2 = g_profilePoints.Range[2];
  const float edgeN3 = g_profilePoints.Range[n - 3];
  // A point whose across-track neighbours carry no depth (as beams looking
  // past the horizontal would): fewer than three in its window.
  const int lone = n / 2 + 40;
  for (int b = lone - 6; b <= lone + 6; ++b)
    if (b != lone) g_profilePoints.Down[b] = 0.0f;
  // An outlier among good neighbours is dropped, a slight one smoothed.
  const int bad = n / 4, slight = n / 4 + 20;
  SetRange(bad, g_profilePoints.Range[bad] + 40.0f);
  SetRange(slight, static_cast<float>(205.0 / std::cos(ProfileSteerAngle(slight))));
  SortByAcross();
  FlatBottomFilter();
  EXPECT_EQ(g_profilePoints.Range[2], edge2);
  EXPECT_EQ(g_profilePoints.Range[n - 3], edgeN3);
  EXPECT_EQ(g_profilePoints.Range[lone], 0.0f);
  EXPECT_EQ(g_profilePoints.Range[bad], 0.0f);
  // The trimmed mean drops the point's own 205 as the maximum.
  EXPECT_NEAR(g_profilePoints.Down[slight], 200.0, 0.1);
  EXPECT_NEAR(g_profilePoints.Range[slight], 200.0 / std::cos(ProfileSteerAngle(slight)), 0.1);
  EXPECT_NEAR(g_profilePoints.Range[n / 3], 200.0 / std::cos(ProfileSteerAngle(n / 3)), 0.1);
}

TEST_F(ProfileFilter, FlatBottomFilterMinimumStartsAt500Samples) {
  // The trimmed mean drops a minimum that starts at 500 samples: on a bottom
  // deeper than that (1000-sample data) the 500 is dropped, not the shallowest
  // point, and the depth comes out deeper than measured. The first filtered
  // position (sorted position 5, beam 5 of a flat bottom) is the only one
  // whose window has not yet seen a replaced depth.
  struct Case {
    const char* legend;
    double depth, expected;
  } cases[] = {
      {"bottom at 200 samples: the real extremes go", 200.0, 200.0},
      {"bottom at 600 samples: 500 goes instead of 600", 600.0, (10 * 600.0 - 500.0 - 600.0) / 8.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    pdtest::ResetAll(1, 2);
    FlatPoints(c.depth);
    SortByAcross();
    ASSERT_EQ(g_filter.SortedBeam[5], 5);
    FlatBottomFilter();
    EXPECT_NEAR(g_profilePoints.Down[5], c.expected, 0.01);
    EXPECT_NEAR(g_profilePoints.Range[5], std::min(c.expected / std::cos(ProfileSteerAngle(5)), 499.0), 0.01);
  }
}

TEST_F(ProfileFilter, GapFillKeepsTheBoundsAndLeavesTrailingGaps) {
  for (int method = 1; method <= 2; ++method) {
    SCOPED_TRACE(method == 1 ? "Maximum Return" : "Bottom Following");
    pdtest::ResetAll(1, method);
    FlatPoints(200.0);
    const int n = Beams();
    const int l = n / 2 - 3, r = n / 2 + 3;
    for (int b = l + 1; b < r; ++b) SetRange(b, 0.0f);
    for (int b = n - 10; b < n; ++b) SetRange(b, 0.0f);  // trailing gap
    const float rl = g_profilePoints.Range[l], rr = g_profilePoints.Range[r];
    g_profilePoints.PeakLevel[l] = 77;
    if (method == 1) FillGapsMaximumReturn();
    else FillGapsBottomFollowing();
    EXPECT_EQ(g_profilePoints.Range[l], rl);
    EXPECT_EQ(g_profilePoints.Range[r], rr);
    for (int b = l + 1; b < r; ++b) {
      // Flat: every filled beam lies on the bottom at its own angle.
      EXPECT_NEAR(g_profilePoints.Range[b] * std::cos(ProfileSteerAngle(b)), 200.0, 0.1) << b;
      EXPECT_EQ(g_profilePoints.PeakLevel[b], 77);
      if (method == 2) EXPECT_NEAR(g_profilePoints.Down[b], 200.0, 0.1);
      else EXPECT_EQ(g_profilePoints.Down[b], 0.0f);
    }
    for (int b = n - 10; b < n; ++b) EXPECT_EQ(g_profilePoints.Range[b], 0.0f);
  }
}

TEST_F(ProfileFilter, GapFillRefusesLongGapsAndSteepSlopes) {
  // Bottom Following at 240 beams: longest gap |trunc(cos * 40)|.
  FlatPoints(200.0);
  const int n = Beams();
  const int l = n / 2 - 30, r = n / 2 + 30;  // 60 beams > 40
  for (int b = l + 1; b < r; ++b) SetRange(b, 0.0f);
  FillGapsBottomFollowing();
  for (int b = l + 1; b < r; ++b) EXPECT_EQ(g_profilePoints.Range[b], 0.0f);
  // A short gap between two points 20 samples apart in depth over a few
  // samples across: slope far above 1.
  pdtest::ResetAll(1, 2);
  FlatPoints(200.0);
  SetRange(n / 2 + 3, static_cast<float>(220.0 / std::cos(ProfileSteerAngle(n / 2 + 3))));
  SetRange(n / 2 + 1, 0.0f);
  SetRange(n / 2 + 2, 0.0f);
  FillGapsBottomFollowing();
  EXPECT_EQ(g_profilePoints.Range[n / 2 + 1], 0.0f);
}

TEST_F(ProfileFilter, MainFilterEmptiesTheOuterBeamsAndDropsSpikes) {
  const struct {
    int step;
    int w;
  } cases[] = {{0, 12}, {1, 6}, {2, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.step);
    pdtest::ResetAll(c.step, 2);
    g_settings.StepSize = c.step;
    FlatPoints(200.0);
    const int n = Beams();
    const int spike = n / 2;
    SetRange(spike, g_profilePoints.Range[spike] + 60.0f);
    MainFilter();
    for (int b = 0; b < c.w; ++b) EXPECT_EQ(g_profilePoints.Range[b], 0.0f) << b;
    for (int b = n - c.w; b < n; ++b) EXPECT_EQ(g_profilePoints.Range[b], 0.0f) << b;
    EXPECT_EQ(g_profilePoints.Range[spike], 0.0f);
    EXPECT_NEAR(g_profilePoints.Range[n / 3], 200.0 / std::cos(ProfileSteerAngle(n / 3)), 0.5);
  }
  // "Max. Points" 1 narrows the window to 3.
  pdtest::ResetAll(0, 2);
  g_filter.maxPoints = 1;
  FlatPoints(200.0);
  MainFilter();
  EXPECT_EQ(g_profilePoints.Range[2], 0.0f);
  EXPECT_GT(g_profilePoints.Range[3], 0.0f);
}

TEST_F(ProfileFilter, RemovedPointsAreMarkedInTheDimmedPicture) {
  const int n = Beams();
  g_profilePoints.beams = n;
  g_settings.ProfilePointFilter_g_bgd_lev = 0.5;
  for (int b = 0; b < n; ++b)
    for (int s = 0; s < 500; ++s) g_beamImage[b][s] = 100.0f;
  g_profilePoints.RemovedRange[10] = 200;
  g_profilePoints.RemovedRange[n - 1] = 300;  // last beam: no right-hand neighbour
  g_profilePoints.RemovedRange[20] = 494;     // too deep to mark
  MarkRemovedPoints();
  EXPECT_EQ(g_beamImage[0][0], 100.0f);  // beam 0 is not dimmed
  EXPECT_EQ(g_beamImage[5][0], 50.0f);
  for (int s = 201; s <= 205; ++s) EXPECT_EQ(g_beamImage[10][s], 50.0f);
  EXPECT_EQ(g_beamImage[10][200], 50.0f);   // dimmed, not a mark
  EXPECT_EQ(g_beamImage[10][206], 50.0f);
  EXPECT_EQ(g_beamImage[9][203], 50.0f);
  // Beam 11 is dimmed after beam 10 marked it: 50 * 0.5.
  EXPECT_EQ(g_beamImage[11][203], 25.0f);
  EXPECT_EQ(g_beamImage[n - 1][303], 50.0f);
  EXPECT_EQ(g_beamImage[20][497], 50.0f);
}

TEST_F(ProfileFilter, AveragingDividesBySlotsWithPoints) {
  g_settings.AvgFilterIndex = 3;
  g_profilePoints.beams = Beams();
  const float pings[3] = {120.0f, 0.0f, 0.0f};
  for (int k = 0; k < 3; ++k) {
    g_profilePoints.Range[7] = pings[k];
    g_profilePoints.Range[8] = 100.0f + 10.0f * k;
    AveragePoints();
  }
  EXPECT_FLOAT_EQ(g_profilePoints.Range[7], 120.0f);  // one point in three pings
  EXPECT_FLOAT_EQ(g_profilePoints.Range[8], 110.0f);  // (100 + 110 + 120) / 3
  // The fourth ping pushes the first one out.
  g_profilePoints.Range[7] = 0.0f;
  g_profilePoints.Range[8] = 130.0f;
  AveragePoints();
  EXPECT_FLOAT_EQ(g_profilePoints.Range[7], 0.0f);
  EXPECT_FLOAT_EQ(g_profilePoints.Range[8], 120.0f);

  // Maximum Return keeps its own ranges but feeds the ring.
  pdtest::ResetAll(1, 1);
  g_profilePoints.beams = Beams();
  g_settings.AvgFilterIndex = 25;  // clamped to 9
  g_profilePoints.Range[3] = 50.0f;
  AveragePoints();
  g_profilePoints.Range[3] = 70.0f;
  AveragePoints();
  EXPECT_FLOAT_EQ(g_profilePoints.Range[3], 70.0f);
  EXPECT_FLOAT_EQ(g_filter.ringSum[3], 120.0f);
  EXPECT_EQ(g_filter.ringSlot, 2);
}

}  // namespace
