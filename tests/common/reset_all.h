// Every module's state back to its start, for the tests that run a whole
// chain (playback, per-ping processing, outputs, conversion) and must not
// inherit anything from the test before: the console's own reset, plus the
// recording backend's memory of what was shown.
#pragma once

#include "console/run_mode.h"
#include "platform/recording.h"

namespace testutil {

inline void ResetAllModules() {
  plat::rec::Reset();
  ResetConsole();
}

}  // namespace testutil
