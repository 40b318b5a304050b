// Vector kernels of the per-ping drawing. Each loop is written once, as an
// always-inlined body, and compiled three times: for baseline x86-64, with
// AVX2 and with AVX-512 (F, BW, VL, 512-bit vectors). The walks' gathers and
// the slot transposition are written with intrinsics, since the compiler
// does not gather bytes; the rest is left to the vectoriser. The level is
// chosen at run time with cpuid rather than by an ifunc resolver: the
// resolver runs while the program is being loaded, before ThreadSanitizer's
// runtime exists, and a test can pick each level in turn to compare them.
// After the one float rounding of ConvertBeamRow (an add and two compares,
// exact in every build) everything is integer arithmetic, so every level
// writes the same bytes.
//
// Measured here at 480 beams on one thread: the sub-beam lines and the walk
// over them took about 0.4 ms a ping with the AVX2 clone and a memcpy call
// per run; the AVX-512 direct walk, one gather a run from the transposed
// slots, does the same work in about 0.15 ms.
//
// Owns the level in force (g_renderKernels).
#include "imaging/render_kernels.h"

#include <immintrin.h>

#include <cstring>

static int DefaultRenderKernels();
// Programs that never reset the renderer draw with the best level too.
RenderKernelState g_renderKernels = {DefaultRenderKernels()};

#define ORVALE_BODY static inline __attribute__((always_inline))
#define ORVALE_AVX2 __attribute__((target("avx2")))
// clang takes no vector-width preference as a target feature (and would
// then drop the whole attribute); it uses the full width anyway.
#if defined(__clang__)
#define ORVALE_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx2")))
#else
#define ORVALE_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx2,prefer-vector-width=512")))
#endif

namespace {

// ------------------------------------------------------------ beam bytes

// Amplitudes are on the display's 0..255 scale; anything that does not round
// into it (overdriven beams, a NaN from a bad ping) shows as full scale.
// Written without branches so the loops become vector code.
ORVALE_BODY uint8_t ToByte(float a) {
  float v = a + 0.5f;
  v = (v > -1.0f && v < 256.0f) ? v : 255.0f;
  v = v < 0.0f ? 0.0f : v;
  return static_cast<uint8_t>(static_cast<int>(v));
}

ORVALE_BODY void ConvertBody(uint8_t* slot, const float* beam, int m, int foldPairs) {
  if (foldPairs) {
    for (int j = 0; j < m; ++j) {
      const uint8_t u = ToByte(beam[2 * j]), v = ToByte(beam[2 * j + 1]);
      slot[j] = u > v ? u : v;
    }
  } else {
    for (int j = 0; j < m; ++j) slot[j] = ToByte(beam[j]);
  }
  if (m < kScreenSamples) std::memset(slot + m, 0, kScreenSamples - m);
}

void ConvertBaseline(uint8_t* slot, const float* beam, int m, int foldPairs) {
  ConvertBody(slot, beam, m, foldPairs);
}
ORVALE_AVX2 void ConvertAvx2(uint8_t* slot, const float* beam, int m, int foldPairs) {
  ConvertBody(slot, beam, m, foldPairs);
}
ORVALE_AVX512 void ConvertAvx512(uint8_t* slot, const float* beam, int m, int foldPairs) {
  ConvertBody(slot, beam, m, foldPairs);
}

// ------------------------------------------------------------ sub-beam lines

// The weights of a line sum to at most 255, so every sum fits 16 bits:
// 16-bit lanes do twice the work of 32-bit ones per instruction. The three
// slots stay in the first-level cache while the t lines are written.
ORVALE_BODY void InterpolateBody(uint8_t* lines, int t, const uint8_t* a0, const uint8_t* a1, const uint8_t* a2,
                                 const uint16_t* w) {
  for (int i = 0; i < t; ++i) {
    const uint16_t wl = w[3 * i], wc = w[3 * i + 1], wr = w[3 * i + 2];
    uint8_t* line = lines + i * kScreenSamples;
    for (int s = 0; s < kScreenSamples; ++s) {
      const uint16_t sum = static_cast<uint16_t>(static_cast<uint16_t>(wl * a0[s]) + static_cast<uint16_t>(wc * a1[s]) +
                                                 static_cast<uint16_t>(wr * a2[s]));
      const uint16_t v = static_cast<uint16_t>(sum >> 8);
      line[s] = static_cast<uint8_t>(v > kMaxEchoIndex ? kMaxEchoIndex : v);
    }
  }
}

void InterpolateBaseline(uint8_t* lines, int t, const uint8_t* a0, const uint8_t* a1, const uint8_t* a2,
                         const uint16_t* w) {
  InterpolateBody(lines, t, a0, a1, a2, w);
}
ORVALE_AVX2 void InterpolateAvx2(uint8_t* lines, int t, const uint8_t* a0, const uint8_t* a1, const uint8_t* a2,
                                 const uint16_t* w) {
  InterpolateBody(lines, t, a0, a1, a2, w);
}
ORVALE_AVX512 void InterpolateAvx512(uint8_t* lines, int t, const uint8_t* a0, const uint8_t* a1, const uint8_t* a2,
                                     const uint16_t* w) {
  InterpolateBody(lines, t, a0, a1, a2, w);
}

// ------------------------------------------------------------ the walk

ORVALE_BODY void WalkRunScalar(const uint32_t* w, int n, const uint8_t* lines, uint8_t* img, uint8_t* clean) {
  for (int c = 0; c < n; ++c) {
    const uint8_t v = lines[w[c]];
    clean[c] = v;
    img[c] = img[c] == kOverlayMarker ? kOverlayMarker : v;
  }
}

void WalkBaseline(const WalkRun* runs, int count, const uint32_t* w, const uint8_t* lines,
                  uint8_t (*image)[kImageWidth], uint8_t (*clean)[kImageWidth]) {
  for (int i = 0; i < count; ++i) {
    const WalkRun& run = runs[i];
    WalkRunScalar(w, run.count, lines, &image[run.row][run.column], &clean[run.row][run.column]);
    w += run.count;
  }
}

// Whole strips (16 pixels) take two 8-lane gathers of 4 bytes, whose low
// bytes are packed into one 16-byte row; shorter runs at the fan's edges go
// pixel by pixel, since a 16-byte store would rewrite pixels outside the run
// that the other half of a split may be drawing.
ORVALE_AVX2 void WalkAvx2(const WalkRun* runs, int count, const uint32_t* w, const uint8_t* lines,
                          uint8_t (*image)[kImageWidth], uint8_t (*clean)[kImageWidth]) {
  static_assert(kWalkRunMax == 16, "one run is one 16-byte row");
  const __m256i low = _mm256_set1_epi32(0xFF);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m128i marker = _mm_set1_epi8(static_cast<char>(kOverlayMarker));
  const int* base = reinterpret_cast<const int*>(lines);
  for (int i = 0; i < count; ++i) {
    const WalkRun& run = runs[i];
    const int n = run.count;
    uint8_t* img = &image[run.row][run.column];
    uint8_t* cl = &clean[run.row][run.column];
    if (n != kWalkRunMax) {
      WalkRunScalar(w, n, lines, img, cl);
      w += n;
      continue;
    }
    const __m256i i0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w));
    const __m256i i1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w + 8));
    const __m256i g0 = _mm256_and_si256(_mm256_i32gather_epi32(base, i0, 1), low);
    const __m256i g1 = _mm256_and_si256(_mm256_i32gather_epi32(base, i1, 1), low);
    // 16-bit: [g0 0-3, g1 0-3 | g0 4-7, g1 4-7]; bytes: each quarter twice.
    const __m256i words = _mm256_packus_epi32(g0, g1);
    const __m256i bytes = _mm256_packus_epi16(words, words);
    const __m128i v = _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(bytes, order));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cl), v);
    const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(img));
    const __m128i keep = _mm_cmpeq_epi8(old, marker);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(img), _mm_blendv_epi8(v, marker, keep));
    w += n;
  }
}

// One 16-lane gather a run, of any length: the masks keep the loads inside
// the walk table and the stores inside the run.
ORVALE_AVX512 void WalkAvx512(const WalkRun* runs, int count, const uint32_t* w, const uint8_t* lines,
                              uint8_t (*image)[kImageWidth], uint8_t (*clean)[kImageWidth]) {
  static_assert(kWalkRunMax == 16, "one run fits one 16-lane gather");
  const __m128i marker = _mm_set1_epi8(static_cast<char>(kOverlayMarker));
  for (int i = 0; i < count; ++i) {
    const WalkRun& run = runs[i];
    const int n = run.count;
    const __mmask16 m = static_cast<__mmask16>((1u << n) - 1u);
    uint8_t* img = &image[run.row][run.column];
    uint8_t* cl = &clean[run.row][run.column];
    const __m512i idx = _mm512_maskz_loadu_epi32(m, w);
    const __m512i g = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), m, idx, lines, 1);
    const __m128i v = _mm512_maskz_cvtepi32_epi8(m, g);
    _mm_mask_storeu_epi8(cl, m, v);
    const __m128i old = _mm_maskz_loadu_epi8(m, img);
    const __mmask16 keep = _mm_cmpeq_epi8_mask(old, marker);
    _mm_mask_storeu_epi8(img, m, _mm_mask_blend_epi8(keep, v, marker));
    w += n;
  }
}

// ------------------------------------------------------------ the direct walk

// Slot rows to sample rows in blocks of 16 slots by 64 samples: the four
// 128-bit lanes of each register hold four 16 x 16 byte squares, turned
// over together by four rounds of interleaving.
// The unmasked forms of some of these intrinsics start from an undefined
// register, which GCC 12 reports as used uninitialised; all-lane masks say
// the same thing without it.
constexpr __mmask16 kAll16 = 0xFFFF;
constexpr __mmask8 kAll8 = 0xFF, kAll4 = 0xF;

template <int lane>
ORVALE_AVX512 inline void StoreLane(uint8_t* dst, __m512i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm512_maskz_extracti32x4_epi32(kAll4, v, lane));
}

ORVALE_AVX512 void TransposeAvx512(const uint8_t (*slots)[kScreenSamples], int block0, int block1,
                                   uint8_t (*columns)[kSlotColumnStride]) {
  for (int block = block0; block < block1; ++block) {
    const int j0 = 16 * block;
    for (int s0 = 0; s0 < kScreenSamples; s0 += 64) {
      const int length = kScreenSamples - s0 < 64 ? kScreenSamples - s0 : 64;
      const __mmask64 m = length == 64 ? ~0ull : (1ull << length) - 1ull;
      __m512i x[16], y[16], z[16], w[16];
      for (int i = 0; i < 16; ++i)
        x[i] = j0 + i < kBeamSlots ? _mm512_maskz_loadu_epi8(m, &slots[j0 + i][s0]) : _mm512_setzero_si512();
      // y[i]: samples 0-7 of rows 2i, 2i + 1; y[8 + i]: samples 8-15.
      for (int i = 0; i < 8; ++i) {
        y[i] = _mm512_unpacklo_epi8(x[2 * i], x[2 * i + 1]);
        y[8 + i] = _mm512_unpackhi_epi8(x[2 * i], x[2 * i + 1]);
      }
      // z[4g + q]: samples 4g .. 4g + 3 of rows 4q .. 4q + 3.
      for (int h = 0; h < 2; ++h)
        for (int q = 0; q < 4; ++q) {
          z[8 * h + q] = _mm512_unpacklo_epi16(y[8 * h + 2 * q], y[8 * h + 2 * q + 1]);
          z[8 * h + 4 + q] = _mm512_unpackhi_epi16(y[8 * h + 2 * q], y[8 * h + 2 * q + 1]);
        }
      // w[4g + 2h + e]: samples 4g + 2e, 4g + 2e + 1 of rows 8h .. 8h + 7.
      for (int g = 0; g < 4; ++g)
        for (int h = 0; h < 2; ++h) {
          w[4 * g + 2 * h] = _mm512_maskz_unpacklo_epi32(kAll16, z[4 * g + 2 * h], z[4 * g + 2 * h + 1]);
          w[4 * g + 2 * h + 1] = _mm512_maskz_unpackhi_epi32(kAll16, z[4 * g + 2 * h], z[4 * g + 2 * h + 1]);
        }
      // Sample c of lane L: all 16 rows, stored at sample s0 + 16 L + c.
      for (int g = 0; g < 4; ++g)
        for (int e = 0; e < 2; ++e)
          for (int odd = 0; odd < 2; ++odd) {
            const __m512i v = odd ? _mm512_maskz_unpackhi_epi64(kAll8, w[4 * g + e], w[4 * g + 2 + e])
                                  : _mm512_maskz_unpacklo_epi64(kAll8, w[4 * g + e], w[4 * g + 2 + e]);
            const int c = 4 * g + 2 * e + odd;
            if (c < length) StoreLane<0>(&columns[s0 + c][j0], v);
            if (16 + c < length) StoreLane<1>(&columns[s0 + 16 + c][j0], v);
            if (32 + c < length) StoreLane<2>(&columns[s0 + 32 + c][j0], v);
            if (48 + c < length) StoreLane<3>(&columns[s0 + 48 + c][j0], v);
          }
    }
  }
}

void TransposeBaseline(const uint8_t (*slots)[kScreenSamples], int block0, int block1,
                       uint8_t (*columns)[kSlotColumnStride]) {
  for (int j = 16 * block0; j < 16 * block1; ++j)
    for (int s = 0; s < kScreenSamples; ++s) columns[s][j] = j < kBeamSlots ? slots[j][s] : 0;
}

// Each pixel from one 4-byte gather of slots b - 1 .. b + 2 at its sample:
// the outer two bytes and the middle one are weighted in 16-bit pairs
// (multiply-add into 32-bit sums, all positive and below 65536), which are
// the sums of the sub-beam lines. The weights come from two 32-entry tables
// by the index's top bits.
ORVALE_AVX512 void WalkDirectAvx512(const WalkRun* runs, int count, const uint32_t* w,
                                    const uint8_t (*columns)[kSlotColumnStride], const DirectWeights& weights,
                                    uint8_t (*image)[kImageWidth], uint8_t (*clean)[kImageWidth]) {
  const __m128i marker = _mm_set1_epi8(static_cast<char>(kOverlayMarker));
  const __m512i outer0 = _mm512_loadu_si512(weights.outer), outer1 = _mm512_loadu_si512(weights.outer + 16);
  const __m512i centre0 = _mm512_loadu_si512(weights.centre), centre1 = _mm512_loadu_si512(weights.centre + 16);
  const __m512i indexMask = _mm512_set1_epi32(static_cast<int>(kWalkIndexMask));
  const __m512i evenBytes = _mm512_set1_epi32(0x00FF00FF);
  const __m512i top = _mm512_set1_epi32(kMaxEchoIndex);
  const uint8_t* base = &columns[0][0];
  for (int i = 0; i < count; ++i) {
    const WalkRun& run = runs[i];
    const int n = run.count;
    const __mmask16 m = static_cast<__mmask16>((1u << n) - 1u);
    uint8_t* img = &image[run.row][run.column];
    uint8_t* cl = &clean[run.row][run.column];
    const __m512i x = _mm512_maskz_loadu_epi32(m, w);
    const __m512i idx = _mm512_and_si512(x, indexMask);
    const __m512i wi = _mm512_maskz_srli_epi32(m, x, kWalkWeightShift);
    const __m512i d = _mm512_mask_i32gather_epi32(_mm512_setzero_si512(), m, idx, base, 1);
    const __m512i outer = _mm512_and_si512(d, evenBytes);
    const __m512i middle = _mm512_and_si512(_mm512_maskz_srli_epi32(m, d, 8), evenBytes);
    const __m512i wo = _mm512_permutex2var_epi32(outer0, wi, outer1);
    const __m512i wc = _mm512_permutex2var_epi32(centre0, wi, centre1);
    const __m512i sum = _mm512_add_epi32(_mm512_madd_epi16(outer, wo), _mm512_madd_epi16(middle, wc));
    const __m512i value = _mm512_maskz_min_epu32(m, _mm512_maskz_srli_epi32(m, sum, 8), top);
    const __m128i v = _mm512_maskz_cvtepi32_epi8(m, value);
    _mm_mask_storeu_epi8(cl, m, v);
    const __m128i old = _mm_maskz_loadu_epi8(m, img);
    const __mmask16 keep = _mm_cmpeq_epi8_mask(old, marker);
    _mm_mask_storeu_epi8(img, m, _mm_mask_blend_epi8(keep, v, marker));
    w += n;
  }
}

// ------------------------------------------------------------ dispatch

struct Kernels {
  void (*convert)(uint8_t*, const float*, int, int);
  void (*interpolate)(uint8_t*, int, const uint8_t*, const uint8_t*, const uint8_t*, const uint16_t*);
  void (*walk)(const WalkRun*, int, const uint32_t*, const uint8_t*, uint8_t (*)[kImageWidth],
               uint8_t (*)[kImageWidth]);
};

const Kernels kKernels[kKernelLevels] = {
    {ConvertBaseline, InterpolateBaseline, WalkBaseline},
    {ConvertAvx2, InterpolateAvx2, WalkAvx2},
    {ConvertAvx512, InterpolateAvx512, WalkAvx512},
};

inline const Kernels& Current() { return kKernels[g_renderKernels.level]; }

}  // namespace

int BestRenderKernels() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
      __builtin_cpu_supports("avx2"))
    return kKernelsAvx512;
  if (__builtin_cpu_supports("avx2")) return kKernelsAvx2;
  return kKernelsBaseline;
}

int SelectRenderKernels(int level) {
  const int best = BestRenderKernels();
  if (level < kKernelsBaseline) level = kKernelsBaseline;
  g_renderKernels.level = level > best ? best : level;
  return g_renderKernels.level;
}

int RenderKernelsInUse() { return g_renderKernels.level; }

static int DefaultRenderKernels() {
#if defined(__SANITIZE_THREAD__)
  return kKernelsBaseline;
#else
  return BestRenderKernels();
#endif
}

void ResetRenderKernels() { g_renderKernels.level = DefaultRenderKernels(); }

void ConvertBeamRow(uint8_t* slot, const float* beam, int m, int foldPairs) {
  Current().convert(slot, beam, m, foldPairs);
}

void InterpolateBeamLines(uint8_t* lines, int t, const uint8_t* left, const uint8_t* centre, const uint8_t* right,
                          const uint16_t* w) {
  Current().interpolate(lines, t, left, centre, right, w);
}

void WalkRuns(const WalkRun* runs, int count, const uint32_t* walk, const uint8_t* lines,
              uint8_t (*image)[kImageWidth], uint8_t (*clean)[kImageWidth]) {
  Current().walk(runs, count, walk, lines, image, clean);
}

int HasDirectWalk() { return g_renderKernels.level == kKernelsAvx512; }

void TransposeSlotBlocks(const uint8_t (*slots)[kScreenSamples], int block0, int block1,
                         uint8_t (*columns)[kSlotColumnStride]) {
  if (g_renderKernels.level == kKernelsAvx512) TransposeAvx512(slots, block0, block1, columns);
  else TransposeBaseline(slots, block0, block1, columns);
}

void WalkDirectRuns(const WalkRun* runs, int count, const uint32_t* walk, const uint8_t (*columns)[kSlotColumnStride],
                    const DirectWeights& w, uint8_t (*image)[kImageWidth], uint8_t (*clean)[kImageWidth]) {
  WalkDirectAvx512(runs, count, walk, columns, w, image, clean);
}
