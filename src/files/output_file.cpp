// Output files. Every file the console writes goes through these functions:
// a buffered stdio stream behind a fixed record that counts the bytes of
// whole writes and keeps the first sign of trouble (a short write, a failed
// flush, sync or close) as a sticky failure with its errno, so the writer
// can return 0, count it and tell the operator rather than leave a cut file
// that looks whole. Owns: the armed test fault (s_fault), read at each open.
#include "files/output_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Armed by SetOutputFault, cleared by ClearOutputFault; read by every open.
// Written by the test thread only, before the files it aims at are opened.
OutputFault s_fault;
int s_faultArmed = 0;

void Fail(OutputFile& f, int err) {
  f.failed = 1;
  f.lastErrno = err != 0 ? err : EIO;
}

int SuffixMatches(const char* path, const char* suffix) {
  const size_t n = std::strlen(path);
  const size_t s = std::strlen(suffix);
  return s <= n && std::strcmp(path + n - s, suffix) == 0;
}

void TakeFault(OutputFile& f, const char* path) {
  if (!s_faultArmed || !SuffixMatches(path, s_fault.pathSuffix)) return;
  f.faultLimitBytes = s_fault.writeLimitBytes;
  f.faultFlush = s_fault.failFlush;
  f.faultClose = s_fault.failClose;
}

}  // namespace

int OpenOutputFile(OutputFile& f, const char* path, int mode) {
  if (f.stream != nullptr) (void)CloseOutput(f);
  f = OutputFile{};
  if (path == nullptr || path[0] == '\0' || std::strlen(path) >= sizeof f.path) {
    f.lastErrno = ENAMETOOLONG;
    return 0;
  }
  std::snprintf(f.path, sizeof f.path, "%s", path);
  if (s_faultArmed && s_fault.failOpen && SuffixMatches(path, s_fault.pathSuffix)) {
    f.lastErrno = EACCES;
    return 0;
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC;
  if (mode == kOutputExclusive) flags |= O_EXCL;
  else if (mode == kOutputAppend) flags |= O_APPEND;
  else flags |= O_TRUNC;
  const int fd = ::open(path, flags, 0666);
  if (fd < 0) {
    f.lastErrno = errno;
    return 0;
  }
  FILE* stream = ::fdopen(fd, mode == kOutputAppend ? "ab" : "wb");
  if (stream == nullptr) {
    f.lastErrno = errno;
    ::close(fd);
    return 0;
  }
  f.stream = stream;
  TakeFault(f, path);
  return 1;
}

int WriteOutput(OutputFile& f, const void* data, size_t size) {
  if (f.stream == nullptr) return 0;
  if (size == 0) return 1;
  size_t want = size;
  int injected = 0;
  if (f.faultLimitBytes >= 0 && f.faultBytesSoFar + static_cast<int64_t>(size) > f.faultLimitBytes) {
    const int64_t room = f.faultLimitBytes - f.faultBytesSoFar;
    want = room > 0 ? static_cast<size_t>(room) : 0;
    injected = 1;
  }
  errno = 0;
  const size_t done = want > 0 ? std::fwrite(data, 1, want, f.stream) : 0;
  const int err = errno;
  f.faultBytesSoFar += static_cast<int64_t>(done);
  if (done == size) {
    f.bytes += static_cast<int64_t>(size);
    return 1;
  }
  f.failedWrites++;
  Fail(f, injected && done == want ? ENOSPC : err);
  return 0;
}

int FlushOutput(OutputFile& f) {
  if (f.stream == nullptr) return 0;
  errno = 0;
  const int bad = std::fflush(f.stream) != 0;
  const int err = errno;
  if (bad || f.faultFlush) {
    f.failedFlushes++;
    Fail(f, bad ? err : EIO);
    return 0;
  }
  return 1;
}

int SyncOutput(OutputFile& f) {
  if (!FlushOutput(f)) return 0;
  if (::fsync(fileno(f.stream)) == 0) return 1;
  // A pipe or a device has nothing to put on a disk; that is not a loss.
  if (errno == EINVAL || errno == EROFS) return 1;
  f.failedFlushes++;
  Fail(f, errno);
  return 0;
}

int CloseOutput(OutputFile& f) {
  if (f.stream == nullptr) return !f.failed;
  // fclose flushes too, but a flush of its own tells a full disk (the usual
  // cause) from a failing close in the counts.
  (void)FlushOutput(f);
  errno = 0;
  const int bad = std::fclose(f.stream) != 0;
  const int err = errno;
  f.stream = nullptr;
  if (bad || f.faultClose) {
    f.closeFailed = 1;
    Fail(f, bad ? err : EIO);
  }
  return !f.failed;
}

int OutputOpen(const OutputFile& f) { return f.stream != nullptr; }
int OutputFailed(const OutputFile& f) { return f.failed; }
int64_t OutputBytes(const OutputFile& f) { return f.bytes; }

void SetOutputFault(const OutputFault& fault) {
  s_fault = fault;
  s_fault.pathSuffix[sizeof s_fault.pathSuffix - 1] = '\0';
  s_faultArmed = 1;
}

void ClearOutputFault() {
  s_fault = OutputFault{};
  s_faultArmed = 0;
}
