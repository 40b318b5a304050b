// Serial ports on pseudo-terminals: line settings applied and restored,
// reads that wait with a limit, the reader thread and its bounded Stop.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <termios.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "common/pty.h"
#include "platform/net.h"
#include "platform/serial.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

TEST(Serial, LineSettingsComeFromTheIndexes) {
  struct Case {
    const char* legend;
    serial::LineSettings s;
    speed_t speed;
    tcflag_t size;
    int parityOn, odd, twoStops, parityCheck;
  };
  const Case cases[] = {
      {"GPS defaults 4800 8N1", {0, 3, 2, 0}, B4800, CS8, 0, 0, 0, 0},
      {"probe defaults 38400 8N1", {3, 3, 2, 0}, B38400, CS8, 0, 0, 0, 0},
      {"115200 7E2", {5, 2, 0, 1}, B115200, CS7, 1, 0, 1, 1},
      {"9600 5O1", {1, 0, 1, 0}, B9600, CS5, 1, 1, 0, 1},
      {"57600 6N2", {4, 1, 2, 1}, B57600, CS6, 0, 0, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.legend);
    testutil::Pty pty;
    ASSERT_TRUE(pty.ok());
    serial::Port port;
    ASSERT_EQ(1, serial::Open(&port, pty.SlavePath().c_str(), c.s));
    // A pseudo-terminal forces 8 data bits and no parity, so the record
    // as built is checked for those and the device for the rest.
    termios built{};
    ASSERT_EQ(1, serial::ApplyLineSettings(&built, c.s));
    EXPECT_EQ(c.size, built.c_cflag & CSIZE);
    EXPECT_EQ(c.parityOn, (built.c_cflag & PARENB) != 0);
    EXPECT_EQ(c.odd, (built.c_cflag & PARODD) != 0);
    termios t;
    ASSERT_EQ(0, tcgetattr(pty.slave(), &t));
    EXPECT_EQ(c.speed, cfgetispeed(&t));
    EXPECT_EQ(c.speed, cfgetospeed(&t));
    EXPECT_EQ(c.twoStops, (t.c_cflag & CSTOPB) != 0);
    EXPECT_EQ(c.parityCheck, (t.c_iflag & INPCK) != 0);
    EXPECT_EQ(0u, t.c_lflag & (ICANON | ECHO));  // raw: no line editing, no echo
    serial::Close(&port);
  }
}

TEST(Serial, CloseRestoresTheSettingsFoundAtOpen) {
  testutil::Pty pty;
  ASSERT_TRUE(pty.ok());
  termios before;
  ASSERT_EQ(0, tcgetattr(pty.slave(), &before));
  serial::Port port;
  ASSERT_EQ(1, serial::Open(&port, pty.SlavePath().c_str(), serial::LineSettings{5, 0, 1, 1}));
  serial::Close(&port);
  EXPECT_EQ(-1, port.fd);
  termios after;
  ASSERT_EQ(0, tcgetattr(pty.slave(), &after));
  EXPECT_EQ(cfgetispeed(&before), cfgetispeed(&after));
  EXPECT_EQ(before.c_cflag, after.c_cflag);
  EXPECT_EQ(before.c_lflag, after.c_lflag);
  EXPECT_EQ(before.c_iflag, after.c_iflag);
  serial::Close(&port);  // twice is harmless
}

TEST(Serial, OpenRefusesWhatIsNotATerminalOrOutOfRange) {
  serial::Port port;
  EXPECT_EQ(0, serial::Open(&port, "/dev/null", serial::LineSettings{}));
  EXPECT_EQ(0, serial::Open(&port, "/nonexistent/ttyUSB9", serial::LineSettings{}));
  EXPECT_EQ(0, serial::Open(&port, "", serial::LineSettings{}));
  testutil::Pty pty;
  ASSERT_TRUE(pty.ok());
  EXPECT_EQ(0, serial::Open(&port, pty.SlavePath().c_str(), serial::LineSettings{6, 3, 2, 0}));
  EXPECT_EQ(0, serial::Open(&port, pty.SlavePath().c_str(), serial::LineSettings{0, 3, 3, 0}));
  EXPECT_EQ(-1, port.fd);
}

TEST(Serial, ReadWaitsNoLongerThanAskedAndReturnsBytes) {
  testutil::Pty pty;
  ASSERT_TRUE(pty.ok());
  serial::Port port;
  ASSERT_EQ(1, serial::Open(&port, pty.SlavePath().c_str(), serial::LineSettings{}));
  uint8_t buf[64];
  const auto t0 = Clock::now();
  EXPECT_EQ(0, serial::Read(&port, buf, sizeof buf, 50));
  const double waited = MsSince(t0);
  EXPECT_GE(waited, 40.0);
  EXPECT_LT(waited, 400.0);
  ASSERT_TRUE(pty.Write("$GPHDT,1.0,T\r\n"));
  int got = 0;
  for (int i = 0; i < 20 && got < 14; ++i) got += serial::Read(&port, buf + got, sizeof buf - got, 50);
  ASSERT_EQ(14, got);
  EXPECT_EQ(0, std::memcmp(buf, "$GPHDT,1.0,T\r\n", 14));
  serial::Close(&port);
}

TEST(Serial, ListedPortsAnswerALineQuery) {
  // Listing opens every candidate device of the machine; the sandbox the
  // suite runs in (ORVALE_LOOPBACK_ONLY=1) touches none of them.
  if (net::LoopbackOnly()) GTEST_SKIP() << "real devices are not opened in the loopback sandbox";
  serial::PortList list;
  const int n = serial::ListPorts(&list);
  EXPECT_EQ(n, list.count);
  ASSERT_LE(n, serial::kMaxPorts);
  for (int i = 0; i < n; ++i) {
    SCOPED_TRACE(list.paths[i]);
    struct stat st;
    ASSERT_EQ(0, stat(list.paths[i], &st));
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    for (int j = 0; j < i; ++j) EXPECT_STRNE(list.paths[j], list.paths[i]);
  }
}

struct Sink {
  std::atomic<int> bytes{0};
  char text[256] = {};
};

void Collect(const uint8_t* b, int n, void* ctx) {
  Sink* s = static_cast<Sink*>(ctx);
  const int at = s->bytes.load();
  for (int i = 0; i < n && at + i < 255; ++i) s->text[at + i] = static_cast<char>(b[i]);
  s->bytes.fetch_add(n);
}

TEST(SerialReader, HandsBytesOverAndStopsWithinHalfASecond) {
  testutil::Pty pty;
  ASSERT_TRUE(pty.ok());
  Sink sink;
  serial::Reader reader;
  ASSERT_EQ(1, serial::StartReader(&reader, pty.SlavePath().c_str(), serial::LineSettings{}, Collect, &sink));
  ASSERT_TRUE(pty.WritePaced(" 1500.00\r", 4800));
  for (int i = 0; i < 100 && sink.bytes.load() < 9; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(9, sink.bytes.load());
  EXPECT_STREQ(" 1500.00\r", sink.text);
  EXPECT_EQ(9, reader.bytesRead.load());
  // A silent device: Stop must not hang on the pending read.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  const auto t0 = Clock::now();
  serial::StopReader(&reader);
  const double stopMs = MsSince(t0);
  EXPECT_LT(stopMs, 500.0);
  RecordProperty("stop_ms", static_cast<int>(stopMs));
  EXPECT_EQ(-1, reader.port.fd);
  EXPECT_FALSE(reader.thread.joinable());
}

TEST(SerialReader, ExclusiveOpenKeepsASecondReaderOut) {
  testutil::Pty pty;
  ASSERT_TRUE(pty.ok());
  Sink a, b;
  serial::Reader first, second;
  ASSERT_EQ(1, serial::StartReader(&first, pty.SlavePath().c_str(), serial::LineSettings{}, Collect, &a));
  EXPECT_EQ(0, serial::StartReader(&second, pty.SlavePath().c_str(), serial::LineSettings{}, Collect, &b));
  EXPECT_FALSE(second.thread.joinable());
  serial::StopReader(&first);
  // Released at close: the device can be opened again.
  ASSERT_EQ(1, serial::StartReader(&second, pty.SlavePath().c_str(), serial::LineSettings{}, Collect, &b));
  serial::StopReader(&second);
}

}  // namespace
