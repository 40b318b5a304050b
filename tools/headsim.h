// Head simulator: answers the console's switch commands with the return
// packets of a synthetic scene, over TCP on the loopback interface only.
#pragma once

#include <atomic>
#include <cstdint>

#include "scene.h"
#include "settings/constants.h"

constexpr int kHeadSimDefaultPort = 4040;
constexpr int kHeadSimRxBytes = 4096;  // received bytes not yet taken as commands

// Faults the simulator commits on demand, each every N pings.
enum HeadSimFaultKind {
  kFaultDisconnect = 0,  // close the connection after the ping
  kFaultStall,           // answer nothing for `seconds` after the ping
  kFaultShort,           // packet 0 of the ping goes out cut short
  kFaultIndex,           // packet 0 of the ping carries a wrong index
  kFaultGarbage,         // a burst of random bytes before packet 0 of the ping
  kFaultKinds
};
struct HeadSimFault {
  int kind = kFaultDisconnect;
  int every = 0;         // N
  double seconds = 0.0;  // stall only
};
constexpr int kHeadSimMaxFaults = 8;
constexpr int kHeadSimShortBytes = kReturnPacketBytes / 2;  // what a short packet carries

struct HeadSimState {
  // ---- misbehaviour and pacing (set by the program's options before serving)
  HeadSimFault faults[kHeadSimMaxFaults];
  int faultCount = 0;
  double refuseSeconds = 0.0;  // connections refused this long after serving starts
  int pace = 0;                // 1: pings take the time a head takes
  // ---- what the faults did (reset by ResetHeadSim)
  int faultsCommitted[kFaultKinds] = {};
  int garbageBytes = 0;
  int pingPackets0 = 0;        // pings begun (requests for packet 0 that started one)
  // ---- the scene: as configured, and with the latest command applied
  SceneParams base;          // set by ResetHeadSim / the program's options
  SceneParams current;       // base + commanded range, pulse, type, transmit; per ping
  int pingIndex = -1;        // ping being served; advanced by each request for packet 0
  // ---- counters (reset by ResetHeadSim)
  int commands = 0;          // well-framed switch commands answered
  int badBytes = 0;          // bytes discarded while looking for a command start / end
  int packetsSent = 0;
  int pingsServed = 0;       // pings whose last packet went out
  int connections = 0;
  int refusedBinds = 0;
  // ---- receive stream of the connected console
  uint8_t rx[kHeadSimRxBytes] = {};
  int rxCount = 0;
  // ---- sockets
  int listenFd = -1;
  int port = 0;              // bound port (the system's choice when 0 was asked)
  std::atomic<int> stop{0};  // set from another thread or a signal handler
};
extern HeadSimState g_headSim;

// Clears the counters, the stream and the ping; the scene becomes `scene`.
void ResetHeadSim(const SceneParams& scene);

// 1 when the 27 bytes are framed as a switch command (0xFE ... 0xFD).
int IsSwitchCommand(const uint8_t* command);
// Applies one command to the scene and formats the packet it asks for
// (byte 13). A request for packet 0 starts the next ping. Returns 1.
int AnswerCommand(const uint8_t command[kSwitchCommandBytes], uint8_t reply[kReturnPacketBytes]);

// Appends received bytes to the stream. Returns the bytes taken (the rest
// did not fit and is dropped, counted as bad).
int HeadSimReceive(const uint8_t* data, int count);
// Takes the next well-framed command from the stream, skipping garbage, and
// answers it. Returns 1 with a reply, 0 when no whole command is waiting.
int HeadSimNextReply(uint8_t reply[kReturnPacketBytes]);

// "disconnect:N", "stall:N:SECONDS", "short:N", "index:N" or "garbage:N"
// into *fault (N >= 1, 0 < SECONDS <= 3600). Returns 1, or 0 with a reason.
int ParseHeadSimFault(const char* text, HeadSimFault* fault, char* why, int whySize);
// Adds a fault; 0 when the list is full.
int AddHeadSimFault(const HeadSimFault& fault);
// How long a head takes for a packet: the ping's two-way travel time before
// packet 0, plus the transfer of the packet at 100 Mbit/s. Seconds.
double HeadSimPacketSeconds(double rangeM, int packetIndex);
// One summary line of what was served and what faults were committed.
void FormatHeadSimSummary(char* out, int size);

// 1 when the dotted address lies in 127.0.0.0/8.
int IsLoopbackAddress(const char* address);
// Binds and listens on address:port (port 0: the system picks). Anything but
// a loopback address is refused before a socket is made. Returns 1 or 0.
[[nodiscard]] int HeadSimListen(const char* address, int port);
// Serves one console at a time until maxPings pings were served (0: no
// limit), stop is set, or the listening socket fails. Returns pings served.
int HeadSimServe(int maxPings);
void HeadSimClose();
