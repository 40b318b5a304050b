// The main window's keyboard. Letters open the numeric entry box for range,
// gain, display gain or persistence; up to three digits or "." are typed into
// it and Enter applies them with the same limits and warnings as the side
// panels; the function keys step range, gain and display gain; the arrows
// step a side panel under the mouse or move the mouse cursor. A held key
// repeats with a step that grows by half a unit per repeat, so long moves
// accelerate.
//
// Range changes go through the console's RequestRangeChange, which hands
// them to the acquisition thread at a ping boundary. Everything else writes
// g_settings on the user-interface thread and asks for a repaint.
//
// Index: [SECTION] State, Range entry, Entry box, Keys.
#include "ui/keys.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "console/acquisition.h"
#include "console/cycle_lock.h"
#include "console/playback.h"
#include "files/recording.h"
#include "head/switch_command.h"
#include "imaging/scan_convert.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "ui/commands.h"
#include "ui/recording_dialogs.h"

// ============================================================ [SECTION] State

KeyState g_keys;
const int kDialColumns[kDialCount] = {402, 472, 542, 612};

void ResetKeys() { g_keys = KeyState{}; }

namespace {

constexpr int kMaxDisplayGain = 100;
constexpr int kMaxPersistenceS = 600;
constexpr int kCtrlS = 19, kCtrlE = 5, kCtrlN = 14;

void RedrawDial(int dial) {
  const int c = kDialColumns[dial];
  plat::InvalidateRect(plat::kWinMain, c - kDialRadius, kDialRow - kDialRadius, c + kDialRadius,
                       kDialRow + kDialRadius);
}

int InDial(int dial, int x, int y) {
  const int c = kDialColumns[dial];
  return x >= c - kDialRadius && x <= c + kDialRadius && y >= kDialRow - kDialRadius &&
         y <= kDialRow + kDialRadius;
}

int HeadMode() { return g_settings.RunMode == 0; }
int ProfileMode() { return g_settings.DisplayType == kModeProfile; }

// Persistence is active while non-zero; when it ends, the picture it held
// must go.
void SetPersistence(int seconds) {
  const int before = g_settings.Persistence;
  g_settings.Persistence = seconds;
  if (before != 0 && seconds == 0) ClearAndRedrawImage();
  RedrawDial(kDialPersistence);
}

void Warn(const char* caption, const char* text) { plat::MessageBox(caption, text, plat::kIconWarning); }

}  // namespace

// ============================================================ [SECTION] Range entry

// Typed ranges and the codes they stand for; feet are three times the metres
// but round to the nearest listed figure (4.5 ft is typed as 4 or 5).
struct TypedRange {
  int number;
  int code;
};
static const TypedRange kTypedMetres[] = {
    {1, 0},   {2, 0},   {3, 1},    {5, 2},    {10, 3},   {20, 4},   {30, 5},   {40, 6},   {50, 7},
    {60, 8},  {80, 9},  {100, 10}, {150, 11}, {200, 12}, {250, 13}, {300, 14}, {400, 15}, {500, 16},
};
static const TypedRange kTypedFeet[] = {
    {4, 0},    {5, 0},    {9, 1},    {15, 2},   {30, 3},    {60, 4},    {90, 5},    {120, 6},   {150, 7},
    {180, 8},  {240, 9},  {300, 10}, {450, 11}, {600, 12},  {750, 13},  {900, 14},  {1200, 15}, {1500, 16},
};

int RangeCodeOfEntry(double number, int units) {
  const TypedRange* table = units == 1 ? kTypedFeet : kTypedMetres;
  const int count = units == 1 ? static_cast<int>(sizeof kTypedFeet / sizeof kTypedFeet[0])
                               : static_cast<int>(sizeof kTypedMetres / sizeof kTypedMetres[0]);
  for (int i = 0; i < count; ++i)
    if (number == table[i].number) return table[i].code;
  return -1;
}

struct RangeWarning {
  int maxCode;
  const char* metres;  // followed by " Meters    " or " Yards    "
  const char* feet;
};
static const RangeWarning kRangeWarnings[] = {
    {3, "Please use one of the following ranges:\n 5 or 10",
     "Please use one of the following ranges:\n 15 or 30 Feet"},
    {8, "Please use one of the following ranges:\n 5, 10, 20, 30, 40, 50 or 60",
     "Please use one of the following ranges:\n 15, 30, 60, 90, 120, 150 or 180 Feet"},
    {10, "Please use one of the following ranges:\n 5, 10, 20, 30, 40, 50, 60, 80 or 100",
     "Please use one of the following ranges:\n 15, 30, 60, 90, 120, 150, 180, 240 or 300 Feet"},
    {11, "Please use one of the following ranges:\n 5, 10, 20, 30, 40, 50, 60, 80, 100 or 150",
     "Please use one of the following ranges:\n 15, 30, 60, 90, 120, 150, 180, 240, 300 or 450 Feet"},
    {12, "Please use one of the following ranges:\n 5, 10, 20, 30, 40, 50, 60, 80, 100, 150, or 200",
     "Please use one of the following ranges:\n 15, 30, 60, 90, 120, 150, 180, 240, 300, 450, or 600 Feet"},
    {13, "Please use one of the following ranges:\n 5, 10, 20, 30, 40, 50, 60, 80, 100, 150, 200 or 250",
     "Please use one of the following ranges:\n 15, 30, 60, 90, 120, 150, 180, 240, 300, 450, 600 or 750 Feet"},
    {14, "Please use one of the following ranges:\n 5, 10, 20, 30, 40, 50, 60, 80, 100, 150, 200, 250 or 300",
     "Please use one of the following ranges:\n 15, 30, 60, 90, 120, 150, 180, 240, 300, 450, 600, 750 or 900 Feet"},
    {15, "Please use one of the following ranges:\n 5, 10, 20, 30, 40, 50, 60, 80, 100, 150, 200, 250, 300 or 400",
     "Please use one of the following ranges:\n 15, 30, 60, 90, 120, 150, 180, 240, 300, 450, 600, 750, 900 or 1200 Feet"},
    {16, "Please use one of the following ranges:\n 5, 10, 20, 30, 40, 50, 60, 80, 100, 150, 200, 250, 300, 400 or 500",
     "Please use one of the following ranges:\n 15, 30, 60, 90, 120, 150, 180, 240, 300, 450, 600, 750, 900, 1200 or 1500 Feet"},
};

void RangeWarningText(int maxCode, int units, char* out, size_t size) {
  // A head whose largest code has no text of its own gets the longest list
  // it can reach.
  const RangeWarning* w = &kRangeWarnings[0];
  for (const RangeWarning& r : kRangeWarnings)
    if (r.maxCode <= maxCode) w = &r;
  if (units == 1)
    std::snprintf(out, size, "%s", w->feet);
  else
    std::snprintf(out, size, "%s%s", w->metres, units == 2 ? " Yards    " : " Meters    ");
}

static int ApplyRangeEntry(const char* text) {
  char* end = nullptr;
  const double number = std::strtod(text, &end);
  const int code = RangeCodeOfEntry(number, g_settings.Units);
  if (code < 0 || code == g_settings.Range || code < g_headLimits.minStep || code > g_headLimits.maxStep) {
    char warning[192];
    RangeWarningText(g_headLimits.maxStep, g_settings.Units, warning, sizeof warning);
    Warn("Range", warning);
    return 0;
  }
  g_settings.HalfRange = 0;
  RequestRangeChange(code);
  RedrawDial(kDialRange);
  plat::InvalidateWindow(plat::kWinMain);
  return 1;
}

int StepRange(int direction) {
  if (!HeadMode()) return g_settings.Range;
  int s;
  if (direction > 0) {
    // Leaving half range goes to the full smallest range first.
    s = g_settings.HalfRange ? g_headLimits.minStep : g_settings.Range + 1;
    g_settings.HalfRange = 0;
    if (s > g_headLimits.maxStep) s = g_headLimits.maxStep;
  } else {
    // Below the smallest step of a short-range head the switch module
    // switches half range on; otherwise it holds the smallest step.
    s = g_settings.Range - 1;
  }
  const int result = RequestRangeChange(s);
  RedrawDial(kDialRange);
  plat::InvalidateWindow(plat::kWinMain);
  return result;
}

// ============================================================ [SECTION] Entry box

static void OpenBox(int field) {
  g_keys.field = field;
  g_keys.text[0] = 0;
  g_keys.boxDrawn = 1;
  plat::InvalidateWindow(plat::kWinMain);
}

static void CloseBox() {
  g_keys.field = kEntryNone;
  g_keys.text[0] = 0;
  g_keys.boxDrawn = 0;
  plat::InvalidateWindow(plat::kWinMain);
}

int ApplyEntry() {
  const int field = g_keys.field;
  const char* text = g_keys.text;
  const int value = std::atoi(text);
  int changed = 0;
  char warning[96];
  switch (field) {
    case kEntryRange: changed = ApplyRangeEntry(text); break;
    case kEntryGain:
      if (value < 0 || value > g_headLimits.maxGain) {
        std::snprintf(warning, sizeof warning, "Entered Gain is out of range!\nUse 0 to %d dB",
                      g_headLimits.maxGain);
        Warn("Gain", warning);
      } else {
        g_settings.Gain = value;
        RedrawDial(kDialGain);
        changed = 1;
      }
      break;
    case kEntryDisplayGain:
      if (value < 1 || value > kMaxDisplayGain) {
        Warn("Display Gain", "Entered Display Gain is out of range!\nUse 1 to 100 percent");
      } else {
        g_settings.DisplayGain = value;
        RedrawDial(kDialDisplayGain);
        changed = 1;
      }
      break;
    case kEntryPersistence:
      if (ProfileMode()) break;
      if (value < 0 || value > kMaxPersistenceS) {
        Warn("Persistenece", "Entered Persistence is out of range!\nUse 0 to 600 seconds");
      } else {
        SetPersistence(value);
        changed = 1;
      }
      break;
    default: break;
  }
  CloseBox();
  return changed;
}

// ============================================================ [SECTION] Keys

int CharKey(int ch) {
  CycleLock lock;
  const int upper = (ch >= 'a' && ch <= 'z') ? ch - 'a' + 'A' : ch;
  if ((upper >= '0' && upper <= '9') || upper == '.') {
    if (g_keys.field == kEntryNone) return 0;
    int n = 0;
    while (g_keys.text[n]) ++n;
    if (n >= kEntryChars) return 0;
    g_keys.text[n] = static_cast<char>(upper);
    g_keys.text[n + 1] = 0;
    plat::InvalidateWindow(plat::kWinMain);
    return 1;
  }
  switch (upper) {
    case '\r':
    case '\n':
      if (g_keys.field == kEntryNone) return 0;
      ApplyEntry();
      return 1;
    case 27:
      if (g_keys.field == kEntryNone) return 0;
      CloseBox();
      return 1;
    case 'R':
      if (!HeadMode()) return 0;
      return OpenBox(kEntryRange), 1;
    case 'G':
      if (!HeadMode()) return 0;
      return OpenBox(kEntryGain), 1;
    case 'D': return OpenBox(kEntryDisplayGain), 1;
    case 'P':
      if (ProfileMode()) return 0;
      return OpenBox(kEntryPersistence), 1;
    case 'H':
      g_player.hold = !g_player.hold;
      plat::InvalidateWindow(plat::kWinMain);
      return 1;
    case 'C': return ClearAndRedrawImage(), 1;
    case kCtrlS:
      if (!HeadMode() || Recording()) return 0;
      return OperatorStartRecording();
    case kCtrlE:
      if (!HeadMode()) return 0;
      return OperatorStopRecording();
    case kCtrlN:
      if (!HeadMode()) return 0;
      return OperatorNewRecording();
    default: return 0;
  }
}

static int StepGain(int delta) {
  if (!HeadMode()) return 0;
  const int g = g_settings.Gain + delta;
  if (g < 0 || g > g_headLimits.maxGain) return 0;
  g_settings.Gain = g;
  RedrawDial(kDialGain);
  return 1;
}

static int StepDisplayGain(double delta) {
  int g = static_cast<int>(std::trunc(g_settings.DisplayGain + delta));
  if (g < 1) g = 1;
  if (g > kMaxDisplayGain) g = kMaxDisplayGain;
  if (g == g_settings.DisplayGain) return 0;
  g_settings.DisplayGain = g;
  RedrawDial(kDialDisplayGain);
  return 1;
}

static int StepPersistence(int delta) {
  if (ProfileMode()) return 0;
  const int p = g_settings.Persistence + delta;
  if (p < 0 || p > kMaxPersistenceS) return 0;
  SetPersistence(p);
  return 1;
}

// Up/Down over a side panel step its value by one; range and gain only live.
static int StepPanel(int mouseX, int mouseY, int direction) {
  if (InDial(kDialRange, mouseX, mouseY)) {
    if (!HeadMode()) return 0;
    const int before = g_settings.Range;
    return StepRange(direction) != before;
  }
  if (InDial(kDialGain, mouseX, mouseY)) return StepGain(direction);
  if (InDial(kDialDisplayGain, mouseX, mouseY)) return StepDisplayGain(direction);
  if (InDial(kDialPersistence, mouseX, mouseY)) return StepPersistence(direction);
  return -1;
}

int KeyDown(int key, int mouseX, int mouseY, int* cursorDx, int* cursorDy) {
  CycleLock lock;
  const double step = g_keys.step;
  g_keys.step = std::fmin(g_keys.step + kKeyStepGrowth, kKeyStepMax);
  const int move = static_cast<int>(std::trunc(step));
  int dx = 0, dy = 0, changed = 0;
  switch (key) {
    case kKeyF1:
    case kKeyF2:
      if (!HeadMode()) break;
      {
        const int before = g_settings.Range, half = g_settings.HalfRange;
        StepRange(key == kKeyF2 ? 1 : -1);
        changed = g_settings.Range != before || g_settings.HalfRange != half;
      }
      break;
    case kKeyF3: changed = StepGain(-1); break;
    case kKeyF4: changed = StepGain(1); break;
    case kKeyF5: changed = StepDisplayGain(-step); break;
    case kKeyF6: changed = StepDisplayGain(step); break;
    case kKeyUp:
    case kKeyDown: {
      const int panel = StepPanel(mouseX, mouseY, key == kKeyUp ? 1 : -1);
      if (panel >= 0) changed = panel;
      else dy = key == kKeyUp ? -move : move;
      break;
    }
    case kKeyLeft: dx = -move; break;
    case kKeyRight: dx = move; break;
    default: break;
  }
  if (cursorDx) *cursorDx = dx;
  if (cursorDy) *cursorDy = dy;
  return changed || dx || dy;
}

void KeyUp() { g_keys.step = kKeyStepRest; }
