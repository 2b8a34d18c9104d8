// Equidistant fisheye (and dome master): the distance from the image centre
// grows in proportion to theta; in_fov spans the frame's width.
//
// Also here: the estimate of the position from the ray without the exact
// angles, which the nearest sampler's quick pass and the screen of whole
// batches use (batch/quick_passes.h, batch/lens_pass.h).
#pragma once

#include "lens/lens_model.h"
#include "math/inverse_trig_float.h"
#include "view.h"

namespace lens {

struct EquidistantEstimate;

struct Equidistant {
  static constexpr ThetaFunction kThetaFunction = ThetaFunction::None;
  // The position from the ray without its exact angles (below).
  using Estimate = EquidistantEstimate;

  static LensLane Place(const LensModel& m, float theta, double cos_psi, double sin_psi, double) {
    const double W = static_cast<double>(m.w);
    const bool inside = m.mask_limit > theta;
    const double r = m.fov_scale * static_cast<double>(theta) / static_cast<double>(m.pi);
    return CentredPosition(m, inside, cos_psi * r * W, sin_psi * r * W);
  }

  static bool TurnsAwayFrom(const LensModel& m, float theta) { return theta >= m.mask_limit; }
};

// Relative bound on the direction (cos psi, sin psi) taken from the ray as
// den / h and -num / h, h = |(den, num)|, against the one from the exact
// phi: the roundings of phi (at most 2^-21.8 for |phi| <= 3 pi / 2), of
// q = num / den (2^-25), of the float pi in the den < 0 branch (2^-23.4) and
// of the float operations of the estimate (2^-22.4).
constexpr float kQuickDirectionError = 0x1p-20f;

// The equidistant position of a ray without its exact angles: the centre of
// a box that holds the model's position before the shift, its half sizes,
// theta's bracket, and whether the bound holds (den != 0, h far from the
// float range's ends, so that the squares neither overflow nor lose their
// precision below the normal range).
struct PositionBox {
  float x, y, margin_x, margin_y;
  vmath::Bracket theta;
  bool defined;

  // Whether the box, shifted as the model shifts, lies wholly outside
  // [-0.5, x_max] x [-0.5, y_max] (x_max = W + 0.5, y_max = H + 0.5: the
  // widest in-range box of any view and sampler, exact in float for
  // SmallSource sizes): a box that misses it on one axis misses it
  // altogether.
  bool OffFrame(float shift_x, float shift_y, float x_max, float y_max) const {
    return ((x + margin_x) - shift_x < -0.5f) | ((x - margin_x) - shift_x > x_max) |
           ((y + margin_y) + shift_y < -0.5f) | ((y - margin_y) + shift_y > y_max);
  }
};

// With R = theta fov_scale W / pi the model places a ray at
// (cos psi R + W / 2, sin psi R + H / 2) before the shift. Each coordinate is
// known to within R (kQuickDirectionError + 2 kFloatEstimateError + 2^-22)
// (the direction, theta from the float estimate with its bracket, the
// product with the scale) plus two roundings of the sum; the box doubles
// that.
struct EquidistantEstimate {
  float radius_scale, half_w, half_h, relative;

  explicit EquidistantEstimate(const LensModel& model)
      : radius_scale(static_cast<float>(model.fov_scale * static_cast<double>(model.w) /
                                        static_cast<double>(model.pi))),
        half_w(static_cast<float>(static_cast<double>(model.w) * 0.5)),
        half_h(static_cast<float>(static_cast<double>(model.h) * 0.5)),
        relative(kQuickDirectionError + 2.0f * vmath::kFloatEstimateError + 0x1p-22f) {}

  // The model's own conditions for the bound: a positive pi and scale.
  static bool Applies(const LensModel& model) { return model.pi > 0.0f && model.fov_scale > 0.0; }

  PositionBox Of(const TurnedRay& ray) const {
    const float den = ray.den;
    const float num = ray.num;
    const float h = vmath::SqrtF(den * den + num * num);
    const float cos_psi = den / h;
    const float sin_psi = -num / h;
    const float theta_estimate = vmath::AcosEstimateF(ray.axis);
    const float radius = theta_estimate * radius_scale;
    PositionBox box;
    box.x = cos_psi * radius + half_w;
    box.y = sin_psi * radius + half_h;
    box.margin_x = 2.0f * (radius * relative + (radius + half_w) * 0x1p-23f);
    box.margin_y = 2.0f * (radius * relative + (radius + half_h) * 0x1p-23f);
    box.theta = vmath::BracketOf(theta_estimate);
    box.defined = ((den > 0.0f) | (den < 0.0f)) & (h >= 0x1p-50f) & (h <= 0x1p50f);
    return box;
  }
};

}  // namespace lens
