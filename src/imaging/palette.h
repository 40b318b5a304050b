// Colours of the pictures: nine selectable tables for the echo levels 0..118,
// fixed interface colours 119..255, the picture colour table that travels with
// every picture and the logical palette of the windows; the blit of the main
// picture.
#pragma once

#include <atomic>
#include <cstdint>

constexpr int kColorTables = 9;
constexpr int kEchoColours = 119;   // indices 0..118
constexpr int kPaletteSize = 256;

// Colour table menu texts, in `Colors` order.
extern const char* const kColorTableNames[kColorTables];

struct PaletteState {
  int colorTable = 0;                    // `Colors` the tables were built for
  uint32_t pictureColours[kPaletteSize];  // 0x00RRGGBB, what the pictures show
  uint32_t logicalPalette[kPaletteSize];  // 0x00RRGGBB, realised in the windows
  int paletteVersion = 0;                // counts SelectColorTable successes
};
extern PaletteState g_palette;

// Set while the measuring line is drawn over the window; the blit waits.
extern std::atomic<int> MeasureLineBusy;

void ResetPalette();
// Colour (0x00RRGGBB) of echo index 0..118 in colour table `type` 0..8.
uint32_t EchoColour(int type, int index);
// Fixed colour of index 119..255 (unscaled).
uint32_t FixedColour(int index);
// Rebuilds the picture colour table and the logical palette for `type`;
// returns 0 (and changes nothing) for a type outside 0..8.
int SelectColorTable(int window, int type);
// Hands ImageBuffer with its colour table to the screen (depth gate lines
// first in Profile mode with detection on).
void BlitImage(int window);
