// The .K41 reader: the repairs and limits it applies to header values, the
// speed spike filter, video frames between records, the record scan, the
// checks made when a file is opened, and damaged or hostile files, which must
// be skipped or ended without reading or writing outside a buffer.
#include <gtest/gtest.h>

#include <functional>

#include "common/nav_edit.h"
#include "files/sonar_file_test_util.h"

namespace {

using namespace k41test;

class SonarFileReader : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAllState();
    {
      testutil::NavEdit nav;
      std::memcpy(nav->latitude, " 51.28.12345 N", 14);
      std::memcpy(nav->longitude, "000.07.54321 E", 14);
      nav->speedKnots = 2.0;
      nav->courseDeg = 90.0;
    }
    g_ping.livePingPeriodMs = 200;
    TakeTimeStampAt(plat::LocalTime{2026, 12, 7, 13, 4, 5, 678});
    FillWriterRecord(0, 99);
  }
  // A record of the current state; `type` picks the ping.
  static std::vector<uint8_t> Record(int type = 0, unsigned seed = 99) {
    FillWriterRecord(type, seed);
    return FormatToVector();
  }
  // Reads the file made of `bytes` to its end; returns the records read.
  int ReadAll(const std::vector<uint8_t>& bytes, int limit = 1000) {
    const std::string path = WriteFile(dir_, "in.k41", bytes);
    FILE* f = std::fopen(path.c_str(), "rb");
    EXPECT_NE(nullptr, f);
    if (!f) return -1;
    int records = 0;
    while (records < limit && ReadNextRecord(f) == kReadRecord) ++records;
    std::fclose(f);
    return records;
  }
  TempDir dir_;
};

TEST_F(SonarFileReader, HeaderRepairsAndLimits) {
  struct Case {
    const char* legend;
    std::function<void(std::vector<uint8_t>&)> patch;
    std::function<void()> check;
  };
  const Case cases[] = {
      {"eleven-character date", [](auto&) {},
       [] { EXPECT_STREQ("07-DEC-2026", g_playback.stamp.date); }},
      {"five-character year", [](auto& r) { std::memcpy(r.data() + 8, "07-DEC-19101", 12); },
       [] { EXPECT_STREQ("07-DEC-2001", g_playback.stamp.date); }},
      {"speed byte 0", [](auto& r) { r[76] = 0; },
       [] { EXPECT_DOUBLE_EQ(0.1, g_playback.speedKnots); }},
      {"course 0", [](auto& r) { PutBE16(r, 77, 0); },
       [] { EXPECT_DOUBLE_EQ(0.0, g_playback.courseDeg); }},
      {"frequency 0", [](auto& r) { PutBE16(r, 80, 0); },
       [] {
         EXPECT_EQ(260, g_playback.frequencyKHz);
         EXPECT_EQ(260, g_switch.playbackFrequencyKHz);
         EXPECT_EQ(260, g_settings.Frequency);
       }},
      {"frequency kept apart from the operator's", [](auto& r) { PutBE16(r, 80, 675); },
       [] {
         EXPECT_EQ(675, g_switch.playbackFrequencyKHz);
         EXPECT_EQ(260, g_settings.Frequency);
       }},
      {"display gain 0", [](auto& r) { r[90] = 0; }, [] { EXPECT_EQ(1, g_playback.displayGain); }},
      {"display gain 101", [](auto& r) { r[90] = 101; }, [] { EXPECT_EQ(1, g_playback.displayGain); }},
      {"display gain 100", [](auto& r) { r[90] = 100; }, [] { EXPECT_EQ(100, g_playback.displayGain); }},
      {"heading not flagged", [](auto& r) { PutBE16(r, 86, 1234); },
       [] { EXPECT_DOUBLE_EQ(0.0, g_playback.headingDeg); }},
      {"heading above 359.9 held", [](auto& r) { PutBE16(r, 86, 0x8000 | 4000); },
       [] { EXPECT_NEAR(359.9, g_playback.headingDeg, 1e-9); }},
      {"heading offset wraps past 360",
       [](auto& r) {
         PutBE16(r, 86, 0x8000 | 3550);
         g_settings.HeadingOffset = 10.0;
       },
       [] { EXPECT_NEAR(5.0, g_playback.headingDeg, 1e-9); }},
      {"negative heading offset wraps below 0",
       [](auto& r) {
         PutBE16(r, 86, 0x8000 | 100);
         g_settings.HeadingOffset = -20.0;
       },
       [] { EXPECT_NEAR(350.0, g_playback.headingDeg, 1e-9); }},
      {"pitch held at 90", [](auto& r) { PutBE16(r, 82, 0x8000 | 1900); },
       [] { EXPECT_DOUBLE_EQ(90.0, g_playback.pitchDeg); }},
      {"roll held at -90, correction at -15", [](auto& r) { PutBE16(r, 84, 0x8000 | 0); },
       [] {
         EXPECT_DOUBLE_EQ(-90.0, g_playback.rollDeg);
         EXPECT_DOUBLE_EQ(-15.0, g_playback.rollCorrectionDeg);
       }},
      {"integrated roll adds the tilt",
       [](auto& r) {
         PutBE16(r, 84, 0x8000 | 950);   // +5.0
         PutBE16(r, 39, 0x8000 | 1900);  // tilt +10.0
         g_settings.IntegratedRoll = 1;
       },
       [] {
         EXPECT_NEAR(15.0, g_playback.rollDeg, 1e-9);
         EXPECT_NEAR(15.0, g_playback.rollCorrectionDeg, 1e-9);
       }},
      {"milliseconds made from hundredths", [](auto& r) { std::memset(r.data() + 93, 0, 5); },
       [] { EXPECT_STREQ(".670", g_playback.stamp.millis); }},
      {"ping period 0 uses the measured one",
       [](auto& r) {
         PutBE16(r, 88, 0);
         g_ping.pingPeriodMs = 333;
       },
       [] { EXPECT_EQ(333, g_playback.pingPeriodMs); }},
      {"previous-stamp bit passed on", [](auto& r) { r[37] |= 0x20; },
       [] { EXPECT_EQ(1, g_playback.previousStampFlag); }},
      {"tilt not flagged leaves the operator's", [](auto& r) { PutBE16(r, 39, 1900); },
       [] {
         EXPECT_EQ(0, g_playback.tiltPresent);
         EXPECT_DOUBLE_EQ(3.0, g_settings.ProfileTiltAngle);
       }},
      {"speed of sound outside 1400..2000 not taken into use",
       [](auto& r) { PutBE16(r, 46, 0x8000 | 0); },
       [] {
         EXPECT_EQ(1, g_playback.soundSpeedPresent);
         EXPECT_DOUBLE_EQ(0.0, g_playback.soundSpeed);
         EXPECT_DOUBLE_EQ(1234.5, g_settings.SoundVelocityMeters);
       }},
      {"reserved byte kept", [](auto& r) { r[45] = 0x5A; }, [] { EXPECT_EQ(0x5A, g_playback.reserved45); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SetUp();
    g_settings.ProfileTiltAngle = 0.0;
    std::vector<uint8_t> r = Record();
    g_settings.ProfileTiltAngle = 3.0;
    g_settings.SoundVelocityMeters = 1234.5;
    c.patch(r);
    ASSERT_EQ(1, ReadAll(r));
    c.check();
  }
}

TEST_F(SonarFileReader, RecordWithoutPositionClearsTheFlagAndKeepsSpeedAndCourse) {
  std::vector<uint8_t> file = Record();
  ResetNavState();  // no fix: all position bytes 0
  {
    testutil::NavEdit nav;
    nav->speedKnots = 9.0;
    nav->courseDeg = 45.0;
  }
  Append(file, Record());
  const std::string path = WriteFile(dir_, "nopos.k41", file);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  ASSERT_EQ(kReadRecord, ReadNextRecord(f));
  EXPECT_EQ(1, g_playback.positionPresent);
  EXPECT_DOUBLE_EQ(2.0, g_playback.speedKnots);
  ASSERT_EQ(kReadRecord, ReadNextRecord(f));
  EXPECT_EQ(0, g_playback.positionPresent);
  EXPECT_DOUBLE_EQ(2.0, g_playback.speedKnots);
  EXPECT_DOUBLE_EQ(90.0, g_playback.courseDeg);
  EXPECT_EQ(1, g_playback.positionUpdates);
  std::fclose(f);
}

// Played without position, a record means the fix is gone: whatever the
// navigation state still holds is stale and is dropped at once, not ten
// seconds later.
TEST_F(SonarFileReader, RecordWithoutPositionTimesTheFixOutAtOnce) {
  std::vector<uint8_t> file = Record();
  ResetNavState();
  Append(file, Record());
  const std::string path = WriteFile(dir_, "fixage.k41", file);

  {
    testutil::NavEdit nav;
    std::memcpy(nav->latitude, " 51.28.12345 N", kPositionTextBytes);
    std::memcpy(nav->longitude, "000.07.54321 E", kPositionTextBytes);
    nav->speedKnots = 6.5;
    nav->fixAge = 3;
    nav->positionShown = 1;
    nav->speedShown = 1;
  }
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  ASSERT_EQ(kReadRecord, ReadNextRecord(f));  // with position: the fix stays
  NavSnapshot n = testutil::NavNow();
  EXPECT_EQ(3, n.fixAge);
  EXPECT_EQ(' ', n.latitude[0]);
  EXPECT_DOUBLE_EQ(6.5, n.speedKnots);
  EXPECT_EQ(1, n.positionShown);

  ASSERT_EQ(kReadRecord, ReadNextRecord(f));  // without: timed out now
  std::fclose(f);
  n = testutil::NavNow();
  EXPECT_EQ(kFixAgeTimeoutS, n.fixAge);
  const char zeros[kPositionTextBytes] = {};
  EXPECT_EQ(0, std::memcmp(zeros, n.latitude, kPositionTextBytes));
  EXPECT_EQ(0, std::memcmp(zeros, n.longitude, kPositionTextBytes));
  EXPECT_DOUBLE_EQ(0.0, n.speedKnots);
  EXPECT_EQ(0, n.positionShown);
  EXPECT_EQ(0, n.speedShown);
}

TEST_F(SonarFileReader, SpeedSpikeIsBelievedOnlyAfterTwentyRecords) {
  std::vector<uint8_t> file = Record();  // 2.0 kn
  testutil::NavEdit{}->speedKnots = 15.0;
  const std::vector<uint8_t> fast = Record();
  for (int i = 0; i < 22; ++i) Append(file, fast);
  const std::string path = WriteFile(dir_, "spike.k41", file);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  std::string seen;
  while (ReadNextRecord(f) == kReadRecord) seen += g_playback.speedKnots > 10.0 ? 'F' : 's';
  std::fclose(f);
  // The first record, twenty rejected jumps, then the new speed holds.
  EXPECT_EQ(std::string(21, 's') + "FF", seen);
  ResetSpeedFilter();
  EXPECT_EQ(0, g_playback.speedRejects);
}

TEST_F(SonarFileReader, OperatorChangesDuringPlaybackWin) {
  g_settings.ProfileTiltAngle = -7.0;
  const std::vector<uint8_t> r = Record();
  g_settings.ProfileTiltAngle = 4.0;
  g_settings.SoundVelocityMeters = 1450.0;
  g_playback.operatorChangedTilt = 1;
  g_playback.operatorChangedSoundSpeed = 1;
  ASSERT_EQ(1, ReadAll(r));
  EXPECT_DOUBLE_EQ(-7.0, g_playback.tiltDeg);
  EXPECT_DOUBLE_EQ(4.0, g_settings.ProfileTiltAngle);
  EXPECT_DOUBLE_EQ(1500.0, g_playback.soundSpeed);
  EXPECT_DOUBLE_EQ(1450.0, g_settings.SoundVelocityMeters);
  EXPECT_EQ(0, g_playback.soundSpeedApplied);
}

TEST_F(SonarFileReader, VideoFrameBetweenRecordsIsReadByItsSignature) {
  const std::vector<uint8_t> bmp = MakeBmp(4, 3);
  std::vector<uint8_t> file = FormatToVector(static_cast<int>(bmp.size()));
  Append(file, bmp);
  Append(file, Record(1, 5));
  // A record that announces a frame none followed: the next item is a record.
  std::vector<uint8_t> announced = Record();
  announced[33] = 0x80;
  announced[36] = 90;
  Append(file, announced);
  Append(file, Record());
  const std::string path = WriteFile(dir_, "frames.k41", file);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  ASSERT_EQ(kReadRecord, ReadNextRecord(f));
  EXPECT_EQ(0, g_playback.frameBeforeRecord);
  ASSERT_EQ(kReadRecord, ReadNextRecord(f));
  EXPECT_EQ(1, g_playback.frameBeforeRecord);
  ASSERT_EQ(90, g_playback.frameLength);
  EXPECT_EQ(0, std::memcmp(g_videoFrame, bmp.data(), 90));
  EXPECT_EQ(1, g_playback.dataType);
  EXPECT_EQ(static_cast<int64_t>(8192 + 90), g_playback.recordPos);
  ASSERT_EQ(kReadRecord, ReadNextRecord(f));
  EXPECT_EQ(0, g_playback.frameBeforeRecord);
  ASSERT_EQ(kReadRecord, ReadNextRecord(f));
  EXPECT_EQ(kReadEnd, ReadNextRecord(f));
  EXPECT_EQ(0, g_playback.damagedItems);
  std::fclose(f);
}

TEST_F(SonarFileReader, ScanSkipsAFalseMagicInsideElementData) {
  std::vector<uint8_t> first = Record(0, 1);
  // "K41" with a 'U' where a letter would stand, but no end mark 8112 on.
  const size_t fake = 100 + 12 + 2000;
  std::memcpy(first.data() + fake, "K41", 3);
  first[fake + 101] = 'U';
  std::vector<uint8_t> file = first;
  Append(file, Record(1, 2));
  file[fake + 8112] = 0x00;  // inside the second record's element data
  const std::string path = WriteFile(dir_, "scan.k41", file);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  struct Case {
    int64_t from;
    int found;
    int64_t at;
  };
  const Case cases[] = {
      {0, 1, 0},
      {1, 1, 8192},
      {static_cast<int64_t>(fake), 1, 8192},
      {8192, 1, 8192},
      {8193, 0, static_cast<int64_t>(file.size())},
      {static_cast<int64_t>(file.size()) + 50, 0, static_cast<int64_t>(file.size())},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    EXPECT_EQ(c.found, ScanForRecord(f, c.from));
    EXPECT_EQ(c.at, ftello(f));
  }
  ASSERT_EQ(1, ScanForRecord(f, 1));
  ASSERT_EQ(kReadRecord, ReadNextRecord(f));
  EXPECT_EQ(1, g_playback.dataType);
  std::fclose(f);
}

TEST_F(SonarFileReader, ScanFindsARecordRightAfterAStrayK) {
  std::vector<uint8_t> file = {'x', 'K', 'K'};
  Append(file, Record());
  std::vector<uint8_t> k9b = Record(3, 4);
  k9b[1] = '9';
  k9b[2] = 'B';
  Append(file, k9b);
  const std::string path = WriteFile(dir_, "stray.k41", file);
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(nullptr, f);
  ASSERT_EQ(1, ScanForRecord(f, 0));
  EXPECT_EQ(3, ftello(f));
  ASSERT_EQ(1, ScanForRecord(f, 4));
  EXPECT_EQ(3 + 8192, ftello(f)) << "the alternative magic is a record start too";
  ASSERT_EQ(kReadRecord, ReadNextRecord(f));
  EXPECT_EQ(3, g_playback.dataType);
  std::fclose(f);
}

TEST_F(SonarFileReader, DamagedItemsAreSkippedToTheNextRecord) {
  struct Case {
    const char* legend;
    std::function<std::vector<uint8_t>()> damaged;
  };
  const Case cases[] = {
      {"record size 0", [] { auto r = Record(); PutBE16(r, 4, 0); return r; }},
      {"record size 1000", [] { auto r = Record(); PutBE16(r, 4, 1000); return r; }},
      {"record size 65535", [] { auto r = Record(); PutBE16(r, 4, 65535); return r; }},
      {"record size of another type", [] { auto r = Record(); PutBE16(r, 4, 16384); return r; }},
      {"N larger than the record", [] { auto r = Record(); PutBE16(r, 6, 40000); return r; }},
      {"N not matching the letter", [] { auto r = Record(); PutBE16(r, 6, 8014); return r; }},
      {"letter of a larger type", [] { auto r = Record(); r[101] = 'Y'; return r; }},
      {"unknown letter", [] { auto r = Record(); r[101] = 'Q'; return r; }},
      {"frame length 0",
       [] {
         auto b = MakeBmp(4, 3);
         b[2] = b[3] = b[4] = b[5] = 0;
         return b;
       }},
      {"frame length 53", [] { return MakeBmp(4, 3, 53); }},
      {"frame length of 4 GB", [] { return MakeBmp(4, 3, 0xFFFFFFFFu); }},
      {"frame length of 2 GB", [] { return MakeBmp(4, 3, 0x80000000u); }},
      {"frame longer than any capture", [] { return MakeBmp(4, 3, kMaxVideoFrameBytes + 1); }},
      {"garbage", [] { return std::vector<uint8_t>(300, 0x4B); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    SetUp();
    std::vector<uint8_t> file = c.damaged();
    Append(file, Record(2, 7));
    const std::string path = WriteFile(dir_, "damaged.k41", file);
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(kReadRecord, ReadNextRecord(f));
    EXPECT_EQ(2, g_playback.dataType);
    EXPECT_EQ(static_cast<int64_t>(file.size() - 16384), g_playback.recordPos);
    EXPECT_EQ(kReadEnd, ReadNextRecord(f));
    std::fclose(f);
  }
}

TEST_F(SonarFileReader, DamagedItemWithNothingAfterItEndsTheFile) {
  std::vector<uint8_t> r = Record();
  PutBE16(r, 4, 12345);
  EXPECT_EQ(0, ReadAll(r));
  EXPECT_EQ(1, g_playback.damagedItems);
  EXPECT_EQ(0, ReadAll(MakeBmp(2, 2, 0x7FFFFFFF)));
}

TEST_F(SonarFileReader, FileCutAnywhereEndsWithTheLastWholeRecord) {
  const std::vector<uint8_t> bmp = MakeBmp(8, 8);
  std::vector<uint8_t> full = FormatToVector(static_cast<int>(bmp.size()));
  Append(full, bmp);
  Append(full, Record(1, 3));
  const size_t firstEnd = 8192, secondEnd = full.size();
  for (size_t cut : {size_t{0}, size_t{1}, size_t{2}, size_t{99}, size_t{100}, size_t{101}, size_t{8191},
                     firstEnd, firstEnd + 1, firstEnd + 2, firstEnd + 53, firstEnd + 54, firstEnd + bmp.size(),
                     firstEnd + bmp.size() + 100, secondEnd - 1, secondEnd}) {
    SCOPED_TRACE(cut);
    SetUp();
    const std::vector<uint8_t> part(full.begin(), full.begin() + static_cast<long>(cut));
    const int expected = cut >= secondEnd ? 2 : (cut >= firstEnd ? 1 : 0);
    EXPECT_EQ(expected, ReadAll(part));
  }
}

TEST_F(SonarFileReader, OpeningChecksExtensionAndMagic) {
  struct NameCase {
    const char* name;
    int ok;
  };
  const NameCase names[] = {
      {"survey.K41", 1}, {"survey.k41", 1}, {"a.b.K41", 1}, {"survey.K42", 0},
      {"survey.K41x", 0}, {"K41", 0}, {"dir.k41/file", 0}, {"", 0},
  };
  for (const NameCase& c : names) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.ok, HasSonarExtension(c.name));
  }
  struct FileCase {
    const char* legend;
    const char* name;
    std::vector<uint8_t> bytes;
    int result;
  };
  std::vector<uint8_t> k9b = Record();
  k9b[1] = '9';
  k9b[2] = 'B';
  const FileCase files[] = {
      {"record first", "a.K41", Record(), kOpenOk},
      {"alternative magic", "b.k41", k9b, kOpenOk},
      {"frame first", "c.K41", MakeBmp(2, 2), kOpenBadMagic},
      {"empty", "d.K41", {}, kOpenBadMagic},
      {"two bytes", "e.K41", {'K', '4'}, kOpenBadMagic},
      {"wrong extension", "f.txt", Record(), kOpenBadExtension},
  };
  for (const FileCase& c : files) {
    SCOPED_TRACE(c.legend);
    const std::string path = WriteFile(dir_, c.name, c.bytes);
    FILE* f = reinterpret_cast<FILE*>(1);
    EXPECT_EQ(c.result, OpenSonarFile(path.c_str(), &f));
    EXPECT_EQ(c.result == kOpenOk, f != nullptr);
    if (f) {
      EXPECT_EQ(0, ftello(f));
      std::fclose(f);
    }
  }
  FILE* f = nullptr;
  EXPECT_EQ(kOpenCannotOpen, OpenSonarFile(dir_.File("missing.K41").c_str(), &f));
  EXPECT_EQ(nullptr, f);
}

}  // namespace
