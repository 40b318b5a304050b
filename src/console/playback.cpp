// Playback. In File mode the main loop calls PlaybackStep between window
// messages; each step reads the next record of the open .K41 file through the
// record reader (files/sonar_file) and hands it to the per-ping processing
// (head/per_ping), or in fast playback reads an averaged group and jumps
// 160 KiB ahead. At the end of the file it rewinds and loops, ends a
// command-line run, or moves a batch conversion to its next file
// (files/conversion). The Playback window's speed slider and position bar are
// plain functions of the click position, so any window system can call them.
// Owns: the playback file and position, the skip-next, fast and hold flags,
// the pacing rule, and the copy file the records read are appended to.
//
// Index
//   [SECTION] State and helpers
//   [SECTION] Opening and closing
//   [SECTION] Reading, end of file, fast step
//   [SECTION] Pacing and toggles
//   [SECTION] Playback window
//   [SECTION] Copy
#include "console/playback.h"

#include <cmath>
#include <cstring>

#include "console/conversion.h"
#include "files/recording.h"
#include "files/sonar_file.h"
#include "console/ping_cycle.h"
#include "head/return_data.h"
#include "imaging/overlay.h"
#include "imaging/scan_convert.h"
#include "imaging/waterfall.h"
#include "nav/track.h"
#include "platform/platform.h"
#include "processing/beamform.h"
#include "settings/constants.h"
#include "settings/settings.h"

// ============================================================ [SECTION] State and helpers

PlaybackState g_player;

namespace {

constexpr const char* kOpenCaption = "Open a Sonar File For Playback";
constexpr const char* kSonarFilter = "Orvale Multibeam Sonar Files (*.K41)|*.K41";
constexpr int kMenuRealtime = 14;
constexpr int kMenuCopy = 16;
constexpr int kMenuFast = 17;

RecordProcessor s_processor = nullptr;

int ProcessRecord() { return s_processor ? s_processor() : ProcessDecodedRecord(); }

void TitleNoFile() {
  char title[300];
  std::snprintf(title, sizeof title, "%s - [%s]", kProductTitle, "No File");
  plat::SetWindowTitle(plat::kWinMain, title);
}

void CopyItemRead();

}  // namespace

void SetRecordProcessor(RecordProcessor fn) { s_processor = fn; }

void ResetPlayback() {
  ClosePlaybackFile();
  (void)CloseOutput(g_player.copyFile);
  g_player = PlaybackState{};
}

// ============================================================ [SECTION] Opening and closing

void ClosePlaybackFile() {
  if (g_player.file) std::fclose(g_player.file);
  g_player.file = nullptr;
  g_player.fileOpen = 0;
}

// What a new file starts from: the first record reconfigures the tables, the
// tilt and speed-of-sound overrides of the last file are forgotten, the
// picture, the history windows and the point histories start empty.
static void ResetForNewFile() {
  ForgetPlayedSettings();
  g_settings.ProfileTiltAngle = 0.0;
  g_playback.tiltDeg = 0.0;
  g_playback.operatorChangedTilt = 0;
  g_playback.operatorChangedSoundSpeed = 0;
  StartNewTrackLine();
  ClearPicture();
  ClearWaterfalls();
  ResetProcessingChain();
}

int OpenPlaybackFile(const char* path) {
  if (path == nullptr || !HasSonarExtension(path)) {
    plat::MessageBox(kOpenCaption, "File extension must be .K41");
    return 0;
  }
  if (std::strlen(path) >= kPlaybackNameBytes) return 0;
  ClosePlaybackFile();
  FILE* f = nullptr;
  const int result = OpenSonarFile(path, &f);
  if (result != kOpenOk) {
    if (result == kOpenBadMagic)
      plat::MessageBox(kOpenCaption, "Data type is incorrect --> check file format");
    TitleNoFile();
    ClearImage();
    return 0;
  }
  g_player.file = f;
  g_player.fileOpen = 1;
  g_player.filePosition = 0;
  g_player.fileSize = 0;
  if (fseeko(f, 0, SEEK_END) == 0) g_player.fileSize = ftello(f);
  std::rewind(f);
  std::snprintf(g_player.fileName, sizeof g_player.fileName, "%s", path);
  g_player.markerFraction = -1.0f;
  char title[400];
  std::snprintf(title, sizeof title, "%s - %s", kProductTitle, path);
  plat::SetWindowTitle(plat::kWinMain, title);
  ResetForNewFile();
  return 1;
}

int ChoosePlaybackFile() {
  plat::ShowWindow(plat::kWinPlayback, 1);
  plat::FileDialogRequest req;
  req.title = kOpenCaption;
  req.filter = kSonarFilter;
  req.defaultExt = "K41";
  char name[kPlaybackNameBytes + 1];
  if (!plat::FileDialog(req, name, sizeof name)) return 0;
  if (!OpenPlaybackFile(name)) return 0;
  // An interactive open ends any batch: the end of this file opens no other.
  g_conversion.batchCount = 0;
  g_conversion.batchIndex = 0;
  g_conversion.batchDone = 1;
  return 1;
}

// ============================================================ [SECTION] Reading, end of file, fast step

static void HandleEndOfFile() {
  PlaybackState& p = g_player;
  p.endsOfFile++;
  std::rewind(p.file);
  p.filePosition = 0;
  p.skipNext = 1;
  ResetSpeedFilter();
  // The vessel did not sail from the last record back to the first.
  StartNewTrackLine();
  CloseConversionOutputs();
  ClearPicture();
  ResetProcessingChain();
  if (p.commandLineRun) {
    p.quitRequested = 1;
    return;
  }
  if (BatchRunning()) NextConversionFile();
}

// A conversion output is being written: a command-line run, or a batch.
static int ConversionRunning() { return g_player.commandLineRun || BatchRunning(); }

// Reads the next record; shows it unless skip next is set. Returns
// kStepRecord, or kStepEndOfFile when the end was met and handled.
static int ReadOne() {
  PlaybackState& p = g_player;
  if (ReadNextRecord(p.file) != kReadRecord) {
    HandleEndOfFile();
    return kStepEndOfFile;
  }
  const int64_t pos = ftello(p.file);
  p.filePosition = pos < 0 ? 0 : pos;
  p.recordsRead++;
  p.lastPingPeriodMs = g_playback.pingPeriodMs;
  if (p.copying) CopyItemRead();
  // Looping playback passes over the first record after start-up and each
  // rewind, but a conversion must put every record of the file into its
  // product: N pings in, N point records, beam records or XTF pings out.
  if (!p.skipNext || ConversionRunning()) {
    ProcessRecord();
    p.recordsProcessed++;
    MovePositionMarker();
  }
  p.skipNext = 0;
  return kStepRecord;
}

int FastStep() {
  PlaybackState& p = g_player;
  if (!p.fileOpen) return kStepNoFile;
  if (g_settings.AvgFilter == 1) {
    ResetProcessingChain();
    g_perPing.screenUpdate = 0;
    for (int i = 0; i < g_settings.AvgFilterIndex - 1; ++i) {
      if (ReadOne() == kStepEndOfFile) {
        g_perPing.screenUpdate = 1;
        return kStepEndOfFile;
      }
    }
    g_perPing.screenUpdate = 1;
  }
  if (ReadOne() == kStepEndOfFile) return kStepEndOfFile;
  // The end of the file may have been met and rewound inside a batch step.
  if (!p.fileOpen || p.file == nullptr) return kStepRecord;
  const int64_t from = p.filePosition + kFastSkipBytes;
  ScanForRecord(p.file, from);
  const int64_t pos = ftello(p.file);
  p.filePosition = pos < 0 ? p.fileSize : pos;
  return kStepRecord;
}

int PlaybackStep() {
  PlaybackState& p = g_player;
  if (p.hold) {
    plat::SleepMs(kHoldSleepMs);
    return kStepHeld;
  }
  if (!p.fileOpen || p.file == nullptr) return kStepNoFile;
  if (p.fastPlayback) return FastStep();
  return ReadOne();
}

// ============================================================ [SECTION] Pacing and toggles

int PacingDelayFor(int realtime, int pingPeriodMs, double procMs, double plotMs, int playbackDelayMs) {
  if (realtime) {
    const double d = pingPeriodMs - (procMs + plotMs);
    return (d > 0.0 && d < kRealtimeMaxDelayMs) ? static_cast<int>(d) : 0;
  }
  return playbackDelayMs > 0 ? playbackDelayMs : 0;
}

int PacingDelayMs() {
  if (!g_player.pacing) return 0;
  return PacingDelayFor(g_settings.RealtimePlayback == 1, g_player.lastPingPeriodMs, g_perPing.procTimeMs,
                        g_perPing.plotTimeMs, g_settings.PlaybackDelay);
}

int RunFileModeStep() {
  const int r = PlaybackStep();
  if (r == kStepRecord || r == kStepEndOfFile) {
    const int ms = PacingDelayMs();
    if (ms > 0) plat::SleepMs(ms);
  }
  return r;
}

int ToggleFastPlayback() {
  if (g_settings.RunMode != 1) return g_player.fastPlayback;
  g_player.fastPlayback = !g_player.fastPlayback;
  plat::CheckMenuItem(kMenuFast, g_player.fastPlayback);
  plat::InvalidateWindow(plat::kWinPlayback);
  return g_player.fastPlayback;
}

int ToggleRealtimePlayback() {
  if (g_settings.RunMode != 1) return g_settings.RealtimePlayback;
  g_settings.RealtimePlayback = g_settings.RealtimePlayback ? 0 : 1;
  plat::CheckMenuItem(kMenuRealtime, g_settings.RealtimePlayback);
  plat::InvalidateWindow(plat::kWinPlayback);
  return g_settings.RealtimePlayback;
}

// ============================================================ [SECTION] Playback window

int PlaybackDelayOfSlider(int a) {
  if (a < 0) a = 0;
  if (a > 100) a = 100;
  if (a <= 10) return static_cast<int>(a * 0.5);
  if (a <= 20) return a;
  static const int kFactor[8] = {2, 4, 6, 8, 10, 12, 14, 16};  // 21..30 .. 91..100
  return kFactor[(a - 21) / 10] * a;
}

int SpeedSliderClick(int x, int y, int left, int right, int top) {
  if (g_player.fastPlayback || g_settings.RealtimePlayback) return 0;
  if (!(x >= left + 15 && x < right - 15 && y > top + 20 && y < top + 31)) return 0;
  const int span = right - left - 30;
  if (span <= 0) return 0;
  double f = 1.0 - static_cast<double>(x - left - 15) / span;
  if (f < 0.0) f = 0.0;
  if (f > 1.0) f = 1.0;
  const int a = static_cast<int>(100.0 * f);
  g_settings.PlaybackDelay = PlaybackDelayOfSlider(a);
  g_settings.PlaybackDelayX = x;
  plat::InvalidateWindow(plat::kWinPlayback);
  return 1;
}

int PositionMarkerX(int left, int right) {
  const float f = g_player.fileSize > 0
                      ? static_cast<float>(g_player.filePosition) / static_cast<float>(g_player.fileSize)
                      : 0.0f;
  return left + 15 + static_cast<int>((right - left - 30) * f);
}

void MovePositionMarker() {
  const float f = g_player.fileSize > 0
                      ? static_cast<float>(g_player.filePosition) / static_cast<float>(g_player.fileSize)
                      : 0.0f;
  if (std::fabs(f - g_player.markerFraction) < 0.001f) return;
  g_player.markerFraction = f;
  plat::InvalidateWindow(plat::kWinPlayback);
}

int PositionBarClick(int x, int y, int left, int right, int top) {
  PlaybackState& p = g_player;
  if (!p.fileOpen || p.file == nullptr) return -1;
  if (!(x >= left + 15 && x < right - 15 && y > top + 60 && y < top + 71)) return -1;
  const int span = right - left - 30;
  if (span <= 0) return -1;
  int w = static_cast<int>(std::trunc((x - left - 15) * 100.0 / span + 0.5));
  if (w > 100) w = 100;
  StartNewTrackLine();
  if (w <= 0 || w >= 100) return w;
  int64_t pos = static_cast<int64_t>(std::trunc(w * 0.01 * static_cast<double>(p.fileSize)));
  if (fseeko(p.file, pos, SEEK_SET) != 0) {
    pos = 0;
    fseeko(p.file, 0, SEEK_SET);
  }
  ScanForRecord(p.file, pos);
  const int64_t now = ftello(p.file);
  p.filePosition = now < 0 ? 0 : now;
  ClearPicture();
  ResetProcessingChain();
  if (p.hold) {
    // The held picture follows the jump: one record, or one averaged group.
    int records = g_settings.AvgFilter == 1 ? g_settings.AvgFilterIndex - 1 : 1;
    if (records < 1) records = 1;
    for (int i = 0; i < records; ++i)
      if (ReadOne() == kStepEndOfFile) break;
  }
  return w;
}

// ============================================================ [SECTION] Copy

namespace {

void CopyTitle() {
  const int kb = static_cast<int>(g_player.bytesCopied / 1024);
  if (kb == g_player.copyKbShown && g_player.copyWriteErrors == g_player.copyErrorsShown) return;
  g_player.copyKbShown = kb;
  g_player.copyErrorsShown = g_player.copyWriteErrors;
  char title[700];
  if (g_player.copyWriteErrors > 0)
    std::snprintf(title, sizeof title, "%s - Copying to %s - %d kB - %d WRITE ERRORS", kProductTitle, g_player.copyName,
                  kb, g_player.copyWriteErrors);
  else
    std::snprintf(title, sizeof title, "%s - Copying to %s - %d kB", kProductTitle, g_player.copyName, kb);
  plat::SetWindowTitle(plat::kWinMain, title);
}

// The copy cannot go on (no room, or the file cannot be written): it is
// closed where it stands, holding whole records, and the operator told.
void EndCopyWithMessage(const char* why) {
  PlaybackState& p = g_player;
  (void)CloseOutput(p.copyFile);
  p.copying = 0;
  char text[kPlaybackNameBytes + 160];
  std::snprintf(text, sizeof text, "%s\nCopy stopped; %s holds every whole record copied.", why, p.copyName);
  plat::MessageBox("Copy a Sonar File", text, plat::kIconWarning);
  char title[400];
  std::snprintf(title, sizeof title, "%s - Copy stopped: %s", kProductTitle, why);
  plat::SetWindowTitle(plat::kWinMain, title);
  plat::SetMenuItemText(kMenuCopy, "&Copy Start...");
}

// Appends the item just read. A frame that preceded the record in the source
// goes before it in the copy too, so a copy of a whole file equals its source
// and every frame stays behind the record that announced it. A failed write
// is cut back to the last whole item: a torn record would shift every record
// after it for a reader.
void CopyItemRead() {
  PlaybackState& p = g_player;
  if (!OutputOpen(p.copyFile)) return;
  const int withFrame = g_playback.frameBeforeRecord && g_playback.frameLength > 0;
  const int hasRecord =
      g_playback.recordSize > 0 && g_playback.recordSize <= static_cast<int>(sizeof g_playback.rawRecord);
  const size_t frameBytes = withFrame ? static_cast<size_t>(g_playback.frameLength) : 0;
  const size_t recordBytes = hasRecord ? static_cast<size_t>(g_playback.recordSize) : 0;
  if (frameBytes + recordBytes == 0) return;
  if (!CheckAvailableDiskSpace(p.copyName, static_cast<int64_t>(frameBytes + recordBytes))) {
    p.copyWriteErrors++;
    EndCopyWithMessage("Too little disk space is left.");
    return;
  }
  const void* first = withFrame ? static_cast<const void*>(g_videoFrame) : g_playback.rawRecord;
  const size_t firstBytes = withFrame ? frameBytes : recordBytes;
  const void* second = withFrame ? g_playback.rawRecord : nullptr;
  const size_t secondBytes = withFrame ? recordBytes : 0;
  const int result = AppendWholeItem(p.copyFile, p.bytesCopied, first, firstBytes, second, secondBytes);
  if (result == kItemWritten) {
    p.bytesCopied += static_cast<int64_t>(frameBytes + recordBytes);
  } else {
    p.copyWriteErrors++;
    if (result == kItemDiskFull) return EndCopyWithMessage("The disk is full.");
    if (result == kItemFileLost) return EndCopyWithMessage("The copy cannot be written.");
    if (!p.copyErrorReported) {
      p.copyErrorReported = 1;
      plat::MessageBox("Copy a Sonar File", "A record could not be written to the copy.\nThe copy keeps whole "
                       "records only; copying goes on.", plat::kIconWarning);
    }
  }
  CopyTitle();
}

}  // namespace

int StartCopyTo(const char* path) {
  if (path == nullptr || !HasSonarExtension(path)) {
    plat::MessageBox("Copy a Sonar File", "File extension must be .K41");
    return 0;
  }
  if (std::strlen(path) >= kPlaybackNameBytes) return 0;
  // Copying a file onto itself would destroy it while it is read.
  if (g_player.fileOpen && std::strcmp(path, g_player.fileName) == 0) return 0;
  StopCopy();
  if (!CheckAvailableDiskSpace(path, 0)) {
    plat::MessageBox("CheckAvailableDiskSpace", "Not enough free disk space to copy!", plat::kIconWarning);
    return 0;
  }
  if (!OpenOutputFile(g_player.copyFile, path, kOutputCreate)) return 0;
  g_player.copying = 1;
  g_player.bytesCopied = 0;
  g_player.copyKbShown = -1;
  g_player.copyWriteErrors = 0;
  g_player.copyErrorsShown = 0;
  g_player.copyErrorReported = 0;
  std::snprintf(g_player.copyName, sizeof g_player.copyName, "%s", path);
  char title[400];
  std::snprintf(title, sizeof title, "%s - Copying to %s", kProductTitle, path);
  plat::SetWindowTitle(plat::kWinMain, title);
  plat::SetMenuItemText(kMenuCopy, "&Copy Stop...");
  return 1;
}

int StartCopy() {
  plat::FileDialogRequest req;
  req.title = "Open a Sonar File For Copying";
  req.filter = kSonarFilter;
  req.defaultExt = "K41";
  req.save = 1;
  char name[kPlaybackNameBytes + 1];
  if (!plat::FileDialog(req, name, sizeof name)) return 0;
  return StartCopyTo(name);
}

int StopCopy() {
  if (!g_player.copying) return 1;
  plat::MessageBox("Close Copy File", g_player.copyName, plat::kIconInformation);
  (void)SyncOutput(g_player.copyFile);
  const int ok = CloseOutput(g_player.copyFile);
  if (!ok) g_player.copyCloseErrors++;
  g_player.copying = 0;
  char title[400];
  std::snprintf(title, sizeof title, "%s - Playback of %s", kProductTitle, g_player.fileName);
  plat::SetWindowTitle(plat::kWinMain, title);
  plat::SetMenuItemText(kMenuCopy, "&Copy Start...");
  return ok;
}

int CopyFailed() { return g_player.copyWriteErrors > 0 || OutputFailed(g_player.copyFile); }
