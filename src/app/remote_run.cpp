// orvale-remote: a command-line remote that drives a console the way any
// remote program must. It knows nothing of the console's address: it listens
// where the console's output goes, takes the sender of the first datagram it
// hears (output or keep-alive) as the console, answers there with one control
// datagram, and reads what the console sends next. Every field the operator
// did not ask for goes out with a value the console refuses, so the console
// keeps its own setting.
//
// Sockets go through platform/net, so ORVALE_LOOPBACK_ONLY=1 holds it to
// loopback like every other part of the system.
#include "app/remote_run.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/net.h"
#include "platform/platform.h"

namespace {

// Point records without the command's mark after which the remote takes the
// latest as the answer anyway (a console that never marks).
constexpr int kUnmarkedPointsLimit = 50;

enum { kByte = 0, kWord = 1, kFloat = 2 };

const RemoteField kFields[] = {
    {"--range-step", 7, kByte, 1, nullptr, "N      range step of the head (live head only)"},
    {"--gain", 8, kByte, 1, nullptr, "DB           start gain (live head only)"},
    {"--display-gain", 9, kByte, 1, nullptr, "PCT  display gain 1..100"},
    {"--gain-equalization", 10, kByte, 1, "off|on", "off|on"},
    {"--sector", 11, kByte, 1, "30|60|90|120|100|110", "DEG        sector 30, 60, 90, 100, 110 or 120"},
    {"--processing", 12, kByte, 1, "wide|normal|narrow|mixed", "wide|normal|narrow|mixed"},
    {"--beams", 13, kByte, 1, "480|240|120", "480|240|120"},
    {"--averaging", 14, kByte, 1, nullptr, "N       shots averaged, 1 = off, up to 10"},
    {"--persistence", 15, kWord, 1, nullptr, "S     persistence seconds 0..600"},
    {"--sound-velocity", 17, kWord, 10, nullptr, "M/S speed of sound 1400..2000"},
    {"--mode", 19, kByte, 1, "sector|linear|perspective|profile|beamtest", "sector|linear|perspective|profile|beamtest"},
    {"--output", 20, kByte, 1, "points|beams|x|both", "points|beams|both"},
    {"--detection", 21, kByte, 1, "off|on", "off|on   profile point detection"},
    {"--min-range", 22, kByte, 1, nullptr, "M       blanking distance of detection 0..100"},
    {"--detection-level", 23, kByte, 1, nullptr, "PCT detection level 10..90"},
    {"--orientation", 24, kByte, 1, "down|up", "down|up"},
    {"--tilt", 25, kByte, 1, nullptr, "DEG          profile tilt -45..45, -90 or 90"},
    {"--roll-correction", 26, kByte, 1, "off|on", "off|on"},
    {"--units", 27, kByte, 1, "meters|feet|yards", "meters|feet|yards"},
    {"--record", 28, kByte, 1, "stop|start", "start|stop   recording (live head only)"},
    {"--trigger-control", 31, kByte, 1, nullptr, "N external trigger control byte (default 0)"},
    {"--trigger-delay", 32, kWord, 1, nullptr, "N   external trigger transmit delay 0..10000"},
    {"--filter", 34, kByte, 1, "first|maximum|bottom", "first|maximum|bottom   profile point filter"},
    {"--x-offset", 36, kFloat, 1, nullptr, "M        sonar X offset -100..100"},
    {"--y-offset", 40, kFloat, 1, nullptr, "M        sonar Y offset -100..100"},
    {"--depth", 44, kFloat, 1, nullptr, "M           sonar depth -100..6000"},
    {"--intensity", 58, kByte, 1, "off|on", "off|on   intensities in point records"},
    {"--min-depth", 59, kWord, 10, nullptr, "M       minimum depth below the sonar 0..100"},
};
constexpr int kFieldCount = static_cast<int>(sizeof kFields / sizeof kFields[0]);

// The index of `word` in "a|b|c", or -1.
int WordIndex(const char* words, const char* word) {
  int index = 0;
  const char* p = words;
  const size_t n = std::strlen(word);
  while (*p) {
    const char* end = std::strchr(p, '|');
    const size_t len = end ? static_cast<size_t>(end - p) : std::strlen(p);
    if (len == n && std::strncmp(p, word, n) == 0) return index;
    if (!end) break;
    p = end + 1;
    ++index;
  }
  return -1;
}

int ParseNumber(const char* text, double* v) {
  char* end = nullptr;
  errno = 0;
  *v = std::strtod(text, &end);
  return end != text && *end == '\0' && errno == 0 && std::isfinite(*v);
}

void Error(char* error, int size, const char* what, const char* arg) {
  if (error && size > 0) std::snprintf(error, static_cast<size_t>(size), "%s: %s", what, arg);
}

double NowMs() { return plat::CounterMs(0, plat::CounterNow()); }

}  // namespace

const RemoteField* RemoteFields(int* count) {
  if (count) *count = kFieldCount;
  return kFields;
}

void PrintRemoteHelp(FILE* out) {
  std::fprintf(out,
               "usage: orvale-remote [options]\n"
               "\n"
               "Drives an Orvale console over UDP as a remote program does. It listens\n"
               "on the console's output address and port for the console's output or\n"
               "keep-alive, takes its sender as the console, sends one control datagram\n"
               "built from the options and reports what the console sends next. Fields\n"
               "not given are sent with values the console ignores, so it keeps its own.\n"
               "The console sends all its later output to this program's port.\n"
               "\n"
               "  --listen ADDR        address to listen on (default 127.0.0.1)\n"
               "  --port N             port to listen on, the console's RemotePort_Output1\n"
               "                       (default 4040)\n"
               "  --console ADDR:PORT  send to this console instead of learning it\n"
               "  --timeout S          seconds to wait for the console (default 5)\n"
               "  --print              print every point record heard: time, beams,\n"
               "                       depth under the sonar\n"
               "  --seconds S          with --print: stop after S seconds\n"
               "  --listen-only        send nothing (with --print: only watch)\n"
               "  --release            external control off (nothing else applies)\n"
               "  --transmit on|off    head transmit\n"
               "  --hide-window, --show-window   the console's main window\n");
  for (const RemoteField& f : kFields) std::fprintf(out, "  %s %s\n", f.option, f.help);
  std::fprintf(out,
               "\nExit status: 0 answered, 1 usage, 2 no console heard, 3 no answer.\n"
               "With ORVALE_LOOPBACK_ONLY=1 only 127.0.0.0/8 is contacted.\n");
}

int ParseRemoteArgs(int argc, char** argv, RemoteOptions* o, char* error, int errorSize) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto next = [&](const char** v) {
      if (i + 1 >= argc) return Error(error, errorSize, "missing value after", a), 0;
      *v = argv[++i];
      return 1;
    };
    const char* v = nullptr;
    double n = 0;
    if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) return 2;
    if (!std::strcmp(a, "--print")) { o->print = 1; continue; }
    if (!std::strcmp(a, "--release")) { o->release = 1; continue; }
    if (!std::strcmp(a, "--listen-only")) { o->sendControl = 0; continue; }
    if (!std::strcmp(a, "--hide-window")) { o->hideWindow = 1; continue; }
    if (!std::strcmp(a, "--show-window")) { o->hideWindow = 0; continue; }
    if (!next(&v)) return 0;
    if (!std::strcmp(a, "--listen")) { o->listenAddr = v; continue; }
    if (!std::strcmp(a, "--console")) {
      static char addr[64];
      const char* colon = std::strrchr(v, ':');
      if (!colon || colon == v || colon - v >= static_cast<long>(sizeof addr) || !ParseNumber(colon + 1, &n) ||
          n < 1 || n > 65535)
        return Error(error, errorSize, "expected ADDR:PORT", v), 0;
      std::memcpy(addr, v, static_cast<size_t>(colon - v));
      addr[colon - v] = '\0';
      o->consoleAddr = addr;
      o->consolePort = static_cast<int>(n);
      continue;
    }
    if (!std::strcmp(a, "--transmit")) {
      const int w = WordIndex("off|on", v);
      if (w < 0) return Error(error, errorSize, "expected on or off", v), 0;
      o->transmit = w;
      continue;
    }
    if (!std::strcmp(a, "--port") || !std::strcmp(a, "--timeout") || !std::strcmp(a, "--seconds")) {
      if (!ParseNumber(v, &n) || n < 0) return Error(error, errorSize, "bad number", v), 0;
      if (a[2] == 'p') {
        if (n < 1 || n > 65535) return Error(error, errorSize, "bad port", v), 0;
        o->listenPort = static_cast<int>(n);
      } else if (a[2] == 't') {
        o->timeoutMs = static_cast<int>(n * 1000);
      } else {
        o->printSeconds = n;
      }
      continue;
    }
    const RemoteField* f = nullptr;
    for (const RemoteField& r : kFields)
      if (!std::strcmp(a, r.option)) f = &r;
    if (!f) return Error(error, errorSize, "unknown option", a), 0;
    if (f->words && WordIndex(f->words, v) >= 0) {
      n = WordIndex(f->words, v);
      if (f->offset == 20 && n == 2) return Error(error, errorSize, "expected points, beams or both", v), 0;
    } else if (f->words && f->offset != 20) {
      return Error(error, errorSize, "expected one of", f->words), 0;
    } else if (!ParseNumber(v, &n)) {
      return Error(error, errorSize, "bad number", v), 0;
    }
    // The tilt travels as degrees + 180, with -90 and 90 as codes of their own.
    if (f->offset == 25) n = n == -90 ? 50 : n == 90 ? 51 : n + 180;
    const double sent = f->kind == kFloat ? n : std::trunc(n * f->scale + (n >= 0 ? 0.5 : -0.5));
    const double top = f->kind == kByte ? 255 : 65535;
    if (f->kind != kFloat && (sent < 0 || sent > top)) return Error(error, errorSize, "value does not fit", v), 0;
    o->set[f->offset] = 1;
    o->value[f->offset] = sent;
  }
  return 1;
}

int BuildControlDatagram(const RemoteOptions& o, uint8_t* out, int outSize) {
  if (out == nullptr || outSize < kRemoteDatagramBytes) return 0;
  std::memset(out, 0, kRemoteDatagramBytes);
  out[0] = 'K';
  out[1] = '4';
  out[2] = 'C';
  out[3] = o.release ? 0 : 1;
  out[4] = static_cast<uint8_t>((o.transmit ? 0 : 1) | (o.hideWindow ? 2 : 0));
  for (const RemoteField& f : kFields) {
    uint8_t* p = out + f.offset;
    if (!o.set[f.offset]) {
      // Values the console refuses, except the trigger control byte, which
      // it takes whatever it is: that goes out as 0 unless given.
      if (f.offset == 31) *p = 0;
      else if (f.kind == kByte) *p = 0xFF;
      else if (f.kind == kWord) PutBE16(p, 0xFFFF);
      else PutFloatLE(p, std::nanf(""));
      continue;
    }
    const double v = o.value[f.offset];
    if (f.kind == kByte) *p = static_cast<uint8_t>(v);
    else if (f.kind == kWord) PutBE16(p, static_cast<int>(v));
    else PutFloatLE(p, static_cast<float>(v));
  }
  return kRemoteDatagramBytes;
}

// ---------------------------------------------------------------- reading output

int PointRecordDepth(const uint8_t* d, int length, double* depthM) {
  if (length < 256 || d[0] != 'K' || d[1] != '4' || d[2] != 'P') return 0;
  const int n = GetBE16(d + 70);
  if (n <= 0 || 256 + 2 * n > length) return 0;
  const double startDeg = GetBE16(d + 76) / 100.0 - 180.0;
  const double spacingDeg = d[78] / 100.0;
  // Centimetres per sample (range-unit flag 1) or millimetres.
  const double perSampleM = GetBE16(d + 85) / (d[122] == 1 ? 100.0 : 1000.0);
  double depths[1024];
  int found = 0;
  for (int i = 0; i < n && found < 1024; ++i) {
    const int tenths = GetBE16(d + 256 + 2 * i);
    if (tenths == 0) continue;
    const double angle = startDeg + i * spacingDeg;
    if (std::fabs(angle) > 10.0) continue;
    depths[found++] = tenths / 10.0 * perSampleM * std::cos(angle * M_PI / 180.0);
  }
  if (found == 0) return 0;
  std::sort(depths, depths + found);
  *depthM = depths[found / 2];
  return 1;
}

int DescribeConsoleDatagram(const uint8_t* d, int length, char* out, int outSize) {
  if (out && outSize > 0) out[0] = '\0';
  if (d == nullptr || length < 3 || d[0] != 'K' || d[1] != '4') return 0;
  if (d[2] == 'Z') {
    if (out) std::snprintf(out, static_cast<size_t>(outSize), "keep-alive");
    return 'Z';
  }
  if (length < 112) return 0;
  char time[16];
  std::snprintf(time, sizeof time, "%.8s%.3s", reinterpret_cast<const char*>(d + 20),
                reinterpret_cast<const char*>(d + 29));
  for (char* c = time; *c; ++c)
    if (static_cast<unsigned char>(*c) < ' ') *c = ' ';
  const int beams = GetBE16(d + 70);
  const int rangeM = GetBE16(d + 79);
  const int sectorDeg = GetBE16(d + 74);
  const double sound = (GetBE16(d + 83) & 0x7FFF) / 10.0;
  if (d[2] == 'B') {
    if (out)
      std::snprintf(out, static_cast<size_t>(outSize), "%s beams %d sector %d range %d m sound %.1f m/s (beam record)",
                    time, beams, sectorDeg, rangeM, sound);
    return 'B';
  }
  if (d[2] != 'P' || length < 256) return 0;
  double depth = 0;
  char depthText[32] = "-";
  if (PointRecordDepth(d, length, &depth)) std::snprintf(depthText, sizeof depthText, "%.2f m", depth);
  const int tilt = GetBE16(d + 89) - 180;
  if (out)
    std::snprintf(out, static_cast<size_t>(outSize),
                  "%s beams %d depth %s altitude %.2f m sector %d range %d m sound %.1f m/s tilt %d%s%s", time,
                  beams, depthText, GetFloatLE(d + 133), sectorDeg, rangeM, sound, tilt,
                  d[117] ? " intensities" : "", d[155] ? " mark" : "");
  return 'P';
}

// ---------------------------------------------------------------- exchange

int RunRemote(const RemoteOptions& o, RemoteReport* report, FILE* out) {
  RemoteReport local;
  RemoteReport& r = report ? *report : local;
  const int fd = net::UdpOpen(o.listenAddr, o.listenPort);
  if (fd < 0) {
    std::fprintf(out, "orvale-remote: cannot listen on %s:%d (error %d)\n", o.listenAddr, o.listenPort, -fd);
    return kRemoteFailed;
  }
  uint8_t buf[65536];
  uint32_t from = 0;
  int fromPort = 0;
  int status = kRemoteOk;
  // 1. The console: given, or the sender of the first datagram heard.
  if (o.consoleAddr) {
    if (!net::ParseIPv4(o.consoleAddr, &r.consoleAddr)) {
      std::fprintf(out, "orvale-remote: bad console address %s\n", o.consoleAddr);
      net::CloseSocket(fd);
      return kRemoteUsage;
    }
    r.consolePort = o.consolePort;
  } else {
    int heard = 0;
    if (net::WaitReadable(fd, o.timeoutMs) == 1) heard = net::UdpReceive(fd, buf, sizeof buf, &from, &fromPort) >= 0;
    if (!heard) {
      std::fprintf(out, "orvale-remote: nothing heard on %s:%d\n", o.listenAddr, o.listenPort);
      net::CloseSocket(fd);
      return kRemoteNoConsole;
    }
    r.consoleAddr = from;
    r.consolePort = fromPort;
  }
  std::fprintf(out, "console %u.%u.%u.%u:%d\n", r.consoleAddr >> 24, (r.consoleAddr >> 16) & 255,
               (r.consoleAddr >> 8) & 255, r.consoleAddr & 255, r.consolePort);

  // 2. The control datagram.
  if (o.sendControl) {
    uint8_t control[kRemoteDatagramBytes];
    const int length = BuildControlDatagram(o, control, sizeof control);
    const int sent = net::UdpSendToAddr(fd, r.consoleAddr, r.consolePort, control, length);
    if (sent != length) {
      std::fprintf(out, "orvale-remote: send refused or failed (error %d)\n", -sent);
      net::CloseSocket(fd);
      return kRemoteFailed;
    }
    r.sent = 1;
  }

  // 3. The answer: the first point record carrying the command mark, or,
  // when the console outputs no points, the output of the next ping but one.
  // A range step puts the mark on the first record after the head has
  // changed range, and a fast console may send several records while it
  // waits for that ping; so once point records come, only the mark (or a
  // long run of records without one) answers.
  const double start = NowMs();
  const double limitMs = o.print && o.printSeconds > 0 ? o.printSeconds * 1000.0 : o.timeoutMs;
  int afterSend = 0;
  int pointsSeen = 0;
  for (;;) {
    const double left = limitMs - (NowMs() - start);
    if (left <= 0) break;
    if (net::WaitReadable(fd, static_cast<int>(left) + 1) != 1) continue;
    const int n = net::UdpReceive(fd, buf, sizeof buf, &from, &fromPort);
    if (n < 0) continue;
    char text[kRemoteTextBytes];
    const int kind = DescribeConsoleDatagram(buf, n, text, sizeof text);
    if (kind == 0) continue;
    ++afterSend;
    if (kind == 'P' && o.print) {
      std::fprintf(out, "%s\n", text);
      r.printed++;
    }
    const int marked = kind == 'P' && n > 155 && buf[155] == 1;
    pointsSeen += kind == 'P';
    const int unmarkedLimit = pointsSeen > 0 ? kUnmarkedPointsLimit : 3;
    if (!r.answered && (marked || !o.sendControl || afterSend >= unmarkedLimit)) {
      r.answered = 1;
      r.markSeen = marked;
      r.lastLength = n < static_cast<int>(sizeof r.lastRecord) ? n : static_cast<int>(sizeof r.lastRecord);
      std::memcpy(r.lastRecord, buf, static_cast<size_t>(r.lastLength));
      std::snprintf(r.lastText, sizeof r.lastText, "%s", text);
      if (!o.print) std::fprintf(out, "now sending: %s\n", text);
    }
    if (r.answered && !o.print) break;
  }
  if (!r.answered) {
    std::fprintf(out, "orvale-remote: no answer from the console\n");
    status = kRemoteFailed;
  }
  net::CloseSocket(fd);
  return status;
}
