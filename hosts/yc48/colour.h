// RGB <-> YC48 with the editor's own integer formulas, so that a frame read
// from a file reaches a plug-in with the values the editor would give it, and
// the plug-in's result is written back as the editor would show it.
//
// 8-bit RGB uses the editor's formulas as they are. 16-bit RGB (0..65535) uses
// the same formulas carried out without the 8-bit rounding:
//   to YC48:  each term floor((c * X + 257 * k) / (1024 * 257)), where the 8-bit
//             formula has floor((c * x + k) / 1024); for X = 257 * x (an 8-bit
//             value widened) both give the same number.
//   to RGB:   R = round(65535 * Y / 4096 + 257 * 22881 * Cr / 2^18), and the
//             same for G and B with the editor's chroma coefficients, with no
//             truncation of the chroma terms; clamped to 0..65535.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aviutl_filter.h"

namespace yc48 {

// One pixel, 8-bit RGB (0..255) to YC48. `>>` is an arithmetic shift, as in
// the editor.
inline PIXEL_YC RgbToYc48(int r, int g, int b) {
  PIXEL_YC p;
  p.y = static_cast<short>(((4918 * r + 354) >> 10) + ((9655 * g + 585) >> 10) +
                           ((1875 * b + 523) >> 10));
  p.cb = static_cast<short>(((-2775 * r + 240) >> 10) + ((-5449 * g + 515) >> 10) +
                            ((8224 * b + 256) >> 10));
  p.cr = static_cast<short>(((8224 * r + 256) >> 10) + ((-6887 * g + 110) >> 10) +
                            ((-1337 * b + 646) >> 10));
  return p;
}

// floor((c * x + 257 * k) / (1024 * 257)) for 16-bit x. The numerator is made
// non-negative by adding 2048 divisors (the most negative coefficient, -6887,
// times 65535 needs 1716), so that an unsigned division, which vectorises,
// gives the floor; the largest sum stays below 2^31.
inline int Term16(int c, int x, int k) {
  constexpr std::uint32_t kDivisor = 1024u * 257u;
  constexpr std::uint32_t kLift = 2048u;
  const std::uint32_t n = static_cast<std::uint32_t>(c * x + 257 * k) + kLift * kDivisor;
  return static_cast<int>(n / kDivisor) - static_cast<int>(kLift);
}

// One pixel, 16-bit RGB (0..65535) to YC48.
inline PIXEL_YC Rgb16ToYc48(int r, int g, int b) {
  PIXEL_YC p;
  p.y = static_cast<short>(Term16(4918, r, 354) + Term16(9655, g, 585) + Term16(1875, b, 523));
  p.cb = static_cast<short>(Term16(-2775, r, 240) + Term16(-5449, g, 515) + Term16(8224, b, 256));
  p.cr = static_cast<short>(Term16(8224, r, 256) + Term16(-6887, g, 110) + Term16(-1337, b, 646));
  return p;
}

inline std::uint8_t ClampToByte(int v) {
  return static_cast<std::uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// One YC48 pixel to 8-bit RGB, each channel clamped to 0..255. Values outside
// the nominal YC48 ranges are converted as they are (the products fit in 32
// bits for every 16-bit input). `<< 10` is written `* 1024`: the same for
// negative values, without the undefined left shift of a negative number.
inline void Yc48ToRgb(const PIXEL_YC& p, std::uint8_t* r, std::uint8_t* g, std::uint8_t* b) {
  const int y = p.y;
  const int cb = p.cb;
  const int cr = p.cr;
  *r = ClampToByte((255 * y + ((22881 * cr >> 16) + 3) * 1024) >> 12);
  *g = ClampToByte((255 * y + ((-5616 * cb >> 16) + (-11655 * cr >> 16) + 3) * 1024) >> 12);
  *b = ClampToByte((255 * y + ((28919 * cb >> 16) + 3) * 1024) >> 12);
}

inline std::uint16_t ClampTo16(std::int64_t v) {
  return static_cast<std::uint16_t>(v < 0 ? 0 : (v > 65535 ? 65535 : v));
}

// One YC48 pixel to 16-bit RGB: round((65535 * 2^16 * Y + 257 * 1024 * chroma) /
// 2^28), as an arithmetic shift of the 64-bit numerator plus half.
inline void Yc48ToRgb16(const PIXEL_YC& p, std::uint16_t* r, std::uint16_t* g, std::uint16_t* b) {
  const std::int64_t y = static_cast<std::int64_t>(p.y) * (65535LL * 65536LL) + (1LL << 27);
  const std::int64_t cb = p.cb;
  const std::int64_t cr = p.cr;
  constexpr std::int64_t kChroma = 257LL * 1024LL;
  *r = ClampTo16((y + kChroma * (22881 * cr)) >> 28);
  *g = ClampTo16((y + kChroma * (-5616 * cb - 11655 * cr)) >> 28);
  *b = ClampTo16((y + kChroma * (28919 * cb)) >> 28);
}

// Rows of separate R, G and B values (0..255, or 0..65535 for the 16-bit
// forms) to YC48 and back. These are the loops every frame conversion ends
// in; they are compiled for several instruction sets.
void RgbRowToYc48(const std::int32_t* r, const std::int32_t* g, const std::int32_t* b, int n,
                  PIXEL_YC* out);
void Rgb16RowToYc48(const std::int32_t* r, const std::int32_t* g, const std::int32_t* b, int n,
                    PIXEL_YC* out);
void Yc48RowToRgb(const PIXEL_YC* in, int n, std::int32_t* r, std::int32_t* g, std::int32_t* b);
void Yc48RowToRgb16(const PIXEL_YC* in, int n, std::int32_t* r, std::int32_t* g,
                    std::int32_t* b);

// A packed RGB24 picture (rows of `rgb_stride` bytes) to a YC48 frame with
// row stride `yc_stride` pixels, and back.
void RgbFrameToYc48(const std::uint8_t* rgb, std::ptrdiff_t rgb_stride, int w, int h,
                    PIXEL_YC* yc, int yc_stride);
void Yc48FrameToRgb(const PIXEL_YC* yc, int yc_stride, int w, int h, std::uint8_t* rgb,
                    std::ptrdiff_t rgb_stride);

}  // namespace yc48
