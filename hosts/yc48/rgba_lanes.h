// 8-bit RGBA and YC48 with AVX2, both ways, eight or sixteen pixels at a
// time, and with AVX-512 sixteen or 32: the hand-written row kernels of the
// hosts that exchange RGBA frames. Compiled where HOST_HAS_AVX2
// (vector_clones.h) and run only when HasAvx2() (HasAvx512() for the
// AVX-512 ones, which do the same arithmetic on twice the lanes). Every
// integer is the editor's (colour.h).
//
// RGBA to YC48: each term (c * x + k) >> 10 of RgbToYc48 is one multiply-add
// of the 16-bit pair (x, 1) with (c, k): vpmaddwd forms c * x + k exactly in
// 32 bits (|c| <= 9655, x <= 255, k <= 646), and the arithmetic shift floors
// it as `>>` does. Channels leave as shorts through a saturating pack, which
// is the plain narrowing for every value below 2^15 in magnitude
// (RgbToYc48 gives -2048..4096; the callers of StorePixels8 and of
// StorePixels16, whose narrowing saturates the same way, stay in that range).
//
// YC48 to RGBA: each chroma term (c * v) >> 16 of Yc48ToRgb is the high half
// of a 16 x 16-bit product (vpmulhw), which is exactly that shift of the
// 32-bit product; the terms and + 3 stay within a short (at most 2808 + 5828
// + 3 in magnitude for any short chroma); 255 * y + 1024 * t is one
// multiply-add of the pair (y, t) (below 2^31 for any short y); then the
// arithmetic shift by 12 and the clamp to 0..255 (a saturating pack to
// shorts keeps the clamp's result).
#pragma once

#include <cstdint>

#include "pixel.h"
#include "vector_clones.h"

#if HOST_HAS_AVX2
// GCC 12 warns inside its own AVX-512 headers (their "undefined" vectors).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

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

// Bytes 16 k .. 16 k + 15 of a run of 96 in the low half, and the same
// bytes of its second 48 in the high half.
YC48_LANES __m256i HalvesAt(const char* base, int k) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(base + 16 * k))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + 48 + 16 * k)), 1);
}

// Sixteen YC48 pixels as three channels of sixteen shorts, in pixel order.
// Each 128-bit half takes eight pixels: their 24 words in the registers a,
// b, c (words 0-7, 8-15, 16-23), channel ch of pixel i at word 3 i + ch.
// The eight words of one channel sit at distinct positions of the three
// registers (luma: a 0 3 6, b 1 4 7, c 2 5), so two word blends gather them
// into one register, and a byte shuffle puts them in pixel order (luma's
// positions 0 3 6 1 4 7 2 5 hold pixels 0 1 2 3 4 5 6 7).
YC48_LANES void LoadYc48x16(const PIXEL_YC* in, __m256i* y, __m256i* cb, __m256i* cr) {
  const char* const base = reinterpret_cast<const char*>(in);
  const __m256i a = HalvesAt(base, 0);
  const __m256i b = HalvesAt(base, 1);
  const __m256i c = HalvesAt(base, 2);
  const __m256i luma = _mm256_blend_epi16(_mm256_blend_epi16(a, b, 0x92), c, 0x24);
  const __m256i blue = _mm256_blend_epi16(_mm256_blend_epi16(a, b, 0x24), c, 0x49);
  const __m256i red = _mm256_blend_epi16(_mm256_blend_epi16(a, b, 0x49), c, 0x92);
  const __m256i luma_order = _mm256_setr_epi8(0, 1, 6, 7, 12, 13, 2, 3, 8, 9, 14, 15, 4, 5, 10, 11,  //
                                              0, 1, 6, 7, 12, 13, 2, 3, 8, 9, 14, 15, 4, 5, 10, 11);
  const __m256i blue_order = _mm256_setr_epi8(2, 3, 8, 9, 14, 15, 4, 5, 10, 11, 0, 1, 6, 7, 12, 13,  //
                                              2, 3, 8, 9, 14, 15, 4, 5, 10, 11, 0, 1, 6, 7, 12, 13);
  const __m256i red_order = _mm256_setr_epi8(4, 5, 10, 11, 0, 1, 6, 7, 12, 13, 2, 3, 8, 9, 14, 15,  //
                                             4, 5, 10, 11, 0, 1, 6, 7, 12, 13, 2, 3, 8, 9, 14, 15);
  *y = _mm256_shuffle_epi8(luma, luma_order);
  *cb = _mm256_shuffle_epi8(blue, blue_order);
  *cr = _mm256_shuffle_epi8(red, red_order);
}

// One 8-bit channel of sixteen pixels as shorts: (255 y + 1024 t) >> 12,
// clamped to 0..255.
YC48_LANES __m256i RgbChannel16(__m256i y, __m256i t) {
  const __m256i weights = _mm256_set1_epi32(255 | 1024 << 16);
  const __m256i low = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(y, t), weights), 12);
  const __m256i high = _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(y, t), weights), 12);
  return _mm256_min_epi16(_mm256_max_epi16(_mm256_packs_epi32(low, high), _mm256_setzero_si256()),
                          _mm256_set1_epi16(255));
}

// Sixteen YC48 pixels, given as their channels (LoadYc48x16), to RGBA words
// (R in the low byte); `alpha`: sixteen shorts, each 0..255.
YC48_LANES void RgbaOfChannels16(__m256i y, __m256i cb, __m256i cr, __m256i alpha, std::uint32_t* out) {
  const __m256i three = _mm256_set1_epi16(3);
  const __m256i red = RgbChannel16(y, _mm256_add_epi16(_mm256_mulhi_epi16(cr, _mm256_set1_epi16(22881)), three));
  const __m256i green = RgbChannel16(
      y, _mm256_add_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(cb, _mm256_set1_epi16(-5616)),
                                           _mm256_mulhi_epi16(cr, _mm256_set1_epi16(-11655))),
                          three));
  const __m256i blue = RgbChannel16(y, _mm256_add_epi16(_mm256_mulhi_epi16(cb, _mm256_set1_epi16(28919)), three));
  const __m256i rg = _mm256_or_si256(red, _mm256_slli_epi16(green, 8));
  const __m256i ba = _mm256_or_si256(blue, _mm256_slli_epi16(alpha, 8));
  // Per 128-bit half: pixels 0-3 and 8-11 in the low words, 4-7 and 12-15
  // in the high ones.
  const __m256i low = _mm256_unpacklo_epi16(rg, ba);
  const __m256i high = _mm256_unpackhi_epi16(rg, ba);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute2x128_si256(low, high, 0x20));
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8), _mm256_permute2x128_si256(low, high, 0x31));
}

// Sixteen YC48 pixels to RGBA words; `alpha` as above.
YC48_LANES void RgbaOfYc48x16(const PIXEL_YC* in, __m256i alpha, std::uint32_t* out) {
  __m256i y, cb, cr;
  LoadYc48x16(in, &y, &cb, &cr);
  RgbaOfChannels16(y, cb, cr, alpha, out);
}

// RGBA to YC48 sixteen pixels at a time with AVX-512 (F, BW): the same
// multiply-adds and shifts on twice the lanes, and the 96 bytes of sixteen
// pixels written by two word permutes. Run only when HasAvx512().
#define YC48_LANES512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq"), always_inline)) inline

struct Yc48Lanes16 {
  __m512i y, cb, cr;
};

YC48_LANES512 __m512i Term16(__m512i x_one, int c, int k) {
  const __m512i pair = _mm512_set1_epi32(
      static_cast<int>((static_cast<std::uint32_t>(c) & 0xFFFFu) | static_cast<std::uint32_t>(k) << 16));
  return _mm512_srai_epi32(_mm512_madd_epi16(x_one, pair), 10);
}

// Yc48OfRgba8 on sixteen words.
YC48_LANES512 Yc48Lanes16 Yc48OfRgba16(__m512i words) {
  const __m512i byte = _mm512_set1_epi32(0xFF);
  const __m512i one_above = _mm512_set1_epi32(0x10000);
  const __m512i r = _mm512_or_si512(_mm512_and_si512(words, byte), one_above);
  const __m512i g = _mm512_or_si512(_mm512_and_si512(_mm512_srli_epi32(words, 8), byte), one_above);
  const __m512i b = _mm512_or_si512(_mm512_and_si512(_mm512_srli_epi32(words, 16), byte), one_above);
  Yc48Lanes16 p;
  p.y = _mm512_add_epi32(_mm512_add_epi32(Term16(r, 4918, 354), Term16(g, 9655, 585)), Term16(b, 1875, 523));
  p.cb = _mm512_add_epi32(_mm512_add_epi32(Term16(r, -2775, 240), Term16(g, -5449, 515)), Term16(b, 8224, 256));
  p.cr = _mm512_add_epi32(_mm512_add_epi32(Term16(r, 8224, 256), Term16(g, -6887, 110)), Term16(b, -1337, 646));
  return p;
}

// Word j of sixteen written pixels is channel j % 3 of pixel j / 3; in the
// permutes' two sources luma is at 0..15, blue at 16..31, red at 32..47.
struct PixelWordOrder {
  alignas(64) short words[64];
  constexpr PixelWordOrder() : words{} {
    for (int j = 0; j < 48; ++j) words[j] = static_cast<short>(j % 3 * 16 + j / 3);
  }
};
constexpr PixelWordOrder kPixelWordOrder{};

// Writes sixteen pixels (96 bytes) from their channels, each narrowed to a
// short with signed saturation as StorePixels8's pack does.
YC48_LANES512 void StorePixels16(const Yc48Lanes16& p, PIXEL_YC* out) {
  const __m512i luma_blue = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtsepi32_epi16(p.y)),
                                               _mm512_cvtsepi32_epi16(p.cb), 1);
  const __m512i red = _mm512_castsi256_si512(_mm512_cvtsepi32_epi16(p.cr));
  const __m512i head = _mm512_permutex2var_epi16(luma_blue, _mm512_load_si512(kPixelWordOrder.words), red);
  const __m512i tail = _mm512_permutex2var_epi16(luma_blue, _mm512_load_si512(kPixelWordOrder.words + 32), red);
  char* const o = reinterpret_cast<char*>(out);
  _mm512_storeu_si512(o, head);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(o + 64), _mm512_castsi512_si256(tail));
}

// Word indices for the channels of 32 pixels spread over three vectors of
// 32 words (96 words, channel ch of pixel i at word 3 i + ch): `pair` picks
// from the first two (indices 0..63), `third` from the third; `in_third`
// marks the pixels whose word lies there.
struct ChannelGather {
  alignas(64) short pair[3][32];
  alignas(64) short third[3][32];
  unsigned in_third[3];
  constexpr ChannelGather() : pair{}, third{}, in_third{} {
    for (int ch = 0; ch < 3; ++ch) {
      for (int i = 0; i < 32; ++i) {
        const int word = 3 * i + ch;
        pair[ch][i] = static_cast<short>(word < 64 ? word : 0);
        third[ch][i] = static_cast<short>(word < 64 ? 0 : word - 64);
        if (word >= 64) in_third[ch] |= 1u << i;
      }
    }
  }
};
constexpr ChannelGather kChannelGather{};

// RgbChannel16 on 32 shorts.
YC48_LANES512 __m512i RgbChannel32(__m512i y, __m512i t) {
  const __m512i weights = _mm512_set1_epi32(255 | 1024 << 16);
  const __m512i low = _mm512_srai_epi32(_mm512_madd_epi16(_mm512_unpacklo_epi16(y, t), weights), 12);
  const __m512i high = _mm512_srai_epi32(_mm512_madd_epi16(_mm512_unpackhi_epi16(y, t), weights), 12);
  return _mm512_min_epi16(_mm512_max_epi16(_mm512_packs_epi32(low, high), _mm512_setzero_si512()),
                          _mm512_set1_epi16(255));
}

// 32 YC48 pixels as three channels of 32 shorts, in pixel order.
YC48_LANES512 void LoadYc48x32(const PIXEL_YC* in, __m512i* y, __m512i* cb, __m512i* cr) {
  const char* const base = reinterpret_cast<const char*>(in);
  const __m512i a = _mm512_loadu_si512(base);
  const __m512i b = _mm512_loadu_si512(base + 64);
  const __m512i c = _mm512_loadu_si512(base + 128);
  __m512i channel[3];
  for (int ch = 0; ch < 3; ++ch) {
    const __m512i from_pair = _mm512_permutex2var_epi16(a, _mm512_load_si512(kChannelGather.pair[ch]), b);
    channel[ch] = _mm512_mask_permutexvar_epi16(from_pair, kChannelGather.in_third[ch],
                                                _mm512_load_si512(kChannelGather.third[ch]), c);
  }
  *y = channel[0];
  *cb = channel[1];
  *cr = channel[2];
}

// RgbaOfChannels16 on 32 pixels; `alpha`: 32 shorts in pixel order, each
// 0..255.
YC48_LANES512 void RgbaOfChannels32(__m512i y, __m512i cb, __m512i cr, __m512i alpha, std::uint32_t* out) {
  const __m512i three = _mm512_set1_epi16(3);
  const __m512i red = RgbChannel32(y, _mm512_add_epi16(_mm512_mulhi_epi16(cr, _mm512_set1_epi16(22881)), three));
  const __m512i green = RgbChannel32(
      y, _mm512_add_epi16(_mm512_add_epi16(_mm512_mulhi_epi16(cb, _mm512_set1_epi16(-5616)),
                                           _mm512_mulhi_epi16(cr, _mm512_set1_epi16(-11655))),
                          three));
  const __m512i blue = RgbChannel32(y, _mm512_add_epi16(_mm512_mulhi_epi16(cb, _mm512_set1_epi16(28919)), three));
  const __m512i rg = _mm512_or_si512(red, _mm512_slli_epi16(green, 8));
  const __m512i ba = _mm512_or_si512(blue, _mm512_slli_epi16(alpha, 8));
  // Per 128-bit lane L (pixels 8 L .. 8 L + 7): pixels 8 L .. 8 L + 3 in
  // the low words, the next four in the high ones.
  const __m512i low = _mm512_unpacklo_epi16(rg, ba);
  const __m512i high = _mm512_unpackhi_epi16(rg, ba);
  _mm512_storeu_si512(out, _mm512_permutex2var_epi64(low, _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11), high));
  _mm512_storeu_si512(out + 16, _mm512_permutex2var_epi64(low, _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15), high));
}

// RgbaOfYc48x16 on 32 pixels; `alpha` as above.
YC48_LANES512 void RgbaOfYc48x32(const PIXEL_YC* in, __m512i alpha, std::uint32_t* out) {
  __m512i y, cb, cr;
  LoadYc48x32(in, &y, &cb, &cr);
  RgbaOfChannels32(y, cb, cr, alpha, out);
}

#undef YC48_LANES512
#undef YC48_LANES

}  // namespace yc48

#endif  // HOST_HAS_AVX2
