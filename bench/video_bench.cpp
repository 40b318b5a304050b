// Cost of embedding a camera frame in a recorded ping: the copy of the test
// camera's latest frame behind its bitmap header, as the ping cycle takes
// it, for the three formats the test camera offers. The camera's thread
// keeps drawing meanwhile, as it does in a recording.
//
// Names: EmbedVideoFrame/<width>x<height>.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "platform/camera.h"
#include "platform/recording.h"
#include "settings/settings.h"
#include "video/capture.h"

namespace {

void EmbedBench(benchmark::State& state, int width, int height) {
  plat::rec::Reset();
  ResetVideo();
  g_settings = Settings{};
  std::snprintf(g_settings.VideoDevice, sizeof g_settings.VideoDevice, "%s", plat::kTestCameraName);
  if (!OpenVideoWindow() || !plat::SetCameraFormat(width, height)) {
    state.SkipWithError("the test camera did not open");
    return;
  }
  (void)plat::WaitForCameraFrame(0, 1000);
  const uint8_t* frame = nullptr;
  for (auto _ : state) benchmark::DoNotOptimize(TakeEmbeddedFrame(&frame));
  state.SetBytesProcessed(state.iterations() * (54 + static_cast<int64_t>(plat::CameraRowBytes(width)) * height));
  ResetVideo();
}

void RegisterAll() {
  const int sizes[][2] = {{160, 120}, {320, 240}, {640, 480}};
  for (const auto& s : sizes) {
    const std::string name = "EmbedVideoFrame/" + std::to_string(s[0]) + "x" + std::to_string(s[1]);
    benchmark::RegisterBenchmark(name.c_str(), EmbedBench, s[0], s[1]);
  }
}

const int kRegistered = (RegisterAll(), 0);

}  // namespace
