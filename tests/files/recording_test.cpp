// Recording live pings: automatic names that never replace a file, the
// operator's numbered sequence at the split, the title, the coverage log,
// and what a failing or full disk leaves behind (whole records, one message).
// Every file written is read back with the console's own reader.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/chain_fixture.h"
#include "files/output_file.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "nav/track.h"
#include "platform/recording.h"
#include "settings/settings.h"
#include "sonar_file_test_util.h"

namespace {

using testutil::ReadAll;
namespace fs = std::filesystem;

constexpr int kU = 0;          // data type "U": 8192-byte records
constexpr int kRecordU = 8192;
const char* const kProduct = "Orvale Multibeam Sonar";

class RecordingTest : public testutil::ChainTest {
 protected:
  RecordingTest() : ChainTest("orvale_rec") {}
  void SetUp() override {
    ChainTest::SetUp();
    std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s", dir_.c_str());
    g_settings.RunMode = 0;
    // Far above the reserve, whatever /tmp holds; the reserve test sets its own.
    g_recording.freeSpaceOverride = 1LL << 40;
    TakeTimeStampAt(plat::LocalTime{2026, 12, 7, 12, 34, 56, 789});
  }
  // One completed ping of `type` in the writer copy, recorded.
  int Ping(int seed, int type = kU) {
    k41test::FillWriterRecord(type, static_cast<unsigned>(seed));
    return RecordPing(nullptr, 0);
  }
  void Touch(const std::string& name, const std::string& text = "keep") { testutil::WriteText(Path(name), text); }
  // The ping records of a file, in order, as the reader returns them.
  static std::vector<std::vector<uint8_t>> ReadBack(const std::string& path) {
    std::vector<std::vector<uint8_t>> pings;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return pings;
    while (pings.size() < 1000 && ReadNextRecord(f) == kReadRecord)
      pings.emplace_back(g_pingRecord, g_pingRecord + g_playback.pingLength);
    std::fclose(f);
    return pings;
  }
  static std::vector<uint8_t> WriterPing(int type, int seed) {
    k41test::FillWriterRecord(type, static_cast<unsigned>(seed));
    return std::vector<uint8_t>(g_fileWriterRecord, g_fileWriterRecord + kDataTypes[type].recordLength);
  }
  static std::string Title() { return plat::rec::Get().titles[plat::kWinMain]; }
  static size_t Messages() { return plat::rec::Get().messages.size(); }
};

// ---------------------------------------------------------------- names

TEST_F(RecordingTest, DateNumberTakesOneAboveTheLargestPresent) {
  struct Case {
    const char* legend;
    std::vector<std::string> present;
    const char* expected;
  };
  const Case cases[] = {
      {"none present", {}, "07DEC2026-0001.K41"},
      {"0001 and 0007", {"07DEC2026-0001.K41", "07DEC2026-0007.K41"}, "07DEC2026-0008.K41"},
      {"lower-case copy counts", {"07dec2026-0003.k41"}, "07DEC2026-0004.K41"},
      {"another day does not", {"08DEC2026-0005.K41"}, "07DEC2026-0001.K41"},
      {"not four digits", {"07DEC2026-00x9.K41", "07DEC2026-12.K41"}, "07DEC2026-0001.K41"},
      {"other extension", {"07DEC2026-0004.K4P"}, "07DEC2026-0001.K41"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    for (const auto& e : fs::directory_iterator(dir_)) fs::remove(e.path());
    for (const std::string& name : c.present) Touch(name);
    ASSERT_EQ(StartAutomaticRecording(), 1);
    EXPECT_EQ(std::string(g_recording.name), Path(c.expected));
    EXPECT_EQ(StopRecording(), 1);
    for (const std::string& name : c.present) EXPECT_EQ(testutil::ReadText(Path(name)), "keep") << name;
  }
}

TEST_F(RecordingTest, NumberNineThousandNineHundredNinetyNineTakenGivesTheDateTimeName) {
  Touch("07DEC2026-9999.K41");
  ASSERT_EQ(StartAutomaticRecording(), 1);
  EXPECT_EQ(std::string(g_recording.name), Path("07DEC2026-123456.K41"));
  ASSERT_EQ(Ping(1), 1);
  EXPECT_EQ(StopRecording(), 1);
  EXPECT_EQ(testutil::ReadText(Path("07DEC2026-9999.K41")), "keep");
  EXPECT_EQ(ReadBack(Path("07DEC2026-123456.K41")).size(), 1u);
}

TEST_F(RecordingTest, DateTimeNameNeverReplacesAFileOfTheSameSecond) {
  g_settings.AutoFilenameType = 1;
  Touch("07DEC2026-123456.K41");
  EXPECT_EQ(StartAutomaticRecording(), 0);
  EXPECT_EQ(Recording(), 0);
  EXPECT_EQ(testutil::ReadText(Path("07DEC2026-123456.K41")), "keep");
  TakeTimeStampAt(plat::LocalTime{2026, 12, 7, 12, 34, 57, 0});
  ASSERT_EQ(StartAutomaticRecording(), 1);
  EXPECT_EQ(std::string(g_recording.name), Path("07DEC2026-123457.K41"));
}

TEST_F(RecordingTest, ExternalControlSwitchesToDateTimeNamesWithTheirChecks) {
  g_settings.AutoFilename = 0;
  ASSERT_EQ(StartExternalRecording(), 1);
  EXPECT_EQ(g_settings.AutoFilename, 1);
  EXPECT_EQ(g_settings.AutoFilenameType, 1);
  EXPECT_EQ(std::string(g_recording.name), Path("07DEC2026-123456.K41"));
  const auto& checks = plat::rec::Get().menuChecks;
  ASSERT_GE(checks.size(), 3u);
  EXPECT_EQ(checks[0], std::make_pair(208, 1));
  EXPECT_EQ(checks[1], std::make_pair(220, 0));
  EXPECT_EQ(checks[2], std::make_pair(221, 1));
}

TEST_F(RecordingTest, OperatorsNameFromTheSaveDialogAndItsChecks) {
  g_settings.AutoFilename = 0;
  plat::rec::ScriptFileDialog(0, "");
  EXPECT_EQ(StartRecording(), 0) << "cancelled";
  plat::rec::ScriptFileDialog(1, Path("survey.dat"));
  EXPECT_EQ(StartRecording(), 0);
  ASSERT_EQ(Messages(), 1u);
  EXPECT_EQ(plat::rec::Get().messages[0].caption, "Open a Sonar File For Recording");
  EXPECT_EQ(plat::rec::Get().messages[0].text, "File extension must be .K41");
  EXPECT_FALSE(fs::exists(Path("survey.dat")));
  // A name the operator confirmed is replaced.
  Touch("Survey.K41", "old contents");
  plat::rec::ScriptFileDialog(1, Path("Survey.K41"));
  ASSERT_EQ(StartRecording(), 1);
  const auto& req = plat::rec::Get().fileRequests.back();
  EXPECT_EQ(std::string(req.title), "Open a Sonar File For Recording");
  EXPECT_EQ(std::string(req.defaultExt), "K41");
  EXPECT_EQ(req.save, 1);
  EXPECT_EQ(Ping(3), 1);
  EXPECT_EQ(StopRecording(), 1);
  EXPECT_EQ(ReadAll(Path("Survey.K41")).size(), static_cast<size_t>(kRecordU));
}

TEST_F(RecordingTest, OnlyInHeadModeAndNotTwice) {
  g_settings.RunMode = 1;
  EXPECT_EQ(StartAutomaticRecording(), 0);
  EXPECT_EQ(StartRecordingTo(Path("a.K41").c_str()), 0);
  g_settings.RunMode = 0;
  ASSERT_EQ(StartAutomaticRecording(), 1);
  EXPECT_EQ(StartAutomaticRecording(), 0);
  EXPECT_EQ(g_recording.filesOpened, 1);
}

// ---------------------------------------------------------------- title and records

TEST_F(RecordingTest, KilobytesAreGroupedByThousands) {
  struct Case {
    int64_t bytes;
    const char* expected;
  };
  const Case cases[] = {{0, "0 kB"},           {1023, "0 kB"},           {999 * 1024, "999 kB"},
                        {1000 * 1024, "1,000 kB"}, {12345LL * 1024 + 1023, "12,345 kB"},
                        {1234567LL * 1024, "1,234,567 kB"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    char text[32];
    FormatKilobytes(c.bytes, text, sizeof text);
    EXPECT_STREQ(text, c.expected);
  }
}

TEST_F(RecordingTest, TitleAndMenuFollowTheRecording) {
  ASSERT_EQ(StartAutomaticRecording(), 1);
  const std::string name = Path("07DEC2026-0001.K41");
  EXPECT_EQ(Title(), std::string(kProduct) + " - Recording to " + name);
  EXPECT_EQ(plat::rec::Get().menuTexts.back(), std::make_pair(15, std::string("&Record Stop...\t  Ctrl+E")));
  ASSERT_EQ(Ping(1), 1);
  ASSERT_EQ(Ping(2), 1);
  EXPECT_EQ(Title(), std::string(kProduct) + " - Recording to " + name + " - 16 kB");
  EXPECT_EQ(g_recording.bytesWritten, 2 * kRecordU);
  EXPECT_EQ(StopRecording(), 1);
  EXPECT_EQ(Title(), kProduct);
  EXPECT_EQ(plat::rec::Get().menuTexts.back(), std::make_pair(15, std::string("&Record Start...\t  Ctrl+S")));
  EXPECT_EQ(Ping(3), 0) << "nothing records after the stop";
}

TEST_F(RecordingTest, EveryRecordedPingReadsBackAsWritten) {
  const int types[] = {0, 1, 3, 2, 0};  // 8192, 16384, 32768, 16384, 8192 bytes
  ASSERT_EQ(StartAutomaticRecording(), 1);
  std::vector<std::vector<uint8_t>> written;
  for (int i = 0; i < 5; ++i) {
    written.push_back(WriterPing(types[i], 100 + i));
    ASSERT_EQ(RecordPing(nullptr, 0), 1);
  }
  // Read while the file is still open, as after a crash: each record was
  // flushed when it was written.
  const std::string path = g_recording.name;
  EXPECT_EQ(ReadBack(path), written);
  EXPECT_EQ(StopRecording(), 1);
  EXPECT_EQ(ReadBack(path), written);
  EXPECT_EQ(static_cast<int64_t>(ReadAll(path).size()), 8192 + 16384 + 32768 + 16384 + 8192);
}

TEST_F(RecordingTest, AFrameFollowsItsRecordAndCountsInTheSize) {
  const std::vector<uint8_t> frame = k41test::MakeBmp(4, 2);
  ASSERT_EQ(StartAutomaticRecording(), 1);
  k41test::FillWriterRecord(kU, 5);
  ASSERT_EQ(RecordPing(frame.data(), static_cast<int>(frame.size())), 1);
  ASSERT_EQ(Ping(6), 1);
  EXPECT_EQ(g_recording.bytesWritten, static_cast<int64_t>(2 * kRecordU + frame.size()));
  const std::string path = g_recording.name;
  ASSERT_EQ(StopRecording(), 1);
  const auto bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 2 * kRecordU + frame.size());
  EXPECT_EQ(bytes[33] & 0x80, 0x80) << "the record announces its frame";
  EXPECT_TRUE(std::equal(frame.begin(), frame.end(), bytes.begin() + kRecordU));
  EXPECT_EQ(ReadBack(path).size(), 2u);
}

// ---------------------------------------------------------------- splitting

TEST_F(RecordingTest, SplitSizeIsMaximumFilesizeTimesOneMillionTwentyFourThousand) {
  g_settings.MaximumFilesize = 500;
  EXPECT_EQ(SplitSizeBytes(), 512000000);
  g_settings.MaximumFilesize = 100;
  EXPECT_EQ(SplitSizeBytes(), 102400000);
}

TEST_F(RecordingTest, AManualNameSplitTwiceGivesANumberedSequence) {
  Touch("notes.K41");
  Touch("survey-1.K41");
  g_recording.splitBytesOverride = 2 * kRecordU;
  g_settings.AutoFilename = 0;
  ASSERT_EQ(StartRecordingTo(Path("survey.K41").c_str()), 1);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Ping(i), 1) << i;
  EXPECT_EQ(std::string(g_recording.name), Path("survey-003.K41"));
  EXPECT_EQ(Title(), std::string(kProduct) + " - Recording to " + Path("survey-003.K41") + " - 8 kB");
  ASSERT_EQ(StopRecording(), 1);
  EXPECT_FALSE(fs::exists(Path("survey.K41")));
  EXPECT_EQ(ReadBack(Path("survey-001.K41")).size(), 2u);
  EXPECT_EQ(ReadBack(Path("survey-002.K41")).size(), 2u);
  EXPECT_EQ(ReadBack(Path("survey-003.K41")).size(), 1u);
  EXPECT_EQ(g_recording.splits, 2);
  EXPECT_EQ(testutil::ReadText(Path("notes.K41")), "keep");
  EXPECT_EQ(testutil::ReadText(Path("survey-1.K41")), "keep");
  EXPECT_EQ(g_recording.sequenceNumber, 0) << "the operator's stop ends the sequence";
}

TEST_F(RecordingTest, ASplitNeverReplacesFilesOfTheSequenceName) {
  Touch("survey-001.K41", "first");
  Touch("survey-002.K41", "second");
  g_recording.splitBytesOverride = 2 * kRecordU;
  g_settings.AutoFilename = 0;
  ASSERT_EQ(StartRecordingTo(Path("survey.K41").c_str()), 1);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Ping(i), 1) << i;
  ASSERT_EQ(StopRecording(), 1);
  EXPECT_EQ(g_recording.renameRefused, 1);
  EXPECT_EQ(testutil::ReadText(Path("survey-001.K41")), "first");
  EXPECT_EQ(testutil::ReadText(Path("survey-002.K41")), "second");
  EXPECT_EQ(ReadBack(Path("survey.K41")).size(), 2u) << "the first file keeps its name";
  EXPECT_EQ(ReadBack(Path("survey-003.K41")).size(), 1u);
  EXPECT_FALSE(fs::exists(Path("survey-004.K41")));
}

TEST_F(RecordingTest, RestartingAManualRecordingStartsANewSequence) {
  g_recording.splitBytesOverride = kRecordU;
  g_settings.AutoFilename = 0;
  ASSERT_EQ(StartRecordingTo(Path("a.K41").c_str()), 1);
  ASSERT_EQ(Ping(1), 1);  // a.K41 -> a-001.K41, on in a-002.K41
  ASSERT_EQ(StopRecording(), 1);
  ASSERT_EQ(StartRecordingTo(Path("b.K41").c_str()), 1);
  ASSERT_EQ(Ping(2), 1);
  EXPECT_EQ(std::string(g_recording.name), Path("b-002.K41"));
  EXPECT_TRUE(fs::exists(Path("b-001.K41")));
  EXPECT_TRUE(fs::exists(Path("a-001.K41")));
}

TEST_F(RecordingTest, AutomaticNamesSplitIntoTheNextNumber) {
  g_recording.splitBytesOverride = 2 * kRecordU;
  ASSERT_EQ(StartAutomaticRecording(), 1);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Ping(i), 1) << i;
  ASSERT_EQ(StopRecording(), 1);
  EXPECT_EQ(ReadBack(Path("07DEC2026-0001.K41")).size(), 2u);
  EXPECT_EQ(ReadBack(Path("07DEC2026-0002.K41")).size(), 2u);
  EXPECT_EQ(ReadBack(Path("07DEC2026-0003.K41")).size(), 1u);
}

TEST_F(RecordingTest, RenameNoReplaceKeepsBothFilesWhenTheTargetExists) {
  Touch("from.K41", "from");
  Touch("to.K41", "to");
  EXPECT_EQ(RenameNoReplace(Path("from.K41").c_str(), Path("to.K41").c_str()), 0);
  EXPECT_EQ(testutil::ReadText(Path("from.K41")), "from");
  EXPECT_EQ(testutil::ReadText(Path("to.K41")), "to");
  EXPECT_EQ(RenameNoReplace(Path("from.K41").c_str(), Path("new.K41").c_str()), 1);
  EXPECT_FALSE(fs::exists(Path("from.K41")));
  EXPECT_EQ(testutil::ReadText(Path("new.K41")), "from");
}

// ---------------------------------------------------------------- coverage log

TEST_F(RecordingTest, AnEmptyCoverageLogIsDeletedAndAWrittenOneKept) {
  ASSERT_EQ(StartAutomaticRecording(), 1);
  EXPECT_TRUE(fs::exists(Path(kCoverageLogName)));
  ASSERT_NE(g_track.coverageLog, nullptr);
  ASSERT_EQ(StopRecording(), 1);
  EXPECT_EQ(g_track.coverageLog, nullptr);
  EXPECT_FALSE(fs::exists(Path(kCoverageLogName)));

  ASSERT_EQ(StartAutomaticRecording(), 1);
  std::fputs("1.00,2.00,3.00,4.00,5.00,6.00,32\r\n", g_track.coverageLog);
  ASSERT_EQ(StopRecording(), 1);
  EXPECT_TRUE(fs::exists(Path(kCoverageLogName)));
  ASSERT_EQ(StartAutomaticRecording(), 1);
  ASSERT_EQ(StopRecording(), 1);
  EXPECT_EQ(testutil::ReadText(Path(kCoverageLogName)), "1.00,2.00,3.00,4.00,5.00,6.00,32\r\n")
      << "the next recording appends; a log with lines stays";

  // A reset (every test's start) closes what a recording left open.
  fs::remove(Path(kCoverageLogName));
  ASSERT_EQ(StartAutomaticRecording(), 1);
  ResetRecording();
  EXPECT_EQ(g_track.coverageLog, nullptr);
  EXPECT_FALSE(fs::exists(Path(kCoverageLogName)));
}

// ---------------------------------------------------------------- failing disks

// Flushes fail for the first two files opened: two records are lost, the
// operator hears of it once, the title counts them, and the file holds the
// whole records written after the fault went away.
TEST_F(RecordingTest, AFailedWriteIsCutBackCountedAndReportedOnce) {
  OutputFault fault;
  std::snprintf(fault.pathSuffix, sizeof fault.pathSuffix, ".K41");
  fault.failFlush = 1;
  SetOutputFault(fault);
  ASSERT_EQ(StartAutomaticRecording(), 1);
  EXPECT_EQ(Ping(1), 0);
  ClearOutputFault();  // the file reopened after the first failure still has it
  EXPECT_EQ(Ping(2), 0);
  const std::vector<uint8_t> third = WriterPing(kU, 3);
  ASSERT_EQ(RecordPing(nullptr, 0), 1);
  const std::vector<uint8_t> fourth = WriterPing(kU, 4);
  ASSERT_EQ(RecordPing(nullptr, 0), 1);
  EXPECT_EQ(g_recording.writeErrors, 2);
  EXPECT_EQ(Recording(), 1);
  ASSERT_EQ(Messages(), 1u);
  EXPECT_EQ(plat::rec::Get().messages[0].caption, "Recording");
  EXPECT_NE(Title().find("2 WRITE ERRORS"), std::string::npos) << Title();
  const std::string path = g_recording.name;
  ASSERT_EQ(StopRecording(), 1);
  EXPECT_EQ(ReadBack(path), (std::vector<std::vector<uint8_t>>{third, fourth}));
  EXPECT_EQ(ReadAll(path).size(), 2u * kRecordU);
}

// The disk fills in the middle of the third record: the torn part goes, the
// recording ends with one message, and nothing more is written.
TEST_F(RecordingTest, AFullDiskStopsTheRecordingOnAWholeRecord) {
  OutputFault fault;
  std::snprintf(fault.pathSuffix, sizeof fault.pathSuffix, ".K41");
  fault.writeLimitBytes = 2 * kRecordU + kRecordU / 2;
  SetOutputFault(fault);
  ASSERT_EQ(StartAutomaticRecording(), 1);
  const std::string path = g_recording.name;
  ASSERT_EQ(Ping(1), 1);
  ASSERT_EQ(Ping(2), 1);
  EXPECT_EQ(Ping(3), 0);
  EXPECT_EQ(Recording(), 0);
  EXPECT_EQ(Ping(4), 0);
  EXPECT_EQ(g_recording.diskFullStops, 1);
  ASSERT_EQ(Messages(), 1u);
  EXPECT_EQ(plat::rec::Get().messages[0].caption, "CheckAvailableDiskSpace");
  EXPECT_NE(Title().find("Recording stopped"), std::string::npos) << Title();
  EXPECT_EQ(plat::rec::Get().menuTexts.back().second, "&Record Start...\t  Ctrl+S");
  EXPECT_EQ(ReadAll(path).size(), 2u * kRecordU);
  EXPECT_EQ(ReadBack(path).size(), 2u);
  EXPECT_EQ(StopRecording(), 1) << "nothing left to stop";
  EXPECT_EQ(Messages(), 1u);
}

TEST_F(RecordingTest, TheReserveDecidesBeforeEachWrite) {
  struct Case {
    const char* legend;
    int64_t freeBytes, needBytes;
    int allows;
  };
  const Case cases[] = {
      {"exactly the reserve left", kDiskReserveBytes + 8192, 8192, 1},
      {"one byte short", kDiskReserveBytes + 8191, 8192, 0},
      {"nothing to write", kDiskReserveBytes, 0, 1},
      {"not measurable", -1, 8192, 1},
      {"empty disk", 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(SpaceAllows(c.freeBytes, c.needBytes), c.allows);
  }
  g_recording.freeSpaceOverride = -1;
  EXPECT_GT(FreeDiskBytes(dir_.c_str()), 0) << "statvfs measures the temporary directory";

  g_recording.freeSpaceOverride = kDiskReserveBytes - 1;
  EXPECT_EQ(StartAutomaticRecording(), 0);
  EXPECT_EQ(g_recording.startsRefusedForSpace, 1);
  ASSERT_EQ(Messages(), 1u);
  EXPECT_EQ(plat::rec::Get().messages[0].caption, "CheckAvailableDiskSpace");
  EXPECT_TRUE(fs::is_empty(dir_)) << "no file made";

  g_recording.freeSpaceOverride = kDiskReserveBytes + kRecordU;
  ASSERT_EQ(StartAutomaticRecording(), 1);
  const std::string path = g_recording.name;
  ASSERT_EQ(Ping(1), 1);
  g_recording.freeSpaceOverride = kDiskReserveBytes + kRecordU - 1;
  EXPECT_EQ(Ping(2), 0);
  EXPECT_EQ(Recording(), 0);
  EXPECT_EQ(g_recording.diskFullStops, 1);
  EXPECT_EQ(Messages(), 2u);
  EXPECT_EQ(ReadBack(path).size(), 1u);
}

TEST_F(RecordingTest, ACloseThatLosesDataIsReported) {
  OutputFault fault;
  std::snprintf(fault.pathSuffix, sizeof fault.pathSuffix, ".K41");
  fault.failClose = 1;
  SetOutputFault(fault);
  ASSERT_EQ(StartAutomaticRecording(), 1);
  ASSERT_EQ(Ping(1), 1);
  EXPECT_EQ(StopRecording(), 0);
  EXPECT_EQ(g_recording.closeErrors, 1);
  ASSERT_EQ(Messages(), 1u);
  EXPECT_EQ(Recording(), 0);
}

TEST_F(RecordingTest, ACreationFailureIsSilentAndLeavesTheMenu) {
  OutputFault fault;
  fault.failOpen = 1;
  SetOutputFault(fault);
  EXPECT_EQ(StartAutomaticRecording(), 0);
  EXPECT_EQ(Recording(), 0);
  EXPECT_EQ(Messages(), 0u);
  EXPECT_TRUE(plat::rec::Get().menuTexts.empty());
}

}  // namespace
