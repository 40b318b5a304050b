// The four side-panel dials below the picture pressed with the mouse: which
// dial a point falls in, where its needle points, which way a press steps
// it, and the press with its accelerating repeats (the window's timer calls
// DialRepeat 500 ms after the press and then every 75 ms while the button
// stays down). Pure logic over the settings; the window paints.
#pragma once

#include "ui/keys.h"

constexpr int kDialFirstRepeatMs = 500;
constexpr int kDialRepeatMs = 75;
constexpr int kDialMaxRepeatCount = 10;

// Written by the user-interface thread only; ResetDials clears it.
struct DialPressState {
  int dial = -1;   // dial held down, -1 when none
  int count = 0;   // steps taken in this press, up to kDialMaxRepeatCount
};
extern DialPressState g_dialPress;
void ResetDials();

// The dial whose square field holds (x, y) and which may be stepped in the
// current mode (range and gain in Head mode only, persistence not in Profile
// mode); -1 otherwise.
int DialAt(int x, int y);
// Current value and largest value the needle is drawn against.
void DialValue(int dial, int* value, int* maximum);
// The needle's outer end in window coordinates.
void DialNeedleTip(int dial, int* tx, int* ty);
// Direction of a press at (x, y): +1 up, -1 down, 0 none (level with the tip).
int DialPressDirection(int dial, int x, int y);
// The press: steps the dial under (x, y) once. Returns 1 when a dial was hit
// (the window then starts its repeat timer), 0 otherwise.
int DialPress(int x, int y);
// One repeat of the held press with the cursor at (x, y). Returns 0 when the
// press has ended (no press, or the cursor left the field), 1 otherwise.
int DialRepeat(int x, int y);
void DialRelease();

// The Profile display choice the panel shows where the persistence dial
// stands in the other modes ("High Mix" ... "Points Only"); nullptr outside
// Profile mode.
const char* PanelMixLabel();
