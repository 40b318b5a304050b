// Cost of the Track Plotter's picture: a new fix added by the per-ping
// update (one segment, a swath line, the marker, the label and the copy into
// the frame slot), and the whole plot over a full ring of 40000 fixes, which
// a zoom, a recentring or a clear costs. Recording platform, no screen.
//
// Names: TrackPlot/NewFix, TrackPlot/WholePlot/<fixes>.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>

#include "imaging/track_plot.h"
#include "nav/track.h"
#include "platform/frame_handoff.h"
#include "platform/recording.h"
#include "settings/settings.h"

namespace {

// Position texts about northM / eastM metres from 50 N 1 E.
void Texts(double northM, double eastM, char* lat, char* lon) {
  const double latMin = (50.0 + northM / 111229.0) * 60.0, lonMin = (1.0 + eastM / 71696.0) * 60.0;
  char buf[32];
  std::snprintf(buf, sizeof buf, " %02d.%02d.%05d N", static_cast<int>(latMin / 60), static_cast<int>(latMin) % 60,
                static_cast<int>(std::fmod(latMin, 1.0) * 1e5));
  std::memcpy(lat, buf, 14);
  std::snprintf(buf, sizeof buf, "%03d.%02d.%05d E", static_cast<int>(lonMin / 60), static_cast<int>(lonMin) % 60,
                static_cast<int>(std::fmod(lonMin, 1.0) * 1e5));
  std::memcpy(lon, buf, 14);
}

void Start() {
  plat::rec::Reset();
  plat::ResetFrames();
  g_settings = Settings{};
  g_settings.DisplaySwathCoverage = 1;
  g_settings.TrackPlotterZoom = 0;  // 0.05 px/m: a long track stays on the picture
  ResetTrack();
  ResetTrackPlot();
  SetTrackPingValues(200, -100, 100, 50.0, 100.0);
  ShowTrackPlotter(1);
}

// A vessel circling 2 km across, 2 m between fixes.
void Fix(int i) {
  char lat[14], lon[14];
  const double a = i * 0.002;
  Texts(1000.0 * std::sin(a), 1000.0 * (1.0 - std::cos(a)), lat, lon);
  (void)AddTrackFix(lat, lon, 4.0, 0.0, a * 57.3, 0, 0, 1);
}

void NewFix(benchmark::State& state) {
  Start();
  int i = 0;
  Fix(i++);
  (void)UpdateTrackPlot();
  for (auto _ : state) {
    state.PauseTiming();
    Fix(i++);
    state.ResumeTiming();
    benchmark::DoNotOptimize(UpdateTrackPlot());
  }
  state.counters["wholePlots"] = g_trackPlot.fullDraws;
}

void WholePlot(benchmark::State& state) {
  Start();
  for (int i = 0; i < state.range(0); ++i) Fix(i);
  for (auto _ : state) benchmark::DoNotOptimize(DrawTrackPlot());
}

BENCHMARK(NewFix)->Name("TrackPlot/NewFix");
BENCHMARK(WholePlot)->Name("TrackPlot/WholePlot")->Arg(1000)->Arg(kTrackEntries)->Unit(benchmark::kMillisecond);

}  // namespace
