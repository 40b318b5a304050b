// The picture of a synthetic flat seabed, made by the scene generator and
// taken through the console's own decoder, beamformer and detection: the
// seabed must be drawn at its depth, the profile points on it, and the saved
// picture must be a bitmap an ordinary tool opens.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/ping_cycle.h"
#include "imaging/bmp_writer.h"
#include "imaging_fixture.h"
#include "common/seabed_scene.h"
#include "scene.h"

namespace {

class ImagingPhysics : public ImagingTest {
 protected:
  void SetUp() override {
    ImagingTest::SetUp();
    ResetBeamform();
      ResetScene();
    g_settings.StepSize = 1;   // 240 beams over 120 degrees
    g_settings.SectorSize = 3;
    g_settings.ProfilePointDetection = 1;
    g_settings.ProfilePointFilter = 2;
    // The picture shows the mean of the last five pings, which smooths the
    // seabed's speckle as the console's "5 Shot" averaging does.
    g_settings.AvgFilter = 1;
    g_settings.AvgFilterIndex = 5;
    g_settings.DisplayGain = seabed::kSurveyGain;
  }

  // Ten pings of a flat seabed `depthM` below the sonar on range step
  // `step`, through decode, beamforming and detection, drawn in `mode`.
  void RenderSeabed(int mode, double depthM, int step) {
    const SceneParams p = seabed::SurveySeabed(depthM, step);
    g_settings.Range = step;
    g_settings.Frequency = p.frequencyKHz;
    g_settings.Xdcr = p.xdcr;
    g_settings.PulseLength = ScenePulseUs(p);
    g_switch.headTypeSetting = p.headTypeSetting;
    ApplyDataType(p.dataType);
    SetupBeamGeometry();
    ASSERT_EQ(240, g_beamGeom.beams);
    CentreProfile();
    g_settings.DisplayType = mode;
    ASSERT_EQ(1, BuildDisplayMode(plat::kWinMain));
    static uint8_t record[kRecordBufferBytes];
    for (int ping = 0; ping < 10; ++ping) {
      const int length = SynthesizePing(p, ping, record);
      ASSERT_GT(length, 0);
      ASSERT_EQ(1, LoadPingRecord(record, length));
      ASSERT_EQ(1, DecodePingAt(1.0 + 0.1 * ping));
      ASSERT_EQ(1, FormBeamsAndProfile());
      ComputePointIntensity();
      BuildProfileOutput();
      ASSERT_EQ(1, RenderPing(plat::kWinMain));
    }
  }

  // Row of the strongest echo in column c between rows r0 and r1, summed
  // over three columns and five rows so that a thin streak does not decide:
  // the seabed echo is a band as deep as the pulse and the beam's footprint.
  // The middle of the part of that band above half its level is returned, so
  // an echo that fills the top of the colour scale is taken at its centre.
  static int BrightestRow(int c, int r0, int r1) {
    auto sumAt = [c, r0, r1](int r) {
      int sum = 0;
      for (int k = std::max(r0, r - 2); k <= std::min(r1, r + 2); ++k)
        sum += Clean(k, c - 1) + Clean(k, c) + Clean(k, c + 1);
      return sum;
    };
    int best = -1, bestSum = -1;
    for (int r = r0; r <= r1; ++r) {
      const int sum = sumAt(r);
      if (sum > bestSum) bestSum = sum, best = r;
    }
    if (best < 0) return best;
    int top = best, bottom = best;
    while (top > r0 && 2 * sumAt(top - 1) >= bestSum) --top;
    while (bottom < r1 && 2 * sumAt(bottom + 1) >= bestSum) ++bottom;
    return (top + bottom) / 2;
  }
};

TEST_F(ImagingPhysics, FlatSeabedIsDrawnAtItsDepthInSectorMode) {
  struct Case {
    double depthM;
    int step;
    double rangeM;
  } cases[] = {{15.0, 5, 30.0}, {5.0, 3, 10.0}, {60.0, 10, 100.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.depthM);
    RenderSeabed(kModeSector, c.depthM, c.step);
    // Detection has found the bottom flat, so the beamformer keeps both
    // sides' echoes. (Where the flat-bottom test's beams, about 40 degrees
    // out, reach no seabed, as for 8 m on the 10 m range, the mirror-beam
    // clean-up takes away most of a symmetric seabed every ping.)
    EXPECT_EQ(1, g_flatBottomFlag);
    const double radius = c.depthM * 500.0 / c.rangeM;
    const double line = kApexRow - radius;
    // One pixel is one sample. The picture lags a sample behind the echo
    // (each of the two sliding-DFT passes centres its eight-sample window
    // half a sample late) and the speckle of five pings moves a column's
    // brightest band by a pixel or two.
    const double tol = 3.0;
    // A flat bottom is a horizontal line in the fan, D * 500 / R pixels above
    // the apex: within 20 degrees of the vertical the strongest echo of each
    // column lies on it.
    double worst = 0.0;
    for (double deg = -20.0; deg <= 20.0; deg += 2.5) {
      SCOPED_TRACE(deg);
      const int col = static_cast<int>(kApexColumn + radius * std::tan(deg * M_PI / 180.0) + 0.5);
      const int row = BrightestRow(col, 42, kApexRow - 5);
      EXPECT_NEAR(line, row, tol);
      worst = std::max(worst, std::fabs(row - line));
    }
    // The profile points within 30 degrees of the vertical lie on that line.
    const double reach = radius * std::tan(30.0 * M_PI / 180.0);
    int points = 0, onLine = 0;
    for (int r = 0; r < kImageHeight; ++r)
      for (int col = static_cast<int>(kApexColumn - reach); col <= kApexColumn + reach; ++col)
        if (Img(r, col) == kPointColour) {
          ++points;
          onLine += std::fabs(r - line) <= tol;
        }
    std::printf("[ figures  ] %4.0f m at %3.0f m: seabed line worst %.0f px off; %d of %d points within %.0f px\n",
                c.depthM, c.rangeM, worst, onLine, points, tol);
    EXPECT_GT(points, 40);
    EXPECT_GE(onLine, points * 9 / 10) << onLine << " of " << points;
    EXPECT_NEAR(line, g_render.PointRowOfColumn[kApexColumn + 20], tol);
  }
}

TEST_F(ImagingPhysics, FlatSeabedIsDrawnAtItsDepthInProfileMode) {
  g_settings.ProfileTiltAngle = 0.0;
  RenderSeabed(kModeProfile, 12.0, 5);  // 12 m on 30 m: 200 rows below the apex
  EXPECT_EQ(0, g_scan.geom.originY);
  EXPECT_NEAR(200, BrightestRow(kApexColumn, 5, 500), 3.0);
  EXPECT_NEAR(200, g_render.PointRowOfColumn[kApexColumn], 3.0);
  EXPECT_NEAR(200, g_render.PointRowOfColumn[kApexColumn + 70], 3.0);
  EXPECT_NEAR(200, g_render.PointRowOfColumn[kApexColumn - 70], 3.0);
}

TEST_F(ImagingPhysics, SavedSeabedPictureOpensAsABitmap) {
  RenderSeabed(kModeSector, 15.0, 5);
  char tmpl[] = "/tmp/orvale_picture_XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(tmpl));
  const std::string dir = tmpl;
  const std::string path = dir + "/seabed.bmp";
  ASSERT_EQ(1, SavePictureBmp(path.c_str()));
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  std::fseek(f, 0, SEEK_END);
  EXPECT_EQ(BmpFileBytes(kImageWidth, kImageHeight, 8, 256), std::ftell(f));
  std::fclose(f);
  if (access("/usr/bin/file", X_OK) == 0) {
    const std::string cmd = "/usr/bin/file -b '" + path + "' | grep -q '1012 x 542 x 8'";
    EXPECT_EQ(0, std::system(cmd.c_str()));
  }
  const std::string keep = std::getenv("ORVALE_KEEP_PICTURE") ? std::getenv("ORVALE_KEEP_PICTURE") : "";
  if (!keep.empty()) std::system(("cp '" + path + "' '" + keep + "'").c_str());
  ASSERT_EQ(0, std::system(("rm -rf '" + dir + "'").c_str()));
}

}  // namespace
