// A short survey recorded by the orvale-live program while a receiver's
// capture arrives on a pseudo-terminal named in the settings: the records
// carry the capture's positions and the coverage log holds the swath drawn
// along them. The head is the simulator on loopback; no real port is opened.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

#include "app/app_test_util.h"
#include "common/pty.h"
#include "common/sim_head.h"
#include "files/sonar_file.h"
#include "headsim.h"
#include "nav/track.h"

namespace {

// The capture's lines as the receiver sent them (the file's comments are
// not the receiver's), each ended by CR LF.
std::vector<std::string> CaptureLines(const std::string& name) {
  std::istringstream in(testutil::ReadText(std::string(ORVALE_TEST_DATA) + "/nav/" + name));
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    lines.push_back(line + "\r\n");
  }
  return lines;
}

std::vector<std::string> Fields(const std::string& sentence) {
  std::vector<std::string> f;
  std::string cur;
  for (char c : sentence) {
    if (c == ',' || c == '*' || c == '\r') {
      f.push_back(cur);
      cur.clear();
      if (c != ',') break;
    } else {
      cur += c;
    }
  }
  return f;
}

// " DD.MM.FFFFF N" / "DDD.MM.FFFFF W" of one ddmm.mmmm field, written here
// from the record layout rather than by the console's builder.
std::string PositionText(const std::string& field, char letter, int degreeDigits) {
  const size_t dot = field.find('.');
  std::string frac = field.substr(dot + 1, 5);
  while (frac.size() < 5) frac += '0';
  const std::string deg = field.substr(0, dot - 2), min = field.substr(dot - 2, 2);
  std::string text = degreeDigits == 2 ? " " + deg : deg;
  return text + "." + min + "." + frac + " " + letter;
}

class LiveNav : public apptest::AppFixture {};

TEST_F(LiveNav, RecordedSurveyCarriesTheReceiversPositionsAndLogsItsCoverage) {
  testutil::Pty gps;
  ASSERT_TRUE(gps.ok());
  const std::vector<std::string> capture = CaptureLines("rst39.log");
  std::set<std::string> expected;  // "latitude|longitude" of every GGA
  for (const std::string& s : capture) {
    if (s.compare(3, 3, "GGA") != 0) continue;
    const std::vector<std::string> f = Fields(s);
    expected.insert(PositionText(f[2], f[3][0], 2) + "|" + PositionText(f[4], f[5][0], 3));
  }
  ASSERT_GE(expected.size(), 30u);

  testutil::SimHead head(5.0);
  g_headSim.pace = 1;
  WriteLoopbackIni("RemotePort_Sonar1=" + std::to_string(head.Start()) +
                   "\nComPortGPSEnable=1\nComPortGPSDevice=" + gps.SlavePath() +
                   "\nGPSHeadingType=1\nComPortGPS_bits_per_second=3\nProfilePointDetection=1\n"
                   "DisplaySwathCoverage=1\nAutoFilenameType=0\n");
  int rc = -1;
  std::thread program([this, &rc] {
    rc = std::system(("cd '" + dir_ + "' && ORVALE_LOOPBACK_ONLY=1 " ORVALE_BIN_DIR
                      "/orvale-live --record --seconds 8 > out.txt 2> err.txt")
                         .c_str());
  });
  // The program opens the device as it starts (and drops what waited there);
  // then the receiver talks at 10 positions a second.
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  for (const std::string& s : capture) {
    ASSERT_TRUE(gps.WritePaced(s, 38400));
    if (s.compare(3, 3, "GGA") == 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  program.join();
  head.Stop();
  ASSERT_TRUE(WIFEXITED(rc));
  ASSERT_EQ(0, WEXITSTATUS(rc)) << testutil::ReadText(Path("err.txt"));

  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir_))
    if (e.path().extension() == ".K41") files.push_back(e.path().string());
  ASSERT_EQ(1u, files.size()) << testutil::ReadText(Path("out.txt"));
  FILE* f = std::fopen(files[0].c_str(), "rb");
  ASSERT_NE(f, nullptr);
  long records = 0, withPosition = 0;
  std::set<std::string> seen;
  while (ReadNextRecord(f) == kReadRecord) {
    ++records;
    if (!g_playback.positionPresent) continue;
    ++withPosition;
    const std::string pos = std::string(g_playback.latitude, 14) + "|" + std::string(g_playback.longitude, 14);
    EXPECT_TRUE(expected.count(pos)) << "a position the receiver never sent: " << pos;
    seen.insert(pos);
  }
  std::fclose(f);
  EXPECT_GT(records, 40);
  EXPECT_GT(withPosition, records / 3) << "the fixes arrived for most of the run";
  EXPECT_GE(seen.size(), 20u) << "the records follow the moving receiver";

  // The coverage log: one line per fix with a swath, in the receiver's zone
  // (16, the fixes near 42.1 N 88.0 W), the edges either side of the fix.
  const std::string log = testutil::ReadText(Path(kCoverageLogName));
  ASSERT_FALSE(log.empty()) << "coverage.LOG was not written";
  double refNorth, refEast;
  int refZone;
  LatLonToUtm(42.0955579, -88.0340185, &refNorth, &refEast, &refZone);
  std::istringstream lines(log);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    SCOPED_TRACE(line);
    double v[6];
    int zone = 0;
    ASSERT_EQ(7, std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf,%d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                             &zone));
    EXPECT_EQ(refZone, zone);
    EXPECT_NEAR(refEast, v[0], 100.0);
    EXPECT_NEAR(refNorth, v[1], 100.0);
    EXPECT_EQ('\r', line.back());
    ++count;
  }
  EXPECT_GE(count, 20);
  std::printf("recorded survey: %ld records, %ld with a position, %zu positions, %d coverage lines\n", records,
              withPosition, seen.size(), count);
}

// In playback the records' positions are the fixes: each record with one
// adds an entry (File mode's jump filter), so the played survey's track runs
// as the survey did, 4 knots north at 10 records a second.
TEST_F(LiveNav, PlayedSurveyFeedsEveryRecordsPositionToTheTrack) {
  WriteSurvey("played.K41", 12.0, 30);
  WriteLoopbackIni("");
  ConvertOptions o;
  o.name = "played.K41";
  o.outputSwitch = 'p';
  ConvertSummary summary;
  char error[512] = "";
  ASSERT_EQ(kConvertOk, RunConversion(o, &summary, error, sizeof error)) << error;
  ASSERT_EQ(30, g_track.stored);
  const TrackPoint& first = g_track.ring[0];
  const TrackPoint& last = g_track.ring[29];
  EXPECT_NEAR(29 * 4.0 * 1852.0 / 3600.0 / 10.0, last.north - first.north, 0.05);
  // Due north on the ground is half a degree off grid north here (8.25 E in
  // a zone whose meridian is 9 E): 6 cm across the 6 m run.
  EXPECT_NEAR(0.0, last.west - first.west, 0.1);
  EXPECT_FLOAT_EQ(4.0f, last.speedKnots);
  EXPECT_EQ(0, g_track.rejectedJumps);
}

}  // namespace
