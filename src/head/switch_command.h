// The switch command: the 27 bytes sent to the head before every return
// packet, rebuilt from the operator's settings each time, with the range
// table, the head-dependent limits and the range-change handshake.
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/constants.h"

struct RangeEntry {
  int commandM;         // metres as sent (step 0 is sent as 1)
  float rangeM;         // metres used for geometry (1.5 for step 0)
  const char* labelM;   // "1.5 M"
  const char* labelFt;  // "4.5 FT"
  const char* labelYds; // "1.5 YDS"
  int maxRangeOffset;
  int twoWayMs;
};
extern const RangeEntry kRangeTable[kRangeSteps];

// Switch state beside g_settings (which holds Range, Gain, PulseLength,
// PulseLengthMultiplier, Frequency, SwitchDelay, ExternalTrigger*, HalfRange).
struct SwitchState {
  // Head-dependent limits, set at start-up and on a change of head type.
  int minStep = 2;
  int maxStep = 11;
  int maxGain = 20;
  int minPulse = 30;
  int freqMinKHz = 240;
  int freqMaxKHz = 260;
  int headDefaultFreqKHz = 260;
  int headTypeSetting = 4;        // head configuration index (0..13)
  int FrequencyCoefficient = 10;  // hundredths
  int lastReportedHeadType = -1;  // HeadTypeIndex of the last return, -1 before any
  int rangeOffset = 0;            // display units
  int transmitDisabled = 0;       // command byte 22 bit 0
  int autoPulseLength = 0;
  int dataType = 0;               // 0 "U", 1 "V", 2 "Z", 3 "Y"
  int packetIndex = 0;            // packet requested next (byte 13)
  int startupComplete = 0;
  // Frequency of the played ping in File mode (the operator's stays in g_settings.Frequency).
  int playbackFrequencyKHz = 260;
  // Range-change handshake between the user-interface and acquisition threads.
  std::atomic<int> pingInProgress{0};
  std::atomic<int> rangeChangePending{0};
  std::atomic<int> rangeChangeSent{0};
  std::atomic<int> pendingStep{5};
};
extern SwitchState g_switch;

void ResetSwitchState();
// Range in metres (float column) of a step, clamped to the table.
float RangeMetersOfStep(int step);
// Operating frequency in force: the operator's in Head mode, the played ping's in File mode.
int FrequencyInUseKHz();
