// Per-ping drawing: the formed beams of a ping turned into the main picture of
// the display mode in force, with persistence, the profile point overlay, the
// Profile waterfall and the signal-level strip.
#pragma once

#include <cstdint>

#include "imaging/scan_convert.h"
#include "settings/constants.h"

constexpr int kWaterfallWidth = 500;
constexpr int kWaterfallHeight = 518;
constexpr int kWaterfallTraceRows = 120;     // rows 0..119: this ping's trace
constexpr uint8_t kPointColour = 106;        // profile points
constexpr uint8_t kMarkColour = 121;         // waterfall band lines
constexpr int kMaxSplitParts = 2;            // parts a ping's drawing is split into

struct RenderState {
  // Peak-hold picture of persistence and background removal: raised by each
  // ping's echo, lowered by the decay. Cleared by ClearImage.
  float PersistenceAccumulator[kImageHeight][kImageWidth];
  // What background removal shows; cleared by ClearImage and "Clear Image".
  uint8_t PersistencePicture[kImageHeight][kImageWidth];
  // Each sub-beam's samples interpolated from its beam and the two beside it,
  // limited to 118: line k + 1 for sub-beam k; line 0 stays empty. Rebuilt
  // every ping before the walk by the kernel levels below AVX-512 (whose
  // walk interpolates from SlotColumns instead); each part of a split writes
  // the lines of its own beams.
  uint8_t SubBeamLines[kMaxSubBeamLines][kScreenSamples];
  uint8_t SubBeamLinesTail[4];   // the walk's gathers read 4 bytes from the last sample
  // The beam slots just outside the beams of the piece of a split part p
  // is drawing (left, right), converted by that part itself so that no
  // piece reads a slot another is writing. Written per ping by part p's
  // thread only.
  uint8_t PartEdgeSlots[kMaxSplitParts][2][kScreenSamples];
  // BeamSampleBuffer on its side for the AVX-512 walk: byte j of row s is
  // sample s of slot j - 1 (columns beyond slot N + 1 unused). Rebuilt every
  // ping before that walk.
  uint8_t SlotColumns[kScreenSamples][kSlotColumnStride];
  // Profile waterfall, top-down: trace rows, then the history scrolling down.
  uint8_t WaterfallPicture[kWaterfallHeight][kWaterfallWidth];
  // Row of the profile point drawn in each picture column (gaps filled), -1
  // where there is none. Rebuilt by every point overlay; read by detection.
  int16_t PointRowOfColumn[kImageWidth];
  int pointColumns = 0;          // columns with a row after the last overlay
  float decay = 0.5f;            // d, levels per ping; kept while the ping period is unusable
  float bottomThreshold = 63.75f;  // echo level a waterfall find must reach (detection threshold)
  int bottomTrackActive = 0;     // Bottom Following holds a track: no mixing in Profile
  int waterfallLastRow = -1;     // row found in the previous waterfall column
  int waterfallCarry = 0;        // columns that have taken the previous row in a row
  int pingsDrawn = 0;
  // Set by RenderPingEchoes when it drew, taken by RenderPingOverlays.
  int echoesDrawn = 0;
};
extern RenderState g_render;

void ResetRender();
// Zeroes the accumulator, clears the persistence and waterfall pictures.
void ClearPersistence();

// Draws the latest formed ping (g_beamImage, g_sampleCount, the record's type
// letter) in the mode the tables were built for. Returns 0 while the tables
// are being rebuilt or before the first build.
int RenderPing(int window);
// RenderPing in two steps: the echoes (which read only the formed beams, the
// tables and the settings) and then what is drawn over them from detection
// (profile points, the Profile waterfall), the background removal and the
// signal level. Between the two, detection may run on another thread.
// Overlays return 0 without drawing when the echoes step drew nothing.
int RenderPingEchoes(int window);
int RenderPingOverlays(int window);
// Fills BeamSampleBuffer from the formed beams; foldPairs for "V" pings.
void FillBeamSamples(int foldPairs);
void DrawScanConverted(int window);
// Interpolates every sub-beam of the tables from BeamSampleBuffer.
void InterpolateSubBeams();
void DrawLinear(int foldPairs);
// Beam Test: the decoder's element raster for a ping of type `letter`.
void DrawBeamTest(char letter = 'U');
// First BeamSampleBuffer slot of the beam-test element rows for a type letter.
int BeamTestFirstSlot(char letter);
// Persistence decay d for P seconds and ping interval T ms; leaves d as it
// was when T is outside 1..999 ms.
void UpdatePersistenceDecay(int persistenceS, int pingPeriodMs);
void ApplyPersistence();
// The profile overlay: mixing, then one point per beam slot with a range.
void DrawProfilePoints(const int32_t* pointRangeTenths, int slots);
void DrawProfileWaterfall();
void DrawSignalLevel(char letter);
