// The acquisition thread against the head simulator on 127.0.0.1: the probe
// rhythm while the head is away, the receive time-out, a send error closing
// the connection in its own step, Stop during a blocked receive, File mode,
// the IP address dialog, packets split across receives, and pings flowing
// through the cycle with their boxes, stopwatches and queued sound velocity.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <netinet/in.h>
#include <set>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "common/chain_fixture.h"
#include "common/sim_head.h"
#include "console/acquisition.h"
#include "console/cycle_lock.h"
#include "console/command_line.h"
#include "console/run_mode.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/scan_convert.h"
#include "headsim.h"
#include "nav/sound_velocity.h"
#include "platform/net.h"
#include "platform/recording.h"
#include "settings/settings.h"
#include "ui/commands.h"
#include "ui/ip_address_dialog.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Polls until cond holds or ms ran out; returns whether it held.
bool WaitFor(const std::function<bool()>& cond, int ms) {
  const auto t0 = Clock::now();
  while (!cond()) {
    if (MsSince(t0) > ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A loopback port on which nothing listens: bound, never listening, held.
class DeadPort {
 public:
  DeadPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    port_ = net::LocalPort(fd_);
  }
  ~DeadPort() { ::close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

class Acquisition : public testutil::ChainTest {
 protected:
  Acquisition() : ChainTest("orvale_acq") {}
  void SetUp() override {
    ChainTest::SetUp();
    std::snprintf(g_settings.IPAddress_Sonar1, sizeof g_settings.IPAddress_Sonar1, "127.0.0.1");
    std::snprintf(g_settings.IPAddress_Output1, sizeof g_settings.IPAddress_Output1, "127.0.0.1");
    g_settings.RemotePort_Output1 = 9;
    g_settings.RunMode = 0;
    g_settings.Range = 5;  // 30 m
    g_settings.StepSize = 2;  // 120 beams: the link is under test, not the beamformer
    g_acquisition.timing.startDelayMs = 0;
  }
  void TearDown() override {
    StopAcquisition();
    ChainTest::TearDown();
  }
  void Connect(int port) {
    g_settings.RemotePort_Sonar1 = port;
    ASSERT_EQ(1, StartAcquisition());
  }
  static long Processed() { return g_acquisition.pingsProcessed.load(); }
};

TEST_F(Acquisition, AnUnreachableHeadIsProbedOncePerClockSecondWhileTheBoxAlternates) {
  DeadPort dead;
  g_settings.RemotePort_Sonar1 = dead.port();
  std::set<std::string> texts;
  ASSERT_EQ(1, StartAcquisition());
  const auto t0 = Clock::now();
  while (MsSince(t0) < 3300) {
    texts.insert(plat::rec::StatusBoxText(plat::kBoxNoConnection));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  const int probes = g_acquisition.probes.load();
  StopAcquisition();
  // 3.3 s hold three or four second boundaries, plus the attempt at once.
  EXPECT_GE(probes, 3);
  EXPECT_LE(probes, 5);
  EXPECT_EQ(0, g_acquisition.connections.load());
  EXPECT_EQ(1, texts.count("No Connection"));
  EXPECT_EQ(1, texts.count("127.0.0.1")) << "the shown box alternates with the head address";
  EXPECT_EQ(1, texts.count("")) << "every attempt toggles the box";
}

TEST_F(Acquisition, AHeadThatStopsAnsweringIsClosedAfterThreeSecondsAndProbedAgain) {
  testutil::SimHead head;
  g_headSim.faults[0] = HeadSimFault{kFaultStall, 2, 5.0};
  g_headSim.faultCount = 1;
  Connect(head.Start());
  ASSERT_TRUE(WaitFor([] { return Processed() >= 2; }, 5000));
  const auto stalled = Clock::now();
  ASSERT_TRUE(WaitFor([] { return g_acquisition.timeoutCloses.load() == 1; }, 5000));
  const double closedAfter = MsSince(stalled);
  EXPECT_GE(closedAfter, 2900.0);
  EXPECT_LE(closedAfter, 3600.0);
  // The head answers again once its stall is over, on a new connection.
  ASSERT_TRUE(WaitFor([] { return g_acquisition.connections.load() >= 2; }, 3000));
  const long before = Processed();
  ASSERT_TRUE(WaitFor([&] { return Processed() > before; }, 6000));
}

TEST_F(Acquisition, ASendErrorClosesTheConnectionInTheSameStepAlsoWhenTheCountWraps) {
  struct Case {
    const char* legend;
    int countBefore;
    int countAfter;
  } cases[] = {{"plain", 0, 1}, {"wraps from 100000 to 0", 100000, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    testutil::SimHead head;
    g_acquisition.sendErrors.store(c.countBefore);
    Connect(head.Start());
    ASSERT_TRUE(WaitFor([] { return Processed() >= 3; }, 5000));
    const int receiveErrors = g_acquisition.receiveErrors.load();
    const auto t0 = Clock::now();
    net::SetTcpSendFault(1, EPIPE);
    ASSERT_TRUE(WaitFor([] { return g_acquisition.connections.load() >= 2; }, 3000));
    // Closed by the send error itself: no receive was tried and no time-out waited for.
    EXPECT_LT(MsSince(t0), 1500.0);
    EXPECT_EQ(c.countAfter, g_acquisition.sendErrors.load());
    EXPECT_EQ(EPIPE, g_acquisition.lastSendError.load());
    EXPECT_EQ(receiveErrors, g_acquisition.receiveErrors.load());
    EXPECT_EQ(0, g_acquisition.timeoutCloses.load());
    const long before = Processed();
    EXPECT_TRUE(WaitFor([&] { return Processed() > before + 2; }, 3000)) << "pings go on after reconnecting";
    StopAcquisition();
    head.Stop();
    ResetAcquisition();
    g_acquisition.timing.startDelayMs = 0;
  }
}

TEST_F(Acquisition, StopDuringABlockedReceiveReturnsWellWithinTheCloseWait) {
  testutil::SimHead head;
  g_headSim.faults[0] = HeadSimFault{kFaultStall, 1, 20.0};
  g_headSim.faultCount = 1;
  Connect(head.Start());
  ASSERT_TRUE(WaitFor([] { return Processed() >= 1 && g_acquisition.receiving.load(); }, 5000));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(1, g_acquisition.receiving.load()) << "the receive is waiting for the stalled head";
  const auto t0 = Clock::now();
  StopAcquisition();
  EXPECT_LT(MsSince(t0), 1000.0);
  EXPECT_EQ(0, AcquisitionRunning());
  EXPECT_EQ(0, g_acquisition.connected.load());
}

TEST_F(Acquisition, StopGivesUpTheConsoleLockSoAPingWaitingForItCanFinish) {
  testutil::SimHead head;
  Connect(head.Start());
  ASSERT_TRUE(WaitFor([] { return Processed() >= 1; }, 5000));
  // The operator's thread holds the lock, as a command does when it switches
  // to File mode; the ping cycle waits for it meanwhile.
  CycleLock lock;
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto t0 = Clock::now();
  StopAcquisition();
  EXPECT_LT(MsSince(t0), 1000.0);
  EXPECT_EQ(1, CycleLockHeld());
}

TEST_F(Acquisition, ADisplayModeChosenInHeadModeIsBuiltBetweenTwoPings) {
  testutil::SimHead head;
  Connect(head.Start());
  ASSERT_TRUE(WaitFor([] { return Processed() >= 1; }, 5000));
  {
    CycleLock lock;
    ASSERT_EQ(g_scan.geom.mode, kModeSector);
    EXPECT_EQ(RunCommand(401), 1);
    // The command only records the choice; the ping in progress keeps its tables.
    EXPECT_EQ(g_scan.geom.mode, kModeSector);
  }
  const long before = Processed();
  ASSERT_TRUE(WaitFor([] { return g_scan.geom.mode == kModeLinear; }, 5000));
  EXPECT_EQ(g_remembered.previousDisplayType, kModeLinear);
  EXPECT_TRUE(WaitFor([&] { return Processed() > before + 1; }, 5000)) << "pings go on in the new mode";
}

TEST_F(Acquisition, FileModeNeverConnectsAndTheSwitchToItStopsTheThread) {
  testutil::SimHead head;
  g_settings.RemotePort_Sonar1 = head.Start();
  g_settings.RunMode = 1;
  ASSERT_EQ(1, StartAcquisition());
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  EXPECT_EQ(1, AcquisitionRunning()) << "the thread idles";
  EXPECT_EQ(0, g_acquisition.probes.load());
  EXPECT_EQ(0, net::g_net.connectCalls.load());
  StopAcquisition();

  const int started = g_acquisition.threadsStarted.load();
  g_settings.RunMode = 0;
  ASSERT_EQ(kCmdInteractive, StartConsole(""));
  EXPECT_EQ(1, AcquisitionRunning());
  ASSERT_TRUE(WaitFor([] { return Processed() >= 1; }, 5000));
  plat::rec::ScriptFileDialog(0, "");
  {
    CycleLock lock;  // as the run-mode commands hold it
    g_settings.RunMode = 1;
    SetRunMode();
  }
  EXPECT_EQ(0, AcquisitionRunning());
  EXPECT_EQ(0, g_acquisition.connected.load());
  {
    CycleLock lock;
    g_settings.RunMode = 0;
    SetRunMode();
  }
  EXPECT_EQ(1, AcquisitionRunning());
  EXPECT_EQ(started + 2, g_acquisition.threadsStarted.load());
}

TEST_F(Acquisition, TheAddressDialogRestartsTheThreadOnlyForANewSonarAddress) {
  std::snprintf(g_settingsFile.path, sizeof g_settingsFile.path, "%s", Path("Orvale.INI").c_str());
  testutil::SimHead head;
  Connect(head.Start());
  ASSERT_TRUE(WaitFor([] { return Processed() >= 1; }, 5000));
  plat::rec::ScriptDialog({"IPADDRESSENTRY",
                           {{plat::rec::DialogAction::kSetText, kIdOutputAddress, "127.0.0.2"},
                            {plat::rec::DialogAction::kClick, plat::kIdOk, ""}}});
  EXPECT_EQ(1, RunCommand(205));
  EXPECT_STREQ("127.0.0.2", g_settings.IPAddress_Output1);
  EXPECT_EQ(1, g_acquisition.threadsStarted.load());
  EXPECT_EQ(1, g_acquisition.connections.load());
  const long before = Processed();
  EXPECT_TRUE(WaitFor([&] { return Processed() > before; }, 3000));

  plat::rec::ScriptDialog({"IPADDRESSENTRY",
                           {{plat::rec::DialogAction::kSetText, kIdSonarAddress, "127.0.0.1 "},
                            {plat::rec::DialogAction::kClick, kIdAddressDefault, ""},
                            {plat::rec::DialogAction::kClick, plat::kIdCancel, ""}}});
  RunCommand(205);
  EXPECT_STREQ("127.0.0.1", g_settings.IPAddress_Sonar1) << "Cancel changes nothing";
  EXPECT_EQ(1, g_acquisition.threadsStarted.load());

  plat::rec::ScriptDialog({"IPADDRESSENTRY",
                           {{plat::rec::DialogAction::kSetText, kIdSonarAddress, "127.0.0.3"},
                            {plat::rec::DialogAction::kClick, plat::kIdOk, ""}}});
  RunCommand(205);
  EXPECT_STREQ("127.0.0.3", g_settings.IPAddress_Sonar1);
  EXPECT_EQ(2, g_acquisition.threadsStarted.load());
  EXPECT_EQ(0, g_acquisition.connected.load());
  EXPECT_NE(std::string::npos, testutil::ReadText(Path("Orvale.INI")).find("IPAddress_Sonar1=127.0.0.3"))
      << "a command writes the settings back";
}

// A head whose packets arrive in three pieces: the receive gathers them.
TEST_F(Acquisition, PacketsSplitAcrossReceivesAreGathered) {
  testutil::SimHead sim;  // only its packet source is used
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&sa), sizeof sa));
  ASSERT_EQ(0, ::listen(listener, 4));
  std::atomic<int> done{0};
  std::thread server([&] {
    while (!done.load()) {
      if (net::WaitReadable(listener, 50) <= 0) continue;
      const int fd = ::accept(listener, nullptr, nullptr);
      uint8_t in[256], reply[kReturnPacketBytes];
      while (!done.load()) {
        const int r = net::WaitReadable(fd, 50);
        if (r == 0) continue;
        const ssize_t n = ::recv(fd, in, sizeof in, 0);
        if (n <= 0) break;
        HeadSimReceive(in, static_cast<int>(n));
        while (HeadSimNextReply(reply)) {
          const int cuts[] = {0, 100, 700, kReturnPacketBytes};
          for (int k = 0; k < 3; ++k) {
            ::send(fd, reply + cuts[k], cuts[k + 1] - cuts[k], MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
          }
        }
      }
      ::close(fd);
    }
  });
  Connect(net::LocalPort(listener));
  const bool flowed = WaitFor([] { return Processed() >= 3; }, 20000);
  StopAcquisition();
  done.store(1);
  server.join();
  ::close(listener);
  ASSERT_TRUE(flowed);
  EXPECT_GE(g_acquisition.shortReads.load(), 2 * 8 * 3) << "each piece is a receive of fewer bytes";
  EXPECT_EQ(0, g_acquisition.shortPackets.load());
  CycleLock lock;
  EXPECT_EQ(0, g_ping.framingRejects);
  EXPECT_EQ(0, g_ping.sequenceErrors);
}

TEST_F(Acquisition, PingsFlowThroughTheCycleWithTheHeadsTimingAndTheBoxes) {
  testutil::SimHead head;
  g_headSim.pace = 1;  // 30 m: 40 ms of two-way travel before packet 0
  g_probe.probeValue.store(1480.0f);
  g_probe.probeActive.store(1);
  g_switch.transmitDisabled = 1;
  std::set<std::string> heartbeat, xmit;
  Connect(head.Start());
  ASSERT_TRUE(WaitFor(
      [&] {
        heartbeat.insert(plat::rec::StatusBoxText(plat::kBoxHeartbeat));
        xmit.insert(plat::rec::StatusBoxText(plat::kBoxXmitDisabled));
        return Processed() >= 30 && xmit.count("XMIT Disabled") > 0;
      },
      20000));
  StopAcquisition();
  EXPECT_EQ(1, heartbeat.count("*"));
  EXPECT_EQ("", plat::rec::StatusBoxText(plat::kBoxHeartbeat)) << "erased when the connection closes";
  // The sonar time is the two-way travel; the period adds transfer and processing.
  const double sonar = g_acquisition.sonarTime.lastMs.load();
  EXPECT_GE(sonar, 39.0);
  EXPECT_LE(sonar, 80.0);
  EXPECT_GE(g_ping.meanPeriodMs, 40);
  EXPECT_GE(g_acquisition.pingLatency.lastMs.load(), sonar);
  EXPECT_DOUBLE_EQ(1480.0, g_settings.SoundVelocityMeters) << "the queued value is applied at a ping";
  EXPECT_EQ(g_acquisition.pingsHandedOver.load(), Processed());
  EXPECT_EQ(1, g_acquisition.connections.load());
}

}  // namespace
