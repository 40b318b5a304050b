// The platform layer: the few services the console needs from the windowing
// system, written as plain functions so that no domain folder ever sees Qt.
//
// Two backends stand behind it. The recording backend (recording.cpp, the
// default) keeps every message box, title, menu state and picture in memory
// and answers dialogs from a script, so that tests and headless programs run
// every dialog's logic without a screen. The Qt backend (src/platform/qt/)
// installs itself with SetBackend() at start-up of the console.
//
// Modal dialogs are declared apart, in platform/dialog.h: only the user
// interface layer builds them, so the domain folders never see that part.
#pragma once

#include <cstddef>
#include <cstdint>

namespace plat {

struct Dialog;  // platform/dialog.h

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
  kWinVideoCapture,  // the camera's live picture ("Video"), Head mode
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

// Sizes the window's client to width x height and places the window, frame
// included, at the lower right of the main window (4 pixels in from its
// right edge, resting on its bottom frame).
void FitWindow(int window, int clientWidth, int clientHeight);

// The window as it shows now, in 24-bit bottom-up rows (blue, green, red,
// each row padded to a multiple of 4 bytes: the pixel block of a bitmap
// file). Returns the bytes written to `out`, 0 when the window cannot be
// read or `out` is too small; *width and *height are set on success.
size_t GrabWindow(int window, uint8_t* out, size_t outSize, int* width, int* height);

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
// A program with no screen (the batch converter) draws pictures nobody
// paints: with 0, BlitImage neither publishes them nor tells the backend,
// which saves two copies of the picture a ping. The recording backend's
// Reset sets it back to 1. Call between pings.
void SetPicturesShown(int shown);
int PicturesShown();

// The mouse cursor over the console's windows: the arrow, the hourglass of
// a run-mode switch, the picture's cross-hair, the sizing cursor of the
// depth-limit drag.
enum CursorShape { kCursorArrow = 0, kCursorWait, kCursorCross, kCursorSizeNS };
void SetCursor(int shape);

// Asks the main window to close, as its close box does; the console's
// shutdown runs from the window's close handler ("E&xit").
void RequestClose();

// Progress box shown while long tables are built.
void ProgressBegin(const char* title, const char* text);
void ProgressSet(int percent);
void ProgressEnd();

// ---------------------------------------------------------------- status boxes
// The small boxes near the bottom left of the main window.
enum StatusBoxId { kBoxNoConnection = 0, kBoxXmitDisabled, kBoxHeartbeat, kBoxExternalControl, kBoxCount };
// Shows the box with `text`, or erases it (nullptr or ""). Safe from the
// acquisition thread: a backend queues the change and never waits for the
// user-interface thread.
void SetStatusBox(int box, const char* text);

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
  int (*runDialog)(Dialog& dialog, int (*handler)(Dialog& dialog, int event, int id, int delta));
  void (*setCursor)(int shape);
  void (*requestClose)();
  // May be left null by a backend without status boxes: the call is then
  // recorded as the recording backend would.
  void (*statusBox)(int box, const char* text);
  // May be left null: the recording backend's then stands in.
  void (*fitWindow)(int window, int clientWidth, int clientHeight);
  size_t (*grabWindow)(int window, uint8_t* out, size_t outSize, int* width, int* height);
};

// Installs a backend; nullptr restores the recording backend.
void SetBackend(const Backend* backend);
const Backend& RecordingBackend();

}  // namespace plat
