// The rotation chains: how each output geometry turns its ray into the
// input's frame. A chain is three plane rotations, by roll, pitch and azimuth
// in an order fixed by the geometry, two of them TurnPair; every product, sum
// and difference is one float operation in the order written. Zc = Z *
// cos_pitch and Zs = Z * sin_pitch come precomputed (several pixels share
// them); `equirectangular` chooses which component serves as the input's
// axis (the panorama's pole) and which two lie across it.
#pragma once

#include "geometry.h"
#include "view.h"

namespace lens {

// A perspective view: roll, then pitch, then azimuth. A panorama input takes
// the ray's Y, the others its X, as the component along the pole.
struct PerspectiveChain {
  static TurnedRay Turn(float X, float Y, float Zc, float Zs, const ViewRotation& r, bool equirectangular) {
    const TurnedPair rolled = TurnPair(Y, X, r.cos_roll, r.sin_roll);
    const float a = rolled.first * r.cos_pitch - Zs;
    const float b = rolled.first * r.sin_pitch + Zc;
    const TurnedPair turned = TurnPair(rolled.second, b, r.cos_azimuth, r.sin_azimuth);
    return equirectangular ? TurnedRay{-a, -turned.second, -turned.first}
                           : TurnedRay{turned.second, turned.first, -a};
  }
};

// A dome master: roll, then pitch of the second rolled component (not the
// first), then azimuth. The dome's rotation record carries its angle offsets
// (roll + 90, azimuth negated, and - 90 first for a panorama input).
struct DomeChain {
  static TurnedRay Turn(float X, float Y, float Zc, float Zs, const ViewRotation& r, bool equirectangular) {
    const TurnedPair rolled = TurnPair(Y, X, r.cos_roll, r.sin_roll);
    const float a = rolled.second * r.cos_pitch + Zs;
    const float b = Zc - rolled.second * r.sin_pitch;
    const TurnedPair turned = TurnPair(b, rolled.first, r.cos_azimuth, r.sin_azimuth);
    return equirectangular ? TurnedRay{a, turned.second, -turned.first}
                           : TurnedRay{turned.first, turned.second, a};
  }
};

// An equirectangular panorama: azimuth about the pole, then pitch, then roll.
struct PanoramaChain {
  static TurnedRay Turn(float X, float Y, float Zc, float Zs, const ViewRotation& r, bool equirectangular) {
    const TurnedPair turned = TurnPair(X, Y, r.cos_azimuth, r.sin_azimuth);
    const float h = Zc - turned.second * r.sin_pitch;
    const float k = turned.second * r.cos_pitch + Zs;
    const TurnedPair rolled = TurnPair(h, turned.first, r.cos_roll, r.sin_roll);
    return equirectangular ? TurnedRay{rolled.first, k, -rolled.second}
                           : TurnedRay{-k, rolled.second, rolled.first};
  }
};

}  // namespace lens
