#include "colour.h"

#include "vector_clones.h"

namespace yc48 {

namespace {

HOST_INLINE void RgbRowToYc48Loop(const std::int32_t* __restrict r, const std::int32_t* __restrict g,
                                  const std::int32_t* __restrict b, int n, PIXEL_YC* __restrict out) {
  for (int i = 0; i < n; ++i) out[i] = RgbToYc48(r[i], g[i], b[i]);
}

// A row through one pixel's conversion to 8- or 16-bit channels.
template <typename Channel, void (*kToRgb)(const PIXEL_YC&, Channel*, Channel*, Channel*)>
HOST_INLINE void Yc48RowToChannels(const PIXEL_YC* __restrict in, int n, std::int32_t* __restrict r,
                                   std::int32_t* __restrict g, std::int32_t* __restrict b) {
  for (int i = 0; i < n; ++i) {
    Channel red, green, blue;
    kToRgb(in[i], &red, &green, &blue);
    r[i] = red;
    g[i] = green;
    b[i] = blue;
  }
}

HOST_INLINE void Yc48RowToRgbLoop(const PIXEL_YC* __restrict in, int n, std::int32_t* __restrict r,
                                  std::int32_t* __restrict g, std::int32_t* __restrict b) {
  Yc48RowToChannels<std::uint8_t, Yc48ToRgb>(in, n, r, g, b);
}

#if HOST_HAS_AVX2_COPY
HOST_AVX2_COPY void RgbRowToYc48Avx2(const std::int32_t* r, const std::int32_t* g, const std::int32_t* b, int n,
                                     PIXEL_YC* out) {
  RgbRowToYc48Loop(r, g, b, n, out);
}
HOST_AVX2_COPY void Yc48RowToRgbAvx2(const PIXEL_YC* in, int n, std::int32_t* r, std::int32_t* g,
                                     std::int32_t* b) {
  Yc48RowToRgbLoop(in, n, r, g, b);
}
#endif

}  // namespace

HOST_VECTOR_CLONES
void RgbRowToYc48(const std::int32_t* __restrict r, const std::int32_t* __restrict g,
                  const std::int32_t* __restrict b, int n, PIXEL_YC* __restrict out) {
#if HOST_HAS_AVX2_COPY
  if (HasAvx2()) return RgbRowToYc48Avx2(r, g, b, n, out);
#endif
  RgbRowToYc48Loop(r, g, b, n, out);
}

HOST_VECTOR_CLONES
void Rgb16RowToYc48(const std::int32_t* __restrict r, const std::int32_t* __restrict g,
                    const std::int32_t* __restrict b, int n, PIXEL_YC* __restrict out) {
  for (int i = 0; i < n; ++i) out[i] = Rgb16ToYc48(r[i], g[i], b[i]);
}

HOST_VECTOR_CLONES
void Yc48RowToRgb(const PIXEL_YC* __restrict in, int n, std::int32_t* __restrict r, std::int32_t* __restrict g,
                  std::int32_t* __restrict b) {
#if HOST_HAS_AVX2_COPY
  if (HasAvx2()) return Yc48RowToRgbAvx2(in, n, r, g, b);
#endif
  Yc48RowToRgbLoop(in, n, r, g, b);
}

HOST_VECTOR_CLONES
void Yc48RowToRgb16(const PIXEL_YC* __restrict in, int n, std::int32_t* __restrict r,
                    std::int32_t* __restrict g, std::int32_t* __restrict b) {
  Yc48RowToChannels<std::uint16_t, Yc48ToRgb16>(in, n, r, g, b);
}

void RgbFrameToYc48(const std::uint8_t* rgb, std::ptrdiff_t rgb_stride, int w, int h,
                    PIXEL_YC* yc, int yc_stride) {
  for (int row = 0; row < h; ++row) {
    const std::uint8_t* s = rgb + row * rgb_stride;
    PIXEL_YC* d = yc + static_cast<std::ptrdiff_t>(row) * yc_stride;
    for (int col = 0; col < w; ++col) d[col] = RgbToYc48(s[3 * col], s[3 * col + 1], s[3 * col + 2]);
  }
}

void Yc48FrameToRgb(const PIXEL_YC* yc, int yc_stride, int w, int h, std::uint8_t* rgb,
                    std::ptrdiff_t rgb_stride) {
  for (int row = 0; row < h; ++row) {
    const PIXEL_YC* s = yc + static_cast<std::ptrdiff_t>(row) * yc_stride;
    std::uint8_t* d = rgb + row * rgb_stride;
    for (int col = 0; col < w; ++col) Yc48ToRgb(s[col], &d[3 * col], &d[3 * col + 1], &d[3 * col + 2]);
  }
}

}  // namespace yc48
