// The switch command: the 27 bytes sent to the head before every return
// packet, rebuilt from the operator's settings each time, with the range
// table, the head-dependent limits and the range-change handshake.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "settings/constants.h"
#include "settings/settings.h"

// Limits and start values the operator's entry of the switches uses.
constexpr int kMaxPulseUs = 2500;       // longest pulse length
constexpr int kDefaultRangeStep = 5;    // "Defaults": 30 m
constexpr int kDefaultGain = 3;         // "Defaults": start gain, dB

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
  // The head-dependent limits are g_headLimits (settings), which the loader
  // checks keys against; this module sets them at start-up and on a change
  // of head type.
  int headTypeSetting = 4;        // head configuration index (0..13)
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
  // Set when a change of reported head type or of data type needs the
  // processing chain (geometry, display tables) reset; the acquisition loop
  // clears it once it has done so.
  std::atomic<int> processingResetRequested{0};
  // The operator's head while a file plays, whose records report their own:
  // set by SaveLiveHeadCopies (and ResetSwitchState), put back by
  // RestoreLiveHeadCopies. User-interface thread.
  HeadLimits liveLimits;
  int liveHeadTypeSetting = 4;
  int liveReportedHeadType = -1;
};
extern SwitchState g_switch;

// Start-up state: the head-dependent limits below, no range change pending.
void ResetSwitchState();
// The head-dependent limits in force before the settings file is read:
// steps 2..11, gain 0..20 dB, pulse from 30 us, 240..260 kHz, default 260 kHz,
// head-type setting 4.
void SetStartupHeadLimits();
// A stored frequency names the head the operator last used: its limits come
// into force before the settings are read against them. Heads that share a
// frequency differ only in their longest range, and which of them is
// connected shows only in its first return, so the longest stands until
// then. A frequency no head is made for, or the start-up head's, leaves the
// start-up limits.
void TakeStoredFrequencyHead(int storedKHz);
// Range in metres (float column) of a step, clamped to the table.
float RangeMetersOfStep(int step);
// Range label of a step in the operator's unit ("30 M", "90 FT", "30 YDS").
const char* RangeLabelOfStep(int step);
// Operating frequency in force: the operator's in Head mode, the played ping's in File mode.
int FrequencyInUseKHz();

// ---------------------------------------------------------------- command
// RangeCode: 1..200 metres as themselves, 250/300/400/500 m as 201..204.
int RangeCode(int rangeM);
// FrequencyCode: (f - 330) / 5 + 100 truncating, f first divided by 10 for
// head-type setting 9; low 8 bits.
int FrequencyCode(int frequencyKHz, int headTypeSetting);
// Auto pulse length of a step with the multiplier in force, microseconds.
int AutoPulseLength(int step);
int AutoPulseLengthWith(int step, double multiplier);
// Rebuilds the 27 command bytes from the settings (acquisition thread, before
// every send): takes a new data type into force, clears the ping-valid flag,
// and while a range change is pending sends the pending step's range.
void BuildSwitchCommand(uint8_t out[kSwitchCommandBytes]);

// ---------------------------------------------------------------- range
// The operator asks for range step s (user-interface thread). Head mode only;
// in File mode nothing happens. Applies the half-range rule, clamps s to the
// head's steps, stores it in g_settings.Range, clamps the range offset to the
// step's maximum, follows it with the auto pulse length when that is on and
// marks the change pending for the command builder. Returns the step in force
// afterwards. It does not wait: the console's RequestRangeChange adds the wait
// for the ping in progress with the console lock given up.
int RequestRangeStep(int s);
// Waits (at most 0.5 s) until no ping is in progress; 1 when none is. The
// ping can only end if its thread can take the console lock, so the caller
// must not hold it.
int WaitForPingInProgress();
// The run-mode switch clears the ping-in-progress and range-change marks.
void ClearRangeChangeMarks();

// ---------------------------------------------------------------- head type
// Follows the head type reported in a return (HeadTypeIndex). Returns 1 when
// it differed from the last one reported (settings changed and a processing
// reset requested), 0 otherwise.
int ApplyReportedHeadType(int headTypeIndex);
// Frequency limits of a head configuration: 1000..3000 kHz for setting 9,
// 50..1000 kHz for every other one. Used on a change of reported head type and
// by the head-configuration commands.
void SetConfigurationFrequencyLimits(int headTypeSetting);

// ---------------------------------------------------------------- frequency
// Frequency entry: 1 and *storedKHz = c rounded to the nearest multiple of
// 5 kHz when freqMin <= c <= freqMax, else 0.
int AcceptFrequencyEntry(int c, int* storedKHz);
// The operator's message for a refused frequency ("Frequency is out of ...").
void FrequencyRangeMessage(char* out, size_t size);

// ---------------------------------------------------------------- run mode
// The run-mode switch: entering File mode keeps the operator's head values
// (settings and the switch state's range offset and frequency coefficient)
// in g_liveHead, and the head's limits and type in g_switch; returning to
// Head mode puts them back, switches half-range off and clears the
// range-change marks.
void SaveLiveHeadCopies();
void RestoreLiveHeadCopies();
