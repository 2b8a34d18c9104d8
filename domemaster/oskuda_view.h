// How the dome master meets the shared pipeline: the rotation chain that
// turns an output ray into the input's frame, and the sampling rules of this
// filter.
#pragma once

#include "geometry.h"
#include "rotation.h"

namespace oskuda {

struct View {
  // Integer coordinates are pixel edges; the nearest sampler admits
  // [-0.5, W + 0.5) x [-0.5, H + 0.5), the upper ends open; the panorama
  // model works in float.
  static constexpr lens::PixelConvention kConvention = lens::PixelConvention::PixelEdge;
  static constexpr bool kNearestUpperOpen = true;
  static constexpr bool kPanoramaAzimuthInDouble = false;

  // Roll, then pitch (of the second rolled component, not the first), then
  // azimuth, with the angle offsets DomeRotation puts in.
  static lens::TurnedRay Turn(float X, float Y, float Zc, float Zs, const lens::ViewRotation& r,
                              bool equirectangular) {
    const lens::TurnedPair rolled = lens::TurnPair(Y, X, r.cos_roll, r.sin_roll);
    const float a = rolled.second * r.cos_pitch + Zs;
    const float b = Zc - rolled.second * r.sin_pitch;
    const lens::TurnedPair turned = lens::TurnPair(b, rolled.first, r.cos_azimuth, r.sin_azimuth);
    return equirectangular ? lens::TurnedRay{a, turned.second, -turned.first}
                           : lens::TurnedRay{turned.first, turned.second, a};
  }
};

}  // namespace oskuda
