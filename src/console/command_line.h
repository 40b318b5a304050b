// The command line of an unattended conversion run: a .K41 file name, with
// or without its extension, and a switch /p (profile points), /b (beams) or
// /x (profile points and XTF sidescan).
#pragma once

constexpr int kCommandLineMaxChars = 255;
constexpr int kCommandLineNameBytes = 257;

enum CommandLineResult {
  kCmdInteractive = 0,   // no file given: a normal start
  kCmdConversion = 1,    // a conversion run is set up
  kCmdClose = 2,         // the file is unusable: the program closes at once
};

// Why a command line closed the program.
enum CommandLineError {
  kCmdErrNone = 0,
  kCmdErrExtension,      // an extension other than .K41
  kCmdErrOpen,           // the file cannot be opened
  kCmdErrMagic,          // its first bytes are not "K41"
  kCmdErrName,           // the name does not fit a path
};

struct CommandLineState {
  // The four command-line flags, cleared by every ProcessCommandLine.
  int conversionRun = 0;
  int writePoints = 0;
  int writeBeams = 0;
  int writeXtf = 0;
  int error = kCmdErrNone;
  char fileName[kCommandLineNameBytes] = "";   // the file to play
  // Outputs created beside it (empty when not created).
  char pointName[kCommandLineNameBytes] = "";
  char beamName[kCommandLineNameBytes] = "";
  char xtfName[kCommandLineNameBytes] = "";
};
extern CommandLineState g_commandLine;

void ResetCommandLine();

// Parses the command-line text (program name removed). On a conversion run
// the selected outputs are created beside the file, the data-output type
// follows them and RunMode becomes File. The switch is the last word when it
// is a '/' and one letter, so a path may itself hold '/' separators.
int ProcessCommandLine(const char* text);

// Opens the command-line file for playback as the run-mode switch does in a
// conversion run: the end of the file then ends the program. Returns 1.
int StartCommandLinePlayback();
