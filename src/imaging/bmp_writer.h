// Bitmap files: a complete BMP (14-byte file header, 40-byte information
// header, colour table, pixel rows) from a picture held top-down in memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "files/bmp_layout.h"


// Bytes of one stored pixel row: rows are padded to a multiple of 4.
int BmpRowBytes(int width, int bitsPerPixel);
// Total file length of such a bitmap.
long BmpFileBytes(int width, int height, int bitsPerPixel, int paletteCount);
// Fills the 54 header bytes plus the colour table (4 bytes per entry, blue,
// green, red, 0) into `out`. Returns the bytes written, 0 when the
// dimensions or the buffer size do not fit.
int FormatBmpHeader(uint8_t* out, size_t outSize, int width, int height, int bitsPerPixel,
                    const uint32_t* palette, int paletteCount);
// Writes `pixels` (top-down rows of width * bitsPerPixel / 8 bytes, 8 or 24
// bits per pixel; 24-bit pixels in blue, green, red order) as a BMP file with
// `paletteCount` colours (0x00RRGGBB) of `palette`. The rows are stored
// bottom-up, the form every reader takes. Returns 1, or 0 when the file
// cannot be written completely.
[[nodiscard]] int WriteBmpFile(const char* path, const uint8_t* pixels, int width, int height,
                               int bitsPerPixel, const uint32_t* palette, int paletteCount);
// The main picture (ImageBuffer) with its picture colour table.
[[nodiscard]] int SavePictureBmp(const char* path);
