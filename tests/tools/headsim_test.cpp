// The head simulator: switch commands answered with the scene's packets,
// the commanded settings applied per ping, a byte stream with garbage and
// split commands, and a real TCP exchange on 127.0.0.1 that the console's
// packet assembly turns back into the scene's ping records.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "head/return_data.h"
#include "head/switch_command.h"
#include "headsim.h"
#include "platform/net.h"
#include "scene.h"
#include "settings/settings.h"

namespace {

// The 27-byte switch command as the console sends it.
std::vector<uint8_t> Command(int packet, int rangeCode = 30, int pulseUs = 180, int packetsPerPing = 8,
                             int transmitDisabled = 0) {
  std::vector<uint8_t> c(kSwitchCommandBytes, 0);
  c[0] = 0xFE;
  c[1] = 0x44;
  c[2] = 0x10;
  c[3] = static_cast<uint8_t>(rangeCode);
  c[8] = 3;
  c[9] = 1;
  c[10] = 10;
  c[13] = static_cast<uint8_t>(packet);
  c[14] = static_cast<uint8_t>(pulseUs / 10);
  c[19] = static_cast<uint8_t>(packetsPerPing);
  c[20] = 8;
  c[22] = static_cast<uint8_t>(transmitDisabled);
  c[25] = 86;
  c[26] = 0xFD;
  return c;
}

class HeadSim : public ::testing::Test {
 protected:
  void SetUp() override {
    g_settings = Settings{};
    ResetSwitchState();
    ResetReturnData();
    ResetScene();
    scene.targets[0] = {15.0, 7.0, 70.0};
    scene.targetCount = 1;
    scene.seed = 3;
    ResetHeadSim(scene);
  }
  void TearDown() override { HeadSimClose(); }
  SceneParams scene;
};

TEST_F(HeadSim, AnswersEachCommandWithTheRequestedPacketOfTheCurrentPing) {
  uint8_t reply[kReturnPacketBytes], want[kReturnPacketBytes];
  for (int ping = 0; ping < 2; ++ping) {
    for (int k = 0; k < 8; ++k) {
      ASSERT_EQ(1, AnswerCommand(Command(k).data(), reply));
      ASSERT_EQ(1, GetPacket(scene, ping, k, want));
      ASSERT_EQ(0, std::memcmp(want, reply, kReturnPacketBytes)) << "ping " << ping << " packet " << k;
    }
  }
  EXPECT_EQ(2, g_headSim.pingsServed);
  EXPECT_EQ(16, g_headSim.commands);
}

TEST_F(HeadSim, CommandedSettingsApplyFromTheNextPing) {
  uint8_t reply[kReturnPacketBytes];
  ASSERT_EQ(1, AnswerCommand(Command(0, 30).data(), reply));
  EXPECT_EQ(30, reply[7]);
  // A range change in the middle of a ping waits for packet 0.
  ASSERT_EQ(1, AnswerCommand(Command(1, 10).data(), reply));
  EXPECT_EQ(30, reply[7]);
  ASSERT_EQ(1, AnswerCommand(Command(0, 10, 300).data(), reply));
  EXPECT_EQ(10, reply[7]);
  SceneParams want = scene;
  want.rangeM = 10.0;
  want.pulseUs = 300;
  uint8_t expected[kReturnPacketBytes];
  ASSERT_EQ(1, GetPacket(want, 1, 0, expected));
  EXPECT_EQ(0, std::memcmp(expected, reply, kReturnPacketBytes));

  // Range codes above 200 stand for the long ranges; 32 packets is type "Y".
  ASSERT_EQ(1, AnswerCommand(Command(0, 203, 180, 32).data(), reply));
  EXPECT_EQ(203, reply[7]);
  EXPECT_EQ('Y', reply[1]);
  EXPECT_DOUBLE_EQ(400.0, SceneRangeM(g_headSim.current));

  // Transmit disabled: the head listens, nothing but noise comes back.
  g_headSim.base.noise = 0.0;
  ASSERT_EQ(1, AnswerCommand(Command(0, 30, 180, 8, 1).data(), reply));
  for (int i = 32; i < 32 + kPacketDataBytes; ++i) ASSERT_EQ(127, reply[i]) << "byte " << i;
}

TEST_F(HeadSim, StreamSkipsGarbageAndWaitsForSplitCommands) {
  std::vector<uint8_t> stream = {0x00, 0x13, 0xFD};  // leading garbage
  std::vector<uint8_t> badEnd = Command(0);
  badEnd[26] = 0x00;  // starts like a command but is not one
  stream.insert(stream.end(), badEnd.begin(), badEnd.end());
  for (int k = 0; k < 3; ++k) {
    const std::vector<uint8_t> c = Command(k);
    stream.insert(stream.end(), c.begin(), c.end());
  }
  uint8_t reply[kReturnPacketBytes];
  int replies = 0;
  // Fed in awkward pieces: 5 bytes at a time.
  for (size_t at = 0; at < stream.size(); at += 5) {
    const int n = static_cast<int>(std::min<size_t>(5, stream.size() - at));
    ASSERT_EQ(n, HeadSimReceive(stream.data() + at, n));
    while (HeadSimNextReply(reply)) {
      EXPECT_EQ(replies, reply[5] & 0x1F);
      replies++;
    }
  }
  EXPECT_EQ(3, replies);
  EXPECT_EQ(3 + kSwitchCommandBytes, g_headSim.badBytes);
  EXPECT_EQ(0, g_headSim.rxCount);
}

TEST_F(HeadSim, IndexBeyondThePingIsAnsweredAsSuch) {
  uint8_t reply[kReturnPacketBytes];
  ASSERT_EQ(1, AnswerCommand(Command(0).data(), reply));
  ASSERT_EQ(1, AnswerCommand(Command(9).data(), reply));  // "U" has 8 packets
  EXPECT_EQ(9, reply[5] & 0x1F);
  EXPECT_EQ(kEndByte, reply[kReturnPacketBytes - 1]);
  // The console refuses it as a sequence error and asks for packet 0 again.
  g_switch.packetIndex = 1;
  EXPECT_EQ(0, AssemblePacket(reply, kReturnPacketBytes));
  EXPECT_EQ(1, g_ping.sequenceErrors);
}

TEST_F(HeadSim, ListensOnLoopbackOnly) {
  struct Case {
    const char* address;
    int allowed;
  };
  const Case cases[] = {{"127.0.0.1", 1}, {"127.3.2.1", 1}, {"0.0.0.0", 0},  {"192.168.0.2", 0},
                        {"10.0.0.1", 0},  {"localhost", 0}, {"127.0.0", 0},  {"", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(c.allowed, IsLoopbackAddress(c.address));
  }
  EXPECT_EQ(0, HeadSimListen("0.0.0.0", 0));
  EXPECT_EQ(0, HeadSimListen("192.168.0.2", 0));
  EXPECT_EQ(2, g_headSim.refusedBinds);
  EXPECT_EQ(-1, g_headSim.listenFd);
  ASSERT_EQ(1, HeadSimListen("127.0.0.1", 0));
  EXPECT_GT(g_headSim.port, 0);
}

// Receives one whole packet, however TCP splits it.
int ReceivePacket(int fd, uint8_t* out) {
  int got = 0;
  while (got < kReturnPacketBytes) {
    const int n = net::TcpReceive(fd, out + got, kReturnPacketBytes - got, 3000);
    if (n <= 0) return got;
    got += n;
  }
  return got;
}

TEST_F(HeadSim, ConsoleOverLoopbackAssemblesTheScenesPings) {
  ASSERT_EQ(1, HeadSimListen("127.0.0.1", 0));
  const int port = g_headSim.port;
  std::thread server([] { HeadSimServe(3); });

  // First console: asks for half a ping and hangs up.
  int fd = net::TcpConnect("127.0.0.1", port, 2000);
  ASSERT_GE(fd, 0);
  uint8_t packet[kReturnPacketBytes];
  for (int k = 0; k < 4; ++k) {
    ASSERT_EQ(kSwitchCommandBytes, net::TcpSend(fd, Command(k).data(), kSwitchCommandBytes));
    ASSERT_EQ(kReturnPacketBytes, ReceivePacket(fd, packet));
  }
  net::CloseSocket(fd);

  // Second console: two whole pings through the console's own assembly.
  fd = net::TcpConnect("127.0.0.1", port, 2000);
  ASSERT_GE(fd, 0);
  std::vector<uint8_t> want(kRecordBufferBytes);
  for (int ping = 1; ping <= 3; ++ping) {
    int complete = 0;
    for (int k = 0; k < 8; ++k) {
      ASSERT_EQ(kSwitchCommandBytes, net::TcpSend(fd, Command(g_switch.packetIndex).data(), kSwitchCommandBytes));
      ASSERT_EQ(kReturnPacketBytes, ReceivePacket(fd, packet));
      const int r = AssemblePacket(packet, kReturnPacketBytes);
      ASSERT_NE(0, r) << "ping " << ping << " packet " << k;
      complete = (r & kPingComplete) != 0;
    }
    ASSERT_TRUE(complete);
    // The first connection's half ping was ping 0; these are 1, 2 and 3.
    ASSERT_EQ(8013, SynthesizePing(scene, ping, want.data()));
    EXPECT_EQ(0, std::memcmp(want.data(), g_pingRecord, 8013)) << "ping " << ping;
  }
  net::CloseSocket(fd);
  server.join();  // three whole pings served: the simulator ends by itself
  EXPECT_EQ(3, g_headSim.pingsServed);
  EXPECT_EQ(2, g_headSim.connections);
}

}  // namespace
