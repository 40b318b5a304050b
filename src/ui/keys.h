// The main window's keyboard: single-key shortcuts, the numeric entry box
// (R, G, D, P, up to three digits or ".", Enter or Esc) and the function and
// arrow keys with their accelerating repeat step. Pure logic over the
// settings and the switch module's range requests; the window hands in the
// characters and key codes and paints what changed.
#pragma once

#include <cstddef>

// Key codes of the key-down messages, independent of the windowing system.
enum KeyCode {
  kKeyF1 = 1, kKeyF2, kKeyF3, kKeyF4, kKeyF5, kKeyF6,
  kKeyUp, kKeyDown, kKeyLeft, kKeyRight,
};

// The field the entry box edits.
enum EntryField { kEntryNone = 0, kEntryRange, kEntryGain, kEntryDisplayGain, kEntryPersistence };

constexpr int kEntryChars = 3;
constexpr double kKeyStepRest = 1.0;
constexpr double kKeyStepGrowth = 0.5;
constexpr double kKeyStepMax = 16.0;

// Side-panel dials below the picture: centre row and columns, radius.
constexpr int kDialRow = 658;
constexpr int kDialRadius = 27;
enum DialIndex { kDialRange = 0, kDialGain, kDialDisplayGain, kDialPersistence, kDialCount };
extern const int kDialColumns[kDialCount];

// Written by the user-interface thread only; ResetKeys clears it.
struct KeyState {
  int field = kEntryNone;           // box open for this field, kEntryNone when closed
  char text[kEntryChars + 1] = {};  // typed so far
  int boxDrawn = 0;                 // the box is on screen
  double step = kKeyStepRest;       // key-repeat step; back to rest at any key-up
};
extern KeyState g_keys;
void ResetKeys();

// A character message (letters either case, digits, ".", '\r' Enter, 27 Esc).
// Returns 1 when it changed something.
int CharKey(int ch);
// A key-down message. The mouse position decides whether Up/Down step a side
// panel; otherwise *cursorDx / *cursorDy receive the cursor move (may be null).
// Returns 1 when it changed a value or asked for a cursor move.
int KeyDown(int key, int mouseX, int mouseY, int* cursorDx, int* cursorDy);
// Any key-up: the repeat step returns to rest.
void KeyUp();

// Range code of a typed range in `units` (0 m, 1 ft, 2 yd); -1 when the
// number is none of the listed ranges.
int RangeCodeOfEntry(double number, int units);
// The refusal text for a head whose largest range code is maxCode.
void RangeWarningText(int maxCode, int units, char* out, size_t size);
// Applies the typed text to the open field with the range checks and
// warnings, and closes the box. Returns 1 when the value changed.
int ApplyEntry();

// Range stepping with the half-range rule (F1/F2, Up/Down over the range
// dial); direction +1 or -1. Head mode only. Returns the range code after.
int StepRange(int direction);
