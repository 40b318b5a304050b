// Which played records reach the per-ping processing: looping playback passes
// over the first record after opening and after each rewind, while a
// conversion (a batch or a command-line run) processes every record, so a
// converted file of N pings yields N pings of product.
#include <string>
#include <vector>

#include "files/conversion.h"
#include "files/playback.h"
#include "files/sonar_file_test_util.h"
#include "files/xtf.h"
#include "head/per_ping.h"
#include "platform/recording.h"
#include "processing/outputs.h"

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

std::vector<uint8_t> MakeRecords(int count, unsigned firstSeed) {
  std::vector<uint8_t> bytes;
  for (int i = 0; i < count; ++i) {
    FillWriterRecord(0, firstSeed + i);
    Append(bytes, FormatToVector());
  }
  return bytes;
}

class PlaybackConversionRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetAllState();
    plat::rec::Reset();
    ResetPlayback();
    ResetConversion();
    ResetOutputs();
    ResetXtf();
    ResetPerPing();
    SetRecordProcessor(RecordingProcessor);
    g_seen.clear();
    g_settings.RunMode = 1;
  }
  void TearDown() override {
    SetRecordProcessor(nullptr);
    ResetPlayback();
    ResetConversion();
    ResetOutputs();
    ResetXtf();
  }
  void PlayEnds(int ends) {
    int guard = 0;
    while (g_player.endsOfFile < ends && ++guard < 1000) PlaybackStep();
  }
  // The key of each record of a file, in file order.
  static std::vector<int> FirstBytes(const std::vector<uint8_t>& file) {
    std::vector<int> out;
    FILE* f = fmemopen(const_cast<uint8_t*>(file.data()), file.size(), "rb");
    while (f && ReadNextRecord(f) == kReadRecord) out.push_back(RecordKey());
    if (f) std::fclose(f);
    return out;
  }
  TempDir dir_;
};

TEST_F(PlaybackConversionRecords, LoopingPlaybackPassesOverTheFirstRecordOfEachPass) {
  const auto bytes = MakeRecords(4, 11);
  const std::vector<int> order = FirstBytes(bytes);
  ASSERT_EQ(order.size(), 4u);
  ASSERT_EQ(OpenPlaybackFile(WriteFile(dir_, "loop.K41", bytes).c_str()), 1);
  PlayEnds(2);
  EXPECT_EQ(g_player.recordsRead, 8);
  const std::vector<int> expected = {order[1], order[2], order[3], order[1], order[2], order[3]};
  EXPECT_EQ(g_seen, expected);
}

TEST_F(PlaybackConversionRecords, ABatchConvertsEveryRecordOfEveryFile) {
  const auto a = MakeRecords(3, 21);
  const auto b = MakeRecords(4, 41);
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
  const auto bytes = MakeRecords(5, 61);
  ASSERT_EQ(OpenPlaybackFile(WriteFile(dir_, "one.K41", bytes).c_str()), 1);
  g_player.commandLineRun = 1;
  int guard = 0;
  while (!g_player.quitRequested && ++guard < 100) PlaybackStep();
  EXPECT_EQ(g_player.quitRequested, 1);
  EXPECT_EQ(g_seen, FirstBytes(bytes));
  EXPECT_EQ(g_player.recordsProcessed, 5);
}

}  // namespace
