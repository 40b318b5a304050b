// Per-ping cost of the beamformer: ProcessPing on a decoded seabed ping, for
// every beam count, sharpening mode and the two live data types, detection
// off, averaging and the sidelobe clean-up on as in normal use. Each step
// also copies the decoded element samples back in, since the pre-filter
// overwrites them in place (the decoder would write them for a new ping).
//
// Names: ProcessPing/<beams>/<mode>/<type>, e.g. ProcessPing/480/Narrow/U,
// with the processor's kernel tier on one thread;
// ProcessPing/<beams>/Narrow/U/<tier> forces a tier (baseline, avx2,
// avx512; skipped where the processor lacks it) and ProcessPing/<beams>/
// Narrow/U/split runs the processor's tier with the ping's helper thread;
// ProcessPingBaseline/480/<mode>/U runs the baseline kernels.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "platform/work_split.h"
#include "processing/beamform.h"
#include "scene.h"
#include "settings/settings.h"

namespace {

float s_decoded[kElements][kMaxSamples];

// A 20 m ping over a speckled seabed 10 m down, sloping gently, with a
// couple of targets in the water column.
SceneParams BenchScene(int dataType) {
  SceneParams p;
  p.dataType = dataType;
  p.rangeStep = 4;
  p.seabed = 1;
  p.depthM = 10.0;
  p.slopeDeg = 4.0;
  p.speckle = 1;
  p.noise = 1.5;
  p.targetCount = 2;
  p.targets[0] = {-25.0, 6.0, 50.0};
  p.targets[1] = {40.0, 9.0, 35.0};
  return p;
}

int Prepare(int stepSize, int mode, int dataType) {
  g_settings = Settings{};
  ResetSwitchState();
  ResetReturnData();
  ResetPlaybackCopies();
  ResetBeamform();
  ResetScene();
  const SceneParams p = BenchScene(dataType);
  g_settings.StepSize = stepSize;
  g_settings.ProcessingMode = mode;
  g_settings.ProfilePointDetection = 0;
  g_settings.Range = p.rangeStep;
  g_settings.Xdcr = p.xdcr;
  g_settings.PulseLength = ScenePulseUs(p);
  g_switch.headTypeSetting = p.headTypeSetting;
  ApplyDataType(dataType);
  SetupBeamGeometry();
  static uint8_t record[kRecordBufferBytes];
  const int length = SynthesizePing(p, 0, record);
  if (length <= 0 || !LoadPingRecord(record, length) || !DecodePingAt(1.0)) return 0;
  std::memcpy(s_decoded, g_elementSamples, sizeof s_decoded);
  return 1;
}

// tier: -1 the processor's choice, else the kernel tier to force; split: run
// with the ping's helper thread.
void BM_ProcessPing(benchmark::State& state, int stepSize, int mode, int dataType, int tier, int split) {
  if (!Prepare(stepSize, mode, dataType)) {
    state.SkipWithError("scene did not decode");
    return;
  }
  if (BeamformForceKernelTier(tier) != tier && tier >= 0) {
    BeamformForceKernelTier(-1);
    state.SkipWithError("processor lacks this kernel tier");
    return;
  }
  if (split && plat::StartWorkSplit(2) != 2) {
    BeamformForceKernelTier(-1);
    state.SkipWithError("no second core for the split");
    return;
  }
  for (auto _ : state) {
    std::memcpy(g_elementSamples, s_decoded, sizeof s_decoded);
    benchmark::DoNotOptimize(ProcessPing());
    benchmark::ClobberMemory();
  }
  state.counters["beams"] = g_beamGeom.beams;
  state.counters["samples"] = g_beamGeom.samples;
  state.counters["tier"] = BeamformKernelTier();
  state.counters["parts"] = plat::WorkSplitParts();
  plat::StopWorkSplit();
  BeamformForceKernelTier(-1);
}

int RegisterAll() {
  static const int kBeams[3] = {480, 240, 120};
  static const char* const kModes[4] = {"Wide", "Normal", "Narrow", "NarrowMixed"};
  static const char* const kTypes[2] = {"U", "V"};
  static const char* const kTiers[3] = {"baseline", "avx2", "avx512"};
  for (int step = 0; step < 3; ++step) {
    for (int mode = 0; mode < 4; ++mode)
      for (int type = 0; type < 2; ++type) {
        const std::string name = "ProcessPing/" + std::to_string(kBeams[step]) + "/" + kModes[mode] + "/" + kTypes[type];
        benchmark::RegisterBenchmark(name.c_str(), BM_ProcessPing, step, mode, type, -1, 0)
            ->Unit(benchmark::kMillisecond);
      }
    const std::string narrow = "ProcessPing/" + std::to_string(kBeams[step]) + "/Narrow/U/";
    for (int tier = 0; tier < 3; ++tier)
      benchmark::RegisterBenchmark((narrow + kTiers[tier]).c_str(), BM_ProcessPing, step, 2, 0, tier, 0)
          ->Unit(benchmark::kMillisecond);
    // The wall clock is the measure here: the caller's processor time leaves
    // out the helper's half.
    benchmark::RegisterBenchmark((narrow + "split").c_str(), BM_ProcessPing, step, 2, 0, -1, 1)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  // What a processor without AVX2 gets from the same binary.
  for (int mode = 0; mode < 4; ++mode) {
    const std::string name = std::string("ProcessPingBaseline/480/") + kModes[mode] + "/U";
    benchmark::RegisterBenchmark(name.c_str(), BM_ProcessPing, 0, mode, 0, 0, 0)->Unit(benchmark::kMillisecond);
  }
  return 0;
}
const int s_registered = RegisterAll();

}  // namespace
