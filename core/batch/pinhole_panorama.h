// The source position of a pin-hole view's ray on a panorama, as the exact
// arithmetic gives it and as far as the per-pixel functions' roundings may
// move it: the turn as a linear map of the ray, the model's scales, and the
// bound on the reference's noise (pinhole_spans.h uses them).
#pragma once

#include <cstdint>

#include "geometry.h"
#include "lens/lens_model.h"
#include "math/inverse_trig.h"
#include "rotation_chains.h"
#include "sampling.h"

namespace lens {

// pi in double (within 2^-52 of it).
constexpr double kExactPi = 3.14159265358979323846;

// The reference's rounding, for a perspective chain and a panorama model
// that works in float (with Q the constants' units, 2^-24):
// - The ray: dist^2 = x x + float(y y) carries at most 2 Q relatively, dist
//   after the square root 2 Q, so theta_o = atan(dist / f) moves by at most
//   Q and its float by Q more; phi_o = atan(float(y / x)) by Q / 2 and its
//   float by Q. The unit vector of the float angles lies within 3.5 Q of
//   d(u), and each component's float within Q / 2 more: 4.5 Q; 5 Q with the
//   double arithmetic. Z cos pitch and Z sin pitch round by Q / 2 each.
// - The turn on those floats: each product, sum and difference below 2 in
//   magnitude rounds by at most Q; the first plane rotation's outputs carry
//   3 Q, the pitch's 5.5 Q, the last plane rotation's sqrt(3^2 + 5.5^2) +
//   3 < 9.3 Q. The map this header uses comes from the same turn of the
//   four unit inputs, so each of its entries carries 9.3 Q as well: applied
//   to a ray whose inputs sum to at most 2 in magnitude (Z's two columns
//   combined with cos and sin pitch), 20.1 Q more. With the ray's 5 Q
//   through the map (norm below 1 + 2^-20): 36 Q per component, and
//   kNumDenNoise = sqrt(2) 36 Q for the pair (num, den).
// - The angles: theta = acos(axis) moves by at most kAxisNoise / sin theta
//   (sin theta over the span, less the axis's noise) and its float by 2^-23.
//   phi moves by the pair's noise over its length less that noise (the angle
//   between two vectors), by Q / 2 from the float quotient, by Q 1.5 where
//   pi - atan(-q) uses the float pi, by 2^-22 from its float (|phi| < 3 pi /
//   2), by 2^-22 from the turn by 2 pi and by 2 |pi' - pi| there: at most
//   that length term plus kPhiNoise and 2 |pi' - pi|.
// - The scaling: phi / 2 pi' and theta / pi' (at most 1) round by 2^-25,
//   their products with W and H - 1 by half a unit in the last place: W 2^-23
//   and (H - 1) 2^-23 in all.
constexpr double kAxisNoise = 36.0 * 0x1p-24;
constexpr double kNumDenNoise = 51.0 * 0x1p-24;
constexpr double kPhiNoise = 11.0 * 0x1p-24;
// The double arithmetic of the bounds and of the ends (relative errors far
// below 2^-30 while sin theta >= kSpanSinFloor): each bound is widened by
// this factor, each position by kEndNoise pixels per pixel of W + H.
constexpr double kBoundSlack = 1.0 + 0x1p-20;
constexpr double kEndNoise = 0x1p-30;
constexpr double kSpanSinFloor = 0x1p-10;

// What every row of one frame shares: the turn as a linear map of (X, Y, Z)
// for the panorama's three components, and the model's scales.
struct PinholePanorama {
  bool applies;
  double axis[3], den[3], num[3];  // coefficients of X, Y and Z
  double focal;
  double x_scale;  // W / (2 pi')
  double y_scale;  // (H - 1) / pi'
  double phi_noise;
  double x_noise;  // rounding of the scaling, and the ends' arithmetic
  double y_noise;
};

// The map from the chain's turn of the unit inputs; Z's column combines the
// Z cos pitch and Z sin pitch columns. `applies` only where the bounds hold:
// a positive finite focal distance, a panorama model in float with pi' near
// pi, a frame of at least 2 x 2 pixels.
template <typename View>
inline PinholePanorama PreparePinholePanorama(const ViewRotation& r, const LensModel& m, const SourceFrame& src,
                                              double focal) {
  static_assert(!View::kPixels.panorama_azimuth_in_double, "the noise bound is for the float azimuth");
  PinholePanorama p{};
  const TurnedRay ex = View::Turn(1.0f, 0.0f, 0.0f, 0.0f, r, true);
  const TurnedRay ey = View::Turn(0.0f, 1.0f, 0.0f, 0.0f, r, true);
  const TurnedRay ec = View::Turn(0.0f, 0.0f, 1.0f, 0.0f, r, true);
  const TurnedRay es = View::Turn(0.0f, 0.0f, 0.0f, 1.0f, r, true);
  const double cp = static_cast<double>(r.cos_pitch);
  const double sp = static_cast<double>(r.sin_pitch);
  p.axis[0] = static_cast<double>(ex.axis);
  p.axis[1] = static_cast<double>(ey.axis);
  p.axis[2] = cp * static_cast<double>(ec.axis) + sp * static_cast<double>(es.axis);
  p.den[0] = static_cast<double>(ex.den);
  p.den[1] = static_cast<double>(ey.den);
  p.den[2] = cp * static_cast<double>(ec.den) + sp * static_cast<double>(es.den);
  p.num[0] = static_cast<double>(ex.num);
  p.num[1] = static_cast<double>(ey.num);
  p.num[2] = cp * static_cast<double>(ec.num) + sp * static_cast<double>(es.num);
  const double pi = static_cast<double>(m.pi);
  const double w = static_cast<double>(src.w);
  const double h = static_cast<double>(src.h);
  p.focal = focal;
  p.x_scale = w / (2.0 * pi);
  p.y_scale = (h - 1.0) / pi;
  p.phi_noise = kPhiNoise + 2.0 * vmath::Abs(pi - kExactPi);
  p.x_noise = w * 0x1p-23 + (w + h) * kEndNoise;
  p.y_noise = (h - 1.0) * 0x1p-23 + (w + h) * kEndNoise;
  const bool unit_rows = (vmath::Abs(cp) <= 1.0) & (vmath::Abs(sp) <= 1.0);
  p.applies = m.projection == SourceProjection::Equirectangular && (focal > 0.0) & (focal < 1e30) &
              (pi > 3.0) & (pi < 3.3) & (src.w >= 2) & (src.h >= 2) & unit_rows;
  return p;
}

}  // namespace lens
