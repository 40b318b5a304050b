// Sockets: the UDP socket of the data output and external control, and the
// TCP client of the head link, as plain POSIX calls behind small functions.
//
// While the environment variable ORVALE_LOOPBACK_ONLY is "1" every
// destination outside 127.0.0.0/8 is refused before any system call is made,
// so a test or a demo can never put a packet on a real network.
#pragma once

#include <atomic>
#include <cstdint>

namespace net {

// Error results are negative errno values; a refused destination is this one.
constexpr int kRefused = -13;  // -EACCES

// Counted by whichever thread makes the call (the acquisition thread, the
// user-interface thread), hence atomics.
struct NetState {
  std::atomic<int> refusals{0};         // destinations refused by the loopback rule
  std::atomic<int> refusalReported{0};  // the stderr note has been printed
  std::atomic<int> sendCalls{0};        // sendto/send system calls made (tests see that a refusal made none)
  std::atomic<int> connectCalls{0};     // connect system calls made
};
extern NetState g_net;

void ResetNet();

// 1 while ORVALE_LOOPBACK_ONLY=1 is set in the environment.
int LoopbackOnly();
// Dotted IPv4 text to a host-order address. Returns 1, or 0 for anything else.
int ParseIPv4(const char* text, uint32_t* hostOrder);
// 1 when the destination may be used under the current rule; counts and
// reports (once) a refusal.
int DestinationAllowed(uint32_t hostOrder);

// ---------------------------------------------------------------- UDP
// A non-blocking UDP socket bound to bindAddr:port (nullptr and 0: any
// address, a port the system chooses at the first send). Returns the socket
// or a negative error.
int UdpOpen(const char* bindAddr = nullptr, int port = 0);
// Local port of a bound socket, 0 when unknown.
int LocalPort(int fd);
// One datagram to addr:port. Returns the bytes sent or a negative error
// (kRefused for a destination the loopback rule forbids).
int UdpSendTo(int fd, const char* addr, int port, const void* data, int length);
int UdpSendToAddr(int fd, uint32_t hostOrder, int port, const void* data, int length);
// One waiting datagram, without blocking. Returns its length, or a negative
// error (-EAGAIN when none waits). The sender goes to *fromAddr / *fromPort.
int UdpReceive(int fd, void* buffer, int size, uint32_t* fromAddr, int* fromPort);
// Waits up to timeoutMs for the socket to become readable: 1 ready, 0 time-out, <0 error.
int WaitReadable(int fd, int timeoutMs);

// ---------------------------------------------------------------- TCP
// Connects to addr:port within timeoutMs, TCP_NODELAY on. Returns a blocking
// socket or a negative error.
int TcpConnect(const char* addr, int port, int timeoutMs);
// Sends all bytes (a short send repeats). Returns bytes sent or a negative error.
int TcpSend(int fd, const void* data, int length);
// One receive of at most size bytes after waiting up to timeoutMs for data.
// Returns the count (0: peer closed), -ETIMEDOUT, or another negative error.
int TcpReceive(int fd, void* buffer, int size, int timeoutMs);

// Fault injection for tests: the next `calls` TcpSend calls fail with -error
// and send nothing. ResetNet clears it.
void SetTcpSendFault(int calls, int error);

void CloseSocket(int fd);

}  // namespace net
