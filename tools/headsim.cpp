// Head simulator. Plays the sonar head for a console on the same machine: it
// listens on a loopback address (4040 by default), takes one console at a
// time, and answers every 27-byte switch command with the 1033-byte return
// packet the command asks for, cut from the current ping of a synthetic scene
// (tools/scene). A request for packet 0 starts the next ping, with the range,
// pulse length, data type and transmit flag of that command applied to the
// scene, as a real head takes its settings at the start of a ping.
//
// TCP is a stream: received bytes are gathered until a whole command is in,
// a command that is not framed 0xFE ... 0xFD is skipped byte by byte until
// one is, and a console that disconnects simply makes room for the next.
// Owns g_headSim.
#include "headsim.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "head/return_data.h"

HeadSimState g_headSim;

namespace {

constexpr int kPollMs = 200;

// Switch command bytes the head acts on.
constexpr int kCmdStart = 0;
constexpr int kCmdRange = 3;
constexpr int kCmdPacket = 13;
constexpr int kCmdPulse = 14;
constexpr int kCmdPackets = 19;
constexpr int kCmdFlags = 22;
constexpr int kCmdEnd = 26;

// Scene of a new ping: the base with what the command sets.
SceneParams Commanded(const uint8_t* cmd) {
  SceneParams p = g_headSim.base;
  const int code = cmd[kCmdRange];
  if (code >= 1 && code <= 204) {
    p.rangeM = code == 1 ? 1.5 : PingRangeOfCode(code);
    p.rangeStep = 0;
  }
  if (cmd[kCmdPulse] > 0) p.pulseUs = cmd[kCmdPulse] * 10;
  switch (cmd[kCmdPackets]) {
    case 8: p.dataType = 0; break;
    case 16: p.dataType = (p.dataType == 1 || p.dataType == 2) ? p.dataType : 1; break;
    case 32: p.dataType = 3; break;
    default: break;  // keep the scene's type
  }
  p.transmit = (cmd[kCmdFlags] & 1) ? 0 : g_headSim.base.transmit;
  // A command the scene cannot follow (a pulse beyond the head's, say) leaves
  // the configured scene in force rather than answering with nothing.
  return ValidateScene(p, nullptr, 0) ? p : g_headSim.base;
}

int SendAll(int fd, const uint8_t* data, int length) {
  int sent = 0;
  while (sent < length) {
    const ssize_t n = ::send(fd, data + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;
    sent += static_cast<int>(n);
  }
  return 1;
}

// Serves one connected console until it leaves, the ping limit is reached or
// stop is set. Returns 1 when the limit was reached.
int ServeConsole(int fd, int maxPings) {
  uint8_t buffer[2048];
  uint8_t reply[kReturnPacketBytes];
  g_headSim.rxCount = 0;
  while (!g_headSim.stop.load()) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, kPollMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return 0;
    if (ready == 0) continue;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 0;  // the console closed or the link broke
    HeadSimReceive(buffer, static_cast<int>(n));
    while (HeadSimNextReply(reply)) {
      if (!SendAll(fd, reply, kReturnPacketBytes)) return 0;
      g_headSim.packetsSent++;
      if (maxPings > 0 && g_headSim.pingsServed >= maxPings) return 1;
    }
  }
  return 0;
}

}  // namespace

void ResetHeadSim(const SceneParams& scene) {
  g_headSim.base = scene;
  g_headSim.current = scene;
  g_headSim.pingIndex = -1;
  g_headSim.commands = 0;
  g_headSim.badBytes = 0;
  g_headSim.packetsSent = 0;
  g_headSim.pingsServed = 0;
  g_headSim.connections = 0;
  g_headSim.refusedBinds = 0;
  g_headSim.rxCount = 0;
  g_headSim.stop.store(0);
}

int IsSwitchCommand(const uint8_t* command) {
  return command != nullptr && command[kCmdStart] == 0xFE && command[kCmdEnd] == 0xFD;
}

// SwitchCommand, 27 bytes, as far as the head acts on it:
//   0 0xFE | 3 RangeCode | 13 PacketIndex | 14 pulse / 10 us | 19 packets per
//   ping | 22 bit 0 transmit disabled | 26 0xFD
int AnswerCommand(const uint8_t command[kSwitchCommandBytes], uint8_t reply[kReturnPacketBytes]) {
  const int index = command[kCmdPacket];
  if (index == 0 || g_headSim.pingIndex < 0) {
    g_headSim.pingIndex++;
    g_headSim.current = Commanded(command);
  }
  g_headSim.commands++;
  const SceneParams& p = g_headSim.current;
  const int packets = kDataTypes[p.dataType].packetsPerPing;
  if (index < packets && GetPacket(p, g_headSim.pingIndex, index, reply)) {
    if (index == packets - 1) g_headSim.pingsServed++;
    return 1;
  }
  // An index beyond the ping: a framed packet of silence that says so, which
  // the console counts as a sequence error.
  if (!GetPacket(p, g_headSim.pingIndex, 0, reply)) std::memset(reply, 0, kReturnPacketBytes);
  reply[5] = static_cast<uint8_t>(index & 0x1F);
  std::memset(reply + 32, 127, kPacketDataBytes);
  reply[kReturnPacketBytes - 1] = static_cast<uint8_t>(kEndByte);
  return 1;
}

int HeadSimReceive(const uint8_t* data, int count) {
  if (data == nullptr || count <= 0) return 0;
  const int room = kHeadSimRxBytes - g_headSim.rxCount;
  const int take = count < room ? count : room;
  std::memcpy(g_headSim.rx + g_headSim.rxCount, data, static_cast<size_t>(take));
  g_headSim.rxCount += take;
  g_headSim.badBytes += count - take;
  return take;
}

int HeadSimNextReply(uint8_t reply[kReturnPacketBytes]) {
  uint8_t* rx = g_headSim.rx;
  int skip = 0;
  int answered = 0;
  while (g_headSim.rxCount - skip >= kSwitchCommandBytes) {
    const uint8_t* c = rx + skip;
    if (!IsSwitchCommand(c)) {
      skip++;  // resynchronise one byte at a time
      g_headSim.badBytes++;
      continue;
    }
    AnswerCommand(c, reply);
    skip += kSwitchCommandBytes;
    answered = 1;
    break;
  }
  // Leading bytes that cannot start a command are dropped even while the
  // rest waits for more data.
  while (!answered && skip < g_headSim.rxCount && rx[skip] != 0xFE) {
    skip++;
    g_headSim.badBytes++;
  }
  if (skip > 0) {
    std::memmove(rx, rx + skip, static_cast<size_t>(g_headSim.rxCount - skip));
    g_headSim.rxCount -= skip;
  }
  return answered;
}

int IsLoopbackAddress(const char* address) {
  in_addr a{};
  if (address == nullptr || ::inet_pton(AF_INET, address, &a) != 1) return 0;
  return (ntohl(a.s_addr) >> 24) == 127;
}

int HeadSimListen(const char* address, int port) {
  if (!IsLoopbackAddress(address) || port < 0 || port > 65535) {
    g_headSim.refusedBinds++;
    return 0;
  }
  HeadSimClose();
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  ::inet_pton(AF_INET, address, &sa.sin_addr);
  // One console at a time: a second waits in the backlog until the first leaves.
  if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 1) != 0) {
    ::close(fd);
    return 0;
  }
  socklen_t len = sizeof sa;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  g_headSim.listenFd = fd;
  g_headSim.port = ntohs(sa.sin_port);
  return 1;
}

int HeadSimServe(int maxPings) {
  while (!g_headSim.stop.load() && g_headSim.listenFd >= 0) {
    pollfd p{g_headSim.listenFd, POLLIN, 0};
    const int ready = ::poll(&p, 1, kPollMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    if (ready == 0) continue;
    const int fd = ::accept(g_headSim.listenFd, nullptr, nullptr);
    if (fd < 0) continue;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    g_headSim.connections++;
    const int done = ServeConsole(fd, maxPings);
    ::close(fd);
    if (done) break;
  }
  return g_headSim.pingsServed;
}

void HeadSimClose() {
  if (g_headSim.listenFd >= 0) ::close(g_headSim.listenFd);
  g_headSim.listenFd = -1;
  g_headSim.port = 0;
}
