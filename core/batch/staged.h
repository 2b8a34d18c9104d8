// The pipeline in stages over a batch, for sources the fused passes do not
// take (pixel indices beyond 32 bits, sides of 2^22 or more): the turn, the
// angles, the lens model and the sampling, each a loop over the lanes.
#pragma once

#include "batch/angles.h"
#include "batch/lanes.h"
#include "batch/place.h"
#include "lens/lens_models.h"
#include "math/vector_math.h"
#include "rotation.h"
#include "sampling.h"

namespace lens {

// Stage 1: the view's rotation chain, float only.
template <typename View>
inline void TurnBatch(PixelBatch& b, const ViewRotation& rotation, bool equirectangular) {
  const int n = b.n;
  for (int k = 0; k < n; ++k) {
    const TurnedRay t = View::Turn(b.X[k], b.Y[k], b.Zc[k], b.Zs[k], rotation, equirectangular);
    b.axis[k] = t.axis;
    b.den[k] = t.den;
    b.num[k] = t.num;
  }
}

// Stage 2: theta and phi, as AnglesOf (angles.h).
inline int AnglesBatch(PixelBatch& b) {
  const int n = b.n;
  for (int k = 0; k < n; ++k) {
    const EstimatedAngles a = EstimateAngles(TurnedRay{b.axis[k], b.den[k], b.num[k]});
    b.theta[k] = static_cast<float>(a.theta);
    b.phi[k] = static_cast<float>(a.phi);
    b.redo[k] = a.accepted ^ 1;
  }
  int recomputed = 0;
  for (int k = 0; k < n; ++k) {
    if (b.redo[k] == 0) continue;
    const SourceAngles a = AnglesOf(TurnedRay{b.axis[k], b.den[k], b.num[k]});
    b.theta[k] = a.theta;
    b.phi[k] = a.phi;
    ++recomputed;
  }
  return recomputed;
}

// The model's function of theta, over the lanes' arguments.
template <ThetaFunction f>
inline void ThetaFunctionOver(const double* arguments, double* values, int n) {
  if constexpr (f == ThetaFunction::Sin || f == ThetaFunction::SinOfHalf) vmath::Sin(arguments, values, n);
  if constexpr (f == ThetaFunction::Tan) vmath::Tan(arguments, values, n);
}

// Stage 3: MapToSource. The panorama model is float arithmetic (double for
// the azimuth where the view says so) and runs per lane as is; a lens model
// takes cos psi, sin psi and its function of theta from the array functions,
// and a lane whose position it cannot decide is redone by MapToSource.
template <typename View>
inline int MapBatch(PixelBatch& b, const LensModel& m) {
  const int n = b.n;
  if (m.projection == SourceProjection::Equirectangular) {
    for (int k = 0; k < n; ++k) b.SetPoint(k, Equirectangular::Place<View>(m, SourceAngles{b.theta[k], b.phi[k]}));
    return 0;
  }
  WithLensModel(
      m.projection,
      [&](auto model) {
        using Model = decltype(model);
        for (int k = 0; k < n; ++k) {
          b.psi_argument[k] = static_cast<double>(-b.phi[k]);
          b.theta_argument[k] = ThetaArgument<Model::kThetaFunction>(b.theta[k]);
        }
        vmath::Cos(b.psi_argument, b.cos_psi, n);
        vmath::Sin(b.psi_argument, b.sin_psi, n);
        ThetaFunctionOver<Model::kThetaFunction>(b.theta_argument, b.f_theta, n);
        for (int k = 0; k < n; ++k) {
          const double f = Model::kThetaFunction == ThetaFunction::None ? 0.0 : b.f_theta[k];
          const LensLane lane = Model::Place(m, b.theta[k], b.cos_psi[k], b.sin_psi[k], f);
          b.px[k] = lane.inside != 0 ? lane.x : 0.0f;
          b.py[k] = lane.inside != 0 ? lane.y : 0.0f;
          b.outside[k] = lane.inside == 0;
          b.redo[k] = lane.inside != 0 && lane.decided == 0;
        }
        return 0;
      },
      0);
  int recomputed = 0;
  for (int k = 0; k < n; ++k) {
    if (b.redo[k] == 0) continue;
    b.SetPoint(k, MapToSource<View>(m, SourceAngles{b.theta[k], b.phi[k]}));
    ++recomputed;
  }
  return recomputed;
}

// Stage 4, first half: the view's in-range test and the source pixels of
// every lane (a rejected lane gets position 0, 0: harmless, never read). One
// loop per sampler and mask, so that each is plain vector code.
template <typename View, typename Sampler, bool masked>
inline void PlaceLanes(PixelBatch& b, const SourceFrame& source, const SampleOptions& sample_options) {
  constexpr PixelConvention convention = View::kPixels.convention;
  // Local copies: the compiler need not reload them after each lane's stores.
  const SourceFrame src = source;
  const SampleOptions options = sample_options;
  const bool equirectangular = options.equirectangular;
  const std::ptrdiff_t stride = src.stride;
  for (int k = 0; k < b.n; ++k) {
    const AdmittedPosition a = AdmitPosition<View>(src, b.Point(k), options, !masked || b.admit[k] != 0);
    b.in_range[k] = a.in_range;
    b.take[k] = a.in_range ? 1 : 0;
    const float x = a.in_range ? a.x : 0.0f;
    const float y = a.in_range ? a.y : 0.0f;
    if (Sampler::kBilinear) {
      const BilinearTaps t = BilinearTapsAt(src, x, y, equirectangular, convention);
      b.x0[k] = t.x0;
      b.x1[k] = t.x1;
      b.y0[k] = t.y0;
      b.y1[k] = t.y1;
      b.fx[k] = t.fx;
      b.fy[k] = t.fy;
    } else {
      const PixelTap t = NearestTap(src, x, y, equirectangular, convention);
      b.index[k] = static_cast<std::ptrdiff_t>(t.row) * stride + t.column;
    }
  }
}

// Stage 4: one sample or the fill colour per lane: first the in-range test
// and the source pixels of every lane, then the reads and writes.
template <typename View, KernelSet set, bool masked>
inline void SampleBatch(PixelBatch& b, const SourceFrame& src, const SampleOptions& options) {
  const PIXEL_YC fill = FillOf(options);
  const int n = b.n;
  if (options.bilinear) {
    PlaceLanes<View, Bilinear, masked>(b, src, options);
    MixLanes<set>(src, b.MixArrays(), fill, n);
  } else {
    PlaceLanes<View, Nearest, masked>(b, src, options);
    for (int k = 0; k < n; ++k) *b.out[k] = b.in_range[k] ? src.pixels[b.index[k]] : fill;
  }
}

// All four stages; returns the number of recomputed lanes.
template <typename View, KernelSet set, bool masked>
inline int RunStages(PixelBatch& b, const ViewRotation& rotation, const LensModel& model,
                     const SourceFrame& src, const SampleOptions& options) {
  TurnBatch<View>(b, rotation, options.equirectangular);
  int recomputed = AnglesBatch(b);
  recomputed += MapBatch<View>(b, model);
  SampleBatch<View, set, masked>(b, src, options);
  return recomputed;
}

}  // namespace lens
