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
    const float u = Y * r.cos_roll + X * r.sin_roll;
    const float v = X * r.cos_roll - Y * r.sin_roll;
    const float a = u * r.cos_pitch - Zs;
    const float b = u * r.sin_pitch + Zc;
    const float c = b * r.cos_azimuth - v * r.sin_azimuth;
    const float d = v * r.cos_azimuth + b * r.sin_azimuth;
    return equirectangular ? lens::TurnedRay{-a, -c, -d} : lens::TurnedRay{c, d, -a};
  }
};

}  // namespace varnel
