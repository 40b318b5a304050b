// The per-ping processing shared by Head and File mode: decode the ping
// record, take a played record's settings over, form the beams, detect the
// profile, draw, publish the outputs and finish the record, in that fixed
// order because every stage reads what the one before produced.
#pragma once

struct PerPingState {
  // ---- File mode: values of the record played last, against which each new
  // record is compared; "none yet" values make the first record reconfigure.
  int lastRange = 1000;
  int lastGain = 1000;
  int lastFrequencyKHz = -1;
  int lastDisplayGain = -1;
  int lastDataType = -1;
  double lastTiltDeg = 1000.0;

  // ---- frequency and head refresh: what the tables were last built for
  int refreshFrequencyKHz = -1;   // -1 forces the next refresh
  int refreshRangeOffset = 0;

  // ---- timing of the last ping (milliseconds), read by playback pacing
  double procTimeMs = 0.0;
  double plotTimeMs = 0.0;

  // ---- switches
  int screenUpdate = 1;           // fast playback draws without showing its averaged records
  int pauseOnReject = 1;          // a rejected record pauses 50 ms (the console, not a batch tool)
  int pipelineReady = 0;          // InitPipeline has run

  // ---- counters (tests and the converter's summary)
  int pingsDecoded = 0;
  int pingsRejected = 0;
  int pingsProcessed = 0;         // decoded pings that went through every stage
  int tableRebuilds = 0;
  int processingResets = 0;
  int frequencyRefreshes = 0;
  int sidescanPings = 0;          // pings since the sidescan window was opened
};
extern PerPingState g_perPing;

void ResetPerPing();

// One-time set-up of the processing and display chain, the start-up part
// that comes before the first ping: weight table, perspective constants,
// colour table, detection hooks, beam-test raster, and a forced frequency
// refresh (geometry, processing reset, display tables).
void InitPipeline();

// Hands the settings loader the work that follows some of its keys
// (frequency refresh, detection's minimum range, the outlier filters'
// switches). Must run before LoadSettings; InitPipeline repeats it, which is
// harmless.
void InstallSettingsFollowUps();

// Playback opened a file: forget the last record's values so the first
// record of the file reconfigures the tables.
void ForgetPlayedSettings();

// Rebuilds geometry, processing and display tables when the frequency in use
// or the range offset changed since the last refresh (or a rebuild is forced).
// Returns 1 when it rebuilt.
int FrequencyAndHeadRefresh();
void ForceFrequencyRefresh();

// Runs the per-ping processing on the record in g_pingRecord. Returns 1 when
// the ping was decoded and processed, 0 when the decoder rejected it.
int ProcessDecodedRecord();
