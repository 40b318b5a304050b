// orvale-headsim: a sonar head on the loopback interface. Serves the return
// packets of a synthetic scene to one console at a time on 127.0.0.1:4040
// (or --port / --bind within 127.0.0.0/8); --pings N ends it after N pings.
#include <cerrno>
#include <csignal>
#include <cstdio>
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
  if (!HeadSimListen(bind, static_cast<int>(port))) {
    std::fprintf(stderr, "orvale-headsim: cannot listen on %s:%ld: %s\n", bind, port, std::strerror(errno));
    return 1;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::printf("orvale-headsim: listening on %s:%d, type %c, range %g m\n", bind, g_headSim.port,
              "UVZY"[scene.dataType], SceneRangeM(scene));
  std::fflush(stdout);
  const int served = HeadSimServe(static_cast<int>(pings));
  HeadSimClose();
  std::printf("orvale-headsim: %d pings, %d packets, %d commands, %d bad bytes, %d connections\n", served,
              g_headSim.packetsSent, g_headSim.commands, g_headSim.badBytes, g_headSim.connections);
  return 0;
}
