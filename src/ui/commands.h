// The main window's commands: one table of every command identifier with its
// menu text, where the menu shows it, its radio group, the run mode it is
// limited to and the setting its check mark follows; the dispatch that
// performs each command through the console and domain modules; and the
// check marks set from the settings as the window's creation does. The Qt
// menu is built from this table, and the tests read it.
#pragma once

#include "settings/settings.h"

// Top-level entries of the menu resource "Orvale", in menu order. A direct
// entry is a command itself rather than a popup.
struct MenuPopup {
  const char* title;
  int directCommand;  // 0 for a popup
};
constexpr int kMenuPopupCount = 10;
extern const MenuPopup kMenuPopups[kMenuPopupCount];
constexpr const char* kMenuResource = "Orvale";

// Popup indexes into kMenuPopups; kNoMenu for the commands without an item.
enum MenuPopupIndex {
  kNoMenu = -1,
  kPopupFile = 0,
  kPopupColorTable,
  kPopupSetup,
  kPopupOptions,
  kPopupComPorts,
  kPopupMode,
  kPopupProfileSetup,
  kPopupDataOutput,
  kPopupVideo,
  kPopupAbout,
};

// Radio groups: one check mark among the group's items.
enum RadioGroup {
  kNoGroup = 0,
  kGroupDataSource,   // "&Data From..." Head / File
  kGroupColorTable,
  kGroupXdcr,
  kGroupUnits,
  kGroupTimeDisplay,
  kGroupFileNameType,
  kGroupDisplayMode,
  kGroupGridType,
  kGroupSectorSize,
  kGroupBeamwidth,
  kGroupBeams,
  kGroupAveraging,
  kGroupSignalLevel,  // the two signal-level displays exclude each other
};

enum CommandModeLimit { kAnyMode = 0, kHeadOnly = 1, kFileOnly = 2 };

// How a command's check mark derives from the state.
enum CheckRule {
  kNoCheck = 0,
  kCheckEquals,     // field == value
  kCheckOn,         // field != 0
  kCheckAveraging,  // value 1: AvgFilter == 0; else AvgFilter == 1 and AvgFilterIndex == value
  kCheckWindow,     // the window `value` (plat::WindowId) is shown by this layer
  kCheckSignal2,    // the second signal-level display is on
  kCheckBackground, // background removal is on
};

struct CommandRow {
  int id;
  const char* text;      // item text; nullptr for a command without an item
  int popup;             // MenuPopupIndex
  const char* submenu;   // popup inside the popup, nullptr when the item sits in the popup itself
  int group;             // RadioGroup
  int modeLimit;         // CommandModeLimit
  int check;             // CheckRule
  int Settings::*field;  // setting the check follows (kCheckEquals, kCheckOn)
  int value;
};

// The whole table and its size.
const CommandRow* CommandTable(int* count);
// The row of a command identifier, nullptr when there is none.
const CommandRow* FindCommand(int id);
// 1 when the item should carry a check mark now.
int CommandChecked(const CommandRow& row);
// Sets every check mark through the platform, as the window's creation does.
void CheckMarksFromSettings();

// State of the user-interface layer beside the settings: the windows it shows
// that no setting records, and the second signal-level display. Written by
// the user-interface thread only; ResetCommands clears it.
struct CommandState {
  int sidescanShown = 0;      // menu 621; starts hidden, not stored
  int echoSounderShown = 0;   // menu 622
  int intensityShown = 0;     // menu 623
  int signalLevel2 = 0;       // command 691, not stored
  int signalLevelShown = 0;   // either signal-level display is on
  int commandsRun = 0;        // commands dispatched (tests)
};
extern CommandState g_commands;
void ResetCommands();

// Performs command `id` as the menu would. Returns 1 when it acted, 0 when
// the id is unknown, limited to the other run mode, or still pending. After
// any command of the table the settings file (g_settingsFile.path) is
// written back.
int RunCommand(int id);

// Shared picture follow-ups of the commands and keys: clear the picture and
// draw its grid again, then show it.
void ClearAndRedrawImage();
