// Splitting one ping's work between the calling thread and one helper thread.
//
// The ping cycle owns the helper: it starts it with the console and stops it
// at shutdown. Domain code only asks for a split with RunSplit(); with no
// helper running (tests, programs that never start one, a processor with one
// core) the parts simply run one after the other on the caller, so a result
// never depends on whether the helper exists. Parts must write disjoint data
// and must not take the console lock.
#pragma once

namespace plat {

// fn(ctx, part, parts) for part 0 .. parts-1. Part 0 runs on the caller.
typedef void (*SplitFn)(void* ctx, int part, int parts);

// Starts the helper thread when `threads` is 2 and the processor has more
// than one core; any other value stops it. Returns the number of parts
// RunSplit() will use from now on (1 or 2). Call between pings only, from
// the thread that owns the ping cycle's start and stop.
int StartWorkSplit(int threads);
void StopWorkSplit();

// Parts a split currently uses: 2 with the helper running, else 1.
int WorkSplitParts();

// Runs fn for every part and returns when all have finished. Calls made
// while a split is running (from a part itself) run inline as one part.
// Nothing allocates.
void RunSplit(SplitFn fn, void* ctx);

// Splits [0, count) into `parts` contiguous ranges; part p gets [*begin, *end).
inline void SplitRange(int count, int part, int parts, int* begin, int* end) {
  *begin = static_cast<int>(static_cast<long long>(count) * part / parts);
  *end = static_cast<int>(static_cast<long long>(count) * (part + 1) / parts);
}

}  // namespace plat
