// The pass for a panorama source: the turn, the angle estimates, the
// panorama position, the in-range test and the source pixels of every lane
// in one loop, then the lanes whose angles the estimates cannot decide by the
// per-pixel functions.
#pragma once

#include <cstdint>

#include "batch/angles.h"
#include "batch/lanes.h"
#include "batch/place.h"
#include "lens/lens_models.h"
#include "rotation.h"
#include "sampling.h"

namespace lens {

// Fills source (nearest) or take and the taps (bilinear) of lanes
// 0 .. b.n - 1; b.admit holds the output mask when `masked`. Returns the
// number of lanes redone.
template <typename View, typename Sampler, bool masked>
inline int PlacePanoramaLanes(PixelBatch& b, const ViewRotation& view_rotation, const LensModel& model,
                              const SourceFrame& source, const SampleOptions& sample_options) {
  // Local copies: the compiler need not reload them after each lane's
  // stores, and the sampler and the wrap are constants.
  const SampleOptions options{Sampler::kBilinear, sample_options.green_back, true};
  const ViewRotation rotation = view_rotation;
  const LensModel m = model;
  const SourceFrame src = source;
  const int n = b.n;
  const float* __restrict X = b.X;
  const float* __restrict Y = b.Y;
  const float* __restrict Zc = b.Zc;
  const float* __restrict Zs = b.Zs;
  const std::int32_t* __restrict admit = b.admit;
  std::int32_t* __restrict source_index = b.source;
  std::int32_t* __restrict take = b.take;
  std::int32_t* __restrict redo = b.redo;
  std::int32_t* __restrict x0 = b.x0;
  std::int32_t* __restrict x1 = b.x1;
  std::int32_t* __restrict y0 = b.y0;
  std::int32_t* __restrict y1 = b.y1;
  float* __restrict fx = b.fx;
  float* __restrict fy = b.fy;
  for (int k = 0; k < n; ++k) {
    const EstimatedAngles e = EstimateAngles(View::Turn(X[k], Y[k], Zc[k], Zs[k], rotation, true));
    const SourceAngles angles{static_cast<float>(e.theta), static_cast<float>(e.phi)};
    const AdmittedPosition a = AdmitPosition<View, float>(src, Equirectangular::Place<View>(m, angles), options,
                                                          !masked || admit[k] != 0);
    const LanePlace place = PlaceLane<View, Sampler>(a, src, options);
    if (Sampler::kBilinear) {
      take[k] = place.take;
      x0[k] = place.taps.x0;
      x1[k] = place.taps.x1;
      y0[k] = place.taps.y0;
      y1[k] = place.taps.y1;
      fx[k] = place.taps.fx;
      fy[k] = place.taps.fy;
    } else {
      source_index[k] = place.source;
    }
    redo[k] = e.accepted ^ 1;
  }
  int recomputed = 0;
  for (int k = AnyLaneSet(b.redo, n) ? 0 : n; k < n; ++k) {
    if (b.redo[k] == 0) continue;
    const SourceAngles angles = AnglesOf(View::Turn(b.X[k], b.Y[k], b.Zc[k], b.Zs[k], rotation, true));
    const AdmittedPosition a =
        AdmitPosition<View>(src, MapToSource<View>(m, angles), options, !masked || b.admit[k] != 0);
    StorePlace<Sampler>(b, k, PlaceLane<View, Sampler>(a, src, options));
    ++recomputed;
  }
  return recomputed;
}

}  // namespace lens
