// Drawing pings with the work split over the ping's helper thread, as the
// console does: the two parts write disjoint beam slots, sub-beam lines and
// picture runs, and the helper's writes are seen by the caller when the
// split returns. Built with ThreadSanitizer by test.sh; the pictures must
// match those drawn on one thread, at every kernel level.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/background.h"
#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/render.h"
#include "imaging/render_kernels.h"
#include "imaging/scan_convert.h"
#include "platform/recording.h"
#include "platform/work_split.h"
#include "processing/beamform.h"
#include "settings/settings.h"

namespace {

class RenderSplitThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::rec::Reset();
    g_settings = Settings{};
    ResetSwitchState();
    ResetReturnData();
    g_beamGeom = BeamGeometry{};
    ResetScanConvert();
    ResetRender();
    ResetBackground();
    ResetOverlay();
    ResetPalette();
    g_sampleCount = 500;
    g_pingRecord[1] = 'U';
  }
  void TearDown() override {
    plat::StopWorkSplit();
    ResetRenderKernels();
  }

  static void Build(int mode, int beams, int stepSize) {
    g_beamGeom.beams = beams;
    g_beamGeom.sectorDeg = 120.0;
    g_settings.StepSize = stepSize;
    g_settings.DisplayType = mode;
    ASSERT_EQ(1, BuildDisplayMode(plat::kWinMain));
  }

  static void FillPing(int beams, int ping) {
    uint32_t x = 99u + 131u * static_cast<uint32_t>(ping);
    for (int b = 0; b < beams; ++b)
      for (int s = 0; s < 500; ++s) {
        x = x * 1664525u + 1013904223u;
        g_beamImage[b][s] = static_cast<float>(x >> 24) * (s > 300 && s < 320 ? 1.0f : 0.3f);
      }
  }

  // Draws `pings` pings and returns the clean and shown pictures of the last.
  static std::vector<uint8_t> Draw(int mode, int beams, int stepSize, int level, int threads, int pings) {
    ResetScanConvert();
    ResetRender();
    SelectRenderKernels(level);
    Build(mode, beams, stepSize);
    plat::StartWorkSplit(threads);
    for (int ping = 0; ping < pings; ++ping) {
      FillPing(beams, ping);
      EXPECT_EQ(1, RenderPing(plat::kWinMain));
    }
    plat::StopWorkSplit();
    std::vector<uint8_t> out(sizeof g_scan.CleanImageBuffer + sizeof g_scan.ImageBuffer);
    std::memcpy(out.data(), g_scan.CleanImageBuffer, sizeof g_scan.CleanImageBuffer);
    std::memcpy(out.data() + sizeof g_scan.CleanImageBuffer, g_scan.ImageBuffer, sizeof g_scan.ImageBuffer);
    return out;
  }
};

TEST_F(RenderSplitThreads, PicturesDrawnWithTheHelperMatchOneThread) {
  if (std::thread::hardware_concurrency() < 2) GTEST_SKIP() << "one core: no helper thread";
  struct Case {
    const char* legend;
    int mode, beams, stepSize;
  } cases[] = {
      {"Sector 480", kModeSector, 480, 0},
      {"Profile 240", kModeProfile, 240, 1},
      {"Sector 7", kModeSector, 7, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    // Enough pings that the helper is found both spinning and asleep.
    const std::vector<uint8_t> one = Draw(c.mode, c.beams, c.stepSize, kKernelsBaseline, 1, 12);
    for (int level = kKernelsBaseline; level <= BestRenderKernels(); ++level) {
      SCOPED_TRACE(level);
      const std::vector<uint8_t> split = Draw(c.mode, c.beams, c.stepSize, level, 2, 12);
      EXPECT_TRUE(split == one);
    }
  }
}

}  // namespace
