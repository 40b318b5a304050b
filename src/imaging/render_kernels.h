// The inner loops of the per-ping drawing (beam bytes, sub-beam lines, the
// walk of the picture) in three builds for the processors this console runs
// on: baseline x86-64, AVX2 and AVX-512. Every build writes the same bytes;
// the renderer calls them through the level in force.
#pragma once

#include <cstdint>

#include "imaging/scan_convert.h"

enum RenderKernelLevel {
  kKernelsBaseline = 0,
  kKernelsAvx2 = 1,
  kKernelsAvx512 = 2,  // AVX-512 F, BW and VL
  kKernelLevels = 3
};

struct RenderKernelState {
  // Level the drawing uses. Set by ResetRenderKernels (the best the
  // processor has) and SelectRenderKernels, between pings only, by the
  // thread that owns the ping cycle; read by the ping and its helper.
  int level = kKernelsBaseline;
};
extern RenderKernelState g_renderKernels;

// Best level this processor runs.
int BestRenderKernels();
// Uses `level`, or the best one below it the processor runs. Returns the
// level now in force.
int SelectRenderKernels(int level);
int RenderKernelsInUse();
// The best level; the ThreadSanitizer build keeps the baseline, whose plain
// loads and stores the sanitizer sees (it does not look inside gathers and
// masked vector stores).
void ResetRenderKernels();

// One beam slot from a formed beam: byte j of samples j < m (foldPairs: the
// larger of samples 2j and 2j + 1), 0 from m to the end of the slot.
void ConvertBeamRow(uint8_t* slot, const float* beam, int m, int foldPairs);

// The t sub-beam lines of one beam, consecutive in memory, from its slot and
// the slots either side: line i, sample s is
// min(118, (w[3i] left[s] + w[3i+1] centre[s] + w[3i+2] right[s]) >> 8).
// The weights of a line sum to at most 255.
void InterpolateBeamLines(uint8_t* lines, int t, const uint8_t* left, const uint8_t* centre, const uint8_t* right,
                          const uint16_t* w);

// Draws `count` runs of the walk, whose indexes start at `walk`: every pixel
// takes its byte of `lines` in the clean picture, and in the shown picture
// unless it holds an overlay marker. `lines` must stay readable 3 bytes past
// the highest index (the gathers read 4 bytes a pixel).
void WalkRuns(const WalkRun* runs, int count, const uint32_t* walk, const uint8_t* lines,
              uint8_t (*image)[kImageWidth], uint8_t (*clean)[kImageWidth]);

// Weights of a direct walk, by the sub-beam's place i in its beam (entries
// t .. 31 zero): left | right << 16, and centre.
struct DirectWeights {
  uint32_t outer[32];
  uint32_t centre[32];
};

// Whether the level in force walks directly from the slots (AVX-512); the
// others walk the sub-beam lines.
int HasDirectWalk();

// Rows [16 * block0, 16 * block1) of the slots (row j is slot j - 1; rows
// past kBeamSlots read as 0) into the same columns of every sample row of
// `columns`.
void TransposeSlotBlocks(const uint8_t (*slots)[kScreenSamples], int block0, int block1,
                         uint8_t (*columns)[kSlotColumnStride]);

// Draws `count` runs of the direct walk (indexes from `walk`), each pixel
// interpolated from the three slots its index reads in `columns`.
void WalkDirectRuns(const WalkRun* runs, int count, const uint32_t* walk, const uint8_t (*columns)[kSlotColumnStride],
                    const DirectWeights& w, uint8_t (*image)[kImageWidth], uint8_t (*clean)[kImageWidth]);
