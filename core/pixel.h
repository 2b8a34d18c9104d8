// One pixel of the editor's working format, YC48: luma nominally 0..4096
// (black..white), Cb and Cr nominally -2048..2048; values outside pass
// through unchanged. Pixel (x, y) of a frame lies at x + y * stride.
#pragma once

struct PIXEL_YC {
  short y;
  short cb;
  short cr;
};

static_assert(sizeof(PIXEL_YC) == 6, "PIXEL_YC is three packed shorts");
