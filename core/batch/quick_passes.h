// The nearest sampler's quick passes: a lane's source pixel without its
// exact angles. Single-precision estimates (math/inverse_trig_float.h) bound
// each lane's source position; the pass takes the two ends of that bound
// through the view's in-range test and pixel choice, which never decrease as
// a coordinate grows, and accepts the lane when both ends give the same
// pixel (or, for a lens, both lie off the frame or outside the lens's mask):
// the exact position, which lies between them, gives it too. The lanes left
// (about 1 %) are marked in redo and go through the exact passes, gathered
// from many batches into one (RestLanes, dispatch.h).
#pragma once

#include <cstdint>

#include "batch/angles.h"
#include "batch/lanes.h"
#include "batch/place.h"
#include "lens/lens_models.h"
#include "math/inverse_trig_float.h"
#include "rotation.h"
#include "sampling.h"

namespace lens {

// Relative bound on the distance between the panorama position of the exact
// angles and the position PlaceNearestQuick computes from the estimates: the
// estimates' bound, then at most one rounding of phi, one of its turn by
// 2 pi and two on each side of the scale to pixels (the reference divides by
// 2 pi and multiplies by W; the estimate multiplies by W / 2 pi), 2^-21 in
// all; twice that, so that the rounding of the ends themselves cannot cut
// the bracket.
constexpr float kQuickPositionMargin = 2.0f * (vmath::kFloatEstimateError + 0x1p-21f);

// A panorama source. The steps from the position to the pixel never
// decrease, except where x wraps at the seam (x >= W reads column 0; both
// ends give the same column there only when the whole bracket lies past the
// seam, as the bracket is far narrower than the frame). The sign of the
// exact phi, which picks the panorama model's turn by 2 pi, is the
// estimate's (the relative bound holds down to zero; phi never exceeds
// 3 pi / 2, so the turn down never applies). den = 0 and NaN lanes are
// left for the per-pixel functions.
template <typename View, bool masked>
inline void PlaceNearestQuick(PixelBatch& b, const ViewRotation& view_rotation, const LensModel& model,
                              const SourceFrame& source, const SampleOptions& sample_options) {
  const SampleOptions options{false, sample_options.green_back, true};
  const ViewRotation rotation = view_rotation;
  const SourceFrame src = source;
  const float two_pi = model.pi * 2.0f;
  const float x_scale = static_cast<float>(model.w) / two_pi;
  const float y_scale = static_cast<float>(model.h - 1) / model.pi;
  const int n = b.n;
  const float* __restrict X = b.X;
  const float* __restrict Y = b.Y;
  const float* __restrict Zc = b.Zc;
  const float* __restrict Zs = b.Zs;
  const std::int32_t* __restrict admit = b.admit;
  std::int32_t* __restrict redo = b.redo;
  if (n <= 0) return;
  PositionBoxes boxes;
  for (int k = 0; k < n; ++k) {
    const QuickAngles e = EstimateAnglesF(View::Turn(X[k], Y[k], Zc[k], Zs[k], rotation, true));
    const float phi = e.phi < 0.0f ? e.phi + two_pi : e.phi;
    const float x = phi * x_scale;
    const float y = e.theta * y_scale;
    const float margin_x = x * kQuickPositionMargin;
    const float margin_y = y * kQuickPositionMargin;
    boxes.x_lo[k] = x - margin_x;
    boxes.x_hi[k] = x + margin_x;
    boxes.y_lo[k] = y - margin_y;
    boxes.y_hi[k] = y + margin_y;
    boxes.ok[k] = e.defined;
  }
  ChooseBoxPixels<View>(boxes, n, src, options, b.source, redo, b.box_edge);
  // A lane that the mask turns away needs no angles: the fill. (Selects
  // written as masks: once inlined, the compiler leaves a select loop scalar.)
  if (masked) {
    std::int32_t* __restrict source_index = b.source;
    for (int k = 0; k < n; ++k) {
      const std::int32_t keep = -static_cast<std::int32_t>(admit[k] != 0);
      source_index[k] = (source_index[k] & keep) | ~keep;
      redo[k] &= keep;
    }
  }
}

// A lens source whose model has a position estimate (lens/equidistant.h):
// the box around the estimated position, shifted, goes to ChooseBoxPixels
// where both ends of theta's bracket lie inside the lens's mask. A lane is
// taken when the box gives one pixel, when it lies wholly off the frame (the
// fill: both its corners fail the in-range test), or when both ends of
// theta's bracket lie outside the mask (the fill). Other lanes, den = 0,
// NaN and rays of extreme length among them, are left for the per-pixel
// functions.
template <typename View, typename Model, bool masked>
inline void PlaceNearestLensQuick(PixelBatch& b, const ViewRotation& view_rotation, const LensModel& model,
                                  const SourceFrame& source, const SampleOptions& sample_options) {
  const SampleOptions options{false, sample_options.green_back, false};
  const ViewRotation rotation = view_rotation;
  const SourceFrame src = source;
  const float mask_limit = model.mask_limit;
  const float shift_x = model.shift_x;
  const float shift_y = model.shift_y;
  const typename Model::Estimate estimate(model);
  const float x_max = static_cast<float>(model.w) + 0.5f;
  const float y_max = static_cast<float>(model.h) + 0.5f;
  const int n = b.n;
  if (n <= 0) return;
  const float* __restrict X = b.X;
  const float* __restrict Y = b.Y;
  const float* __restrict Zc = b.Zc;
  const float* __restrict Zs = b.Zs;
  const std::int32_t* __restrict admit = b.admit;
  std::int32_t fill[kBatchLanes];
  PositionBoxes boxes;
  for (int k = 0; k < n; ++k) {
    const PositionBox box = estimate.Of(View::Turn(X[k], Y[k], Zc[k], Zs[k], rotation, false));
    const bool admit_lane = !masked || admit[k] != 0;
    // The mask's test at both ends of theta (NaN: neither).
    const bool inside = mask_limit > box.theta.hi;
    const bool outside = box.theta.lo >= mask_limit;
    const bool known = box.defined != 0;
    boxes.x_lo[k] = (box.x - box.margin_x) - shift_x;
    boxes.x_hi[k] = (box.x + box.margin_x) - shift_x;
    boxes.y_lo[k] = (box.y - box.margin_y) + shift_y;
    boxes.y_hi[k] = (box.y + box.margin_y) + shift_y;
    const bool off_frame = known & inside & box.OffFrame(shift_x, shift_y, x_max, y_max);
    boxes.ok[k] = (known & inside & admit_lane & !off_frame) ? 1 : 0;
    fill[k] = ((known & outside) | off_frame | !admit_lane) ? 1 : 0;
  }
  ChooseBoxPixels<View>(boxes, n, src, options, b.source, b.redo, b.box_edge);
  std::int32_t* __restrict source_index = b.source;
  std::int32_t* __restrict redo = b.redo;
  for (int k = 0; k < n; ++k) {
    // (Selects written as masks, as in PlaceNearestQuick.)
    const std::int32_t filled = -static_cast<std::int32_t>(fill[k] != 0);
    source_index[k] |= filled;
    redo[k] &= ~filled;
  }
}

}  // namespace lens
