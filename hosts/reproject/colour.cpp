#include "colour.h"

namespace reproject {

void RgbFrameToYc48(const std::uint8_t* rgb, int rgb_stride, int w, int h, PIXEL_YC* yc,
                    int yc_stride) {
  for (int row = 0; row < h; ++row) {
    const std::uint8_t* s = rgb + static_cast<std::ptrdiff_t>(row) * rgb_stride;
    PIXEL_YC* d = yc + static_cast<std::ptrdiff_t>(row) * yc_stride;
    for (int col = 0; col < w; ++col) d[col] = RgbToYc48(s[3 * col], s[3 * col + 1], s[3 * col + 2]);
  }
}

void Yc48FrameToRgb(const PIXEL_YC* yc, int yc_stride, int w, int h, std::uint8_t* rgb,
                    int rgb_stride) {
  for (int row = 0; row < h; ++row) {
    const PIXEL_YC* s = yc + static_cast<std::ptrdiff_t>(row) * yc_stride;
    std::uint8_t* d = rgb + static_cast<std::ptrdiff_t>(row) * rgb_stride;
    for (int col = 0; col < w; ++col) Yc48ToRgb(s[col], &d[3 * col], &d[3 * col + 1], &d[3 * col + 2]);
  }
}

}  // namespace reproject
