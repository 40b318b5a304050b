// Sound-velocity probe input and the speed-of-sound dialog's rules.
//
// Bytes from the probe reader thread go through a line framer (a space
// starts a line, carriage return ends it), then the parser of the probe
// type. A reading inside 1400 ... 2000 m/s enters a nine-value median filter
// with a MAD outlier test; the filtered value waits in g_probe until the ping
// cycle takes it between pings, so a ping never sees the speed of sound
// change half-way. The history starts at zero, so the first four readings
// give a median of 0 and never reach the speed of sound.
//
// Owns g_probe and the probe reader.
#include "nav/sound_velocity.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "nav/com_ports.h"
#include "nav/nav_state.h"
#include "settings/settings.h"

ProbeState g_probe;

namespace {

constexpr double kFeetPerMetre = 3.2808399;
constexpr double kYardsPerMetre = 1.0936133;
constexpr double kMadScale = 1.4826;  // MAD to standard deviation of a normal spread
constexpr int kSbeLineExamined = 80;
constexpr int kSbeBackToComma = 20;
constexpr int kNumberChars = 20;

serial::Reader g_probeReader;

int InLimits(double v) { return v >= kSoundVelocityLowest && v <= kSoundVelocityHighest; }

// Up to n characters from text as a decimal number; 0 when no digit.
int ReadNumber(const char* text, int n, double* v) {
  char buf[kNumberChars + 1];
  int k = 0;
  for (int i = 0; i < n && k < kNumberChars && text[i] != '\0'; ++i) buf[k++] = text[i];
  buf[k] = '\0';
  int digits = 0;
  for (int i = 0; i < k; ++i) digits += buf[i] >= '0' && buf[i] <= '9';
  if (!digits) return 0;
  char* end = nullptr;
  *v = std::strtod(buf, &end);
  return end != buf && std::isfinite(*v);
}

void EndLine() {
  ProbeState& p = g_probe;
  p.line[p.lineLength] = '\0';
  double v = 0.0;
  const int ok = p.deviceType.load(std::memory_order_relaxed) == kSbe37 ? ParseSbe37Line(p.line, p.lineLength, &v)
                                                                         : ParseDigibarLine(p.line, p.lineLength, &v);
  if (!ok) {
    p.linesIgnored.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  p.linesTaken.fetch_add(1, std::memory_order_relaxed);
  FilterProbeReading(v);
}

}  // namespace

void ResetSoundVelocity() {
  ProbeState& p = g_probe;
  p.collecting = 0;
  p.lineLength = 0;
  for (double& h : p.history) h = 0.0;
  p.deviceType = 0;
  p.probeValue = 0.0f;
  p.probeActive = 0;
  p.newValue = 0;
  p.linesTaken = 0;
  p.linesIgnored = 0;
  p.lastApplied = kSoundVelocityDefault;
}

int FeedProbeByte(uint8_t b) {
  ProbeState& p = g_probe;
  if (!p.collecting) {
    if (b == ' ') {
      p.collecting = 1;
      p.lineLength = 0;
    }
    return 0;
  }
  if (b == '\r') {
    p.collecting = 0;
    if (NavHold()) return 0;
    const long before = p.linesTaken.load(std::memory_order_relaxed);
    EndLine();
    return p.linesTaken.load(std::memory_order_relaxed) != before;
  }
  p.line[p.lineLength++] = static_cast<char>(b);
  if (p.lineLength >= kProbeLineMax) {
    p.collecting = 0;
    p.lineLength = 0;
  }
  return 0;
}

void FeedProbeBytes(const uint8_t* bytes, int count) {
  for (int i = 0; i < count; ++i) FeedProbeByte(bytes[i]);
}

// Digibar Pro: the reading in the first seven characters, "1500.00" in m/s
// or "4921.26" in ft/s; a value within the limits expressed in ft/s is feet.
int ParseDigibarLine(const char* line, int length, double* out) {
  double v;
  if (!ReadNumber(line, length < 7 ? length : 7, &v)) return 0;
  if (v >= kSoundVelocityLowest * kFeetPerMetre && v <= kSoundVelocityHighest * kFeetPerMetre) v *= 0.3048;
  if (!InLimits(v)) return 0;
  *out = v;
  return 1;
}

// SBE 37: comma-separated values, the sound velocity last
// ("  22.3612,  0.00001,    0.237, 1488.901"). At most 80 characters are
// looked at, and the last comma must lie within 20 of their end.
int ParseSbe37Line(const char* line, int length, double* out) {
  const int end = length < kSbeLineExamined ? length : kSbeLineExamined;
  int comma = -1;
  for (int i = end - 1; i >= 0 && i >= end - kSbeBackToComma; --i) {
    if (line[i] == ',') {
      comma = i;
      break;
    }
  }
  if (comma < 0) return 0;
  char buf[kNumberChars + 1];
  int k = 0;
  for (int i = comma + 1; i < end && i <= comma + kNumberChars && k < kNumberChars; ++i) {
    const char c = line[i];
    if ((c >= '0' && c <= '9') || c == '.') {
      buf[k++] = c;
    } else if (k > 0 || c != ' ') {
      break;
    }
  }
  buf[k] = '\0';
  double v;
  if (!ReadNumber(buf, k, &v) || !InLimits(v)) return 0;
  *out = v;
  return 1;
}

double MedianOf(const double* values, int n) {
  double s[kProbeHistory];
  if (n <= 0) return 0.0;
  if (n > kProbeHistory) n = kProbeHistory;
  for (int i = 0; i < n; ++i) {
    double v = values[i];
    int j = i - 1;
    while (j >= 0 && s[j] > v) {
      s[j + 1] = s[j];
      --j;
    }
    s[j + 1] = v;
  }
  return (n & 1) ? s[n / 2] : 0.5 * (s[n / 2 - 1] + s[n / 2]);
}

int FilterProbeReading(double v) {
  ProbeState& p = g_probe;
  for (int i = kProbeHistory - 1; i > 0; --i) p.history[i] = p.history[i - 1];
  p.history[0] = v;
  const double m = MedianOf(p.history, kProbeHistory);
  double deviation[kProbeHistory];
  for (int i = 0; i < kProbeHistory; ++i) deviation[i] = std::fabs(p.history[i] - m);
  const double mad = MedianOf(deviation, kProbeHistory);
  const double result = std::fabs(v - m) < kMadScale * mad * 1.0 ? v : m;
  if (!InLimits(result)) return 0;
  p.probeValue.store(static_cast<float>(result), std::memory_order_relaxed);
  p.newValue.store(1, std::memory_order_relaxed);
  p.probeActive.store(1, std::memory_order_release);
  return 1;
}

int TakeQueuedSoundVelocity(double* out) {
  ProbeState& p = g_probe;
  if (!p.probeActive.load(std::memory_order_acquire)) return 0;
  const double v = p.probeValue.load(std::memory_order_relaxed);
  if (v == p.lastApplied) return 0;
  p.lastApplied = v;
  *out = v;
  return 1;
}

void ClearProbeActive() { g_probe.probeActive.store(0, std::memory_order_release); }

namespace {
void OnProbeBytes(const uint8_t* bytes, int count, void*) { FeedProbeBytes(bytes, count); }
}  // namespace

int OpenSoundVelocity(const char* path, const serial::LineSettings& settings, int deviceType) {
  CloseSoundVelocity();
  g_probe.collecting = 0;
  g_probe.deviceType = deviceType == kSbe37 ? kSbe37 : kDigibarPro;
  return serial::StartReader(&g_probeReader, path, settings, OnProbeBytes, nullptr);
}

int OpenSoundVelocityPort() {
  if (g_settings.ComPortSVEnable != 1 || !g_comPorts.svPresent) return 0;
  return OpenSoundVelocity(g_comPorts.svPath, SvLineSettings(), g_settings.SVDeviceType);
}

void CloseSoundVelocity() { serial::StopReader(&g_probeReader); }

int SoundVelocityRunning() { return g_probeReader.running.load(); }

// ============================================================ dialog

double SoundVelocityUnitFactor(int units) {
  if (units == 1) return kFeetPerMetre;
  if (units == 2) return kYardsPerMetre;
  return 1.0;
}

const char* SoundVelocityUnitText(int units) {
  if (units == 1) return "ft/s";
  if (units == 2) return "yds/s";
  return "m/s";
}

void FormatSoundVelocity(double shown, char* out, size_t size) { std::snprintf(out, size, "%06.1f", shown); }

int ParseSoundVelocityText(const char* text, double* shown) {
  if (text == nullptr) return 0;
  return ReadNumber(text, 7, shown);
}

int ValidateSoundVelocity(double shown, int units, double* out, char* message, size_t size) {
  const double f = SoundVelocityUnitFactor(units);
  const double low = kSoundVelocityLowest * f;
  const double high = kSoundVelocityHighest * f;
  // The limits are judged as the message shows them, to a tenth: 6561.7
  // ft/s is offered as the highest value, so it must be accepted (it is
  // then held to 2000 m/s below).
  const double shownLow = std::round(low * 10.0) / 10.0, shownHigh = std::round(high * 10.0) / 10.0;
  if (!(shown >= shownLow - 1e-9 && shown <= shownHigh + 1e-9)) {
    if (message && size) {
      std::snprintf(message, size, "Speed of Sound is out of range!\nUse %6.1f to %6.1f %s.", low, high,
                    SoundVelocityUnitText(units));
    }
    return 0;
  }
  const double metres = units == 1 ? shown * 0.3048 : units == 2 ? shown * 0.9144 : shown;
  *out = metres < kSoundVelocityLowest ? kSoundVelocityLowest
                                       : metres > kSoundVelocityHighest ? kSoundVelocityHighest : metres;
  return 1;
}

int SoundVelocityDialogClosed(int fileMode, double valueInUse) {
  ClearProbeActive();
  const int changed = fileMode && valueInUse != g_probe.lastApplied;
  g_probe.lastApplied = valueInUse;
  return changed;
}
