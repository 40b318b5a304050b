// Per-ping cost of profile point detection: DetectProfile on the BeamImage
// of a beamformed seabed ping (speckled, gently sloping, two targets in the
// water), with the filters as the settings file sets them by default and
// point averaging. Picture-changing options (artificial bottom, removed-point
// marks) are off, so BeamImage stays as formed from one step to the next.
//
// Names: DetectProfile/<beams>/<method>, e.g. DetectProfile/480/BottomFollowing.
#include <benchmark/benchmark.h>

#include <string>

#include "console/ping_cycle.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "processing/beamform.h"
#include "processing/profile_detect.h"
#include "processing/profile_filter.h"
#include "scene.h"
#include "settings/settings.h"

namespace {

SceneParams BenchScene() {
  SceneParams p;
  p.dataType = 0;
  p.rangeStep = 5;  // 30 m
  p.depthM = 15.0;
  p.slopeDeg = 4.0;
  p.speckle = 1;
  p.noise = 1.5;
  p.targetCount = 2;
  p.targets[0] = {-25.0, 6.0, 50.0};
  p.targets[1] = {20.0, 9.0, 35.0};
  return p;
}

// Beamforms a few pings of the scene with detection on, so the flat-bottom
// flag and the point average are in their running state.
int Prepare(int stepSize, int method) {
  g_settings = Settings{};
  ResetSwitchState();
  ResetReturnData();
  ResetPlaybackCopies();
  ResetBeamform();
  ResetProfileDetect();
  ResetProfileFilter();
  ResetScene();
  const SceneParams p = BenchScene();
  g_settings.StepSize = stepSize;
  g_settings.ProcessingMode = 3;
  g_settings.DisplayGain = 10;
  g_settings.ProfilePointDetection = 1;
  g_settings.ProfilePointFilter = method;
  g_settings.Range = p.rangeStep;
  g_settings.Xdcr = p.xdcr;
  g_settings.PulseLength = ScenePulseUs(p);
  g_switch.headTypeSetting = p.headTypeSetting;
  ApplyDataType(p.dataType);
  SetupBeamGeometry();
  static uint8_t record[kRecordBufferBytes];
  for (int i = 0; i < 4; ++i) {
    const int length = SynthesizePing(p, i, record);
    if (length <= 0 || !LoadPingRecord(record, length) || !DecodePingAt(1.0 + 0.1 * i)) return 0;
    if (!FormBeamsAndProfile()) return 0;
  }
  return 1;
}

void BM_DetectProfile(benchmark::State& state, int stepSize, int method) {
  if (!Prepare(stepSize, method)) {
    state.SkipWithError("scene did not decode");
    return;
  }
  for (auto _ : state) {
    DetectProfile();
    benchmark::ClobberMemory();
  }
  int points = 0;
  for (int b = 0; b < g_profilePoints.beams; ++b) points += g_profilePoints.Range[b] > 0.0f;
  state.counters["beams"] = g_profilePoints.beams;
  state.counters["points"] = points;
}

int RegisterAll() {
  static const int kBeams[3] = {480, 240, 120};
  static const char* const kMethods[3] = {"FirstReturn", "MaximumReturn", "BottomFollowing"};
  for (int step = 0; step < 3; ++step)
    for (int method = 0; method < 3; ++method) {
      const std::string name =
          "DetectProfile/" + std::to_string(kBeams[step]) + "/" + kMethods[method];
      benchmark::RegisterBenchmark(name.c_str(), BM_DetectProfile, step, method)
          ->Unit(benchmark::kMicrosecond);
    }
  return 0;
}
const int s_registered = RegisterAll();

}  // namespace
