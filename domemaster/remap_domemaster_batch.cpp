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
#include <vector>

#include "batch/dispatch.h"
#include "batch/row_dispatch.h"
#include "math/inverse_trig.h"
#include "math/vector_math.h"
#include "oskuda.h"
#include "oskuda_view.h"
#include "remap_frame.h"

namespace oskuda {
namespace {

// Four pixels per pair fill one batch.
constexpr int kPairs = lens::kBatchLanes / 4;

// How many leading pairs of the row pair at oy the circular mask admits: rho
// never decreases as ox grows (every step of its formula is monotone), so
// the admitted pairs are a prefix, found by bisection.
inline std::int32_t AdmittedPairs(std::int32_t half_w, float oy_squared) {
  std::int32_t lo = 0, hi = half_w;  // pairs below lo are admitted, from hi on not
  while (lo < hi) {
    const std::int32_t mid = lo + (hi - lo) / 2;
    const float ox = static_cast<float>(static_cast<double>(mid) + 0.5);
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
struct PairRayArrays {
  float rho[kPairs], theta_o[kPairs], phi_o[kPairs], X0[kPairs], Y0[kPairs], Z[kPairs];
};

inline int PairRaysInto(const DomeScale& scale, float oy, float oy_squared, std::int32_t j0, int n,
                        PairRayArrays& out) {
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
    const float ox = static_cast<float>(static_cast<double>(j0 + g) + 0.5);
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
  float* __restrict X0 = out.X0;
  float* __restrict Y0 = out.Y0;
  float* __restrict Z = out.Z;
  for (int g = 0; g < n; ++g) {
    const double x0 = cos_phi[g] * sin_theta[g];
    const double y0 = sin_phi[g] * sin_theta[g];
    const double z = cos_theta[g];
    const bool accept = (ok[g] != 0) & vm::RoundsSafelyRelative(x0) &
                        vm::RoundsSafelyRelative(y0) & vm::RoundsSafelyRelative(z);
    X0[g] = static_cast<float>(x0);
    Y0[g] = static_cast<float>(y0);
    Z[g] = static_cast<float>(z);
    ok[g] = accept ? 1 : 0;
  }
  int recomputed = 0;
  for (int g = 0; g < n; ++g) {
    if (ok[g] != 0) continue;
    const DomeRay ray = PairRay(scale, oy, oy_squared, j0 + g);
    out.phi_o[g] = ray.phi_o;
    out.X0[g] = ray.X0;
    out.Y0[g] = ray.Y0;
    out.Z[g] = ray.Z;
    ++recomputed;
  }
  return recomputed;
}

}  // namespace

int PairRays(const DomeScale& scale, float oy, float oy_squared, std::int32_t j0, int count,
             DomeRay* rays) {
  int recomputed = 0;
  PairRayArrays a;
  for (int start = 0; start < count; start += kPairs) {
    const int n = std::min(kPairs, count - start);
    recomputed += PairRaysInto(scale, oy, oy_squared, j0 + start, n, a);
    for (int g = 0; g < n; ++g) {
      rays[start + g] = DomeRay{static_cast<float>(static_cast<double>(j0 + start + g) + 0.5),
                                oy, a.rho[g], a.theta_o[g], a.phi_o[g], a.X0[g], a.Y0[g], a.Z[g]};
    }
  }
  return recomputed;
}

namespace {

// Row pair i: rows out_h/2 + i and out_h/2 - 1 - i.
struct PairRows {
  struct Setup {
    lens::RemapFrame frame;
    bool circle_mask;
    DomeScale scale;
    std::int32_t half_w;
    double cx, cy;
    // Output columns of pair j (ox = j + 0.5): PixelIndexOf(cx, ox, true) and
    // PixelIndexOf(cx, ox, false), computed once per frame.
    const std::int32_t* right;
    const std::int32_t* left;
  };

  template <lens::KernelSet set>
  static void Run(const Setup& f, std::int32_t i) {
    const lens::RemapFrame& frame = f.frame;
    const lens::ViewRotation& rotation = frame.rotation;
    const std::int32_t half_w = f.half_w;
    const float oy = static_cast<float>(static_cast<double>(i) + 0.5);
    const float oy_squared = oy * oy;
    PIXEL_YC* const out_below = frame.dst + static_cast<std::ptrdiff_t>(PixelIndexOf(f.cy, oy, true)) * frame.stride;
    PIXEL_YC* const out_above = frame.dst + static_cast<std::ptrdiff_t>(PixelIndexOf(f.cy, oy, false)) * frame.stride;
    lens::PixelBatch batch;
    PairRayArrays rays;
    const float cos_pitch = rotation.cos_pitch;
    const float sin_pitch = rotation.sin_pitch;
    const float half_w_f = static_cast<float>(half_w);
    const bool circle_mask = f.circle_mask;
    // The pairs outside the circle get the fill colour and nothing else.
    const std::int32_t admitted_pairs = circle_mask ? AdmittedPairs(half_w, oy_squared) : half_w;
    const PIXEL_YC fill = lens::FillOf(frame.options);
    for (std::int32_t j = admitted_pairs; j < half_w; ++j) {
      out_below[f.right[j]] = fill;
      out_below[f.left[j]] = fill;
      out_above[f.right[j]] = fill;
      out_above[f.left[j]] = fill;
    }
    for (std::int32_t j0 = 0; j0 < admitted_pairs; j0 += kPairs) {
      const int pairs = static_cast<int>(std::min<std::int32_t>(kPairs, admitted_pairs - j0));
      PairRaysInto(f.scale, oy, oy_squared, j0, pairs, rays);
      // Lane k * pairs + g is quadrant k of pair g (k as in the reference):
      // below right, below left, above right, above left; each quadrant a
      // plain loop over the pairs.
      const float* const X0 = rays.X0;
      const float* const Y0 = rays.Y0;
      float Zc[kPairs], Zs[kPairs];
      std::int32_t inside[kPairs];
      for (int g = 0; g < pairs; ++g) {
        Zc[g] = rays.Z[g] * cos_pitch;
        Zs[g] = rays.Z[g] * sin_pitch;
        // InsideCircle.
        inside[g] = (!circle_mask | (half_w_f > rays.rho[g])) ? 1 : 0;
      }
      const std::int32_t* const right = f.right + j0;
      const std::int32_t* const left = f.left + j0;
      PIXEL_YC* const rows[4] = {out_below, out_below, out_above, out_above};
      for (int k = 0; k < 4; ++k) {
        float* __restrict X = batch.X + k * pairs;
        float* __restrict Y = batch.Y + k * pairs;
        float* __restrict BZc = batch.Zc + k * pairs;
        float* __restrict BZs = batch.Zs + k * pairs;
        std::int32_t* __restrict admit = batch.admit + k * pairs;
        // The left quadrants mirror X, the upper ones Y.
        const bool negate_x = k % 2 == 1;
        const bool negate_y = k >= 2;
        for (int g = 0; g < pairs; ++g) {
          X[g] = negate_x ? -X0[g] : X0[g];
          Y[g] = negate_y ? -Y0[g] : Y0[g];
          BZc[g] = Zc[g];
          BZs[g] = Zs[g];
          admit[g] = inside[g];
        }
        PIXEL_YC** __restrict out = batch.out + k * pairs;
        const std::int32_t* const columns = negate_x ? left : right;
        PIXEL_YC* const row = rows[k];
        for (int g = 0; g < pairs; ++g) out[g] = row + columns[g];
      }
      batch.n = 4 * pairs;
      lens::RunBatch<View, set, true>(batch, rotation, frame.lens_model, frame.src, frame.options);
    }
  }
};

}  // namespace

void RemapDomeMaster(const RemapJob& job) {
  const std::int32_t half_h = job.out_h / 2;
  if (half_h <= 0) return;

  const std::int32_t half_w = job.out_w / 2;
  const double cx = static_cast<double>(job.out_w - 1) * 0.5;
  std::vector<std::int32_t> columns(2 * static_cast<std::size_t>(half_w > 0 ? half_w : 0));
  for (std::int32_t j = 0; j < half_w; ++j) {
    // The ox of PairRays and PairRay.
    const float ox = static_cast<float>(static_cast<double>(j) + 0.5);
    columns[j] = PixelIndexOf(cx, ox, true);
    columns[half_w + j] = PixelIndexOf(cx, ox, false);
  }
  const PairRows::Setup setup{
      lens::MakeRemapFrame(*job.proc_info, job.source_projection, job.in_fov, job.in_mask, job.shift_x,
                           job.shift_y, job.pi, job.bilinear != 0.0f, job.green_back != 0, lens::RotationOf(job)),
      job.circle_mask != 0,
      PrepareDomeScale(job.out_fov, job.out_w, job.pi),
      half_w,
      cx,
      static_cast<double>(job.out_h - 1) * 0.5,
      columns.data(),
      columns.data() + half_w};
  lens::ForEachRow<PairRows>(setup, half_h);
}

}  // namespace oskuda
