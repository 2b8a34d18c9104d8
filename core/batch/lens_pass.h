// The passes for a lens source: the screen that fills a whole batch the lens
// is sure not to see, and the pass that places every lane through the lens
// model.
#pragma once

#include <cstdint>
#include <type_traits>

#include "batch/angles.h"
#include "batch/lanes.h"
#include "batch/place.h"
#include "batch/staged.h"
#include "lens/lens_models.h"
#include "math/vector_math.h"
#include "rotation.h"
#include "sampling.h"

namespace lens {

// Whether a lens model has a position estimate (Model::Estimate).
template <typename Model, typename = void>
struct HasEstimate : std::false_type {};
template <typename Model>
struct HasEstimate<Model, std::void_t<typename Model::Estimate>> : std::true_type {};

// The estimate's type, or a stand-in for models without one.
struct NoEstimate {
  explicit NoEstimate(const LensModel&) {}
};
template <typename Model, bool = HasEstimate<Model>::value>
struct EstimateOf {
  using type = NoEstimate;
};
template <typename Model>
struct EstimateOf<Model, true> {
  using type = typename Model::Estimate;
};

// Whether every lane of the batch is sure to get the fill without its exact
// angles: the output mask turns it away, or the bracket of the float
// estimate of theta (math/inverse_trig_float.h) lies wholly where the model
// turns rays away (TurnsAwayFrom at its lower end, as that verdict holds from
// there up), or, for a model with a position estimate, the box around the
// estimated position lies wholly off the frame. Theta depends on the ray's
// axis alone, and a NaN bracket keeps the lane. A fisheye often covers half
// a panorama or less, in whole runs of a row.
template <typename View, typename Model, bool masked>
inline bool LensTurnsAwayAll(const PixelBatch& b, const ViewRotation& view_rotation, const LensModel& model) {
  const ViewRotation rotation = view_rotation;
  const LensModel m = model;
  [[maybe_unused]] const float shift_x = m.shift_x;
  [[maybe_unused]] const float shift_y = m.shift_y;
  [[maybe_unused]] const float x_max = static_cast<float>(m.w) + 0.5f;
  [[maybe_unused]] const float y_max = static_cast<float>(m.h) + 0.5f;
  [[maybe_unused]] const typename EstimateOf<Model>::type estimate(m);
  [[maybe_unused]] bool boxed = false;
  if constexpr (HasEstimate<Model>::value) boxed = Model::Estimate::Applies(m);
  const float* __restrict X = b.X;
  const float* __restrict Y = b.Y;
  const float* __restrict Zc = b.Zc;
  const float* __restrict Zs = b.Zs;
  const std::int32_t* __restrict admit = b.admit;
  // In runs of kRun lanes, so that a batch with a lane to keep is found out
  // early (most are, or have none).
  constexpr int kRun = 16;
  for (int k0 = 0; k0 < b.n; k0 += kRun) {
    const int end = k0 + kRun < b.n ? k0 + kRun : b.n;
    std::int32_t kept = 0;
    for (int k = k0; k < end; ++k) {
      const TurnedRay ray = View::Turn(X[k], Y[k], Zc[k], Zs[k], rotation, false);
      bool away;
      if constexpr (HasEstimate<Model>::value) {
        const PositionBox box = estimate.Of(ray);
        away = Model::TurnsAwayFrom(m, box.theta.lo) |
               (boxed & box.defined & box.OffFrame(shift_x, shift_y, x_max, y_max));
      } else {
        away = Model::TurnsAwayFrom(m, vmath::BracketOf(vmath::AcosEstimateF(ray.axis)).lo);
      }
      if (masked) away = away | (admit[k] == 0);
      kept += away ? 0 : 1;
    }
    if (kept != 0) return false;
  }
  return true;
}

// Places every lane through the model: the turn and the angle estimates in
// one pass, the angles that cannot be decided again by AnglesOf, the sines,
// cosines and tangents over arrays, then the model, the in-range test and
// the source pixels in a second pass, the positions that cannot be decided
// again by MapToSource. Fills source (nearest) or take and the taps
// (bilinear); b.admit holds the output mask when `masked`. Returns the number
// of lanes redone.
template <typename View, typename Model, typename Sampler, bool masked>
inline int PlaceLensLanes(PixelBatch& b, const ViewRotation& view_rotation, const LensModel& model,
                          const SourceFrame& source, const SampleOptions& sample_options) {
  constexpr ThetaFunction kF = Model::kThetaFunction;
  // The sampler and the wrap as constants, even where this is not inlined.
  const SampleOptions options{Sampler::kBilinear, sample_options.green_back, false};
  const ViewRotation rotation = view_rotation;
  const LensModel m = model;
  const SourceFrame src = source;
  const int n = b.n;
  const float* __restrict X = b.X;
  const float* __restrict Y = b.Y;
  const float* __restrict Zc = b.Zc;
  const float* __restrict Zs = b.Zs;
  float* __restrict theta_of = b.theta;
  float* __restrict phi_of = b.phi;
  double* __restrict psi_argument = b.psi_argument;
  double* __restrict theta_argument = b.theta_argument;
  std::int32_t* __restrict redo = b.redo;
  for (int k = 0; k < n; ++k) {
    const EstimatedAngles e = EstimateAngles(View::Turn(X[k], Y[k], Zc[k], Zs[k], rotation, false));
    const float theta = static_cast<float>(e.theta);
    const float phi = static_cast<float>(e.phi);
    theta_of[k] = theta;
    phi_of[k] = phi;
    psi_argument[k] = static_cast<double>(-phi);
    theta_argument[k] = ThetaArgument<kF>(theta);
    redo[k] = e.accepted ^ 1;
  }
  int recomputed = 0;
  for (int k = AnyLaneSet(b.redo, n) ? 0 : n; k < n; ++k) {
    if (b.redo[k] == 0) continue;
    const SourceAngles a = AnglesOf(View::Turn(b.X[k], b.Y[k], b.Zc[k], b.Zs[k], rotation, false));
    b.theta[k] = a.theta;
    b.phi[k] = a.phi;
    b.psi_argument[k] = static_cast<double>(-a.phi);
    b.theta_argument[k] = ThetaArgument<kF>(a.theta);
    ++recomputed;
  }
  vmath::Cos(b.psi_argument, b.cos_psi, n);
  vmath::Sin(b.psi_argument, b.sin_psi, n);
  ThetaFunctionOver<kF>(b.theta_argument, b.f_theta, n);
  const float* __restrict theta_in = b.theta;
  const double* __restrict cos_psi = b.cos_psi;
  const double* __restrict sin_psi = b.sin_psi;
  const double* __restrict f_theta = b.f_theta;
  std::int32_t* __restrict source_index = b.source;
  std::int32_t* __restrict take = b.take;
  std::int32_t* __restrict x0 = b.x0;
  std::int32_t* __restrict x1 = b.x1;
  std::int32_t* __restrict y0 = b.y0;
  std::int32_t* __restrict y1 = b.y1;
  float* __restrict fx = b.fx;
  float* __restrict fy = b.fy;
  const std::int32_t* __restrict admit = b.admit;
  for (int k = 0; k < n; ++k) {
    const double f = kF == ThetaFunction::None ? 0.0 : f_theta[k];
    const LensLane lane = Model::Place(m, theta_in[k], cos_psi[k], sin_psi[k], f);
    // The model's verdict joins the in-range test's afterwards (the same
    // conjunction; a bool carried into the test keeps this loop scalar).
    AdmittedPosition a = AdmitPosition<View, float>(src, SourcePoint{lane.x, lane.y, false}, options,
                                                    !masked || admit[k] != 0);
    a.in_range = a.in_range & (lane.inside != 0);
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
    redo[k] = lane.inside & (lane.decided ^ 1);
  }
  for (int k = AnyLaneSet(b.redo, n) ? 0 : n; k < n; ++k) {
    if (b.redo[k] == 0) continue;
    const SourcePoint p = MapToSource<View>(m, SourceAngles{b.theta[k], b.phi[k]});
    const AdmittedPosition a = AdmitPosition<View>(src, p, options, !masked || b.admit[k] != 0);
    StorePlace<Sampler>(b, k, PlaceLane<View, Sampler>(a, src, options));
    ++recomputed;
  }
  return recomputed;
}

}  // namespace lens
