// Converting several recordings: each file in a process of its own (up to
// `jobs` at once), each with its own outputs beside its file, and one
// summary for the lot.
#pragma once

#include "app/convert_run.h"

struct BatchFileResult {
  const char* name = nullptr;
  int status = kConvertOk;             // a ConvertStatus, or kConvertFailed for a child that died
  ConvertSummary summary;
  char error[512] = {};
};

struct BatchSummary {
  int files = 0;
  int filesFailed = 0;
  int recordsRead = 0;
  int pingsProcessed = 0;
  int pingsRejected = 0;
  double seconds = 0.0;                // wall time of the whole batch
  int worstStatus = kConvertOk;        // the highest status of any file
};

// Called in the parent as each file finishes, in the order they finish.
typedef void (*BatchFileDone)(const BatchFileResult& result, void* ctx);

// Converts names[0 .. count-1] with `options` (its name is ignored), at most
// `jobs` child processes at a time. With more than one job each child splits
// no ping over two threads unless ORVALE_PING_THREADS says otherwise: the
// processes already fill the cores. Returns the worst status.
int RunConversionBatch(const ConvertOptions& options, const char* const* names, int count, int jobs,
                       BatchSummary* summary, BatchFileDone done, void* ctx);
