// Entry points shared by the libFuzzer targets and the corpus replay test.
// Each takes arbitrary bytes, drives the code under test from a clean state
// and returns 0, or a non-zero code when a property that must hold for any
// input was broken (the fuzzer then stops with a finding).
#pragma once

#include <cstddef>
#include <cstdint>

struct FuzzStats {
  int packetsAccepted = 0;
  int pingsCompleted = 0;
  int pingsDecoded = 0;
  int recordsRead = 0;
  int damagedItems = 0;
  long sentencesAccepted = 0;
  long fixes = 0;
  long probeLinesTaken = 0;
  long probeValuesTaken = 0;
  long controlFieldsApplied = 0;
  long controlDatagramsIgnored = 0;
  long settingsFilesRead = 0;        // inputs that held at least one line the loader read
  long settingsKeysChanged = 0;      // keys whose loaded value differs from the built-in one
  long commandLinesAccepted = 0;     // conversion runs set up
  long commandLinesRefused = 0;      // texts that closed the program
  long commandLineOutputs = 0;       // outputs created beside an accepted file
  const char* broken = nullptr;      // what the last failing input broke (the entries that say)
  const char* brokenKey = nullptr;   // the settings key concerned, if any
};

// Byte 0 configures data type, transducer, display mode, half range, run mode;
// byte 1 the pulse length. Then steps: an op byte and the bytes of one packet
// (1033 or a short length), optionally with valid framing forced so the
// assembly goes deep; every completed ping is written as a .K41 record, read
// back (must match byte for byte), decoded and finished. The whole input is
// also decoded once as a record body. Returns 1 on a round-trip mismatch.
int FuzzPacketAssembly(const uint8_t* data, size_t size, FuzzStats* stats);

// The input as a .K41 file in memory: every record read and decoded, then
// scans from positions taken from the input. Returns 1 when the reader
// reports a record whose layout is not one of the known ones.
int FuzzK41Reader(const uint8_t* data, size_t size, FuzzStats* stats);

// NMEA: byte 0 picks the position sentence type (GLL, GGA, RMC); the rest is
// the serial byte stream into the sentence machine, then the same bytes as
// one rebuilt sentence straight into the decoders. Returns 1 when a
// published position text breaks its layout or a heading leaves 0 ... 360.
int FuzzNmea(const uint8_t* data, size_t size, FuzzStats* stats);

// Sound-velocity probe: byte 0 picks the probe type; the rest is the byte
// stream into the line framer, then the input into both line parsers.
// Returns 1 when a value outside 1400 ... 2000 m/s would reach the ping cycle.
int FuzzProbe(const uint8_t* data, size_t size, FuzzStats* stats);

// External control: the input is one control datagram (bytes 0-2, which the
// console ignores, choose: bit 0 of byte 0 File mode, bit 1 a sender outside
// the allow-list). Applied twice from a clean console. Returns 1 when a
// setting leaves its accepted values, an outsider changed anything, or the
// repeated datagram applied a field again.
int FuzzExternalControl(const uint8_t* data, size_t size, FuzzStats* stats);

// Settings file: the input is written as "Orvale.INI" in a directory of the
// process's own, loaded and applied as the console does at start (the stored
// frequency's head limits, the loader, its follow-ups, the display pipeline)
// and saved. Returns 1 when a loaded value is outside what the loader keeps,
// the save fails, or the saved file does not load back to the same values
// (loaded and saved again it must come out byte for byte the same).
int FuzzSettingsFile(const uint8_t* data, size_t size, FuzzStats* stats);

// Command line of a conversion run: the input (up to its first NUL, at most
// 300 bytes) is the text the console is started with, parsed in a directory
// of the process's own that holds a few sonar files, a file without the
// "K41" magic and a directory named like one. Texts that could name a file
// outside that directory (an absolute path, "..") are passed over. Returns 1
// when the result, the flags, the error or a formed name is inconsistent: a
// name unterminated in its buffer or not taken from the text, an accepted
// file that is not a readable .K41 file, an output that was not created.
int FuzzCommandLine(const uint8_t* data, size_t size, FuzzStats* stats);
