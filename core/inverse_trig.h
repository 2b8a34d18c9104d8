// Close estimates of acos and atan in double precision, written without
// branches so that a loop over lanes becomes vector code (two lanes with
// SSE2, four with AVX2) on every platform, the 32-bit Windows build included.
//
// They follow the classic fdlibm reductions and coefficients: atan reduces
// |x| to one of five intervals and evaluates an odd polynomial of degree 23;
// acos uses x + x R(x^2) near zero and 2 asin(sqrt((1 - |x|) / 2)) beyond
// 0.5, R a rational function of degree 6 / 4. The relative error measured
// against the C library is below 2^-50 (tests/fastpath/kernels_test.cpp),
// a thousand times under vmath::kMargin: a lane whose estimate passes
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
  constexpr double kT0 = 3.33333333333329318027e-01;
  constexpr double kT1 = -1.99999999998764832476e-01;
  constexpr double kT2 = 1.42857142725034663711e-01;
  constexpr double kT3 = -1.11111104054623557880e-01;
  constexpr double kT4 = 9.09088713343650656196e-02;
  constexpr double kT5 = -7.69187620504482999495e-02;
  constexpr double kT6 = 6.66107313738753120669e-02;
  constexpr double kT7 = -5.83357013379057348645e-02;
  constexpr double kT8 = 4.97687799461593236017e-02;
  constexpr double kT9 = -3.65315727442169155270e-02;
  constexpr double kT10 = 1.62858201153657823623e-02;
  const double ax = Abs(x);
  // Interval of |x| and the reduction z = (a |x| + b) / (c |x| + d) about
  // the point whose arc tangent is hi + lo (0, atan 0.5, atan 1, atan 1.5,
  // pi / 2).
  const bool i1 = ax >= 0.4375;
  const bool i2 = ax >= 0.6875;
  const bool i3 = ax >= 1.1875;
  const bool i4 = ax >= 2.4375;
  double a = 1.0, b = 0.0, c = 0.0, d = 1.0, hi = 0.0, lo = 0.0;
  a = i1 ? 2.0 : a;
  b = i1 ? -1.0 : b;
  c = i1 ? 1.0 : c;
  d = i1 ? 2.0 : d;
  hi = i1 ? 4.63647609000806093515e-01 : hi;
  lo = i1 ? 2.26987774529616870924e-17 : lo;
  a = i2 ? 1.0 : a;
  d = i2 ? 1.0 : d;
  hi = i2 ? 7.85398163397448278999e-01 : hi;
  lo = i2 ? 3.06161699786838301793e-17 : lo;
  b = i3 ? -1.5 : b;
  c = i3 ? 1.5 : c;
  hi = i3 ? 9.82793723247329054082e-01 : hi;
  lo = i3 ? 1.39033110312309984516e-17 : lo;
  a = i4 ? 0.0 : a;
  b = i4 ? -1.0 : b;
  c = i4 ? 1.0 : c;
  d = i4 ? 0.0 : d;
  hi = i4 ? 1.57079632679489655800e+00 : hi;
  lo = i4 ? 6.12323399573676603587e-17 : lo;
  const double z = (a * ax + b) / (c * ax + d);
  const double z2 = z * z;
  const double w = z2 * z2;
  const double s1 = z2 * (kT0 + w * (kT2 + w * (kT4 + w * (kT6 + w * (kT8 + w * kT10)))));
  const double s2 = w * (kT1 + w * (kT3 + w * (kT5 + w * (kT7 + w * kT9))));
  const double r = hi - ((z * (s1 + s2) - lo) - z);
  return CopySign(r, x);
}

inline double AcosEstimate(double x) {
  constexpr double kPio2Hi = 1.57079632679489655800e+00;
  constexpr double kPio2Lo = 6.12323399573676603587e-17;
  constexpr double kP0 = 1.66666666666666657415e-01;
  constexpr double kP1 = -3.25565818622400915405e-01;
  constexpr double kP2 = 2.01212532134862925881e-01;
  constexpr double kP3 = -4.00555345006794114027e-02;
  constexpr double kP4 = 7.91534994289814532176e-04;
  constexpr double kP5 = 3.47933107596021167570e-05;
  constexpr double kQ1 = -2.40339491173441421878e+00;
  constexpr double kQ2 = 2.02094576023350569471e+00;
  constexpr double kQ3 = -6.88283971605453293030e-01;
  constexpr double kQ4 = 7.70381505559019352791e-02;
  const double ax = Abs(x);
  const bool outer = ax > 0.5;
  // z = x^2 near zero, (1 - |x|) / 2 beyond 0.5 (exact there); asin of
  // s = x or sqrt(z) is s + s R(z). |x| > 1 gives a NaN.
  const double z = outer ? (1.0 - ax) * 0.5 : x * x;
  const double s = outer ? std::sqrt(z) : x;
  const double p = z * (kP0 + z * (kP1 + z * (kP2 + z * (kP3 + z * (kP4 + z * kP5)))));
  const double q = 1.0 + z * (kQ1 + z * (kQ2 + z * (kQ3 + z * kQ4)));
  const double sr = s * (p / q);
  const double inner_result = kPio2Hi - (x - (kPio2Lo - sr));
  const double positive_result = 2.0 * (s + sr);
  const double negative_result = 2.0 * (kPio2Hi - (s + (sr - kPio2Lo)));
  return outer ? (x > 0.0 ? positive_result : negative_result) : inner_result;
}

}  // namespace vmath
}  // namespace lens
