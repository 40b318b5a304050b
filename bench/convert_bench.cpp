// Whole conversion runs, the work orvale-convert does: settings load, the
// command line with /x (points and XTF), every record read, decoded,
// beamformed, detected (Bottom Following), drawn in Sector mode, written to
// the .K4P and XTF files and sent as a point datagram to 127.0.0.1, then the
// settings saved. The recording is a type "U" survey over a speckled seabed
// 12 m down at 30 m range, made once per beam count in a temporary folder.
//
// Names: Convert/<beams>, e.g. Convert/480. The rate counter "pings/s" is
// the number to compare with the head's ping rate.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "app/convert_run.h"
#include "platform/platform.h"
#include "scene.h"
#include "scene_file.h"

namespace {

constexpr int kBenchPings = 200;

struct BenchFiles {
  std::string dir;
  std::string recording;
  std::string settings;
};

BenchFiles PrepareFiles(int beams) {
  BenchFiles f;
  char tmpl[] = "/tmp/orvale_convert_bench_XXXXXX";
  if (mkdtemp(tmpl) == nullptr) return f;
  f.dir = tmpl;
  f.recording = f.dir + "/survey.K41";
  f.settings = f.dir + "/Orvale.INI";
  SceneParams scene;
  scene.dataType = 0;
  scene.rangeStep = 5;
  scene.depthM = 12.0;
  scene.slopeDeg = 3.0;
  scene.speckle = 1;
  scene.noise = 1.5;
  SurveyParams survey;
  survey.pingCount = kBenchPings;
  survey.gps = 1;
  survey.startLatDeg = 47.5;
  survey.startLonDeg = 8.25;
  if (WriteSceneFile(f.recording.c_str(), scene, survey) != kBenchPings) f.recording.clear();
  const int step = beams == 480 ? 0 : beams == 240 ? 1 : 2;
  FILE* ini = std::fopen(f.settings.c_str(), "wb");
  if (ini) {
    std::fprintf(ini,
                 "[Settings]\nIPAddress_Sonar1=127.0.0.1\nIPAddress_Output1=127.0.0.1\n"
                 "RemotePort_Output1=40996\nProfilePointDetection=1\nProfilePointFilter=2\n"
                 "StepSize=%d\nDisplayType=0\n",
                 step);
    std::fclose(ini);
  }
  return f;
}

void BM_Convert(benchmark::State& state, int beams) {
  setenv("ORVALE_LOOPBACK_ONLY", "1", 1);
  const BenchFiles files = PrepareFiles(beams);
  if (files.recording.empty()) {
    state.SkipWithError("the survey could not be written");
    return;
  }
  ConvertOptions options;
  options.name = files.recording.c_str();
  options.outputSwitch = 'x';
  options.settingsPath = files.settings.c_str();
  int64_t pings = 0;
  for (auto _ : state) {
    ConvertSummary summary;
    char error[256];
    if (RunConversion(options, &summary, error, sizeof error) != kConvertOk) {
      state.SkipWithError(error);
      break;
    }
    pings += summary.pingsProcessed;
  }
  state.counters["pings/s"] = benchmark::Counter(static_cast<double>(pings), benchmark::Counter::kIsRate);
  std::error_code ec;
  std::filesystem::remove_all(files.dir, ec);
}

const int kRegistered = [] {
  for (int beams : {480, 240, 120}) {
    benchmark::RegisterBenchmark(("Convert/" + std::to_string(beams)).c_str(),
                                 [beams](benchmark::State& s) { BM_Convert(s, beams); })
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
  }
  return 0;
}();

}  // namespace
