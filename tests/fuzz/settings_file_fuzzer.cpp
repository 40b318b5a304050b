// libFuzzer target: the settings file loaded, applied, saved and loaded back.
#include <cstdio>
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzStats stats;
  if (FuzzSettingsFile(data, size, &stats) != 0) {
    std::fprintf(stderr, "settings_file: %s%s%s\n", stats.broken ? stats.broken : "a property failed",
                 stats.brokenKey ? ": " : "", stats.brokenKey ? stats.brokenKey : "");
    std::abort();
  }
  return 0;
}
