// Synthetic camera frames. A scene file can carry a still frame after some
// records, as a recording made with the camera window open does; these
// frames are small 24-bit bitmaps made here, with the headers formatted by
// imaging's BMP writer. The pixels tag the ping so that tests can tell which
// record a frame followed. Owns nothing.
#include "scene_frame.h"

#include <cstring>

#include "platform/byte_order.h"
#include "imaging/bmp_writer.h"

namespace {
constexpr int kMaxFrameSide = 2048;
}

int SceneFrameBytes(int width, int height) {
  if (width < 4 || height < 1 || width > kMaxFrameSide || height > kMaxFrameSide || width % 4 != 0) return 0;
  return width * height * 3 + kBmpHeaderBytes;
}

int FormatSceneFrame(uint8_t* out, int outSize, int width, int height, int pingIndex) {
  const int bytes = SceneFrameBytes(width, height);
  if (out == nullptr || bytes == 0 || outSize < bytes) return 0;
  if (FormatBmpHeader(out, static_cast<size_t>(outSize), width, height, 24, nullptr, 0) != kBmpHeaderBytes)
    return 0;
  const int bar = width > 0 ? pingIndex % width : 0;
  for (int row = 0; row < height; ++row) {
    // BMP rows are stored bottom-up: stored row `row` is picture row height-1-row.
    const int y = height - 1 - row;
    uint8_t* px = out + kBmpHeaderBytes + row * width * 3;
    for (int x = 0; x < width; ++x) {
      uint8_t b = static_cast<uint8_t>(255 * x / width);
      uint8_t g = static_cast<uint8_t>(255 * y / height);
      uint8_t r = static_cast<uint8_t>(x == bar ? 255 : 64);
      if (y == 0 && x == 0) {
        b = static_cast<uint8_t>(pingIndex & 0xFF);
        g = static_cast<uint8_t>((pingIndex >> 8) & 0xFF);
        r = static_cast<uint8_t>((pingIndex >> 16) & 0xFF);
      }
      px[3 * x + 0] = b;
      px[3 * x + 1] = g;
      px[3 * x + 2] = r;
    }
  }
  return bytes;
}

int SceneFramePing(const uint8_t* frame, int length) {
  if (frame == nullptr || length < kBmpHeaderBytes || frame[0] != 'B' || frame[1] != 'M') return -1;
  const int width = static_cast<int>(GetLE32(frame + 18)), height = static_cast<int>(GetLE32(frame + 22));
  if (SceneFrameBytes(width, height) != length || frame[28] != 24) return -1;
  // The top picture row is the last stored row.
  const uint8_t* px = frame + kBmpHeaderBytes + (height - 1) * width * 3;
  return px[0] | (px[1] << 8) | (px[2] << 16);
}
