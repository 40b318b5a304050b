// The switch dialogs: "SETSWITCHES", where the operator sets range, start
// gain, pulse length and its multiplier, frequency, transmit and auto pulse
// length in Head mode, and "DISPLAYSWITCHES", the read-only view of the
// played record's switches in File mode. The values and their limits belong
// to the switch-command module; a range change goes through the console's
// RequestRangeChange so the acquisition thread sees it at a ping boundary.
//
// Index: [SECTION] Set Switches, Display Switches.
#include "ui/switch_dialogs.h"
#include "ui/modal.h"

#include <cmath>
#include <cstdio>

#include "console/acquisition.h"
#include "head/switch_command.h"
#include "platform/dialog.h"
#include "settings/settings.h"

// ============================================================ [SECTION] Set Switches

// Values the "Set Switches" dialog works on between opening and "Ok".
struct SetSwitchesWork {
  int autoPulse = 0;        // the dialog's "Auto Pulse Length" box
  int resetRangeOffset = 0; // "Defaults" was pressed: range offset 0 on "Ok"
};
static SetSwitchesWork g_work;

static const char kSetSwitchesCaption[] = "Set Switches";
static constexpr int kIdSwUnitDb = 1190;
static constexpr int kIdSwUnitUsec = 1191;
static constexpr int kIdSwUnitKHz = 1192;

static int SelectedStep(plat::Dialog& d) {
  const int sel = plat::GetSelection(d, kIdSwRange);
  return sel < 0 ? g_settings.Range : g_headLimits.minStep + sel;
}

static void ShowMultiplier(plat::Dialog& d, double m) {
  char t[32];
  std::snprintf(t, sizeof t, "%03.1f", m);
  plat::SetText(d, kIdSwMultiplier, t);
}

// The multiplier the operator is looking at, when it is a valid one.
static double ShownMultiplier(plat::Dialog& d) {
  double m = 0.0;
  if (plat::GetDouble(d, kIdSwMultiplier, &m) && m >= 1.0 && m <= 2.0) return m;
  return g_settings.PulseLengthMultiplier;
}

static void ShowAutoPulse(plat::Dialog& d) {
  plat::SetInt(d, kIdSwPulse, AutoPulseLengthWith(SelectedStep(d), ShownMultiplier(d)));
}

static void SetAutoPulseMode(plat::Dialog& d, int on) {
  g_work.autoPulse = on ? 1 : 0;
  plat::SetChecked(d, kIdSwAutoPulse, on);
  plat::SetReadOnly(d, kIdSwPulse, on);
  plat::SetEnabled(d, kIdSwPulseSpin, !on);
  if (on) ShowAutoPulse(d);
}

static void SelectStep(plat::Dialog& d, int step) {
  int index = step - g_headLimits.minStep;
  const int count = g_headLimits.maxStep - g_headLimits.minStep + 1;
  if (index < 0) index = 0;
  if (index >= count) index = count - 1;
  plat::SetSelection(d, kIdSwRange, index);
}

static void InitSetSwitches(plat::Dialog& d) {
  g_work = SetSwitchesWork{};
  d.centreX = 508;
  d.centreY = 332;
  plat::AddControl(d, kIdSwRange, plat::kDropDown, "Range:");
  plat::AddControl(d, kIdSwGain, plat::kEdit, "Start Gain:");
  plat::AddControl(d, kIdSwGainSpin, plat::kSpin, "")->buddy = kIdSwGain;
  plat::AddControl(d, kIdSwUnitDb, plat::kStatic, "dB");
  plat::AddControl(d, kIdSwPulse, plat::kEdit, "Pulse Length:");
  plat::AddControl(d, kIdSwPulseSpin, plat::kSpin, "")->buddy = kIdSwPulse;
  plat::AddControl(d, kIdSwUnitUsec, plat::kStatic, "usec");
  plat::AddControl(d, kIdSwMultiplier, plat::kEdit, "Multiplier:");
  plat::AddControl(d, kIdSwMultiplierSpin, plat::kSpin, "")->buddy = kIdSwMultiplier;
  plat::AddControl(d, kIdSwFrequency, plat::kEdit, "Frequency:");
  plat::AddControl(d, kIdSwFrequencySpin, plat::kSpin, "")->buddy = kIdSwFrequency;
  plat::AddControl(d, kIdSwUnitKHz, plat::kStatic, "kHz");
  plat::AddControl(d, kIdSwTransmit, plat::kDropDown, "Transmit:");
  plat::AddControl(d, kIdSwAutoPulse, plat::kCheck, "Auto Pulse Length");
  plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
  plat::AddControl(d, plat::kIdCancel, plat::kButton, "Cancel");
  plat::AddControl(d, kIdSwDefaults, plat::kButton, "Defaults");

  for (int s = g_headLimits.minStep; s <= g_headLimits.maxStep && s < kRangeSteps; ++s)
    plat::AddItem(d, kIdSwRange, RangeLabelOfStep(s));
  SelectStep(d, g_settings.Range);
  plat::SetInt(d, kIdSwGain, g_settings.Gain);
  plat::SetInt(d, kIdSwPulse, g_settings.PulseLength);
  ShowMultiplier(d, g_settings.PulseLengthMultiplier);
  plat::SetInt(d, kIdSwFrequency, g_settings.Frequency);
  plat::AddItem(d, kIdSwTransmit, "Enable");
  plat::AddItem(d, kIdSwTransmit, "Disable");
  plat::SetSelection(d, kIdSwTransmit, g_switch.transmitDisabled ? 1 : 0);
  SetAutoPulseMode(d, g_switch.autoPulseLength);
}

// One spin press: the field's value (or the setting when the field holds no
// number) moved by `step` and kept within lo..hi.
static void SpinInt(plat::Dialog& d, int id, int fallback, int step, int lo, int hi) {
  int v = fallback;
  plat::GetInt(d, id, &v);
  long long n = static_cast<long long>(v) + step;
  if (n < lo) n = lo;
  if (n > hi) n = hi;
  plat::SetInt(d, id, static_cast<int>(n));
}

static void SpinSetSwitches(plat::Dialog& d, int id, int delta) {
  if (id == kIdSwGainSpin) {
    SpinInt(d, kIdSwGain, g_settings.Gain, delta, 0, g_headLimits.maxGain);
  } else if (id == kIdSwPulseSpin) {
    if (!g_work.autoPulse)
      SpinInt(d, kIdSwPulse, g_settings.PulseLength, 10 * delta, g_headLimits.minPulse, kMaxPulseUs);
  } else if (id == kIdSwMultiplierSpin) {
    // Counted in tenths so that repeated presses land on 1.0 .. 2.0 exactly.
    int tenths = static_cast<int>(std::trunc(ShownMultiplier(d) * 10.0 + 0.5)) + delta;
    if (tenths < 10) tenths = 10;
    if (tenths > 20) tenths = 20;
    ShowMultiplier(d, tenths / 10.0);
    if (g_work.autoPulse) ShowAutoPulse(d);
  } else if (id == kIdSwFrequencySpin) {
    const int step = g_switch.headTypeSetting == 9 ? 50 : 5;
    SpinInt(d, kIdSwFrequency, g_settings.Frequency, step * delta, g_headLimits.freqMinKHz,
            g_headLimits.freqMaxKHz);
  }
}

static void DefaultsSetSwitches(plat::Dialog& d) {
  SelectStep(d, kDefaultRangeStep);
  g_work.resetRangeOffset = 1;
  plat::SetInt(d, kIdSwGain, kDefaultGain);
  ShowMultiplier(d, 1.0);
  SetAutoPulseMode(d, 1);
  plat::SetInt(d, kIdSwFrequency, g_headLimits.headDefaultFreqKHz);
  plat::SetSelection(d, kIdSwTransmit, 0);
}

// "Ok": every valid value is taken; the dialog stays open when a message was shown.
static void OkSetSwitches(plat::Dialog& d) {
  int messageShown = 0;
  const int step = SelectedStep(d);
  if (step != g_settings.Range) {
    // Picking a longer range from the list is an explicit choice: it must not
    // be folded back into half range at the smallest step.
    if (step > g_headLimits.minStep) g_settings.HalfRange = 0;
    RequestRangeChange(step);
  }
  int gain = 0;
  if (plat::GetInt(d, kIdSwGain, &gain) && gain >= 0 && gain <= g_headLimits.maxGain)
    g_settings.Gain = gain;
  g_switch.autoPulseLength = g_work.autoPulse;
  int pulse = 0;
  if (!g_work.autoPulse && plat::GetInt(d, kIdSwPulse, &pulse) && pulse >= g_headLimits.minPulse &&
      pulse <= kMaxPulseUs)
    g_settings.PulseLength = pulse;

  double m = 0.0;
  if (plat::GetDouble(d, kIdSwMultiplier, &m) && m >= 1.0 && m <= 2.0) {
    g_settings.PulseLengthMultiplier = m;
  } else {
    plat::MessageBox(kSetSwitchesCaption, "Multiplier is out of range!\nUse 1.0 to 2.0",
                     plat::kIconWarning);
    ShowMultiplier(d, g_settings.PulseLengthMultiplier);
    messageShown = 1;
  }
  int c = 0, stored = 0;
  if (plat::GetInt(d, kIdSwFrequency, &c) && AcceptFrequencyEntry(c, &stored)) {
    g_settings.Frequency = stored;
  } else {
    char text[96];
    FrequencyRangeMessage(text, sizeof text);
    plat::MessageBox(kSetSwitchesCaption, text, plat::kIconWarning);
    messageShown = 1;
  }
  g_switch.transmitDisabled = plat::GetSelection(d, kIdSwTransmit) == 1 ? 1 : 0;
  if (g_work.resetRangeOffset) {
    g_switch.rangeOffset = 0;
    g_work.resetRangeOffset = 0;
  }
  if (g_switch.autoPulseLength) g_settings.PulseLength = AutoPulseLength(g_settings.Range);
  if (!messageShown) plat::EndDialog(d, 1);
}

int SetSwitchesHandler(plat::Dialog& d, int event, int id, int delta) {
  switch (event) {
    case plat::kDlgInit:
      InitSetSwitches(d);
      return 1;
    case plat::kDlgSpin:
      SpinSetSwitches(d, id, delta);
      return 1;
    case plat::kDlgCommand:
      if (id == kIdSwRange) {
        if (g_work.autoPulse) ShowAutoPulse(d);
      } else if (id == kIdSwAutoPulse) {
        SetAutoPulseMode(d, plat::IsChecked(d, kIdSwAutoPulse));
      } else if (id == kIdSwDefaults) {
        DefaultsSetSwitches(d);
      } else if (id == plat::kIdOk) {
        OkSetSwitches(d);
      } else if (id == plat::kIdCancel) {
        plat::EndDialog(d, 0);
      } else {
        return 0;
      }
      return 1;
    default:
      return 0;
  }
}

void PrepareSetSwitchesDialog(plat::Dialog& d) {
  d.resource = "SETSWITCHES";
  std::snprintf(d.title, sizeof d.title, "%s", kSetSwitchesCaption);
  d.centreX = 508;
  d.centreY = 332;
}

int RunSetSwitchesDialog() {
  plat::Dialog d;
  PrepareSetSwitchesDialog(d);
  return RunModalDialog(d, SetSwitchesHandler);
}

// ============================================================ [SECTION] Display Switches

int DisplaySwitchesHandler(plat::Dialog& d, int event, int id, int) {
  if (event == plat::kDlgInit) {
    d.centreX = 508;
    d.centreY = 332;
    static const char* const kUnit[] = {"M", "FT", "YDS"};
    const int units = (g_settings.Units >= 0 && g_settings.Units <= 2) ? g_settings.Units : 0;
    char t[plat::kTextLen];
    plat::AddControl(d, kIdSwRange, plat::kStatic, "Range:");
    plat::SetText(d, kIdSwRange, RangeLabelOfStep(g_settings.Range));
    plat::AddControl(d, kIdSwRangeOffset, plat::kStatic, "Range Offset:");
    std::snprintf(t, sizeof t, "%d %s", g_switch.rangeOffset, kUnit[units]);
    plat::SetText(d, kIdSwRangeOffset, t);
    plat::AddControl(d, kIdSwGain, plat::kStatic, "Start Gain:");
    std::snprintf(t, sizeof t, "%d dB", g_settings.Gain);
    plat::SetText(d, kIdSwGain, t);
    plat::AddControl(d, kIdSwPulse, plat::kStatic, "Pulse Length:");
    std::snprintf(t, sizeof t, "%d usec", g_settings.PulseLength);
    plat::SetText(d, kIdSwPulse, t);
    plat::AddControl(d, kIdSwFrequency, plat::kStatic, "Frequency:");
    std::snprintf(t, sizeof t, "%d kHz", FrequencyInUseKHz());
    plat::SetText(d, kIdSwFrequency, t);
    plat::AddControl(d, plat::kIdOk, plat::kButton, "Ok");
    return 1;
  }
  if (event == plat::kDlgCommand && (id == plat::kIdOk || id == plat::kIdCancel)) {
    plat::EndDialog(d, id == plat::kIdOk ? 1 : 0);
    return 1;
  }
  return 0;
}

void PrepareDisplaySwitchesDialog(plat::Dialog& d) {
  d.resource = "DISPLAYSWITCHES";
  std::snprintf(d.title, sizeof d.title, "Switches");
  d.centreX = 508;
  d.centreY = 332;
}

int RunDisplaySwitchesDialog() {
  plat::Dialog d;
  PrepareDisplaySwitchesDialog(d);
  return RunModalDialog(d, DisplaySwitchesHandler);
}
