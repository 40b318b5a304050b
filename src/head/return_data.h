// Return data: packets from the head assembled into the ping record, the
// record validated and decoded into per-element samples.
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/constants.h"

// Per data type (0 "U", 1 "V", 2 "Z", 3 "Y").
struct DataTypeInfo {
  char letter;
  int packetsPerPing;
  int samplesPerElement;
  int recordLength;     // PingRecord length, 13 + 1000 * packets
  int recordSizeCode;   // 10, 11, 12
  int fileRecordSize;   // 8192, 16384, 32768
};
extern const DataTypeInfo kDataTypes[4];

constexpr int kDataTypeCount = 4;
constexpr int kRecordHeaderBytes = 12;   // PingRecord bytes before the element data
constexpr int kEndByte = 0xFC;
constexpr int kMaxPacketsPerPing = 32;
constexpr int kBeamSampleBytes = 500;    // one slot of imaging's BeamSampleBuffer
constexpr int kBeamTestSlots = kMaxBeams;
constexpr int kMaxShotRing = 32;         // period ring, longer than the deepest averaging (25)
constexpr int kScrambleGroupBytes = 100;
constexpr int kScrambleRows = 16;

// Data type 0..3 of a type letter, -1 for any other byte.
int DataTypeOfLetter(int letter);

// The ping record being assembled (live) or put back by playback, and the
// copy the file writer uses. Both sized for the largest type.
extern uint8_t g_pingRecord[kRecordBufferBytes];
extern uint8_t g_fileWriterRecord[kRecordBufferBytes];

// The acquisition loop's receive buffer for one ReturnPacket. ClearPing
// silences it together with the record.
extern uint8_t g_returnPacket[kReturnPacketBytes];

// ElementSamples: 16 rows of 1010 floats, value byte - 127; the first
// g_sampleCount of each row are filled by the decoder.
extern float g_elementSamples[kElements][kMaxSamples];
extern int g_sampleCount;  // SampleCount: 500 or 1000

// Values derived from the header of the latest decoded ping, the assembly
// counters and the ping-period statistics. Reset by ResetReturnData().
struct PingState {
  // ---- derived from the header by DecodePing; persist until the next decoded ping
  int pingValid = 0;           // 1 after a record passed validation; the command builder clears it
  int headLevel = 0;           // byte 6 low nibble
  int layoutCode = 0;          // byte 6 high nibble, 2 = scrambled element data
  int headType = 0;            // HeadTypeIndex, byte 8
  int headModeCode = 0;        // byte 9
  double angularConstantDeg = 0.9;
  int pingRangeM = 0;          // from RangeCode, byte 7
  float rangeScaleFactor = 1.0f;
  // Counts RangeScaleFactor changes; imaging rebuilds its display geometry
  // when the count differs from the one it last saw.
  std::atomic<int> geometryChanged{0};

  // ---- type in force: set by ApplyDataType (live) or LoadPingRecord (playback)
  int expectedType = 0;        // data type 0..3 whose letter is expected
  int recordLength = 8013;     // PingRecord length of the expected type
  int endByte = 0;             // kept end byte: last accepted packet's, then the record's

  // ---- assembly (acquisition thread)
  int lastAcceptedIndex = -1;  // PacketIndex of the last accepted packet, -1 after a restart
  int headStatus = 0;          // packet 0 byte 4
  int extTriggerStatus = 0;    // packet 0 byte 12
  int sequenceErrorFlag = 0;   // set by a sequence error, cleared by the next accepted packet
  int sequenceErrors = 0;      // shown in diagnostics
  int framingRejects = 0;      // wrong "I"/letter/"X"/end byte
  int shortPackets = 0;        // fewer than 1033 bytes handed over
  int indexRejects = 0;        // PacketIndex not below the packets per ping
  int packetsAccepted = 0;
  int pingsCompleted = 0;
  int pingsDecoded = 0;
  int pingsRejected = 0;       // failed validation in DecodePing

  // ---- PingPeriod, measured for every decoded ping
  double previousPingS = 0.0;  // counter time of the previous decoded ping, seconds
  int pingPeriodMs = 0;        // latest period, capped at 10000
  int livePingPeriodMs = 0;    // live-mode copy capped at 2000 (written to records)
  int periodsThree[3] = {};    // the last three periods for the mean texts
  int periodsInThree = 0;
  int meanPeriodMs = 0;
  int rateHz = 0;
  char meanPeriodText[16] = "";  // "%d ms", every third ping
  char rateText[16] = "";        // "%d Hz"
  int shotRing[kMaxShotRing] = {};  // newest period at shotRingNext - 1
  int shotRingNext = 0;
  int shotRingFilled = 0;
  double outputLagMs = 0.0;    // sum of the newest k periods, 0 when above 10000
  int playbackLagMark = 0;     // set by playback when its data lags one more ping
};
extern PingState g_ping;

// Clears the record buffers, samples, counters and derived values.
void ResetReturnData();
// The counters and timing of a run (sequence errors, rejects, pings, the ping
// period and its mean texts, back to "0 ms" and "0 Hz"), as a run-mode switch
// starts them over; the record buffers are left alone.
void ResetRunCounters();

// Takes data type 0..3 into force: expected letter, record length, SampleCount.
void ApplyDataType(int type);
// Takes g_switch.dataType over when the next request is packet 0. Returns 1
// when the type changed (the caller resets the processing chain).
int TakeDataTypeSetting();

// Result bits of AssemblePacket.
constexpr int kPacketAccepted = 1;
constexpr int kPingComplete = 2;

// Checks one ReturnPacket against the packet index requested
// (g_switch.packetIndex), copies it into g_pingRecord and advances the
// request. On completion the end byte is written and the record copied into
// g_fileWriterRecord. Returns 0 (rejected) or kPacketAccepted, with
// kPingComplete added when this packet completed the ping.
[[nodiscard]] int AssemblePacket(const uint8_t* packet, int length);

// Beam-test raster rows (imaging's BeamSampleBuffer, kBeamTestSlots rows).
using BeamTestRaster = uint8_t (*)[kBeamSampleBytes];
// Validates g_pingRecord, derives the header values, measures PingPeriod and
// fills ElementSamples, or in Beam Test mode the raster `beamTest` when one
// is given. Returns 1 for a decoded ping, 0 for a rejected one.
[[nodiscard]] int DecodePing(BeamTestRaster beamTest = nullptr);
// Same, with the ping's time given (seconds on any monotonic clock).
[[nodiscard]] int DecodePingAt(double nowS, BeamTestRaster beamTest = nullptr);
// Invalidates the record after its processing so it is decoded at most once.
void FinishPing();
// Silences the element data of the current record and the receive buffer.
void ClearPing();
// Zeroes record bytes 0-2 on a run-mode change, so no stale header is shown.
void ClearRecordHeader();

// Puts a stored PingRecord back into g_pingRecord (playback): the type is taken
// from its letter and must match `length`. Returns 1, or 0 when refused.
[[nodiscard]] int LoadPingRecord(const uint8_t* record, int length);

// ---- helpers shared with tools and tests
int PingRangeOfCode(int rangeCode);
float RangeScaleFactorOf(int headModeCode, int rangeM);
double AngularConstantOf(int headModeCode);
// Range step (0..16) a ping range selects in File mode, -1 to leave it.
int RangeStepOfPingRange(int rangeM);
// The signed sample shift n that type "U" decoding applies (n > 0 delays the
// samples, n < 0 advances them); 0 for a range of 0 or less.
int DelayShiftSamples(int rangeM, int pulseUs, int headModeCode, int samplesPerElement);
// Element data scrambling of data-layout code 2 (types "U" and "V"): `data`
// is the element data of `packets` packets of 1000 bytes. Exact inverses.
void ScrambleElementData(uint8_t* data, int packets);
void DescrambleElementData(uint8_t* data, int packets);
// Beam-test raster of the current record into dst (kBeamTestSlots x 500).
void DecodeBeamTest(uint8_t (*dst)[kBeamSampleBytes]);
// PingPeriod bookkeeping for a ping at time nowS (seconds).
void UpdatePingPeriod(double nowS);
