// Varnel: a perspective view cut out of the input, as a pin-hole camera with
// a chosen horizontal field of view sees it when turned by pitch, azimuth and
// roll.
#pragma once

#include <cmath>
#include <cstdint>

#include "aviutl_filter.h"
#include "controls.h"
#include "geometry.h"

namespace varnel {

// Track bars and check boxes, in table order.
enum Track { kInFov, kInMask, kOutFov, kPitch, kAzimuth, kRoll, kShiftX, kShiftY, kHeight, kTrackCount };
enum Check {
  kUseHeight, kEquidistantInput, kOrthographicInput, kEquisolidInput, kEquirectangularInput,
  kWidth16x9, kWidth4x3, kWidthSquare, kGreenBack, kBilinear, kCheckCount
};

// The input boxes; with none ticked the input is a central projection.
constexpr lens::InputBoxes kInputBoxes{kEquidistantInput, lens::SourceProjection::Central};

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

// Distance of the image plane from the projection centre, in output pixels:
// a ray to the left or right edge makes out_fov / 2 with the view axis.
inline double PerspectiveFocal(std::int32_t out_w, float out_fov, float pi) {
  const double half_angle = static_cast<double>(out_fov * 0.5f * pi) / 180.0;
  return static_cast<double>(out_w / 2) / std::tan(half_angle);
}

// The unit ray through the pixel centre (xf, yf) from the image centre, for
// the lower right quadrant; the other three mirror its X and Y. It goes
// through the polar angle and azimuth of the offset, which also fixes the
// result for a negative focal distance (out_fov 180).
struct GroupRay {
  float Xm;
  float Ym;
  float Z;
};
inline GroupRay PerspectiveGroupRay(float xf, float yf, float yf_squared, double focal) {
  const float distance = static_cast<float>(std::sqrt(static_cast<double>(xf * xf + yf_squared)));
  const float theta_o = static_cast<float>(std::atan(static_cast<double>(distance) / focal));
  const float phi_o = static_cast<float>(std::atan(static_cast<double>(yf / xf)));
  const double s = std::sin(static_cast<double>(theta_o));
  GroupRay ray;
  ray.Xm = static_cast<float>(std::cos(static_cast<double>(phi_o)) * s);
  ray.Ym = static_cast<float>(std::sin(static_cast<double>(phi_o)) * s);
  ray.Z = static_cast<float>(std::cos(static_cast<double>(theta_o)));
  return ray;
}

lens::OutputSize PerspectiveOutputSize(const int* track, const int* check, int w, int h, int max_w,
                                       int max_h);
RemapJob MakeRemapJob(const FILTER* fp, FILTER_PROC_INFO* fpip);
// The remap of func_proc: batches of pixels through the array functions,
// bit-identical to the reference.
void RemapPerspective(const RemapJob& job);
// The straightforward per-pixel remap that RemapPerspective must match.
void RemapPerspectiveReference(const RemapJob& job);

// The last column and row of an odd-sized output, which no pair of columns
// or rows reaches, through the per-pixel pipeline (both remaps call it).
void RemapPerspectiveOddEdges(const RemapJob& job);
// PerspectiveGroupRay for the groups j0 .. j0 + count - 1 of one row pair,
// with the same bits; returns how many groups were recomputed one by one.
int PerspectiveGroupRays(std::int32_t j0, int count, float yf, float yf_squared, double focal,
                         GroupRay* rays);
FILTER_DLL* FilterTable();

}  // namespace varnel
