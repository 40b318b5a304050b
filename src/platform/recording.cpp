// The recording backend: the platform as seen by tests and headless programs.
// Everything shown is kept in one Record; dialogs are answered from scripts.
// The acquisition thread blits and shows boxes through it while the
// user-interface thread changes menus, so every touch of the Record is under
// one mutex; a dialog's handler runs outside it, since the handler may wait
// for the ping cycle, which may itself be blitting.
#include "platform/recording.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace plat::rec {

static Record g_record;
static std::mutex g_mutex;
#define REC_LOCK std::lock_guard<std::mutex> lock(g_mutex)

Record& Get() { return g_record; }

void Reset() {
  REC_LOCK;
  g_record = Record{};
  SetBackend(nullptr);
  SetPicturesShown(1);
}

void ScriptDialog(const DialogScript& script) {
  REC_LOCK;
  g_record.dialogScripts.push_back(script);
}

void ScriptFileDialog(int ok, const std::string& result) {
  REC_LOCK;
  g_record.fileAnswers.push_back(FileDialogAnswer{ok, result});
}

static int RecMessageBox(const char* caption, const char* text, int icon) {
  REC_LOCK;
  g_record.messages.push_back(ShownMessage{caption ? caption : "", text ? text : "", icon});
  if (g_record.echoMessagesToStderr)
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
  return 1;
}

static int ValidWindow(int w) { return w >= 0 && w < kWinCount; }

static void RecSetWindowTitle(int window, const char* title) {
  REC_LOCK;
  if (ValidWindow(window)) g_record.titles[window] = title ? title : "";
}
static void RecShowWindow(int window, int shown) {
  REC_LOCK;
  if (ValidWindow(window)) g_record.shown[window] = shown ? 1 : 0;
}
static void RecInvalidate(int window, int, int, int, int) {
  REC_LOCK;
  if (ValidWindow(window)) ++g_record.invalidations[window];
}
static void RecCheckMenuItem(int id, int checked) {
  REC_LOCK;
  g_record.menuChecks.emplace_back(id, checked);
}
static void RecEnableMenuItem(int id, int enabled) {
  REC_LOCK;
  g_record.menuEnables.emplace_back(id, enabled);
}
static void RecRequestClose() {
  REC_LOCK;
  ++g_record.closeRequests;
}
static void RecSetCursor(int shape) {
  REC_LOCK;
  g_record.cursors.push_back(shape);
}
static void RecSetMenuItemText(int id, const char* text) {
  REC_LOCK;
  g_record.menuTexts.emplace_back(id, text ? text : "");
}
static void RecBlitImage(const uint8_t* pixels, int w, int h, const uint32_t* palette, int, int,
                         int, int) {
  REC_LOCK;
  if (!pixels || w <= 0 || h <= 0) return;
  g_record.picture.assign(pixels, pixels + static_cast<size_t>(w) * h);
  g_record.pictureWidth = w;
  g_record.pictureHeight = h;
  if (palette) std::memcpy(g_record.palette, palette, sizeof g_record.palette);
  ++g_record.blits;
}
static void RecFitWindow(int window, int clientWidth, int clientHeight) {
  REC_LOCK;
  if (!ValidWindow(window)) return;
  g_record.clientWidth[window] = clientWidth;
  g_record.clientHeight[window] = clientHeight;
  ++g_record.fits[window];
}
// Without a screen the main window is its picture: the last blit through its
// colour table.
static size_t RecGrabWindow(int window, uint8_t* out, size_t outSize, int* width, int* height) {
  REC_LOCK;
  const int w = g_record.pictureWidth, h = g_record.pictureHeight;
  if (window != kWinMain || w <= 0 || h <= 0) return 0;
  const size_t stride = static_cast<size_t>(w * 3 + 3) / 4 * 4;
  if (stride * h > outSize) return 0;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = out + stride * (h - 1 - y);
    for (int x = 0; x < w; ++x) {
      const uint32_t c = g_record.palette[g_record.picture[static_cast<size_t>(y) * w + x]];
      row[x * 3] = static_cast<uint8_t>(c);
      row[x * 3 + 1] = static_cast<uint8_t>(c >> 8);
      row[x * 3 + 2] = static_cast<uint8_t>(c >> 16);
    }
    for (size_t pad = static_cast<size_t>(w) * 3; pad < stride; ++pad) row[pad] = 0;
  }
  *width = w;
  *height = h;
  return stride * h;
}
int LastMenuEnable(int id) {
  REC_LOCK;
  for (auto it = g_record.menuEnables.rbegin(); it != g_record.menuEnables.rend(); ++it)
    if (it->first == id) return it->second;
  return -1;
}
static void RecProgressBegin(const char* title, const char* text) {
  REC_LOCK;
  g_record.progressTitles.push_back(std::string(title ? title : "") + "|" + (text ? text : ""));
  g_record.progressOpen = 1;
}
static void RecProgressSet(int percent) {
  REC_LOCK;
  g_record.progressValues.push_back(percent);
}
static void RecProgressEnd() {
  REC_LOCK;
  g_record.progressOpen = 0;
}

static int RecFileDialog(const FileDialogRequest& request, char* out, size_t outSize) {
  REC_LOCK;
  g_record.fileRequests.push_back(request);
  g_record.fileRequestTitles.push_back(request.title ? request.title : "");
  if (g_record.fileAnswers.empty()) return 0;
  FileDialogAnswer a = g_record.fileAnswers.front();
  g_record.fileAnswers.erase(g_record.fileAnswers.begin());
  if (!a.ok) return 0;
  // The answer may hold embedded NULs (multi-select); keep room for the final NUL pair.
  size_t n = a.result.size();
  if (n + 2 > outSize) n = outSize - 2;
  std::memcpy(out, a.result.data(), n);
  out[n] = 0;
  out[n + 1] = 0;
  return 1;
}

static void Apply(Dialog& d, DialogHandler handler, const DialogAction& a) {
  Control* c = FindControl(d, a.id);
  switch (a.kind) {
    case DialogAction::kSetText:
      if (c && c->enabled && !c->readOnly) {
        std::snprintf(c->text, sizeof c->text, "%s", a.text.c_str());
        handler(d, kDlgEditChange, a.id, 0);
      }
      break;
    case DialogAction::kClick:
      if (!c || c->enabled) {
        if (!handler(d, kDlgCommand, a.id, 0) && (a.id == kIdOk || a.id == kIdCancel))
          EndDialog(d, a.id == kIdOk ? 1 : 0);
      }
      break;
    case DialogAction::kSpin:
      if (c && c->enabled) handler(d, kDlgSpin, a.id, a.value);
      break;
    case DialogAction::kSelect:
      if (c && c->enabled) {
        SetSelection(d, a.id, a.value);
        handler(d, kDlgCommand, a.id, 0);
      }
      break;
    case DialogAction::kCheck:
      if (c && c->enabled) {
        if (c->kind == kRadio) {
          // Picking one radio button clears the others of its group.
          for (int i = 0; i < d.count; ++i)
            if (d.controls[i].kind == kRadio && d.controls[i].buddy == c->buddy)
              d.controls[i].checked = 0;
        }
        c->checked = a.value ? 1 : 0;
        handler(d, kDlgCommand, a.id, 0);
      }
      break;
  }
}

static int RecRunDialog(Dialog& d, DialogHandler handler) {
  DialogScript s;
  int scripted = 0;
  {
    REC_LOCK;
    g_record.dialogsRun.push_back(d.resource ? d.resource : "");
    if (!g_record.dialogScripts.empty()) {
      s = g_record.dialogScripts.front();
      g_record.dialogScripts.erase(g_record.dialogScripts.begin());
      scripted = 1;
    }
  }
  handler(d, kDlgInit, 0, 0);
  if (scripted) {
    for (const DialogAction& a : s.actions) {
      if (d.ended) break;
      Apply(d, handler, a);
    }
  }
  // An unanswered dialog is closed as the operator's Escape would close it.
  if (!d.ended) {
    if (!handler(d, kDlgCommand, kIdCancel, 0) || !d.ended) EndDialog(d, 0);
  }
  return d.result;
}

static void RecStatusBox(int box, const char* text) {
  REC_LOCK;
  if (box < 0 || box >= kBoxCount) return;
  g_record.statusBoxes[box] = text ? text : "";
  ++g_record.statusBoxChanges[box];
}

std::string StatusBoxText(int box) {
  REC_LOCK;
  return box >= 0 && box < kBoxCount ? g_record.statusBoxes[box] : std::string();
}
int StatusBoxChanges(int box) {
  REC_LOCK;
  return box >= 0 && box < kBoxCount ? g_record.statusBoxChanges[box] : 0;
}
size_t MessageCount() {
  REC_LOCK;
  return g_record.messages.size();
}
std::vector<ShownMessage> Messages() {
  REC_LOCK;
  return g_record.messages;
}

static const Backend kRecording = {
    RecMessageBox,    RecSetWindowTitle, RecShowWindow,  RecInvalidate,      RecCheckMenuItem,
    RecEnableMenuItem, RecSetMenuItemText, RecBlitImage, RecProgressBegin, RecProgressSet,
    RecProgressEnd,   RecFileDialog,     RecRunDialog,     RecSetCursor,     RecRequestClose,
    RecStatusBox,      RecFitWindow,      RecGrabWindow,
};

}  // namespace plat::rec

namespace plat {
const Backend& RecordingBackend() { return rec::kRecording; }
}  // namespace plat
