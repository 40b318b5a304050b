// The ping cycle shared by Head and File mode: decode the ping record, take a
// played record's settings over, form the beams, detect the profile, draw,
// publish the outputs and finish the record, in that fixed order because
// every stage reads what the one before produced. It sits above every domain
// module and calls each directly; none of them calls back up into it.
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
  int playedPositionsSeen = 0;    // g_playback.positionUpdates last handed to the track

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
  int historyResetsSeen = 0;      // the beamformer's clear count detection has followed
  int menusBuiltMode = -1;        // display mode the menus and the Altitude window last followed

  // ---- counters (tests and the converter's summary)
  int pingsDecoded = 0;
  int pingsRejected = 0;
  int pingsProcessed = 0;         // decoded pings that went through every stage
  int tableRebuilds = 0;
  int processingResets = 0;
  int frequencyRefreshes = 0;
};
extern PerPingState g_perPing;

void ResetPerPing();

// One-time set-up of the processing and display chain, the start-up part
// that comes before the first ping: weight table, perspective constants,
// colour table, and a forced frequency refresh (geometry, processing reset,
// display tables).
void InitPipeline();

// Reads the settings file and does the work that follows some of its keys:
// the frequency refresh (at once when the pipeline exists, otherwise left to
// InitPipeline), detection's minimum range back to 0.1 m, and the outlier
// filters' switches. Returns what LoadSettings returned.
int LoadConsoleSettings(const char* path);
void FollowLoadedSettings();

// Clears every history of the processing chain: the beamformer's rings and
// rows (ResetProcessing) and detection's point histories. Inside the cycle,
// between decoding and beamforming, the ping already decoded is kept.
void ResetProcessingChain();

// Beams into BeamImage, then (when enabled) the profile: detection with its
// point histories cleared first whenever the beamformer cleared its own.
// Returns what ProcessPing returned.
int FormBeamsAndProfile();

// The picture cleared with its grid put back (the overlay is drawn only when
// tables are built, so a plain clear would lose it); ...AndShow also blits it.
void ClearPicture();
void ClearAndShowPicture();

// Playback opened a file: forget the last record's values so the first
// record of the file reconfigures the tables.
void ForgetPlayedSettings();

// Rebuilds geometry, processing and display tables when the frequency in use
// or the range offset changed since the last refresh (or a rebuild is forced);
// the beam-sample slots are cleared with them. Returns 1 when it rebuilt.
int FrequencyAndHeadRefresh();
void ForceFrequencyRefresh();

// Builds the display tables for DisplayType (BuildDisplayMode), then gives
// the menus what the mode built allows: "Remove Background" in Sector mode
// only, roll correction, tilt, "Display Altitude" and the grid types in
// Profile mode only. Leaving Profile mode closes the Altitude window and
// remembers whether it was open; entering it shows the window again if it
// was. Every display-table build of the console goes through here.
int BuildDisplayTables();

// Head mode, at a ping boundary (the acquisition loop, before it asks for
// packet 0): a display mode chosen since the last ping is built now.
// Returns 1 when it built.
int ApplyRequestedDisplayMode();

// Runs the per-ping processing on the record in g_pingRecord. Returns 1 when
// the ping was decoded and processed, 0 when the decoder rejected it.
int ProcessDecodedRecord();
