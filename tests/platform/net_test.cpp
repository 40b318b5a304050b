// The socket layer: the loopback rule refuses foreign destinations before any
// system call, and loopback traffic really flows (UDP datagrams, TCP bytes).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/net.h"

namespace {

class Net : public ::testing::Test {
 protected:
  void SetUp() override {
    net::ResetNet();
    const char* v = std::getenv("ORVALE_LOOPBACK_ONLY");
    saved_ = v ? v : "";
    hadValue_ = v != nullptr;
    setenv("ORVALE_LOOPBACK_ONLY", "1", 1);
  }
  void TearDown() override {
    if (hadValue_) setenv("ORVALE_LOOPBACK_ONLY", saved_.c_str(), 1);
    else unsetenv("ORVALE_LOOPBACK_ONLY");
  }
  std::string saved_;
  bool hadValue_ = false;
};

TEST_F(Net, ParsesDottedAddressesOnly) {
  struct Case { const char* legend; const char* text; int ok; uint32_t addr; };
  const Case cases[] = {
      {"loopback", "127.0.0.1", 1, 0x7F000001u},
      {"other loopback", "127.1.2.3", 1, 0x7F010203u},
      {"private", "192.168.0.100", 1, 0xC0A80064u},
      {"empty", "", 0, 0},
      {"name", "localhost", 0, 0},
      {"octet too big", "127.0.0.256", 0, 0},
      {"trailing junk", "127.0.0.1x", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    uint32_t a = 0;
    EXPECT_EQ(net::ParseIPv4(c.text, &a), c.ok);
    if (c.ok) {
      EXPECT_EQ(a, c.addr);
    }
  }
  EXPECT_EQ(net::ParseIPv4(nullptr, nullptr), 0);
}

TEST_F(Net, ForeignDestinationRefusedBeforeAnySyscall) {
  const int fd = net::UdpOpen("127.0.0.1", 0);
  ASSERT_GE(fd, 0);
  const uint8_t data[32] = {'K', '4', 'Z'};
  EXPECT_EQ(net::UdpSendTo(fd, "192.168.0.100", 4040, data, sizeof data), net::kRefused);
  EXPECT_EQ(net::UdpSendTo(fd, "10.0.0.1", 4040, data, sizeof data), net::kRefused);
  EXPECT_EQ(net::g_net.sendCalls, 0);
  EXPECT_EQ(net::g_net.refusals, 2);
  EXPECT_EQ(net::g_net.refusalReported, 1);
  // An invalid descriptor would make sendto fail with EBADF: a refusal proves
  // the call never got that far.
  EXPECT_EQ(net::UdpSendTo(-1, "192.168.0.100", 4040, data, sizeof data), net::kRefused);
  EXPECT_EQ(net::TcpConnect("192.168.0.2", 4040, 100), net::kRefused);
  EXPECT_EQ(net::g_net.connectCalls, 0);
  EXPECT_EQ(net::g_net.sendCalls, 0);
  net::CloseSocket(fd);
}

TEST_F(Net, WithoutTheRuleForeignAddressesPassTheCheck) {
  unsetenv("ORVALE_LOOPBACK_ONLY");
  uint32_t a = 0;
  ASSERT_TRUE(net::ParseIPv4("192.168.0.100", &a));
  // Only the check: nothing is sent here.
  EXPECT_EQ(net::DestinationAllowed(a), 1);
  setenv("ORVALE_LOOPBACK_ONLY", "0", 1);
  EXPECT_EQ(net::LoopbackOnly(), 0);
}

TEST_F(Net, UdpDatagramReachesALoopbackListener) {
  const int rx = net::UdpOpen("127.0.0.1", 0);
  ASSERT_GE(rx, 0);
  const int port = net::LocalPort(rx);
  ASSERT_GT(port, 0);
  const int tx = net::UdpOpen();
  ASSERT_GE(tx, 0);
  uint8_t data[300];
  for (int i = 0; i < 300; ++i) data[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(net::UdpSendTo(tx, "127.0.0.1", port, data, sizeof data), 300);
  EXPECT_EQ(net::g_net.sendCalls, 1);
  ASSERT_EQ(net::WaitReadable(rx, 2000), 1);
  uint8_t got[512];
  uint32_t from = 0;
  int fromPort = 0;
  ASSERT_EQ(net::UdpReceive(rx, got, sizeof got, &from, &fromPort), 300);
  EXPECT_EQ(std::memcmp(got, data, 300), 0);
  EXPECT_EQ(from, 0x7F000001u);
  EXPECT_EQ(fromPort, net::LocalPort(tx));
  // Nothing more waits: the non-blocking receive says so at once.
  EXPECT_EQ(net::UdpReceive(rx, got, sizeof got, nullptr, nullptr), -EAGAIN);
  net::CloseSocket(tx);
  net::CloseSocket(rx);
}

TEST_F(Net, TcpConnectSendReceiveAndTimeout) {
  const int ls = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(ls, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(0x7F000001u);
  ASSERT_EQ(bind(ls, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  ASSERT_EQ(listen(ls, 1), 0);
  const int port = net::LocalPort(ls);

  const int c = net::TcpConnect("127.0.0.1", port, 1000);
  ASSERT_GE(c, 0);
  const int s = accept(ls, nullptr, nullptr);
  ASSERT_GE(s, 0);
  const uint8_t cmd[27] = {0xFE, 0x44, 0x11};
  EXPECT_EQ(net::TcpSend(c, cmd, sizeof cmd), 27);
  uint8_t got[64];
  EXPECT_EQ(net::TcpReceive(s, got, sizeof got, 2000), 27);
  EXPECT_EQ(got[0], 0xFE);
  // Nothing sent back: the wait ends with a time-out, not a hang.
  EXPECT_EQ(net::TcpReceive(c, got, sizeof got, 50), -ETIMEDOUT);
  close(s);
  EXPECT_EQ(net::TcpReceive(c, got, sizeof got, 2000), 0);  // peer closed
  net::CloseSocket(c);
  close(ls);
}

TEST_F(Net, TcpConnectToAClosedPortFails) {
  // Bind a port, then close it, so nothing listens there.
  const int tmp = net::UdpOpen("127.0.0.1", 0);
  ASSERT_GE(tmp, 0);
  const int port = net::LocalPort(tmp);
  net::CloseSocket(tmp);
  const int c = net::TcpConnect("127.0.0.1", port, 500);
  EXPECT_LT(c, 0);
  EXPECT_NE(c, net::kRefused);
}

}  // namespace
