// Oskuda: a dome master, an equidistant fisheye view whose circle is as wide
// as the output frame and spans a chosen field of view, turned by pitch,
// azimuth and roll.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aviutl_filter.h"
#include "controls.h"
#include "geometry.h"

namespace oskuda {

// Track bars and check boxes, in table order.
enum Track { kInFov, kInMask, kOutFov, kPitch, kAzimuth, kRoll, kShiftX, kShiftY, kHeight, kTrackCount };
enum Check {
  kUseHeight, kOrthographicInput, kEquisolidInput, kCentralInput, kEquirectangularInput,
  kSquareCutOut, kCircleMask, kGreenBack, kBilinear, kCheckCount
};

// The input boxes; with none ticked the input is an equidistant fisheye.
constexpr lens::InputBoxes kInputBoxes{kOrthographicInput, lens::SourceProjection::Equidistant};

// What the frame entry hands to the remap: 19 fields of 32 bits (the last a
// pointer), in this order. The six rotation values carry Oskuda's offsets
// (roll + 90, azimuth negated, and - 90 first for panorama input).
struct RemapJob {
  lens::ViewRotation rotation;  // cos_roll .. sin_pitch
  std::int32_t out_w;
  std::int32_t out_h;
  std::int32_t green_back;
  std::int32_t circle_mask;
  float bilinear;  // any value other than 0.0 selects bilinear sampling
  std::int32_t source_projection;
  float shift_y;  // source pixels, not divided
  float shift_x;
  float out_fov;  // degrees
  float in_mask;  // degrees
  float in_fov;   // degrees
  float pi;
  FILTER_PROC_INFO* proc_info;
};

static_assert(offsetof(RemapJob, out_w) == 6 * 4, "RemapJob: rotation first");
static_assert(offsetof(RemapJob, circle_mask) == 9 * 4, "RemapJob field order");
static_assert(offsetof(RemapJob, source_projection) == 11 * 4, "RemapJob field order");
static_assert(offsetof(RemapJob, pi) == 17 * 4, "RemapJob field order");
static_assert(offsetof(RemapJob, proc_info) == 18 * 4, "RemapJob field order");

// The output-side values of one pair (i, j) of the remap, shared by its four
// mirrored pixels (k = 0: X0, Y0; k = 1: -X0, Y0; k = 2: X0, -Y0; k = 3: both
// negated). Z is the same for all four.
struct DomeRay {
  float ox;       // j + 0.5: offset of the pixel centre from the frame centre along the row
  float oy;       // i + 0.5: down the column
  float rho;      // distance from the frame centre, output pixels
  float theta_o;  // polar angle from the dome's axis, radians
  float phi_o;    // angle of (ox, oy) from the row direction, radians, 0..pi/2
  float X0;
  float Y0;
  float Z;
};

// The per-frame constants of the dome geometry.
struct DomeScale {
  float half_pi;        // pi * 0.5, float
  double fov_ratio;     // out_fov / 180.0, double
  float half_width;     // out_w * 0.5, float
};

DomeScale PrepareDomeScale(float out_fov, std::int32_t out_w, float pi);
// oy_squared is oy * oy, formed once per row by the remap.
DomeRay PairRay(const DomeScale& scale, float oy, float oy_squared, std::int32_t j);
// The same for one pair on its own: what the remap computes for (i, j).
DomeRay PairRay(std::int32_t i, std::int32_t j, float out_fov, std::int32_t out_w, float pi);

// The circular output mask: a pixel at distance rho is inside only while the
// integer half width, as a float, is strictly greater.
bool InsideCircle(std::int32_t half_w, float rho);

// Degrees as they enter the rotation: roll + 90, azimuth (- 90 for panorama
// input) negated, pitch unchanged; float operations in that order.
lens::ViewRotation DomeRotation(float pitch, float azimuth, float roll,
                                lens::SourceProjection projection);
lens::OutputSize DomeOutputSize(const int* track, const int* check, int w, int h, int max_w,
                                int max_h);
RemapJob MakeRemapJob(const FILTER* fp, FILTER_PROC_INFO* fpip);
// The remap of func_proc: batches of pixels through the array functions,
// bit-identical to the reference.
void RemapDomeMaster(const RemapJob& job);
// The straightforward per-pixel remap that RemapDomeMaster must match.
void RemapDomeMasterReference(const RemapJob& job);

// The last column and row of an odd-sized output, which no pair of columns
// or rows reaches, through the per-pixel pipeline (both remaps call it).
void RemapDomeMasterOddEdges(const RemapJob& job);
// PairRay for the pairs j0 .. j0 + count - 1 of one row pair, with the same
// bits; returns how many pairs were recomputed one by one.
int PairRays(const DomeScale& scale, float oy, float oy_squared, std::int32_t j0, int count,
             DomeRay* rays);
FILTER_DLL* FilterTable();

}  // namespace oskuda
