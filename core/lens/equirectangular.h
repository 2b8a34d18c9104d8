// Equirectangular panorama: the azimuth runs across the width, theta (from
// the pole) down the height. No mask, no angle limit, no shift.
#pragma once

#include "lens/lens_model.h"

namespace lens {

struct Equirectangular {
  // Panorama column and row, in float, or with the azimuth wrapped and
  // scaled in double where the view says so.
  template <typename View>
  static SourcePoint Place(const LensModel& m, SourceAngles angles) {
    const float pi = m.pi;
    float phi = angles.phi;
    float x;
    if constexpr (View::kPixels.panorama_azimuth_in_double) {
      const double two_pi = 2.0 * static_cast<double>(pi);
      if (phi < 0.0f) phi = static_cast<float>(static_cast<double>(phi) + two_pi);
      if (phi > pi * 2.0f) phi = static_cast<float>(static_cast<double>(phi) - two_pi);
      x = static_cast<float>(static_cast<double>(phi) / two_pi * static_cast<double>(m.w));
    } else {
      const float two_pi = pi * 2.0f;
      if (phi < 0.0f) phi = phi + two_pi;
      if (phi > two_pi) phi = phi - two_pi;
      x = phi / two_pi * static_cast<float>(m.w);
    }
    const float y = angles.theta / pi * static_cast<float>(m.h - 1);
    return SourcePoint{x, y, false};
  }
};

}  // namespace lens
