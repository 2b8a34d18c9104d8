// Eight RGBA pixels at a time into YC48 with AVX2: the hand-written row
// kernels of the hosts that exchange 8-bit RGBA frames. Compiled where
// HOST_HAS_AVX2 (vector_clones.h) and run only when HasAvx2().
//
// Each term (c * x + k) >> 10 of RgbToYc48 is one multiply-add of the 16-bit
// pair (x, 1) with (c, k): vpmaddwd forms c * x + k exactly in 32 bits (|c|
// <= 9655, x <= 255, k <= 646), and the arithmetic shift floors it as `>>`
// does, so the integers are RgbToYc48's. Channels leave as shorts through a
// saturating pack, which is the plain narrowing for every value below 2^15
// in magnitude (RgbToYc48 gives -2048..4096; StorePixels8's callers stay in
// that range).
#pragma once

#include <cstdint>

#include "pixel.h"
#include "vector_clones.h"

#if HOST_HAS_AVX2
#include <immintrin.h>

namespace yc48 {

#define YC48_LANES __attribute__((target("avx2"), always_inline)) inline

// Three channels of eight pixels, one int32 lane each.
struct Yc48Lanes {
  __m256i y, cb, cr;
};

// The pair (c, k) as the two shorts of each 32-bit lane.
YC48_LANES __m256i TermPair(int c, int k) {
  return _mm256_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(c) & 0xFFFFu) |
                                            static_cast<std::uint32_t>(k) << 16));
}

YC48_LANES __m256i Term(__m256i x_one, int c, int k) {
  return _mm256_srai_epi32(_mm256_madd_epi16(x_one, TermPair(c, k)), 10);
}

// Eight words, R in the low byte, then G, B and A (the byte order of an RGBA
// pixel in memory): RgbToYc48 of each.
YC48_LANES Yc48Lanes Yc48OfRgba8(__m256i words) {
  const __m256i byte = _mm256_set1_epi32(0xFF);
  const __m256i one_above = _mm256_set1_epi32(0x10000);
  const __m256i r = _mm256_or_si256(_mm256_and_si256(words, byte), one_above);
  const __m256i g = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(words, 8), byte), one_above);
  const __m256i b = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(words, 16), byte), one_above);
  Yc48Lanes p;
  p.y = _mm256_add_epi32(_mm256_add_epi32(Term(r, 4918, 354), Term(g, 9655, 585)), Term(b, 1875, 523));
  p.cb = _mm256_add_epi32(_mm256_add_epi32(Term(r, -2775, 240), Term(g, -5449, 515)), Term(b, 8224, 256));
  p.cr = _mm256_add_epi32(_mm256_add_epi32(Term(r, 8224, 256), Term(g, -6887, 110)), Term(b, -1337, 646));
  return p;
}

// Writes eight pixels (48 bytes) from their channels. Per 128-bit half: the
// pack gives y0..y3 cb0..cb3 in one register and cr0..cr3 in another; two
// byte shuffles of each lay out y0 cb0 cr0 .. cb2 (16 bytes) and cr2 y3 cb3
// cr3 (8 bytes).
YC48_LANES void StorePixels8(const Yc48Lanes& p, PIXEL_YC* out) {
  const __m256i luma_blue = _mm256_packs_epi32(p.y, p.cb);
  const __m256i red = _mm256_packs_epi32(p.cr, p.cr);
  const __m256i head_lb = _mm256_setr_epi8(0, 1, 8, 9, -1, -1, 2, 3, 10, 11, -1, -1, 4, 5, 12, 13,  //
                                           0, 1, 8, 9, -1, -1, 2, 3, 10, 11, -1, -1, 4, 5, 12, 13);
  const __m256i head_r = _mm256_setr_epi8(-1, -1, -1, -1, 0, 1, -1, -1, -1, -1, 2, 3, -1, -1, -1, -1,  //
                                          -1, -1, -1, -1, 0, 1, -1, -1, -1, -1, 2, 3, -1, -1, -1, -1);
  const __m256i tail_lb = _mm256_setr_epi8(-1, -1, 6, 7, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                           -1, -1, 6, 7, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i tail_r = _mm256_setr_epi8(4, 5, -1, -1, -1, -1, 6, 7, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                          4, 5, -1, -1, -1, -1, 6, 7, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i head = _mm256_or_si256(_mm256_shuffle_epi8(luma_blue, head_lb), _mm256_shuffle_epi8(red, head_r));
  const __m256i tail = _mm256_or_si256(_mm256_shuffle_epi8(luma_blue, tail_lb), _mm256_shuffle_epi8(red, tail_r));
  char* const o = reinterpret_cast<char*>(out);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(head));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 16), _mm256_castsi256_si128(tail));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 24), _mm256_extracti128_si256(head, 1));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 40), _mm256_extracti128_si256(tail, 1));
}

#undef YC48_LANES

}  // namespace yc48

#endif  // HOST_HAS_AVX2
