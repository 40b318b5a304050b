// orvale-remote's work, apart from main() so the tests drive it: the options,
// the control datagram built from them, the reading of what the console sends
// (point and beam records, keep-alives) and the exchange itself.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int kRemoteDatagramBytes = 61;  // through the last field the console reads
constexpr int kRemoteTextBytes = 256;

// Fields of the control datagram the remote may set. A field left unset goes
// out with a value the console refuses, so the console keeps its own.
struct RemoteField {
  const char* option;  // "--gain"
  int offset;
  int kind;            // 0 byte, 1 big-endian 16 bits, 2 float little-endian
  double scale;        // the option's number times this is what is sent
  const char* words;   // "a|b|c": the words stand for 0, 1, 2; nullptr: a number
  const char* help;
};
const RemoteField* RemoteFields(int* count);

struct RemoteOptions {
  const char* listenAddr = "127.0.0.1";
  int listenPort = 4040;           // where the console's output arrives
  const char* consoleAddr = nullptr;  // nullptr: learnt from the first datagram heard
  int consolePort = 0;
  int timeoutMs = 5000;            // for the console's first datagram and its answer
  int print = 0;                   // print every point record heard
  double printSeconds = 0;         // how long --print runs (0: until interrupted)
  int release = 0;                 // byte 3 = 0: external control off
  int transmit = 1;                // byte 4 bit 0 clear
  int hideWindow = 0;              // byte 4 bit 1
  int sendControl = 1;             // 0 with --listen-only
  int set[kRemoteDatagramBytes] = {};        // fields given, by offset
  double value[kRemoteDatagramBytes] = {};   // their values as sent (after scale)
};

// Parses the command line. Returns 1; 0 with a one-line reason in `error`;
// 2 for --help (the text is printed by the caller).
int ParseRemoteArgs(int argc, char** argv, RemoteOptions* options, char* error, int errorSize);
void PrintRemoteHelp(FILE* out);

// The 61-byte control datagram of the options. Returns its length.
int BuildControlDatagram(const RemoteOptions& options, uint8_t* out, int outSize);

// What one datagram from the console says, as a text line; for a point
// record: time, beams, depth under the sonar, event mark. Returns the kind:
// 'P' point record, 'B' beam record (or a piece of one), 'Z' keep-alive, 0 other.
int DescribeConsoleDatagram(const uint8_t* data, int length, char* out, int outSize);

// Depth under the sonar of a point record: the median over the points within
// 10 degrees of vertical, metres; 0 when none. Returns 1 when found.
int PointRecordDepth(const uint8_t* data, int length, double* depthM);

struct RemoteReport {
  uint32_t consoleAddr = 0;  // host order
  int consolePort = 0;
  int sent = 0;              // the control datagram went out
  int answered = 0;          // an output datagram came back after it
  int markSeen = 0;          // a point record carried the external-command mark
  int printed = 0;           // point records printed
  uint8_t lastRecord[512] = {};  // the first bytes of the answer
  int lastLength = 0;
  char lastText[kRemoteTextBytes] = "";
};

// Exit statuses.
enum RemoteStatus { kRemoteOk = 0, kRemoteUsage = 1, kRemoteNoConsole = 2, kRemoteFailed = 3 };

// The exchange: listen, learn the console, send, wait for the answer, print.
// Lines go to `out`. Returns a RemoteStatus.
int RunRemote(const RemoteOptions& options, RemoteReport* report, FILE* out);
