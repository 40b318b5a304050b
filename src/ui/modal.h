// Modal dialogs under the console lock. A dialog may stay open for minutes
// while the head pings on, so the lock is given up for the modal wait and
// taken again around each event the dialog's handler handles: what the
// handler reads and writes still changes between pings, never inside one.
#pragma once

#include "platform/dialog.h"

// Runs the dialog through the platform as plat::RunDialog does.
int RunModalDialog(plat::Dialog& dialog, plat::DialogHandler handler);
