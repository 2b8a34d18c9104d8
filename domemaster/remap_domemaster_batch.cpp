// RemapDomeMaster: the dome master view in batches, bit-identical to
// RemapDomeMasterReference.
//
// Per row pair the pair rays are formed for up to kPairs column pairs at a
// time (the arc tangent estimated in the loop, the sines and cosines over
// arrays), then the four mirrored pixels of each pair go through the batched
// pipeline (core/batch/) with the pair's circular-mask verdict; the pairs
// wholly outside the circle are filled directly. The row pairs are split
// over the threads exactly as in the reference.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "batch/angles.h"
#include "batch/mirror_lanes.h"
#include "math/inverse_trig.h"
#include "math/vector_math.h"
#include "mirror.h"
#include "oskuda.h"
#include "oskuda_view.h"

namespace oskuda {
namespace {

// Four pixels per pair fill one batch.
constexpr int kPairs = lens::kMirroredGroup;

// How many leading pairs of the row pair at oy the circular mask admits: rho
// never decreases as ox grows (every step of its formula is monotone), so
// the admitted pairs are a prefix, found by bisection.
inline std::int32_t AdmittedPairs(std::int32_t half_w, float oy_squared) {
  std::int32_t lo = 0, hi = half_w;  // pairs below lo are admitted, from hi on not
  while (lo < hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    const float ox = lens::PairOffset(mid);
    const float rho = static_cast<float>(std::sqrt(static_cast<double>(ox * ox + oy_squared)));
    if (InsideCircle(half_w, rho)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

}  // namespace

namespace {

// The pair rays of pairs j0 .. j0 + n - 1 (n <= kPairs), one array per
// member: the arc tangents estimated and the rays formed in loops over the
// pairs, the sines and cosines over arrays, then the pairs that cannot be
// decided one by one with PairRay.
struct PairAngles {
  float rho[kPairs], theta_o[kPairs], phi_o[kPairs];
};

inline int PairRaysInto(const DomeScale& scale, float oy, float oy_squared, std::int32_t j0, int n,
                        PairAngles& out, float* __restrict X0, float* __restrict Y0, float* __restrict Z) {
  namespace vm = lens::vmath;
  if (n <= 0) return 0;
  double phi_arg[kPairs], theta_arg[kPairs];
  double sin_theta[kPairs], cos_theta[kPairs], cos_phi[kPairs], sin_phi[kPairs];
  std::int32_t ok[kPairs];
  const float half_pi = scale.half_pi;
  const double fov_ratio = scale.fov_ratio;
  const double half_width = static_cast<double>(scale.half_width);
  float* __restrict rho_of = out.rho;
  float* __restrict theta_of = out.theta_o;
  float* __restrict phi_of = out.phi_o;
  for (int g = 0; g < n; ++g) {
    // As PairRay.
    const float ox = lens::PairOffset(j0 + g);
    // The float square root is the double one rounded to float (53 bits
    // are more than twice 24 plus 2: the double rounding is innocuous).
    const float rho = vm::SqrtF(ox * ox + oy_squared);
    const float theta_o =
        static_cast<float>(static_cast<double>(half_pi * rho) * fov_ratio / half_width);
    const double phi = vm::AtanEstimate(static_cast<double>(oy / ox));
    rho_of[g] = rho;
    theta_of[g] = theta_o;
    phi_of[g] = static_cast<float>(phi);
    ok[g] = vm::RoundsSafelyRelative(phi) ? 1 : 0;
    // The rounded angles feed the sines and cosines, as in PairRay.
    theta_arg[g] = static_cast<double>(theta_o);
    phi_arg[g] = static_cast<double>(static_cast<float>(phi));
  }
  vm::Sin(theta_arg, sin_theta, n);
  vm::Cos(theta_arg, cos_theta, n);
  vm::Cos(phi_arg, cos_phi, n);
  vm::Sin(phi_arg, sin_phi, n);
  return lens::RayFromAngles(n, cos_phi, sin_phi, sin_theta, cos_theta, ok, X0, Y0, Z, [&](int g) {
    const DomeRay ray = PairRay(scale, oy, oy_squared, j0 + g);
    out.phi_o[g] = ray.phi_o;
    X0[g] = ray.X0;
    Y0[g] = ray.Y0;
    Z[g] = ray.Z;
  });
}

}  // namespace

int PairRays(const DomeScale& scale, float oy, float oy_squared, std::int32_t j0, int count,
             DomeRay* rays) {
  int recomputed = 0;
  PairAngles a;
  float X0[kPairs], Y0[kPairs], Z[kPairs];
  for (int start = 0; start < count; start += kPairs) {
    const int n = std::min(kPairs, count - start);
    recomputed += PairRaysInto(scale, oy, oy_squared, j0 + start, n, a, X0, Y0, Z);
    for (int g = 0; g < n; ++g) {
      rays[start + g] =
          DomeRay{lens::PairOffset(j0 + start + g), oy, a.rho[g], a.theta_o[g], a.phi_o[g], X0[g], Y0[g], Z[g]};
    }
  }
  return recomputed;
}

namespace {

// The pair rays of a row pair for the batched grid (batch/mirror_lanes.h),
// with the circular mask's verdict.
struct PairRaySource {
  static constexpr bool kMasked = true;
  static constexpr bool kPinhole = false;
  DomeScale scale;
  bool circle_mask;
  std::int32_t half_w;
  // The pairs outside the circle get the fill colour and nothing else.
  std::int32_t AdmittedPairs(float oy_squared, std::int32_t pairs) const {
    return circle_mask ? oskuda::AdmittedPairs(half_w, oy_squared) : pairs;
  }
  void Into(float oy, float oy_squared, std::int32_t j0, int n, lens::MirroredRays& rays) const {
    PairAngles angles;
    PairRaysInto(scale, oy, oy_squared, j0, n, angles, rays.X, rays.Y, rays.Z);
    // InsideCircle.
    const float half_w_f = static_cast<float>(half_w);
    for (int g = 0; g < n; ++g) rays.inside[g] = (!circle_mask | (half_w_f > angles.rho[g])) ? 1 : 0;
  }
};

}  // namespace

void RemapDomeMaster(const RemapJob& job) {
  lens::RemapMirroredRows<View>(job, PairRaySource{PrepareDomeScale(job.out_fov, job.out_w, job.pi),
                                                   job.circle_mask != 0, job.out_w / 2});
  RemapDomeMasterOddEdges(job);
}

}  // namespace oskuda
