// RunBatch: one batch through the pass that suits its source and sampler,
// then the reads and writes. A remap calls it from its row loop (one copy per
// instruction set, row_dispatch.h).
#pragma once

#include <cstdint>

#include "batch/kernel_set.h"
#include "batch/lanes.h"
#include "batch/lens_pass.h"
#include "batch/panorama_pass.h"
#include "batch/place.h"
#include "batch/quick_passes.h"
#include "batch/staged.h"
#include "lens/lens_models.h"

namespace lens {

// Whether the fused passes take the source: they index it with int32 and
// compare positions in float (AdmitPosition).
inline bool Indexable(const SourceFrame& src) {
  return static_cast<std::int64_t>(src.stride) * src.h <= INT32_MAX && SmallSource(src);
}

// A panorama source: the nearest sampler's quick pass first, then the
// per-pixel functions for the lanes it leaves; the bilinear sampler the
// panorama pass.
template <typename View, KernelSet set, typename Sampler, bool masked>
inline int SamplePanoramaBatch(PixelBatch& b, const ViewRotation& rotation, const LensModel& model,
                               const SourceFrame& src, const SampleOptions& sample_options) {
  const SampleOptions options{Sampler::kBilinear, sample_options.green_back, true};
  constexpr bool quick = !Sampler::kBilinear;
  int recomputed = 0;
  if (!quick || !(model.pi > 0.0f)) {
    recomputed = PlacePanoramaLanes<View, Sampler, masked>(b, rotation, model, src, options);
  } else {
    PlaceNearestQuick<View, masked>(b, rotation, model, src, options);
    recomputed = PlaceRest<View, masked>(b, rotation, model, src, options);
  }
  WritePlaced<set, Sampler>(b, src, FillOf(options));
  return recomputed;
}

// A lens source: unless the whole batch is sure to get the fill, the
// nearest sampler's quick pass where the model has a position estimate, then
// the per-pixel functions for the lanes it leaves; otherwise the lens pass.
template <typename View, KernelSet set, typename Model, typename Sampler, bool masked>
inline int SampleLensBatch(PixelBatch& b, const ViewRotation& rotation, const LensModel& model,
                           const SourceFrame& src, const SampleOptions& sample_options) {
  const SampleOptions options{Sampler::kBilinear, sample_options.green_back, false};
  const int n = b.n;
  bool quick = false;
  if constexpr (!Sampler::kBilinear && HasEstimate<Model>::value) quick = Model::Estimate::Applies(model);
  if (!quick && LensTurnsAwayAll<View, Model, masked>(b, rotation, model)) {
    const PIXEL_YC fill = FillOf(options);
    for (int k = 0; k < n; ++k) *b.out[k] = fill;
    return 0;
  }
  int recomputed = 0;
  if constexpr (!Sampler::kBilinear && HasEstimate<Model>::value) {
    if (quick) {
      PlaceNearestLensQuick<View, Model, masked>(b, rotation, model, src, options);
      recomputed = PlaceRest<View, masked>(b, rotation, model, src, options);
      WritePlaced<set, Sampler>(b, src, FillOf(options));
      return recomputed;
    }
  }
  recomputed = PlaceLensLanes<View, Model, Sampler, masked>(b, rotation, model, src, options);
  WritePlaced<set, Sampler>(b, src, FillOf(options));
  return recomputed;
}

// One batch: lanes 0 .. b.n - 1 of `b` (rays, outputs, and with `masked` the
// output mask in b.admit) sampled or filled. Returns the number of lanes the
// per-pixel functions redid. `set` is the instruction set of the row loop
// that runs it.
template <typename View, KernelSet set, bool masked>
inline int RunBatch(PixelBatch& b, const ViewRotation& rotation, const LensModel& model, const SourceFrame& src,
                    const SampleOptions& options) {
  const bool indexable = Indexable(src);
  if (indexable && options.equirectangular && model.projection == SourceProjection::Equirectangular) {
    return options.bilinear ? SamplePanoramaBatch<View, set, Bilinear, masked>(b, rotation, model, src, options)
                            : SamplePanoramaBatch<View, set, Nearest, masked>(b, rotation, model, src, options);
  }
  if (indexable && !options.equirectangular) {
    const int recomputed = WithLensModel(
        model.projection,
        [&](auto lens_model) {
          using Model = decltype(lens_model);
          return options.bilinear
                     ? SampleLensBatch<View, set, Model, Bilinear, masked>(b, rotation, model, src, options)
                     : SampleLensBatch<View, set, Model, Nearest, masked>(b, rotation, model, src, options);
        },
        -1);
    if (recomputed >= 0) return recomputed;
  }
  return RunStages<View, set, masked>(b, rotation, model, src, options);
}

}  // namespace lens
