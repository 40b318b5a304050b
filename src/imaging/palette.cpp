// Palette, display gain and persistence setting. Builds the 256 colours of
// the pictures from the base colour table and the selected colour table
// (`Colors`), keeps the picture colour table (fixed colours brightened or
// dimmed for the bitmap) and the logical palette of the windows, blits the
// main picture through the platform layer. Display gain itself is applied by
// the beamformer.
#include "imaging/palette.h"

#include <cmath>
#include <cstdio>

#include "imaging/overlay.h"
#include "imaging/render.h"
#include "imaging/scan_convert.h"
#include "imaging/waterfall.h"
#include "platform/frame_handoff.h"
#include "platform/platform.h"
#include "settings/settings.h"

PaletteState g_palette;
std::atomic<int> MeasureLineBusy{0};

const char* const kColorTableNames[kColorTables] = {
    "Norm &Hi", "Norm &Lo", "Gr&een", "&Grey", "&Rev Grey", "&Brown/Yellow", "Green/Bl&ue",
    "Green/&Yellow", "Blu&e"};

// Base colour table, indices 0..118 (red, green, blue).
static const uint8_t kBase[kEchoColours][3] = {
    {0, 0, 0},       {0, 0, 1},       {0, 0, 3},       {0, 0, 5},       {0, 0, 10},
    {0, 0, 15},      {0, 0, 20},      {0, 0, 25},      {0, 0, 30},      {0, 0, 35},
    {0, 0, 40},      {0, 0, 45},      {0, 0, 50},      {0, 0, 55},      {0, 0, 60},
    {0, 0, 65},      {0, 0, 70},      {0, 0, 75},      {0, 0, 80},      {0, 20, 80},
    {0, 25, 75},     {0, 30, 70},     {0, 35, 65},     {0, 40, 60},     {0, 45, 55},
    {0, 50, 50},     {0, 55, 45},     {0, 60, 40},     {0, 65, 35},     {0, 70, 30},
    {0, 75, 25},     {0, 80, 20},     {0, 85, 15},     {0, 90, 10},     {0, 95, 5},
    {0, 100, 0},     {0, 105, 0},     {0, 110, 0},     {0, 115, 0},     {0, 120, 0},
    {5, 125, 0},     {10, 130, 0},    {20, 135, 0},    {20, 140, 0},    {20, 145, 0},
    {20, 150, 0},    {20, 155, 0},    {20, 160, 0},    {20, 165, 0},    {40, 170, 0},
    {60, 175, 0},    {70, 180, 0},    {80, 185, 0},    {90, 175, 0},    {100, 165, 0},
    {110, 155, 0},   {120, 145, 0},   {130, 135, 0},   {140, 125, 0},   {150, 110, 0},
    {155, 105, 0},   {160, 100, 0},   {165, 100, 0},   {170, 100, 0},   {175, 100, 0},
    {180, 100, 0},   {185, 100, 0},   {190, 100, 0},   {195, 100, 0},   {200, 100, 0},
    {205, 105, 0},   {210, 110, 0},   {215, 115, 0},   {210, 120, 0},   {200, 125, 0},
    {190, 130, 0},   {180, 135, 0},   {170, 140, 0},   {160, 145, 0},   {150, 150, 0},
    {155, 155, 0},   {160, 160, 0},   {165, 165, 0},   {170, 170, 0},   {175, 175, 0},
    {180, 180, 0},   {185, 185, 0},   {190, 190, 0},   {195, 195, 0},   {200, 200, 50},
    {205, 205, 60},  {210, 210, 70},  {215, 215, 80},  {220, 220, 90},  {225, 225, 100},
    {230, 230, 110}, {235, 235, 120}, {240, 240, 130}, {245, 245, 140}, {180, 180, 180},
    {185, 185, 185}, {190, 190, 190}, {195, 195, 195}, {200, 200, 200}, {205, 205, 205},
    {210, 210, 210}, {215, 215, 215}, {220, 220, 220}, {225, 225, 225}, {230, 230, 230},
    {235, 235, 235}, {240, 240, 240}, {240, 240, 240}, {240, 240, 240}, {240, 240, 240},
    {160, 0, 0},     {160, 0, 0},     {160, 0, 0},     {160, 0, 0},
};

static inline uint32_t Rgb(int r, int g, int b) {
  if (r > 255) r = 255;
  if (g > 255) g = 255;
  if (b > 255) b = 255;
  if (r < 0) r = 0;
  if (g < 0) g = 0;
  if (b < 0) b = 0;
  return (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
}

uint32_t EchoColour(int type, int i) {
  if (i < 0) i = 0;
  if (i >= kEchoColours) i = kEchoColours - 1;
  const int R = kBase[i][0], G = kBase[i][1], B = kBase[i][2];
  const double phi = i * 0.5 * 3.141592654 / 118.0;
  const int sinPart = static_cast<int>(1.2 * static_cast<int>(255.0 * std::sin(phi)));
  const int cosPart = static_cast<int>(1.2 * static_cast<int>(255.0 - 255.0 * std::cos(phi)));
  switch (type) {
    case 0: return Rgb(static_cast<int>(1.5 * R), static_cast<int>(1.5 * G), static_cast<int>(1.5 * B));
    case 1: return Rgb(R, G, B);
    case 2: return Rgb(0, static_cast<int>(2.5 * i), 0);
    case 3: {
      const int v = static_cast<int>(2.5 * i);
      return Rgb(v, v, v);
    }
    case 4: {
      const int v = static_cast<int>(1.8 * (118 - i));
      return Rgb(v, v, v);
    }
    case 5: return Rgb(sinPart, cosPart, 0);
    case 6: return Rgb(0, sinPart, cosPart);
    case 7: return Rgb(cosPart, sinPart, 0);
    case 8: return Rgb(0, cosPart, sinPart);
    default: return Rgb(R, G, B);
  }
}

uint32_t FixedColour(int index) {
  switch (index) {
    case 119: return Rgb(0, 100, 0);
    case 120: return Rgb(110, 110, 0);
    case 121: return Rgb(40, 40, 40);
    case 122: return Rgb(80, 80, 80);
    case 123: return Rgb(120, 120, 120);
    case 124: return Rgb(0, 0, 90);
    case 125: return Rgb(0, 0, 0);
    case 126: return Rgb(100, 0, 0);
    case 127: return Rgb(148, 0, 0);
    default: return Rgb(150, 0, 0);
  }
}

static uint32_t Scaled(uint32_t c, double f) {
  return Rgb(static_cast<int>(((c >> 16) & 0xFF) * f), static_cast<int>(((c >> 8) & 0xFF) * f),
             static_cast<int>((c & 0xFF) * f));
}

int SelectColorTable(int /*window*/, int type) {
  if (type < 0 || type >= kColorTables) return 0;
  for (int i = 0; i < kEchoColours; ++i) {
    const uint32_t c = EchoColour(type, i);
    g_palette.pictureColours[i] = c;
    g_palette.logicalPalette[i] = c;
  }
  for (int i = kEchoColours; i < kPaletteSize; ++i) {
    const uint32_t f = FixedColour(i);
    // The bitmap shows the interface colours brighter (119..127) or dimmer
    // (128..255) than the window palette does.
    g_palette.pictureColours[i] = Scaled(f, i < 128 ? 1.8 : 0.85);
    g_palette.logicalPalette[i] = i < 128 ? Scaled(f, 1.8) : f;
  }
  g_palette.logicalPalette[129] = Rgb(255, 255, 255);
  g_palette.colorTable = type;
  ++g_palette.paletteVersion;
  // The history windows show the new colours without waiting for a ping.
  RepublishWaterfalls();
  for (int w = 0; w < plat::kWinCount; ++w) plat::InvalidateWindow(w);
  return 1;
}

void ResetPalette() {
  g_palette.colorTable = 0;
  g_palette.paletteVersion = 0;
  MeasureLineBusy = 0;
  SelectColorTable(plat::kWinMain, 0);
  g_palette.paletteVersion = 0;
}

void BlitImage(int /*window*/) {
  if (g_scan.geom.mode == kModeProfile && g_settings.ProfilePointDetection == 1) DrawDepthGateLines();
  // The measuring line is drawn straight onto the window; a blit in the
  // middle of it would leave half a line behind.
  while (MeasureLineBusy.load()) plat::SleepMs(1);
  // The Profile waterfall travels beside the picture it belongs to, before
  // the blit asks for the paint that shows both.
  if (g_scan.geom.mode == kModeProfile && g_settings.ProfileWaterfall == 1)
    plat::PublishFrame(plat::kFrameProfileWaterfall, &g_render.WaterfallPicture[0][0], kWaterfallWidth,
                       kWaterfallHeight, g_palette.pictureColours, 0, 0, kWaterfallWidth - 1, kWaterfallHeight - 1);
  plat::BlitImage(&g_scan.ImageBuffer[0][0], kImageWidth, kImageHeight, g_palette.pictureColours, 0, 0,
                  kImageWidth - 1, kImageHeight - 1);
}
