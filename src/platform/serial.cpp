// Serial ports through termios. A port is opened non-blocking and read after
// poll() with a time limit, so a reader thread notices its stop request
// within kReadWaitMs and Stop never hangs on a silent receiver. The line
// settings found at open are saved and put back at close, so another program
// that shares the device finds it as it left it. DTR goes up after open
// (receivers powered from it wake up) and down at close.
//
// Owns nothing global: every Port and Reader is the caller's.
#include "platform/serial.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace serial {

static_assert(sizeof(termios) <= sizeof(Port::saved), "termios does not fit the saved bytes");

namespace {

constexpr int kRates[] = {4800, 9600, 19200, 38400, 57600, 115200};
constexpr speed_t kSpeeds[] = {B4800, B9600, B19200, B38400, B57600, B115200};
constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};

// A candidate before sorting: its path and the number at its end (-1 none).
struct Candidate {
  char path[kPathChars];
  long number;
};
constexpr int kMaxCandidates = 256;

int AnswersLineQuery(const char* path) {
  const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  termios t;
  const int ok = ::tcgetattr(fd, &t) == 0;
  ::close(fd);
  return ok;
}

long TrailingNumber(const char* name) {
  const size_t n = std::strlen(name);
  size_t i = n;
  while (i > 0 && name[i - 1] >= '0' && name[i - 1] <= '9') --i;
  if (i == n) return -1;
  return std::strtol(name + i, nullptr, 10);
}

void SortCandidates(Candidate* c, int count, int byNumber) {
  for (int i = 1; i < count; ++i) {
    Candidate key = c[i];
    int j = i - 1;
    while (j >= 0 && (byNumber ? c[j].number > key.number : std::strcmp(c[j].path, key.path) > 0)) {
      c[j + 1] = c[j];
      --j;
    }
    c[j + 1] = key;
  }
}

// Entries of dir whose name starts with prefix (empty: all but dot names).
int Collect(const char* dir, const char* prefix, Candidate* out, int room) {
  DIR* d = ::opendir(dir);
  if (d == nullptr) return 0;
  int n = 0;
  const size_t plen = std::strlen(prefix);
  while (dirent* e = ::readdir(d)) {
    if (e->d_name[0] == '.') continue;
    if (plen && std::strncmp(e->d_name, prefix, plen) != 0) continue;
    if (plen && e->d_name[plen] == '\0') continue;
    if (n >= room) break;
    const int w = std::snprintf(out[n].path, kPathChars, "%s/%s", dir, e->d_name);
    if (w <= 0 || w >= kPathChars) continue;
    out[n].number = TrailingNumber(e->d_name);
    ++n;
  }
  ::closedir(d);
  return n;
}

int AlreadyListed(const PortList& list, const char* resolved, char (*resolvedOf)[PATH_MAX]) {
  for (int i = 0; i < list.count; ++i)
    if (std::strcmp(resolvedOf[i], resolved) == 0) return 1;
  return 0;
}

}  // namespace

int BitsPerSecond(int index) { return index >= 0 && index < 6 ? kRates[index] : 0; }

int ListPorts(PortList* out) {
  out->count = 0;
  static thread_local Candidate candidates[kMaxCandidates];
  static thread_local char resolvedOf[kMaxPorts][PATH_MAX];
  auto take = [&](const char* dir, const char* prefix, int byNumber) {
    const int n = Collect(dir, prefix, candidates, kMaxCandidates);
    SortCandidates(candidates, n, byNumber);
    for (int i = 0; i < n && out->count < kMaxPorts; ++i) {
      char resolved[PATH_MAX];
      if (::realpath(candidates[i].path, resolved) == nullptr) continue;
      if (AlreadyListed(*out, resolved, resolvedOf)) continue;
      if (!AnswersLineQuery(candidates[i].path)) continue;
      std::snprintf(out->paths[out->count], kPathChars, "%s", candidates[i].path);
      std::snprintf(resolvedOf[out->count], PATH_MAX, "%s", resolved);
      out->count++;
    }
  };
  take("/dev/serial/by-id", "", 0);
  take("/dev", "ttyUSB", 1);
  take("/dev", "ttyACM", 1);
  take("/dev", "ttyS", 1);
  return out->count;
}

int ApplyLineSettings(termios* t, const LineSettings& s) {
  if (s.bitsPerSecondIndex < 0 || s.bitsPerSecondIndex > 5 || s.dataBitsIndex < 0 || s.dataBitsIndex > 3 ||
      s.parityIndex < 0 || s.parityIndex > 2 || s.stopBitsIndex < 0 || s.stopBitsIndex > 1)
    return 0;
  t->c_iflag = IGNBRK | (s.parityIndex == 2 ? 0 : INPCK);
  t->c_oflag = 0;
  t->c_lflag = 0;
  t->c_cflag = CREAD | CLOCAL | kSizes[s.dataBitsIndex];
  if (s.parityIndex == 0) t->c_cflag |= PARENB;
  if (s.parityIndex == 1) t->c_cflag |= PARENB | PARODD;
  if (s.stopBitsIndex == 1) t->c_cflag |= CSTOPB;
  t->c_cc[VMIN] = 0;
  t->c_cc[VTIME] = 0;
  return ::cfsetispeed(t, kSpeeds[s.bitsPerSecondIndex]) == 0 && ::cfsetospeed(t, kSpeeds[s.bitsPerSecondIndex]) == 0;
}

int Open(Port* port, const char* path, const LineSettings& s) {
  Close(port);
  if (path == nullptr || path[0] == '\0') return 0;
  termios probe{};
  if (!ApplyLineSettings(&probe, s)) return 0;
  const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  termios saved;
  if (::tcgetattr(fd, &saved) != 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return 0;
  }
  // Kernel exclusive mode keeps unprivileged openers out as well.
  (void)::ioctl(fd, TIOCEXCL);
  termios t = saved;
  if (!ApplyLineSettings(&t, s) || ::tcsetattr(fd, TCSANOW, &t) != 0) {
    (void)::tcsetattr(fd, TCSANOW, &saved);
    (void)::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return 0;
  }
  (void)::tcflush(fd, TCIFLUSH);
  port->fd = fd;
  std::memcpy(port->saved, &saved, sizeof saved);
  port->savedValid = 1;
  int dtr = TIOCM_DTR;
  port->dtrRaised = ::ioctl(fd, TIOCMBIS, &dtr) == 0;
  return 1;
}

int Read(Port* port, uint8_t* buf, int capacity, int timeoutMs) {
  if (port->fd < 0 || capacity <= 0) return -1;
  pollfd p{port->fd, POLLIN, 0};
  const int r = ::poll(&p, 1, timeoutMs);
  if (r < 0) return errno == EINTR ? 0 : -1;
  if (r == 0) return 0;
  if (p.revents & POLLIN) {
    const ssize_t n = ::read(port->fd, buf, static_cast<size_t>(capacity));
    if (n > 0) return static_cast<int>(n);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return 0;
    return -1;
  }
  // Hang-up or error with nothing to read: the device went away.
  if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return -1;
  return 0;
}

int Write(Port* port, const uint8_t* buf, int count) {
  if (port->fd < 0) return 0;
  int done = 0;
  while (done < count) {
    const ssize_t n = ::write(port->fd, buf + done, static_cast<size_t>(count - done));
    if (n > 0) {
      done += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EAGAIN) {
      pollfd p{port->fd, POLLOUT, 0};
      if (::poll(&p, 1, 1000) <= 0) return 0;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return 0;
  }
  return 1;
}

void Close(Port* port) {
  if (port->fd < 0) return;
  if (port->dtrRaised) {
    int dtr = TIOCM_DTR;
    (void)::ioctl(port->fd, TIOCMBIC, &dtr);
  }
  (void)::tcflush(port->fd, TCIOFLUSH);
  if (port->savedValid) {
    termios saved;
    std::memcpy(&saved, port->saved, sizeof saved);
    (void)::tcsetattr(port->fd, TCSANOW, &saved);
  }
  (void)::ioctl(port->fd, TIOCNXCL);
  ::close(port->fd);
  port->fd = -1;
  port->savedValid = 0;
  port->dtrRaised = 0;
}

namespace {

void ReaderLoop(Reader* r) {
  // Lowest priority: a GPS or probe is never worth a late ping. Best effort;
  // an unprivileged process may always lower its own threads.
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
  uint8_t buf[kReadChunk];
  while (r->running.load(std::memory_order_acquire)) {
    const int n = Read(&r->port, buf, sizeof buf, kReadWaitMs);
    if (n > 0) {
      r->bytesRead.fetch_add(n, std::memory_order_relaxed);
      r->handler(buf, n, r->context);
    } else if (n < 0) {
      // Unplugged: keep the thread until Stop, without spinning on the error.
      r->deviceLost.store(1, std::memory_order_relaxed);
      ::usleep(kReadWaitMs * 1000);
    }
  }
}

}  // namespace

int StartReader(Reader* reader, const char* path, const LineSettings& settings, BytesHandler handler,
                void* context) {
  StopReader(reader);
  if (handler == nullptr) return 0;
  if (!Open(&reader->port, path, settings)) return 0;
  reader->handler = handler;
  reader->context = context;
  reader->bytesRead = 0;
  reader->deviceLost = 0;
  reader->running.store(1, std::memory_order_release);
  reader->thread = std::thread(ReaderLoop, reader);
  return 1;
}

void StopReader(Reader* reader) {
  reader->running.store(0, std::memory_order_release);
  if (reader->thread.joinable()) reader->thread.join();
  Close(&reader->port);
}

}  // namespace serial
