// orvale-live: its options, its refusal of a working directory without
// settings, a run of the program itself against the simulator on loopback
// that ends after its ping count with exit status 0, a run through every
// fault the simulator commits that reconnects and carries on, and a stop
// from outside.
#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#include <thread>

#include "app/app_test_util.h"
#include "app/live_run.h"
#include "files/sonar_file.h"
#include "common/sim_head.h"
#include "console/acquisition.h"
#include "headsim.h"

namespace {

class Live : public apptest::AppFixture {
 protected:
  void WriteSettings(int headPort, const std::string& extra = "") {
    WriteLoopbackIni("RemotePort_Sonar1=" + std::to_string(headPort) + "\nRange=2\nStepSize=2\n" + extra, 9);
  }
  void AddFault(const char* text) {
    HeadSimFault f;
    char why[128];
    ASSERT_EQ(1, ParseHeadSimFault(text, &f, why, sizeof why)) << why;
    ASSERT_EQ(1, AddHeadSimFault(f));
  }
};

TEST_F(Live, OptionsAreReadOrRefusedWithAReason) {
  struct Case {
    const char* legend;
    std::vector<const char*> args;
    int status;
    long pings;
    double seconds;
    int help;
  } cases[] = {
      {"nothing", {}, kLiveOk, 0, 0.0, 0},
      {"pings", {"--pings", "200"}, kLiveOk, 200, 0.0, 0},
      {"seconds", {"--seconds", "2.5"}, kLiveOk, 0, 2.5, 0},
      {"both", {"--seconds", "1", "--pings", "3"}, kLiveOk, 3, 1.0, 0},
      {"help", {"-h"}, kLiveOk, 0, 0.0, 1},
      {"zero pings", {"--pings", "0"}, kLiveUsage, 0, 0.0, 0},
      {"pings without a count", {"--pings"}, kLiveUsage, 0, 0.0, 0},
      {"pings not a number", {"--pings", "12x"}, kLiveUsage, 0, 0.0, 0},
      {"negative time", {"--seconds", "-1"}, kLiveUsage, 0, 0.0, 0},
      {"unknown", {"--record", "x.K41"}, kLiveUsage, 0, 0.0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    std::vector<const char*> argv = {"orvale-live"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    LiveOptions o;
    int help = 0, version = 0;
    char why[128] = "";
    ASSERT_EQ(c.status, ParseLiveOptions(static_cast<int>(argv.size()), argv.data(), &o, &help, &version, why,
                                         sizeof why));
    if (c.status != kLiveOk) {
      EXPECT_NE('\0', why[0]);
      continue;
    }
    EXPECT_EQ(c.pings, o.pings);
    EXPECT_DOUBLE_EQ(c.seconds, o.seconds);
    EXPECT_EQ(c.help, help);
  }
}

TEST_F(Live, AWorkingDirectoryWithoutSettingsIsRefused) {
  LiveOptions o;
  o.pings = 1;
  char why[256] = "";
  EXPECT_EQ(kLiveBadDirectory, RunLive(o, nullptr, why, sizeof why));
  EXPECT_NE(nullptr, std::strstr(why, "Orvale.INI"));
  EXPECT_EQ(0, g_acquisition.threadsStarted.load()) << "nothing was started";
}

// The program itself: exit status, its summary, the settings saved.
TEST_F(Live, TheProgramProcessesItsPingsAgainstTheSimulatorAndExitsZero) {
  testutil::SimHead head(5.0);
  g_headSim.pace = 0;
  WriteSettings(head.Start());
  const std::string command = "cd '" + dir_ + "' && ORVALE_LOOPBACK_ONLY=1 " ORVALE_BIN_DIR
                              "/orvale-live --pings 200 > out.txt 2> err.txt";
  const int rc = std::system(command.c_str());
  head.Stop();
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(0, WEXITSTATUS(rc)) << testutil::ReadText(Path("err.txt"));
  const std::string out = testutil::ReadText(Path("out.txt"));
  long processed = 0;
  ASSERT_EQ(1, std::sscanf(out.c_str(), "orvale-live: %ld pings processed", &processed)) << out;
  EXPECT_GE(processed, 200);
  EXPECT_GE(g_headSim.pingsServed, processed) << "nothing processed that was not served";
  EXPECT_NE(std::string::npos, out.find("settings saved"));
  EXPECT_NE(std::string::npos, testutil::ReadText(Path("Orvale.INI")).find("RemotePort_Sonar1="));
  EXPECT_EQ("", testutil::ReadText(Path("err.txt")));

  // Wrong usage: a reason on one line and a non-zero status.
  const int bad = std::system(("cd '" + dir_ + "' && " ORVALE_BIN_DIR "/orvale-live --pings 2> err.txt").c_str());
  ASSERT_TRUE(WIFEXITED(bad));
  EXPECT_EQ(kLiveUsage, WEXITSTATUS(bad));
  const std::string reason = testutil::ReadText(Path("err.txt"));
  EXPECT_EQ(1, std::count(reason.begin(), reason.end(), '\n')) << reason;
}

TEST_F(Live, EveryFaultOfTheSimulatorIsSurvivedAndTheRunCarriesOn) {
  testutil::SimHead head(5.0);
  AddFault("disconnect:100");
  AddFault("garbage:50");
  AddFault("short:70");
  AddFault("index:90");
  // The beam-test picture keeps the cycle short: the link is under test here.
  WriteSettings(head.Start(), "DisplayType=4\n");
  LiveOptions o;
  o.pings = 400;
  o.statusLine = 0;
  LiveSummary s;
  char why[256] = "";
  ASSERT_EQ(kLiveOk, RunLive(o, &s, why, sizeof why)) << why;
  head.Stop();
  EXPECT_GE(s.pingsProcessed, 400);
  EXPECT_GE(g_headSim.faultsCommitted[kFaultDisconnect], 3);
  EXPECT_GE(g_headSim.faultsCommitted[kFaultGarbage], 6);
  EXPECT_GE(g_headSim.faultsCommitted[kFaultShort], 4);
  EXPECT_GE(g_headSim.faultsCommitted[kFaultIndex], 3);
  // The last disconnect may fall on the run's last ping, before a reconnect.
  EXPECT_GE(s.connections, g_headSim.faultsCommitted[kFaultDisconnect]);
  EXPECT_LE(s.connections, g_headSim.faultsCommitted[kFaultDisconnect] + 1);
  EXPECT_GE(s.sequenceErrors, g_headSim.faultsCommitted[kFaultIndex]);
  // A short packet behind a garbage burst (every 350th ping) is one bad packet.
  const int both = (g_headSim.pingIndex + 1) / 350;
  EXPECT_GE(s.shortPackets + s.framingRejects,
            g_headSim.faultsCommitted[kFaultShort] + g_headSim.faultsCommitted[kFaultGarbage] - both);
  EXPECT_GE(s.framingRejects, g_headSim.faultsCommitted[kFaultGarbage]);
  EXPECT_EQ(0, s.receiveTimeouts) << "no fault left the console waiting for the receive time-out";
  // A closed connection is noticed at once and connected again at once, or at
  // the next clock second when the last attempt fell in the current one.
  EXPECT_LT(s.longestOutageMs, 1500.0);
  EXPECT_EQ(1, s.settingsSaved);
  RecordProperty("longest_outage_ms", std::to_string(s.longestOutageMs));
  std::printf("faulty run: %ld pings, %d connections, longest outage %.1f ms\n", s.pingsProcessed, s.connections,
              s.longestOutageMs);
}

// A recorded live run through a misbehaving head: one automatically named
// file holding every processed ping as a whole record the reader accepts.
TEST_F(Live, ARecordedRunKeepsEveryProcessedPingAsAWholeRecord) {
  testutil::SimHead head(5.0);
  g_headSim.pace = 0;
  AddFault("disconnect:60");
  AddFault("garbage:45");
  WriteSettings(head.Start(), "DisplayType=4\nAutoFilenameType=0\n");
  LiveOptions o;
  o.pings = 150;
  o.statusLine = 0;
  o.record = 1;
  LiveSummary s;
  char why[256] = "";
  ASSERT_EQ(kLiveOk, RunLive(o, &s, why, sizeof why)) << why;
  head.Stop();
  EXPECT_EQ(s.recordingStarted, 1);
  EXPECT_GE(s.pingsProcessed, 150);
  EXPECT_EQ(s.recordsWritten, s.pingsProcessed);
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(dir_))
    if (e.path().extension() == ".K41") files.push_back(e.path().string());
  ASSERT_EQ(files.size(), 1u);
  FILE* f = std::fopen(files[0].c_str(), "rb");
  ASSERT_NE(f, nullptr);
  long records = 0;
  while (ReadNextRecord(f) == kReadRecord) ++records;
  std::fclose(f);
  EXPECT_EQ(records, s.recordsWritten);
  EXPECT_EQ(g_playback.damagedItems, 0);
}

TEST_F(Live, AStopRequestEndsARunWithoutAHead) {
  WriteSettings(9);  // nothing listens there
  LiveOptions o;
  o.statusLine = 0;
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    RequestLiveStop();
  });
  LiveSummary s;
  char why[256] = "";
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(kLiveOk, RunLive(o, &s, why, sizeof why));
  stopper.join();
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_LT(ms, 2500.0);
  EXPECT_EQ(0, s.connections);
  EXPECT_EQ(0, s.pingsProcessed);
  EXPECT_EQ(1, s.settingsSaved);
  EXPECT_EQ(0, AcquisitionRunning());
}

TEST_F(Live, SigtermEndsTheProgramWhichShutsDownAndExitsZero) {
  WriteSettings(9);  // nothing listens there
  const std::string program = ORVALE_BIN_DIR "/orvale-live";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(99);
    if (!freopen("out.txt", "w", stdout)) _exit(98);
    char* const env[] = {const_cast<char*>("ORVALE_LOOPBACK_ONLY=1"), nullptr};
    execle(program.c_str(), "orvale-live", "--no-status", static_cast<char*>(nullptr), env);
    _exit(97);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  ASSERT_EQ(0, kill(pid, SIGTERM));
  int status = 0;
  const auto t0 = std::chrono::steady_clock::now();
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 &&
         std::chrono::steady_clock::now() - t0 < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (done == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "orvale-live did not end on SIGTERM";
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(0, WEXITSTATUS(status));
  const std::string out = testutil::ReadText(Path("out.txt"));
  EXPECT_NE(std::string::npos, out.find("0 pings processed")) << out;
  EXPECT_NE(std::string::npos, out.find("settings saved")) << out;
}

}  // namespace
