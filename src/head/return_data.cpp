// Return data. The head answers each switch command with one 1033-byte
// ReturnPacket; this module checks every packet against the index that was
// asked for, copies its 1000 data bytes into the ping record and, when the
// last packet of the ping is in, closes the record with its end byte and
// takes the copy the file writer uses. Playback puts stored records into the
// same buffer, so decoding is one path for live and played data: the record
// is validated, the header values (head level, type, mode, range, range
// scale factor) are derived, scrambled element data is put back in order,
// and the samples go to ElementSamples with the transducer's element order
// (or, in Beam Test mode, as magnitudes into imaging's beam sample buffer).
// The decoder also measures the ping period.
//
// Owns g_pingRecord, g_fileWriterRecord, g_returnPacket, g_elementSamples,
// g_sampleCount and g_ping. Everything here runs on the acquisition thread
// (live) or the user-interface thread (playback), never both at once.
//
// Index:
//   [SECTION] Tables
//   [SECTION] Header-derived values
//   [SECTION] Assembly
//   [SECTION] Descrambling
//   [SECTION] Decoding
//   [SECTION] Ping period
#include "head/return_data.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "head/switch_command.h"
#include "platform/platform.h"
#include "settings/settings.h"

const DataTypeInfo kDataTypes[4] = {
    {'U', 8, 500, 8013, 10, 8192},
    {'V', 16, 1000, 16013, 11, 16384},
    {'Z', 16, 500, 16013, 11, 16384},
    {'Y', 32, 500, 32013, 12, 32768},
};

uint8_t g_pingRecord[kRecordBufferBytes];
uint8_t g_fileWriterRecord[kRecordBufferBytes];
uint8_t g_returnPacket[kReturnPacketBytes];
float g_elementSamples[kElements][kMaxSamples];
int g_sampleCount = 500;
PingState g_ping;

// ============================================================ [SECTION] Tables

namespace {

// Packet layout.
constexpr int kPacketIndexByte = 5;
constexpr int kPacketDataOffset = 32;
constexpr int kPacketEndOffset = kReturnPacketBytes - 1;  // 1032
constexpr int kStatusByte = 4;
constexpr int kExtTriggerByte = 12;

// Scrambling permutation: row r maps position i of a 100-byte group to
// (a_r * i + b_r) mod 100. Every a_r is prime to 100, so every row is a
// permutation of 0..99.
constexpr int kScrambleMul[kScrambleRows] = {71, 33, 49, 87, 13, 59, 91, 27,
                                             43, 77, 9,  61, 97, 19, 53, 83};

constexpr std::array<uint8_t, kScrambleRows * kScrambleGroupBytes> MakeScrambleTable() {
  std::array<uint8_t, kScrambleRows * kScrambleGroupBytes> t{};
  for (int r = 0; r < kScrambleRows; ++r) {
    const int b = (37 * r + 11) % kScrambleGroupBytes;
    for (int i = 0; i < kScrambleGroupBytes; ++i)
      t[r * kScrambleGroupBytes + i] =
          static_cast<uint8_t>((kScrambleMul[r] * i + b) % kScrambleGroupBytes);
  }
  return t;
}
constexpr auto kScrambleTable = MakeScrambleTable();

constexpr bool EveryRowIsAPermutation() {
  for (int r = 0; r < kScrambleRows; ++r) {
    bool seen[kScrambleGroupBytes] = {};
    for (int i = 0; i < kScrambleGroupBytes; ++i) {
      const int u = kScrambleTable[r * kScrambleGroupBytes + i];
      if (seen[u]) return false;
      seen[u] = true;
    }
  }
  return true;
}
static_assert(EveryRowIsAPermutation());

// Row start R(g) of group g across the whole ping.
int RowStart(int group) { return ((group * 7 + 3) % kScrambleRows) * kScrambleGroupBytes; }

uint8_t s_scratch[kMaxPacketsPerPing * kPacketDataBytes];

// Range selection in File mode: ping range in metres -> range step.
struct RangeStepEntry {
  int rangeM;
  int step;
};
constexpr RangeStepEntry kStepOfRange[] = {
    {1, 0},   {2, 0},   {3, 1},   {4, 1},   {5, 2},    {10, 3},   {20, 4},   {30, 5},   {40, 6},
    {50, 7},  {60, 8},  {80, 9},  {100, 10}, {150, 11}, {200, 12}, {250, 13}, {300, 14},
    {400, 15}, {500, 16},
};

// Fixed head delay per range, microseconds, for the type "U" shift.
struct RangeDelay {
  int rangeM;
  int delayUs;
};
constexpr RangeDelay kRangeDelays[] = {
    {5, 46},   {10, 92},  {20, 183}, {30, 256}, {40, 352}, {50, 424},
    {60, 532}, {80, 670}, {100, 780}, {150, 780}, {200, 780},
};

// First beam-test slot of the 16 element rows, per data type.
constexpr int kBeamTestFirstSlot[kDataTypeCount] = {69, 69, 61, 45};

}  // namespace

int DataTypeOfLetter(int letter) {
  for (int t = 0; t < kDataTypeCount; ++t)
    if (kDataTypes[t].letter == letter) return t;
  return -1;
}

// ============================================================ [SECTION] Header-derived values

int PingRangeOfCode(int rangeCode) {
  switch (rangeCode) {
    case 201: return 250;
    case 202: return 300;
    case 203: return 400;
    case 204: return 500;
    default: return rangeCode;
  }
}

double AngularConstantOf(int headModeCode) {
  switch (headModeCode) {
    case 0: return 0.9;
    case 1:
    case 3: return 2.5;
    case 2: return 1.5;
    default: return 0.5;
  }
}

float RangeScaleFactorOf(int headModeCode, int rangeM) {
  if (headModeCode == 1) {
    // Mode 1 heads read 0.8 % long on the table's ranges from 5 m out; the
    // two shortest ranges are exact.
    static constexpr int kLong[] = {5, 10, 20, 30, 40, 50, 60, 80, 100, 150, 200, 250, 300, 400, 500};
    for (int r : kLong)
      if (r == rangeM) return 0.992f;
    return 1.0f;
  }
  if (headModeCode == 2) {
    switch (rangeM) {
      case 5: return 1.023f;
      case 10: return 1.007475f;
      case 20: return 1.023f;
      case 30: return 1.01265f;
      case 40: return 1.00971f;
      case 50: return 1.0044f;
      case 60: return 1.0023f;
      case 100: return 0.9981975f;
      default: return 1.0f;
    }
  }
  if (headModeCode == 4 || headModeCode == 5) return 1.024f;
  return 1.0f;
}

int RangeStepOfPingRange(int rangeM) {
  for (const RangeStepEntry& e : kStepOfRange)
    if (e.rangeM == rangeM) return e.step;
  return -1;
}

int DelayShiftSamples(int rangeM, int pulseUs, int headModeCode, int samplesPerElement) {
  // A range code of 0 (damaged or hostile record) would divide by zero.
  if (rangeM <= 0 || samplesPerElement <= 0) return 0;
  int rangeDelay = 0;
  for (const RangeDelay& d : kRangeDelays)
    if (d.rangeM == rangeM) rangeDelay = d.delayUs;
  int modeDelay = 65;
  switch (headModeCode) {
    case 0: modeDelay = 68; break;
    case 1:
    case 3: modeDelay = 66; break;
    case 4:
    case 5: modeDelay = 164; break;
    default: break;
  }
  const int totalUs = modeDelay + pulseUs - rangeDelay;
  // 0.00075 m per microsecond: half the path sound covers at 1500 m/s.
  const float h = static_cast<float>(totalUs) * 0.00075f * static_cast<float>(samplesPerElement) /
                  static_cast<float>(rangeM);
  // A shift of a whole row or more leaves nothing of the ping; clamping first
  // also keeps the float-to-int conversion defined for absurd pulse lengths.
  const float limit = static_cast<float>(samplesPerElement);
  if (h >= limit) return samplesPerElement;
  if (h <= -limit) return -samplesPerElement;
  if (h >= 0.f) return static_cast<int>(std::trunc(h + 0.5f));
  return static_cast<int>(std::trunc(h - 0.5f));
}

// ============================================================ [SECTION] Assembly

void ApplyDataType(int type) {
  if (type < 0 || type >= kDataTypeCount) type = 0;
  g_ping.expectedType = type;
  g_ping.recordLength = kDataTypes[type].recordLength;
  g_sampleCount = kDataTypes[type].samplesPerElement;
  g_switch.packetIndex = 0;
  g_ping.lastAcceptedIndex = -1;
}

int TakeDataTypeSetting() {
  if (g_switch.packetIndex != 0) return 0;
  const int type = g_switch.dataType;
  if (type < 0 || type >= kDataTypeCount || type == g_ping.expectedType) return 0;
  ApplyDataType(type);
  return 1;
}

// ReturnPacket, 1033 bytes:
//   0 "I" | 1 type letter | 2 "X" | 3 status (not interpreted) | 4 status
//   5 bits 0-4 PacketIndex | 6 HeadLevel (low) + layout code (high)
//   7 RangeCode | 8 HeadTypeIndex | 9 HeadModeCode | 10-11 -
//   12 external-trigger status | 13-31 - | 32-1031 element data | 1032 0xFC
int AssemblePacket(const uint8_t* packet, int length) {
  if (packet == nullptr || length < kReturnPacketBytes) {
    // The end byte of a short packet was never received; whatever sits at
    // offset 1032 of the buffer is stale.
    g_ping.shortPackets++;
    return 0;
  }
  const DataTypeInfo& dt = kDataTypes[g_ping.expectedType];
  if (packet[0] != 'I' || packet[1] != static_cast<uint8_t>(dt.letter) || packet[2] != 'X' ||
      packet[kPacketEndOffset] != kEndByte) {
    g_ping.framingRejects++;
    return 0;  // the same index is asked for again
  }
  const int packets = dt.packetsPerPing;
  int expected = g_switch.packetIndex;
  if (expected < 0 || expected >= packets) {
    expected = 0;
    g_switch.packetIndex = 0;
  }
  const int index = packet[kPacketIndexByte] & 0x1F;
  if (index != expected) {
    // Also the guard for indexes at or beyond the packets per ping: such an
    // index is never used as a copy offset.
    if (index >= packets) g_ping.indexRejects++;
    g_ping.sequenceErrors++;
    g_ping.sequenceErrorFlag = 1;
    g_ping.lastAcceptedIndex = -1;
    g_switch.packetIndex = 0;
    return 0;
  }
  g_ping.sequenceErrorFlag = 0;
  std::memcpy(g_pingRecord, packet, kRecordHeaderBytes);
  std::memcpy(g_pingRecord + kRecordHeaderBytes + kPacketDataBytes * index,
              packet + kPacketDataOffset, kPacketDataBytes);
  g_ping.endByte = packet[kPacketEndOffset];
  g_ping.lastAcceptedIndex = index;
  g_ping.packetsAccepted++;
  if (index == 0) {
    g_ping.headStatus = packet[kStatusByte];
    g_ping.extTriggerStatus = packet[kExtTriggerByte];
  }
  int result = kPacketAccepted;
  if (index == packets - 1) {
    g_pingRecord[kRecordHeaderBytes + kPacketDataBytes * packets] =
        static_cast<uint8_t>(g_ping.endByte);
    std::memcpy(g_fileWriterRecord, g_pingRecord, dt.recordLength);
    g_ping.pingsCompleted++;
    result |= kPingComplete;
  }
  g_switch.packetIndex = (expected + 1) % packets;
  return result;
}

int LoadPingRecord(const uint8_t* record, int length) {
  if (record == nullptr || length < 2) return 0;
  const int type = DataTypeOfLetter(record[1]);
  if (type < 0 || length != kDataTypes[type].recordLength) return 0;
  std::memcpy(g_pingRecord, record, length);
  g_ping.expectedType = type;
  g_ping.recordLength = length;
  g_sampleCount = kDataTypes[type].samplesPerElement;
  g_ping.endByte = record[length - 1];
  return 1;
}

void FinishPing() {
  g_pingRecord[0] = g_pingRecord[1] = g_pingRecord[2] = 0;
  const int length = g_ping.recordLength;
  if (length > 0 && length <= kRecordBufferBytes) g_pingRecord[length - 1] = 0;
  g_ping.endByte = 0;
}

void ClearRecordHeader() { g_pingRecord[0] = g_pingRecord[1] = g_pingRecord[2] = 0; }

void ClearPing() {
  std::memset(g_pingRecord + kRecordHeaderBytes, 127, static_cast<size_t>(kElements) * g_sampleCount);
  // Everything after the header of the receive buffer, the end byte included,
  // so a stale packet fails its check.
  std::memset(g_returnPacket + kRecordHeaderBytes, 127, kReturnPacketBytes - kRecordHeaderBytes);
}

// ============================================================ [SECTION] Descrambling

// Group g's input byte i goes to output position u = T(R(g) + i) and is
// XORed with 2u (mod 256).
void DescrambleElementData(uint8_t* data, int packets) {
  if (data == nullptr || packets <= 0 || packets > kMaxPacketsPerPing) return;
  const int groups = packets * (kPacketDataBytes / kScrambleGroupBytes);
  for (int g = 0; g < groups; ++g) {
    const uint8_t* in = data + g * kScrambleGroupBytes;
    uint8_t* out = s_scratch + g * kScrambleGroupBytes;
    const uint8_t* row = kScrambleTable.data() + RowStart(g);
    for (int i = 0; i < kScrambleGroupBytes; ++i) {
      const int u = row[i];
      out[u] = static_cast<uint8_t>(in[i] ^ ((2 * u) & 0xFF));
    }
  }
  std::memcpy(data, s_scratch, static_cast<size_t>(groups) * kScrambleGroupBytes);
}

void ScrambleElementData(uint8_t* data, int packets) {
  if (data == nullptr || packets <= 0 || packets > kMaxPacketsPerPing) return;
  const int groups = packets * (kPacketDataBytes / kScrambleGroupBytes);
  for (int g = 0; g < groups; ++g) {
    const uint8_t* plain = data + g * kScrambleGroupBytes;
    uint8_t* out = s_scratch + g * kScrambleGroupBytes;
    const uint8_t* row = kScrambleTable.data() + RowStart(g);
    for (int i = 0; i < kScrambleGroupBytes; ++i) {
      const int u = row[i];
      out[i] = static_cast<uint8_t>(plain[u] ^ ((2 * u) & 0xFF));
    }
  }
  std::memcpy(data, s_scratch, static_cast<size_t>(groups) * kScrambleGroupBytes);
}

// ============================================================ [SECTION] Decoding

namespace {

inline int Magnitude(uint8_t b) {
  const int v = static_cast<int>(b) - 127;
  return v < 0 ? -v : v;
}

// Element data is sample-major: byte 16 s + e is sample s of element
// position e. Up-looking transducers see the array the other way round.
void DecodeElementSamples(int type) {
  const uint8_t* data = g_pingRecord + kRecordHeaderBytes;
  const int samples = kDataTypes[type].samplesPerElement;
  const int up = g_settings.Xdcr == 1;
  const int shift = type == 0 ? DelayShiftSamples(g_ping.pingRangeM, g_settings.PulseLength,
                                                  g_ping.headModeCode, samples)
                              : 0;
  for (int s = 0; s < samples; ++s) {
    const int src = s - shift;
    if (src < 0 || src >= samples) {
      for (int e = 0; e < kElements; ++e) g_elementSamples[e][s] = 0.f;
      continue;
    }
    const uint8_t* group = data + src * kElements;
    for (int e = 0; e < kElements; ++e) {
      const int element = up ? kElements - 1 - e : e;
      g_elementSamples[element][s] = static_cast<float>(static_cast<int>(group[e]) - 127);
    }
  }
}

}  // namespace

void DecodeBeamTest(uint8_t (*dst)[kBeamSampleBytes]) {
  if (dst == nullptr) return;
  const int type = g_ping.expectedType;
  const uint8_t* data = g_pingRecord + kRecordHeaderBytes;
  const int up = g_settings.Xdcr == 1;
  const int first = kBeamTestFirstSlot[type];
  const int halfRange = type == 0 && g_settings.HalfRange != 0;
  for (int e = 0; e < kElements; ++e) {
    uint8_t* row = dst[up ? first + e : first + kElements - 1 - e];
    if (type == 1) {
      // 1000 samples into 500 columns: keep the stronger of each pair.
      for (int c = 0; c < kBeamSampleBytes; ++c) {
        const int a = Magnitude(data[(2 * c) * kElements + e]);
        const int b = Magnitude(data[(2 * c + 1) * kElements + e]);
        row[c] = static_cast<uint8_t>(a > b ? a : b);
      }
    } else if (halfRange) {
      for (int s = 0; s < kBeamSampleBytes / 2; ++s) {
        const uint8_t m = static_cast<uint8_t>(Magnitude(data[s * kElements + e]));
        row[2 * s] = m;
        row[2 * s + 1] = m;
      }
    } else {
      for (int s = 0; s < kBeamSampleBytes; ++s)
        row[s] = static_cast<uint8_t>(Magnitude(data[s * kElements + e]));
    }
  }
}

int DecodePing(BeamTestRaster beamTest) {
  const int64_t f = plat::CounterFrequency();
  const double now = f > 0 ? static_cast<double>(plat::CounterNow()) / static_cast<double>(f) : 0.0;
  return DecodePingAt(now, beamTest);
}

// PingRecord: 0-11 header of the last packet | 12 .. 12+1000P-1 element data |
// 12+1000P end byte 0xFC.
int DecodePingAt(double nowS, BeamTestRaster beamTest) {
  const int type = g_ping.expectedType;
  const DataTypeInfo& dt = kDataTypes[type];
  const int length = g_ping.recordLength;
  if (length != dt.recordLength || g_pingRecord[0] != 'I' ||
      g_pingRecord[1] != static_cast<uint8_t>(dt.letter) || g_pingRecord[2] != 'X' ||
      g_ping.endByte != kEndByte) {
    g_ping.pingsRejected++;
    return 0;
  }
  g_ping.endByte = g_pingRecord[length - 1];
  g_sampleCount = dt.samplesPerElement;

  g_ping.pingValid = 1;
  g_ping.headLevel = g_pingRecord[6] & 0x0F;
  g_ping.layoutCode = g_pingRecord[6] >> 4;
  g_ping.headType = g_pingRecord[8];
  g_ping.headModeCode = g_pingRecord[9];
  g_ping.angularConstantDeg = AngularConstantOf(g_ping.headModeCode);
  g_ping.pingRangeM = PingRangeOfCode(g_pingRecord[7]);
  const float factor = RangeScaleFactorOf(g_ping.headModeCode, g_ping.pingRangeM);
  if (factor != g_ping.rangeScaleFactor) {
    g_ping.rangeScaleFactor = factor;
    g_ping.geometryChanged.fetch_add(1);
  }
  if (g_settings.RunMode == 1) {
    const int step = RangeStepOfPingRange(g_ping.pingRangeM);
    if (step >= 0) g_settings.Range = step;
  }

  UpdatePingPeriod(nowS);

  if (g_ping.layoutCode == 2 && (type == 0 || type == 1))
    DescrambleElementData(g_pingRecord + kRecordHeaderBytes, dt.packetsPerPing);

  if (g_settings.DisplayType == 4 && beamTest != nullptr)
    DecodeBeamTest(beamTest);
  else
    DecodeElementSamples(type);
  g_ping.pingsDecoded++;
  return 1;
}

// ============================================================ [SECTION] Ping period

void UpdatePingPeriod(double nowS) {
  double ms = std::trunc((nowS - g_ping.previousPingS) * 1000.0 + 0.5);
  if (!(ms >= 0.0)) ms = 0.0;  // a clock that went back, or NaN
  if (ms > 10000.0) ms = 10000.0;
  const int period = static_cast<int>(ms);
  g_ping.pingPeriodMs = period;
  if (g_settings.RunMode == 0) g_ping.livePingPeriodMs = period > 2000 ? 2000 : period;

  g_ping.periodsThree[g_ping.periodsInThree++] = period;
  if (g_ping.periodsInThree == 3) {
    g_ping.periodsInThree = 0;
    const int mean = (g_ping.periodsThree[0] + g_ping.periodsThree[1] + g_ping.periodsThree[2]) / 3;
    int rate = mean > 0 ? static_cast<int>(std::trunc(1000.0 / mean + 0.5)) : 0;
    if (rate > 1000) rate = 0;
    g_ping.meanPeriodMs = mean;
    g_ping.rateHz = rate;
    std::snprintf(g_ping.meanPeriodText, sizeof g_ping.meanPeriodText, "%d ms", mean);
    std::snprintf(g_ping.rateText, sizeof g_ping.rateText, "%d Hz", rate);
  }

  g_ping.shotRing[g_ping.shotRingNext] = period;
  g_ping.shotRingNext = (g_ping.shotRingNext + 1) % kMaxShotRing;
  if (g_ping.shotRingFilled < kMaxShotRing) g_ping.shotRingFilled++;
  int lagPings = 0;
  if (g_settings.AvgFilter == 1) {
    int shots = g_settings.AvgFilterIndex;
    if (shots < 1) shots = 1;
    if (shots > kMaxShotRing) shots = kMaxShotRing;
    lagPings = (shots - 1) / 2;
  }
  if (g_settings.ProfilePointDetection == 1 && g_settings.ProfilePointFilter == 2) lagPings++;
  if (g_settings.RunMode == 1 && g_ping.playbackLagMark) lagPings++;
  if (lagPings > g_ping.shotRingFilled) lagPings = g_ping.shotRingFilled;
  double sum = 0.0;
  for (int i = 1; i <= lagPings; ++i)
    sum += g_ping.shotRing[(g_ping.shotRingNext - i + kMaxShotRing) % kMaxShotRing];
  g_ping.outputLagMs = sum > 10000.0 ? 0.0 : sum;

  g_ping.previousPingS = nowS;
}

void ResetReturnData() {
  std::memset(g_pingRecord, 0, sizeof g_pingRecord);
  std::memset(g_fileWriterRecord, 0, sizeof g_fileWriterRecord);
  std::memset(g_returnPacket, 0, sizeof g_returnPacket);
  std::memset(g_elementSamples, 0, sizeof g_elementSamples);
  g_ping.pingValid = 0;
  g_ping.headLevel = 0;
  g_ping.layoutCode = 0;
  g_ping.headType = 0;
  g_ping.headModeCode = 0;
  g_ping.angularConstantDeg = 0.9;
  g_ping.pingRangeM = 0;
  g_ping.rangeScaleFactor = 1.0f;
  g_ping.geometryChanged = 0;
  g_ping.endByte = 0;
  g_ping.headStatus = 0;
  g_ping.extTriggerStatus = 0;
  g_ping.sequenceErrorFlag = 0;
  ResetRunCounters();
  g_ping.meanPeriodText[0] = '\0';
  g_ping.rateText[0] = '\0';
  ApplyDataType(0);
}

void ResetRunCounters() {
  g_ping.sequenceErrors = 0;
  g_ping.framingRejects = 0;
  g_ping.shortPackets = 0;
  g_ping.indexRejects = 0;
  g_ping.packetsAccepted = 0;
  g_ping.pingsCompleted = 0;
  g_ping.pingsDecoded = 0;
  g_ping.pingsRejected = 0;
  g_ping.previousPingS = 0.0;
  g_ping.pingPeriodMs = 0;
  g_ping.livePingPeriodMs = 0;
  for (int& p : g_ping.periodsThree) p = 0;
  g_ping.periodsInThree = 0;
  g_ping.meanPeriodMs = 0;
  g_ping.rateHz = 0;
  std::snprintf(g_ping.meanPeriodText, sizeof g_ping.meanPeriodText, "0 ms");
  std::snprintf(g_ping.rateText, sizeof g_ping.rateText, "0 Hz");
  for (int& p : g_ping.shotRing) p = 0;
  g_ping.shotRingNext = 0;
  g_ping.shotRingFilled = 0;
  g_ping.outputLagMs = 0.0;
  g_ping.playbackLagMark = 0;
}
