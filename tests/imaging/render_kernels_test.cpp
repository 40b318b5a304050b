// The drawing's kernels and its split: the baseline walk against the map's
// own definition of a pixel, and every kernel level, with and without the
// ping's helper thread, against the baseline drawn on one thread.
#include <cmath>
#include <thread>
#include <vector>

#include "common/alloc_counter.h"
#include "imaging/render_kernels.h"
#include "imaging_fixture.h"
#include "platform/work_split.h"

namespace {

struct DrawCase {
  const char* legend;
  int mode;
  int beams;
  double sectorDeg;
  int stepSize;
  char letter;       // 'U', or 'V' (pairs folded)
  int halfRange;
  int pointsOnly;    // detection with points alone: the slots are not refilled
};

const DrawCase kCases[] = {
    {"Sector 480", kModeSector, 480, 120.0, 0, 'U', 0, 0},
    {"Sector 240 folded", kModeSector, 240, 120.0, 1, 'V', 0, 0},
    {"Sector 120 half range", kModeSector, 120, 120.0, 2, 'U', 1, 0},
    {"Sector 61 beams, 90 degrees", kModeSector, 61, 90.0, 1, 'U', 0, 0},
    {"Sector of 1 beam: one part has none", kModeSector, 1, 30.0, 2, 'U', 0, 0},
    {"Sector 3 beams", kModeSector, 3, 30.0, 2, 'U', 0, 0},
    {"Sector 540 beams, 150 degrees", kModeSector, 540, 150.0, 0, 'U', 0, 0},
    {"Profile 480", kModeProfile, 480, 120.0, 0, 'U', 0, 0},
    {"Perspective 240 half range", kModePerspective, 240, 120.0, 1, 'U', 1, 0},
    {"Sector 240 points only", kModeSector, 240, 120.0, 1, 'U', 0, 1},
};

// A ping of speckle, a seabed band and the values that do not fit a byte.
void FillPing(int beams, int seed) {
  uint32_t x = 2024u + 7919u * static_cast<uint32_t>(seed);
  for (int b = 0; b < beams; ++b)
    for (int s = 0; s < kMaxSamples; ++s) {
      x = x * 1664525u + 1013904223u;
      float v = static_cast<float>(x >> 24) * 0.6f - 10.f;
      if ((x & 0x3ff) == 1) v = std::nanf("");
      if ((x & 0x3ff) == 2) v = 1e6f;
      g_beamImage[b][s] = (s > 250 && s < 280) ? v + 150.f : v;
    }
}

struct Pictures {
  std::vector<uint8_t> image, clean, slots;
};

class RenderKernels : public ImagingTest {
 protected:
  void TearDown() override {
    plat::StopWorkSplit();
    ResetRenderKernels();
  }

  // Builds the case's tables, marks a few overlay pixels and draws three
  // pings; the points-only case draws its last two from the first's slots.
  static Pictures Draw(const DrawCase& c, int level, int threads) {
    ResetScanConvert();
    ResetRender();
    EXPECT_EQ(level, SelectRenderKernels(level));
    g_settings.HalfRange = c.halfRange;
    Build(c.mode, c.beams, c.sectorDeg, c.stepSize);
    g_pingRecord[1] = c.letter;
    g_sampleCount = c.letter == 'V' ? 1000 : 500;
    for (int r = 100; r < kImageHeight; r += 37) g_scan.ImageBuffer[r][kApexColumn + r % 50] = kOverlayMarker;
    plat::StartWorkSplit(threads);
    for (int ping = 0; ping < 3; ++ping) {
      if (c.pointsOnly && ping == 1) {
        g_settings.ProfilePointDetection = 1;
        g_settings.ProfileDisplayType = 3;
      }
      FillPing(c.beams, ping);
      EXPECT_EQ(1, RenderPing(plat::kWinMain));
    }
    plat::StopWorkSplit();
    g_settings.ProfilePointDetection = 0;
    g_settings.ProfileDisplayType = 0;
    const uint8_t* img = &g_scan.ImageBuffer[0][0];
    const uint8_t* clean = &g_scan.CleanImageBuffer[0][0];
    const uint8_t* slots = &g_scan.BeamSampleBuffer[0][0];
    return Pictures{{img, img + sizeof g_scan.ImageBuffer},
                    {clean, clean + sizeof g_scan.CleanImageBuffer},
                    {slots, slots + sizeof g_scan.BeamSampleBuffer}};
  }

  static int FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    for (size_t i = 0; i < a.size(); ++i)
      if (a[i] != b[i]) return static_cast<int>(i);
    return -1;
  }
};

// Every pixel inside the spans shows the interpolation its map entry
// describes, from the slots as they stand after the ping.
TEST_F(RenderKernels, BaselineWalkShowsWhatTheMapDescribes) {
  for (const DrawCase& c : kCases) {
    SCOPED_TRACE(c.legend);
    Draw(c, kKernelsBaseline, 1);
    int checked = 0, wrong = 0;
    for (int r = 0; r < kImageHeight - 1; ++r)
      for (int col = g_scan.SpanLeft[r]; col < g_scan.SpanRight[r]; ++col) {
        const PixelEntry& p = g_scan.PixelMap[r][col];
        int expect = 0;
        if (!(p.SubBeamIndex == 0 && p.SampleIndex == 0 && p.WeightCentre == 0)) {
          const int b = p.BeamIndex, s = p.SampleIndex;
          const int sum = p.WeightLeft * BeamSlot(b - 1)[s] + p.WeightCentre * BeamSlot(b)[s] +
                          p.WeightRight * BeamSlot(b + 1)[s];
          expect = std::min(sum >> 8, static_cast<int>(kMaxEchoIndex));
        }
        wrong += g_scan.CleanImageBuffer[r][col] != expect;
        ++checked;
      }
    EXPECT_GT(checked, 1000);
    EXPECT_EQ(0, wrong);
  }
}

TEST_F(RenderKernels, EveryLevelWithAndWithoutTheSplitDrawsTheBaselineBytes) {
  const int best = BestRenderKernels();
  const int parts = plat::StartWorkSplit(2);
  plat::StopWorkSplit();
  if (parts < 2) GTEST_SKIP() << "one core: no helper thread to split with";
  for (const DrawCase& c : kCases) {
    SCOPED_TRACE(c.legend);
    const Pictures reference = Draw(c, kKernelsBaseline, 1);
    for (int level = kKernelsBaseline; level <= best; ++level)
      for (int threads : {1, 2}) {
        SCOPED_TRACE(testing::Message() << "level " << level << ", threads " << threads);
        const Pictures p = Draw(c, level, threads);
        EXPECT_EQ(-1, FirstDifference(reference.image, p.image));
        EXPECT_EQ(-1, FirstDifference(reference.clean, p.clean));
        EXPECT_EQ(-1, FirstDifference(reference.slots, p.slots));
      }
  }
}

TEST_F(RenderKernels, LevelsAboveTheProcessorFallBackToTheBestItHas) {
  const int best = BestRenderKernels();
  EXPECT_EQ(best, SelectRenderKernels(kKernelLevels + 3));
  EXPECT_EQ(best, RenderKernelsInUse());
  EXPECT_EQ(kKernelsBaseline, SelectRenderKernels(-1));
}

TEST_F(RenderKernels, WalkChunksCoverEveryRunOnce) {
  for (const DrawCase& c : kCases) {
    SCOPED_TRACE(c.legend);
    Build(c.mode, c.beams, c.sectorDeg, c.stepSize);
    EXPECT_EQ(0, g_scan.walkChunkRun[0]);
    EXPECT_EQ(g_scan.walkRunCount, g_scan.walkChunkRun[kWalkChunks]);
    EXPECT_EQ(g_scan.walkCount, g_scan.walkChunkIndex[kWalkChunks]);
    for (int k = 0; k < kWalkChunks; ++k) {
      SCOPED_TRACE(k);
      int pixels = 0;
      for (int i = g_scan.walkChunkRun[k]; i < g_scan.walkChunkRun[k + 1]; ++i) pixels += g_scan.walkRuns[i].count;
      EXPECT_EQ(g_scan.walkChunkIndex[k] + pixels, g_scan.walkChunkIndex[k + 1]);
      // About an equal share of the pixels each, give or take a run.
      EXPECT_LE(std::abs(kWalkChunks * pixels - g_scan.walkCount), 2 * kWalkChunks * kWalkRunMax);
    }
    for (int i = 0; i < g_scan.walkRunCount; ++i) {
      ASSERT_GT(g_scan.walkRuns[i].count, 0);
      ASSERT_LE(g_scan.walkRuns[i].count, kWalkRunMax);
    }
  }
}

TEST_F(RenderKernels, SplitDrawingAllocatesNothing) {
  Build(kModeSector, 480, 120.0, 0);
  FillPing(480, 5);
  plat::StartWorkSplit(2);
  RenderPing(plat::kWinMain);
  alloc_counter::Start();
  for (int k = 0; k < 3; ++k) RenderPing(plat::kWinMain);
  EXPECT_EQ(0, alloc_counter::Stop());
}

}  // namespace
