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
#include <vector>

#include "batch/dispatch.h"
#include "batch/row_dispatch.h"
#include "math/inverse_trig.h"
#include "math/sincos_estimate.h"
#include "math/vector_math.h"
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
    const float x = static_cast<float>(static_cast<double>(j0 + g) + 0.5);
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
  for (int g = 0; g < n; ++g) {
    const double xm = cos_phi[g] * s[g];
    const double ym = sin_phi[g] * s[g];
    const double z = cos_theta[g];
    const bool accept = (ok[g] != 0) & vm::RoundsSafelyRelative(xm) &
                        vm::RoundsSafelyRelative(ym) & vm::RoundsSafelyRelative(z);
    Xm[g] = static_cast<float>(xm);
    Ym[g] = static_cast<float>(ym);
    Z[g] = static_cast<float>(z);
    ok[g] = accept ? 1 : 0;
  }
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
    std::int32_t column_pairs;
    double focal, cx, cy;
    // Output columns of column pair j: right[j] = cx + xf, left[j] = cx - xf.
    const std::ptrdiff_t* right;
    const std::ptrdiff_t* left;
  };

  template <lens::KernelSet set>
  static void Run(const Setup& f, std::int32_t i) {
    const lens::RemapFrame& frame = f.frame;
    const lens::ViewRotation& rotation = frame.rotation;
    const float yf = static_cast<float>(static_cast<double>(i) + 0.5);
    const float yf_squared = yf * yf;
    const float row_below = static_cast<float>(f.cy + static_cast<double>(yf));
    const float row_above = static_cast<float>(f.cy - static_cast<double>(yf));
    PIXEL_YC* const out_below = frame.dst + static_cast<std::ptrdiff_t>(row_below) * frame.stride;
    PIXEL_YC* const out_above = frame.dst + static_cast<std::ptrdiff_t>(row_above) * frame.stride;
    lens::PixelBatch batch;
    float Xm[kGroups], Ym[kGroups], Z[kGroups], Zc[kGroups], Zs[kGroups];
    const float cos_pitch = rotation.cos_pitch;
    const float sin_pitch = rotation.sin_pitch;
    for (std::int32_t j0 = 0; j0 < f.column_pairs; j0 += kGroups) {
      const int groups = static_cast<int>(std::min<std::int32_t>(kGroups, f.column_pairs - j0));
      GroupRaysInto(j0, groups, yf, yf_squared, f.focal, Xm, Ym, Z);
      for (int g = 0; g < groups; ++g) {
        Zs[g] = Z[g] * sin_pitch;
        Zc[g] = Z[g] * cos_pitch;
      }
      const std::ptrdiff_t* const right = f.right + j0;
      const std::ptrdiff_t* const left = f.left + j0;
      // Lane k * groups + g is quadrant k of group g (k as in the reference):
      // below right, below left, above right, above left.
      float* const X = batch.X;
      float* const Y = batch.Y;
      float* const BZc = batch.Zc;
      float* const BZs = batch.Zs;
      PIXEL_YC** const out = batch.out;
      for (int g = 0; g < groups; ++g) {
        X[g] = Xm[g];
        Y[g] = Ym[g];
        BZc[g] = Zc[g];
        BZs[g] = Zs[g];
        out[g] = out_below + right[g];
      }
      for (int g = 0; g < groups; ++g) {
        X[groups + g] = -Xm[g];
        Y[groups + g] = Ym[g];
        BZc[groups + g] = Zc[g];
        BZs[groups + g] = Zs[g];
        out[groups + g] = out_below + left[g];
      }
      for (int g = 0; g < groups; ++g) {
        X[2 * groups + g] = Xm[g];
        Y[2 * groups + g] = -Ym[g];
        BZc[2 * groups + g] = Zc[g];
        BZs[2 * groups + g] = Zs[g];
        out[2 * groups + g] = out_above + right[g];
      }
      for (int g = 0; g < groups; ++g) {
        X[3 * groups + g] = -Xm[g];
        Y[3 * groups + g] = -Ym[g];
        BZc[3 * groups + g] = Zc[g];
        BZs[3 * groups + g] = Zs[g];
        out[3 * groups + g] = out_above + left[g];
      }
      batch.n = 4 * groups;
      lens::RunBatch<View, set, false>(batch, rotation, frame.lens_model, frame.src, frame.options);
    }
  }
};

}  // namespace

void RemapPerspective(const RemapJob& job) {
  const std::int32_t row_pairs = job.out_h / 2;
  if (row_pairs <= 0) return;

  const std::int32_t column_pairs = job.out_w / 2;
  const double cx = (static_cast<double>(job.out_w) - 1.0) * 0.5;
  std::vector<std::ptrdiff_t> columns(2 * static_cast<std::size_t>(column_pairs));
  for (std::int32_t j = 0; j < column_pairs; ++j) {
    const float xf = static_cast<float>(static_cast<double>(j) + 0.5);
    columns[j] = static_cast<std::ptrdiff_t>(static_cast<float>(cx + static_cast<double>(xf)));
    columns[column_pairs + j] = static_cast<std::ptrdiff_t>(static_cast<float>(cx - static_cast<double>(xf)));
  }
  const PairRows::Setup setup{
      lens::MakeRemapFrame(*job.proc_info, job.source_projection, job.in_fov, job.in_mask, job.shift_x,
                           job.shift_y, job.pi, job.bilinear != 0.0f, job.green_back != 0, job.rotation),
      column_pairs,
      PerspectiveFocal(job.out_w, job.out_fov, job.pi),
      cx,
      (static_cast<double>(job.out_h) - 1.0) * 0.5,
      columns.data(),
      columns.data() + column_pairs};
  lens::ForEachRow<PairRows>(setup, row_pairs);
}

}  // namespace varnel
