#include "settings/profile_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/test_files.h"

namespace {

namespace fs = std::filesystem;

class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.ok());
    dir_ = tmp_.path();
    path_ = dir_ + "/test.ini";
  }

  void Write(const std::string& bytes) { testutil::WriteText(path_, bytes); }
  std::string Read() const { return testutil::ReadText(path_); }
  std::string Get(const ProfileFile& f, const char* section, const char* key, int* found = nullptr) {
    char out[kProfileValueChars + 1];
    int r = ProfileGetString(f, section, key, "<default>", out, sizeof out);
    if (found) *found = r;
    return out;
  }

  testutil::TempDir tmp_{"orvale_profile"};
  // Temporary files a save left behind in the test's folder.
  int LeftoverTemporaries() const {
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir_))
      if (e.path().filename().string().find(".new") != std::string::npos) ++n;
    return n;
  }
  std::string dir_, path_;
};

struct LookupCase {
  const char* legend;
  std::string file;
  const char* section;
  const char* key;
  int found;
  std::string value;
};

TEST_F(ProfileFileTest, LookupFollowsProfileRules) {
  const LookupCase cases[] = {
      {"plain", "[Settings]\nGain=7\n", "Settings", "Gain", 1, "7"},
      {"names ignore case", "[settings]\nGAIN=7\n", "SETTINGS", "gain", 1, "7"},
      {"blanks around everything", "  [ Settings ]  \r\n  Gain  =  7  \r\n", "Settings", "Gain", 1,
       "7"},
      {"quotes removed", "[Settings]\nName=\"two words\"\n", "Settings", "Name", 1, "two words"},
      {"single quotes removed", "[Settings]\nName='x'\n", "Settings", "Name", 1, "x"},
      {"unmatched quote kept", "[Settings]\nName=\"x\n", "Settings", "Name", 1, "\"x"},
      {"line without equals is no key", "[Settings]\nGain\n", "Settings", "Gain", 0, "<default>"},
      {"comment is no key", "[Settings]\n;Gain=7\n", "Settings", "Gain", 0, "<default>"},
      {"key before any section ignored", "Gain=7\n[Settings]\n", "Settings", "Gain", 0,
       "<default>"},
      {"other section not searched", "[Other]\nGain=7\n", "Settings", "Gain", 0, "<default>"},
      {"repeated section searched in order", "[Settings]\nA=1\n[Other]\nGain=2\n[Settings]\nGain=3\n",
       "Settings", "Gain", 1, "3"},
      {"first duplicate key wins", "[Settings]\nGain=1\nGain=2\n", "Settings", "Gain", 1, "1"},
      {"no final newline", "[Settings]\nGain=9", "Settings", "Gain", 1, "9"},
      {"empty value is a value", "[Settings]\nGain=\n", "Settings", "Gain", 1, ""},
      {"empty key name is no key", "[Settings]\n=5\n", "Settings", "", 0, "<default>"},
      {"header without bracket", "[Settings\nGain=5\n", "Settings", "Gain", 1, "5"},
      {"value keeps inner equals", "[Settings]\nA=b=c\n", "Settings", "A", 1, "b=c"},
      {"garbage lines skipped", std::string("[Settings]\n\x00\xff\xfe=\x01\n\x80\x81\nGain=4\n", 27),
       "Settings", "Gain", 1, "4"},
      {"value truncated to 80", "[Settings]\nA=" + std::string(200, 'x') + "\n", "Settings", "A", 1,
       std::string(80, 'x')},
  };
  for (const LookupCase& c : cases) {
    SCOPED_TRACE(c.legend);
    Write(c.file);
    ProfileFile f;
    EXPECT_EQ(ProfileLoad(f, path_.c_str()), 1);
    int found = -1;
    EXPECT_EQ(Get(f, c.section, c.key, &found), c.value);
    EXPECT_EQ(found, c.found);
  }
}

TEST_F(ProfileFileTest, ValueCopyRespectsSmallBuffers) {
  Write("[S]\nA=abcdef\n");
  ProfileFile f;
  ASSERT_EQ(ProfileLoad(f, path_.c_str()), 1);
  char out[4] = {'z', 'z', 'z', 'z'};
  EXPECT_EQ(ProfileGetString(f, "S", "A", "", out, sizeof out), 1);
  EXPECT_STREQ(out, "abc");
  char def[3];
  EXPECT_EQ(ProfileGetString(f, "S", "Missing", "12345", def, sizeof def), 0);
  EXPECT_STREQ(def, "12");
}

TEST_F(ProfileFileTest, UnchangedDocumentWritesBackByteForByte) {
  const std::string original = std::string(
                                   "; operator notes\r\n"
                                   "[Settings]\r\n"
                                   "Gain = 7 \r\n"
                                   "junk line without equals\r\n"
                                   "\r\n"
                                   "[Vendor Extras]\r\n"
                                   "Secret=\"keep me\"\r\n") +
                               std::string("\x01\x02\x00\xff binary\r\n", 13) +
                               "[Settings]\r\n"
                               "Tail=1\r\n"
                               "no final newline";
  Write(original);
  ProfileFile f;
  ASSERT_EQ(ProfileLoad(f, path_.c_str()), 1);
  std::string out;
  ProfileSerialize(f, out);
  EXPECT_EQ(out, original + "\n");
  ASSERT_EQ(ProfileSave(f, path_.c_str()), 1);
  EXPECT_EQ(Read(), original + "\n");
}

TEST_F(ProfileFileTest, SetRewritesInPlaceAndAddsWhereTheSectionEnds) {
  Write(
      "[Settings]\n"
      "gain=1\n"
      "Range=5\n"
      "\n"
      "; filter block\n"
      "[Filter Settings]\n"
      "; nothing yet\n"
      "\n"
      "[Other]\n"
      "X=1\n");
  ProfileFile f;
  ASSERT_EQ(ProfileLoad(f, path_.c_str()), 1);
  ProfileSetString(f, "SETTINGS", "Gain", "9");
  ProfileSetString(f, "Settings", "Units", "2");
  ProfileSetString(f, "Filter Settings", "Level", "0.10");
  ProfileSetString(f, "New", "Key", "v\nInjected=1");
  ASSERT_EQ(ProfileSave(f, path_.c_str()), 1);
  EXPECT_EQ(Read(),
            "[Settings]\n"
            "gain=9\n"
            "Range=5\n"
            "Units=2\n"
            "\n"
            "; filter block\n"
            "[Filter Settings]\n"
            "Level=0.10\n"
            "; nothing yet\n"
            "\n"
            "[Other]\n"
            "X=1\n"
            "[New]\n"
            "Key=v\n");
  ProfileFile back;
  ASSERT_EQ(ProfileLoad(back, path_.c_str()), 1);
  EXPECT_EQ(Get(back, "Settings", "Gain"), "9");
  EXPECT_EQ(Get(back, "New", "Injected"), "<default>");
}

TEST_F(ProfileFileTest, EveryHandedOutValueReadsBackTheSame) {
  struct Case {
    const char* legend;
    std::string value;
    std::string line;  // as written
  } cases[] = {
      {"plain", "abc", "K=abc"},
      {"inner blanks and quotes", "a \"b\" c", "K=a \"b\" c"},
      {"one quote only", "\"abc", "K=\"abc"},
      {"mixed quotes", "\"abc'", "K=\"abc'"},
      {"leading blank", " abc", "K=\" abc\""},
      {"trailing tab", "abc\t", "K=\"abc\t\""},
      {"double-quoted", "\"abc\"", "K=\"\"abc\"\""},
      {"single-quoted", "'a'", "K=\"'a'\""},
      {"a lone quote", "\"", "K=\""},
      {"empty", "", "K="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    std::remove(path_.c_str());
    ProfileFile f;
    ProfileLoad(f, path_.c_str());
    ProfileSetString(f, "S", "K", c.value.c_str());
    ASSERT_EQ(ProfileSave(f, path_.c_str()), 1);
    EXPECT_EQ(Read(), "[S]\n" + c.line + "\n");
    ProfileFile back;
    ASSERT_EQ(ProfileLoad(back, path_.c_str()), 1);
    EXPECT_EQ(Get(back, "S", "K"), c.value);
  }
}

TEST_F(ProfileFileTest, NulOrLoneCarriageReturnEndsTheHandedOutValue) {
  const struct {
    const char* legend;
    std::string file;
    std::string value;
  } cases[] = {
      {"NUL", "[S]\nK=ab" + std::string(1, '\0') + "cd\n", "ab"},
      {"NUL after a blank", "[S]\nK=ab " + std::string(1, '\0') + "cd\n", "ab "},
      {"lone CR", "[S]\nK=ab\rcd\n", "ab"},
      {"CR LF line end", "[S]\r\nK=abcd\r\n", "abcd"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.legend);
    Write(c.file);
    ProfileFile f;
    ASSERT_EQ(ProfileLoad(f, path_.c_str()), 1);
    EXPECT_EQ(Get(f, "S", "K"), c.value);
  }
}

TEST_F(ProfileFileTest, CrlfFilesGetCrlfLines) {
  Write("[Settings]\r\nA=1\r\n");
  ProfileFile f;
  ASSERT_EQ(ProfileLoad(f, path_.c_str()), 1);
  ProfileSetString(f, "Settings", "A", "2");
  ProfileSetString(f, "Settings", "B", "3");
  ProfileSetString(f, "More", "C", "4");
  ASSERT_EQ(ProfileSave(f, path_.c_str()), 1);
  EXPECT_EQ(Read(), "[Settings]\r\nA=2\r\nB=3\r\n[More]\r\nC=4\r\n");
}

TEST_F(ProfileFileTest, MissingFileIsEmptyAndCreatedBySave) {
  ProfileFile f;
  EXPECT_EQ(ProfileLoad(f, path_.c_str()), 0);
  EXPECT_EQ(f.existed, 0);
  EXPECT_EQ(f.writable, 1);
  EXPECT_EQ(Get(f, "Settings", "Gain"), "<default>");
  ProfileSetString(f, "Settings", "Gain", "3");
  ASSERT_EQ(ProfileSave(f, path_.c_str()), 1);
  EXPECT_EQ(Read(), "[Settings]\nGain=3\n");
  EXPECT_EQ(LeftoverTemporaries(), 0);
}

TEST_F(ProfileFileTest, SaveThatCannotWriteReturnsZeroAndKeepsTheOldFile) {
  ProfileFile f;
  ProfileClear(f);
  ProfileSetString(f, "S", "A", "1");
  // No such directory: nothing is created anywhere.
  const std::string nowhere = dir_ + "/missing/dir/test.ini";
  EXPECT_EQ(ProfileSave(f, nowhere.c_str()), 0);
  EXPECT_FALSE(fs::exists(dir_ + "/missing"));
  // The path names a directory: loading refuses it and so does saving.
  fs::create_directory(dir_ + "/adir");
  ProfileFile d;
  EXPECT_EQ(ProfileLoad(d, (dir_ + "/adir").c_str()), 0);
  EXPECT_EQ(d.writable, 0);
  EXPECT_EQ(ProfileSave(d, (dir_ + "/adir").c_str()), 0);
  EXPECT_TRUE(fs::is_directory(dir_ + "/adir"));
  EXPECT_EQ(ProfileSave(f, (dir_ + "/adir").c_str()), 0);
  EXPECT_TRUE(fs::is_directory(dir_ + "/adir"));
  EXPECT_EQ(LeftoverTemporaries(), 0);
}

TEST_F(ProfileFileTest, OversizedFileIsNeitherReadNorOverwritten) {
  std::string big = "[Settings]\nGain=7\n";
  big += std::string(kMaxProfileFileBytes, 'x');
  Write(big);
  ProfileFile f;
  EXPECT_EQ(ProfileLoad(f, path_.c_str()), 0);
  EXPECT_EQ(f.writable, 0);
  EXPECT_EQ(Get(f, "Settings", "Gain"), "<default>");
  ProfileSetString(f, "Settings", "Gain", "1");
  EXPECT_EQ(ProfileSave(f, path_.c_str()), 0);
  EXPECT_EQ(fs::file_size(path_), big.size());
}

TEST_F(ProfileFileTest, LineOfMegabytesIsCarriedThrough) {
  const std::string longLine = "Blob=" + std::string(3u << 20, 'q');
  Write("[Settings]\n" + longLine + "\nGain=7\n");
  ProfileFile f;
  ASSERT_EQ(ProfileLoad(f, path_.c_str()), 1);
  EXPECT_EQ(Get(f, "Settings", "Gain"), "7");
  EXPECT_EQ(Get(f, "Settings", "Blob"), std::string(80, 'q'));
  ProfileSetString(f, "Settings", "Gain", "8");
  ASSERT_EQ(ProfileSave(f, path_.c_str()), 1);
  EXPECT_EQ(Read(), "[Settings]\n" + longLine + "\nGain=8\n");
}

}  // namespace
