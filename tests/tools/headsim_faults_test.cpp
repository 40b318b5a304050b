// The head simulator's misbehaviour on demand, seen by a plain client on
// 127.0.0.1: each fault does what its option says, on the pings it names,
// faults combine, connections are refused at start, pings are paced as a
// head paces them, and the option text is checked.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "common/sim_head.h"
#include "head/return_data.h"
#include "headsim.h"
#include "platform/net.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

std::vector<uint8_t> Command(int packet, int rangeCode = 30) {
  std::vector<uint8_t> c(kSwitchCommandBytes, 0);
  c[0] = 0xFE;
  c[3] = static_cast<uint8_t>(rangeCode);
  c[13] = static_cast<uint8_t>(packet);
  c[14] = 18;
  c[19] = 8;
  c[26] = 0xFD;
  return c;
}

// A console reduced to the wire: one command, then what comes back.
class Client {
 public:
  explicit Client(int port) { fd_ = net::TcpConnect("127.0.0.1", port, 1000); }
  ~Client() { net::CloseSocket(fd_); }
  bool ok() const { return fd_ >= 0; }
  bool Ask(int packet) { return net::TcpSend(fd_, Command(packet).data(), kSwitchCommandBytes) == kSwitchCommandBytes; }
  // Bytes until the link is quiet for quietMs (or closed). *closed reports an end of stream.
  std::vector<uint8_t> Read(int quietMs, bool* closed = nullptr, int atMost = 1 << 20) {
    std::vector<uint8_t> got;
    uint8_t buf[4096];
    if (closed) *closed = false;
    while (static_cast<int>(got.size()) < atMost) {
      const int n = net::TcpReceive(fd_, buf, std::min<int>(sizeof buf, atMost - static_cast<int>(got.size())), quietMs);
      if (n == -ETIMEDOUT) break;
      if (n <= 0) {
        if (closed) *closed = true;
        break;
      }
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }
  // One whole ping of 8 packets; returns false when a reply was not a whole packet.
  bool Ping() {
    for (int k = 0; k < 8; ++k) {
      if (!Ask(k)) return false;
      const std::vector<uint8_t> r = Read(2000, nullptr, kReturnPacketBytes);
      if (r.size() != static_cast<size_t>(kReturnPacketBytes) || (r[5] & 0x1F) != k) return false;
    }
    return true;
  }

 private:
  int fd_ = -1;
};

class HeadSimFaults : public ::testing::Test {
 protected:
  void SetUp() override { setenv("ORVALE_LOOPBACK_ONLY", "1", 1); }
  void AddFault(const char* text) {
    HeadSimFault f;
    char why[128];
    ASSERT_EQ(1, ParseHeadSimFault(text, &f, why, sizeof why)) << why;
    ASSERT_EQ(1, AddHeadSimFault(f));
  }
};

TEST_F(HeadSimFaults, FaultTextsAreReadOrRefusedWithAReason) {
  struct Case {
    const char* legend;
    const char* text;
    int ok;
    int kind;
    int every;
    double seconds;
  } cases[] = {
      {"disconnect", "disconnect:100", 1, kFaultDisconnect, 100, 0.0},
      {"stall", "stall:7:2.5", 1, kFaultStall, 7, 2.5},
      {"short", "short:70", 1, kFaultShort, 70, 0.0},
      {"index", "index:1", 1, kFaultIndex, 1, 0.0},
      {"garbage", "garbage:50", 1, kFaultGarbage, 50, 0.0},
      {"no count", "short", 0, 0, 0, 0.0},
      {"zero count", "short:0", 0, 0, 0, 0.0},
      {"unknown kind", "melt:5", 0, 0, 0, 0.0},
      {"stall without seconds", "stall:5", 0, 0, 0, 0.0},
      {"stall of no time", "stall:5:0", 0, 0, 0, 0.0},
      {"seconds on another kind", "short:5:1", 0, 0, 0, 0.0},
      {"trailing text", "index:5x", 0, 0, 0, 0.0},
      {"a prefix of a kind", "dis:5", 0, 0, 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    HeadSimFault f;
    char why[128] = "";
    ASSERT_EQ(c.ok, ParseHeadSimFault(c.text, &f, why, sizeof why));
    if (!c.ok) {
      EXPECT_NE('\0', why[0]);
      continue;
    }
    EXPECT_EQ(c.kind, f.kind);
    EXPECT_EQ(c.every, f.every);
    EXPECT_DOUBLE_EQ(c.seconds, f.seconds);
  }
}

TEST_F(HeadSimFaults, DisconnectClosesAfterEveryNthPing) {
  testutil::SimHead head;
  AddFault("disconnect:3");
  const int port = head.Start();
  Client c(port);
  ASSERT_TRUE(c.ok());
  for (int p = 0; p < 3; ++p) ASSERT_TRUE(c.Ping()) << "ping " << p;
  bool closed = false;
  c.Ask(0);
  c.Read(1000, &closed);
  EXPECT_TRUE(closed);
  Client again(port);  // the next console is served, for three more pings
  ASSERT_TRUE(again.ok());
  for (int p = 0; p < 3; ++p) ASSERT_TRUE(again.Ping()) << "ping " << p;
  again.Ask(0);
  again.Read(1000, &closed);
  EXPECT_TRUE(closed);
  head.Stop();
  EXPECT_EQ(2, g_headSim.faultsCommitted[kFaultDisconnect]);
  EXPECT_EQ(6, g_headSim.pingsServed);
}

TEST_F(HeadSimFaults, StallAnswersNothingForItsTimeAfterEveryNthPing) {
  testutil::SimHead head;
  AddFault("stall:2:0.6");
  Client c(head.Start());
  ASSERT_TRUE(c.ok());
  auto t0 = Clock::now();
  ASSERT_TRUE(c.Ping());
  EXPECT_LT(MsSince(t0), 300.0) << "ping 1 is not stalled";
  ASSERT_TRUE(c.Ping());
  t0 = Clock::now();
  ASSERT_TRUE(c.Ping());
  EXPECT_GE(MsSince(t0), 550.0) << "the ping after the second waits for the stall";
  EXPECT_LT(MsSince(t0), 1500.0);
}

TEST_F(HeadSimFaults, ShortIndexAndGarbageSpoilPacketZeroOfTheNthPingOnce) {
  struct Case {
    const char* legend;
    const char* fault;
    size_t bytes;      // what packet 0 of ping 2 brings (0: more than a packet)
    int index;         // its packet index, -1 when not checked
  } cases[] = {
      {"short", "short:2", static_cast<size_t>(kHeadSimShortBytes), 0},
      {"index", "index:2", static_cast<size_t>(kReturnPacketBytes), 1},
      {"garbage", "garbage:2", 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    testutil::SimHead head;
    AddFault(c.fault);
    Client client(head.Start());
    ASSERT_TRUE(client.ok());
    ASSERT_TRUE(client.Ping()) << "ping 1 is whole";
    client.Ask(0);
    const std::vector<uint8_t> spoilt = client.Read(200);
    if (c.bytes) {
      EXPECT_EQ(c.bytes, spoilt.size());
    } else {
      ASSERT_GT(spoilt.size(), static_cast<size_t>(kReturnPacketBytes));
      const size_t garbage = spoilt.size() - kReturnPacketBytes;
      EXPECT_GE(garbage, 64u);
      EXPECT_LT(garbage, 2500u);
      // The packet itself follows the burst whole.
      EXPECT_EQ('I', spoilt[garbage]);
      EXPECT_EQ(0xFC, spoilt.back());
    }
    if (c.index >= 0 && spoilt.size() > 5) {
      EXPECT_EQ(c.index, spoilt[5] & 0x1F);
    }
    // Asking again starts ping 3, which is whole.
    EXPECT_TRUE(client.Ping());
    head.Stop();
    EXPECT_EQ(1, g_headSim.faultsCommitted[kFaultShort] + g_headSim.faultsCommitted[kFaultIndex] +
                     g_headSim.faultsCommitted[kFaultGarbage]);
  }
}

TEST_F(HeadSimFaults, SeveralFaultsCombine) {
  testutil::SimHead head;
  AddFault("index:2");
  AddFault("short:3");
  Client c(head.Start());
  ASSERT_TRUE(c.ok());
  ASSERT_TRUE(c.Ping());
  c.Ask(0);
  std::vector<uint8_t> r = c.Read(200);
  ASSERT_EQ(static_cast<size_t>(kReturnPacketBytes), r.size());
  EXPECT_EQ(1, r[5] & 0x1F) << "ping 2: wrong index";
  c.Ask(0);
  r = c.Read(200);
  EXPECT_EQ(static_cast<size_t>(kHeadSimShortBytes), r.size()) << "ping 3: short";
  head.Stop();
  EXPECT_EQ(1, g_headSim.faultsCommitted[kFaultIndex]);
  EXPECT_EQ(1, g_headSim.faultsCommitted[kFaultShort]);
  char summary[320];
  FormatHeadSimSummary(summary, sizeof summary);
  EXPECT_NE(nullptr, std::strstr(summary, "1 short packets, 1 wrong indexes"));
}

TEST_F(HeadSimFaults, RefuseTurnsConnectionsAwayAtStartOnly) {
  testutil::SimHead head;
  g_headSim.refuseSeconds = 0.5;
  const auto t0 = Clock::now();
  const int port = head.Start();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(-ECONNREFUSED, net::TcpConnect("127.0.0.1", port, 500));
  int fd = -1;
  while (fd < 0 && MsSince(t0) < 3000) {
    fd = net::TcpConnect("127.0.0.1", port, 500);
    if (fd < 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_GE(fd, 0);
  EXPECT_GE(MsSince(t0), 450.0);
  net::CloseSocket(fd);
}

TEST_F(HeadSimFaults, PingsTakeTheTwoWayTravelAndTheTransferUnlessFast) {
  EXPECT_NEAR(0.040 + 1033 * 8 / 100e6, HeadSimPacketSeconds(30.0, 0), 1e-12);
  EXPECT_NEAR(1033 * 8 / 100e6, HeadSimPacketSeconds(30.0, 5), 1e-12);
  for (int pace : {1, 0}) {
    SCOPED_TRACE(pace ? "paced" : "fast");
    testutil::SimHead head;
    g_headSim.pace = pace;
    Client c(head.Start());
    ASSERT_TRUE(c.ok());
    ASSERT_TRUE(c.Ping());
    const auto t0 = Clock::now();
    for (int p = 0; p < 5; ++p) ASSERT_TRUE(c.Ping());
    const double perPing = MsSince(t0) / 5;
    // 30 m: 40 ms of travel and 8 packets of 82.6 us.
    if (pace) {
      EXPECT_GE(perPing, 40.6);
      EXPECT_LT(perPing, 60.0);
    } else {
      EXPECT_LT(perPing, 20.0);
    }
  }
}

}  // namespace
