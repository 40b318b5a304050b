// Output files: the one way every writer (.K4P, .K4B, XTF, the .K41 copy,
// BMP pictures) creates, writes, flushes and closes a file. The record keeps
// the byte count and a sticky failure, so a write that came up short, a flush
// that met a full disk or a close that reported an error is seen by the
// writer instead of being lost.
//
// Contract
//   - OpenOutputFile resets the record, then opens. Returns 1, or 0 with
//     lastErrno set (an exclusive create of an existing file gives EEXIST).
//   - WriteOutput returns 1 when all the bytes were taken. A short or failed
//     write returns 0, counts in failedWrites and sets the failure; `bytes`
//     grows by whole writes only. The stream is buffered: a full disk may
//     show only at the next flush or at the close.
//   - FlushOutput / SyncOutput / CloseOutput return 0 when they fail, and
//     CloseOutput also returns 0 when any earlier write, flush or sync of the
//     file failed: a 1 from CloseOutput means every byte reached the file.
//   - The record keeps its counts and its failure after the close until the
//     next open, so a writer can report them afterwards.
//   - Nothing allocates per write (stdio's buffer is taken once per file).
//
// Fault injection (tests only)
//   SetOutputFault arms a fault for the files opened after it whose path ends
//   in `pathSuffix` (empty: every file); ClearOutputFault disarms it, and the
//   files already open keep what they took at their open. With
//   `writeLimitBytes` >= 0, a write that would pass that many bytes in the
//   file writes up to the limit and fails with ENOSPC, as a full disk does
//   (a short write); later writes fail whole. `failFlush` makes every flush
//   and sync fail with EIO, `failClose` makes the close report EIO (the file
//   is still closed), `failOpen` makes the open fail with EACCES.
//   Set it from the thread that opens the files, before they are opened.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr int kOutputPathBytes = 512;
constexpr int kOutputFaultSuffixBytes = 64;

enum OutputOpenMode {
  kOutputCreate = 0,     // create or replace (truncate)
  kOutputExclusive = 1,  // create; fails with EEXIST when the file exists
  kOutputAppend = 2,     // create or append at the end
};

struct OutputFile {
  FILE* stream = nullptr;          // set by OpenOutputFile, cleared by CloseOutput
  char path[kOutputPathBytes] = "";  // set by OpenOutputFile; kept after the close
  int64_t bytes = 0;               // bytes of whole writes since the open
  int failed = 0;                  // sticky: any write, flush, sync or close failed; cleared by the open
  int lastErrno = 0;               // errno of the last failure (also of a failed open)
  int failedWrites = 0;            // short or failed writes since the open
  int failedFlushes = 0;           // failed flushes and syncs since the open
  int closeFailed = 0;             // the close itself reported an error
  // ---- injected faults, copied from the armed fault at the open
  int64_t faultLimitBytes = -1;    // bytes the file may hold; -1 no limit
  int64_t faultBytesSoFar = 0;     // bytes handed to the stream, partial writes included
  int faultFlush = 0;
  int faultClose = 0;
};

// Opens `path` in `mode` (OutputOpenMode). The record must not hold an open
// stream (close it first; an open one is closed and its result dropped).
[[nodiscard]] int OpenOutputFile(OutputFile& f, const char* path, int mode);
// Appends `size` bytes. Returns 1 when all were taken.
int WriteOutput(OutputFile& f, const void* data, size_t size);
// Hands stdio's buffer to the system. Returns 1, 0 on failure.
int FlushOutput(OutputFile& f);
// Flushes and asks the system to put the file on the disk (fsync). Returns 1,
// 0 on failure.
int SyncOutput(OutputFile& f);
// Flushes and closes. Returns 1 when the close and every write, flush and
// sync since the open succeeded; 0 otherwise. Harmless on a closed record.
int CloseOutput(OutputFile& f);
int OutputOpen(const OutputFile& f);
int OutputFailed(const OutputFile& f);
int64_t OutputBytes(const OutputFile& f);

// ---- fault injection for the tests (see above)
struct OutputFault {
  char pathSuffix[kOutputFaultSuffixBytes] = "";
  int64_t writeLimitBytes = -1;
  int failFlush = 0;
  int failClose = 0;
  int failOpen = 0;
};
void SetOutputFault(const OutputFault& fault);
void ClearOutputFault();
