// libFuzzer target: the apply step of external control on arbitrary datagrams.
#include <cstdlib>

#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzStats stats;
  if (FuzzExternalControl(data, size, &stats) != 0) std::abort();
  return 0;
}
