// Triple buffers of finished pictures, one per window. The three slots
// rotate between three owners: the drawing thread's back slot, the published
// middle slot and the painter's front slot. `middle` packs the middle slot's
// index with a "fresh" bit; publishing swaps the back slot in (fresh set),
// taking swaps the front slot in (fresh cleared). Only those two exchanges
// cross threads, with acquire-release order, so the pixels written before a
// publication are what the painter reads after taking it.
#include "platform/frame_handoff.h"

#include <atomic>
#include <cstring>

#include "platform/platform.h"

namespace plat {

namespace {

constexpr int kFresh = 4;
constexpr int kIndexMask = 3;

struct WindowFrames {
  Frame slots[3];
  std::atomic<int> middle{1};      // published slot | kFresh while unread
  int back = 2;                    // drawing thread only
  int front = 0;                   // painting thread only
  std::atomic<int64_t> published{0};
};

static_assert(kFrameProfileWaterfall == kWinCount, "the extra hand-offs follow the windows");
WindowFrames g_frames[kFrameChannels];

int ValidWindow(int window) { return window >= 0 && window < kFrameChannels; }

}  // namespace

int PublishFrame(int window, const uint8_t* pixels, int width, int height, const uint32_t* palette256,
                 int x0, int y0, int x1, int y1) {
  if (!ValidWindow(window) || pixels == nullptr || width <= 0 || height <= 0) return 0;
  if (width > kFrameMaxWidth || height > kFrameMaxHeight) return 0;
  WindowFrames& w = g_frames[window];
  Frame& f = w.slots[w.back];
  f.width = width;
  f.height = height;
  f.x0 = x0;
  f.y0 = y0;
  f.x1 = x1;
  f.y1 = y1;
  f.sequence = w.published.load(std::memory_order_relaxed) + 1;
  std::memcpy(f.pixels, pixels, static_cast<size_t>(width) * static_cast<size_t>(height));
  if (palette256) std::memcpy(f.palette, palette256, sizeof f.palette);
  const int previous = w.middle.exchange(w.back | kFresh, std::memory_order_acq_rel);
  w.back = previous & kIndexMask;
  w.published.fetch_add(1, std::memory_order_relaxed);
  return 1;
}

const Frame* LatestFrame(int window) {
  if (!ValidWindow(window)) return nullptr;
  WindowFrames& w = g_frames[window];
  if (w.middle.load(std::memory_order_acquire) & kFresh) {
    const int previous = w.middle.exchange(w.front, std::memory_order_acq_rel);
    w.front = previous & kIndexMask;
  }
  const Frame& f = w.slots[w.front];
  return f.sequence > 0 ? &f : nullptr;
}

int64_t FramesPublished(int window) {
  return ValidWindow(window) ? g_frames[window].published.load(std::memory_order_relaxed) : 0;
}

void ResetFrames() {
  for (WindowFrames& w : g_frames) {
    for (Frame& f : w.slots) {
      f.sequence = 0;
      f.width = f.height = 0;
    }
    w.middle.store(1);
    w.back = 2;
    w.front = 0;
    w.published.store(0);
  }
}

}  // namespace plat
