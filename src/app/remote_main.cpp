// orvale-remote: drives a running console over UDP from the command line
// (see remote_run.h); prints what the console sends back.
#include <cstdio>

#include "app/remote_run.h"

int main(int argc, char** argv) {
  RemoteOptions options;
  char error[160] = "";
  const int parsed = ParseRemoteArgs(argc, argv, &options, error, sizeof error);
  if (parsed == 2) {
    PrintRemoteHelp(stdout);
    return kRemoteOk;
  }
  if (parsed == 0) {
    std::fprintf(stderr, "orvale-remote: %s (see --help)\n", error);
    return kRemoteUsage;
  }
  RemoteReport report;
  return RunRemote(options, &report, stdout);
}
