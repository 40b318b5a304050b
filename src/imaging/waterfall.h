// The three scrolling history windows (Sidescan, Echo Sounder, Intensity):
// one design in three instances, each a byte picture the size of its window
// that scrolls by one line per ping and takes the newest line from a per-ping
// vector of the beam processing. Also the Altitude window's text.
#pragma once

#include <cstdint>

#include "platform/frame_handoff.h"

enum WaterfallKind {
  kSidescanWaterfall = 0,
  kEchoSounderWaterfall = 1,
  kIntensityWaterfall = 2,
  kWaterfallCount = 3
};

// A picture never exceeds a frame slot of the hand-off to the painter; a
// larger window shows its picture from the top left corner.
constexpr int kWaterfallMaxWidth = plat::kFrameMaxWidth;
constexpr int kWaterfallMaxHeight = plat::kFrameMaxHeight;
constexpr int kWaterfallMaxLine = 2000;      // longest resampled line
constexpr int kWaterfallMinClient = 30;      // smallest client width and height
constexpr int kWaterfallDefaultClientW = 300;
constexpr int kWaterfallDefaultClientH = 200;
constexpr int kSidescanSkippedPings = 4;     // the first pings after opening are not drawn
constexpr int kFanMaxPoints = 2048;          // pixels the fan symbols may cover
constexpr int kFanColour = 121;
constexpr int kWaterfallLevelMax = 118;      // highest echo colour a line may use

// One history window. Every field is written under the console lock: the
// per-ping update on the ping thread, the toggles, resizes, clicks and the
// minimised state on the user-interface thread. The painter never reads this
// record; it paints plat::LatestFrame(window).
struct WaterfallWindow {
  int window = 0;           // plat::WindowId; fixed by ResetWaterfalls
  int shown = 0;            // menu toggle; set and cleared by SetWaterfallShown
  int minimised = 0;        // SetWaterfallMinimised; suspends the updates
  int ready = 0;            // picture built for the client size; set by
                            // ResizeWaterfall, cleared when the window hides
  int clientWidth = 0;      // client size the picture was built for
  int clientHeight = 0;
  int width = 0;            // W, picture columns (a multiple of 4)
  int height = 0;           // H, picture rows
  int lineLength = 0;       // L, pixels of the resampled newest line
  int pingsSinceShown = 0;  // Sidescan: pings since it was shown, stops at 5
  int updates = 0;          // lines drawn since the picture was built
  int published = 0;        // pictures handed to the painter
  uint8_t line[kWaterfallMaxLine] = {};   // staging line, L bytes
  uint8_t pixels[kWaterfallMaxWidth * kWaterfallMaxHeight] = {};  // W x H, top-down
};
extern WaterfallWindow g_waterfalls[kWaterfallCount];

// Back to start: every window hidden, no picture, SidescanAngle left alone.
void ResetWaterfalls();

// The instance that draws into plat window `window`, or -1.
int WaterfallOfWindow(int window);

// The menu toggle. Showing restarts the Sidescan's skipped pings and builds a
// picture for the last client size (300 x 200 before any) so the first ping
// draws at once; hiding frees the picture (ready 0), so no update touches it.
void SetWaterfallShown(int kind, int shown);
int WaterfallShown(int kind);
// Minimised windows are not updated (their history just stops).
void SetWaterfallMinimised(int kind, int minimised);

// A new client size from the window: a client smaller than 30 in a direction
// is taken as 30 there, and *clientW / *clientH (when given) receive the size
// the window must be restored to. The picture is rebuilt empty (the history
// is lost) and published. Returns 1, or 0 for an unknown kind.
int ResizeWaterfall(int kind, int clientWidth, int clientHeight, int* clientW = nullptr,
                    int* clientH = nullptr);

// The per-ping update of every shown, ready, not minimised window: builds the
// source it needs (nadir trace, point intensity when the outputs did not) and
// scrolls, resamples, writes and publishes each picture. The caller built
// the sidescan line when WaterfallShown(kSidescanWaterfall). Never waits for
// the painter. Returns the windows updated.
int UpdateWaterfalls();

// One window's update from a source vector of `count` values (0..127 scale).
// Returns 1 when a line was drawn.
int UpdateWaterfall(int kind, const int* source, int count);

// Empties the pictures of the shown windows and republishes them.
void ClearWaterfalls();

// Publishes the window's picture again (colours changed, angle changed),
// when it is shown and ready. Returns 1 when published.
int RepublishWaterfall(int kind);
void RepublishWaterfalls();

// Mouse clicks in the Sidescan window: left +5 degrees, right -5, within
// 15..75. Returns the new SidescanAngle.
float SidescanLeftClick();
float SidescanRightClick();

// ---- the rules, as pure functions (tests)
// W and H of a client size (after the 30 minimum); limited to the maxima.
int WaterfallPictureWidth(int clientWidth);
int WaterfallPictureHeight(int clientHeight);
// L for a picture of width x height: W for Sidescan and Intensity (above
// 1996 always 2000), H for Echo Sounder (at most 2000).
int WaterfallLineLength(int kind, int width, int height);
// Source of `count` values into `length` pixels: the peak of each pixel's
// share when there are at least as many values as pixels, else the nearest
// earlier value; limited to 0..118.
void ResampleWaterfallLine(const int* source, int count, uint8_t* line, int length);

// The Sidescan's fan symbols drawn into `pixels` (width x height) in colour
// 121: apex on row 2, two lines at SidescanAngle -+ 15 degrees below the
// horizontal of length 0.075 x the client diagonal, joined by an arc; one
// symbol to each side from the centre column, or with a tilt of -20 or less
// only the port one at column W - 5, with 20 or more only the starboard one
// at column 5. Returns the pixels set; their indices and old values go to
// `savedIndex` / `savedValue` (kFanMaxPoints each) when given.
int DrawSidescanFans(uint8_t* pixels, int width, int height, int clientWidth, int clientHeight,
                     float angleDeg, double tiltDeg, int* savedIndex, uint8_t* savedValue);

// ---- Altitude window
// Text of the Altitude window: the altitude "%3.1f" in the display unit
// (0 metres, 1 feet, 2 yards), or "" when detection is off or the altitude
// is 0. Returns the characters written (0 for the blank text).
int AltitudeText(char* out, int size, double altitudeM, int detectionOn, int units);
