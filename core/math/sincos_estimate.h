// Close estimates of sin and cos in double precision, written without
// branches so that a loop over lanes becomes vector code: the array functions
// of vector_math.h use them where glibc's vector library is missing (the
// Windows builds, other CPUs).
//
// They follow the classic fdlibm scheme: x is reduced by the nearest multiple
// n of pi/2 in two Cody-Waite steps (pi/2 split into 33 + 33 + 53 bits, so
// the reduced argument keeps about 119 bits of pi), and the kernels evaluate
// polynomials of degree 13 (sin) and 14 (cos) on [-pi/4, pi/4], chosen and
// signed by n mod 4. The kernels skip fdlibm's last correction for cos above
// 0.3; the result is then within a few units in the last place instead of
// one, which the callers' margins (vmath::kMargin, 2^-40) cover many times
// over (tests/fastpath/kernels_test.cpp measures the error against the C
// library). The reduction holds for |x| <= kSinCosLimit; the array functions
// send other arguments (and NaN, infinities) to the C library.
//
// Every operation is a single IEEE operation in the order written (the build
// forbids fused multiply-add).
#pragma once

#include <cstdint>

namespace lens {
namespace vmath {

constexpr double kSinCosLimit = 823549.0;  // about 2^19 * pi / 2

struct SinCos {
  double sin;
  double cos;
};

inline SinCos SinCosEstimate(double x) {
  constexpr double kInvPio2 = 6.36619772367581382433e-01;
  constexpr double kPio2_1 = 1.57079632673412561417e+00;   // first 33 bits of pi/2
  constexpr double kPio2_2 = 6.07710050630396597660e-11;   // next 33 bits
  constexpr double kPio2_2t = 2.02226624879595063154e-21;  // pi/2 - (kPio2_1 + kPio2_2)
  constexpr double kRound = 6755399441055744.0;            // 1.5 * 2^52
  constexpr double kS1 = -1.66666666666666324348e-01;
  constexpr double kS2 = 8.33333333332248946124e-03;
  constexpr double kS3 = -1.98412698298579493134e-04;
  constexpr double kS4 = 2.75573137070700676789e-06;
  constexpr double kS5 = -2.50507602534068634195e-08;
  constexpr double kS6 = 1.58969099521155010221e-10;
  constexpr double kC1 = 4.16666666666666019037e-02;
  constexpr double kC2 = -1.38888888888741095749e-03;
  constexpr double kC3 = 2.48015872894767294178e-05;
  constexpr double kC4 = -2.75573143513906633035e-07;
  constexpr double kC5 = 2.08757232129817482790e-09;
  constexpr double kC6 = -1.13596475577881948265e-11;
  // n = x * 2/pi rounded to the nearest integer (ties to even); n * kPio2_1
  // is exact for |n| < 2^20, and so is r.
  const double fn = (x * kInvPio2 + kRound) - kRound;
  // Beyond the limit (and for NaN) the result is not used: keep the integer
  // conversion defined there.
  const double fn_in_range = ((fn >= -1e9) & (fn <= 1e9)) ? fn : 0.0;
  const std::int32_t quadrant = static_cast<std::int32_t>(fn_in_range) & 3;
  const double t = x - fn * kPio2_1;
  double w = fn * kPio2_2;
  const double r = t - w;
  w = fn * kPio2_2t - ((t - r) - w);
  const double y0 = r - w;        // reduced argument, |y0| <= about pi/4
  const double y1 = (r - y0) - w;  // and its tail
  // sin(y0 + y1) and cos(y0 + y1).
  const double z = y0 * y0;
  const double v = z * y0;
  const double rs = kS2 + z * (kS3 + z * (kS4 + z * (kS5 + z * kS6)));
  const double ks = y0 - ((z * (0.5 * y1 - v * rs) - y1) - v * kS1);
  const double rc = z * (kC1 + z * (kC2 + z * (kC3 + z * (kC4 + z * (kC5 + z * kC6)))));
  const double kc = 1.0 - (0.5 * z - (z * rc - y0 * y1));
  // Quadrant 0: (ks, kc); 1: (kc, -ks); 2: (-ks, -kc); 3: (-kc, ks).
  const bool odd = (quadrant & 1) != 0;
  const double s = odd ? kc : ks;
  const double c = odd ? ks : kc;
  return SinCos{quadrant >= 2 ? -s : s, ((quadrant == 1) | (quadrant == 2)) ? -c : c};
}

}  // namespace vmath
}  // namespace lens
