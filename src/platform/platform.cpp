// Platform layer front: forwards window, menu, picture and dialog calls to the
// installed backend, and implements what needs no backend at all: the dialog
// control helpers, the clocks and the calibrated busy-wait.
#include "platform/dialog.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "platform/frame_handoff.h"

namespace plat {

static const Backend* g_backend = nullptr;

static const Backend& Current() { return g_backend ? *g_backend : RecordingBackend(); }

void SetBackend(const Backend* backend) { g_backend = backend; }

int MessageBox(const char* caption, const char* text, int icon) {
  return Current().messageBox(caption, text, icon);
}
void SetWindowTitle(int window, const char* title) { Current().setWindowTitle(window, title); }
void ShowWindow(int window, int shown) { Current().showWindow(window, shown); }
void InvalidateWindow(int window) { Current().invalidate(window, -1, -1, -1, -1); }
void InvalidateRect(int window, int x0, int y0, int x1, int y1) {
  Current().invalidate(window, x0, y0, x1, y1);
}
void CheckMenuItem(int id, int checked) { Current().checkMenuItem(id, checked); }
void EnableMenuItem(int id, int enabled) { Current().enableMenuItem(id, enabled); }
void SetMenuItemText(int id, const char* text) { Current().setMenuItemText(id, text); }
static std::atomic<int> g_picturesShown{1};

void SetPicturesShown(int shown) { g_picturesShown.store(shown ? 1 : 0, std::memory_order_relaxed); }
int PicturesShown() { return g_picturesShown.load(std::memory_order_relaxed); }

void BlitImage(const uint8_t* pixels, int width, int height, const uint32_t* palette, int x0,
               int y0, int x1, int y1) {
  if (!PicturesShown()) return;
  // The painter reads the published copy, never the buffer being drawn.
  PublishFrame(kWinMain, pixels, width, height, palette, x0, y0, x1, y1);
  Current().blitImage(pixels, width, height, palette, x0, y0, x1, y1);
}
void SetCursor(int shape) { Current().setCursor(shape); }
void RequestClose() { Current().requestClose(); }
void SetStatusBox(int box, const char* text) {
  if (box < 0 || box >= kBoxCount) return;
  const Backend& b = Current().statusBox ? Current() : RecordingBackend();
  b.statusBox(box, text);
}
void FitWindow(int window, int clientWidth, int clientHeight) {
  if (window < 0 || window >= kWinCount) return;
  const Backend& b = Current().fitWindow ? Current() : RecordingBackend();
  b.fitWindow(window, clientWidth, clientHeight);
}
size_t GrabWindow(int window, uint8_t* out, size_t outSize, int* width, int* height) {
  if (window < 0 || window >= kWinCount || out == nullptr) return 0;
  const Backend& b = Current().grabWindow ? Current() : RecordingBackend();
  return b.grabWindow(window, out, outSize, width, height);
}
void ProgressBegin(const char* title, const char* text) { Current().progressBegin(title, text); }
void ProgressSet(int percent) { Current().progressSet(percent); }
void ProgressEnd() { Current().progressEnd(); }
int FileDialog(const FileDialogRequest& request, char* out, size_t outSize) {
  if (!out || outSize < 2) return 0;
  out[0] = 0;
  return Current().fileDialog(request, out, outSize);
}
int RunDialog(Dialog& dialog, DialogHandler handler) {
  dialog.ended = 0;
  dialog.result = 0;
  return Current().runDialog(dialog, handler);
}
void EndDialog(Dialog& dialog, int result) {
  dialog.ended = 1;
  dialog.result = result;
}

// ---------------------------------------------------------------- controls

// Copies a text into a fixed field, cut to fit. memmove: a control's text
// may be set from one of its own items.
static void CopyText(char* dst, size_t size, const char* src) {
  if (!dst || size == 0) return;
  if (!src) src = "";
  size_t n = strnlen(src, size - 1);
  std::memmove(dst, src, n);
  dst[n] = 0;
}

Control* AddControl(Dialog& d, int id, int kind, const char* label) {
  if (d.count >= kMaxControls) return nullptr;
  Control& c = d.controls[d.count++];
  c = Control{};
  c.id = id;
  c.kind = kind;
  CopyText(c.label, sizeof c.label, label);
  return &c;
}

Control* FindControl(Dialog& d, int id) {
  for (int i = 0; i < d.count; ++i)
    if (d.controls[i].id == id) return &d.controls[i];
  return nullptr;
}

void SetText(Dialog& d, int id, const char* text) {
  if (Control* c = FindControl(d, id)) CopyText(c->text, sizeof c->text, text);
}

const char* GetText(Dialog& d, int id) {
  Control* c = FindControl(d, id);
  return c ? c->text : "";
}

void SetInt(Dialog& d, int id, int value) {
  char t[32];
  std::snprintf(t, sizeof t, "%d", value);
  SetText(d, id, t);
}

int GetInt(Dialog& d, int id, int* value) {
  const char* t = GetText(d, id);
  while (*t == ' ') ++t;
  if (!*t) return 0;
  errno = 0;
  char* end = nullptr;
  long v = std::strtol(t, &end, 10);
  if (end == t || errno == ERANGE || v > 2147483647L || v < -2147483647L - 1) return 0;
  while (*end == ' ') ++end;
  if (*end) return 0;
  *value = static_cast<int>(v);
  return 1;
}

int GetDouble(Dialog& d, int id, double* value) {
  const char* t = GetText(d, id);
  while (*t == ' ') ++t;
  if (!*t) return 0;
  char* end = nullptr;
  double v = std::strtod(t, &end);
  if (end == t || !std::isfinite(v)) return 0;
  while (*end == ' ') ++end;
  if (*end) return 0;
  *value = v;
  return 1;
}

void SetChecked(Dialog& d, int id, int checked) {
  if (Control* c = FindControl(d, id)) c->checked = checked ? 1 : 0;
}
int IsChecked(Dialog& d, int id) {
  Control* c = FindControl(d, id);
  return c ? c->checked : 0;
}
void SetEnabled(Dialog& d, int id, int enabled) {
  if (Control* c = FindControl(d, id)) c->enabled = enabled ? 1 : 0;
}
void SetReadOnly(Dialog& d, int id, int readOnly) {
  if (Control* c = FindControl(d, id)) c->readOnly = readOnly ? 1 : 0;
}
void ClearItems(Dialog& d, int id) {
  if (Control* c = FindControl(d, id)) {
    c->itemCount = 0;
    c->selection = -1;
  }
}
void AddItem(Dialog& d, int id, const char* item) {
  Control* c = FindControl(d, id);
  if (!c || c->itemCount >= kMaxItems) return;
  CopyText(c->items[c->itemCount++], kItemLen, item);
}
void SetSelection(Dialog& d, int id, int index) {
  Control* c = FindControl(d, id);
  if (!c) return;
  c->selection = (index >= 0 && index < c->itemCount) ? index : -1;
  if (c->selection >= 0) CopyText(c->text, sizeof c->text, c->items[c->selection]);
}
int GetSelection(Dialog& d, int id) {
  Control* c = FindControl(d, id);
  return c ? c->selection : -1;
}

// ---------------------------------------------------------------- time

using Clock = std::chrono::steady_clock;

int64_t CounterNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}
int64_t CounterFrequency() { return 1000000000LL; }
double CounterMs(int64_t from, int64_t to) {
  return static_cast<double>(to - from) * 1000.0 / static_cast<double>(CounterFrequency());
}

LocalTime GetLocalTime() {
  auto now = std::chrono::system_clock::now();
  std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
            1000;
  LocalTime lt{};
  lt.year = tm.tm_year + 1900;
  lt.month = tm.tm_mon + 1;
  lt.day = tm.tm_mday;
  lt.hour = tm.tm_hour;
  lt.minute = tm.tm_min;
  lt.second = tm.tm_sec;
  lt.millisecond = static_cast<int>(ms);
  return lt;
}

void SleepMs(int ms) {
  if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The run-time clock polled by the busy-wait ticks once per millisecond.
static std::atomic<int64_t> g_calibration{0};

static int64_t ClockTick() { return CounterNow() / 1000000; }

int64_t CalibrateDelay() {
  int64_t t0 = ClockTick();
  while (ClockTick() == t0) {
  }
  int64_t t1 = ClockTick();
  int64_t count = 0;
  while (ClockTick() == t1) ++count;
  // One tick is a millisecond here; the delay formula counts per second.
  int64_t perSecond = count * 1000;
  if (perSecond < 1) perSecond = 1;
  g_calibration.store(perSecond);
  return perSecond;
}

int64_t CalibrationCount() { return g_calibration.load(); }

void BusyWaitUs(int microseconds) {
  if (g_calibration.load() == 0) CalibrateDelay();
  double polls = static_cast<double>(microseconds) * static_cast<double>(g_calibration.load()) /
                 1000000.0;
  int64_t n = static_cast<int64_t>(polls + 0.5);
  if (n < 1) n = 1;
  volatile int64_t sink = 0;
  for (int64_t i = 0; i < n; ++i) sink = ClockTick();
  (void)sink;
}

}  // namespace plat
