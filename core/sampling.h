// SampleOrFill and the two samplers: the last step of every output pixel.
//
// The source is read in place through its row stride. A position is admitted
// by bounds that follow the view's pixel convention (view.h):
//   PixelEdge:   bilinear [0, W] x [0, H]; nearest [-0.5, W + 0.5] x
//                [-0.5, H + 0.5], the upper ends open where the view says so.
//   PixelCentre: bilinear [-0.5, W + 0.5] x [-0.5, H + 0.5]; nearest: the
//                position moved by half a pixel and wrapped at a panorama's
//                seam, then [0, W) x [0, H).
// They are compared exactly (the float position widens to double without
// loss, W + 0.5 is exact in double). A NaN position fails every comparison
// and gets the fill colour.
#pragma once

#include <cstddef>
#include <cstdint>

#include "geometry.h"

namespace lens {

struct SourceFrame {
  const PIXEL_YC* pixels;
  std::int32_t w;
  std::int32_t h;
  std::int32_t stride;  // pixels per row (the host's max_w)
};

struct SampleOptions {
  bool bilinear;
  bool green_back;
  bool equirectangular;  // the source wraps at its left and right edges
};

inline const PIXEL_YC& PixelAt(const SourceFrame& src, std::int32_t column, std::int32_t row) {
  return src.pixels[static_cast<std::ptrdiff_t>(row) * src.stride + column];
}

// (Inlined wherever they are used, also into the copies of other
// instruction sets: they never exist on their own.)
#if defined(__GNUC__)
#define LENS_SAMPLER_INLINE __attribute__((always_inline)) inline
#else
#define LENS_SAMPLER_INLINE inline
#endif

// The bilinear mix: weights from the fractions fx and fy, then per channel
// the four float products summed in a fixed order, truncated toward zero
// into the channel (-3.5 -> -3). Written once for one lane (F = float) and
// for vectors of lanes (the vector types of mix_lanes.h, whose arithmetic
// rounds lane by lane as float does).
template <typename F>
struct MixWeights {
  F w00, w10, w01, w11;
};

template <typename F>
LENS_SAMPLER_INLINE MixWeights<F> WeightsOf(F fx, F fy, F one) {
  return MixWeights<F>{(one - fx) * (one - fy), (one - fy) * fx, (one - fx) * fy, fy * fx};
}

template <typename F>
LENS_SAMPLER_INLINE F MixSum(F p00, F p10, F p01, F p11, const MixWeights<F>& w) {
  F s = p00 * w.w00 + p10 * w.w10;
  s = s + p01 * w.w01;
  s = s + p11 * w.w11;
  return s;
}

inline short MixChannel(short p00, short p10, short p01, short p11, const MixWeights<float>& w) {
  const float s = MixSum(static_cast<float>(p00), static_cast<float>(p10), static_cast<float>(p01),
                         static_cast<float>(p11), w);
  return static_cast<short>(static_cast<std::int32_t>(s));
}

// The four pixels and the weights of one bilinear mix.
struct BilinearTaps {
  std::int32_t x0, x1, y0, y1;
  float fx, fy;
};

inline PIXEL_YC Mix(const SourceFrame& src, const BilinearTaps& t) {
  const PIXEL_YC& p00 = PixelAt(src, t.x0, t.y0);
  const PIXEL_YC& p10 = PixelAt(src, t.x1, t.y0);
  const PIXEL_YC& p01 = PixelAt(src, t.x0, t.y1);
  const PIXEL_YC& p11 = PixelAt(src, t.x1, t.y1);
  const MixWeights<float> w = WeightsOf(t.fx, t.fy, 1.0f);
  PIXEL_YC out;
  out.y = MixChannel(p00.y, p10.y, p01.y, p11.y, w);
  out.cb = MixChannel(p00.cb, p10.cb, p01.cb, p11.cb, w);
  out.cr = MixChannel(p00.cr, p10.cr, p01.cr, p11.cr, w);
  return out;
}

struct PixelTap {
  std::int32_t column;
  std::int32_t row;
};

// Nearest pixel. PixelEdge: pixel c spans [c, c+1) and the half-pixel band
// around the frame reads the edge pixel. PixelCentre: the caller has already
// shifted by half a pixel, wrapped and range-tested (see SampleOrFill).
inline PixelTap NearestTap(const SourceFrame& src, float x, float y, bool equirectangular,
                           PixelConvention convention) {
  const float W = static_cast<float>(src.w);
  if (convention == PixelConvention::PixelEdge) {
    if (x >= W) x = equirectangular ? x - W : static_cast<float>(src.w - 1);
    if (x < 0.0f) x = 0.0f;
    if (y > static_cast<float>(src.h - 1)) y = static_cast<float>(src.h - 1);
    if (y < 0.0f) y = 0.0f;
  }
  return PixelTap{static_cast<std::int32_t>(x), static_cast<std::int32_t>(y)};
}

inline PIXEL_YC SampleNearest(const SourceFrame& src, float x, float y, bool equirectangular,
                              PixelConvention convention) {
  const PixelTap t = NearestTap(src, x, y, equirectangular, convention);
  return PixelAt(src, t.column, t.row);
}

// Bilinear mix of four pixels. PixelEdge mixes the four nearest pixel centres
// (at c + 0.5); PixelCentre mixes the pixels around the position and wraps
// the right neighbour of a panorama's last column to column 0.
inline BilinearTaps BilinearTapsAt(const SourceFrame& src, float x, float y, bool equirectangular,
                                   PixelConvention convention) {
  const std::int32_t W = src.w;
  const std::int32_t H = src.h;
  if (convention == PixelConvention::PixelEdge) {
    float xs = x - 0.5f;
    float ys = y - 0.5f;
    if (!(xs > 0.0f)) xs = 0.0f;
    if (!(ys > 0.0f)) ys = 0.0f;
    if (xs > static_cast<float>(W - 1)) xs = static_cast<float>(W - 1);
    if (ys > static_cast<float>(H - 1)) ys = static_cast<float>(H - 1);
    const std::int32_t x0 = static_cast<std::int32_t>(xs);
    const std::int32_t y0 = static_cast<std::int32_t>(ys);
    const std::int32_t x1 = (x0 + 1 < W) ? x0 + 1 : x0;
    const std::int32_t y1 = (y0 + 1 < H) ? y0 + 1 : y0;
    return BilinearTaps{x0, x1, y0, y1, xs - static_cast<float>(x0), ys - static_cast<float>(y0)};
  }
  if (equirectangular) {
    if (x >= static_cast<float>(W)) x = x - static_cast<float>(W);
  } else {
    if (x >= static_cast<float>(W)) x = static_cast<float>(W - 1);
    if (x < 0.0f) x = 0.0f;
  }
  float ys = y;
  if (ys > static_cast<float>(H - 1)) ys = static_cast<float>(H - 1);
  if (!(ys > 0.0f)) ys = 0.0f;
  const std::int32_t x0 = static_cast<std::int32_t>(x);
  const std::int32_t y0 = static_cast<std::int32_t>(ys);
  std::int32_t x1 = x0 + 1;
  if (x1 >= W) x1 = equirectangular ? 0 : x0;
  const std::int32_t y1 = (y0 + 1 < H) ? y0 + 1 : y0;
  return BilinearTaps{x0, x1, y0, y1, x - static_cast<float>(x0), ys - static_cast<float>(y0)};
}

inline PIXEL_YC SampleBilinear(const SourceFrame& src, float x, float y, bool equirectangular,
                               PixelConvention convention) {
  return Mix(src, BilinearTapsAt(src, x, y, equirectangular, convention));
}

// True when a position lies within [lo, hi] (or [lo, hi) when hi_open),
// compared in Bound. (Non-short-circuit & and selects, here and below, let
// loops over many positions become vector code; the results are the same.)
template <typename Bound = double>
inline bool Within(float value, Bound lo, Bound hi, bool hi_open) {
  const Bound v = static_cast<Bound>(value);
  return (v >= lo) & (hi_open ? v < hi : v <= hi);
}

// The view's in-range test. `admitted` carries an output mask (the dome
// master's circle); true where there is none. in_range false means the fill
// colour; otherwise x and y are the position to hand to the sampler (moved
// and wrapped first for the nearest sampler of pixel centres).
struct AdmittedPosition {
  bool in_range;
  float x;
  float y;
};

// The bounds are compared in double. Bound = float compares in float, with
// the same verdicts while W and H are below 2^22 (every bound, W + 0.5
// included, is then a float, and a float compared with a float is exact),
// and half the vector work; the batch passes use it behind that check
// (SmallSource).
template <typename View, typename Bound = double>
inline AdmittedPosition AdmitPosition(const SourceFrame& src, SourcePoint p,
                                      const SampleOptions& options, bool admitted = true) {
  const Bound W = static_cast<Bound>(src.w);
  const Bound H = static_cast<Bound>(src.h);
  const Bound half = static_cast<Bound>(0.5);
  const Bound zero = static_cast<Bound>(0.0);
  // An empty source has nothing to sample (and no pixel 0 to clamp onto).
  const bool candidate = !p.outside & admitted & (src.w > 0) & (src.h > 0);
  float x = p.x;
  float y = p.y;
  bool in_range;
  constexpr bool centres = View::kPixels.convention == PixelConvention::PixelCentre;
  static_assert(!centres || View::kPixels.nearest_upper_open, "pixel centres: the nearest bounds are [0, W)");
  if (options.bilinear) {
    if (centres) {
      in_range = Within(x, -half, W + half, false) & Within(y, -half, H + half, false);
    } else {
      in_range = Within(x, zero, W, false) & Within(y, zero, H, false);
    }
  } else if (centres) {
    // Pixel centres: shift by half a pixel and wrap the seam before the test.
    x = x + 0.5f;
    y = y + 0.5f;
    const float wf = static_cast<float>(src.w);
    x = (options.equirectangular & (x >= wf)) ? x - wf : x;
    in_range = Within(x, zero, W, true) & Within(y, zero, H, true);
  } else {
    in_range = Within(x, -half, W + half, View::kPixels.nearest_upper_open) &
               Within(y, -half, H + half, View::kPixels.nearest_upper_open);
  }
  in_range = candidate & in_range;
  return AdmittedPosition{in_range, x, y};
}

// Writes one output pixel: a sample of the source when the view's in-range
// test admits the position, otherwise the fill colour.
template <typename View>
inline void SampleOrFill(const SourceFrame& src, PIXEL_YC* out, SourcePoint p,
                         const SampleOptions& options, bool admitted = true) {
  constexpr PixelConvention convention = View::kPixels.convention;
  const AdmittedPosition a = AdmitPosition<View>(src, p, options, admitted);
  if (!a.in_range) {
    *out = options.green_back ? GreenBack : kBlack;
  } else if (options.bilinear) {
    *out = SampleBilinear(src, a.x, a.y, options.equirectangular, convention);
  } else {
    *out = SampleNearest(src, a.x, a.y, options.equirectangular, convention);
  }
}

}  // namespace lens
