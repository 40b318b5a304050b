// Background removal (Sector mode): a reference picture of the static scene is
// built from the maximum of a few pings, then each ping shows only what rises
// above it, held and fading like persistence.
#pragma once

#include <cstdint>

#include "settings/constants.h"

struct BackgroundState {
  // Per-pixel maximum of the echo (and its eight neighbours) while building;
  // cleared by BuildReference, kept until the next BuildReference.
  uint8_t Reference[kImageHeight][kImageWidth];
  // Echo above the reference, this ping; cleared by BuildReference and ClearBackgroundImage.
  uint8_t Difference[kImageHeight][kImageWidth];
  int enabled = 0;      // menu "&Remove Background" (Sector mode only)
  int building = 0;     // between "Build Reference" and "Store Reference"
  float factor = 0.5f;  // f, the hold factor per ping; kept while the ping period is unusable
  int pings = 0;        // pings processed since the last BuildReference
};
extern BackgroundState g_background;

void ResetBackground();
// The menu toggle: switches removal on or off for the following pings.
void SetBackgroundRemoval(int on);
// Buttons: "Build Reference", "Store Reference", "Clear Image". Each returns 1
// when it acted (0 while removal is off).
int BuildReference();
int StoreReference();
int ClearBackgroundImage();
// Factor f = 1 - 3 / (P * 1000 / T), at least 0.5; P = 1 when persistence is 0.
void UpdateBackgroundFactor(int persistenceS, int pingPeriodMs);
// The per-ping step over the spans: build the reference, or show the held difference.
void ApplyBackgroundRemoval(int pingPeriodMs);
