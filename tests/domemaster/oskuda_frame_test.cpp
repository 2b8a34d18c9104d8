// Whole frames through the built plug-in, loaded and driven as the editor
// does (dlopen, GetFilterTable, func_proc): turning directions, the identity
// at the defaults, sizes, empty and odd frames, the extreme fields of view,
// and the invariants of every frame (each pixel written once, nothing else
// written, the source untouched, the same bytes for any thread count).
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "dome_reference.h"
#include "oskuda_frames.h"

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

TEST(OskudaTurning, TestPointsAgreeWithTheIndependentReference) {
  // The positions of the test points, from the reference written from the
  // formulas, lie within 0.05 of the rounded values quoted here.
  struct Row { int pitch, azimuth, roll, c, r; bool equirect; double x, y; };
  const Row rows[] = {
      {450, 0, 0, 512, 512, false, 512.6, 256.5},  {-450, 0, 0, 512, 512, false, 512.6, 768.5},
      {0, 450, 0, 512, 512, false, 768.5, 512.6},  {0, 0, 900, 767, 512, false, 511.5, 767.5},
      {0, 0, 900, 512, 767, false, 256.5, 512.5},  {0, 0, 0, 512, 512, true, 1024.5, 512.0},
      {0, 0, 0, 1023, 512, true, 1535.5, 511.8},   {0, 0, 0, 0, 512, true, 512.5, 511.8},
      {900, 0, 0, 512, 512, true, 1280.0, 0.7},    {900, 0, 0, 1023, 512, true, 1535.7, 511.0},
      {900, 0, 0, 0, 512, true, 512.3, 511.0},     {0, 900, 0, 512, 512, true, 1536.5, 512.0},
  };
  for (const Row& row : rows) {
    Instance f;
    f.track[kPitch] = row.pitch;
    f.track[kAzimuth] = row.azimuth;
    f.track[kRoll] = row.roll;
    f.check[kEquirectangular] = row.equirect;
    const int w = row.equirect ? 2048 : 1024;
    const dome_reference::Position p =
        dome_reference::SourcePosition(f.track, f.check, w, 1024, 1024, 1024, row.c, row.r);
    EXPECT_FALSE(p.outside);
    EXPECT_NEAR(p.x, row.x, 0.05) << row.pitch << " " << row.azimuth << " " << row.roll;
    EXPECT_NEAR(p.y, row.y, 0.05) << row.pitch << " " << row.azimuth << " " << row.roll;
  }
}

// ---------------------------------------------------------------- defaults

TEST(OskudaFrame, DefaultsGiveAnEvenSquareInputBackUnchanged) {
  for (int size : {2, 64, 1080}) {
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

// ---------------------------------------------------------------- input choice

TEST(OskudaFrame, TheHighestTickedInputBoxWins) {
  // Frames with several boxes equal the frame of the highest box alone, and
  // each input gives a different frame.
  const int w = 96;
  const int h = 64;
  auto run = [&](std::vector<int> boxes) {
    Instance f;
    f.track[kPitch] = 200;
    f.track[kAzimuth] = -300;
    for (int b : boxes) f.check[b] = 1;
    host::FrameBuffers buffers(w, h);
    FillNoise(buffers.a, 42);
    const host::FrameResult result = host::RunFrame(f.instance, buffers, w, h);
    return std::vector<PIXEL_YC>(result.frame, result.frame + w * h);
  };
  const std::vector<PIXEL_YC> equidistant = run({});
  const std::vector<PIXEL_YC> orthographic = run({kOrthographic});
  const std::vector<PIXEL_YC> equisolid = run({kEquisolid});
  const std::vector<PIXEL_YC> central = run({kCentral});
  const std::vector<PIXEL_YC> panorama = run({kEquirectangular});
  EXPECT_EQ(CountDifferences(run({kOrthographic, kEquisolid}).data(), equisolid.data(), w, h, w), 0);
  EXPECT_EQ(CountDifferences(run({kEquisolid, kCentral}).data(), central.data(), w, h, w), 0);
  EXPECT_EQ(CountDifferences(run({kOrthographic, kCentral, kEquirectangular}).data(), panorama.data(), w, h, w), 0);
  EXPECT_EQ(CountDifferences(run({kOrthographic, kEquisolid, kCentral, kEquirectangular}).data(),
                             panorama.data(), w, h, w), 0);
  const std::vector<PIXEL_YC>* all[] = {&equidistant, &orthographic, &equisolid, &central, &panorama};
  for (int a = 0; a < 5; ++a)
    for (int b = a + 1; b < 5; ++b)
      EXPECT_GT(CountDifferences(all[a]->data(), all[b]->data(), w, h, w), 0) << a << " " << b;
}

// ---------------------------------------------------------------- sizes

struct SizeCase {
  const char* what;
  int w, h, max_w, max_h;
  bool use_height;
  int height;
  bool square;
  int out_w, out_h;
};

// Runs one frame with a sentinel-filled scratch buffer and checks the size,
// the exchange, that every pixel of the out_w x out_h window except a last
// odd column or row is written, and that nothing else is.
void CheckSizeCase(const SizeCase& s) {
  SCOPED_TRACE(s.what);
  Instance f;
  f.check[kUseHeight] = s.use_height;
  f.track[kHeight] = s.height;
  f.check[kSquare] = s.square;
  host::FrameBuffers buffers(s.max_w, s.max_h);
  FillNoise(buffers.a, 9);
  FillWith(buffers.b, kSentinel);
  const host::FrameResult result = host::RunFrame(f.instance, buffers, s.w, s.h);
  EXPECT_EQ(result.returned, 1);
  EXPECT_TRUE(result.exchanged);
  EXPECT_EQ(result.w, s.out_w);
  EXPECT_EQ(result.h, s.out_h);
  long written_outside = 0;
  long unwritten_inside = 0;
  for (int r = 0; r < s.max_h; ++r) {
    for (int c = 0; c < s.max_w; ++c) {
      const bool written = !IsSentinel(result.frame[Index(s.max_w, c, r)]);
      const bool reached = c < (s.out_w / 2) * 2 && r < (s.out_h / 2) * 2;
      if (reached && !written) ++unwritten_inside;
      if (!reached && written) ++written_outside;
    }
  }
  EXPECT_EQ(unwritten_inside, 0);
  EXPECT_EQ(written_outside, 0);
}

TEST(OskudaFrame, OutputSizeExamples) {
  const SizeCase cases[] = {
      {"1920x1080 unchanged", 1920, 1080, 1920, 1080, false, 480, false, 1920, 1080},
      {"1920x1080 square cut-out", 1920, 1080, 1920, 1080, false, 480, true, 1080, 1080},
      {"height 480: 852 x 480", 1920, 1080, 1920, 1080, true, 480, false, 852, 480},
      {"height 480 and square: 480 x 480", 1920, 1080, 1920, 1080, true, 480, true, 480, 480},
      {"height 481 and square: 480 x 480", 1920, 1080, 1920, 1080, true, 481, true, 480, 480},
      {"square higher than max_w: not square", 200, 300, 250, 400, false, 480, true, 250, 300},
      {"height larger than max_h", 320, 240, 400, 300, true, 2000, false, 400, 300},
  };
  for (const SizeCase& s : cases) CheckSizeCase(s);
}

TEST(OskudaFrame, OddCapacityLeavesTheLastColumnAndRowAsTheyWere) {
  // 40 x 30 input, height 64: (40 / 30) x 64 = 85.3 -> 84 x 64, limited to
  // the odd capacity 63 x 63. Pairs reach columns and rows 0 to 61.
  CheckSizeCase({"odd max_w and max_h", 40, 30, 63, 63, true, 64, false, 63, 63});
  CheckSizeCase({"odd max_w only", 40, 30, 63, 80, true, 64, false, 63, 64});
  CheckSizeCase({"odd max_h only (square)", 100, 60, 100, 61, true, 80, true, 80, 61});
  // And what is written there is what the reference writes.
  Instance f;
  f.check[kUseHeight] = 1;
  f.track[kHeight] = 64;
  f.track[kPitch] = 150;
  host::FrameBuffers buffers(63, 63);
  FillNoise(buffers.a, 11);
  const std::vector<PIXEL_YC> source = buffers.a;
  FillWith(buffers.b, kSentinel);
  const std::vector<PIXEL_YC> scratch = buffers.b;
  const host::FrameResult result = host::RunFrame(f.instance, buffers, 40, 30);
  const std::vector<PIXEL_YC> expected =
      dome_reference::Frame(f.track, f.check, source, 40, 30, 63, 63, scratch, nullptr);
  EXPECT_EQ(CountDifferences(result.frame, expected.data(), 63, 63, 63), 0);
}

TEST(OskudaFrame, HeightSettingOneGivesAnEmptyFrame) {
  for (bool square : {false, true}) {
    Instance f;
    f.check[kUseHeight] = 1;
    f.track[kHeight] = 1;
    f.check[kSquare] = square;
    host::FrameBuffers buffers(1920, 1080);
    FillNoise(buffers.a, 5);
    FillWith(buffers.b, kSentinel);
    const host::FrameResult result = host::RunFrame(f.instance, buffers, 1920, 1080);
    EXPECT_EQ(result.returned, 1);
    EXPECT_TRUE(result.exchanged);  // the buffers are exchanged all the same
    EXPECT_EQ(result.w, 0);
    EXPECT_EQ(result.h, 0);
    long written = 0;
    for (const PIXEL_YC& p : buffers.b) written += !IsSentinel(p);
    EXPECT_EQ(written, 0);
  }
}

TEST(OskudaFrame, FramesOfOnePixelOrNoneWriteNothing) {
  struct Row { int w, h; bool use_height; int out_w, out_h; };
  const Row rows[] = {
      {64, 1, false, 64, 0},   // height 1 becomes 0
      {1, 64, false, 0, 64},   // width 1 becomes 0
      {64, 0, true, 0, 64},    // zero-height input with the height box: the width is 0
      {0, 0, true, 0, 64},     // nothing at all
      {0, 64, false, 0, 64},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.w << " x " << row.h);
    Instance f;
    f.check[kUseHeight] = row.use_height;
    f.track[kHeight] = 64;
    host::FrameBuffers buffers(64, 64);
    FillNoise(buffers.a, 6);
    FillWith(buffers.b, kSentinel);
    const host::FrameResult result = host::RunFrame(f.instance, buffers, row.w, row.h);
    EXPECT_EQ(result.returned, 1);
    EXPECT_TRUE(result.exchanged);
    EXPECT_EQ(result.w, row.out_w);
    EXPECT_EQ(result.h, row.out_h);
    long written = 0;
    for (const PIXEL_YC& p : buffers.b) written += !IsSentinel(p);
    EXPECT_EQ(written, 0);
  }
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
  for (bool mask : {false, true}) {
    Instance f;
    f.track[kOutFov] = 0;
    f.track[kPitch] = 250;  // straight along the turned view: still one point
    f.check[kCircleMask] = mask;
    f.check[kGreenBack] = mask;
    const int n = 64;
    const std::vector<PIXEL_YC> out = RunPattern(f, n, n, 1);
    const PIXEL_YC first = out[Index(n, n / 2, n / 2)];
    EXPECT_EQ(first.cr, 7);  // a source pixel, not the fill
    long same = 0, green = 0;
    for (int r = 0; r < n; ++r) {
      for (int c = 0; c < n; ++c) {
        const PIXEL_YC& p = out[Index(n, c, r)];
        const double dx = c + 0.5 - n / 2;
        const double dy = r + 0.5 - n / 2;
        const bool inside = std::sqrt(dx * dx + dy * dy) < n / 2;
        if (mask && !inside) {
          green += SamePixel(p, kGreen);
        } else {
          same += SamePixel(p, first);
        }
      }
    }
    long outside_count = 0;
    if (mask) {
      for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c) {
          const double dx = c + 0.5 - n / 2, dy = r + 0.5 - n / 2;
          outside_count += !(std::sqrt(dx * dx + dy * dy) < n / 2);
        }
    }
    EXPECT_EQ(green, outside_count);
    EXPECT_EQ(same, n * n - outside_count);
    // Pitch 25 degrees: the point straight along the view lies above the centre.
    EXPECT_EQ(first.y, n / 2);
    EXPECT_LT(first.cb, n / 2);
  }
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

struct InvariantCase {
  const char* what;
  int w, h;
  std::vector<int> ticked;
  int pitch, azimuth, roll;
};

TEST(OskudaFrame, EveryPixelWrittenOnceNothingElseWrittenSourceUntouched) {
  const InvariantCase cases[] = {
      {"2 x 2", 2, 2, {}, 0, 0, 0},
      {"4 x 4 with mask", 4, 4, {kCircleMask}, 100, 0, 0},
      {"6 x 10, taller", 6, 10, {kBilinear}, 0, 300, 0},
      {"64 x 48 panorama", 64, 48, {kEquirectangular, kGreenBack}, 200, 400, 600},
      {"200 x 120 central, mask", 200, 120, {kCentral, kCircleMask}, -100, 0, 300},
      {"90 x 160 equisolid, bilinear", 90, 160, {kEquisolid, kBilinear}, 0, -700, 0},
      {"128 x 128 orthographic, green", 128, 128, {kOrthographic, kGreenBack}, 1800, 1800, -1800},
  };
  for (const InvariantCase& s : cases) {
    SCOPED_TRACE(s.what);
    Instance f;
    for (int b : s.ticked) f.check[b] = 1;
    f.track[kPitch] = s.pitch;
    f.track[kAzimuth] = s.azimuth;
    f.track[kRoll] = s.roll;
    // A larger capacity: the stride differs from the width and there is
    // room around the frame that must stay as it was.
    const int max_w = s.w + 7;
    const int max_h = s.h + 5;
    host::FrameBuffers buffers(max_w, max_h);
    FillNoise(buffers.a, static_cast<unsigned>(s.w * 31 + s.h));
    const std::vector<PIXEL_YC> source = buffers.a;
    FillWith(buffers.b, kSentinel);
    const host::FrameResult result = host::RunFrame(f.instance, buffers, s.w, s.h);
    ASSERT_EQ(result.w, s.w);
    ASSERT_EQ(result.h, s.h);
    // Even sizes: the remap makes 4 x (w/2) x (h/2) = w x h writes; with no
    // pixel of the window left unwritten, each is written exactly once.
    long left = 0, outside = 0;
    for (int r = 0; r < max_h; ++r) {
      for (int c = 0; c < max_w; ++c) {
        const bool sentinel = IsSentinel(result.frame[Index(max_w, c, r)]);
        if (c < s.w && r < s.h) left += sentinel;
        else outside += !sentinel;
      }
    }
    EXPECT_EQ(left, 0);
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(CountDifferences(result.scratch, source.data(), max_w, max_h, max_w), 0)
        << "the source frame was written";
  }
}

TEST(OskudaFrame, SameBytesForAnyThreadCount) {
  struct Case { std::vector<int> ticked; int pitch, azimuth, roll; int w, h; };
  const Case cases[] = {
      {{}, 300, -200, 100, 98, 74},
      {{kEquirectangular, kBilinear, kCircleMask}, -450, 1300, 200, 202, 102},
      {{kCentral, kGreenBack, kBilinear}, 100, 100, 100, 150, 150},
  };
  for (const Case& s : cases) {
    std::vector<std::vector<PIXEL_YC>> frames;
    for (int threads : {1, 2, 3, 8}) {
      Instance f;
      for (int b : s.ticked) f.check[b] = 1;
      f.track[kPitch] = s.pitch;
      f.track[kAzimuth] = s.azimuth;
      f.track[kRoll] = s.roll;
      host::FrameBuffers buffers(s.w, s.h);
      FillNoise(buffers.a, 77);
      FillWith(buffers.b, kSentinel);
      const host::FrameResult result = RunWithThreads(f.instance, buffers, s.w, s.h, threads);
      frames.emplace_back(result.frame, result.frame + s.w * s.h);
    }
    for (size_t n = 1; n < frames.size(); ++n)
      EXPECT_EQ(CountDifferences(frames[0].data(), frames[n].data(), s.w, s.h, s.w), 0) << n;
  }
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
