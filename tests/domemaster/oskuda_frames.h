// Helpers of the Oskuda frame tests: the built plug-in loaded once per test
// program, a host instance with named controls, and source patterns.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "support/frames.h"

namespace oskuda_test {

// Track bars and check boxes of the table, as the user sees them.
enum Track { kInFov, kInMask, kOutFov, kPitch, kAzimuth, kRoll, kShiftX, kShiftY, kHeight };
enum Check {
  kUseHeight, kOrthographic, kEquisolid, kCentral, kEquirectangular, kSquare, kCircleMask,
  kGreenBack, kBilinear
};

inline const host::PluginLibrary& Plugin() {
  static const std::unique_ptr<host::PluginLibrary> library =
      testing_support::LoadBuiltPlugin("Oskuda");
  return *library;
}

// A FILTER instance of the built plug-in, at its defaults.
struct Instance {
  host::FilterInstance instance{Plugin().table()};
  std::vector<int>& track = instance.track;
  std::vector<int>& check = instance.check;
};

inline std::size_t Index(int stride, int c, int r) {
  return static_cast<std::size_t>(r) * static_cast<std::size_t>(stride) + static_cast<std::size_t>(c);
}

// Y = scale x column, Cb = scale x row: under bilinear sampling with pixel
// edges the mix of the four neighbours gives back scale x (position - 0.5),
// truncated, so Y / scale + 0.5 tells the sampled position to 1 / scale.
inline void FillScaledCoordinates(std::vector<PIXEL_YC>& buffer, int max_w, int w, int h, int scale) {
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      buffer[Index(max_w, c, r)] =
          PIXEL_YC{static_cast<short>(scale * c), static_cast<short>(scale * r), 5};
}


}  // namespace oskuda_test
