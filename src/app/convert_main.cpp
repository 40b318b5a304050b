// orvale-convert: converts recorded .K41 files without a window, as the
// console's command-line run does, but as fast as the processing goes.
// Reads "Orvale.INI" from the working directory, writes the outputs beside
// each file and saves the settings on the way out. Several files are
// converted in processes of their own, -j at a time.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "app/convert_batch.h"
#include "app/convert_run.h"

namespace {

void PrintHelp() {
  std::printf(
      "usage: orvale-convert NAME[.K41] [NAME[.K41] ...] /p|/b|/x [options]\n"
      "\n"
      "Plays the sonar data file NAME.K41 once through the whole processing chain\n"
      "(beamforming, profile detection, drawing, outputs) with the settings of\n"
      "\"Orvale.INI\" in the working directory, and writes beside it:\n"
      "  /p   NAME.K4P      profile point records\n"
      "  /b   NAME.K4B      beam records\n"
      "  /x   NAME.K4P and NAME_sss.XTF (sidescan)\n"
      "Point records are only produced with ProfilePointDetection=1 in the\n"
      "settings. Each ping is also sent to IPAddress_Output1:RemotePort_Output1\n"
      "(a point or beam datagram, or a 32-byte keep-alive). The settings are\n"
      "saved at the end, as the console saves them at exit.\n"
      "\n"
      "Several files are each converted in a process of their own, with their\n"
      "own outputs, and one summary is printed for all of them.\n"
      "\n"
      "options:\n"
      "  -j N, --jobs N        convert up to N files at once (default 1)\n"
      "  --save-picture FILE   write the main picture of the last ping as an\n"
      "                        8-bit BMP file (one file only)\n"
      "  --quiet               no progress line and no summary\n"
      "  --help                this text\n"
      "  --version             the version\n"
      "\n"
      "exit status: 0 done; 1 wrong usage; 2 missing file, wrong extension or\n"
      "not a sonar data file; 3 an output could not be written. With several\n"
      "files, the highest status of any of them.\n"
      "ORVALE_LOOPBACK_ONLY=1 refuses every network destination outside 127.0.0.0/8.\n"
      "ORVALE_PING_THREADS=1 keeps each ping on one thread (the default splits it\n"
      "over two when a single file is converted).\n");
}

constexpr int kMaxFiles = 4096;
const char* s_names[kMaxFiles];

// Parses N of -j N, -jN or --jobs N; 0 when it is not a count of 1 .. 64.
int JobCount(const char* text) {
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (*end != '\0' || v < 1 || v > 64) return 0;
  return static_cast<int>(v);
}

void PrintFileDone(const BatchFileResult& r, void* ctx) {
  const int quiet = *static_cast<const int*>(ctx);
  if (r.status != kConvertOk) {
    std::fprintf(stderr, "orvale-convert: %s\n", r.error);
    return;
  }
  if (r.summary.pointsWithoutDetection)
    std::fprintf(stderr, "orvale-convert: %s: ProfilePointDetection is 0 in the settings: the .K4P file holds no records\n",
                 r.name);
  if (!quiet)
    std::printf("orvale-convert: %s: %d records read, %d pings converted, %d rejected, %.2f s\n", r.name,
                r.summary.recordsRead, r.summary.pingsProcessed, r.summary.pingsRejected, r.summary.seconds);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  ConvertOptions options;
  int quiet = 0;
  int count = 0;
  int jobs = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      PrintHelp();
      return 0;
    }
    if (std::strcmp(a, "--version") == 0) {
      std::printf("orvale-convert %s\n", ORVALE_VERSION);
      return 0;
    }
    if (std::strcmp(a, "--quiet") == 0) {
      quiet = 1;
    } else if (std::strcmp(a, "-j") == 0 || std::strcmp(a, "--jobs") == 0 ||
               (a[0] == '-' && a[1] == 'j' && a[2] != '\0')) {
      const char* n = a[1] == 'j' && a[2] != '\0' ? a + 2 : (i + 1 < argc ? argv[++i] : nullptr);
      jobs = JobCount(n);
      if (jobs == 0) {
        std::fprintf(stderr, "orvale-convert: %s needs a number of jobs from 1 to 64\n", a);
        return 1;
      }
    } else if (std::strcmp(a, "--save-picture") == 0) {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "orvale-convert: --save-picture needs a file name\n");
        return 1;
      }
      options.savePicture = argv[++i];
    } else if (a[0] == '/' && a[1] != '\0' && a[2] == '\0') {
      const char c = static_cast<char>(a[1] | 0x20);
      if (c != 'p' && c != 'b' && c != 'x') {
        std::fprintf(stderr, "orvale-convert: unknown switch %s (use /p, /b or /x)\n", a);
        return 1;
      }
      options.outputSwitch = c;
    } else if (a[0] == '-' && a[1] == '-') {
      std::fprintf(stderr, "orvale-convert: unknown option %s (see --help)\n", a);
      return 1;
    } else if (count < kMaxFiles) {
      s_names[count++] = a;
    } else {
      std::fprintf(stderr, "orvale-convert: at most %d files at a time (%s)\n", kMaxFiles, a);
      return 1;
    }
  }
  if (count == 0 || options.outputSwitch == 0) {
    std::fprintf(stderr, "orvale-convert: usage: orvale-convert NAME[.K41] /p|/b|/x (see --help)\n");
    return 1;
  }
  if (count > 1 || jobs > 0) {
    if (options.savePicture) {
      std::fprintf(stderr, "orvale-convert: --save-picture takes one file without -j\n");
      return 1;
    }
    BatchSummary batch;
    const int status = RunConversionBatch(options, s_names, count, jobs > 0 ? jobs : 1, &batch, PrintFileDone, &quiet);
    if (!quiet)
      std::printf("orvale-convert: %d files (%d failed), %d records read, %d pings converted, %d rejected, "
                  "%.2f s (%.0f pings/s)\n",
                  batch.files, batch.filesFailed, batch.recordsRead, batch.pingsProcessed, batch.pingsRejected,
                  batch.seconds, batch.seconds > 0 ? batch.pingsProcessed / batch.seconds : 0.0);
    return status;
  }
  options.name = s_names[0];
  options.progress = !quiet && isatty(2);

  ConvertSummary summary;
  char error[512];
  const int status = RunConversion(options, &summary, error, sizeof error);
  if (status != 0) {
    std::fprintf(stderr, "orvale-convert: %s\n", error);
    return status;
  }
  if (summary.pointsWithoutDetection)
    std::fprintf(stderr, "orvale-convert: ProfilePointDetection is 0 in the settings: the .K4P file holds no records\n");
  if (!quiet) {
    std::printf("orvale-convert: %d records read, %d pings converted, %d rejected, %.2f s (%.0f pings/s)\n",
                summary.recordsRead, summary.pingsProcessed, summary.pingsRejected, summary.seconds,
                summary.seconds > 0 ? summary.pingsProcessed / summary.seconds : 0.0);
    if (summary.depthPings > 0)
      std::printf("orvale-convert: depth below the sonar %.2f .. %.2f m (%d pings with a bottom)\n",
                  summary.minDepthM, summary.maxDepthM, summary.depthPings);
    if (summary.pictureSaved) std::printf("orvale-convert: picture %s\n", options.savePicture);
  }
  return 0;
}
