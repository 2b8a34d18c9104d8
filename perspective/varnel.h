// Varnel: a perspective view cut out of the input, as a pin-hole camera with
// a chosen horizontal field of view sees it when turned by pitch, azimuth and
// roll.
#pragma once

#include <cstdint>

#include "aviutl_filter.h"
#include "geometry.h"

namespace varnel {

// Track bars and check boxes, in table order.
enum Track { kInFov, kInMask, kOutFov, kPitch, kAzimuth, kRoll, kShiftX, kShiftY, kHeight, kTrackCount };
enum Check {
  kUseHeight, kEquidistantInput, kOrthographicInput, kEquisolidInput, kEquirectangularInput,
  kWidth16x9, kWidth4x3, kWidthSquare, kGreenBack, kBilinear, kCheckCount
};

// What the frame entry hands to the remap, in a fixed order.
struct RemapJob {
  lens::ViewRotation rotation;  // cos_roll .. sin_pitch
  std::int32_t out_w;
  std::int32_t out_h;
  std::int32_t green_back;
  std::int32_t source_projection;
  float bilinear;  // any value other than 0.0 selects bilinear sampling
  float shift_y;
  float shift_x;
  float out_fov;
  float in_mask;
  float in_fov;
  float pi;
  FILTER_PROC_INFO* proc_info;
};

struct OutputSize {
  std::int32_t w;
  std::int32_t h;
};

lens::SourceProjection PerspectiveInput(const int* check);
OutputSize PerspectiveOutputSize(const int* track, const int* check, int w, int h, int max_w,
                                 int max_h);
RemapJob MakeRemapJob(const FILTER* fp, FILTER_PROC_INFO* fpip);
void RemapPerspective(const RemapJob& job);
BOOL func_proc(FILTER* fp, FILTER_PROC_INFO* fpip);
FILTER_DLL* FilterTable();

}  // namespace varnel
