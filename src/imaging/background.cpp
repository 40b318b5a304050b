// Background removal. While the operator builds a reference, each ping's echo
// (CleanImageBuffer, with each pixel's eight neighbours) raises a per-pixel
// maximum; once stored, each ping shows only the echo above that reference,
// peak-held in the persistence accumulator (render.h) and fading by a factor
// per ping. Owns the reference and difference pictures and the hold factor;
// the shown picture is render's PersistencePicture.
#include "imaging/background.h"

#include <cstring>

#include "imaging/render.h"
#include "imaging/scan_convert.h"
#include "settings/settings.h"

BackgroundState g_background;

void ResetBackground() {
  std::memset(g_background.Reference, 0, sizeof g_background.Reference);
  std::memset(g_background.Difference, 0, sizeof g_background.Difference);
  g_background.enabled = 0;
  g_background.building = 0;
  g_background.factor = 0.5f;
  g_background.pings = 0;
}

void SetBackgroundRemoval(int on) { g_background.enabled = on ? 1 : 0; }

int BuildReference() {
  if (!g_background.enabled) return 0;
  std::memset(g_background.Reference, 0, sizeof g_background.Reference);
  std::memset(g_background.Difference, 0, sizeof g_background.Difference);
  std::memset(g_render.PersistencePicture, kBackgroundIndex, sizeof g_render.PersistencePicture);
  std::memset(g_render.PersistenceAccumulator, 0, sizeof g_render.PersistenceAccumulator);
  g_background.building = 1;
  g_background.pings = 0;
  return 1;
}

int StoreReference() {
  if (!g_background.enabled) return 0;
  g_background.building = 0;
  return 1;
}

int ClearBackgroundImage() {
  if (!g_background.enabled) return 0;
  std::memset(g_background.Difference, 0, sizeof g_background.Difference);
  std::memset(g_render.PersistencePicture, kBackgroundIndex, sizeof g_render.PersistencePicture);
  std::memset(g_render.PersistenceAccumulator, 0, sizeof g_render.PersistenceAccumulator);
  return 1;
}

void UpdateBackgroundFactor(int persistenceS, int pingPeriodMs) {
  const int p = persistenceS > 0 ? persistenceS : 1;
  if (!(pingPeriodMs > 0 && pingPeriodMs < 1000)) return;
  double f = 1.0 - 3.0 / (p * 1000.0 / pingPeriodMs);
  if (f < 0.5) f = 0.5;
  g_background.factor = static_cast<float>(f);
}

static void RaiseReference() {
  // The reference takes the pixel and its eight neighbours, so a target that
  // wanders by a pixel between pings stays below the reference.
  for (int r = 1; r <= kImageHeight - 2; ++r) {
    int c0 = g_scan.SpanLeft[r], c1 = g_scan.SpanRight[r];
    if (c0 < 1) c0 = 1;
    if (c1 > kImageWidth - 1) c1 = kImageWidth - 1;
    uint8_t* ref = g_background.Reference[r];
    for (int dy = -1; dy <= 1; ++dy) {
      const uint8_t* src = g_scan.CleanImageBuffer[r + dy];
      for (int dx = -1; dx <= 1; ++dx)
        for (int c = c0; c < c1; ++c)
          if (src[c + dx] > ref[c]) ref[c] = src[c + dx];
    }
  }
  for (int r = 0; r < kImageHeight; ++r) {
    uint8_t* img = g_scan.ImageBuffer[r];
    const uint8_t* ref = g_background.Reference[r];
    for (int c = g_scan.SpanLeft[r]; c < g_scan.SpanRight[r]; ++c)
      if (img[c] != kOverlayMarker) img[c] = ref[c];
  }
}

void ApplyBackgroundRemoval(int pingPeriodMs) {
  ++g_background.pings;
  if (g_background.building) {
    RaiseReference();
    return;
  }
  UpdateBackgroundFactor(g_settings.Persistence, pingPeriodMs);
  const float f = g_background.factor;
  for (int r = 0; r < kImageHeight; ++r) {
    const uint8_t* clean = g_scan.CleanImageBuffer[r];
    const uint8_t* ref = g_background.Reference[r];
    uint8_t* diff = g_background.Difference[r];
    float* acc = g_render.PersistenceAccumulator[r];
    uint8_t* shown = g_render.PersistencePicture[r];
    uint8_t* img = g_scan.ImageBuffer[r];
    for (int c = g_scan.SpanLeft[r]; c < g_scan.SpanRight[r]; ++c) {
      const int d = clean[c] - ref[c];
      diff[c] = static_cast<uint8_t>(d > 0 ? d : 0);
      float a = acc[c];
      if (diff[c] > a) a = diff[c];
      const uint8_t v = static_cast<uint8_t>(a);
      if (img[c] != kOverlayMarker) img[c] = v;
      a *= f;
      acc[c] = a;
      shown[c] = static_cast<uint8_t>(a);
    }
  }
}
