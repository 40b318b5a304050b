// Scene files. Writes a synthetic scene as a .K41 recording the way the
// console records a live session: for every ping the scene's PingRecord is
// put into the file-writer buffer, the cycle is stamped, the navigation
// state carries the dead-reckoned GPS track, and the console's own record
// writer (FormatRecord) formats the record, followed by a camera frame when
// one is due. The console state the writer reads (settings, switch state,
// navigation, time stamps, the file-writer buffer) is borrowed for the run
// and restored afterwards. Owns nothing between calls.
#include "scene_file.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "scene_frame.h"
#include "settings/settings.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMetresPerDegreeLat = 111120.0;  // 60 nautical miles
constexpr double kMetresPerNauticalMile = 1852.0;

// Days since 1970-01-01 of a civil date, and back (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}
void CivilFromDays(int64_t z, int* y, int* m, int* d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

// What the writer borrows from the console, to put back afterwards.
struct Borrowed {
  Settings settings;
  int headTypeSetting, frequencyCoefficient, rangeOffset, playbackFrequencyKHz;
  NavSnapshot nav;
  int livePingPeriodMs;
  TimeStampState stamps;
  RecordWriterState writer;
};

void Borrow(Borrowed* b, std::vector<uint8_t>* writerCopy) {
  b->settings = g_settings;
  b->headTypeSetting = g_switch.headTypeSetting;
  b->frequencyCoefficient = g_headLimits.FrequencyCoefficient;
  b->rangeOffset = g_switch.rangeOffset;
  b->playbackFrequencyKHz = g_switch.playbackFrequencyKHz;
  CopyNavSnapshot(&b->nav);
  b->livePingPeriodMs = g_ping.livePingPeriodMs;
  b->stamps = g_timeStamps;
  b->writer = g_recordWriter;
  writerCopy->assign(g_fileWriterRecord, g_fileWriterRecord + kRecordBufferBytes);
}

void GiveBack(const Borrowed& b, const std::vector<uint8_t>& writerCopy) {
  g_settings = b.settings;
  g_switch.headTypeSetting = b.headTypeSetting;
  g_headLimits.FrequencyCoefficient = b.frequencyCoefficient;
  g_switch.rangeOffset = b.rangeOffset;
  g_switch.playbackFrequencyKHz = b.playbackFrequencyKHz;
  NavSnapshot* nav = BeginNavWrite();
  *nav = b.nav;
  EndNavWrite();
  g_ping.livePingPeriodMs = b.livePingPeriodMs;
  g_timeStamps = b.stamps;
  g_recordWriter = b.writer;
  std::memcpy(g_fileWriterRecord, writerCopy.data(), kRecordBufferBytes);
}

// The console as a live recording session with the scene's head settings.
void SetUpConsole(const SceneParams& scene, const SurveyParams& s) {
  g_settings.RunMode = 0;
  g_settings.ComPortGPSEnable = 0;  // the writer keeps the fix fresh itself
  g_settings.Xdcr = scene.xdcr;
  g_settings.PulseLength = ScenePulseUs(scene);
  g_settings.SoundVelocityMeters = scene.soundSpeed;
  g_settings.Frequency = scene.frequencyKHz;
  g_settings.Gain = s.gainDb;
  g_settings.DisplayGain = s.displayGain;
  g_switch.headTypeSetting = scene.headTypeSetting;
  g_headLimits.FrequencyCoefficient = FrequencyCoefficientOfSetting(scene.headTypeSetting);
  g_switch.rangeOffset = 0;
  const double periodMs = std::trunc(1000.0 / s.pingRateHz + 0.5);
  g_ping.livePingPeriodMs = static_cast<int>(periodMs > 2000.0 ? 2000.0 : periodMs);
  g_recordWriter = RecordWriterState{};
  NavSnapshot* nav = BeginNavWrite();
  std::memset(nav->latitude, 0, kPositionTextBytes);
  std::memset(nav->longitude, 0, kPositionTextBytes);
  nav->speedKnots = 0.0;
  nav->courseDeg = 0.0;
  nav->trueHeadingValid = 0;
  nav->trueHeadingDeg = 0.0;
  EndNavWrite();
}

void SetNavigation(const SurveyParams& s, double seconds) {
  if (!s.gps) return;
  double lat, lon;
  TrackPositionAt(s, seconds, &lat, &lon);
  NavSnapshot* nav = BeginNavWrite();
  FormatPositionTexts(lat, lon, nav->latitude, nav->longitude);
  nav->latHemisphere = lat < 0.0 ? 'S' : 'N';
  nav->lonHemisphere = lon < 0.0 ? 'W' : 'E';
  nav->positionParsed = 1;
  nav->fixAge = 0;
  nav->speedKnots = s.speedKnots;
  nav->courseDeg = s.courseDeg;
  EndNavWrite();
}

}  // namespace

plat::LocalTime TimeAfter(const plat::LocalTime& start, double seconds) {
  const int64_t startMs = ((DaysFromCivil(start.year, start.month, start.day) * 24 + start.hour) * 60 + start.minute) *
                              60000LL +
                          start.second * 1000LL + start.millisecond;
  const int64_t ms = startMs + static_cast<int64_t>(std::floor(seconds * 1000.0 + 0.5));
  int64_t days = ms / 86400000LL;
  int64_t inDay = ms % 86400000LL;
  if (inDay < 0) {
    inDay += 86400000LL;
    days -= 1;
  }
  plat::LocalTime t{};
  CivilFromDays(days, &t.year, &t.month, &t.day);
  t.hour = static_cast<int>(inDay / 3600000);
  t.minute = static_cast<int>(inDay / 60000 % 60);
  t.second = static_cast<int>(inDay / 1000 % 60);
  t.millisecond = static_cast<int>(inDay % 1000);
  return t;
}

void TrackPositionAt(const SurveyParams& s, double seconds, double* latDeg, double* lonDeg) {
  const double runM = s.speedKnots * kMetresPerNauticalMile / 3600.0 * seconds;
  const double course = s.courseDeg * kPi / 180.0;
  double lat = s.startLatDeg + runM * std::cos(course) / kMetresPerDegreeLat;
  if (lat > 89.9) lat = 89.9;
  if (lat < -89.9) lat = -89.9;
  const double midLat = 0.5 * (s.startLatDeg + lat) * kPi / 180.0;
  double lon = s.startLonDeg + runM * std::sin(course) / (kMetresPerDegreeLat * std::cos(midLat));
  lon = std::remainder(lon, 360.0);  // -180..180
  *latDeg = lat;
  *lonDeg = lon;
}

void FormatPositionTexts(double latDeg, double lonDeg, char latitude[14], char longitude[14]) {
  // Whole 1e-5 minutes, rounded as a receiver printing five decimals does.
  auto split = [](double deg, int* d, int* m, int* frac) {
    const int64_t units = static_cast<int64_t>(std::floor(std::fabs(deg) * 60.0 * 1e5 + 0.5));
    *d = static_cast<int>(units / 6000000);
    *m = static_cast<int>(units / 100000 % 60);
    *frac = static_cast<int>(units % 100000);
  };
  int d, m, f;
  char text[32];
  split(latDeg, &d, &m, &f);
  std::snprintf(text, sizeof text, " %02d.%02d.%05d %c", d % 100, m, f, latDeg < 0.0 ? 'S' : 'N');
  std::memcpy(latitude, text, 14);
  split(lonDeg, &d, &m, &f);
  std::snprintf(text, sizeof text, "%03d.%02d.%05d %c", d % 1000, m, f, lonDeg < 0.0 ? 'W' : 'E');
  std::memcpy(longitude, text, 14);
}

int ValidateSurvey(const SurveyParams& s, char* why, int whySize) {
  const char* reason = nullptr;
  if (s.pingCount < 1 || s.pingCount > kMaxScenePings)
    reason = "ping count must be 1..1000000";
  else if (!(s.pingRateHz >= 0.1 && s.pingRateHz <= 100.0))
    reason = "ping rate must be 0.1..100 Hz";
  else if (s.start.month < 1 || s.start.month > 12 || s.start.day < 1 || s.start.day > 31 || s.start.year < 1 ||
           s.start.year > 9999 || s.start.hour < 0 || s.start.hour > 23 || s.start.minute < 0 ||
           s.start.minute > 59 || s.start.second < 0 || s.start.second > 59 || s.start.millisecond < 0 ||
           s.start.millisecond > 999)
    reason = "start time is not a valid date and time";
  else if (s.gps && !(std::fabs(s.startLatDeg) <= 89.9 && std::fabs(s.startLonDeg) <= 180.0))
    reason = "start position must be latitude -89.9..89.9, longitude -180..180";
  else if (s.gps && !(s.speedKnots >= 0.0 && s.speedKnots <= 50.0 && std::isfinite(s.courseDeg)))
    reason = "speed must be 0..50 knots and the course a number";
  else if (s.frameEvery < 0)
    reason = "frame interval must be 0 (none) or more";
  else if (s.frameEvery > 0 && SceneFrameBytes(s.frameWidth, s.frameHeight) == 0)
    reason = "frame width must be a multiple of 4, 4..2048, height 1..2048";
  else if (s.gainDb < 0 || s.gainDb > 255 || s.displayGain < 1 || s.displayGain > 100)
    reason = "gain must be 0..255 dB and display gain 1..100";
  if (reason == nullptr) return 1;
  if (why != nullptr && whySize > 0) std::snprintf(why, static_cast<size_t>(whySize), "%s", reason);
  return 0;
}

int WriteSceneFile(const char* path, const SceneParams& scene, const SurveyParams& s) {
  if (path == nullptr || !ValidateScene(scene, nullptr, 0) || !ValidateSurvey(s, nullptr, 0)) return 0;
  FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return 0;

  Borrowed borrowed;
  std::vector<uint8_t> writerCopy;
  Borrow(&borrowed, &writerCopy);
  SetUpConsole(scene, s);

  // Transient buffers of the run: one record and one frame.
  std::vector<uint8_t> record(kRecordBufferBytes);
  const int frameBytes = s.frameEvery > 0 ? SceneFrameBytes(s.frameWidth, s.frameHeight) : 0;
  std::vector<uint8_t> frame(static_cast<size_t>(frameBytes));

  int written = 0;
  for (int i = 0; i < s.pingCount; ++i) {
    const double seconds = i / s.pingRateHz;
    TakeTimeStampAt(TimeAfter(s.start, seconds));
    SetNavigation(s, seconds);
    if (SynthesizePing(scene, i, g_fileWriterRecord) == 0) break;
    const int frameDue = frameBytes > 0 && (i + 1) % s.frameEvery == 0;
    const int size = FormatRecord(record.data(), kRecordBufferBytes, frameDue ? frameBytes : 0);
    if (size == 0 || std::fwrite(record.data(), 1, static_cast<size_t>(size), file) != static_cast<size_t>(size))
      break;
    if (frameDue) {
      if (FormatSceneFrame(frame.data(), frameBytes, s.frameWidth, s.frameHeight, i) != frameBytes ||
          std::fwrite(frame.data(), 1, static_cast<size_t>(frameBytes), file) != static_cast<size_t>(frameBytes))
        break;
    }
    ++written;
  }
  // A record that never reached the disk is not written: a failed close
  // (a full disk shows there) counts every record as lost.
  if (std::fclose(file) != 0) written = 0;
  GiveBack(borrowed, writerCopy);
  return written;
}
