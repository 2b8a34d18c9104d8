#include "yuv.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "colour.h"
#include "vector_clones.h"

namespace reproject {
namespace {

// The luma weights of each matrix: Y' = kr R' + (1 - kr - kb) G' + kb B'.
struct LumaWeights {
  double kr;
  double kb;
};

LumaWeights WeightsOf(YuvMatrix matrix) {
  switch (matrix) {
    case YuvMatrix::kBt601: return {0.299, 0.114};
    case YuvMatrix::kBt2020: return {0.2627, 0.0593};
    case YuvMatrix::kSmpte240: return {0.212, 0.087};
    case YuvMatrix::kBt709: break;
  }
  return {0.2126, 0.0722};
}

// Codes of black and of zero chroma, and the number of codes from black to
// white (from the most negative to the most positive chroma).
struct Codes {
  int y_offset;
  int c_offset;
  double y_range;
  double c_range;
};

Codes CodesOf(const YuvFormat& f) {
  const int scale = 1 << (f.depth - 8);
  if (f.full_range) {
    const double top = static_cast<double>((1 << f.depth) - 1);
    return {0, 1 << (f.depth - 1), top, top};
  }
  return {16 * scale, 128 * scale, 219.0 * scale, 224.0 * scale};
}

std::int64_t Fixed(double value, int shift) { return std::llround(std::ldexp(value, shift)); }

// ------------------------------------------------------------ decoding

// Chroma arrives 16 times its value (the interpolation weights sum to 16), so
// luma is taken 16 times too and the coefficients carry a factor 1/16.
struct Decoder {
  std::int64_t gy, r_cr, g_cb, g_cr, b_cb;
  int y16_offset;
  int c16_offset;
  int shift;
  int rgb_max;
};

Decoder MakeDecoder(const YuvFormat& f) {
  const LumaWeights w = WeightsOf(f.matrix);
  const double kg = 1.0 - w.kr - w.kb;
  const Codes codes = CodesOf(f);
  Decoder d;
  d.rgb_max = f.depth > 8 ? 65535 : 255;
  d.shift = f.depth > 8 ? 30 : 20;
  const double per_y = d.rgb_max / codes.y_range / 16.0;
  const double per_c = d.rgb_max / codes.c_range / 16.0;
  d.gy = Fixed(per_y, d.shift);
  d.r_cr = Fixed(per_c * 2.0 * (1.0 - w.kr), d.shift);
  d.g_cb = Fixed(per_c * 2.0 * w.kb * (1.0 - w.kb) / kg, d.shift);
  d.g_cr = Fixed(per_c * 2.0 * w.kr * (1.0 - w.kr) / kg, d.shift);
  d.b_cb = Fixed(per_c * 2.0 * (1.0 - w.kb), d.shift);
  d.y16_offset = 16 * codes.y_offset;
  d.c16_offset = 16 * codes.c_offset;
  return d;
}

template <typename Int>
HOST_INLINE std::int32_t ClampRgb(Int v, int shift, int rgb_max) {
  const Int x = (v + (static_cast<Int>(1) << (shift - 1))) >> shift;
  return static_cast<std::int32_t>(x < 0 ? 0 : (x > rgb_max ? rgb_max : x));
}

// One row of the matrix: luma samples and chroma (16 times) to R, G, B. The
// 8-bit form stays in 32 bits: |coefficient x value| < 2^29 for every input.
HOST_INLINE void MatrixRow8(const Decoder& d, const std::uint8_t* __restrict y, const std::int32_t* __restrict cb,
                const std::int32_t* __restrict cr, int n, std::int32_t* __restrict r, std::int32_t* __restrict g,
                std::int32_t* __restrict b) {
  const int shift = d.shift;
  const std::int32_t y16_offset = d.y16_offset, c16_offset = d.c16_offset;
  const std::int32_t gy = static_cast<std::int32_t>(d.gy), r_cr = static_cast<std::int32_t>(d.r_cr);
  const std::int32_t g_cb = static_cast<std::int32_t>(d.g_cb), g_cr = static_cast<std::int32_t>(d.g_cr);
  const std::int32_t b_cb = static_cast<std::int32_t>(d.b_cb);
  for (int x = 0; x < n; ++x) {
    const std::int32_t yv = gy * (16 * y[x] - y16_offset);
    const std::int32_t u = cb[x] - c16_offset;
    const std::int32_t v = cr[x] - c16_offset;
    r[x] = ClampRgb(yv + r_cr * v, shift, 255);
    g[x] = ClampRgb(yv - g_cb * u - g_cr * v, shift, 255);
    b[x] = ClampRgb(yv + b_cb * u, shift, 255);
  }
}

HOST_INLINE void MatrixRow16(const Decoder& d, const std::uint16_t* __restrict y, const std::int32_t* __restrict cb,
                 const std::int32_t* __restrict cr, int n, std::int32_t* __restrict r, std::int32_t* __restrict g,
                 std::int32_t* __restrict b) {
  const int shift = d.shift;
  const std::int64_t gy = d.gy, r_cr = d.r_cr, g_cb = d.g_cb, g_cr = d.g_cr, b_cb = d.b_cb;
  const std::int64_t y16_offset = d.y16_offset, c16_offset = d.c16_offset;
  for (int x = 0; x < n; ++x) {
    const std::int64_t yv = gy * (16 * static_cast<std::int64_t>(y[x]) - y16_offset);
    const std::int64_t u = cb[x] - c16_offset;
    const std::int64_t v = cr[x] - c16_offset;
    r[x] = ClampRgb(yv + r_cr * v, shift, 65535);
    g[x] = ClampRgb(yv - g_cb * u - g_cr * v, shift, 65535);
    b[x] = ClampRgb(yv + b_cb * u, shift, 65535);
  }
}

// Chroma row at luma row `row`, 4 times its value: the nearest chroma row
// weighted 3 and the next nearest 1 for chroma between rows; 4, or 2 and 2,
// for chroma on even rows.
template <typename Sample>
HOST_INLINE void ChromaAtRow(const YuvFormat& f, const void* plane, std::ptrdiff_t stride, int row, int ch,
                 int cw, std::int32_t* out) {
  auto line = [&](int k) {
    return reinterpret_cast<const Sample*>(static_cast<const std::uint8_t*>(plane) + k * stride);
  };
  int k0 = row, k1 = row, w0 = 4, w1 = 0;
  if (f.chroma_shift_y != 0) {
    k0 = row >> 1;
    if (!f.chroma_cosited_y) {
      k1 = (row & 1) != 0 ? std::min(k0 + 1, ch - 1) : std::max(k0 - 1, 0);
      w0 = 3;
      w1 = 1;
    } else if ((row & 1) != 0) {
      k1 = std::min(k0 + 1, ch - 1);
      w0 = 2;
      w1 = 2;
    } else {
      k1 = k0;
    }
  }
  const Sample* __restrict a = line(k0);
  const Sample* __restrict b = line(k1);
  for (int j = 0; j < cw; ++j) out[j] = w0 * a[j] + w1 * b[j];
}

// A chroma row (4 times its value, cw samples) to w luma columns, 16 times
// its value: the nearest sample weighted 3 and the next 1 between columns;
// 4, or 2 and 2, for co-sited chroma.
HOST_INLINE void ChromaAcross(const YuvFormat& f, const std::int32_t* __restrict c, int cw, int w,
                  std::int32_t* __restrict out) {
  if (f.chroma_shift_x == 0) {
    for (int x = 0; x < w; ++x) out[x] = 4 * c[x];
    return;
  }
  // Pairs of columns 2j, 2j + 1 around chroma sample j; the neighbours
  // beyond the first and last samples are the samples themselves.
  const int pairs = w / 2;
  auto at = [&](int j) { return c[j < 0 ? 0 : (j >= cw ? cw - 1 : j)]; };
  if (f.chroma_cosited_x) {
    const int inner = std::min(pairs, cw - 1);
    for (int j = 0; j < inner; ++j) {
      out[2 * j] = 4 * c[j];
      out[2 * j + 1] = 2 * c[j] + 2 * c[j + 1];
    }
    for (int j = inner; j < pairs; ++j) {
      out[2 * j] = 4 * c[j];
      out[2 * j + 1] = 2 * c[j] + 2 * at(j + 1);
    }
    if (w & 1) out[w - 1] = 4 * c[cw - 1];
  } else {
    const int inner = std::min(pairs, cw - 1);
    for (int j = 0; j < std::min(1, pairs); ++j) {
      out[2 * j] = 3 * c[j] + at(j - 1);
      out[2 * j + 1] = 3 * c[j] + at(j + 1);
    }
    for (int j = 1; j < inner; ++j) {
      out[2 * j] = 3 * c[j] + c[j - 1];
      out[2 * j + 1] = 3 * c[j] + c[j + 1];
    }
    for (int j = std::max(1, inner); j < pairs; ++j) {
      out[2 * j] = 3 * c[j] + at(j - 1);
      out[2 * j + 1] = 3 * c[j] + at(j + 1);
    }
    if (w & 1) out[w - 1] = 3 * c[cw - 1] + at(cw - 2);
  }
}

template <typename Sample>
HOST_INLINE void DecodeRows(const YuvFormat& f, const YuvPlanes& p, int w, int h, int row_begin, int row_end,
                PIXEL_YC* out, int out_stride) {
  const Decoder d = MakeDecoder(f);
  const int cw = (w + (1 << f.chroma_shift_x) - 1) >> f.chroma_shift_x;
  const int ch = (h + (1 << f.chroma_shift_y) - 1) >> f.chroma_shift_y;
  // R, G and B a piece of a row at a time, so that they stay in the
  // processor's nearest cache.
  constexpr int kPiece = 512;
  std::vector<std::int32_t> work(static_cast<std::size_t>(2 * cw + 2 * w + 3 * kPiece));
  std::int32_t* cb_row = work.data();
  std::int32_t* cr_row = cb_row + cw;
  std::int32_t* cb = cr_row + cw;
  std::int32_t* cr = cb + w;
  std::int32_t* r = cr + w;
  std::int32_t* g = r + kPiece;
  std::int32_t* b = g + kPiece;
  for (int row = row_begin; row < row_end; ++row) {
    ChromaAtRow<Sample>(f, p.data[1], p.stride[1], row, ch, cw, cb_row);
    ChromaAtRow<Sample>(f, p.data[2], p.stride[2], row, ch, cw, cr_row);
    ChromaAcross(f, cb_row, cw, w, cb);
    ChromaAcross(f, cr_row, cw, w, cr);
    const Sample* y =
        reinterpret_cast<const Sample*>(static_cast<const std::uint8_t*>(p.data[0]) + row * p.stride[0]);
    PIXEL_YC* o = out + static_cast<std::ptrdiff_t>(row) * out_stride;
    for (int x = 0; x < w; x += kPiece) {
      const int n = std::min(kPiece, w - x);
      if constexpr (sizeof(Sample) == 1) {
        MatrixRow8(d, y + x, cb + x, cr + x, n, r, g, b);
        for (int i = 0; i < n; ++i) o[x + i] = yc48::RgbToYc48(r[i], g[i], b[i]);
      } else {
        MatrixRow16(d, y + x, cb + x, cr + x, n, r, g, b);
        yc48::Rgb16RowToYc48(r, g, b, n, o + x);
      }
    }
  }
}

// ------------------------------------------------------------ encoding

struct Encoder {
  std::int64_t yr, yg, yb;  // luma from R, G, B
  std::int64_t ur, ug, ub;  // Cb (without its offset)
  std::int64_t vr, vg, vb;  // Cr
  int y_offset;
  int c_offset;
  int shift;
  int code_max;
};

Encoder MakeEncoder(const YuvFormat& f) {
  const LumaWeights w = WeightsOf(f.matrix);
  const double kg = 1.0 - w.kr - w.kb;
  const Codes codes = CodesOf(f);
  const double rgb_max = f.depth > 8 ? 65535.0 : 255.0;
  Encoder e;
  e.shift = f.depth > 8 ? 24 : 16;
  const double per_y = codes.y_range / rgb_max;
  const double per_u = codes.c_range / rgb_max / (2.0 * (1.0 - w.kb));
  const double per_v = codes.c_range / rgb_max / (2.0 * (1.0 - w.kr));
  e.yr = Fixed(per_y * w.kr, e.shift);
  e.yg = Fixed(per_y * kg, e.shift);
  e.yb = Fixed(per_y * w.kb, e.shift);
  e.ur = Fixed(-per_u * w.kr, e.shift);
  e.ug = Fixed(-per_u * kg, e.shift);
  e.ub = Fixed(per_u * (1.0 - w.kb), e.shift);
  e.vr = Fixed(per_v * (1.0 - w.kr), e.shift);
  e.vg = Fixed(-per_v * kg, e.shift);
  e.vb = Fixed(-per_v * w.kb, e.shift);
  e.y_offset = codes.y_offset;
  e.c_offset = codes.c_offset;
  e.code_max = (1 << f.depth) - 1;
  return e;
}

template <typename Int>
HOST_INLINE Int ClampCode(Int v, int code_max) {
  return v < 0 ? 0 : (v > code_max ? code_max : v);
}

// Luma of one row.
template <typename Int, typename Sample>
HOST_INLINE void Luma(const Encoder& e, const std::int32_t* __restrict r, const std::int32_t* __restrict g,
                           const std::int32_t* __restrict b, int n, Sample* __restrict y) {
  const int shift = e.shift, code_max = e.code_max;
  const Int y_bias = (static_cast<Int>(e.y_offset) << shift) + (static_cast<Int>(1) << (shift - 1));
  const Int yr = static_cast<Int>(e.yr), yg = static_cast<Int>(e.yg), yb = static_cast<Int>(e.yb);
  for (int x = 0; x < n; ++x)
    y[x] = static_cast<Sample>(ClampCode<Int>((yr * r[x] + yg * g[x] + yb * b[x] + y_bias) >> shift, code_max));
}

// Weighted sums of one row of a channel around each chroma column: 4 in all
// when subsampled ([1 2 1] around a co-sited sample, [2 2] for one between
// two columns), else the value itself. Chroma is linear in R, G and B, so
// the matrix applied to these sums equals the sum of each pixel's chroma,
// to the last bit, for a quarter of the work.
HOST_INLINE void SumAcross(const YuvFormat& f, const std::int32_t* __restrict c, int w, int cw,
                                std::int32_t* __restrict out) {
  if (f.chroma_shift_x == 0) {
    for (int x = 0; x < w; ++x) out[x] = c[x];
    return;
  }
  const int last_whole = w >= 2 ? (w - 2) / 2 : -1;  // the last j whose column 2j + 1 is inside
  if (f.chroma_cosited_x) {
    out[0] = 3 * c[0] + c[std::min(1, w - 1)];
    for (int j = 1; j <= last_whole; ++j) out[j] = c[2 * j - 1] + 2 * c[2 * j] + c[2 * j + 1];
    for (int j = std::max(1, last_whole + 1); j < cw; ++j) out[j] = c[2 * j - 1] + 3 * c[2 * j];
  } else {
    for (int j = 0; j <= last_whole; ++j) out[j] = 2 * c[2 * j] + 2 * c[2 * j + 1];
    for (int j = std::max(0, last_whole + 1); j < cw; ++j) out[j] = 4 * c[2 * j];
  }
}

template <typename Sample, typename Int>
HOST_INLINE void EncodeRows(const PIXEL_YC* in, int in_stride, int w, int h, int row_begin, int row_end,
                                 const YuvFormat& f, const MutableYuvPlanes& p) {
  const Encoder e = MakeEncoder(f);
  const int cw = (w + (1 << f.chroma_shift_x) - 1) >> f.chroma_shift_x;
  const int rows_per_chroma = 1 << f.chroma_shift_y;
  std::vector<std::int32_t> work(static_cast<std::size_t>(3 * w + 6 * cw));
  std::int32_t* rgb[3] = {work.data(), work.data() + w, work.data() + 2 * w};
  std::int32_t* sums[2][3];
  for (int k = 0; k < 2; ++k)
    for (int c = 0; c < 3; ++c) sums[k][c] = work.data() + 3 * w + (3 * k + c) * cw;
  // Weights: across (4 or 1) times down (2 when two rows are averaged or one
  // co-sited row is doubled, else 1).
  const int weight_bits = (f.chroma_shift_x != 0 ? 2 : 0) + f.chroma_shift_y;
  const int out_shift = e.shift + weight_bits;
  const Int bias = ((static_cast<Int>(e.c_offset) << e.shift) << weight_bits) + (static_cast<Int>(1) << (out_shift - 1));
  const Int ur = static_cast<Int>(e.ur), ug = static_cast<Int>(e.ug), ub = static_cast<Int>(e.ub);
  const Int vr = static_cast<Int>(e.vr), vg = static_cast<Int>(e.vg), vb = static_cast<Int>(e.vb);
  auto plane_row = [&](int plane, int row) {
    return reinterpret_cast<Sample*>(static_cast<std::uint8_t*>(p.data[plane]) + row * p.stride[plane]);
  };
  for (int top = row_begin; top < row_end; top += rows_per_chroma) {
    const int lines = std::min(rows_per_chroma, h - top);
    for (int k = 0; k < lines; ++k) {
      const PIXEL_YC* s = in + static_cast<std::ptrdiff_t>(top + k) * in_stride;
      if constexpr (sizeof(Sample) == 1) {
        yc48::Yc48RowToRgb(s, w, rgb[0], rgb[1], rgb[2]);
      } else {
        yc48::Yc48RowToRgb16(s, w, rgb[0], rgb[1], rgb[2]);
      }
      Luma<Int, Sample>(e, rgb[0], rgb[1], rgb[2], w, plane_row(0, top + k));
      for (int c = 0; c < 3; ++c) SumAcross(f, rgb[c], w, cw, sums[k][c]);
    }
    // The second row: the one below for chroma between rows (the last row
    // again at the bottom of an odd height), the same row for co-sited chroma.
    if (f.chroma_shift_y != 0) {
      const int second = f.chroma_cosited_y || lines < 2 ? 0 : 1;
      for (int c = 0; c < 3; ++c)
        for (int j = 0; j < cw; ++j) sums[0][c][j] += sums[second][c][j];
    }
    const std::int32_t* __restrict sr = sums[0][0];
    const std::int32_t* __restrict sg = sums[0][1];
    const std::int32_t* __restrict sb = sums[0][2];
    Sample* __restrict out_u = plane_row(1, top >> f.chroma_shift_y);
    Sample* __restrict out_v = plane_row(2, top >> f.chroma_shift_y);
    for (int j = 0; j < cw; ++j) {
      const Int cu = ur * sr[j] + ug * sg[j] + ub * sb[j];
      const Int cv = vr * sr[j] + vg * sg[j] + vb * sb[j];
      out_u[j] = static_cast<Sample>(ClampCode<Int>((cu + bias) >> out_shift, e.code_max));
      out_v[j] = static_cast<Sample>(ClampCode<Int>((cv + bias) >> out_shift, e.code_max));
    }
  }
}

// The four whole loops, each compiled for several instruction sets with
// everything above inlined into it.
HOST_VECTOR_CLONES
void DecodeRows8(const YuvFormat& f, const YuvPlanes& p, int w, int h, int row_begin, int row_end, PIXEL_YC* out,
                 int out_stride) {
  DecodeRows<std::uint8_t>(f, p, w, h, row_begin, row_end, out, out_stride);
}

HOST_VECTOR_CLONES
void DecodeRows16(const YuvFormat& f, const YuvPlanes& p, int w, int h, int row_begin, int row_end,
                  PIXEL_YC* out, int out_stride) {
  DecodeRows<std::uint16_t>(f, p, w, h, row_begin, row_end, out, out_stride);
}

HOST_VECTOR_CLONES
void EncodeRows8(const PIXEL_YC* in, int in_stride, int w, int h, int row_begin, int row_end, const YuvFormat& f,
                 const MutableYuvPlanes& p) {
  EncodeRows<std::uint8_t, std::int32_t>(in, in_stride, w, h, row_begin, row_end, f, p);
}

HOST_VECTOR_CLONES
void EncodeRows16(const PIXEL_YC* in, int in_stride, int w, int h, int row_begin, int row_end,
                  const YuvFormat& f, const MutableYuvPlanes& p) {
  EncodeRows<std::uint16_t, std::int64_t>(in, in_stride, w, h, row_begin, row_end, f, p);
}

}  // namespace

void YuvToYc48(const YuvFormat& format, const YuvPlanes& planes, int w, int h, int row_begin,
               int row_end, PIXEL_YC* out, int out_stride) {
  if (w <= 0 || row_begin >= row_end) return;
  if (format.depth > 8) {
    DecodeRows16(format, planes, w, h, row_begin, row_end, out, out_stride);
  } else {
    DecodeRows8(format, planes, w, h, row_begin, row_end, out, out_stride);
  }
}

void Yc48ToYuv(const PIXEL_YC* in, int in_stride, int w, int h, int row_begin, int row_end,
               const YuvFormat& format, const MutableYuvPlanes& planes) {
  if (w <= 0 || row_begin >= row_end) return;
  if (format.depth > 8) {
    EncodeRows16(in, in_stride, w, h, row_begin, row_end, format, planes);
  } else {
    EncodeRows8(in, in_stride, w, h, row_begin, row_end, format, planes);
  }
}

}  // namespace reproject
