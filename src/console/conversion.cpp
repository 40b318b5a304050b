// Batch conversion. A File-menu command picks one or many .K41 files; each is
// opened for playback (files/playback) together with its product beside it,
// a .K4P or .K4B file (processing/outputs) or an XTF file (files/xtf), and
// played through once; the per-ping output sequence writes the product. At
// each end of file playback calls NextConversionFile, which opens the next
// name of the selection or, after the last, says "Conversion Complete!".
// Owns: the selection buffer and its name offsets, the batch counters and
// the conversion kind.
#include "console/conversion.h"

#include <cstdio>
#include <cstring>

#include "console/playback.h"
#include "processing/xtf.h"
#include "platform/platform.h"
#include "processing/outputs.h"
#include "settings/settings.h"

ConversionState g_conversion;

void ResetConversion() { g_conversion = ConversionState{}; }

const char* ConversionTitle(int kind) {
  switch (kind) {
    case kConvertK4B: return "Convert .K41 Sonar File(s) To .K4B Format";
    case kConvertXtf: return "Convert .K41 Sidescan To .XTF Format";
    default: return "Convert .K41 Sonar File(s) To .K4P Format";
  }
}

int ParseSelection(const char* buffer, int size, int* offsets, int maxNames) {
  if (buffer == nullptr || size <= 0) return 0;
  int count = 0;
  // The list ends at the first pair of NULs; what lies beyond is not part of it.
  for (int i = 0; i + 1 < size && count < maxNames; ++i) {
    if (buffer[i] != '\0') continue;
    if (buffer[i + 1] == '\0') break;
    if (offsets) offsets[count] = i + 1;
    ++count;
  }
  return count == 0 ? 1 : count;
}

void CloseConversionOutputs() {
  ClosePointFile();
  CloseBeamFile();
  CloseXtfFile();
}

int ConversionOutputName(const char* input, int kind, char* out, int outSize) {
  if (input == nullptr || out == nullptr || outSize <= 0) return 0;
  const size_t len = std::strlen(input);
  if (len < 4 || input[len - 4] != '.') return 0;
  int n;
  if (kind == kConvertXtf) {
    n = std::snprintf(out, static_cast<size_t>(outSize), "%.*s_sss.XTF", static_cast<int>(len - 4), input);
  } else {
    n = std::snprintf(out, static_cast<size_t>(outSize), "%.*s%s", static_cast<int>(len - 3), input,
                      kind == kConvertK4B ? "K4B" : "K4P");
  }
  return n > 0 && n < outSize;
}

int OpenFileForConversion(const char* path) {
  if (!OpenPlaybackFile(path)) return 0;
  if (path != g_conversion.fileName)
    std::snprintf(g_conversion.fileName, sizeof g_conversion.fileName, "%s", path);
  CloseConversionOutputs();
  if (g_conversion.batchDone) return 1;
  char out[kConversionNameBytes];
  if (!ConversionOutputName(path, g_conversion.kind, out, sizeof out)) return 1;
  // A product that cannot be created is skipped; the file plays anyway.
  if (g_conversion.kind == kConvertK4P) {
    OpenPointFile(out);
  } else if (g_conversion.kind == kConvertK4B) {
    // Beam records are only written while beam output is selected; a .K4B
    // conversion selects it, as the command line's /b does, rather than end
    // with "Conversion Complete!" and an empty file.
    if (OpenBeamFile(out)) g_settings.DataOutputType = kOutputBeams;
  } else {
    OpenXtfFile(out);
  }
  g_conversion.filesOpened++;
  return 1;
}

// Directory of the selection, a separator, and name number `index`.
static int BatchName(int index, char* out, int outSize) {
  const ConversionState& c = g_conversion;
  const char* dir = c.selection;
  const char* name = c.selection + c.nameOffsets[index];
  const size_t dirLen = std::strlen(dir);
  const int needsSep = dirLen > 0 && dir[dirLen - 1] != '/' && dir[dirLen - 1] != '\\';
  const int n = std::snprintf(out, static_cast<size_t>(outSize), "%s%s%s", dir, needsSep ? "/" : "", name);
  return n > 0 && n < outSize;
}

int NextConversionFile() {
  ConversionState& c = g_conversion;
  char name[kConversionNameBytes];
  for (;;) {
    if (c.batchCount <= 1 || c.batchIndex >= c.batchCount) {
      c.batchCount = 0;
      c.batchIndex = 0;
      c.batchDone = 1;
      plat::MessageBox(ConversionTitle(c.kind), "Conversion Complete!");
      CloseConversionOutputs();
      // The last file plays on, without an output, as ordinary playback.
      return c.fileName[0] != '\0' ? OpenFileForConversion(c.fileName) : 0;
    }
    const int index = c.batchIndex++;
    if (BatchName(index, name, sizeof name)) break;
    // A name too long for a path is passed over rather than cut short.
    c.namesRefused++;
  }
  std::snprintf(c.fileName, sizeof c.fileName, "%s", name);
  return OpenFileForConversion(name);
}

int BatchRunning() { return !g_conversion.batchDone && g_conversion.batchCount > 0; }

int StartBatchWithSelection(int kind, const char* selection, int size) {
  ConversionState& c = g_conversion;
  c.kind = (kind >= kConvertK4P && kind <= kConvertXtf) ? kind : kConvertK4P;
  std::memset(c.selection, 0, sizeof c.selection);
  if (selection == nullptr || size <= 0) return 0;
  // The last two bytes stay NUL so the list always ends.
  const int n = size < kSelectionBufferBytes - 2 ? size : kSelectionBufferBytes - 2;
  std::memcpy(c.selection, selection, static_cast<size_t>(n));
  c.batchCount = ParseSelection(c.selection, kSelectionBufferBytes, c.nameOffsets, kMaxBatchFiles);
  c.batchDone = 0;
  c.batchIndex = 0;
  if (c.batchCount == 1) {
    const size_t len = std::strlen(c.selection);
    if (len >= sizeof c.fileName) {
      c.namesRefused++;
      c.batchCount = 0;
      c.batchDone = 1;
      return 0;
    }
    std::memcpy(c.fileName, c.selection, len + 1);
    return OpenFileForConversion(c.fileName);
  }
  return NextConversionFile();
}

int StartBatch(int kind) {
  plat::ShowWindow(plat::kWinPlayback, 1);
  plat::FileDialogRequest req;
  req.title = ConversionTitle(kind);
  req.filter = "Orvale Multibeam Sonar Files (*.K41)|*.K41";
  req.defaultExt = "K41";
  req.multiSelect = 1;
  static char buffer[kSelectionBufferBytes];
  std::memset(buffer, 0, sizeof buffer);
  if (!plat::FileDialog(req, buffer, sizeof buffer)) return 0;
  // The dialog's list ends at its double NUL; find it to hand over the size.
  int size = 0;
  while (size + 1 < kSelectionBufferBytes && !(buffer[size] == '\0' && buffer[size + 1] == '\0')) ++size;
  return StartBatchWithSelection(kind, buffer, size + 2);
}
