// libFuzzer target: the NMEA sentence machine and its decoders.
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzStats stats;
  if (FuzzNmea(data, size, &stats) != 0) std::abort();
  return 0;
}
