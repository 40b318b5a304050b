// The acquisition thread beside the operator's thread, under ThreadSanitizer
// too: pings flow from the simulator through the whole cycle while commands
// rebuild tables, the output address changes and the run mode goes to File
// and back. No data race, no ping lost to a command, and every command
// lands between two pings.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "common/reset_all.h"
#include "common/sim_head.h"
#include "console/acquisition.h"
#include "console/cycle_lock.h"
#include "console/ping_cycle.h"
#include "console/run_mode.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/render.h"
#include "platform/recording.h"
#include "settings/settings.h"
#include "ui/commands.h"
#include "ui/keys.h"

namespace {

using Clock = std::chrono::steady_clock;

bool WaitForPings(long n, int ms) {
  const auto t0 = Clock::now();
  while (g_acquisition.pingsProcessed.load() < n) {
    if (std::chrono::duration<double, std::milli>(Clock::now() - t0).count() > ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A console in Head mode against the simulated head on loopback.
void StartHeadConsole(int port) {
  CycleLock lock;
  std::snprintf(g_settings.IPAddress_Sonar1, sizeof g_settings.IPAddress_Sonar1, "127.0.0.1");
  std::snprintf(g_settings.IPAddress_Output1, sizeof g_settings.IPAddress_Output1, "127.0.0.1");
  g_settings.RemotePort_Output1 = 9;
  g_settings.RemotePort_Sonar1 = port;
  g_settings.StepSize = 2;
  g_settings.RunMode = 0;
  g_acquisition.timing.startDelayMs = 0;
  StartConsole("");
}

TEST(AcquisitionThreads, PingsFlowWhileTheOperatorsCommandsRunBesideThem) {
  setenv("ORVALE_LOOPBACK_ONLY", "1", 1);
  testutil::ResetAllModules();
  testutil::SimHead head(10.0);
  StartHeadConsole(head.Start());
  ASSERT_TRUE(WaitForPings(3, 20000));

  // Colour tables, grid, beams (new tables), averaging, between the pings.
  const int commands[] = {80, 83, 206, 761, 762, 512, 510, 206};
  for (int round = 0; round < 3; ++round) {
    for (int id : commands) RunCommand(id);
    const long before = g_acquisition.pingsProcessed.load();
    ASSERT_TRUE(WaitForPings(before + 1, 20000)) << "round " << round;
  }
  {
    CycleLock lock;
    ApplyIpAddresses("127.0.0.1", "127.0.0.2");
  }
  EXPECT_EQ(1, g_acquisition.threadsStarted.load());
  const long beforeFile = g_acquisition.pingsProcessed.load();
  ASSERT_TRUE(WaitForPings(beforeFile + 1, 20000));

  plat::rec::ScriptFileDialog(0, "");
  RunCommand(2);  // File: the thread stops
  EXPECT_EQ(0, AcquisitionRunning());
  const long inFile = g_acquisition.pingsProcessed.load();
  RunCommand(1);  // Head: it starts again and pings go on
  EXPECT_EQ(1, AcquisitionRunning());
  ASSERT_TRUE(WaitForPings(inFile + 3, 20000));

  {
    CycleLock lock;
    ShutdownConsole();
  }
  EXPECT_EQ(0, AcquisitionRunning());
  head.Stop();
  CycleLock lock;
  EXPECT_EQ(g_acquisition.pingsHandedOver.load(), g_acquisition.pingsProcessed.load())
      << "every completed ping was processed";
  EXPECT_EQ(0, g_ping.sequenceErrors);
  EXPECT_EQ(0, g_ping.framingRejects);
  EXPECT_EQ(2, g_acquisition.threadsStarted.load());
  testutil::ResetAllModules();
}

// A range step from a key runs under the console lock while the head pings.
// The wait for the ping in progress must give the lock up, or the ping
// could never end and every step would sit out the whole half second.
TEST(AcquisitionThreads, RangeStepUnderTheLockWaitsForThePingNotForTheTimeOut) {
  setenv("ORVALE_LOOPBACK_ONLY", "1", 1);
  testutil::ResetAllModules();
  testutil::SimHead head(10.0);
  StartHeadConsole(head.Start());
  ASSERT_TRUE(WaitForPings(3, 20000));
  int range0;
  {
    CycleLock lock;
    range0 = g_settings.Range;
  }
  int caught = 0, released = 0, steps = 0;
  // A loaded machine lets many pings end before the lock is taken: try for
  // a while rather than a fixed number of times.
  const auto start = Clock::now();
  while (caught < 4 && std::chrono::duration<double>(Clock::now() - start).count() < 60.0) {
    // Catch a ping in flight, as an operator's key press mostly does.
    const auto wait0 = Clock::now();
    while (!g_switch.pingInProgress.load() &&
           std::chrono::duration<double, std::milli>(Clock::now() - wait0).count() < 2000)
      std::this_thread::yield();
    CycleLock lock;
    // The ping may have ended while this thread waited for the lock.
    if (!g_switch.pingInProgress.load()) continue;
    ++caught;
    const long before = g_render.pingsDrawn;
    const int step = StepRange(steps % 2 == 0 ? 1 : -1);
    EXPECT_EQ(step, steps % 2 == 0 ? range0 + 1 : range0);
    ++steps;
    // Only the cycle draws, and only under the lock: a ping drawn while this
    // thread was inside its locked step proves the lock was given up.
    if (g_render.pingsDrawn > before) ++released;
    EXPECT_EQ(1, CycleLockHeld()) << "the key's lock is back when the step returns";
  }
  ASSERT_GE(caught, 3) << "no ping was caught in flight";
  EXPECT_EQ(released, caught) << "every ping in progress ended while the step waited";
  {
    CycleLock lock;
    ShutdownConsole();
  }
  head.Stop();
  testutil::ResetAllModules();
}

}  // namespace
