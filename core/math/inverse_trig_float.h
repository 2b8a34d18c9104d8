// Single-precision estimates of acos and atan with a proven error bound, for
// the nearest sampler's quick passes (batch/quick_passes.h).
//
// The nearest sampler needs only the source pixel, not the exact angles. The
// pass brackets each exactly rounded angle between two floats (Bracket) and
// accepts a lane when both ends of every bracket pick the same source pixel:
// each step from an angle to the pixel (products with positive constants,
// sums, clamps, truncation) never decreases as the angle grows, so the exact
// angle, which lies in the bracket, picks that pixel too.
//
// The estimates are float arithmetic only (sixteen lanes per AVX-512 vector,
// no double division or square root). atan reduces |x| to |z| <= tan(pi/8)
// about 0, pi/4 or pi/2; acos uses pi/2 - asin(x) for |x| <= 1/2 and
// 2 asin(sqrt((1 - |x|) / 2)) beyond; asin(s) = s + s z P(z) and
// atan(z) = z + z w Q(w) with P and Q of degree 4 fitted to relative error
// (below 2^-25 and 2^-28 before the float rounding). Every float input has
// been checked against the C library's double result (tests/fastpath/
// float_estimate_test.cpp, --exhaustive): the estimate lies within
// kFloatEstimateError of it, relative, and the bracket holds the exactly
// rounded float.
#pragma once

#include <cmath>

namespace lens {
namespace vmath {

// Relative bound on |estimate - exact| for every float input; the measured
// maximum is far below it (tests/fastpath/float_estimate_test.cpp).
constexpr float kFloatEstimateError = 0x1p-21f;

inline float AbsF(float x) {
#if defined(__GNUC__)
  return __builtin_fabsf(x);
#else
  return x < 0.0f ? -x : x;
#endif
}

inline float CopySignF(float magnitude, float sign) {
#if defined(__GNUC__)
  return __builtin_copysignf(magnitude, sign);
#else
  return sign < 0.0f ? -AbsF(magnitude) : AbsF(magnitude);
#endif
}

inline float SqrtF(float x) {
#if defined(__GNUC__)
  return __builtin_sqrtf(x);
#else
  return std::sqrt(x);
#endif
}

// pi / 2 and pi / 4 as a float and the float of the remainder.
constexpr float kHalfPiHi = 1.57079637e+00f;
constexpr float kHalfPiLo = -4.37113883e-08f;
constexpr float kQuarterPiHi = 7.85398185e-01f;
constexpr float kQuarterPiLo = -2.18556941e-08f;
constexpr float kPiHi = 3.14159274e+00f;
constexpr float kPiLo = -8.74227766e-08f;

inline float AtanEstimateF(float x) {
  constexpr float kQ0 = -3.33333318e-01f;
  constexpr float kQ1 = 1.99995500e-01f;
  constexpr float kQ2 = -1.42642326e-01f;
  constexpr float kQ3 = 1.07462984e-01f;
  constexpr float kQ4 = -6.45937628e-02f;
  const float ax = AbsF(x);
  // Beyond tan(3 pi / 8): pi/2 + atan(-1 / |x|); beyond tan(pi / 8):
  // pi/4 + atan((|x| - 1) / (|x| + 1)).
  const bool far = ax > 2.41421356f;
  const bool mid = ax > 0.414213562f;
  const float num = far ? -1.0f : (mid ? ax - 1.0f : ax);
  const float den = far ? ax : (mid ? ax + 1.0f : 1.0f);
  const float hi = far ? kHalfPiHi : (mid ? kQuarterPiHi : 0.0f);
  const float lo = far ? kHalfPiLo : (mid ? kQuarterPiLo : 0.0f);
  const float z = num / den;
  const float w = z * z;
  const float q = kQ0 + w * (kQ1 + w * (kQ2 + w * (kQ3 + w * kQ4)));
  const float r = hi + (lo + (z + z * (w * q)));
  return CopySignF(r, x);
}

inline float AcosEstimateF(float x) {
  constexpr float kP0 = 1.66666728e-01f;
  constexpr float kP1 = 7.49880918e-02f;
  constexpr float kP2 = 4.50107001e-02f;
  constexpr float kP3 = 2.64942768e-02f;
  constexpr float kP4 = 3.82064521e-02f;
  const float ax = AbsF(x);
  const bool outer = ax > 0.5f;
  // z = x^2 near zero, (1 - |x|) / 2 beyond 0.5 (exact there); |x| > 1
  // gives a NaN.
  const float z = outer ? (1.0f - ax) * 0.5f : x * x;
  const float s = outer ? SqrtF(z) : ax;
  const float p = kP0 + z * (kP1 + z * (kP2 + z * (kP3 + z * kP4)));
  const float a = s + s * (z * p);  // asin(s)
  const float inner_result = kHalfPiHi - (CopySignF(a, x) - kHalfPiLo);
  const float positive_result = 2.0f * a;
  const float negative_result = kPiHi + (kPiLo - 2.0f * a);
  return outer ? (x > 0.0f ? positive_result : negative_result) : inner_result;
}

// Two floats around an estimate e of a value v known to within
// kFloatEstimateError * |e|: lo <= float(v) <= hi. The bracket is twice as
// wide as the bound, so the rounding of lo and hi themselves cannot cut it
// (both are within 2^-24 |e| of e -/+ 2 bound |e|). NaN gives NaN ends.
struct Bracket {
  float lo;
  float hi;
};

inline Bracket BracketOf(float estimate) {
  const float margin = AbsF(estimate) * (2.0f * kFloatEstimateError);
  return Bracket{estimate - margin, estimate + margin};
}

}  // namespace vmath
}  // namespace lens
