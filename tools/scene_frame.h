// Small synthetic camera frames for scene files: complete 24-bit BMP files
// whose pixels say which ping they belong to.
#pragma once

#include <cstdint>

// Bytes of a frame of width x height (width a multiple of 4, so the rows
// need no padding): width * height * 3 + 54. 0 for a shape the writer refuses.
int SceneFrameBytes(int width, int height);
// Formats the frame of ping `pingIndex` into `out`. The picture is a colour
// gradient crossed by a bar at column pingIndex mod width; the first pixel of
// the top row holds the ping index (blue, green, red = bits 0-7, 8-15, 16-23).
// Returns the bytes written, 0 when the shape or the buffer does not fit.
int FormatSceneFrame(uint8_t* out, int outSize, int width, int height, int pingIndex);
// Ping index a frame made by FormatSceneFrame carries, -1 for anything else.
int SceneFramePing(const uint8_t* frame, int length);
