// MapToSource: the five input lens models. Source angles become a position in
// the source frame, or `outside` when the input does not cover the direction.
//
// Models 0 to 3 evaluate in double, left to right as written, and round x and
// y to float once; the shift is then applied in float. Their image circle is
// centred at (W/2, H/2) and scaled by W in both directions, so it is round in
// pixels. The panorama model has no mask, no angle limit and no shift.
#pragma once

#include <cmath>
#include <cstdint>

#include "geometry.h"

namespace lens {

// The input's settings and the per-frame constants derived from them. The
// constants are computed by the same formulas the per-pixel steps would use.
struct LensModel {
  SourceProjection projection;
  float in_fov;   // degrees
  float in_mask;  // degrees, full cone
  float shift_x;  // source pixels
  float shift_y;
  float pi;
  std::int32_t w;  // source size
  std::int32_t h;
  float mask_limit;        // half the mask cone, radians
  double fov_scale;        // 180 / in_fov
  double equisolid_d;      // sin(pi * 0.25) * 2
  double central_kx;       // tan(in_fov * pi / 360) * 2
  double central_ky;       // tan((H / W) * in_fov * pi / 360) * 2
};

inline LensModel PrepareLens(SourceProjection projection, float in_fov, float in_mask,
                             float shift_x, float shift_y, float pi, std::int32_t w,
                             std::int32_t h) {
  LensModel m;
  m.projection = projection;
  m.in_fov = in_fov;
  m.in_mask = in_mask;
  m.shift_x = shift_x;
  m.shift_y = shift_y;
  m.pi = pi;
  m.w = w;
  m.h = h;
  m.mask_limit = in_mask * pi / 360.0f;
  m.fov_scale = 180.0 / static_cast<double>(in_fov);
  m.equisolid_d = std::sin(static_cast<double>(pi) * 0.25) * 2.0;
  const float a_x = in_fov * pi / 360.0f;
  m.central_kx = std::tan(static_cast<double>(a_x)) * 2.0;
  const float aspect = static_cast<float>(h) / static_cast<float>(w);
  const float a_y = aspect * in_fov * pi / 360.0f;
  m.central_ky = std::tan(static_cast<double>(a_y)) * 2.0;
  return m;
}

// Panorama column and row, in float, or with the azimuth wrapped and scaled
// in double where the view says so.
template <typename View>
inline SourcePoint MapEquirectangular(const LensModel& m, SourceAngles angles) {
  const float pi = m.pi;
  float phi = angles.phi;
  float x;
  if constexpr (View::kPanoramaAzimuthInDouble) {
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

template <typename View>
inline SourcePoint MapToSource(const LensModel& m, SourceAngles angles) {
  const float theta = angles.theta;
  if (m.projection == SourceProjection::Equirectangular) {
    return MapEquirectangular<View>(m, angles);
  }
  SourcePoint p{0.0f, 0.0f, true};
  const float psi = -angles.phi;
  const double cos_psi = std::cos(static_cast<double>(psi));
  const double sin_psi = std::sin(static_cast<double>(psi));
  const double W = static_cast<double>(m.w);
  const double H = static_cast<double>(m.h);
  const double theta_d = static_cast<double>(theta);
  double x;
  double y;
  switch (m.projection) {
    case SourceProjection::Equidistant: {
      if (!(m.mask_limit > theta)) return p;
      const double r = m.fov_scale * theta_d / static_cast<double>(m.pi);
      x = cos_psi * r * W + W * 0.5;
      y = sin_psi * r * W + H * 0.5;
      break;
    }
    case SourceProjection::Orthographic: {
      if (!(theta <= m.pi * 0.5f && m.mask_limit > theta)) return p;
      const double r = std::sin(theta_d) * m.fov_scale;
      x = cos_psi * r * 0.5 * W + W * 0.5;
      y = sin_psi * r * 0.5 * W + H * 0.5;
      break;
    }
    case SourceProjection::Equisolid: {
      if (!(theta <= m.pi && m.mask_limit > theta)) return p;
      const double r = std::sin(theta_d * 0.5) * m.fov_scale;
      x = cos_psi * r / m.equisolid_d * W + W * 0.5;
      y = sin_psi * r / m.equisolid_d * W + H * 0.5;
      break;
    }
    case SourceProjection::Central: {
      if (!(theta <= m.pi * 0.5f && m.mask_limit > theta)) return p;
      const double t = std::tan(theta_d);
      x = (cos_psi * t / m.central_kx + 0.5) * W;
      y = (sin_psi * t / m.central_ky + 0.5) * H;
      break;
    }
    default:
      return p;  // no other code reaches here
  }
  p.x = static_cast<float>(x) - m.shift_x;
  p.y = static_cast<float>(y) + m.shift_y;
  p.outside = false;
  return p;
}

}  // namespace lens
