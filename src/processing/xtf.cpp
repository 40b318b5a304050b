// XTF sidescan export. For every processed ping (not in Beam Test) while an
// XTF file is open, the per-ping output sequence calls WriteXtfPing, which
// writes the 1024-byte file header before the first ping and then the ping
// header and the two channels of the sidescan line that beamforming built
// (port samples, then starboard). Times come from the stamp of the record
// being played (File mode) or of the acquisition cycle (Head mode),
// navigation from the played record's copies or the GPS state.
// Owns: the XTF file, its byte count, the last coordinates and its status line.
#include "processing/xtf.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/byte_order.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "platform/platform.h"
#include "processing/beamform.h"
#include "processing/outputs.h"
#include "settings/settings.h"

XtfState g_xtf;

namespace {

uint8_t s_ping[kXtfMaxPingBytes];

void RefreshStatus() {
  if (!g_xtf.open) {
    if (g_xtf.status[0] != '\0') {
      g_xtf.status[0] = '\0';
      g_xtf.statusKb = -1;
      plat::InvalidateWindow(plat::kWinMain);
    }
    return;
  }
  const int kb = static_cast<int>(g_xtf.bytesWritten / 1024);
  if (kb == g_xtf.statusKb) return;
  g_xtf.statusKb = kb;
  FormatRecordingStatus(g_xtf.status, sizeof g_xtf.status, g_xtf.name, kb, nullptr);
  plat::InvalidateWindow(plat::kWinMain);
}

}  // namespace

void ResetXtf() {
  CloseXtfFile();
  g_xtf = XtfState{};
}

int MonthOfText(const char* three) {
  static const char* kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                    "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
  if (three == nullptr) return 0;
  for (int m = 0; m < 12; ++m)
    if (std::strncmp(three, kMonths[m], 3) == 0) return m + 1;
  return 0;
}

int XtfDayOfYear(int day, int month, int year) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int leap = year >= 1992 && year <= 2048 && (year - 1992) % 4 == 0;
  int doy = day;
  for (int m = 1; m < month && m <= 12; ++m) doy += (m == 2 && leap) ? 29 : kDays[m - 1];
  return (doy < 1 || doy > 366) ? 1 : doy;
}

int PositionDegrees(const char* text, int textBytes, float* degrees) {
  if (text == nullptr || degrees == nullptr || textBytes < 13 || text[0] == '\0') return 0;
  // Latitude: " DD.MM.MMMMM N"; longitude: "DDD.MM.MMMMM E". Degrees end at the first '.'.
  int i = 0;
  while (i < textBytes && text[i] == ' ') ++i;
  int deg = 0, degDigits = 0;
  while (i < textBytes && text[i] >= '0' && text[i] <= '9') {
    deg = deg * 10 + (text[i] - '0');
    ++i;
    ++degDigits;
  }
  if (degDigits == 0 || i >= textBytes || text[i] != '.') return 0;
  ++i;
  if (i + 8 > textBytes) return 0;
  const int wholeMin = FieldNumber(text + i, 2);
  if (text[i + 2] != '.') return 0;
  const int fracMin = FieldNumber(text + i + 3, 5);
  const char hemi = text[textBytes - 1];
  float value = static_cast<float>(deg) + (static_cast<float>(wholeMin) + fracMin * 1e-5f) / 60.0f;
  if (hemi == 'S' || hemi == 'W') value = -value;
  *degrees = value;
  return 1;
}

int OpenXtfFile(const char* path) {
  CloseXtfFile();
  if (path == nullptr || std::strlen(path) >= kXtfNameBytes) return 0;
  if (!OpenOutputFile(g_xtf.file, path, kOutputCreate)) return 0;
  g_xtf.open = 1;
  g_xtf.firstPing = 1;
  g_xtf.bytesWritten = 0;
  g_xtf.pingsWritten = 0;
  std::snprintf(g_xtf.name, sizeof g_xtf.name, "%s", path);
  RefreshStatus();
  return 1;
}

int CloseXtfFile() {
  const int wasOpen = OutputOpen(g_xtf.file);
  const int ok = CloseOutput(g_xtf.file);
  if (wasOpen && !ok) g_xtf.closeErrors++;
  g_xtf.open = 0;
  RefreshStatus();
  return ok;
}

int XtfFileOpen() { return g_xtf.open && OutputOpen(g_xtf.file); }
int XtfFileFailed() { return OutputFailed(g_xtf.file); }

// File header (1024 bytes, zero where not listed):
//   0 format 123, 1 system type 1, 2 program "Cardovex", 10 version "100",
//   18 sonar name, 34 sonar type 4096, 36 note, 100 file name,
//   164 navigation units 3, 166 channels 2,
//   256 / 384 channel information: type 1 port / 2 starboard, correction
//   flags 1, unipolar 1, bytes per sample 1, samples per channel at +8, name at +12.
void BuildXtfFileHeader(uint8_t out[kXtfFileHeaderBytes], int sampleCount) {
  std::memset(out, 0, kXtfFileHeaderBytes);
  out[0] = 123;
  out[1] = 1;
  std::memcpy(out + 2, "Cardovex", 8);
  PutText(out + 10, "100", 8);
  PutText(out + 18, "K41 Sidescan", 16);
  out[34] = 0x00;
  out[35] = 0x10;
  PutText(out + 36, "Cardovex Technology Corp.", 64);
  PutText(out + 100, "cardovex.xtf", 64);
  PutLE16(out + 164, 3);
  PutLE16(out + 166, 2);
  for (int ch = 0; ch < 2; ++ch) {
    uint8_t* c = out + 256 + 128 * ch;
    c[0] = static_cast<uint8_t>(ch + 1);
    c[1] = 0;
    PutLE16(c + 2, 1);
    PutLE16(c + 4, 1);
    PutLE16(c + 6, 1);
    PutLE32(c + 8, static_cast<uint32_t>(sampleCount));
    PutText(c + 12, ch == 0 ? "PORT" : "STBD", 16);
  }
}

// Ping header (256 bytes): 0 magic 0xFACE, 2 type 0, 3 sub-channel 0,
// 4 channels 2, 10 bytes in record, 14 year, 16 month, 17 day, 18 hour,
// 19 minute, 20 second, 21 hundredths, 22 day of year, 28 ping number,
// 32 sound velocity / 2, 120 ship speed, 124 gyro, 128/136 ship Y/X,
// 152 sensor speed, 160/168 sensor Y/X, 216 heave.
// Channel header (64 bytes): 0 channel, 2 down-sample method 2,
// 4 slant range m, 16 time duration s, 42 samples.
int BuildXtfPing(uint8_t* out, int outSize, int sampleCount) {
  if (sampleCount < 0) sampleCount = 0;
  if (sampleCount > kMaxSamples) sampleCount = kMaxSamples;
  const int length = kXtfPingHeaderBytes + 2 * (kXtfChannelHeaderBytes + sampleCount);
  if (out == nullptr || outSize < length) return 0;
  std::memset(out, 0, static_cast<size_t>(length));

  const int fileMode = g_settings.RunMode == 1;
  const TimeStamp& ts = fileMode ? g_playback.stamp : g_timeStamps.current;
  NavSnapshot nav;
  CopyNavSnapshot(&nav);
  double speedKnots = fileMode ? g_playback.speedKnots : nav.speedKnots;
  const double headingDeg = fileMode ? g_playback.headingDeg : 0.0;
  const double heaveM = fileMode ? g_playback.heaveM : 0.0;
  // Coordinates: the latest position; a record without one keeps the last.
  {
    const char* lat = fileMode ? g_playback.latitude : nav.latitude;
    const char* lon = fileMode ? g_playback.longitude : nav.longitude;
    const int present = fileMode ? g_playback.positionPresent : (nav.latitude[0] != '\0');
    float la = 0.f, lo = 0.f;
    if (present && PositionDegrees(lat, kPositionTextBytes, &la) &&
        PositionDegrees(lon, kPositionTextBytes, &lo)) {
      g_xtf.latitudeDeg = la;
      g_xtf.longitudeDeg = lo;
    }
  }

  uint8_t* h = out;
  PutLE16(h + 0, 0xFACE);
  h[2] = 0;
  h[3] = 0;
  PutLE16(h + 4, 2);
  PutLE32(h + 10, static_cast<uint32_t>(length));
  const int day = FieldNumber(ts.date, 2);
  const int month = MonthOfText(ts.date + 3);
  const int year = FieldNumber(ts.date + 7, 4);
  PutLE16(h + 14, year);
  h[16] = static_cast<uint8_t>(month);
  h[17] = static_cast<uint8_t>(day);
  h[18] = static_cast<uint8_t>(FieldNumber(ts.time, 2));
  h[19] = static_cast<uint8_t>(FieldNumber(ts.time + 3, 2));
  h[20] = static_cast<uint8_t>(FieldNumber(ts.time + 6, 2));
  h[21] = static_cast<uint8_t>(FieldNumber(ts.hundredths + 1, 2));
  PutLE16(h + 22, XtfDayOfYear(day, month, year));
  PutLE32(h + 28, g_outputs.outputCounter);
  const double sv = g_settings.SoundVelocityMeters;
  PutFloatLE(h + 32, static_cast<float>(sv * 0.5));
  PutFloatLE(h + 120, static_cast<float>(speedKnots));
  PutFloatLE(h + 124, static_cast<float>(headingDeg));
  PutDoubleLE(h + 128, static_cast<double>(g_xtf.latitudeDeg));
  PutDoubleLE(h + 136, static_cast<double>(g_xtf.longitudeDeg));
  PutFloatLE(h + 152, static_cast<float>(speedKnots));
  PutDoubleLE(h + 160, static_cast<double>(g_xtf.latitudeDeg));
  PutDoubleLE(h + 168, static_cast<double>(g_xtf.longitudeDeg));
  PutFloatLE(h + 216, static_cast<float>(heaveM));

  const float rangeM = RangeMetersOfStep(g_settings.Range);
  const float duration = sv > 0.0 ? static_cast<float>(rangeM / (sv * 0.5)) : 0.0f;
  uint8_t* p = out + kXtfPingHeaderBytes;
  for (int ch = 0; ch < 2; ++ch) {
    PutLE16(p + 0, ch);
    PutLE16(p + 2, 2);
    PutFloatLE(p + 4, rangeM);
    PutFloatLE(p + 16, duration);
    PutLE32(p + 42, static_cast<uint32_t>(sampleCount));
    p += kXtfChannelHeaderBytes;
    // Port is entries 0..S-1 of the sidescan line, starboard S..2S-1; an
    // entry the line does not have is written 0.
    const int first = ch * sampleCount;
    for (int i = 0; i < sampleCount; ++i) {
      const int e = first + i;
      p[i] = e < g_sidescanLength ? static_cast<uint8_t>(g_sidescanLine[e] & 0xFF) : 0;
    }
    p += sampleCount;
  }
  return length;
}

int WriteXtfPing() {
  if (!XtfFileOpen()) return 0;
  const int samples = g_sampleCount;
  int ok = 1;
  if (g_xtf.firstPing) {
    uint8_t header[kXtfFileHeaderBytes];
    BuildXtfFileHeader(header, samples);
    if (!WriteOutput(g_xtf.file, header, sizeof header)) {
      g_xtf.writeErrors++;
      ok = 0;
    }
    g_xtf.firstPing = 0;
  }
  const int length = BuildXtfPing(s_ping, sizeof s_ping, samples);
  if (!WriteOutput(g_xtf.file, s_ping, static_cast<size_t>(length))) {
    g_xtf.writeErrors++;
    ok = 0;
  }
  g_xtf.bytesWritten = OutputBytes(g_xtf.file);
  g_xtf.pingsWritten++;
  RefreshStatus();
  return ok;
}
