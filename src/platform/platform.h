// The platform layer: the few services the console needs from the windowing
// system, written as plain functions so that no domain folder ever sees Qt.
//
// Two backends stand behind it. The recording backend (recording.cpp, the
// default) keeps every message box, title, menu state and picture in memory
// and answers dialogs from a script, so that tests and headless programs run
// every dialog's logic without a screen. The Qt backend (src/platform/qt/)
// installs itself with SetBackend() at start-up of the console.
//
// Dialogs are described as data: a Dialog holds a handful of controls, and the
// module that owns the dialog supplies a handler that initialises it, reacts
// to buttons and spins, validates on "Ok" and ends it. Both backends run the
// same handler, so the behaviour under test is the behaviour on screen.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

// ---------------------------------------------------------------- windows
enum WindowId {
  kWinMain = 0,
  kWinDiagnostics,
  kWinPlayback,
  kWinVideoPlayback,
  kWinTrackPlotter,
  kWinAltitude,
  kWinSidescan,
  kWinEchoSounder,
  kWinIntensity,
  kWinCount
};

enum MsgIcon { kIconWarning = 0, kIconInformation = 1 };

// Modal message box with an OK button. Returns 1.
int MessageBox(const char* caption, const char* text, int icon = kIconWarning);

void SetWindowTitle(int window, const char* title);
void ShowWindow(int window, int shown);
// Marks the window (or a rectangle of it, inclusive corners) for repaint.
void InvalidateWindow(int window);
void InvalidateRect(int window, int x0, int y0, int x1, int y1);

// Menu items by command identifier.
void CheckMenuItem(int commandId, int checked);
void EnableMenuItem(int commandId, int enabled);
void SetMenuItemText(int commandId, const char* text);

// Hands an 8-bit picture of the main window and its colour table
// (0x00RRGGBB) to the screen: it is copied into the window's frame hand-off
// (platform/frame_handoff.h), from which the painter takes it, and the
// backend is told. The rectangle (inclusive) is the part that changed. Safe
// from the acquisition thread: nothing here waits for the painter.
void BlitImage(const uint8_t* pixels, int width, int height, const uint32_t* palette256,
               int x0, int y0, int x1, int y1);

// The mouse cursor over the console's windows: the arrow, the hourglass of
// a run-mode switch, the picture's cross-hair, the sizing cursor of the
// depth-limit drag.
enum CursorShape { kCursorArrow = 0, kCursorWait, kCursorCross, kCursorSizeNS };
void SetCursor(int shape);

// Progress box shown while long tables are built.
void ProgressBegin(const char* title, const char* text);
void ProgressSet(int percent);
void ProgressEnd();

// ---------------------------------------------------------------- file dialogs
struct FileDialogRequest {
  const char* title = "";
  const char* filter = "";      // "Sonar Files (*.K41)|*.K41" style pairs separated by '|'
  const char* defaultExt = "";  // without the dot
  const char* initialName = "";
  int multiSelect = 0;
  int save = 0;
};

// Shows an open or save dialog. On 1 the result is in `out`: one full path,
// or with multiSelect and several files the directory followed by the names,
// each ended by NUL and the list ended by a second NUL. Returns 0 on cancel.
int FileDialog(const FileDialogRequest& request, char* out, size_t outSize);

// ---------------------------------------------------------------- dialogs
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

// ---------------------------------------------------------------- time
int64_t CounterNow();        // high-resolution counter ticks
int64_t CounterFrequency();  // ticks per second
double CounterMs(int64_t from, int64_t to);

struct LocalTime {
  int year, month, day;        // month 1..12
  int hour, minute, second, millisecond;
};
LocalTime GetLocalTime();
void SleepMs(int ms);

// Calibrated busy-wait: the count of clock polls per clock tick is measured once;
// a delay of N microseconds polls N * count / 1e6 times (rounded, at least once).
int64_t CalibrateDelay();
int64_t CalibrationCount();
void BusyWaitUs(int microseconds);

// ---------------------------------------------------------------- backend
struct Backend {
  int (*messageBox)(const char* caption, const char* text, int icon);
  void (*setWindowTitle)(int window, const char* title);
  void (*showWindow)(int window, int shown);
  void (*invalidate)(int window, int x0, int y0, int x1, int y1);  // x0 < 0: whole window
  void (*checkMenuItem)(int id, int checked);
  void (*enableMenuItem)(int id, int enabled);
  void (*setMenuItemText)(int id, const char* text);
  void (*blitImage)(const uint8_t* pixels, int w, int h, const uint32_t* palette, int x0, int y0,
                    int x1, int y1);
  void (*progressBegin)(const char* title, const char* text);
  void (*progressSet)(int percent);
  void (*progressEnd)();
  int (*fileDialog)(const FileDialogRequest& request, char* out, size_t outSize);
  int (*runDialog)(Dialog& dialog, DialogHandler handler);
  void (*setCursor)(int shape);
};

// Installs a backend; nullptr restores the recording backend.
void SetBackend(const Backend* backend);
const Backend& RecordingBackend();

}  // namespace plat
