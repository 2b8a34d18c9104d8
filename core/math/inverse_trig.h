// Close estimates of acos and atan in double precision, written without
// branches so that a loop over lanes becomes vector code (two lanes with
// SSE2, four with AVX2) on every platform, the 32-bit Windows build included.
//
// They follow the classic fdlibm reductions: atan reduces |x| to one of five
// intervals and evaluates an odd polynomial of degree 19; acos uses
// x + x R(x^2) near zero and 2 asin(sqrt((1 - |x|) / 2)) beyond 0.5, R a
// polynomial of degree 9. The coefficients are Chebyshev fits, short enough
// for what the callers need (no division in acos, two terms fewer in atan
// than fdlibm's). The relative error measured against the C library on
// every float is below 2^-46 (2^-46.0 for acos, 2^-46.4 for atan, also on
// 10^8 random doubles; tests/fastpath/kernels_test.cpp checks 2^-45), 60
// times under vmath::kMargin: a lane whose estimate passes
// vmath::RoundsSafely with that margin therefore rounds to the same float as
// the C library's result. Lanes that do not pass (including NaN, infinities,
// |x| > 1 for acos and results at zero) must be recomputed by the caller.
//
// Every operation is a single IEEE operation in the order written (the build
// forbids fused multiply-add), so the estimate has the same bits on every
// platform and vector width; exactness never depends on that, only speed.
#pragma once

#include <cmath>

namespace lens {
namespace vmath {

// |x| and the sign transfer as compiler built-ins: the 32-bit MinGW headers
// implement std::fabs with an x87 instruction in volatile inline assembly,
// which no loop around it can turn into vector code.
inline double Abs(double x) {
#if defined(__GNUC__)
  return __builtin_fabs(x);
#else
  return std::fabs(x);
#endif
}

inline double CopySign(double magnitude, double sign) {
#if defined(__GNUC__)
  return __builtin_copysign(magnitude, sign);
#else
  return std::copysign(magnitude, sign);
#endif
}

inline double AtanEstimate(double x) {
  constexpr double kT0 = 0.33333333333327336;
  constexpr double kT1 = -0.19999999994921172;
  constexpr double kT2 = 0.14285713574280487;
  constexpr double kT3 = -0.11111072552534008;
  constexpr double kT4 = 0.09089855411147431;
  constexpr double kT5 = -0.07675976056864782;
  constexpr double kT6 = 0.06515522206211649;
  constexpr double kT7 = -0.050406863312239245;
  constexpr double kT8 = 0.025353300288046842;
  const double ax = Abs(x);
  // Interval of |x| and the reduction about the point whose arc tangent is
  // hi (0, atan 0.5, atan 1, atan 1.5, pi / 2): z = (|x| - k) / (1 + k |x|)
  // with k = 0, 0.5, 1, 1.5 (the same quotient as fdlibm's (2 |x| - 1) /
  // (2 + |x|) for k = 0.5: both scalings by 2 are exact), z = -1 / |x| on the
  // last interval. The low parts of the reduction points (below 2^-54
  // relative) are left out.
  const bool i1 = ax >= 0.4375;
  const bool i2 = ax >= 0.6875;
  const bool i3 = ax >= 1.1875;
  const bool i4 = ax >= 2.4375;
  double k = 0.0, hi = 0.0;
  k = i1 ? 0.5 : k;
  hi = i1 ? 4.63647609000806093515e-01 : hi;
  k = i2 ? 1.0 : k;
  hi = i2 ? 7.85398163397448278999e-01 : hi;
  k = i3 ? 1.5 : k;
  hi = i3 ? 9.82793723247329054082e-01 : hi;
  hi = i4 ? 1.57079632679489655800e+00 : hi;
  const double num = i4 ? -1.0 : ax - k;
  const double den = i4 ? ax : 1.0 + k * ax;
  const double z = num / den;
  const double z2 = z * z;
  const double w = z2 * z2;
  const double s1 = z2 * (kT0 + w * (kT2 + w * (kT4 + w * (kT6 + w * kT8))));
  const double s2 = w * (kT1 + w * (kT3 + w * (kT5 + w * kT7)));
  const double r = hi - (z * (s1 + s2) - z);
  return CopySign(r, x);
}

inline double AcosEstimate(double x) {
  constexpr double kPio2Hi = 1.57079632679489655800e+00;
  constexpr double kR0 = 0.1666666666666218;
  constexpr double kR1 = 0.07500000003584559;
  constexpr double kR2 = 0.04464285243793872;
  constexpr double kR3 = 0.030382182776212484;
  constexpr double kR4 = 0.02236606593888501;
  constexpr double kR5 = 0.017441495685492855;
  constexpr double kR6 = 0.01318791613675373;
  constexpr double kR7 = 0.015675662527070935;
  constexpr double kR8 = -0.0029397929067241963;
  constexpr double kR9 = 0.0279070314326661;
  const double ax = Abs(x);
  const bool outer = ax > 0.5;
  // z = x^2 near zero, (1 - |x|) / 2 beyond 0.5 (exact there); asin of
  // s = x or sqrt(z) is s + s R(z). |x| > 1 gives a NaN.
  const double z = outer ? (1.0 - ax) * 0.5 : x * x;
  const double s = outer ? std::sqrt(z) : x;
  // R as a polynomial of degree 9 in z, even and odd powers apart.
  const double w = z * z;
  const double even = kR0 + w * (kR2 + w * (kR4 + w * (kR6 + w * kR8)));
  const double odd = kR1 + w * (kR3 + w * (kR5 + w * (kR7 + w * kR9)));
  const double sr = s * (z * (even + z * odd));
  const double inner_result = kPio2Hi - (x + sr);
  const double positive_result = 2.0 * (s + sr);
  const double negative_result = 2.0 * (kPio2Hi - (s + sr));
  return outer ? (x > 0.0 ? positive_result : negative_result) : inner_result;
}

}  // namespace vmath
}  // namespace lens
