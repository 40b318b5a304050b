// The "Data Output Setup" dialog.
#pragma once

// "DATAOUTPUTSETUP". Returns the dialog's result (1 Ok, 0 Cancel). The
// command that opens it rebuilds the processing tables when it enabled output.
int RunDataOutputDialog();
// Control identifiers of the dialog (the tests script them).
enum DataOutputDialogIds {
  kDoRadioNone = 101,
  kDoRadioPoints = 102,
  kDoRadioBeams = 103,
  kDoPointFileButton = 104,
  kDoIntensityCheck = 105,
  kDoBeamFileButton = 106,
};
