// Point and beam record layouts, field by field.
#include "common/nav_edit.h"
#include "processing/outputs_test_util.h"

namespace {

using namespace outtest;

class OutputRecords : public OutputsFixture {};

TEST_F(OutputRecords, PointRecordLengthFollowsBeamsAndIntensities) {
  struct Case { const char* legend; int beams; int intensity; int length; };
  const Case cases[] = {
      {"120 beams, ranges only", 120, 0, 496},
      {"120 beams with intensities", 120, 1, 736},
      {"480 beams, ranges only", 480, 0, 1216},
      {"240 beams with intensities", 240, 1, 1216},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    FakePing(c.beams, 500);
    g_settings.ProfilePointIntensityOutput = c.intensity;
    uint8_t rec[kPointRecordMaxBytes];
    ASSERT_EQ(BuildPointRecord(rec, sizeof rec), c.length);
    EXPECT_EQ(std::memcmp(rec, "K4P", 3), 0);
    EXPECT_EQ(rec[3], 11);
    EXPECT_EQ(BE16(rec + 4), c.length);
    EXPECT_EQ(rec[6], 0);
    EXPECT_EQ(rec[7], 0);
    EXPECT_EQ(BE16(rec + 70), c.beams);
    EXPECT_EQ(rec[117], c.intensity);
  }
  // 120 beams without intensities is 496 bytes: 0x01F0 in bytes 4-5.
  FakePing(120, 500);
  g_settings.ProfilePointIntensityOutput = 0;
  uint8_t rec[kPointRecordMaxBytes];
  BuildPointRecord(rec, sizeof rec);
  EXPECT_EQ(rec[4], 0x01);
  EXPECT_EQ(rec[5], 0xF0);
}

TEST_F(OutputRecords, PointRecordRefusesASmallBuffer) {
  FakePing(480, 500);
  uint8_t rec[600];
  EXPECT_EQ(BuildPointRecord(rec, sizeof rec), 0);
  EXPECT_EQ(BuildPointRecord(nullptr, 0), 0);
}

TEST_F(OutputRecords, PointsAreInBeamOrderScaledAndRounded) {
  FakePing(120, 500);
  g_settings.ProfilePointIntensityOutput = 1;
  g_ping.rangeScaleFactor = 1.25f;
  g_pointRangeTenths[119] = 0;     // beam 0 found nothing
  g_pointRangeTenths[118] = 1001;  // beam 1: 1001 x 1.25 = 1251.25 -> 1251
  g_pointRangeTenths[117] = 1002;  // 1252.5 -> 1253 (half up)
  uint8_t rec[kPointRecordMaxBytes];
  ASSERT_EQ(BuildPointRecord(rec, sizeof rec), 256 + 4 * 120);
  EXPECT_EQ(BE16(rec + 256 + 0), 0);
  EXPECT_EQ(BE16(rec + 256 + 2), 1251);
  EXPECT_EQ(BE16(rec + 256 + 4), 1253);
  // Last record index is output entry 0: 10 tenths x 1.25 = 12.5 -> 13.
  EXPECT_EQ(BE16(rec + 256 + 2 * 119), 13);
  // Intensities in the same order: record index i is entry 119 - i.
  EXPECT_EQ(BE16(rec + 256 + 240 + 2 * 0), 119);
  EXPECT_EQ(BE16(rec + 256 + 240 + 2 * 119), 0);
}

TEST_F(OutputRecords, SpeedCourseAndFlaggedWordsHead) {
  FakePing(120, 500);
  struct Case { const char* legend; double speed; int speedByte; double course; int courseWord; };
  const Case cases[] = {
      {"30 kn saturates", 30.0, 255, 359.99, 3599},
      {"25.5 kn fits", 25.5, 255, 0.0, 0},
      {"12.39 kn truncates", 12.39, 123, 45.67, 456},
      {"0 kn", 0.0, 0, 180.0, 1800},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    {
      testutil::NavEdit nav;
      nav->speedKnots = c.speed;
      nav->courseDeg = c.course;
    }
    uint8_t rec[kPointRecordMaxBytes];
    BuildPointRecord(rec, sizeof rec);
    EXPECT_EQ(rec[61], c.speedByte);
    EXPECT_EQ(BE16(rec + 62), c.courseWord);
  }
}

TEST_F(OutputRecords, AttitudeWordsRoundAndClampInFileMode) {
  FakePing(120, 500);
  g_settings.RunMode = 1;
  struct Case { const char* legend; double pitch, roll, heading; int pw, rw, hw; };
  const Case cases[] = {
      {"level", 0.0, 0.0, 0.0, 900, 900, 0},
      {"negative rounds away from zero", -2.35, -0.04, 12.34, 876, 900, 123},
      {"positive half up", 2.35, 0.05, 12.35, 924, 901, 124},
      {"beyond the limits", 95.0, -95.0, 359.97, 1800, 0, 3599},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_playback.pitchDeg = c.pitch;
    g_playback.rollDeg = c.roll;
    g_playback.headingDeg = c.heading;
    uint8_t rec[kPointRecordMaxBytes];
    BuildPointRecord(rec, sizeof rec);
    EXPECT_EQ(BE16(rec + 64), 0x8000 | c.pw);
    EXPECT_EQ(BE16(rec + 66), 0x8000 | c.rw);
    EXPECT_EQ(BE16(rec + 68), 0x8000 | c.hw);
  }
}

TEST_F(OutputRecords, CommonHeaderCarriesGeometryAndSettings) {
  FakePing(240, 500);
  g_settings.Range = 9;  // 30 m in the range table
  g_settings.SoundVelocityMeters = 1487.65;
  g_settings.PulseLength = 180;
  g_settings.ProfileTiltAngle = -12.6;
  g_settings.RollCorrection = 1;
  g_settings.AvgFilter = 1;
  g_settings.AvgFilterIndex = 5;
  g_settings.SonarXOffsetMeters = 1.5;
  g_settings.SonarDepthMeters = -2.25;
  g_ping.angularConstantDeg = 2.5;
  g_ping.outputLagMs = 123.44;
  g_detect.altitudeM = 7.75;
  g_outputs.outputCounter = 0x01020304;
  uint8_t rec[kPointRecordMaxBytes];
  ASSERT_GT(BuildPointRecord(rec, sizeof rec), 0);
  const double rangeM = RangeMetersOfStep(9);
  EXPECT_EQ(BE16(rec + 72), 500);
  EXPECT_EQ(BE16(rec + 74), 120);
  EXPECT_EQ(rec[78], 50);  // 120 / 240 x 100
  EXPECT_EQ(BE16(rec + 79), kRangeTable[9].commandM);
  EXPECT_EQ(BE16(rec + 81), FrequencyInUseKHz());
  EXPECT_EQ(BE16(rec + 83), 0x8000 | 14876);
  EXPECT_EQ(BE16(rec + 85), static_cast<int>(100.0 * rangeM / 500));
  EXPECT_EQ(BE16(rec + 87), 180);
  EXPECT_EQ(BE16(rec + 89), 167);  // -13 + 180
  EXPECT_EQ(BE32(rec + 93), 0x01020304u);
  EXPECT_FLOAT_EQ(LEFloat(rec + 100), 1.5f);
  EXPECT_FLOAT_EQ(LEFloat(rec + 108), -2.25f);
  EXPECT_EQ(BE16(rec + 118), 25);
  EXPECT_EQ(rec[122], 1);
  EXPECT_EQ(rec[123], 1);
  EXPECT_EQ(rec[125], 5);
  EXPECT_EQ(BE16(rec + 126), 1234);
  EXPECT_FLOAT_EQ(LEFloat(rec + 133), 7.75f);
  // Over ten seconds of lag is written as 0.
  g_ping.outputLagMs = 10000.5;
  BuildPointRecord(rec, sizeof rec);
  EXPECT_EQ(BE16(rec + 126), 0);
}

TEST_F(OutputRecords, FileModeTakesThePlayedRecordsValues) {
  FakePing(120, 500);
  g_settings.RunMode = 1;
  std::snprintf(g_playback.stamp.date, sizeof g_playback.stamp.date, "29-FEB-2024");
  std::snprintf(g_playback.stamp.time, sizeof g_playback.stamp.time, "12:34:56");
  std::snprintf(g_playback.stamp.hundredths, sizeof g_playback.stamp.hundredths, ".78");
  std::snprintf(g_playback.stamp.millis, sizeof g_playback.stamp.millis, ".789");
  std::memcpy(g_playback.latitude, " 47.12.34567 N", 14);
  std::memcpy(g_playback.longitude, "008.45.00000 E", 14);
  g_playback.previousStampFlag = 1;
  g_playback.reserved45 = 0x5A;
  g_playback.pingPeriodMs = 321;
  g_playback.xOffsetM = 3.0f;
  g_outputs.pingLatencyMs = 12.0;  // File mode writes no latency
  uint8_t rec[kPointRecordMaxBytes];
  BuildPointRecord(rec, sizeof rec);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rec + 8)), "29-FEB-2024");
  EXPECT_EQ(rec[19], 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rec + 20)), "12:34:56");
  EXPECT_EQ(std::memcmp(rec + 29, ".78", 3), 0);
  EXPECT_EQ(std::memcmp(rec + 33, " 47.12.34567 N", 14), 0);
  EXPECT_EQ(std::memcmp(rec + 47, "008.45.00000 E", 14), 0);
  EXPECT_EQ(BE16(rec + 91), 321);
  EXPECT_FLOAT_EQ(LEFloat(rec + 100), 3.0f);
  EXPECT_EQ(std::memcmp(rec + 112, ".789", 4), 0);
  EXPECT_EQ(rec[116], 0);
  EXPECT_EQ(BE16(rec + 120), 0);
  EXPECT_EQ(rec[123] & 4, 4);
  EXPECT_EQ(rec[132], 0x5A);
}

TEST_F(OutputRecords, EventMarkIsWrittenOnce) {
  FakePing(120, 500);
  g_outputs.eventMarkPending = 1;
  uint8_t rec[kPointRecordMaxBytes];
  BuildPointRecord(rec, sizeof rec);
  EXPECT_EQ(rec[155], 1);
  BuildPointRecord(rec, sizeof rec);
  EXPECT_EQ(rec[155], 0);
}

TEST_F(OutputRecords, StartAngles) {
  struct Case { const char* legend; int beams; int step; int mode; float entry0; int expected; };
  const Case cases[] = {
      {"point record, entry 0", 240, 1, 0, -59.75f, 12025},
      {"beam record 480", 480, 0, 0, 0.0f, 12013},  // (-60 + 0.125 + 180) x 100 = 12012.5
      {"beam record 240", 240, 1, 0, 0.0f, 12025},
      {"beam record 120", 120, 2, 1, 0.0f, 12050},
      {"beam record in Profile uses entry 0", 240, 1, 3, 10.004f, 19000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    FakePing(c.beams, 100);
    g_settings.StepSize = c.step;
    g_profileOutputBeam[0].AngleDeg = c.entry0;
    static uint8_t rec[kBeamRecordMaxBytes];
    if (std::string(c.legend).rfind("point", 0) == 0) {
      BuildPointRecord(rec, sizeof rec);
    } else {
      BuildBeamRecord(rec, sizeof rec, c.mode);
    }
    EXPECT_EQ(BE16(rec + 76), c.expected);
  }
}

TEST_F(OutputRecords, BeamRecordHoldsTheBeamRowsAsBytes) {
  FakePing(120, 500);
  g_beamImage[0][0] = 300.0f;   // clipped to 255
  g_beamImage[0][1] = -4.0f;    // clipped to 0
  g_beamImage[5][7] = 17.9f;    // truncated
  g_beamImage[0][500] = 99.0f;  // beyond S: not written
  static uint8_t rec[kBeamRecordMaxBytes];
  const int length = BuildBeamRecord(rec, sizeof rec, 0);
  ASSERT_EQ(length, 256 + 120 * 500);
  EXPECT_EQ(std::memcmp(rec, "K4B", 3), 0);
  EXPECT_EQ(rec[3], 3);
  EXPECT_EQ(BE24(rec + 4), length);
  EXPECT_EQ(rec[7], 0);
  for (int i = 112; i < 256; ++i) ASSERT_EQ(rec[i], 0) << i;
  EXPECT_EQ(rec[256 + 0], 255);
  EXPECT_EQ(rec[256 + 1], 0);
  EXPECT_EQ(rec[256 + 5 * 500 + 7], 17);
  EXPECT_EQ(rec[256 + 1 * 500 + 0], 1);  // beam 1, sample 0 of the fake
  // Sample spacing of beam records is millimetres per sample.
  EXPECT_EQ(BE16(rec + 85), static_cast<int>(1000.0 * RangeMetersOfStep(g_settings.Range) / 500));
  // The largest record, 480 beams of 1000 samples, fits 24 bits.
  FakePing(480, 1000);
  EXPECT_EQ(BuildBeamRecord(rec, sizeof rec, 0), 256 + 480 * 1000);
  EXPECT_EQ(BE24(rec + 4), 480256);
}

TEST_F(OutputRecords, KeepAliveIsK4ZAndZeros) {
  uint8_t ka[kKeepAliveBytes];
  std::memset(ka, 0xEE, sizeof ka);
  FillKeepAlive(ka);
  EXPECT_EQ(std::memcmp(ka, "K4Z", 3), 0);
  for (int i = 3; i < kKeepAliveBytes; ++i) EXPECT_EQ(ka[i], 0) << i;
}

TEST_F(OutputRecords, StatusLineShortensLongPaths) {
  char out[kStatusTextBytes];
  FormatRecordingStatus(out, sizeof out, "/data/run1.k4p", 12, nullptr);
  EXPECT_STREQ(out, "Recording to /data/run1.k4p - 12 kB");
  const char* longPath =
      "/home/operator/surveys/harbour-2026/north-basin/day-three/line-0042/converted/run.k4p";
  FormatRecordingStatus(out, sizeof out, longPath, 1234, nullptr);
  EXPECT_LE(EstimateTextWidthPx(out), kStatusMaxWidthPx);
  EXPECT_EQ(std::string(out).rfind("Recording to ...", 0), 0u);
  EXPECT_NE(std::strstr(out, "/converted/run.k4p - 1234 kB"), nullptr);
  // A drive letter stays in front.
  FormatRecordingStatus(out, sizeof out,
                        "C:\\surveys\\harbour-2026\\north-basin\\day-three\\line-0042\\converted\\run.k4p",
                        5, nullptr);
  EXPECT_EQ(std::string(out).rfind("Recording to C:\\... ", 0), 0u);
  EXPECT_LE(EstimateTextWidthPx(out), kStatusMaxWidthPx);
  // Components are dropped only while the text is longer than 50 characters.
  auto wide = [](const char*) { return 10000; };
  FormatRecordingStatus(out, sizeof out, "/a/b/c/d/e/f.k4p", 1, wide);
  EXPECT_LE(std::strlen(out), 50u);
  EXPECT_NE(std::strstr(out, "f.k4p - 1 kB"), nullptr);
}

}  // namespace
