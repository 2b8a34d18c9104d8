// RemapPerspective: the pin-hole view in batches, bit-identical to
// RemapPerspectiveReference.
//
// Per row pair the group rays are formed for up to kGroups column pairs at a
// time (the arc tangents and the sines and cosines estimated in loops over
// the groups), then the four mirrored pixels of each group go through the
// batched pipeline (core/batch/). The row pairs are split over the threads
// exactly as in the reference: contiguous static blocks, pair i writing rows
// out_h/2 + i and out_h/2 - 1 - i only.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "batch/angles.h"
#include "batch/dispatch.h"
#include "batch/mirror_lanes.h"
#include "batch/row_dispatch.h"
#include "math/inverse_trig.h"
#include "math/sincos_estimate.h"
#include "math/vector_math.h"
#include "mirror.h"
#include "remap_frame.h"
#include "varnel.h"
#include "varnel_view.h"

namespace varnel {
namespace {

// Four pixels per group fill one batch.
constexpr int kGroups = lens::kBatchLanes / 4;

// The group rays of groups j0 .. j0 + n - 1 (n <= kGroups), one array per
// component: the angle estimates, the sines and cosines and the rays in loops
// over the groups, then the groups that cannot be decided one by one with
// PerspectiveGroupRay.
inline int GroupRaysInto(std::int32_t j0, int n, float yf, float yf_squared, double focal,
                         float* __restrict Xm, float* __restrict Ym, float* __restrict Z) {
  namespace vm = lens::vmath;
  if (n <= 0) return 0;
  float xf[kGroups];
  double theta_o[kGroups] = {}, phi_o[kGroups] = {};
  double s[kGroups], cos_theta[kGroups], cos_phi[kGroups], sin_phi[kGroups];
  std::int32_t ok[kGroups];
  // The estimate's argument multiplies by 1 / focal: at most 2^-51.5 from
  // the quotient (|focal| lies far inside the normal range, or is 0, infinite
  // or NaN, where both give the same), well inside the margin.
  const double inverse_focal = 1.0 / focal;
  for (int g = 0; g < n; ++g) {
    const float x = lens::PairOffset(j0 + g);
    xf[g] = x;
    // The float square root: the double one rounded to float is the same
    // number (53 bits are more than twice 24 plus 2, so the double rounding
    // cannot differ from the single one).
    const float distance = vm::SqrtF(x * x + yf_squared);
    const double theta = vm::AtanEstimate(static_cast<double>(distance) * inverse_focal);
    const double phi = vm::AtanEstimate(static_cast<double>(yf / x));
    ok[g] = (vm::RoundsSafelyRelative(theta) & vm::RoundsSafelyRelative(phi))
                ? 1
                : 0;
    // The rounded angles feed the sines and cosines, as in the reference.
    theta_o[g] = static_cast<double>(static_cast<float>(theta));
    phi_o[g] = static_cast<double>(static_cast<float>(phi));
  }
  // Both angles lie within [-pi, pi]: the inline estimates, one reduction
  // for each sine and cosine pair, in a loop over the groups.
  for (int g = 0; g < n; ++g) {
    const vm::SinCos t = vm::SinCosEstimate(theta_o[g]);
    const vm::SinCos p = vm::SinCosEstimate(phi_o[g]);
    s[g] = t.sin;
    cos_theta[g] = t.cos;
    cos_phi[g] = p.cos;
    sin_phi[g] = p.sin;
  }
  lens::RayFromAngles(n, cos_phi, sin_phi, s, cos_theta, ok, Xm, Ym, Z);
  int recomputed = 0;
  for (int g = 0; g < n; ++g) {
    if (ok[g] != 0) continue;
    const GroupRay ray = PerspectiveGroupRay(xf[g], yf, yf_squared, focal);
    Xm[g] = ray.Xm;
    Ym[g] = ray.Ym;
    Z[g] = ray.Z;
    ++recomputed;
  }
  return recomputed;
}

}  // namespace

int PerspectiveGroupRays(std::int32_t j0, int count, float yf, float yf_squared, double focal,
                         GroupRay* rays) {
  int recomputed = 0;
  for (int start = 0; start < count; start += kGroups) {
    const int n = std::min(kGroups, count - start);
    float Xm[kGroups], Ym[kGroups], Z[kGroups];
    recomputed += GroupRaysInto(j0 + start, n, yf, yf_squared, focal, Xm, Ym, Z);
    for (int g = 0; g < n; ++g) rays[start + g] = GroupRay{Xm[g], Ym[g], Z[g]};
  }
  return recomputed;
}

namespace {

// Row pair i: rows out_h/2 + i and out_h/2 - 1 - i.
struct PairRows {
  struct Setup {
    lens::RemapFrame frame;
    double focal;
    double cy;
    const lens::MirroredColumns* columns;
  };

  template <lens::KernelSet set>
  static void Run(const Setup& f, std::int32_t i) {
    const lens::RemapFrame& frame = f.frame;
    const lens::ViewRotation& rotation = frame.rotation;
    const lens::MirroredColumns& columns = *f.columns;
    const float yf = lens::PairOffset(i);
    const float yf_squared = yf * yf;
    PIXEL_YC* const below = frame.dst + lens::MirroredIndex(f.cy, yf, true) * frame.stride;
    PIXEL_YC* const above = frame.dst + lens::MirroredIndex(f.cy, yf, false) * frame.stride;
    lens::PixelBatch batch;
    float Xm[kGroups], Ym[kGroups], Z[kGroups], Zc[kGroups], Zs[kGroups];
    const float cos_pitch = rotation.cos_pitch;
    const float sin_pitch = rotation.sin_pitch;
    for (std::int32_t j0 = 0; j0 < columns.pairs; j0 += kGroups) {
      const int groups = static_cast<int>(std::min<std::int32_t>(kGroups, columns.pairs - j0));
      GroupRaysInto(j0, groups, yf, yf_squared, f.focal, Xm, Ym, Z);
      for (int g = 0; g < groups; ++g) {
        Zs[g] = Z[g] * sin_pitch;
        Zc[g] = Z[g] * cos_pitch;
      }
      lens::MirrorIntoLanes<false>(batch, groups, Xm, Ym, Zc, Zs, nullptr, below, above,
                                   columns.right() + j0, columns.left() + j0);
      lens::RunBatch<View, set, false>(batch, rotation, frame.lens_model, frame.src, frame.options);
    }
  }
};

}  // namespace

void RemapPerspective(const RemapJob& job) {
  const std::int32_t row_pairs = job.out_h / 2;
  if (job.out_w <= 0 || job.out_h <= 0) return;
  const lens::MirroredColumns columns(job.out_w);
  const PairRows::Setup setup{lens::MakeRemapFrame(job), PerspectiveFocal(job.out_w, job.out_fov, job.pi),
                              lens::GridCentre(job.out_h), &columns};
  if (row_pairs > 0) lens::ForEachRow<PairRows>(setup, row_pairs);
  RemapPerspectiveOddEdges(job);
}

}  // namespace varnel
