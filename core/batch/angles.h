// The angles of a turned ray from inline estimates, as AnglesOf computes
// them (rotation.h), for the passes that run a lane from its ray: theta =
// acos(axis), phi = atan(num / den) or pi - atan(-num / den) for den < 0.
//
// The estimates (math/inverse_trig.h) lie within 2^-46 of the C library's
// values, relatively; phi = pi - t adds one rounding and |t| <= |phi| there
// (|t| <= pi / 2 <= |phi|), so both angles lie inside the relative margin
// that RoundsSafelyRelative asks for, and a lane it accepts rounds to
// AnglesOf's floats. den = 0 and NaN take AnglesOf's other branches: not
// accepted either. A lane not accepted is redone by AnglesOf.
#pragma once

#include <cstdint>

#include "geometry.h"
#include "math/inverse_trig.h"
#include "math/inverse_trig_float.h"
#include "math/vector_math.h"
#include "view.h"

namespace lens {

// (32-bit flags: a record with a bool stays in memory, and the loop over
// lanes scalar.)
struct EstimatedAngles {
  double theta;
  double phi;
  std::int32_t accepted;
};

// (Branch-free, so that a loop over lanes stays vector code.)
inline EstimatedAngles EstimateAngles(TurnedRay ray) {
  const double pi = static_cast<double>(kPi);
  const float den = ray.den;
  const float q = ray.num / den;
  const bool negative = den < 0.0f;
  const double theta = vmath::AcosEstimate(static_cast<double>(ray.axis));
  const double t = vmath::AtanEstimate(static_cast<double>(negative ? -q : q));
  const double phi = negative ? pi - t : t;
  const bool accepted = ((den > 0.0f) | negative) & vmath::RoundsSafelyRelative(theta) &
                        vmath::RoundsSafelyRelative(phi);
  return EstimatedAngles{theta, phi, accepted ? 1 : 0};
}

// The same in single precision (math/inverse_trig_float.h), for the nearest
// sampler's quick passes: within kFloatEstimateError of the exact angles,
// relatively; `defined` is 0 for den = 0 and NaN.
struct QuickAngles {
  float theta;
  float phi;
  std::int32_t defined;
};

inline QuickAngles EstimateAnglesF(TurnedRay ray) {
  const float den = ray.den;
  const float q = ray.num / den;
  const bool negative = den < 0.0f;
  const float theta = vmath::AcosEstimateF(ray.axis);
  const float t = vmath::AtanEstimateF(negative ? -q : q);
  const float phi = negative ? kPi - t : t;
  const std::int32_t defined = ((den > 0.0f) | negative) ? 1 : 0;
  return QuickAngles{theta, phi, defined};
}

// The ray of n output angles: (cos phi sin theta, sin phi sin theta,
// cos theta) in double from estimated sines and cosines, rounded to float.
// A lane stays accepted (ok) only if each coordinate rounds as the exact
// product would (RoundsSafelyRelative); redo(g) writes every other lane g
// (lanes not ok on entry included) the exact way. Returns how many it redid.
template <typename Redo>
inline int RayFromAngles(int n, const double* cos_phi, const double* sin_phi, const double* sin_theta,
                         const double* cos_theta, std::int32_t* ok, float* __restrict X, float* __restrict Y,
                         float* __restrict Z, Redo&& redo) {
  for (int g = 0; g < n; ++g) {
    const double x = cos_phi[g] * sin_theta[g];
    const double y = sin_phi[g] * sin_theta[g];
    const double z = cos_theta[g];
    const bool accept = (ok[g] != 0) & vmath::RoundsSafelyRelative(x) & vmath::RoundsSafelyRelative(y) &
                        vmath::RoundsSafelyRelative(z);
    X[g] = static_cast<float>(x);
    Y[g] = static_cast<float>(y);
    Z[g] = static_cast<float>(z);
    ok[g] = accept ? 1 : 0;
  }
  int redone = 0;
  for (int g = 0; g < n; ++g) {
    if (ok[g] != 0) continue;
    redo(g);
    ++redone;
  }
  return redone;
}

}  // namespace lens
