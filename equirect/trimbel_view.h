// How the panorama filter meets the shared pipeline: the rotation chain that
// turns an output ray into the input's frame, and the sampling rules of this
// filter.
#pragma once

#include "geometry.h"
#include "rotation.h"

namespace trimbel {

struct View {
  // Integer coordinates are pixel centres: the nearest sampler moves a
  // position by half a pixel, wraps the seam and admits [0, W) x [0, H). A
  // panorama input's azimuth is wrapped and scaled in double.
  static constexpr lens::PixelConvention kConvention = lens::PixelConvention::PixelCentre;
  static constexpr bool kNearestUpperOpen = true;
  static constexpr bool kPanoramaAzimuthInDouble = true;

  // Azimuth about the pole, then pitch, then roll.
  static lens::TurnedRay Turn(float X, float Y, float Zc, float Zs, const lens::ViewRotation& r,
                              bool equirectangular) {
    const lens::TurnedPair turned = lens::TurnPair(X, Y, r.cos_azimuth, r.sin_azimuth);
    const float h = Zc - turned.second * r.sin_pitch;
    const float k = turned.second * r.cos_pitch + Zs;
    const lens::TurnedPair rolled = lens::TurnPair(h, turned.first, r.cos_roll, r.sin_roll);
    return equirectangular ? lens::TurnedRay{rolled.first, k, -rolled.second}
                           : lens::TurnedRay{-k, rolled.second, rolled.first};
  }
};

}  // namespace trimbel
