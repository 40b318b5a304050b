// Real receiver captures replayed into the GPS input: once through a
// pseudo-terminal at a receiver's bit rate with the reader thread, and for
// every position sentence type fed straight to the sentence machine. Every
// fix must match the position gpsd reported for the same sentence to the
// five minute-fraction digits the texts keep; speed and course from RMC must
// match its reports too; the true heading must follow HDT.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/nav_edit.h"
#include "common/pty.h"
#include "common/test_files.h"
#include "nav/gps.h"

namespace {

const char* const kTypes[] = {"GLL", "GGA", "RMC"};

struct Capture {
  const char* name;
  int rateIndex;    // bit rate of the pseudo-terminal replay
  int primaryType;  // position sentence type of that replay
};
const Capture kCaptures[] = {
    {"ch-4711", 3, 1},   {"garmin17n", 0, 2}, {"garmin48", 2, 0}, {"gr8013-w", 3, 1},
    {"humminbird-M37", 3, 2}, {"nd-1005", 3, 0}, {"rst39", 5, 1}, {"sounder", 3, 0},
};

std::string DataPath(const std::string& name) { return std::string(ORVALE_TEST_DATA) + "/nav/" + name; }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    out.push_back(line);
  }
  return out;
}

// The byte stream as the receiver sent it: the notes starting with '#' removed.
std::string Stream(const std::string& raw) {
  std::string out;
  size_t at = 0;
  while (at < raw.size()) {
    size_t end = raw.find('\n', at);
    end = end == std::string::npos ? raw.size() : end + 1;
    if (raw[at] != '#') out.append(raw, at, end - at);
    at = end;
  }
  return out;
}

int ChecksumOk(const std::string& s) {
  const size_t star = s.find('*');
  if (s.empty() || s[0] != '$' || star == std::string::npos || star + 3 > s.size()) return 0;
  int x = 0;
  for (size_t i = 1; i < star; ++i) x ^= static_cast<unsigned char>(s[i]);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", x);
  return s.compare(star + 1, 2, hex) == 0;
}

std::vector<std::string> Split(const std::string& s) {
  std::vector<std::string> f;
  std::string cur;
  for (char c : s.substr(0, s.find('*'))) {
    if (c == ',') {
      f.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  f.push_back(cur);
  return f;
}

std::string TypeOf(const std::string& s) { return s.size() > 6 ? s.substr(3, 3) : ""; }

// A sentence of a position type whose letters are present: it must fix.
int IsPosition(const std::string& s, const std::string& type) {
  if (!ChecksumOk(s) || TypeOf(s) != type) return 0;
  const std::vector<std::string> f = Split(s);
  const size_t lat = type == "GLL" ? 1 : type == "GGA" ? 2 : 3;
  if (f.size() < lat + 4) return 0;
  return (f[lat + 1] == "N" || f[lat + 1] == "S") && (f[lat + 3] == "E" || f[lat + 3] == "W");
}

int IsAnyPosition(const std::string& s) {
  for (const char* t : kTypes)
    if (IsPosition(s, t)) return 1;
  return 0;
}

double JsonNumber(const std::string& line, const char* key, int* found) {
  const std::string k = std::string("\"") + key + "\":";
  const size_t at = line.find(k);
  *found = at != std::string::npos;
  return *found ? std::strtod(line.c_str() + at + k.size(), nullptr) : 0.0;
}

// Minutes of arc from a position text: " DD.MM.FFFFF N" or "DDD.MM.FFFFF E".
double TextMinutes(const char* t, int degreeDigits) {
  const int o = degreeDigits == 2 ? 1 : 0;
  const double deg = std::atoi(std::string(t + o, degreeDigits).c_str());
  const double min = std::atoi(std::string(t + o + degreeDigits + 1, 2).c_str());
  const double frac = std::atoi(std::string(t + o + degreeDigits + 4, 5).c_str());
  const double m = deg * 60.0 + min + frac * 1e-5;
  return (t[13] == 'S' || t[13] == 'W') ? -m : m;
}

struct Fix {
  std::string sentence;
  NavSnapshot nav;
};

struct Collected {
  std::mutex lock;
  std::vector<Fix> fixes;
};

void OnFix(const NavSnapshot& n, void* ctx) {
  Collected* c = static_cast<Collected*>(ctx);
  std::string s = g_gpsParser.sentence;  // the reader thread's own buffer, still this sentence
  while (!s.empty() && (s.back() == '\r' || s.back() == '\n')) s.pop_back();
  std::lock_guard<std::mutex> hold(c->lock);
  c->fixes.push_back(Fix{s, n});
}

// Checks the collected fixes of one type against the log and gpsd's reports.
void CheckFixes(const Capture& cap, int type, const std::vector<Fix>& fixes) {
  const std::string t = kTypes[type];
  const std::vector<std::string> log = Lines(Stream(testutil::ReadText(DataPath(std::string(cap.name) + ".log"))));
  std::vector<std::string> expected;
  for (const std::string& l : log)
    if (IsPosition(l, t)) expected.push_back(l);
  ASSERT_EQ(expected.size(), fixes.size()) << "every position with a right checksum must fix";
  for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(expected[i], fixes[i].sentence) << i;

  // gpsd's TPV after a sentence carries the latest position sentence's fix.
  const std::vector<std::string> chk = Lines(testutil::ReadText(DataPath(std::string(cap.name) + ".log.chk")));
  int latest = -1;         // index into fixes of the latest position sentence, when of this type
  int seenOfType = 0;
  int compared = 0;
  double lastHdt = -1.0;
  std::string latestSentence;
  for (const std::string& l : chk) {
    if (!l.empty() && l[0] == '$') {
      if (TypeOf(l) == "HDT" && ChecksumOk(l)) lastHdt = std::atof(Split(l)[1].c_str());
      if (!IsAnyPosition(l)) continue;
      latestSentence = l;
      latest = -1;
      if (TypeOf(l) != t) continue;
      latest = seenOfType++;
      if (latest >= static_cast<int>(fixes.size())) {
        ADD_FAILURE() << "more fixes in the report than taken";
        return;
      }
      EXPECT_EQ(l, fixes[latest].sentence);
      if (lastHdt >= 0) {
        EXPECT_EQ(1, fixes[latest].nav.trueHeadingValid);
        EXPECT_NEAR(lastHdt, fixes[latest].nav.trueHeadingDeg, 1e-9) << l;
      }
      continue;
    }
    if (latest < 0 || l.find("\"class\":\"TPV\"") == std::string::npos) continue;
    int hasLat, hasLon;
    const double lat = JsonNumber(l, "lat", &hasLat);
    const double lon = JsonNumber(l, "lon", &hasLon);
    if (!hasLat || !hasLon) continue;
    const NavSnapshot& n = fixes[latest].nav;
    SCOPED_TRACE(latestSentence);
    // The texts keep five digits of minutes, cut: at most 1e-5 minute below
    // the sentence; gpsd printed nine decimals of a degree.
    const double tol = 1e-5 + 1e-7;
    EXPECT_NEAR(lat * 60.0, TextMinutes(n.latitude, 2), tol) << std::string(n.latitude, 14);
    EXPECT_NEAR(lon * 60.0, TextMinutes(n.longitude, 3), tol) << std::string(n.longitude, 14);
    int hasTrack, hasSpeed;
    const double track = JsonNumber(l, "track", &hasTrack);
    const double speed = JsonNumber(l, "speed", &hasSpeed);
    if (t == "RMC" && TypeOf(latestSentence) == "RMC" && l.find("\"track\"") != std::string::npos) {
      if (hasTrack) {
        EXPECT_NEAR(track, n.courseDeg, 1e-3);
      }
      if (hasSpeed) {
        EXPECT_NEAR(speed, n.speedKnots * 1852.0 / 3600.0, 2e-3);
      }
    }
    ++compared;
  }
  EXPECT_EQ(static_cast<int>(fixes.size()), seenOfType);
  ::testing::Test::RecordProperty(std::string("compared_") + t, compared);
  if (!fixes.empty()) {
    EXPECT_GT(compared, 0) << "no report to compare a " << t << " fix with";
  }
}

class GpsCapture : public ::testing::TestWithParam<Capture> {
 protected:
  void SetUp() override {
    ResetNavState();
    ResetGps();
  }
  void TearDown() override {
    CloseGps();
    SetGpsFixObserver(nullptr, nullptr);
    ResetNavState();
    ResetGps();
  }
};

TEST_P(GpsCapture, EveryPositionTypeFedDirectly) {
  const Capture& cap = GetParam();
  const std::string bytes = Stream(testutil::ReadText(DataPath(std::string(cap.name) + ".log")));
  ASSERT_FALSE(bytes.empty());
  int typesWithFixes = 0;
  for (int type = 0; type < 3; ++type) {
    SCOPED_TRACE(kTypes[type]);
    ResetNavState();
    ResetGps();
    SetGpsHeadingType(type);
    Collected got;
    SetGpsFixObserver(OnFix, &got);
    FeedGpsBytes(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
    SetGpsFixObserver(nullptr, nullptr);
    CheckFixes(cap, type, got.fixes);
    typesWithFixes += !got.fixes.empty();
  }
  EXPECT_GT(typesWithFixes, 0);
}

TEST_P(GpsCapture, ReplayedThroughAPseudoTerminalAtItsBitRate) {
  const Capture& cap = GetParam();
  const std::string bytes = Stream(testutil::ReadText(DataPath(std::string(cap.name) + ".log")));
  testutil::Pty pty;
  ASSERT_TRUE(pty.ok());
  Collected got;
  SetGpsFixObserver(OnFix, &got);
  serial::LineSettings line;
  line.bitsPerSecondIndex = cap.rateIndex;
  ASSERT_EQ(1, OpenGps(pty.SlavePath().c_str(), line, cap.primaryType));
  const auto t0 = std::chrono::steady_clock::now();
  ASSERT_TRUE(pty.WritePaced(bytes, serial::BitsPerSecond(cap.rateIndex)));
  for (int i = 0; i < 200 && GpsBytesRead() < static_cast<long>(bytes.size()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(static_cast<long>(bytes.size()), GpsBytesRead());
  const auto s0 = std::chrono::steady_clock::now();
  CloseGps();
  const double stopMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - s0).count();
  EXPECT_LT(stopMs, 500.0);
  EXPECT_EQ(0, GpsRunning());
  // At the bit rate, 10 bits a byte: the replay cannot have been faster.
  EXPECT_GE(seconds, bytes.size() * 10.0 / serial::BitsPerSecond(cap.rateIndex) * 0.95);
  std::lock_guard<std::mutex> hold(got.lock);
  CheckFixes(cap, cap.primaryType, got.fixes);
  EXPECT_FALSE(got.fixes.empty());
  RecordProperty("replay_seconds", static_cast<int>(seconds * 1000));
}

INSTANTIATE_TEST_SUITE_P(Nmea, GpsCapture, ::testing::ValuesIn(kCaptures),
                         [](const ::testing::TestParamInfo<Capture>& i) {
                           std::string n = i.param.name;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

}  // namespace
