// External control. A remote program sends fixed-layout datagrams to the
// console's output socket; this module receives them, makes every sender the
// destination of later output (so the remote learns nothing but the port it
// already hears from), and applies the datagram: the control byte may switch
// external control off (then nothing else applies), the transmit/window byte
// applies when it changed, and every other field applies when it lies within
// its accepted values and differs from the console's state. The fields are
// described by ONE table in datagram order; each row carries its accepted
// values, whether it is for the live head only, the state it compares with,
// and its effect, which is the same follow-up a menu command does.
//
// Owns: the last control bytes, the "External Control" and "XMIT Disabled"
// box state, the queued speed of sound for Head mode, the allow-list and the
// counters. The apply runs under the console lock, like a menu command.
//
// Index: [SECTION] Allow-list, Effects, Field table, Apply, Receive, Ping hooks.
#include "console/external_control.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "console/acquisition.h"
#include "console/cycle_lock.h"
#include "console/menu_ids.h"
#include "console/ping_cycle.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "head/switch_command.h"
#include "imaging/overlay.h"
#include "imaging/palette.h"
#include "imaging/scan_convert.h"
#include "platform/byte_order.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

ExternalControlState g_extControl;

namespace {

int s_lastResult[kControlDatagramBytes];  // per field offset, the last datagram's outcome

int FileMode() { return g_settings.RunMode == 1; }

}  // namespace

void ResetExternalControl() {
  g_extControl = ExternalControlState{};
  std::memset(s_lastResult, 0, sizeof s_lastResult);
}

// ============================================================ [SECTION] Allow-list

int ParseAllowList(const char* text) {
  ExternalControlState& x = g_extControl;
  x.allowCount = 0;
  x.allowBadEntries = 0;
  std::snprintf(x.allowText, sizeof x.allowText, "%s", text ? text : "");
  x.allowParsed = 1;
  if (text == nullptr) return 0;
  const char* p = text;
  while (*p) {
    while (*p == ' ' || *p == ',' || *p == '\t') ++p;
    if (*p == '\0') break;
    char entry[40];
    int n = 0;
    while (*p && *p != ',' && *p != ' ' && *p != '\t') {
      if (n < static_cast<int>(sizeof entry) - 1) entry[n] = *p;
      ++n;
      ++p;
    }
    if (n >= static_cast<int>(sizeof entry)) {
      x.allowBadEntries++;
      continue;
    }
    entry[n] = '\0';
    int bits = 32;
    if (char* slash = std::strchr(entry, '/')) {
      *slash = '\0';
      char* end = nullptr;
      const long b = std::strtol(slash + 1, &end, 10);
      if (slash[1] == '\0' || *end != '\0' || b < 0 || b > 32) {
        x.allowBadEntries++;
        continue;
      }
      bits = static_cast<int>(b);
    }
    uint32_t addr = 0;
    if (!net::ParseIPv4(entry, &addr) || x.allowCount >= kAllowListMax) {
      x.allowBadEntries++;
      continue;
    }
    const uint32_t mask = bits == 0 ? 0u : 0xFFFFFFFFu << (32 - bits);
    x.allowAddr[x.allowCount] = addr & mask;
    x.allowMask[x.allowCount] = mask;
    x.allowCount++;
  }
  return x.allowCount;
}

int ExternalSenderAllowed(uint32_t addr) {
  ExternalControlState& x = g_extControl;
  // The setting may change at any time (dialog, reload); follow it.
  if (!x.allowParsed || std::strncmp(x.allowText, g_settings.ExternalControlAllow, sizeof x.allowText) != 0)
    ParseAllowList(g_settings.ExternalControlAllow);
  // A list that names nobody it could parse must not open the door to all.
  if (x.allowCount == 0) return x.allowBadEntries == 0;
  for (int i = 0; i < x.allowCount; ++i)
    if ((addr & x.allowMask[i]) == x.allowAddr[i]) return 1;
  return 0;
}

// ============================================================ [SECTION] Effects

namespace {

// A radio group's check moves from the old value's item to the new one's.
void MoveCheck(int firstId, int oldValue, int newValue) {
  plat::CheckMenuItem(firstId + oldValue, 0);
  plat::CheckMenuItem(firstId + newValue, 1);
  g_extControl.menuChecksChanged++;
}
void SetCheck(int id, int on) {
  plat::CheckMenuItem(id, on);
  g_extControl.menuChecksChanged++;
}

void RedrawPicture() {
  ClearImage();
  DrawGrid(plat::kWinMain);
  BlitImage(plat::kWinMain);
}

// Follow-ups the fields of one datagram ask for, carried out once after the
// last field: a datagram that changes sector, beams, tilt and orientation
// rebuilds the tables once, not four times while the cycle waits.
enum FollowUp {
  kFollowChain = 1,    // geometry, processing and display tables (sector, beams, output)
  kFollowDisplay = 2,  // the display mode's tables around the profile offset (tilt, orientation)
  kFollowReset = 4,    // processing histories
  kFollowRedraw = 8,   // picture cleared, grid drawn, shown
};
int s_followUps = 0;

void RunFollowUps() {
  const int f = s_followUps;
  s_followUps = 0;
  if (f & kFollowChain) {
    ForceFrequencyRefresh();
    FrequencyAndHeadRefresh();
  }
  if (f & kFollowDisplay) {
    UpdateProfileOffsetY();
    BuildDisplayTables();
  }
  if (f & kFollowReset) ResetProcessingChain();
  if (f & kFollowRedraw) RedrawPicture();
}

int AveragingValue() { return g_settings.AvgFilter == 1 ? g_settings.AvgFilterIndex : 1; }
// Averaging items are 509 + shots, "Off" (510) standing for one shot.
constexpr int kAveragingIdBase = kCmdAveragingOff - 1;

double OutputSelection() {
  if (g_outputs.combinedOutputRequest) return 3;
  if (g_settings.DataOutputType == kOutputPoints) return 0;
  if (g_settings.DataOutputType == kOutputBeams) return 1;
  return -1;
}

// ---- current values: what a field is compared with
double CurRange() { return g_settings.Range; }
double CurGain() { return g_settings.Gain; }
double CurDisplayGain() { return g_settings.DisplayGain; }
double CurGainEq() { return g_settings.GainEqualization; }
double CurSector() { return g_settings.SectorSize; }
double CurProcessing() { return g_settings.ProcessingMode; }
double CurBeams() { return g_settings.StepSize; }
double CurAveraging() { return AveragingValue(); }
double CurPersistence() { return g_settings.Persistence; }
double CurSoundVelocity() {
  return g_extControl.soundVelocityQueued ? g_extControl.queuedSoundVelocity : g_settings.SoundVelocityMeters;
}
double CurDisplayMode() { return g_settings.DisplayType; }
double CurDetection() { return g_settings.ProfilePointDetection; }
double CurMinimumRange() { return g_detect.minimumRangeM; }
double CurDetectionLevel() { return g_detect.detectionLevelPct; }
double CurXdcr() { return g_settings.Xdcr; }
double CurTilt() { return g_settings.ProfileTiltAngle; }
double CurRoll() { return g_settings.RollCorrection; }
double CurUnits() { return g_settings.Units; }
double CurRecording() { return Recording(); }
double CurTriggerControl() { return g_settings.ExternalTriggerControl; }
double CurTriggerDelay() { return g_settings.ExternalTriggerXmitDelay; }
double CurFilter() { return g_settings.ProfilePointFilter; }
double CurXOffset() { return static_cast<float>(g_settings.SonarXOffsetMeters); }
double CurYOffset() { return static_cast<float>(g_settings.SonarYOffsetMeters); }
double CurDepth() { return static_cast<float>(g_settings.SonarDepthMeters); }
double CurIntensity() { return g_settings.ProfilePointIntensityOutput; }
double CurMinDepth() { return g_settings.ProfileMinDepthBelowSonar; }

// ---- value maps: the datagram's value as the console's, 0 when refused
// outside the plain range test
int MapMinimumRange(double* v) {
  if (*v == 0) *v = static_cast<float>(0.1);  // compared as detection stores it
  return 1;
}
int MapAveraging(double* v) {
  if (*v == 0) *v = 1;  // 0 and 1 both mean off
  return 1;
}
int MapOutputSelection(double* v) { return *v == 0 || *v == 1 || *v == 3; }
int MapTilt(double* v) {
  if (*v == 50) *v = -90;
  else if (*v == 51) *v = 90;
  else *v -= 180;
  return (*v >= -45 && *v <= 45) || *v == -90 || *v == 90;
}

// ---- effects: return kFieldApplied, kFieldQueued or kFieldNotApplied
int DoRange(double v) {
  g_settings.HalfRange = 0;
  RequestRangeChange(static_cast<int>(v));
  plat::InvalidateWindow(plat::kWinMain);  // range labels and the settings panel
  return kFieldApplied;
}
int DoGain(double v) {
  g_settings.Gain = static_cast<int>(v);
  plat::InvalidateWindow(plat::kWinMain);
  return kFieldApplied;
}
int DoDisplayGain(double v) {
  g_settings.DisplayGain = static_cast<int>(v);
  plat::InvalidateWindow(plat::kWinMain);
  return kFieldApplied;
}
int DoGainEq(double v) {
  g_settings.GainEqualization = static_cast<int>(v);
  SetCheck(kCmdGainEqualization, g_settings.GainEqualization);
  return kFieldApplied;
}
int DoSector(double v) {
  const int old = g_settings.SectorSize;
  g_settings.SectorSize = static_cast<int>(v);
  MoveCheck(kCmdSectorFirst, old, g_settings.SectorSize);
  s_followUps |= kFollowChain;
  return kFieldApplied;
}
int DoProcessing(double v) {
  const int old = g_settings.ProcessingMode;
  g_settings.ProcessingMode = static_cast<int>(v);
  MoveCheck(kCmdBeamwidthFirst, old, g_settings.ProcessingMode);
  return kFieldApplied;
}
int DoBeams(double v) {
  const int old = g_settings.StepSize;
  g_settings.StepSize = static_cast<int>(v);
  MoveCheck(kCmdBeamsFirst, old, g_settings.StepSize);
  s_followUps |= kFollowChain;
  return kFieldApplied;
}
int DoAveraging(double v) {
  const int old = AveragingValue();
  const int shots = static_cast<int>(v);
  g_settings.AvgFilter = shots > 1 ? 1 : 0;
  g_settings.AvgFilterIndex = shots;
  MoveCheck(kAveragingIdBase, old, shots);
  s_followUps |= kFollowReset;
  return kFieldApplied;
}
int DoPersistence(double v) {
  const int before = g_settings.Persistence;
  g_settings.Persistence = static_cast<int>(v);
  if (before != 0 && g_settings.Persistence == 0) s_followUps |= kFollowRedraw;
  return kFieldApplied;
}
int DoSoundVelocity(double v) {
  if (!FileMode()) {
    // The acquisition thread may be inside a ping: the next one takes it.
    g_extControl.soundVelocityQueued = 1;
    g_extControl.queuedSoundVelocity = v;
    return kFieldQueued;
  }
  g_settings.SoundVelocityMeters = v;
  g_playback.operatorChangedSoundSpeed = 1;  // the played records no longer set it
  s_followUps |= kFollowReset;
  return kFieldApplied;
}
int DoDisplayMode(double v) {
  const int old = g_settings.DisplayType;
  g_settings.DisplayType = static_cast<int>(v);
  MoveCheck(kCmdDisplayFirst, old, g_settings.DisplayType);
  // Head mode: the acquisition loop takes DisplayType at the next ping boundary.
  if (!FileMode()) return kFieldApplied;
  g_remembered.previousDisplayType = g_settings.DisplayType;
  if (g_scan.geom.mode != g_settings.DisplayType) s_followUps |= kFollowDisplay | kFollowRedraw;
  return kFieldApplied;
}
int DoOutputSelection(double v) {
  if (v == 3) {
    g_outputs.combinedOutputRequest = 1;
    return kFieldApplied;
  }
  g_settings.DataOutputType = v == 0 ? kOutputPoints : kOutputBeams;
  // Point output leaves the beam and sector items to the operator again.
  if (v == 0) {
    for (int id = kCmdBeamsFirst; id <= kCmdBeamsLast; ++id) plat::EnableMenuItem(id, 1);
    for (int id = kCmdSectorFirst; id <= kCmdSectorLast; ++id) plat::EnableMenuItem(id, 1);
  }
  s_followUps |= kFollowChain;
  return kFieldApplied;
}
int DoDetection(double v) {
  g_settings.ProfilePointDetection = static_cast<int>(v);
  return kFieldApplied;
}
int DoMinimumRange(double v) {
  // The map turned 0 into 0.1; the detection module does the same with 0.
  return SetMinimumRange(v < 1 ? 0 : static_cast<int>(v)) ? kFieldApplied : kFieldRejected;
}
int DoDetectionLevel(double v) {
  return SetDetectionLevel(static_cast<int>(v)) ? kFieldApplied : kFieldRejected;
}
int DoXdcr(double v) {
  g_settings.Xdcr = static_cast<int>(v);
  SetCheck(kCmdXdcrUp, g_settings.Xdcr == 1);
  SetCheck(kCmdXdcrDown, g_settings.Xdcr == 0);
  s_followUps |= kFollowDisplay | kFollowRedraw;
  return kFieldApplied;
}
int DoTilt(double v) {
  g_settings.ProfileTiltAngle = v;
  if (FileMode()) g_playback.operatorChangedTilt = 1;
  s_followUps |= kFollowDisplay | kFollowReset;
  return kFieldApplied;
}
int DoRoll(double v) {
  g_settings.RollCorrection = static_cast<int>(v);
  SetCheck(kCmdRollCorrection, g_settings.RollCorrection);
  return kFieldApplied;
}
int DoUnits(double v) {
  const int old = g_settings.Units;
  g_settings.Units = static_cast<int>(v);
  MoveCheck(kCmdUnitsFirst, old, g_settings.Units);
  DrawGrid(plat::kWinMain);
  BlitImage(plat::kWinMain);
  plat::InvalidateWindow(plat::kWinMain);
  return kFieldApplied;
}
// A start switches automatic date-and-time names on; one that cannot open a
// file (no room, no directory) is reported as not applied, not as done.
int DoRecording(double v) {
  if (v == 0) {
    (void)StopRecording();  // stopped either way; a lost write is the recorder's to report
    return kFieldApplied;
  }
  return StartExternalRecording() ? kFieldApplied : kFieldNotApplied;
}
int DoTriggerControl(double v) {
  g_settings.ExternalTriggerControl = static_cast<int>(v);
  return kFieldApplied;
}
int DoTriggerDelay(double v) {
  g_settings.ExternalTriggerXmitDelay = static_cast<int>(v);
  return kFieldApplied;
}
int DoFilter(double v) {
  g_settings.ProfilePointFilter = static_cast<int>(v);
  return kFieldApplied;
}
int DoXOffset(double v) {
  g_settings.SonarXOffsetMeters = v;
  return kFieldApplied;
}
int DoYOffset(double v) {
  g_settings.SonarYOffsetMeters = v;
  return kFieldApplied;
}
int DoDepth(double v) {
  g_settings.SonarDepthMeters = v;
  return kFieldApplied;
}
int DoIntensity(double v) {
  g_settings.ProfilePointIntensityOutput = static_cast<int>(v);
  return kFieldApplied;
}
int DoMinDepth(double v) {
  g_settings.ProfileMinDepthBelowSonar = v;
  return kFieldApplied;
}

// ============================================================ [SECTION] Field table

enum FieldKind { kU8 = 0, kBE16, kFloatLE };

struct ControlField {
  int offset;
  int kind;
  double divisor;             // the datagram's number over this (tenths: 10)
  double lo, hi;              // accepted values after scaling and mapping
  int liveOnly;               // Head mode only
  int (*map)(double* v);      // optional: translate, 0 refuses
  double (*current)();        // the console's value it is compared with
  int (*effect)(double v);
};

int Width(int kind) { return kind == kU8 ? 1 : kind == kBE16 ? 2 : 4; }

// Limits that depend on the connected head are filled in at apply time.
constexpr double kHeadLimit = -1;

// Every field after the two control bytes, in the order they are applied.
const ControlField kFields[] = {
    {7, kU8, 1, kHeadLimit, kHeadLimit, 1, nullptr, CurRange, DoRange},
    {8, kU8, 1, 0, kHeadLimit, 1, nullptr, CurGain, DoGain},
    {9, kU8, 1, 1, 100, 0, nullptr, CurDisplayGain, DoDisplayGain},
    {10, kU8, 1, 0, 1, 0, nullptr, CurGainEq, DoGainEq},
    {11, kU8, 1, 0, 5, 0, nullptr, CurSector, DoSector},
    {12, kU8, 1, 0, 3, 0, nullptr, CurProcessing, DoProcessing},
    {13, kU8, 1, 0, 2, 0, nullptr, CurBeams, DoBeams},
    {14, kU8, 1, 1, 10, 0, MapAveraging, CurAveraging, DoAveraging},
    {15, kBE16, 1, 0, 600, 0, nullptr, CurPersistence, DoPersistence},
    {17, kBE16, 10, 1400.0, 2000.0, 0, nullptr, CurSoundVelocity, DoSoundVelocity},
    {19, kU8, 1, 0, 4, 0, nullptr, CurDisplayMode, DoDisplayMode},
    {20, kU8, 1, 0, 3, 0, MapOutputSelection, OutputSelection, DoOutputSelection},
    {21, kU8, 1, 0, 1, 0, nullptr, CurDetection, DoDetection},
    {22, kU8, 1, 0, 100, 0, MapMinimumRange, CurMinimumRange, DoMinimumRange},
    {23, kU8, 1, 10, 90, 0, nullptr, CurDetectionLevel, DoDetectionLevel},
    {24, kU8, 1, 0, 1, 0, nullptr, CurXdcr, DoXdcr},
    {25, kU8, 1, -90, 90, 0, MapTilt, CurTilt, DoTilt},
    {26, kU8, 1, 0, 1, 0, nullptr, CurRoll, DoRoll},
    {27, kU8, 1, 0, 2, 0, nullptr, CurUnits, DoUnits},
    {28, kU8, 1, 0, 1, 1, nullptr, CurRecording, DoRecording},
    {31, kU8, 1, 0, 255, 0, nullptr, CurTriggerControl, DoTriggerControl},
    {32, kBE16, 1, 0, 10000, 0, nullptr, CurTriggerDelay, DoTriggerDelay},
    {34, kU8, 1, 0, 2, 0, nullptr, CurFilter, DoFilter},
    {36, kFloatLE, 1, -100, 100, 0, nullptr, CurXOffset, DoXOffset},
    {40, kFloatLE, 1, -100, 100, 0, nullptr, CurYOffset, DoYOffset},
    {44, kFloatLE, 1, -100, 6000, 0, nullptr, CurDepth, DoDepth},
    {58, kU8, 1, 0, 1, 0, nullptr, CurIntensity, DoIntensity},
    {59, kBE16, 10, 0, 100, 0, nullptr, CurMinDepth, DoMinDepth},
};

// Tenths are divided, not multiplied by 0.1, so 14901 becomes the same
// double as "1490.1" typed into a dialog or read from the settings file.
double ReadField(const uint8_t* d, const ControlField& f) {
  switch (f.kind) {
    case kU8: return d[f.offset] / f.divisor;
    case kBE16: return GetBE16(d + f.offset) / f.divisor;
    default: return GetFloatLE(d + f.offset) / f.divisor;
  }
}

void Note(int offset, int result) {
  ExternalControlState& x = g_extControl;
  s_lastResult[offset] = result;
  switch (result) {
    case kFieldApplied: x.fieldsApplied++; break;
    case kFieldQueued: x.fieldsQueued++; break;
    case kFieldRejected: x.fieldsRejected++; break;
    case kFieldLiveOnly: x.fieldsLiveOnly++; break;
    case kFieldNotApplied: x.fieldsNotApplied++; break;
    default: break;
  }
}

int ApplyField(const uint8_t* d, int length, const ControlField& f) {
  if (f.offset + Width(f.kind) > length) return kFieldAbsent;
  double v = ReadField(d, f);
  if (f.map && !f.map(&v)) return kFieldRejected;
  double lo = f.lo, hi = f.hi;
  if (f.offset == 7) lo = g_headLimits.minStep, hi = g_headLimits.maxStep;
  if (f.offset == 8) hi = g_headLimits.maxGain;
  // Written so that a NaN float fails it.
  if (!(v >= lo && v <= hi)) return kFieldRejected;
  // The Profile picture has no persistence to set.
  if (f.offset == 15 && g_settings.DisplayType == kModeProfile) return kFieldRejected;
  if (v == f.current()) return kFieldUnchanged;
  if (f.liveOnly && FileMode()) return kFieldLiveOnly;
  return f.effect(v);
}

}  // namespace

// ============================================================ [SECTION] Apply

int LastFieldResult(int offset) {
  if (offset < 0 || offset >= kControlDatagramBytes) return kFieldAbsent;
  return s_lastResult[offset];
}

int ApplyControlDatagram(const uint8_t* data, int length, uint32_t senderAddr, int senderPort) {
  CycleLock lock;
  ExternalControlState& x = g_extControl;
  x.datagramsReceived++;
  if (!ExternalSenderAllowed(senderAddr)) {
    x.datagramsIgnored++;
    return 0;
  }
  x.lastSenderAddr = senderAddr;
  x.lastSenderPort = senderPort;
  SetOutputDestination(senderAddr, senderPort);

  // The receive buffer's size: anything longer is cut, anything shorter
  // leaves its missing fields alone rather than reading them as zeros.
  uint8_t d[kControlDatagramBytes] = {};
  if (data == nullptr || length < 0) length = 0;
  if (length > kControlDatagramBytes) length = kControlDatagramBytes;
  if (length > 0) std::memcpy(d, data, static_cast<size_t>(length));
  for (int i = 0; i < kControlDatagramBytes; ++i) s_lastResult[i] = kFieldAbsent;
  if (length < 4) return 0;

  int taken = 0;
  s_lastResult[3] = kFieldUnchanged;
  if (d[3] != x.lastByte3) {
    x.lastByte3 = d[3];
    x.enabled = d[3] & 1;
    Note(3, kFieldApplied);
    ++taken;
  }
  if (!x.enabled) {
    x.datagramsOff++;
    return taken;
  }
  if (length >= 5) {
    s_lastResult[4] = kFieldUnchanged;
    if (d[4] != x.lastByte4) {
      x.lastByte4 = d[4];
      g_switch.transmitDisabled = d[4] & 1;
      x.xmitBoxShown = g_switch.transmitDisabled;
      plat::InvalidateWindow(plat::kWinMain);  // the "XMIT Disabled" box
      const int hidden = (d[4] >> 1) & 1;
      if (hidden != x.mainWindowHidden) {
        x.mainWindowHidden = hidden;
        plat::ShowWindow(plat::kWinMain, !hidden);
      }
      Note(4, kFieldApplied);
      ++taken;
    }
  }
  for (const ControlField& f : kFields) {
    // Both outputs are asked for again by every datagram that wants them.
    if (f.offset == 20) g_outputs.combinedOutputRequest = 0;
    const int r = ApplyField(d, length, f);
    Note(f.offset, r);
    if (r == kFieldApplied || r == kFieldQueued) ++taken;
  }
  RunFollowUps();
  g_outputs.eventMarkPending = 1;
  x.boxShown = 1;
  x.boxPingsLeft = kControlBoxPings;
  x.boxRestarts++;
  plat::InvalidateWindow(plat::kWinMain);
  return taken;
}

// ============================================================ [SECTION] Receive

int PollExternalControl() {
  int received = 0;
  for (;;) {
    const int fd = g_outputs.socket;
    if (fd < 0) break;
    uint8_t buffer[kControlDatagramBytes];
    uint32_t from = 0;
    int port = 0;
    const int n = net::UdpReceive(fd, buffer, sizeof buffer, &from, &port);
    if (n < 0) {
      if (n != -EAGAIN && n != -EWOULDBLOCK) g_extControl.receiveErrors++;
      break;
    }
    ++received;
    (void)ApplyControlDatagram(buffer, n, from, port);
  }
  return received;
}

// ============================================================ [SECTION] Ping hooks

void ExternalControlBeforePing() {
  ExternalControlState& x = g_extControl;
  if (!x.soundVelocityQueued) return;
  x.soundVelocityQueued = 0;
  if (g_settings.SoundVelocityMeters == x.queuedSoundVelocity) return;
  g_settings.SoundVelocityMeters = x.queuedSoundVelocity;
  ResetProcessingChain();
}

void ExternalControlAfterPing() {
  ExternalControlState& x = g_extControl;
  if (x.boxShown && --x.boxPingsLeft <= 0) {
    x.boxShown = 0;
    x.boxPingsLeft = 0;
    plat::InvalidateWindow(plat::kWinMain);
  }
  if (FileMode()) return;
  if (!g_switch.transmitDisabled) {
    if (x.xmitBoxShown) {
      x.xmitBoxShown = 0;
      plat::InvalidateWindow(plat::kWinMain);
    }
    return;
  }
  const int second = plat::GetLocalTime().second;
  if (second == x.xmitLastSecond) return;
  x.xmitLastSecond = second;
  x.xmitBoxShown = !x.xmitBoxShown;
  x.xmitToggles++;
  plat::InvalidateWindow(plat::kWinMain);
}
