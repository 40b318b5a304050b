// The recording backend's memory: what the program showed, and the script
// that answers its dialogs. Tests reset it, script the operator's answers,
// run the code under test and read back what was shown.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dialog.h"

namespace plat::rec {

struct ShownMessage {
  std::string caption;
  std::string text;
  int icon;
};

// One operator action inside a dialog, applied in order after kDlgInit.
struct DialogAction {
  enum Kind { kSetText, kClick, kSpin, kSelect, kCheck } kind;
  int id;
  std::string text;  // kSetText
  int value = 0;     // kSpin delta, kSelect index, kCheck state
};

struct DialogScript {
  std::string resource;               // expected resource name ("" accepts any)
  std::vector<DialogAction> actions;
};

struct FileDialogAnswer {
  int ok;                // 0: the operator cancels
  std::string result;    // path, or "dir\0name\0name\0" for multi-select
};

struct Record {
  std::vector<ShownMessage> messages;
  std::string titles[kWinCount];
  int shown[kWinCount] = {};
  int invalidations[kWinCount] = {};
  // FitWindow: the client size asked for last, and how often.
  int clientWidth[kWinCount] = {};
  int clientHeight[kWinCount] = {};
  int fits[kWinCount] = {};
  std::vector<std::pair<int, int>> menuChecks;   // (id, checked) in call order
  std::vector<std::pair<int, int>> menuEnables;  // (id, enabled)
  std::vector<std::pair<int, std::string>> menuTexts;
  std::vector<int> cursors;                      // shapes set, in call order
  int closeRequests = 0;
  // Last picture handed to BlitImage, with its colour table.
  std::vector<uint8_t> picture;
  int pictureWidth = 0, pictureHeight = 0;
  uint32_t palette[256] = {};
  int blits = 0;
  std::vector<std::string> progressTitles;
  std::vector<int> progressValues;
  int progressOpen = 0;
  std::vector<std::string> dialogsRun;       // resource names in order
  std::vector<DialogScript> dialogScripts;   // consumed front to back
  std::vector<FileDialogAnswer> fileAnswers; // consumed front to back
  std::vector<FileDialogRequest> fileRequests;
  std::vector<std::string> fileRequestTitles;
  int echoMessagesToStderr = 0;  // headless programs print message boxes
  // Status boxes: the text shown ("" erased) and how often each was set.
  std::string statusBoxes[kBoxCount];
  int statusBoxChanges[kBoxCount] = {};
};

// Clears everything recorded and scripted, and installs the recording backend.
void Reset();
Record& Get();

// Thread-safe reads for tests that watch another thread show things.
std::string StatusBoxText(int box);
int StatusBoxChanges(int box);
size_t MessageCount();
// The last EnableMenuItem state of a command, -1 when it was never set.
int LastMenuEnable(int id);
std::vector<ShownMessage> Messages();

void ScriptDialog(const DialogScript& script);
void ScriptFileDialog(int ok, const std::string& result);

}  // namespace plat::rec
