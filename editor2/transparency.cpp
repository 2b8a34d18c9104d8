#include "transparency.h"

#include <cstdint>
#include <cstring>

#include "colour.h"
#include "vector_clones.h"

namespace editor2 {
namespace {

// Pixels per chunk: the channel planes of one chunk stay in the L1 cache.
constexpr int kChunk = 256;

// round(p / 255), halves away from zero (255 is odd: no quotient is a half).
inline int DivideBy255Rounded(int p) { return p >= 0 ? (p + 127) / 255 : -((127 - p) / 255); }

// round(v * 4080 / a) for 0 < a <= 4080, halves away from zero. The
// candidate comes from the product with 1 / a; the integer test below
// accepts it only if it is that rounding (|q - k| < 1/2, or a half rounded
// away from zero), else the exact integer quotient is taken.
inline short UndoPremultiply(int v, int a, double inverse) {
  const int num = v * (255 * kAlphaScale);
  const double q = static_cast<double>(num) * inverse;
  int k = static_cast<int>(q >= 0.0 ? q + 0.5 : q - 0.5);
  const long long e = 2LL * num - 2LL * k * a;  // 2 a (q - k)
  const bool rounded = (e > -a && e < a) || (e == -a && num > 0) || (e == a && num < 0);
  if (!rounded) k = num >= 0 ? (2 * num + a) / (2 * a) : -((a - 2 * num) / (2 * a));
  return static_cast<short>(k < -32768 ? -32768 : k > 32767 ? 32767 : k);
}

// One chunk of RGBA to YC48 through the vectorised row conversion: the
// channels are taken from each pixel's 32 bits (r lowest in memory).
void ChunkToYc48(const PIXEL_RGBA* in, int n, PIXEL_YC* out, std::int32_t* alpha) {
  std::int32_t r[kChunk], g[kChunk], b[kChunk];
  for (int i = 0; i < n; ++i) {
    std::uint32_t v;
    std::memcpy(&v, &in[i], sizeof(v));
    r[i] = static_cast<std::int32_t>(v & 0xFFu);
    g[i] = static_cast<std::int32_t>(v >> 8 & 0xFFu);
    b[i] = static_cast<std::int32_t>(v >> 16 & 0xFFu);
    alpha[i] = static_cast<std::int32_t>(v >> 24);
  }
  yc48::RgbRowToYc48(r, g, b, n, out);
}

// The colour of n pixels times alpha / 255, rounded.
HOST_INLINE void PremultiplyLoop(PIXEL_YC* __restrict out, const std::int32_t* __restrict a, int n) {
  for (int i = 0; i < n; ++i) {
    out[i].y = static_cast<short>(DivideBy255Rounded(out[i].y * a[i]));
    out[i].cb = static_cast<short>(DivideBy255Rounded(out[i].cb * a[i]));
    out[i].cr = static_cast<short>(DivideBy255Rounded(out[i].cr * a[i]));
  }
}

#if HOST_HAS_AVX2_COPY
HOST_AVX2_COPY void PremultiplyAvx2(PIXEL_YC* out, const std::int32_t* a, int n) { PremultiplyLoop(out, a, n); }
#endif

void Premultiply(PIXEL_YC* out, const std::int32_t* a, int n) {
#if HOST_HAS_AVX2_COPY
  if (HasAvx2()) return PremultiplyAvx2(out, a, n);
#endif
  PremultiplyLoop(out, a, n);
}

}  // namespace

bool AllOpaque(const PIXEL_RGBA* rgba, std::size_t count) {
  unsigned all = 255;
  for (std::size_t i = 0; i < count; ++i) all &= rgba[i].a;
  return all == 255;
}

void ToPlanes(const PIXEL_RGBA* in, int w, bool premultiply, PIXEL_YC* colour, PIXEL_YC* alpha) {
  std::int32_t a[kChunk];
  for (int c0 = 0; c0 < w; c0 += kChunk) {
    const int n = w - c0 < kChunk ? w - c0 : kChunk;
    PIXEL_YC* const out = colour + c0;
    ChunkToYc48(in + c0, n, out, a);
    if (premultiply) Premultiply(out, a, n);
    if (alpha != nullptr) {
      for (int i = 0; i < n; ++i) alpha[c0 + i] = PIXEL_YC{static_cast<short>(a[i] * kAlphaScale), 0, 0};
    }
  }
}

void FromPlanes(const PIXEL_YC* colour, const PIXEL_YC* alpha, int w, Fill fill, bool divide,
                PIXEL_RGBA* out) {
  constexpr int kOpaque = 255 * kAlphaScale;
  std::int32_t r[kChunk], g[kChunk], b[kChunk], a[kChunk];
  PIXEL_YC straight[kChunk];
  for (int c0 = 0; c0 < w; c0 += kChunk) {
    const int n = w - c0 < kChunk ? w - c0 : kChunk;
    const PIXEL_YC* yc = colour + c0;
    if (alpha == nullptr) {
      for (int i = 0; i < n; ++i) a[i] = 255;
    } else {
      for (int i = 0; i < n; ++i) {
        const PIXEL_YC m = alpha[c0 + i];
        PIXEL_YC p = yc[i];
        int alpha8;
        if (m.cb != 0 || m.cr != 0) {
          // The fill: no input direction covers this pixel.
          alpha8 = fill == Fill::kTransparent ? 0 : 255;
        } else {
          const int scaled = m.y < 0 ? 0 : m.y > kOpaque ? kOpaque : m.y;
          alpha8 = (scaled + kAlphaScale / 2) / kAlphaScale;
          if (divide && alpha8 != 0) {
            const double inverse = 1.0 / static_cast<double>(scaled);
            p.y = UndoPremultiply(p.y, scaled, inverse);
            p.cb = UndoPremultiply(p.cb, scaled, inverse);
            p.cr = UndoPremultiply(p.cr, scaled, inverse);
          }
        }
        // A transparent pixel is black as well.
        straight[i] = alpha8 == 0 ? PIXEL_YC{0, 0, 0} : p;
        a[i] = alpha8;
      }
      yc = straight;
    }
    yc48::Yc48RowToRgb(yc, n, r, g, b);
    for (int i = 0; i < n; ++i) {
      const std::uint32_t v = static_cast<std::uint32_t>(r[i]) | static_cast<std::uint32_t>(g[i]) << 8 |
                              static_cast<std::uint32_t>(b[i]) << 16 | static_cast<std::uint32_t>(a[i]) << 24;
      std::memcpy(&out[c0 + i], &v, sizeof(v));
    }
  }
}

}  // namespace editor2
