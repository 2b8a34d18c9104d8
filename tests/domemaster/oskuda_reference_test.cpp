// Whole frames of the built plug-in against the independent per-pixel
// reference (dome_reference.cpp, written from the formulas): every byte of the
// scratch buffer, for each input projection, nearest and bilinear sampling,
// black and green fill, with and without the circular mask, odd and even
// sizes, and extreme controls.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dome_reference.h"
#include "oskuda_frames.h"

namespace {

using namespace oskuda_test;

struct Setting {
  const char* name;
  int w, h;          // input size
  int max_w, max_h;  // capacity
  std::vector<std::pair<int, int>> tracks;  // (index, value)
  std::vector<int> ticked;
};

std::string Describe(const PIXEL_YC& p) {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "(%d, %d, %d)", p.y, p.cb, p.cr);
  return buf;
}

void CompareWithReference(const Setting& s, bool bilinear) {
  Instance f;
  for (const auto& t : s.tracks) f.track[t.first] = t.second;
  for (int b : s.ticked) f.check[b] = 1;
  f.check[kBilinear] = bilinear;
  host::FrameBuffers buffers(s.max_w, s.max_h);
  testing_support::FillNoise(buffers.a, static_cast<unsigned>(s.w * 7 + s.h * 13));
  const std::vector<PIXEL_YC> source = buffers.a;
  testing_support::FillWith(buffers.b, testing_support::kSentinel);
  const std::vector<PIXEL_YC> scratch = buffers.b;

  dome_reference::Size size;
  const std::vector<PIXEL_YC> expected = dome_reference::Frame(
      f.track, f.check, source, s.w, s.h, s.max_w, s.max_h, scratch, &size);
  const host::FrameResult result = host::RunFrame(f.instance, buffers, s.w, s.h);

  EXPECT_EQ(result.returned, 1);
  EXPECT_TRUE(result.exchanged);
  EXPECT_EQ(result.w, size.w);
  EXPECT_EQ(result.h, size.h);
  long differences = 0;
  long filled = 0;
  for (int r = 0; r < s.max_h; ++r) {
    for (int c = 0; c < s.max_w; ++c) {
      const size_t i = Index(s.max_w, c, r);
      if (!testing_support::SamePixel(result.frame[i], expected[i])) {
        if (differences < 5) {
          ADD_FAILURE() << "pixel (" << c << ", " << r << "): plug-in " << Describe(result.frame[i])
                        << ", reference " << Describe(expected[i]);
        }
        ++differences;
      }
      const PIXEL_YC& e = expected[i];
      filled += (e.y == 0 && e.cb == 0 && e.cr == 0) || (e.y == 2404 && e.cb == -1357 && e.cr == -1715);
    }
  }
  EXPECT_EQ(differences, 0) << "of " << s.max_w * s.max_h << " pixels";
  // The source is only read.
  EXPECT_EQ(testing_support::CountDifferences(result.scratch, source.data(), s.max_w, s.max_h, s.max_w), 0);
  ::testing::Test::RecordProperty(std::string(s.name) + (bilinear ? " bilinear" : " nearest") + " filled",
                 static_cast<int>(filled));
}

const Setting kSettings[] = {
    {"defaults_96x96", 96, 96, 96, 96, {}, {}},
    {"defaults_160x90_wider", 160, 90, 170, 100, {}, {}},
    {"equidistant_turned", 160, 120, 160, 120,
     {{kInFov, 2000}, {kOutFov, 2200}, {kPitch, 250}, {kAzimuth, -400}, {kRoll, 150}}, {}},
    {"equidistant_mask_green_taller", 100, 160, 100, 160,
     {{kInMask, 1500}, {kPitch, -100}}, {kCircleMask, kGreenBack}},
    {"equidistant_shift", 128, 96, 128, 96, {{kShiftX, 17}, {kShiftY, -9}, {kRoll, -300}}, {kGreenBack}},
    {"orthographic", 128, 128, 128, 128, {{kPitch, -300}, {kRoll, 600}}, {kOrthographic}},
    {"orthographic_fov360_mask", 128, 128, 128, 128,
     {{kInFov, 3600}, {kOutFov, 3000}}, {kOrthographic, kCircleMask}},
    {"equisolid", 150, 100, 150, 100, {{kInFov, 2400}, {kInMask, 3000}, {kAzimuth, 500}}, {kEquisolid}},
    {"central", 192, 108, 192, 108,
     {{kInFov, 900}, {kOutFov, 1200}, {kShiftX, 10}, {kShiftY, -5}, {kPitch, 100}}, {kCentral}},
    {"central_fov180_collapse", 120, 80, 120, 80, {{kOutFov, 900}}, {kCentral, kGreenBack}},
    {"central_fov250_mirrored", 120, 80, 120, 80, {{kInFov, 2500}, {kOutFov, 900}}, {kCentral}},
    {"panorama", 256, 128, 256, 128, {{kPitch, 300}, {kAzimuth, 1200}, {kRoll, -450}},
     {kEquirectangular, kSquare}},
    {"panorama_wide_output", 256, 128, 256, 128, {{kAzimuth, -1800}}, {kEquirectangular, kCircleMask}},
    {"panorama_fov360", 200, 100, 200, 100, {{kOutFov, 3600}}, {kEquirectangular, kSquare}},
    {"out_fov_zero", 64, 64, 64, 64, {{kOutFov, 0}, {kPitch, 200}}, {kCircleMask}},
    {"in_fov_zero", 64, 64, 64, 64, {{kInFov, 0}}, {kGreenBack}},
    {"in_mask_zero_panorama", 64, 32, 64, 32, {{kInMask, 0}}, {kEquirectangular}},
    {"extreme_angles", 96, 96, 96, 96, {{kPitch, 1800}, {kAzimuth, -1800}, {kRoll, 1800}}, {}},
    {"height_setting", 320, 180, 320, 180, {{kHeight, 100}, {kPitch, 50}}, {kUseHeight}},
    {"height_setting_square", 320, 180, 320, 180, {{kHeight, 121}}, {kUseHeight, kSquare, kCircleMask}},
    {"odd_capacity", 40, 30, 63, 63, {{kHeight, 64}, {kAzimuth, 200}}, {kUseHeight}},
    {"odd_capacity_panorama", 60, 30, 61, 45, {{kHeight, 44}}, {kUseHeight, kEquirectangular, kSquare}},
    {"odd_capacity_mask", 40, 30, 63, 63, {{kHeight, 64}, {kOutFov, 2000}}, {kUseHeight, kCircleMask, kGreenBack}},
    {"stride_wider_than_frame", 90, 70, 123, 77, {{kPitch, 400}}, {kEquisolid, kGreenBack}},
};

class OskudaReference : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(OskudaReference, PluginFrameEqualsReferenceFrame) {
  const Setting& s = kSettings[std::get<0>(GetParam())];
  SCOPED_TRACE(s.name);
  CompareWithReference(s, std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(
    settings, OskudaReference,
    ::testing::Combine(::testing::Range(0, static_cast<int>(sizeof(kSettings) / sizeof(kSettings[0]))),
                       ::testing::Bool()),
    [](const ::testing::TestParamInfo<std::tuple<int, bool>>& info) {
      return std::string(kSettings[std::get<0>(info.param)].name) +
             (std::get<1>(info.param) ? "_bilinear" : "_nearest");
    });

TEST(OskudaReferenceLarge, Panorama1024SquareAndFisheye1080) {
  // Two full-size frames, each pixel checked.
  CompareWithReference({"panorama_2048x1024", 2048, 1024, 2048, 1024,
                        {{kPitch, 123}, {kAzimuth, 456}, {kRoll, -789}}, {kEquirectangular, kSquare}},
                       true);
  CompareWithReference({"fisheye_1080", 1080, 1080, 1080, 1080,
                        {{kInFov, 1900}, {kOutFov, 1600}, {kPitch, -222}}, {kCircleMask, kGreenBack}},
                       false);
}

}  // namespace
