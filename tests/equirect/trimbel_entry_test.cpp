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

// Each row: the height box and setting, the 2:1 box, the input and the
// capacity, and the size that results.
struct SizeCase {
  const char* what;
  int use_height, height, two_to_one, w, h, max_w, max_h, out_w, out_h;
};

TEST(OutputSize, EvenRoundingOverrideTwoToOneClampsAndDegenerateHeights) {
  const SizeCase cases[] = {
      {"the input size, rounded down to even", 0, 480, 0, 1919, 1079, 1920, 1080, 1918, 1078},
      {"1920/1080 = 1.7777778, x 480 = 853 -> 852", 1, 480, 0, 1920, 1080, 1920, 1080, 852, 480},
      {"2:1 of the chosen height", 1, 480, 1, 1920, 1080, 1920, 1080, 960, 480},
      {"2:1 of the input height: 2160 wide, cut to the capacity", 0, 480, 1, 1920, 1080, 1920, 1080, 1920, 1080},
      {"the doubling uses the even height, before the clamp", 0, 480, 1, 1920, 1081, 4096, 1000, 2160, 1000},
      {"odd capacities give odd sizes: the limit comes after the rounding", 0, 480, 0, 1920, 1080, 1001, 999, 1001,
       999},
      {"height 1: 1.7777778 -> 1 -> 0 wide, 0 high", 1, 1, 0, 1920, 1080, 1920, 1080, 0, 0},
      // A zero-height input makes the ratio infinite (or NaN for 0 x 0): the
      // width comes out empty instead of an undefined conversion.
      {"zero-height input", 1, 480, 0, 1920, 0, 1920, 1080, 0, 480},
      {"0 x 0 input", 1, 480, 0, 0, 0, 1920, 1080, 0, 480},
      // 206 / 3 is 68.666664f, x 27 = 1853.9999 -> 1853 -> 1852 (206 x 27 / 3
      // would be 1854).
      {"the ratio is rounded to float before it scales the height", 1, 27, 0, 206, 3, 4096, 4096, 1852, 26},
  };
  for (const SizeCase& c : cases) {
    std::vector<int> track = {1800, 3600, 0, 0, 0, 0, 0, c.height};
    std::vector<int> check(8, 0);
    check[trimbel::kUseHeight] = c.use_height;
    check[trimbel::kTwoToOne] = c.two_to_one;
    const lens::OutputSize s = trimbel::EquirectOutputSize(track.data(), check.data(), c.w, c.h, c.max_w, c.max_h);
    EXPECT_EQ(s.w, c.out_w) << c.what;
    EXPECT_EQ(s.h, c.out_h) << c.what;
  }
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
