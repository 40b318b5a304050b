// The .K41 sonar data file. A file is a run of fixed-size records, one per
// ping, each wrapping the PingRecord exactly as the head link assembled it in
// a 100-byte header (time stamp, switch settings, navigation, display state)
// and a short trailer (mounting offsets, heave, GPS true heading); a video
// frame, a whole BMP file, may follow a record. There is no file header and
// no index.
//
// This module stamps each acquisition cycle from the local clock, formats a
// record from the file-writer copy of the ping record plus the settings,
// switch state and navigation state, reads records back into the ping record
// buffer and the playback copies (kept apart from the operator's settings),
// and scans for the next whole record from any byte position. Owns
// g_timeStamps, g_recordWriter, g_playback and g_videoFrame.
//
// Files come from anywhere, so the reader trusts no size it reads: a record
// size, a PingRecord length or a frame length that does not fit the layout
// makes the item damaged, and the scan resynchronises on the next record.
//
// Index:
//   [SECTION] Layout constants
//   [SECTION] Time stamp
//   [SECTION] Record writer
//   [SECTION] Record reader
//   [SECTION] Record scan
//   [SECTION] Opening
#include "files/sonar_file.h"

#include <cmath>
#include <cstring>
#include <strings.h>

#include "platform/byte_order.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "settings/settings.h"

TimeStampState g_timeStamps;
RecordWriterState g_recordWriter;
PlaybackCopies g_playback;
uint8_t g_videoFrame[kMaxVideoFrameBytes];

// ============================================================ [SECTION] Layout constants

namespace {

constexpr char kMonths[12][4] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                 "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
constexpr int kFlag = 0x8000;
constexpr uint32_t kFrameFlag = 0x80000000u;

}  // namespace

// ============================================================ [SECTION] Time stamp

void FormatTimeStamp(const plat::LocalTime& t, TimeStamp* out) {
  const int month = ClampInt(t.month, 1, 12);
  const int ms = ClampInt(t.millisecond, 0, 999);
  std::snprintf(out->date, sizeof out->date, "%02d-%s-%04d", ClampInt(t.day, 0, 99), kMonths[month - 1],
                ClampInt(t.year, 0, 9999));
  std::snprintf(out->time, sizeof out->time, "%02d:%02d:%02d", ClampInt(t.hour, 0, 99),
                ClampInt(t.minute, 0, 99), ClampInt(t.second, 0, 99));
  std::snprintf(out->dateTime, sizeof out->dateTime, "%s  %s", out->date, out->time);
  out->hundredthsValue = ms / 10;
  out->millisValue = ms;
  std::snprintf(out->hundredths, sizeof out->hundredths, ".%02d", out->hundredthsValue);
  std::snprintf(out->millis, sizeof out->millis, ".%03d", out->millisValue);
  out->second = t.second;
}

void ResetTimeStamps() { g_timeStamps = TimeStampState{}; }

void TakeTimeStampAt(const plat::LocalTime& t) {
  g_timeStamps.previous = g_timeStamps.current;
  FormatTimeStamp(t, &g_timeStamps.current);
  if (t.second != g_timeStamps.lastSecond) {
    g_timeStamps.lastSecond = t.second;
    g_timeStamps.secondTicks++;
    if (g_settings.RunMode == 0 && g_settings.ComPortGPSEnable == 1) AdvanceFixAge();
  }
}

void TakeTimeStamp() { TakeTimeStampAt(plat::GetLocalTime()); }

// ============================================================ [SECTION] Record writer

int FileRecordSizeOfLetter(int letter) {
  const int type = DataTypeOfLetter(letter);
  return type < 0 ? 0 : kDataTypes[type].fileRecordSize;
}

// A whole number of pings between frames would miss the rate by up to half
// a ping per frame (3 frames a second at 10 pings a second would come out
// as 3.3); owing frames by the recorded time keeps the rate on average.
int VideoFrameDue(int captureWindowOpen) {
  if (!captureWindowOpen || g_settings.RecordVideo != 1) return 0;
  double& credit = g_recordWriter.frameCredit;
  const double rate = g_settings.RecordVideoRate > 0.0 ? g_settings.RecordVideoRate : 0.0;
  if (g_ping.pingPeriodMs < 1 || g_recordWriter.frameAtNextRecord) {
    // No period measured yet, or a recording's first record: this record
    // takes a frame, the count starts here.
    g_recordWriter.frameAtNextRecord = 0;
    credit = 1.0;
  } else {
    credit += rate * g_ping.pingPeriodMs * 0.001;
    // Slow pings at a high rate take a frame with every record; no backlog
    // beyond one frame builds up.
    if (credit > 2.0) credit = 2.0;
  }
  if (credit < 1.0 - 1e-9) return 0;
  credit -= 1.0;
  return 1;
}

// Record header (big-endian, flagged words carry bit 15 when present):
//   0 "K41" | 3 RecordSizeCode | 4 record size | 6 N | 8 date + NUL (12)
//   20 time + NUL (9) | 29 ".hh" | 32 0 | 33 frame length, bit 31 flag
//   37 0x80 | Xdcr up 0x40 | previous-stamp 0x20 | DisplayType
//   38 gain dB | 39 tilt x10 + 1800, flagged | 41 range offset | 42 FrequencyCoefficient
//   43 shots averaged | 44 pulse / 10 us | 45 reserved | 46 sound speed x10, flagged
//   48 latitude (14) | 62 longitude (14) | 76 speed x10 kn | 77 course x10
//   79 0 | 80 frequency kHz | 82 pitch | 84 roll | 86 heading (written 0)
//   88 ping period ms | 90 display gain % | 91 0 | 93 ".mmm" + NUL | 98 0
//   100 PingRecord (N) | trailer floats LE: 100+N X, 104+N Y, 108+N depth,
//   124+N heave, 140+N HDT valid, 141+N HDT heading | zeros to the record size
int FormatRecord(uint8_t* out, int outSize, int frameLength) {
  const int type = DataTypeOfLetter(g_fileWriterRecord[1]);
  if (out == nullptr || type < 0) return 0;
  const DataTypeInfo& dt = kDataTypes[type];
  const int size = dt.fileRecordSize;
  const int n = dt.recordLength;
  if (outSize < size) return 0;
  std::memset(out, 0, size);

  out[0] = 'K';
  out[1] = '4';
  out[2] = '1';
  out[3] = static_cast<uint8_t>(dt.recordSizeCode);
  PutBE16(out + 4, size);
  PutBE16(out + 6, n);

  const TimeStamp& ts = g_timeStamps.current;
  std::memcpy(out + 8, ts.date, std::strlen(ts.date) < 11 ? std::strlen(ts.date) : 11);
  std::memcpy(out + 20, ts.time, std::strlen(ts.time) < 8 ? std::strlen(ts.time) : 8);
  std::memcpy(out + 29, ts.hundredths, std::strlen(ts.hundredths) < 3 ? std::strlen(ts.hundredths) : 3);

  if (frameLength > 0) PutBE32(out + 33, kFrameFlag | (static_cast<uint32_t>(frameLength) & 0x7FFFFFFFu));

  // Bit 5 stays 0: the stamp is always this cycle's, since a ping completes
  // within the cycle that requested it.
  out[37] = static_cast<uint8_t>(0x80 | (g_settings.Xdcr == 1 ? 0x40 : 0) | (g_settings.DisplayType & 0x0F));
  out[38] = static_cast<uint8_t>(g_settings.Gain & 0xFF);
  PutBE16(out + 39, kFlag | TruncClamped(g_settings.ProfileTiltAngle * 10.0 + 1800.0, 0, 0x7FFF));
  out[41] = static_cast<uint8_t>(g_switch.rangeOffset & 0xFF);
  out[42] = static_cast<uint8_t>(g_headLimits.FrequencyCoefficient & 0xFF);
  out[43] = static_cast<uint8_t>(g_settings.AvgFilter == 1 ? (g_settings.AvgFilterIndex & 0xFF) : 0);
  out[44] = static_cast<uint8_t>((g_settings.PulseLength / 10) & 0xFF);
  PutBE16(out + 46, kFlag | TruncClamped(g_settings.SoundVelocityMeters * 10.0, 0, 0x7FFF));

  // One snapshot, so texts, speed, course and heading come from one moment.
  NavSnapshot nav;
  CopyNavSnapshot(&nav);
  std::memcpy(out + 48, nav.latitude, kPositionTextBytes);
  std::memcpy(out + 62, nav.longitude, kPositionTextBytes);
  out[76] = static_cast<uint8_t>(TruncClamped(nav.speedKnots * 10.0, 0, 255));
  PutBE16(out + 77, TruncClamped(nav.courseDeg * 10.0, 0, 0xFFFF));
  PutBE16(out + 80, FrequencyInUseKHz() & 0xFFFF);
  PutBE16(out + 88, ClampInt(g_ping.livePingPeriodMs, 0, 2000));
  out[90] = static_cast<uint8_t>(ClampInt(g_settings.DisplayGain, 0, 255));
  std::memcpy(out + 93, ts.millis, std::strlen(ts.millis) < 4 ? std::strlen(ts.millis) : 4);

  std::memcpy(out + kFileHeaderBytes, g_fileWriterRecord, n);
  uint8_t* trailer = out + kFileHeaderBytes + n;
  PutFloatLE(trailer + 0, static_cast<float>(g_settings.SonarXOffsetMeters));
  PutFloatLE(trailer + 4, static_cast<float>(g_settings.SonarYOffsetMeters));
  PutFloatLE(trailer + 8, static_cast<float>(g_settings.SonarDepthMeters));
  PutFloatLE(trailer + 24, 0.0f);  // heave: no source of its own
  trailer[40] = static_cast<uint8_t>(nav.trueHeadingValid ? 1 : 0);
  PutFloatLE(trailer + 41, static_cast<float>(nav.trueHeadingDeg));
  return size;
}

// ============================================================ [SECTION] Record reader

void ResetSpeedFilter() { g_playback.speedRejects = 0; }

void ResetPlaybackCopies() {
  static const PlaybackCopies kFresh{};
  g_playback = kFresh;
}

namespace {

// Takes the header and trailer of a validated record (raw, R bytes, PingRecord
// length n of data type `type`) into the playback copies and the settings a
// played file drives.
void TakeRecordValues(const uint8_t* raw, int n, int type) {
  PlaybackCopies& pb = g_playback;
  pb.recordSizeCode = raw[3];
  pb.recordSize = GetBE16(raw + 4);
  pb.pingLength = n;

  // Date: a NUL at offset 19 means the 11-character form. Otherwise the year
  // was written with five characters (19101 for 2001): century digits at
  // 15-16 and the years since 1900 at 17-19.
  if (raw[19] == 0) {
    FieldText(pb.stamp.date, sizeof pb.stamp.date, raw + 8, 12);
  } else {
    char dayMonth[8];
    FieldText(dayMonth, sizeof dayMonth, raw + 8, 7);
    const int year = 100 * FieldNumber(raw + 15, 2) + FieldNumber(raw + 17, 3);
    std::snprintf(pb.stamp.date, sizeof pb.stamp.date, "%s%04d", dayMonth, year);
  }
  FieldText(pb.stamp.time, sizeof pb.stamp.time, raw + 20, 9);
  std::snprintf(pb.stamp.dateTime, sizeof pb.stamp.dateTime, "%s  %s", pb.stamp.date, pb.stamp.time);
  pb.stamp.second = FieldNumber(raw + 26, 2);
  FieldText(pb.stamp.hundredths, sizeof pb.stamp.hundredths, raw + 29, 3);
  pb.stamp.hundredthsValue = FieldNumber(raw + 30, 2);
  if (raw[93] != 0) {
    FieldText(pb.stamp.millis, sizeof pb.stamp.millis, raw + 93, 4);
  } else {
    // No milliseconds stored: the hundredths with a '0' appended.
    const size_t len = std::strlen(pb.stamp.hundredths);  // at most 3
    std::memcpy(pb.stamp.millis, pb.stamp.hundredths, len);
    pb.stamp.millis[len] = '0';
    pb.stamp.millis[len + 1] = '\0';
  }
  pb.stamp.millisValue = FieldNumber(reinterpret_cast<const uint8_t*>(pb.stamp.millis) + 1, 3);

  const int state = raw[37];
  pb.xdcr = (state >> 6) & 1;
  pb.previousStampFlag = (state >> 5) & 1;
  g_settings.Xdcr = pb.xdcr;

  pb.gain = raw[38];
  const int tilt = GetBE16(raw + 39);
  pb.tiltPresent = (tilt & kFlag) != 0;
  if (pb.tiltPresent) {
    pb.tiltDeg = ((tilt & 0x7FFF) - 1800) * 0.1;
    if (!pb.operatorChangedTilt) g_settings.ProfileTiltAngle = pb.tiltDeg;
  }
  pb.rangeOffset = raw[41];
  pb.frequencyCoefficient = raw[42];
  pb.pulseLengthUs = raw[44] * 10;
  pb.reserved45 = raw[45];
  g_settings.Gain = pb.gain;
  g_switch.rangeOffset = pb.rangeOffset;
  g_headLimits.FrequencyCoefficient = pb.frequencyCoefficient;
  g_settings.PulseLength = pb.pulseLengthUs;

  const int sound = GetBE16(raw + 46);
  pb.soundSpeedPresent = (sound & kFlag) != 0;
  if (pb.soundSpeedPresent) {
    pb.soundSpeed = (sound & 0x7FFF) * 0.1;
    // Only a speed the operator could have set is taken into use: a damaged
    // word (0 m/s, say) would otherwise reach every range computation.
    const int usable = pb.soundSpeed >= 1400.0 && pb.soundSpeed <= 2000.0;
    if (!pb.operatorChangedSoundSpeed && usable) {
      g_settings.SoundVelocityMeters = pb.soundSpeed;
      if (pb.soundSpeed != pb.appliedSoundSpeed) {
        pb.appliedSoundSpeed = pb.soundSpeed;
        pb.soundSpeedApplied++;
      }
    }
  }

  if (raw[48] != 0) {
    pb.positionPresent = 1;
    FieldText(pb.latitude, sizeof pb.latitude, raw + 48, kPositionTextBytes);
    FieldText(pb.longitude, sizeof pb.longitude, raw + 62, kPositionTextBytes);
    pb.latHemisphere = static_cast<char>(raw[48 + kPositionTextBytes - 1]);
    pb.lonHemisphere = static_cast<char>(raw[62 + kPositionTextBytes - 1]);
    double speed = raw[76] == 0 ? 0.1 : raw[76] * 0.1;
    // Spike filter: a jump of more than 5 kn is believed only after it has
    // persisted for more than 20 records.
    if (std::fabs(std::trunc(speed - pb.previousSpeedKnots)) > 5.0) {
      if (++pb.speedRejects <= 20) {
        speed = pb.previousSpeedKnots;
      } else {
        pb.speedRejects = 0;
      }
    }
    pb.previousSpeedKnots = speed;
    pb.speedKnots = speed;
    pb.courseDeg = GetBE16(raw + 77) * 0.1;
    pb.positionUpdates++;
  } else {
    pb.positionPresent = 0;
    // A played ping without position means there was no fix when it was
    // recorded: the position still held is stale and goes now, through the
    // same time-out a silent GPS gets after ten seconds.
    (void)ExpireFixNow();
  }

  const int freq = GetBE16(raw + 80);
  pb.frequencyKHz = freq == 0 ? 260 : freq;
  g_switch.playbackFrequencyKHz = pb.frequencyKHz;

  const int heading = GetBE16(raw + 86);
  if (heading & kFlag) {
    double h = ClampDouble((heading & 0x7FFF) * 0.1, 0.0, 359.9) + g_settings.HeadingOffset;
    h = std::fmod(h, 360.0);
    if (h < 0.0) h += 360.0;
    pb.headingDeg = h;
  } else {
    pb.headingDeg = 0.0;
  }
  const int pitch = GetBE16(raw + 82);
  pb.pitchDeg = (pitch & kFlag) ? ClampDouble(((pitch & 0x7FFF) - 900) * 0.1, -90.0, 90.0) : 0.0;
  const int roll = GetBE16(raw + 84);
  double r = (roll & kFlag) ? ((roll & 0x7FFF) - 900) * 0.1 : 0.0;
  if (g_settings.IntegratedRoll == 1) r += g_settings.ProfileTiltAngle;
  pb.rollDeg = ClampDouble(r, -90.0, 90.0);
  pb.rollCorrectionDeg = ClampDouble(pb.rollDeg, -15.0, 15.0);

  const int period = GetBE16(raw + 88);
  pb.pingPeriodMs = period == 0 ? g_ping.pingPeriodMs : period;
  const int gain = raw[90];
  pb.displayGain = (gain == 0 || gain > 100) ? 1 : gain;

  const uint8_t* trailer = raw + kFileHeaderBytes + n;
  pb.xOffsetM = GetFloatLE(trailer + 0);
  pb.yOffsetM = GetFloatLE(trailer + 4);
  pb.depthM = GetFloatLE(trailer + 8);
  pb.heaveM = GetFloatLE(trailer + 24);
  pb.hdtValid = trailer[40] & 1;
  if (trailer[41] | trailer[42] | trailer[43] | trailer[44]) pb.hdtHeadingDeg = GetFloatLE(trailer + 41);

  pb.dataType = type;
  pb.samplesPerElement = kDataTypes[type].samplesPerElement;
}

// The size fields of a record header describe a layout this reader knows.
int RecordSizeKnown(int size) { return size == 8192 || size == 16384 || size == 32768; }

// Marks the current item damaged and resynchronises on the next record.
// Returns 1 when one was found.
int SkipDamaged(FILE* file, int64_t itemStart) {
  g_playback.damagedItems++;
  g_playback.frameBeforeRecord = 0;
  g_playback.frameLength = 0;
  return ScanForRecord(file, itemStart + 1);
}

}  // namespace

int ReadNextRecord(FILE* file) {
  if (file == nullptr) return kReadEnd;
  g_playback.frameBeforeRecord = 0;
  g_playback.frameLength = 0;
  uint8_t* raw = g_playback.rawRecord;
  // Every pass either returns or resumes strictly after the item it refused,
  // so a hostile file cannot make this loop forever.
  for (;;) {
    int64_t start = ftello(file);
    if (start < 0) return kReadEnd;
    uint8_t peek[2];
    const size_t got = std::fread(peek, 1, 2, file);
    if (got == 2 && peek[0] == 'B' && peek[1] == 'M') {
      uint8_t* frame = g_videoFrame;
      if (fseeko(file, start, SEEK_SET) != 0) return kReadEnd;
      if (std::fread(frame, 1, kBmpHeaderBytes, file) != static_cast<size_t>(kBmpHeaderBytes))
        return kReadEnd;
      const uint32_t length = GetLE32(frame + 2);
      if (length < static_cast<uint32_t>(kBmpHeaderBytes) || length > static_cast<uint32_t>(kMaxVideoFrameBytes)) {
        if (!SkipDamaged(file, start)) return kReadEnd;
        continue;
      }
      const size_t rest = length - kBmpHeaderBytes;
      if (std::fread(frame + kBmpHeaderBytes, 1, rest, file) != rest) return kReadEnd;
      g_playback.frameBeforeRecord = 1;
      g_playback.frameLength = static_cast<int>(length);
      start = ftello(file);
      if (start < 0) return kReadEnd;
    } else if (fseeko(file, start, SEEK_SET) != 0) {
      return kReadEnd;
    }

    if (std::fread(raw, 1, kFileHeaderBytes, file) != static_cast<size_t>(kFileHeaderBytes)) return kReadEnd;
    const int size = GetBE16(raw + 4);
    if (!RecordSizeKnown(size)) {
      if (!SkipDamaged(file, start)) return kReadEnd;
      continue;
    }
    const size_t rest = static_cast<size_t>(size - kFileHeaderBytes);
    if (std::fread(raw + kFileHeaderBytes, 1, rest, file) != rest) return kReadEnd;
    const int n = GetBE16(raw + 6);
    const int type = DataTypeOfLetter(raw[kFileHeaderBytes + 1]);
    if (type < 0 || n != kDataTypes[type].recordLength || size != kDataTypes[type].fileRecordSize) {
      if (!SkipDamaged(file, start)) return kReadEnd;
      continue;
    }
    g_playback.recordPos = start;
    TakeRecordValues(raw, n, type);
    if (!LoadPingRecord(raw + kFileHeaderBytes, n)) return kReadEnd;  // cannot happen: checked above
    g_playback.recordsRead++;
    return kReadRecord;
  }
}

// ============================================================ [SECTION] Record scan

namespace {

int ReadByteAt(FILE* file, int64_t pos) {
  if (fseeko(file, pos, SEEK_SET) != 0) return -1;
  return std::fgetc(file);
}

// Offset of the PingRecord's end byte from the record start, by type letter.
int64_t EndMarkOffset(int letter) {
  switch (letter) {
    case 'V':
    case 'Z': return kFileHeaderBytes + kDataTypes[1].recordLength - 1;  // 16112
    case 'Y': return kFileHeaderBytes + kDataTypes[3].recordLength - 1;  // 32112
    default: return kFileHeaderBytes + kDataTypes[0].recordLength - 1;   // 8112
  }
}

uint8_t s_scanChunk[65536];

}  // namespace

// A record start is "K41" (or "K9B") whose PingRecord end byte 0xFC stands
// where its type letter puts it; element data may hold a false "K41" but
// rarely with 0xFC at that distance.
int ScanForRecord(FILE* file, int64_t fromPos) {
  if (file == nullptr) return 0;
  if (fseeko(file, 0, SEEK_END) != 0) return 0;
  const int64_t fileSize = ftello(file);
  int64_t pos = fromPos < 0 ? 0 : fromPos;
  while (pos < fileSize) {
    if (fseeko(file, pos, SEEK_SET) != 0) break;
    const size_t got = std::fread(s_scanChunk, 1, sizeof s_scanChunk, file);
    if (got == 0) break;
    for (size_t i = 0; i < got; ++i) {
      if (s_scanChunk[i] != 'K') continue;
      const int64_t at = pos + static_cast<int64_t>(i);
      const int b1 = i + 1 < got ? s_scanChunk[i + 1] : ReadByteAt(file, at + 1);
      const int b2 = i + 2 < got ? s_scanChunk[i + 2] : ReadByteAt(file, at + 2);
      const int magic = (b1 == '4' && b2 == '1') || (b1 == '9' && b2 == 'B');
      if (!magic) continue;  // a record may still start at the very next byte
      const int letter = ReadByteAt(file, at + kFileHeaderBytes + 1);
      if (letter >= 0 && ReadByteAt(file, at + EndMarkOffset(letter)) == kEndByte) {
        fseeko(file, at, SEEK_SET);
        return 1;
      }
      i += 2;  // "41" / "9B" cannot start a record
    }
    pos += static_cast<int64_t>(got);
  }
  fseeko(file, 0, SEEK_END);
  return 0;
}

// ============================================================ [SECTION] Opening

int HasSonarExtension(const char* name) {
  if (name == nullptr) return 0;
  const char* dot = std::strrchr(name, '.');
  if (dot == nullptr || std::strchr(dot, '/') != nullptr || std::strchr(dot, '\\') != nullptr) return 0;
  return strcasecmp(dot + 1, "K41") == 0;
}

int IsSonarMagic(const uint8_t* first3) {
  if (first3 == nullptr || first3[0] != 'K') return 0;
  return (first3[1] == '4' && first3[2] == '1') || (first3[1] == '9' && first3[2] == 'B');
}

int OpenSonarFile(const char* path, FILE** file) {
  if (file == nullptr) return kOpenCannotOpen;
  *file = nullptr;
  if (!HasSonarExtension(path)) return kOpenBadExtension;
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return kOpenCannotOpen;
  uint8_t magic[3];
  if (std::fread(magic, 1, 3, f) != 3 || !IsSonarMagic(magic)) {
    std::fclose(f);
    return kOpenBadMagic;
  }
  std::rewind(f);
  *file = f;
  return kOpenOk;
}
