// Playback of a recorded .K41 file in File mode: opening and validating the
// file, the playback step of the main loop (normal or fast), pacing, the end
// of the file, the position bar and the speed slider of the Playback window,
// and the copy of the records read.
#pragma once

#include <cstdint>
#include <cstdio>

#include "files/output_file.h"

constexpr int kPlaybackNameBytes = 257;
constexpr int kRealtimeMaxDelayMs = 2000;  // a recorded gap this long is not waited for
constexpr int kHoldSleepMs = 50;

// Results of PlaybackStep.
enum PlaybackStepResult {
  kStepHeld = 0,       // hold is set: slept 50 ms
  kStepNoFile = 1,     // no file open
  kStepRecord = 2,     // one record (or one fast group) read
  kStepEndOfFile = 3,  // the end of the file was met and handled
};

struct PlaybackState {
  // ---- the file: opened by OpenPlaybackFile, closed by Close, a rejected
  // open, a run-mode change or shutdown
  FILE* file = nullptr;
  int fileOpen = 0;
  char fileName[kPlaybackNameBytes] = "";
  int64_t fileSize = 0;
  int64_t filePosition = 0;        // after the last whole record read

  // ---- flags
  int skipNext = 1;                // set at start-up and each end of file; cleared after every read
  int fastPlayback = 0;            // menu "&Fast Playback"; not persisted
  int hold = 0;                    // HOLD button
  int commandLineRun = 0;          // the end of the file ends the program
  int quitRequested = 0;           // set at that end; the main loop closes the window
  int pacing = 1;                  // 0: the headless converter plays as fast as it can

  // ---- counts
  int recordsRead = 0;             // reads that returned a record
  int recordsProcessed = 0;        // records handed to the per-ping processing
  int endsOfFile = 0;
  int lastPingPeriodMs = 0;        // the played record's period, for real-time pacing

  // ---- Playback window
  float markerFraction = -1.0f;    // position fraction last drawn

  // ---- copy of the records read ("&Copy Start...")
  OutputFile copyFile;             // keeps its count and failure after StopCopy until the next start
  int copying = 0;
  char copyName[kPlaybackNameBytes] = "";
  int64_t bytesCopied = 0;         // whole items only: the copy's size after a failed write is cut back
  int copyWriteErrors = 0;         // items lost to a short or failed write or to a full disk
  int copyCloseErrors = 0;         // stops whose close reported a lost write
  int copyKbShown = -1;
  int copyErrorsShown = 0;         // write errors the title shows
  int copyErrorReported = 0;       // the write-error message was shown for this copy
};
extern PlaybackState g_player;

// Closes the files and clears the state (skip next set, as at start-up).
void ResetPlayback();

// The record processor the playback step hands each record to; nullptr
// restores the full per-ping processing (ProcessDecodedRecord).
using RecordProcessor = int (*)();
void SetRecordProcessor(RecordProcessor fn);

// ---------------------------------------------------------------- opening
// Menu "&Playback File...": shows the Playback window, asks for a file and
// opens it; the batch counters are cleared. Returns 1 when a file is open.
int ChoosePlaybackFile();
// Opens a named file for playback with its checks and messages (caption
// "Open a Sonar File For Playback"). A wrong extension keeps the previous
// file; a wrong magic closes it. Returns 1 when open.
int OpenPlaybackFile(const char* path);
void ClosePlaybackFile();

// ---------------------------------------------------------------- stepping
// One step of the main loop in File mode (without the pacing sleep).
int PlaybackStep();
// The fast step: an averaged group, then a jump of 160 KiB and a scan.
int FastStep();
// Milliseconds the main loop sleeps after a step: real-time pacing from the
// record's ping period less the time spent on it (only when 0 < d < 2000),
// otherwise PlaybackDelay when positive. 0 while pacing is off.
int PacingDelayMs();
// The pacing rule itself, for the given values.
int PacingDelayFor(int realtime, int pingPeriodMs, double procMs, double plotMs, int playbackDelayMs);
// Step, then sleep the pacing delay. Returns what PlaybackStep returned.
int RunFileModeStep();

// ---------------------------------------------------------------- menu toggles
// Menu items 17 and 14, File mode only. Return the new state.
int ToggleFastPlayback();
int ToggleRealtimePlayback();

// ---------------------------------------------------------------- Playback window
// Client rectangle geometry: left L, right Rt, top T.
// The speed slider: neither fast nor real-time playback, L+15 <= x < Rt-15,
// T+20 < y < T+31. Returns 1 when PlaybackDelay and PlaybackDelayX changed.
int SpeedSliderClick(int x, int y, int left, int right, int top);
// PlaybackDelay for a slider value a = 0..100.
int PlaybackDelayOfSlider(int a);
// The position bar: a file open, L+15 <= x < Rt-15, T+60 < y < T+71.
// Returns the position w = 0..100 clicked, or -1 when outside; only
// 0 < w < 100 moves the file.
int PositionBarClick(int x, int y, int left, int right, int top);
// Column of the position marker for the current file position.
int PositionMarkerX(int left, int right);
// After each processed record: redraws the marker when it moved.
void MovePositionMarker();

// ---------------------------------------------------------------- copy
// Menu item 16: start (save dialog) or stop the copy of the records read.
int StartCopy();
int StartCopyTo(const char* path);
// Returns 0 when the copy lost a write (a short write, a failed flush or a
// failed close); 1 also when no copy was running.
int StopCopy();
// 1 when the copy running now, or the last one stopped, lost a write.
int CopyFailed();
