// The headless conversion run. It is the console's own start-up for a
// command-line conversion (CreateConsole, StartConsole: settings, command
// line, File mode with the operator's head values kept aside, the output
// socket, the processing and display chain) and then steps playback until the end of the file ends the
// run, with no pacing and no pause on a rejected record: a batch tool should
// take as long as the work takes and no longer. Message boxes go to stderr.
// Owns: a copy of the last picture (for --save-picture) and the run summary.
#include "app/convert_run.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "console/command_line.h"
#include "console/conversion.h"
#include "console/playback.h"
#include "console/ping_cycle.h"
#include "console/run_mode.h"
#include "processing/xtf.h"
#include "head/switch_command.h"
#include "imaging/bmp_writer.h"
#include "imaging/palette.h"
#include "imaging/scan_convert.h"
#include "platform/platform.h"
#include "platform/recording.h"
#include "processing/outputs.h"
#include "processing/profile_detect.h"
#include "settings/settings.h"

namespace {

ConvertSummary* s_summary = nullptr;
int s_keepPicture = 0;
uint8_t s_picture[kImageHeight][kImageWidth];

constexpr double kNadirConeRad = 20.0 * 3.14159265358979 / 180.0;
float s_depths[kMaxBeams];

// Depth below the sonar of this ping's profile: the median of the points
// within 20 degrees of the vertical (a single stray point cannot move it).
// 0 when there is none.
double ProfileDepthM() {
  const ProfilePointSet& p = g_profilePoints;
  int count = 0;
  for (int b = 0; b < p.beams && b < kMaxBeams; ++b) {
    if (p.Range[b] > 0.0f && std::fabs(p.SteerAngle[b]) <= kNadirConeRad) s_depths[count++] = p.Down[b];
  }
  if (count == 0) return 0.0;
  std::nth_element(s_depths, s_depths + count / 2, s_depths + count);
  return s_depths[count / 2] * DetectionRangeM() / 500.0;
}

// The per-ping processing, plus what the run reports afterwards.
int SummarisingProcessor() {
  const int ok = ProcessDecodedRecord();
  if (s_summary == nullptr || !ok) return ok;
  const double depth = g_settings.ProfilePointDetection == 1 ? ProfileDepthM() : 0.0;
  if (depth > 0.0) {
    if (s_summary->depthPings == 0 || depth < s_summary->minDepthM) s_summary->minDepthM = depth;
    if (s_summary->depthPings == 0 || depth > s_summary->maxDepthM) s_summary->maxDepthM = depth;
    s_summary->depthPings++;
  }
  // The end of the file clears the picture, so the last one is kept here.
  if (s_keepPicture) std::memcpy(s_picture, g_scan.ImageBuffer, sizeof s_picture);
  return ok;
}

struct PicturesHidden {
  PicturesHidden() { plat::SetPicturesShown(0); }
  ~PicturesHidden() { plat::SetPicturesShown(1); }
  PicturesHidden(const PicturesHidden&) = delete;
  PicturesHidden& operator=(const PicturesHidden&) = delete;
};

void SetError(char* error, int errorSize, const char* text, const char* name) {
  if (error && errorSize > 0) std::snprintf(error, static_cast<size_t>(errorSize), text, name);
}

void ShowProgress(double elapsedS, int final) {
  const double fraction = g_player.fileSize > 0 ? static_cast<double>(g_player.filePosition) / g_player.fileSize : 1.0;
  const int percent = final ? 100 : static_cast<int>(fraction * 100.0);
  const double rate = elapsedS > 0.0 ? g_perPing.pingsProcessed / elapsedS : 0.0;
  std::fprintf(stderr, "\rorvale-convert: %d records, %3d%%, %.0f pings/s   %s", g_player.recordsRead, percent,
               rate, final ? "\n" : "");
  std::fflush(stderr);
}

}  // namespace

int RunConversion(const ConvertOptions& options, ConvertSummary* summary, char* error, int errorSize) {
  ConvertSummary local;
  if (summary == nullptr) summary = &local;
  *summary = ConvertSummary{};
  if (error && errorSize > 0) error[0] = '\0';
  const char sw = options.outputSwitch;
  if (options.name == nullptr || options.name[0] == '\0' || !(sw == 'p' || sw == 'b' || sw == 'x')) {
    SetError(error, errorSize, "a file name and one of /p, /b, /x are needed%s", "");
    return kConvertUsage;
  }

  plat::rec::Reset();
  plat::rec::Get().echoMessagesToStderr = 1;
  // Nothing paints a conversion's pictures (the last one is kept for
  // --save-picture); a caller that goes on to show pictures gets them back.
  PicturesHidden hidden;
  ResetSwitchState();
  ResetPerPing();
  g_perPing.pauseOnReject = 0;
  CreateConsole(options.settingsPath);

  char text[kCommandLineMaxChars + 8];
  const int n = std::snprintf(text, sizeof text, "%s /%c", options.name, sw);
  if (n <= 0 || n > kCommandLineMaxChars) {
    SetError(error, errorSize, "%s: the name is too long", options.name);
    return kConvertBadFile;
  }
  // The console's own start-up: the command line sets up the run and File
  // mode opens its file.
  if (StartConsole(text) != kCmdConversion) {
    const char* name = g_commandLine.fileName[0] ? g_commandLine.fileName : options.name;
    switch (g_commandLine.error) {
      case kCmdErrExtension: SetError(error, errorSize, "%s: the extension must be .K41", name); break;
      case kCmdErrOpen: SetError(error, errorSize, "%s: cannot open the file", name); break;
      case kCmdErrMagic: SetError(error, errorSize, "%s: not a sonar data file (no K41 record at its start)", name); break;
      default: SetError(error, errorSize, "%s: unusable file name", name); break;
    }
    return kConvertBadFile;
  }
  // The command line drops an output it could not create and plays on; a
  // batch tool must not report success for a product it never made.
  const CommandLineState& c = g_commandLine;
  const int missing = (c.writePoints && c.pointName[0] == '\0') || (c.writeBeams && c.beamName[0] == '\0') ||
                      (c.writeXtf && c.xtfName[0] == '\0');
  if (missing) {
    SetError(error, errorSize, "%s: its output could not be created", c.fileName);
    ShutdownConsole();
    return kConvertFailed;
  }
  if (!g_runMode.lastPlaybackOpened) {
    SetError(error, errorSize, "%s: cannot be played", g_commandLine.fileName);
    ShutdownConsole();
    return kConvertBadFile;
  }
  g_player.pacing = 0;

  s_summary = summary;
  s_keepPicture = options.savePicture != nullptr;
  std::memset(s_picture, 0, sizeof s_picture);
  SetRecordProcessor(SummarisingProcessor);
  const int64_t start = plat::CounterNow();
  double lastShown = -1.0;
  while (!g_player.quitRequested && g_player.fileOpen) {
    PlaybackStep();
    if (options.progress) {
      const double t = plat::CounterMs(start, plat::CounterNow()) * 0.001;
      if (t - lastShown >= 0.25) {
        ShowProgress(t, 0);
        lastShown = t;
      }
    }
  }
  summary->seconds = plat::CounterMs(start, plat::CounterNow()) * 0.001;
  if (options.progress) ShowProgress(summary->seconds, 1);
  SetRecordProcessor(nullptr);
  s_summary = nullptr;

  summary->recordsRead = g_player.recordsRead;
  summary->pointsWithoutDetection = g_commandLine.writePoints && g_settings.ProfilePointDetection != 1;
  summary->pingsProcessed = g_perPing.pingsProcessed;
  summary->pingsRejected = g_perPing.pingsRejected;

  int status = kConvertOk;
  if (options.savePicture) {
    summary->pictureSaved = WriteBmpFile(options.savePicture, &s_picture[0][0], kImageWidth, kImageHeight, 8,
                                         g_palette.pictureColours, kPaletteSize);
    if (!summary->pictureSaved) {
      SetError(error, errorSize, "%s: the picture could not be written", options.savePicture);
      status = kConvertFailed;
    }
  }
  // Shutdown closes the file, the outputs and the socket and saves the
  // settings as the console does at exit. The end of the file closed the
  // outputs already; each keeps whether it lost a write (a short write, a
  // full disk at a flush, a failed close).
  ShutdownConsole();
  if (status == kConvertOk && (PointFileFailed() || BeamFileFailed() || XtfFileFailed())) {
    const char* name = PointFileFailed() ? g_commandLine.pointName
                       : BeamFileFailed() ? g_commandLine.beamName
                                          : g_commandLine.xtfName;
    SetError(error, errorSize, "%s: the output could not be written completely", name);
    status = kConvertFailed;
  }
  return status;
}
