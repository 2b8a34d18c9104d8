// How the perspective view meets the shared pipeline: the rotation chain
// that turns an output ray into the input's frame, and the sampling rules of
// this filter.
#pragma once

#include "geometry.h"
#include "rotation.h"

namespace varnel {

struct View {
  // Integer coordinates are pixel edges; the nearest sampler admits
  // [-0.5, W + 0.5] x [-0.5, H + 0.5] with both ends; the panorama model
  // works in float.
  static constexpr lens::PixelConvention kConvention = lens::PixelConvention::PixelEdge;
  static constexpr bool kNearestUpperOpen = false;
  static constexpr bool kPanoramaAzimuthInDouble = false;

  // Roll, then pitch, then azimuth. A panorama input takes the ray's Y, the
  // others its X, as the component along the pole.
  static lens::TurnedRay Turn(float X, float Y, float Zc, float Zs, const lens::ViewRotation& r,
                              bool equirectangular) {
    const lens::TurnedPair rolled = lens::TurnPair(Y, X, r.cos_roll, r.sin_roll);
    const float a = rolled.first * r.cos_pitch - Zs;
    const float b = rolled.first * r.sin_pitch + Zc;
    const lens::TurnedPair turned = lens::TurnPair(rolled.second, b, r.cos_azimuth, r.sin_azimuth);
    return equirectangular ? lens::TurnedRay{-a, -turned.second, -turned.first}
                           : lens::TurnedRay{turned.second, turned.first, -a};
  }
};

}  // namespace varnel
