// libFuzzer target: the command line of a conversion run.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzStats stats;
  if (FuzzCommandLine(data, size, &stats) != 0) {
    std::fprintf(stderr, "command_line: %s%s%s\n", stats.broken ? stats.broken : "a property failed",
                 stats.brokenKey ? ": " : "", stats.brokenKey ? stats.brokenKey : "");
    std::abort();
  }
  return 0;
}
