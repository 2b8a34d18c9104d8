// How the dome master meets the shared pipeline: its rotation chain and its
// sampling rules.
#pragma once

#include "geometry.h"
#include "rotation.h"
#include "rotation_chains.h"

namespace oskuda {

// Integer coordinates are pixel edges; the nearest sampler admits
// [-0.5, W + 0.5) x [-0.5, H + 0.5), the upper ends open; the panorama model
// works in float.
struct View : lens::DomeChain {
  static constexpr lens::PixelRules kPixels{lens::PixelConvention::PixelEdge, true, false};
};

}  // namespace oskuda
