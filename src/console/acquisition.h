// The acquisition thread: the one TCP connection to the sonar head, kept up
// on its own, and the packet loop that asks for every return packet with a
// switch command, assembles the ping and hands each completed ping to the
// ping cycle, on this thread, before it asks for the next one.
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/constants.h"
#include "settings/settings.h"

constexpr int kHeadPort = 4040;
// An address text as the settings hold it.
constexpr int kAcquisitionAddressChars = kSettingsTextChars + 1;

// Waits of the link, in milliseconds. The defaults are the head's; tests
// shorten the ones whose length they do not test.
struct AcquisitionTiming {
  int startDelayMs = 1000;      // before the first connection attempt
  int probeTimeoutMs = 500;     // the connect probe
  int connectTimeoutMs = 3000;  // the connection kept (a head that answers the probe answers at once)
  int receiveWaitMs = 3000;     // no data for this long: the connection is closed and probed anew
  int packetGapMs = 250;        // a packet begun and not continued for this long is short
  int closeWaitMs = 5000;       // Close waits this long at most for a receive in progress
  int idleSleepMs = 250;        // File mode or hold
  int probeFailSleepMs = 250;
};

// A stopwatch of the loop: started and stopped on the acquisition thread,
// the last result read by diagnostics on any thread.
struct Stopwatch {
  int64_t startTicks = 0;             // acquisition thread only
  std::atomic<double> lastMs{0.0};    // elapsed time at the last stop
};

// The link state. Written by the acquisition thread unless noted; read by
// any thread (diagnostics, tests), hence atomics throughout.
struct AcquisitionState {
  AcquisitionTiming timing;           // set by tests before Start (user-interface thread)
  std::atomic<int> running{0};        // set by Start, cleared by Stop (user-interface thread)
  std::atomic<long> pingLimit{0};     // > 0: no ping is asked for after this many (headless runs)
  std::atomic<int> threadActive{0};   // set by Start; the thread clears it as its last act
  std::atomic<int> connected{0};      // between a successful Open and Close
  std::atomic<int> sending{0};        // a send call in progress
  std::atomic<int> receiving{0};      // a receive (with its wait) in progress
  std::atomic<int> receiveTimedOut{0};  // the last receive found no data within the wait
  std::atomic<int> timeoutCloses{0};    // connections closed for it
  std::atomic<int> sendErrors{0};     // per failed send, wraps to 0 above 100000
  std::atomic<int> receiveErrors{0};  // per failed receive (peer closed included), wraps likewise
  std::atomic<int> lastSendError{0};  // errno of the last failure
  std::atomic<int> lastReceiveError{0};
  std::atomic<int> shortReads{0};     // receive calls that returned fewer than 1033 bytes
  std::atomic<int> shortPackets{0};   // packets handed over incomplete (the gap or the wait ran out)
  std::atomic<int> drains{0};         // stray bytes thrown away after a rejected packet
  std::atomic<int> connections{0};    // per successful Open
  std::atomic<int> probes{0};         // connection attempts (one per clock second at most)
  std::atomic<int> lastClockSecond{-1};  // local-time second of the last attempt
  std::atomic<int> noConnectionPhase{0};  // blinks of the "No Connection" box since the link went down
  std::atomic<int> xmitBoxShown{0};   // "XMIT Disabled" shown now
  std::atomic<int> xmitBoxSecond{-1}; // local-time second of its last toggle
  std::atomic<int> heartbeat{0};      // valid pings since connect, "*" on every second
  std::atomic<long> pingsHandedOver{0};   // completed pings given to the cycle
  std::atomic<long> pingsProcessed{0};    // of which the cycle decoded and processed
  std::atomic<long> packetsReceived{0};   // whole packets received
  std::atomic<double> lastOutageMs{0.0};     // connection lost -> connected again, the latest
  std::atomic<double> longestOutageMs{0.0};  // and the longest
  std::atomic<double> cycleMsTotal{0.0};     // time spent in the ping cycle, summed over the pings
  std::atomic<double> cycleMsLongest{0.0};
  std::atomic<int> threadsStarted{0};     // Start calls that made a thread (tests)
  std::atomic<int> startFailures{0};
  // Stopwatches of the ping being acquired.
  Stopwatch requestTime;   // step start of packet 0 -> its send done
  Stopwatch sonarTime;     // send of packet 0 done -> packet 0 accepted
  Stopwatch transferTime;  // packet 0 accepted -> last packet accepted
  Stopwatch pingLatency;   // step start of packet 0 -> the ping's outputs sent (lastMs / 1000: seconds)
  // Acquisition thread only.
  int fd = -1;
  int64_t downTicks = 0;                        // when the connection was lost, 0 before any
  char address[kAcquisitionAddressChars] = "";  // copy of IPAddress_Sonar1 taken at Open
  int port = kHeadPort;                         // RemotePort_Sonar1 taken at Open
  int sendErrorsSeen = 0;                       // error counts at the end of the previous step
  int receiveErrorsSeen = 0;
  uint8_t sendBuffer[kSwitchCommandBytes] = {};
};
extern AcquisitionState g_acquisition;

// Back to start (no thread may be running): counters, flags, default timing.
void ResetAcquisition();

// Starts the thread (user-interface thread): the data-type parameters
// refreshed, running set. A thread that already runs is left alone. On
// failure shows "Failed to create thread!" and returns 0.
int StartAcquisition();
// Stops the thread and waits for its end, which closes the connection. The
// console lock the caller may hold is given up during the wait, so a ping in
// its hand-over can finish. Returns at once when no thread runs.
void StopAcquisition();
int AcquisitionRunning();

// The operator's range step (RequestRangeStep of the switch module), then
// the wait for the ping in progress to end, so that it finishes with the
// range it was sent with. The wait gives up every level of the console lock
// the caller holds: the ping can only finish if the cycle can take it.
// Returns the step in force.
int RequestRangeChange(int step);

// The connect test: a connection to the head that is not kept, within
// timeoutMs. 1 when the head accepted it.
[[nodiscard]] int ProbeHead(const char* address, int port, int timeoutMs);

// The IP address dialog's "Ok" in its effect: a new sonar address restarts
// the thread in Head mode (stop, take, start); a new output address only
// makes the output socket anew. Returns a mask: 1 sonar changed, 2 output changed.
int ApplyIpAddresses(const char* sonarAddress, const char* outputAddress);
