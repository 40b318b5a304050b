// The main window saved as a bitmap file: the operator's "Save Screen" with
// its save dialog, and the plain write that the console's --save-screen
// option shares.
#pragma once

#include <cstddef>

#include "platform/camera.h"

// The largest window taken: 2560 x 1600 at 24 bits.
constexpr int kScreenGrabMaxWidth = 2560;
constexpr int kScreenGrabMaxHeight = 1600;
constexpr size_t kScreenGrabBytes = static_cast<size_t>(plat::CameraRowBytes(kScreenGrabMaxWidth)) * kScreenGrabMaxHeight;
constexpr const char* kSaveScreenTitle = "Save Screen As";

struct ScreenCaptureState {
  // All on the user-interface thread.
  int saved = 0;              // bitmaps written
  int refusedNames = 0;       // names without ".bmp"
  int failures = 0;           // the window could not be read or the file not written
  int lastWidth = 0;          // the last bitmap's size
  int lastHeight = 0;
};
extern ScreenCaptureState g_screenCapture;

void ResetScreenCapture();

// The save dialog "Save Screen As"; the chosen file name is lower-cased (its
// directory is kept as it is) and must end in ".bmp"; then the main window is
// written. Returns 1 when a bitmap was written.
int SaveScreen();
// Writes the main window as it shows now to `path` as a 24-bit bitmap file.
// Returns 1 when the whole file was written.
int SaveScreenBitmap(const char* path);
// The name as the dialog takes it: the last path component lower-cased.
// Returns 1 when it ends in ".bmp".
int TakeScreenFileName(char* path);
