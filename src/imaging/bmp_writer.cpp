// BMP writing for picture export and screen saving. Takes a top-down picture
// (the layout of every picture in memory) and writes a complete bitmap file
// with its colour table; SavePictureBmp writes the main picture (ImageBuffer)
// with the picture colour table of the palette module.
//
// File layout, all integers little-endian:
//   0  'B' 'M'              10  pixel offset: 54 + 4 * colours
//   2  file length (u32)    14  information header length 40
//   6  0 (u32)              18  width (i32), 22 height (i32, > 0: bottom-up)
//   26 planes 1 (u16)       28  bits per pixel (u16)
//   30 compression 0        34  pixel bytes (u32)
//   38 / 42 pixels per metre (2835 = 72 dpi)
//   46 colours used         50  important colours 0
//   54 colour table, 4 bytes per entry: blue, green, red, 0; then the rows,
//      last picture row first, each padded to a multiple of 4 bytes.
#include "imaging/bmp_writer.h"

#include <cstdio>
#include <cstring>

#include "files/output_file.h"
#include "platform/byte_order.h"
#include "imaging/palette.h"
#include "imaging/scan_convert.h"

int BmpRowBytes(int width, int bitsPerPixel) { return ((width * bitsPerPixel + 31) / 32) * 4; }

long BmpFileBytes(int width, int height, int bitsPerPixel, int paletteCount) {
  return kBmpHeaderBytes + 4L * paletteCount + static_cast<long>(BmpRowBytes(width, bitsPerPixel)) * height;
}

static int ValidShape(int width, int height, int bitsPerPixel, int paletteCount) {
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return 0;
  if (bitsPerPixel != 8 && bitsPerPixel != 24) return 0;
  if (paletteCount < 0 || paletteCount > 256) return 0;
  return 1;
}

int FormatBmpHeader(uint8_t* out, size_t outSize, int width, int height, int bitsPerPixel,
                    const uint32_t* palette, int paletteCount) {
  if (!out || !ValidShape(width, height, bitsPerPixel, paletteCount)) return 0;
  if (paletteCount > 0 && !palette) return 0;
  const size_t headerBytes = kBmpHeaderBytes + 4u * paletteCount;
  if (outSize < headerBytes) return 0;
  std::memset(out, 0, headerBytes);
  const uint32_t pixelBytes = static_cast<uint32_t>(BmpRowBytes(width, bitsPerPixel)) * height;
  out[0] = 'B';
  out[1] = 'M';
  PutLE32(out + 2, static_cast<uint32_t>(headerBytes + pixelBytes));
  PutLE32(out + 10, static_cast<uint32_t>(headerBytes));
  PutLE32(out + 14, kBmpInfoHeaderBytes);
  PutLE32(out + 18, static_cast<uint32_t>(width));
  PutLE32(out + 22, static_cast<uint32_t>(height));
  PutLE16(out + 26, 1);
  PutLE16(out + 28, static_cast<uint32_t>(bitsPerPixel));
  PutLE32(out + 34, pixelBytes);
  PutLE32(out + 38, 2835);
  PutLE32(out + 42, 2835);
  PutLE32(out + 46, static_cast<uint32_t>(paletteCount));
  for (int i = 0; i < paletteCount; ++i) {
    uint8_t* e = out + kBmpHeaderBytes + 4 * i;
    e[0] = static_cast<uint8_t>(palette[i]);
    e[1] = static_cast<uint8_t>(palette[i] >> 8);
    e[2] = static_cast<uint8_t>(palette[i] >> 16);
    e[3] = 0;
  }
  return static_cast<int>(headerBytes);
}

int WriteBmpFile(const char* path, const uint8_t* pixels, int width, int height, int bitsPerPixel,
                 const uint32_t* palette, int paletteCount) {
  if (!path || !pixels) return 0;
  static uint8_t header[kBmpHeaderBytes + 4 * 256];
  const int headerBytes =
      FormatBmpHeader(header, sizeof header, width, height, bitsPerPixel, palette, paletteCount);
  if (!headerBytes) return 0;
  OutputFile f;
  if (!OpenOutputFile(f, path, kOutputCreate)) return 0;
  int ok = WriteOutput(f, header, static_cast<size_t>(headerBytes));
  const size_t rowBytes = static_cast<size_t>(width) * bitsPerPixel / 8;
  const size_t padded = static_cast<size_t>(BmpRowBytes(width, bitsPerPixel));
  static const uint8_t kZero[4] = {0, 0, 0, 0};
  for (int r = height - 1; ok && r >= 0; --r) {
    ok = WriteOutput(f, pixels + rowBytes * r, rowBytes);
    if (ok && padded > rowBytes) ok = WriteOutput(f, kZero, padded - rowBytes);
  }
  if (!CloseOutput(f)) ok = 0;
  // A cut file would look like a picture to the next reader; leave none.
  if (!ok) std::remove(path);
  return ok;
}

int SavePictureBmp(const char* path) {
  return WriteBmpFile(path, &g_scan.ImageBuffer[0][0], kImageWidth, kImageHeight, 8, g_palette.pictureColours,
                      kPaletteSize);
}
