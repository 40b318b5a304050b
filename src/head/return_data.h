// Return data: packets from the head assembled into the ping record, the
// record validated and decoded into per-element samples.
#pragma once

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

// The ping record being assembled (live) or put back by playback, and the
// copy the file writer uses. Both sized for the largest type.
extern uint8_t g_pingRecord[kRecordBufferBytes];
extern uint8_t g_fileWriterRecord[kRecordBufferBytes];

// ElementSamples: 16 rows of 1010 floats, value byte - 127; the first
// g_sampleCount of each row are filled by the decoder.
extern float g_elementSamples[kElements][kMaxSamples];
extern int g_sampleCount;  // SampleCount: 500 or 1000

// Values derived from the header of the latest decoded ping.
struct PingState {
  int pingValid = 0;
  int headLevel = 0;
  int headType = 0;            // HeadTypeIndex, byte 8
  int headModeCode = 0;        // byte 9
  double angularConstantDeg = 0.9;
  int pingRangeM = 0;          // from RangeCode, byte 7
  float rangeScaleFactor = 1.0f;
  int expectedType = 0;        // data type 0..3 whose letter is expected
  int recordLength = 8013;     // PingRecord length of the expected type
  int endByte = 0;             // kept end byte
};
extern PingState g_ping;
