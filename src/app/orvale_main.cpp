// orvale: the operator's console. Reads "Orvale.INI" in the working
// directory, opens the main window and runs in the mode the settings hold.
// With a file name and /p, /b or /x it converts that recording minimised and
// closes at its end.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/console_app.h"
#include "console/run_mode.h"

namespace {

void PrintHelp() {
  std::printf(
      "usage: orvale [NAME[.K41] /p|/b|/x] [--save-screen FILE.bmp] [--run-seconds S --stats]\n"
      "\n"
      "Without arguments the console starts in the run mode of \"Orvale.INI\" in\n"
      "the working directory (Head: live sonar; File: playback of a recording).\n"
      "With a recording and a switch it converts the file, minimised, and closes\n"
      "at its end: /p NAME.K4P, /b NAME.K4B, /x NAME.K4P and NAME_sss.XTF.\n"
      "\n"
      "  --save-screen FILE.bmp  with a conversion: the main window as a bitmap\n"
      "                          when the conversion ends\n"
      "  --run-seconds S         close by itself after S seconds\n"
      "  --stats                 at the close, print pings received and processed\n"
      "                          and the frames published and painted per window\n"
      "  --command ID            run menu command ID once started (repeatable)\n"
      "  --no-splash             start without the splash picture\n"
      "  --help, --version\n");
}

}  // namespace

int main(int argc, char** argv) {
  ConsoleAppOptions options;
  std::string line;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      PrintHelp();
      return 0;
    }
    if (std::strcmp(a, "--version") == 0) {
      std::printf("orvale %s\n", ORVALE_VERSION);
      return 0;
    }
    const int hasValue = i + 1 < argc;
    if (std::strcmp(a, "--save-screen") == 0 && hasValue) {
      options.saveScreen = argv[++i];
    } else if (std::strcmp(a, "--play") == 0 && hasValue) {
      // Scripts only: the file the first open dialog answers with.
      options.playFile = argv[++i];
    } else if (std::strcmp(a, "--screenshot") == 0 && hasValue) {
      // Scripts only: a PNG of the main window after some records, then exit.
      options.screenshot = argv[++i];
    } else if (std::strcmp(a, "--screenshot-records") == 0 && hasValue) {
      options.screenshotRecords = std::atoi(argv[++i]);
    } else if (std::strcmp(a, "--command") == 0 && hasValue) {
      // Scripts only: a menu command run once the console has started
      // (621 opens the Sidescan window); may be repeated.
      options.startCommands.push_back(std::atoi(argv[++i]));
    } else if (std::strcmp(a, "--run-seconds") == 0 && hasValue) {
      // Measurements: the console closes by itself after this many seconds.
      options.runSeconds = std::atof(argv[++i]);
    } else if (std::strcmp(a, "--stats") == 0) {
      options.stats = 1;
    } else if (std::strcmp(a, "--no-splash") == 0) {
      options.splash = 0;
    } else if (a[0] == '-' && a[1] == '-') {
      std::fprintf(stderr, "orvale: unknown option %s (see --help)\n", a);
      return 1;
    } else {
      // The command line proper: the name and the switch, as typed.
      if (!line.empty()) line += ' ';
      line += a;
    }
  }
  options.commandLine = line;

  QApplication app(argc, argv);
  QApplication::setApplicationName("Orvale");
  QApplication::setQuitOnLastWindowClosed(false);
  // Every module from its reset state, as orvale-live and the tests start.
  ResetConsole();
  if (!StartConsoleApp(options)) return 0;  // an unusable command-line file: close silently
  const int status = QApplication::exec();
  StopConsoleApp();
  return status;
}
