// Dialogs of the picture's display.
#pragma once

// "DECAYTIME": edits Persistence (seconds, 0..600). Returns 1 when stored.
int RunPersistenceDialog();
// Control identifiers of the dialog.
enum { kIdDecayTime = 1101, kIdDecaySpin = 1102, kIdDecayDefault = 1103 };
