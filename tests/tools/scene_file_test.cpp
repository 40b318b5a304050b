// Scene files walked end to end by the console's record reader: every
// record comes back byte for byte, with its time stamp, position and
// camera frame, and the played ping still holds the scene's physics.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/nav_edit.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "nav/nav_state.h"
#include "scene.h"
#include "scene_file.h"
#include "scene_frame.h"
#include "common/reset_all.h"
#include "common/test_files.h"
#include "settings/settings.h"

namespace {

class SceneFile : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::ResetAllModules();
    ResetScene();
    ASSERT_TRUE(dir.ok());
  }
  std::string Path(const char* name) const { return dir.File(name); }
  testutil::TempDir dir{"orvale-scene"};
};

std::string Text(const char* p, int n) { return std::string(p, static_cast<size_t>(n)); }

TEST_F(SceneFile, TwoHundredPingsOfEveryTypeReadBackByteForByte) {
  for (int type = 0; type < kDataTypeCount; ++type) {
    SCOPED_TRACE(kDataTypes[type].letter);
    SceneParams scene;
    scene.dataType = type;
    scene.speckle = 1;
    scene.seed = 5 + type;
    scene.scrambled = type < 2;
    scene.targets[0] = {-12.0, 8.0, 60.0};
    scene.targetCount = 1;
    SurveyParams survey;
    survey.pingCount = 200;
    survey.pingRateHz = 8.0;
    survey.start = {2023, 12, 31, 23, 59, 50, 500};
    survey.gps = 1;
    survey.startLatDeg = 49.27;
    survey.startLonDeg = -123.1;
    survey.speedKnots = 5.0;
    survey.courseDeg = 45.0;
    survey.frameEvery = 50;
    survey.frameWidth = 32;
    survey.frameHeight = 16;
    const std::string path = Path("scene.k41");
    ASSERT_EQ(200, WriteSceneFile(path.c_str(), scene, survey));

    FILE* f = nullptr;
    ASSERT_EQ(kOpenOk, OpenSonarFile(path.c_str(), &f));
    std::vector<uint8_t> expected(kRecordBufferBytes);
    const int length = kDataTypes[type].recordLength;
    int records = 0, frames = 0;
    while (ReadNextRecord(f) == kReadRecord) {
      const int i = records++;
      ASSERT_LT(i, 200);
      ASSERT_EQ(length, SynthesizePing(scene, i, expected.data()));
      ASSERT_EQ(0, std::memcmp(expected.data(), g_pingRecord, length)) << "record " << i;
      EXPECT_EQ(kDataTypes[type].fileRecordSize, g_playback.recordSize);

      // The stamp of ping i is start + i / rate; the run crosses a new year.
      const plat::LocalTime t = TimeAfter(survey.start, i / survey.pingRateHz);
      TimeStamp want;
      FormatTimeStamp(t, &want);
      ASSERT_STREQ(want.date, g_playback.stamp.date) << "record " << i;
      ASSERT_STREQ(want.time, g_playback.stamp.time) << "record " << i;
      ASSERT_STREQ(want.millis, g_playback.stamp.millis) << "record " << i;

      double lat, lon;
      TrackPositionAt(survey, i / survey.pingRateHz, &lat, &lon);
      char wantLat[14], wantLon[14];
      FormatPositionTexts(lat, lon, wantLat, wantLon);
      ASSERT_EQ(1, g_playback.positionPresent);
      ASSERT_EQ(Text(wantLat, 14), std::string(g_playback.latitude)) << "record " << i;
      ASSERT_EQ(Text(wantLon, 14), std::string(g_playback.longitude)) << "record " << i;
      EXPECT_NEAR(5.0, g_playback.speedKnots, 1e-9);
      EXPECT_NEAR(45.0, g_playback.courseDeg, 1e-9);
      EXPECT_EQ(125, g_playback.pingPeriodMs);
      EXPECT_EQ(scene.xdcr, g_playback.xdcr);
      EXPECT_NEAR(1500.0, g_playback.soundSpeed, 1e-9);
      EXPECT_EQ(ScenePulseUs(scene), g_playback.pulseLengthUs);

      // A frame follows records 49, 99, ...: it is read before the next one.
      if (g_playback.frameBeforeRecord) {
        frames++;
        EXPECT_EQ(0, i % 50) << "record " << i;
        EXPECT_EQ(SceneFrameBytes(32, 16), g_playback.frameLength);
        EXPECT_EQ(i - 1, SceneFramePing(g_videoFrame, g_playback.frameLength));
      }
    }
    std::fclose(f);
    EXPECT_EQ(200, records);
    EXPECT_EQ(3, frames);  // the frame after the last record is read by no record
    EXPECT_EQ(0, g_playback.damagedItems);
  }
}

TEST_F(SceneFile, FileSizeIsRecordsPlusFrames) {
  SceneParams scene;
  scene.dataType = 1;
  SurveyParams survey;
  survey.pingCount = 10;
  survey.frameEvery = 4;
  survey.frameWidth = 8;
  survey.frameHeight = 4;
  const std::string path = Path("size.k41");
  ASSERT_EQ(10, WriteSceneFile(path.c_str(), scene, survey));
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  EXPECT_EQ(10L * 16384 + 2L * (8 * 4 * 3 + 54), size);
}

TEST_F(SceneFile, PlayedPingKeepsTheScenePhysics) {
  // Type "U" at 5 m carries a 15-sample head delay; played back with the
  // record's own settings the target still decodes at its range.
  SceneParams scene;
  scene.dataType = 0;
  scene.rangeStep = 2;
  scene.pulseUs = 180;
  scene.seabed = 0;
  scene.noise = 0.0;
  scene.xdcr = 0;
  scene.targets[0] = {0.0, 3.0, 80.0};
  scene.targetCount = 1;
  ASSERT_NE(0, SceneDelayShift(scene));
  SurveyParams survey;
  survey.pingCount = 3;
  const std::string path = Path("u5.k41");
  ASSERT_EQ(3, WriteSceneFile(path.c_str(), scene, survey));

  g_settings.Xdcr = 1;          // the operator's, to be replaced by the file's
  g_settings.PulseLength = 500;
  g_settings.RunMode = 1;
  FILE* f = nullptr;
  ASSERT_EQ(kOpenOk, OpenSonarFile(path.c_str(), &f));
  ASSERT_EQ(kReadRecord, ReadNextRecord(f));
  std::fclose(f);
  ASSERT_EQ(1, DecodePingAt(1.0));
  const double truth = SceneSampleOfRange(scene, 3.0);
  for (int e : {0, 15}) {
    int best = 0;
    for (int s = 0; s < g_sampleCount; ++s)
      if (std::fabs(g_elementSamples[e][s]) > std::fabs(g_elementSamples[e][best])) best = s;
    EXPECT_NEAR(truth, best, g_scene.pulseHalfWidth + 1.0) << "element " << e;
  }
}

TEST_F(SceneFile, ConsoleStateIsGivenBack) {
  g_settings.Xdcr = 0;
  g_settings.PulseLength = 700;
  g_settings.Frequency = 120;
  g_headLimits.FrequencyCoefficient = 3;
  {
    testutil::NavEdit nav;
    nav->speedKnots = 1.5;
    std::memcpy(nav->latitude, " 10.00.00000 N", 14);
  }
  g_fileWriterRecord[0] = 0x5A;
  SceneParams scene;
  scene.xdcr = 1;
  SurveyParams survey;
  survey.pingCount = 2;
  survey.gps = 1;
  ASSERT_EQ(2, WriteSceneFile(Path("a.k41").c_str(), scene, survey));
  EXPECT_EQ(0, g_settings.Xdcr);
  EXPECT_EQ(700, g_settings.PulseLength);
  EXPECT_EQ(120, g_settings.Frequency);
  EXPECT_EQ(3, g_headLimits.FrequencyCoefficient);
  const NavSnapshot after = testutil::NavNow();
  EXPECT_EQ(1.5, after.speedKnots);
  EXPECT_EQ(" 10.00.00000 N", Text(after.latitude, 14));
  EXPECT_EQ(0x5A, g_fileWriterRecord[0]);
}

TEST_F(SceneFile, RefusesWhatItCannotWrite) {
  SceneParams scene;
  SurveyParams survey;
  survey.pingCount = 2;
  EXPECT_EQ(0, WriteSceneFile(Path("missing/dir/x.k41").c_str(), scene, survey));
  struct Case {
    const char* legend;
    void (*spoil)(SurveyParams&);
  };
  const Case cases[] = {
      {"no pings", [](SurveyParams& s) { s.pingCount = 0; }},
      {"rate 0", [](SurveyParams& s) { s.pingRateHz = 0.0; }},
      {"frame width 30", [](SurveyParams& s) {
         s.frameEvery = 1;
         s.frameWidth = 30;
       }},
      {"month 13", [](SurveyParams& s) { s.start.month = 13; }},
      {"latitude 95", [](SurveyParams& s) {
         s.gps = 1;
         s.startLatDeg = 95.0;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SurveyParams s;
    c.spoil(s);
    char why[128] = "";
    EXPECT_EQ(0, ValidateSurvey(s, why, sizeof why));
    EXPECT_NE('\0', why[0]);
    EXPECT_EQ(0, WriteSceneFile(Path("bad.k41").c_str(), scene, s));
  }
}

TEST(ScenePositionText, BuiltAsTheGpsReaderBuildsThem) {
  struct Case {
    double lat, lon;
    const char* latitude;
    const char* longitude;
  };
  const Case cases[] = {
      {49.27, -123.1, " 49.16.20000 N", "123.06.00000 W"},
      {-33.8568, 151.2093, " 33.51.40800 S", "151.12.55800 E"},
      {0.0, 0.0, " 00.00.00000 N", "000.00.00000 E"},
      {-0.5, -0.25, " 00.30.00000 S", "000.15.00000 W"},
      {59.99999999, 179.99999999, " 60.00.00000 N", "180.00.00000 E"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.latitude);
    char lat[14], lon[14];
    FormatPositionTexts(c.lat, c.lon, lat, lon);
    EXPECT_EQ(std::string(c.latitude), Text(lat, 14));
    EXPECT_EQ(std::string(c.longitude), Text(lon, 14));
  }
}

TEST(SceneTime, AdvancesAcrossTheCalendar) {
  struct Case {
    const char* legend;
    plat::LocalTime start;
    double seconds;
    plat::LocalTime want;
  };
  const Case cases[] = {
      {"within a second", {2024, 6, 1, 12, 0, 0, 100}, 0.125, {2024, 6, 1, 12, 0, 0, 225}},
      {"midnight and new year", {2023, 12, 31, 23, 59, 59, 900}, 0.2, {2024, 1, 1, 0, 0, 0, 100}},
      {"leap day", {2024, 2, 28, 23, 0, 0, 0}, 3600.0, {2024, 2, 29, 0, 0, 0, 0}},
      {"no leap day in 2100", {2100, 2, 28, 23, 0, 0, 0}, 3600.0, {2100, 3, 1, 0, 0, 0, 0}},
      {"a long survey", {2024, 1, 31, 0, 0, 0, 0}, 86400.0 * 30 + 61.5, {2024, 3, 1, 0, 1, 1, 500}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    const plat::LocalTime t = TimeAfter(c.start, c.seconds);
    EXPECT_EQ(c.want.year, t.year);
    EXPECT_EQ(c.want.month, t.month);
    EXPECT_EQ(c.want.day, t.day);
    EXPECT_EQ(c.want.hour, t.hour);
    EXPECT_EQ(c.want.minute, t.minute);
    EXPECT_EQ(c.want.second, t.second);
    EXPECT_EQ(c.want.millisecond, t.millisecond);
  }
}

}  // namespace
