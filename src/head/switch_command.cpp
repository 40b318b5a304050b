// The switch command: the 27 bytes that ask the head for one return packet,
// rebuilt from the operator's settings before every send, and everything that
// changes those settings from the head's side of the program.
//
// Inputs are g_settings (range step, gain, pulse length and multiplier,
// frequency, switch delay, external trigger, half-range), the data type and
// packet index of the return-data module, and the head type each return
// reports. This module owns g_switch: the head-dependent limits, the
// head-type setting and FrequencyCoefficient, range offset, transmit flag,
// auto pulse length, and the range-change handshake between the
// user-interface thread (which requests a step) and the acquisition thread
// (which builds the command). The dialogs that edit these values live in the
// user-interface layer and call the checks and setters here.
//
// Index: [SECTION] State and tables, Command, Range requests, Head type, Frequency,
// Run-mode copies.
#include "head/switch_command.h"

#include <cmath>
#include <cstdio>

#include "head/return_data.h"
#include "platform/platform.h"
#include "settings/settings.h"

// ============================================================ [SECTION] State and tables

const RangeEntry kRangeTable[kRangeSteps] = {
    {1, 1.5f, "1.5 M", "4.5 FT", "1.5 YDS", 6, 2},
    {3, 3.f, "3 M", "9 FT", "3 YDS", 12, 4},
    {5, 5.f, "5 M", "15 FT", "5 YDS", 20, 7},
    {10, 10.f, "10 M", "30 FT", "10 YDS", 40, 13},
    {20, 20.f, "20 M", "60 FT", "20 YDS", 80, 27},
    {30, 30.f, "30 M", "90 FT", "30 YDS", 120, 40},
    {40, 40.f, "40 M", "120 FT", "40 YDS", 160, 53},
    {50, 50.f, "50 M", "150 FT", "50 YDS", 200, 67},
    {60, 60.f, "60 M", "180 FT", "60 YDS", 200, 80},
    {80, 80.f, "80 M", "240 FT", "80 YDS", 200, 107},
    {100, 100.f, "100 M", "300 FT", "100 YDS", 200, 133},
    {150, 150.f, "150 M", "450 FT", "150 YDS", 200, 200},
    {200, 200.f, "200 M", "600 FT", "200 YDS", 200, 267},
    {250, 250.f, "250 M", "750 FT", "250 YDS", 200, 333},
    {300, 300.f, "300 M", "900 FT", "300 YDS", 200, 400},
    {400, 400.f, "400 M", "1200 FT", "400 YDS", 200, 533},
    {500, 500.f, "500 M", "1500 FT", "500 YDS", 200, 667},
};

SwitchState g_switch;

// How long a range request waits for the ping in progress to end.
static constexpr double kRangeWaitMs = 500.0;

// Head types as the head reports them (HeadTypeIndex) and what follows.
struct HeadTypeRow {
  int reported;
  int setting;
  int coefficient;  // FrequencyCoefficient, hundredths
  int defaultKHz;
};
static const HeadTypeRow kHeadTypes[] = {
    {1, 5, 3, 120},   {10, 5, 3, 120},  {14, 5, 3, 120},   {16, 5, 3, 120},
    {2, 6, 20, 675},  {3, 7, 20, 675},  {7, 7, 20, 675},   {4, 3, 10, 260},
    {5, 8, 10, 260},  {9, 9, 170, 1700}, {11, 11, 20, 675}, {17, 12, 10, 260},
    {18, 13, 20, 800},
};
static const HeadTypeRow kOtherHeadType = {-1, 4, 10, 260};

// Longest range step of a head-type setting.
static int MaxStepOfSetting(int setting) {
  if (setting == 5) return 14;
  if (setting == 7) return 8;
  return 11;
}

// The limits that follow a head type. Only the 260 kHz heads are tuned
// (240 .. 260 kHz); every other head works at its own frequency.
static void TakeHeadLimits(const HeadTypeRow& row) {
  g_headLimits.FrequencyCoefficient = row.coefficient;
  g_headLimits.headDefaultFreqKHz = row.defaultKHz;
  g_headLimits.maxStep = MaxStepOfSetting(row.setting);
  g_headLimits.freqMinKHz = row.defaultKHz == kOtherHeadType.defaultKHz ? 240 : row.defaultKHz;
  g_headLimits.freqMaxKHz = row.defaultKHz;
}

void TakeStoredFrequencyHead(int storedKHz) {
  const HeadTypeRow* named = nullptr;
  int maxStep = 0;
  for (const HeadTypeRow& r : kHeadTypes) {
    if (r.defaultKHz != storedKHz) continue;
    if (named == nullptr) named = &r;
    if (MaxStepOfSetting(r.setting) > maxStep) maxStep = MaxStepOfSetting(r.setting);
  }
  // The start-up head is one of the 260 kHz heads: its limits stand.
  if (named == nullptr || named->defaultKHz == kOtherHeadType.defaultKHz) return;
  TakeHeadLimits(*named);
  g_headLimits.maxStep = maxStep;
  SetConfigurationFrequencyLimits(named->setting);
}

void SetStartupHeadLimits() {
  g_headLimits.minStep = 2;
  g_headLimits.maxStep = 11;
  g_headLimits.maxGain = 20;
  g_headLimits.minPulse = 30;
  g_headLimits.freqMinKHz = 240;
  g_headLimits.freqMaxKHz = 260;
  g_headLimits.headDefaultFreqKHz = 260;
  g_switch.headTypeSetting = 4;
}

void ResetSwitchState() {
  SetStartupHeadLimits();
  g_headLimits.FrequencyCoefficient = 10;
  g_switch.lastReportedHeadType = -1;
  g_switch.rangeOffset = 0;
  g_switch.transmitDisabled = 0;
  g_switch.autoPulseLength = 0;
  g_switch.dataType = 0;
  g_switch.packetIndex = 0;
  g_switch.startupComplete = 0;
  g_switch.playbackFrequencyKHz = 260;
  g_switch.pingInProgress = 0;
  g_switch.rangeChangePending = 0;
  g_switch.rangeChangeSent = 0;
  g_switch.pendingStep = kDefaultRangeStep;
  g_switch.processingResetRequested = 0;
  g_switch.liveLimits = g_headLimits;
  g_switch.liveHeadTypeSetting = g_switch.headTypeSetting;
  g_switch.liveReportedHeadType = -1;
}

static int ClampStep(int step) {
  if (step < 0) return 0;
  if (step >= kRangeSteps) return kRangeSteps - 1;
  return step;
}

float RangeMetersOfStep(int step) { return kRangeTable[ClampStep(step)].rangeM; }

int FrequencyInUseKHz() {
  return g_settings.RunMode == 1 ? g_switch.playbackFrequencyKHz : g_settings.Frequency;
}

const char* RangeLabelOfStep(int step) {
  const RangeEntry& e = kRangeTable[ClampStep(step)];
  if (g_settings.Units == 1) return e.labelFt;
  if (g_settings.Units == 2) return e.labelYds;
  return e.labelM;
}

static void RequestProcessingReset() { g_switch.processingResetRequested = 1; }

// ============================================================ [SECTION] Command

int RangeCode(int rangeM) {
  switch (rangeM) {
    case 250: return 201;
    case 300: return 202;
    case 400: return 203;
    case 500: return 204;
    default: return rangeM;
  }
}

int FrequencyCode(int frequencyKHz, int headTypeSetting) {
  int f = frequencyKHz;
  if (headTypeSetting == 9) f /= 10;  // the 1700 kHz head counts in tens of kHz
  return ((f - 330) / 5 + 100) & 0xFF;
}

int AutoPulseLengthWith(int step, double multiplier) {
  const double r = RangeMetersOfStep(step);
  const int a = static_cast<int>(std::trunc(6.0 * r));
  const int b = static_cast<int>(std::trunc(a * 0.1 + 0.5));
  const double pl = std::trunc(10.0 * b * multiplier);
  return pl > kMaxPulseUs ? kMaxPulseUs : static_cast<int>(pl);
}

int AutoPulseLength(int step) { return AutoPulseLengthWith(step, g_settings.PulseLengthMultiplier); }

// SwitchCommand, 27 bytes:
//   0 0xFE | 1 'D' | 2 0x10 | 3 RangeCode | 4 range offset | 5-7 0 | 8 start gain dB
//   9 1 | 10 FrequencyCoefficient | 11-12 0 | 13 PacketIndex | 14 pulse length / 10 us
//   15 0 | 16 external trigger control | 17-18 trigger transmit delay, high byte first
//   19 packets per ping | 20 8 | 21 0 | 22 bit 0 transmit disabled | 23 0
//   24 switch delay / 2 | 25 FrequencyCode | 26 0xFD
void BuildSwitchCommand(uint8_t out[kSwitchCommandBytes]) {
  if (TakeDataTypeSetting()) RequestProcessingReset();
  g_ping.pingValid = 0;

  int step = g_settings.Range;
  if (g_switch.rangeChangePending.load()) {
    // Until the run mode changes, every command carries the last requested
    // step, even if the user-interface thread has not stored it yet.
    step = g_switch.pendingStep.load();
    g_switch.rangeChangeSent = 1;
  }
  int type = g_ping.expectedType;
  if (type < 0 || type >= kDataTypeCount) type = 0;
  const int delay = g_settings.ExternalTriggerXmitDelay;

  out[0] = 0xFE;
  out[1] = 0x44;
  out[2] = 0x10;
  out[3] = static_cast<uint8_t>(RangeCode(kRangeTable[ClampStep(step)].commandM));
  out[4] = static_cast<uint8_t>(g_switch.rangeOffset & 0xFF);
  out[5] = 0;
  out[6] = 0;
  out[7] = 0;
  out[8] = static_cast<uint8_t>(g_settings.Gain & 0xFF);
  out[9] = 1;
  out[10] = static_cast<uint8_t>(g_headLimits.FrequencyCoefficient & 0xFF);
  out[11] = 0;
  out[12] = 0;
  out[13] = static_cast<uint8_t>(g_switch.packetIndex & 0xFF);
  out[14] = static_cast<uint8_t>((g_settings.PulseLength / 10) & 0xFF);
  out[15] = 0;
  out[16] = static_cast<uint8_t>(g_settings.ExternalTriggerControl & 0xFF);
  out[17] = static_cast<uint8_t>((delay >> 8) & 0xFF);
  out[18] = static_cast<uint8_t>(delay & 0xFF);
  out[19] = static_cast<uint8_t>(kDataTypes[type].packetsPerPing);
  out[20] = 8;
  out[21] = 0;
  out[22] = static_cast<uint8_t>(g_switch.transmitDisabled ? 1 : 0);
  out[23] = 0;
  out[24] = static_cast<uint8_t>((g_settings.SwitchDelay / 2) & 0xFF);
  out[25] = static_cast<uint8_t>(FrequencyCode(g_settings.Frequency, g_switch.headTypeSetting));
  out[26] = 0xFD;
}

// ============================================================ [SECTION] Range requests

int RequestRangeStep(int s) {
  if (g_settings.RunMode != 0) return g_settings.Range;
  const int minStep = g_headLimits.minStep;
  // Half range: below the smallest step of a short-range head the head works
  // at half that step's range; any step above it leaves half range at the
  // smallest step (the caller decides whether to switch half range off).
  if (g_settings.HalfRange && s > minStep) {
    s = minStep;
  } else if (s < minStep && minStep <= 2) {
    s = minStep;
    g_settings.HalfRange = 1;
  } else {
    g_settings.HalfRange = 0;
  }
  if (s > g_headLimits.maxStep) s = g_headLimits.maxStep;
  if (s < minStep) s = minStep;
  s = ClampStep(s);

  g_settings.Range = s;
  const int maxOffset = kRangeTable[s].maxRangeOffset;
  if (g_switch.rangeOffset > maxOffset) g_switch.rangeOffset = maxOffset;
  if (g_switch.rangeOffset < 0) g_switch.rangeOffset = 0;
  if (g_switch.autoPulseLength) g_settings.PulseLength = AutoPulseLength(s);

  g_switch.pendingStep = s;
  g_switch.rangeChangeSent = 0;
  g_switch.rangeChangePending = 1;
  return s;
}

int WaitForPingInProgress() {
  // Never hang the user interface on a head that stopped answering.
  const int64_t t0 = plat::CounterNow();
  while (g_switch.pingInProgress.load() && plat::CounterMs(t0, plat::CounterNow()) < kRangeWaitMs)
    plat::SleepMs(1);
  return g_switch.pingInProgress.load() ? 0 : 1;
}

void ClearRangeChangeMarks() {
  g_switch.pingInProgress = 0;
  g_switch.rangeChangePending = 0;
  g_switch.rangeChangeSent = 0;
}

// ============================================================ [SECTION] Head type

void SetConfigurationFrequencyLimits(int headTypeSetting) {
  if (headTypeSetting == 9) {
    g_headLimits.freqMinKHz = 1000;
    g_headLimits.freqMaxKHz = 3000;
  } else {
    g_headLimits.freqMinKHz = 50;
    g_headLimits.freqMaxKHz = 1000;
  }
}

int ApplyReportedHeadType(int headTypeIndex) {
  if (headTypeIndex == g_switch.lastReportedHeadType) return 0;
  g_switch.lastReportedHeadType = headTypeIndex;
  const HeadTypeRow* row = &kOtherHeadType;
  for (const HeadTypeRow& r : kHeadTypes)
    if (r.reported == headTypeIndex) row = &r;

  g_switch.headTypeSetting = row->setting;
  TakeHeadLimits(*row);

  if (g_settings.RunMode == 0) {
    if (row->setting == 4) {
      if (g_settings.Frequency < g_headLimits.freqMinKHz || g_settings.Frequency > g_headLimits.freqMaxKHz)
        g_settings.Frequency = 260;
    } else if (row->setting != 7) {
      g_settings.Frequency = row->defaultKHz;
    }
  }
  // The start-up limits belong to the start-up head only: a head reporting
  // another type gets the band of its configuration, or "Set Switches"
  // would refuse the head's own frequency. The fallback above still judges
  // the frequency by the limits it was chosen under.
  SetConfigurationFrequencyLimits(row->setting);
  // A head whose longest range is shorter than the one in use must not be
  // sent that range: the step comes down to the head's last one through the
  // usual range-change handshake.
  if (g_settings.RunMode == 0 && g_settings.Range > g_headLimits.maxStep) {
    const int s = ClampStep(g_headLimits.maxStep);
    g_settings.Range = s;
    const int maxOffset = kRangeTable[s].maxRangeOffset;
    if (g_switch.rangeOffset > maxOffset) g_switch.rangeOffset = maxOffset;
    if (g_switch.autoPulseLength) g_settings.PulseLength = AutoPulseLength(s);
    g_switch.pendingStep = s;
    g_switch.rangeChangeSent = 0;
    g_switch.rangeChangePending = 1;
  }
  RequestProcessingReset();
  return 1;
}

// ============================================================ [SECTION] Frequency

int AcceptFrequencyEntry(int c, int* storedKHz) {
  if (c < g_headLimits.freqMinKHz || c > g_headLimits.freqMaxKHz) return 0;
  *storedKHz = 5 * static_cast<int>(std::trunc(c * 0.2 + 0.5));
  return 1;
}

void FrequencyRangeMessage(char* out, size_t size) {
  if (g_headLimits.freqMinKHz == g_headLimits.freqMaxKHz)
    std::snprintf(out, size, "Frequency is out of range!\nFrequency must be %d kHz.",
                  g_headLimits.headDefaultFreqKHz);
  else
    std::snprintf(out, size, "Frequency is out of range!\nUse %d to %d kHz.", g_headLimits.freqMinKHz,
                  g_headLimits.freqMaxKHz);
}

// ============================================================ [SECTION] Run-mode copies

void SaveLiveHeadCopies() {
  // The played records report their own head; the operator's must come back.
  g_switch.liveLimits = g_headLimits;
  g_switch.liveHeadTypeSetting = g_switch.headTypeSetting;
  g_switch.liveReportedHeadType = g_switch.lastReportedHeadType;
  g_liveHead.Xdcr = g_settings.Xdcr;
  g_liveHead.Range = g_settings.Range;
  g_liveHead.Gain = g_settings.Gain;
  g_liveHead.RangeOffset = g_switch.rangeOffset;
  g_liveHead.FrequencyCoefficient = g_headLimits.FrequencyCoefficient;
  g_liveHead.PulseLength = g_settings.PulseLength;
  g_liveHead.ProfileTiltAngle = g_settings.ProfileTiltAngle;
  g_liveHead.SoundVelocityMeters = g_settings.SoundVelocityMeters;
  g_liveHead.SonarXOffsetMeters = g_settings.SonarXOffsetMeters;
  g_liveHead.SonarYOffsetMeters = g_settings.SonarYOffsetMeters;
  g_liveHead.SonarDepthMeters = g_settings.SonarDepthMeters;
}

void RestoreLiveHeadCopies() {
  g_headLimits = g_switch.liveLimits;
  g_switch.headTypeSetting = g_switch.liveHeadTypeSetting;
  g_switch.lastReportedHeadType = g_switch.liveReportedHeadType;
  g_settings.Xdcr = g_liveHead.Xdcr;
  g_settings.Range = g_liveHead.Range;
  g_settings.Gain = g_liveHead.Gain;
  g_switch.rangeOffset = g_liveHead.RangeOffset;
  g_headLimits.FrequencyCoefficient = g_liveHead.FrequencyCoefficient;
  g_settings.PulseLength = g_liveHead.PulseLength;
  g_settings.ProfileTiltAngle = g_liveHead.ProfileTiltAngle;
  g_settings.SoundVelocityMeters = g_liveHead.SoundVelocityMeters;
  g_settings.SonarXOffsetMeters = g_liveHead.SonarXOffsetMeters;
  g_settings.SonarYOffsetMeters = g_liveHead.SonarYOffsetMeters;
  g_settings.SonarDepthMeters = g_liveHead.SonarDepthMeters;
  g_settings.HalfRange = 0;
  ClearRangeChangeMarks();
}
