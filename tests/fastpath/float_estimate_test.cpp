// The single-precision acos and atan estimates against the C library's
// double results: the error bound holds and the bracket around each estimate
// holds the exactly rounded float. By default every 97th float of each
// domain and dense runs around the reduction boundaries; with
// LENS_EXHAUSTIVE=1 every float (about four minutes on two cores).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "math/inverse_trig_float.h"

namespace {

namespace vm = lens::vmath;

float FromBits(std::uint32_t b) {
  float f;
  std::memcpy(&f, &b, sizeof(f));
  return f;
}

std::uint32_t BitsOf(float f) {
  std::uint32_t b;
  std::memcpy(&b, &f, sizeof(b));
  return b;
}

struct Sweep {
  double worst = 0.0;       // largest |estimate - exact| / |estimate|
  std::int64_t failed = 0;  // inputs outside the bound or the bracket
  float first_failure = 0.0f;
  std::int64_t checked = 0;
};

// One input: the estimate e of f(x) against the double result d.
void Check(float (*estimate)(float), double (*exact)(double), float x, Sweep& s) {
  const float e = estimate(x);
  const double d = exact(static_cast<double>(x));
  ++s.checked;
  if (std::isnan(d) || std::isnan(e)) {
    // A NaN estimate sends the lane to the exact path; a number where the
    // exact result is NaN would not.
    if (std::isnan(d) && !std::isnan(e)) {
      if (s.failed++ == 0) s.first_failure = x;
    }
    return;
  }
  const double error = std::fabs(static_cast<double>(e) - d);
  const double bound = std::fabs(static_cast<double>(e)) * static_cast<double>(vm::kFloatEstimateError);
  const double relative = e != 0.0f ? error / std::fabs(static_cast<double>(e)) : (error == 0.0 ? 0.0 : 1.0);
  if (relative > s.worst) s.worst = relative;
  const vm::Bracket b = vm::BracketOf(e);
  const float rounded = static_cast<float>(d);
  if (!(error <= bound) || !(b.lo <= rounded && rounded <= b.hi)) {
    if (s.failed++ == 0) s.first_failure = x;
  }
}

bool Exhaustive() {
  const char* v = std::getenv("LENS_EXHAUSTIVE");
  return v != nullptr && v[0] == '1';
}

// Every `step`-th float bit pattern from `first` to `last` (both signs are
// passed separately), then `radius` floats on each side of each edge.
Sweep SweepFloats(float (*estimate)(float), double (*exact)(double), std::uint32_t last,
                  std::initializer_list<float> edges) {
  const std::uint32_t step = Exhaustive() ? 1 : 97;
  Sweep total;
  for (std::uint32_t sign : {0u, 0x80000000u}) {
#pragma omp parallel
    {
      Sweep s;
#pragma omp for schedule(static)
      for (std::int64_t b = 0; b <= static_cast<std::int64_t>(last); b += step) {
        Check(estimate, exact, FromBits(static_cast<std::uint32_t>(b) | sign), s);
      }
#pragma omp critical
      {
        total.worst = std::fmax(total.worst, s.worst);
        if (s.failed > 0 && total.failed == 0) total.first_failure = s.first_failure;
        total.failed += s.failed;
        total.checked += s.checked;
      }
    }
  }
  for (float edge : edges) {
    for (float f : {edge, -edge}) {
      const std::int64_t centre = BitsOf(f);
      for (std::int64_t b = centre - 4096; b <= centre + 4096; ++b) {
        Check(estimate, exact, FromBits(static_cast<std::uint32_t>(b)), total);
      }
    }
  }
  return total;
}

double Acos(double x) { return std::acos(x); }
double Atan(double x) { return std::atan(x); }

// No input outside the bound or the bracket, the sweep as large as asked,
// and the bound generous: the worst case is a few float steps.
void ExpectWithinBound(const char* name, const Sweep& s, std::int64_t at_least) {
  EXPECT_EQ(s.failed, 0) << "first at " << name << "(" << s.first_failure << ")";
  EXPECT_GT(s.checked, at_least) << name;
  EXPECT_LT(s.worst, 0x1p-22) << name;
  std::printf("%s: %lld inputs, worst relative error 2^%.2f\n", name,
              static_cast<long long>(s.checked), std::log2(s.worst));
}

TEST(FloatEstimates, AcosStaysInsideItsBoundAndBracketsTheRoundedResult) {
  // Floats of magnitude up to 1 and a little beyond (NaN results there).
  ExpectWithinBound("acos",
                    SweepFloats(vm::AcosEstimateF, Acos, BitsOf(1.0625f),
                                {0.5f, 1.0f, 1e-20f, 0.25f, 0.8660254f, 0.70710677f}),
                    20000000);
}

TEST(FloatEstimates, AtanStaysInsideItsBoundAndBracketsTheRoundedResult) {
  // Every finite float, the infinities and NaNs.
  ExpectWithinBound("atan",
                    SweepFloats(vm::AtanEstimateF, Atan, 0x7fffffffu,
                                {0.41421357f, 2.4142137f, 1.0f, 1e-20f, 1e20f, 0.5f,
                                 std::numeric_limits<float>::min()}),
                    40000000);
}

TEST(FloatEstimates, EdgeValues) {
  EXPECT_EQ(vm::AcosEstimateF(1.0f), 0.0f);
  EXPECT_EQ(vm::AcosEstimateF(-1.0f), static_cast<float>(std::acos(-1.0)));
  EXPECT_TRUE(std::isnan(vm::AcosEstimateF(1.0000001f)));
  EXPECT_TRUE(std::isnan(vm::AcosEstimateF(std::nanf(""))));
  EXPECT_EQ(vm::AtanEstimateF(std::numeric_limits<float>::infinity()), 1.57079637f);
  EXPECT_EQ(vm::AtanEstimateF(-std::numeric_limits<float>::infinity()), -1.57079637f);
  EXPECT_TRUE(std::signbit(vm::AtanEstimateF(-0.0f)));
  EXPECT_EQ(vm::AtanEstimateF(1e-40f), 1e-40f);
  const vm::Bracket zero = vm::BracketOf(0.0f);
  EXPECT_EQ(zero.lo, 0.0f);
  EXPECT_EQ(zero.hi, 0.0f);
  const vm::Bracket nan = vm::BracketOf(std::nanf(""));
  EXPECT_FALSE(nan.lo <= nan.hi);
}

}  // namespace
