// Modal dialogs as data, for the user-interface layer. A Dialog holds a
// handful of controls, and the ui module that owns the dialog supplies a
// handler that initialises it, reacts to buttons and spins, validates on "Ok"
// and ends it. Both backends run the same handler, so the behaviour under
// test is the behaviour on screen. The domain folders never include this:
// they offer the validation and setters the handlers call.
#pragma once

#include "platform/platform.h"

namespace plat {

constexpr int kMaxControls = 48;
constexpr int kMaxItems = 32;
constexpr int kTextLen = 128;
constexpr int kItemLen = 40;

enum ControlKind { kEdit = 0, kSpin, kDropDown, kRadio, kCheck, kStatic, kButton };

struct Control {
  int id = 0;
  int kind = kStatic;
  char label[kItemLen] = {};      // caption shown beside or on the control
  char text[kTextLen] = {};       // edit text, static text
  int checked = 0;                // check box, radio button
  int enabled = 1;
  int readOnly = 0;
  int visible = 1;
  int selection = -1;             // drop-down
  int itemCount = 0;
  char items[kMaxItems][kItemLen] = {};
  int buddy = 0;                  // spin: the edit it steps; radio: group number
};

struct Dialog {
  const char* resource = "";      // resource name, e.g. "SETSWITCHES"
  char title[kItemLen] = {};
  Control controls[kMaxControls];
  int count = 0;
  int ended = 0;
  int result = 0;                 // 1 Ok, 0 Cancel, or what the handler ends with
  int centreX = 508, centreY = 332;  // client point of the main window it is centred on
};

enum DialogEvent {
  kDlgInit = 0,    // before the dialog shows
  kDlgCommand,     // button pressed, check toggled, radio picked, selection changed
  kDlgSpin,        // spin of control `id` pressed; delta +1 up, -1 down
  kDlgEditChange,  // edit text changed by the user
};

// The owning module's handler. Returns 1 when it handled the event.
using DialogHandler = int (*)(Dialog& dialog, int event, int id, int delta);

// Common button identifiers.
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// Runs the dialog modally; returns the result given to EndDialog (0 when the
// dialog was closed without one).
int RunDialog(Dialog& dialog, DialogHandler handler);
void EndDialog(Dialog& dialog, int result);

// Building and reading controls.
Control* AddControl(Dialog& d, int id, int kind, const char* label);
Control* FindControl(Dialog& d, int id);
void SetText(Dialog& d, int id, const char* text);
const char* GetText(Dialog& d, int id);
void SetInt(Dialog& d, int id, int value);
// Reads the edit text as an integer; returns 0 when it is not a number.
int GetInt(Dialog& d, int id, int* value);
int GetDouble(Dialog& d, int id, double* value);
void SetChecked(Dialog& d, int id, int checked);
int IsChecked(Dialog& d, int id);
void SetEnabled(Dialog& d, int id, int enabled);
void SetReadOnly(Dialog& d, int id, int readOnly);
void ClearItems(Dialog& d, int id);
void AddItem(Dialog& d, int id, const char* item);
void SetSelection(Dialog& d, int id, int index);
int GetSelection(Dialog& d, int id);

}  // namespace plat
