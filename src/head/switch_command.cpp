// Switch command state and the range table.
#include "head/switch_command.h"

#include "settings/settings.h"

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

void ResetSwitchState() {
  g_switch.minStep = 2;
  g_switch.maxStep = 11;
  g_switch.maxGain = 20;
  g_switch.minPulse = 30;
  g_switch.freqMinKHz = 240;
  g_switch.freqMaxKHz = 260;
  g_switch.headDefaultFreqKHz = 260;
  g_switch.headTypeSetting = 4;
  g_switch.FrequencyCoefficient = 10;
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
  g_switch.pendingStep = 5;
}

float RangeMetersOfStep(int step) {
  if (step < 0) step = 0;
  if (step >= kRangeSteps) step = kRangeSteps - 1;
  return kRangeTable[step].rangeM;
}

int FrequencyInUseKHz() {
  return g_settings.RunMode == 1 ? g_switch.playbackFrequencyKHz : g_settings.Frequency;
}
