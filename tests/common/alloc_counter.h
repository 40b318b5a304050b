// Counts heap allocations made by this program while counting is on, so a
// test can prove that the per-ping path allocates nothing.
#pragma once

#include <atomic>

namespace alloc_counter {
void Start();           // zero the count and begin counting (this thread and others)
long Stop();            // stop counting, return the number of allocations seen
}  // namespace alloc_counter
