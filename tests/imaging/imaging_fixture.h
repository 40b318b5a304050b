// Shared set-up of the imaging tests: every module of the picture path and the
// state it reads start from their defaults, with the recording platform.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/background.h"
#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/render.h"
#include "imaging/scan_convert.h"
#include "platform/recording.h"
#include "processing/beamform.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

class ImagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    plat::rec::Reset();
    g_settings = Settings{};
    ResetSwitchState();
    ResetReturnData();
    g_beamGeom = BeamGeometry{};
    std::memset(g_beamImage, 0, sizeof g_beamImage);
    ResetScanConvert();
    ResetRender();
    ResetBackground();
    ResetOverlay();
    ResetPalette();
    ResetProfileDetect();
    std::memset(g_pointRangeTenths, 0, sizeof g_pointRangeTenths);
    g_profileOutputCount = 0;
    g_sampleCount = 500;
    g_pingRecord[1] = 'U';
  }

  // Sector fan of `beams` beams over `sectorDeg`, tables built for `mode`.
  static void Build(int mode, int beams = 240, double sectorDeg = 120.0, int stepSize = 1) {
    g_beamGeom.beams = beams;
    g_beamGeom.sectorDeg = sectorDeg;
    g_settings.StepSize = stepSize;
    g_settings.DisplayType = mode;
    ASSERT_EQ(1, BuildDisplayMode(plat::kWinMain));
  }

  // Every beam carries `level` over samples [from, to) and nothing elsewhere.
  static void FillArc(int beams, int from, int to, float level) {
    std::memset(g_beamImage, 0, sizeof g_beamImage);
    for (int b = 0; b < beams; ++b)
      for (int s = from; s < to; ++s) g_beamImage[b][s] = level;
  }

  static uint8_t Img(int r, int c) { return g_scan.ImageBuffer[r][c]; }
  static uint8_t Clean(int r, int c) { return g_scan.CleanImageBuffer[r][c]; }
  static int InSpan(int r, int c) { return g_scan.SpanLeft[r] <= c && c < g_scan.SpanRight[r]; }
};
