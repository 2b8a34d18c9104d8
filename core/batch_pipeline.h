// The per-pixel pipeline (RotateToSource, MapToSource, SampleOrFill) run
// over a batch of output pixels at a time, with the same bits as the
// per-pixel functions.
//
// A remap fills a PixelBatch with the rays of up to kBatchLanes output pixels
// and the addresses they go to, then runs the stages below in turn. Float
// arithmetic is the per-pixel functions' own code in plain loops (float
// vector instructions round exactly as scalar ones; the build forbids
// contraction). The double-precision sin, cos, tan, atan and acos run over
// whole arrays (vector_math.h); a lane is accepted only when the vector
// result, carried through the rest of the formula, is too far from a float
// rounding boundary for its few-ulp error to matter, and any other lane is
// recomputed by the per-pixel function itself. Each stage returns how many
// lanes it recomputed.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "geometry.h"
#include "inverse_trig.h"
#include "inverse_trig_float.h"
#include "kernel_set.h"
#include "lens_models.h"
#include "mix_lanes.h"
#include "rotation.h"
#include "sampling.h"
#include "vector_math.h"

namespace lens {

constexpr int kBatchLanes = 256;

// Sources whose bounds AdmitPosition may compare in float.
inline bool SmallSource(const SourceFrame& src) {
  return src.w < (1 << 22) && src.h < (1 << 22);
}

// Whether any of the n flags is set, in a loop that becomes vector code: the
// scalar loops over the lanes to redo (none, or a few, in most batches) start
// only when there are some.
inline bool AnyLaneSet(const std::int32_t* flags, int n) {
  std::int32_t any = 0;
  for (int k = 0; k < n; ++k) any |= flags[k];
  return any != 0;
}

struct PixelBatch {
  int n = 0;  // lanes in use
  // Filled by the remap: the ray, Z * cos_pitch and Z * sin_pitch, and where
  // the pixel goes.
  float X[kBatchLanes];
  float Y[kBatchLanes];
  float Zc[kBatchLanes];
  float Zs[kBatchLanes];
  PIXEL_YC* out[kBatchLanes];
  // Filled by the stages.
  float axis[kBatchLanes];
  float den[kBatchLanes];
  float num[kBatchLanes];
  float theta[kBatchLanes];
  float phi[kBatchLanes];
  // MapToSource's SourcePoint, one array per member.
  float px[kBatchLanes];
  float py[kBatchLanes];
  bool outside[kBatchLanes];
  // Double-precision arguments and results of the array functions.
  double arg_a[kBatchLanes];
  double arg_b[kBatchLanes];
  double res_a[kBatchLanes];
  double res_b[kBatchLanes];
  double res_c[kBatchLanes];
  bool recompute[kBatchLanes];
  // Sampling: the in-range verdict and the source pixels of each lane.
  bool in_range[kBatchLanes];
  std::ptrdiff_t index[kBatchLanes];
  std::int32_t x0[kBatchLanes], x1[kBatchLanes], y0[kBatchLanes], y1[kBatchLanes];
  float fx[kBatchLanes], fy[kBatchLanes];
  // The fused panorama-source pass (SampleEquirectangularBatch): the source
  // pixel of a nearest lane or -1 for the fill, the bilinear in-range verdict
  // and the lanes to recompute, all 32-bit so that the pass is vector code.
  std::int32_t source[kBatchLanes];
  std::int32_t take[kBatchLanes];
  std::int32_t redo[kBatchLanes];
  std::int32_t admit[kBatchLanes];  // the output mask, as 0 or 1

  MixLaneArrays MixArrays() const { return MixLaneArrays{take, x0, x1, y0, y1, fx, fy, out}; }
  SourcePoint Point(int k) const { return SourcePoint{px[k], py[k], outside[k]}; }
  void SetPoint(int k, SourcePoint p) {
    px[k] = p.x;
    py[k] = p.y;
    outside[k] = p.outside;
  }
};

// Stage 1: the filter's rotation chain, float only.
template <typename View>
inline void TurnBatch(PixelBatch& b, const ViewRotation& rotation, bool equirectangular) {
  const int n = b.n;
  if (equirectangular) {
    for (int k = 0; k < n; ++k) {
      const TurnedRay t = View::Turn(b.X[k], b.Y[k], b.Zc[k], b.Zs[k], rotation, true);
      b.axis[k] = t.axis;
      b.den[k] = t.den;
      b.num[k] = t.num;
    }
  } else {
    for (int k = 0; k < n; ++k) {
      const TurnedRay t = View::Turn(b.X[k], b.Y[k], b.Zc[k], b.Zs[k], rotation, false);
      b.axis[k] = t.axis;
      b.den[k] = t.den;
      b.num[k] = t.num;
    }
  }
}

// Stage 2: theta = acos(axis) and phi from num / den, as AnglesOf, from the
// estimates of inverse_trig.h in the same loop (no pass over arrays).
inline int AnglesBatch(PixelBatch& b) {
  const int n = b.n;
  const double pi = static_cast<double>(kPi);
  // Branch-free over all lanes first; the rare lanes to recompute after.
  for (int k = 0; k < n; ++k) {
    const float den = b.den[k];
    const float q = b.num[k] / den;
    const bool negative = den < 0.0f;
    const double theta = vmath::AcosEstimate(static_cast<double>(b.axis[k]));
    // den < 0 takes atan(-q); den = 0 or NaN lanes are recomputed below.
    const double t = vmath::AtanEstimate(static_cast<double>(negative ? -q : q));
    const double phi = negative ? pi - t : t;
    // phi is within 2^-46 |t| plus one rounding of the exact one, and
    // |t| <= |phi| (|t| <= pi / 2 <= |phi| where den < 0): inside the
    // relative margin. den = 0 or NaN: AnglesOf's other branches.
    const bool ok = ((den > 0.0f) | negative) &
                    vmath::RoundsSafelyRelative(theta) & vmath::RoundsSafelyRelative(phi);
    b.theta[k] = static_cast<float>(theta);
    b.phi[k] = static_cast<float>(phi);
    b.recompute[k] = !ok;
  }
  int recomputed = 0;
  for (int k = 0; k < n; ++k) {
    if (!b.recompute[k]) continue;
    const SourceAngles a = AnglesOf(TurnedRay{b.axis[k], b.den[k], b.num[k]});
    b.theta[k] = a.theta;
    b.phi[k] = a.phi;
    ++recomputed;
  }
  return recomputed;
}

// One lane of a lens model: the position from theta, cos psi, sin psi and
// the model's function of theta (f_theta), with the same tests and the same
// operations, in the same order, as MapToSource (outside the model the
// position is meaningless: MapToSource gives 0, 0 there). `decided` is false when the
// position's float rounding could depend on the error of the vector results
// (the margins scale with the terms that make up x and y).
// (32-bit flags: the compiler keeps a record of bools in memory, and the
// loop over lanes scalar.)
struct LensLane {
  float x, y;
  std::int32_t inside;
  std::int32_t decided;
};

template <SourceProjection projection>
inline LensLane MapLensLane(const LensModel& m, float theta, double cos_psi, double sin_psi,
                            double f_theta) {
  const double W = static_cast<double>(m.w);
  const double H = static_cast<double>(m.h);
  const double half_w = W * 0.5;
  const double half_h = H * 0.5;
  const double pi = static_cast<double>(m.pi);
  bool inside;
  double x, y, margin_x, margin_y;
  if (projection == SourceProjection::Central) {
    inside = theta <= m.pi * 0.5f && m.mask_limit > theta;
    const double ux = cos_psi * f_theta / m.central_kx;
    const double uy = sin_psi * f_theta / m.central_ky;
    x = (ux + 0.5) * W;
    y = (uy + 0.5) * H;
    margin_x = (vmath::Abs(ux) + 0.5) * W * vmath::kMargin;
    margin_y = (vmath::Abs(uy) + 0.5) * H * vmath::kMargin;
  } else {
    double tx, ty;
    if (projection == SourceProjection::Equidistant) {
      inside = m.mask_limit > theta;
      const double r = m.fov_scale * static_cast<double>(theta) / pi;
      tx = cos_psi * r * W;
      ty = sin_psi * r * W;
    } else if (projection == SourceProjection::Orthographic) {
      inside = theta <= m.pi * 0.5f && m.mask_limit > theta;
      const double r = f_theta * m.fov_scale;
      tx = cos_psi * r * 0.5 * W;
      ty = sin_psi * r * 0.5 * W;
    } else {
      inside = theta <= m.pi && m.mask_limit > theta;
      const double r = f_theta * m.fov_scale;
      tx = cos_psi * r / m.equisolid_d * W;
      ty = sin_psi * r / m.equisolid_d * W;
    }
    x = tx + half_w;
    y = ty + half_h;
    margin_x = (vmath::Abs(tx) + half_w) * vmath::kMargin;
    margin_y = (vmath::Abs(ty) + half_h) * vmath::kMargin;
  }
  const bool decided = vmath::RoundsSafely(x, margin_x) & vmath::RoundsSafely(y, margin_y);
  return LensLane{static_cast<float>(x) - m.shift_x, static_cast<float>(y) + m.shift_y,
                  inside ? 1 : 0, decided ? 1 : 0};
}

// The lens models over the lanes, from cos psi (res_a), sin psi (res_b) and
// the function of theta (res_c). Lanes that cannot be decided are marked for
// recomputation.
template <SourceProjection projection>
inline void MapLensLanes(PixelBatch& b, const LensModel& model) {
  const LensModel m = model;
  for (int k = 0; k < b.n; ++k) {
    const LensLane lane =
        MapLensLane<projection>(m, b.theta[k], b.res_a[k], b.res_b[k], b.res_c[k]);
    b.px[k] = lane.inside != 0 ? lane.x : 0.0f;
    b.py[k] = lane.inside != 0 ? lane.y : 0.0f;
    b.outside[k] = lane.inside == 0;
    b.recompute[k] = lane.inside != 0 && lane.decided == 0;
  }
}

// Stage 3: MapToSource. The panorama model is float arithmetic (double for
// the panorama filter's azimuth) and runs per lane as is; the lens models
// take cos psi, sin psi and their function of theta from the arrays.
template <typename View>
inline int MapBatch(PixelBatch& b, const LensModel& m) {
  const int n = b.n;
  if (m.projection == SourceProjection::Equirectangular) {
    for (int k = 0; k < n; ++k) {
      const SourcePoint p = MapEquirectangular<View>(m, SourceAngles{b.theta[k], b.phi[k]});
      b.px[k] = p.x;
      b.py[k] = p.y;
      b.outside[k] = false;
    }
    return 0;
  }
  for (int k = 0; k < n; ++k) {
    const float psi = -b.phi[k];
    b.arg_a[k] = static_cast<double>(psi);
    const double theta_d = static_cast<double>(b.theta[k]);
    b.arg_b[k] = m.projection == SourceProjection::Equisolid ? theta_d * 0.5 : theta_d;
  }
  vmath::Cos(b.arg_a, b.res_a, n);
  vmath::Sin(b.arg_a, b.res_b, n);
  switch (m.projection) {
    case SourceProjection::Orthographic:
    case SourceProjection::Equisolid: vmath::Sin(b.arg_b, b.res_c, n); break;
    case SourceProjection::Central: vmath::Tan(b.arg_b, b.res_c, n); break;
    default: break;
  }
  switch (m.projection) {
    case SourceProjection::Equidistant: MapLensLanes<SourceProjection::Equidistant>(b, m); break;
    case SourceProjection::Orthographic: MapLensLanes<SourceProjection::Orthographic>(b, m); break;
    case SourceProjection::Equisolid: MapLensLanes<SourceProjection::Equisolid>(b, m); break;
    case SourceProjection::Central: MapLensLanes<SourceProjection::Central>(b, m); break;
    default: break;
  }
  int recomputed = 0;
  for (int k = 0; k < n; ++k) {
    if (!b.recompute[k]) continue;
    b.SetPoint(k, MapToSource<View>(m, SourceAngles{b.theta[k], b.phi[k]}));
    ++recomputed;
  }
  return recomputed;
}

// Stage 4, first half: the filter's in-range test and the source pixels of
// every lane (a rejected lane gets position 0, 0: harmless, never read). One
// loop per sampler and mask, so that each is plain vector code.
template <typename View, bool bilinear, bool masked>
inline void PlaceLanes(PixelBatch& b, const SourceFrame& source, const SampleOptions& sample_options,
                       const bool* admitted) {
  constexpr PixelConvention convention = View::kConvention;
  // Local copies: the compiler need not reload them after each lane's stores.
  const SourceFrame src = source;
  const SampleOptions options = sample_options;
  const bool equirectangular = options.equirectangular;
  const std::ptrdiff_t stride = src.stride;
  for (int k = 0; k < b.n; ++k) {
    const AdmittedPosition a = AdmitPosition<View>(
        src, SourcePoint{b.px[k], b.py[k], b.outside[k]}, options, !masked || admitted[k]);
    b.in_range[k] = a.in_range;
    b.take[k] = a.in_range ? 1 : 0;
    const float x = a.in_range ? a.x : 0.0f;
    const float y = a.in_range ? a.y : 0.0f;
    if (bilinear) {
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
// and the source pixels of every lane, then the reads and writes. `admitted`
// (the dome filter's output mask) may be null: every lane admitted.
template <typename View, KernelSet set>
inline void SampleBatch(PixelBatch& b, const SourceFrame& src, const SampleOptions& options,
                        const bool* admitted = nullptr) {
  const PIXEL_YC fill = options.green_back ? GreenBack : kBlack;
  const int n = b.n;
  if (options.bilinear) {
    if (admitted != nullptr) PlaceLanes<View, true, true>(b, src, options, admitted);
    else PlaceLanes<View, true, false>(b, src, options, admitted);
    MixLanes<set>(src, b.MixArrays(), fill, n);
  } else {
    if (admitted != nullptr) PlaceLanes<View, false, true>(b, src, options, admitted);
    else PlaceLanes<View, false, false>(b, src, options, admitted);
    for (int k = 0; k < n; ++k) *b.out[k] = b.in_range[k] ? src.pixels[b.index[k]] : fill;
  }
}

// Where a lane reads: for the nearest sampler the pixel's index in the frame
// (it fits 32 bits, see RunBatch) or -1 for the fill, for the bilinear one
// the verdict and the four taps.
struct LanePlace {
  std::int32_t source;
  std::int32_t take;
  BilinearTaps taps;
};

template <typename View, bool bilinear>
inline LanePlace PlaceLane(AdmittedPosition a, const SourceFrame& src,
                                          const SampleOptions& options) {
  constexpr PixelConvention convention = View::kConvention;
  const bool in_range = a.in_range;
  float x = a.x;
  float y = a.y;
  x = in_range ? x : 0.0f;
  y = in_range ? y : 0.0f;
  LanePlace place{};
  if (bilinear) {
    place.taps = BilinearTapsAt(src, x, y, options.equirectangular, convention);
    place.take = in_range ? 1 : 0;
  } else {
    const PixelTap t = NearestTap(src, x, y, options.equirectangular, convention);
    const std::int32_t index = t.row * src.stride + t.column;
    place.source = in_range ? index : -1;
  }
  return place;
}

template <bool bilinear>
inline void StorePlace(PixelBatch& b, int k, const LanePlace& place) {
  if (bilinear) {
    b.take[k] = place.take;
    b.x0[k] = place.taps.x0;
    b.x1[k] = place.taps.x1;
    b.y0[k] = place.taps.y0;
    b.y1[k] = place.taps.y1;
    b.fx[k] = place.taps.fx;
    b.fy[k] = place.taps.fy;
  } else {
    b.source[k] = place.source;
  }
}

// The reads and writes of placed lanes (PlaceLane, StorePlace).
template <KernelSet set, bool bilinear>
inline void WritePlaced(const PixelBatch& b, const SourceFrame& src, PIXEL_YC fill) {
  const int n = b.n;
  if (bilinear) {
    MixLanes<set>(src, b.MixArrays(), fill, n);
  } else {
    const PIXEL_YC* const pixels = src.pixels;
    for (int k = 0; k < n; ++k) {
      const std::int32_t index = b.source[k];
      *b.out[k] = index >= 0 ? pixels[index] : fill;
    }
  }
}

// The turn, the angle estimates in double, the panorama position, the
// in-range test and the source pixels of lanes 0 .. b.n - 1, as the separate
// stages compute them; the lanes whose angles cannot be decided are redone
// by the per-pixel functions. Fills source (nearest) or take and the taps
// (bilinear). b.admit holds the output mask when `masked`.
template <typename View, bool bilinear, bool masked>
inline int PlaceEquirectangularLanes(PixelBatch& b, const ViewRotation& view_rotation,
                                     const LensModel& model, const SourceFrame& source,
                                     const SampleOptions& sample_options) {
  // Local copies: the compiler need not reload them after each lane's stores
  // (and the sampler and the wrap are constants even where this is not
  // inlined).
  const SampleOptions options{bilinear, sample_options.green_back, true};
  const ViewRotation rotation = view_rotation;
  const LensModel m = model;
  const SourceFrame src = source;
  const double pi = static_cast<double>(kPi);
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
    const TurnedRay ray = View::Turn(X[k], Y[k], Zc[k], Zs[k], rotation, true);
    // As AnglesBatch.
    const float den = ray.den;
    const float q = ray.num / den;
    const bool negative = den < 0.0f;
    const double theta = vmath::AcosEstimate(static_cast<double>(ray.axis));
    const double t = vmath::AtanEstimate(static_cast<double>(negative ? -q : q));
    const double phi = negative ? pi - t : t;
    const bool ok = ((den > 0.0f) | negative) &
                    vmath::RoundsSafelyRelative(theta) & vmath::RoundsSafelyRelative(phi);
    const SourceAngles angles{static_cast<float>(theta), static_cast<float>(phi)};
    const AdmittedPosition a = AdmitPosition<View, float>(src, MapEquirectangular<View>(m, angles),
                                                     options, !masked || admit[k] != 0);
    const LanePlace place = PlaceLane<View, bilinear>(a, src, options);
    if (bilinear) {
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
    redo[k] = ok ? 0 : 1;
  }
  int recomputed = 0;
  for (int k = AnyLaneSet(b.redo, n) ? 0 : n; k < n; ++k) {
    if (b.redo[k] == 0) continue;
    const SourceAngles angles =
        AnglesOf(View::Turn(b.X[k], b.Y[k], b.Zc[k], b.Zs[k], rotation, true));
    const AdmittedPosition a = AdmitPosition<View>(src, MapToSource<View>(m, angles), options,
                                                     !masked || b.admit[k] != 0);
    StorePlace<bilinear>(b, k, PlaceLane<View, bilinear>(a, src, options));
    ++recomputed;
  }
  return recomputed;
}

// The lanes that a quick pass left in redo, each by the per-pixel functions
// (a handful per batch: the array passes would spend more on their set-up).
// Returns their number.
template <typename View, bool masked>
inline int PlaceRest(PixelBatch& b, const ViewRotation& rotation, const LensModel& model,
                     const SourceFrame& src, const SampleOptions& options) {
  int recomputed = 0;
  for (int k = 0; k < b.n; ++k) {
    if (b.redo[k] == 0) continue;
    const SourceAngles angles = AnglesOf(
        View::Turn(b.X[k], b.Y[k], b.Zc[k], b.Zs[k], rotation, options.equirectangular));
    const AdmittedPosition a = AdmitPosition<View>(src, MapToSource<View>(model, angles),
                                                     options, !masked || b.admit[k] != 0);
    b.source[k] = PlaceLane<View, false>(a, src, options).source;
    ++recomputed;
  }
  return recomputed;
}

// Relative bound on the distance between the panorama position of the exact
// angles and the position that PlaceNearestQuick computes from the float
// estimates: the estimates' bound, then at most one rounding of phi, one of
// its turn by 2 pi and two on each side of the scale to pixels (the
// reference divides by 2 pi and multiplies by W; the estimate multiplies by
// W / 2 pi), 2^-21 in all; twice that, so that the rounding of the ends
// themselves cannot cut the bracket.
constexpr float kQuickPositionMargin = 2.0f * (vmath::kFloatEstimateError + 0x1p-21f);

// The nearest sampler's quick pass: the source pixel from the float
// estimates of theta and phi (inverse_trig_float.h). The estimates give the
// panorama position to within kQuickPositionMargin; the pass takes the
// position's two ends, lo and hi, through the filter's in-range test and
// pixel choice, and accepts the lane when both ends admit it and give the
// same pixel. Those steps never decrease as x or y grows, except where x
// wraps at the seam (x >= W reads column 0; both ends give the same column
// there only when the whole bracket lies past the seam, as the bracket is
// far narrower than the frame). The sign of the exact phi, which picks
// MapEquirectangular's turn by 2 pi, is the estimate's (the relative bound
// holds down to zero; phi never exceeds 3 pi / 2, so the turn down never
// applies). So the exact angles give the accepted pixel too. Other lanes
// are marked in redo; den = 0 and NaN lanes among them.
template <typename View, bool masked>
inline void PlaceNearestQuick(PixelBatch& b, const ViewRotation& view_rotation,
                              const LensModel& model, const SourceFrame& source,
                              const SampleOptions& sample_options) {
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
  std::int32_t* __restrict source_index = b.source;
  std::int32_t* __restrict hi_index = b.take;  // unused by the nearest sampler
  std::int32_t* __restrict redo = b.redo;
  for (int k = 0; k < n; ++k) {
    const TurnedRay ray = View::Turn(X[k], Y[k], Zc[k], Zs[k], rotation, true);
    const float den = ray.den;
    const float q = ray.num / den;
    const bool negative = den < 0.0f;
    const float theta = vmath::AcosEstimateF(ray.axis);
    const float t = vmath::AtanEstimateF(negative ? -q : q);
    float phi = negative ? kPi - t : t;
    phi = phi < 0.0f ? phi + two_pi : phi;
    const float x = phi * x_scale;
    const float y = theta * y_scale;
    const float margin_x = x * kQuickPositionMargin;
    const float margin_y = y * kQuickPositionMargin;
    const bool admit_lane = !masked || admit[k] != 0;
    const AdmittedPosition lo = AdmitPosition<View, float>(
        src, SourcePoint{x - margin_x, y - margin_y, false}, options, admit_lane);
    const AdmittedPosition hi = AdmitPosition<View, float>(
        src, SourcePoint{x + margin_x, y + margin_y, false}, options, admit_lane);
    source_index[k] = PlaceLane<View, false>(lo, src, options).source;
    hi_index[k] = PlaceLane<View, false>(hi, src, options).source;
    redo[k] = ((den > 0.0f) | negative) ? 0 : 1;
  }
  // (A separate loop: the index comparisons joined to the float ones above
  // keep the loop scalar.) A lane that the mask turns away needs no angles.
  for (int k = 0; k < n; ++k) {
    const bool admit_lane = !masked || admit[k] != 0;
    const std::int32_t lo = source_index[k];
    const bool undecided = (redo[k] != 0) | (lo < 0) | (lo != hi_index[k]);
    redo[k] = (admit_lane & undecided) ? 1 : 0;
  }
}

// Stages 1 to 4 for a panorama source: the source pixels of every lane
// (for the nearest sampler the quick pass first, then the per-pixel
// functions for the lanes it leaves), then the reads and writes. The caller makes sure
// that every pixel index of the source fits an int32.
template <typename View, KernelSet set, bool bilinear, bool masked>
inline int SampleEquirectangularBatch(PixelBatch& b, const ViewRotation& rotation,
                                      const LensModel& model, const SourceFrame& src,
                                      const SampleOptions& sample_options, const bool* admitted) {
  // The sampler and the wrap as constants.
  const SampleOptions options{bilinear, sample_options.green_back, true};
  const int n = b.n;
  // The mask as 32-bit lanes: a bool array in the loops keeps them scalar.
  if (masked) {
    for (int k = 0; k < n; ++k) b.admit[k] = admitted[k] ? 1 : 0;
  }
  // The quick pass loses to the double one in the baseline copy of 32-bit
  // builds (measured: 30 -> 35 ms for varnel_view under wine): with eight
  // vector registers its two positions per lane spill.
  constexpr bool quick = !bilinear && !(set == KernelSet::Baseline && sizeof(void*) == 4);
  int recomputed = 0;
  if (!quick || !(model.pi > 0.0f)) {
    recomputed = PlaceEquirectangularLanes<View, bilinear, masked>(b, rotation, model, src, options);
  } else {
    PlaceNearestQuick<View, masked>(b, rotation, model, src, options);
    recomputed = PlaceRest<View, masked>(b, rotation, model, src, options);
  }
  WritePlaced<set, bilinear>(b, src, options.green_back ? GreenBack : kBlack);
  return recomputed;
}

// The source pixels of lanes 0 .. b.n - 1 for a lens source: the turn and
// the angle estimates in one pass, the angles that cannot be decided again by
// AnglesOf, the sines, cosines and tangents over arrays, then the lens model,
// the in-range test and the source pixels in a second pass, the positions
// that cannot be decided again by MapToSource. Fills source (nearest) or take
// and the taps (bilinear). b.admit holds the output mask when `masked`.
template <typename View, SourceProjection projection, bool bilinear, bool masked>
inline int PlaceLensLanes(PixelBatch& b, const ViewRotation& view_rotation,
                          const LensModel& model, const SourceFrame& source,
                          const SampleOptions& sample_options) {
  // The sampler and the wrap as constants, even where this is not inlined.
  const SampleOptions options{bilinear, sample_options.green_back, false};
  const ViewRotation rotation = view_rotation;
  const LensModel m = model;
  const SourceFrame src = source;
  const double pi = static_cast<double>(kPi);
  const int n = b.n;
  const float* __restrict X = b.X;
  const float* __restrict Y = b.Y;
  const float* __restrict Zc = b.Zc;
  const float* __restrict Zs = b.Zs;
  float* __restrict theta_of = b.theta;
  float* __restrict phi_of = b.phi;
  double* __restrict psi_arg = b.arg_a;
  double* __restrict theta_arg = b.arg_b;
  std::int32_t* __restrict redo = b.redo;
  // The argument of the model's function of theta.
  const auto theta_argument = [](float theta) {
    const double t = static_cast<double>(theta);
    return projection == SourceProjection::Equisolid ? t * 0.5 : t;
  };
  for (int k = 0; k < n; ++k) {
    const TurnedRay ray = View::Turn(X[k], Y[k], Zc[k], Zs[k], rotation, false);
    // As AnglesBatch.
    const float den = ray.den;
    const float q = ray.num / den;
    const bool negative = den < 0.0f;
    const double theta = vmath::AcosEstimate(static_cast<double>(ray.axis));
    const double t = vmath::AtanEstimate(static_cast<double>(negative ? -q : q));
    const double phi = negative ? pi - t : t;
    const bool ok = ((den > 0.0f) | negative) &
                    vmath::RoundsSafelyRelative(theta) & vmath::RoundsSafelyRelative(phi);
    const float theta_f = static_cast<float>(theta);
    const float phi_f = static_cast<float>(phi);
    theta_of[k] = theta_f;
    phi_of[k] = phi_f;
    psi_arg[k] = static_cast<double>(-phi_f);
    theta_arg[k] = theta_argument(theta_f);
    redo[k] = ok ? 0 : 1;
  }
  int recomputed = 0;
  for (int k = AnyLaneSet(b.redo, n) ? 0 : n; k < n; ++k) {
    if (b.redo[k] == 0) continue;
    const SourceAngles a =
        AnglesOf(View::Turn(b.X[k], b.Y[k], b.Zc[k], b.Zs[k], rotation, false));
    b.theta[k] = a.theta;
    b.phi[k] = a.phi;
    b.arg_a[k] = static_cast<double>(-a.phi);
    b.arg_b[k] = theta_argument(a.theta);
    ++recomputed;
  }
  vmath::Cos(b.arg_a, b.res_a, n);
  vmath::Sin(b.arg_a, b.res_b, n);
  if (projection == SourceProjection::Orthographic || projection == SourceProjection::Equisolid) {
    vmath::Sin(b.arg_b, b.res_c, n);
  } else if (projection == SourceProjection::Central) {
    vmath::Tan(b.arg_b, b.res_c, n);
  }
  const float* __restrict theta_in = b.theta;
  const double* __restrict cos_psi = b.res_a;
  const double* __restrict sin_psi = b.res_b;
  const double* __restrict f_theta = b.res_c;
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
    const double f = projection == SourceProjection::Equidistant ? 0.0 : f_theta[k];
    const LensLane lane = MapLensLane<projection>(m, theta_in[k], cos_psi[k], sin_psi[k], f);
    // The model's verdict joins the in-range test's afterwards (the same
    // conjunction; a bool carried into the test keeps this loop scalar).
    AdmittedPosition a = AdmitPosition<View, float>(src, SourcePoint{lane.x, lane.y, false}, options,
                                               !masked || admit[k] != 0);
    a.in_range = a.in_range & (lane.inside != 0);
    const LanePlace place = PlaceLane<View, bilinear>(a, src, options);
    if (bilinear) {
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
    StorePlace<bilinear>(b, k, PlaceLane<View, bilinear>(a, src, options));
    ++recomputed;
  }
  return recomputed;
}


// Relative and absolute bounds of PlaceNearestLensQuick (see there).
constexpr float kQuickDirectionError = 0x1p-20f;

// The nearest sampler's quick pass for the equidistant lens: the source pixel
// without the exact angles. The model places a lane at
// (cos psi R + W / 2 - shift_x, sin psi R + H / 2 + shift_y), psi = -phi,
// R = theta fov_scale W / pi. cos psi and sin psi are den / h and -num / h,
// h = |(den, num)|, up to the roundings of phi (at most 2^-21.8 for
// |phi| <= 3 pi / 2), of q (2^-25), of the float pi in the den < 0 branch
// (2^-23.4) and of the float operations here (2^-22.4): within
// kQuickDirectionError in all. theta comes from the float estimate
// (inverse_trig_float.h) with its bracket. Each coordinate is then known to
// within R (kQuickDirectionError + 2 kFloatEstimateError + 2^-22) plus two
// roundings of the sum, and the pass doubles that. The two ends of each
// coordinate go through the shift, the in-range test and the pixel choice,
// which never decrease as a coordinate grows; a lane is taken when both
// ends admit it and give the same pixel, when the box they span lies wholly
// off the frame (BoxOffFrame; the fill), or when both ends of theta's
// bracket lie outside the lens's mask (the fill). Other lanes, den = 0,
// NaN and rays of extreme length among them, are marked in redo.
// The equidistant model's position from the ray without the exact angles,
// as described above: the centre of the box and its half sizes, theta's
// bracket, and whether the direction's bound holds (den != 0, h far from the
// float range's ends, so that the squares neither overflow nor lose their
// precision below the normal range).
struct PositionBox {
  float x, y, margin_x, margin_y;
  vmath::Bracket theta;
  bool defined;
};

struct EquidistantEstimate {
  float radius_scale, half_w, half_h, relative;

  explicit EquidistantEstimate(const LensModel& model)
      : radius_scale(static_cast<float>(model.fov_scale * static_cast<double>(model.w) /
                                        static_cast<double>(model.pi))),
        half_w(static_cast<float>(static_cast<double>(model.w) * 0.5)),
        half_h(static_cast<float>(static_cast<double>(model.h) * 0.5)),
        relative(kQuickDirectionError + 2.0f * vmath::kFloatEstimateError + 0x1p-22f) {}

  // The model's own conditions for the bound: a positive pi and scale.
  static bool Applies(const LensModel& model) {
    return model.projection == SourceProjection::Equidistant && model.pi > 0.0f &&
           model.fov_scale > 0.0;
  }

  PositionBox Of(const TurnedRay& ray) const {
    const float den = ray.den;
    const float num = ray.num;
    const float h = vmath::SqrtF(den * den + num * num);
    const float cos_psi = den / h;
    const float sin_psi = -num / h;
    const float theta_estimate = vmath::AcosEstimateF(ray.axis);
    const float radius = theta_estimate * radius_scale;
    PositionBox box;
    box.x = cos_psi * radius + half_w;
    box.y = sin_psi * radius + half_h;
    box.margin_x = 2.0f * (radius * relative + (radius + half_w) * 0x1p-23f);
    box.margin_y = 2.0f * (radius * relative + (radius + half_h) * 0x1p-23f);
    box.theta = vmath::BracketOf(theta_estimate);
    box.defined = ((den > 0.0f) | (den < 0.0f)) & (h >= 0x1p-50f) & (h <= 0x1p50f);
    return box;
  }
};

// Whether the box, shifted as the model shifts, lies wholly outside
// [-0.5, W + 0.5] x [-0.5, H + 0.5], the widest in-range box of any filter
// and sampler (exact in float for SmallSource sizes): boxes that miss it on
// one axis miss it altogether.
inline bool BoxOffFrame(const PositionBox& box, float shift_x, float shift_y, float x_max,
                        float y_max) {
  return ((box.x + box.margin_x) - shift_x < -0.5f) | ((box.x - box.margin_x) - shift_x > x_max) |
         ((box.y + box.margin_y) + shift_y < -0.5f) | ((box.y - box.margin_y) + shift_y > y_max);
}

template <typename View, bool masked>
inline void PlaceNearestLensQuick(PixelBatch& b, const ViewRotation& view_rotation,
                                  const LensModel& model, const SourceFrame& source,
                                  const SampleOptions& sample_options) {
  const SampleOptions options{false, sample_options.green_back, false};
  const ViewRotation rotation = view_rotation;
  const SourceFrame src = source;
  const float mask_limit = model.mask_limit;
  const float shift_x = model.shift_x;
  const float shift_y = model.shift_y;
  const EquidistantEstimate estimate(model);
  const float x_max = static_cast<float>(model.w) + 0.5f;
  const float y_max = static_cast<float>(model.h) + 0.5f;
  const int n = b.n;
  const float* __restrict X = b.X;
  const float* __restrict Y = b.Y;
  const float* __restrict Zc = b.Zc;
  const float* __restrict Zs = b.Zs;
  const std::int32_t* __restrict admit = b.admit;
  std::int32_t* __restrict source_index = b.source;
  // take and x0 are unused by the nearest sampler.
  std::int32_t* __restrict hi_index = b.take;
  std::int32_t* __restrict may_touch = b.x0;
  std::int32_t* __restrict redo = b.redo;
  for (int k = 0; k < n; ++k) {
    const PositionBox box =
        estimate.Of(View::Turn(X[k], Y[k], Zc[k], Zs[k], rotation, false));
    const bool admit_lane = !masked || admit[k] != 0;
    // The mask's test at both ends of theta (NaN: neither).
    const bool inside = mask_limit > box.theta.hi;
    const bool outside = box.theta.lo >= mask_limit;
    const AdmittedPosition lo = AdmitPosition<View, float>(
        src,
        SourcePoint{(box.x - box.margin_x) - shift_x, (box.y - box.margin_y) + shift_y, false},
        options, admit_lane & inside);
    const AdmittedPosition hi = AdmitPosition<View, float>(
        src,
        SourcePoint{(box.x + box.margin_x) - shift_x, (box.y + box.margin_y) + shift_y, false},
        options, admit_lane & inside);
    source_index[k] = PlaceLane<View, false>(lo, src, options).source;
    hi_index[k] = PlaceLane<View, false>(hi, src, options).source;
    may_touch[k] = BoxOffFrame(box, shift_x, shift_y, x_max, y_max) ? 0 : 1;
    // 0: decided by the pixels, 1: outside the mask (the fill), 2: redo.
    redo[k] = !box.defined ? 2 : (outside ? 1 : (inside ? 0 : 2));
  }
  // (A separate loop: the index comparisons joined to the float ones above
  // keep the loop scalar.) A lane that the mask turns away needs no angles.
  for (int k = 0; k < n; ++k) {
    const bool admit_lane = !masked || admit[k] != 0;
    const std::int32_t lo = source_index[k];
    const std::int32_t verdict = redo[k];
    const std::int32_t hi = hi_index[k];
    const bool pixel = (verdict == 0) & (lo >= 0) & (lo == hi);
    const bool off_frame = (verdict == 0) & (lo < 0) & (hi < 0) & (may_touch[k] == 0);
    const bool fill = (verdict == 1) | off_frame | !admit_lane;
    source_index[k] = fill ? -1 : lo;
    redo[k] = (pixel | fill) ? 0 : 1;
  }
}

// Whether every lane of the batch is sure to get the fill without its exact
// angles: the output mask turns it away, or the bracket of the float
// estimate of theta (inverse_trig_float.h) lies wholly where the lens model
// turns the ray away (theta >= the mask's half cone; for the orthographic and
// central models also theta > pi / 2), or, for the equidistant model, the
// box around its position from the estimates (EquidistantEstimate) lies
// wholly outside [-0.5, W + 0.5] x [-0.5, H + 0.5]. Theta depends on the ray's axis alone, and a NaN bracket keeps
// the lane. A fisheye often covers half a panorama or less, in
// whole runs of a row.
template <typename View, SourceProjection projection, bool masked>
inline bool LensTurnsAwayAll(const PixelBatch& b, const ViewRotation& view_rotation,
                             const LensModel& model) {
  const ViewRotation rotation = view_rotation;
  const float mask_limit = model.mask_limit;
  const float half_pi = model.pi * 0.5f;
  const float shift_x = model.shift_x;
  const float shift_y = model.shift_y;
  const bool boxed = EquidistantEstimate::Applies(model);
  const float x_max = static_cast<float>(model.w) + 0.5f;
  const float y_max = static_cast<float>(model.h) + 0.5f;
  const EquidistantEstimate estimate(model);
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
      const PositionBox box =
          estimate.Of(View::Turn(X[k], Y[k], Zc[k], Zs[k], rotation, false));
      bool away = box.theta.lo >= mask_limit;
      if (projection == SourceProjection::Orthographic ||
          projection == SourceProjection::Central) {
        away = away | (box.theta.lo > half_pi);
      }
      if (projection == SourceProjection::Equidistant) {
        away = away | (boxed & box.defined & BoxOffFrame(box, shift_x, shift_y, x_max, y_max));
      }
      if (masked) away = away | (admit[k] == 0);
      kept += away ? 0 : 1;
    }
    if (kept != 0) return false;
  }
  return true;
}

// Stages 1 to 4 for a lens source: the source pixels of every lane (for the
// nearest sampler and the equidistant model the quick pass first, then the
// per-pixel functions for the lanes it leaves; otherwise, unless the whole
// batch is sure to get the fill, PlaceLensLanes), then the reads and writes. The caller
// makes sure that every pixel index of the source fits an int32.
template <typename View, KernelSet set, SourceProjection projection, bool bilinear, bool masked>
inline int SampleLensBatch(PixelBatch& b, const ViewRotation& rotation, const LensModel& model,
                           const SourceFrame& src, const SampleOptions& sample_options,
                           const bool* admitted) {
  const SampleOptions options{bilinear, sample_options.green_back, false};
  const int n = b.n;
  if (masked) {
    for (int k = 0; k < n; ++k) b.admit[k] = admitted[k] ? 1 : 0;
  }
  int recomputed = 0;
  const bool quick = !bilinear && projection == SourceProjection::Equidistant &&
                     EquidistantEstimate::Applies(model);
  if (!quick && LensTurnsAwayAll<View, projection, masked>(b, rotation, model)) {
    const PIXEL_YC fill = options.green_back ? GreenBack : kBlack;
    for (int k = 0; k < n; ++k) *b.out[k] = fill;
    return 0;
  }
  if (!quick) {
    recomputed = PlaceLensLanes<View, projection, bilinear, masked>(b, rotation, model, src, options);
  } else {
    PlaceNearestLensQuick<View, masked>(b, rotation, model, src, options);
    recomputed = PlaceRest<View, masked>(b, rotation, model, src, options);
  }
  WritePlaced<set, bilinear>(b, src, options.green_back ? GreenBack : kBlack);
  return recomputed;
}

// SampleLensBatch with the sampler and the mask as constants.
template <typename View, KernelSet set, SourceProjection projection>
inline int SampleLensWith(PixelBatch& b, const ViewRotation& rotation, const LensModel& model,
                          const SourceFrame& src, const SampleOptions& options,
                          const bool* admitted) {
  if (options.bilinear) {
    return admitted != nullptr
               ? SampleLensBatch<View, set, projection, true, true>(b, rotation, model, src,
                                                                     options, admitted)
               : SampleLensBatch<View, set, projection, true, false>(b, rotation, model, src,
                                                                      options, admitted);
  }
  return admitted != nullptr
             ? SampleLensBatch<View, set, projection, false, true>(b, rotation, model, src,
                                                                    options, admitted)
             : SampleLensBatch<View, set, projection, false, false>(b, rotation, model, src,
                                                                     options, admitted);
}

// All four stages; returns the number of recomputed lanes. `set` is the
// instruction set of the row loop that runs the batch.
template <typename View, KernelSet set>
inline int RunBatch(PixelBatch& b, const ViewRotation& rotation, const LensModel& model,
                    const SourceFrame& src, const SampleOptions& options,
                    const bool* admitted = nullptr) {
  // The fused passes index the source with int32 and compare positions in
  // float (AdmitPosition).
  const bool indexable = static_cast<std::int64_t>(src.stride) * src.h <= INT32_MAX &&
                         SmallSource(src);
  if (options.equirectangular && model.projection == SourceProjection::Equirectangular &&
      indexable) {
    if (options.bilinear) {
      return admitted != nullptr
                 ? SampleEquirectangularBatch<View, set, true, true>(b, rotation, model, src,
                                                                      options, admitted)
                 : SampleEquirectangularBatch<View, set, true, false>(b, rotation, model, src,
                                                                       options, admitted);
    }
    return admitted != nullptr
               ? SampleEquirectangularBatch<View, set, false, true>(b, rotation, model, src,
                                                                     options, admitted)
               : SampleEquirectangularBatch<View, set, false, false>(b, rotation, model, src,
                                                                      options, admitted);
  }
  if (!options.equirectangular && indexable) {
    switch (model.projection) {
      case SourceProjection::Equidistant:
        return SampleLensWith<View, set, SourceProjection::Equidistant>(b, rotation, model, src,
                                                                         options, admitted);
      case SourceProjection::Orthographic:
        return SampleLensWith<View, set, SourceProjection::Orthographic>(b, rotation, model,
                                                                          src, options, admitted);
      case SourceProjection::Equisolid:
        return SampleLensWith<View, set, SourceProjection::Equisolid>(b, rotation, model, src,
                                                                       options, admitted);
      case SourceProjection::Central:
        return SampleLensWith<View, set, SourceProjection::Central>(b, rotation, model, src,
                                                                     options, admitted);
      default: break;
    }
  }
  TurnBatch<View>(b, rotation, options.equirectangular);
  int recomputed = AnglesBatch(b);
  recomputed += MapBatch<View>(b, model);
  SampleBatch<View, set>(b, src, options, admitted);
  return recomputed;
}

}  // namespace lens
