// RemapPerspective: the pin-hole view in batches, bit-identical to
// RemapPerspectiveReference.
//
// Per row pair the group rays are formed for up to kGroups column pairs at a
// time (the arc tangents, sines and cosines over arrays), then the four
// mirrored pixels of each group go through the batched pipeline of
// batch_pipeline.h. The row pairs are split over the threads exactly as in
// the reference: contiguous static blocks, pair i writing rows out_h/2 + i
// and out_h/2 - 1 - i only.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "batch_pipeline.h"
#include "lens_models.h"
#include "sampling.h"
#include "varnel.h"
#include "vector_math.h"

namespace varnel {
namespace {

// Four pixels per group fill one batch.
constexpr int kGroups = lens::kBatchLanes / 4;

}  // namespace

int PerspectiveGroupRays(std::int32_t j0, int count, float yf, float yf_squared, double focal,
                         GroupRay* rays) {
  namespace vm = lens::vmath;
  int recomputed = 0;
  for (int start = 0; start < count; start += kGroups) {
    const int n = std::min(kGroups, count - start);
    float xf[kGroups];
    double theta_arg[kGroups], phi_arg[kGroups], theta_o[kGroups], phi_o[kGroups];
    double s[kGroups], cos_theta[kGroups], cos_phi[kGroups], sin_phi[kGroups];
    bool ok[kGroups];
    for (int g = 0; g < n; ++g) {
      xf[g] = static_cast<float>(static_cast<double>(j0 + start + g) + 0.5);
      const float distance =
          static_cast<float>(std::sqrt(static_cast<double>(xf[g] * xf[g] + yf_squared)));
      theta_arg[g] = static_cast<double>(distance) / focal;
      phi_arg[g] = static_cast<double>(yf / xf[g]);
    }
    vm::Atan(theta_arg, theta_o, n);
    vm::Atan(phi_arg, phi_o, n);
    for (int g = 0; g < n; ++g) {
      ok[g] = vm::RoundsSafely(theta_o[g], std::fabs(theta_o[g]) * vm::kMargin) &&
              vm::RoundsSafely(phi_o[g], std::fabs(phi_o[g]) * vm::kMargin);
      // The rounded angles feed the sines and cosines, as in the reference.
      theta_o[g] = static_cast<double>(static_cast<float>(theta_o[g]));
      phi_o[g] = static_cast<double>(static_cast<float>(phi_o[g]));
    }
    vm::Sin(theta_o, s, n);
    vm::Cos(theta_o, cos_theta, n);
    vm::Cos(phi_o, cos_phi, n);
    vm::Sin(phi_o, sin_phi, n);
    for (int g = 0; g < n; ++g) {
      const double xm = cos_phi[g] * s[g];
      const double ym = sin_phi[g] * s[g];
      if (ok[g] && vm::RoundsSafely(xm, std::fabs(xm) * vm::kMargin) &&
          vm::RoundsSafely(ym, std::fabs(ym) * vm::kMargin) &&
          vm::RoundsSafely(cos_theta[g], std::fabs(cos_theta[g]) * vm::kMargin)) {
        rays[start + g] = GroupRay{static_cast<float>(xm), static_cast<float>(ym),
                                   static_cast<float>(cos_theta[g])};
      } else {
        rays[start + g] = PerspectiveGroupRay(xf[g], yf, yf_squared, focal);
        ++recomputed;
      }
    }
  }
  return recomputed;
}

void RemapPerspective(const RemapJob& job) {
  const std::int32_t row_pairs = job.out_h / 2;
  const std::int32_t column_pairs = job.out_w / 2;
  if (row_pairs <= 0) return;

  const FILTER_PROC_INFO& info = *job.proc_info;
  const lens::SourceFrame src{info.ycp_edit, info.w, info.h, info.max_w};
  PIXEL_YC* const dst = info.ycp_temp;
  const std::ptrdiff_t stride = info.max_w;
  const auto projection = static_cast<lens::SourceProjection>(job.source_projection);
  const bool equirectangular = projection == lens::SourceProjection::Equirectangular;
  const lens::LensModel lens_model = lens::PrepareLens(
      projection, job.in_fov, job.in_mask, job.shift_x, job.shift_y, job.pi, info.w, info.h);
  const lens::SampleOptions options{job.bilinear != 0.0f, job.green_back != 0, equirectangular};
  const lens::ViewRotation rotation = job.rotation;

  const double focal = PerspectiveFocal(job.out_w, job.out_fov, job.pi);
  const double cx = (static_cast<double>(job.out_w) - 1.0) * 0.5;
  const double cy = (static_cast<double>(job.out_h) - 1.0) * 0.5;

#pragma omp parallel for schedule(static)
  for (std::int32_t i = 0; i < row_pairs; ++i) {
    const float yf = static_cast<float>(static_cast<double>(i) + 0.5);
    const float yf_squared = yf * yf;
    const float row_below = static_cast<float>(cy + static_cast<double>(yf));
    const float row_above = static_cast<float>(cy - static_cast<double>(yf));
    PIXEL_YC* const out_below = dst + static_cast<std::ptrdiff_t>(row_below) * stride;
    PIXEL_YC* const out_above = dst + static_cast<std::ptrdiff_t>(row_above) * stride;
    lens::PixelBatch batch;
    GroupRay rays[kGroups];
    for (std::int32_t j0 = 0; j0 < column_pairs; j0 += kGroups) {
      const int groups = static_cast<int>(std::min<std::int32_t>(kGroups, column_pairs - j0));
      PerspectiveGroupRays(j0, groups, yf, yf_squared, focal, rays);
      // Lane k * groups + g is quadrant k of group g (k as in the reference).
      for (int g = 0; g < groups; ++g) {
        const float xf = static_cast<float>(static_cast<double>(j0 + g) + 0.5);
        const float Xm = rays[g].Xm;
        const float Ym = rays[g].Ym;
        const float Z = rays[g].Z;
        const float Zs = Z * rotation.sin_pitch;
        const float Zc = Z * rotation.cos_pitch;
        const auto right = static_cast<std::ptrdiff_t>(static_cast<float>(cx + static_cast<double>(xf)));
        const auto left = static_cast<std::ptrdiff_t>(static_cast<float>(cx - static_cast<double>(xf)));
        PIXEL_YC* const outs[4] = {out_below + right, out_below + left, out_above + right,
                                   out_above + left};
        const float Xs[4] = {Xm, -Xm, Xm, -Xm};
        const float Ys[4] = {Ym, Ym, -Ym, -Ym};
        for (int k = 0; k < 4; ++k) {
          const int lane = k * groups + g;
          batch.X[lane] = Xs[k];
          batch.Y[lane] = Ys[k];
          batch.Zc[lane] = Zc;
          batch.Zs[lane] = Zs;
          batch.out[lane] = outs[k];
        }
      }
      batch.n = 4 * groups;
      lens::RunBatch<lens::Filter::Varnel>(batch, rotation, lens_model, src, options);
    }
  }
}

}  // namespace varnel
