// Navigation state: position texts, speed, course and true heading as the GPS
// reader leaves them, read by the recorder, the outputs and the track plotter.
#pragma once

#include <atomic>

constexpr int kPositionTextBytes = 14;  // latitude or longitude text, no terminator
constexpr int kFixAgeTimeoutS = 10;     // seconds without a position before it is dropped

struct NavState {
  // " DD.MM.MMMMM N" and "DDD.MM.MMMMM E"; all bytes 0 without a fix. Written by
  // the GPS reader, cleared by the fix-age time-out; copied under positionCopy.
  char latitude[kPositionTextBytes] = {};
  char longitude[kPositionTextBytes] = {};
  char latHemisphere = 'N';     // last parsed letters
  char lonHemisphere = 'E';
  int positionParsed = 0;       // set by a parsed position sentence
  double speedKnots = 0.0;      // over ground; 0 after the fix-age time-out
  double courseDeg = 0.0;       // over ground, true
  double trueHeadingDeg = 0.0;  // from HDT
  int trueHeadingValid = 0;     // set by the first valid HDT sentence
  int fixAge = 0;               // one-second ticks since the last position sentence
  int speedShown = 0;           // readouts on; the time-out switches them off
  int positionShown = 0;
  // Raised by the recorder while it copies the texts; the GPS reader waits on it.
  std::atomic<int> positionCopy{0};
};
extern NavState g_nav;

void ResetNavState();
// Copies both texts (14 bytes each) with the position-copy flag raised.
void CopyPositionTexts(char* latitude, char* longitude);
// One clock second has passed: counts the fix age; on reaching the time-out
// the texts are cleared under the flag, the readouts go off and speed is 0.
// Returns 1 when the time-out happened on this tick.
int AdvanceFixAge();
