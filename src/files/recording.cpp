// Recording. In Head mode every completed ping is appended to the open .K41
// file as one record (and the camera frame that goes with it, when the video
// module has one), flushed at once, so that a crash or a pulled cable leaves
// every whole record readable. A file that reaches the maximum size is
// closed and the recording goes on in the next one: a new automatic name, or
// for an operator's name survey.K41 the sequence survey-001.K41 (the first
// file, renamed), survey-002.K41, ...
//
// Nothing here replaces a file the operator did not confirm in the save
// dialog: automatic names and continuation files are created exclusively and
// skip names that exist, and the first split's rename refuses to replace.
// A write that fails is cut back to the last whole record (the reader trusts
// record boundaries), counted and reported once; a full disk, or free space
// below kDiskReserveBytes, ends the recording with a message.
//
// Owns g_recording and the record buffer. The coverage log itself belongs to
// the track plotter (nav/track); the recorder opens and closes it.
//
// Index
//   [SECTION] State and helpers
//   [SECTION] Names
//   [SECTION] Free space and whole items
//   [SECTION] Opening and closing
//   [SECTION] Start and stop
//   [SECTION] Per ping
#include "files/recording.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "files/sonar_file.h"
#include "nav/track.h"
#include "platform/platform.h"
#include "settings/constants.h"
#include "settings/settings.h"

RecordingState g_recording;

// ============================================================ [SECTION] State and helpers

namespace {

constexpr const char* kDialogTitle = "Open a Sonar File For Recording";
constexpr const char* kSpaceCaption = "CheckAvailableDiskSpace";
constexpr const char* kErrorCaption = "Recording";
constexpr const char* kStartText = "&Record Start...\t  Ctrl+S";
constexpr const char* kStopText = "&Record Stop...\t  Ctrl+E";
// Menu identifiers of the recording items (the menu resource's numbers).
constexpr int kMenuRecord = 15;
constexpr int kMenuAutoFilename = 208;
constexpr int kMenuDateNumber = 220;
constexpr int kMenuDateTime = 221;
constexpr int kTitleBytes = 2 * kRecordingNameBytes + 128;

// The record being written; the largest record size. Acquisition thread.
uint8_t s_record[kRecordBufferBytes];

// Texts for titles and messages: a name too long for them is cut, which is
// all a title can do with it.
[[gnu::format(printf, 3, 4)]] void Text(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  if (std::vsnprintf(out, size, format, args) < 0 && size > 0) out[0] = '\0';
  va_end(args);
}

int EndsWithSeparator(const char* dir) {
  const size_t n = std::strlen(dir);
  return n > 0 && dir[n - 1] == '/';
}

// dir + "/" + name into out; 0 when it does not fit.
int JoinPath(const char* dir, const char* name, char* out, size_t size) {
  const int n = std::snprintf(out, size, "%s%s%s", dir, EndsWithSeparator(dir) ? "" : "/", name);
  return n > 0 && static_cast<size_t>(n) < size;
}

void SetTitle(const char* text) { plat::SetWindowTitle(plat::kWinMain, text); }

// "%s - Recording to %s - %s", plus the count of lost writes once there is one.
void ShowRecordingTitle(int kb) {
  RecordingState& r = g_recording;
  char kbText[32];
  FormatKilobytes(static_cast<int64_t>(kb) * 1024, kbText, sizeof kbText);
  char title[kTitleBytes];
  if (r.writeErrors > 0)
    Text(title, sizeof title, "%s - Recording to %s - %s - %d WRITE ERRORS", kProductTitle, r.name, kbText,
                  r.writeErrors);
  else
    Text(title, sizeof title, "%s - Recording to %s - %s", kProductTitle, r.name, kbText);
  SetTitle(title);
  r.kbShown = kb;
  r.writeErrorsShown = r.writeErrors;
}

}  // namespace

void ResetRecording() {
  (void)CloseOutput(g_recording.file);
  if (g_recording.coverageLogOpen) (void)CloseCoverageLog(g_recording.coverageDirectory);
  g_recording = RecordingState{};
  g_recordWriter = RecordWriterState{};
}

int Recording() { return g_recording.recording; }

const char* RecordingDirectory() {
  return g_settingsFile.workingDirectory[0] ? g_settingsFile.workingDirectory : ".";
}

void FormatKilobytes(int64_t bytes, char* out, size_t size) {
  if (out == nullptr || size == 0) return;
  const int64_t kb = bytes > 0 ? bytes / 1024 : 0;
  char digits[24];
  const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(kb));
  char grouped[28];  // 19 digits and 6 commas at most
  int g = 0;
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) grouped[g++] = ',';
    grouped[g++] = digits[i];
  }
  grouped[g] = '\0';
  std::snprintf(out, size, "%s kB", grouped);
}

// ============================================================ [SECTION] Names

// The cycle's stamp when one has been taken, else the clock.
static const TimeStamp& NameStamp(TimeStamp* scratch) {
  if (g_timeStamps.current.date[0] && g_timeStamps.current.time[0]) return g_timeStamps.current;
  FormatTimeStamp(plat::GetLocalTime(), scratch);
  return *scratch;
}

// "07-DEC-2026" -> "07DEC2026".
void RecordingDateText(char out[10]) {
  TimeStamp scratch;
  const char* d = NameStamp(&scratch).date;
  std::snprintf(out, 10, "%.2s%.3s%.4s", d, std::strlen(d) >= 6 ? d + 3 : "", std::strlen(d) >= 11 ? d + 7 : "");
}

// "12:34:56" -> "123456".
void RecordingTimeText(char out[7]) {
  TimeStamp scratch;
  const char* t = NameStamp(&scratch).time;
  std::snprintf(out, 7, "%.2s%.2s%.2s", t, std::strlen(t) >= 5 ? t + 3 : "", std::strlen(t) >= 8 ? t + 6 : "");
}

int NextDateNumber(const char* directory, const char* date) {
  DIR* dir = ::opendir(directory);
  if (dir == nullptr) return 1;
  const size_t dateLen = std::strlen(date);
  int largest = 0;
  while (const dirent* e = ::readdir(dir)) {
    const char* n = e->d_name;
    if (std::strlen(n) != dateLen + 9 || strncasecmp(n, date, dateLen) != 0 || n[dateLen] != '-') continue;
    const char* digits = n + dateLen + 1;
    int number = 0, ok = 1;
    for (int i = 0; i < 4; ++i) {
      if (digits[i] < '0' || digits[i] > '9') ok = 0;
      number = number * 10 + (digits[i] - '0');
    }
    if (ok && strcasecmp(digits + 4, ".K41") == 0 && number > largest) largest = number;
  }
  ::closedir(dir);
  return largest + 1;
}

// A file system without RENAME_NOREPLACE still refuses through link(), which
// fails when the new name exists.
int RenameNoReplace(const char* from, const char* to) {
  if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return 1;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return 0;
  if (::link(from, to) != 0) return 0;
  ::unlink(from);
  return 1;
}

// ============================================================ [SECTION] Free space and whole items

int SpaceAllows(int64_t freeBytes, int64_t needBytes) {
  if (freeBytes < 0) return 1;  // not measurable (a pipe, a special file system): let the write tell
  return freeBytes - (needBytes > 0 ? needBytes : 0) >= kDiskReserveBytes;
}

int64_t FreeDiskBytes(const char* directory) {
  if (g_recording.freeSpaceOverride >= 0) return g_recording.freeSpaceOverride;
  struct statvfs s;
  if (::statvfs(directory, &s) != 0) return -1;
  return static_cast<int64_t>(s.f_bavail) * static_cast<int64_t>(s.f_frsize);
}

int CheckAvailableDiskSpace(const char* path, int64_t needBytes) {
  char dir[kOutputPathBytes];
  std::snprintf(dir, sizeof dir, "%s", path ? path : RecordingDirectory());
  if (path) {
    char* slash = std::strrchr(dir, '/');
    if (slash == nullptr) std::snprintf(dir, sizeof dir, ".");
    else if (slash == dir) dir[1] = '\0';
    else *slash = '\0';
  }
  return SpaceAllows(FreeDiskBytes(dir), needBytes);
}

int64_t SplitSizeBytes() {
  if (g_recording.splitBytesOverride > 0) return g_recording.splitBytesOverride;
  return static_cast<int64_t>(g_settings.MaximumFilesize) * kSplitUnitBytes;
}

static int DiskFull(int err) { return err == ENOSPC || err == EDQUOT || err == EFBIG; }

int AppendWholeItem(OutputFile& f, int64_t wholeBytes, const void* first, size_t firstSize, const void* second,
                    size_t secondSize, int* errorOut) {
  int ok = WriteOutput(f, first, firstSize);
  if (ok && second != nullptr && secondSize > 0) ok = WriteOutput(f, second, secondSize);
  // Flushed per item: what the system holds survives a crash of the program.
  if (ok) ok = FlushOutput(f);
  if (ok) return kItemWritten;
  const int err = f.lastErrno;
  if (errorOut) *errorOut = err;
  // The close pushes out whatever stdio still held of the torn item; the
  // truncation then removes it, so the file ends on an item boundary.
  (void)CloseOutput(f);
  const int cut = ::truncate(f.path, wholeBytes) == 0;
  if (DiskFull(err)) return kItemDiskFull;
  if (!cut) return kItemFileLost;
  char path[kOutputPathBytes];
  std::snprintf(path, sizeof path, "%s", f.path);
  return OpenOutputFile(f, path, kOutputAppend) ? kItemLost : kItemFileLost;
}

// ============================================================ [SECTION] Opening and closing

namespace {

// The log is closed in the directory it was opened in, which the working
// directory may have left meanwhile.
void CloseCoverage() {
  if (g_recording.coverageLogOpen) (void)CloseCoverageLog(g_recording.coverageDirectory);
  g_recording.coverageLogOpen = 0;
}

void ReopenCoverageLog() {
  CloseCoverage();
  std::snprintf(g_recording.coverageDirectory, sizeof g_recording.coverageDirectory, "%s", RecordingDirectory());
  g_recording.coverageLogOpen = OpenCoverageLog(g_recording.coverageDirectory);
}

int RefuseForSpace(const char* path) {
  if (CheckAvailableDiskSpace(path, 0)) return 0;
  g_recording.startsRefusedForSpace++;
  char text[160];
  std::snprintf(text, sizeof text, "Not enough free disk space to record!\nKeep at least %lld MB free.",
                static_cast<long long>(kDiskReserveBytes / (1024 * 1024)));
  plat::MessageBox(kSpaceCaption, text, plat::kIconWarning);
  return 1;
}

// Opens one file of the recording with its title, menu text and coverage
// log. A name taken by another file gives 0 with EEXIST in file.lastErrno.
int OpenRecordingFile(const char* path, int mode) {
  RecordingState& r = g_recording;
  if (std::strlen(path) >= sizeof r.name) return 0;
  if (!OpenOutputFile(r.file, path, mode)) return 0;
  r.recording = 1;
  r.bytesWritten = 0;
  r.kbShown = 0;
  r.filesOpened++;
  std::snprintf(r.name, sizeof r.name, "%s", path);
  char title[kTitleBytes];
  Text(title, sizeof title, "%s - Recording to %s", kProductTitle, r.name);
  SetTitle(title);
  plat::SetMenuItemText(kMenuRecord, kStopText);
  ReopenCoverageLog();
  return 1;
}

// Closes the current file, synced, keeping the recording's name and sequence.
// A file that a failed write already closed is only marked closed.
int CloseRecordingFile() {
  RecordingState& r = g_recording;
  int ok = 1;
  if (OutputOpen(r.file)) {
    (void)SyncOutput(r.file);
    ok = CloseOutput(r.file);
    if (!ok) r.closeErrors++;
  }
  r.recording = 0;
  CloseCoverage();
  return ok;
}

void ShowStopped() {
  SetTitle(kProductTitle);
  plat::SetMenuItemText(kMenuRecord, kStartText);
}

// The recording cannot go on (full disk, a file that cannot be made): the
// file is closed where it stands and the operator told why.
void EndRecordingWithMessage(const char* caption, const char* why) {
  RecordingState& r = g_recording;
  (void)CloseRecordingFile();
  r.sequenceNumber = 0;
  char text[kRecordingNameBytes + 200];
  Text(text, sizeof text, "%s\nRecording stopped; %s holds every whole record written.", why, r.name);
  plat::MessageBox(caption, text, plat::kIconWarning);
  char title[kTitleBytes];
  Text(title, sizeof title, "%s - Recording stopped: %s", kProductTitle, why);
  SetTitle(title);
  plat::SetMenuItemText(kMenuRecord, kStartText);
}

// The date-and-time name, created exclusively.
int OpenDateTimeFile() {
  char date[10], time[7], name[32], path[kRecordingNameBytes];
  RecordingDateText(date);
  RecordingTimeText(time);
  std::snprintf(name, sizeof name, "%s-%s.K41", date, time);
  if (!JoinPath(RecordingDirectory(), name, path, sizeof path)) return 0;
  if (RefuseForSpace(path)) return 0;
  return OpenRecordingFile(path, kOutputExclusive);
}

// The date-and-number name: one above the largest present, skipping any that
// appear meanwhile; with 9999 taken, the date-and-time name.
int OpenDateNumberFile() {
  char date[10], name[32], path[kRecordingNameBytes];
  RecordingDateText(date);
  if (RefuseForSpace(nullptr)) return 0;
  for (int n = NextDateNumber(RecordingDirectory(), date); n <= kMaxDateNumber; ++n) {
    std::snprintf(name, sizeof name, "%s-%04d.K41", date, n);
    if (!JoinPath(RecordingDirectory(), name, path, sizeof path)) return 0;
    if (OpenRecordingFile(path, kOutputExclusive)) return 1;
    if (g_recording.file.lastErrno != EEXIST) return 0;
  }
  return OpenDateTimeFile();
}

int OpenAutomaticFile() {
  return g_settings.AutoFilenameType == 1 ? OpenDateTimeFile() : OpenDateNumberFile();
}

// The next free file of the operator's numbered sequence from `first` on.
int OpenSequenceFile(int first) {
  RecordingState& r = g_recording;
  char path[kRecordingNameBytes];
  for (int n = first; n <= kMaxSequenceNumber; ++n) {
    const int len = std::snprintf(path, sizeof path, "%s-%03d.K41", r.sequenceBase, n);
    if (len <= 0 || static_cast<size_t>(len) >= sizeof path) return 0;
    if (n == first && RefuseForSpace(path)) return 0;
    if (OpenRecordingFile(path, kOutputExclusive)) {
      r.sequenceNumber = n;
      return 1;
    }
    if (r.file.lastErrno != EEXIST) return 0;
  }
  return 0;
}

// After the write that reached the size: a new automatic file, or the next
// of the operator's sequence (the first split renames the first file -001).
void SplitIfFull() {
  RecordingState& r = g_recording;
  if (r.bytesWritten < SplitSizeBytes()) return;
  r.splits++;
  (void)CloseRecordingFile();
  const int refusedBefore = r.startsRefusedForSpace;
  int opened;
  if (g_settings.AutoFilename == 1) {
    opened = OpenAutomaticFile();
  } else {
    int first = r.sequenceNumber + 1;
    if (r.sequenceNumber == 0) {
      const size_t len = std::strlen(r.name);
      std::snprintf(r.sequenceBase, sizeof r.sequenceBase, "%.*s", static_cast<int>(len >= 4 ? len - 4 : 0), r.name);
      char renamed[kRecordingNameBytes + 8];
      const int n = std::snprintf(renamed, sizeof renamed, "%s-001.K41", r.sequenceBase);
      if (n <= 0 || n >= static_cast<int>(sizeof renamed) || !RenameNoReplace(r.name, renamed)) r.renameRefused++;
      first = 2;
    }
    opened = OpenSequenceFile(first);
  }
  if (opened) return;
  // A refusal for space has told the operator already.
  if (r.startsRefusedForSpace != refusedBefore) {
    r.sequenceNumber = 0;
    ShowStopped();
    return;
  }
  EndRecordingWithMessage(kErrorCaption, "The next file of the recording cannot be created.");
}

}  // namespace

// ============================================================ [SECTION] Start and stop

static int StartAllowed() { return g_settings.RunMode == 0 && !g_recording.recording; }

static void NewRecording() {
  g_recording.sequenceNumber = 0;
  g_recording.sequenceBase[0] = '\0';
  g_recording.errorReported = 0;
  g_recording.writeErrors = 0;
  g_recording.writeErrorsShown = 0;
  // The first record of each recording carries a camera frame; the next are
  // owed from there.
  g_recordWriter = RecordWriterState{};
  g_recordWriter.frameAtNextRecord = 1;
}

int StartAutomaticRecording() {
  if (!StartAllowed()) return 0;
  NewRecording();
  return OpenAutomaticFile();
}

int StartExternalRecording() {
  if (!StartAllowed()) return 0;
  g_settings.AutoFilename = 1;
  g_settings.AutoFilenameType = 1;
  plat::CheckMenuItem(kMenuAutoFilename, 1);
  plat::CheckMenuItem(kMenuDateNumber, 0);
  plat::CheckMenuItem(kMenuDateTime, 1);
  return StartAutomaticRecording();
}

int AskRecordingName(char* out, size_t size) {
  plat::FileDialogRequest req;
  req.title = kDialogTitle;
  req.filter = "Orvale Multibeam Sonar Files (*.K41)|*.K41";
  req.defaultExt = "K41";
  req.initialName = "";
  req.save = 1;  // a save dialog asks before it names an existing file
  return plat::FileDialog(req, out, size);
}

int StartRecordingTo(const char* path) {
  if (!StartAllowed() || path == nullptr) return 0;
  if (!HasSonarExtension(path)) {
    plat::MessageBox(kDialogTitle, "File extension must be .K41", plat::kIconWarning);
    return 0;
  }
  NewRecording();
  if (RefuseForSpace(path)) return 0;
  // The operator confirmed the name in the save dialog: replace it.
  return OpenRecordingFile(path, kOutputCreate);
}

int StartRecording() {
  if (!StartAllowed()) return 0;
  if (g_settings.AutoFilename == 1) return StartAutomaticRecording();
  char name[kRecordingNameBytes];
  if (!AskRecordingName(name, sizeof name)) return 0;
  return StartRecordingTo(name);
}

int StopRecording() {
  RecordingState& r = g_recording;
  r.sequenceNumber = 0;
  r.sequenceBase[0] = '\0';
  if (!r.recording) return 1;
  const int ok = CloseRecordingFile();
  ShowStopped();
  if (!ok) {
    char text[kRecordingNameBytes + 96];
    Text(text, sizeof text, "The last records of %s could not be written to the disk.", r.name);
    plat::MessageBox(kErrorCaption, text, plat::kIconWarning);
  }
  return ok;
}

// ============================================================ [SECTION] Per ping

int RecordPing(const uint8_t* frame, int frameLength) {
  RecordingState& r = g_recording;
  if (!r.recording || !OutputOpen(r.file)) return 0;
  if (frame == nullptr || frameLength < 0) frameLength = 0;
  const int size = FormatRecord(s_record, static_cast<int>(sizeof s_record), frameLength);
  if (size == 0) {
    r.unformattedPings++;
    return 0;
  }
  const int64_t item = static_cast<int64_t>(size) + frameLength;
  if (!CheckAvailableDiskSpace(r.name, item)) {
    r.diskFullStops++;
    char why[96];
    std::snprintf(why, sizeof why, "Less than %lld MB of disk space is left.",
                  static_cast<long long>(kDiskReserveBytes / (1024 * 1024)));
    EndRecordingWithMessage(kSpaceCaption, why);
    return 0;
  }
  int err = 0;
  const int result = AppendWholeItem(r.file, r.bytesWritten, s_record, static_cast<size_t>(size), frame,
                                     static_cast<size_t>(frameLength), &err);
  if (result != kItemWritten) {
    r.writeErrors++;
    if (result == kItemDiskFull) {
      r.diskFullStops++;
      EndRecordingWithMessage(kSpaceCaption, "The disk is full.");
    } else if (result == kItemFileLost) {
      // Not cut back or not reopened: going on could only add to a torn file.
      r.truncateFailures++;
      EndRecordingWithMessage(kErrorCaption, "The recording file cannot be written.");
    } else {
      if (!r.errorReported) {
        r.errorReported = 1;
        char text[kRecordingNameBytes + 160];
        Text(text, sizeof text,
             "A record could not be written to %s (error %d).\nThe file keeps whole records only; "
             "recording goes on.",
             r.name, err);
        plat::MessageBox(kErrorCaption, text, plat::kIconWarning);
      }
      ShowRecordingTitle(static_cast<int>(r.bytesWritten / 1024));
    }
    return 0;
  }
  r.bytesWritten += item;
  r.pingsRecorded++;
  SplitIfFull();
  if (!r.recording) return 1;
  const int kb = static_cast<int>(r.bytesWritten / 1024);
  if (kb != r.kbShown || r.writeErrors != r.writeErrorsShown) ShowRecordingTitle(kb);
  return 1;
}
