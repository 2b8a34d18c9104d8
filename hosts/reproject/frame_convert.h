// Decoded pictures (FFmpeg frames of any pixel format) to YC48, and YC48 to
// the frames an encoder takes.
//
// Planar Y'CbCr of 8 to 16 bits goes through yuv.h in one pass. Pictures
// stored as RGB or grey go straight through the editor's formulas: 8-bit
// samples as they are, deeper ones widened to 16 bits (round(v * 65535 /
// (2^bits - 1))), shallower ones to 8. Other layouts (semi-planar, packed
// Y'CbCr, palettes, bit-packed) are first rearranged by libswscale into one of
// these, which only moves samples.
#pragma once

#include <memory>
#include <string>

#include "aviutl_filter.h"
#include "yuv.h"

struct AVFrame;

namespace reproject {

// True if a frame of this pixel format carries more than 8 bits a sample.
bool PixelFormatIsDeep(int pix_fmt);

// How a decoded frame's Y'CbCr is read: its matrix, range and chroma siting
// from the frame's own properties (BT.601 below 720 lines and BT.709 from
// there on when it says nothing; chroma on the left column and between rows
// for 4:2:0 unless it says otherwise, as MPEG video has it).
YuvFormat DecodedYuvFormat(const AVFrame* frame);

class FrameImporter {
 public:
  FrameImporter();
  ~FrameImporter();
  FrameImporter(const FrameImporter&) = delete;
  FrameImporter& operator=(const FrameImporter&) = delete;

  // Rows [row_begin, row_end) of `frame` into YC48 rows of `yc` (stride
  // `yc_stride` pixels). Rows may be converted in pieces from several threads
  // once Prepare has succeeded for the frame's format.
  bool Prepare(const AVFrame* frame, std::string* error);
  void Convert(const AVFrame* frame, int row_begin, int row_end, PIXEL_YC* yc, int yc_stride) const;
  // Prepare and Convert of the whole frame.
  bool ToYc48(const AVFrame* frame, PIXEL_YC* yc, int yc_stride, std::string* error);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// What the encoder side needs to know to write Y'CbCr.
struct EncodedColour {
  YuvMatrix matrix = YuvMatrix::kBt709;
  bool full_range = false;
};

class FrameExporter {
 public:
  FrameExporter();
  ~FrameExporter();
  FrameExporter(const FrameExporter&) = delete;
  FrameExporter& operator=(const FrameExporter&) = delete;

  // Fills `frame` (allocated, of the encoder's format and size) from a YC48
  // frame with row stride `yc_stride` pixels.
  bool FromYc48(const PIXEL_YC* yc, int yc_stride, const EncodedColour& colour, AVFrame* frame,
                std::string* error);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace reproject
