// GPS input: NMEA 0183 sentences from a serial port become the navigation
// state (nav_state.h). A reader thread feeds every received byte to the
// sentence machine; accepted sentences are rebuilt as text and handed to one
// decoder per sentence type (GLL, GGA, RMC, VTG, HDT).
#pragma once

#include <atomic>
#include <cstdint>

#include "nav/nav_state.h"
#include "platform/serial.h"

constexpr int kNmeaAddressMax = 8;    // an address reaching this length is dropped
constexpr int kNmeaDataMax = 256;     // data reaching this length is dropped
constexpr int kSentenceTextChars = 1 + kNmeaAddressMax + 1 + kNmeaDataMax + 6;

// Counters for the diagnostics window; written by the reader thread (or
// whoever feeds bytes), read anywhere.
struct GpsCounters {
  std::atomic<long> accepted{0};          // sentences accepted (checksum right or none)
  std::atomic<long> checksumFailures{0};  // wrong, cut or lower-case checksum
  std::atomic<long> overlong{0};          // address or data too long
  std::atomic<long> fixes{0};             // position texts rebuilt
  std::atomic<long> heldBack{0};          // accepted while the operator's hold was set
};
extern GpsCounters g_gpsCounters;

// The sentence machine and the last accepted sentence. Touched only by the
// thread that feeds bytes (the GPS reader thread while the port is open).
struct GpsParser {
  int state = 0;                          // 0 idle, 1 address, 2 data, 3 and 4 checksum digits
  char address[kNmeaAddressMax + 1] = {};
  int addressLength = 0;
  char data[kNmeaDataMax + 1] = {};
  int dataLength = 0;
  int checksum = 0;                       // XOR of the bytes between '$' and '*'
  int highNibble = 0;                     // first checksum digit, -1 when not hex
  char sentence[kSentenceTextChars] = {}; // the accepted sentence rebuilt as text
  int sentenceLength = 0;
  std::atomic<int> headingType{1};        // GPSHeadingType taken at open: 0 GLL, 1 GGA, 2 RMC
};
extern GpsParser g_gpsParser;

void ResetGps();
void SetGpsHeadingType(int type);

// One received byte; returns 1 when it completed an accepted sentence.
int FeedGpsByte(uint8_t byte);
void FeedGpsBytes(const uint8_t* bytes, int count);
// Decodes a rebuilt sentence ("$ADDRS,data[*HH]\r\n") into the navigation
// state. Returns 1 when the sentence type was used.
int DecodeSentence(const char* text, int length);

// Called on the reader thread after every published position (the track
// plotter's hook; tests collect fixes with it). nullptr removes it.
using FixObserver = void (*)(const NavSnapshot& nav, void* context);
void SetGpsFixObserver(FixObserver observer, void* context);

// Opens the device, starts the reader thread. Returns 1, or 0 silently.
[[nodiscard]] int OpenGps(const char* path, const serial::LineSettings& settings, int headingType);
// The console's call: the port chosen by EnumeratePorts with the settings'
// line settings and GPSHeadingType, when GPS input is enabled and present.
[[nodiscard]] int OpenGpsPort();
// Stops the reader (within about 100 ms) and restores and closes the port.
void CloseGps();
int GpsRunning();
// Bytes the reader thread has received since the port was opened.
long GpsBytesRead();
