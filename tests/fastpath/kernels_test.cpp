// The array math functions and the batched pipeline stages on adversarial
// values: every accepted vector lane rounds to the scalar C library's float,
// and every stage gives the per-pixel functions' bits lane by lane.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <tuple>
#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "batch/dispatch.h"
#include "controls.h"
#include "math/sincos_estimate.h"
#include "math/vector_math.h"
#include "varnel_view.h"
#include "oskuda_view.h"
#include "trimbel_view.h"

namespace {

namespace vm = lens::vmath;

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof(a)) == 0; }

float NextUp(float v) { return std::nextafter(v, std::numeric_limits<float>::infinity()); }
float NextDown(float v) { return std::nextafter(v, -std::numeric_limits<float>::infinity()); }

// Distance of a double from the nearest midpoint between two floats, in
// units of the float spacing there: small means hard to round.
double MidpointDistance(double v) {
  const float f = static_cast<float>(v);
  const double up = static_cast<double>(NextUp(f));
  const double down = static_cast<double>(NextDown(f));
  const double mid_up = (static_cast<double>(f) + up) * 0.5;
  const double mid_down = (static_cast<double>(f) + down) * 0.5;
  return std::fmin(std::fabs(v - mid_up), std::fabs(v - mid_down)) / (up - down);
}

struct Function {
  const char* name;
  double (*scalar)(double);
  void (*array)(vm::MathPath, const double*, double*, int);
  float lo, hi;  // where the remaps call it
};

double Acos(double x) { return std::acos(x); }
double Atan(double x) { return std::atan(x); }
double Sin(double x) { return std::sin(x); }
double Cos(double x) { return std::cos(x); }
double Tan(double x) { return std::tan(x); }

const Function kFunctions[] = {
    {"acos", Acos, vm::Acos, -1.0f, 1.0f},   {"atan", Atan, vm::Atan, -1e4f, 1e4f},
    {"sin", Sin, vm::Sin, -7.0f, 7.0f},      {"cos", Cos, vm::Cos, -7.0f, 7.0f},
    {"tan", Tan, vm::Tan, -1.6f, 1.6f},
};

// Floats widened to double: the special values, and of many random floats
// in the function's range the ones whose exact results lie nearest a float
// rounding boundary.
std::vector<double> AdversarialInputs(const Function& f) {
  std::vector<double> in = {0.0, -0.0, 1.0, -1.0, kNaN, kInf, -kInf, 1e300, -1e300, 3.4e38, 1e-45,
                            -1e-45, 1e-30, 0.5, -0.5, 1.5707964, -1.5707964, 3.1415927, 6.2831855,
                            static_cast<double>(NextDown(1.0f)), static_cast<double>(NextUp(1.0f)),
                            static_cast<double>(NextUp(-1.0f)), static_cast<double>(NextDown(-1.0f))};
  std::mt19937 random(12345);
  std::uniform_real_distribution<float> uniform(f.lo, f.hi);
  std::vector<std::pair<double, double>> scored;
  for (int i = 0; i < 400000; ++i) {
    const double x = static_cast<double>(uniform(random));
    scored.emplace_back(MidpointDistance(f.scalar(x)), x);
  }
  std::partial_sort(scored.begin(), scored.begin() + 2000, scored.end());
  for (int i = 0; i < 2000; ++i) in.push_back(scored[i].second);
  // The nearest is within a millionth of a float step: a real test of the check.
  EXPECT_LT(scored[0].first, 1e-5) << f.name;
  return in;
}

TEST(VectorMath, AcceptedLanesRoundLikeTheScalarLibraryOnEveryPath) {
  for (vm::MathPath path : {vm::MathPath::Scalar, vm::MathPath::Avx2, vm::MathPath::Avx512}) {
    if (!vm::PathAvailable(path)) continue;
    for (const Function& f : kFunctions) {
      const std::vector<double> in = AdversarialInputs(f);
      std::vector<double> out(in.size());
      f.array(path, in.data(), out.data(), static_cast<int>(in.size()));
      int accepted = 0;
      for (size_t k = 0; k < in.size(); ++k) {
        const double v = out[k];
        if (!vm::RoundsSafely(v, std::fabs(v) * vm::kMargin)) continue;
        ++accepted;
        ASSERT_TRUE(SameBits(static_cast<float>(v), static_cast<float>(f.scalar(in[k]))))
            << vm::PathName(path) << " " << f.name << "(" << in[k] << ")";
      }
      // The check refuses only the lanes near a boundary, not everything.
      EXPECT_GT(accepted, static_cast<int>(in.size()) / 2) << vm::PathName(path) << " " << f.name;
    }
  }
}

// The check from the bits refuses every value that RoundsSafely with the
// relative margin refuses, and close to no other: on the adversarial inputs'
// results and on doubles placed around float midpoints, powers of two and
// the ends of the float range.
TEST(VectorMath, RoundsSafelyRelativeIsTheMarginCheckAndALittleStricter) {
  std::vector<double> values = {0.0, -0.0, kNaN, kInf, -kInf, 0x1p-126, -0x1p-126,
                                std::nextafter(0x1p-126, 0.0), 0x1p127, std::nextafter(0x1p127, 0.0),
                                1e-300, 3.4e38};
  for (const Function& f : kFunctions) {
    for (double x : AdversarialInputs(f)) values.push_back(f.scalar(x));
  }
  std::mt19937 random(99);
  std::uniform_real_distribution<float> uniform(-10.0f, 10.0f);
  for (int i = 0; i < 2000; ++i) {
    const float a = uniform(random);
    const float b = std::nextafter(a, 100.0f);
    const double midpoint = (static_cast<double>(a) + static_cast<double>(b)) * 0.5;
    for (double ulps : {0.0, 4095.0, 4096.0, 8191.0, 8192.0, 8193.0, 8194.0, 16384.0, 1e6}) {
      for (double sign : {-1.0, 1.0}) {
        const double step = std::nextafter(midpoint, kInf) - midpoint;
        values.push_back(midpoint + sign * ulps * step);
        values.push_back(static_cast<double>(a) + sign * ulps * step);
      }
    }
  }
  for (double e : {-126.0, -1.0, 0.0, 1.0, 20.0, 126.0}) {
    const double p = std::ldexp(1.0, static_cast<int>(e));
    for (double v : {p, std::nextafter(p, 0.0), std::nextafter(p, kInf)}) values.push_back(v);
  }
  int accepted = 0, refused_by_bits_only = 0;
  for (double v : values) {
    const bool bits = vm::RoundsSafelyRelative(v);
    const bool margin = vm::RoundsSafely(v, std::fabs(v) * vm::kMargin);
    ASSERT_TRUE(!bits || margin) << v;
    accepted += bits ? 1 : 0;
    refused_by_bits_only += (margin && !bits) ? 1 : 0;
  }
  EXPECT_GT(accepted, static_cast<int>(values.size()) / 2);
  // Only values a few thousand units from a midpoint, between the two bands.
  EXPECT_LT(refused_by_bits_only, static_cast<int>(values.size()) / 8);
  EXPECT_FALSE(vm::RoundsSafelyRelative(0.0));
  EXPECT_FALSE(vm::RoundsSafelyRelative(kNaN));
  EXPECT_FALSE(vm::RoundsSafelyRelative(kInf));
  EXPECT_FALSE(vm::RoundsSafelyRelative(1e-40));
  EXPECT_TRUE(vm::RoundsSafelyRelative(1.0));
  EXPECT_TRUE(vm::RoundsSafelyRelative(-2.5));
}

double SinEstimate(double x) { return vm::SinCosEstimate(x).sin; }
double CosEstimate(double x) { return vm::SinCosEstimate(x).cos; }

// The inline estimates of inverse_trig.h and sincos_estimate.h against the C
// library: within their bounds (2^-45 for acos and atan, a few ulps for the
// sine and cosine) on a million floats of each function's whole domain (for
// sine and cosine, the reduced range), every interval boundary and edge
// value (an exhaustive run over all floats once gave 2^-46.0 for acos and
// 2^-46.4 for atan), and on the adversarial inputs an accepted lane always
// rounds to the C library's float.
TEST(InverseTrig, EstimatesStayFarInsideTheMarginAndAcceptedLanesRoundExactly) {
  struct Estimate {
    const char* name;
    double (*estimate)(double);
    double (*scalar)(double);
    const Function& domain;
  };
  const Estimate estimates[] = {{"acos", vm::AcosEstimate, Acos, kFunctions[0]},
                                {"atan", vm::AtanEstimate, Atan, kFunctions[1]},
                                {"sin", SinEstimate, Sin, kFunctions[2]},
                                {"cos", CosEstimate, Cos, kFunctions[3]}};
  std::mt19937 random(777);
  std::uniform_int_distribution<std::uint32_t> bits;
  for (const Estimate& e : estimates) {
    std::vector<double> in = AdversarialInputs(e.domain);
    const bool periodic = e.name[0] == 's' || e.name[0] == 'c';
    for (double edge : {0.4375, 0.6875, 1.1875, 2.4375, 0.5, 1e-8, 1e8, 1e300, 0.785398163397448,
                        2.356194490192345, 3.141592653589793, 4.71238898038469, 1e5}) {
      if (periodic && !(edge <= vm::kSinCosLimit)) continue;
      for (double v : {edge, -edge, std::nextafter(edge, 0.0), std::nextafter(edge, 10.0)}) {
        in.push_back(v);
      }
    }
    for (int i = 0; i < 1000000; ++i) {
      float f;
      const std::uint32_t b = bits(random);
      std::memcpy(&f, &b, sizeof(f));
      if (std::string(e.name) == "acos") f = std::fmod(f, 1.0f);
      // The sine and cosine estimates reduce arguments up to kSinCosLimit.
      if (e.name[0] == 's' || e.name[0] == 'c') f = std::fmod(f, 8e5f);
      in.push_back(static_cast<double>(f));
    }
    double worst = 0.0;
    for (double x : in) {
      // Beyond the reduction the array functions call the C library instead.
      if (periodic && !(std::fabs(x) <= vm::kSinCosLimit)) continue;
      const double want = e.scalar(x);
      const double got = e.estimate(x);
      if (std::isfinite(want) && want != 0.0 && std::isfinite(x)) {
        worst = std::max(worst, std::fabs(got - want) / std::fabs(want));
      }
      if (vm::RoundsSafely(got, std::fabs(got) * vm::kMargin)) {
        ASSERT_TRUE(SameBits(static_cast<float>(got), static_cast<float>(want)))
            << e.name << "(" << x << ")";
      }
    }
    EXPECT_LE(worst, periodic ? 0x1p-50 : 0x1p-45) << e.name;
  }
  // Outside the domain or at a zero result the check must refuse the lane.
  EXPECT_FALSE(vm::RoundsSafely(vm::AcosEstimate(1.0), 0.0));
  EXPECT_TRUE(std::isnan(vm::AcosEstimate(static_cast<double>(NextUp(1.0f)))));
  EXPECT_TRUE(std::isnan(vm::AcosEstimate(kNaN)));
  EXPECT_TRUE(std::isnan(vm::AtanEstimate(kNaN)));
}

TEST(VectorMath, CountsAndTailsOfAnyLength) {
  std::vector<double> in(37);
  for (size_t k = 0; k < in.size(); ++k) in[k] = 0.01 * static_cast<double>(k);
  for (int n = 0; n <= 37; ++n) {
    std::vector<double> out(in.size() + 1, -7.0);  // the element past n stays untouched
    vm::Atan(in.data(), out.data(), n);
    for (int k = 0; k < n; ++k) EXPECT_NEAR(out[k], std::atan(in[k]), 1e-15);
    EXPECT_EQ(out[n], -7.0);
  }
}

// Lanes at the edges of the blocks of sixteen, and batches that end inside a
// block: every set lane is visited once, in order, and no other.
TEST(BatchStages, ForEachSetLaneVisitsExactlyTheSetLanesInOrder) {
  for (int n : {0, 1, 15, 16, 17, 37, lens::kBatchLanes}) {
    std::vector<std::int32_t> flags(lens::kBatchLanes + 1, 0);
    flags[n] = 1;  // just past the batch: never visited
    std::vector<int> expected;
    for (int k : {0, 14, 15, 16, 31, 36, 200, lens::kBatchLanes - 1}) {
      if (k >= n) continue;
      flags[k] = 1;
      expected.push_back(k);
    }
    std::vector<int> visited;
    const int count = lens::ForEachSetLane(flags.data(), n, [&](int k) { visited.push_back(k); });
    EXPECT_EQ(visited, expected) << "n=" << n;
    EXPECT_EQ(count, static_cast<int>(expected.size())) << "n=" << n;
  }
}

// The nearest copy of a batch whose outputs form runs (streamed) writes what
// the lane-by-lane copy writes, and nothing around the runs: every length to
// 64 pixels, both directions, the pixels starting at each even byte of a
// 16-byte block, fill lanes among them.
TEST(BatchStages, StreamedRunsWriteWhatTheLanesWrite) {
  const int w = 11, h = 7;
  std::vector<PIXEL_YC> pixels(static_cast<size_t>(w * h));
  for (int i = 0; i < w * h; ++i) {
    pixels[i] = PIXEL_YC{static_cast<short>(i), static_cast<short>(1000 + i), static_cast<short>(-i)};
  }
  const lens::SourceFrame src{pixels.data(), w, h, w};
  const PIXEL_YC fill{7, -7, 77}, guard{-3, -3, -3};
  constexpr int kRow = 80;  // each run's row, with room on both sides
  static lens::PixelBatch streamed_batch, lane_batch;
  std::mt19937 random(5);
  std::uniform_int_distribution<std::int32_t> index(-1, w * h - 1);
  for (int count = 0; count <= lens::kBatchLanes / 4; ++count) {
    for (int shift = 0; shift < 8; ++shift) {
      std::vector<PIXEL_YC> streamed(4 * kRow, guard), lanes(4 * kRow, guard);
      streamed_batch.n = lane_batch.n = 4 * count;
      streamed_batch.runs = 4;
      lane_batch.runs = 0;
      for (int k = 0; k < 4; ++k) {
        const bool descending = (k & 1) != 0;
        streamed_batch.run[k] = lens::OutputRun{k * count, count, descending};
        for (int g = 0; g < count; ++g) {
          const int lane = k * count + g;
          const int column = k * kRow + 4 + shift + (descending ? count - 1 - g : g);
          streamed_batch.out[lane] = &streamed[column];
          lane_batch.out[lane] = &lanes[column];
          streamed_batch.source[lane] = lane_batch.source[lane] = index(random);
        }
      }
      lens::WritePlaced<lens::KernelSet::Baseline, lens::Nearest>(streamed_batch, src, fill);
      lens::WritePlaced<lens::KernelSet::Baseline, lens::Nearest>(lane_batch, src, fill);
      ASSERT_EQ(std::memcmp(streamed.data(), lanes.data(), streamed.size() * sizeof(PIXEL_YC)), 0)
          << "count " << count << " shift " << shift;
    }
  }
}

// Boxes whose corners lie at and around the frame's edges, the seam and the
// last row (NaN included): the quick choice decides exactly the lanes whose
// corners the view's own test and choice take to one pixel, with that pixel.
template <typename View>
void ExpectBoxPixelsAsTheCorners(bool equirectangular) {
  const int w = 7, h = 5;
  std::vector<PIXEL_YC> pixels(9 * h);
  const lens::SourceFrame src{pixels.data(), w, h, 9};
  const lens::SampleOptions options{false, false, equirectangular};
  const auto around = [](float edge) {
    return std::vector<float>{edge - 0.6f, edge - 0.5f, NextDown(edge - 0.5f), edge - 0.25f, NextDown(edge), edge,
                              NextUp(edge), edge + 0.25f, edge + 0.5f, NextUp(edge + 0.5f)};
  };
  std::vector<float> xs = around(0.0f), ys = around(0.0f);
  for (float v : around(static_cast<float>(w))) xs.push_back(v);
  for (float v : around(static_cast<float>(h - 1))) ys.push_back(v);
  for (float v : around(static_cast<float>(h))) ys.push_back(v);
  xs.push_back(3.5f);
  ys.push_back(2.75f);
  xs.push_back(static_cast<float>(kNaN));
  const auto pixel = [&](float x, float y) {
    const lens::AdmittedPosition a = lens::AdmitPosition<View, float>(src, lens::SourcePoint{x, y, false}, options);
    return lens::PlaceLane<View, lens::Nearest>(a, src, options).source;
  };
  lens::PositionBoxes boxes;
  std::vector<std::int32_t> expected;
  int n = 0;
  long checked = 0;
  const auto check = [&] {
    lens::PixelBatch b;
    lens::ChooseBoxPixels<View>(boxes, n, src, options, b.source, b.redo, b.box_edge);
    for (int k = 0; k < n; ++k) {
      EXPECT_EQ(b.source[k], expected[k]) << "[" << boxes.x_lo[k] << ", " << boxes.x_hi[k] << "] x ["
                                          << boxes.y_lo[k] << ", " << boxes.y_hi[k] << "] ok " << boxes.ok[k];
      EXPECT_EQ(b.redo[k], expected[k] < 0 ? 1 : 0);
    }
    checked += n;
    n = 0;
    expected.clear();
  };
  for (float x_lo : xs) {
    for (float x_hi : xs) {
      for (float y_lo : ys) {
        for (float y_hi : ys) {
          if (x_hi < x_lo || y_hi < y_lo) continue;
          for (std::int32_t ok : {0, 1}) {
            boxes.x_lo[n] = x_lo;
            boxes.x_hi[n] = x_hi;
            boxes.y_lo[n] = y_lo;
            boxes.y_hi[n] = y_hi;
            boxes.ok[n] = ok;
            const std::int32_t lo = pixel(x_lo, y_lo);
            expected.push_back(ok != 0 && lo >= 0 && lo == pixel(x_hi, y_hi) ? lo : -1);
            if (++n == lens::kBatchLanes) check();
          }
        }
      }
    }
  }
  check();
  EXPECT_GT(checked, 10000);
}

TEST(BatchStages, BoxPixelsAreTheCornersPixelsAtEveryEdge) {
  for (bool equirectangular : {true, false}) {
    ExpectBoxPixelsAsTheCorners<varnel::View>(equirectangular);
    ExpectBoxPixelsAsTheCorners<oskuda::View>(equirectangular);
    ExpectBoxPixelsAsTheCorners<trimbel::View>(equirectangular);
  }
}

TEST(VectorMath, RoundsSafelyRefusesZeroNaNInfinityAndStraddles) {
  EXPECT_FALSE(vm::RoundsSafely(0.0, 0.0));
  EXPECT_FALSE(vm::RoundsSafely(-0.0, 0.0));
  EXPECT_FALSE(vm::RoundsSafely(kNaN, 0.0));
  EXPECT_FALSE(vm::RoundsSafely(kInf, kInf * vm::kMargin));
  EXPECT_FALSE(vm::RoundsSafely(1e-60, 1e-50));  // the interval holds zero
  EXPECT_TRUE(vm::RoundsSafely(1.0, vm::kMargin));
  // 1 + 2^-24 is the midpoint between 1 and the next float.
  EXPECT_FALSE(vm::RoundsSafely(1.0 + 0x1p-24, 0x1p-40));
  EXPECT_TRUE(vm::RoundsSafely(1.0 + 0x1p-25, 0x1p-40));
}

// Values of the turned ray's components that sit on every branch and edge.
std::vector<float> EdgeComponents() {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  return {0.0f, -0.0f, 1.0f, -1.0f, NextUp(1.0f), NextDown(-1.0f), NextDown(1.0f), 0.5f, -0.70710677f,
          1e-30f, -1e-38f, 1e-45f, 3e38f, -3e38f, nan, inf, -inf, 0.12345f, -0.98765f};
}

lens::PixelBatch& FreshBatch() {
  static lens::PixelBatch batch;  // large: keep it off the stack
  batch = lens::PixelBatch{};
  return batch;
}

TEST(BatchStages, AnglesMatchAnglesOfOnEveryBranch) {
  const std::vector<float> v = EdgeComponents();
  lens::PixelBatch& b = FreshBatch();
  std::vector<lens::TurnedRay> rays;
  for (float axis : v)
    for (float den : v)
      for (float num : v) rays.push_back({axis, den, num});
  for (size_t start = 0; start < rays.size(); start += lens::kBatchLanes) {
    const int n = static_cast<int>(std::min<size_t>(lens::kBatchLanes, rays.size() - start));
    b.n = n;
    for (int k = 0; k < n; ++k) {
      b.axis[k] = rays[start + k].axis;
      b.den[k] = rays[start + k].den;
      b.num[k] = rays[start + k].num;
    }
    lens::AnglesBatch(b);
    for (int k = 0; k < n; ++k) {
      const lens::SourceAngles want = lens::AnglesOf(rays[start + k]);
      ASSERT_TRUE(SameBits(want.theta, b.theta[k]) && SameBits(want.phi, b.phi[k]))
          << "axis " << b.axis[k] << " den " << b.den[k] << " num " << b.num[k];
    }
  }
}

TEST(BatchStages, MapMatchesMapToSourceForEveryModelAndDegenerateLens) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float pi = lens::kPi;
  const std::vector<float> thetas = {0.0f, -0.0f, 1e-7f, 0.3f, pi * 0.5f, NextUp(pi * 0.5f), 1.9f,
                                     pi, NextDown(pi), 3.2f, nan, 2.0943952f, 0.7853982f};
  const std::vector<float> phis = {0.0f, -0.0f, 1.5707964f, -1.5707964f, pi, 4.712389f, 0.1f,
                                   -1e-30f, 2.5f, nan, -0.7853982f, 6.2831855f, 1e-8f};
  struct Lens { float in_fov, in_mask, shift_x, shift_y; int w, h; };
  const std::vector<Lens> lenses = {
      {180.0f, 360.0f, 0.0f, 0.0f, 1920, 1080}, {0.0f, 360.0f, 0.0f, 0.0f, 64, 32},
      {360.0f, 200.0f, 10.0f, -5.0f, 33, 17},  {180.0f, 0.0f, 0.0f, 0.0f, 8, 8},
      {90.0f, 360.0f, -120.0f, 20.0f, 1, 1},  {179.9f, 359.9f, 0.0f, 0.0f, 0, 0},
      {0.1f, 360.0f, 1.0f, 1.0f, 3840, 1920},
  };
  lens::PixelBatch& b = FreshBatch();
  for (int projection = 0; projection <= 4; ++projection) {
    for (const Lens& l : lenses) {
      const lens::LensModel m =
          lens::PrepareLens(static_cast<lens::SourceProjection>(projection), l.in_fov, l.in_mask,
                            l.shift_x, l.shift_y, pi, l.w, l.h);
      b.n = 0;
      for (float theta : thetas)
        for (float phi : phis) {
          b.theta[b.n] = theta;
          b.phi[b.n] = phi;
          ++b.n;
        }
      lens::PixelBatch copy = b;
      lens::MapBatch<varnel::View>(b, m);
      lens::MapBatch<trimbel::View>(copy, m);
      for (int k = 0; k < b.n; ++k) {
        const lens::SourceAngles a{b.theta[k], b.phi[k]};
        const lens::SourcePoint v = lens::MapToSource<varnel::View>(m, a);
        const lens::SourcePoint t = lens::MapToSource<trimbel::View>(m, a);
        ASSERT_TRUE(SameBits(v.x, b.px[k]) && SameBits(v.y, b.py[k]) &&
                    v.outside == b.outside[k])
            << "model " << projection << " fov " << l.in_fov << " theta " << a.theta << " phi " << a.phi;
        ASSERT_TRUE(SameBits(t.x, copy.px[k]) && SameBits(t.y, copy.py[k]) &&
                    t.outside == copy.outside[k])
            << "panorama filter, model " << projection << " theta " << a.theta << " phi " << a.phi;
      }
    }
  }
}

std::vector<lens::KernelSet> SupportedKernelSets() {
  std::vector<lens::KernelSet> sets;
  for (lens::KernelSet set : {lens::KernelSet::Baseline, lens::KernelSet::Avx2,
                              lens::KernelSet::Avx512}) {
    if (lens::KernelSetSupported(set)) sets.push_back(set);
  }
  return sets;
}

// Which filter's view a test runs with, for messages; the dome master's
// is the one whose lanes carry an output mask.
template <typename View>
const char* ViewName() {
  return std::is_same_v<View, varnel::View> ? "perspective" : std::is_same_v<View, oskuda::View> ? "dome" : "panorama";
}
template <typename View>
constexpr bool kMasked = std::is_same_v<View, oskuda::View>;

// SampleBatch with the writes of one instruction set (the bilinear mixes
// gather 8 or 16 lanes at a time there).
template <typename View, lens::KernelSet set>
void SampleBatchMasked(lens::PixelBatch& b, const lens::SourceFrame& src, const lens::SampleOptions& options,
                       const bool* admitted) {
  if (admitted == nullptr) return lens::SampleBatch<View, set, false>(b, src, options);
  for (int k = 0; k < b.n; ++k) b.admit[k] = admitted[k] ? 1 : 0;
  lens::SampleBatch<View, set, true>(b, src, options);
}

template <typename View>
void SampleBatchWith(lens::KernelSet set, lens::PixelBatch& b, const lens::SourceFrame& src,
                     const lens::SampleOptions& options, const bool* admitted) {
  switch (set) {
    case lens::KernelSet::Baseline:
      return SampleBatchMasked<View, lens::KernelSet::Baseline>(b, src, options, admitted);
    case lens::KernelSet::Avx2:
      return SampleBatchMasked<View, lens::KernelSet::Avx2>(b, src, options, admitted);
    case lens::KernelSet::Avx512:
      return SampleBatchMasked<View, lens::KernelSet::Avx512>(b, src, options, admitted);
  }
}

// Sampling: positions on and around every bound, NaN and infinities, for
// each filter's comparisons, both samplers and an equirectangular source.
template <typename View>
void CheckSampling(const std::vector<PIXEL_YC>& pixels, int w, int h, int stride) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const float W = static_cast<float>(w);
  const float H = static_cast<float>(h);
  const std::vector<float> xs = {-0.5f, NextDown(-0.5f), -0.25f, -0.0f, 0.0f, 0.49f, 0.5f, 1.0f,
                                 W - 1.0f, W - 0.5f, NextDown(W), W, W + 0.25f, W + 0.5f,
                                 NextUp(W + 0.5f), nan, inf, -inf, 3e9f};
  const std::vector<float> ys = {-0.5f, NextDown(-0.5f), 0.0f, 0.5f, H - 1.0f, NextDown(H),
                                 H, H + 0.5f, NextUp(H + 0.5f), nan, 1.75f};
  const lens::SourceFrame src{pixels.data(), w, h, stride};
  std::vector<PIXEL_YC> batch_out(ys.size() * 2);
  std::vector<PIXEL_YC> want(batch_out.size());
  lens::PixelBatch& b = FreshBatch();
  bool admitted[lens::kBatchLanes];
  for (bool bilinear : {false, true}) {
    for (bool equirect : {false, true}) {
      const lens::SampleOptions options{bilinear, equirect, equirect};
      for (float x : xs) {  // one batch per x
        b.n = 0;
        for (float y : ys)
          for (bool outside : {false, true}) {
            const int k = b.n++;
            b.SetPoint(k, lens::SourcePoint{x, y, outside && !kMasked<View>});
            admitted[k] = !(outside && kMasked<View>);
            b.out[k] = &batch_out[k];
            lens::SampleOrFill<View>(src, &want[k], b.Point(k), options, admitted[k]);
          }
        for (lens::KernelSet set : SupportedKernelSets()) {
          std::fill(batch_out.begin(), batch_out.end(), PIXEL_YC{-1, -1, -1});
          SampleBatchWith<View>(set, b, src, options, admitted);
          for (int k = 0; k < b.n; ++k) {
            ASSERT_EQ(std::memcmp(&want[k], &batch_out[k], sizeof(PIXEL_YC)), 0)
                << ViewName<View>() << (bilinear ? " bilinear" : " nearest")
                << " x " << b.px[k] << " y " << b.py[k] << " size " << w << "x" << h << " "
                << lens::KernelSetName(set);
          }
        }
      }
    }
  }
}

TEST(BatchStages, SamplingMatchesSampleOrFillOnEveryBound) {
  for (auto [w, h, stride] : {std::tuple{5, 4, 7}, std::tuple{1, 1, 1}, std::tuple{0, 0, 1}}) {
    std::vector<PIXEL_YC> pixels(static_cast<size_t>(stride) * (h > 0 ? h : 1));
    for (size_t i = 0; i < pixels.size(); ++i)
      pixels[i] = PIXEL_YC{static_cast<short>(i * 977), static_cast<short>(-static_cast<int>(i) * 313),
                           static_cast<short>(i * 7 - 2000)};
    CheckSampling<varnel::View>(pixels, w, h, stride);
    CheckSampling<oskuda::View>(pixels, w, h, stride);
    CheckSampling<trimbel::View>(pixels, w, h, stride);
  }
}

// RunBatch<View, set> by the instruction set; with `flush` the rest's lanes
// run after it.
template <typename View, lens::KernelSet set>
void RunBatchMasked(lens::PixelBatch& b, lens::RestLanes& rest, const lens::ViewRotation& r, const lens::LensModel& m,
                    const lens::SourceFrame& src, const lens::SampleOptions& options, const bool* admitted,
                    bool flush) {
  if (admitted == nullptr) {
    lens::RunBatch<View, set, false>(b, rest, r, m, src, options);
  } else {
    for (int k = 0; k < b.n; ++k) b.admit[k] = admitted[k] ? 1 : 0;
    lens::RunBatch<View, set, true>(b, rest, r, m, src, options);
  }
  if (flush) lens::RunRestLanes<View, set>(rest, r, m, src, options);
}

template <typename View>
void RunBatchWith(lens::KernelSet set, lens::PixelBatch& b, lens::RestLanes& rest, const lens::ViewRotation& r,
                  const lens::LensModel& m, const lens::SourceFrame& src, const lens::SampleOptions& options,
                  const bool* admitted, bool flush) {
  using lens::KernelSet;
  switch (set) {
    case KernelSet::Baseline:
      return RunBatchMasked<View, KernelSet::Baseline>(b, rest, r, m, src, options, admitted, flush);
    case KernelSet::Avx2: return RunBatchMasked<View, KernelSet::Avx2>(b, rest, r, m, src, options, admitted, flush);
    case KernelSet::Avx512:
      return RunBatchMasked<View, KernelSet::Avx512>(b, rest, r, m, src, options, admitted, flush);
  }
}

// The panorama and lens passes (for the nearest sampler the quick float
// pass, then the double pass, then the per-pixel functions) against the
// per-pixel chain, ray by ray: random unit rays, rays on the seam (phi = 0 from either
// side, and +-0), at the poles, on den = 0, NaN and infinite components, on
// tiny and ordinary panoramas, with and without the mask. The lanes the quick
// passes leave are gathered across all the batches of a run, as in a row.
struct LensSetting {
  lens::SourceProjection projection;
  float in_fov, in_mask, shift_x, shift_y;
};

template <typename View>
void CheckSourcePass(const lens::ViewRotation& rotation, int w, int h, const LensSetting& l) {
  const int stride = w + 3;
  std::vector<PIXEL_YC> pixels(static_cast<size_t>(stride) * (h > 0 ? h : 1));
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = PIXEL_YC{static_cast<short>(i * 31), static_cast<short>(i % 4093), static_cast<short>(-static_cast<int>(i % 999))};
  const lens::SourceFrame src{pixels.data(), w, h, stride};
  const lens::LensModel m = lens::PrepareLens(l.projection, l.in_fov, l.in_mask, l.shift_x,
                                              l.shift_y, lens::kPi, w, h);
  const bool panorama = l.projection == lens::SourceProjection::Equirectangular;
  std::vector<std::array<float, 3>> rays;
  const std::vector<float> v = EdgeComponents();
  for (float a : v)
    for (float b : v)
      for (float c : v) rays.push_back({a, b, c});
  std::mt19937 random(5);
  std::uniform_real_distribution<float> component(-1.0f, 1.0f);
  for (int i = 0; i < 6000; ++i) {
    float x = component(random), y = component(random), z = component(random);
    const float norm = std::sqrt(x * x + y * y + z * z);
    rays.push_back({x / norm, y / norm, z / norm});
    // Next to the seam and the poles.
    rays.push_back({x / norm, 1e-6f * y, z / norm});
    rays.push_back({1e-5f * x, 1e-5f * y, 1.0f});
  }
  lens::PixelBatch& b = FreshBatch();
  static lens::RestLanes rest;  // large: keep it off the stack
  rest.batch.n = 0;
  const size_t count = rays.size();
  std::vector<char> admitted(count);
  std::vector<PIXEL_YC> out(count), want(count);
  for (bool bilinear : {false, true}) {
    const lens::SampleOptions options{bilinear, false, panorama};
    for (bool masked : {false, true}) {
      for (size_t i = 0; i < count; ++i) {
        const std::array<float, 3>& ray = rays[i];
        admitted[i] = !masked || (i % lens::kBatchLanes) % 3 != 0;
        const lens::TurnedRay t = View::Turn(ray[0], ray[1], ray[2] * rotation.cos_pitch,
                                             ray[2] * rotation.sin_pitch, rotation, panorama);
        lens::SampleOrFill<View>(src, &want[i], lens::MapToSource<View>(m, lens::AnglesOf(t)), options,
                                 admitted[i] != 0);
      }
      for (lens::KernelSet set : SupportedKernelSets()) {
        std::fill(out.begin(), out.end(), PIXEL_YC{-1, -1, -1});
        for (size_t start = 0; start < count; start += lens::kBatchLanes) {
          const int n = static_cast<int>(std::min<size_t>(lens::kBatchLanes, count - start));
          bool admit[lens::kBatchLanes];
          b.n = n;
          for (int k = 0; k < n; ++k) {
            const std::array<float, 3>& ray = rays[start + k];
            b.X[k] = ray[0];
            b.Y[k] = ray[1];
            b.Zc[k] = ray[2] * rotation.cos_pitch;
            b.Zs[k] = ray[2] * rotation.sin_pitch;
            b.out[k] = &out[start + k];
            admit[k] = admitted[start + k] != 0;
          }
          RunBatchWith<View>(set, b, rest, rotation, m, src, options, masked ? admit : nullptr,
                             start + lens::kBatchLanes >= count);
        }
        for (size_t i = 0; i < count; ++i) {
          const std::array<float, 3>& ray = rays[i];
          ASSERT_EQ(std::memcmp(&want[i], &out[i], sizeof(PIXEL_YC)), 0)
              << ViewName<View>() << (bilinear ? " bilinear" : " nearest") << (masked ? " masked" : "") << " ray "
              << ray[0] << " " << ray[1] << " " << ray[2] << " size " << w << "x" << h << " model "
              << static_cast<int>(l.projection) << " fov " << l.in_fov << " mask " << l.in_mask << " "
              << lens::KernelSetName(set);
        }
      }
    }
  }
}

TEST(BatchStages, SourcePassesMatchThePerPixelChainOnEdgeRays) {
  for (const lens::ViewRotation& r :
       {lens::MakeViewRotation(0.0f, 0.0f, 0.0f), lens::MakeViewRotation(10.0f, 30.0f, -20.0f)}) {
    for (auto [w, h] : {std::pair{3840, 1920}, std::pair{7, 5}, std::pair{1, 1}, std::pair{2, 1},
                        std::pair{0, 0}}) {
      // A panorama, and equidistant lenses: inscribed, wider than the frame
      // and shifted, a narrow mask, a degenerate field of view.
      for (const LensSetting& l :
           {LensSetting{lens::SourceProjection::Equirectangular, 180.0f, 360.0f, 0.0f, 0.0f},
            LensSetting{lens::SourceProjection::Equidistant, 180.0f, 360.0f, 0.0f, 0.0f},
            LensSetting{lens::SourceProjection::Equidistant, 120.0f, 200.0f, 3.5f, -20.0f},
            LensSetting{lens::SourceProjection::Equidistant, 360.0f, 90.0f, -0.5f, 0.5f},
            LensSetting{lens::SourceProjection::Equidistant, 0.0f, 360.0f, 0.0f, 0.0f}}) {
        CheckSourcePass<varnel::View>(r, w, h, l);
        CheckSourcePass<oskuda::View>(r, w, h, l);
        CheckSourcePass<trimbel::View>(r, w, h, l);
      }
    }
  }
}

// On ordinary rays the vector results are used: recomputation is rare.
TEST(BatchStages, OrdinaryRaysAreRarelyRecomputed) {
  std::mt19937 random(99);
  std::uniform_real_distribution<float> component(-1.0f, 1.0f);
  lens::PixelBatch& b = FreshBatch();
  const lens::LensModel m = lens::PrepareLens(lens::SourceProjection::Equisolid, 200.0f, 360.0f,
                                              0.0f, 0.0f, lens::kPi, 1920, 1080);
  int recomputed = 0;
  int lanes = 0;
  for (int round = 0; round < 200; ++round) {
    b.n = lens::kBatchLanes;
    for (int k = 0; k < b.n; ++k) {
      float x = component(random), y = component(random), z = component(random);
      const float norm = std::sqrt(x * x + y * y + z * z);
      b.axis[k] = z / norm;
      b.den[k] = x / norm;
      b.num[k] = y / norm;
    }
    recomputed += lens::AnglesBatch(b);
    recomputed += lens::MapBatch<varnel::View>(b, m);
    lanes += b.n;
  }
  EXPECT_LT(recomputed, lanes / 1000) << "path " << vm::PathName(vm::ActivePath());
}

}  // namespace
