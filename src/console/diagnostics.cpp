// Diagnostics rows: owns the value strings of the Diagnostics window and the
// few inputs no other module keeps (the header of the last ping, which the
// cycle wipes from the record, the link timings, the last control
// datagram's first bytes, the painter's own duration, the velocity mark).
// The rows are built from the shared state of the head link, the settings,
// playback and navigation, after every ping and on request; the window only
// draws them, so the ping never waits for a paint.
#include "console/diagnostics.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "console/ping_cycle.h"
#include "console/playback.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "nav/sound_velocity.h"
#include "platform/platform.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "settings/settings.h"

DiagnosticsState g_diagnostics;

const char* const kDiagnosticsLabels[kDiagnosticsRows] = {
    "Header",    "Type",   "",        "sonar time", "packet time", "proc time",  "plot time",
    "1/PRF",     "",       "display gain", "pulse length", "frequency", "average", "beamwidth",
    "beams",     "",       "velocity", "Pitch",     "Roll",        "Heading",    "HDT",
    "Depth",     "Heave",  "",         "IP Sonar",  "IP Azimuth",  "IP Output",  "Bytes Out",
    "Ext Trigger"};

namespace {

constexpr int kHeadTypeLabels = 19;
const char* const kHeadTypeLabelTable[kHeadTypeLabels] = {
    "260kHz: 120 x 3",   "120kHz: 120 x 7",  "675kHz: 40 x 20",  "675kHz: 120 x 3",
    "260kHz: 90 x 20",   "260kHz: 120 x 20", "260kHz: 120 x 20", "675kHz: 120 x 20",
    "n/a",               "1.7MHz: 120 x 0.9", "120kHz: 120 x 2.5", "675kHz: 120 x 3",
    "260kHz: 120 x 1",   "260kHz: 120 x 40", "120kHz: 120 x 20", "n/a",
    "120kHz: 120 x 20",  "260kHz: 120 x 20", "800kHz: 120 x 20"};

const char* const kBeamwidthNames[4] = {"Wide", "Normal", "Narrow", "Narrow Mixed"};

constexpr int kMegahertzHeadType = 9;
constexpr int kRangeUnitFlag = 1;     // the point record's range unit is always tenths
constexpr int kMaxRateHz = 1000;

void Row(int row, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Row(int row, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(g_diagnostics.rows[row], kDiagnosticsTextBytes, format, args);
  va_end(args);
}

int RoundMs(double ms) { return ms > 0.0 ? static_cast<int>(ms + 0.5) : 0; }

double NowSeconds() {
  const int64_t f = plat::CounterFrequency();
  return f > 0 ? static_cast<double>(plat::CounterNow()) / static_cast<double>(f) : 0.0;
}

void HeaderRows() {
  const DiagnosticsState& d = g_diagnostics;
  const uint8_t* h = d.header;
  if (!d.headerPresent || h[0] == 0) {
    Row(kDiagHeader, "n/a");
    Row(kDiagType, "n/a");
    Row(kDiagHeadLabel, "n/a");
    return;
  }
  Row(kDiagHeader, "%c%c%c   0x%02X, 0x%02X", h[0], h[1], h[2], h[3], h[4]);
  Row(kDiagType, "0x%02X, 0x%02X, 0x%02X", h[9], h[8], h[6]);
  Row(kDiagHeadLabel, "%s", HeadTypeLabel(h[8]));
}

void TimingRows(int fileMode) {
  const DiagnosticsState& d = g_diagnostics;
  int step = g_settings.Range;
  if (step < 0) step = 0;
  if (step >= kRangeSteps) step = kRangeSteps - 1;
  const int twoWay = d.sonarTimeMs == 0 ? 0 : kRangeTable[step].twoWayMs;
  Row(kDiagSonarTime, "%d ms + %d ms", twoWay, d.sonarTimeMs - twoWay);
  Row(kDiagPacketTime, "%d ms, %d ms   %d", d.requestTimeMs, d.transferTimeMs, g_ping.sequenceErrors);
  Row(kDiagProcTime, "%d ms", RoundMs(g_perPing.procTimeMs));
  Row(kDiagPlotTime, "%d + %d ms", RoundMs(g_perPing.plotTimeMs), d.paintTimeMs.load());
  if (fileMode) {
    const int period = g_player.lastPingPeriodMs;
    int rate = period > 0 ? static_cast<int>(1000.0 / period + 0.5) : 0;
    if (rate > kMaxRateHz) rate = 0;
    Row(kDiagPrf, "%s (%d,%dHz)", g_ping.meanPeriodText, period, rate);
  } else {
    Row(kDiagPrf, "%s (%s)", g_ping.meanPeriodText, g_ping.rateText);
  }
}

void SettingRows(int fileMode) {
  if (fileMode)
    Row(kDiagDisplayGain, "%d%%  (%d%%)", g_settings.DisplayGain, g_playback.displayGain);
  else
    Row(kDiagDisplayGain, "%d%%", g_settings.DisplayGain);
  Row(kDiagPulse, "%d us", g_settings.PulseLength);
  const int frequency = FrequencyInUseKHz();
  const double coefficient = g_headLimits.FrequencyCoefficient * 0.01;
  const int headType = g_diagnostics.headerPresent ? g_diagnostics.header[8] : g_ping.headType;
  if (headType == kMegahertzHeadType)
    Row(kDiagFrequency, "%4.2f MHz, %4.2f", frequency * 0.001, coefficient);
  else
    Row(kDiagFrequency, "%d kHz, %4.2f", frequency, coefficient);
  if (g_settings.AvgFilter == 1)
    Row(kDiagAverage, "%d shots", g_settings.AvgFilterIndex);
  else
    Row(kDiagAverage, "Off");
  const int mode = g_settings.ProcessingMode;
  Row(kDiagBeamwidth, "%s", mode >= 0 && mode < 4 ? kBeamwidthNames[mode] : "");
  Row(kDiagBeams, "%d    EQ=%s", g_beamGeom.beams, g_settings.GainEqualization ? "On" : "Off");
}

void VelocityRow(int fileMode, double nowS) {
  DiagnosticsState& d = g_diagnostics;
  const double v = g_settings.SoundVelocityMeters;
  if (g_probe.newValue.exchange(0) | d.newVelocity.exchange(0)) {
    d.velocitySeen = 1;
    d.velocityAtS = nowS;
  }
  d.velocityWarning = 0;
  if (fileMode) {
    d.velocityStar = 0;
    Row(kDiagVelocity, "%6.1f (%6.1f)", v, g_playback.soundSpeed);
    return;
  }
  const int fresh = d.velocitySeen && nowS - d.velocityAtS <= kVelocityFreshSeconds;
  if (fresh) {
    d.velocityStar = !d.velocityStar;
    Row(kDiagVelocity, d.velocityStar ? "%6.1f m/s *" : "%6.1f m/s", v);
    return;
  }
  d.velocityStar = 0;
  // Only a source that should be sending can be late.
  d.velocityWarning = g_probe.probeActive.load() != 0;
  Row(kDiagVelocity, "%6.1f m/s", v);
}

void AttitudeRows(int fileMode) {
  const PlaybackCopies& p = g_playback;
  const double pitch = fileMode ? p.pitchDeg : 0.0;
  const double roll = fileMode ? p.rollDeg : g_liveRollDeg;
  const double heading = fileMode ? p.headingDeg : 0.0;
  Row(kDiagPitch, "% 4.2f deg", pitch);
  Row(kDiagRoll, "% 4.2f deg (%4.2f)", roll, g_settings.ProfileTiltAngle);
  Row(kDiagHeading, "%4.2f deg", heading);
  int hdtValid = 0;
  double hdt = 0.0;
  if (fileMode) {
    hdtValid = p.hdtValid;
    hdt = p.hdtHeadingDeg;
  } else {
    NavSnapshot nav;
    CopyNavSnapshot(&nav);
    hdtValid = nav.trueHeadingValid;
    hdt = nav.trueHeadingDeg;
  }
  if (hdtValid)
    Row(kDiagHdt, "%4.2f deg", hdt);
  else
    Row(kDiagHdt, "n/a");
  if (fileMode) {
    Row(kDiagDepth, "%3.2f m", static_cast<double>(p.depthM));
    Row(kDiagHeave, "%3.2f m", static_cast<double>(p.heaveM));
  } else {
    Row(kDiagDepth, "%3.2f m", g_settings.SonarDepthMeters);
    // The heave status character stays 0 live, so the text ends after the blanks.
    Row(kDiagHeave, "%3.2f m  ", 0.0);
  }
}

void LinkRows() {
  const DiagnosticsState& d = g_diagnostics;
  Row(kDiagIpSonar, "%s d", g_settings.IPAddress_Sonar1);
  Row(kDiagIpAzimuth, "%s", "");
  Row(kDiagIpOutput, "%s", g_settings.IPAddress_Output1);
  char control[3] = {d.controlChars[0], d.controlChars[1], 0};
  Row(kDiagBytesOut, "%d-%d %s", g_outputs.bytesOut, static_cast<int>(g_outputs.outputCounter), control);
  Row(kDiagExtTrigger, "0x%02X     HR-%d", g_ping.extTriggerStatus & 0xFF, kRangeUnitFlag);
}

void InvalidateIfShown() {
  if (g_settings.DiagnosticsWindow) plat::InvalidateWindow(plat::kWinDiagnostics);
}

}  // namespace

const char* HeadTypeLabel(int headTypeIndex) {
  return headTypeIndex >= 0 && headTypeIndex < kHeadTypeLabels ? kHeadTypeLabelTable[headTypeIndex]
                                                                : "n/a";
}

void ResetDiagnostics() {
  DiagnosticsState& d = g_diagnostics;
  std::memset(d.header, 0, sizeof d.header);
  d.headerPresent = 0;
  d.sonarTimeMs = d.requestTimeMs = d.transferTimeMs = 0;
  d.controlChars[0] = d.controlChars[1] = 0;
  d.velocityWarning = d.velocityStar = d.velocitySeen = 0;
  d.velocityAtS = 0.0;
  d.newVelocity.store(0);
  d.paintTimeMs.store(0);
  d.paintStartTicks = 0;
  d.builds = 0;
  BuildDiagnosticsRows(0.0);
  d.builds = 0;
}

void BuildDiagnosticsRows(double nowS) {
  const int fileMode = g_settings.RunMode == 1;
  for (int r = 0; r < kDiagnosticsRows; ++r) g_diagnostics.rows[r][0] = '\0';
  HeaderRows();
  TimingRows(fileMode);
  SettingRows(fileMode);
  VelocityRow(fileMode, nowS);
  AttitudeRows(fileMode);
  LinkRows();
  g_diagnostics.builds++;
}

void UpdateDiagnostics() {
  DiagnosticsState& d = g_diagnostics;
  std::memcpy(d.header, g_pingRecord, sizeof d.header);
  d.headerPresent = d.header[0] != 0;
  BuildDiagnosticsRows(NowSeconds());
  InvalidateIfShown();
}

void RefreshDiagnostics() {
  BuildDiagnosticsRows(NowSeconds());
  InvalidateIfShown();
}

void NoteLinkTimes(int sonarTimeMs, int requestTimeMs, int transferTimeMs) {
  g_diagnostics.sonarTimeMs = sonarTimeMs;
  g_diagnostics.requestTimeMs = requestTimeMs;
  g_diagnostics.transferTimeMs = transferTimeMs;
}

void NoteControlDatagram(const uint8_t* datagram, int length) {
  DiagnosticsState& d = g_diagnostics;
  d.controlChars[0] = length > 0 && datagram ? static_cast<char>(datagram[0]) : 0;
  d.controlChars[1] = length > 1 && datagram && d.controlChars[0] ? static_cast<char>(datagram[1]) : 0;
}

void NoteNewVelocity() { g_diagnostics.newVelocity.store(1); }

void BeginDiagnosticsPaint() { g_diagnostics.paintStartTicks = plat::CounterNow(); }

void EndDiagnosticsPaint() {
  const double ms = plat::CounterMs(g_diagnostics.paintStartTicks, plat::CounterNow());
  g_diagnostics.paintTimeMs.store(RoundMs(ms));
}
