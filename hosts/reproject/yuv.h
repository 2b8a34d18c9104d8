// Y'CbCr pictures (what video decoders give and encoders take) to YC48 and
// back, in one pass per row and in integers, so that the result is defined to
// the last bit and costs a few cycles a pixel.
//
// Decoding: chroma is brought to full size by linear interpolation between
// its samples (placed as the picture says: on or between luma columns and
// rows), each pixel becomes R'G'B' by the matrix of the picture (BT.601, 709,
// 2020, or SMPTE 240M; limited or full range), rounded to 8 bits for 8-bit
// pictures and to 16 bits for deeper ones, and that RGB becomes YC48 by the
// editor's formulas (colour.h). Encoding runs the other way: YC48 to RGB by
// the editor's formulas, the matrix, and chroma averaged over the luma pixels
// around each chroma sample ([1 2 1] across columns for co-sited chroma, [1 1]
// for chroma between two columns or rows).
//
// The integer coefficients are the exact ones rounded at 2^20 (8 bits) or
// 2^30 (deeper pictures) times their value, computed once per picture format.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aviutl_filter.h"

namespace reproject {

enum class YuvMatrix { kBt601, kBt709, kBt2020, kSmpte240 };

// How a planar Y'CbCr picture is stored and what its numbers mean.
struct YuvFormat {
  int depth = 8;                   // bits per sample, 8 to 16; more than 8 are held in 16-bit words
  int chroma_shift_x = 1;          // log2 of the horizontal chroma subsampling, 0 or 1
  int chroma_shift_y = 1;          // log2 of the vertical chroma subsampling, 0 or 1
  bool full_range = false;         // Y and C use every code (else 16..235 and 16..240 at 8 bits)
  bool chroma_cosited_x = true;    // chroma samples lie on even luma columns (else halfway)
  bool chroma_cosited_y = false;   // chroma samples lie on even luma rows (else halfway)
  YuvMatrix matrix = YuvMatrix::kBt709;
};

// The three planes Y, Cb, Cr; strides in bytes.
struct YuvPlanes {
  const void* data[3];
  std::ptrdiff_t stride[3];
};
struct MutableYuvPlanes {
  void* data[3];
  std::ptrdiff_t stride[3];
};

// Rows [row_begin, row_end) of a w x h picture to YC48 rows of `out` (row
// stride `out_stride` pixels).
void YuvToYc48(const YuvFormat& format, const YuvPlanes& planes, int w, int h, int row_begin,
               int row_end, PIXEL_YC* out, int out_stride);

// A w x h YC48 frame to a picture of `format` (its chroma rows each from the
// luma rows they cover). Rows [row_begin, row_end) of the picture; with
// vertical subsampling row_begin must be even.
void Yc48ToYuv(const PIXEL_YC* in, int in_stride, int w, int h, int row_begin, int row_end,
               const YuvFormat& format, const MutableYuvPlanes& planes);

}  // namespace reproject
