// The Diagnostics window's text: the last return header, the link and
// processing timings, the ping rate and the acquisition settings in use, one
// fixed string per row, rebuilt after every ping and when the addresses
// change. The painter only draws these strings.
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/constants.h"

constexpr int kDiagnosticsRows = 29;
constexpr int kDiagnosticsTextBytes = 64;
constexpr int kDiagnosticsHeaderBytes = 12;
constexpr double kVelocityFreshSeconds = 4.0;   // a new velocity older than this warns

// Row positions with a meaning of their own (the others are in the table of
// labels below, in order).
enum DiagnosticsRow {
  kDiagHeader = 0, kDiagType = 1, kDiagHeadLabel = 2, kDiagSonarTime = 3, kDiagPacketTime = 4,
  kDiagProcTime = 5, kDiagPlotTime = 6, kDiagPrf = 7, kDiagDisplayGain = 9, kDiagPulse = 10,
  kDiagFrequency = 11, kDiagAverage = 12, kDiagBeamwidth = 13, kDiagBeams = 14,
  kDiagVelocity = 16, kDiagPitch = 17, kDiagRoll = 18, kDiagHeading = 19, kDiagHdt = 20,
  kDiagDepth = 21, kDiagHeave = 22, kDiagIpSonar = 24, kDiagIpAzimuth = 25, kDiagIpOutput = 26,
  kDiagBytesOut = 27, kDiagExtTrigger = 28
};

// Label of each row, "" for the rows without one (8, 15, 23).
extern const char* const kDiagnosticsLabels[kDiagnosticsRows];
// Label of HeadTypeIndex 0..18 ("n/a" for the others).
const char* HeadTypeLabel(int headTypeIndex);

// Built on the ping thread inside the cycle (under the console lock) and by
// RefreshDiagnostics on the user-interface thread (also under the lock). The
// painter reads `rows` and `velocityWarning` while holding the console lock
// (the rule for every panel painted from state the cycle writes).
struct DiagnosticsState {
  char rows[kDiagnosticsRows][kDiagnosticsTextBytes] = {};  // value column; "" for no value
  int velocityWarning = 0;     // velocity row in the warning colour; set by each build
  int velocityStar = 0;        // the alternating mark is showing; toggled by each build
  int velocitySeen = 0;        // a new velocity arrived since the reset
  std::atomic<int> newVelocity{0};  // set by NoteNewVelocity (any thread), taken by the build
  double velocityAtS = 0.0;    // clock seconds of the newest velocity
  // Header of the last processed record; copied by UpdateDiagnostics (the
  // cycle zeroes the record's own header after each ping); cleared by Reset.
  uint8_t header[kDiagnosticsHeaderBytes] = {};
  int headerPresent = 0;
  // Link timings of the last live ping, ms; set by the acquisition loop
  // through NoteLinkTimes, zeroed by Reset.
  int sonarTimeMs = 0;
  int requestTimeMs = 0;
  int transferTimeMs = 0;
  char controlChars[2] = {};   // first two bytes of the last control datagram; NoteControlDatagram
  // The painter's own duration; written by the user-interface thread.
  std::atomic<int> paintTimeMs{0};
  int64_t paintStartTicks = 0; // user-interface thread only
  int builds = 0;              // row builds since the reset
};
extern DiagnosticsState g_diagnostics;

// Back to "n/a" headers and zero timings, as at start-up and after a
// run-mode change; the rows are rebuilt from that state.
void ResetDiagnostics();

// After every processed ping, before the record is finished: copies the
// record's header, rebuilds the rows and invalidates the window when shown.
void UpdateDiagnostics();
// Rebuilds the rows from the kept header (the address dialog, a paint
// request) and invalidates the window when shown.
void RefreshDiagnostics();
// The row build itself, with the clock given (seconds).
void BuildDiagnosticsRows(double nowS);

// Inputs from the other threads' work.
void NoteLinkTimes(int sonarTimeMs, int requestTimeMs, int transferTimeMs);
void NoteControlDatagram(const uint8_t* datagram, int length);
// A new sound velocity was taken over (external control; the probe's flag
// is read directly).
void NoteNewVelocity();

// The painter brackets its work with these; the duration shows in the
// "plot time" row at the next build.
void BeginDiagnosticsPaint();
void EndDiagnosticsPaint();
