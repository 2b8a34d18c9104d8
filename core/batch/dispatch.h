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
#include "batch/stream.h"
#include "lens/lens_models.h"

namespace lens {

// Whether the fused passes take the source: they index it with int32 and
// compare positions in float (AdmitPosition).
inline bool Indexable(const SourceFrame& src) {
  return static_cast<std::int64_t>(src.stride) * src.h <= INT32_MAX && SmallSource(src);
}

// The lanes the nearest sampler's quick passes leave (about 3 of 256),
// gathered from the batches of a row until they fill a batch of their own:
// that batch takes the exact passes, which cost far less a lane over a full
// batch than the per-pixel functions over each lane. A remap keeps one per
// row loop and runs it (RunRestLanes) when the row ends; until then the
// gathered outputs hold the fill. Its lanes are all admitted (a quick pass
// leaves no lane the mask turns away), so it runs without the mask.
struct RestLanes {
  PixelBatch batch;
};

// Which passes a batch takes: the nearest sampler's quick passes where they
// apply (the lanes they leave go to a RestLanes), or the exact ones only.
// (A template parameter, not a flag: the rest's run must not call back into
// the gathering, or the row loop's copy could no longer be inlined whole.)
enum class Passes { Quick, Exact };

template <typename View, KernelSet set>
inline void RunRestLanes(RestLanes& rest, const ViewRotation& rotation, const LensModel& model,
                         const SourceFrame& src, const SampleOptions& options);

// The lanes of `b` marked in b.redo into `rest`, which runs whenever it
// fills.
template <typename View, KernelSet set>
inline void GatherRest(const PixelBatch& b, RestLanes& rest, const ViewRotation& rotation, const LensModel& model,
                       const SourceFrame& src, const SampleOptions& options) {
  PixelBatch& r = rest.batch;
  ForEachSetLane(b.redo, b.n, [&](int k) {
    if (r.n == kBatchLanes) RunRestLanes<View, set>(rest, rotation, model, src, options);
    const int i = r.n++;
    r.X[i] = b.X[k];
    r.Y[i] = b.Y[k];
    r.Zc[i] = b.Zc[k];
    r.Zs[i] = b.Zs[k];
    r.out[i] = b.out[k];
  });
}

// A panorama source: the nearest sampler's quick pass first, the lanes it
// leaves to `rest`; otherwise the panorama pass.
template <typename View, KernelSet set, typename Sampler, bool masked, Passes passes>
inline void SamplePanoramaBatch(PixelBatch& b, RestLanes* rest, const ViewRotation& rotation,
                                const LensModel& model, const SourceFrame& src,
                                const SampleOptions& sample_options) {
  const SampleOptions options{Sampler::kBilinear, sample_options.green_back, true};
  if constexpr (!Sampler::kBilinear && passes == Passes::Quick) {
    if (model.pi > 0.0f) {
      PlaceNearestQuick<View, masked>(b, rotation, model, src, options);
      WritePlaced<set, Sampler>(b, src, FillOf(options));
      GatherRest<View, set>(b, *rest, rotation, model, src, options);
      return;
    }
  }
  PlacePanoramaLanes<View, Sampler, masked>(b, rotation, model, src, options);
  WritePlaced<set, Sampler>(b, src, FillOf(options));
}

// A lens source: the nearest sampler's quick pass where the model has a
// position estimate, the lanes it leaves to `rest`; otherwise, unless the
// whole batch is sure to get the fill, the lens pass.
template <typename View, KernelSet set, typename Model, typename Sampler, bool masked, Passes passes>
inline void SampleLensBatch(PixelBatch& b, RestLanes* rest, const ViewRotation& rotation, const LensModel& model,
                            const SourceFrame& src, const SampleOptions& sample_options) {
  const SampleOptions options{Sampler::kBilinear, sample_options.green_back, false};
  if constexpr (!Sampler::kBilinear && HasEstimate<Model>::value && passes == Passes::Quick) {
    if (Model::Estimate::Applies(model)) {
      PlaceNearestLensQuick<View, Model, masked>(b, rotation, model, src, options);
      WritePlaced<set, Sampler>(b, src, FillOf(options));
      GatherRest<View, set>(b, *rest, rotation, model, src, options);
      return;
    }
  }
  if (LensTurnsAwayAll<View, Model, masked>(b, rotation, model)) {
    const PIXEL_YC fill = FillOf(options);
    for (int k = 0; k < b.n; ++k) *b.out[k] = fill;
    return;
  }
  PlaceLensLanes<View, Model, Sampler, masked>(b, rotation, model, src, options);
  WritePlaced<set, Sampler>(b, src, FillOf(options));
}

// The pass that suits the source and sampler. `rest` is used with the quick
// passes only.
template <typename View, KernelSet set, bool masked, Passes passes>
inline void RunPasses(PixelBatch& b, RestLanes* rest, const ViewRotation& rotation, const LensModel& model,
                      const SourceFrame& src, const SampleOptions& options) {
  const bool indexable = Indexable(src);
  if (indexable && options.equirectangular && model.projection == SourceProjection::Equirectangular) {
    if (options.bilinear) {
      SamplePanoramaBatch<View, set, Bilinear, masked, passes>(b, rest, rotation, model, src, options);
    } else {
      SamplePanoramaBatch<View, set, Nearest, masked, passes>(b, rest, rotation, model, src, options);
    }
    return;
  }
  if (indexable && !options.equirectangular) {
    const bool sampled = WithLensModel(
        model.projection,
        [&](auto lens_model) {
          using Model = decltype(lens_model);
          if (options.bilinear) {
            SampleLensBatch<View, set, Model, Bilinear, masked, passes>(b, rest, rotation, model, src, options);
          } else {
            SampleLensBatch<View, set, Model, Nearest, masked, passes>(b, rest, rotation, model, src, options);
          }
          return true;
        },
        false);
    if (sampled) return;
  }
  RunStages<View, set, masked>(b, rotation, model, src, options);
}

// One batch: lanes 0 .. b.n - 1 of `b` (rays, outputs, and with `masked` the
// output mask in b.admit) sampled or filled, but for the lanes left in
// `rest`, whose pixels come when it runs. `set` is the instruction set of the
// row loop that runs it.
template <typename View, KernelSet set, bool masked>
inline void RunBatch(PixelBatch& b, RestLanes& rest, const ViewRotation& rotation, const LensModel& model,
                     const SourceFrame& src, const SampleOptions& options) {
  RunPasses<View, set, masked, Passes::Quick>(b, &rest, rotation, model, src, options);
}

// The lanes gathered in a RestLanes, by the exact passes. Only the nearest
// sampler's quick passes gather lanes, and only from a source they index
// (RunPasses): a panorama, or a lens whose model has a position estimate.
// The outputs hold the fill, which a batch may have streamed (stream.h): the
// fence orders those stores before these plain ones.
template <typename View, KernelSet set>
inline void RunRestBatch(PixelBatch& b, const ViewRotation& rotation, const LensModel& model,
                         const SourceFrame& src, const SampleOptions& options) {
  b.runs = 0;
  StreamFence();
  if (options.equirectangular) {
    SamplePanoramaBatch<View, set, Nearest, false, Passes::Exact>(b, nullptr, rotation, model, src, options);
  } else {
    WithLensModel(
        model.projection,
        [&](auto lens_model) {
          using Model = decltype(lens_model);
          if constexpr (HasEstimate<Model>::value) {
            SampleLensBatch<View, set, Model, Nearest, false, Passes::Exact>(b, nullptr, rotation, model, src,
                                                                               options);
          }
          return 0;
        },
        0);
  }
}

// RunRestBatch out of line: it runs once in many batches, and inlined at
// each of its calls it would multiply the row loops' code (and their
// compile time). Each instruction set's copy carries its target and inlines
// its passes, as a row loop does (row_dispatch.h).
template <typename View, KernelSet set>
struct RestRun {
  __attribute__((noinline)) LENS_BASELINE_KERNEL static void Run(PixelBatch& b, const ViewRotation& rotation,
                                                                 const LensModel& model, const SourceFrame& src,
                                                                 const SampleOptions& options) {
    RunRestBatch<View, set>(b, rotation, model, src, options);
  }
};
#ifdef LENS_AVX2_KERNELS
template <typename View>
struct RestRun<View, KernelSet::Avx2> {
  __attribute__((noinline)) LENS_AVX2_KERNEL static void Run(PixelBatch& b, const ViewRotation& rotation,
                                                             const LensModel& model, const SourceFrame& src,
                                                             const SampleOptions& options) {
    RunRestBatch<View, KernelSet::Avx2>(b, rotation, model, src, options);
  }
};
template <typename View>
struct RestRun<View, KernelSet::Avx512> {
  __attribute__((noinline)) LENS_AVX512_KERNEL static void Run(PixelBatch& b, const ViewRotation& rotation,
                                                               const LensModel& model, const SourceFrame& src,
                                                               const SampleOptions& options) {
    RunRestBatch<View, KernelSet::Avx512>(b, rotation, model, src, options);
  }
};
#endif

// The lanes gathered in `rest`, if any; `rest` is empty after.
template <typename View, KernelSet set>
inline void RunRestLanes(RestLanes& rest, const ViewRotation& rotation, const LensModel& model,
                         const SourceFrame& src, const SampleOptions& options) {
  if (rest.batch.n == 0) return;
  RestRun<View, set>::Run(rest.batch, rotation, model, src, options);
  rest.batch.n = 0;
}

}  // namespace lens
