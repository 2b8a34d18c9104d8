// Whole frames through the built plug-in, loaded and driven as the editor
// does: turning directions, the identity at the defaults, odd frames, the
// extreme fields of view, the circular mask, and the frame invariants.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dome_reference.h"
#include "oskuda_frames.h"
#include "support/plugin_checks.h"

namespace {

using namespace oskuda_test;
using testing_support::CountDifferences;
using testing_support::FillCoordinates;
using testing_support::FillNoise;
using testing_support::FillWith;
using testing_support::kSentinel;
using testing_support::RunWithThreads;
using testing_support::SamePixel;

constexpr PIXEL_YC kGreen = {2404, -1357, -1715};
constexpr PIXEL_YC kBlack = {0, 0, 0};

// ---------------------------------------------------------------- turning directions

struct TurnPoint {
  const char* what;
  int pitch, azimuth, roll;  // track values, tenths of a degree
  int out_c, out_r;          // output pixel
  double near_x, near_y;     // where the pixel should sample the source
  int src_c, src_r;          // the source pixel that nearest sampling reads there
};

// Runs one frame of a coordinate-pattern source of w x h (scaled by `scale`)
// and returns the output, size out_w x out_h with stride w.
std::vector<PIXEL_YC> RunPattern(Instance& f, int w, int h, int scale) {
  host::FrameBuffers buffers(w, h);
  if (scale == 1) {
    FillCoordinates(buffers.a, w, w, h);
  } else {
    FillScaledCoordinates(buffers.a, w, w, h, scale);
  }
  FillWith(buffers.b, kSentinel);
  const host::FrameResult result = host::RunFrame(f.instance, buffers, w, h);
  EXPECT_EQ(result.returned, 1);
  EXPECT_TRUE(result.exchanged);
  return std::vector<PIXEL_YC>(result.frame, result.frame + static_cast<size_t>(w) * h);
}

void CheckTurnPoints(const TurnPoint* points, int count, bool equirectangular, int w, int h) {
  for (int n = 0; n < count; ++n) {
    const TurnPoint& p = points[n];
    SCOPED_TRACE(p.what);
    {
      // The quoted positions agree with the independent reference to 0.05.
      Instance f;
      f.track[kPitch] = p.pitch;
      f.track[kAzimuth] = p.azimuth;
      f.track[kRoll] = p.roll;
      f.check[kEquirectangular] = equirectangular;
      const dome_reference::Position ref =
          dome_reference::SourcePosition(f.track, f.check, w, h, 1024, 1024, p.out_c, p.out_r);
      EXPECT_FALSE(ref.outside);
      EXPECT_NEAR(ref.x, p.near_x, 0.05);
      EXPECT_NEAR(ref.y, p.near_y, 0.05);
    }
    for (bool bilinear : {false, true}) {
      Instance f;
      f.track[kPitch] = p.pitch;
      f.track[kAzimuth] = p.azimuth;
      f.track[kRoll] = p.roll;
      f.check[kEquirectangular] = equirectangular;
      f.check[kSquare] = 1;  // a 1024 x 1024 output from either input
      f.check[kBilinear] = bilinear;
      const int scale = bilinear ? 8 : 1;
      const std::vector<PIXEL_YC> out = RunPattern(f, w, h, scale);
      const PIXEL_YC& got = out[Index(w, p.out_c, p.out_r)];
      if (!bilinear) {
        // Nearest with pixel edges: the source pixel that contains the position.
        EXPECT_EQ(got.y, p.src_c) << "column read by output (" << p.out_c << ", " << p.out_r << ")";
        EXPECT_EQ(got.cb, p.src_r) << "row read by output (" << p.out_c << ", " << p.out_r << ")";
        EXPECT_EQ(got.cr, 7);
      } else {
        // Bilinear on a scaled pattern: the sampled position itself.
        EXPECT_NEAR(got.y / 8.0 + 0.5, p.near_x, 0.2);
        EXPECT_NEAR(got.cb / 8.0 + 0.5, p.near_y, 0.2);
      }
    }
  }
}

TEST(OskudaTurning, EquidistantInputPitchAzimuthRoll) {
  // 1024 x 1024 Equidistant input of 180 degrees, 1024 x 1024 output at 180
  // degrees. Positive pitch looks up, positive azimuth right,
  // positive roll turns the picture counter-clockwise.
  const TurnPoint points[] = {
      {"defaults: the centre reads the centre", 0, 0, 0, 512, 512, 512.5, 512.5, 512, 512},
      {"pitch 45: above the source centre", 450, 0, 0, 512, 512, 512.6, 256.5, 512, 256},
      {"pitch -45: below it", -450, 0, 0, 512, 512, 512.6, 768.5, 512, 768},
      {"azimuth 45: right of it", 0, 450, 0, 512, 512, 768.5, 512.6, 768, 512},
      {"roll 90: right of the centre reads below it", 0, 0, 900, 767, 512, 511.5, 767.5, 511, 767},
      {"roll 90: below the centre reads left of it", 0, 0, 900, 512, 767, 256.5, 512.5, 256, 512},
      {"roll 0: pair (0, 255), k = 0, reads itself", 0, 0, 0, 767, 512, 767.5, 512.5, 767, 512},
  };
  CheckTurnPoints(points, sizeof(points) / sizeof(points[0]), false, 1024, 1024);
}

TEST(OskudaTurning, EquirectangularInput) {
  // 2048 x 1024 panorama, square cut-out to 1024 x 1024. Rows quoted as 512.0
  // lie at 511.9995 and are read from row 511.
  const TurnPoint points[] = {
      {"angles 0: the centre reads the middle of the panorama", 0, 0, 0, 512, 512, 1024.5, 512.0, 1024, 511},
      {"angles 0: right end of the diameter, a quarter turn right", 0, 0, 0, 1023, 512, 1535.5, 511.8, 1535, 511},
      {"angles 0: left end, a quarter turn left", 0, 0, 0, 0, 512, 512.5, 511.8, 512, 511},
      {"pitch 90: the centre reads the top row", 900, 0, 0, 512, 512, 1280.0, 0.7, 1280, 0},
      {"pitch 90: right end", 900, 0, 0, 1023, 512, 1535.7, 511.0, 1535, 511},
      {"pitch 90: left end", 900, 0, 0, 0, 512, 512.3, 511.0, 512, 511},
      {"azimuth 90: the centre moves a quarter turn right", 0, 900, 0, 512, 512, 1536.5, 512.0, 1536, 511},
  };
  CheckTurnPoints(points, sizeof(points) / sizeof(points[0]), true, 2048, 1024);
}

// ---------------------------------------------------------------- defaults

TEST(OskudaFrame, DefaultsGiveAnEvenSquareInputBackUnchanged) {
  for (int size : {2, 1080}) {
    for (int extra : {0, 13}) {  // with a wider capacity the stride differs from the width
      SCOPED_TRACE(testing::Message() << size << " in " << size + extra);
      Instance f;
      host::FrameBuffers buffers(size + extra, size + extra);
      FillNoise(buffers.a, 1000u + static_cast<unsigned>(size));
      const std::vector<PIXEL_YC> source = buffers.a;
      FillWith(buffers.b, kSentinel);
      const host::FrameResult result = host::RunFrame(f.instance, buffers, size, size);
      EXPECT_EQ(result.returned, 1);
      EXPECT_TRUE(result.exchanged);
      EXPECT_EQ(result.w, size);
      EXPECT_EQ(result.h, size);
      EXPECT_EQ(CountDifferences(result.frame, source.data(), size, size, buffers.max_w), 0);
    }
  }
}

TEST(OskudaFrame, DefaultsOnAnOddSquareInputDropTheLastColumnAndRow) {
  Instance f;
  host::FrameBuffers buffers(65, 65);
  FillNoise(buffers.a, 65);
  const std::vector<PIXEL_YC> source = buffers.a;
  const host::FrameResult result = host::RunFrame(f.instance, buffers, 65, 65);
  EXPECT_EQ(result.w, 64);
  EXPECT_EQ(result.h, 64);
  // The 64 x 64 output is not the top-left of the input: the circle is
  // centred on 32.5 of the source.
  std::vector<PIXEL_YC> expected_scratch(65 * 65, kSentinel);
  dome_reference::Size size;
  const std::vector<PIXEL_YC> expected = dome_reference::Frame(
      f.track, f.check, source, 65, 65, 65, 65, expected_scratch, &size);
  EXPECT_EQ(CountDifferences(result.frame, expected.data(), 64, 64, 65), 0);
}

TEST(OskudaFrame, ZeroHeightInputWithSquareCutOutFillsEveryPixel) {
  // A 64 x 0 input, height setting 64 and the square cut-out: a 64 x 64
  // output from an empty source. Every pixel gets the fill colour.
  Instance f;
  f.check[kUseHeight] = 1;
  f.track[kHeight] = 64;
  f.check[kSquare] = 1;
  f.check[kGreenBack] = 1;
  host::FrameBuffers buffers(64, 64);
  FillNoise(buffers.a, 6);
  FillWith(buffers.b, kSentinel);
  const host::FrameResult result = host::RunFrame(f.instance, buffers, 64, 0);
  EXPECT_EQ(result.w, 64);
  EXPECT_EQ(result.h, 64);
  for (int i = 0; i < 64 * 64; ++i) ASSERT_TRUE(SamePixel(result.frame[i], kGreen)) << i;
}

// ---------------------------------------------------------------- fields of view

TEST(OskudaFrame, OutputFieldOfViewZeroGivesOneColour) {
  Instance f;
  f.track[kOutFov] = 0;
  f.track[kPitch] = 250;  // straight along the turned view: still one point
  const int n = 64;
  const std::vector<PIXEL_YC> out = RunPattern(f, n, n, 1);
  const PIXEL_YC first = out[Index(n, n / 2, n / 2)];
  EXPECT_EQ(first.cr, 7);  // a source pixel, not the fill
  for (int i = 0; i < n * n; ++i) ASSERT_TRUE(SamePixel(out[i], first)) << i;
  // Pitch 25 degrees: the point straight along the view lies above the centre.
  EXPECT_EQ(first.y, n / 2);
  EXPECT_LT(first.cb, n / 2);
}

TEST(OskudaFrame, OutputFieldOfView360ReachesStraightBehindOnTheCircle) {
  // Panorama input: the centre looks at the middle column (azimuth pi), the
  // two ends of the horizontal diameter look at the seam (azimuth 0), the
  // direction straight behind.
  Instance f;
  f.track[kOutFov] = 3600;
  f.check[kEquirectangular] = 1;
  f.check[kSquare] = 1;
  const std::vector<PIXEL_YC> out = RunPattern(f, 2048, 1024, 1);
  const PIXEL_YC& centre = out[Index(2048, 512, 512)];
  const PIXEL_YC& right = out[Index(2048, 1023, 512)];
  const PIXEL_YC& left = out[Index(2048, 0, 512)];
  const PIXEL_YC& top = out[Index(2048, 512, 0)];
  // The centre pixel's ray is 0.25 degrees off the axis at this scale.
  EXPECT_NEAR(centre.y, 1024, 1);
  EXPECT_NEAR(centre.cb, 511, 1);
  EXPECT_EQ(right.y, 2047);  // x 2047.0005: just short of the seam
  EXPECT_EQ(left.y, 0);      // x 0.9995
  EXPECT_EQ(top.y, 2047);    // x 2047.999
  for (const PIXEL_YC* p : {&right, &left, &top}) {
    EXPECT_NEAR(p->cb, 511, 1);  // on the horizon, behind
  }
  // An Equidistant input of 360 degrees has straight behind on its own
  // rim, the circle of radius W/2: the right end of the output's diameter
  // (theta 179.8 degrees) reads the source's right edge near (1023.5, 512.5).
  Instance g;
  g.track[kOutFov] = 3600;
  g.track[kInFov] = 3600;
  const std::vector<PIXEL_YC> fish = RunPattern(g, 1024, 1024, 1);
  EXPECT_EQ(fish[Index(1024, 1023, 512)].y, 1023);
  EXPECT_EQ(fish[Index(1024, 1023, 512)].cb, 512);
  EXPECT_EQ(fish[Index(1024, 0, 512)].y, 0);
  const dome_reference::Position p =
      dome_reference::SourcePosition(g.track, g.check, 1024, 1024, 1024, 1024, 1023, 512);
  EXPECT_NEAR(p.x, 1023.5, 0.01);
  EXPECT_NEAR(p.y, 512.5, 0.01);
}

// ---------------------------------------------------------------- invariants

TEST(OskudaFrame, WholeFrameInvariants) {
  testing_support::ExpectFrameInvariants(Plugin().table(), {
      {"2 x 2", 2, 2, 9, 7, {}},
      {"6 x 10 bilinear, taller", 6, 10, 13, 15, {{{kAzimuth, 300}}, {kBilinear}}},
      {"panorama, turned", 64, 48, 71, 53, {{{kPitch, 200}, {kAzimuth, 400}, {kRoll, 600}}, {kEquirectangular, kGreenBack}}},
      {"central, mask", 200, 120, 207, 125, {{{kPitch, -100}, {kRoll, 300}}, {kCentral, kCircleMask}}},
      {"equisolid at the ends", 90, 160, 90, 160, {{{kPitch, 1800}, {kAzimuth, -1800}}, {kEquisolid, kBilinear}}},
      {"odd capacity 63 x 63", 40, 30, 63, 63, {{{kHeight, 64}}, {kUseHeight}}},
      {"odd max_w only", 40, 30, 63, 80, {{{kHeight, 64}}, {kUseHeight}}},
      {"odd max_h only, square", 100, 60, 100, 61, {{{kHeight, 80}}, {kUseHeight, kSquare}}},
  });
}

TEST(OskudaFrame, CircularMaskFillsTheCornersOfA4x4Output) {
  Instance f;
  f.check[kCircleMask] = 1;
  f.check[kGreenBack] = 1;
  const std::vector<PIXEL_YC> out = RunPattern(f, 4, 4, 1);
  for (int r = 0; r < 4; ++r) {
    for (int c = 0; c < 4; ++c) {
      const bool corner = (c == 0 || c == 3) && (r == 0 || r == 3);
      const PIXEL_YC& p = out[Index(4, c, r)];
      if (corner) {
        EXPECT_TRUE(SamePixel(p, kGreen)) << c << "," << r;
      } else {
        // Sampled: the defaults give the input back.
        EXPECT_EQ(p.y, c);
        EXPECT_EQ(p.cb, r);
      }
    }
  }
}

TEST(OskudaFrame, CircularMaskOn1024x1024) {
  // Pair (361, 361) (rho 511.24) is inside, (362, 362) (rho 512.65) outside:
  // pixels (873, 873) and (874, 874) and their mirrors.
  Instance f;
  f.check[kCircleMask] = 1;
  const std::vector<PIXEL_YC> out = RunPattern(f, 1024, 1024, 1);
  for (int c : {873, 512 - 1 - 361}) {
    for (int r : {873, 512 - 1 - 361}) {
      EXPECT_EQ(out[Index(1024, c, r)].y, c);
      EXPECT_EQ(out[Index(1024, c, r)].cb, r);
    }
  }
  for (int c : {874, 512 - 1 - 362}) {
    for (int r : {874, 512 - 1 - 362}) {
      EXPECT_TRUE(SamePixel(out[Index(1024, c, r)], kBlack)) << c << "," << r;
    }
  }
  // Along the horizontal diameter every pixel is inside (rho < 512).
  EXPECT_EQ(out[Index(1024, 1023, 512)].y, 1023);
  EXPECT_EQ(out[Index(1024, 0, 511)].y, 0);
}

}  // namespace
