// What every input lens model shares: the input's settings and the
// per-frame constants derived from them, the function of theta a model
// takes, and the position it places a direction at (LensLane).
//
// Each model (lens/<model>.h) is a struct with
//
//   static constexpr ThetaFunction kThetaFunction;   // f(theta) it needs
//   static LensLane Place(const LensModel& m, float theta, double cos_psi,
//                         double sin_psi, double f_theta);
//   static bool TurnsAwayFrom(const LensModel& m, float theta);
//
// Place is the model's formula: in double, left to right as written, x and y
// rounded to float once and the shift applied in float; the image circle
// centred at (W/2, H/2) and scaled by W in both directions, so it is round in
// pixels. It also reports whether the position's float rounding is certain
// when cos psi, sin psi and f(theta) carry the few-ulp error of the vector
// functions (margins scaled with the terms of x and y): the per-pixel path
// passes the C library's values and ignores that verdict. TurnsAwayFrom is
// true when the model sees no direction at theta or beyond (the mask's cone,
// and the model's own reach). lens_models.h registers the models.
#pragma once

#include <cmath>
#include <cstdint>

#include "geometry.h"
#include "math/inverse_trig.h"
#include "math/vector_math.h"

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

// The function of theta a model's radius needs, taken in double on the
// widened float theta.
enum class ThetaFunction { None, Sin, SinOfHalf, Tan };

// Its argument: theta, or theta / 2 as theta * 0.5 in double.
template <ThetaFunction f>
inline double ThetaArgument(float theta) {
  const double t = static_cast<double>(theta);
  return f == ThetaFunction::SinOfHalf ? t * 0.5 : t;
}

// The C library's value, for the per-pixel path.
template <ThetaFunction f>
inline double ThetaFunctionValue(float theta) {
  const double argument = ThetaArgument<f>(theta);
  if constexpr (f == ThetaFunction::Tan) return std::tan(argument);
  if constexpr (f == ThetaFunction::Sin || f == ThetaFunction::SinOfHalf) return std::sin(argument);
  return 0.0;
}

// A model's position for one direction. (32-bit flags: the batched passes
// keep records of bools in memory, and their loops scalar.)
struct LensLane {
  float x, y;
  std::int32_t inside;   // the model sees the direction
  std::int32_t decided;  // the float rounding of x and y is certain (see above)
};

// The common end of Place for the models that put the circle's centre at
// (W/2, H/2): x = tx + W/2, y = ty + H/2 with their margins, then the
// rounding and the shift.
inline LensLane CentredPosition(const LensModel& m, bool inside, double tx, double ty) {
  const double half_w = static_cast<double>(m.w) * 0.5;
  const double half_h = static_cast<double>(m.h) * 0.5;
  const double x = tx + half_w;
  const double y = ty + half_h;
  const double margin_x = (vmath::Abs(tx) + half_w) * vmath::kMargin;
  const double margin_y = (vmath::Abs(ty) + half_h) * vmath::kMargin;
  const bool decided = vmath::RoundsSafely(x, margin_x) & vmath::RoundsSafely(y, margin_y);
  return LensLane{static_cast<float>(x) - m.shift_x, static_cast<float>(y) + m.shift_y, inside ? 1 : 0,
                  decided ? 1 : 0};
}

}  // namespace lens
