// Orthographic fisheye: the distance from the image centre grows with
// sin(theta); in_fov = 180 puts the horizon at the frame's half width. It
// sees the front hemisphere only.
#pragma once

#include "lens/lens_model.h"

namespace lens {

struct Orthographic {
  static constexpr ThetaFunction kThetaFunction = ThetaFunction::Sin;

  static LensLane Place(const LensModel& m, float theta, double cos_psi, double sin_psi, double sin_theta) {
    const double W = static_cast<double>(m.w);
    const bool inside = theta <= m.pi * 0.5f && m.mask_limit > theta;
    const double r = sin_theta * m.fov_scale;
    return CentredPosition(m, inside, cos_psi * r * 0.5 * W, sin_psi * r * 0.5 * W);
  }

  static bool TurnsAwayFrom(const LensModel& m, float theta) {
    return (theta >= m.mask_limit) | (theta > m.pi * 0.5f);
  }
};

}  // namespace lens
