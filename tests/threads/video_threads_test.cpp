// The camera across threads: its own capture thread drawing frames, the
// acquisition thread embedding them in recorded pings, a preview copying the
// latest frame as the Qt window does, and the user-interface thread opening,
// re-formatting and closing the camera and saving single frames. Every
// frame in the file must be a whole bitmap of a format the camera offered,
// right after the record that announces it. Run under ThreadSanitizer too.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <thread>
#include <vector>

#include "common/field_bytes.h"
#include "common/reset_all.h"
#include "common/test_files.h"
#include "console/cycle_lock.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "platform/camera.h"
#include "settings/settings.h"
#include "video/capture.h"

namespace {

TEST(VideoThreads, FramesStayWholeWhileTheCameraOpensClosesAndChangesFormat) {
  testutil::TempDir dir("orvale_videothreads");
  testutil::ResetAllModules();
  std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s", dir.path().c_str());
  std::snprintf(g_settings.VideoDevice, sizeof g_settings.VideoDevice, "test");
  g_settings.RunMode = 0;
  g_settings.RecordVideo = 1;
  g_settings.RecordVideoRate = 20.0;
  g_recording.freeSpaceOverride = 1LL << 40;
  TakeTimeStampAt(plat::LocalTime{2026, 12, 7, 1, 2, 3, 0});
  const DataTypeInfo& dt = kDataTypes[0];
  g_fileWriterRecord[1] = static_cast<uint8_t>(dt.letter);
  g_fileWriterRecord[dt.recordLength - 1] = kEndByte;
  {
    CycleLock lock;
    ASSERT_EQ(1, OpenVideoWindow());
    ASSERT_EQ(1, StartAutomaticRecording());
  }

  std::atomic<int> stop{0};
  int recorded = 0, embedded = 0;  // acquisition thread only
  std::thread acquisition([&] {
    while (!stop.load()) {
      {
        CycleLock lock;
        g_ping.pingPeriodMs = 50;
        const uint8_t* frame = nullptr;
        const int length = VideoFrameDue(VideoCaptureOpen()) ? TakeEmbeddedFrame(&frame) : 0;
        embedded += length > 0;
        recorded += RecordPing(frame, length);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  std::thread preview([&] {
    std::vector<uint8_t> rows(plat::kCameraMaxFrameBytes);
    while (!stop.load()) {
      int w = 0, h = 0;
      int64_t seq = 0;
      (void)plat::CopyLatestCameraFrame(rows.data(), rows.size(), &w, &h, &seq);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });
  for (int round = 0; round < 12; ++round) {
    {
      CycleLock lock;
      switch (round % 4) {
        case 0: (void)SetVideoFormat(round % 3); break;
        case 1: (void)SaveSingleFrame(); break;
        case 2: CloseVideoWindow(); break;
        default: (void)OpenVideoWindow(); break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  stop = 1;
  acquisition.join();
  preview.join();
  std::string name;
  {
    CycleLock lock;
    name = g_recording.name;
    ASSERT_EQ(1, StopRecording());
    CloseVideoWindow();
  }

  const std::vector<uint8_t> bytes = testutil::ReadAll(name);
  const std::vector<testutil::K41Item> items = testutil::K41Items(bytes);
  size_t covered = 0;
  int records = 0, frames = 0;
  for (size_t k = 0; k < items.size(); ++k) {
    covered += items[k].length;
    const uint8_t* b = &bytes[items[k].at];
    if (!items[k].frame) {
      ++records;
      const int followed = k + 1 < items.size() && items[k + 1].frame;
      EXPECT_EQ(followed ? 0x80000000u | static_cast<uint32_t>(items[k + 1].length) : 0u, testutil::BE32(b + 33));
      continue;
    }
    ++frames;
    const uint32_t w = testutil::LE32(b + 18), h = testutil::LE32(b + 22);
    EXPECT_TRUE((w == 160 && h == 120) || (w == 320 && h == 240) || (w == 640 && h == 480)) << w << " x " << h;
    EXPECT_EQ(54u + w * h * 3, items[k].length);
  }
  EXPECT_EQ(bytes.size(), covered);
  EXPECT_EQ(recorded, records);
  EXPECT_EQ(embedded, frames);
  EXPECT_GT(frames, 0);
  testutil::ResetAllModules();
}

}  // namespace
