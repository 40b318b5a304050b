// The .K41 record writer and its round trip through the reader: the header
// layout byte by byte, every record size written and read back, the time
// stamp and the video-frame interval.
#include <gtest/gtest.h>

#include "common/nav_edit.h"
#include "common/alloc_counter.h"
#include "files/sonar_file_test_util.h"

namespace {

using namespace k41test;

class SonarFileWriter : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAllState();
    g_settings.RunMode = 0;
    g_settings.Xdcr = 0;
    g_settings.DisplayType = 3;
    g_settings.Gain = 7;
    g_settings.ProfileTiltAngle = -12.5;
    g_switch.rangeOffset = 12;
    g_headLimits.FrequencyCoefficient = 20;
    g_settings.AvgFilter = 1;
    g_settings.AvgFilterIndex = 5;
    g_settings.PulseLength = 185;
    g_settings.SoundVelocityMeters = 1487.36;
    g_settings.Frequency = 255;
    g_settings.DisplayGain = 64;
    g_settings.SonarXOffsetMeters = 1.25;
    g_settings.SonarYOffsetMeters = -0.5;
    g_settings.SonarDepthMeters = 3.75;
    {
      testutil::NavEdit nav;
      std::memcpy(nav->latitude, " 51.28.12345 N", 14);
      std::memcpy(nav->longitude, "000.07.54321 W", 14);
      nav->speedKnots = 4.56;  // below the spike filter's 5 kn step from rest
      nav->courseDeg = 271.55;
      nav->trueHeadingValid = 1;
      nav->trueHeadingDeg = 123.5;
    }
    g_ping.livePingPeriodMs = 250;
    TakeTimeStampAt(plat::LocalTime{2026, 12, 7, 13, 4, 5, 678});
  }
};

TEST_F(SonarFileWriter, HeaderFieldsAtTheirOffsets) {
  FillWriterRecord(0, 1);
  const std::vector<uint8_t> r = FormatToVector(921654);
  ASSERT_EQ(8192u, r.size());
  const uint8_t head[8] = {'K', '4', '1', 10, 0x20, 0x00, 0x1F, 0x4D};  // 8192, 8013
  EXPECT_EQ(0, std::memcmp(r.data(), head, 8));
  EXPECT_EQ(0, std::memcmp(r.data() + 8, "07-DEC-2026\0", 12));
  EXPECT_EQ(0, std::memcmp(r.data() + 20, "13:04:05\0", 9));
  EXPECT_EQ(0, std::memcmp(r.data() + 29, ".67", 3));
  EXPECT_EQ(0, r[32]);
  const uint8_t frame[4] = {0x80, 0x0E, 0x10, 0x36};  // 921654 = 640 x 480 x 3 + 54, flagged
  EXPECT_EQ(0, std::memcmp(r.data() + 33, frame, 4));
  EXPECT_EQ(0x83, r[37]);  // always-set bit, transducer down, Profile mode
  EXPECT_EQ(7, r[38]);
  EXPECT_EQ(0x80 | (1675 >> 8), r[39]);  // -12.5 deg -> 1675, flagged
  EXPECT_EQ(1675 & 0xFF, r[40]);
  EXPECT_EQ(12, r[41]);
  EXPECT_EQ(20, r[42]);
  EXPECT_EQ(5, r[43]);
  EXPECT_EQ(18, r[44]);   // 185 us in tens, truncated
  EXPECT_EQ(0, r[45]);
  EXPECT_EQ(0x80 | (14873 >> 8), r[46]);
  EXPECT_EQ(14873 & 0xFF, r[47]);
  EXPECT_EQ(0, std::memcmp(r.data() + 48, " 51.28.12345 N000.07.54321 W", 28));
  EXPECT_EQ(45, r[76]);
  EXPECT_EQ(2715 >> 8, r[77]);
  EXPECT_EQ(2715 & 0xFF, r[78]);
  EXPECT_EQ(0, r[79]);
  EXPECT_EQ(0, r[80]);
  EXPECT_EQ(255, r[81]);
  for (int i = 82; i < 88; ++i) EXPECT_EQ(0, r[i]) << "attitude byte " << i;
  EXPECT_EQ(0, r[88]);
  EXPECT_EQ(250, r[89]);
  EXPECT_EQ(64, r[90]);
  EXPECT_EQ(0, std::memcmp(r.data() + 93, ".678\0", 5));
  EXPECT_EQ(0, std::memcmp(r.data() + 100, g_fileWriterRecord, 8013));
  // Trailer: floats little-endian; 1.25f = 0x3FA00000.
  const uint8_t x[4] = {0x00, 0x00, 0xA0, 0x3F};
  EXPECT_EQ(0, std::memcmp(r.data() + 8113, x, 4));
  EXPECT_EQ(1, r[8153]);
  float heading;
  std::memcpy(&heading, r.data() + 8154, 4);
  EXPECT_FLOAT_EQ(123.5f, heading);
  // The trailer of a 'U' record ends at byte 8157; the rest is zero.
  for (int i = 8158; i < 8192; ++i) ASSERT_EQ(0, r[i]) << i;
}

TEST_F(SonarFileWriter, ValuesOutsideTheirFieldsAreHeld) {
  {
    testutil::NavEdit nav;
    nav->speedKnots = 40.0;  // 400 tenths
    nav->courseDeg = -3.0;
  }
  g_ping.livePingPeriodMs = 9000;
  FillWriterRecord(0, 2);
  const std::vector<uint8_t> r = FormatToVector();
  ASSERT_EQ(8192u, r.size());
  EXPECT_EQ(255, r[76]);
  EXPECT_EQ(0, r[77]);
  EXPECT_EQ(0, r[78]);
  EXPECT_EQ(2000, (r[88] << 8) | r[89]);
  EXPECT_EQ(0, r[33]) << "no frame announced";
}

TEST_F(SonarFileWriter, RefusesAnUnknownTypeOrASmallBuffer) {
  FillWriterRecord(0, 3);
  std::vector<uint8_t> small(8191);
  EXPECT_EQ(0, FormatRecord(small.data(), static_cast<int>(small.size()), 0));
  g_fileWriterRecord[1] = 0;  // no ping completed yet
  std::vector<uint8_t> big(kRecordBufferBytes);
  EXPECT_EQ(0, FormatRecord(big.data(), static_cast<int>(big.size()), 0));
}

TEST_F(SonarFileWriter, EveryRecordSizeRoundTrips) {
  TempDir dir;
  for (int type = 0; type < kDataTypeCount; ++type) {
    const DataTypeInfo& dt = kDataTypes[type];
    SCOPED_TRACE(dt.letter);
    SetUp();
    std::vector<uint8_t> file;
    std::vector<std::vector<uint8_t>> pings;
    for (unsigned seed : {10u, 11u}) {
      FillWriterRecord(type, seed + type);
      pings.emplace_back(g_fileWriterRecord, g_fileWriterRecord + dt.recordLength);
      const std::vector<uint8_t> rec = FormatToVector();
      ASSERT_EQ(static_cast<size_t>(dt.fileRecordSize), rec.size());
      EXPECT_EQ(dt.recordSizeCode, rec[3]);
      Append(file, rec);
    }
    const std::string path = WriteFile(dir, "round.k41", file);

    // The operator's values differ from the file's, so each is seen to arrive.
    g_settings.Xdcr = 1;
    g_settings.Gain = 0;
    g_settings.PulseLength = 999;
    g_settings.ProfileTiltAngle = 0.0;
    g_settings.SoundVelocityMeters = 1500.0;
    g_switch.rangeOffset = 0;
    g_headLimits.FrequencyCoefficient = 0;
    FILE* f = nullptr;
    ASSERT_EQ(kOpenOk, OpenSonarFile(path.c_str(), &f));
    for (size_t i = 0; i < pings.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(kReadRecord, ReadNextRecord(f));
      EXPECT_EQ(0, std::memcmp(g_pingRecord, pings[i].data(), dt.recordLength));
      EXPECT_EQ(0, std::memcmp(g_playback.rawRecord, file.data() + i * dt.fileRecordSize, dt.fileRecordSize));
      EXPECT_EQ(static_cast<int64_t>(i * dt.fileRecordSize), g_playback.recordPos);
      EXPECT_EQ(type, g_ping.expectedType);
      EXPECT_EQ(dt.samplesPerElement, g_sampleCount);
      EXPECT_EQ(dt.fileRecordSize, g_playback.recordSize);
      EXPECT_EQ(dt.recordLength, g_playback.pingLength);
      EXPECT_EQ(kEndByte, g_ping.endByte);
      EXPECT_STREQ("07-DEC-2026", g_playback.stamp.date);
      EXPECT_STREQ("13:04:05", g_playback.stamp.time);
      EXPECT_STREQ("07-DEC-2026  13:04:05", g_playback.stamp.dateTime);
      EXPECT_STREQ(".67", g_playback.stamp.hundredths);
      EXPECT_STREQ(".678", g_playback.stamp.millis);
      EXPECT_EQ(5, g_playback.stamp.second);
      EXPECT_EQ(0, g_settings.Xdcr);
      EXPECT_EQ(7, g_settings.Gain);
      EXPECT_EQ(180, g_settings.PulseLength);
      EXPECT_NEAR(-12.5, g_settings.ProfileTiltAngle, 1e-9);
      EXPECT_NEAR(1487.3, g_settings.SoundVelocityMeters, 1e-9);
      EXPECT_EQ(12, g_switch.rangeOffset);
      EXPECT_EQ(20, g_headLimits.FrequencyCoefficient);
      EXPECT_EQ(255, g_switch.playbackFrequencyKHz);
      EXPECT_EQ(1, g_playback.positionPresent);
      EXPECT_STREQ(" 51.28.12345 N", g_playback.latitude);
      EXPECT_STREQ("000.07.54321 W", g_playback.longitude);
      EXPECT_EQ('W', g_playback.lonHemisphere);
      EXPECT_NEAR(4.5, g_playback.speedKnots, 1e-9);
      EXPECT_NEAR(271.5, g_playback.courseDeg, 1e-9);
      EXPECT_EQ(250, g_playback.pingPeriodMs);
      EXPECT_EQ(64, g_playback.displayGain);
      EXPECT_FLOAT_EQ(1.25f, g_playback.xOffsetM);
      EXPECT_FLOAT_EQ(-0.5f, g_playback.yOffsetM);
      EXPECT_FLOAT_EQ(3.75f, g_playback.depthM);
      EXPECT_EQ(1, g_playback.hdtValid);
      EXPECT_FLOAT_EQ(123.5f, g_playback.hdtHeadingDeg);
      EXPECT_EQ(0, g_playback.frameBeforeRecord);
      // Playback keeps the mounting offsets apart from the operator's.
      EXPECT_DOUBLE_EQ(1.25, g_settings.SonarXOffsetMeters);
    }
    EXPECT_EQ(kReadEnd, ReadNextRecord(f));
    std::fclose(f);
  }
}

TEST_F(SonarFileWriter, PlayedRecordDecodesLikeTheLivePing) {
  g_settings.PulseLength = 180;
  FillWriterRecord(0, 21);
  std::memcpy(g_pingRecord, g_fileWriterRecord, 8013);
  g_ping.endByte = kEndByte;
  ASSERT_EQ(1, DecodePingAt(1.0));
  std::vector<float> live(&g_elementSamples[0][0], &g_elementSamples[0][0] + kElements * kMaxSamples);
  TempDir dir;
  const std::string path = WriteFile(dir, "one.K41", FormatToVector());
  FinishPing();
  std::memset(g_elementSamples, 0, sizeof g_elementSamples);
  // The file carries 180 us; a different operator value would move the
  // samples by 29 instead of 0, so the shift must use the file's.
  g_settings.PulseLength = 2500;
  FILE* f = nullptr;
  ASSERT_EQ(kOpenOk, OpenSonarFile(path.c_str(), &f));
  ASSERT_EQ(kReadRecord, ReadNextRecord(f));
  std::fclose(f);
  ASSERT_EQ(1, DecodePingAt(2.0));
  std::vector<float> played(&g_elementSamples[0][0], &g_elementSamples[0][0] + kElements * kMaxSamples);
  EXPECT_EQ(live, played);
}

TEST_F(SonarFileWriter, FormattingAllocatesNothing) {
  static uint8_t out[kRecordBufferBytes];
  FillWriterRecord(3, 5);
  alloc_counter::Start();
  int size = 0;
  for (int i = 0; i < 4; ++i) size = FormatRecord(out, sizeof out, 0);
  EXPECT_EQ(0, alloc_counter::Stop());
  EXPECT_EQ(32768, size);
}

TEST_F(SonarFileWriter, TimeStampTextsAndClockSeconds) {
  ResetTimeStamps();
  ResetNavState();
  g_settings.ComPortGPSEnable = 1;
  struct Case {
    plat::LocalTime t;
    const char* date;
    const char* time;
    const char* hundredths;
    const char* millis;
    int ticks;   // clock seconds seen so far
    int fixAge;
  };
  const Case cases[] = {
      {{2001, 1, 3, 0, 0, 9, 5}, "03-JAN-2001", "00:00:09", ".00", ".005", 1, 1},
      {{2001, 1, 3, 0, 0, 9, 999}, "03-JAN-2001", "00:00:09", ".99", ".999", 1, 1},
      {{2001, 12, 31, 23, 59, 10, 120}, "31-DEC-2001", "23:59:10", ".12", ".120", 2, 2},
  };
  const char* previousDate = "";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.millis);
    TakeTimeStampAt(c.t);
    EXPECT_STREQ(c.date, g_timeStamps.current.date);
    EXPECT_STREQ(c.time, g_timeStamps.current.time);
    EXPECT_STREQ(c.hundredths, g_timeStamps.current.hundredths);
    EXPECT_STREQ(c.millis, g_timeStamps.current.millis);
    EXPECT_EQ(c.ticks, g_timeStamps.secondTicks);
    EXPECT_EQ(c.fixAge, testutil::NavNow().fixAge);
    EXPECT_STREQ(previousDate, g_timeStamps.previous.date);
    previousDate = c.date;
  }
  EXPECT_STREQ("03-JAN-2001  00:00:09", g_timeStamps.previous.dateTime);
  EXPECT_EQ(999, g_timeStamps.previous.millisValue);
  // In File mode the clock does not age the GPS fix.
  g_settings.RunMode = 1;
  TakeTimeStampAt(plat::LocalTime{2001, 12, 31, 23, 59, 11, 0});
  EXPECT_EQ(2, testutil::NavNow().fixAge);
}

TEST_F(SonarFileWriter, VideoFramesAreDueAtTheRateOfRecordedTime) {
  struct Case {
    const char* legend;
    double rate;
    int periodMs;
    int pings;
    const char* due;
  };
  const Case cases[] = {
      // The first record after an unmeasured period takes a frame, then every
      // 0.3 s of pings owes 0.9 of one.
      {"3 a second at 10 pings", 3.0, 100, 11, "F...F..F..F"},
      {"exact interval", 5.0, 100, 7, "F.F.F.F"},
      {"faster than the pings: one per record", 20.0, 100, 4, "FFFF"},
      {"slow rate", 0.5, 500, 9, "F...F...F"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_recordWriter = RecordWriterState{};
    g_settings.RecordVideo = 1;
    g_settings.RecordVideoRate = c.rate;
    std::string due;
    for (int i = 0; i < c.pings; ++i) {
      g_ping.pingPeriodMs = i == 0 ? 0 : c.periodMs;
      due += VideoFrameDue(1) ? 'F' : '.';
    }
    EXPECT_EQ(c.due, due);
  }
  // Over a long run the rate holds: 3 a second at 14.3 pings a second
  // (70 ms) gives 60 frames in 20 s, give or take the first.
  g_recordWriter = RecordWriterState{};
  g_settings.RecordVideoRate = 3.0;
  int frames = 0;
  for (int i = 0; i < 20000 / 70; ++i) {
    g_ping.pingPeriodMs = i == 0 ? 0 : 70;
    frames += VideoFrameDue(1);
  }
  EXPECT_NEAR(60, frames, 1);
  // Neither the closed window nor RecordVideo 0 counts a ping.
  g_recordWriter = RecordWriterState{};
  g_ping.pingPeriodMs = 100;
  EXPECT_EQ(0, VideoFrameDue(0));
  g_settings.RecordVideo = 0;
  EXPECT_EQ(0, VideoFrameDue(1));
  g_settings.RecordVideo = 1;
  EXPECT_EQ(0, VideoFrameDue(1));
  EXPECT_EQ(0, VideoFrameDue(1));
  EXPECT_EQ(0, VideoFrameDue(1));
  EXPECT_EQ(1, VideoFrameDue(1)) << "0.3 frames a ping from zero: the fourth";
  // A recording's start: its first record takes a frame though the period
  // is measured, and the count starts over from there.
  g_recordWriter = RecordWriterState{};
  g_recordWriter.frameCredit = 0.9;
  g_recordWriter.frameAtNextRecord = 1;
  std::string due;
  for (int i = 0; i < 5; ++i) due += VideoFrameDue(1) ? 'F' : '.';
  EXPECT_EQ("F...F", due);
}

}  // namespace
