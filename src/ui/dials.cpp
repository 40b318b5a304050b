// Mouse presses on the side-panel dials. A press steps the value at once and
// the held button repeats it; the step is 1 for the first five steps of a
// press and then half the count of steps taken (2, 3, 3, 4, 4, 5, ...), so a
// long hold covers a wide range quickly. The half of the dial pressed, seen
// against where the needle points, decides the direction, so pressing
// "ahead of" the needle moves it towards the press. Values are clamped to
// their ranges; the range moves code by code with the half-range rule.
// Owns: the state of the press being held.
#include "ui/dials.h"

#include <cmath>

#include "console/cycle_lock.h"
#include "head/switch_command.h"
#include "imaging/scan_convert.h"
#include "platform/platform.h"
#include "settings/settings.h"
#include "ui/commands.h"

DialPressState g_dialPress;

void ResetDials() { g_dialPress = DialPressState{}; }

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxDisplayGain = 100;
constexpr int kMaxPersistenceS = 600;

int Live(int dial) {
  const int head = g_settings.RunMode == 0;
  switch (dial) {
    case kDialRange:
    case kDialGain: return head;
    case kDialDisplayGain: return 1;
    case kDialPersistence: return g_settings.DisplayType != kModeProfile;
    default: return 0;
  }
}

int InField(int dial, int x, int y) {
  const int c = kDialColumns[dial];
  return x >= c - kDialRadius && x <= c + kDialRadius && y >= kDialRow - kDialRadius && y <= kDialRow + kDialRadius;
}

void Redraw(int dial) {
  const int c = kDialColumns[dial];
  plat::InvalidateRect(plat::kWinMain, c - kDialRadius, kDialRow - kDialRadius, c + kDialRadius, kDialRow + kDialRadius);
}

int Minimum(int dial) { return dial == kDialRange ? g_headLimits.minStep : dial == kDialDisplayGain ? 1 : 0; }

// Moves the dial's value by `step` in `direction`, clamped. Returns 1 when it changed.
int Step(int dial, int direction, int step) {
  int value = 0, maximum = 0;
  DialValue(dial, &value, &maximum);
  switch (dial) {
    case kDialRange: {
      const int before = g_settings.Range, half = g_settings.HalfRange;
      for (int i = 0; i < step; ++i) StepRange(direction);
      return g_settings.Range != before || g_settings.HalfRange != half;
    }
    case kDialGain:
    case kDialDisplayGain:
    case kDialPersistence: {
      int v = value + direction * step;
      if (v < Minimum(dial)) v = Minimum(dial);
      if (v > maximum) v = maximum;
      if (v == value) return 0;
      if (dial == kDialGain) g_settings.Gain = v;
      if (dial == kDialDisplayGain) g_settings.DisplayGain = v;
      if (dial == kDialPersistence) {
        g_settings.Persistence = v;
        // Persistence ending takes the picture it held with it.
        if (v == 0) ClearAndRedrawImage();
      }
      Redraw(dial);
      return 1;
    }
    default: return 0;
  }
}

int StepOfCount(int count) { return count > 4 ? count / 2 : 1; }

}  // namespace

void DialValue(int dial, int* value, int* maximum) {
  int v = 0, m = 1;
  switch (dial) {
    case kDialRange: v = g_settings.Range, m = g_headLimits.maxStep; break;
    case kDialGain: v = g_settings.Gain, m = g_headLimits.maxGain; break;
    case kDialDisplayGain: v = g_settings.DisplayGain, m = kMaxDisplayGain; break;
    case kDialPersistence: v = g_settings.Persistence, m = kMaxPersistenceS; break;
    default: break;
  }
  if (value) *value = v;
  if (maximum) *maximum = m;
}

int DialAt(int x, int y) {
  for (int d = 0; d < kDialCount; ++d)
    if (InField(d, x, y)) return Live(d) ? d : -1;
  return -1;
}

void DialNeedleTip(int dial, int* tx, int* ty) {
  int v = 0, m = 1;
  DialValue(dial, &v, &m);
  // 300 degrees clockwise from the lower left (0) through the top to the
  // lower right (the maximum); screen y grows downward.
  const double a = m > 0 ? 30.0 * (10.0 * v / m) - 150.0 : -150.0;
  const double theta = a * kPi / 180.0 - kPi / 2.0;
  const int reach = 4 * kDialRadius / 7;
  *tx = kDialColumns[dial] + static_cast<int>(std::lround(reach * std::cos(theta)));
  *ty = kDialRow + static_cast<int>(std::lround(reach * std::sin(theta)));
}

int DialPressDirection(int dial, int x, int y) {
  const int c = kDialColumns[dial];
  int tx = 0, ty = 0;
  DialNeedleTip(dial, &tx, &ty);
  if (x < c) {
    if (tx < c) return y < ty ? 1 : y > ty ? -1 : 0;
    return -1;
  }
  if (tx >= c) return y > ty ? 1 : y < ty ? -1 : 0;
  return 1;
}

int DialPress(int x, int y) {
  CycleLock lock;
  const int dial = DialAt(x, y);
  g_dialPress = DialPressState{};
  if (dial < 0) return 0;
  g_dialPress.dial = dial;
  const int direction = DialPressDirection(dial, x, y);
  if (direction != 0) Step(dial, direction, StepOfCount(g_dialPress.count));
  g_dialPress.count = 1;
  return 1;
}

int DialRepeat(int x, int y) {
  CycleLock lock;
  const int dial = g_dialPress.dial;
  if (dial < 0) return 0;
  if (!InField(dial, x, y) || !Live(dial)) {
    g_dialPress = DialPressState{};
    return 0;
  }
  int value = 0, maximum = 0;
  DialValue(dial, &value, &maximum);
  const int leftHalf = x < kDialColumns[dial];
  // A value at its limit is left alone by the half that would push it on.
  const int atLimit = leftHalf ? value >= maximum : value <= Minimum(dial);
  const int direction = DialPressDirection(dial, x, y);
  if (!atLimit && direction != 0) Step(dial, direction, StepOfCount(g_dialPress.count));
  if (g_dialPress.count < kDialMaxRepeatCount) g_dialPress.count++;
  return 1;
}

void DialRelease() { g_dialPress = DialPressState{}; }

const char* PanelMixLabel() {
  static const char* const kMixLabels[] = {"High Mix", "Med Mix", "Low Mix", "Points Only"};
  if (g_settings.DisplayType != kModeProfile) return nullptr;
  const int choice = g_settings.ProfileDisplayType;
  return kMixLabels[choice >= 0 && choice <= 3 ? choice : 0];
}
