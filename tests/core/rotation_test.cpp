// Rotation chains and source angles.
#include <gtest/gtest.h>

#include <cmath>

#include "controls.h"
#include "rotation.h"
#include "varnel_view.h"
#include "oskuda_view.h"
#include "trimbel_view.h"

namespace {

using lens::kPi;
using lens::SourceAngles;
using lens::ViewRotation;

const ViewRotation kStraight = {1.0f, 0.0f, 1.0f, 0.0f, 1.0f, 0.0f};

template <typename View>
SourceAngles Turn(float X, float Y, float Z, const ViewRotation& r, bool equirect) {
  return lens::RotateToSource<View>(X, Y, Z * r.cos_pitch, Z * r.sin_pitch, r, equirect);
}

TEST(Controls, TenthsAndRadiansFollowTheirRoundingSteps) {
  EXPECT_EQ(lens::TenthsToDegrees(1800), 180.0f);
  EXPECT_EQ(lens::TenthsToDegrees(900), 90.0f);
  EXPECT_EQ(lens::TenthsToDegrees(-1), -0.1f);
  EXPECT_EQ(lens::TenthsToDegrees(1), static_cast<float>(0.1));
  EXPECT_EQ(lens::DegreesToRadians(90.0f), static_cast<double>(90.0f * kPi) / 180.0);
  const ViewRotation r = lens::MakeViewRotation(90.0f, 0.0f, -90.0f);
  // cos of a float quarter turn is a tiny negative number, not 0.
  EXPECT_NEAR(r.cos_roll, -4.636e-8f, 1e-10f);
  EXPECT_LT(r.cos_roll, 0.0f);
  EXPECT_EQ(r.sin_roll, 1.0f);
  EXPECT_EQ(r.cos_azimuth, 1.0f);
  EXPECT_EQ(r.sin_pitch, -1.0f);
}

TEST(SourceAnglesBranches, PhiFollowsTheSignOfTheDenominator) {
  EXPECT_EQ(lens::AnglesOf({1.0f, 0.0f, 0.0f}).phi, 0.0f);
  EXPECT_EQ(lens::AnglesOf({1.0f, 0.0f, 0.0f}).theta, 0.0f);
  EXPECT_EQ(lens::AnglesOf({0.0f, 0.0f, 1.0f}).phi, static_cast<float>(static_cast<double>(kPi) * 0.5));
  EXPECT_EQ(lens::AnglesOf({0.0f, -0.0f, 1.0f}).phi, static_cast<float>(static_cast<double>(kPi) * 0.5));
  EXPECT_EQ(lens::AnglesOf({0.0f, 0.0f, -1.0f}).phi, static_cast<float>(-static_cast<double>(kPi) * 0.5));
  EXPECT_EQ(lens::AnglesOf({0.0f, -1.0f, 0.0f}).phi, kPi);
  EXPECT_EQ(lens::AnglesOf({0.0f, std::nanf(""), 1.0f}).phi, 0.0f);
  // den < 0: pi + atan(q), between pi/2 and 3pi/2.
  const float phi = lens::AnglesOf({0.0f, -1.0f, -1.0f}).phi;
  EXPECT_NEAR(phi, 1.25 * M_PI, 1e-6);
  // An axis rounded just past 1 gives a polar angle that is not a number.
  EXPECT_TRUE(std::isnan(lens::AnglesOf({1.0000001f, 1.0f, 0.0f}).theta));
}

TEST(VarnelChain, StraightAheadAndAxesAtZeroAngles) {
  const SourceAngles ahead = Turn<varnel::View>(0, 0, 1, kStraight, false);
  EXPECT_EQ(ahead.theta, 0.0f);
  EXPECT_EQ(ahead.phi, 0.0f);
  // theta = acos(Z), phi = atan2(-Y, X).
  const SourceAngles down_right = Turn<varnel::View>(0.6f, 0.0f, 0.8f, kStraight, false);
  EXPECT_EQ(down_right.theta, static_cast<float>(std::acos(0.8)));
  EXPECT_EQ(down_right.phi, 0.0f);
  EXPECT_NEAR(Turn<varnel::View>(0.0f, 0.6f, 0.8f, kStraight, false).phi, -M_PI / 2, 1e-7);
  // Panorama input: ahead is the middle row and the centre column.
  const SourceAngles pano = Turn<varnel::View>(0, 0, 1, kStraight, true);
  EXPECT_EQ(pano.theta, static_cast<float>(std::acos(0.0)));
  EXPECT_EQ(pano.phi, kPi);
  EXPECT_NEAR(Turn<varnel::View>(1, 0, 0, kStraight, true).phi, -M_PI / 2, 1e-7);
}

TEST(VarnelChain, PitchTurnsUpAndAzimuthTurnsRight) {
  const ViewRotation pitch = lens::MakeViewRotation(0.0f, 0.0f, 30.0f);
  const SourceAngles up = Turn<varnel::View>(0, 0, 1, pitch, false);
  EXPECT_NEAR(up.theta, 30.0 * M_PI / 180.0, 1e-6);
  EXPECT_EQ(up.phi, static_cast<float>(static_cast<double>(kPi) * 0.5));
  const ViewRotation azimuth = lens::MakeViewRotation(0.0f, 30.0f, 0.0f);
  const SourceAngles right = Turn<varnel::View>(0, 0, 1, azimuth, false);
  EXPECT_NEAR(right.theta, 30.0 * M_PI / 180.0, 1e-6);
  EXPECT_EQ(right.phi, 0.0f);
  EXPECT_TRUE(std::signbit(right.phi));  // num is -0: phi is -0, right of centre
}

TEST(OskudaChain, OffsetsMakeItAgreeWithVarnel) {
  // With roll + 90 and the azimuth negated, the dome chain turns rays as the
  // perspective chain does, up to rounding.
  const float pitch = 20.0f, azimuth = 35.0f, roll = -15.0f;
  const ViewRotation v = lens::MakeViewRotation(roll, azimuth, pitch);
  const ViewRotation o = lens::MakeViewRotation(roll + 90.0f, -azimuth, pitch);
  const ViewRotation oe = lens::MakeViewRotation(roll + 90.0f, -(azimuth - 90.0f), pitch);
  const float rays[][3] = {{0.1f, 0.2f, 0.97467943f}, {-0.5f, 0.3f, 0.81240384f}, {0.7f, -0.7f, 0.14142136f}};
  for (const auto& ray : rays) {
    const auto a = Turn<varnel::View>(ray[0], ray[1], ray[2], v, false);
    const auto b = Turn<oskuda::View>(ray[0], ray[1], ray[2], o, false);
    EXPECT_NEAR(a.theta, b.theta, 1e-5);
    EXPECT_NEAR(a.phi, b.phi, 1e-5);
    const auto c = Turn<varnel::View>(ray[0], ray[1], ray[2], v, true);
    const auto d = Turn<oskuda::View>(ray[0], ray[1], ray[2], oe, true);
    EXPECT_NEAR(c.theta, d.theta, 1e-5);
    EXPECT_NEAR(std::remainder(c.phi - d.phi, 2 * M_PI), 0.0, 1e-5);
  }
}

TEST(TrimbelChain, PanoramaMapsOntoItselfAtZeroAngles) {
  for (float lat : {0.3f, 1.2f, 2.5f}) {
    for (float lon : {0.2f, 1.9f, 3.0f}) {
      const float sl = std::sin(lat), cl = std::cos(lat), so = std::sin(lon), co = std::cos(lon);
      const SourceAngles a = Turn<trimbel::View>(-(so * sl), co * sl, cl, kStraight, true);
      EXPECT_NEAR(a.theta, lat, 2e-6);
      EXPECT_NEAR(a.phi, lon, 2e-6);
    }
  }
  // Lens-type input: longitude pi on the horizon looks along the input's axis.
  const SourceAngles axis = Turn<trimbel::View>(0.0f, -1.0f, 0.0f, kStraight, false);
  EXPECT_EQ(axis.theta, 0.0f);
}

}  // namespace
