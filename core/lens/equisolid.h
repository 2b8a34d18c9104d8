// Equisolid-angle fisheye: the distance from the image centre grows with
// sin(theta / 2), scaled so that in_fov = 180 puts the horizon at the frame's
// half width.
#pragma once

#include "lens/lens_model.h"

namespace lens {

struct Equisolid {
  static constexpr ThetaFunction kThetaFunction = ThetaFunction::SinOfHalf;

  static LensLane Place(const LensModel& m, float theta, double cos_psi, double sin_psi,
                        double sin_half_theta) {
    const double W = static_cast<double>(m.w);
    const bool inside = theta <= m.pi && m.mask_limit > theta;
    const double r = sin_half_theta * m.fov_scale;
    return CentredPosition(m, inside, cos_psi * r / m.equisolid_d * W, sin_psi * r / m.equisolid_d * W);
  }

  static bool TurnsAwayFrom(const LensModel& m, float theta) { return theta >= m.mask_limit; }
};

}  // namespace lens
