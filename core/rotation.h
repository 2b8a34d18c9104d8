// RotateToSource: turn an output ray by the view's rotation chain (view.h)
// and express it as angles in the input's frame.
#pragma once

#include <cmath>

#include "geometry.h"
#include "view.h"

namespace lens {

// theta = acos(axis) in double, rounded to float; phi is atan2(num, den)
// brought into -pi/2..3pi/2 by the branch on den. A NaN den gives phi 0; an
// axis pushed past +-1 by rounding gives a NaN theta, which ends in the fill.
inline SourceAngles AnglesOf(const TurnedRay& ray) {
  SourceAngles angles;
  angles.theta = static_cast<float>(std::acos(static_cast<double>(ray.axis)));
  const float den = ray.den;
  const float num = ray.num;
  if (den > 0.0f) {
    const float q = num / den;
    angles.phi = static_cast<float>(std::atan(static_cast<double>(q)));
  } else if (den < 0.0f) {
    const float q = num / den;
    angles.phi = static_cast<float>(static_cast<double>(kPi) - std::atan(static_cast<double>(-q)));
  } else if (den == 0.0f && num > 0.0f) {
    angles.phi = static_cast<float>(static_cast<double>(kPi) * 0.5);
  } else if (den == 0.0f && num < 0.0f) {
    angles.phi = static_cast<float>(-static_cast<double>(kPi) * 0.5);
  } else {
    angles.phi = 0.0f;
  }
  return angles;
}

template <typename View>
inline SourceAngles RotateToSource(float X, float Y, float Zc, float Zs,
                                   const ViewRotation& rotation, bool equirectangular) {
  return AnglesOf(View::Turn(X, Y, Zc, Zs, rotation, equirectangular));
}

}  // namespace lens
