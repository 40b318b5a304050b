// Navigation state: position texts, speed, course and true heading as the GPS
// reader leaves them, read by the recorder, the outputs, the XTF writer and
// the track plotter on other threads.
//
// Hand-off: a sequence lock. Writers (the GPS reader thread, and the
// acquisition thread for the fix-age time-out) take a small writer mutex,
// change the working record, and publish it whole; readers never block and
// never see half a sentence: CopyNavSnapshot retries while a publish is in
// flight. Nothing here allocates.
#pragma once

#include <cstdint>

constexpr int kPositionTextBytes = 14;  // latitude or longitude text, no terminator
constexpr int kFixAgeTimeoutS = 10;     // seconds without a position before it is dropped

// One consistent picture of the navigation state. Every field is written by
// the GPS reader thread under the writer lock, except fixAge (counted up by
// the acquisition thread's time stamping, reset by each position sentence)
// and the time-out's clearing of texts, speed and readouts (acquisition
// thread, same lock).
struct NavSnapshot {
  // " DD.MM.MMMMM N" and "DDD.MM.MMMMM E"; all bytes 0 without a fix. Rebuilt
  // in place by each position sentence, cleared by the fix-age time-out.
  char latitude[kPositionTextBytes];
  char longitude[kPositionTextBytes];
  char latHemisphere;      // last parsed letters; 'N'/'E' after reset
  char lonHemisphere;
  char pad[2];             // keeps the record free of indeterminate bytes
  int32_t positionParsed;  // set by a parsed position (or VTG) sentence
  int32_t trueHeadingValid;  // set by the first valid HDT sentence
  int32_t fixAge;          // one-second ticks since the last position sentence
  int32_t speedShown;      // readouts on; the time-out switches them off
  int32_t positionShown;
  int32_t pad2;
  double speedKnots;       // over ground; 0 after the fix-age time-out
  double courseDeg;        // over ground, true
  double trueHeadingDeg;   // from HDT, 0 <= h < 360
  uint64_t publishCount;   // publishes since reset; tells readers a new fix came
};

// All zero, letters 'N' and 'E', nothing published yet.
void ResetNavState();

// Readers (any thread, never blocks the writer, allocation-free).
void CopyNavSnapshot(NavSnapshot* out);
// Copies both texts (14 bytes each) from one consistent snapshot.
void CopyPositionTexts(char* latitude, char* longitude);

// Writers. BeginNavWrite takes the writer lock and returns the working record
// (always equal to the last published one); EndNavWrite publishes it whole
// and releases the lock. Keep the section short: the reader thread of a
// serial port is the usual caller, the acquisition thread the other.
NavSnapshot* BeginNavWrite();
void EndNavWrite();

// One clock second has passed: counts the fix age; on reaching the time-out
// the texts are cleared, the readouts go off and speed is 0, all in one
// publish. Returns 1 when the time-out happened on this tick.
int AdvanceFixAge();
// A played record without a position: the time-out happens at once.
int ExpireFixNow();

// The operator's hold: while set, the GPS and probe readers ignore what they
// receive. Set by the user-interface thread, read by the reader threads.
void SetNavHold(int on);
int NavHold();

// Retries readers made because a publish was in flight (diagnostics, tests).
uint64_t NavReadRetries();
