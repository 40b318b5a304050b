// The console lock: the one rule by which the user-interface thread and the
// acquisition thread share the console's state (settings, switch state,
// tables, pictures being drawn, output and recording files).
//
// The ping cycle holds it from decoding a ping to finishing its outputs, and
// the acquisition loop while it builds a switch command from the settings.
// The user-interface thread holds it while a command, a key or a dialog
// event changes anything the cycle reads, and while it paints the panels
// from that state. So a change from the operator lands between two pings,
// never inside one, and a ping never sees half of a change.
//
// What stays outside it: the per-sample loops (they run inside one held
// lock, touching only the cycle's own arrays), the finished pictures (the
// frame hand-off of platform/frame_handoff.h), the navigation snapshot (its
// own sequence lock), the flags that are atomics by nature (the range-change
// handshake), and the modal wait of a dialog (SuspendCycleLock), so that an
// open dialog does not stop the head.
//
// The lock is recursive on its owning thread: a command that runs a dialog
// handler that rebuilds the tables takes it three times and releases it
// once at the end.
#pragma once

void LockCycle();
void UnlockCycle();
// 1 when the calling thread holds the lock.
int CycleLockHeld();

// Releases every level the calling thread holds and returns their number
// (0 when it held none); ResumeCycleLock takes them back. Used around a
// modal wait.
int SuspendCycleLock();
void ResumeCycleLock(int levels);

// Scoped holder.
class CycleLock {
 public:
  CycleLock() { LockCycle(); }
  ~CycleLock() { UnlockCycle(); }
  CycleLock(const CycleLock&) = delete;
  CycleLock& operator=(const CycleLock&) = delete;
};

// Counters for tests and diagnostics: how often the lock was taken by a
// thread that found it held by another.
long CycleLockContentions();
