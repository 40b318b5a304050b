// Scan conversion: the main picture buffers and the per-pixel lookup tables
// that turn a fan of beams into the 1012 x 542 picture of a display mode.
//
// The geometry is worked out once per mode change (BuildDisplayMode); per ping
// the renderer only walks the pixels inside RowSpan, in the packed order of
// `walk`, which BuildDisplayMode derives from PixelMap.
#pragma once

#include <atomic>
#include <cstdint>

#include "settings/constants.h"

constexpr int kScreenSamples = 500;        // samples per beam on screen
constexpr int kApexColumn = 505;           // transducer column, all modes but Profile
constexpr int kApexRow = 541;              // transducer row: Sector, Linear, Perspective, Beam Test
constexpr int kMaxSubBeamsPerBeam = 20;
constexpr int kWeightTriples = 20;
constexpr int kBeamSlots = kMaxBeams + 2;  // beam slots with one border slot either side
constexpr uint8_t kBackgroundIndex = 0;    // palette index of an empty pixel
constexpr uint8_t kOverlayMarker = 128;    // grid/outline/label pixels echo drawing keeps
constexpr uint8_t kMaxEchoIndex = 118;     // highest echo level of the colour tables
constexpr int kPerspectiveSplitRow = 201;  // Perspective rows above take spans from the outline

enum DisplayMode {
  kModeSector = 0,
  kModeLinear = 1,
  kModePerspective = 2,
  kModeProfile = 3,
  kModeBeamTest = 4,
  kModeCount = 5
};

// One pixel of the map. A pixel no sub-beam reaches keeps every field 0.
// BeamIndex and SampleIndex are narrower than the sub-beam index: both stay
// far below 32767, and 12 bytes a pixel keep the map at 6.6 MB.
struct PixelEntry {
  int32_t SubBeamIndex;
  int16_t BeamIndex;      // beam slot: SubBeamIndex / SubBeamsPerBeam
  int16_t SampleIndex;    // on-screen sample 0..499
  uint8_t WeightLeft;     // weight of slot BeamIndex - 1
  uint8_t WeightCentre;   // weight of slot BeamIndex
  uint8_t WeightRight;    // weight of slot BeamIndex + 1
  uint8_t pad;
};

// The map in the order the per-ping walk reads it: one 32-bit word per pixel
// inside the spans, the index (k + 1) * 500 + s of sample s of sub-beam k in
// the renderer's interpolated sub-beam lines (render.h); 0, a line that stays
// empty, for a pixel no sub-beam reached. The pixels go in vertical strips
// of kWalkStrip columns, row by row inside a strip, in runs of at most
// kWalkRunMax pixels (one vector gather): up a strip the sample grows while
// the few sub-beams it crosses stay, so what the walk reads and the picture
// rows it writes stay in cache. A strip is a cache line wide: with strips
// of 16 columns each run of the 480-beam Sector walk touched picture lines
// the strip before had left, and the whole drawing cost 15 % more. Rebuilt
// with the map.
constexpr int kMaxSubBeamLines = kMaxSubBeamsPerBeam * kMaxBeams + 1;
constexpr int kWalkStrip = 64;
constexpr int kWalkRunMax = 16;
constexpr int kMaxWalkRuns = kImageHeight * (kImageWidth / kWalkRunMax + 2);
constexpr int kWalkChunks = 8;
// The same pixels for a walk that interpolates each pixel from the beam
// slots itself (walkDirect), which reads the slots turned on their side:
// sample s of every slot side by side, slot -1 first (the renderer's
// SlotColumns, kSlotColumnStride bytes a sample), so that one 4-byte read at
// s * kSlotColumnStride + b brings slots b - 1, b and b + 1. Bits 0..19 hold
// that index, bits 24..28 the sub-beam's place k mod t in its beam, which
// picks its weights; kWalkNoWeights (weights 0) marks a pixel no sub-beam
// reached.
constexpr int kSlotColumnStride = 544;  // kBeamSlots rounded up to 16-byte blocks
constexpr uint32_t kWalkNoWeights = 31;
constexpr int kWalkWeightShift = 24;
constexpr uint32_t kWalkIndexMask = (1u << 20) - 1;

// Pixels (row, column .. column + count - 1) of the walk.
struct WalkRun {
  int16_t row;
  int16_t column;
  int16_t count;
};

// Geometry the tables were last built with; Part of the state so that the
// renderer and the overlays use exactly what the map used.
struct ScanGeometry {
  int mode = -1;                  // DisplayMode built, -1 before the first build
  int beams = 0;                  // N
  double sectorDeg = 120.0;       // S
  double halfStepDeg = 0.25;      // H, from StepSize
  double rangeM = 30.0;           // R
  int rangeOffset = 0;            // R0, metres
  int offsetSamples = 0;          // J = trunc(R0 * 500 / R)
  double tiltDeg = 0.0;           // T (Profile)
  double startAngleDeg = 0.0;     // theta0 of sub-beam 0, with the Profile rotation
  int originX = kApexColumn;      // X0
  int originY = kApexRow;         // Y0
  int verticalShift = 0;          // V: +J Sector/Perspective, -J Profile
};

// What a Sector or Profile pixel map, its spans and its walk are made from.
// The range itself is not in it: the map is in samples, so a new range with
// no range offset draws through the same map.
struct FanMapKey {
  int mode = -1;
  double sectorDeg = 0.0, startAngleDeg = 0.0, tiltDeg = 0.0;
  int offsetSamples = 0, originX = 0, originY = 0, verticalShift = 0;
  int subBeamsPerBeam = 0, subBeamCount = 0;
  bool operator==(const FanMapKey&) const = default;
};

// The module's state. Everything is fixed size; ResetScanConvert clears it in place.
struct ScanState {
  // The shown picture with overlays (128 = overlay marker). Written by the
  // renderer every ping and by the overlays; cleared by ClearImage.
  uint8_t ImageBuffer[kImageHeight][kImageWidth];
  // The echo values alone, without overlays; same writers as ImageBuffer.
  uint8_t CleanImageBuffer[kImageHeight][kImageWidth];
  // The ping's beams as bytes: row 0 is border slot -1, row s + 1 is slot s.
  // Filled per ping by the renderer; rows for beam-test come from the decoder.
  uint8_t BeamSampleBuffer[kBeamSlots][kScreenSamples];
  // Set by BuildDisplayMode, read per ping.
  PixelEntry PixelMap[kImageHeight][kImageWidth];
  int16_t SpanLeft[kImageHeight];   // row r is drawn for SpanLeft <= c < SpanRight
  int16_t SpanRight[kImageHeight];
  uint32_t walk[kImageHeight * kImageWidth];  // BuildWalkOrder
  uint32_t walkDirect[kImageHeight * kImageWidth];  // BuildWalkOrder, beside `walk`
  WalkRun walkRuns[kMaxWalkRuns];
  int walkCount = 0;
  int walkRunCount = 0;
  // The walk cut into kWalkChunks pieces of about equal pixel counts, which
  // the threads of a split take in turn: chunk c is runs walkChunkRun[c] ..
  // walkChunkRun[c + 1] - 1, from index walkChunkIndex[c]. BuildWalkOrder.
  int walkChunkRun[kWalkChunks + 1] = {};
  int walkChunkIndex[kWalkChunks + 1] = {};
  uint8_t WeightTable[kWeightTriples][3];  // BuildWeightTable, once
  int SubBeamsPerBeam = 0;          // t, set by a Sector/Profile/Perspective build
  int SubBeamCount = 0;             // C = t * N
  int ProfileOffsetX = 0;           // CentreProfile
  int ProfileOffsetY = 0;           // 250 for steep Profile tilts, else 0
  int gridRectangular = 0;          // grid shape chosen by the last build
  ScanGeometry geom;
  // Perspective rotation sines/cosines, computed once.
  double sinA = 0, cosA = 0, sinB = 0, cosB = 0, sinC = 0, cosC = 0;
  // The fan the pixel map, spans and walk were last built for; a build of the
  // same fan keeps them. Cleared by ResetScanConvert and by any build that
  // is not a Sector or Profile fan (and by a caller that edits the map).
  FanMapKey mapKey;
  int mapKeyValid = 0;
  int mapBuilds = 0;                // builds that computed the map (the rest kept it)
  int builds = 0;                   // completed builds
  int refusedBuilds = 0;            // requests refused while a build ran
};
extern ScanState g_scan;

// Set while the tables are rebuilt; the ping handler waits for 0 before it draws.
extern std::atomic<int> TablesBusy;

// Clears every table and picture, rebuilds the weight table and the
// perspective constants (the start-up sequence without a mode build).
void ResetScanConvert();

void BuildWeightTable();
void InitPerspective();
// Weight triple of sub-beam k with t sub-beams per beam.
const uint8_t* SubBeamWeights(int k, int t);
// Sub-beams per beam for sector S and N beams: S*15/N rounded, made even, at most 20.
int SubBeamsFor(double sectorDeg, int beams);
// H of the StepSize selection: 0.125, 0.25 or 0.5 degrees.
double HalfStepDeg(int stepSize);
void ProjectPerspective(double x, double y, double z, int* dx, int* dy);
void CentreProfile();
// ProfileOffsetY from the tilt in force: 250 for |T| >= 80 in Profile mode, else 0.
void UpdateProfileOffsetY();
void ClearImage();
// Builds the tables for g_settings.DisplayType. Returns 1 when built, 0 when
// refused because a build is already running.
int BuildDisplayMode(int window);
// Builds the tables for an explicit mode (what BuildDisplayMode does after
// choosing the mode).
int BuildMode(int window, int mode);
void ShowBuildProgress(int window, int first, int kind, int done, int total);
// Packs PixelMap over the spans into `walk`; BuildMode calls it after every
// build that computes the map (a caller that edits PixelMap or the spans by
// hand calls it again and clears g_scan.mapKeyValid).
// Sub-beam k's weights are those of the map: triple 10 - t/2 + k mod t.
void BuildWalkOrder();

// Slot s (-1..N) of BeamSampleBuffer.
inline uint8_t* BeamSlot(int s) { return g_scan.BeamSampleBuffer[s + 1]; }
// Beam-test destination for the decoder: slot 0, 540 slots of 500 bytes.
inline uint8_t (*BeamTestDestination())[kScreenSamples] { return &g_scan.BeamSampleBuffer[1]; }
