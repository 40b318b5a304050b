// Cost of the picture path: building the scan-conversion tables of a display
// mode, and drawing one ping into the 1012 x 542 picture. The ping is a
// fixed BeamImage with a seabed-like band and speckle, so the numbers measure
// the drawing, not the beamformer. Settings are the defaults (persistence,
// detection and the signal strip off) unless the name says otherwise.
//
// Names: BuildDisplayMode/<mode>, RenderPing/<mode>/<beams>,
// RenderPing/Sector/480/Persistence (peak hold and decay on as well),
// RenderPing/<mode>/<beams>/Split (the drawing split with the ping's helper
// thread, as the console runs it; the plain names draw on one thread).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/background.h"
#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/render.h"
#include "imaging/scan_convert.h"
#include "platform/recording.h"
#include "platform/work_split.h"
#include "processing/beamform.h"
#include "settings/settings.h"

namespace {

const char* const kModeNames[kModeCount] = {"Sector", "Linear", "Perspective", "Profile", "BeamTest"};

void Prepare(int mode, int beams) {
  plat::rec::Reset();
  g_settings = Settings{};
  ResetSwitchState();
  ResetReturnData();
  ResetScanConvert();
  ResetRender();
  ResetBackground();
  ResetOverlay();
  ResetPalette();
  g_beamGeom.beams = beams;
  g_beamGeom.sectorDeg = 120.0;
  g_settings.StepSize = beams == 480 ? 0 : beams == 240 ? 1 : 2;
  g_settings.DisplayType = mode;
  g_sampleCount = 500;
  g_pingRecord[1] = 'U';
  uint32_t x = 12345;
  for (int b = 0; b < beams; ++b)
    for (int s = 0; s < 500; ++s) {
      x = x * 1664525u + 1013904223u;
      const float speckle = static_cast<float>(x >> 26);  // 0..63
      g_beamImage[b][s] = (s > 240 && s < 270) ? 180.f + speckle : speckle;
    }
  CentreProfile();
  BuildDisplayMode(plat::kWinMain);
}

void BuildBench(benchmark::State& state, int mode) {
  Prepare(mode, 480);
  for (auto _ : state) benchmark::DoNotOptimize(BuildMode(plat::kWinMain, mode));
}

void RenderBench(benchmark::State& state, int mode, int beams, int persistence, int split) {
  Prepare(mode, beams);
  if (persistence) {
    g_settings.Persistence = 3;
    g_ping.pingPeriodMs = 100;
  }
  const int parts = split ? plat::StartWorkSplit(2) : 1;
  for (auto _ : state) {
    benchmark::DoNotOptimize(RenderPing(plat::kWinMain));
    benchmark::ClobberMemory();
  }
  plat::StopWorkSplit();
  state.counters["parts"] = parts;
}

void RegisterAll() {
  for (int mode = 0; mode < kModeCount; ++mode) {
    benchmark::RegisterBenchmark((std::string("BuildDisplayMode/") + kModeNames[mode]).c_str(), BuildBench, mode)
        ->Unit(benchmark::kMillisecond);
    for (int split : {0, 1})
      for (int beams : {480, 240, 120})
        benchmark::RegisterBenchmark((std::string("RenderPing/") + kModeNames[mode] + "/" + std::to_string(beams) +
                                      (split ? "/Split" : ""))
                                         .c_str(),
                                     RenderBench, mode, beams, 0, split)
            ->Unit(benchmark::kMicrosecond);
  }
  benchmark::RegisterBenchmark("RenderPing/Sector/480/Persistence", RenderBench, static_cast<int>(kModeSector), 480, 1,
                               0)
      ->Unit(benchmark::kMicrosecond);
}

const int kRegistered = (RegisterAll(), 0);

}  // namespace
