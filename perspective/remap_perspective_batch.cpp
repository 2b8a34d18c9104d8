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
#include "batch/mirror_lanes.h"
#include "math/inverse_trig.h"
#include "math/sincos_estimate.h"
#include "math/vector_math.h"
#include "mirror.h"
#include "varnel.h"
#include "varnel_view.h"

namespace varnel {
namespace {

// Four pixels per group fill one batch.
constexpr int kGroups = lens::kMirroredGroup;

// The group rays at the column offsets xs[0 .. n - 1] (n <= kGroups), one
// array per component: the angle estimates, the sines and cosines and the
// rays in loops over the groups, then the groups that cannot be decided one
// by one with PerspectiveGroupRay.
inline int GroupRaysInto(const float* xs, int n, float yf, float yf_squared, double focal,
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
    const float x = xs[g];
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
  return lens::RayFromAngles(n, cos_phi, sin_phi, s, cos_theta, ok, Xm, Ym, Z, [&](int g) {
    const GroupRay ray = PerspectiveGroupRay(xf[g], yf, yf_squared, focal);
    Xm[g] = ray.Xm;
    Ym[g] = ray.Ym;
    Z[g] = ray.Z;
  });
}

}  // namespace

int PerspectiveGroupRays(std::int32_t j0, int count, float yf, float yf_squared, double focal,
                         GroupRay* rays) {
  int recomputed = 0;
  for (int start = 0; start < count; start += kGroups) {
    const int n = std::min(kGroups, count - start);
    float xs[kGroups], Xm[kGroups], Ym[kGroups], Z[kGroups];
    for (int g = 0; g < n; ++g) xs[g] = lens::PairOffset(j0 + start + g);
    recomputed += GroupRaysInto(xs, n, yf, yf_squared, focal, Xm, Ym, Z);
    for (int g = 0; g < n; ++g) rays[start + g] = GroupRay{Xm[g], Ym[g], Z[g]};
  }
  return recomputed;
}

namespace {

// The group rays of a row pair for the batched grid (batch/mirror_lanes.h).
struct GroupRaySource {
  static constexpr bool kMasked = false;
  static constexpr bool kPinhole = true;
  double focal;
  std::int32_t AdmittedPairs(float, std::int32_t pairs) const { return pairs; }
  void Into(float yf, float yf_squared, std::int32_t j0, int n, lens::MirroredRays& rays) const {
    float xs[kGroups];
    for (int g = 0; g < n; ++g) xs[g] = lens::PairOffset(j0 + g);
    GroupRaysInto(xs, n, yf, yf_squared, focal, rays.X, rays.Y, rays.Z);
  }
  void RaysAt(float yf, float yf_squared, const float* xs, int n, float* X, float* Y, float* Z) const {
    for (int start = 0; start < n; start += kGroups) {
      const int count = std::min(kGroups, n - start);
      GroupRaysInto(xs + start, count, yf, yf_squared, focal, X + start, Y + start, Z + start);
    }
  }
};

}  // namespace

void RemapPerspective(const RemapJob& job) {
  lens::RemapMirroredRows<View>(job, GroupRaySource{PerspectiveFocal(job.out_w, job.out_fov, job.pi)});
  RemapPerspectiveOddEdges(job);
}

}  // namespace varnel
