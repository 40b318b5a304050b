// The Qt console: start-up in the console's fixed order on the Qt backend,
// the menu bar made from the command table, the keys and the mouse of the
// main window, the panels painted around the picture, the File-mode loop
// driven from the Qt event loop, and shutdown on the main window's close.
// Used by the orvale program and the GUI tests only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ConsoleAppOptions {
  std::string commandLine;  // "NAME /x" style, empty for an interactive start
  std::string saveScreen;   // BMP of the main window written when a conversion run ends
  std::string playFile;     // answers the first open-file dialog (scripts)
  std::string screenshot;   // PNG of the main window after screenshotRecords records, then close
  int screenshotRecords = 40;
  std::vector<int> startCommands;  // menu commands run once the console has started (scripts)
  double runSeconds = 0;    // > 0: the window closes by itself after this long
  int stats = 0;            // at the close: pings received and processed, frames per window, to stdout
  int splash = 1;
  int quitOnClose = 1;      // the application quits when the main window has closed
};

// Pending work of the File-mode loop and the run's end; written by the
// user-interface thread only.
struct ConsoleAppState {
  int running = 0;          // StartConsoleApp succeeded, the main window not yet closed
  int closed = 0;           // the main window closed and the console shut down
  int steps = 0;            // playback steps taken by the loop
  int screenSaved = 0;      // --save-screen written
  int screenshotSaved = 0;  // --screenshot written
  int mouseX = -1, mouseY = -1;  // last mouse position over the main client
  int64_t startTicks = 0;   // the console started (counter ticks): the stats' clock
};
extern ConsoleAppState g_app;

// Installs the backend, creates the windows and the menu, then CreateConsole,
// CheckMarksFromSettings and StartConsole. Returns 1 when the console runs,
// 0 when the command line closed it (the program ends silently).
int StartConsoleApp(const ConsoleAppOptions& options);

// Closes the main window if it is still open (shutting the console down) and
// removes the windows and the backend. Tests call it; the program ends with
// the main window's close.
void StopConsoleApp();

// Puts the File-mode loop in step with the run mode and the open file:
// started while a file plays, stopped otherwise. Called after every command
// and key.
void UpdatePlaybackLoop();
