// The per-ping chain: silence, sharpening rise limit, Narrow Mixed zones, the
// nadir source under Bottom Following, sidelobe clean-up, ping averaging, the
// history resets, the sidescan and nadir vectors, and no allocation per ping.
#include <gtest/gtest.h>

#include <cmath>

#include "beamform_test_util.h"
#include "common/alloc_counter.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

class BeamformChainTest : public ::testing::Test {
 protected:
  void SetUp() override { bftest::ResetAll(); }
};

TEST_F(BeamformChainTest, SilentPingCompressesToMinusOneAndFormsNoEcho) {
  for (int mode = 0; mode < 4; ++mode) {
    for (int n : {500, 1000}) {
      SCOPED_TRACE(testing::Message() << "mode " << mode << " n " << n);
      bftest::ResetAll(0, mode, n);
      g_settings.AvgFilter = 1;
      for (int ping = 0; ping < 3; ++ping) {
        bftest::Silence();
        ASSERT_EQ(ProcessPing(), 1);
      }
      for (int e = 0; e < kElements; ++e)
        for (int s = 0; s < n; ++s) ASSERT_FLOAT_EQ(g_elementSamples[e][s], -1.0f);
      EXPECT_FLOAT_EQ(bftest::PeakIn(0, g_beamGeom.beams, 0, n), 0.0f);
    }
  }
}

TEST_F(BeamformChainTest, BeamTestDisplayModeIsNotProcessed) {
  g_settings.DisplayType = 4;
  bftest::AddEcho(0.0, 100, 30, 100.0);
  const float raw = g_elementSamples[0][110];
  ASSERT_NE(raw, 0.0f);
  EXPECT_EQ(ProcessPing(), 0);
  EXPECT_EQ(g_beamform.pingsProcessed, 0);
  EXPECT_FLOAT_EQ(g_elementSamples[0][110], raw);  // not pre-filtered
  EXPECT_FLOAT_EQ(bftest::PeakIn(0, g_beamGeom.beams, 0, 500), 0.0f);
}

TEST_F(BeamformChainTest, RiseLimitAppliesOnlyWithMaximumReturnOrBottomFollowing) {
  struct Case {
    const char* legend;
    int filter;
    bool limited;
  } cases[] = {
      {"First Return", 0, false},
      {"Maximum Return", 1, true},
      {"Bottom Following", 2, true},
  };
  for (int mode = 0; mode < 4; ++mode) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << c.legend << ", mode " << mode);
      bftest::ResetAll(0, mode);
      g_settings.ProfilePointFilter = c.filter;
      g_flatBottomFlag = 1;  // BeamImage then holds the sharpened values themselves
      bftest::AddEcho(20 * kDeg, 200, 12, 120.0);
      bftest::AddEcho(-35 * kDeg, 420, 12, 120.0);
      ASSERT_EQ(ProcessPing(), 1);
      float steepest = 0.0f;
      for (int b = 0; b < g_beamGeom.beams; ++b)
        for (int s = 1; s <= 498; ++s) steepest = std::max(steepest, g_beamImage[b][s] - g_beamImage[b][s - 1]);
      if (c.limited)
        EXPECT_LE(steepest, 50.0f + 1e-3f);
      else
        EXPECT_GT(steepest, 50.0f);
    }
  }
}

TEST_F(BeamformChainTest, NarrowMixedFormsNearRangeWithFewerBeamsAndCopiesThemSideways) {
  struct Zone {
    int s0, s1, stride;
  };
  struct Case {
    const char* legend;
    int stepSize;
    int n;
    Zone zones[3];
    int count;
  } cases[] = {
      {"480 beams, 500 samples", 0, 500, {{1, 124, 4}, {125, 374, 2}, {375, 498, 1}}, 3},
      {"480 beams, 1000 samples", 0, 1000, {{0, 499, 4}, {500, 749, 2}, {750, 998, 1}}, 3},
      {"240 beams, 500 samples", 1, 500, {{1, 249, 2}, {250, 498, 1}}, 2},
      {"240 beams, 1000 samples", 1, 1000, {{1, 499, 2}, {500, 998, 1}}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    bftest::ResetAll(c.stepSize, 3, c.n);
    g_flatBottomFlag = 1;
    bftest::AddNoise(40, 1234u);
    ASSERT_EQ(ProcessPing(), 1);
    const int N = g_beamGeom.beams;
    for (int z = 0; z < c.count; ++z) {
      const Zone& zone = c.zones[z];
      int copies = 0, distinct = 0;
      for (int b = 0; b + zone.stride <= N; b += zone.stride) {
        for (int k = 1; k < zone.stride; ++k)
          for (int s = zone.s0; s <= zone.s1; ++s) {
            ASSERT_FLOAT_EQ(g_beamImage[b + k][s], g_beamImage[b][s]) << "beam " << b + k << " sample " << s;
            ++copies;
          }
        // Formed beams differ from the next formed one somewhere in the zone.
        if (b + zone.stride < N)
          for (int s = zone.s0; s <= zone.s1; ++s)
            if (g_beamImage[b][s] != g_beamImage[b + zone.stride][s]) {
              ++distinct;
              break;
            }
      }
      EXPECT_EQ(copies, (N / zone.stride) * (zone.stride - 1) * (zone.s1 - zone.s0 + 1));
      EXPECT_GT(distinct, N / zone.stride / 2);
      if (zone.stride == 1) {
        int differsFromNeighbour = 0;
        const size_t bytes = sizeof(float) * (zone.s1 - zone.s0 + 1);
        for (int b = 0; b + 1 < N; b += 2)
          if (std::memcmp(&g_beamImage[b][zone.s0], &g_beamImage[b + 1][zone.s0], bytes) != 0)
            ++differsFromNeighbour;
        EXPECT_EQ(differsFromNeighbour, N / 2);
      }
    }
  }
}

TEST_F(BeamformChainTest, NarrowMixedWith120BeamsIsNarrow) {
  bftest::ResetAll(2, 2);
  g_flatBottomFlag = 1;
  bftest::AddNoise(40, 99u);
  float saved[kMaxSamples];
  float narrow[120][500];
  ASSERT_EQ(ProcessPing(), 1);
  for (int b = 0; b < 120; ++b) std::memcpy(narrow[b], g_beamImage[b], sizeof narrow[b]);
  bftest::ResetAll(2, 3);
  g_flatBottomFlag = 1;
  bftest::AddNoise(40, 99u);
  ASSERT_EQ(ProcessPing(), 1);
  for (int b = 0; b < 120; ++b) {
    std::memcpy(saved, g_beamImage[b], sizeof(float) * 500);
    for (int s = 0; s < 500; ++s) ASSERT_FLOAT_EQ(saved[s], narrow[b][s]) << b << " " << s;
  }
}

TEST_F(BeamformChainTest, BottomFollowingInProfileModeFormsTheNadirBeamsFromTheFirstPass) {
  struct Case {
    const char* legend;
    int stepSize;
    double tiltDeg;
    int first, last;  // beams that take the first-pass source
  } cases[] = {
      // c = trunc((N f / 2 - tilt) / f); beams c - h + 1 .. c + h
      {"240 beams, level", 1, 0.0, 91, 150},
      {"480 beams, level", 0, 0.0, 181, 300},
      {"120 beams, level", 2, 0.0, 46, 75},
      {"240 beams, tilted 10 deg", 1, 10.0, 71, 130},
  };
  static float sector[kMaxBeams][kMaxSamples];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    for (int pass = 0; pass < 2; ++pass) {
      bftest::ResetAll(c.stepSize, 2);
      g_flatBottomFlag = 1;
      g_settings.ProfilePointFilter = 2;
      g_settings.ProfileTiltAngle = c.tiltDeg;
      g_settings.DisplayType = pass == 0 ? 0 : 3;
      g_settings.RollCorrection = 0;
      bftest::AddNoise(40, 4321u);
      ASSERT_EQ(ProcessPing(), 1);
      const int N = g_beamGeom.beams;
      for (int b = 0; b < N; ++b) {
        if (pass == 0) {
          std::memcpy(sector[b], g_beamImage[b], sizeof sector[b]);
          continue;
        }
        const bool same = std::memcmp(sector[b], g_beamImage[b], sizeof(float) * 500) == 0;
        const bool nadir = b >= c.first && b <= c.last;
        EXPECT_EQ(same, !nadir) << "beam " << b;
      }
    }
  }
}

TEST_F(BeamformChainTest, FlatBottomFlagSkipsTheMirrorBeamSubtraction) {
  // A strong echo at +40 deg and a weak one at its mirror angle, same range.
  // The clean-up removes the weak one (it lies where the strong one's mirror
  // lobe would be); with the flat-bottom flag set it stays.
  float weakPeak[2];
  for (int flag = 0; flag < 2; ++flag) {
    bftest::ResetAll(1, 0);
    g_flatBottomFlag = flag;
    bftest::AddEcho(40 * kDeg, 250, 16, 120.0);
    bftest::AddEcho(-40 * kDeg, 250, 16, 30.0);
    ASSERT_EQ(ProcessPing(), 1);
    const int weak = bftest::NearestBeam(-40 * kDeg);
    weakPeak[flag] = bftest::PeakIn(weak - 3, weak + 4, 240, 275);
    const int strong = bftest::NearestBeam(40 * kDeg);
    EXPECT_GT(bftest::PeakIn(strong - 3, strong + 4, 240, 275), 100.0f);
  }
  EXPECT_FLOAT_EQ(weakPeak[0], 0.0f);
  EXPECT_GT(weakPeak[1], 50.0f);
}

TEST_F(BeamformChainTest, RolledMirrorsPastTheFanEdgeSubtractNothing) {
  // Under roll to port (shift -28 beams) the mirrors of beams 28 ... 55 lie
  // past the last beam of the fan. They are held at the row just outside it,
  // whose smoothed copy stays zero, so the last beam loses only the smoothed
  // echo of its own mirror (beam 56), not that of every clamped beam. A
  // strong echo in beam 30 shows it; the flat-bottom flag, which skips the
  // clean-up, gives the same ping uncleaned for comparison.
  auto lastBeamPeak = [](int flatBottom) {
    bftest::ResetAll(1, 2);
    g_settings.DisplayType = 3;
    g_settings.RollCorrection = 1;
    g_settings.RunMode = 0;
    g_liveRollDeg = -14.0;
    g_flatBottomFlag = flatBottom;
    SetupBeamGeometry();
    BuildSteering();
    EXPECT_EQ(g_beamGeom.rollShift, -28);
    const int N = g_beamGeom.beams;
    bftest::AddEcho(BeamSteerAngle(30), 250, 16, 120.0);
    bftest::AddEcho(BeamSteerAngle(N - 1), 250, 16, 60.0);
    EXPECT_EQ(ProcessPing(), 1);
    return bftest::PeakIn(N - 1, N, 240, 275);
  };
  const float uncleaned = lastBeamPeak(1);
  const float cleaned = lastBeamPeak(0);
  ASSERT_GT(uncleaned, 100.0f);
  EXPECT_GT(cleaned, 0.8f * uncleaned);
}

TEST_F(BeamformChainTest, CleanUpLeavesTheCentreBeamsAndNeverGoesNegative) {
  bftest::ResetAll(1, 0);
  bftest::AddNoise(30, 555u);
  bftest::AddEcho(0.0, 300, 16, 120.0);
  ASSERT_EQ(ProcessPing(), 1);
  for (int b = 0; b < g_beamGeom.beams; ++b)
    for (int s = 0; s < 500; ++s) ASSERT_GE(g_beamImage[b][s], 0.0f);
  EXPECT_GT(bftest::PeakIn(115, 125, 290, 320), 100.0f);
}

// Average displayed at one probe sample of the echo ping's peak.
struct Probe {
  int beam, sample;
  float value;
};

Probe EchoPing() {
  bftest::Silence();
  bftest::AddEcho(0.2, 150, 16, 100.0);
  EXPECT_EQ(ProcessPing(), 1);
  Probe p{};
  p.value = bftest::PeakIn(0, g_beamGeom.beams, 0, 500, &p.beam, &p.sample);
  return p;
}

TEST_F(BeamformChainTest, AveragingDepthIsTheIndexButThreeUnderBottomFollowingDetection) {
  struct Case {
    const char* legend;
    int index;
    int detection;
    int filter;
    int depth;
  } cases[] = {
      {"index 25", 25, 0, 2, 25},
      {"index 25 with Bottom Following detection", 25, 1, 2, 3},
      {"index 25 with Maximum Return detection", 25, 1, 1, 25},
      {"index 1 (menu off) is held at 3", 1, 0, 0, 3},
      {"index 31 is held at 29", 31, 0, 0, 29},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    bftest::ResetAll(1, 0);
    g_settings.AvgFilter = 1;
    g_settings.AvgFilterIndex = c.index;
    g_settings.ProfilePointDetection = c.detection;
    g_settings.ProfilePointFilter = c.filter;
    g_flatBottomFlag = 1;
    const Probe p = EchoPing();
    ASSERT_GT(p.value, 0.0f);
    // The echo ping's own share is 1.3 / A of its value.
    g_settings.AvgFilter = 0;
    bftest::ResetAll(1, 0);
    g_settings.AvgFilterIndex = c.index;
    g_settings.ProfilePointDetection = c.detection;
    g_settings.ProfilePointFilter = c.filter;
    g_flatBottomFlag = 1;
    const Probe raw = EchoPing();
    EXPECT_NEAR(p.value, raw.value * 1.3f / c.depth, 1e-3f * raw.value);
    EXPECT_EQ(g_beamform.avgDepth, c.depth);

    // Shown again: the echo stays in the mean for exactly A pings.
    g_settings.AvgFilter = 1;
    for (int ping = 1; ping < c.depth; ++ping) {
      bftest::Silence();
      ASSERT_EQ(ProcessPing(), 1);
      ASSERT_NEAR(g_beamImage[raw.beam][raw.sample], raw.value * 1.3f / c.depth, 1e-3f * raw.value)
          << "ping " << ping;
    }
    bftest::Silence();
    ASSERT_EQ(ProcessPing(), 1);
    EXPECT_FLOAT_EQ(g_beamImage[raw.beam][raw.sample], 0.0f);
  }
}

TEST_F(BeamformChainTest, AveragingOffShowsThePingButKeepsFillingTheRing) {
  g_settings.AvgFilterIndex = 5;
  g_flatBottomFlag = 1;
  const Probe raw = EchoPing();  // AvgFilter 0: own values
  g_settings.AvgFilter = 1;
  bftest::Silence();
  ASSERT_EQ(ProcessPing(), 1);
  EXPECT_NEAR(g_beamImage[raw.beam][raw.sample], raw.value * 1.3f / 5, 1e-3f * raw.value);
}

TEST_F(BeamformChainTest, ChangingTheAveragingIndexClearsTheRingAndCountsTheClear) {
  const int start = g_beamform.historyResets;
  auto clears = [&] { return g_beamform.historyResets - start; };
  g_settings.AvgFilter = 1;
  g_settings.AvgFilterIndex = 5;
  g_flatBottomFlag = 1;
  const Probe p = EchoPing();
  EXPECT_EQ(clears(), 0);

  // Unchanged settings: the echo is still in the mean.
  bftest::Silence();
  ASSERT_EQ(ProcessPing(), 1);
  EXPECT_NEAR(g_beamImage[p.beam][p.sample], p.value, 1e-3f * p.value);
  EXPECT_EQ(clears(), 0);

  g_settings.AvgFilterIndex = 7;
  bftest::Silence();
  ASSERT_EQ(ProcessPing(), 1);
  EXPECT_FLOAT_EQ(g_beamImage[p.beam][p.sample], 0.0f);
  EXPECT_EQ(clears(), 1);

  struct Change {
    const char* legend;
    int* field;
    int value;
  } changes[] = {
      {"detection on", &g_settings.ProfilePointDetection, 1},
      {"method", &g_settings.ProfilePointFilter, 1},
  };
  for (const Change& c : changes) {
    SCOPED_TRACE(c.legend);
    const int before = clears();
    EchoPing();
    *c.field = c.value;
    bftest::Silence();
    ASSERT_EQ(ProcessPing(), 1);
    EXPECT_FLOAT_EQ(g_beamImage[p.beam][p.sample], 0.0f);
    EXPECT_EQ(clears(), before + 1);
  }

  const int before = clears();
  ResetProcessing();
  EXPECT_EQ(clears(), before + 1);
}

TEST_F(BeamformChainTest, ResetProcessingClearsSamplesRowsAndSetsTheSpeedProfile) {
  bftest::AddNoise(50, 3u);
  for (int e = 0; e < kElements; ++e) g_elementSamples[e][kMaxSamples - 1] = 9.0f;
  ASSERT_EQ(ProcessPing(), 1);
  g_soundSpeedProfile[0] = 1480.0f;
  ResetProcessing();
  for (int e = 0; e < kElements; ++e)
    for (int s = 0; s < kMaxSamples; ++s) {
      ASSERT_FLOAT_EQ(g_elementSamples[e][s], 0.0f);
      ASSERT_FLOAT_EQ(g_elementI[e][s], 0.0f);
      ASSERT_FLOAT_EQ(g_firstPassQ[e][s], 0.0f);
      ASSERT_FLOAT_EQ(g_nadirI[e][s], 0.0f);
    }
  for (int s = 0; s < kMaxSamples; ++s) ASSERT_FLOAT_EQ(g_soundSpeedProfile[s], 1500.0f);
  EXPECT_EQ(g_beamform.avgSlot, 0);
}

TEST_F(BeamformChainTest, StaleSamplesFromSample300AreClearedEachPing) {
  // With the last sample never formed, what a previous ping left there goes.
  g_beamImage[10][499] = 77.0f;
  g_beamImage[10][0] = 5.0f;  // before 300: left alone
  ASSERT_EQ(ProcessPing(), 1);
  EXPECT_FLOAT_EQ(g_beamImage[10][499], 0.0f);
  EXPECT_FLOAT_EQ(g_beamImage[10][0], 5.0f);
}

TEST_F(BeamformChainTest, SidescanPutsPortAndStarboardEchoesOnTheirHalves) {
  bftest::ResetAll(1, 2);
  g_settings.DisplayGain = 5;
  const int N = g_beamGeom.beams;
  // Beam 0 is the port edge: the sidescan's port beam lies α = 15 from it,
  // the starboard beam as far from the other edge.
  const int p = static_cast<int>(N * 15.0f / 180.0f);
  bftest::AddEcho(BeamSteerAngle(p), 100, 16, 100.0);        // port echo, near
  bftest::AddEcho(BeamSteerAngle(N - p), 300, 16, 100.0);    // starboard echo, far
  ASSERT_EQ(ProcessPing(), 1);
  BuildSidescanLine();
  ASSERT_EQ(g_sidescanLength, 1000);
  auto peakAt = [](int from, int to) {
    int best = from;
    for (int i = from; i < to; ++i)
      if (g_sidescanLine[i] > g_sidescanLine[best]) best = i;
    return best;
  };
  const int portPeak = peakAt(0, 500);
  const int stbdPeak = peakAt(500, 1000);
  EXPECT_NEAR(499 - portPeak, 108, 10);  // sample s at position n-1-s
  EXPECT_NEAR(stbdPeak - 500, 308, 10);  // sample s at position n+s
  EXPECT_GT(g_sidescanLine[portPeak], 20);
  EXPECT_GT(g_sidescanLine[stbdPeak], 20);
  for (int i = 0; i < 1000; ++i) {
    ASSERT_GE(g_sidescanLine[i], 0);
    ASSERT_LE(g_sidescanLine[i], 127);
  }
  // The port echo does not show on the starboard half at its range.
  EXPECT_LT(g_sidescanLine[500 + 108], g_sidescanLine[portPeak] / 2 + 1);

  // Tilted 30 deg to starboard: only starboard is formed, stretched over the
  // whole line with the nearest range at the left end, each value twice.
  g_settings.ProfileTiltAngle = 30.0;
  BuildSidescanLine();
  EXPECT_NEAR(peakAt(0, 1000) / 2, 308, 10);
  for (int s = 0; s < 500; ++s) ASSERT_EQ(g_sidescanLine[2 * s], g_sidescanLine[2 * s + 1]);

  // Tilted to port: only port, nearest range at the right end.
  g_settings.ProfileTiltAngle = -30.0;
  BuildSidescanLine();
  const int stretched = peakAt(0, 1000);
  EXPECT_NEAR((999 - stretched) / 2, 108, 10);
  for (int s = 0; s < 500; ++s) ASSERT_EQ(g_sidescanLine[999 - 2 * s], g_sidescanLine[998 - 2 * s]);
}

TEST_F(BeamformChainTest, NadirTraceShowsTheVerticalEchoAtItsRange) {
  g_settings.DisplayGain = 10;
  bftest::AddEcho(0.0, 220, 16, 120.0);
  ASSERT_EQ(ProcessPing(), 1);
  BuildNadirTrace();
  ASSERT_EQ(g_nadirTraceLength, 500);
  int best = 0;
  for (int s = 0; s < 500; ++s) {
    ASSERT_GE(g_nadirTrace[s], 0);
    ASSERT_LE(g_nadirTrace[s], 127);
    if (g_nadirTrace[s] > g_nadirTrace[best]) best = s;
  }
  EXPECT_NEAR(best, 228, 10);
  EXPECT_GT(g_nadirTrace[best], 10);
  EXPECT_EQ(g_nadirTrace[50], 0);

  // A tilt beyond the fan holds the trace at the edge beam instead of
  // reading outside the fan.
  g_settings.ProfileTiltAngle = 90.0;
  BuildNadirTrace();
  for (int s = 0; s < 500; ++s) ASSERT_LE(g_nadirTrace[s], 127);
}

TEST_F(BeamformChainTest, NoAllocationAcrossASeriesOfPings) {
  bftest::ResetAll(0, 3);
  g_settings.AvgFilter = 1;
  g_settings.ProfilePointFilter = 2;
  g_settings.DisplayType = 3;
  g_settings.GainEqualization = 1;
  bftest::AddNoise(30, 8u);
  bftest::AddEcho(0.1, 200, 16, 100.0);
  ASSERT_EQ(ProcessPing(), 1);  // first-time work outside the count
  alloc_counter::Start();
  for (int ping = 0; ping < 12; ++ping) {
    g_liveRollDeg = ping * 0.5;
    g_settings.ProcessingMode = ping % 4;
    g_flatBottomFlag = ping & 1;
    (void)ProcessPing();
    BuildSidescanLine();
    BuildNadirTrace();
  }
  EXPECT_EQ(alloc_counter::Stop(), 0);
  EXPECT_EQ(g_beamform.pingsProcessed, 13);
}

}  // namespace
