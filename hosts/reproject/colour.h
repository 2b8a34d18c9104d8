// 8-bit RGB <-> YC48 with the editor's own integer formulas, so that a frame
// read from a file reaches a plug-in with the values the editor would give it,
// and the plug-in's result is written back as the editor would show it.
#pragma once

#include <cstdint>

#include "aviutl_filter.h"

namespace reproject {

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

// A packed RGB24 picture (rows of `rgb_stride` bytes) to a YC48 frame with
// row stride `yc_stride` pixels, and back.
void RgbFrameToYc48(const std::uint8_t* rgb, int rgb_stride, int w, int h, PIXEL_YC* yc,
                    int yc_stride);
void Yc48FrameToRgb(const PIXEL_YC* yc, int yc_stride, int w, int h, std::uint8_t* rgb,
                    int rgb_stride);

}  // namespace reproject
