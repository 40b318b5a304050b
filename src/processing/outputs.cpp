// Point and beam outputs. After a ping has been formed, detected and drawn,
// this module publishes it: the point record (.K4P: one range and optionally
// one intensity per formed beam, from the profile output arrays) and the beam
// record (.K4B: the formed beam magnitudes), each into its file when one is
// open and as UDP datagrams to the output address, and a 32-byte keep-alive
// on every ping that sent nothing else, so a listener hears from the console
// once per ping whatever it outputs.
//
// Sources: g_beamGeom and g_beamImage (beamforming), the profile output
// arrays and the altitude (detection), g_settings, the cycle's time stamp and
// the navigation snapshot in Head mode, the played record's copies (g_playback) in File mode.
// Owns: the two output files, the output socket, the record buffers, the
// output counter.
//
// Index
//   [SECTION] Record sources
//   [SECTION] Records
//   [SECTION] Files
//   [SECTION] Socket and datagrams
//   [SECTION] Per-ping sequence
//   [SECTION] Status text
#include "processing/outputs.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/byte_order.h"
#include "files/sonar_file.h"
#include "processing/xtf.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "processing/beamform.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

OutputState g_outputs;

// ============================================================ [SECTION] Record sources

namespace {

uint8_t s_pointRecord[kPointRecordMaxBytes];
// Static rather than allocated per ping: a 480-beam record is half a megabyte
// and is built at most once per ping for both the file and the datagrams.
uint8_t s_beamRecord[kBeamRecordMaxBytes];

int FileMode() { return g_settings.RunMode == 1; }

// The values the common header takes from the acquisition cycle (Head mode)
// or from the record being played (File mode).
struct HeaderSource {
  const char* date;
  const char* time;
  const char* hundredths;
  const char* millis;
  char latitude[kPositionTextBytes + 1];
  char longitude[kPositionTextBytes + 1];
  double speedKnots, courseDeg, pitchDeg, rollDeg, headingDeg;
  int pingPeriodMs;
  float xOffsetM, yOffsetM, depthM;
  int previousStamp;
  int reserved45;
};

void GatherSource(HeaderSource* s) {
  std::memset(s->latitude, 0, sizeof s->latitude);
  std::memset(s->longitude, 0, sizeof s->longitude);
  if (FileMode()) {
    const PlaybackCopies& pb = g_playback;
    s->date = pb.stamp.date;
    s->time = pb.stamp.time;
    s->hundredths = pb.stamp.hundredths;
    s->millis = pb.stamp.millis;
    std::memcpy(s->latitude, pb.latitude, kPositionTextBytes);
    std::memcpy(s->longitude, pb.longitude, kPositionTextBytes);
    s->speedKnots = pb.speedKnots;
    s->courseDeg = pb.courseDeg;
    s->pitchDeg = pb.pitchDeg;
    s->rollDeg = pb.rollDeg;
    s->headingDeg = pb.headingDeg;
    s->pingPeriodMs = pb.pingPeriodMs;
    s->xOffsetM = pb.xOffsetM;
    s->yOffsetM = pb.yOffsetM;
    s->depthM = pb.depthM;
    s->previousStamp = pb.previousStampFlag;
    s->reserved45 = pb.reserved45;
  } else {
    const TimeStamp& ts = g_timeStamps.current;
    s->date = ts.date;
    s->time = ts.time;
    s->hundredths = ts.hundredths;
    s->millis = ts.millis;
    NavSnapshot nav;
    CopyNavSnapshot(&nav);
    std::memcpy(s->latitude, nav.latitude, kPositionTextBytes);
    std::memcpy(s->longitude, nav.longitude, kPositionTextBytes);
    s->speedKnots = nav.speedKnots;
    s->courseDeg = nav.courseDeg;
    // No attitude sensor feeds the live head.
    s->pitchDeg = 0.0;
    s->rollDeg = 0.0;
    s->headingDeg = 0.0;
    s->pingPeriodMs = g_ping.livePingPeriodMs > 2000 ? 2000 : g_ping.livePingPeriodMs;
    s->xOffsetM = static_cast<float>(g_settings.SonarXOffsetMeters);
    s->yOffsetM = static_cast<float>(g_settings.SonarYOffsetMeters);
    s->depthM = static_cast<float>(g_settings.SonarDepthMeters);
    s->previousStamp = 0;
    s->reserved45 = 0;
  }
}

// Flagged word: top bit set, value in the low 15 bits.
int Flagged(int v) { return 0x8000 | (v & 0x7FFF); }

// Angle of the first formed beam's centre for beam records outside Profile.
double FirstBeamCentreDeg() {
  static const double kHalfStep[3] = {0.125, 0.25, 0.5};
  const int step = ClampInt(g_settings.StepSize, 0, 2);
  return -g_beamGeom.sectorDeg / 2.0 + kHalfStep[step];
}

double OutputBeamZeroAngleDeg() {
  if (g_profileOutputCount > 0) return g_profileOutputBeam[0].AngleDeg;
  return FirstBeamCentreDeg();
}

int OutputBeams() { return ClampInt(g_beamGeom.beams, 0, kMaxBeams); }
int OutputSamples() { return ClampInt(g_beamGeom.samples, 0, kMaxSamples); }

// The 112 bytes both records begin with.
void FillCommonHeader(uint8_t* r, int isPoint, int length, double startAngleDeg) {
  HeaderSource src;
  GatherSource(&src);
  const int n = OutputBeams();
  const int samples = OutputSamples();
  r[0] = 'K';
  r[1] = '4';
  r[2] = isPoint ? 'P' : 'B';
  r[3] = isPoint ? 11 : 3;
  if (isPoint) PutBE16(r + 4, length);
  else PutBE24(r + 4, length);
  PutText(r + 8, src.date, 11);
  PutText(r + 20, src.time, 8);
  PutText(r + 29, src.hundredths, 3);
  std::memcpy(r + 33, src.latitude, kPositionTextBytes);
  std::memcpy(r + 47, src.longitude, kPositionTextBytes);
  r[61] = static_cast<uint8_t>(TruncClamped(src.speedKnots * 10.0, 0, 255));
  PutBE16(r + 62, TruncClamped(src.courseDeg * 10.0, 0, 65535));
  PutBE16(r + 64, Flagged(ClampInt(RoundSigned(src.pitchDeg * 10.0) + 900, 0, 1800)));
  PutBE16(r + 66, Flagged(ClampInt(RoundSigned(src.rollDeg * 10.0) + 900, 0, 1800)));
  PutBE16(r + 68, Flagged(TruncClamped(src.headingDeg * 10.0 + 0.5, 0, 3599)));
  PutBE16(r + 70, n);
  PutBE16(r + 72, samples);
  PutBE16(r + 74, TruncClamped(g_beamGeom.sectorDeg + 0.5, 0, 65535));
  PutBE16(r + 76, ClampInt(RoundSigned((startAngleDeg + 180.0) * 100.0), 0, 65535));
  r[78] = static_cast<uint8_t>(n > 0 ? TruncClamped(g_beamGeom.sectorDeg / n * 100.0, 0, 255) : 0);
  const double rangeM = RangeMetersOfStep(g_settings.Range);
  PutBE16(r + 79, kRangeTable[ClampInt(g_settings.Range, 0, kRangeSteps - 1)].commandM);
  PutBE16(r + 81, FrequencyInUseKHz());
  PutBE16(r + 83, Flagged(TruncClamped(g_settings.SoundVelocityMeters * 10.0, 0, 0x7FFF)));
  // Point records carry a range-unit flag of 1: centimetres per sample.
  const double perSample = samples > 0 ? (isPoint ? 100.0 : 1000.0) * rangeM / samples : 0.0;
  PutBE16(r + 85, TruncClamped(perSample, 0, 65535));
  PutBE16(r + 87, ClampInt(g_settings.PulseLength, 0, 65535));
  PutBE16(r + 89, ClampInt(RoundSigned(g_settings.ProfileTiltAngle) + 180, 0, 65535));
  PutBE16(r + 91, ClampInt(src.pingPeriodMs, 0, 65535));
  PutBE32(r + 93, g_outputs.outputCounter);
  PutBE24(r + 97, ClampInt(g_switch.rangeOffset * 1000, 0, 0xFFFFFF));
  PutFloatLE(r + 100, src.xOffsetM);
  PutFloatLE(r + 104, src.yOffsetM);
  PutFloatLE(r + 108, src.depthM);
}

}  // namespace

// ============================================================ [SECTION] Records

// Point record (.K4P), after the common header:
//   112  4  milliseconds text ".123"        117  1  1 when intensities follow
//   118  2  angular constant x 10           120  2  ping latency, 0.1 ms (0 in File mode)
//   122  1  range-unit flag 1               123  1  bit 0 roll correction, bit 2 previous stamp
//   125  1  pings averaged                  126  2  output lag, 0.1 ms
//   128  4  heave (0)                       132  1  reserved byte of the played record
//   133  4  altitude m, float LE            137  1  status 0
//   155  1  event mark                      256  2n ranges, 0.1 sample x RangeScaleFactor
//   256+2n  2n intensities 0..255 (when flagged at 117)
int BuildPointRecord(uint8_t* out, int outSize) {
  const int n = OutputBeams();
  const int withIntensity = g_settings.ProfilePointIntensityOutput == 1;
  const int length = kOutputHeaderBytes + (withIntensity ? 4 : 2) * n;
  if (out == nullptr || outSize < length) return 0;
  std::memset(out, 0, static_cast<size_t>(length));
  FillCommonHeader(out, 1, length, OutputBeamZeroAngleDeg());
  HeaderSource src;
  GatherSource(&src);
  PutText(out + 112, src.millis, 4);
  out[117] = static_cast<uint8_t>(withIntensity);
  PutBE16(out + 118, TruncClamped(g_ping.angularConstantDeg * 10.0 + 0.5, 0, 65535));
  if (!FileMode()) {
    const double latency = g_outputs.pingLatencyMs;
    PutBE16(out + 120, latency > 5000.0 ? 0 : TruncClamped(latency * 10.0 + 0.5, 0, 65535));
  }
  out[122] = 1;
  out[123] = static_cast<uint8_t>((g_settings.RollCorrection ? 1 : 0) | (src.previousStamp ? 4 : 0));
  out[125] = static_cast<uint8_t>(g_settings.AvgFilter == 1 ? ClampInt(g_settings.AvgFilterIndex, 0, 255) : 0);
  const double lag = g_ping.outputLagMs;
  PutBE16(out + 126, lag > 10000.0 ? 0 : TruncClamped(lag * 10.0 + 0.5, 0, 65535));
  out[132] = static_cast<uint8_t>(src.reserved45);
  PutFloatLE(out + 133, static_cast<float>(g_detect.altitudeM));
  if (g_outputs.eventMarkPending) {
    out[155] = 1;
    g_outputs.eventMarkPending = 0;
  }
  // The output arrays hold the beams in reverse: record index i is entry n-1-i.
  const int have = ClampInt(g_profileOutputCount, 0, n);
  const double factor = g_ping.rangeScaleFactor;
  for (int i = 0; i < n; ++i) {
    const int e = n - 1 - i;
    int range = 0;
    int intensity = 0;
    if (e < have) {
      range = TruncClamped(g_pointRangeTenths[e] * factor + 0.5, 0, 65535);
      if (g_pointRangeTenths[e] <= 0) range = 0;
      intensity = ClampInt(g_profileOutputBeam[e].Intensity, 0, 255);
    }
    PutBE16(out + kOutputHeaderBytes + 2 * i, range);
    if (withIntensity) PutBE16(out + kOutputHeaderBytes + 2 * n + 2 * i, intensity);
  }
  return length;
}

// Beam record (.K4B): the common header, bytes 112-255 zero, then for each
// formed beam in beam order the first S samples of its row, one byte each.
int BuildBeamRecord(uint8_t* out, int outSize, int displayMode) {
  const int n = OutputBeams();
  const int s = OutputSamples();
  const int length = kOutputHeaderBytes + n * s;
  if (out == nullptr || outSize < length) return 0;
  std::memset(out, 0, kOutputHeaderBytes);
  const double start = displayMode == 3 ? OutputBeamZeroAngleDeg() : FirstBeamCentreDeg();
  FillCommonHeader(out, 0, length, start);
  uint8_t* d = out + kOutputHeaderBytes;
  for (int b = 0; b < n; ++b) {
    const float* row = g_beamImage[b];
    for (int i = 0; i < s; ++i) {
      const float v = row[i];
      *d++ = static_cast<uint8_t>(v >= 255.0f ? 255 : (v > 0.0f ? static_cast<int>(v) : 0));
    }
  }
  return length;
}

int PointRecord(const uint8_t** record) {
  if (!g_outputs.pointRecordBuilt) {
    g_outputs.pointRecordLength = BuildPointRecord(s_pointRecord, sizeof s_pointRecord);
    g_outputs.pointRecordBuilt = 1;
  }
  if (record) *record = s_pointRecord;
  return g_outputs.pointRecordLength;
}

static int BeamRecord(const uint8_t** record, int displayMode) {
  if (!g_outputs.beamRecordBuilt) {
    g_outputs.beamRecordLength = BuildBeamRecord(s_beamRecord, sizeof s_beamRecord, displayMode);
    g_outputs.beamRecordBuilt = 1;
  }
  if (record) *record = s_beamRecord;
  return g_outputs.beamRecordLength;
}

void FillKeepAlive(uint8_t out[kKeepAliveBytes]) {
  std::memset(out, 0, kKeepAliveBytes);
  out[0] = 'K';
  out[1] = '4';
  out[2] = 'Z';
}

// ============================================================ [SECTION] Files

namespace {

// Case-insensitive test of the last extension of a path.
int HasExtension(const char* path, const char* ext) {
  if (path == nullptr) return 0;
  const char* dot = std::strrchr(path, '.');
  if (dot == nullptr || std::strchr(dot, '/') != nullptr) return 0;
  return strcasecmp(dot + 1, ext) == 0;
}

void RefreshStatus(int isPoint) {
  const int open = isPoint ? g_outputs.pointFileOpen : g_outputs.beamFileOpen;
  char* text = isPoint ? g_outputs.pointStatus : g_outputs.beamStatus;
  int* shownKb = isPoint ? &g_outputs.pointStatusKb : &g_outputs.beamStatusKb;
  if (!open) {
    if (text[0] != '\0' || *shownKb != -1) {
      text[0] = '\0';
      *shownKb = -1;
      plat::InvalidateWindow(plat::kWinMain);
    }
    return;
  }
  const int64_t bytes = isPoint ? g_outputs.pointBytesWritten : g_outputs.beamBytesWritten;
  const int kb = static_cast<int>(bytes / 1024);
  if (kb == *shownKb) return;
  *shownKb = kb;
  FormatRecordingStatus(text, kStatusTextBytes, isPoint ? g_outputs.pointFileName : g_outputs.beamFileName,
                        kb, nullptr);
  plat::InvalidateWindow(plat::kWinMain);
}

int OpenRecordFile(int isPoint, const char* path) {
  const char* ext = isPoint ? "K4P" : "K4B";
  if (!HasExtension(path, ext)) {
    plat::MessageBox(isPoint ? "Record to Profile Point File" : "Record to Beam Output File",
                     isPoint ? "File extension must be .K4P" : "File extension must be .K4B");
    return 0;
  }
  if (std::strlen(path) >= kOutputNameBytes) return 0;
  if (isPoint) ClosePointFile();
  else CloseBeamFile();
  OutputFile& f = isPoint ? g_outputs.pointFile : g_outputs.beamFile;
  if (!OpenOutputFile(f, path, kOutputCreate)) return 0;  // a failed creation is silent
  if (isPoint) {
    g_outputs.pointFileOpen = 1;
    std::snprintf(g_outputs.pointFileName, sizeof g_outputs.pointFileName, "%s", path);
    g_outputs.pointBytesWritten = 0;
  } else {
    g_outputs.beamFileOpen = 1;
    std::snprintf(g_outputs.beamFileName, sizeof g_outputs.beamFileName, "%s", path);
    g_outputs.beamBytesWritten = 0;
  }
  g_outputs.outputCounter = 0;
  g_outputs.counterAtLastPing = 0;
  RefreshStatus(isPoint);
  return 1;
}

int ChooseOutputFile(int isPoint) {
  plat::FileDialogRequest req;
  req.title = isPoint ? "Open a Profile Point File For Recording" : "Open a Beam Output File For Recording";
  req.filter = isPoint ? "Orvale Multibeam Profile Point Files (*.K4P)|*.K4P"
                       : "Orvale Multibeam Beam Output Files (*.K4B)|*.K4B";
  req.defaultExt = isPoint ? "K4P" : "K4B";
  req.save = 1;
  char name[kOutputNameBytes + 1];
  if (!plat::FileDialog(req, name, sizeof name)) return 0;
  return OpenRecordFile(isPoint, name);
}

}  // namespace

// Names keep the case they were given: lower-casing a whole path on a
// case-sensitive file system would point at a directory that is not there.
int OpenPointFile(const char* path) { return OpenRecordFile(1, path); }
int OpenBeamFile(const char* path) { return OpenRecordFile(0, path); }
int ChoosePointFile() { return ChooseOutputFile(1); }
int ChooseBeamFile() { return ChooseOutputFile(0); }

namespace {

int CloseRecordFile(int isPoint) {
  OutputFile& f = isPoint ? g_outputs.pointFile : g_outputs.beamFile;
  const int wasOpen = OutputOpen(f);
  const int ok = CloseOutput(f);
  if (wasOpen && !ok) (isPoint ? g_outputs.pointCloseErrors : g_outputs.beamCloseErrors)++;
  (isPoint ? g_outputs.pointFileOpen : g_outputs.beamFileOpen) = 0;
  RefreshStatus(isPoint);
  return ok;
}

int WriteRecordFile(int isPoint, const uint8_t* rec, int length) {
  OutputFile& f = isPoint ? g_outputs.pointFile : g_outputs.beamFile;
  const int ok = WriteOutput(f, rec, static_cast<size_t>(length));
  if (!ok) (isPoint ? g_outputs.pointWriteErrors : g_outputs.beamWriteErrors)++;
  (isPoint ? g_outputs.pointBytesWritten : g_outputs.beamBytesWritten) = OutputBytes(f);
  RefreshStatus(isPoint);
  return ok;
}

}  // namespace

int ClosePointFile() { return CloseRecordFile(1); }
int CloseBeamFile() { return CloseRecordFile(0); }
int PointFileFailed() { return OutputFailed(g_outputs.pointFile); }
int BeamFileFailed() { return OutputFailed(g_outputs.beamFile); }

int WritePointRecord() {
  if (!g_outputs.pointFileOpen || !OutputOpen(g_outputs.pointFile)) return 0;
  const uint8_t* rec = nullptr;
  const int length = PointRecord(&rec);
  if (length <= 0) return 0;
  return WriteRecordFile(1, rec, length);
}

int WriteBeamRecord(int displayMode) {
  if (!g_outputs.beamFileOpen || !OutputOpen(g_outputs.beamFile)) return 0;
  const uint8_t* rec = nullptr;
  const int length = BeamRecord(&rec, displayMode);
  if (length <= 0) return 0;
  return WriteRecordFile(0, rec, length);
}

// ============================================================ [SECTION] Socket and datagrams

int OpenOutputSocket() {
  CloseOutputSocket();
  const int fd = net::UdpOpen();
  if (fd < 0) return 0;
  g_outputs.socket = fd;
  uint32_t addr = 0;
  const int port = g_settings.RemotePort_Output1;
  g_outputs.destValid = net::ParseIPv4(g_settings.IPAddress_Output1, &addr) && port > 0 && port <= 65535;
  g_outputs.destAddr = addr;
  g_outputs.destPort = port;
  return 1;
}

void CloseOutputSocket() {
  if (g_outputs.socket >= 0) net::CloseSocket(g_outputs.socket);
  g_outputs.socket = -1;
}

void SetOutputDestination(uint32_t hostOrderAddr, int port) {
  if (port <= 0 || port > 65535) return;
  g_outputs.destAddr = hostOrderAddr;
  g_outputs.destPort = port;
  g_outputs.destValid = 1;
}

static int SendBytes(const uint8_t* data, int length) {
  if (g_outputs.socket < 0) return -EBADF;
  if (!g_outputs.destValid) return -EDESTADDRREQ;
  return net::UdpSendToAddr(g_outputs.socket, g_outputs.destAddr, g_outputs.destPort, data, length);
}

static void NoteSend(int result) {
  g_outputs.bytesOut = result;
  g_outputs.sentThisPing = 1;
  if (result < 0) g_outputs.sendErrors++;
  else g_outputs.datagramsSent++;
}

int SendPointDatagram() {
  const uint8_t* rec = nullptr;
  const int length = PointRecord(&rec);
  const int r = length > 0 ? SendBytes(rec, length) : -EINVAL;
  NoteSend(r);
  return r;
}

int SendBeamDatagram(int displayMode) {
  const uint8_t* rec = nullptr;
  const int length = BeamRecord(&rec, displayMode);
  int total = 0;
  int result = length > 0 ? 0 : -EINVAL;
  while (total < length) {
    const int piece = length - total > kMaxDatagramBytes ? kMaxDatagramBytes : length - total;
    const int r = SendBytes(rec + total, piece);
    if (r < 0) {
      result = r;
      break;
    }
    total += r;
    result = total;
  }
  NoteSend(result);
  return result;
}

int SendKeepAlive() {
  uint8_t ka[kKeepAliveBytes];
  FillKeepAlive(ka);
  const int r = SendBytes(ka, kKeepAliveBytes);
  NoteSend(r);
  if (r >= 0) g_outputs.keepAlivesSent++;
  return r;
}

// ============================================================ [SECTION] Per-ping sequence

void RunOutputSequence(int displayMode) {
  OutputState& o = g_outputs;
  o.sentThisPing = 0;
  o.pointRecordBuilt = 0;
  o.beamRecordBuilt = 0;
  const int beamTest = displayMode == 4;
  int counted = 0;
  if (!beamTest && g_settings.ProfilePointDetection == 1) {
    o.outputCounter++;
    counted = 1;
    if (o.pointFileOpen) WritePointRecord();
    if (g_settings.DataOutputType == kOutputPoints && !o.combinedOutputRequest) SendPointDatagram();
  }
  if (!beamTest && g_settings.DataOutputType == kOutputBeams) {
    if (!counted) o.outputCounter++;
    if (o.beamFileOpen) WriteBeamRecord(displayMode);
    if (!o.combinedOutputRequest) SendBeamDatagram(displayMode);
  }
  if (o.combinedOutputRequest) {
    SendBeamDatagram(displayMode);
    plat::BusyWaitUs(kCombinedOutputGapUs);
    SendPointDatagram();
  }
  if (!beamTest && XtfFileOpen()) WriteXtfPing();
  o.counterAtLastPing = o.outputCounter;
  if (!o.sentThisPing) SendKeepAlive();
}

// ============================================================ [SECTION] Status text

int EstimateTextWidthPx(const char* text) {
  // The status font averages 7 pixels a character.
  return text ? static_cast<int>(std::strlen(text)) * 7 : 0;
}

void FormatRecordingStatus(char* out, int outSize, const char* path, int kiloBytes,
                           int (*widthPx)(const char*)) {
  if (out == nullptr || outSize <= 0) return;
  if (path == nullptr) path = "";
  if (widthPx == nullptr) widthPx = EstimateTextWidthPx;
  std::snprintf(out, static_cast<size_t>(outSize), "Recording to %s - %d kB", path, kiloBytes);
  if (widthPx(out) <= kStatusMaxWidthPx) return;
  // Too wide: keep the drive (or the root) and the trailing components,
  // dropping leading ones while it is still too wide and long.
  char prefix[32];
  const char* rest = path;
  if (std::strlen(path) >= 2 && path[1] == ':') {
    std::snprintf(prefix, sizeof prefix, "Recording to %c:\\... ", path[0]);
    rest = path + 2;
  } else {
    std::snprintf(prefix, sizeof prefix, "Recording to ...");
  }
  auto isSep = [](char c) { return c == '/' || c == '\\'; };
  while (isSep(*rest)) ++rest;
  // rest now starts at the first component; drop it and later ones.
  for (;;) {
    const char* next = rest;
    while (*next && !isSep(*next)) ++next;
    if (*next == '\0') break;  // only the file name is left
    rest = next;               // keeps its leading separator
    std::snprintf(out, static_cast<size_t>(outSize), "%s%s - %d kB", prefix, rest, kiloBytes);
    if (widthPx(out) <= kStatusMaxWidthPx || static_cast<int>(std::strlen(out)) <= 50) return;
    ++rest;
  }
  std::snprintf(out, static_cast<size_t>(outSize), "%s%s - %d kB", prefix, rest, kiloBytes);
}

void ResetOutputs() {
  ClosePointFile();
  CloseBeamFile();
  CloseOutputSocket();
  g_outputs = OutputState{};
}
