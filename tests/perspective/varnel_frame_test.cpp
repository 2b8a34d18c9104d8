// Varnel frames through the editor's loading path: worked numbers, turning
// directions, whole-frame invariants and an independent per-pixel reference.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "controls.h"
#include "frames.h"
#include "plugin_checks.h"
#include "lens/lens_models.h"
#include "rotation.h"
#include "sampling.h"
#include "varnel.h"
#include "varnel_view.h"

namespace {

using testing_support::FillCoordinates;
using testing_support::FillNoise;
using testing_support::kSentinel;
using testing_support::SamePixel;
using testing_support::FrameRun;
using testing_support::Source;

enum { kInFov, kInMask, kOutFov, kPitch, kAzimuth, kRoll, kShiftX, kShiftY, kHeight };
enum { kUseHeight, kEquidistant, kOrthographic, kEquisolid, kEquirect, k16x9, k4x3, kSquare, kGreen, kBilinear };

class VarnelFrames : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { library_ = testing_support::LoadBuiltPlugin("Varnel").release(); }
  static void TearDownTestSuite() { delete library_; }
  static const FILTER_DLL& table() { return library_->table(); }
  static host::PluginLibrary* library_;
};
host::PluginLibrary* VarnelFrames::library_ = nullptr;

// The frame a plain per-pixel loop computes, without the four-fold symmetry:
// every pixel finds its own offset from the image centre and its own ray.
std::vector<PIXEL_YC> ReferenceFrame(const std::vector<int>& track, const std::vector<int>& check,
                                     const std::vector<PIXEL_YC>& source, int w, int h, int stride,
                                     int out_w, int out_h) {
  std::vector<PIXEL_YC> out(static_cast<size_t>(stride) * out_h, kSentinel);
  lens::SourceProjection projection = lens::SourceProjection::Central;
  if (check[kEquidistant]) projection = lens::SourceProjection::Equidistant;
  if (check[kOrthographic]) projection = lens::SourceProjection::Orthographic;
  if (check[kEquisolid]) projection = lens::SourceProjection::Equisolid;
  if (check[kEquirect]) projection = lens::SourceProjection::Equirectangular;
  const bool equirect = projection == lens::SourceProjection::Equirectangular;
  const float out_fov = lens::TenthsToDegrees(track[kOutFov]);
  const lens::ViewRotation rot =
      lens::MakeViewRotation(lens::TenthsToDegrees(track[kRoll]), lens::TenthsToDegrees(track[kAzimuth]),
                             lens::TenthsToDegrees(track[kPitch]));
  const lens::LensModel model = lens::PrepareLens(
      projection, lens::TenthsToDegrees(track[kInFov]), lens::TenthsToDegrees(track[kInMask]),
      static_cast<float>(track[kShiftX]), static_cast<float>(track[kShiftY]), lens::kPi, w, h);
  const lens::SourceFrame src{source.data(), w, h, stride};
  const lens::SampleOptions options{check[kBilinear] != 0, check[kGreen] != 0, equirect};
  const double focal = static_cast<double>(out_w / 2) /
                       std::tan(static_cast<double>(out_fov * 0.5f * lens::kPi) / 180.0);
  for (int r = 0; r < out_h; ++r) {
    for (int c = 0; c < out_w; ++c) {
      const bool below = r >= out_h / 2;
      const bool right = c >= out_w / 2;
      const float yf = static_cast<float>((below ? r - out_h / 2 : out_h / 2 - 1 - r) + 0.5);
      const float xf = static_cast<float>((right ? c - out_w / 2 : out_w / 2 - 1 - c) + 0.5);
      const float dist = static_cast<float>(std::sqrt(static_cast<double>(xf * xf + yf * yf)));
      const float theta = static_cast<float>(std::atan(dist / focal));
      const float phi = static_cast<float>(std::atan(static_cast<double>(yf / xf)));
      const float X = static_cast<float>(std::cos(static_cast<double>(phi)) * std::sin(static_cast<double>(theta)));
      const float Y = static_cast<float>(std::sin(static_cast<double>(phi)) * std::sin(static_cast<double>(theta)));
      const float Z = static_cast<float>(std::cos(static_cast<double>(theta)));
      const lens::SourceAngles a = lens::RotateToSource<varnel::View>(
          right ? X : -X, below ? Y : -Y, Z * rot.cos_pitch, Z * rot.sin_pitch, rot, equirect);
      lens::SampleOrFill<varnel::View>(src, &out[static_cast<size_t>(r) * stride + c],
                                               lens::MapToSource<varnel::View>(model, a), options);
    }
  }
  return out;
}

FrameRun RunVarnel(const FILTER_DLL& table, const std::vector<int>& track, const std::vector<int>& check,
                   int w, int h, int max_w, int max_h, bool noise, int threads = 0) {
  return testing_support::RunPlugin(table, track, check, w, h, max_w, max_h,
                                    noise ? Source::kNoise : Source::kCoordinates, threads);
}

std::vector<int> Defaults(const FILTER_DLL& t) { return std::vector<int>(t.track_default, t.track_default + t.track_n); }
std::vector<int> NoChecks() { return std::vector<int>(10, 0); }

TEST(VarnelWorkedNumbers, FourByTwoAtNinetyDegrees) {
  const double focal = varnel::PerspectiveFocal(4, 90.0f, lens::kPi);
  EXPECT_EQ(static_cast<float>(focal), 1.9999999f);
  const float yf = 0.5f;
  const varnel::GroupRay g0 = varnel::PerspectiveGroupRay(0.5f, yf, yf * yf, focal);
  EXPECT_FLOAT_EQ(g0.Xm, 0.2357023f);
  EXPECT_FLOAT_EQ(g0.Ym, 0.2357023f);
  EXPECT_FLOAT_EQ(g0.Z, 0.9428090f);
  const varnel::GroupRay g1 = varnel::PerspectiveGroupRay(1.5f, yf, yf * yf, focal);
  EXPECT_FLOAT_EQ(g1.Xm, 0.5883484f);
  EXPECT_FLOAT_EQ(g1.Ym, 0.1961161f);
  EXPECT_FLOAT_EQ(g1.Z, 0.7844645f);
}

TEST_F(VarnelFrames, FourByTwoWritesEachPixelFromItsQuadrant) {
  // A 400 x 200 equidistant source at 180 degrees seen as a 4 x 2 view at
  // 90 degrees: the middle pixels read near the source centre, the outer
  // ones further out, mirrored left/right and up/down.
  std::vector<int> track = Defaults(table());
  track[kHeight] = 2;
  std::vector<int> check = NoChecks();
  check[kEquidistant] = 1;
  check[kUseHeight] = 1;
  const FrameRun run = RunVarnel(table(), track, check, 400, 200, 400, 200, false);
  ASSERT_EQ(run.result.w, 4);
  ASSERT_EQ(run.result.h, 2);
  const auto ref = ReferenceFrame(track, check, run.source, 400, 200, 400, 4, 2);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_TRUE(SamePixel(run.frame[r * 400 + c], ref[r * 400 + c])) << c;
  // theta_o of the groups: atan(0.7071 / 2) and atan(1.5811 / 2).
  const int columns[] = {run.frame[0].y, run.frame[1].y, run.frame[2].y, run.frame[3].y};
  EXPECT_EQ(columns[0] + columns[3], 399);
  EXPECT_EQ(columns[1] + columns[2], 399);
  // Equidistant: x = W/2 + W * theta / pi * cos(45 degrees).
  EXPECT_EQ(columns[2], static_cast<int>(200 + 400 * std::atan(0.70710678 / 2) / M_PI * 0.70710678));
  EXPECT_LT(columns[0], columns[1]);
  EXPECT_LT(run.frame[0].cb, 100);
  EXPECT_GE(run.frame[400].cb, 100);
}

TEST_F(VarnelFrames, MatchesThePerPixelReference) {
  struct Setting { const char* what; std::vector<std::pair<int, int>> tracks; std::vector<int> boxes; };
  const Setting settings[] = {
      {"central defaults", {{kInFov, 900}}, {}},
      {"equidistant turned", {{kPitch, 250}, {kAzimuth, -400}, {kRoll, 300}, {kOutFov, 1200}}, {kEquidistant}},
      {"orthographic bilinear green", {{kPitch, -300}, {kShiftX, 7}, {kShiftY, -5}}, {kOrthographic, kBilinear, kGreen}},
      {"equisolid masked", {{kInFov, 2000}, {kInMask, 1500}, {kAzimuth, 1800}}, {kEquisolid, kBilinear}},
      {"equirect", {{kPitch, 100}, {kAzimuth, 300}, {kRoll, -1800}, {kOutFov, 1700}}, {kEquirect}},
      {"equirect bilinear seam", {{kAzimuth, 1800}, {kOutFov, 1000}}, {kEquirect, kBilinear}},
      {"central wide", {{kInFov, 1700}, {kOutFov, 1799}}, {kBilinear}},
      {"out_fov 180", {{kOutFov, 1800}}, {kEquidistant}},
  };
  for (const Setting& s : settings) {
    std::vector<int> track = Defaults(table());
    for (auto [index, value] : s.tracks) track[index] = value;
    std::vector<int> check = NoChecks();
    for (int b : s.boxes) check[b] = 1;
    const FrameRun run = RunVarnel(table(), track, check, 160, 90, 170, 100, true);
    ASSERT_EQ(run.result.w, 160) << s.what;
    ASSERT_EQ(run.result.h, 90) << s.what;
    const auto ref = ReferenceFrame(track, check, run.source, 160, 90, 170, 160, 90);
    EXPECT_EQ(testing_support::CountDifferences(run.frame.data(), ref.data(), 160, 90, 170), 0) << s.what;
  }
}

TEST_F(VarnelFrames, CentralAtEqualFieldsSamplesItsOwnColumn) {
  std::vector<int> track = Defaults(table());
  track[kInFov] = 900;
  const FrameRun run = RunVarnel(table(), track, NoChecks(), 320, 180, 320, 180, false);
  // Rows far from the middle fall off the source (the vertical scale is not
  // the tangent-correct one) and are filled; every sampled pixel reads its
  // own column.
  long sampled = 0;
  for (int r = 0; r < 180; ++r)
    for (int c = 0; c < 320; ++c) {
      const PIXEL_YC p = run.frame[r * 320 + c];
      if (p.cr == 0) continue;
      ++sampled;
      ASSERT_EQ(p.y, c) << c << "," << r;
    }
  EXPECT_GT(sampled, 320 * 150);
}

TEST_F(VarnelFrames, TurningDirections) {
  // Panorama input: the view centre reads the panorama's centre; azimuth
  // +90 turns right (three quarters across), pitch +45 turns up.
  std::vector<int> check = NoChecks();
  check[kEquirect] = 1;
  auto centre_of = [&](int pitch, int azimuth) {
    std::vector<int> track = Defaults(table());
    track[kPitch] = pitch;
    track[kAzimuth] = azimuth;
    const FrameRun run = RunVarnel(table(), track, check, 400, 200, 400, 200, false);
    return run.frame[100 * 400 + 200];
  };
  const PIXEL_YC ahead = centre_of(0, 0);
  EXPECT_NEAR(ahead.y, 200, 1);
  EXPECT_NEAR(ahead.cb, 99, 1);
  EXPECT_NEAR(centre_of(0, 900).y, 300, 1);
  EXPECT_NEAR(centre_of(0, -900).y, 100, 1);
  EXPECT_NEAR(centre_of(450, 0).cb, 50, 1);
  EXPECT_NEAR(centre_of(-450, 0).cb, 149, 1);
  // Fisheye input: roll 90 turns the picture, so the output's right reads
  // the source below the centre... and pitch up reads above the centre.
  std::vector<int> fish = NoChecks();
  fish[kEquidistant] = 1;
  std::vector<int> track = Defaults(table());
  track[kPitch] = 300;
  const FrameRun up = RunVarnel(table(), track, fish, 200, 200, 200, 200, false);
  EXPECT_LT(up.frame[100 * 200 + 100].cb, 100);
  track[kPitch] = 0;
  track[kAzimuth] = 300;
  const FrameRun right = RunVarnel(table(), track, fish, 200, 200, 200, 200, false);
  EXPECT_GT(right.frame[100 * 200 + 100].y, 100);
}

TEST_F(VarnelFrames, WholeFrameInvariants) {
  // Odd capacities and sizes: the last column and row are written too.
  testing_support::ExpectFrameInvariants(table(), {
      {"equidistant bilinear turned", 120, 80, 130, 90, {{{kPitch, 123}, {kAzimuth, -456}}, {kEquidistant, kBilinear}}},
      {"odd capacity 101 x 61", 100, 60, 101, 61, {{{kHeight, 80}}, {kEquidistant, kUseHeight}}},
      {"panorama odd input, green", 97, 41, 97, 41, {{{kRoll, 900}}, {kEquirect, kGreen}}},
  });
}

TEST_F(VarnelFrames, OddCapacityGivesWhatTheEvenOutputGives) {
  // A 100 x 60 input asked for 132 x 80 is cut to an odd 101 x 61 capacity:
  // columns 0..99 and rows 0..59 hold what a 100 x 60 output holds.
  std::vector<int> track = Defaults(table());
  track[kHeight] = 80;
  std::vector<int> check = NoChecks();
  check[kEquidistant] = 1;
  check[kUseHeight] = 1;
  const FrameRun run = RunVarnel(table(), track, check, 100, 60, 101, 61, false);
  ASSERT_EQ(run.result.w, 101);
  ASSERT_EQ(run.result.h, 61);
  const FrameRun even = RunVarnel(table(), track, check, 100, 60, 100, 60, false);
  ASSERT_EQ(even.result.w, 100);
  for (int r = 0; r < 60; ++r)
    for (int c = 0; c < 100; ++c) ASSERT_TRUE(SamePixel(run.at(c, r), even.at(c, r))) << c << "," << r;
}

TEST_F(VarnelFrames, ZeroFieldOfViewShowsOneColour) {
  std::vector<int> track = Defaults(table());
  track[kOutFov] = 0;
  track[kPitch] = 200;
  std::vector<int> check = NoChecks();
  check[kEquirect] = 1;
  const FrameRun run = RunVarnel(table(), track, check, 64, 32, 64, 32, true);
  for (int i = 0; i < 64 * 32; ++i) ASSERT_TRUE(SamePixel(run.frame[i], run.frame[0])) << i;
  EXPECT_FALSE(SamePixel(run.frame[0], kSentinel));
}

}  // namespace
