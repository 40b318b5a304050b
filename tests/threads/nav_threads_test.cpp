// Navigation across the threads it lives with: the GPS reader thread reading
// a pseudo-terminal that a receiver fills at 10 sentences a second, storing
// fixes in the track and appending coverage lines, while a cycle thread
// processes and records pings and the user-interface thread updates, zooms,
// clears and paints the Track Plotter and reads the navigation panel. Run
// under ThreadSanitizer by test.sh, which must report nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/chain_fixture.h"
#include "common/pty.h"
#include "console/command_line.h"
#include "console/cycle_lock.h"
#include "console/ping_cycle.h"
#include "console/run_mode.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "imaging/track_plot.h"
#include "nav/com_ports.h"
#include "nav/gps.h"
#include "nav/track.h"
#include "platform/frame_handoff.h"
#include "scene.h"
#include "settings/settings.h"
#include "ui/readout.h"

namespace {

// A GGA sentence with its checksum, n metres (about) north of 47 N 8 E.
std::string Gga(int n) {
  const double minutes = n / 1852.0;  // a minute of latitude is a nautical mile
  char body[128];
  std::snprintf(body, sizeof body, "GPGGA,1200%02d.00,47%08.5f,N,00815.00000,E,1,08,1.0,10.0,M,,,,", n % 60,
                minutes);
  int sum = 0;
  for (const char* p = body; *p; ++p) sum ^= static_cast<unsigned char>(*p);
  char sentence[160];
  std::snprintf(sentence, sizeof sentence, "$%s*%02X\r\n", body, sum);
  return sentence;
}

class NavThreads : public testutil::ChainTest {
 protected:
  NavThreads() : ChainTest("orvale_navthreads") {}
};

TEST_F(NavThreads, ReaderFixesReachTheRecordsTrackAndPlotWhileThePingsGoOn) {
  testutil::Pty gps;
  ASSERT_TRUE(gps.ok());
  SceneParams scene;
  scene.rangeStep = 3;
  scene.depthM = 7.0;
  std::vector<std::vector<uint8_t>> records;
  static uint8_t record[kRecordBufferBytes];
  for (int i = 0; i < 8; ++i) {
    const int length = SynthesizePing(scene, i, record);
    ASSERT_GT(length, 0);
    records.emplace_back(record, record + length);
  }
  testutil::ResetAllModules();
  const std::string ini = WriteLoopbackIni("RunMode=0\nStepSize=2\nRange=3\nProfilePointDetection=1\n"
                                           "DisplaySwathCoverage=1\nTrackPlotterZoom=8\nComPortGPSEnable=1\n"
                                           "GPSHeadingType=1\nComPortGPSDevice=" +
                                           gps.SlavePath() + "\n");
  ASSERT_EQ(CreateConsole(ini.c_str()), 1);
  g_settingsFile.path[0] = '\0';
  std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s", dir_.c_str());
  g_recording.freeSpaceOverride = 1LL << 40;
  AssignPorts(serial::PortList{});  // the named device only: no real port is looked at
  ASSERT_EQ(StartConsole(""), kCmdInteractive);
  ASSERT_EQ(1, GpsRunning());
  {
    CycleLock lock;
    ASSERT_EQ(1, StartAutomaticRecording());
    ShowTrackPlotter(1);
  }

  constexpr int kSentences = 30;  // three seconds of a 10 Hz receiver
  std::atomic<int> fed{0};
  std::atomic<int> cycleDone{0};
  std::thread receiver([&] {
    for (int n = 0; n < kSentences; ++n) {
      if (!gps.Write(Gga(2 * n))) break;
      fed++;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  int processed = 0;
  std::thread cycle([&] {
    for (int n = 0; fed.load() < kSentences || n % 8 != 0; ++n) {
      const std::vector<uint8_t>& r = records[static_cast<size_t>(n % 8)];
      CycleLock lock;
      if (!LoadPingRecord(r.data(), static_cast<int>(r.size()))) continue;
      // As the packet assembly does when a ping completes: the recorder's copy.
      std::memcpy(g_fileWriterRecord, r.data(), r.size());
      if (ProcessDecodedRecord()) ++processed;
    }
    cycleDone = 1;
  });

  // The user-interface thread: the watch timer's update, the painter's
  // picture, the panel's readout, a zoom click now and then, one clear.
  int frames = 0, readouts = 0, steps = 0;
  while (!cycleDone.load()) {
    {
      CycleLock lock;
      UpdateTrackPlot();
      if (++steps % 40 == 0) TrackPlotterClick(steps % 80 == 0);
      if (steps == 100) ClearTrackPlotter();
    }
    if (const plat::Frame* f = plat::LatestFrame(plat::kWinTrackPlotter)) frames += f->width == kTrackPlotWidth;
    readouts += ComputeNavReadout().positionShown;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  receiver.join();
  cycle.join();
  // The last sentence is read before the recording ends.
  for (int i = 0; i < 100 && g_gpsCounters.fixes.load() < kSentences; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  {
    CycleLock lock;
    ASSERT_EQ(1, StopRecording());
  }
  ShutdownConsole();
  EXPECT_EQ(0, GpsRunning());

  EXPECT_EQ(kSentences, fed.load());
  EXPECT_EQ(kSentences, g_gpsCounters.fixes.load());
  EXPECT_GE(processed, 8);  // at least one round of the records, however slow the build
  EXPECT_GT(frames, 0);
  EXPECT_GT(readouts, 0);
  EXPECT_GT(g_trackPlot.published, 1);
  // Records carry the fixes; the coverage log one line per fix with a swath.
  long withPosition = 0, read = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir_)) {
    if (e.path().extension() != ".K41") continue;
    FILE* f = std::fopen(e.path().c_str(), "rb");
    ASSERT_NE(f, nullptr);
    while (ReadNextRecord(f) == kReadRecord) {
      ++read;
      withPosition += g_playback.positionPresent;
    }
    std::fclose(f);
  }
  EXPECT_EQ(read, static_cast<long>(g_recording.pingsRecorded));
  EXPECT_GT(withPosition, 0);
  const std::string log = testutil::ReadText(Path(kCoverageLogName));
  long lines = 0;
  for (char c : log) lines += c == '\n';
  // A line for each fix that came after the first ping with points.
  EXPECT_GT(lines, 0);
  EXPECT_LE(lines, kSentences);
  std::printf("navigation threads: %d pings, %ld records (%ld with a position), %ld coverage lines, %d plot frames "
              "painted, %d published\n",
              processed, read, withPosition, lines, frames, g_trackPlot.published);
}

}  // namespace
