// orvale-headsim: a sonar head on the loopback interface. Serves the return
// packets of a synthetic scene to one console at a time on 127.0.0.1:4040
// (or --port / --bind within 127.0.0.0/8); --pings N ends it after N pings.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "headsim.h"
#include "scene.h"
#include "scene_options.h"

const char* ToolsVersion();

namespace {

void OnSignal(int) { g_headSim.stop.store(1); }

void Usage(FILE* out) {
  std::fprintf(out,
               "orvale-headsim %s: serves a synthetic scene as a sonar head, loopback only\n"
               "usage: orvale-headsim [options]\n\n"
               "  --port N                             TCP port; default 4040 (0: any free port)\n"
               "  --bind ADDR                          loopback address 127.x.x.x; default 127.0.0.1\n"
               "  --pings N                            stop after serving N pings; default 0 (run until\n"
               "                                       interrupted)\n"
               "  --fast                               answer at once instead of taking the time a head\n"
               "                                       takes (two-way travel, then 100 Mbit/s per packet)\n"
               "  --fault disconnect:N                 close the connection after every N pings\n"
               "  --fault stall:N:SECONDS              answer nothing for SECONDS after every N pings\n"
               "  --fault short:N                      cut packet 0 of every N-th ping short\n"
               "  --fault index:N                      give packet 0 of every N-th ping a wrong index\n"
               "  --fault garbage:N                    send random bytes before packet 0 of every N-th ping\n"
               "                                       (several --fault options combine)\n"
               "  --refuse SECONDS                     refuse connections for SECONDS at start\n"
               "  -h, --help                           this text\n\nScene:\n",
               ToolsVersion());
  PrintSceneOptions(out);
  std::fprintf(out,
               "\nEach request for packet 0 starts a new ping with the command's range, pulse\n"
               "length, data type and transmit flag applied to the scene.\n");
}

}  // namespace

int main(int argc, char** argv) {
  SceneParams scene;
  const char* bind = "127.0.0.1";
  long port = kHeadSimDefaultPort;
  long pings = 0;
  int fast = 0;
  double refuse = 0.0;
  HeadSimFault faults[kHeadSimMaxFaults];
  int faultCount = 0;
  char why[160] = "";
  for (int i = 1; i < argc;) {
    const char* a = argv[i];
    if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
      Usage(stdout);
      return 0;
    }
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (std::strcmp(a, "--port") == 0) {
      if (!ParseIntText(value, 0, 65535, &port)) {
        std::fprintf(stderr, "orvale-headsim: --port needs 0..65535\n");
        return 2;
      }
      i += 2;
      continue;
    }
    if (std::strcmp(a, "--bind") == 0) {
      if (value == nullptr) {
        std::fprintf(stderr, "orvale-headsim: --bind needs an address\n");
        return 2;
      }
      bind = value;
      i += 2;
      continue;
    }
    if (std::strcmp(a, "--fast") == 0) {
      fast = 1;
      i += 1;
      continue;
    }
    if (std::strcmp(a, "--fault") == 0) {
      if (faultCount >= kHeadSimMaxFaults) {
        std::fprintf(stderr, "orvale-headsim: at most %d --fault options\n", kHeadSimMaxFaults);
        return 2;
      }
      if (!ParseHeadSimFault(value, &faults[faultCount], why, sizeof why)) {
        std::fprintf(stderr, "orvale-headsim: %s\n", why);
        return 2;
      }
      faultCount++;
      i += 2;
      continue;
    }
    if (std::strcmp(a, "--refuse") == 0) {
      char* end = nullptr;
      refuse = value ? std::strtod(value, &end) : -1.0;
      if (value == nullptr || end == value || *end != '\0' || !(refuse >= 0.0) || refuse > 3600.0) {
        std::fprintf(stderr, "orvale-headsim: --refuse needs 0..3600 seconds\n");
        return 2;
      }
      i += 2;
      continue;
    }
    if (std::strcmp(a, "--pings") == 0) {
      if (!ParseIntText(value, 0, 2000000000L, &pings)) {
        std::fprintf(stderr, "orvale-headsim: --pings needs a count\n");
        return 2;
      }
      i += 2;
      continue;
    }
    const int used = ParseSceneOption(argc, argv, i, &scene, why, sizeof why);
    if (used == kOptionBad) {
      std::fprintf(stderr, "orvale-headsim: %s\n", why);
      return 2;
    }
    if (used == kOptionUnknown) {
      std::fprintf(stderr, "orvale-headsim: unknown option %s (see --help)\n", a);
      return 2;
    }
    i += used;
  }
  if (!ValidateScene(scene, why, sizeof why)) {
    std::fprintf(stderr, "orvale-headsim: %s\n", why);
    return 2;
  }
  if (!IsLoopbackAddress(bind)) {
    std::fprintf(stderr, "orvale-headsim: refusing to listen on %s: only loopback addresses (127.x.x.x)\n", bind);
    return 2;
  }
  ResetHeadSim(scene);
  g_headSim.pace = !fast;
  g_headSim.refuseSeconds = refuse;
  for (int f = 0; f < faultCount; ++f) AddHeadSimFault(faults[f]);
  if (!HeadSimListen(bind, static_cast<int>(port))) {
    std::fprintf(stderr, "orvale-headsim: cannot listen on %s:%ld: %s\n", bind, port, std::strerror(errno));
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::printf("orvale-headsim: listening on %s:%d, type %c, range %g m\n", bind, g_headSim.port,
              "UVZY"[scene.dataType], SceneRangeM(scene));
  std::fflush(stdout);
  HeadSimServe(static_cast<int>(pings));
  HeadSimClose();
  char summary[320];
  FormatHeadSimSummary(summary, sizeof summary);
  std::printf("orvale-headsim: %s\n", summary);
  return 0;
}
