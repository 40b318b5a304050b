// Batch conversion of .K41 files into .K4P, .K4B or XTF files: the file
// selection, the next-file step at each end of file, opening a file with its
// output, and the output names beside the input.
#pragma once

constexpr int kSelectionBufferBytes = 65536;
constexpr int kMaxBatchFiles = 1000;
constexpr int kConversionNameBytes = 257;

enum ConversionKind { kConvertK4P = 0, kConvertK4B = 1, kConvertXtf = 2 };

struct ConversionState {
  int kind = kConvertK4P;              // set by the menu command
  // The file dialog's result: one full path, or the directory and the names,
  // each ended by NUL, the list by a second NUL.
  char selection[kSelectionBufferBytes] = {};
  int nameOffsets[kMaxBatchFiles] = {};
  int batchCount = 0;                  // files selected, 0 when no batch runs
  int batchIndex = 0;                  // the next file to open
  int batchDone = 1;                   // no batch running: opening creates no output
  char fileName[kConversionNameBytes] = "";  // the file opened last for conversion
  int filesOpened = 0;                 // files opened with their output
  int namesRefused = 0;                // directory + name too long for a path
};
extern ConversionState g_conversion;

void ResetConversion();

// Dialog title and "Conversion Complete!" caption of a kind.
const char* ConversionTitle(int kind);

// Finds the names in a selection buffer (size bytes): every NUL followed by a
// non-NUL starts one, up to maxNames. Returns the count, 1 when there is no
// such position (the buffer holds one full path).
int ParseSelection(const char* buffer, int size, int* offsets, int maxNames);

// Menu items 11-13: shows the Playback window, asks for the files and opens
// the first. Returns 1 when a file was opened for conversion.
int StartBatch(int kind);
// The same from a selection already in hand (size bytes, as the dialog gives it).
int StartBatchWithSelection(int kind, const char* selection, int size);
// 1 while a batch is running.
int BatchRunning();
// At the end of a played file: the next file, or "Conversion Complete!".
// Returns 1 when a file was opened.
int NextConversionFile();
// Opens a file for playback and, unless the batch is done, its output.
int OpenFileForConversion(const char* path);

// Output file beside the input: kind 0 and 1 replace the three extension
// characters by "K4P" / "K4B"; kind 2 replaces ".K41" by "_sss.XTF".
// Returns 1, or 0 when the name does not fit or has no 3-character extension.
int ConversionOutputName(const char* input, int kind, char* out, int outSize);

// Closes the .K4P, .K4B and XTF outputs that are open.
void CloseConversionOutputs();
