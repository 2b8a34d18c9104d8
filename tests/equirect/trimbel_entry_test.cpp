// Trimbel's pieces linked directly: longitude tables, output size and input
// choice. Failing table allocations are in reliability/.
#include <gtest/gtest.h>
#include <omp.h>

#include <cmath>
#include <vector>

#include "support/frames.h"
#include "trimbel.h"

namespace {

constexpr float kPi = 3.1415927f;

// Longitude of column i of an n-column panorama, from its definition:
// float(float(i) * float(2 pi)) / float(n).
float Longitude(int i, int n) {
  const float two_pi = static_cast<float>(static_cast<double>(kPi) * 2.0);
  const float product = static_cast<float>(i) * two_pi;
  return product / static_cast<float>(n);
}

float SinOf(float a) { return static_cast<float>(std::sin(static_cast<double>(a))); }
float CosOf(float a) { return static_cast<float>(std::cos(static_cast<double>(a))); }

// ---------------------------------------------------------------- tables

TEST(LongitudeTables, FirstAndMiddleColumnsOfAFullHdPanorama) {
  std::vector<float> cos_lon(1920), sin_lon(1920);
  trimbel::FillLongitudeTables(cos_lon.data(), sin_lon.data(), 1920, kPi);
  EXPECT_EQ(sin_lon[0], 0.0f);
  EXPECT_EQ(cos_lon[0], 1.0f);
  // Column 960 sits at the float pi, just above the true pi: its sine is a
  // small negative number, not zero.
  EXPECT_EQ(cos_lon[960], -1.0f);
  EXPECT_FLOAT_EQ(sin_lon[960], -8.742278e-8f);
  EXPECT_LT(sin_lon[960], 0.0f);
  for (int i = 0; i < 1920; ++i) {
    ASSERT_EQ(sin_lon[i], SinOf(Longitude(i, 1920))) << i;
    ASSERT_EQ(cos_lon[i], CosOf(Longitude(i, 1920))) << i;
  }
}

TEST(LongitudeTables, ProductIsRoundedBeforeTheDivision) {
  // With 22 columns the middle column's rounded product, divided by 22, is not
  // the float pi: taking pi itself for the middle column gives other bits.
  std::vector<float> cos_lon(22), sin_lon(22);
  trimbel::FillLongitudeTables(cos_lon.data(), sin_lon.data(), 22, kPi);
  const float lon = Longitude(11, 22);
  ASSERT_NE(lon, kPi);
  EXPECT_EQ(sin_lon[11], SinOf(lon));
  EXPECT_NE(sin_lon[11], SinOf(kPi));
  for (int i = 0; i < 22; ++i) {
    EXPECT_EQ(sin_lon[i], SinOf(Longitude(i, 22))) << i;
    EXPECT_EQ(cos_lon[i], CosOf(Longitude(i, 22))) << i;
  }
}

TEST(LongitudeTables, EmptyWidthAndMissingTables) {
  std::vector<float> cos_lon(8, 42.0f), sin_lon(8, 42.0f);
  trimbel::FillLongitudeTables(cos_lon.data(), sin_lon.data(), 0, kPi);
  trimbel::FillLongitudeTables(cos_lon.data(), sin_lon.data(), -3, kPi);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(cos_lon[i], 42.0f);
    EXPECT_EQ(sin_lon[i], 42.0f);
  }
  trimbel::FillLongitudeTables(nullptr, nullptr, 5, kPi);  // must not crash

  // One table missing: the other is still filled completely, on any number of
  // threads (odd width, so the shares are uneven).
  const int previous = omp_get_max_threads();
  for (int threads : {1, 3}) {
    omp_set_num_threads(threads);
    std::vector<float> only_sin(1001, 42.0f), only_cos(1001, 42.0f);
    trimbel::FillLongitudeTables(nullptr, only_sin.data(), 1001, kPi);
    trimbel::FillLongitudeTables(only_cos.data(), nullptr, 1001, kPi);
    for (int i = 0; i < 1001; ++i) {
      ASSERT_EQ(only_sin[i], SinOf(Longitude(i, 1001))) << i;
      ASSERT_EQ(only_cos[i], CosOf(Longitude(i, 1001))) << i;
    }
  }
  omp_set_num_threads(previous);
}

// ---------------------------------------------------------------- controls

struct Controls {
  std::vector<int> track = {1800, 3600, 0, 0, 0, 0, 0, 480};
  std::vector<int> check = std::vector<int>(8, 0);
};

lens::OutputSize SizeFor(const Controls& k, int w, int h, int max_w, int max_h) {
  return trimbel::EquirectOutputSize(k.track.data(), k.check.data(), w, h, max_w, max_h);
}

TEST(OutputSize, EvenRoundingOverrideAndTwoToOne) {
  Controls k;
  auto s = SizeFor(k, 1919, 1079, 1920, 1080);
  EXPECT_EQ(s.w, 1918);
  EXPECT_EQ(s.h, 1078);

  k.check[trimbel::kUseHeight] = 1;  // 1920/1080 = 1.7777778, x 480 = 853 -> 852
  s = SizeFor(k, 1920, 1080, 1920, 1080);
  EXPECT_EQ(s.w, 852);
  EXPECT_EQ(s.h, 480);
  k.check[trimbel::kTwoToOne] = 1;
  s = SizeFor(k, 1920, 1080, 1920, 1080);
  EXPECT_EQ(s.w, 960);
  EXPECT_EQ(s.h, 480);

  // 2:1 without the override: 2160 wide, cut to the capacity, ratio not kept.
  k.check[trimbel::kUseHeight] = 0;
  s = SizeFor(k, 1920, 1080, 1920, 1080);
  EXPECT_EQ(s.w, 1920);
  EXPECT_EQ(s.h, 1080);
  // The doubling uses the height after the even rounding, before the clamp.
  s = SizeFor(k, 1920, 1081, 4096, 1000);
  EXPECT_EQ(s.w, 2160);
  EXPECT_EQ(s.h, 1000);
}

TEST(OutputSize, ClampsAndDegenerateHeights) {
  Controls k;
  // Odd capacities give odd sizes: the limit comes after the rounding.
  auto s = SizeFor(k, 1920, 1080, 1001, 999);
  EXPECT_EQ(s.w, 1001);
  EXPECT_EQ(s.h, 999);

  k.check[trimbel::kUseHeight] = 1;
  k.track[trimbel::kHeight] = 1;  // 1.7777778 -> 1 -> 0; height 1 -> 0
  s = SizeFor(k, 1920, 1080, 1920, 1080);
  EXPECT_EQ(s.w, 0);
  EXPECT_EQ(s.h, 0);

  // A zero-height input makes the ratio infinite (or NaN for 0 x 0): the
  // width comes out empty instead of an undefined conversion.
  k.track[trimbel::kHeight] = 480;
  s = SizeFor(k, 1920, 0, 1920, 1080);
  EXPECT_EQ(s.w, 0);
  EXPECT_EQ(s.h, 480);
  s = SizeFor(k, 0, 0, 1920, 1080);
  EXPECT_EQ(s.w, 0);

  // The ratio is rounded to float before it scales the height: 206 / 3 is
  // 68.666664f, x 27 = 1853.9999 -> 1853 -> 1852 (206 x 27 / 3 would be 1854).
  k.track[trimbel::kHeight] = 27;
  s = SizeFor(k, 206, 3, 4096, 4096);
  EXPECT_EQ(s.w, 1852);
  EXPECT_EQ(s.h, 26);
}

TEST(InputChoice, HighestTickedBoxWinsAndPanoramaIsTheDefault) {
  using P = lens::SourceProjection;
  auto input = [](std::initializer_list<int> ticked) {
    std::vector<int> check(8, 0);
    for (int i : ticked) check[i] = 1;
    return lens::SelectedInput(check.data(), trimbel::kInputBoxes);
  };
  EXPECT_EQ(input({}), P::Equirectangular);
  EXPECT_EQ(input({0, 5, 6, 7}), P::Equirectangular);  // other boxes do not count
  EXPECT_EQ(input({1}), P::Equidistant);
  EXPECT_EQ(input({2}), P::Orthographic);
  EXPECT_EQ(input({1, 3}), P::Equisolid);
  EXPECT_EQ(input({2, 4}), P::Central);
  EXPECT_EQ(input({1, 2, 3, 4}), P::Central);
}

}  // namespace
