// orvale-convert with several files: each converted in its own process gives
// the products a conversion of that file alone gives (the children keep each
// ping on one thread, the lone run splits it over two), a file that fails
// fails alone, and the exit status is the worst of the files'.
#include "app_test_util.h"

namespace {

using apptest::ReadAll;

class ConvertBatch : public apptest::AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    WriteLoopbackIni("ProfilePointDetection=1\n", 40997);
    const double depths[3] = {8.0, 11.0, 14.0};
    for (int i = 0; i < 3; ++i) WriteSurvey("s" + std::to_string(i) + ".K41", depths[i], 12);
  }

  // Runs the program in `dir` with `args`; returns its exit status, with
  // standard output in out.txt there.
  int Convert(const std::string& dir, const std::string& args) {
    const std::string command = "cd '" + dir + "' && ORVALE_LOOPBACK_ONLY=1 " ORVALE_BIN_DIR "/orvale-convert " +
                                args + " > out.txt 2> err.txt";
    const int rc = std::system(command.c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }

  std::string Text(const std::string& path) {
    const std::vector<uint8_t> b = ReadAll(path);
    return std::string(b.begin(), b.end());
  }
};

TEST_F(ConvertBatch, EachFileGetsTheProductsOfItsOwnConversion) {
  // The same files converted one at a time in a second folder.
  const std::string alone = dir_ + "/alone";
  std::filesystem::create_directory(alone);
  for (const char* f : {"Orvale.INI", "s0.K41", "s1.K41", "s2.K41"})
    std::filesystem::copy_file(Path(f), alone + "/" + f);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Convert(alone, "s" + std::to_string(i) + " /x --quiet"), 0);

  ASSERT_EQ(Convert(dir_, "s0 s1.K41 s2 /x -j 2"), 0) << Text(Path("err.txt"));
  const std::string out = Text(Path("out.txt"));
  EXPECT_NE(out.find("3 files (0 failed), 36 records read, 36 pings converted, 0 rejected"), std::string::npos)
      << out;
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const std::string s = "s" + std::to_string(i);
    EXPECT_NE(out.find("orvale-convert: " + s), std::string::npos);
    const std::vector<uint8_t> points = ReadAll(Path(s + ".K4P"));
    ASSERT_GT(points.size(), 12u * 256u);
    EXPECT_TRUE(testutil::MaskK4PRunTimeFields(points) ==
                testutil::MaskK4PRunTimeFields(ReadAll(alone + "/" + s + ".K4P")));
    const std::vector<uint8_t> xtf = ReadAll(Path(s + "_sss.XTF"));
    ASSERT_FALSE(xtf.empty());
    EXPECT_TRUE(xtf == ReadAll(alone + "/" + s + "_sss.XTF"));
  }
  // The batch's settings file is whole after three processes saved it.
  EXPECT_TRUE(Text(Path("Orvale.INI")) == Text(alone + "/Orvale.INI"));
}

TEST_F(ConvertBatch, AFailedFileFailsAloneAndSetsTheStatus) {
  EXPECT_EQ(Convert(dir_, "s0 missing s2 /b -j 3"), 2);
  EXPECT_NE(Text(Path("err.txt")).find("missing.K41: cannot open the file"), std::string::npos);
  EXPECT_NE(Text(Path("out.txt")).find("3 files (1 failed), 24 records read, 24 pings converted"), std::string::npos)
      << Text(Path("out.txt"));
  EXPECT_GT(ReadAll(Path("s0.K4B")).size(), 0u);
  EXPECT_GT(ReadAll(Path("s2.K4B")).size(), 0u);
}

TEST_F(ConvertBatch, UsageErrors) {
  struct Case {
    const char* legend;
    const char* args;
  } cases[] = {
      {"no job count", "s0 /x -j"},
      {"zero jobs", "s0 /x -j 0"},
      {"too many jobs", "s0 /x --jobs 65"},
      {"not a number", "s0 /x -jtwo"},
      {"one picture for several files", "s0 s1 /x --save-picture last.bmp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    EXPECT_EQ(Convert(dir_, c.args), 1);
    EXPECT_FALSE(Text(Path("err.txt")).empty());
  }
  EXPECT_FALSE(std::filesystem::exists(Path("s0.K4P")));
}

}  // namespace
