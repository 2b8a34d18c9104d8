// How the perspective view meets the shared pipeline: its rotation chain and
// its sampling rules.
#pragma once

#include "geometry.h"
#include "rotation.h"
#include "rotation_chains.h"

namespace varnel {

// Integer coordinates are pixel edges; the nearest sampler admits
// [-0.5, W + 0.5] x [-0.5, H + 0.5] with both ends; the panorama model works
// in float.
struct View : lens::PerspectiveChain {
  static constexpr lens::PixelRules kPixels{lens::PixelConvention::PixelEdge, false, false};
};

}  // namespace varnel
