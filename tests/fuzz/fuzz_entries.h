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
