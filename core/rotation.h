// RotateToSource: turn an output ray by the view rotation and express it as
// angles in the input's frame.
//
// Each filter has its own chain of three plane rotations and its own choice of
// the component that serves as the axis. Every product, sum and difference is
// one float operation in the order written (the build forbids fused
// multiply-add). Zc = Z * cos_pitch and Zs = Z * sin_pitch come precomputed:
// they are shared by several pixels.
#pragma once

#include <cmath>

#include "geometry.h"

namespace lens {

// The turned ray: the component along the input's axis (or the panorama's
// pole) and the two across it.
struct TurnedRay {
  float axis;
  float den;
  float num;
};

template <Filter filter>
inline TurnedRay TurnRay(float X, float Y, float Zc, float Zs, const ViewRotation& r,
                         bool equirectangular) {
  if constexpr (filter == Filter::Varnel) {
    // roll, pitch, azimuth
    const float u = Y * r.cos_roll + X * r.sin_roll;
    const float v = X * r.cos_roll - Y * r.sin_roll;
    const float a = u * r.cos_pitch - Zs;
    const float b = u * r.sin_pitch + Zc;
    const float c = b * r.cos_azimuth - v * r.sin_azimuth;
    const float d = v * r.cos_azimuth + b * r.sin_azimuth;
    return equirectangular ? TurnedRay{-a, -c, -d} : TurnedRay{c, d, -a};
  } else if constexpr (filter == Filter::Oskuda) {
    // roll, pitch (of v rather than u), azimuth
    const float u = Y * r.cos_roll + X * r.sin_roll;
    const float v = X * r.cos_roll - Y * r.sin_roll;
    const float a = v * r.cos_pitch + Zs;
    const float b = Zc - v * r.sin_pitch;
    const float c = b * r.cos_azimuth + u * r.sin_azimuth;
    const float d = u * r.cos_azimuth - b * r.sin_azimuth;
    return equirectangular ? TurnedRay{a, d, -c} : TurnedRay{c, d, a};
  } else {
    // azimuth about the pole, pitch, roll
    const float e = Y * r.cos_azimuth - X * r.sin_azimuth;
    const float g = X * r.cos_azimuth + Y * r.sin_azimuth;
    const float h = Zc - e * r.sin_pitch;
    const float k = e * r.cos_pitch + Zs;
    const float m = h * r.cos_roll + g * r.sin_roll;
    const float n = g * r.cos_roll - h * r.sin_roll;
    return equirectangular ? TurnedRay{m, k, -n} : TurnedRay{-k, n, m};
  }
}

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

template <Filter filter>
inline SourceAngles RotateToSource(float X, float Y, float Zc, float Zs,
                                   const ViewRotation& rotation, bool equirectangular) {
  return AnglesOf(TurnRay<filter>(X, Y, Zc, Zs, rotation, equirectangular));
}

}  // namespace lens
