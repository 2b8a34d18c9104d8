// A view: what one filter brings to the shared pipeline. Each filter defines
// one in its own folder, as a struct with
//
//   static constexpr PixelRules kPixels;  // geometry.h
//   static TurnedRay Turn(float X, float Y, float Zc, float Zs,
//                         const ViewRotation& rotation, bool equirectangular);
//
// and hands it to RotateToSource, MapToSource and SampleOrFill (and to the
// batched pipeline) as a template argument. Turn is the output geometry's
// rotation chain: a view derives from one of rotation_chains.h, or a view of
// a new geometry writes its own under the same rules.
#pragma once

namespace lens {

// A ray turned into the input's frame: the component along the input's axis
// (or the panorama's pole) and the two across it.
struct TurnedRay {
  float axis;
  float den;
  float num;
};

// One plane rotation of the pair (p, q) by the angle of cosine c and sine s:
// (p c + q s, q c - p s), each product and sum one float operation.
struct TurnedPair {
  float first;
  float second;
};

inline TurnedPair TurnPair(float p, float q, float c, float s) { return TurnedPair{p * c + q * s, q * c - p * s}; }

}  // namespace lens
