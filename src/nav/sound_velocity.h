// Sound-velocity input: a probe on a serial port ("Digibar Pro" or "SBE 37")
// whose readings pass a range test and a nine-value outlier filter, then wait
// for the ping cycle to take them; and the "Sound Velocity" dialog's
// validation and unit conversions as plain functions.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/serial.h"

constexpr double kSoundVelocityLowest = 1400.0;   // m/s
constexpr double kSoundVelocityHighest = 2000.0;  // m/s
constexpr double kSoundVelocityDefault = 1500.0;  // m/s, the dialog's "Default"
constexpr int kProbeLineMax = 256;                // a line reaching this length is dropped
constexpr int kProbeHistory = 9;                  // readings in the outlier filter

constexpr char kSoundVelocityCaption[] = "Sound Velocity";

enum SvDeviceType { kDigibarPro = 0, kSbe37 = 1 };

// The probe's line framer and filter. Touched only by the thread that feeds
// bytes (the probe reader thread while the port is open), except where noted.
struct ProbeState {
  int collecting = 0;                  // a space started a line; CR ends it
  char line[kProbeLineMax + 1] = {};
  int lineLength = 0;
  double history[kProbeHistory] = {};  // accepted readings, newest first; zeros at start
  std::atomic<int> deviceType{0};      // SVDeviceType taken at open
  // Handed to the ping cycle: the filtered value as one 32-bit real written
  // whole, and the flags. Written by the reader thread; probeActive is also
  // cleared by the user-interface thread (setup "Ok", dialog closed).
  std::atomic<float> probeValue{0.0f};
  std::atomic<int> probeActive{0};     // the probe supplies the speed of sound
  std::atomic<int> newValue{0};        // a reading arrived since the diagnostics last showed one
  std::atomic<long> linesTaken{0};     // lines that passed the range test
  std::atomic<long> linesIgnored{0};   // unparsable or out of range
  // The value the ping cycle applied last; written by the ping cycle
  // (TakeQueuedSoundVelocity) and by the dialog's close step.
  double lastApplied = kSoundVelocityDefault;
};
extern ProbeState g_probe;

void ResetSoundVelocity();

// One received byte through the line framer. Returns 1 when it ended a line
// whose reading entered the filter.
int FeedProbeByte(uint8_t byte);
void FeedProbeBytes(const uint8_t* bytes, int count);

// Line parsers: 1 with the reading in m/s inside the limits, else 0.
[[nodiscard]] int ParseDigibarLine(const char* line, int length, double* metresPerSecond);
[[nodiscard]] int ParseSbe37Line(const char* line, int length, double* metresPerSecond);
// The nine-value filter; returns 1 when the result became the probe value.
int FilterProbeReading(double metresPerSecond);
// The median of n values (n <= kProbeHistory).
double MedianOf(const double* values, int n);

// The ping cycle's call, before the next ping: 1 with the value to use as
// SoundVelocityMeters when the probe is active and its value differs from the
// one applied last (which it becomes); 0 when nothing changed.
[[nodiscard]] int TakeQueuedSoundVelocity(double* metresPerSecond);
// Stops the probe supplying the speed of sound (setup dialog "Ok").
void ClearProbeActive();

// Port: opens the device, starts the reader. Returns 1, or 0 silently.
[[nodiscard]] int OpenSoundVelocity(const char* path, const serial::LineSettings& settings, int deviceType);
// The console's call: the port chosen by EnumeratePorts with the settings'
// line settings and SVDeviceType, when the probe is enabled and present.
[[nodiscard]] int OpenSoundVelocityPort();
void CloseSoundVelocity();
int SoundVelocityRunning();

// ---------------------------------------------------------------- dialog
// Units: 0 metres, 1 feet, 2 yards (the Units key).
double SoundVelocityUnitFactor(int units);
const char* SoundVelocityUnitText(int units);  // "m/s", "ft/s", "yds/s"
// The edit box text of a value in the shown unit: "%06.1f".
void FormatSoundVelocity(double shown, char* out, size_t size);
// The edit text as the working value (its first 7 characters). 0 when empty.
int ParseSoundVelocityText(const char* text, double* shown);
// "Ok": 1 with the value in m/s when the shown value lies within the limits
// in that unit; otherwise 0 with the message for the warning box.
[[nodiscard]] int ValidateSoundVelocity(double shown, int units, double* metresPerSecond, char* message,
                                        size_t messageSize);
// After the dialog closed (Ok or Cancel): the probe stops supplying the
// value; returns 1 when, in File mode, the value now in use differs from the
// one applied last (the operator overrode the file's value), which the
// caller records for the playback. The value in use becomes the last applied.
int SoundVelocityDialogClosed(int fileMode, double valueInUse);
