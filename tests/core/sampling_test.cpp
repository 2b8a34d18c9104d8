// Sampling and fill: the worked cases of both pixel conventions and each
// filter's in-range comparisons.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "sampling.h"
#include "varnel_view.h"
#include "oskuda_view.h"
#include "trimbel_view.h"

namespace {

using lens::PixelConvention;
using lens::SampleOptions;
using lens::SourceFrame;
using lens::SourcePoint;

// A source whose pixel (c, r) holds Y = 10 * c + 1000 * r, Cb = -c, Cr = r.
struct Grid {
  int w, h, stride;
  std::vector<PIXEL_YC> pixels;
  Grid(int w_, int h_, int stride_) : w(w_), h(h_), stride(stride_), pixels(stride_ * h_) {
    for (int r = 0; r < h; ++r)
      for (int c = 0; c < w; ++c)
        pixels[r * stride + c] = PIXEL_YC{static_cast<short>(10 * c + 1000 * r),
                                          static_cast<short>(-c), static_cast<short>(r)};
  }
  SourceFrame frame() const { return SourceFrame{pixels.data(), w, h, stride}; }
};

template <typename View>
PIXEL_YC Sample(const Grid& g, float x, float y, bool bilinear, bool equirect = false,
                bool green = false, bool outside = false) {
  PIXEL_YC out{1, 1, 1};
  lens::SampleOrFill<View>(g.frame(), &out, SourcePoint{x, y, outside},
                             SampleOptions{bilinear, green, equirect});
  return out;
}

bool IsBlack(const PIXEL_YC& p) { return p.y == 0 && p.cb == 0 && p.cr == 0; }
// -1 for the fill, so that a read of column 0 cannot pass for it (rows > 0).
int Column(const PIXEL_YC& p) { return IsBlack(p) ? -1 : -p.cb; }

TEST(Fill, GreenBackIsTheEditorsPureGreenAsWords) {
  const Grid g(4, 4, 4);
  const PIXEL_YC p = Sample<varnel::View>(g, 1, 1, false, false, true, /*outside=*/true);
  std::uint16_t words[3];
  std::memcpy(words, &p, sizeof(words));
  EXPECT_EQ(words[0], 0x0964);
  EXPECT_EQ(words[1], 0xFAB3);
  EXPECT_EQ(words[2], 0xF94D);
  EXPECT_TRUE(IsBlack(Sample<trimbel::View>(g, 1, 1, true, false, false, true)));
}

TEST(Fill, NotANumberFailsEveryRangeTest) {
  const Grid g(4, 4, 4);
  const float nan = std::nanf("");
  for (bool bilinear : {false, true}) {
    EXPECT_TRUE(IsBlack(Sample<varnel::View>(g, nan, 1, bilinear)));
    EXPECT_TRUE(IsBlack(Sample<oskuda::View>(g, 1, nan, bilinear)));
    EXPECT_TRUE(IsBlack(Sample<trimbel::View>(g, nan, nan, bilinear, true)));
  }
}

TEST(NearestPixelEdge, BandAroundTheFrameReadsTheEdgePixel) {
  const Grid g(8, 4, 10);
  EXPECT_EQ(Column(Sample<varnel::View>(g, -0.5f, 1, false)), 0);
  EXPECT_EQ(Column(Sample<varnel::View>(g, 0.99f, 1, false)), 0);
  EXPECT_EQ(Column(Sample<varnel::View>(g, 7.99f, 1, false)), 7);
  // Varnel's upper bound is inclusive, Oskuda's is not.
  EXPECT_EQ(Column(Sample<varnel::View>(g, 8.5f, 1, false)), 7);
  EXPECT_TRUE(IsBlack(Sample<oskuda::View>(g, 8.5f, 1, false)));
  EXPECT_EQ(Column(Sample<oskuda::View>(g, 8.499999f, 1, false)), 7);
  EXPECT_TRUE(IsBlack(Sample<varnel::View>(g, -0.5000001f, 1, false)));
  EXPECT_TRUE(IsBlack(Sample<varnel::View>(g, 8.500001f, 1, false)));
  // Rows clamp the same way.
  EXPECT_EQ(Sample<varnel::View>(g, 1, 4.5f, false).cr, 3);
  EXPECT_EQ(Sample<varnel::View>(g, 1, -0.5f, false).cr, 0);
  EXPECT_TRUE(IsBlack(Sample<oskuda::View>(g, 1, 4.5f, false)));
}

TEST(NearestPixelEdge, PanoramaSeamReadsColumnZero) {
  const Grid g(8, 4, 8);
  EXPECT_EQ(Column(Sample<varnel::View>(g, 8.0f, 2, false, true)), 0);
  EXPECT_EQ(Column(Sample<varnel::View>(g, 8.0f, 2, false, false)), 7);
}

TEST(NearestPixelCentre, HalvesRoundUpAndOnlyPanoramasWrap) {
  const Grid g(8, 4, 8);
  EXPECT_EQ(Column(Sample<trimbel::View>(g, 0.49f, 1, false)), 0);
  EXPECT_EQ(Column(Sample<trimbel::View>(g, 0.5f, 1, false)), 1);
  EXPECT_EQ(Column(Sample<trimbel::View>(g, -0.5f, 1, false)), 0);
  EXPECT_TRUE(IsBlack(Sample<trimbel::View>(g, -0.5000001f, 1, false)));
  EXPECT_TRUE(IsBlack(Sample<trimbel::View>(g, 7.5f, 1, false)));
  EXPECT_EQ(Column(Sample<trimbel::View>(g, 7.5f, 1, false, true)), 0);
  EXPECT_EQ(Column(Sample<trimbel::View>(g, 8.0f, 1, false, true)), 0);
  EXPECT_EQ(Sample<trimbel::View>(g, 1, 3.49f, false).cr, 3);
  EXPECT_TRUE(IsBlack(Sample<trimbel::View>(g, 1, 3.5f, false)));
}

TEST(Bilinear, WorkedMixGivesY250) {
  Grid g(2, 2, 2);
  g.pixels[0].y = 100;
  g.pixels[1].y = 200;
  g.pixels[2].y = 300;
  g.pixels[3].y = 400;
  EXPECT_EQ(Sample<varnel::View>(g, 1.0f, 1.0f, true).y, 250);
  EXPECT_EQ(Sample<oskuda::View>(g, 1.0f, 1.0f, true).y, 250);
  // The pixel-centre convention mixes the pixels around the position itself.
  EXPECT_EQ(Sample<trimbel::View>(g, 0.5f, 0.5f, true).y, 250);
}

TEST(Bilinear, MixTruncatesTowardZero) {
  EXPECT_EQ(lens::MixChannel(-3, -4, 0, 0, lens::MixWeights<float>{0.5f, 0.5f, 0.0f, 0.0f}), -3);
  EXPECT_EQ(lens::MixChannel(250, 251, 0, 0, lens::MixWeights<float>{0.1f, 0.9f, 0.0f, 0.0f}), 250);
  EXPECT_EQ(lens::MixChannel(32767, 32767, 32767, 32767, lens::MixWeights<float>{0.25f, 0.25f, 0.25f, 0.25f}), 32767);
  EXPECT_EQ(lens::MixChannel(-32768, -32768, -32768, -32768, lens::MixWeights<float>{0.25f, 0.25f, 0.25f, 0.25f}), -32768);
}

TEST(Bilinear, EdgesClampAndRangesDifferPerConvention) {
  const Grid g(8, 4, 8);
  // Pixel edges: x = W clamps to the last column exactly.
  const PIXEL_YC last = Sample<varnel::View>(g, 8.0f, 0.5f, true);
  EXPECT_EQ(last.y, 70);
  EXPECT_TRUE(IsBlack(Sample<varnel::View>(g, 8.000001f, 1, true)));
  EXPECT_TRUE(IsBlack(Sample<oskuda::View>(g, -0.000001f, 1, true)));
  // Pixel centres accept the half-pixel band.
  EXPECT_EQ(Sample<trimbel::View>(g, -0.5f, 0, true).y, 0);
  EXPECT_EQ(Sample<trimbel::View>(g, 8.5f, 0, true).y, 70);
  EXPECT_TRUE(IsBlack(Sample<trimbel::View>(g, 8.500001f, 0, true)));
}

TEST(Bilinear, PanoramaSeamMixesLastAndFirstColumn) {
  Grid g(8, 2, 8);
  g.pixels[7].y = 1000;
  g.pixels[0].y = 2000;
  EXPECT_EQ(Sample<trimbel::View>(g, 7.5f, 0, true, true).y, 1500);
  // Without the panorama flag the last column is mixed with itself.
  EXPECT_EQ(Sample<trimbel::View>(g, 7.5f, 0, true, false).y, 1000);
}

TEST(Bilinear, OnePixelWideOrHighMixesAlongTheOtherAxis) {
  Grid tall(1, 2, 1);
  tall.pixels[0].y = 100;
  tall.pixels[1].y = 300;
  EXPECT_EQ(Sample<varnel::View>(tall, 0.5f, 1.0f, true).y, 200);
  Grid wide(2, 1, 2);
  wide.pixels[0].y = 100;
  wide.pixels[1].y = 300;
  EXPECT_EQ(Sample<varnel::View>(wide, 1.0f, 0.5f, true).y, 200);
}

TEST(EmptySource, FillsInsteadOfReadingOutsideTheFrame) {
  // A source of width or height 0 has no pixel to clamp onto.
  const Grid g(0, 4, 4);
  EXPECT_TRUE(IsBlack(Sample<varnel::View>(g, 0, 0, true)));
  EXPECT_TRUE(IsBlack(Sample<varnel::View>(g, 0, 0, false)));
  const Grid flat(4, 0, 4);
  EXPECT_TRUE(IsBlack(Sample<trimbel::View>(flat, 0, 0, true)));
}

}  // namespace

// The in-range test compared in float gives the double test's verdict and
// position for every filter and sampler, at and one float step around each
// bound, for sizes up to the limit of the float comparison.
template <typename View>
void ExpectFloatBoundsAgree(int w, int h) {
  const SourceFrame frame{nullptr, w, h, w};
  std::vector<float> values = {std::nanf(""), INFINITY, -INFINITY, 1e30f, -1e30f};
  for (double bound : {-0.5, 0.0, 0.5, static_cast<double>(w) - 0.5, static_cast<double>(w),
                       static_cast<double>(w) + 0.5, static_cast<double>(h) - 0.5,
                       static_cast<double>(h), static_cast<double>(h) + 0.5}) {
    const float b = static_cast<float>(bound);
    values.insert(values.end(), {b, std::nextafter(b, -INFINITY), std::nextafter(b, INFINITY)});
  }
  for (bool bilinear : {false, true}) {
    for (bool equirect : {false, true}) {
      const SampleOptions options{bilinear, false, equirect};
      for (float x : values) {
        for (float y : values) {
          const SourcePoint p{x, y, false};
          const lens::AdmittedPosition d = lens::AdmitPosition<View>(frame, p, options);
          const lens::AdmittedPosition f = lens::AdmitPosition<View, float>(frame, p, options);
          ASSERT_EQ(d.in_range, f.in_range) << w << "x" << h << " at " << x << ", " << y;
          if (d.in_range) {
            ASSERT_EQ(std::memcmp(&d.x, &f.x, sizeof(float)), 0);
            ASSERT_EQ(std::memcmp(&d.y, &f.y, sizeof(float)), 0);
          }
        }
      }
    }
  }
}

TEST(InRange, FloatComparisonsAgreeWithDoubleBelowTheSizeLimit) {
  for (auto [w, h] : {std::pair{1, 1}, std::pair{7, 3}, std::pair{3840, 1920},
                      std::pair{(1 << 22) - 1, (1 << 22) - 1}, std::pair{(1 << 22) - 1, 1}}) {
    ExpectFloatBoundsAgree<varnel::View>(w, h);
    ExpectFloatBoundsAgree<oskuda::View>(w, h);
    ExpectFloatBoundsAgree<trimbel::View>(w, h);
  }
}
