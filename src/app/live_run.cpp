// orvale-live's run: the console started from "Orvale.INI" in the working
// directory with the run mode forced to Head, so the acquisition thread
// connects to the head named there and every completed ping goes through the
// whole cycle and its outputs. The calling thread only watches: it draws a
// status line, ends the run on a ping count, a time or a stop request, and
// then shuts the console down as the console does (settings saved).
//
// The option parser is a table of rows, so an option is one row and one
// small function.
#include "app/live_run.h"

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "console/acquisition.h"
#include "console/cycle_lock.h"
#include "console/external_control.h"
#include "console/run_mode.h"
#include "files/recording.h"
#include "head/return_data.h"
#include "nav/com_ports.h"
#include "platform/platform.h"
#include "platform/recording.h"
#include "settings/settings.h"
#include "video/capture.h"

namespace {

constexpr int kWatchMs = 20;
constexpr int kStatusEveryMs = 250;
constexpr const char* kSettingsName = "Orvale.INI";

std::atomic<int> s_stopRequested{0};

// ---------------------------------------------------------------- options

struct OptionContext {
  LiveOptions* options;
  int* help;
  int* version;
};

int TakeCount(const char* value, long* out) {
  if (value == nullptr || *value == '\0') return 0;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(value, &end, 10);
  if (*end != '\0' || errno != 0 || v < 1) return 0;
  *out = v;
  return 1;
}

int TakeSeconds(const char* value, double* out) {
  if (value == nullptr || *value == '\0') return 0;
  char* end = nullptr;
  const double v = std::strtod(value, &end);
  if (*end != '\0' || !(v > 0.0) || !std::isfinite(v)) return 0;
  *out = v;
  return 1;
}

int OptPings(OptionContext& c, const char* v) { return TakeCount(v, &c.options->pings); }
int OptSeconds(OptionContext& c, const char* v) { return TakeSeconds(v, &c.options->seconds); }
int OptStatus(OptionContext& c, const char*) { return c.options->statusLine = 1, 1; }
int OptNoStatus(OptionContext& c, const char*) { return c.options->statusLine = 0, 1; }
int OptQuiet(OptionContext& c, const char*) { return c.options->quiet = 1, 1; }
int OptRecord(OptionContext& c, const char*) { return c.options->record = 1, 1; }
int OptHelp(OptionContext& c, const char*) { return *c.help = 1, 1; }
int OptVersion(OptionContext& c, const char*) { return *c.version = 1, 1; }

struct OptionRow {
  const char* name;
  const char* alias;
  const char* value;   // name of the value it takes, nullptr for a flag
  const char* help;
  int (*take)(OptionContext& c, const char* value);
  const char* wrong;   // reason when the value is refused
};

const OptionRow kOptions[] = {
    {"--pings", nullptr, "N", "stop after N processed pings", OptPings, "--pings needs a count of 1 or more"},
    {"--seconds", nullptr, "S", "stop after S seconds", OptSeconds, "--seconds needs a time above 0"},
    {"--record", nullptr, nullptr, "record every ping, under an automatic name (AutoFilenameType)", OptRecord,
     nullptr},
    {"--status", nullptr, nullptr, "draw the status line even when stdout is no terminal", OptStatus, nullptr},
    {"--no-status", nullptr, nullptr, "no status line", OptNoStatus, nullptr},
    {"--quiet", nullptr, nullptr, "no summary at the end", OptQuiet, nullptr},
    {"--help", "-h", nullptr, "this text", OptHelp, nullptr},
    {"--version", nullptr, nullptr, "the version", OptVersion, nullptr},
};

const OptionRow* FindOption(const char* a) {
  for (const OptionRow& r : kOptions)
    if (std::strcmp(a, r.name) == 0 || (r.alias && std::strcmp(a, r.alias) == 0)) return &r;
  return nullptr;
}

// ---------------------------------------------------------------- run

double Seconds(int64_t from) { return plat::CounterMs(from, plat::CounterNow()) / 1000.0; }

void StatusLine(double elapsedS, long pings, long pingsAtLast, double sinceLastS) {
  const AcquisitionState& a = g_acquisition;
  const double rate = sinceLastS > 0.0 ? (pings - pingsAtLast) / sinceLastS : 0.0;
  int period;
  {
    CycleLock lock;
    period = g_ping.meanPeriodMs;
  }
  std::printf("\r%-13s %7.1f s  %8ld pings  %6.1f pings/s  period %4d ms ",
              a.connected.load() ? "connected" : "no connection", elapsedS, pings, rate, period);
  std::fflush(stdout);
}

void FillSummary(LiveSummary* s, double seconds, double activeSeconds) {
  const AcquisitionState& a = g_acquisition;
  s->seconds = seconds;
  s->pingsProcessed = a.pingsProcessed.load();
  s->pingsHandedOver = a.pingsHandedOver.load();
  s->activeSeconds = activeSeconds;
  s->pingsPerSecond = activeSeconds > 0.0 && s->pingsProcessed > 1 ? (s->pingsProcessed - 1) / activeSeconds : 0.0;
  s->meanCycleMs = s->pingsHandedOver > 0 ? a.cycleMsTotal.load() / static_cast<double>(s->pingsHandedOver) : 0.0;
  s->longestCycleMs = a.cycleMsLongest.load();
  s->connections = a.connections.load();
  s->longestOutageMs = a.longestOutageMs.load();
  s->shortReads = a.shortReads.load();
  s->shortPackets = a.shortPackets.load();
  s->receiveTimeouts = a.timeoutCloses.load();
  s->sendErrors = a.sendErrors.load();
  s->receiveErrors = a.receiveErrors.load();
  CycleLock lock;
  s->meanPeriodMs = g_ping.meanPeriodMs;
  s->sequenceErrors = g_ping.sequenceErrors;
  s->framingRejects = g_ping.framingRejects;
}

}  // namespace

int ParseLiveOptions(int argc, const char* const* argv, LiveOptions* options, int* help, int* version,
                     char* why, int whySize) {
  OptionContext c{options, help, version};
  *help = 0;
  *version = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const OptionRow* row = FindOption(a);
    if (row == nullptr) {
      std::snprintf(why, static_cast<size_t>(whySize), "unknown option %s (see --help)", a);
      return kLiveUsage;
    }
    const char* value = nullptr;
    if (row->value) {
      if (i + 1 >= argc) {
        std::snprintf(why, static_cast<size_t>(whySize), "%s", row->wrong);
        return kLiveUsage;
      }
      value = argv[++i];
    }
    if (!row->take(c, value)) {
      std::snprintf(why, static_cast<size_t>(whySize), "%s", row->wrong ? row->wrong : "bad option");
      return kLiveUsage;
    }
  }
  return kLiveOk;
}

void PrintLiveHelp() {
  std::printf(
      "usage: orvale-live [options]\n"
      "\n"
      "Runs the console live without a window: reads \"Orvale.INI\" in the working\n"
      "directory, connects to the head at IPAddress_Sonar1:RemotePort_Sonar1, puts\n"
      "every ping through the whole processing chain and its outputs (files and\n"
      "datagrams as the settings ask), and saves the settings at the end as the\n"
      "console does at exit. Ends on SIGINT or SIGTERM, or as the options say.\n"
      "\n"
      "options:\n");
  for (const OptionRow& r : kOptions) {
    char left[40];
    std::snprintf(left, sizeof left, "%s%s%s%s%s", r.alias ? r.alias : "", r.alias ? ", " : "", r.name,
                  r.value ? " " : "", r.value ? r.value : "");
    std::printf("  %-20s %s\n", left, r.help);
  }
  std::printf(
      "\n"
      "exit status: 0 done; 1 wrong usage; 2 the working directory holds no\n"
      "usable Orvale.INI or cannot be written.\n"
      "ORVALE_LOOPBACK_ONLY=1 refuses every network destination outside 127.0.0.0/8.\n");
}

void RequestLiveStop() { s_stopRequested.store(1); }

int RunLive(const LiveOptions& options, LiveSummary* summary, char* error, int errorSize) {
  s_stopRequested.store(0);
  char cwd[1024];
  if (getcwd(cwd, sizeof cwd) == nullptr) {
    std::snprintf(error, static_cast<size_t>(errorSize), "cannot read the working directory: %s", std::strerror(errno));
    return kLiveBadDirectory;
  }
  // The console would start on its defaults, which name a real head; a live
  // run wants the settings someone wrote for it.
  if (access(kSettingsName, R_OK) != 0) {
    std::snprintf(error, static_cast<size_t>(errorSize), "no readable %s in %s", kSettingsName, cwd);
    return kLiveBadDirectory;
  }
  if (access(".", W_OK) != 0 || (access(kSettingsName, W_OK) != 0)) {
    std::snprintf(error, static_cast<size_t>(errorSize), "%s in %s cannot be written back", kSettingsName, cwd);
    return kLiveBadDirectory;
  }

  plat::rec::Reset();
  plat::rec::Get().echoMessagesToStderr = 1;
  ResetConsole();
  // The thread asks for no ping beyond the count, so none is served unseen.
  g_acquisition.pingLimit.store(options.pings);
  const int64_t t0 = plat::CounterNow();
  CreateConsole(nullptr);
  // As the console window's creation does: the serial ports present now are
  // the ones the settings' port numbers index.
  EnumeratePorts();
  {
    CycleLock lock;
    g_settings.RunMode = 0;
    StartConsole("");
    if (options.record && !StartAutomaticRecording()) {
      ShutdownConsole();
      std::snprintf(error, static_cast<size_t>(errorSize), "the recording could not be started in %s", cwd);
      return kLiveBadDirectory;
    }
  }
  const int status = options.statusLine >= 0 ? options.statusLine : isatty(STDOUT_FILENO);

  int64_t firstPing = 0, lastPing = 0;
  long seen = 0;
  long pingsAtStatus = 0;
  int64_t lastStatus = plat::CounterNow();
  for (;;) {
    const long pings = g_acquisition.pingsProcessed.load();
    if (pings != seen) {
      if (seen == 0) firstPing = plat::CounterNow();
      lastPing = plat::CounterNow();
      seen = pings;
    }
    if (s_stopRequested.load()) break;
    // A remote program drives the console through the output socket.
    PollExternalControl();
    if (options.pings > 0 && g_acquisition.pingsHandedOver.load() >= options.pings) break;
    if (options.seconds > 0.0 && Seconds(t0) >= options.seconds) break;
    if (status && plat::CounterMs(lastStatus, plat::CounterNow()) >= kStatusEveryMs) {
      StatusLine(Seconds(t0), pings, pingsAtStatus, Seconds(lastStatus));
      pingsAtStatus = pings;
      lastStatus = plat::CounterNow();
    }
    plat::SleepMs(kWatchMs);
  }
  if (status) std::printf("\n");
  const double seconds = Seconds(t0);
  // The acquisition thread ends first, so the counts below are final.
  StopAcquisition();
  const double active = firstPing && lastPing > firstPing ? plat::CounterMs(firstPing, lastPing) / 1000.0 : 0.0;
  LiveSummary s;
  FillSummary(&s, seconds, active);
  {
    CycleLock lock;
    s.recordingStarted = options.record;
    s.recordsWritten = g_recording.pingsRecorded;
    s.framesEmbedded = g_video.framesEmbedded;
    s.settingsSaved = ShutdownConsole();  // closes the recording with every whole ping in it
  }
  if (summary) *summary = s;
  return kLiveOk;
}

void FormatLiveSummary(const LiveSummary& s, char* out, int size) {
  std::snprintf(out, static_cast<size_t>(size),
                "%ld pings processed (%ld completed, %ld recorded, %ld camera frames) in %.1f s, %.1f pings/s, "
                "period %d ms, ping cycle mean %.2f ms, longest %.2f ms; %d connections, longest outage %.1f ms; "
                "%d sequence errors, %d framing "
                "rejects, %d short reads, %d short packets, %d timeouts, %d send / %d receive errors%s",
                s.pingsProcessed, s.pingsHandedOver, s.recordsWritten, s.framesEmbedded, s.seconds, s.pingsPerSecond,
                s.meanPeriodMs, s.meanCycleMs,
                s.longestCycleMs, s.connections, s.longestOutageMs, s.sequenceErrors, s.framingRejects,
                s.shortReads, s.shortPackets, s.receiveTimeouts, s.sendErrors, s.receiveErrors,
                s.settingsSaved ? "; settings saved" : "; settings NOT saved");
}
