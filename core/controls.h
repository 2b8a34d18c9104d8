// Turning track-bar values into the numbers the remaps use.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "geometry.h"

namespace lens {

// A track value in tenths of a degree becomes degrees: to float, divided by
// 10 in double, rounded to float (1800 -> 180.0f).
inline float TenthsToDegrees(std::int32_t tenths) {
  return static_cast<float>(static_cast<double>(static_cast<float>(tenths)) / 10.0);
}

// Degrees become radians by a float product with pi, widened, then divided in
// double.
inline double DegreesToRadians(float degrees) {
  return static_cast<double>(degrees * kPi) / 180.0;
}

// The rotation from roll, azimuth and pitch in degrees, exactly as given.
inline ViewRotation MakeViewRotation(float roll_degrees, float azimuth_degrees,
                                     float pitch_degrees) {
  const double roll = DegreesToRadians(roll_degrees);
  const double azimuth = DegreesToRadians(azimuth_degrees);
  const double pitch = DegreesToRadians(pitch_degrees);
  ViewRotation rotation;
  rotation.cos_roll = static_cast<float>(std::cos(roll));
  rotation.sin_roll = static_cast<float>(std::sin(roll));
  rotation.cos_azimuth = static_cast<float>(std::cos(azimuth));
  rotation.sin_azimuth = static_cast<float>(std::sin(azimuth));
  rotation.cos_pitch = static_cast<float>(std::cos(pitch));
  rotation.sin_pitch = static_cast<float>(std::sin(pitch));
  return rotation;
}

// Index of the highest ticked box among check[first..last], or `none` when no
// box in that range is ticked: a later box overrides an earlier one.
inline int HighestTicked(const int* check, int first, int last, int none) {
  int chosen = none;
  for (int i = first; i <= last; ++i) {
    if (check[i] != 0) chosen = i;
  }
  return chosen;
}

// A check box that picks the input projection.
// A filter's input boxes: one check box for each projection but `unboxed`,
// in projection order, from `first_box` on; no box ticked stands for
// `unboxed`.
struct InputBoxes {
  int first_box;
  SourceProjection unboxed;
};

// The projection of the ticked input box of the highest index (a later box
// overrides an earlier one), or the unboxed one when no input box is ticked.
inline SourceProjection SelectedInput(const int* check, InputBoxes boxes) {
  SourceProjection chosen = boxes.unboxed;
  int box = boxes.first_box;
  for (int p = 0; p < kSourceProjectionCount; ++p) {
    if (p == static_cast<int>(boxes.unboxed)) continue;
    if (check[box] != 0) chosen = static_cast<SourceProjection>(p);
    ++box;
  }
  return chosen;
}

struct OutputSize {
  std::int32_t w;
  std::int32_t h;
};

// The view rotation from the roll, azimuth and pitch track bars (tenths of
// a degree) as they are.
template <typename Track>
inline ViewRotation TrackRotation(const int* track) {
  return MakeViewRotation(TenthsToDegrees(track[Track::kRoll]), TenthsToDegrees(track[Track::kAzimuth]),
                          TenthsToDegrees(track[Track::kPitch]));
}

// The fields every remap job fills alike: the output size and the input
// projection the filter worked out, and the values of the track bars and
// check boxes of the same names in each filter's Track and Check enums.
template <typename Track, typename Check, typename Job>
inline void ReadSharedControls(const int* track, const int* check, OutputSize size, SourceProjection input,
                               Job* job) {
  job->out_w = size.w;
  job->out_h = size.h;
  job->source_projection = static_cast<std::int32_t>(input);
  job->green_back = check[Check::kGreenBack] != 0 ? 1 : 0;
  job->bilinear = static_cast<decltype(job->bilinear)>(check[Check::kBilinear] != 0 ? 1 : 0);
  job->shift_y = static_cast<float>(track[Track::kShiftY]);
  job->shift_x = static_cast<float>(track[Track::kShiftX]);
  job->in_mask = TenthsToDegrees(track[Track::kInMask]);
  job->in_fov = TenthsToDegrees(track[Track::kInFov]);
  job->pi = kPi;
}

// Output sizes are made even by going down, then limited to the capacity.
inline std::int32_t EvenDown(std::int32_t size) { return (size % 2 != 0) ? size - 1 : size; }

// The last steps of every output size: each side limited to the capacity,
// then to at least 0, since values the track bars cannot produce must still
// give a valid size. The width comes in 64 bits so that a width worked out
// from a doubled height is limited before it is narrowed.
inline OutputSize LimitToCapacity(std::int64_t w, std::int32_t h, int max_w, int max_h) {
  if (w > max_w) w = max_w;
  if (w < 0) w = 0;
  if (h > max_h) h = max_h;
  if (h < 0) h = 0;
  return OutputSize{static_cast<std::int32_t>(w), h};
}

// Float-to-int truncation that stays defined for NaN, infinities and values
// beyond int range (a zero-height input makes the width quotient infinite):
// such a width becomes 0, and an empty frame is what comes out.
inline std::int32_t TruncateSize(float value) {
  if (!(value >= 0.0f) || !(value < 2147483520.0f)) return 0;
  return static_cast<std::int32_t>(value);
}
inline std::int32_t TruncateSize(double value) {
  if (!(value >= 0.0) || !(value < 2147483648.0)) return 0;
  return static_cast<std::int32_t>(value);
}

// The width that keeps a w x h input's aspect ratio at the height `out_h`,
// in float: the quotient w / h first, then times the height. A zero height
// makes the quotient infinite or NaN, and the width 0.
inline std::int32_t WidthAtHeight(int w, int h, std::int32_t out_h) {
  const float aspect = static_cast<float>(w) / static_cast<float>(h);
  return TruncateSize(aspect * static_cast<float>(out_h));
}

// The same width with the product w * out_h first, then divided by h.
inline std::int32_t WidthAtHeightProductFirst(int w, int h, std::int32_t out_h) {
  const float product = static_cast<float>(w) * static_cast<float>(out_h);
  return TruncateSize(product / static_cast<float>(h));
}

// The first step of the dome and panorama sizes: the input's size, or with
// the height box ticked the height setting and the width at that height
// (WidthAtHeight).
inline OutputSize SizeAtChosenHeight(bool height_ticked, int height_setting, int w, int h) {
  if (!height_ticked) return OutputSize{w, h};
  return OutputSize{WidthAtHeight(w, h, height_setting), height_setting};
}

}  // namespace lens
