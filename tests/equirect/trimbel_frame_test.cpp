// Whole frames through the loaded Trimbel library, as the editor runs them.
//
// The reference below is a plain per-pixel loop written from the filter's
// formulas (longitude and latitude, the ray, the azimuth-pitch-roll chain,
// the five lens models, pixel-centre sampling); it shares no code with the
// plug-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "support/frames.h"
#include "support/plugin_checks.h"

namespace {

using testing_support::kSentinel;
using testing_support::SamePixel;

constexpr float kPi = 3.1415927f;
enum Track { kInFov, kInMask, kPitch, kAzimuth, kRoll, kShiftX, kShiftY, kHeight };
enum Check { kUseHeight, kEquidistant, kOrthographic, kEquisolid, kCentral, kTwoToOne, kGreen, kBilinear };

struct Settings {
  std::vector<int> track = {1800, 3600, 0, 0, 0, 0, 0, 480};
  std::vector<int> check = std::vector<int>(8, 0);
};

// ------------------------------------------------------------ the reference

float Deg(int tenths) { return static_cast<float>(static_cast<double>(static_cast<float>(tenths)) / 10.0); }
double Rad(float deg) { return static_cast<double>(deg * kPi) / 180.0; }
float F(double v) { return static_cast<float>(v); }

struct Reference {
  // settings
  int projection = 4;
  bool bilinear = false;
  bool green = false;
  float in_fov, in_mask, shift_x, shift_y;
  float cr, sr, ca, sa, cp, sp;
  // frames
  const PIXEL_YC* src;
  int w, h, stride, out_w, out_h;

  Reference(const Settings& s, const PIXEL_YC* source, int w_, int h_, int stride_, int ow, int oh)
      : src(source), w(w_), h(h_), stride(stride_), out_w(ow), out_h(oh) {
    for (int box = 1; box <= 4; ++box) {
      if (s.check[box] != 0) projection = box - 1;
    }
    bilinear = s.check[kBilinear] != 0;
    green = s.check[kGreen] != 0;
    in_fov = Deg(s.track[kInFov]);
    in_mask = Deg(s.track[kInMask]);
    shift_x = static_cast<float>(s.track[kShiftX]);
    shift_y = static_cast<float>(s.track[kShiftY]);
    const double roll = Rad(Deg(s.track[kRoll]));
    const double azimuth = Rad(Deg(s.track[kAzimuth]));
    const double pitch = Rad(Deg(s.track[kPitch]));
    cr = F(std::cos(roll));
    sr = F(std::sin(roll));
    ca = F(std::cos(azimuth));
    sa = F(std::sin(azimuth));
    cp = F(std::cos(pitch));
    sp = F(std::sin(pitch));
  }

  PIXEL_YC At(int x, int y) const { return src[static_cast<size_t>(y) * stride + x]; }

  PIXEL_YC Fill() const { return green ? PIXEL_YC{2404, -1357, -1715} : PIXEL_YC{0, 0, 0}; }

  PIXEL_YC Pixel(int c, int r) const {
    const bool pano = projection == 4;
    // Output ray.
    const float lat = static_cast<float>(r) * kPi / static_cast<float>(out_h - 1);
    const float two_pi = kPi * 2.0f;
    const float lon = static_cast<float>(c) * two_pi / static_cast<float>(out_w);
    const double lat_d = lat, lon_d = lon;
    const float sin_lat = F(std::sin(lat_d)), cos_lat = F(std::cos(lat_d));
    const float sin_lon = F(std::sin(lon_d)), cos_lon = F(std::cos(lon_d));
    const float X = -(sin_lon * sin_lat);
    const float Y = cos_lon * sin_lat;
    const float Zc = cos_lat * cp;
    const float Zs = cos_lat * sp;
    // Azimuth about the pole, then pitch, then roll.
    const float e = Y * ca - X * sa;
    const float g = X * ca + Y * sa;
    const float hh = Zc - e * sp;
    const float k = e * cp + Zs;
    const float m = hh * cr + g * sr;
    const float n = g * cr - hh * sr;
    const float axis = pano ? m : -k;
    const float den = pano ? k : n;
    const float num = pano ? -n : m;
    const float theta = F(std::acos(static_cast<double>(axis)));
    float phi = 0.0f;
    if (den > 0.0f) {
      phi = F(std::atan(static_cast<double>(num / den)));
    } else if (den < 0.0f) {
      phi = F(static_cast<double>(kPi) - std::atan(static_cast<double>(-(num / den))));
    } else if (num > 0.0f) {
      phi = F(static_cast<double>(kPi) * 0.5);
    } else if (num < 0.0f) {
      phi = F(-static_cast<double>(kPi) * 0.5);
    }

    // Lens model.
    float x, y;
    const double W = w, H = h, t = theta, pi = kPi;
    const float mask_limit = in_mask * kPi / 360.0f;
    if (pano) {
      const double two_pi_d = pi * 2.0;
      if (phi < 0.0f) phi = F(phi + two_pi_d);
      if (phi > kPi * 2.0f) phi = F(phi - two_pi_d);
      x = F(phi / two_pi_d * W);
      y = theta / kPi * static_cast<float>(h - 1);
    } else {
      const double psi = static_cast<double>(-phi);
      const double scale = 180.0 / static_cast<double>(in_fov);
      double xd, yd;
      switch (projection) {
        case 0:
          if (!(mask_limit > theta)) return Fill();
          xd = std::cos(psi) * (scale * t / pi) * W + W * 0.5;
          yd = std::sin(psi) * (scale * t / pi) * W + H * 0.5;
          break;
        case 1:
          if (!(theta <= kPi * 0.5f) || !(mask_limit > theta)) return Fill();
          xd = std::cos(psi) * (std::sin(t) * scale) * 0.5 * W + W * 0.5;
          yd = std::sin(psi) * (std::sin(t) * scale) * 0.5 * W + H * 0.5;
          break;
        case 2: {
          if (!(theta <= kPi) || !(mask_limit > theta)) return Fill();
          const double d = std::sin(pi * 0.25) * 2.0;
          const double rr = std::sin(t * 0.5) * scale;
          xd = std::cos(psi) * rr / d * W + W * 0.5;
          yd = std::sin(psi) * rr / d * W + H * 0.5;
          break;
        }
        default: {
          if (!(theta <= kPi * 0.5f) || !(mask_limit > theta)) return Fill();
          const double kx = std::tan(static_cast<double>(in_fov * kPi / 360.0f)) * 2.0;
          const float a_y = static_cast<float>(h) / static_cast<float>(w) * in_fov * kPi / 360.0f;
          const double ky = std::tan(static_cast<double>(a_y)) * 2.0;
          xd = (std::cos(psi) * std::tan(t) / kx + 0.5) * W;
          yd = (std::sin(psi) * std::tan(t) / ky + 0.5) * H;
          break;
        }
      }
      x = F(xd) - shift_x;
      y = F(yd) + shift_y;
    }

    // Pixel-centre sampling.
    const float Wf = static_cast<float>(w), Hf = static_cast<float>(h);
    if (!bilinear) {
      float xc = x + 0.5f;
      const float yc = y + 0.5f;
      if (pano && xc >= Wf) xc -= Wf;
      if (!(xc >= 0.0f && xc < Wf && yc >= 0.0f && yc < Hf)) return Fill();
      return At(static_cast<int>(xc), static_cast<int>(yc));
    }
    if (!(x >= -0.5f && x <= Wf + 0.5f && y >= -0.5f && y <= Hf + 0.5f)) return Fill();
    if (x >= Wf) x = pano ? x - Wf : Wf - 1.0f;
    if (x < 0.0f) x = 0.0f;
    const float ys = std::max(0.0f, std::min(y, Hf - 1.0f));
    const int x0 = static_cast<int>(x), y0 = static_cast<int>(ys);
    const int x1 = x0 + 1 < w ? x0 + 1 : (pano ? 0 : x0);
    const int y1 = y0 + 1 < h ? y0 + 1 : y0;
    const float fx = x - static_cast<float>(x0), fy = ys - static_cast<float>(y0);
    const float w00 = (1.0f - fx) * (1.0f - fy), w10 = (1.0f - fy) * fx;
    const float w01 = (1.0f - fx) * fy, w11 = fy * fx;
    auto mix = [&](short a, short b, short cc, short d) {
      float s = static_cast<float>(a) * w00 + static_cast<float>(b) * w10;
      s = s + static_cast<float>(cc) * w01;
      s = s + static_cast<float>(d) * w11;
      return static_cast<short>(static_cast<int>(s));
    };
    const PIXEL_YC p00 = At(x0, y0), p10 = At(x1, y0), p01 = At(x0, y1), p11 = At(x1, y1);
    return PIXEL_YC{mix(p00.y, p10.y, p01.y, p11.y), mix(p00.cb, p10.cb, p01.cb, p11.cb),
                    mix(p00.cr, p10.cr, p01.cr, p11.cr)};
  }
};

// ------------------------------------------------------------ running frames

class TrimbelFrame : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { library_ = testing_support::LoadBuiltPlugin("Trimbel").release(); }
  static void TearDownTestSuite() {
    delete library_;
    library_ = nullptr;
  }

  // Runs one frame: `a` holds the source, `b` is filled with the sentinel.
  static host::FrameResult Run(const Settings& s, host::FrameBuffers& buffers, int w, int h,
                               int threads = 0) {
    host::FilterInstance instance(library_->table(), s.track, s.check);
    testing_support::FillWith(buffers.b, kSentinel);
    return testing_support::RunWithThreads(instance, buffers, w, h, threads);
  }

  static PIXEL_YC Out(const host::FrameResult& result, int max_w, int c, int r) {
    return result.frame[static_cast<size_t>(r) * max_w + c];
  }

  static host::PluginLibrary* library_;
};
host::PluginLibrary* TrimbelFrame::library_ = nullptr;

TEST_F(TrimbelFrame, DefaultsCopyAFullHdPanoramaExceptThePoles) {
  host::FrameBuffers buffers(1920, 1080);
  testing_support::FillCoordinates(buffers.a, 1920, 1920, 1080);
  const auto result = Run(Settings(), buffers, 1920, 1080);
  ASSERT_EQ(result.w, 1920);
  ASSERT_EQ(result.h, 1080);
  long wrong = 0;
  for (int r = 1; r < 1079; ++r) {
    for (int c = 0; c < 1920; ++c) {
      const PIXEL_YC p = Out(result, 1920, c, r);
      if (p.y != c || p.cb != r || p.cr != 7) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
  for (int c = 0; c < 1920; ++c) {
    // Upper pole: the ray has no horizontal part, so every column reads (0, 0).
    EXPECT_TRUE(SamePixel(Out(result, 1920, c, 0), PIXEL_YC{0, 0, 7})) << c;
    // Lower pole at the float pi, just past the true pole: half a turn round.
    EXPECT_TRUE(SamePixel(Out(result, 1920, c, 1079),
                          PIXEL_YC{static_cast<short>((c + 960) % 1920), 1079, 7}))
        << c;
  }
}

TEST_F(TrimbelFrame, LastRowIsAPlainCopyWhereItsLatitudeFallsShortOfPi) {
  host::FrameBuffers buffers(96, 24);
  testing_support::FillCoordinates(buffers.a, 96, 96, 24);
  const auto result = Run(Settings(), buffers, 96, 24);
  for (int c = 0; c < 96; ++c) {
    EXPECT_TRUE(SamePixel(Out(result, 96, c, 23), PIXEL_YC{static_cast<short>(c), 23, 7})) << c;
  }
}

TEST_F(TrimbelFrame, AzimuthMovesThePanoramaRight) {
  host::FrameBuffers buffers(360, 180);
  testing_support::FillCoordinates(buffers.a, 360, 360, 180);
  Settings s;
  s.track[kAzimuth] = 300;
  const auto result = Run(s, buffers, 360, 180);
  for (int r = 1; r < 179; ++r) {
    EXPECT_EQ(Out(result, 360, 0, r).y, 330) << r;
    EXPECT_EQ(Out(result, 360, 30, r).y, 0) << r;
    EXPECT_EQ(Out(result, 360, 180, r).y, 150) << r;
    EXPECT_EQ(Out(result, 360, 180, r).cb, r);
  }
}

TEST_F(TrimbelFrame, RescaledPanoramaSamplesProportionalPositions) {
  // 640 x 360 with a height of 181 -> 180 rows, and 2:1 -> 360 columns.
  host::FrameBuffers buffers(640, 360);
  testing_support::FillCoordinates(buffers.a, 640, 640, 360);
  Settings s;
  s.check[kUseHeight] = 1;
  s.check[kTwoToOne] = 1;
  s.track[kHeight] = 181;
  const auto result = Run(s, buffers, 640, 360);
  ASSERT_EQ(result.w, 360);
  ASSERT_EQ(result.h, 180);
  for (int r = 1; r < 179; ++r) {
    for (int c = 0; c < 360; ++c) {
      // Nearest pixel centre, halves up: floor(v + 1/2) in exact integers.
      const int x = (2 * c * 640 + 360) / (2 * 360) % 640;
      const int y = (2 * r * 359 + 179) / (2 * 179);
      const PIXEL_YC p = Out(result, 640, c, r);
      ASSERT_EQ(p.y, x) << c << "," << r;
      ASSERT_EQ(p.cb, y) << c << "," << r;
    }
  }
}

// Fisheye and central inputs: 360 x 180 source, 360 x 181 output (the height
// is clamped to an odd capacity so the horizon is row 90); column 180 is
// longitude pi.
TEST_F(TrimbelFrame, LensInputsAreUprightUnmirroredAndTurnAsTold) {
  for (int box : {kEquidistant, kOrthographic, kEquisolid, kCentral}) {
    SCOPED_TRACE(box);
    host::FrameBuffers buffers(360, 181);
    testing_support::FillCoordinates(buffers.a, 360, 360, 180);
    Settings s;
    s.check[box] = 1;
    s.check[kUseHeight] = 1;
    s.track[kHeight] = 400;
    if (box == kCentral) s.track[kInFov] = 900;
    auto at = [&](const host::FrameResult& result, int c, int r) { return Out(result, 360, c, r); };

    auto result = Run(s, buffers, 360, 180);
    ASSERT_EQ(result.w, 360);
    ASSERT_EQ(result.h, 181);
    // The input's axis (the source centre 180, 90) at the centre column on the horizon.
    EXPECT_EQ(at(result, 180, 90).y, 180);
    EXPECT_EQ(at(result, 180, 90).cb, 90);
    // Up is up and right is right.
    EXPECT_EQ(at(result, 180, 85).y, 180);
    EXPECT_LT(at(result, 180, 85).cb, 90);
    EXPECT_GT(at(result, 185, 90).y, 180);
    EXPECT_EQ(at(result, 185, 90).cb, 90);

    // Azimuth 30 degrees: the axis moves 30 columns to the right.
    s.track[kAzimuth] = 300;
    result = Run(s, buffers, 360, 180);
    EXPECT_EQ(at(result, 210, 90).y, 180);
    EXPECT_EQ(at(result, 210, 90).cb, 90);
    s.track[kAzimuth] = 0;

    // Pitch 20 degrees: the axis moves down to latitude 110, row 110.
    s.track[kPitch] = 200;
    result = Run(s, buffers, 360, 180);
    EXPECT_EQ(at(result, 180, 110).y, 180);
    EXPECT_EQ(at(result, 180, 110).cb, 90);
    s.track[kPitch] = 0;

    // Roll 30 degrees turns about the axis: the axis stays, and what lies
    // straight above it now comes from up and to the left in the source.
    s.track[kRoll] = 300;
    result = Run(s, buffers, 360, 180);
    EXPECT_EQ(at(result, 180, 90).y, 180);
    EXPECT_EQ(at(result, 180, 90).cb, 90);
    const PIXEL_YC above = at(result, 180, 80);
    EXPECT_LT(above.y, 180);
    EXPECT_LT(above.cb, 90);
    const double turned = std::atan2(180.0 - above.y, 90.0 - above.cb) * 180.0 / 3.141592653589793;
    EXPECT_NEAR(turned, 30.0, 6.0);
  }
}

TEST_F(TrimbelFrame, PanoramaPitchAndRollTiltTheHorizon) {
  host::FrameBuffers buffers(360, 181);
  testing_support::FillCoordinates(buffers.a, 360, 360, 181);
  Settings s;
  s.track[kPitch] = 200;  // the centre column's horizon shows the input 20 degrees up
  auto result = Run(s, buffers, 360, 181);
  ASSERT_EQ(result.h, 180);  // even rounding of 181
  // Output rows are 180/179 degrees apart; input rows 180/180.
  const int horizon_row_in = 90;
  const PIXEL_YC centre = Out(result, 360, 180, 89);  // lat 89.5 degrees, near the horizon
  EXPECT_NEAR(centre.cb, horizon_row_in - 20, 1);
  s.track[kPitch] = 0;
  s.track[kRoll] = 200;  // at longitude 90 the input 20 below, at 270 20 above
  result = Run(s, buffers, 360, 181);
  EXPECT_NEAR(Out(result, 360, 90, 89).cb, horizon_row_in + 20, 1);
  EXPECT_NEAR(Out(result, 360, 270, 89).cb, horizon_row_in - 20, 1);
}

TEST_F(TrimbelFrame, WholeFramesMatchTheReference) {
  struct Case {
    const char* name;
    int w, h, max_w, max_h;
    std::vector<int> track;
    std::vector<int> check;
  };
  const std::vector<Case> cases = {
      {"panorama nearest", 320, 160, 320, 160, {1800, 3600, 250, -400, 130, 0, 0, 480}, {0, 0, 0, 0, 0, 0, 0, 0}},
      {"panorama bilinear 2:1", 300, 170, 320, 170, {1800, 3600, -610, 1795, -333, 9, 9, 101}, {1, 0, 0, 0, 0, 1, 1, 1}},
      {"equidistant nearest", 300, 200, 300, 200, {2000, 3300, 150, -420, 75, 12, -5, 480}, {0, 1, 0, 0, 0, 0, 1, 0}},
      {"equidistant bilinear", 300, 200, 300, 200, {1800, 3600, -900, 1800, -1800, -30, 20, 480}, {0, 1, 0, 0, 0, 0, 0, 1}},
      {"orthographic bilinear", 240, 240, 240, 240, {1800, 2700, 300, 600, -450, 0, 0, 480}, {0, 1, 1, 0, 0, 0, 0, 1}},
      {"equisolid nearest", 256, 200, 256, 200, {2200, 3600, -123, 456, 789, 4, 0, 480}, {0, 0, 0, 1, 0, 0, 1, 0}},
      {"central bilinear", 320, 180, 320, 180, {900, 3600, 100, -200, 50, 0, 7, 480}, {0, 0, 1, 1, 1, 0, 0, 1}},
      {"central nearest", 320, 180, 320, 180, {1200, 3600, -50, 1750, 0, -15, 0, 480}, {0, 0, 0, 0, 1, 0, 0, 0}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    host::FrameBuffers buffers(k.max_w, k.max_h);
    testing_support::FillNoise(buffers.a, 99);
    const std::vector<PIXEL_YC> source = buffers.a;
    Settings s;
    s.track = k.track;
    s.check = k.check;
    const auto result = Run(s, buffers, k.w, k.h);
    ASSERT_EQ(result.returned, 1);
    ASSERT_GT(result.w, 0);
    ASSERT_GT(result.h, 0);
    const Reference ref(s, source.data(), k.w, k.h, k.max_w, result.w, result.h);
    long wrong = 0, filled = 0;
    for (int r = 0; r < result.h; ++r) {
      for (int c = 0; c < result.w; ++c) {
        const PIXEL_YC want = ref.Pixel(c, r);
        if (!SamePixel(Out(result, k.max_w, c, r), want)) ++wrong;
        if (SamePixel(want, ref.Fill())) ++filled;
      }
    }
    EXPECT_EQ(wrong, 0);
    // Every case samples the source somewhere, not only the fill.
    const long total = static_cast<long>(result.w) * result.h;
    EXPECT_LT(filled, total - total / 50);
  }
}

TEST_F(TrimbelFrame, WholeFrameInvariants) {
  // Trimbel writes every pixel, odd sizes included (331 x 161 after the clamp).
  testing_support::ExpectFrameInvariants(library_->table(), {
      {"odd clamp", 320, 150, 331, 161, {{{kHeight, 4000}, {kAzimuth, 777}, {kPitch, -210}}, {kUseHeight}}},
      {"room around the output", 320, 150, 340, 166, {{{kHeight, 160}, {kAzimuth, 777}}, {kUseHeight}}},
      {"fisheye bilinear", 97, 64, 97, 64, {{{kRoll, 450}}, {kEquidistant, kBilinear, kGreen}}},
  });
}

TEST_F(TrimbelFrame, DegenerateHeights) {
  host::FrameBuffers two(64, 2);
  testing_support::FillCoordinates(two.a, 64, 64, 2);
  // Two rows: the upper pole reads (0, 0); the lower one, at the float pi
  // here, reads the last row half a turn round.
  auto result = Run(Settings(), two, 64, 2);
  ASSERT_EQ(result.h, 2);
  Reference ref(Settings(), two.a.data(), 64, 2, 64, 64, 2);
  for (int c = 0; c < 64; ++c) {
    EXPECT_TRUE(SamePixel(Out(result, 64, c, 0), PIXEL_YC{0, 0, 7})) << c;
    EXPECT_TRUE(SamePixel(Out(result, 64, c, 1), ref.Pixel(c, 1))) << c;
    EXPECT_EQ(Out(result, 64, c, 1).cb, 1);
  }

  // One row (a capacity one row high): the latitude is 0/0, every pixel filled.
  host::FrameBuffers one(64, 1);
  testing_support::FillCoordinates(one.a, 64, 64, 1);
  Settings green;
  green.check[kGreen] = 1;
  green.check[kUseHeight] = 1;
  green.track[kHeight] = 4;
  result = Run(green, one, 64, 1);
  ASSERT_EQ(result.h, 1);
  ASSERT_EQ(result.w, 64);
  for (int c = 0; c < 64; ++c) {
    EXPECT_TRUE(SamePixel(Out(result, 64, c, 0), PIXEL_YC{2404, -1357, -1715})) << c;
  }
}

}  // namespace
