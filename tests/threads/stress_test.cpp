// The console under the threads it will run with at sea: a cycle thread
// processing pings as the acquisition thread does, the user-interface thread
// running every menu command and key the operator (or external control) can
// use, and a reader thread writing navigation ten times faster than a GPS.
// Built and run under ThreadSanitizer by test.sh, which must report nothing;
// here it also checks that every ping went through and that the painter only
// ever saw whole pictures.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "common/chain_fixture.h"
#include "console/command_line.h"
#include "console/cycle_lock.h"
#include "console/external_control.h"
#include "console/ping_cycle.h"
#include "console/run_mode.h"
#include "head/return_data.h"
#include "nav/nav_state.h"
#include "platform/frame_handoff.h"
#include "platform/recording.h"
#include "processing/profile_detect.h"
#include "scene.h"
#include "settings/settings.h"
#include "ui/commands.h"
#include "ui/keys.h"

namespace {

constexpr int kPings = 2000;
constexpr int kRecordedPings = 40;

class ConsoleThreads : public testutil::ChainTest {
 protected:
  ConsoleThreads() : ChainTest("orvale_threads") {}

  // The head's returns of a short survey, as whole ping records: the cycle
  // thread decodes them as it decodes live pings.
  void Record() {
    SceneParams scene;
    scene.rangeStep = 3;
    scene.depthM = 7.0;
    static uint8_t record[kRecordBufferBytes];
    for (int i = 0; i < kRecordedPings; ++i) {
      const int length = SynthesizePing(scene, i, record);
      ASSERT_GT(length, 0);
      records_.emplace_back(record, record + length);
    }
  }

  std::vector<std::vector<uint8_t>> records_;
};

TEST_F(ConsoleThreads, PingsCommandsAndNavigationTogether) {
  Record();
  testutil::ResetAllModules();
  const std::string ini =
      WriteLoopbackIni("RunMode=0\nStepSize=2\nProfilePointDetection=1\nDataOutputType=1\nRange=3\n", 40998);
  ASSERT_EQ(CreateConsole(ini.c_str()), 1);
  g_settingsFile.path[0] = '\0';  // no file written per command: this is about threads
  // Recordings the commands and the remote start go to the test's directory.
  std::snprintf(g_settingsFile.workingDirectory, sizeof g_settingsFile.workingDirectory, "%s", dir_.c_str());
  ASSERT_EQ(StartConsole(""), kCmdInteractive);

  std::atomic<int> cycleDone{0};
  std::atomic<int> processed{0};
  std::atomic<int> rejected{0};
  std::atomic<int> operatorPasses{0};  // whole passes over the command table
  int pingsRun = 0;

  // The cycle pings until it has done its count and the operator has been
  // through every command at least once, however slow the machine.
  std::thread cycle([&] {
    int n = 0;
    for (; n < kPings || operatorPasses.load() < 1; ++n) {
      const std::vector<uint8_t>& r = records_[static_cast<size_t>(n % kRecordedPings)];
      CycleLock lock;  // the acquisition loop fills the record under the lock too
      if (!LoadPingRecord(r.data(), static_cast<int>(r.size()))) {
        rejected++;
        continue;
      }
      if (ProcessDecodedRecord()) processed++;
      else rejected++;
    }
    pingsRun = n;
    cycleDone = 1;
  });

  std::thread navigation([&] {
    int n = 0;
    while (!cycleDone.load()) {
      NavSnapshot* w = BeginNavWrite();
      std::snprintf(w->latitude, sizeof w->latitude + 1, " %02d.%02d.%05d N", 47, n % 60, n % 100000);
      std::snprintf(w->longitude, sizeof w->longitude + 1, "%03d.%02d.%05d E", 8, n % 60, n % 100000);
      w->speedKnots = (n % 100) * 0.1;
      w->courseDeg = n % 360;
      w->positionParsed = 1;
      w->fixAge = 0;
      EndNavWrite();
      ++n;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });

  // The operator: every command of the table that acts in Head mode without
  // ending the run (mode switches and Exit excluded), then the keys.
  int count = 0;
  const CommandRow* table = CommandTable(&count);
  int commands = 0;
  int eligible = 0;
  int frames = 0;
  int tornFrames = 0;
  while (!cycleDone.load()) {
    int i = 0;
    for (; i < count && !cycleDone.load(); ++i) {
      const int id = table[i].id;
      if (id == 1 || id == 2 || id == 18) continue;
      if (operatorPasses.load() == 0) ++eligible;
      RunCommand(id);
      ++commands;
      // A remote's datagram lands between pings as a command does; its speed
      // of sound waits for the cycle thread's next ping.
      uint8_t control[61];
      std::memset(control, 0xFF, sizeof control);
      control[3] = 1;
      control[4] = static_cast<uint8_t>(commands % 2);
      control[9] = static_cast<uint8_t>(1 + commands % 100);
      control[14] = static_cast<uint8_t>(commands % 11);
      control[17] = static_cast<uint8_t>((14000 + 10 * (commands % 600)) >> 8);
      control[18] = static_cast<uint8_t>((14000 + 10 * (commands % 600)) & 0xFF);
      control[20] = commands % 3 == 2 ? 3 : 0xFF;
      control[22] = static_cast<uint8_t>(commands % 5);
      control[23] = static_cast<uint8_t>(10 + commands % 80);
      control[25] = static_cast<uint8_t>(170 + commands % 20);
      control[28] = commands % 7 == 0 ? 1 : commands % 7 == 3 ? 0 : 0xFF;  // recording start, stop
      control[31] = 0;
      (void)ApplyControlDatagram(control, sizeof control, 0x7F000001, 40000);
      for (int ch : {'D', '4', '0', '\r', 'G', '5', '\r'}) CharKey(ch);
      int dx = 0, dy = 0;
      KeyDown(commands % 2 ? kKeyF5 : kKeyF6, 0, 0, &dx, &dy);
      KeyUp();
      // The painter takes whatever picture is newest, never waiting.
      if (const plat::Frame* f = plat::LatestFrame(plat::kWinMain)) {
        ++frames;
        tornFrames += f->width != 1012 || f->height != 542;
      }
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (i == count) operatorPasses++;
  }
  cycle.join();
  navigation.join();

  std::printf("pings %d processed %d, commands %d (%d passes), frames painted %d, lock contentions %ld, nav reader "
              "retries %llu\n",
              pingsRun, processed.load(), commands, operatorPasses.load(), frames, CycleLockContentions(),
              static_cast<unsigned long long>(NavReadRetries()));
  EXPECT_GE(pingsRun, kPings);
  EXPECT_EQ(processed.load() + rejected.load(), pingsRun);
  EXPECT_GE(processed.load(), pingsRun * 9 / 10);  // Beam Test pings are decoded but not beamformed
  EXPECT_GE(operatorPasses.load(), 1);
  EXPECT_GE(commands, eligible);  // every command of the table ran at least once
  EXPECT_EQ(g_extControl.datagramsReceived, commands);
  EXPECT_GT(g_extControl.fieldsQueued, 0);  // speeds of sound the cycle took
  EXPECT_GT(frames, 0);
  EXPECT_EQ(tornFrames, 0);
  EXPECT_GT(CycleLockContentions(), 0);  // the two threads really met
  NavSnapshot snap;
  CopyNavSnapshot(&snap);
  EXPECT_EQ(snap.positionParsed, 1);
  ShutdownConsole();
}

}  // namespace
