// Socket layer. Wraps the few POSIX socket calls the console needs: the
// non-blocking UDP socket that carries point and beam output, the keep-alive
// and incoming control datagrams, and the TCP client that the acquisition
// thread keeps to the head. It owns no sockets itself; callers hold the
// descriptors. What it does own is the loopback rule: with
// ORVALE_LOOPBACK_ONLY=1 every destination outside 127.0.0.0/8 is refused
// before a socket call is made, so tests and demos stay on this machine
// whatever address a settings file names.
#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace net {

NetState g_net;

static std::atomic<int> s_sendFaultCalls{0};
static std::atomic<int> s_sendFaultError{0};

void SetTcpSendFault(int calls, int error) {
  s_sendFaultError.store(error);
  s_sendFaultCalls.store(calls);
}

void ResetNet() {
  g_net.refusals.store(0);
  g_net.refusalReported.store(0);
  g_net.sendCalls.store(0);
  g_net.connectCalls.store(0);
  s_sendFaultCalls.store(0);
}

int LoopbackOnly() {
  const char* v = std::getenv("ORVALE_LOOPBACK_ONLY");
  return v != nullptr && std::strcmp(v, "1") == 0;
}

int ParseIPv4(const char* text, uint32_t* hostOrder) {
  if (text == nullptr || hostOrder == nullptr) return 0;
  in_addr a{};
  if (inet_pton(AF_INET, text, &a) != 1) return 0;
  *hostOrder = ntohl(a.s_addr);
  return 1;
}

int DestinationAllowed(uint32_t hostOrder) {
  if (!LoopbackOnly() || (hostOrder >> 24) == 127) return 1;
  g_net.refusals++;
  if (!g_net.refusalReported.exchange(1)) {
    std::fprintf(stderr,
                 "orvale: ORVALE_LOOPBACK_ONLY=1: refusing every destination outside 127.0.0.0/8 "
                 "(first: %u.%u.%u.%u)\n",
                 hostOrder >> 24, (hostOrder >> 16) & 255, (hostOrder >> 8) & 255, hostOrder & 255);
  }
  return 0;
}

static sockaddr_in MakeAddr(uint32_t hostOrder, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  sa.sin_addr.s_addr = htonl(hostOrder);
  return sa;
}

static int SetNonBlocking(int fd, int on) {
  const int flags = fcntl(fd, F_GETFL, 0);
  if (flags < 0) return 0;
  return fcntl(fd, F_SETFL, on ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK)) == 0;
}

// ============================================================ UDP

int UdpOpen(const char* bindAddr, int port) {
  uint32_t addr = INADDR_ANY;
  if (bindAddr != nullptr && !ParseIPv4(bindAddr, &addr)) return -EINVAL;
  if (port < 0 || port > 65535) return -EINVAL;
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -errno;
  if (!SetNonBlocking(fd, 1)) {
    const int e = errno;
    close(fd);
    return -e;
  }
  if (bindAddr != nullptr || port != 0) {
    const sockaddr_in sa = MakeAddr(addr, port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
      const int e = errno;
      close(fd);
      return -e;
    }
  }
  return fd;
}

int LocalPort(int fd) {
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

int UdpSendToAddr(int fd, uint32_t hostOrder, int port, const void* data, int length) {
  if (!DestinationAllowed(hostOrder)) return kRefused;
  if (port <= 0 || port > 65535 || length < 0 || (data == nullptr && length > 0)) return -EINVAL;
  const sockaddr_in sa = MakeAddr(hostOrder, port);
  g_net.sendCalls++;
  const ssize_t n = sendto(fd, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                           reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  return n < 0 ? -errno : static_cast<int>(n);
}

int UdpSendTo(int fd, const char* addr, int port, const void* data, int length) {
  uint32_t a = 0;
  if (!ParseIPv4(addr, &a)) return -EINVAL;
  return UdpSendToAddr(fd, a, port, data, length);
}

int UdpReceive(int fd, void* buffer, int size, uint32_t* fromAddr, int* fromPort) {
  if (buffer == nullptr || size <= 0) return -EINVAL;
  sockaddr_in sa{};
  socklen_t len = sizeof sa;
  const ssize_t n = recvfrom(fd, buffer, static_cast<size_t>(size), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr*>(&sa), &len);
  if (n < 0) return -errno;
  if (fromAddr) *fromAddr = ntohl(sa.sin_addr.s_addr);
  if (fromPort) *fromPort = ntohs(sa.sin_port);
  return static_cast<int>(n);
}

int WaitReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const int r = poll(&p, 1, timeoutMs);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -errno;
    return r > 0 ? 1 : 0;
  }
}

// ============================================================ TCP

int TcpConnect(const char* addr, int port, int timeoutMs) {
  uint32_t a = 0;
  if (!ParseIPv4(addr, &a)) return -EINVAL;
  if (!DestinationAllowed(a)) return kRefused;
  if (port <= 0 || port > 65535) return -EINVAL;
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -errno;
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  SetNonBlocking(fd, 1);
  const sockaddr_in sa = MakeAddr(a, port);
  g_net.connectCalls++;
  int err = 0;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    if (errno != EINPROGRESS) {
      err = errno;
    } else {
      pollfd p{fd, POLLOUT, 0};
      const int r = poll(&p, 1, timeoutMs);
      if (r == 0) {
        err = ETIMEDOUT;
      } else if (r < 0) {
        err = errno;
      } else {
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
      }
    }
  }
  if (err != 0) {
    close(fd);
    return -err;
  }
  SetNonBlocking(fd, 0);
  return fd;
}

int TcpSend(int fd, const void* data, int length) {
  if (length < 0 || (data == nullptr && length > 0)) return -EINVAL;
  if (s_sendFaultCalls.load() > 0 && s_sendFaultCalls.fetch_sub(1) > 0) return -s_sendFaultError.load();
  const uint8_t* p = static_cast<const uint8_t*>(data);
  int sent = 0;
  while (sent < length) {
    g_net.sendCalls++;
    const ssize_t n = send(fd, p + sent, static_cast<size_t>(length - sent), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -errno;
    }
    sent += static_cast<int>(n);
  }
  return sent;
}

int TcpReceive(int fd, void* buffer, int size, int timeoutMs) {
  if (buffer == nullptr || size <= 0) return -EINVAL;
  const int r = WaitReadable(fd, timeoutMs);
  if (r < 0) return r;
  if (r == 0) return -ETIMEDOUT;
  for (;;) {
    const ssize_t n = recv(fd, buffer, static_cast<size_t>(size), 0);
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? -errno : static_cast<int>(n);
  }
}

void CloseSocket(int fd) {
  if (fd >= 0) close(fd);
}

}  // namespace net
