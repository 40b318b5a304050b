// libFuzzer target: the sound-velocity probe's line framer and parsers.
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzStats stats;
  if (FuzzProbe(data, size, &stats) != 0) std::abort();
  return 0;
}
