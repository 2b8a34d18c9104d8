// How the panorama filter meets the shared pipeline: its rotation chain and
// its sampling rules.
#pragma once

#include "geometry.h"
#include "rotation.h"
#include "rotation_chains.h"

namespace trimbel {

// Integer coordinates are pixel centres: the nearest sampler moves a position
// by half a pixel, wraps the seam and admits [0, W) x [0, H). A panorama
// input's azimuth is wrapped and scaled in double.
struct View : lens::PanoramaChain {
  static constexpr lens::PixelRules kPixels{lens::PixelConvention::PixelCentre, true, true};
};

}  // namespace trimbel
