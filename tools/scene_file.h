// Scene files: a .K41 recording of a synthetic scene, written through the
// console's own record writer, with time stamps at a chosen ping rate, an
// optional GPS track and optional embedded camera frames.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "scene.h"

struct SurveyParams {
  int pingCount = 200;
  double pingRateHz = 10.0;     // time stamps advance by 1 / rate per ping
  plat::LocalTime start = {2024, 6, 1, 12, 0, 0, 0};
  // ---- GPS track: dead reckoning from the start position
  int gps = 0;                  // 0: records carry no position
  double startLatDeg = 0.0;     // positive north
  double startLonDeg = 0.0;     // positive east
  double speedKnots = 4.0;
  double courseDeg = 0.0;       // true, 0 north, 90 east
  // ---- camera frames (complete BMP files after the flagged record)
  int frameEvery = 0;           // a frame after every frameEvery-th record; 0: none
  int frameWidth = 64;          // multiple of 4
  int frameHeight = 48;
  // ---- display values the records carry
  int gainDb = 3;
  int displayGain = 50;
};

constexpr int kMaxScenePings = 1000000;

// 1 when the survey can be written; otherwise 0 with a reason in `why`.
int ValidateSurvey(const SurveyParams& s, char* why, int whySize);

// Writes s.pingCount records of the scene to `path` (created or truncated).
// The console's settings, switch, navigation and time-stamp state are used
// to format the records and are left as they were found. Returns the
// records written: s.pingCount on success, fewer when a write failed, 0 when
// the file could not be created or the parameters are invalid.
[[nodiscard]] int WriteSceneFile(const char* path, const SceneParams& scene, const SurveyParams& s);

// ---- helpers, shared with the tests
// Local time `seconds` after `start` (calendar-correct, milliseconds kept).
plat::LocalTime TimeAfter(const plat::LocalTime& start, double seconds);
// Position of the track `seconds` after the start, degrees.
void TrackPositionAt(const SurveyParams& s, double seconds, double* latDeg, double* lonDeg);
// The 14-character texts the GPS reader builds for a position, as NMEA
// gives it to five decimals of a minute: " DD.MM.MMMMM H" and "DDD.MM.MMMMM H".
// No terminators are written.
void FormatPositionTexts(double latDeg, double lonDeg, char latitude[14], char longitude[14]);
