// Lens models: angle limits, masks, scales and the panorama seam.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "lens/lens_models.h"
#include "varnel_view.h"
#include "trimbel_view.h"

namespace {

using lens::kPi;
using lens::SourceAngles;
using lens::SourcePoint;
using lens::SourceProjection;

lens::LensModel Lens(SourceProjection p, float in_fov = 180.0f, float in_mask = 360.0f, int w = 1000,
                     int h = 800, float shift_x = 0.0f, float shift_y = 0.0f) {
  return lens::PrepareLens(p, in_fov, in_mask, shift_x, shift_y, kPi, w, h);
}

template <typename View = varnel::View>
SourcePoint Map(const lens::LensModel& m, float theta, float phi) {
  return lens::MapToSource<View>(m, SourceAngles{theta, phi});
}

const SourceProjection kLensModels[] = {SourceProjection::Equidistant, SourceProjection::Orthographic,
                                        SourceProjection::Equisolid, SourceProjection::Central};

TEST(Mask, FullMaskRejectsOnlyStraightBackwards) {
  const auto m = Lens(SourceProjection::Equidistant);
  EXPECT_EQ(m.mask_limit, kPi);
  EXPECT_FALSE(Map(m, std::nextafter(kPi, 0.0f), 0.0f).outside);
  EXPECT_TRUE(Map(m, kPi, 0.0f).outside);
}

TEST(Mask, ZeroMaskOrZeroFieldOfViewFillsEveryLensModel) {
  for (SourceProjection p : kLensModels) {
    const auto masked = Lens(p, 180.0f, 0.0f);
    const auto no_fov = Lens(p, 0.0f, 360.0f);
    for (float theta : {0.0f, 0.3f, 1.2f}) {
      EXPECT_TRUE(Map(masked, theta, 0.5f).outside);
      const SourcePoint q = Map(no_fov, theta, 0.5f);
      // Either rejected or a position that is not finite: the range test fills it.
      EXPECT_TRUE(q.outside || !std::isfinite(q.x) || !std::isfinite(q.y))
          << static_cast<int>(p) << " theta " << theta;
    }
  }
  // The panorama ignores both.
  EXPECT_FALSE(Map(Lens(SourceProjection::Equirectangular, 0.0f, 0.0f), 1.0f, 1.0f).outside);
}

TEST(Equidistant, HalfRadiusAtHalfTheFieldOfView) {
  const auto m = Lens(SourceProjection::Equidistant, 180.0f, 360.0f, 1000, 800);
  const SourcePoint right = Map(m, kPi * 0.5f, 0.0f);
  EXPECT_EQ(right.x, 1000.0f);
  EXPECT_EQ(right.y, 400.0f);
  const SourcePoint left = Map(m, kPi * 0.5f, kPi);
  EXPECT_NEAR(left.x, 0.0f, 1e-4f);
  EXPECT_NEAR(left.y, 400.0f, 1e-4f);
  // phi = pi/2 means psi = -pi/2: above the centre.
  EXPECT_LT(Map(m, 0.5f, kPi * 0.5f).y, 400.0f);
}

TEST(Orthographic, RightAngleIsTheLastDirectionInside) {
  const auto m = Lens(SourceProjection::Orthographic);
  const SourcePoint edge = Map(m, kPi * 0.5f, 0.0f);
  EXPECT_FALSE(edge.outside);
  EXPECT_EQ(edge.x, 1000.0f);  // the horizon at the frame's half width
  EXPECT_TRUE(Map(m, std::nextafter(kPi * 0.5f, 4.0f), 0.0f).outside);
}

TEST(Equisolid, StraightBackPassesTheAngleLimitButNotTheDefaultMask) {
  EXPECT_TRUE(Map(Lens(SourceProjection::Equisolid), kPi, 0.0f).outside);
  // A mask wider than 360 degrees lets it through the angle limit.
  EXPECT_FALSE(Map(Lens(SourceProjection::Equisolid, 180.0f, 361.0f), kPi, 0.0f).outside);
  EXPECT_TRUE(Map(Lens(SourceProjection::Equisolid, 180.0f, 400.0f), std::nextafter(kPi, 4.0f), 0.0f).outside);
  // At 180 degrees of field the horizon lies at the half width.
  EXPECT_NEAR(Map(Lens(SourceProjection::Equisolid), kPi * 0.5f, 0.0f).x, 1000.0f, 1e-3f);
}

TEST(Central, ScalesOnA1920x1080Source) {
  const auto m = Lens(SourceProjection::Central, 90.0f, 360.0f, 1920, 1080);
  EXPECT_EQ(m.central_kx, std::tan(static_cast<double>(90.0f * kPi / 360.0f)) * 2.0);
  // 1080 / 1920 * 90 = 50.625 degrees, half of it 25.3125.
  const float a_y = 0.5625f * 90.0f * kPi / 360.0f;
  EXPECT_EQ(m.central_ky, std::tan(static_cast<double>(a_y)) * 2.0);
  EXPECT_NEAR(m.central_ky, 2.0 * std::tan(25.3125 * M_PI / 180.0), 1e-6);
  // 45 degrees to the right lands on the right edge.
  EXPECT_NEAR(Map(m, kPi / 4.0f, 0.0f).x, 1920.0f, 1e-3f);
}

TEST(Central, HundredEightyDegreesCollapsesOntoTheCentreColumn) {
  const auto m = Lens(SourceProjection::Central, 180.0f, 360.0f, 1920, 1080);
  EXPECT_LT(m.central_kx, -1e7);
  EXPECT_NEAR(Map(m, 1.0f, 0.3f).x, 960.0f, 1e-3f);
}

TEST(Shift, MovesFisheyeAndCentralSamplesButNotPanoramas) {
  for (SourceProjection p : kLensModels) {
    const SourcePoint a = Map(Lens(p), 0.4f, 0.7f);
    const SourcePoint b = Map(Lens(p, 180.0f, 360.0f, 1000, 800, 10.0f, 3.0f), 0.4f, 0.7f);
    EXPECT_EQ(b.x, a.x - 10.0f);
    EXPECT_EQ(b.y, a.y + 3.0f);
  }
  const SourcePoint e = Map(Lens(SourceProjection::Equirectangular), 0.4f, 0.7f);
  const SourcePoint f = Map(Lens(SourceProjection::Equirectangular, 180.0f, 360.0f, 1000, 800, 10.0f, 3.0f), 0.4f, 0.7f);
  EXPECT_EQ(e.x, f.x);
  EXPECT_EQ(e.y, f.y);
}

TEST(Equirectangular, SeamNegativeZeroAndPoles) {
  const auto m = Lens(SourceProjection::Equirectangular, 180.0f, 360.0f, 2048, 1024);
  EXPECT_EQ(Map(m, 1.0f, -0.0f).x, 0.0f);
  // A tiny negative azimuth whose sum with 2 pi rounds to 2 pi reaches x = W.
  EXPECT_EQ(Map(m, 1.0f, -1e-8f).x, 2048.0f);
  EXPECT_EQ((Map<trimbel::View>(m, 1.0f, -1e-8f).x), 2048.0f);
  EXPECT_EQ(Map(m, kPi, 0.0f).y, 1023.0f);
  EXPECT_EQ(Map(m, 0.0f, 0.0f).y, 0.0f);
  EXPECT_EQ(Map(m, kPi * 0.5f, kPi).x, 1024.0f);
  // -pi/2 wraps to three quarters of the width.
  EXPECT_EQ(Map(m, 1.0f, -kPi * 0.5f).x, 1536.0f);
}

TEST(Equirectangular, PanoramaPrecisionDiffersOnlyWhereDoubleRoundsDifferently) {
  // Scan azimuths: the two precisions agree to within one float step and
  // differ somewhere (the double path is really taken).
  const auto m = Lens(SourceProjection::Equirectangular, 180.0f, 360.0f, 3840, 1920);
  int differences = 0;
  for (int i = -1000; i < 3000; ++i) {
    const float phi = static_cast<float>(i) * 0.00173f;
    const float single = Map<varnel::View>(m, 1.0f, phi).x;
    const float twice = Map<trimbel::View>(m, 1.0f, phi).x;
    const double exact = std::fmod(static_cast<double>(phi) + 4.0 * static_cast<double>(kPi),
                                   2.0 * static_cast<double>(kPi)) / (2.0 * static_cast<double>(kPi)) * 3840.0;
    EXPECT_NEAR(twice, exact, 2e-3) << phi;
    EXPECT_NEAR(single, twice, 2e-3) << phi;
    differences += single != twice;
  }
  EXPECT_GT(differences, 0);
}

}  // namespace
