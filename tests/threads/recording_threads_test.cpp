// Recording across the two threads: the acquisition thread records pings
// inside the ping cycle while the user-interface thread starts and stops
// recordings, both under the console lock. Every file left behind must hold
// whole records only, and every ping recorded must be in one of them. Run
// under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "common/reset_all.h"
#include "common/test_files.h"
#include "console/cycle_lock.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "settings/settings.h"

namespace {

TEST(RecordingThreads, StartsAndStopsLandBetweenPings) {
  testutil::TempDir dir("orvale_recthreads");
  testutil::ResetAllModules();
  std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s",
                dir.path().c_str());
  g_settings.RunMode = 0;
  g_recording.freeSpaceOverride = 1LL << 40;
  TakeTimeStampAt(plat::LocalTime{2026, 12, 7, 1, 2, 3, 0});
  const DataTypeInfo& dt = kDataTypes[0];
  g_fileWriterRecord[1] = static_cast<uint8_t>(dt.letter);
  g_fileWriterRecord[dt.recordLength - 1] = kEndByte;

  std::atomic<int> stop{0};
  int recorded = 0;  // acquisition thread only
  std::thread acquisition([&] {
    while (!stop.load()) {
      CycleLock lock;
      recorded += RecordPing(nullptr, 0);
    }
  });
  constexpr int kRecordings = 40;
  for (int i = 0; i < kRecordings; ++i) {
    {
      CycleLock lock;
      ASSERT_EQ(StartAutomaticRecording(), 1);
    }
    std::this_thread::sleep_for(std::chrono::microseconds(300));
    CycleLock lock;
    ASSERT_EQ(StopRecording(), 1);
  }
  stop = 1;
  acquisition.join();

  int files = 0;
  int64_t records = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    if (e.path().extension() != ".K41") continue;
    ++files;
    const int64_t size = static_cast<int64_t>(std::filesystem::file_size(e.path()));
    EXPECT_EQ(size % dt.fileRecordSize, 0) << e.path();
    FILE* f = std::fopen(e.path().c_str(), "rb");
    ASSERT_NE(f, nullptr);
    int64_t read = 0;
    while (ReadNextRecord(f) == kReadRecord) ++read;
    std::fclose(f);
    EXPECT_EQ(read * dt.fileRecordSize, size) << e.path();
    records += read;
  }
  EXPECT_EQ(files, kRecordings);
  EXPECT_EQ(records, recorded);
  EXPECT_GT(recorded, 0);
  testutil::ResetAllModules();
}

}  // namespace
