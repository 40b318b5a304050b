// Command line of the conversion run. The text the program was started with
// names a recorded file and an output switch; ProcessCommandLine checks the
// file (extension, readability, magic), creates the selected outputs beside
// it through the output and XTF writers, and puts the program into File mode
// so that playback converts the file once and ends the program at its end.
// Owns: the four command-line flags and the names it formed.
#include "console/command_line.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "console/playback.h"
#include "processing/xtf.h"
#include "processing/outputs.h"
#include "settings/settings.h"

CommandLineState g_commandLine;

void ResetCommandLine() { g_commandLine = CommandLineState{}; }

namespace {

int IsCommandLineBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Start of the file-name part of a path (after the last separator).
const char* BaseName(const char* path) {
  const char* b = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') b = p + 1;
  return b;
}

int Fail(int error) {
  g_commandLine.error = error;
  return kCmdClose;
}

}  // namespace

int ProcessCommandLine(const char* text) {
  CommandLineState& c = g_commandLine;
  c.conversionRun = c.writePoints = c.writeBeams = c.writeXtf = 0;
  c.error = kCmdErrNone;
  c.fileName[0] = c.pointName[0] = c.beamName[0] = c.xtfName[0] = '\0';
  if (text == nullptr) return kCmdInteractive;
  const size_t total = std::strlen(text);
  if (total == 0 || total > kCommandLineMaxChars) return kCmdInteractive;

  char buf[kCommandLineMaxChars + 1];
  std::memcpy(buf, text, total + 1);
  int end = static_cast<int>(total);
  while (end > 0 && IsCommandLineBlank(buf[end - 1])) --end;
  buf[end] = '\0';
  int begin = 0;
  while (buf[begin] && IsCommandLineBlank(buf[begin])) ++begin;

  // The switch: a final word of '/' and one letter.
  char letter = 0;
  if (end - begin >= 2 && buf[end - 2] == '/' && std::isalpha(static_cast<unsigned char>(buf[end - 1])) &&
      (end - 2 == begin || IsCommandLineBlank(buf[end - 3]))) {
    letter = static_cast<char>(std::tolower(static_cast<unsigned char>(buf[end - 1])));
    end -= 2;
    while (end > begin && IsCommandLineBlank(buf[end - 1])) --end;
    buf[end] = '\0';
  }
  if (letter == 'p') c.writePoints = 1;
  if (letter == 'b') c.writeBeams = 1;
  if (letter == 'x') c.writePoints = c.writeXtf = 1;

  // A quoted name loses its quotes.
  char* name = buf + begin;
  size_t len = std::strlen(name);
  if (len >= 2 && name[0] == '"' && name[len - 1] == '"') {
    name[len - 1] = '\0';
    ++name;
    len -= 2;
  }
  if (len == 0) return kCmdInteractive;

  const char* dot = std::strrchr(BaseName(name), '.');
  int n;
  if (dot == nullptr) n = std::snprintf(c.fileName, sizeof c.fileName, "%s.K41", name);
  else n = std::snprintf(c.fileName, sizeof c.fileName, "%s", name);
  if (n <= 0 || n >= static_cast<int>(sizeof c.fileName)) return Fail(kCmdErrName);
  const char* ext = std::strrchr(BaseName(c.fileName), '.');
  if (ext == nullptr || strcasecmp(ext, ".K41") != 0) return Fail(kCmdErrExtension);

  FILE* f = std::fopen(c.fileName, "rb");
  if (f == nullptr) return Fail(kCmdErrOpen);
  char magic[3] = {};
  const size_t got = std::fread(magic, 1, 3, f);
  std::fclose(f);
  if (got != 3 || magic[0] != 'K' || magic[1] != '4' || magic[2] != '1') return Fail(kCmdErrMagic);

  c.conversionRun = 1;
  const int baseLen = static_cast<int>(ext - c.fileName);
  // An output whose name would not fit is not created rather than cut short.
  auto formName = [&](char* out, const char* suffix) {
    const int m = std::snprintf(out, kCommandLineNameBytes, "%.*s%s", baseLen, c.fileName, suffix);
    if (m <= 0 || m >= kCommandLineNameBytes) out[0] = '\0';
    return out[0] != '\0';
  };
  if (c.writePoints && formName(c.pointName, ".K4P")) {
    if (OpenPointFile(c.pointName)) g_settings.DataOutputType = kOutputPoints;
    else c.pointName[0] = '\0';
  }
  if (c.writeBeams && formName(c.beamName, ".K4B")) {
    if (OpenBeamFile(c.beamName)) g_settings.DataOutputType = kOutputBeams;
    else c.beamName[0] = '\0';
  }
  if (c.writeXtf && formName(c.xtfName, "_sss.XTF")) {
    if (!OpenXtfFile(c.xtfName)) c.xtfName[0] = '\0';
  }
  g_settings.RunMode = 1;
  return kCmdConversion;
}

int StartCommandLinePlayback() {
  if (!g_commandLine.conversionRun) return 0;
  if (!OpenPlaybackFile(g_commandLine.fileName)) return 0;
  g_player.commandLineRun = 1;
  g_player.quitRequested = 0;
  return 1;
}
