// Fuzz entry code: packet assembly and decoding, the .K41 reader and scan,
// the NMEA sentence machine and the probe framer, driven from arbitrary bytes. Shared by the libFuzzer targets and the
// replay test, so the committed corpora run under the ordinary test build.
#include "fuzz/fuzz_entries.h"

#include <cstdio>
#include <cstring>

#include "common/reset_all.h"
#include "console/external_control.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/gps.h"
#include "nav/nav_state.h"
#include "nav/sound_velocity.h"
#include "nav/track.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

namespace {

uint8_t s_beamTest[kBeamTestSlots][kBeamSampleBytes];
uint8_t s_packet[kReturnPacketBytes];
uint8_t s_fileRecord[kRecordBufferBytes];

void ResetAll() { testutil::ResetAllModules(); }

// Writes the completed ping as a record and reads it back through the reader.
int RoundTrip() {
  const int size = FormatRecord(s_fileRecord, sizeof s_fileRecord, 0);
  const int type = DataTypeOfLetter(g_fileWriterRecord[1]);
  if (type < 0) return size == 0 ? 0 : 1;
  if (size != kDataTypes[type].fileRecordSize) return 1;
  FILE* f = fmemopen(s_fileRecord, static_cast<size_t>(size), "rb");
  if (f == nullptr) return 0;
  const int read = ReadNextRecord(f);
  std::fclose(f);
  if (read != kReadRecord) return 1;
  return std::memcmp(g_pingRecord, g_fileWriterRecord, kDataTypes[type].recordLength) != 0;
}

}  // namespace

int FuzzPacketAssembly(const uint8_t* data, size_t size, FuzzStats* stats) {
  ResetAll();
  if (size < 2) return 0;
  const int cfg = data[0];
  g_settings.Xdcr = (cfg >> 2) & 1;
  g_settings.DisplayType = (cfg >> 3) & 1 ? 4 : 0;
  g_settings.HalfRange = (cfg >> 4) & 1;
  g_settings.RunMode = (cfg >> 5) & 1;
  g_settings.PulseLength = data[1] * 10;
  BeamTestRaster beamTest = (cfg >> 6) & 1 ? s_beamTest : nullptr;
  g_switch.dataType = cfg & 3;
  TakeDataTypeSetting();

  size_t pos = 2;
  double now = 1.0;
  int failure = 0;
  while (pos < size && !failure) {
    const int op = data[pos++];
    // Short receives: up to 63 * 16 = 1008 bytes.
    size_t want = (op & 0x80) ? kReturnPacketBytes : static_cast<size_t>(op & 0x3F) * 16;
    const size_t take = size - pos < want ? size - pos : want;
    std::memset(s_packet, 0, sizeof s_packet);
    std::memcpy(s_packet, data + pos, take);
    pos += take;
    if (op & 0x40) {
      // Force the framing so the fuzzer reaches assembly and decoding; the
      // index byte keeps its high bits and, for odd ops, its own index.
      s_packet[0] = 'I';
      s_packet[1] = static_cast<uint8_t>(kDataTypes[g_ping.expectedType].letter);
      s_packet[2] = 'X';
      if (!(op & 1)) s_packet[5] = static_cast<uint8_t>((s_packet[5] & 0xE0) | g_switch.packetIndex);
      s_packet[kReturnPacketBytes - 1] = kEndByte;
      want = kReturnPacketBytes;
    }
    const int length = (op & 0xC0) ? static_cast<int>(want) : static_cast<int>(take);
    const int result = AssemblePacket(s_packet, length);
    if (result & kPingComplete) {
      failure = RoundTrip();
      if (DecodePingAt(now, beamTest)) stats->pingsDecoded++;
      FinishPing();
      // A finished record must never decode a second time.
      if (DecodePingAt(now + 0.05, beamTest)) failure = 1;
      now += 0.1 + (op & 0x0F) * 0.01;
    }
    if ((op & 0x3F) == 0x3F) ClearPing();
  }
  stats->packetsAccepted += g_ping.packetsAccepted;
  stats->pingsCompleted += g_ping.pingsCompleted;

  // The input as the body of a record of the type in force, header forced valid.
  const int type = g_ping.expectedType;
  const int length = kDataTypes[type].recordLength;
  std::memset(g_pingRecord, 127, kRecordBufferBytes);
  std::memcpy(g_pingRecord, data, size < static_cast<size_t>(length) ? size : static_cast<size_t>(length));
  g_pingRecord[0] = 'I';
  g_pingRecord[1] = static_cast<uint8_t>(kDataTypes[type].letter);
  g_pingRecord[2] = 'X';
  g_pingRecord[length - 1] = kEndByte;
  g_ping.endByte = kEndByte;
  if (DecodePingAt(now)) stats->pingsDecoded++;
  FinishPing();
  return failure;
}

int FuzzK41Reader(const uint8_t* data, size_t size, FuzzStats* stats) {
  ResetAll();
  if (size == 0) return 0;
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (f == nullptr) return 0;
  int failure = 0;
  double now = 1.0;
  auto readAll = [&](int limit) {
    for (int i = 0; i < limit && ReadNextRecord(f) == kReadRecord; ++i) {
      stats->recordsRead++;
      const int type = g_playback.dataType;
      if (g_playback.recordSize != kDataTypes[type].fileRecordSize ||
          g_playback.pingLength != kDataTypes[type].recordLength)
        failure = 1;
      if (g_playback.frameBeforeRecord &&
          (g_playback.frameLength < kBmpHeaderBytes || g_playback.frameLength > kMaxVideoFrameBytes))
        failure = 1;
      if (DecodePingAt(now)) stats->pingsDecoded++;
      FinishPing();
      now += 0.1;
    }
  };
  // More records than the input could hold would mean the reader loops.
  readAll(static_cast<int>(size / 8192) + 2);
  if (ReadNextRecord(f) == kReadRecord) failure = 1;
  const int64_t starts[3] = {0, static_cast<int64_t>(size / 2),
                             static_cast<int64_t>(data[0]) * static_cast<int64_t>(size) / 256};
  for (int64_t from : starts) {
    if (ScanForRecord(f, from)) {
      const int64_t at = ftello(f);
      if (at < from || at + 3 > static_cast<int64_t>(size) || data[at] != 'K') failure = 1;
      readAll(1);
    }
  }
  stats->damagedItems += g_playback.damagedItems;
  std::fclose(f);
  return failure;
}

namespace {

// A published text is either all zero (no fix yet) or keeps its fixed
// characters; the hemisphere letters are always one of the two.
int TextLayoutBroken(const char* t, const char* letters) {
  int zeros = 1;
  for (int i = 0; i < kPositionTextBytes; ++i) zeros &= t[i] == 0;
  if (zeros) return 0;
  if (t[3] != '.' || t[6] != '.' || t[12] != ' ') return 1;
  if (t[13] != letters[0] && t[13] != letters[1]) return 1;
  for (int i = 7; i < 12; ++i)
    if (t[i] < '0' || t[i] > '9') return 1;
  return 0;
}

int NavBroken() {
  NavSnapshot n;
  CopyNavSnapshot(&n);
  if (TextLayoutBroken(n.latitude, "NS") || TextLayoutBroken(n.longitude, "EW")) return 1;
  if (n.latitude[0] != 0 && n.latitude[0] != ' ') return 1;
  if (n.trueHeadingValid && !(n.trueHeadingDeg >= 0.0 && n.trueHeadingDeg < 360.0)) return 1;
  return 0;
}

}  // namespace

int FuzzNmea(const uint8_t* data, size_t size, FuzzStats* stats) {
  ResetNavState();
  ResetGps();
  ResetTrack();
  if (size < 1) return 0;
  SetGpsHeadingType(data[0] % 3);
  int failure = 0;
  for (size_t i = 1; i < size && !failure; ++i) {
    if (FeedGpsByte(data[i])) failure |= NavBroken();
    if (g_gpsParser.addressLength > kNmeaAddressMax || g_gpsParser.dataLength > kNmeaDataMax) failure = 1;
  }
  stats->sentencesAccepted += g_gpsCounters.accepted.load();
  stats->fixes += g_gpsCounters.fixes.load();
  // The input as a sentence text the decoders read, whatever its shape.
  char text[kSentenceTextChars];
  const size_t n = size - 1 < sizeof text - 1 ? size - 1 : sizeof text - 1;
  std::memcpy(text, data + 1, n);
  text[n] = 0;
  DecodeSentence(text, static_cast<int>(n));
  failure |= NavBroken();
  return failure;
}

int FuzzProbe(const uint8_t* data, size_t size, FuzzStats* stats) {
  ResetSoundVelocity();
  ResetNavState();
  if (size < 1) return 0;
  g_probe.deviceType = data[0] & 1;
  int failure = 0;
  double taken = 0.0;
  for (size_t i = 1; i < size; ++i) {
    FeedProbeByte(data[i]);
    if (TakeQueuedSoundVelocity(&taken)) {
      stats->probeValuesTaken++;
      if (!(taken >= kSoundVelocityLowest && taken <= kSoundVelocityHighest)) failure = 1;
    }
  }
  stats->probeLinesTaken += g_probe.linesTaken.load();
  const char* line = reinterpret_cast<const char*>(data + 1);
  const int length = static_cast<int>(size - 1 > 4096 ? 4096 : size - 1);
  double v = 0.0;
  if (ParseDigibarLine(line, length, &v) && !(v >= kSoundVelocityLowest && v <= kSoundVelocityHighest)) failure = 1;
  if (ParseSbe37Line(line, length, &v) && !(v >= kSoundVelocityLowest && v <= kSoundVelocityHighest)) failure = 1;
  return failure;
}

namespace {

int In(double v, double lo, double hi) { return v >= lo && v <= hi; }

// Every value a datagram can set, inside the values it may take.
int ControlledSettingsBroken() {
  const Settings& s = g_settings;
  const double tilt = s.ProfileTiltAngle;
  int ok = In(s.DisplayGain, 1, 100) && In(s.SectorSize, 0, 5) && In(s.ProcessingMode, 0, 3) &&
           In(s.StepSize, 0, 2) && In(s.Persistence, 0, 600) && In(s.SoundVelocityMeters, 1400, 2000) &&
           In(s.DisplayType, 0, 4) && In(s.DataOutputType, 0, 2) && In(s.ProfilePointDetection, 0, 1) &&
           In(s.Xdcr, 0, 1) && (In(tilt, -45, 45) || tilt == -90 || tilt == 90) && In(s.RollCorrection, 0, 1) &&
           In(s.Units, 0, 2) && In(s.ExternalTriggerXmitDelay, 0, 10000) && In(s.ProfilePointFilter, 0, 2) &&
           In(s.SonarXOffsetMeters, -100, 100) && In(s.SonarYOffsetMeters, -100, 100) &&
           In(s.SonarDepthMeters, -100, 6000) && In(s.ProfilePointIntensityOutput, 0, 1) &&
           In(s.ProfileMinDepthBelowSonar, 0, 100) && In(s.Range, g_headLimits.minStep, g_headLimits.maxStep) &&
           In(s.Gain, 0, g_headLimits.maxGain) && In(s.AvgFilterIndex, 1, 10) &&
           In(g_detect.detectionLevelPct, 10, 90) && In(g_detect.minimumRangeM, 0.1, 100) &&
           In(g_extControl.queuedSoundVelocity, g_extControl.soundVelocityQueued ? 1400 : 0, 2000);
  return !ok;
}

}  // namespace

int FuzzExternalControl(const uint8_t* data, size_t size, FuzzStats* stats) {
  ResetAll();
  SetDetectionLevel(25);
  SetMinimumRange(0);
  const int length = static_cast<int>(size > 300 ? 300 : size);
  const int fileMode = length > 0 && (data[0] & 1);
  const int outsider = length > 0 && (data[0] & 2);
  g_settings.RunMode = fileMode;
  g_settings.AvgFilterIndex = 5;
  // A recording a datagram starts must find no directory to write into.
  std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s",
                "/nonexistent/orvale-fuzz");
  if (outsider) std::snprintf(g_settings.ExternalControlAllow, sizeof g_settings.ExternalControlAllow, "127.0.0.1");
  const Settings before = g_settings;
  const uint32_t sender = outsider ? 0x7F000002 : 0x7F000001;
  int failure = 0;
  const int first = ApplyControlDatagram(data, length, sender, 5000);
  stats->controlFieldsApplied += first;
  if (outsider) {
    stats->controlDatagramsIgnored++;
    return first != 0 || std::memcmp(&before, &g_settings, sizeof before) != 0 ||
           g_extControl.datagramsIgnored != 1;
  }
  failure |= ControlledSettingsBroken();
  // Both outputs are asked for anew by every datagram; nothing else repeats.
  const int bothOutputs = length > 20 && (data[3] & 1) && data[20] == 3 ? 1 : 0;
  const int second = ApplyControlDatagram(data, length, sender, 5000);
  if (second != bothOutputs) failure = 1;
  failure |= ControlledSettingsBroken();
  return failure;
}
