// Cost of one history window's per-ping update: scroll, resample, write the
// newest line and hand the picture to the painter (a copy into the frame
// slot), with the Sidescan's fan symbols drawn into the published copy. The
// source is a fixed vector with echo-like structure; the windows use the
// recording platform, so no screen is involved.
//
// Names: WaterfallUpdate/<window>/<width>x<height> (client size).
#include <benchmark/benchmark.h>

#include <string>

#include "imaging/palette.h"
#include "imaging/waterfall.h"
#include "platform/frame_handoff.h"
#include "platform/recording.h"
#include "settings/settings.h"

namespace {

const char* const kNames[kWaterfallCount] = {"Sidescan", "EchoSounder", "Intensity"};
const int kSourceCount[kWaterfallCount] = {1000, 500, 240};  // 2 x 500 samples, 500 samples, 240 beams

void UpdateBench(benchmark::State& state, int kind, int clientW, int clientH) {
  plat::rec::Reset();
  plat::ResetFrames();
  g_settings = Settings{};
  ResetPalette();
  (void)SelectColorTable(plat::kWinMain, 0);
  ResetWaterfalls();
  SetWaterfallShown(kind, 1);
  (void)ResizeWaterfall(kind, clientW, clientH);
  static int source[2000];
  for (int i = 0; i < 2000; ++i) source[i] = (i * 37 % 97) + (i % 50 == 0 ? 60 : 0);
  // Past the Sidescan's skipped pings.
  for (int i = 0; i < kSidescanSkippedPings; ++i) (void)UpdateWaterfall(kind, source, kSourceCount[kind]);
  for (auto _ : state) benchmark::DoNotOptimize(UpdateWaterfall(kind, source, kSourceCount[kind]));
  state.SetItemsProcessed(state.iterations());
}

void RegisterAll() {
  const int sizes[][2] = {{300, 200}, {1011, 541}};
  for (int kind = 0; kind < kWaterfallCount; ++kind)
    for (const auto& s : sizes) {
      const std::string name = std::string("WaterfallUpdate/") + kNames[kind] + "/" + std::to_string(s[0]) +
                               "x" + std::to_string(s[1]);
      benchmark::RegisterBenchmark(name.c_str(), UpdateBench, kind, s[0], s[1]);
    }
}

const int kRegistered = (RegisterAll(), 0);

}  // namespace
