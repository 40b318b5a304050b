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

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

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

using SteadyClock = std::chrono::steady_clock;

constexpr double kLinkBitsPerSecond = 100e6;
constexpr double kSoundSpeedTwoWay = 750.0;  // metres of range per second of two-way travel
constexpr int kGarbageMin = 64;
constexpr int kGarbageMax = 2500;

// Sleeps up to `seconds` in short slices; 0 when stop was set meanwhile.
int SleepUnlessStopped(double seconds) {
  const auto end = SteadyClock::now() + std::chrono::duration<double>(seconds);
  while (SteadyClock::now() < end) {
    if (g_headSim.stop.load()) return 0;
    const auto left = end - SteadyClock::now();
    const auto slice = std::chrono::milliseconds(50);
    std::this_thread::sleep_for(left < slice ? left : slice);
  }
  return !g_headSim.stop.load();
}

// 1 when a fault of `kind` falls due at ping number `ping` (1-based).
const HeadSimFault* FaultDue(int kind, int ping) {
  for (int i = 0; i < g_headSim.faultCount; ++i) {
    const HeadSimFault& f = g_headSim.faults[i];
    if (f.kind == kind && f.every > 0 && ping > 0 && ping % f.every == 0) return &f;
  }
  return nullptr;
}

uint32_t s_noise = 0x2545F491u;
uint8_t NoiseByte() {
  s_noise ^= s_noise << 13;
  s_noise ^= s_noise >> 17;
  s_noise ^= s_noise << 5;
  return static_cast<uint8_t>(s_noise);
}

int SendGarbage(int fd) {
  uint8_t burst[kGarbageMax];
  const int n = kGarbageMin + static_cast<int>(NoiseByte() | (NoiseByte() << 8)) % (kGarbageMax - kGarbageMin);
  for (int i = 0; i < n; ++i) burst[i] = NoiseByte();
  g_headSim.garbageBytes += n;
  g_headSim.faultsCommitted[kFaultGarbage]++;
  return SendAll(fd, burst, n);
}

// Sends one reply with the faults that fall due on it. Returns 0 when the
// console went away, -1 when the connection is to be closed after it.
int SendReply(int fd, uint8_t* reply, int ping, int pingStarted) {
  const int index = reply[5] & 0x1F;
  int length = kReturnPacketBytes;
  // Packet 0 of a due ping is the one spoilt, once: the console's repeat of
  // the request starts the next ping.
  if (index == 0 && pingStarted) {
    if (FaultDue(kFaultGarbage, ping) && !SendGarbage(fd)) return 0;
    if (FaultDue(kFaultIndex, ping)) {
      reply[5] = static_cast<uint8_t>((reply[5] & 0xE0) | ((index + 1) & 0x1F));
      g_headSim.faultsCommitted[kFaultIndex]++;
    }
    if (FaultDue(kFaultShort, ping)) {
      length = kHeadSimShortBytes;
      g_headSim.faultsCommitted[kFaultShort]++;
    }
  }
  if (!SendAll(fd, reply, length)) return 0;
  g_headSim.packetsSent++;
  const int packets = kDataTypes[g_headSim.current.dataType].packetsPerPing;
  if (index != packets - 1 || length != kReturnPacketBytes) return 1;
  const int served = g_headSim.pingsServed;
  if (const HeadSimFault* f = FaultDue(kFaultStall, served)) {
    g_headSim.faultsCommitted[kFaultStall]++;
    if (!SleepUnlessStopped(f->seconds)) return 0;
  }
  if (FaultDue(kFaultDisconnect, served)) {
    g_headSim.faultsCommitted[kFaultDisconnect]++;
    return -1;
  }
  return 1;
}

// Serves one connected console until it leaves, the ping limit is reached or
// stop is set. Returns 1 when the limit was reached.
int ServeConsole(int fd, int maxPings) {
  uint8_t buffer[2048];
  uint8_t reply[kReturnPacketBytes];
  g_headSim.rxCount = 0;
  auto due = SteadyClock::now();
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
    for (;;) {
      const int pingBefore = g_headSim.pingIndex;
      if (!HeadSimNextReply(reply)) break;
      const int pingStarted = g_headSim.pingIndex != pingBefore;
      if (pingStarted) g_headSim.pingPackets0++;
      if (g_headSim.pace) {
        // The head fires the ping and then sends its packets; a console that
        // asks late does not get them sooner than the head can deliver.
        const auto now = SteadyClock::now();
        if (due < now) due = now;
        due += std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(
            HeadSimPacketSeconds(SceneRangeM(g_headSim.current), reply[5] & 0x1F)));
        std::this_thread::sleep_until(due);
      }
      const int sent = SendReply(fd, reply, g_headSim.pingIndex + 1, pingStarted);
      if (sent == 0) return 0;
      if (maxPings > 0 && g_headSim.pingsServed >= maxPings) return 1;
      if (sent < 0) return 0;
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
  g_headSim.faultCount = 0;
  g_headSim.refuseSeconds = 0.0;
  g_headSim.pace = 0;
  for (int& c : g_headSim.faultsCommitted) c = 0;
  g_headSim.garbageBytes = 0;
  g_headSim.pingPackets0 = 0;
}

int ParseHeadSimFault(const char* text, HeadSimFault* fault, char* why, int whySize) {
  static const char* const kNames[kFaultKinds] = {"disconnect", "stall", "short", "index", "garbage"};
  auto Fail = [&](const char* reason) {
    if (why && whySize > 0) std::snprintf(why, static_cast<size_t>(whySize), "%s", reason);
    return 0;
  };
  if (text == nullptr || fault == nullptr) return Fail("--fault needs KIND:N");
  HeadSimFault f;
  const char* colon = std::strchr(text, ':');
  if (colon == nullptr) return Fail("--fault needs KIND:N (disconnect, stall:N:SECONDS, short, index, garbage)");
  const size_t nameLength = static_cast<size_t>(colon - text);
  f.kind = -1;
  for (int k = 0; k < kFaultKinds; ++k)
    if (std::strlen(kNames[k]) == nameLength && std::strncmp(text, kNames[k], nameLength) == 0) f.kind = k;
  if (f.kind < 0) return Fail("--fault: unknown kind (disconnect, stall, short, index, garbage)");
  char* end = nullptr;
  errno = 0;
  const long every = std::strtol(colon + 1, &end, 10);
  if (end == colon + 1 || errno != 0 || every < 1 || every > 1000000000L)
    return Fail("--fault: N must be a whole number of pings, 1 or more");
  f.every = static_cast<int>(every);
  if (f.kind == kFaultStall) {
    if (*end != ':') return Fail("--fault stall needs stall:N:SECONDS");
    const char* sec = end + 1;
    const double s = std::strtod(sec, &end);
    if (end == sec || *end != '\0' || !(s > 0.0) || s > 3600.0)
      return Fail("--fault stall: SECONDS must lie above 0 and at most 3600");
    f.seconds = s;
  } else if (*end != '\0') {
    return Fail("--fault: only stall takes a second value");
  }
  *fault = f;
  return 1;
}

int AddHeadSimFault(const HeadSimFault& fault) {
  if (g_headSim.faultCount >= kHeadSimMaxFaults) return 0;
  g_headSim.faults[g_headSim.faultCount++] = fault;
  return 1;
}

double HeadSimPacketSeconds(double rangeM, int packetIndex) {
  const double transfer = kReturnPacketBytes * 8.0 / kLinkBitsPerSecond;
  return (packetIndex == 0 ? rangeM / kSoundSpeedTwoWay : 0.0) + transfer;
}

void FormatHeadSimSummary(char* out, int size) {
  const int* f = g_headSim.faultsCommitted;
  std::snprintf(out, static_cast<size_t>(size),
                "%d pings, %d packets, %d commands, %d bad bytes, %d connections; faults: "
                "%d disconnects, %d stalls, %d short packets, %d wrong indexes, %d garbage bursts "
                "(%d bytes)",
                g_headSim.pingsServed, g_headSim.packetsSent, g_headSim.commands, g_headSim.badBytes,
                g_headSim.connections, f[kFaultDisconnect], f[kFaultStall], f[kFaultShort],
                f[kFaultIndex], f[kFaultGarbage], g_headSim.garbageBytes);
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
  if (g_headSim.refuseSeconds > 0.0 && g_headSim.listenFd >= 0) {
    // Nobody listens for a while: connections are refused as by a head that
    // is still starting up.
    char address[INET_ADDRSTRLEN] = "127.0.0.1";
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(g_headSim.listenFd, reinterpret_cast<sockaddr*>(&sa), &len) == 0)
      ::inet_ntop(AF_INET, &sa.sin_addr, address, sizeof address);
    const int port = g_headSim.port;
    HeadSimClose();
    if (!SleepUnlessStopped(g_headSim.refuseSeconds)) return g_headSim.pingsServed;
    if (!HeadSimListen(address, port)) return g_headSim.pingsServed;
  }
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
