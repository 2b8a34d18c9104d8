// Central projection (an ordinary lens or a photo): the distance from the
// image centre grows with tan(theta); in_fov spans the frame's width, and
// the vertical scale takes (H / W) in_fov as an angle. It sees the front
// hemisphere only.
#pragma once

#include "lens/lens_model.h"

namespace lens {

struct Central {
  static constexpr ThetaFunction kThetaFunction = ThetaFunction::Tan;

  static LensLane Place(const LensModel& m, float theta, double cos_psi, double sin_psi, double tan_theta) {
    const double W = static_cast<double>(m.w);
    const double H = static_cast<double>(m.h);
    const bool inside = theta <= m.pi * 0.5f && m.mask_limit > theta;
    const double ux = cos_psi * tan_theta / m.central_kx;
    const double uy = sin_psi * tan_theta / m.central_ky;
    const double x = (ux + 0.5) * W;
    const double y = (uy + 0.5) * H;
    const double margin_x = (vmath::Abs(ux) + 0.5) * W * vmath::kMargin;
    const double margin_y = (vmath::Abs(uy) + 0.5) * H * vmath::kMargin;
    const bool decided = vmath::RoundsSafely(x, margin_x) & vmath::RoundsSafely(y, margin_y);
    return LensLane{static_cast<float>(x) - m.shift_x, static_cast<float>(y) + m.shift_y, inside ? 1 : 0,
                    decided ? 1 : 0};
  }

  static bool TurnsAwayFrom(const LensModel& m, float theta) {
    return (theta >= m.mask_limit) | (theta > m.pi * 0.5f);
  }
};

}  // namespace lens
