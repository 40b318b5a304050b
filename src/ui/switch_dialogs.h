// The switch dialogs: "SETSWITCHES" (Head mode) edits the operator's head
// settings; "DISPLAYSWITCHES" (File mode) shows the played record's.
#pragma once

namespace plat {
struct Dialog;
}

// Control identifiers of "SETSWITCHES" and "DISPLAYSWITCHES".
enum SwitchDialogId {
  kIdSwRange = 1100,
  kIdSwGain,
  kIdSwGainSpin,
  kIdSwPulse,
  kIdSwPulseSpin,
  kIdSwMultiplier,
  kIdSwMultiplierSpin,
  kIdSwFrequency,
  kIdSwFrequencySpin,
  kIdSwTransmit,
  kIdSwAutoPulse,
  kIdSwDefaults,
  kIdSwRangeOffset,  // DISPLAYSWITCHES only
};
// "Set Switches" (Head mode). Returns 1 when closed with "Ok".
int RunSetSwitchesDialog();
// The same dialog in parts, for a caller that keeps the Dialog: Prepare sets
// resource and title, the handler runs it through RunModalDialog.
void PrepareSetSwitchesDialog(plat::Dialog& d);
int SetSwitchesHandler(plat::Dialog& d, int event, int id, int delta);
// "Switches": read-only view of the switches in use (File mode). Returns 1
// when closed with "Ok", 0 when dismissed.
int RunDisplaySwitchesDialog();
void PrepareDisplaySwitchesDialog(plat::Dialog& d);
int DisplaySwitchesHandler(plat::Dialog& d, int event, int id, int delta);
