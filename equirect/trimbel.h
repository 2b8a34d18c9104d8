// Trimbel: turns every frame into an equirectangular (longitude/latitude)
// panorama. With no input box ticked the input is itself a panorama, so the
// filter then turns and rescales panoramas.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aviutl_filter.h"
#include "controls.h"
#include "geometry.h"

namespace trimbel {

// Track bars and check boxes, in table order.
enum Track { kInFov, kInMask, kPitch, kAzimuth, kRoll, kShiftX, kShiftY, kHeight, kTrackCount };
enum Check {
  kUseHeight, kEquidistantInput, kOrthographicInput, kEquisolidInput, kCentralInput,
  kTwoToOne, kGreenBack, kBilinear, kCheckCount
};

// The input boxes; with none ticked the input is itself a panorama.
constexpr lens::InputBoxes kInputBoxes{kEquidistantInput, lens::SourceProjection::Equirectangular};

// What the frame entry hands to the remap, in a fixed order.
struct RemapJob {
  float* cos_lon;  // per-column longitude tables; either may be null
  float* sin_lon;
  lens::ViewRotation rotation;  // cos_roll .. sin_pitch
  std::int32_t out_w;
  std::int32_t out_h;
  std::int32_t green_back;
  std::int32_t bilinear;
  std::int32_t source_projection;
  float shift_y;
  float shift_x;
  float in_mask;
  float in_fov;
  float pi;
  FILTER_PROC_INFO* proc_info;
};

// Where the frame entry gets its per-frame tables from. The editor's entry
// uses malloc and free; tests pass allocators that fail.
struct TableAllocator {
  void* (*allocate)(std::size_t bytes);
  void (*release)(void* table);
};

lens::OutputSize EquirectOutputSize(const int* track, const int* check, int w, int h, int max_w,
                                    int max_h);

// Longitude of output column i: 2 pi i / out_w, each step rounded to float.
// Shared by the tables and by the remap's fallback so both agree bit for bit.
inline float ColumnLongitude(std::int32_t i, std::int32_t out_w, float pi) {
  const float two_pi = pi * 2.0f;
  const float product = static_cast<float>(i) * two_pi;
  return product / static_cast<float>(out_w);
}

void FillLongitudeTables(float* cos_lon, float* sin_lon, std::int32_t out_w, float pi);
// The remap of the frame entry: batches of pixels through the array
// functions, bit-identical to the reference.
void RemapEquirectangular(const RemapJob& job);
// The straightforward per-pixel remap that RemapEquirectangular must match.
void RemapEquirectangularReference(const RemapJob& job);

BOOL FrameEntry(FILTER* fp, FILTER_PROC_INFO* fpip, const TableAllocator& allocator);
BOOL func_proc(FILTER* fp, FILTER_PROC_INFO* fpip);
FILTER_DLL* FilterTable();

}  // namespace trimbel
