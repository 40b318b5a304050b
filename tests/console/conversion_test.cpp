// Batch conversion: the selection list, output names, and a batch of files
// played through with their products created beside them.
#include <string>
#include <vector>

#include "console/playback_test_util.h"

namespace {

using namespace k41test;

int g_processed = 0;
int CountingProcessor() {
  ++g_processed;
  FinishPing();
  return 1;
}

std::vector<uint8_t> MakeRecords(int count) { return MakeSeededRecords(count, 7); }

std::string Selection(const std::vector<std::string>& parts) {
  std::string s;
  for (const std::string& p : parts) {
    s += p;
    s.push_back('\0');
  }
  s.push_back('\0');
  return s;
}

class Conversion : public PlayedFileTest {
 protected:
  Conversion() : PlayedFileTest(CountingProcessor) {}
  void SetUp() override {
    PlayedFileTest::SetUp();
    g_processed = 0;
  }
};

TEST_F(Conversion, SelectionListParsing) {
  struct Case { const char* legend; std::string buffer; int count; std::vector<int> offsets; };
  const std::vector<Case> cases = {
      {"one full path", Selection({"/data/a.k41"}), 1, {}},
      {"directory and two names", Selection({"/data", "a.k41", "b.k41"}), 2, {6, 12}},
      {"directory and one name", Selection({"/d", "x.K41"}), 1, {3}},
      {"empty buffer", std::string(4, '\0'), 1, {}},
      {"stale text after the list end is ignored",
       Selection({"/d", "a.k41"}) + std::string("stale\0more", 10), 1, {3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    int offsets[kMaxBatchFiles];
    const int n = ParseSelection(c.buffer.data(), static_cast<int>(c.buffer.size()), offsets, kMaxBatchFiles);
    EXPECT_EQ(n, c.count);
    for (size_t i = 0; i < c.offsets.size(); ++i) EXPECT_EQ(offsets[i], c.offsets[i]);
  }
  // At most 1000 names are taken.
  std::vector<std::string> parts = {"/d"};
  for (int i = 0; i < 1005; ++i) parts.push_back("f" + std::to_string(i) + ".k41");
  const std::string many = Selection(parts);
  int offsets[kMaxBatchFiles];
  EXPECT_EQ(ParseSelection(many.data(), static_cast<int>(many.size()), offsets, kMaxBatchFiles), 1000);
  EXPECT_EQ(std::string(many.data() + offsets[999]), "f999.k41");
}

TEST_F(Conversion, OutputNamesBesideTheInput) {
  struct Case { const char* legend; const char* input; int kind; const char* out; int ok; };
  const Case cases[] = {
      {"points", "/data/run.k41", kConvertK4P, "/data/run.K4P", 1},
      {"beams", "/data/run.K41", kConvertK4B, "/data/run.K4B", 1},
      {"xtf", "/data/run.k41", kConvertXtf, "/data/run_sss.XTF", 1},
      {"no extension", "/data/run", kConvertK4P, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    char out[kConversionNameBytes];
    EXPECT_EQ(ConversionOutputName(c.input, c.kind, out, sizeof out), c.ok);
    if (c.ok) {
      EXPECT_STREQ(out, c.out);
    }
  }
  char tiny[8];
  EXPECT_EQ(ConversionOutputName("/data/run.k41", kConvertXtf, tiny, sizeof tiny), 0);
}

TEST_F(Conversion, SingleFileConvertsAndEndsWithConversionComplete) {
  const std::string path = WriteFile(dir_, "one.K41", MakeRecords(3));
  const std::string sel = Selection({path});
  ASSERT_EQ(StartBatchWithSelection(kConvertXtf, sel.data(), static_cast<int>(sel.size())), 1);
  EXPECT_TRUE(BatchRunning());
  EXPECT_EQ(g_xtf.open, 1);
  EXPECT_EQ(std::string(g_xtf.name), dir_.File("one_sss.XTF"));
  PlayEnds(1);
  EXPECT_FALSE(BatchRunning());
  ASSERT_FALSE(plat::rec::Get().messages.empty());
  EXPECT_EQ(plat::rec::Get().messages.back().caption, "Convert .K41 Sidescan To .XTF Format");
  EXPECT_EQ(plat::rec::Get().messages.back().text, "Conversion Complete!");
  // The last file plays on without an output.
  EXPECT_EQ(g_player.fileOpen, 1);
  EXPECT_EQ(g_xtf.open, 0);
  PlayEnds(2);
  EXPECT_EQ(plat::rec::Get().messages.size(), 1u);
}

TEST_F(Conversion, BatchOpensEachFileWithItsOutput) {
  WriteFile(dir_, "a.K41", MakeRecords(2));
  WriteFile(dir_, "b.K41", MakeRecords(3));
  const std::string sel = Selection({dir_.File(""), "a.K41", "b.K41"});
  ASSERT_EQ(StartBatchWithSelection(kConvertK4P, sel.data(), static_cast<int>(sel.size())), 1);
  EXPECT_EQ(g_conversion.batchCount, 2);
  EXPECT_EQ(std::string(g_outputs.pointFileName), dir_.File("a.K4P"));
  PlayEnds(1);
  EXPECT_EQ(g_player.fileName, dir_.File("b.K41"));
  EXPECT_EQ(std::string(g_outputs.pointFileName), dir_.File("b.K4P"));
  EXPECT_TRUE(plat::rec::Get().messages.empty());
  PlayEnds(2);
  ASSERT_EQ(plat::rec::Get().messages.size(), 1u);
  EXPECT_EQ(plat::rec::Get().messages[0].text, "Conversion Complete!");
  EXPECT_EQ(plat::rec::Get().messages[0].caption, "Convert .K41 Sonar File(s) To .K4P Format");
  EXPECT_EQ(g_outputs.pointFileOpen, 0);
  // Every record of each converted file is processed: 2 + 3.
  EXPECT_EQ(g_processed, 5);
  FILE* a = std::fopen(dir_.File("a.K4P").c_str(), "rb");
  FILE* b = std::fopen(dir_.File("b.K4P").c_str(), "rb");
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  if (a) std::fclose(a);
  if (b) std::fclose(b);
}

TEST_F(Conversion, BeamConversionSelectsBeamOutput) {
  WriteFile(dir_, "a.K41", MakeRecords(2));
  const std::string sel = Selection({dir_.File("a.K41")});
  g_settings.DataOutputType = kOutputNone;
  ASSERT_EQ(StartBatchWithSelection(kConvertK4B, sel.data(), static_cast<int>(sel.size())), 1);
  EXPECT_EQ(g_outputs.beamFileOpen, 1);
  EXPECT_EQ(g_settings.DataOutputType, kOutputBeams);
}

TEST_F(Conversion, ABadFileStopsTheBatchWhereItIs) {
  WriteFile(dir_, "a.K41", std::vector<uint8_t>(100, 'x'));
  WriteFile(dir_, "b.K41", MakeRecords(2));
  const std::string sel = Selection({dir_.File(""), "a.K41", "b.K41"});
  EXPECT_EQ(StartBatchWithSelection(kConvertK4B, sel.data(), static_cast<int>(sel.size())), 0);
  EXPECT_EQ(plat::rec::Get().messages.back().text, "Data type is incorrect --> check file format");
  EXPECT_EQ(g_player.fileOpen, 0);
  EXPECT_EQ(g_outputs.beamFileOpen, 0);
  EXPECT_EQ(PlaybackStep(), kStepNoFile);
}

TEST_F(Conversion, InteractiveOpenEndsTheBatch) {
  WriteFile(dir_, "a.K41", MakeRecords(2));
  WriteFile(dir_, "b.K41", MakeRecords(2));
  const std::string sel = Selection({dir_.File(""), "a.K41", "b.K41"});
  ASSERT_EQ(StartBatchWithSelection(kConvertK4P, sel.data(), static_cast<int>(sel.size())), 1);
  plat::rec::ScriptFileDialog(1, dir_.File("b.K41"));
  ASSERT_EQ(ChoosePlaybackFile(), 1);
  EXPECT_FALSE(BatchRunning());
  EXPECT_EQ(plat::rec::Get().shown[plat::kWinPlayback], 1);
  PlayEnds(1);
  EXPECT_EQ(g_player.fileName, dir_.File("b.K41"));
  EXPECT_TRUE(plat::rec::Get().messages.empty());
}

TEST_F(Conversion, MenuCommandUsesTheKindsDialogTitle) {
  plat::rec::ScriptFileDialog(0, "");
  EXPECT_EQ(StartBatch(kConvertK4B), 0);
  ASSERT_EQ(plat::rec::Get().fileRequests.size(), 1u);
  EXPECT_EQ(plat::rec::Get().fileRequestTitles[0], "Convert .K41 Sonar File(s) To .K4B Format");
  EXPECT_EQ(plat::rec::Get().fileRequests[0].multiSelect, 1);
}

}  // namespace
