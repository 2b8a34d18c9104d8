// Oskuda's frame entry and per-pair geometry, tested directly through the
// plug-in's object library: the worked per-pair values, the circular mask
// verdict, the angle offsets, the input choice, the output size rules and the
// RemapJob.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <vector>

#include "mirror.h"
#include "oskuda.h"
#include "support/frames.h"

namespace {

using lens::SourceProjection;
using oskuda::DomeRay;

constexpr float kPi = 3.1415927f;

// The output-side values of pair (i, j), written here from the formulas so that
// the plug-in's PairRay is checked bit for bit against an independent text.
DomeRay Expected(int i, int j, float out_fov, int out_w) {
  DomeRay e;
  e.oy = static_cast<float>(static_cast<double>(i) + 0.5);
  e.ox = static_cast<float>(static_cast<double>(j) + 0.5);
  const float sum = e.ox * e.ox + e.oy * e.oy;
  e.rho = static_cast<float>(std::sqrt(static_cast<double>(sum)));
  const float a = (kPi * 0.5f) * e.rho;
  const double ratio = static_cast<double>(out_fov) / 180.0;
  const float half = static_cast<float>(out_w) * 0.5f;
  e.theta_o = static_cast<float>(static_cast<double>(a) * ratio / static_cast<double>(half));
  const float q = e.oy / e.ox;
  e.phi_o = static_cast<float>(std::atan(static_cast<double>(q)));
  const double s = std::sin(static_cast<double>(e.theta_o));
  e.X0 = static_cast<float>(std::cos(static_cast<double>(e.phi_o)) * s);
  e.Y0 = static_cast<float>(std::sin(static_cast<double>(e.phi_o)) * s);
  e.Z = static_cast<float>(std::cos(static_cast<double>(e.theta_o)));
  return e;
}

void ExpectSameRay(const DomeRay& a, const DomeRay& b) {
  EXPECT_EQ(a.ox, b.ox);
  EXPECT_EQ(a.oy, b.oy);
  EXPECT_EQ(a.rho, b.rho);
  EXPECT_EQ(a.theta_o, b.theta_o);
  EXPECT_EQ(a.phi_o, b.phi_o);
  EXPECT_EQ(a.X0, b.X0);
  EXPECT_EQ(a.Y0, b.Y0);
  EXPECT_EQ(a.Z, b.Z);
}

// ---------------------------------------------------------------- worked values

struct WorkedPair {
  int i, j;
  double rho, rho_tol;
  double theta_o, theta_tol;
};

TEST(OskudaPair, WorkedValuesOf1024At180Degrees) {
  // The worked values, to their last printed digit.
  const WorkedPair rows[] = {
      {0, 255, 255.50049, 5e-6, 0.7838657, 5e-8},
      {0, 511, 511.50024, 5e-6, 1.5692631, 5e-8},
      {0, 0, 0.7071068, 5e-8, 0.0021694, 5e-8},
  };
  for (const WorkedPair& row : rows) {
    SCOPED_TRACE(testing::Message() << "pair (" << row.i << ", " << row.j << ")");
    const DomeRay ray = oskuda::PairRay(row.i, row.j, 180.0f, 1024, kPi);
    EXPECT_NEAR(ray.rho, row.rho, row.rho_tol);
    EXPECT_NEAR(ray.theta_o, row.theta_o, row.theta_tol);
    ExpectSameRay(ray, Expected(row.i, row.j, 180.0f, 1024));
  }
  const DomeRay p = oskuda::PairRay(0, 255, 180.0f, 1024, kPi);
  EXPECT_NEAR(p.phi_o, 0.0019569, 5e-8);
  EXPECT_NEAR(p.X0, 0.7060210, 5e-8);
  EXPECT_NEAR(p.Y0, 0.0013816, 5e-8);
  EXPECT_NEAR(p.Z, 0.7081895, 5e-8);
  EXPECT_NEAR(p.theta_o * 180.0 / M_PI, 44.91, 0.005);
  // (0, 511) lies just inside the rim: 89.91 degrees.
  EXPECT_NEAR(oskuda::PairRay(0, 511, 180.0f, 1024, kPi).theta_o * 180.0 / M_PI, 89.91, 0.005);
  // (0, 0): on the diagonal, phi_o is pi/4 and X0 = Y0 up to rounding.
  const DomeRay c = oskuda::PairRay(0, 0, 180.0f, 1024, kPi);
  EXPECT_EQ(c.phi_o, kPi / 4.0f);
  EXPECT_NEAR(c.X0, c.Y0, 1e-9);
}

TEST(OskudaPair, PixelsOfTheFourMirrorsOfPair0x255) {
  // cx = cy = 511.5 for 1024 x 1024; the k = 0 pixel of (0, 255) is (767, 512).
  const DomeRay p = oskuda::PairRay(0, 255, 180.0f, 1024, kPi);
  const double cx = (1024 - 1) * 0.5;
  EXPECT_EQ(lens::MirroredIndex(cx, p.ox, true), 767);
  EXPECT_EQ(lens::MirroredIndex(cx, p.oy, true), 512);
  EXPECT_EQ(lens::MirroredIndex(cx, p.ox, false), 256);  // k = 1: 512 - 1 - 255
  EXPECT_EQ(lens::MirroredIndex(cx, p.oy, false), 511);  // k = 2 and 3
}

TEST(OskudaPair, PixelOfEveryPairForEvenAndOddSizes) {
  for (int size : {2, 1080}) {
    const double centre = static_cast<double>(size - 1) * 0.5;
    const int half = size / 2;
    for (int j = 0; j < half; ++j) {
      const float o = static_cast<float>(static_cast<double>(j) + 0.5);
      ASSERT_EQ(lens::MirroredIndex(centre, o, true), half + j) << size;
      ASSERT_EQ(lens::MirroredIndex(centre, o, false), half - 1 - j) << size;
    }
  }
  // Odd: 5 columns, centre 2; pairs reach columns 0 to 3, never 4.
  for (int j = 0; j < 2; ++j) {
    const float o = static_cast<float>(static_cast<double>(j) + 0.5);
    EXPECT_EQ(lens::MirroredIndex(2.0, o, true), 2 + j);
    EXPECT_EQ(lens::MirroredIndex(2.0, o, false), 1 - j);
  }
}

TEST(OskudaPair, OtherFieldsOfViewAndSizesMatchTheFormulas) {
  for (float fov : {0.0f, 1.0f, 90.0f, 179.9f, 180.0f, 270.0f, 360.0f}) {
    for (int w : {4, 100, 1920}) {
      for (int i : {0, 3, 47}) {
        for (int j : {0, 1, 49}) {
          SCOPED_TRACE(testing::Message() << fov << " " << w << " " << i << " " << j);
          ExpectSameRay(oskuda::PairRay(i, j, fov, w, kPi), Expected(i, j, fov, w));
        }
      }
    }
  }
}

TEST(OskudaPair, OutputFieldOfViewZeroGivesTheAxisEverywhere) {
  for (int j : {0, 10, 500}) {
    const DomeRay r = oskuda::PairRay(7, j, 0.0f, 1024, kPi);
    EXPECT_EQ(r.theta_o, 0.0f);
    EXPECT_EQ(r.X0, 0.0f);
    EXPECT_EQ(r.Y0, 0.0f);
    EXPECT_EQ(r.Z, 1.0f);
  }
}

TEST(OskudaPair, OutputFieldOfView360IsStraightBehindOnTheCircle) {
  // rho = out_w / 2 cannot occur at a pixel centre; scale the circle
  // directly: theta_o = (pi/2) * rho * 2 / (out_w / 2).
  const oskuda::DomeScale scale = oskuda::PrepareDomeScale(360.0f, 1024, kPi);
  const float a = scale.half_pi * 512.0f;
  EXPECT_EQ(static_cast<float>(static_cast<double>(a) * scale.fov_ratio /
                               static_cast<double>(scale.half_width)),
            kPi);
  // The rim pixels come within 0.4 degrees of it.
  const DomeRay rim = oskuda::PairRay(0, 511, 360.0f, 1024, kPi);
  EXPECT_NEAR(rim.theta_o, kPi, 0.004);
  EXPECT_LT(rim.Z, -0.9999);
}

// ---------------------------------------------------------------- circular mask

TEST(OskudaMask, VerdictOn4x4And1024x1024) {
  // 4 x 4: half_w 2; the corners (pair (1, 1), rho 2.12) are outside, the
  // other pairs (rho 0.71 and 1.58) inside.
  struct Row { int i, j; bool inside; double rho; };
  const Row small[] = {{0, 0, true, 0.71}, {0, 1, true, 1.58}, {1, 0, true, 1.58}, {1, 1, false, 2.12}};
  for (const Row& r : small) {
    const DomeRay ray = oskuda::PairRay(r.i, r.j, 180.0f, 4, kPi);
    EXPECT_NEAR(ray.rho, r.rho, 0.005);
    EXPECT_EQ(oskuda::InsideCircle(2, ray.rho), r.inside) << r.i << "," << r.j;
  }
  const DomeRay in = oskuda::PairRay(361, 361, 180.0f, 1024, kPi);
  const DomeRay out = oskuda::PairRay(362, 362, 180.0f, 1024, kPi);
  EXPECT_NEAR(in.rho, 511.24, 0.005);
  EXPECT_NEAR(out.rho, 512.65, 0.005);
  EXPECT_TRUE(oskuda::InsideCircle(512, in.rho));
  EXPECT_FALSE(oskuda::InsideCircle(512, out.rho));
  // The bound is strict and uses the integer half width.
  EXPECT_FALSE(oskuda::InsideCircle(512, 512.0f));
  EXPECT_TRUE(oskuda::InsideCircle(512, std::nextafter(512.0f, 0.0f)));
  EXPECT_FALSE(oskuda::InsideCircle(2, std::numeric_limits<float>::quiet_NaN()));
}

// ---------------------------------------------------------------- frame entry

// A FILTER as the editor fills it, on the object library's own table.
struct Controls {
  host::FilterInstance instance{*oskuda::FilterTable()};
  std::vector<int>& track = instance.track;
  std::vector<int>& check = instance.check;
  // The FILTER, its arrays pointing at the current values.
  FILTER* fp() {
    instance.filter.track = track.data();
    instance.filter.check = check.data();
    return &instance.filter;
  }
};

struct Entry {
  FILTER_PROC_INFO info;
  Entry(int w, int h, int max_w, int max_h) {
    std::memset(&info, 0, sizeof(info));
    info.w = w;
    info.h = h;
    info.max_w = max_w;
    info.max_h = max_h;
  }
};

TEST(OskudaEntry, AnglesAreFormedInSinglePrecisionInTheGivenOrder) {
  // The roll gains 90 degrees, the azimuth changes sign, and with a panorama
  // input 90 degrees come off the azimuth before the sign change.
  struct Row { int pitch, azimuth, roll; bool panorama; float p, a, r; };
  const Row rows[] = {
      {0, 0, 0, false, 0.0f, -0.0f, 90.0f},
      {0, 0, 0, true, 0.0f, 90.0f, 90.0f},
      {0, 300, 0, true, 0.0f, 60.0f, 90.0f},
      {0, 300, 0, false, 0.0f, -30.0f, 90.0f},
      {450, 0, 0, false, 45.0f, -0.0f, 90.0f},
      {-1800, 1800, -1800, false, -180.0f, -180.0f, -90.0f},
      {123, -457, 1799, false, 12.3f, 45.7f, 179.9f + 90.0f},
      {0, 1, 0, true, 0.0f, -(0.1f - 90.0f), 90.0f},
      {0, -1800, 3, true, 0.0f, -(-180.0f - 90.0f), 0.3f + 90.0f},
  };
  for (const Row& row : rows) {
    Controls controls;
    controls.track[oskuda::kPitch] = row.pitch;
    controls.track[oskuda::kAzimuth] = row.azimuth;
    controls.track[oskuda::kRoll] = row.roll;
    controls.check[oskuda::kEquirectangularInput] = row.panorama ? 1 : 0;
    Entry e(64, 64, 64, 64);
    const oskuda::RemapJob job = oskuda::MakeRemapJob(controls.fp(), &e.info);
    auto radians = [](float d) { return static_cast<double>(d * kPi) / 180.0; };
    SCOPED_TRACE(testing::Message() << row.pitch << " " << row.azimuth << " " << row.roll);
    EXPECT_EQ(job.rotation.cos_pitch, static_cast<float>(std::cos(radians(row.p))));
    EXPECT_EQ(job.rotation.sin_pitch, static_cast<float>(std::sin(radians(row.p))));
    EXPECT_EQ(job.rotation.cos_azimuth, static_cast<float>(std::cos(radians(row.a))));
    EXPECT_EQ(job.rotation.sin_azimuth, static_cast<float>(std::sin(radians(row.a))));
    EXPECT_EQ(job.rotation.cos_roll, static_cast<float>(std::cos(radians(row.r))));
    EXPECT_EQ(job.rotation.sin_roll, static_cast<float>(std::sin(radians(row.r))));
    EXPECT_EQ(std::signbit(job.rotation.sin_azimuth), std::signbit(std::sin(radians(row.a))));  // -0.0 included
  }
  // cos of the float quarter turn is about -4.6e-8, not 0.
  Controls controls;
  Entry e(64, 64, 64, 64);
  EXPECT_NEAR(oskuda::MakeRemapJob(controls.fp(), &e.info).rotation.cos_roll, -4.6e-8, 0.05e-8);
}

TEST(OskudaEntry, InputProjectionHighestTickedBoxWins) {
  struct Row { bool b1, b2, b3, b4; SourceProjection expected; };
  const Row rows[] = {
      {false, false, false, false, SourceProjection::Equidistant},
      {true, false, false, false, SourceProjection::Orthographic},
      {false, true, false, false, SourceProjection::Equisolid},
      {true, true, false, false, SourceProjection::Equisolid},
      {false, false, true, false, SourceProjection::Central},
      {false, true, true, false, SourceProjection::Central},
      {false, false, false, true, SourceProjection::Equirectangular},
      {true, true, true, true, SourceProjection::Equirectangular},
      {true, false, true, true, SourceProjection::Equirectangular},
  };
  for (const Row& row : rows) {
    Controls controls;
    controls.check[1] = row.b1;
    controls.check[2] = row.b2;
    controls.check[3] = row.b3;
    controls.check[4] = row.b4;
    EXPECT_EQ(lens::SelectedInput(controls.check.data(), oskuda::kInputBoxes), row.expected);
    Entry e(64, 64, 64, 64);
    EXPECT_EQ(oskuda::MakeRemapJob(controls.fp(), &e.info).source_projection,
              static_cast<std::int32_t>(row.expected));
  }
}

struct SizeRow {
  const char* what;
  int w, h, max_w, max_h;
  bool use_height;
  int height;
  bool square;
  int out_w, out_h;
};

TEST(OskudaEntry, OutputSizeRules) {
  const SizeRow rows[] = {
      {"plain 1920x1080", 1920, 1080, 1920, 1080, false, 480, false, 1920, 1080},
      {"square", 1920, 1080, 1920, 1080, false, 480, true, 1080, 1080},
      {"height 480: (1920/1080)*480 = 853.33 -> 852", 1920, 1080, 1920, 1080, true, 480, false, 852, 480},
      {"height 480 and square", 1920, 1080, 1920, 1080, true, 480, true, 480, 480},
      {"height 481 and square", 1920, 1080, 1920, 1080, true, 481, true, 480, 480},
      {"odd input sizes go down", 641, 481, 700, 500, false, 480, false, 640, 480},
      {"height beyond capacity", 1920, 1080, 1920, 1080, true, 2160, false, 1920, 1080},
      {"square wider than max_w", 200, 300, 250, 400, false, 480, true, 250, 300},
      {"odd max_w limits after rounding", 100, 100, 101, 101, true, 200, false, 101, 101},
      {"height 1 gives an empty frame", 1920, 1080, 1920, 1080, true, 1, false, 0, 0},
      {"height 1 and square", 1920, 1080, 1920, 1080, true, 1, true, 0, 0},
      {"zero-height input with the height box", 64, 0, 64, 64, true, 480, false, 0, 64},
      {"empty input", 0, 0, 64, 64, true, 480, false, 0, 64},
      {"height 1 becomes 0", 64, 1, 64, 64, false, 480, false, 64, 0},
      {"width 1 becomes 0", 1, 64, 64, 64, false, 480, false, 0, 64},
  };
  for (const SizeRow& row : rows) {
    SCOPED_TRACE(row.what);
    Controls controls;
    controls.check[oskuda::kUseHeight] = row.use_height;
    controls.track[oskuda::kHeight] = row.height;
    controls.check[oskuda::kSquareCutOut] = row.square;
    const lens::OutputSize s = oskuda::DomeOutputSize(controls.track.data(), controls.check.data(),
                                                        row.w, row.h, row.max_w, row.max_h);
    EXPECT_EQ(s.w, row.out_w);
    EXPECT_EQ(s.h, row.out_h);
  }
}

TEST(OskudaEntry, WidthIsTheQuotientTimesTheHeightInSinglePrecision) {
  // (w / h) x H, the quotient first and each step rounded to float: where
  // the exact width is even, the quotient's rounding can fall just below it.
  // Varnel's order, w x H / h, would give 1000, 904, 1008, 1596 here.
  struct Row { int w, h, height, out_w; };
  const Row rows[] = {
      {125, 90, 720, 998},   // 999.99994 -> 999 -> 998
      {113, 90, 720, 902},   // 903.99994
      {189, 90, 480, 1006},  // 1007.99994
      {133, 90, 1080, 1594}, // 1595.9999
      {1920, 1080, 480, 852},
  };
  for (const Row& row : rows) {
    const int track[9] = {0, 0, 0, 0, 0, 0, 0, 0, row.height};
    const int check[9] = {1, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(oskuda::DomeOutputSize(track, check, row.w, row.h, 100000, 100000).w, row.out_w)
        << row.w << " x " << row.h << ", height " << row.height;
  }
}

TEST(OskudaEntry, RemapJobFieldsInOrder) {
  Controls controls;
  controls.track = {2200, 3000, 2700, 100, 200, 300, -15, 7, 480};
  controls.check = {0, 0, 1, 0, 0, 0, 1, 1, 1};
  Entry e(320, 240, 400, 300);
  const oskuda::RemapJob job = oskuda::MakeRemapJob(controls.fp(), &e.info);
  EXPECT_EQ(job.out_w, 320);
  EXPECT_EQ(job.out_h, 240);
  EXPECT_EQ(job.green_back, 1);
  EXPECT_EQ(job.circle_mask, 1);
  EXPECT_EQ(job.bilinear, 1.0f);
  EXPECT_EQ(job.source_projection, 2);
  EXPECT_EQ(job.shift_y, 7.0f);
  EXPECT_EQ(job.shift_x, -15.0f);
  EXPECT_EQ(job.out_fov, 270.0f);
  EXPECT_EQ(job.in_mask, 300.0f);
  EXPECT_EQ(job.in_fov, 220.0f);
  EXPECT_EQ(job.pi, kPi);
  EXPECT_EQ(job.proc_info, &e.info);
  controls.check = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  const oskuda::RemapJob plain = oskuda::MakeRemapJob(controls.fp(), &e.info);
  EXPECT_EQ(plain.green_back, 0);
  EXPECT_EQ(plain.circle_mask, 0);
  EXPECT_EQ(plain.bilinear, 0.0f);
  // 19 fields of 32 bits, the pointer last, in the fixed job order.
  using Job = oskuda::RemapJob;
  const std::size_t offsets[] = {
      offsetof(Job, rotation), offsetof(Job, rotation.sin_pitch), offsetof(Job, out_w), offsetof(Job, green_back),
      offsetof(Job, circle_mask), offsetof(Job, bilinear), offsetof(Job, source_projection), offsetof(Job, shift_y),
      offsetof(Job, shift_x), offsetof(Job, out_fov), offsetof(Job, in_mask), offsetof(Job, in_fov),
      offsetof(Job, pi), offsetof(Job, proc_info)};
  const std::size_t expected[] = {0, 20, 24, 32, 36, 40, 44, 48, 52, 56, 60, 64, 68, 72};
  for (std::size_t k = 0; k < sizeof(offsets) / sizeof(offsets[0]); ++k) EXPECT_EQ(offsets[k], expected[k]) << k;
}

TEST(OskudaEntry, AnyNonZeroBilinearValueSelectsBilinear) {
  // The remap treats every bilinear value other than 0.0 as set.
  std::vector<PIXEL_YC> src(16 * 16), a(16 * 16), b(16 * 16);
  testing_support::FillNoise(src, 3);
  FILTER_PROC_INFO info;
  std::memset(&info, 0, sizeof(info));
  info.ycp_edit = src.data();
  info.w = 16;
  info.h = 16;
  info.max_w = 16;
  info.max_h = 16;
  Controls controls;
  controls.check[oskuda::kBilinear] = 1;
  controls.track[oskuda::kPitch] = 123;
  oskuda::RemapJob job = oskuda::MakeRemapJob(controls.fp(), &info);
  info.ycp_temp = a.data();
  oskuda::RemapDomeMaster(job);
  job.bilinear = -0.25f;
  info.ycp_temp = b.data();
  oskuda::RemapDomeMaster(job);
  EXPECT_EQ(testing_support::CountDifferences(a.data(), b.data(), 16, 16, 16), 0);
}

}  // namespace
