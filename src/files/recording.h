// Recording live pings to .K41 files: starting with an automatic or an
// operator's name, the record written for every completed ping, the split
// into a numbered sequence at the maximum file size, the window title with
// the kilobytes, the coverage log kept open while a recording runs, and the
// free-space reserve below which no recording starts or goes on.
//
// Threads: the start and stop functions run on the user-interface thread (or
// a program's main thread), RecordPing on the acquisition thread inside the
// ping cycle. Every one of them must be called with the console lock held
// (the ui commands and keys, the ping cycle and SetRunMode do), so a start
// or a stop always lands between two pings. The save dialog is asked apart
// (AskRecordingName) so that a caller can give the lock up while it waits.
//
// For a program that records without an operator (orvale-live --record):
//   StartAutomaticRecording()  names by AutoFilenameType in the working directory
//   StartExternalRecording()   the same with date-and-time names switched on
//   StopRecording()            closes, syncs and ends the sequence
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/output_file.h"

constexpr int kRecordingNameBytes = 257;         // 256 characters and the NUL
constexpr int64_t kSplitUnitBytes = 1024000;      // MaximumFilesize counts in these "MBytes"
// Free space kept on the disk: a recording does not start, and stops with a
// message, when writing the next record would leave less than this. 50 MB
// is two minutes of the largest records at 12 pings a second, room enough
// for the settings file, the coverage log and the system to carry on.
constexpr int64_t kDiskReserveBytes = 50LL * 1024 * 1024;
constexpr int kMaxDateNumber = 9999;
constexpr int kMaxSequenceNumber = 9999;

struct RecordingState {
  // ---- the file: opened by a start or a split, closed by a stop, a split or
  // a failure that ends the recording. Read and written under the console lock.
  OutputFile file;                        // keeps its counts after the close until the next open
  int recording = 0;                      // 1 while a file is open
  char name[kRecordingNameBytes] = "";    // the file being written (kept after the stop)
  int64_t bytesWritten = 0;               // whole items in the current file; 0 at each open
  int kbShown = 0;                        // kilobytes in the title; 0 at each open
  int sequenceNumber = 0;                 // 0, or the number of the manual sequence's current file
  char sequenceBase[kRecordingNameBytes] = "";  // the operator's name less ".K41", set at the first split
  int coverageLogOpen = 0;                // OpenCoverageLog succeeded for this file
  char coverageDirectory[kOutputPathBytes] = "";  // where that log is, for its close

  // ---- trouble: cleared by ResetRecording; errorReported by each start
  int writeErrors = 0;                    // failed or short writes of records (whole item lost)
  int writeErrorsShown = 0;               // write errors the title shows
  int errorReported = 0;                  // the write-error message was shown for this recording
  int truncateFailures = 0;               // a failed write could not be cut back
  int closeErrors = 0;                    // closes that reported a lost write
  int diskFullStops = 0;                  // recordings ended by a full disk or the reserve
  int startsRefusedForSpace = 0;
  int renameRefused = 0;                  // first-split renames that met an existing file or failed
  int unformattedPings = 0;               // the writer copy held no known data type

  // ---- counts (tests and diagnostics)
  int filesOpened = 0;
  int splits = 0;
  int pingsRecorded = 0;

  // ---- test hooks, cleared by ResetRecording
  int64_t freeSpaceOverride = -1;         // >= 0: the free space CheckAvailableDiskSpace sees
  int64_t splitBytesOverride = 0;         // > 0: split at this size instead of MaximumFilesize
};
extern RecordingState g_recording;

// Closes an open recording and its coverage log without messages and clears
// the state.
void ResetRecording();
int Recording();

// ---------------------------------------------------------------- start and stop
// Starts a recording in Head mode: automatic names when AutoFilename is 1,
// otherwise the save dialog. Returns 1 when a file is open.
int StartRecording();
// The automatic scheme of AutoFilenameType, without dialog. Names that exist
// are skipped, never replaced.
int StartAutomaticRecording();
// External control's start: AutoFilename 1 and AutoFilenameType 1 (with
// their check marks), then StartAutomaticRecording.
int StartExternalRecording();
// The save dialog "Open a Sonar File For Recording". Returns 1 with the name
// in `out`, 0 when cancelled. Touches no recording state.
int AskRecordingName(char* out, size_t size);
// Starts recording to a name the operator chose (and confirmed, if it
// existed) in the save dialog: the file is replaced.
int StartRecordingTo(const char* path);
// The operator's stop (also the run-mode change and the program end): syncs
// and closes the file, closes the coverage log (deleting it when empty) and
// ends the numbered sequence. Returns 0 when the close lost a write; 1 also
// when nothing was recording.
int StopRecording();

// ---------------------------------------------------------------- per ping
// Writes the record of the completed ping (g_fileWriterRecord) and, with
// frameLength > 0, the camera frame that follows it, then splits at the
// maximum size and updates the title. Returns 1 when the ping was recorded.
int RecordPing(const uint8_t* frame, int frameLength);

// ---------------------------------------------------------------- pieces, for tests and the copy
// Whole items only: appends `first` then `second` (may be empty) and flushes.
// On failure the file is closed, cut back to `wholeBytes` (its size before
// this item) and, unless the disk is full, opened again for appending.
enum AppendResult { kItemWritten = 0, kItemLost, kItemDiskFull, kItemFileLost };
// `errorOut` (may be nullptr) receives the errno of the failure.
int AppendWholeItem(OutputFile& f, int64_t wholeBytes, const void* first, size_t firstSize,
                    const void* second, size_t secondSize, int* errorOut = nullptr);
// 1 when `freeBytes` leaves at least the reserve after `needBytes`.
int SpaceAllows(int64_t freeBytes, int64_t needBytes);
// Free bytes for an unprivileged writer in `directory` (statvfs); -1 when it
// cannot be measured. The test hook stands in for the measurement.
int64_t FreeDiskBytes(const char* directory);
// The free-space check before a file is opened and before each write, in
// the directory of `path` (the working directory when nullptr).
int CheckAvailableDiskSpace(const char* path, int64_t needBytes);
// The split size in bytes: MaximumFilesize x 1 024 000 (or the test hook).
int64_t SplitSizeBytes();
// "12,345 kB" for bytes / 1024, truncated.
void FormatKilobytes(int64_t bytes, char* out, size_t size);
// "07DEC2026" and "123456" from the cycle's time stamp (the local clock
// before the first stamp).
void RecordingDateText(char out[10]);
void RecordingTimeText(char out[7]);
// One more than the largest nnnn of the files "<date>-nnnn.K41" in
// `directory` (case ignored), 1 when there are none. May exceed 9999.
int NextDateNumber(const char* directory, const char* date);
// Renames without ever replacing `to`. Returns 1, or 0 with `from` untouched.
int RenameNoReplace(const char* from, const char* to);
// The directory automatic names and the coverage log go to.
const char* RecordingDirectory();
