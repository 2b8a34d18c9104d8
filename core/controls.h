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
struct InputBoxChoice {
  int box;  // index in the table's check boxes
  SourceProjection projection;
};

// The projection of the ticked input box of the highest index (a later box
// overrides an earlier one), or `none` when no input box is ticked.
template <std::size_t N>
inline SourceProjection SelectedInput(const int* check, const InputBoxChoice (&boxes)[N], SourceProjection none) {
  SourceProjection chosen = none;
  int highest = -1;
  for (const InputBoxChoice& b : boxes) {
    if (check[b.box] != 0 && b.box > highest) {
      chosen = b.projection;
      highest = b.box;
    }
  }
  return chosen;
}

// Output sizes are made even by going down, then limited to the capacity.
inline std::int32_t EvenDown(std::int32_t size) { return (size % 2 != 0) ? size - 1 : size; }

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

}  // namespace lens
