// The modal wait of a dialog without the console lock: the platform calls a
// trampoline that holds the lock for one event of the real handler. Dialogs
// run on the user-interface thread only; the handler in use is kept in a
// small stack for the rare dialog opened from another's handler.
#include "ui/modal.h"

#include "console/cycle_lock.h"

namespace {

constexpr int kMaxNesting = 4;
plat::DialogHandler s_handlers[kMaxNesting];
int s_depth = 0;

int LockedEvent(plat::Dialog& dialog, int event, int id, int delta) {
  CycleLock lock;
  return s_handlers[s_depth - 1](dialog, event, id, delta);
}

}  // namespace

int RunModalDialog(plat::Dialog& dialog, plat::DialogHandler handler) {
  if (handler == nullptr || s_depth >= kMaxNesting) return 0;
  s_handlers[s_depth++] = handler;
  const int levels = SuspendCycleLock();
  const int result = plat::RunDialog(dialog, LockedEvent);
  ResumeCycleLock(levels);
  --s_depth;
  return result;
}
