// The headless live run behind orvale-live: the console in Head mode without
// windows — acquisition, the whole ping cycle and the outputs — until a ping
// count, a time or a signal ends it, then shut down as the console shuts down.
#pragma once

struct LiveOptions {
  long pings = 0;             // stop after this many processed pings (0: no limit)
  double seconds = 0.0;       // stop after this long (0: no limit)
  int statusLine = -1;        // 1 always, 0 never, -1 when stdout is a terminal
  int quiet = 0;              // no summary
  int record = 0;             // record every ping to an automatically named .K41 file
};

struct LiveSummary {
  long pingsProcessed = 0;    // pings decoded and put through the whole cycle
  long pingsHandedOver = 0;   // completed pings given to the cycle
  double seconds = 0.0;       // from start-up to the stop request
  double activeSeconds = 0.0; // from the first processed ping to the last
  double pingsPerSecond = 0.0;
  double meanCycleMs = 0.0;   // time in the ping cycle per ping
  double longestCycleMs = 0.0;
  int recordingStarted = 0;   // --record opened its file
  long recordsWritten = 0;    // records the recording wrote
  long framesEmbedded = 0;    // camera frames written after them
  int meanPeriodMs = 0;       // the console's ping period (mean of three)
  int connections = 0;
  double longestOutageMs = 0.0;  // connection lost -> connected again
  int sequenceErrors = 0;
  int framingRejects = 0;
  int shortReads = 0;
  int shortPackets = 0;
  int receiveTimeouts = 0;    // connections closed for lack of data
  int sendErrors = 0;
  int receiveErrors = 0;
  int settingsSaved = 0;
};

// Exit statuses.
enum LiveStatus { kLiveOk = 0, kLiveUsage = 1, kLiveBadDirectory = 2 };

// Parses the arguments (argv[0] is the program). Returns kLiveOk, or
// kLiveUsage with a one-line reason in `why`. *help is set for --help,
// *version for --version.
int ParseLiveOptions(int argc, const char* const* argv, LiveOptions* options, int* help, int* version,
                     char* why, int whySize);
void PrintLiveHelp();

// Runs the console live from "Orvale.INI" in the working directory. On a
// working directory that cannot be used `error` holds a one-line reason.
// Returns a LiveStatus.
int RunLive(const LiveOptions& options, LiveSummary* summary, char* error, int errorSize);
// Ends a run from a signal handler or another thread.
void RequestLiveStop();
// The summary as one line.
void FormatLiveSummary(const LiveSummary& s, char* out, int size);
