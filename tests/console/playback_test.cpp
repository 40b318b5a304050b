// Playback: opening with its messages, skip-next, the end of the file, the
// fast step, pacing, the Playback window's slider and position bar, and the
// copy. Records are told apart by the gain byte each one carries; a counting
// processor stands in for the per-ping processing so the stepping itself is
// what is tested.
#include <algorithm>
#include <vector>

#include "console/playback_test_util.h"
#include "nav/track.h"
#include "processing/profile_filter.h"
#include "files/output_file.h"

namespace {

using namespace k41test;

std::vector<int> g_shown;  // gain byte of every record handed on
int CountingProcessor() {
  g_shown.push_back(g_playback.gain);
  FinishPing();
  return 1;
}

// A file of `count` records of `type`; record i carries gain i.
std::vector<uint8_t> MakeRecords(int count, int type = 0, int frameEvery = 0) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < count; ++i) {
    FillWriterRecord(type, 100 + i);
    g_settings.Gain = i;
    Append(bytes, FormatToVector());
    if (frameEvery && i % frameEvery == 0) Append(bytes, MakeBmp(8, 4));
  }
  return bytes;
}

class Playback : public PlayedFileTest {
 protected:
  Playback() : PlayedFileTest(CountingProcessor) {}
  void SetUp() override {
    PlayedFileTest::SetUp();
    g_shown.clear();
  }
  std::string Write(const char* name, const std::vector<uint8_t>& bytes) { return WriteFile(dir_, name, bytes); }
};

TEST_F(Playback, OpenRefusesWrongExtensionAndKeepsThePreviousFile) {
  const std::string good = Write("a.K41", MakeRecords(2));
  ASSERT_EQ(OpenPlaybackFile(good.c_str()), 1);
  EXPECT_EQ(plat::rec::Get().titles[plat::kWinMain], "Orvale Multibeam Sonar - " + good);
  const std::string txt = Write("b.txt", MakeRecords(2));
  EXPECT_EQ(OpenPlaybackFile(txt.c_str()), 0);
  ASSERT_EQ(plat::rec::Get().messages.size(), 1u);
  EXPECT_EQ(plat::rec::Get().messages[0].caption, "Open a Sonar File For Playback");
  EXPECT_EQ(plat::rec::Get().messages[0].text, "File extension must be .K41");
  EXPECT_EQ(g_player.fileOpen, 1);
  EXPECT_EQ(g_player.fileName, good);
}

TEST_F(Playback, WrongMagicClosesThePreviousFile) {
  const std::string good = Write("a.K41", MakeRecords(2));
  std::vector<uint8_t> junk(9000, 'Q');
  const std::string bad = Write("bad.k41", junk);
  ASSERT_EQ(OpenPlaybackFile(good.c_str()), 1);
  EXPECT_EQ(OpenPlaybackFile(bad.c_str()), 0);
  EXPECT_EQ(plat::rec::Get().messages.back().text, "Data type is incorrect --> check file format");
  EXPECT_EQ(g_player.fileOpen, 0);
  EXPECT_EQ(plat::rec::Get().titles[plat::kWinMain], "Orvale Multibeam Sonar - [No File]");
  EXPECT_EQ(PlaybackStep(), kStepNoFile);
}

TEST_F(Playback, ANewFileReplacesTheOpenOne) {
  const std::string a = Write("a.K41", MakeRecords(3));
  const std::string b = Write("b.K41", MakeRecords(5));
  ASSERT_EQ(OpenPlaybackFile(a.c_str()), 1);
  ASSERT_EQ(OpenPlaybackFile(b.c_str()), 1);
  EXPECT_EQ(g_player.fileSize, 5 * 8192);
  EXPECT_EQ(g_player.fileName, b);
}

// A new file and each rewind start detection's point histories over with the
// beamformer's: points of the last file must not be averaged into this one.
TEST_F(Playback, ANewFileAndEachRewindClearThePointHistories) {
  const std::string path = Write("a.K41", MakeRecords(2));
  g_filter.ringSum[7] = 50.0f;
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  EXPECT_EQ(g_filter.ringSum[7], 0.0f);
  g_filter.ringSum[7] = 50.0f;
  while (PlaybackStep() != kStepEndOfFile) {
  }
  EXPECT_EQ(g_filter.ringSum[7], 0.0f);
}

TEST_F(Playback, FirstRecordAfterStartAndAfterEachEndIsNotShown) {
  const std::string path = Write("a.K41", MakeRecords(4));
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(PlaybackStep(), kStepRecord);
  EXPECT_EQ(g_shown, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(g_player.filePosition, 4 * 8192);
  EXPECT_EQ(PlaybackStep(), kStepEndOfFile);
  EXPECT_EQ(g_player.filePosition, 0);
  EXPECT_EQ(g_player.skipNext, 1);
  for (int i = 0; i < 4; ++i) PlaybackStep();
  EXPECT_EQ(g_shown, (std::vector<int>{1, 2, 3, 1, 2, 3}));
  EXPECT_EQ(g_player.recordsRead, 8);
  EXPECT_EQ(g_player.endsOfFile, 1);
}

TEST_F(Playback, SkipNextAlsoAppliesToAFileOpenedAfterAnotherEnded) {
  const std::string a = Write("a.K41", MakeRecords(2));
  const std::string b = Write("b.K41", MakeRecords(3));
  ASSERT_EQ(OpenPlaybackFile(a.c_str()), 1);
  PlaybackStep();
  PlaybackStep();
  EXPECT_EQ(PlaybackStep(), kStepEndOfFile);
  ASSERT_EQ(OpenPlaybackFile(b.c_str()), 1);
  for (int i = 0; i < 3; ++i) PlaybackStep();
  EXPECT_EQ(g_shown, (std::vector<int>{1, 1, 2}));
}

TEST_F(Playback, EndOfFileClosesOutputsAndEndsACommandLineRun) {
  const std::string path = Write("a.K41", MakeRecords(2));
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  ASSERT_EQ(OpenPointFile(dir_.File("a.K4P").c_str()), 1);
  g_player.commandLineRun = 1;
  PlaybackStep();
  PlaybackStep();
  EXPECT_EQ(g_outputs.pointFileOpen, 1);
  EXPECT_EQ(g_player.quitRequested, 0);
  EXPECT_EQ(PlaybackStep(), kStepEndOfFile);
  EXPECT_EQ(g_outputs.pointFileOpen, 0);
  EXPECT_EQ(g_player.quitRequested, 1);
}

TEST_F(Playback, HoldSleepsAndDoesNotAdvance) {
  const std::string path = Write("a.K41", MakeRecords(3));
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  g_player.hold = 1;
  EXPECT_EQ(PlaybackStep(), kStepHeld);
  EXPECT_EQ(g_player.recordsRead, 0);
  g_player.hold = 0;
  EXPECT_EQ(PlaybackStep(), kStepRecord);
}

TEST_F(Playback, FastStepOnAShortFileShowsTheFirstRecordThenLoops) {
  const std::string path = Write("short.K41", MakeRecords(5));  // 40 KiB
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  g_player.skipNext = 0;  // a record was read before this file was opened
  g_player.fastPlayback = 1;
  g_settings.AvgFilter = 0;
  EXPECT_EQ(PlaybackStep(), kStepRecord);
  EXPECT_EQ(g_shown, (std::vector<int>{0}));
  EXPECT_EQ(g_player.filePosition, g_player.fileSize);
  EXPECT_EQ(PlaybackStep(), kStepEndOfFile);
  EXPECT_EQ(PlaybackStep(), kStepRecord);  // first record again, not shown
  EXPECT_EQ(PlaybackStep(), kStepEndOfFile);
  EXPECT_EQ(g_shown, (std::vector<int>{0}));
  EXPECT_EQ(g_player.recordsRead, 2);
}

TEST_F(Playback, FastStepJumps160KiBToTheNextWholeRecord) {
  struct Case { const char* legend; int type; int records; int avg; std::vector<int> shown; };
  const Case cases[] = {
      // 8192-byte records: from the end of record 0 (8192) to 172032 = record 21.
      {"U, no averaging", 0, 30, 0, {0, 21}},
      // Averaging over 3: two records drawn unseen, then the third; the jump starts after it.
      {"U, averaged group of 3", 0, 30, 3, {0, 1, 2, 23, 24, 25}},
      // 16384-byte records: the jump starts after the record read, so every 11th.
      {"V", 1, 25, 0, {0, 11, 22}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_shown.clear();
    const std::string path = Write("fast.K41", MakeRecords(c.records, c.type));
    ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
    g_player.skipNext = 0;
    g_player.fastPlayback = 1;
    g_settings.AvgFilter = c.avg ? 1 : 0;
    g_settings.AvgFilterIndex = c.avg;
    int guard = 0;
    while (PlaybackStep() != kStepEndOfFile && ++guard < 100) {
    }
    EXPECT_EQ(g_shown, c.shown);
    EXPECT_EQ(g_perPing.screenUpdate, 1);
  }
}

TEST_F(Playback, PacingRule) {
  struct Case { const char* legend; int realtime, period; double proc, plot; int delay, expected; };
  const Case cases[] = {
      {"realtime: period less work", 1, 100, 10.0, 5.5, 0, 84},
      {"realtime: work longer than the period", 1, 50, 40.0, 20.0, 0, 0},
      {"realtime: exactly zero", 1, 50, 25.0, 25.0, 0, 0},
      {"realtime: just under 2 s", 1, 2010, 10.0, 0.5, 0, 1999},
      {"realtime: 2 s is not waited for", 1, 2010, 10.0, 0.0, 0, 0},
      {"realtime: long gap", 1, 9000, 1.0, 1.0, 0, 0},
      {"realtime ignores PlaybackDelay", 1, 100, 0.0, 0.0, 500, 100},
      {"delay", 0, 100, 0.0, 0.0, 250, 250},
      {"no delay", 0, 100, 0.0, 0.0, 0, 0},
      {"negative delay", 0, 100, 0.0, 0.0, -5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(PacingDelayFor(c.realtime, c.period, c.proc, c.plot, c.delay), c.expected);
  }
  // The converter turns pacing off whatever the settings say.
  g_settings.RealtimePlayback = 0;
  g_settings.PlaybackDelay = 300;
  EXPECT_EQ(PacingDelayMs(), 300);
  g_player.pacing = 0;
  EXPECT_EQ(PacingDelayMs(), 0);
}

TEST_F(Playback, SpeedSliderMapsPositionToDelay) {
  struct Case { int a, delay; };
  const Case table[] = {{0, 0}, {1, 0}, {3, 1}, {10, 5}, {11, 11}, {20, 20}, {21, 42}, {30, 60},
                        {31, 124}, {45, 270}, {60, 480}, {61, 610}, {75, 900}, {85, 1190}, {100, 1600}};
  for (const Case& c : table) {
    SCOPED_TRACE(c.a);
    EXPECT_EQ(PlaybackDelayOfSlider(c.a), c.delay);
  }
  // Window: L 0, Rt 130, T 0; slider from x 15 to 114 (span 100).
  g_settings.RealtimePlayback = 0;
  EXPECT_EQ(SpeedSliderClick(15, 25, 0, 130, 0), 1);
  EXPECT_EQ(g_settings.PlaybackDelay, 1600);
  EXPECT_EQ(g_settings.PlaybackDelayX, 15);
  EXPECT_EQ(SpeedSliderClick(114, 25, 0, 130, 0), 1);
  EXPECT_EQ(g_settings.PlaybackDelay, 0);  // a = 1
  EXPECT_EQ(SpeedSliderClick(65, 25, 0, 130, 0), 1);
  EXPECT_EQ(g_settings.PlaybackDelay, 300);  // a = 50: 6a
  EXPECT_EQ(SpeedSliderClick(115, 25, 0, 130, 0), 0);  // beyond the line
  EXPECT_EQ(SpeedSliderClick(65, 31, 0, 130, 0), 0);   // below it
  g_settings.RealtimePlayback = 1;
  EXPECT_EQ(SpeedSliderClick(15, 25, 0, 130, 0), 0);
  g_settings.RealtimePlayback = 0;
  g_player.fastPlayback = 1;
  EXPECT_EQ(SpeedSliderClick(15, 25, 0, 130, 0), 0);
  EXPECT_EQ(g_settings.PlaybackDelay, 300);
}

TEST_F(Playback, PositionBarJumpsOnlyInsideItsEnds) {
  const std::string path = Write("a.K41", MakeRecords(10));
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  EXPECT_EQ(PositionBarClick(15, 65, 0, 130, 0), 0);
  EXPECT_EQ(g_player.filePosition, 0);
  EXPECT_EQ(PositionBarClick(114, 65, 0, 130, 0), 99);
  EXPECT_EQ(PositionBarClick(65, 60, 0, 130, 0), -1);
  // w = 50: byte 40960, which is the start of record 5.
  EXPECT_EQ(PositionBarClick(65, 65, 0, 130, 0), 50);
  EXPECT_EQ(g_player.filePosition, 5 * 8192);
  g_player.skipNext = 0;
  PlaybackStep();
  EXPECT_EQ(g_shown, (std::vector<int>{5}));
  EXPECT_EQ(PositionMarkerX(0, 130), 15 + 60);
  // w = 97 lands inside the last record: the scan leaves the end, the next step loops.
  EXPECT_EQ(PositionBarClick(112, 65, 0, 130, 0), 97);
  EXPECT_EQ(PlaybackStep(), kStepEndOfFile);
  ClosePlaybackFile();
  EXPECT_EQ(PositionBarClick(65, 65, 0, 130, 0), -1);
}

// Opening, rewinding and jumping along the file move the vessel without it
// sailing there, so each breaks the plotted track, including a click on the
// bar's very ends, which moves nothing else.
TEST_F(Playback, OpenRewindAndBarClicksStartANewTrackLine) {
  static std::string path;
  path = Write("a.K41", MakeRecords(3));
  struct Case {
    const char* legend;
    void (*act)();
  };
  const Case cases[] = {
      {"open", [] { ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1); }},
      {"end of file", [] { while (PlaybackStep() != kStepEndOfFile) {} }},
      {"bar middle", [] { EXPECT_EQ(PositionBarClick(65, 65, 0, 130, 0), 50); }},
      {"bar left end", [] { EXPECT_EQ(PositionBarClick(15, 65, 0, 130, 0), 0); }},
      {"bar right end", [] { EXPECT_EQ(PositionBarClick(114, 65, 0, 130, 0), 99); }},
  };
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    g_track.newLinePending = 0;
    c.act();
    EXPECT_EQ(g_track.newLinePending, 1);
  }
  // Outside the bar nothing happens to the track either.
  g_track.newLinePending = 0;
  EXPECT_EQ(PositionBarClick(65, 60, 0, 130, 0), -1);
  EXPECT_EQ(g_track.newLinePending, 0);
}

TEST_F(Playback, PositionBarWithHoldShowsTheRecordFound) {
  const std::string path = Write("a.K41", MakeRecords(10));
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  g_player.skipNext = 0;
  g_player.hold = 1;
  g_settings.AvgFilter = 1;
  g_settings.AvgFilterIndex = 3;
  EXPECT_EQ(PositionBarClick(65, 65, 0, 130, 0), 50);
  EXPECT_EQ(g_shown, (std::vector<int>{5, 6}));
}

TEST_F(Playback, TogglesOnlyInFileMode) {
  EXPECT_EQ(ToggleFastPlayback(), 1);
  EXPECT_EQ(ToggleRealtimePlayback(), 0);
  g_settings.RunMode = 0;
  EXPECT_EQ(ToggleFastPlayback(), 1);
  EXPECT_EQ(ToggleRealtimePlayback(), 0);
  const auto& checks = plat::rec::Get().menuChecks;
  ASSERT_EQ(checks.size(), 2u);
  EXPECT_EQ(checks[0], std::make_pair(17, 1));
  EXPECT_EQ(checks[1], std::make_pair(14, 0));
}

TEST_F(Playback, CopyOfAWholePassEqualsTheSource) {
  const std::vector<uint8_t> source = MakeRecords(6, 0, 2);  // frames after records 0, 2, 4
  const std::string path = Write("src.K41", source);
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  const std::string copy = dir_.File("copy.K41");
  ASSERT_EQ(StartCopyTo(copy.c_str()), 1);
  int guard = 0;
  while (PlaybackStep() != kStepEndOfFile && ++guard < 50) {
  }
  EXPECT_EQ(g_player.bytesCopied, static_cast<int64_t>(source.size()));
  StopCopy();
  EXPECT_EQ(plat::rec::Get().messages.back().caption, "Close Copy File");
  EXPECT_EQ(plat::rec::Get().titles[plat::kWinMain], "Orvale Multibeam Sonar - Playback of " + path);
  FILE* f = std::fopen(copy.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<uint8_t> got(source.size() + 10);
  got.resize(std::fread(got.data(), 1, got.size(), f));
  std::fclose(f);
  EXPECT_EQ(got, source);
}

// A copy that meets a full disk stops there with one message, cut back to
// the last whole item: what it holds is the source's first records and
// frames, byte for byte, so a reader never meets a torn record.
TEST_F(Playback, CopyOnAFullDiskStopsOnAWholeItem) {
  const std::vector<uint8_t> source = MakeRecords(6, 0, 2);
  const std::string path = Write("src.K41", source);
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  OutputFault fault;
  fault.writeLimitBytes = static_cast<int64_t>(source.size() / 2);
  SetOutputFault(fault);
  const std::string copy = dir_.File("copy.K41");
  ASSERT_EQ(StartCopyTo(copy.c_str()), 1);
  ClearOutputFault();
  int guard = 0;
  while (PlaybackStep() != kStepEndOfFile && ++guard < 50) {
  }
  EXPECT_EQ(g_player.copyWriteErrors, 1);
  EXPECT_EQ(g_player.copying, 0);
  ASSERT_EQ(plat::rec::Get().messages.size(), 1u);
  EXPECT_EQ(plat::rec::Get().messages[0].caption, "Copy a Sonar File");
  EXPECT_EQ(plat::rec::Get().menuTexts.back().second, "&Copy Start...");
  EXPECT_LE(g_player.bytesCopied, fault.writeLimitBytes);
  EXPECT_GT(g_player.bytesCopied, 0);
  EXPECT_EQ(CopyFailed(), 1);
  const std::vector<uint8_t> got = testutil::ReadAll(copy);
  ASSERT_EQ(static_cast<int64_t>(got.size()), g_player.bytesCopied);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), source.begin()));
  EXPECT_EQ(StopCopy(), 1) << "no copy running";
}

// A write that fails without the disk being full loses that one item: the
// copy goes on, holds whole items only, and the operator hears of it once.
TEST_F(Playback, ACopyWriteFailureLosesOneItemAndIsReportedOnce) {
  const std::vector<uint8_t> source = MakeRecords(4, 0, 2);
  const std::string path = Write("src.K41", source);
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  OutputFault fault;
  fault.failFlush = 1;
  SetOutputFault(fault);
  const std::string copy = dir_.File("copy.K41");
  ASSERT_EQ(StartCopyTo(copy.c_str()), 1);
  ClearOutputFault();  // the copy reopened after the failure writes again
  int guard = 0;
  while (PlaybackStep() != kStepEndOfFile && ++guard < 50) {
  }
  EXPECT_EQ(g_player.copyWriteErrors, 1);
  EXPECT_EQ(g_player.copying, 1);
  ASSERT_EQ(plat::rec::Get().messages.size(), 1u);
  EXPECT_NE(plat::rec::Get().titles[plat::kWinMain].find("1 WRITE ERRORS"), std::string::npos);
  EXPECT_EQ(StopCopy(), 1);
  EXPECT_EQ(CopyFailed(), 1);
  // The first record is the item lost; the rest follows byte for byte.
  const std::vector<uint8_t> got = testutil::ReadAll(copy);
  ASSERT_EQ(got.size(), source.size() - 8192);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), source.begin() + 8192));
}

TEST_F(Playback, CopyRefusesWrongExtensionAndTheFileItself) {
  const std::string path = Write("src.K41", MakeRecords(2));
  ASSERT_EQ(OpenPlaybackFile(path.c_str()), 1);
  EXPECT_EQ(StartCopyTo(dir_.File("c.bin").c_str()), 0);
  EXPECT_EQ(plat::rec::Get().messages.back().caption, "Copy a Sonar File");
  EXPECT_EQ(StartCopyTo(path.c_str()), 0);
  EXPECT_EQ(g_player.copying, 0);
}

}  // namespace
