// libFuzzer target: packet assembly, record round trip and decoding.
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzStats stats;
  if (FuzzPacketAssembly(data, size, &stats) != 0) std::abort();
  return 0;
}
