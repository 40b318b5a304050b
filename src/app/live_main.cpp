// orvale-live: the console live without a window (see PrintLiveHelp).
#include <csignal>
#include <cstdio>

#include "app/live_run.h"

namespace {
void OnSignal(int) { RequestLiveStop(); }
}  // namespace

int main(int argc, char** argv) {
  LiveOptions options;
  int help = 0, version = 0;
  char why[256] = "";
  if (ParseLiveOptions(argc, argv, &options, &help, &version, why, sizeof why) != kLiveOk) {
    std::fprintf(stderr, "orvale-live: %s\n", why);
    return kLiveUsage;
  }
  if (help) {
    PrintLiveHelp();
    return 0;
  }
  if (version) {
    std::printf("orvale-live %s\n", ORVALE_VERSION);
    return 0;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  LiveSummary summary;
  const int status = RunLive(options, &summary, why, sizeof why);
  if (status != kLiveOk) {
    std::fprintf(stderr, "orvale-live: %s\n", why);
    return status;
  }
  if (!options.quiet) {
    char line[512];
    FormatLiveSummary(summary, line, sizeof line);
    std::printf("orvale-live: %s\n", line);
  }
  return 0;
}
