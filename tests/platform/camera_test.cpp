// The camera layer: the test camera's formats and moving frames, the copy of
// the latest frame, the format change, devices that are no camera, and the
// YUYV conversion of a real device's frames.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "platform/camera.h"

namespace {

class Camera : public ::testing::Test {
 protected:
  void TearDown() override { plat::CloseCamera(); }
  std::vector<uint8_t> frame_ = std::vector<uint8_t>(plat::kCameraMaxFrameBytes);
};

// Pixel (x, y) of the picture, y counted from the top, in stored rows.
const uint8_t* Pixel(const std::vector<uint8_t>& rows, int width, int height, int x, int y) {
  return rows.data() + static_cast<size_t>(height - 1 - y) * plat::CameraRowBytes(width) + x * 3;
}

TEST_F(Camera, TheTestCameraOffersThreeFormatsAndHasAFrameAtOnce) {
  ASSERT_EQ(1, plat::OpenCamera("test"));
  const plat::CameraState& c = plat::g_camera;
  EXPECT_EQ(1, c.open);
  EXPECT_EQ(1, c.testCamera);
  EXPECT_EQ(0, c.driverIndex);
  ASSERT_EQ(3, c.formatCount);
  EXPECT_EQ(160, c.formats[0].width);
  EXPECT_EQ(640, c.formats[2].width);
  EXPECT_EQ(320, c.current.width);
  EXPECT_EQ(240, c.current.height);
  int w = 0, h = 0;
  int64_t seq = 0;
  ASSERT_EQ(320 * 240 * 3, plat::CopyLatestCameraFrame(frame_.data(), frame_.size(), &w, &h, &seq));
  EXPECT_EQ(320, w);
  EXPECT_EQ(240, h);
  EXPECT_GE(seq, 1);
  // Too small a buffer gets nothing rather than part of a frame.
  EXPECT_EQ(0, plat::CopyLatestCameraFrame(frame_.data(), 320 * 240 * 3 - 1, &w, &h, &seq));
}

TEST_F(Camera, FramesKeepComingAboutFifteenASecondAndMove) {
  ASSERT_EQ(1, plat::OpenCamera("test"));
  int w = 0, h = 0;
  int64_t first = 0, second = 0;
  ASSERT_GT(plat::CopyLatestCameraFrame(frame_.data(), frame_.size(), &w, &h, &first), 0);
  const std::vector<uint8_t> before(frame_.begin(), frame_.begin() + 320 * 240 * 3);
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(1, plat::WaitForCameraFrame(first + 7, 2000));
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  // Seven frame periods of 66.7 ms, give or take a loaded machine.
  EXPECT_GT(ms, 7 * 66.667 - 80.0);
  ASSERT_GT(plat::CopyLatestCameraFrame(frame_.data(), frame_.size(), &w, &h, &second), 0);
  EXPECT_GE(second, first + 8);
  EXPECT_NE(0, std::memcmp(before.data(), frame_.data(), before.size())) << "the pattern moves";
}

TEST_F(Camera, TheFormatChangesToAnOfferedOneOnly) {
  ASSERT_EQ(1, plat::OpenCamera("test"));
  EXPECT_EQ(0, plat::SetCameraFormat(300, 200));
  EXPECT_EQ(320, plat::g_camera.current.width);
  ASSERT_EQ(1, plat::SetCameraFormat(640, 480));
  int w = 0, h = 0;
  int64_t seq = 0;
  ASSERT_EQ(640 * 480 * 3, plat::CopyLatestCameraFrame(frame_.data(), frame_.size(), &w, &h, &seq));
  EXPECT_EQ(640, w);
  EXPECT_EQ(480, h);
  plat::CloseCamera();
  EXPECT_EQ(0, plat::g_camera.open);
  EXPECT_EQ(0, plat::CopyLatestCameraFrame(frame_.data(), frame_.size(), &w, &h, &seq)) << "no frame after the close";
  EXPECT_EQ(0, plat::SetCameraFormat(320, 240));
}

TEST_F(Camera, PathsThatAreNoCaptureDeviceAreRefused) {
  const char* paths[] = {"/dev/null", "/nonexistent/video7", "/etc/hostname"};
  for (const char* p : paths) {
    SCOPED_TRACE(p);
    EXPECT_EQ(0, plat::OpenCamera(p));
    EXPECT_EQ(0, plat::g_camera.open);
    EXPECT_EQ(-1, plat::g_camera.driverIndex);
  }
}

TEST_F(Camera, TheTestFrameShowsItsNumberAndTime) {
  const int w = 320, h = 240;
  std::vector<uint8_t> a(plat::kCameraMaxFrameBytes), b(plat::kCameraMaxFrameBytes);
  plat::DrawTestCameraFrame(a.data(), w, h, 41, 12, 34, 56, 789);
  plat::DrawTestCameraFrame(b.data(), w, h, 41, 12, 34, 56, 789);
  EXPECT_EQ(0, std::memcmp(a.data(), b.data(), static_cast<size_t>(w) * h * 3)) << "the same inputs, the same frame";
  // The text band: white glyph pixels on black, and only those two colours.
  int white = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = Pixel(a, w, h, x, y);
      const int sum = p[0] + p[1] + p[2];
      EXPECT_TRUE(sum == 0 || sum == 765) << x << "," << y;
      white += sum == 765;
    }
  EXPECT_GT(white, 100);
  // Another number, another time: the band changes, and so do the bars below.
  plat::DrawTestCameraFrame(b.data(), w, h, 42, 12, 34, 57, 1);
  EXPECT_NE(0, std::memcmp(Pixel(a, w, h, 0, 19), Pixel(b, w, h, 0, 19), static_cast<size_t>(w) * 3 * 20 - w * 3));
  EXPECT_NE(0, std::memcmp(Pixel(a, w, h, 0, 100), Pixel(b, w, h, 0, 100), static_cast<size_t>(w) * 3));
}

TEST_F(Camera, YuyvBecomesBlueGreenRedBottomUp) {
  struct Case {
    const char* legend;
    uint8_t y, u, v;
    uint8_t b, g, r;
  } cases[] = {
      {"black", 16, 128, 128, 0, 0, 0},
      {"white", 235, 128, 128, 255, 255, 255},
      {"grey", 126, 128, 128, 128, 128, 128},
      {"red", 81, 90, 240, 0, 0, 255},
      {"green", 145, 54, 34, 0, 255, 0},
      {"blue", 41, 240, 110, 255, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    // Two rows of a 2-pixel-wide picture; the colour in the top row only,
    // so the flip shows.
    const uint8_t yuyv[2][4] = {{c.y, c.u, c.y, c.v}, {16, 128, 16, 128}};
    uint8_t out[2 * plat::CameraRowBytes(2)] = {};
    plat::ConvertYuyvFrame(&yuyv[0][0], 4, 2, 2, out);
    const uint8_t* top = out + plat::CameraRowBytes(2);  // the last stored row
    for (int x = 0; x < 2; ++x) {
      EXPECT_NEAR(c.b, top[x * 3], 2);
      EXPECT_NEAR(c.g, top[x * 3 + 1], 2);
      EXPECT_NEAR(c.r, top[x * 3 + 2], 2);
    }
    EXPECT_EQ(0, out[0] + out[1] + out[2]) << "the bottom row is the source's last";
    EXPECT_EQ(0, out[6] + out[7]) << "row padding";
  }
}

}  // namespace
