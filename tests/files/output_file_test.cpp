// Output files: byte counts, exclusive creation, appending, and every way a
// write can be lost (short write, full disk, failed flush, failed close)
// reported by the write or at the latest by the close.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "common/test_files.h"
#include "files/output_file.h"

namespace {

using testutil::ReadAll;
using testutil::TempDir;

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearOutputFault(); }
  void TearDown() override {
    (void)CloseOutput(f);
    ClearOutputFault();
  }
  OutputFile f;
  TempDir dir{"orvale_outfile"};
};

TEST_F(OutputFileTest, CountsBytesAndWritesThemInOrder) {
  const std::string path = dir.File("a.K4P");
  ASSERT_EQ(OpenOutputFile(f, path.c_str(), kOutputCreate), 1);
  const uint8_t first[3] = {1, 2, 3};
  const uint8_t second[2] = {4, 5};
  EXPECT_EQ(WriteOutput(f, first, sizeof first), 1);
  EXPECT_EQ(WriteOutput(f, second, sizeof second), 1);
  EXPECT_EQ(WriteOutput(f, second, 0), 1);
  EXPECT_EQ(OutputBytes(f), 5);
  EXPECT_EQ(CloseOutput(f), 1);
  EXPECT_FALSE(OutputOpen(f));
  EXPECT_EQ(OutputBytes(f), 5) << "the count outlives the close";
  EXPECT_EQ(ReadAll(path), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
}

TEST_F(OutputFileTest, OpenModes) {
  const std::string path = dir.File("m.bin");
  testutil::WriteText(path, "old");
  // Exclusive creation refuses a file that is there and leaves it alone.
  EXPECT_EQ(OpenOutputFile(f, path.c_str(), kOutputExclusive), 0);
  EXPECT_EQ(f.lastErrno, EEXIST);
  EXPECT_EQ(testutil::ReadText(path), "old");
  // Append keeps it, create replaces it.
  ASSERT_EQ(OpenOutputFile(f, path.c_str(), kOutputAppend), 1);
  EXPECT_EQ(WriteOutput(f, "+", 1), 1);
  EXPECT_EQ(CloseOutput(f), 1);
  EXPECT_EQ(testutil::ReadText(path), "old+");
  ASSERT_EQ(OpenOutputFile(f, path.c_str(), kOutputCreate), 1);
  EXPECT_EQ(CloseOutput(f), 1);
  EXPECT_EQ(testutil::ReadText(path), "");
  // Exclusive creation of a new name works.
  ASSERT_EQ(OpenOutputFile(f, dir.File("new.bin").c_str(), kOutputExclusive), 1);
  EXPECT_EQ(CloseOutput(f), 1);
  EXPECT_EQ(OpenOutputFile(f, dir.File("no/such/dir.bin").c_str(), kOutputCreate), 0);
  EXPECT_EQ(f.lastErrno, ENOENT);
}

TEST_F(OutputFileTest, InjectedFullDiskGivesAShortWriteThenFailsEveryWrite) {
  OutputFault fault;
  fault.writeLimitBytes = 5;
  SetOutputFault(fault);
  const std::string path = dir.File("full.bin");
  ASSERT_EQ(OpenOutputFile(f, path.c_str(), kOutputCreate), 1);
  EXPECT_EQ(WriteOutput(f, "abc", 3), 1);
  EXPECT_EQ(WriteOutput(f, "defg", 4), 0) << "only two of four bytes fit";
  EXPECT_EQ(WriteOutput(f, "h", 1), 0);
  EXPECT_TRUE(OutputFailed(f));
  EXPECT_EQ(f.lastErrno, ENOSPC);
  EXPECT_EQ(f.failedWrites, 2);
  EXPECT_EQ(OutputBytes(f), 3) << "only whole writes count";
  EXPECT_EQ(CloseOutput(f), 0) << "the close reports the lost write";
  EXPECT_EQ(testutil::ReadText(path), "abcde") << "a real short write leaves the part that fitted";
  // The failure is the file's, not the next one's.
  ClearOutputFault();
  ASSERT_EQ(OpenOutputFile(f, path.c_str(), kOutputCreate), 1);
  EXPECT_FALSE(OutputFailed(f));
  EXPECT_EQ(WriteOutput(f, "defg", 4), 1);
  EXPECT_EQ(CloseOutput(f), 1);
}

TEST_F(OutputFileTest, InjectedFaultsReachTheClose) {
  struct Case {
    const char* legend;
    int failFlush, failClose;
    int flushOk;
  };
  const Case cases[] = {
      {"flush fails", 1, 0, 0},
      {"close fails", 0, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    OutputFault fault;
    fault.failFlush = c.failFlush;
    fault.failClose = c.failClose;
    SetOutputFault(fault);
    ASSERT_EQ(OpenOutputFile(f, dir.File("x.bin").c_str(), kOutputCreate), 1);
    EXPECT_EQ(WriteOutput(f, "abc", 3), 1);
    EXPECT_EQ(FlushOutput(f), c.flushOk);
    EXPECT_EQ(CloseOutput(f), 0);
    EXPECT_FALSE(OutputOpen(f)) << "a failing close still closes";
    EXPECT_EQ(f.closeFailed, c.failClose);
    EXPECT_EQ(f.lastErrno, EIO);
  }
}

TEST_F(OutputFileTest, FaultAimsAtOneSuffixAndFailsOpen) {
  OutputFault fault;
  std::snprintf(fault.pathSuffix, sizeof fault.pathSuffix, ".K4B");
  fault.failOpen = 1;
  SetOutputFault(fault);
  EXPECT_EQ(OpenOutputFile(f, dir.File("a.K4B").c_str(), kOutputCreate), 0);
  EXPECT_EQ(f.lastErrno, EACCES);
  ASSERT_EQ(OpenOutputFile(f, dir.File("a.K4P").c_str(), kOutputCreate), 1);
  EXPECT_EQ(CloseOutput(f), 1);
}

// A real device that is always full: the small write sits in stdio's buffer,
// so the loss shows at the flush and the close; a write bigger than the
// buffer fails at once.
TEST_F(OutputFileTest, DevFullIsReported) {
  ASSERT_EQ(OpenOutputFile(f, "/dev/full", kOutputAppend), 1);
  EXPECT_EQ(WriteOutput(f, "abc", 3), 1);
  EXPECT_EQ(SyncOutput(f), 0);
  EXPECT_EQ(f.lastErrno, ENOSPC);
  static uint8_t big[1 << 20];
  EXPECT_EQ(WriteOutput(f, big, sizeof big), 0);
  EXPECT_GE(f.failedWrites, 1);
  EXPECT_EQ(CloseOutput(f), 0);
}

TEST_F(OutputFileTest, SyncOfAFileSucceeds) {
  ASSERT_EQ(OpenOutputFile(f, dir.File("s.bin").c_str(), kOutputCreate), 1);
  EXPECT_EQ(WriteOutput(f, "abc", 3), 1);
  EXPECT_EQ(SyncOutput(f), 1);
  EXPECT_EQ(CloseOutput(f), 1);
  EXPECT_EQ(CloseOutput(f), 1) << "a second close of a good file stays good";
}

}  // namespace
