// XTF sidescan export: one file header, then per ping a ping header, the port
// channel and the starboard channel of the sidescan line, all little-endian.
#pragma once

#include <cstdint>

#include "files/output_file.h"
#include "settings/constants.h"

constexpr int kXtfFileHeaderBytes = 1024;
constexpr int kXtfPingHeaderBytes = 256;
constexpr int kXtfChannelHeaderBytes = 64;
constexpr int kXtfMaxPingBytes = kXtfPingHeaderBytes + 2 * (kXtfChannelHeaderBytes + kMaxSamples);
constexpr int kXtfNameBytes = 257;
constexpr int kXtfStatusBytes = 320;

struct XtfState {
  // ---- file: opened by a conversion of kind XTF or the command line /x;
  // closed at the end of the file or batch, a run-mode change or shutdown
  OutputFile file;               // keeps its count and failure after the close until the next open
  int open = 0;
  int firstPing = 1;             // the file header is still to be written
  int64_t bytesWritten = 0;
  int writeErrors = 0;           // short writes seen
  int closeErrors = 0;           // closes that reported a lost write (failed flush or close)
  char name[kXtfNameBytes] = "";
  int pingsWritten = 0;
  // ---- the last coordinates computed, kept through records without position
  float latitudeDeg = 0.0f;
  float longitudeDeg = 0.0f;
  // ---- status line of the main window
  char status[kXtfStatusBytes] = "";
  int statusKb = -1;
};
extern XtfState g_xtf;

void ResetXtf();

// Creates (replacing) the file and arms the header for the first ping.
// Returns 1 when open; a failed creation is silent.
int OpenXtfFile(const char* path);
// Returns 0 when the file lost a write (a short write, a failed flush or a
// failed close, counted in closeErrors); 1 also when nothing was open.
int CloseXtfFile();
int XtfFileOpen();
// 1 when the file open now, or the last one closed, lost a write.
int XtfFileFailed();
// Writes the file header before the first ping, then the ping. Returns 1,
// or 0 when no file is open or a write failed (counted in writeErrors).
int WriteXtfPing();

// ---- layouts, exposed for the tests
void BuildXtfFileHeader(uint8_t out[kXtfFileHeaderBytes], int sampleCount);
// The whole ping (header, port channel, starboard channel); returns its length.
int BuildXtfPing(uint8_t* out, int outSize, int sampleCount);
// Day of the year, February counted with 29 days in 1992, 1996 ... 2048 only;
// 1 when the result falls outside 1..366.
int XtfDayOfYear(int day, int month, int year);
// Month 1..12 of "JAN".."DEC", 0 for anything else.
int MonthOfText(const char* three);
// Decimal degrees of a position text (" DD.MM.MMMMM N" / "DDD.MM.MMMMM E"),
// negative south and west. Returns 1, or 0 when the text holds no position.
int PositionDegrees(const char* text, int textBytes, float* degrees);
