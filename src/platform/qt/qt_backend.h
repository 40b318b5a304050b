// The Qt 6 Widgets backend of the platform layer: the console's windows, the
// menu bar, message boxes, the declarative dialogs as modal Qt dialogs, file
// dialogs, the progress box and the cursors. The console program installs it
// after creating the QApplication; the domain code keeps calling plat::.
//
// Threads: everything here runs on the thread that owns the QApplication.
// Calls into the backend from any other thread (the acquisition thread blits
// and invalidates) are queued to that thread and return at once; a dialog or
// file dialog asked for from another thread is refused (returns 0).
#pragma once

class QKeyEvent;
class QMainWindow;
class QMouseEvent;
class QPainter;
class QWidget;

namespace plat::qt {

// Client rectangle of the main picture in the main window.
constexpr int kPictureX = 2;
constexpr int kPictureY = 61;
constexpr int kMainWidth = 1034;
constexpr int kMainHeight = 778;

// Where the main picture goes in the client: stretched by `scale` from
// (2, 61); or the Profile waterfall layout: picture columns 100..911 at half
// size at (22, 61), smoothed, with the waterfall picture 1:1 at (431, 62).
struct PictureLayout {
  double scale = 1.0;
  int halfSize = 0;
};
constexpr int kHalfPictureX = 22;
constexpr int kHalfPictureFirstColumn = 100;
constexpr int kHalfPictureColumns = 812;
// The strip of the main client where the console draws the status boxes; a
// box change repaints only this strip.
constexpr int kStatusStripY = 714;
constexpr int kStatusStripH = 32;
constexpr int kWaterfallPictureX = 431;
constexpr int kWaterfallPictureY = 62;

// What the console does with the main window's input; every hook runs on the
// user-interface thread and may be null.
struct ConsoleHooks {
  void (*pictureLayout)(PictureLayout* layout) = nullptr;  // asked before each paint of the picture
  void (*command)(int id) = nullptr;                // a menu item was chosen
  void (*keyPress)(QKeyEvent* event) = nullptr;
  void (*keyRelease)(QKeyEvent* event) = nullptr;
  void (*mouse)(QMouseEvent* event) = nullptr;      // moves, presses and releases over the main client
  void (*paintPanels)(QPainter& painter) = nullptr; // after the picture, over the main client
  int (*closeRequested)() = nullptr;                // 1: the main window may close
  void (*windowClosed)(int window) = nullptr;       // a secondary window's close box
  // A secondary window's client, over its background and published picture
  // (returns 1 when it drew the window's content), and the presses on it.
  int (*paintWindow)(int window, QPainter& painter, int width, int height) = nullptr;
  void (*windowMouse)(int window, QMouseEvent* event, int width, int height) = nullptr;
  // A secondary window's new client size; when the hook returns 1 the
  // window is resized to *restoreW x *restoreH (a size it must not go below).
  int (*windowResized)(int window, int width, int height, int* restoreW, int* restoreH) = nullptr;
  // A secondary window was minimised (1) or restored (0).
  void (*windowMinimised)(int window, int minimised) = nullptr;
  // A secondary window moved; a child window's place in the main client's
  // coordinates, another's on the screen.
  void (*windowMoved)(int window, int x, int y) = nullptr;
  // Around each modal wait for the operator: beginModal's result is handed
  // back to endModal.
  int (*beginModal)() = nullptr;
  void (*endModal)(int token) = nullptr;
};

// One menu item: command, text with '&' mnemonic and "\t" accelerator, the
// popup it sits in (index into the titles), the submenu inside that popup
// (nullptr: directly in the popup), its radio group (0: none) and whether it
// carries a check mark at all.
struct MenuEntry {
  int id;
  const char* text;
  int popup;
  const char* submenu;
  int group;
  int checkable;
};
// A top-level entry: a popup, or a command of its own when directCommand != 0.
struct MenuTitle {
  const char* title;
  int directCommand;
};

// Creates the windows (the main window shown later by ShowMain) and installs
// the backend. A QApplication must exist. Returns 1.
int Install(const ConsoleHooks& hooks);
// Destroys the windows and restores the recording backend.
void Uninstall();
int Installed();

// Builds the main window's menu bar: the titles in order, each popup's items
// in the order given, submenus created where first named.
void BuildMenuBar(const MenuTitle* titles, int titleCount, const MenuEntry* items, int itemCount);

void ShowMain(int minimised);
QMainWindow* MainWindow();
// The main window's client (the picture, the panels); its coordinates are
// the client coordinates of the console.
QWidget* MainClient();
// Any of the windows by plat::WindowId (the main window for kWinMain).
QWidget* Window(int window);
// Where a secondary window goes when it is shown from hidden (a child window
// in the main client's coordinates): the windows table's place until the
// console sets one it keeps (the Altitude window's stored place).
void SetWindowPlace(int window, int x, int y);
// The Playback window's client: 25 character widths by 8 character heights
// less one pixel of the panels' font.
int PlaybackWindowWidth();
int PlaybackWindowHeight();

// The next file dialog is answered with `path` without being shown (the
// screenshot script opens its file this way). Empty: ask the operator.
void PresetFileDialogAnswer(const char* path);

// Message boxes and dialogs open now (tests wait for them).
int ModalOpen();

// The text of a status box (plat::SetStatusBox) as the backend holds it now,
// "" while the box is erased. User-interface thread (the painter).
void StatusBoxText(int box, char* out, int size);
// Status box changes so far (tests).
int StatusBoxChanges(int box);

// Paint events each window has run since Install (the speed measurement).
long PaintCount(int window);

}  // namespace plat::qt
