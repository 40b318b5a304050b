// Cost of synthesising one ping of a scene (the tables already built), for
// each data type, with and without seabed speckle, and for the widest
// envelope (a long pulse at a short range). Also one WriteSceneFile record.
//
// Names: SynthesizePing/<type>/<speckle>, SynthesizePing/LongPulse,
// SceneFileRecord/<type>.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "head/return_data.h"
#include "scene.h"
#include "scene_file.h"

namespace {

uint8_t s_record[kRecordBufferBytes];

SceneParams BusyScene(int type, int speckle) {
  SceneParams p;
  p.dataType = type;
  p.rangeStep = 4;  // 20 m
  p.depthM = 12.0;
  p.slopeDeg = 5.0;
  p.speckle = speckle;
  p.noise = 2.0;
  p.targets[0] = {20.0, 6.0, 60.0};
  p.targets[1] = {-35.0, 9.0, 50.0};
  p.targetCount = 2;
  return p;
}

void RunPings(benchmark::State& state, const SceneParams& p) {
  ResetScene();
  int ping = 0;
  if (!SynthesizePing(p, ping++, s_record)) state.SkipWithError("scene refused");
  for (auto _ : state) {
    benchmark::DoNotOptimize(SynthesizePing(p, ping++, s_record));
    benchmark::ClobberMemory();
  }
  state.counters["halfWidth"] = g_scene.pulseHalfWidth;
}

void BM_SynthesizePing(benchmark::State& state) {
  RunPings(state, BusyScene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1))));
}

void BM_SynthesizeLongPulse(benchmark::State& state) {
  SceneParams p = BusyScene(1, 1);
  p.rangeStep = 2;   // 5 m
  p.pulseUs = 1000;  // envelope at its 48-sample cap
  p.depthM = 3.0;
  p.targets[0].rangeM = 2.0;
  p.targets[1].rangeM = 4.0;
  RunPings(state, p);
}

void BM_SceneFileRecord(benchmark::State& state) {
  const SceneParams p = BusyScene(static_cast<int>(state.range(0)), 1);
  SurveyParams s;
  s.pingCount = 100;
  s.gps = 1;
  const std::string path = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/orvale-bench-scene.k41";
  for (auto _ : state) benchmark::DoNotOptimize(WriteSceneFile(path.c_str(), p, s));
  std::remove(path.c_str());
  state.SetItemsProcessed(state.iterations() * s.pingCount);
}

}  // namespace

BENCHMARK(BM_SynthesizePing)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->ArgNames({"type", "speckle"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SynthesizeLongPulse)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SceneFileRecord)->Arg(0)->Arg(1)->ArgName("type")->Unit(benchmark::kMillisecond);
