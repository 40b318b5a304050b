// libFuzzer target: the .K41 reader and record scan on a file in memory.
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzStats stats;
  if (FuzzK41Reader(data, size, &stats) != 0) std::abort();
  return 0;
}
