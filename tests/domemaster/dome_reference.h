// An independent reference of the Oskuda filter, written from the formulas
// (sampling, lens models, rotation, frame entry, remap) for the tests: a plain loop that works out
// every output pixel on its own, from its own column and row, without the
// four-fold symmetry, and without the plug-in's code or the shared core. Its
// frames are what the plug-in must reproduce bit for bit.
#pragma once

#include <cstdint>
#include <vector>

#include "aviutl_filter.h"

namespace dome_reference {

struct Size {
  int w;
  int h;
};

// The output size from the controls and the frame sizes.
Size OutputSize(const std::vector<int>& track, const std::vector<int>& check, int w, int h,
                int max_w, int max_h);

// The view rotation the frame entry hands to the remap (with Oskuda's offsets):
// cos_roll, sin_roll, cos_azimuth, sin_azimuth, cos_pitch, sin_pitch.
struct Rotation {
  float cos_roll, sin_roll, cos_azimuth, sin_azimuth, cos_pitch, sin_pitch;
};
Rotation RotationOf(const std::vector<int>& track, const std::vector<int>& check);

// Where output pixel (c, r) samples the source, before the range test, for the
// given controls and source size: x, y and whether the lens model rejected it.
struct Position {
  float x;
  float y;
  bool outside;
  bool masked;  // outside the circular output mask (only with box 6)
};
Position SourcePosition(const std::vector<int>& track, const std::vector<int>& check, int w,
                        int h, int out_w, int out_h, int c, int r);

// The frame the plug-in must hand back: `scratch` (max_w x max_h, the
// scratch buffer's content before the call) with every pixel that the remap
// writes replaced. `source` has stride max_w and size w x h.
std::vector<PIXEL_YC> Frame(const std::vector<int>& track, const std::vector<int>& check,
                            const std::vector<PIXEL_YC>& source, int w, int h, int max_w,
                            int max_h, const std::vector<PIXEL_YC>& scratch, Size* out_size);

}  // namespace dome_reference
