// orvale-remote: its options as datagram bytes, a datagram with no options
// that the console takes as "change nothing", the loopback rule, and the
// whole exchange against a console core playing a recorded survey: the
// remote learns the console from its output, commands it, and the next
// point records carry the change and the command mark.
#include <atomic>
#include <thread>

#include "app/app_test_util.h"
#include "app/remote_run.h"
#include "console/external_control.h"
#include "console/run_mode.h"

namespace {

using apptest::AppFixture;

int Parse(std::vector<const char*> args, RemoteOptions* o, char* error = nullptr) {
  args.insert(args.begin(), "orvale-remote");
  char local[160];
  return ParseRemoteArgs(static_cast<int>(args.size()), const_cast<char**>(args.data()), o,
                         error ? error : local, sizeof local);
}

std::vector<uint8_t> Build(std::vector<const char*> args) {
  RemoteOptions o;
  EXPECT_EQ(Parse(args, &o), 1);
  std::vector<uint8_t> d(kRemoteDatagramBytes);
  EXPECT_EQ(BuildControlDatagram(o, d.data(), static_cast<int>(d.size())), kRemoteDatagramBytes);
  return d;
}

int FreePort() {
  const int fd = net::UdpOpen("127.0.0.1", 0);
  const int port = net::LocalPort(fd);
  net::CloseSocket(fd);
  return port;
}

TEST(RemoteOptions, OptionsBecomeTheirDatagramBytes) {
  struct Case {
    const char* legend;
    std::vector<const char*> args;
    int offset;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"range step", {"--range-step", "7"}, 7, {7}},
      {"sector in degrees", {"--sector", "110"}, 11, {5}},
      {"beams", {"--beams", "120"}, 13, {2}},
      {"display mode word", {"--mode", "profile"}, 19, {3}},
      {"both outputs", {"--output", "both"}, 20, {3}},
      {"detection", {"--detection", "on"}, 21, {1}},
      {"tilt -90 has its own code", {"--tilt", "-90"}, 25, {50}},
      {"tilt 90 has its own code", {"--tilt", "90"}, 25, {51}},
      {"tilt 20 travels as 200", {"--tilt", "20"}, 25, {200}},
      {"sound in tenths, big-endian", {"--sound-velocity", "1500"}, 17, {0x3A, 0x98}},
      {"record start", {"--record", "start"}, 28, {1}},
      {"transmit off sets byte 4 bit 0", {"--transmit", "off"}, 4, {1}},
      {"hidden window sets bit 1", {"--hide-window"}, 4, {2}},
      {"release clears the control byte", {"--release"}, 3, {0}},
      {"minimum depth in tenths", {"--min-depth", "2.5"}, 59, {0x00, 25}},
      {"float offset little-endian", {"--x-offset", "1.5"}, 36, {0x00, 0x00, 0xC0, 0x3F}},
      {"trigger control defaults to 0", {}, 31, {0}},
      {"an unset byte is refused", {}, 9, {0xFF}},
      {"an unset word is refused", {}, 17, {0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    const std::vector<uint8_t> d = Build(c.args);
    EXPECT_EQ(std::vector<uint8_t>(d.begin() + c.offset, d.begin() + c.offset + c.bytes.size()), c.bytes);
  }
}

TEST(RemoteOptions, BadArgumentsAreRefused) {
  struct Case {
    const char* legend;
    std::vector<const char*> args;
    int result;
  };
  const Case cases[] = {
      {"help", {"--help"}, 2},
      {"unknown option", {"--frobnicate", "1"}, 0},
      {"missing value", {"--gain"}, 0},
      {"not a number", {"--gain", "loud"}, 0},
      {"byte overflow", {"--gain", "300"}, 0},
      {"sector not offered", {"--sector", "45"}, 0},
      {"output x is not a choice", {"--output", "x"}, 0},
      {"console without port", {"--console", "127.0.0.1"}, 0},
      {"transmit maybe", {"--transmit", "maybe"}, 0},
      {"a good line", {"--port", "5000", "--gain", "5", "--print", "--seconds", "2"}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    RemoteOptions o;
    EXPECT_EQ(Parse(c.args, &o), c.result);
  }
}

class Remote : public AppFixture {};

TEST_F(Remote, DatagramWithoutOptionsChangesNothingInEitherMode) {
  for (int mode : {0, 1}) {
    SCOPED_TRACE(mode ? "File mode" : "Head mode");
    apptest::ResetEverything();
    g_settings.RunMode = mode;
    const Settings before = g_settings;
    const std::vector<uint8_t> d = Build({});
    EXPECT_EQ(ApplyControlDatagram(d.data(), static_cast<int>(d.size()), 0x7F000001, 5000), 2);  // bytes 3 and 4
    EXPECT_EQ(g_extControl.fieldsApplied, 2);
    EXPECT_EQ(g_extControl.fieldsQueued + g_extControl.fieldsNotApplied + g_extControl.fieldsLiveOnly, 0);
    EXPECT_EQ(std::memcmp(&before, &g_settings, sizeof before), 0);
  }
}

TEST_F(Remote, RefusesAConsoleOffLoopback) {
  RemoteOptions o;
  ASSERT_EQ(Parse({"--console", "192.0.2.100:4040", "--port", "0", "--timeout", "0.2"}, &o), 0);  // port 0 refused
  ASSERT_EQ(Parse({"--console", "192.0.2.100:4040", "--port", std::to_string(FreePort()).c_str(), "--timeout",
                   "0.2"},
                  &o),
            1);
  char text[4096] = "";
  FILE* out = fmemopen(text, sizeof text, "w");
  RemoteReport report;
  EXPECT_EQ(RunRemote(o, &report, out), kRemoteFailed);
  std::fclose(out);
  EXPECT_EQ(report.sent, 0);
  EXPECT_GE(net::g_net.refusals, 1);
  EXPECT_EQ(net::g_net.sendCalls, 0);
  EXPECT_NE(std::strstr(text, "refused"), nullptr);
}

// A console core in File mode playing a flat 10 m survey with point output
// to `port`.
class RemoteAgainstConsole : public AppFixture {
 protected:
  void StartPlaying(int port) {
    WriteSurvey("survey.K41", 10.0, 40);
    const std::string ini = WriteLoopbackIni(
        "RunMode=1\nProfilePointDetection=1\nDataOutputType=1\nProfilePointIntensityOutput=0\nStepSize=1\n", port);
    ASSERT_EQ(CreateConsole(ini.c_str()), 1);
    plat::rec::ScriptFileDialog(1, Path("survey.K41"));
    ASSERT_EQ(StartConsole(""), kCmdInteractive);
    ASSERT_EQ(g_player.fileOpen, 1);
  }
  // Runs the remote on its own thread while this one plays the file and
  // serves control datagrams, as the console's main loop does.
  int RunBesideConsole(const RemoteOptions& o, RemoteReport* report, std::string* text) {
    static char buffer[16384];
    std::memset(buffer, 0, sizeof buffer);
    std::atomic<int> done{0};
    int status = -1;
    std::thread remote([&] {
      FILE* out = fmemopen(buffer, sizeof buffer - 1, "w");
      status = RunRemote(o, report, out);
      std::fclose(out);
      done = 1;
    });
    for (int i = 0; i < 4000 && !done; ++i) {
      PlaybackStep();
      PollExternalControl();
      plat::SleepMs(5);
    }
    remote.join();
    *text = buffer;
    return status;
  }
  // The next point record the console sends to `fd`.
  std::vector<uint8_t> NextPointRecord(int fd, uint32_t* from = nullptr, int* fromPort = nullptr) {
    std::vector<uint8_t> buf(70000);
    for (int i = 0; i < 20; ++i) {
      PlaybackStep();
      uint32_t a = 0;
      int p = 0;
      if (net::WaitReadable(fd, 1000) != 1) continue;
      const int n = net::UdpReceive(fd, buf.data(), static_cast<int>(buf.size()), &a, &p);
      if (n >= 256 && buf[2] == 'P') {
        if (from) *from = a;
        if (fromPort) *fromPort = p;
        buf.resize(static_cast<size_t>(n));
        return buf;
      }
    }
    ADD_FAILURE() << "no point record";
    return {};
  }
};

TEST_F(RemoteAgainstConsole, BuiltDatagramChangesTheNextPointRecords) {
  const int fd = net::UdpOpen("127.0.0.1", 0);
  ASSERT_GE(fd, 0);
  StartPlaying(net::LocalPort(fd));
  uint32_t console = 0;
  int consolePort = 0;
  std::vector<uint8_t> r = NextPointRecord(fd, &console, &consolePort);
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(console, 0x7F000001u);
  EXPECT_EQ(apptest::BE16(r.data() + 70), 240);
  double depth = 0;
  ASSERT_EQ(PointRecordDepth(r.data(), static_cast<int>(r.size()), &depth), 1);
  EXPECT_NEAR(depth, 10.0, 0.5);

  const std::vector<uint8_t> d =
      Build({"--beams", "120", "--sector", "90", "--sound-velocity", "1490", "--intensity", "on"});
  ASSERT_EQ(net::UdpSendToAddr(fd, console, consolePort, d.data(), static_cast<int>(d.size())),
            static_cast<int>(d.size()));
  ASSERT_EQ(net::WaitReadable(g_outputs.socket, 2000), 1);
  ASSERT_EQ(PollExternalControl(), 1);

  r = NextPointRecord(fd);
  ASSERT_FALSE(r.empty());
  // 120 beams over 120 degrees: one a degree, so 90 over the 90-degree sector.
  EXPECT_EQ(apptest::BE16(r.data() + 70), 90);
  EXPECT_EQ(apptest::BE16(r.data() + 74), 90);            // sector width
  EXPECT_EQ(apptest::BE16(r.data() + 83), 0x8000 | 14900);  // speed of sound, flagged
  EXPECT_EQ(r[117], 1);                                   // intensities follow
  EXPECT_EQ(r.size(), 256u + 4 * 90);
  EXPECT_EQ(r[155], 1);                                   // the command mark, once
  char text[kRemoteTextBytes];
  EXPECT_EQ(DescribeConsoleDatagram(r.data(), static_cast<int>(r.size()), text, sizeof text), 'P');
  EXPECT_NE(std::strstr(text, "beams 90 depth 9."), nullptr) << text;
  EXPECT_NE(std::strstr(text, " mark"), nullptr) << text;
  r = NextPointRecord(fd);
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r[155], 0);
  net::CloseSocket(fd);
}

TEST_F(RemoteAgainstConsole, RemoteLearnsTheConsoleAndSeesItsCommandAnswered) {
  const int port = FreePort();
  StartPlaying(port);
  const std::string portText = std::to_string(port);
  RemoteOptions o;
  ASSERT_EQ(Parse({"--port", portText.c_str(), "--display-gain", "64", "--tilt", "10", "--timeout", "10"}, &o), 1);
  RemoteReport report;
  std::string text;
  EXPECT_EQ(RunBesideConsole(o, &report, &text), kRemoteOk) << text;
  EXPECT_EQ(report.markSeen, 1) << text;
  EXPECT_EQ(report.consolePort, net::LocalPort(g_outputs.socket));
  EXPECT_EQ(g_settings.DisplayGain, 64);
  EXPECT_EQ(g_settings.ProfileTiltAngle, 10.0);
  EXPECT_EQ(apptest::BE16(report.lastRecord + 89), 190);  // tilt in the answer
  EXPECT_NE(text.find("now sending:"), std::string::npos) << text;
}

TEST_F(RemoteAgainstConsole, PrintShowsEveryPointRecordWithItsDepth) {
  const int port = FreePort();
  StartPlaying(port);
  const std::string portText = std::to_string(port);
  RemoteOptions o;
  ASSERT_EQ(Parse({"--port", portText.c_str(), "--listen-only", "--print", "--seconds", "1"}, &o), 1);
  RemoteReport report;
  std::string text;
  EXPECT_EQ(RunBesideConsole(o, &report, &text), kRemoteOk) << text;
  EXPECT_EQ(report.sent, 0);
  EXPECT_EQ(g_extControl.datagramsReceived, 0);
  ASSERT_GT(report.printed, 2) << text;
  // One line per record: time, beams, depth under the sonar; once the
  // filters have settled, the flat 10 m seabed.
  int lines = 0;
  double lastDepth = 0;
  for (size_t at = 0; (at = text.find(" beams 240 depth ", at)) != std::string::npos; ++at) {
    ++lines;
    lastDepth = std::atof(text.c_str() + at + std::strlen(" beams 240 depth "));
  }
  EXPECT_EQ(lines, report.printed) << text;
  EXPECT_NEAR(lastDepth, 10.0, 0.5) << text;
}

}  // namespace
