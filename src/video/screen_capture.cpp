// Saving the main window as a bitmap file. The platform reads the window as
// it shows now (the Qt backend grabs the widgets; without a screen the main
// picture stands for it), and the bitmap is written here in the one 24-bit
// layout that camera frames use as well. Owns g_screenCapture and the grab
// buffer.
#include "video/screen_capture.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "files/output_file.h"
#include "platform/platform.h"
#include "video/capture.h"

ScreenCaptureState g_screenCapture;

namespace {

uint8_t s_grab[kScreenGrabBytes];

}  // namespace

void ResetScreenCapture() { g_screenCapture = ScreenCaptureState{}; }

int TakeScreenFileName(char* path) {
  // Only the file's own name: the directories above it are what they are on
  // a file system that minds case.
  char* name = std::strrchr(path, '/');
  name = name ? name + 1 : path;
  for (char* c = name; *c; ++c) *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
  const size_t n = std::strlen(name);
  return n >= 4 && std::strcmp(name + n - 4, ".bmp") == 0;
}

int SaveScreenBitmap(const char* path) {
  ScreenCaptureState& s = g_screenCapture;
  int w = 0, h = 0;
  if (!path || !plat::GrabWindow(plat::kWinMain, s_grab, sizeof s_grab, &w, &h) || !WriteFrameBitmap(path, s_grab, w, h)) {
    s.failures++;
    return 0;
  }
  s.saved++;
  s.lastWidth = w;
  s.lastHeight = h;
  return 1;
}

int SaveScreen() {
  char path[kOutputPathBytes];
  plat::FileDialogRequest req;
  req.title = kSaveScreenTitle;
  req.filter = "BITMAP File    (*.BMP)|*.BMP";
  req.save = 1;  // a save dialog asks before it names an existing file
  if (!plat::FileDialog(req, path, sizeof path)) return 0;
  if (!TakeScreenFileName(path)) {
    g_screenCapture.refusedNames++;
    plat::MessageBox(kSaveScreenTitle, "File extension must be .BMP", plat::kIconWarning);
    return 0;
  }
  if (SaveScreenBitmap(path)) return 1;
  char text[kOutputPathBytes + 64];
  std::snprintf(text, sizeof text, "The screen could not be written to %s.", path);
  plat::MessageBox(kSaveScreenTitle, text, plat::kIconWarning);
  return 0;
}
