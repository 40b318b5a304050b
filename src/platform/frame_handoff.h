// Finished pictures on their way from the thread that draws them to the
// thread that paints them. Every window that shows an 8-bit picture has a
// triple buffer: the drawing thread fills the back slot and publishes it with
// one atomic exchange; the painter takes the newest published slot with
// another. Neither ever waits for the other and neither sees a picture that
// is half drawn, so a slow repaint never holds up a ping and a fast ping rate
// simply skips pictures the screen had no time for.
//
// One drawing thread and one painting thread per window. Each slot holds the
// largest picture any window shows (the main picture, 1012 x 542); the
// memory is fixed at start-up, nothing is allocated per frame.
#pragma once

#include <cstdint>

namespace plat {

// Hand-offs beyond one per window (plat::WindowId): the Profile waterfall
// picture that the main window shows beside its half-size picture.
constexpr int kFrameProfileWaterfall = 10;  // plat::kWinCount
constexpr int kFrameChannels = kFrameProfileWaterfall + 1;

constexpr int kFrameMaxWidth = 1012;
constexpr int kFrameMaxHeight = 542;
constexpr int kFrameMaxBytes = kFrameMaxWidth * kFrameMaxHeight;

struct Frame {
  int width = 0;
  int height = 0;
  int x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // the part that changed, inclusive
  int64_t sequence = 0;                   // counts publications of this window
  uint32_t palette[256] = {};
  uint8_t pixels[kFrameMaxBytes] = {};
};

// Copies a picture into the window's back slot and publishes it. Pictures
// larger than a slot are refused (returns 0). Called by the drawing thread.
int PublishFrame(int window, const uint8_t* pixels, int width, int height, const uint32_t* palette256,
                 int x0, int y0, int x1, int y1);

// The newest published picture of the window, or nullptr before the first.
// The pointer stays valid and unchanged until the painter's next call for
// the same window. Called by the painting thread only.
const Frame* LatestFrame(int window);

// Publications of the window so far (any thread).
int64_t FramesPublished(int window);

// Forgets every picture (tests; no thread may be drawing or painting).
void ResetFrames();

}  // namespace plat
