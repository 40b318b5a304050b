// The acquisition thread. It owns the TCP connection to the head: probes the
// head at most once a clock second while there is none, opens it, and then
// runs the packet loop — one switch command out, one 1033-byte return packet
// back, the packet assembled into the ping record — and hands every completed
// ping to the ping cycle on this same thread before it asks for packet 0 of
// the next ping. It idles in File mode and while the display is held.
//
// Locking: the console lock is held while the switch command is built from
// the settings, while a packet is assembled into the shared record and while
// the cycle's time stamp is taken; the cycle takes it itself for the whole
// ping. Network waits never hold it. Every wait here is bounded and sliced,
// so Stop returns within a fraction of a second whatever the head does, and
// Stop gives up a lock its caller holds while it waits, so a ping that waits
// for that lock can finish.
//
// Owns g_acquisition and the thread.
#include "console/acquisition.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>

#include "console/cycle_lock.h"
#include "console/ping_cycle.h"
#include "console/playback.h"
#include "files/sonar_file.h"
#include "head/return_data.h"
#include "head/switch_command.h"
#include "imaging/scan_convert.h"
#include "platform/net.h"
#include "platform/platform.h"
#include "processing/outputs.h"
#include "settings/settings.h"

AcquisitionState g_acquisition;

namespace {

constexpr int kErrorWrap = 100000;
constexpr int kWaitSliceMs = 50;   // the longest a wait goes without looking at running
constexpr int kSpinSleepMs = 10;   // between clock looks while waiting for the next second
constexpr int kDrainQuietMs = 20;  // stray bytes are taken until the link is quiet this long
constexpr int kDrainLimitMs = 250;

std::thread s_thread;

int64_t Now() { return plat::CounterNow(); }
double ElapsedMs(int64_t from) { return plat::CounterMs(from, Now()); }

void Start(Stopwatch& w) { w.startTicks = Now(); }
void Stop(Stopwatch& w) {
  const double ms = ElapsedMs(w.startTicks);
  w.lastMs.store(static_cast<double>(static_cast<int64_t>(ms + 0.5)), std::memory_order_relaxed);
}

int Running() { return g_acquisition.running.load(); }

// Sleeps in slices, returning early once Stop asked.
void SleepWhileRunning(int ms) {
  const int64_t t0 = Now();
  for (;;) {
    const double left = ms - ElapsedMs(t0);
    if (left <= 0.0 || !Running()) return;
    plat::SleepMs(left < kWaitSliceMs ? static_cast<int>(left) + 1 : kWaitSliceMs);
  }
}

void CountError(std::atomic<int>& count) {
  const int next = count.load() + 1;
  count.store(next > kErrorWrap ? 0 : next);
}

// Readable within ms, watching running: 1 ready, 0 nothing (or stopped), <0 error.
int WaitData(int fd, int ms) {
  const int64_t t0 = Now();
  for (;;) {
    const int left = ms - static_cast<int>(ElapsedMs(t0));
    if (left <= 0 || !Running()) return 0;
    const int r = net::WaitReadable(fd, left < kWaitSliceMs ? left : kWaitSliceMs);
    if (r != 0) return r;
  }
}

// ---------------------------------------------------------------- boxes

void BlinkNoConnection() {
  AcquisitionState& a = g_acquisition;
  const int phase = a.noConnectionPhase.fetch_add(1);
  // Every attempt toggles the box; shown, it alternates its two texts.
  if (phase % 2 == 1) {
    plat::SetStatusBox(plat::kBoxNoConnection, nullptr);
    return;
  }
  char address[kAcquisitionAddressChars];
  {
    CycleLock lock;
    std::snprintf(address, sizeof address, "%s", g_settings.IPAddress_Sonar1);
  }
  plat::SetStatusBox(plat::kBoxNoConnection, (phase / 2) % 2 == 0 ? "No Connection" : address);
}

// After every processed ping while connected: the heartbeat, and the
// transmit-disabled box blinking once a clock second.
void PingBoxes(int decoded, int transmitDisabled) {
  AcquisitionState& a = g_acquisition;
  plat::SetStatusBox(plat::kBoxHeartbeat, nullptr);
  if (decoded && (a.heartbeat.fetch_add(1) % 2 == 1)) plat::SetStatusBox(plat::kBoxHeartbeat, "*");
  if (!transmitDisabled) {
    if (a.xmitBoxShown.exchange(0)) plat::SetStatusBox(plat::kBoxXmitDisabled, nullptr);
    return;
  }
  const int second = plat::GetLocalTime().second;
  if (second == a.xmitBoxSecond.load()) return;
  a.xmitBoxSecond.store(second);
  const int shown = !a.xmitBoxShown.load();
  a.xmitBoxShown.store(shown);
  plat::SetStatusBox(plat::kBoxXmitDisabled, shown ? "XMIT Disabled" : nullptr);
}

// ---------------------------------------------------------------- link

int ConnectError(int e) {
  return e == -ECONNREFUSED || e == -ETIMEDOUT || e == -EHOSTUNREACH || e == -ENETUNREACH ||
         e == -ECONNRESET || e == -EINVAL || e == -EADDRNOTAVAIL || e == net::kRefused ||
         e == -ENETDOWN || e == -EINTR || e == -EPERM;
}

int Open() {
  AcquisitionState& a = g_acquisition;
  a.connected.store(0);
  {
    CycleLock lock;
    std::snprintf(a.address, sizeof a.address, "%s", g_settings.IPAddress_Sonar1);
    a.port = g_settings.RemotePort_Sonar1;
  }
  const int fd = net::TcpConnect(a.address, a.port, a.timing.connectTimeoutMs);
  if (fd < 0) {
    // A head that went away between probe and connect is tried again at the
    // next clock second; only a socket the system would not make is reported.
    if (!ConnectError(fd)) plat::MessageBox("OpenTCPConnection()", "socket() failed!");
    return 0;
  }
  a.fd = fd;
  a.connected.store(1);
  {
    // A new connection starts a new ping: a ping begun on the old one is
    // not completed from another.
    CycleLock lock;
    ClearPing();
    g_switch.packetIndex = 0;
    g_ping.lastAcceptedIndex = -1;
  }
  plat::SetStatusBox(plat::kBoxNoConnection, nullptr);
  a.noConnectionPhase.store(0);
  a.heartbeat.store(0);
  a.sendErrorsSeen = a.sendErrors.load();
  a.receiveErrorsSeen = a.receiveErrors.load();
  a.connections.fetch_add(1);
  if (a.downTicks != 0) {
    const double outage = ElapsedMs(a.downTicks);
    a.lastOutageMs.store(outage);
    if (outage > a.longestOutageMs.load()) a.longestOutageMs.store(outage);
    a.downTicks = 0;
  }
  return 1;
}

void Close() {
  AcquisitionState& a = g_acquisition;
  plat::SetStatusBox(plat::kBoxHeartbeat, nullptr);
  if (!a.connected.load()) return;
  {
    CycleLock lock;
    ClearPing();
  }
  const int64_t t0 = Now();
  while (a.receiving.load() && ElapsedMs(t0) < a.timing.closeWaitMs) plat::SleepMs(1);
  net::CloseSocket(a.fd);
  a.fd = -1;
  a.connected.store(0);
  a.downTicks = Now();
  // No ping is in progress without a connection; a range request must not
  // wait for one.
  g_switch.pingInProgress.store(0);
}

int Send() {
  AcquisitionState& a = g_acquisition;
  {
    CycleLock lock;
    BuildSwitchCommand(a.sendBuffer);
  }
  a.sending.store(1);
  const int n = net::TcpSend(a.fd, a.sendBuffer, kSwitchCommandBytes);
  a.sending.store(0);
  if (n == kSwitchCommandBytes) return 1;
  a.lastSendError.store(n < 0 ? -n : EIO);
  CountError(a.sendErrors);
  CycleLock lock;
  ClearPing();
  return 0;
}

void ReceiveFailed(int error) {
  AcquisitionState& a = g_acquisition;
  a.lastReceiveError.store(error);
  CountError(a.receiveErrors);
  CycleLock lock;
  ClearPing();
}

// One packet into g_returnPacket, gathered across receive calls (TCP may
// split it). Returns its length (1033, or fewer for a packet that stopped
// short), 0 when nothing came within the wait or the link failed.
int Receive() {
  AcquisitionState& a = g_acquisition;
  a.receiveTimedOut.store(0);
  a.receiving.store(1);
  const int64_t t0 = Now();
  int got = 0;
  int result = 0;
  for (;;) {
    const int waited = static_cast<int>(ElapsedMs(t0));
    int wait = a.timing.receiveWaitMs - waited;
    if (got > 0 && wait > a.timing.packetGapMs) wait = a.timing.packetGapMs;
    const int r = WaitData(a.fd, wait);
    if (r < 0) {
      // The wait itself failed; the connection stays, the packet is lost.
      plat::MessageBox("CheckSocketStatus()", "SOCKET ERROR");
      break;
    }
    if (r == 0) {
      if (!Running()) break;  // stopped: the packet is abandoned, not short
      if (got == 0) {
        a.receiveTimedOut.store(1);
      } else {
        a.shortPackets.fetch_add(1);
        result = got;
      }
      break;
    }
    uint8_t* into = g_returnPacket + got;
    const int n = net::TcpReceive(a.fd, into, kReturnPacketBytes - got, 0);
    if (n == -ETIMEDOUT) continue;
    if (n <= 0) {
      ReceiveFailed(n < 0 ? -n : ECONNRESET);  // 0: the head closed the connection
      break;
    }
    if (n < kReturnPacketBytes) a.shortReads.fetch_add(1);
    got += n;
    if (got == kReturnPacketBytes) {
      a.packetsReceived.fetch_add(1);
      result = got;
      break;
    }
  }
  a.receiving.store(0);
  return result;
}

// A packet that failed its framing leaves the stream out of step with the
// requests (a short packet's rest, bytes that are no packet). Everything
// still on its way is thrown away, so the next request gets its own answer.
void Drain() {
  AcquisitionState& a = g_acquisition;
  uint8_t scratch[kReturnPacketBytes];
  const int64_t t0 = Now();
  while (ElapsedMs(t0) < kDrainLimitMs && net::WaitReadable(a.fd, kDrainQuietMs) > 0) {
    const int n = net::TcpReceive(a.fd, scratch, sizeof scratch, 0);
    if (n <= 0) break;
  }
  a.drains.fetch_add(1);
}

// One round trip; hands a completed ping to the cycle. Returns 0 on a failed
// receive or a sequence error, else 1.
int LoopStep() {
  AcquisitionState& a = g_acquisition;
  while (TablesBusy.load() && Running()) plat::SleepMs(1);
  int first;
  {
    CycleLock lock;
    first = g_switch.packetIndex == 0;
    if (first) {
      // The operator's display mode crosses here, between two pings.
      (void)ApplyRequestedDisplayMode();
      TakeTimeStamp();
    }
  }
  if (first) {
    Start(a.requestTime);
    Start(a.pingLatency);
  }
  int result = 1;
  int complete = 0;
  if (Send()) {
    if (first) {
      g_switch.pingInProgress.store(1);
      Stop(a.requestTime);
      Start(a.sonarTime);
    }
    const int length = Receive();
    if (length == 0) {
      result = 0;
    } else {
      int assembled, framingBad, sequenceBad, index;
      {
        CycleLock lock;
        const int framing = g_ping.framingRejects, shorts = g_ping.shortPackets;
        const int sequence = g_ping.sequenceErrors;
        assembled = AssemblePacket(g_returnPacket, length);
        framingBad = g_ping.framingRejects != framing || g_ping.shortPackets != shorts;
        sequenceBad = g_ping.sequenceErrors != sequence;
        index = g_ping.lastAcceptedIndex;
        complete = (assembled & kPingComplete) != 0;
      }
      if (assembled & kPacketAccepted) {
        if (index == 0) {
          Stop(a.sonarTime);
          Start(a.transferTime);
        }
        if (complete) Stop(a.transferTime);
      }
      if (framingBad) Drain();
      if (sequenceBad) result = 0;
    }
  }
  if (complete) {
    a.pingsHandedOver.fetch_add(1);
    const int64_t cycleStart = Now();
    const int decoded = ProcessDecodedRecord();
    const double cycleMs = ElapsedMs(cycleStart);
    a.cycleMsTotal.store(a.cycleMsTotal.load() + cycleMs);
    if (cycleMs > a.cycleMsLongest.load()) a.cycleMsLongest.store(cycleMs);
    if (decoded) a.pingsProcessed.fetch_add(1);
    Stop(a.pingLatency);
    int transmitDisabled;
    {
      CycleLock lock;
      transmitDisabled = g_switch.transmitDisabled;
    }
    if (a.connected.load()) PingBoxes(decoded, transmitDisabled);
  }
  // An error counter that moved, even by wrapping to 0, ends the connection;
  // the thread connects again on a later round.
  const int sends = a.sendErrors.load(), receives = a.receiveErrors.load();
  if (sends != a.sendErrorsSeen || receives != a.receiveErrorsSeen) {
    a.sendErrorsSeen = sends;
    a.receiveErrorsSeen = receives;
    Close();
  }
  return result;
}

int IdleMode() {
  CycleLock lock;
  return g_settings.RunMode == 1 || g_player.hold;
}

void ThreadBody() {
  AcquisitionState& a = g_acquisition;
  SleepWhileRunning(a.timing.startDelayMs);
  while (Running()) {
    const long limit = a.pingLimit.load();
    if (IdleMode() || (limit > 0 && a.pingsHandedOver.load() >= limit)) {
      SleepWhileRunning(a.timing.idleSleepMs);
      continue;
    }
    if (!a.connected.load()) {
      const int second = plat::GetLocalTime().second;
      if (second == a.lastClockSecond.load()) {
        plat::SleepMs(kSpinSleepMs);
        continue;
      }
      a.lastClockSecond.store(second);
      {
        // The stamp's clock goes on without pings; once a second is enough
        // and keeps this wait off the console lock.
        CycleLock lock;
        TakeTimeStamp();
      }
      BlinkNoConnection();
      a.probes.fetch_add(1);
      char address[kAcquisitionAddressChars];
      int port;
      {
        CycleLock lock;
        std::snprintf(address, sizeof address, "%s", g_settings.IPAddress_Sonar1);
        port = g_settings.RemotePort_Sonar1;
      }
      if (ProbeHead(address, port, a.timing.probeTimeoutMs))
        Open();
      else
        SleepWhileRunning(a.timing.probeFailSleepMs);
      continue;
    }
    if (!LoopStep() && a.receiveTimedOut.load()) {
      a.timeoutCloses.fetch_add(1);
      Close();
    }
  }
  Close();
  a.threadActive.store(0);
}

}  // namespace

void ResetAcquisition() {
  AcquisitionState& a = g_acquisition;
  a.timing = AcquisitionTiming{};
  for (std::atomic<int>* v : {&a.running, &a.threadActive, &a.connected, &a.sending, &a.receiving,
                              &a.receiveTimedOut, &a.timeoutCloses, &a.sendErrors, &a.receiveErrors, &a.lastSendError,
                              &a.lastReceiveError, &a.shortReads, &a.shortPackets, &a.drains,
                              &a.connections, &a.probes, &a.noConnectionPhase, &a.xmitBoxShown,
                              &a.heartbeat, &a.threadsStarted, &a.startFailures})
    v->store(0);
  a.lastClockSecond.store(-1);
  a.xmitBoxSecond.store(-1);
  a.pingLimit.store(0);
  a.pingsHandedOver.store(0);
  a.pingsProcessed.store(0);
  a.packetsReceived.store(0);
  for (std::atomic<double>* v : {&a.lastOutageMs, &a.longestOutageMs, &a.cycleMsTotal, &a.cycleMsLongest})
    v->store(0.0);
  a.downTicks = 0;
  for (Stopwatch* w : {&a.requestTime, &a.sonarTime, &a.transferTime, &a.pingLatency}) {
    w->startTicks = 0;
    w->lastMs.store(0.0);
  }
  a.fd = -1;
  a.address[0] = '\0';
  a.port = kHeadPort;
  a.sendErrorsSeen = 0;
  a.receiveErrorsSeen = 0;
}

int ProbeHead(const char* address, int port, int timeoutMs) {
  const int fd = net::TcpConnect(address, port, timeoutMs);
  if (fd < 0) return 0;
  net::CloseSocket(fd);
  return 1;
}

int StartAcquisition() {
  AcquisitionState& a = g_acquisition;
  if (a.threadActive.load()) return 1;
  if (s_thread.joinable()) s_thread.join();  // a thread that ended on its own
  {
    CycleLock lock;
    TakeDataTypeSetting();
  }
  a.running.store(1);
  a.threadActive.store(1);
  try {
    s_thread = std::thread(ThreadBody);
  } catch (...) {
    a.running.store(0);
    a.threadActive.store(0);
    a.startFailures.fetch_add(1);
    plat::MessageBox("CreteThread Error!", "Failed to create thread!");
    return 0;
  }
  a.threadsStarted.fetch_add(1);
  return 1;
}

void StopAcquisition() {
  AcquisitionState& a = g_acquisition;
  a.running.store(0);
  // The thread cannot wait for itself; it ends at the top of its next round.
  if (!s_thread.joinable() || s_thread.get_id() == std::this_thread::get_id()) return;
  const int levels = SuspendCycleLock();
  s_thread.join();
  ResumeCycleLock(levels);
}

int AcquisitionRunning() { return g_acquisition.threadActive.load(); }

int RequestRangeChange(int step) {
  const int s = RequestRangeStep(step);
  // The acquisition thread is the one that ends the ping; it cannot wait for itself.
  if (s_thread.joinable() && s_thread.get_id() == std::this_thread::get_id()) return s;
  const int levels = SuspendCycleLock();
  WaitForPingInProgress();
  ResumeCycleLock(levels);
  return s;
}

int ApplyIpAddresses(const char* sonarAddress, const char* outputAddress) {
  int changed = 0;
  if (sonarAddress && std::strcmp(sonarAddress, g_settings.IPAddress_Sonar1) != 0) changed |= 1;
  if (outputAddress && std::strcmp(outputAddress, g_settings.IPAddress_Output1) != 0) changed |= 2;
  if (changed & 1) {
    const int live = g_settings.RunMode == 0;
    if (live) StopAcquisition();
    std::snprintf(g_settings.IPAddress_Sonar1, sizeof g_settings.IPAddress_Sonar1, "%s", sonarAddress);
    if (live) StartAcquisition();
  }
  if (changed & 2) {
    CloseOutputSocket();
    std::snprintf(g_settings.IPAddress_Output1, sizeof g_settings.IPAddress_Output1, "%s", outputAddress);
    OpenOutputSocket();
  }
  return changed;
}
