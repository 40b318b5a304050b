// Which played records reach the per-ping processing: looping playback passes
// over the first record after opening and after each rewind, while a
// conversion (a batch or a command-line run) processes every record, so a
// converted file of N pings yields N pings of product.
#include <string>
#include <vector>

#include "console/playback_test_util.h"

namespace {

using namespace k41test;

// The first three element bytes of the record in the buffer: random per
// record, so they tell the records apart.
int RecordKey() { return g_pingRecord[12] << 16 | g_pingRecord[13] << 8 | g_pingRecord[14]; }

std::vector<int> g_seen;  // key of each processed record, in order
int RecordingProcessor() {
  g_seen.push_back(RecordKey());
  FinishPing();
  return 1;
}

class PlaybackConversionRecords : public PlayedFileTest {
 protected:
  PlaybackConversionRecords() : PlayedFileTest(RecordingProcessor) {}
  void SetUp() override {
    PlayedFileTest::SetUp();
    g_seen.clear();
  }
  // The key of each record of a file, in file order.
  static std::vector<int> FirstBytes(const std::vector<uint8_t>& file) {
    std::vector<int> out;
    FILE* f = fmemopen(const_cast<uint8_t*>(file.data()), file.size(), "rb");
    while (f && ReadNextRecord(f) == kReadRecord) out.push_back(RecordKey());
    if (f) std::fclose(f);
    return out;
  }
};

TEST_F(PlaybackConversionRecords, LoopingPlaybackPassesOverTheFirstRecordOfEachPass) {
  const auto bytes = MakeSeededRecords(4, 11);
  const std::vector<int> order = FirstBytes(bytes);
  ASSERT_EQ(order.size(), 4u);
  ASSERT_EQ(OpenPlaybackFile(WriteFile(dir_, "loop.K41", bytes).c_str()), 1);
  PlayEnds(2);
  EXPECT_EQ(g_player.recordsRead, 8);
  const std::vector<int> expected = {order[1], order[2], order[3], order[1], order[2], order[3]};
  EXPECT_EQ(g_seen, expected);
}

TEST_F(PlaybackConversionRecords, ABatchConvertsEveryRecordOfEveryFile) {
  const auto a = MakeSeededRecords(3, 21);
  const auto b = MakeSeededRecords(4, 41);
  WriteFile(dir_, "a.K41", a);
  WriteFile(dir_, "b.K41", b);
  std::string sel = dir_.File("");
  sel.push_back('\0');
  sel += "a.K41";
  sel.push_back('\0');
  sel += "b.K41";
  sel.push_back('\0');
  sel.push_back('\0');
  ASSERT_EQ(StartBatchWithSelection(kConvertK4P, sel.data(), static_cast<int>(sel.size())), 1);
  PlayEnds(2);
  std::vector<int> expected = FirstBytes(a);
  const std::vector<int> second = FirstBytes(b);
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(g_seen, expected);
  // The batch is over; the last file loops on as ordinary playback.
  ASSERT_FALSE(BatchRunning());
  g_seen.clear();
  PlayEnds(3);
  EXPECT_EQ(g_seen, std::vector<int>(second.begin() + 1, second.end()));
}

TEST_F(PlaybackConversionRecords, ACommandLineRunConvertsTheFirstRecordToo) {
  const auto bytes = MakeSeededRecords(5, 61);
  ASSERT_EQ(OpenPlaybackFile(WriteFile(dir_, "one.K41", bytes).c_str()), 1);
  g_player.commandLineRun = 1;
  int guard = 0;
  while (!g_player.quitRequested && ++guard < 100) PlaybackStep();
  EXPECT_EQ(g_player.quitRequested, 1);
  EXPECT_EQ(g_seen, FirstBytes(bytes));
  EXPECT_EQ(g_player.recordsProcessed, 5);
}

}  // namespace
