// The bilinear mixes of a batch of lanes, written to their output pixels.
//
// The baseline copy calls Mix lane by lane. The AVX2 and AVX-512 copies read
// the four taps of 8 or 16 lanes at a time with gathers and run Mix's float
// arithmetic (WeightsOf, MixSum: sampling.h) on whole vectors, truncated the
// same way, so the pixels are the same. A pixel is 3 shorts. Where every
// lane's two taps of a row are adjacent pixels (x1 = x0 + 1, so both lie in
// one source row), the row's 12 bytes are read as one 64-bit word at short
// offset 3i of the left tap and one 32-bit word at 3i + 4 (the right tap's
// blue and red), all inside the two pixels: half the gathered elements.
// Otherwise (the last column, the panorama's seam) each tap is read as two
// 32-bit words at short offsets 3i and 3i + 1 (luma and blue, blue and red),
// both inside the pixel. The lanes that get the fill colour read nothing.
// The short offsets must fit an int32 (GatherableSource); otherwise the
// baseline loop runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "batch/kernel_set.h"
#include "sampling.h"

#ifdef LENS_AVX2_KERNELS
// GCC 12 warns inside its own AVX-512 headers (their "undefined" vectors).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#endif

namespace lens {

// The taps of each lane, its verdict (0: the fill) and where it goes.
struct MixLaneArrays {
  const std::int32_t* take;
  const std::int32_t* x0;
  const std::int32_t* x1;
  const std::int32_t* y0;
  const std::int32_t* y1;
  const float* fx;
  const float* fy;
  PIXEL_YC* const* out;
};

inline bool GatherableSource(const SourceFrame& src) {
  return static_cast<std::int64_t>(src.stride) * src.h * 3 + 1 <= INT32_MAX;
}

inline void MixLanesScalar(const SourceFrame& src, const MixLaneArrays& a, PIXEL_YC fill, int from,
                           int n) {
  for (int k = from; k < n; ++k) {
    *a.out[k] = a.take[k] != 0
                    ? Mix(src, BilinearTaps{a.x0[k], a.x1[k], a.y0[k], a.y1[k], a.fx[k], a.fy[k]})
                    : fill;
  }
}

#ifdef LENS_AVX2_KERNELS

// Writes `count` mixed pixels: luma and blue packed in one 32-bit word
// (luma in the low half, as the pixel lies in memory), red in another; each
// truncated to short as MixChannel does.
inline void StoreMixed(const std::int32_t* luma_blue, const std::int32_t* red, PIXEL_YC* const* out,
                       int count) {
  for (int i = 0; i < count; ++i) {
    const short r = static_cast<short>(red[i]);
    std::memcpy(out[i], &luma_blue[i], 4);
    std::memcpy(reinterpret_cast<char*>(out[i]) + 4, &r, 2);
  }
}

// Eight and sixteen floats as plain vector types (the intrinsics' own carry
// an attribute that templates drop).
typedef float Float8 __attribute__((vector_size(32)));
typedef float Float16 __attribute__((vector_size(64)));

// MixSum on whole vectors, truncated to int32 as MixChannel does: p are the
// taps 00, 10, 01, 11.
LENS_AVX2_TARGET inline __m256i MixChannel8(const __m256* p, const MixWeights<Float8>& w) {
  return _mm256_cvttps_epi32(
      static_cast<__m256>(MixSum(Float8(p[0]), Float8(p[1]), Float8(p[2]), Float8(p[3]), w)));
}

LENS_AVX512_TARGET inline __m512i MixChannel16(const __m512* p, const MixWeights<Float16>& w) {
  return _mm512_cvttps_epi32(
      static_cast<__m512>(MixSum(Float16(p[0]), Float16(p[1]), Float16(p[2]), Float16(p[3]), w)));
}

// The order of the 16-bit words in a run of 16 pixels (StoreRun16): word j
// is channel j % 3 of pixel j / 3, or of pixel 15 - j / 3 for a run written
// in reverse; channel c of lane i sits at c * 16 + i. Words 48 to 63 are
// not stored.
struct RunOrder {
  alignas(64) short words[2][64];
  constexpr RunOrder() : words{} {
    for (int j = 0; j < 48; ++j) {
      words[0][j] = static_cast<short>(j % 3 * 16 + j / 3);
      words[1][j] = static_cast<short>(j % 3 * 16 + (15 - j / 3));
    }
  }
};
constexpr RunOrder kRunOrder{};

// When the 16 lanes go to 16 adjacent pixels, in order or in reverse order
// (the rows of a remap), writes their channels (int32 each, truncated to
// short as MixChannel does) as one run of 96 bytes and returns true;
// otherwise writes nothing and returns false.
LENS_AVX512_TARGET inline bool StoreRun16(__m512i y, __m512i cb, __m512i cr,
                                          PIXEL_YC* const* out) {
  // The lanes' addresses against out[0] + 6 i and out[0] - 6 i (pointers of
  // 64 or, in the 32-bit Windows build, 32 bits).
  bool forward, backward;
  if constexpr (sizeof(PIXEL_YC*) == 8) {
    const __m512i steps = _mm512_setr_epi64(0, 6, 12, 18, 24, 30, 36, 42);
    const __m512i eight_pixels = _mm512_set1_epi64(48);
    const __m512i lanes_0_7 = _mm512_loadu_si512(out);
    const __m512i lanes_8_15 = _mm512_loadu_si512(out + 8);
    const __m512i first =
        _mm512_set1_epi64(static_cast<long long>(reinterpret_cast<std::uintptr_t>(out[0])));
    const __m512i ahead = _mm512_add_epi64(first, steps);
    const __m512i behind = _mm512_sub_epi64(first, steps);
    forward = (_mm512_cmpeq_epi64_mask(lanes_0_7, ahead) &
               _mm512_cmpeq_epi64_mask(lanes_8_15, _mm512_add_epi64(ahead, eight_pixels))) == 0xFF;
    backward =
        (_mm512_cmpeq_epi64_mask(lanes_0_7, behind) &
         _mm512_cmpeq_epi64_mask(lanes_8_15, _mm512_sub_epi64(behind, eight_pixels))) == 0xFF;
  } else {
    const __m512i steps =
        _mm512_setr_epi32(0, 6, 12, 18, 24, 30, 36, 42, 48, 54, 60, 66, 72, 78, 84, 90);
    const __m512i lanes = _mm512_loadu_si512(out);
    const __m512i first =
        _mm512_set1_epi32(static_cast<int>(reinterpret_cast<std::uintptr_t>(out[0])));
    forward = _mm512_cmpeq_epi32_mask(lanes, _mm512_add_epi32(first, steps)) == 0xFFFF;
    backward = _mm512_cmpeq_epi32_mask(lanes, _mm512_sub_epi32(first, steps)) == 0xFFFF;
  }
  if (!forward && !backward) return false;
  // Luma (words 0 to 15) and blue (16 to 31) in one vector, red in another.
  const __m512i a = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(y)),
                                       _mm512_cvtepi32_epi16(cb), 1);
  const __m512i b = _mm512_castsi256_si512(_mm512_cvtepi32_epi16(cr));
  const short* const order = kRunOrder.words[forward ? 0 : 1];
  const __m512i head = _mm512_permutex2var_epi16(a, _mm512_load_si512(order), b);
  const __m512i tail = _mm512_permutex2var_epi16(a, _mm512_load_si512(order + 32), b);
  char* const start = reinterpret_cast<char*>(forward ? out[0] : out[15]);
  _mm512_storeu_si512(start, head);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(start + 64), _mm512_castsi512_si256(tail));
  return true;
}

// The low and the high short of each 32-bit lane, sign-extended.
LENS_AVX2_TARGET inline __m256i LowShort(__m256i v) { return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16); }
LENS_AVX2_TARGET inline __m256i HighShort(__m256i v) { return _mm256_srai_epi32(v, 16); }
LENS_AVX512_TARGET inline __m512i LowShort(__m512i v) { return _mm512_srai_epi32(_mm512_slli_epi32(v, 16), 16); }
LENS_AVX512_TARGET inline __m512i HighShort(__m512i v) { return _mm512_srai_epi32(v, 16); }

// The 32-bit halves of two vectors of eight 64-bit words, as indices for a
// two-source permute: the low halves of all sixteen words, and the high ones.
struct WordHalves {
  alignas(64) std::int32_t even[16];
  alignas(64) std::int32_t odd[16];
  constexpr WordHalves() : even{}, odd{} {
    for (int i = 0; i < 16; ++i) {
      even[i] = 2 * i;
      odd[i] = 2 * i + 1;
    }
  }
};
constexpr WordHalves kWordHalves{};

LENS_AVX2_TARGET inline void MixLanesAvx2(const SourceFrame& src, const MixLaneArrays& a,
                                          PIXEL_YC fill, int n) {
  const int* const base = reinterpret_cast<const int*>(src.pixels);
  const __m256i stride = _mm256_set1_epi32(src.stride);
  const __m256i one_short = _mm256_set1_epi32(1);
  const __m256i four_shorts = _mm256_set1_epi32(4);
  const __m256 one = _mm256_set1_ps(1.0f);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i fill_y = _mm256_set1_epi32(fill.y);
  const __m256i fill_cb = _mm256_set1_epi32(fill.cb);
  const __m256i fill_cr = _mm256_set1_epi32(fill.cr);
  const __m256i low_half = _mm256_set1_epi32(0xFFFF);
  alignas(32) std::int32_t luma_blue[8], red[8];
  int k = 0;
  for (; k + 8 <= n; k += 8) {
    const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a.x0 + k));
    const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a.x1 + k));
    const __m256i r0 = _mm256_mullo_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a.y0 + k)), stride);
    const __m256i r1 = _mm256_mullo_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a.y1 + k)), stride);
    const __m256i idx[4] = {_mm256_add_epi32(r0, x0), _mm256_add_epi32(r0, x1),
                            _mm256_add_epi32(r1, x0), _mm256_add_epi32(r1, x1)};
    // Only the sampled lanes are read: a fill lane's taps may lie outside an
    // empty source.
    const __m256i fill_lane = _mm256_cmpeq_epi32(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a.take + k)), zero);
    const __m256i sampled = _mm256_xor_si256(fill_lane, _mm256_set1_epi32(-1));
    // Each tap's channels as int32 lanes (see MixLanesAvx512).
    __m256i yv[4], cbv[4], crv[4];
    const __m256i adjacent = _mm256_cmpeq_epi32(x1, _mm256_add_epi32(x0, one_short));
    if (_mm256_movemask_epi8(adjacent) == -1) {
      const __m256i halves = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
      const __m256i first_sampled = _mm256_cvtepi32_epi64(_mm256_castsi256_si128(sampled));
      const __m256i second_sampled = _mm256_cvtepi32_epi64(_mm256_extracti128_si256(sampled, 1));
      for (int row = 0; row < 2; ++row) {
        const __m256i word = _mm256_add_epi32(_mm256_add_epi32(idx[2 * row], idx[2 * row]), idx[2 * row]);
        const long long* const words = reinterpret_cast<const long long*>(base);
        const __m256i first = _mm256_permutevar8x32_epi32(
            _mm256_mask_i32gather_epi64(zero, words, _mm256_castsi256_si128(word), first_sampled, 2), halves);
        const __m256i second = _mm256_permutevar8x32_epi32(
            _mm256_mask_i32gather_epi64(zero, words, _mm256_extracti128_si256(word, 1), second_sampled, 2), halves);
        const __m256i luma_blue = _mm256_permute2x128_si256(first, second, 0x20);
        const __m256i red_luma = _mm256_permute2x128_si256(first, second, 0x31);
        const __m256i right = _mm256_mask_i32gather_epi32(zero, base, _mm256_add_epi32(word, four_shorts), sampled, 2);
        yv[2 * row] = LowShort(luma_blue);
        cbv[2 * row] = HighShort(luma_blue);
        crv[2 * row] = LowShort(red_luma);
        yv[2 * row + 1] = HighShort(red_luma);
        cbv[2 * row + 1] = LowShort(right);
        crv[2 * row + 1] = HighShort(right);
      }
    } else {
      for (int t = 0; t < 4; ++t) {
        const __m256i word = _mm256_add_epi32(_mm256_add_epi32(idx[t], idx[t]), idx[t]);
        const __m256i lo = _mm256_mask_i32gather_epi32(zero, base, word, sampled, 2);
        const __m256i hi = _mm256_mask_i32gather_epi32(zero, base, _mm256_add_epi32(word, one_short), sampled, 2);
        yv[t] = LowShort(lo);
        cbv[t] = HighShort(lo);
        crv[t] = HighShort(hi);
      }
    }
    __m256 y[4], cb[4], cr[4];
    for (int t = 0; t < 4; ++t) {
      y[t] = _mm256_cvtepi32_ps(yv[t]);
      cb[t] = _mm256_cvtepi32_ps(cbv[t]);
      cr[t] = _mm256_cvtepi32_ps(crv[t]);
    }
    const MixWeights<Float8> w =
        WeightsOf(Float8(_mm256_loadu_ps(a.fx + k)), Float8(_mm256_loadu_ps(a.fy + k)), Float8(one));
    const __m256i mixed_y = _mm256_blendv_epi8(MixChannel8(y, w), fill_y, fill_lane);
    const __m256i mixed_cb = _mm256_blendv_epi8(MixChannel8(cb, w), fill_cb, fill_lane);
    const __m256i mixed_cr = _mm256_blendv_epi8(MixChannel8(cr, w), fill_cr, fill_lane);
    _mm256_store_si256(reinterpret_cast<__m256i*>(luma_blue),
                       _mm256_or_si256(_mm256_and_si256(mixed_y, low_half),
                                       _mm256_slli_epi32(mixed_cb, 16)));
    _mm256_store_si256(reinterpret_cast<__m256i*>(red), mixed_cr);
    StoreMixed(luma_blue, red, a.out + k, 8);
  }
  MixLanesScalar(src, a, fill, k, n);
}

LENS_AVX512_TARGET inline void MixLanesAvx512(const SourceFrame& src, const MixLaneArrays& a,
                                              PIXEL_YC fill, int n) {
  const void* const base = src.pixels;
  const __m512i stride = _mm512_set1_epi32(src.stride);
  const __m512i one_short = _mm512_set1_epi32(1);
  const __m512i four_shorts = _mm512_set1_epi32(4);
  const __m512 one = _mm512_set1_ps(1.0f);
  const __m512i zero = _mm512_setzero_si512();
  const __m512i fill_y = _mm512_set1_epi32(fill.y);
  const __m512i fill_cb = _mm512_set1_epi32(fill.cb);
  const __m512i fill_cr = _mm512_set1_epi32(fill.cr);
  const __m512i low_half = _mm512_set1_epi32(0xFFFF);
  alignas(64) std::int32_t luma_blue[16], red[16];
  int k = 0;
  for (; k + 16 <= n; k += 16) {
    const __m512i x0 = _mm512_loadu_si512(a.x0 + k);
    const __m512i x1 = _mm512_loadu_si512(a.x1 + k);
    const __m512i r0 = _mm512_mullo_epi32(_mm512_loadu_si512(a.y0 + k), stride);
    const __m512i r1 = _mm512_mullo_epi32(_mm512_loadu_si512(a.y1 + k), stride);
    const __m512i idx[4] = {_mm512_add_epi32(r0, x0), _mm512_add_epi32(r0, x1),
                            _mm512_add_epi32(r1, x0), _mm512_add_epi32(r1, x1)};
    // Only the sampled lanes are read (see MixLanesAvx2).
    const __m512i take = _mm512_loadu_si512(a.take + k);
    const __mmask16 sampled = _mm512_test_epi32_mask(take, take);
    // Each tap's channels as int32 lanes.
    __m512i yv[4], cbv[4], crv[4];
    if (_mm512_cmpeq_epi32_mask(x1, _mm512_add_epi32(x0, one_short)) == 0xFFFF) {
      // Each row's two taps are adjacent pixels of one row, 12 bytes: one
      // 64-bit word at the left tap (its three channels and the right tap's
      // luma) and one 32-bit word (the right tap's blue and red), all inside
      // the two pixels.
      for (int row = 0; row < 2; ++row) {
        const __m512i word = _mm512_add_epi32(_mm512_add_epi32(idx[2 * row], idx[2 * row]), idx[2 * row]);
        const __m512i first = _mm512_mask_i32gather_epi64(zero, static_cast<__mmask8>(sampled),
                                                          _mm512_castsi512_si256(word), base, 2);
        const __m512i second = _mm512_mask_i32gather_epi64(zero, static_cast<__mmask8>(sampled >> 8),
                                                           _mm512_extracti64x4_epi64(word, 1), base, 2);
        const __m512i luma_blue = _mm512_permutex2var_epi32(first, _mm512_load_si512(kWordHalves.even), second);
        const __m512i red_luma = _mm512_permutex2var_epi32(first, _mm512_load_si512(kWordHalves.odd), second);
        const __m512i right = _mm512_mask_i32gather_epi32(zero, sampled, _mm512_add_epi32(word, four_shorts), base, 2);
        yv[2 * row] = LowShort(luma_blue);
        cbv[2 * row] = HighShort(luma_blue);
        crv[2 * row] = LowShort(red_luma);
        yv[2 * row + 1] = HighShort(red_luma);
        cbv[2 * row + 1] = LowShort(right);
        crv[2 * row + 1] = HighShort(right);
      }
    } else {
      for (int t = 0; t < 4; ++t) {
        const __m512i word = _mm512_add_epi32(_mm512_add_epi32(idx[t], idx[t]), idx[t]);
        const __m512i lo = _mm512_mask_i32gather_epi32(zero, sampled, word, base, 2);
        const __m512i hi = _mm512_mask_i32gather_epi32(zero, sampled, _mm512_add_epi32(word, one_short), base, 2);
        yv[t] = LowShort(lo);
        cbv[t] = HighShort(lo);
        crv[t] = HighShort(hi);
      }
    }
    __m512 y[4], cb[4], cr[4];
    for (int t = 0; t < 4; ++t) {
      y[t] = _mm512_cvtepi32_ps(yv[t]);
      cb[t] = _mm512_cvtepi32_ps(cbv[t]);
      cr[t] = _mm512_cvtepi32_ps(crv[t]);
    }
    const MixWeights<Float16> w =
        WeightsOf(Float16(_mm512_loadu_ps(a.fx + k)), Float16(_mm512_loadu_ps(a.fy + k)), Float16(one));
    const __m512i mixed_y = _mm512_mask_blend_epi32(sampled, fill_y, MixChannel16(y, w));
    const __m512i mixed_cb = _mm512_mask_blend_epi32(sampled, fill_cb, MixChannel16(cb, w));
    const __m512i mixed_cr = _mm512_mask_blend_epi32(sampled, fill_cr, MixChannel16(cr, w));
    if (!StoreRun16(mixed_y, mixed_cb, mixed_cr, a.out + k)) {
      _mm512_store_si512(luma_blue, _mm512_or_si512(_mm512_and_si512(mixed_y, low_half),
                                                    _mm512_slli_epi32(mixed_cb, 16)));
      _mm512_store_si512(red, mixed_cr);
      StoreMixed(luma_blue, red, a.out + k, 16);
    }
  }
  MixLanesScalar(src, a, fill, k, n);
}

#endif  // LENS_AVX2_KERNELS

// out[k] = take[k] != 0 ? Mix(src, taps of k) : fill, for k < n.
template <KernelSet set>
inline void MixLanes(const SourceFrame& src, const MixLaneArrays& a, PIXEL_YC fill, int n) {
#ifdef LENS_AVX2_KERNELS
  if constexpr (set == KernelSet::Avx512) {
    if (GatherableSource(src)) return MixLanesAvx512(src, a, fill, n);
  } else if constexpr (set == KernelSet::Avx2) {
    if (GatherableSource(src)) return MixLanesAvx2(src, a, fill, n);
  }
#endif
  MixLanesScalar(src, a, fill, 0, n);
}

}  // namespace lens
