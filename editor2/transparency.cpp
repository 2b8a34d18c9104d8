#include "transparency.h"

#include <cstdint>
#include <cstring>

#include "colour.h"
#include "rgba_lanes.h"
#include "unpremultiply_lanes.h"
#include "vector_clones.h"

namespace editor2 {
namespace {

// Pixels per chunk: the channel planes of one chunk stay in the L1 cache.
constexpr int kChunk = 256;

// The alpha plane's mark of an uncovered pixel: any chroma but 0.
constexpr PIXEL_YC kFillMark{0, 1, 1};

struct Channels {
  std::int32_t r[kChunk], g[kChunk], b[kChunk], a[kChunk];
};

inline void UnpackWord(std::uint32_t v, Channels& c, int i) {
  c.r[i] = static_cast<std::int32_t>(v & 0xFFu);
  c.g[i] = static_cast<std::int32_t>(v >> 8 & 0xFFu);
  c.b[i] = static_cast<std::int32_t>(v >> 16 & 0xFFu);
  c.a[i] = static_cast<std::int32_t>(v >> 24);
}

inline void Unpack(const PIXEL_RGBA& p, Channels& c, int i) {
  std::uint32_t v;
  std::memcpy(&v, &p, sizeof(v));
  UnpackWord(v, c, i);
}

// Whether every alpha of the chunk is 255.
inline bool Opaque(const std::int32_t* a, int n) {
  std::int32_t all = 255;
  for (int i = 0; i < n; ++i) all &= a[i];
  return all == 255;
}

// The plain loops below (vectorised by the compiler) run where the AVX2
// kernels do not: without AVX2, under LENS_KERNELS=baseline, and for the
// last pixels of a row or chunk.
HOST_INLINE void PremultiplyLoop(PIXEL_YC* __restrict out, const std::int32_t* __restrict a, int n) {
  for (int i = 0; i < n; ++i) {
    out[i].y = static_cast<short>(Premultiplied(out[i].y, a[i]));
    out[i].cb = static_cast<short>(Premultiplied(out[i].cb, a[i]));
    out[i].cr = static_cast<short>(Premultiplied(out[i].cr, a[i]));
  }
}

// Straight colour and 8-bit alpha from the re-projected colour and alpha
// planes, the colour divided by alpha where `kDivide`. A transparent pixel
// is black as well.
template <bool kDivide>
HOST_INLINE void StraightLoop(const PIXEL_YC* __restrict colour, const PIXEL_YC* __restrict alpha, int n,
                              int fill_alpha, PIXEL_YC* __restrict straight, std::int32_t* __restrict alpha8) {
  for (int i = 0; i < n; ++i) {
    const PIXEL_YC m = alpha[i];
    const PIXEL_YC p = colour[i];
    const bool uncovered = (m.cb | m.cr) != 0;
    const int scaled = m.y < 0 ? 0 : m.y > kOpaqueScaled ? kOpaqueScaled : m.y;
    const int a = uncovered ? fill_alpha : (scaled + kAlphaScale / 2) / kAlphaScale;
    // Divided always and chosen by masks, so that the loop has no branch
    // (the compiler will not turn a branch around a load or a division
    // that may trap into a select).
    const int divisor = scaled > 0 ? scaled : 1;
    const int undo = -static_cast<int>(kDivide && !uncovered);
    const short y = static_cast<short>((Unpremultiplied(p.y, divisor) & undo) | (p.y & ~undo));
    const short cb = static_cast<short>((Unpremultiplied(p.cb, divisor) & undo) | (p.cb & ~undo));
    const short cr = static_cast<short>((Unpremultiplied(p.cr, divisor) & undo) | (p.cr & ~undo));
    const short keep = static_cast<short>(-static_cast<int>(a != 0));
    straight[i] = PIXEL_YC{static_cast<short>(y & keep), static_cast<short>(cb & keep), static_cast<short>(cr & keep)};
    alpha8[i] = a;
  }
}

void Straight(const PIXEL_YC* colour, const PIXEL_YC* alpha, int n, int fill_alpha, bool divide, PIXEL_YC* straight,
              std::int32_t* alpha8) {
  if (divide) return StraightLoop<true>(colour, alpha, n, fill_alpha, straight, alpha8);
  StraightLoop<false>(colour, alpha, n, fill_alpha, straight, alpha8);
}

// The input pixels the marks name (0 for the fill), and -1 in `sampled`
// for each mark of an input pixel.
HOST_INLINE void GatherLoop(const PIXEL_YC* __restrict marks, int n, const std::uint32_t* __restrict rgba,
                            std::int32_t limit, std::uint32_t* __restrict words, std::int32_t* __restrict sampled) {
  std::int32_t index[kChunk];
  for (int i = 0; i < n; ++i) {
    const std::int32_t y = marks[i].y;
    const std::int32_t cb = marks[i].cb;
    const std::int32_t cr = marks[i].cr;
    const std::int32_t at = y | cb << 15;
    const bool mark = cr == 1 && y >= 0 && cb >= 0 && at < limit;
    index[i] = mark ? at : 0;
    sampled[i] = -static_cast<std::int32_t>(mark);
  }
  for (int i = 0; i < n; ++i) words[i] = rgba[index[i]] & static_cast<std::uint32_t>(sampled[i]);
}

// The planes of the gathered pixels: a sampled pixel's colour and alpha
// x 16; the fill keeps its colour and takes the fill mark.
HOST_INLINE void MarksLoop(const PIXEL_YC* __restrict marks, int n, const std::int32_t* __restrict sampled,
                           const std::int32_t* __restrict a, PIXEL_YC* __restrict colour, PIXEL_YC* __restrict alpha) {
  for (int i = 0; i < n; ++i) {
    const short s = static_cast<short>(sampled[i]);
    const PIXEL_YC m = marks[i];
    const PIXEL_YC p = colour[i];
    colour[i] = PIXEL_YC{static_cast<short>((p.y & s) | (m.y & ~s)), static_cast<short>((p.cb & s) | (m.cb & ~s)),
                         static_cast<short>((p.cr & s) | (m.cr & ~s))};
    alpha[i] = PIXEL_YC{static_cast<short>((a[i] * kAlphaScale & s) | (kFillMark.y & ~s)),
                        static_cast<short>(kFillMark.cb & ~s), static_cast<short>(kFillMark.cr & ~s)};
  }
}

#if HOST_HAS_AVX2
// GatherLoop on groups of sixteen marks: their channels as shorts
// (rgba_lanes.h), then on int32 lanes the same index y | cb << 15 and the
// same verdict, and the words by a gather masked by it (0 where it is off,
// as rgba[0] & 0). Returns how many marks it took.
HOST_AVX2 int GatherAvx2(const PIXEL_YC* marks, int n, const std::uint32_t* rgba, std::int32_t limit,
                         std::uint32_t* words, std::int32_t* sampled) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i below = _mm256_set1_epi32(limit);
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    __m256i y16, cb16, cr16;
    yc48::LoadYc48x16(marks + i, &y16, &cb16, &cr16);
    for (int half = 0; half < 2; ++half) {
      const __m256i y = WidenHalf(y16, half);
      const __m256i cb = WidenHalf(cb16, half);
      const __m256i cr = WidenHalf(cr16, half);
      const __m256i at = _mm256_or_si256(y, _mm256_slli_epi32(cb, 15));
      // cr == 1, y >= 0 and cb >= 0 (neither sign bit set), at < limit.
      const __m256i signs_clear = _mm256_cmpgt_epi32(_mm256_or_si256(y, cb), _mm256_set1_epi32(-1));
      const __m256i mark = _mm256_and_si256(_mm256_and_si256(_mm256_cmpeq_epi32(cr, one), signs_clear),
                                            _mm256_cmpgt_epi32(below, at));
      const __m256i word = _mm256_mask_i32gather_epi32(zero, reinterpret_cast<const int*>(rgba),
                                                       _mm256_and_si256(at, mark), mark, 4);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(words + i + 8 * half), word);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(sampled + i + 8 * half), mark);
    }
  }
  return i;
}
#endif

void Gather(const PIXEL_YC* marks, int n, const PIXEL_RGBA* rgba, std::int32_t limit, std::uint32_t* words,
            std::int32_t* sampled) {
  const std::uint32_t* input = reinterpret_cast<const std::uint32_t*>(rgba);
  int done = 0;
#if HOST_HAS_AVX2
  if (HasAvx2()) done = GatherAvx2(marks, n, input, limit, words, sampled);
#endif
  GatherLoop(marks + done, n - done, input, limit, words + done, sampled + done);
}

// Whether every pixel of the chunk is an opaque input pixel: 8-bit RGB
// comes back unchanged through YC48 (every colour is tested), and an
// opaque colour is neither premultiplied nor divided, so such a chunk is
// the input pixels themselves.
inline bool AllOpaqueSamples(const std::uint32_t* words, const std::int32_t* sampled, int n) {
  std::uint32_t all = 0xFFFFFFFFu;
  for (int i = 0; i < n; ++i) all &= static_cast<std::uint32_t>(sampled[i]) & (words[i] | 0x00FFFFFFu);
  return all == 0xFFFFFFFFu;
}

#if HOST_HAS_AVX2
// Output words of the whole groups of 32 (AVX-512) or sixteen (AVX2)
// pixels of n (rgba_lanes.h); each returns how many pixels it wrote.
HOST_AVX512 int RgbaWordsAvx512(const PIXEL_YC* yc, const std::int32_t* alpha8, int n, PIXEL_RGBA* out) {
  int i = 0;
  for (; i + 32 <= n; i += 32) {
    const __m512i alpha = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(_mm512_loadu_si512(alpha8 + i))),
                                             _mm512_cvtepi32_epi16(_mm512_loadu_si512(alpha8 + i + 16)), 1);
    yc48::RgbaOfYc48x32(yc + i, alpha, reinterpret_cast<std::uint32_t*>(out + i));
  }
  return i;
}

HOST_AVX2 int RgbaWordsAvx2(const PIXEL_YC* yc, const std::int32_t* alpha8, int n, PIXEL_RGBA* out) {
  int i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i packed = _mm256_packs_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(alpha8 + i)),
                                              _mm256_loadu_si256(reinterpret_cast<const __m256i*>(alpha8 + i + 8)));
    yc48::RgbaOfYc48x16(yc + i, _mm256_permute4x64_epi64(packed, 0xD8), reinterpret_cast<std::uint32_t*>(out + i));
  }
  return i;
}

// StraightLoop and the output words of sixteen pixels, channel by channel
// on shorts: the same verdicts, the same alpha and, where `divide`, the
// same quotients as Unpremultiplied.
HOST_AVX2 void FinishAvx2x16(const PIXEL_YC* colour, const PIXEL_YC* alpha, int fill_alpha, bool divide,
                             PIXEL_RGBA* out) {
  __m256i y, cb, cr, mark_y, mark_cb, mark_cr;
  yc48::LoadYc48x16(colour, &y, &cb, &cr);
  yc48::LoadYc48x16(alpha, &mark_y, &mark_cb, &mark_cr);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i ones = _mm256_set1_epi16(-1);
  const __m256i uncovered = _mm256_xor_si256(_mm256_cmpeq_epi16(_mm256_or_si256(mark_cb, mark_cr), zero), ones);
  const __m256i scaled = _mm256_min_epi16(_mm256_max_epi16(mark_y, zero), _mm256_set1_epi16(kOpaqueScaled));
  static_assert(kAlphaScale == 1 << 4, "alpha x 16 is a shift by 4");
  const __m256i own = _mm256_srli_epi16(_mm256_add_epi16(scaled, _mm256_set1_epi16(kAlphaScale / 2)), 4);
  const __m256i a = _mm256_blendv_epi8(own, _mm256_set1_epi16(static_cast<short>(fill_alpha)), uncovered);
  // Dividing by the alpha of an opaque pixel gives the colour back: a group
  // without a covered pixel below 255 skips the division.
  const __m256i below_opaque = _mm256_cmpgt_epi16(_mm256_set1_epi16(kOpaqueScaled), mark_y);
  const __m256i translucent = _mm256_andnot_si256(uncovered, below_opaque);
  if (divide && !_mm256_testz_si256(translucent, translucent)) {
    // scaled > 0 ? scaled : 1
    const Divisors divisor = DivisorsOf(_mm256_max_epi16(scaled, _mm256_set1_epi16(1)));
    y = _mm256_blendv_epi8(Unpremultiplied16(y, divisor), y, uncovered);
    cb = _mm256_blendv_epi8(Unpremultiplied16(cb, divisor), cb, uncovered);
    cr = _mm256_blendv_epi8(Unpremultiplied16(cr, divisor), cr, uncovered);
  }
  const __m256i keep = _mm256_xor_si256(_mm256_cmpeq_epi16(a, zero), ones);
  yc48::RgbaOfChannels16(_mm256_and_si256(y, keep), _mm256_and_si256(cb, keep), _mm256_and_si256(cr, keep), a,
                         reinterpret_cast<std::uint32_t*>(out));
}

// FinishAvx2x16 on 32 pixels, with masks for the verdicts.
HOST_AVX512 void FinishAvx512x32(const PIXEL_YC* colour, const PIXEL_YC* alpha, int fill_alpha, bool divide,
                                 PIXEL_RGBA* out) {
  __m512i y, cb, cr, mark_y, mark_cb, mark_cr;
  yc48::LoadYc48x32(colour, &y, &cb, &cr);
  yc48::LoadYc48x32(alpha, &mark_y, &mark_cb, &mark_cr);
  const __m512i zero = _mm512_setzero_si512();
  const __mmask32 uncovered = _mm512_cmpneq_epi16_mask(_mm512_or_si512(mark_cb, mark_cr), zero);
  const __m512i scaled = _mm512_min_epi16(_mm512_max_epi16(mark_y, zero), _mm512_set1_epi16(kOpaqueScaled));
  const __m512i own = _mm512_srli_epi16(_mm512_add_epi16(scaled, _mm512_set1_epi16(kAlphaScale / 2)), 4);
  const __m512i a = _mm512_mask_blend_epi16(uncovered, own, _mm512_set1_epi16(static_cast<short>(fill_alpha)));
  const __mmask32 translucent = ~uncovered & _mm512_cmpgt_epi16_mask(_mm512_set1_epi16(kOpaqueScaled), mark_y);
  if (divide && translucent != 0) {
    const Divisors32 divisor = DivisorsOf32(_mm512_max_epi16(scaled, _mm512_set1_epi16(1)));
    y = _mm512_mask_blend_epi16(uncovered, Unpremultiplied32(y, divisor), y);
    cb = _mm512_mask_blend_epi16(uncovered, Unpremultiplied32(cb, divisor), cb);
    cr = _mm512_mask_blend_epi16(uncovered, Unpremultiplied32(cr, divisor), cr);
  }
  const __mmask32 keep = _mm512_cmpneq_epi16_mask(a, zero);
  yc48::RgbaOfChannels32(_mm512_maskz_mov_epi16(keep, y), _mm512_maskz_mov_epi16(keep, cb),
                         _mm512_maskz_mov_epi16(keep, cr), a, reinterpret_cast<std::uint32_t*>(out));
}
#endif

// Whether a covered pixel of the alpha plane is below 255.
inline bool AnyTranslucent(const PIXEL_YC* alpha, int n) {
  int any = 0;
  for (int i = 0; i < n; ++i) any |= (alpha[i].cb | alpha[i].cr) == 0 && alpha[i].y < kOpaqueScaled;
  return any != 0;
}

// n output pixels from colour and alpha planes (alpha null: opaque).
void FinishChunk(const PIXEL_YC* colour, const PIXEL_YC* alpha, int n, Fill fill, bool divide, PIXEL_RGBA* out) {
  const int fill_alpha = fill == Fill::kTransparent ? 0 : 255;
  int done = 0;
#if HOST_HAS_AVX2
  if (alpha != nullptr && HasAvx512()) {
    for (; done + 32 <= n; done += 32) FinishAvx512x32(colour + done, alpha + done, fill_alpha, divide, out + done);
  }
  if (alpha != nullptr && HasAvx2()) {
    for (; done + 16 <= n; done += 16) FinishAvx2x16(colour + done, alpha + done, fill_alpha, divide, out + done);
  }
#endif
  // The rest, the straight colour and its alpha first; without a covered
  // pixel below 255 it skips the division, as a group of sixteen does.
  const int m = n - done;
  const bool undo = alpha != nullptr && divide && AnyTranslucent(alpha + done, m);
  colour += done;
  out += done;
  Channels c;
  PIXEL_YC straight[kChunk];
  const PIXEL_YC* yc = colour;
  if (alpha == nullptr) {
    for (int i = 0; i < m; ++i) c.a[i] = 255;
  } else {
    Straight(colour, alpha + done, m, fill_alpha, undo, straight, c.a);
    yc = straight;
  }
  int words = 0;
#if HOST_HAS_AVX2
  if (HasAvx512()) words = RgbaWordsAvx512(yc, c.a, m, out);
  if (HasAvx2()) words += RgbaWordsAvx2(yc + words, c.a + words, m - words, out + words);
#endif
  yc48::Yc48RowToRgb(yc + words, m - words, c.r, c.g, c.b);
  for (int i = words; i < m; ++i) {
    const int k = i - words;
    const std::uint32_t v = static_cast<std::uint32_t>(c.r[k]) | static_cast<std::uint32_t>(c.g[k]) << 8 |
                            static_cast<std::uint32_t>(c.b[k]) << 16 | static_cast<std::uint32_t>(c.a[i]) << 24;
    std::memcpy(&out[i], &v, sizeof(v));
  }
}

inline int ChunkAt(int c0, int w) { return w - c0 < kChunk ? w - c0 : kChunk; }

inline std::uint32_t WordOf(const PIXEL_RGBA& p) {
  std::uint32_t v;
  std::memcpy(&v, &p, sizeof(v));
  return v;
}

// One input pixel into the colour plane (premultiplied where `premultiply`)
// and the alpha plane (null: not written); returns its alpha.
inline int PlanePixel(const PIXEL_RGBA& p, bool premultiply, PIXEL_YC* colour, PIXEL_YC* alpha) {
  const std::uint32_t v = WordOf(p);
  const int a = static_cast<int>(v >> 24);
  PIXEL_YC yc = yc48::RgbToYc48(static_cast<int>(v & 0xFFu), static_cast<int>(v >> 8 & 0xFFu),
                                static_cast<int>(v >> 16 & 0xFFu));
  if (premultiply && a != 255) {
    yc = PIXEL_YC{static_cast<short>(Premultiplied(yc.y, a)), static_cast<short>(Premultiplied(yc.cb, a)),
                  static_cast<short>(Premultiplied(yc.cr, a))};
  }
  *colour = yc;
  if (alpha != nullptr) *alpha = PIXEL_YC{static_cast<short>(a * kAlphaScale), 0, 0};
  return a;
}

#if HOST_HAS_AVX2
// Premultiplied on eight lanes, the same integers: m * 8421505 >> 31 as two
// 32 x 32 -> 64-bit products, the even lanes and the odd ones.
HOST_AVX2 inline __m256i Premultiplied8(__m256i v, __m256i a) {
  const __m256i p = _mm256_mullo_epi32(v, a);
  const __m256i sign = _mm256_srai_epi32(p, 31);
  const __m256i m = _mm256_add_epi32(_mm256_abs_epi32(p), _mm256_set1_epi32(127));
  const __m256i factor = _mm256_set1_epi32(8421505);
  const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(m, factor), 31);
  const __m256i odd = _mm256_srli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(m, 32), factor), 31);
  const __m256i q = _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
  return _mm256_sub_epi32(_mm256_xor_si256(q, sign), sign);
}

// ToColourRow and ToAlphaRow eight pixels at a time (rgba_lanes.h). A group
// of eight opaque pixels is not premultiplied: at alpha 255 that gives the
// colour itself.
HOST_AVX2 bool ToPlanesRowAvx2(const PIXEL_RGBA* in, int w, bool premultiply, PIXEL_YC* colour, PIXEL_YC* alpha) {
  const __m256i opaque_alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
  __m256i all = opaque_alpha;
  int i = 0;
  for (; i + 8 <= w; i += 8) {
    const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
    const __m256i a = _mm256_srli_epi32(words, 24);
    if (colour != nullptr) {
      yc48::Yc48Lanes p = yc48::Yc48OfRgba8(words);
      const bool opaque8 = _mm256_testc_si256(words, opaque_alpha) != 0;
      if (premultiply && !opaque8) {
        p.y = Premultiplied8(p.y, a);
        p.cb = Premultiplied8(p.cb, a);
        p.cr = Premultiplied8(p.cr, a);
      }
      yc48::StorePixels8(p, colour + i);
    }
    if (alpha != nullptr) {
      const __m256i zero = _mm256_setzero_si256();
      static_assert(kAlphaScale == 1 << 4, "alpha x 16 is a shift by 4");
      yc48::StorePixels8(yc48::Yc48Lanes{_mm256_slli_epi32(a, 4), zero, zero}, alpha + i);
    }
    all = _mm256_and_si256(all, words);
  }
  bool opaque = _mm256_testc_si256(all, opaque_alpha) != 0;
  for (; i < w; ++i) {
    PIXEL_YC unused;
    opaque = PlanePixel(in[i], premultiply, colour != nullptr ? colour + i : &unused,
                        alpha != nullptr ? alpha + i : nullptr) == 255 && opaque;
  }
  return opaque;
}

// Premultiplied8 on sixteen lanes.
HOST_AVX512 inline __m512i Premultiplied16(__m512i v, __m512i a) {
  const __m512i p = _mm512_mullo_epi32(v, a);
  const __m512i sign = _mm512_srai_epi32(p, 31);
  const __m512i m = _mm512_add_epi32(_mm512_abs_epi32(p), _mm512_set1_epi32(127));
  const __m512i factor = _mm512_set1_epi32(8421505);
  const __m512i even = _mm512_srli_epi64(_mm512_mul_epu32(m, factor), 31);
  const __m512i odd = _mm512_srli_epi64(_mm512_mul_epu32(_mm512_srli_epi64(m, 32), factor), 31);
  const __m512i q = _mm512_mask_blend_epi32(0xAAAA, even, _mm512_slli_epi64(odd, 32));
  return _mm512_sub_epi32(_mm512_xor_si512(q, sign), sign);
}

// ToPlanesRowAvx2 sixteen pixels at a time; the last pixels go to it.
HOST_AVX512 bool ToPlanesRowAvx512(const PIXEL_RGBA* in, int w, bool premultiply, PIXEL_YC* colour,
                                   PIXEL_YC* alpha) {
  const __m512i opaque_alpha = _mm512_set1_epi32(static_cast<int>(0xFF000000u));
  __m512i all = opaque_alpha;
  int i = 0;
  for (; i + 16 <= w; i += 16) {
    const __m512i words = _mm512_loadu_si512(in + i);
    const __m512i a = _mm512_srli_epi32(words, 24);
    if (colour != nullptr) {
      yc48::Yc48Lanes16 p = yc48::Yc48OfRgba16(words);
      const bool opaque16 = _mm512_cmpeq_epi32_mask(_mm512_and_si512(words, opaque_alpha), opaque_alpha) == 0xFFFF;
      if (premultiply && !opaque16) {
        p.y = Premultiplied16(p.y, a);
        p.cb = Premultiplied16(p.cb, a);
        p.cr = Premultiplied16(p.cr, a);
      }
      yc48::StorePixels16(p, colour + i);
    }
    if (alpha != nullptr) {
      const __m512i zero = _mm512_setzero_si512();
      yc48::StorePixels16(yc48::Yc48Lanes16{_mm512_slli_epi32(a, 4), zero, zero}, alpha + i);
    }
    all = _mm512_and_si512(all, words);
  }
  const bool opaque = _mm512_cmpeq_epi32_mask(_mm512_and_si512(all, opaque_alpha), opaque_alpha) == 0xFFFF;
  return ToPlanesRowAvx2(in + i, w - i, premultiply, colour != nullptr ? colour + i : nullptr,
                         alpha != nullptr ? alpha + i : nullptr) &&
         opaque;
}

// The widest of the two for this processor (HasAvx2() holds).
bool ToPlanesRowVector(const PIXEL_RGBA* in, int w, bool premultiply, PIXEL_YC* colour, PIXEL_YC* alpha) {
  if (HasAvx512()) return ToPlanesRowAvx512(in, w, premultiply, colour, alpha);
  return ToPlanesRowAvx2(in, w, premultiply, colour, alpha);
}
#endif

}  // namespace

bool ToColourRow(const PIXEL_RGBA* in, int w, bool premultiply, PIXEL_YC* colour, PIXEL_YC* alpha) {
#if HOST_HAS_AVX2
  if (HasAvx2()) return ToPlanesRowVector(in, w, premultiply, colour, alpha);
#endif
  Channels c;
  bool opaque = true;
  for (int c0 = 0; c0 < w; c0 += kChunk) {
    const int n = ChunkAt(c0, w);
    for (int i = 0; i < n; ++i) Unpack(in[c0 + i], c, i);
    yc48::RgbRowToYc48(c.r, c.g, c.b, n, colour + c0);
    if (alpha != nullptr) {
      for (int i = 0; i < n; ++i) alpha[c0 + i] = PIXEL_YC{static_cast<short>(c.a[i] * kAlphaScale), 0, 0};
    }
    if (!Opaque(c.a, n)) {
      opaque = false;
      if (premultiply) PremultiplyLoop(colour + c0, c.a, n);
    }
  }
  return opaque;
}

void ToAlphaRow(const PIXEL_RGBA* in, int w, PIXEL_YC* alpha) {
#if HOST_HAS_AVX2
  if (HasAvx2()) {
    ToPlanesRowVector(in, w, false, nullptr, alpha);
    return;
  }
#endif
  for (int i = 0; i < w; ++i) alpha[i] = PIXEL_YC{static_cast<short>(in[i].a * kAlphaScale), 0, 0};
}

void ToIndexRow(std::uint32_t first, int w, PIXEL_YC* out) {
  for (int i = 0; i < w; ++i) {
    const std::uint32_t index = first + static_cast<std::uint32_t>(i);
    out[i] = PIXEL_YC{static_cast<short>(index & 0x7FFFu), static_cast<short>(index >> 15), 1};
  }
}

void FromPlanes(const PIXEL_YC* colour, const PIXEL_YC* alpha, int w, Fill fill, bool divide, PIXEL_RGBA* out) {
  for (int c0 = 0; c0 < w; c0 += kChunk) {
    FinishChunk(colour + c0, alpha != nullptr ? alpha + c0 : nullptr, ChunkAt(c0, w), fill, divide, out + c0);
  }
}

void FromIndexRow(const PIXEL_YC* marks, int w, const PIXEL_RGBA* rgba, std::size_t count, Fill fill,
                  bool premultiply, PIXEL_RGBA* out) {
  Channels c;
  std::uint32_t words[kChunk];
  std::int32_t sampled[kChunk];
  PIXEL_YC colour[kChunk], alpha[kChunk];
  const std::int32_t limit = static_cast<std::int32_t>(count < kMaxIndexedPixels ? count : kMaxIndexedPixels);
  for (int c0 = 0; c0 < w; c0 += kChunk) {
    const int n = ChunkAt(c0, w);
    Gather(marks + c0, n, rgba, limit, words, sampled);
    if (AllOpaqueSamples(words, sampled, n)) {
      std::memcpy(out + c0, words, sizeof(std::uint32_t) * static_cast<std::size_t>(n));
      continue;
    }
    // The fill's alpha counts as 255 here; FinishChunk gives it its own.
    for (int i = 0; i < n; ++i) words[i] |= ~static_cast<std::uint32_t>(sampled[i]) & 0xFF000000u;
#if HOST_HAS_AVX2
    if (HasAvx2()) {
      // The planes of the gathered pixels (at alpha 255 the premultiplied
      // colour is the colour), then the fill's colour and mark.
      PIXEL_RGBA pixels[kChunk];
      std::memcpy(pixels, words, sizeof(std::uint32_t) * static_cast<std::size_t>(n));
      ToPlanesRowVector(pixels, n, premultiply, colour, alpha);
      for (int i = 0; i < n; ++i) {
        if (sampled[i] != 0) continue;
        colour[i] = marks[c0 + i];
        alpha[i] = kFillMark;
      }
      FinishChunk(colour, alpha, n, fill, premultiply, out + c0);
      continue;
    }
#endif
    for (int i = 0; i < n; ++i) UnpackWord(words[i], c, i);
    yc48::RgbRowToYc48(c.r, c.g, c.b, n, colour);
    if (premultiply && !Opaque(c.a, n)) PremultiplyLoop(colour, c.a, n);
    MarksLoop(marks + c0, n, sampled, c.a, colour, alpha);
    FinishChunk(colour, alpha, n, fill, premultiply, out + c0);
  }
}

}  // namespace editor2
