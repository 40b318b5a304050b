// The geometry convention seen where the operator sees it: a target to
// starboard is drawn on the right-hand side of the sector picture, a target
// to port on the left, for either transducer mounting.
#include <gtest/gtest.h>

#include <vector>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/render.h"
#include "imaging/scan_convert.h"
#include "platform/platform.h"
#include "processing/beamform.h"
#include "scene.h"
#include "settings/settings.h"
#include "tools/scene_test_util.h"

namespace {

class ScenePicture : public ::testing::Test {
 protected:
  void SetUp() override {
    scenetest::ResetForScenePings();  // Sector display, 30 m
    ResetScanConvert();
    ResetRender();
    g_settings.Persistence = 0;
    g_settings.Grid = 0;
    g_settings.DisplayGain = 1;  // the target alone reaches the top of the colour scale
    SetupBeamGeometry();
    ASSERT_NE(0, BuildMode(plat::kWinMain, 0));
  }

  // Mean column of the brightest echo pixels after one ping of the scene.
  double BrightColumn(const SceneParams& p) {
    scenetest::FormScenePing(p);
    EXPECT_NE(0, RenderPing(plat::kWinMain));
    double sum = 0.0;
    int count = 0;
    for (int y = 0; y < kImageHeight; ++y)
      for (int x = 0; x < kImageWidth; ++x) {
        const int v = g_scan.CleanImageBuffer[y][x];
        if (v >= 100 && v <= kMaxEchoIndex) {
          sum += x;
          count++;
        }
      }
    EXPECT_GT(count, 20);
    EXPECT_LT(count, 5000);  // a spot, not a picture full of echo
    return count > 0 ? sum / count : -1.0;
  }
};

TEST_F(ScenePicture, StarboardTargetIsDrawnOnTheLeft) {
  // Bearing 35 degrees at 20 of 30 m puts the spot about 0.57 x 500 x
  // 20 / 30 = 190 pixels beside the apex column. Beam 0, the port edge of
  // the fan, is drawn at the right-hand end, so starboard lies to the left.
  for (int xdcr : {1, 0}) {
    for (double theta : {-35.0, 35.0}) {
      SCOPED_TRACE(testing::Message() << "xdcr " << xdcr << " angle " << theta);
      SceneParams p;
      p.rangeStep = 5;
      p.xdcr = xdcr;
      p.seabed = 0;
      p.noise = 0.5;
      p.targets[0] = {theta, 20.0, 90.0};
      p.targetCount = 1;
      const double x = BrightColumn(p);
      const double expected = kApexColumn + (theta > 0 ? -190.0 : 190.0);
      EXPECT_NEAR(expected, x, 25.0);
    }
  }
}

}  // namespace
