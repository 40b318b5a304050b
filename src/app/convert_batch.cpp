// The batch conversion behind `orvale-convert A.K41 B.K41 ... /x -j N`. The
// console's state is one per process, so a file is converted in a child
// process forked for it: files never share a chain, and a child that dies
// loses only its own file. Each child sends its summary and error text back
// through a pipe (well under the pipe's atomic size, so the child never
// waits on the parent) and exits with the file's status. The parent starts
// no thread of its own, which keeps fork() safe.
#include "app/convert_batch.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <climits>
#include <ctime>

#include <limits.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Child {
  pid_t pid = -1;
  int fd = -1;
  int index = -1;
};

struct Report {
  int status;
  ConvertSummary summary;
  char error[512];
};
static_assert(sizeof(Report) < PIPE_BUF, "a child's report must reach the pipe in one write");

double NowS() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

[[noreturn]] void RunChild(const ConvertOptions& base, const char* name, int fd, int jobs) {
  if (jobs > 1) setenv("ORVALE_PING_THREADS", "1", 0);
  ConvertOptions o = base;
  o.name = name;
  o.progress = 0;
  Report r{};
  r.status = RunConversion(o, &r.summary, r.error, sizeof r.error);
  const ssize_t w = write(fd, &r, sizeof r);
  close(fd);
  _exit(w == static_cast<ssize_t>(sizeof r) ? r.status : kConvertFailed);
}

int Start(const ConvertOptions& options, const char* const* names, int index, int jobs, Child* child) {
  int fds[2];
  if (pipe(fds) != 0) return 0;
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return 0;
  }
  if (pid == 0) {
    close(fds[0]);
    RunChild(options, names[index], fds[1], jobs);
  }
  close(fds[1]);
  child->pid = pid;
  child->fd = fds[0];
  child->index = index;
  return 1;
}

// Collects the child's report once it has exited.
void Finish(const Child& child, int waitStatus, const char* const* names, BatchSummary* s, BatchFileDone done,
            void* ctx) {
  BatchFileResult result;
  result.name = names[child.index];
  Report r{};
  ssize_t got = 0;
  for (;;) {
    got = read(child.fd, &r, sizeof r);
    if (got >= 0 || errno != EINTR) break;
  }
  close(child.fd);
  if (got == static_cast<ssize_t>(sizeof r)) {
    result.status = r.status;
    result.summary = r.summary;
    std::memcpy(result.error, r.error, sizeof result.error);
    result.error[sizeof result.error - 1] = '\0';
  } else {
    result.status = kConvertFailed;
    if (WIFSIGNALED(waitStatus))
      std::snprintf(result.error, sizeof result.error, "%s: the conversion stopped on signal %d", result.name,
                    WTERMSIG(waitStatus));
    else
      std::snprintf(result.error, sizeof result.error, "%s: the conversion ended without a report", result.name);
  }
  s->files++;
  if (result.status != kConvertOk) s->filesFailed++;
  if (result.status > s->worstStatus) s->worstStatus = result.status;
  s->recordsRead += result.summary.recordsRead;
  s->pingsProcessed += result.summary.pingsProcessed;
  s->pingsRejected += result.summary.pingsRejected;
  if (done) done(result, ctx);
}

}  // namespace

int RunConversionBatch(const ConvertOptions& options, const char* const* names, int count, int jobs,
                       BatchSummary* summary, BatchFileDone done, void* ctx) {
  BatchSummary local;
  if (summary == nullptr) summary = &local;
  *summary = BatchSummary{};
  if (jobs < 1) jobs = 1;
  if (jobs > 64) jobs = 64;
  const double start = NowS();
  Child children[64];
  int running = 0;
  int next = 0;
  while (next < count || running > 0) {
    while (running < jobs && next < count) {
      if (!Start(options, names, next, jobs, &children[running])) {
        BatchFileResult failed;
        failed.name = names[next];
        failed.status = kConvertFailed;
        std::snprintf(failed.error, sizeof failed.error, "%s: no process could be started for it (%s)",
                      names[next], std::strerror(errno));
        summary->files++;
        summary->filesFailed++;
        summary->worstStatus = summary->worstStatus > kConvertFailed ? summary->worstStatus : kConvertFailed;
        if (done) done(failed, ctx);
      } else {
        ++running;
      }
      ++next;
    }
    if (running == 0) break;
    int waitStatus = 0;
    const pid_t pid = waitpid(-1, &waitStatus, 0);
    if (pid < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < running; ++i) {
      if (children[i].pid != pid) continue;
      Finish(children[i], waitStatus, names, summary, done, ctx);
      children[i] = children[--running];
      break;
    }
  }
  summary->seconds = NowS() - start;
  return summary->worstStatus;
}
