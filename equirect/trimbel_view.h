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
    const float e = Y * r.cos_azimuth - X * r.sin_azimuth;
    const float g = X * r.cos_azimuth + Y * r.sin_azimuth;
    const float h = Zc - e * r.sin_pitch;
    const float k = e * r.cos_pitch + Zs;
    const float m = h * r.cos_roll + g * r.sin_roll;
    const float n = g * r.cos_roll - h * r.sin_roll;
    return equirectangular ? lens::TurnedRay{m, k, -n} : lens::TurnedRay{-k, n, m};
  }
};

}  // namespace trimbel
