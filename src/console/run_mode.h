// The console's spine without windows: start-up in its fixed order, the
// switch between Head and File mode, shutdown, and the one reset that puts
// every module back to its start. The Qt console and the headless programs
// call the same functions, so what a test sees of a mode switch is what the
// operator gets.
#pragma once

#include "console/menu_ids.h"
#include "settings/constants.h"


struct RunModeState {
  int switches = 0;            // SetRunMode calls (tests, diagnostics)
  int layoutRefreshes = 0;     // switches that found the mode changed
  int started = 0;             // StartConsole has finished
  int shutDown = 0;            // ShutdownConsole has run
  int lastPlaybackOpened = 0;  // the File-mode switch opened a file
  int portOpenFailures = 0;    // GPS or probe ports present but not opened (the port module says why)
};
extern RunModeState g_runMode;

// Every module's state back to its start-up values (settings, switch state,
// decoding, navigation, processing, detection, imaging, outputs, playback,
// conversion, the ping cycle and the run-mode record). Tests start from it;
// a run-mode switch uses the narrower ResetRunState.
void ResetConsole();

// What a run-mode switch starts over: the per-run counters and ping timing
// (diagnostics back to "0 ms" / "0 Hz"), the played record's remembered
// values, the record-to-record timing; the next pass through the cycle
// counts as the first.
void ResetRunState();

// The creation part of start-up: start-up head limits, the settings file of
// `settingsPath` (null or empty: "Orvale.INI" in the working directory)
// recorded for the saves and read with its follow-ups. Returns what the loader returned
// (1 read, 0 defaults). The Qt console sets the menu check marks after it.
int CreateConsole(const char* settingsPath);

// The rest of start-up, in order: display constants, beam slots cleared,
// diagnostics texts, palette, centred profile, the cleared picture shown,
// the command line processed (`commandLine` may be null or empty), the run
// mode applied, the frequency and head refresh forced. Returns the command
// line's result (kCmdInteractive, kCmdConversion or kCmdClose); on kCmdClose
// nothing after the command line runs and the program should end silently.
int StartConsole(const char* commandLine);

// Applies g_settings.RunMode: stops everything of the old mode (recording
// copy, playback file, conversion outputs unless a command-line run, the
// output socket made anew), keeps or restores the operator's head values,
// enables and greys the mode's menu items, refreshes the tables, and in File
// mode shows the Playback window and opens a file (the command-line file in
// a conversion run, otherwise through the open dialog).
void SetRunMode();

// Enables the camera's menu items in Head mode while a camera is connected
// and greys them otherwise ("Open Video Window" stays enabled).
void UpdateVideoMenus();

// Shutdown in order: the mode's threads and ports, the copy and playback
// file, the output files, the settings saved, the output socket closed.
// Returns what SaveSettings returned.
int ShutdownConsole();
