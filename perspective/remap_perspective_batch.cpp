// RemapPerspective: the pin-hole view in batches, bit-identical to
// RemapPerspectiveReference.
//
// Per row pair the group rays are formed for up to kGroups column pairs at a
// time (the arc tangents estimated in the loop, the sines and cosines over
// arrays), then the four mirrored pixels of each group go through the
// batched pipeline of batch_pipeline.h. The row pairs are split over the
// threads exactly as in the reference: contiguous static blocks, pair i
// writing rows out_h/2 + i and out_h/2 - 1 - i only. Each row pair runs in
// an AVX2 copy of the loop where the CPU has it.
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
    double theta_o[kGroups], phi_o[kGroups];
    double s[kGroups], cos_theta[kGroups], cos_phi[kGroups], sin_phi[kGroups];
    bool ok[kGroups];
    for (int g = 0; g < n; ++g) {
      xf[g] = static_cast<float>(static_cast<double>(j0 + start + g) + 0.5);
      const float distance =
          static_cast<float>(std::sqrt(static_cast<double>(xf[g] * xf[g] + yf_squared)));
      theta_o[g] = vm::AtanEstimate(static_cast<double>(distance) / focal);
      phi_o[g] = vm::AtanEstimate(static_cast<double>(yf / xf[g]));
      ok[g] = vm::RoundsSafely(theta_o[g], std::fabs(theta_o[g]) * vm::kMargin) &
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

namespace {

// What every row pair of one frame shares.
struct FrameSetup {
  lens::SourceFrame src;
  PIXEL_YC* dst;
  std::ptrdiff_t stride;
  lens::LensModel lens_model;
  lens::SampleOptions options;
  lens::ViewRotation rotation;
  std::int32_t column_pairs;
  double focal, cx, cy;
};

// Row pair i: rows out_h/2 + i and out_h/2 - 1 - i.
inline void RemapRowPair(const FrameSetup& f, std::int32_t i) {
  const lens::ViewRotation& rotation = f.rotation;
  const double cx = f.cx;
  const float yf = static_cast<float>(static_cast<double>(i) + 0.5);
  const float yf_squared = yf * yf;
  const float row_below = static_cast<float>(f.cy + static_cast<double>(yf));
  const float row_above = static_cast<float>(f.cy - static_cast<double>(yf));
  PIXEL_YC* const out_below = f.dst + static_cast<std::ptrdiff_t>(row_below) * f.stride;
  PIXEL_YC* const out_above = f.dst + static_cast<std::ptrdiff_t>(row_above) * f.stride;
  lens::PixelBatch batch;
  GroupRay rays[kGroups];
  for (std::int32_t j0 = 0; j0 < f.column_pairs; j0 += kGroups) {
    const int groups = static_cast<int>(std::min<std::int32_t>(kGroups, f.column_pairs - j0));
    PerspectiveGroupRays(j0, groups, yf, yf_squared, f.focal, rays);
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
    lens::RunBatch<lens::Filter::Varnel>(batch, rotation, f.lens_model, f.src, f.options);
  }
}

using RowPairFunction = void (*)(const FrameSetup&, std::int32_t);

void RowPairBaseline(const FrameSetup& f, std::int32_t i) { RemapRowPair(f, i); }

#ifdef LENS_AVX2_KERNELS
LENS_AVX2_KERNEL void RowPairAvx2(const FrameSetup& f, std::int32_t i) { RemapRowPair(f, i); }
#endif

RowPairFunction ChooseRowPair() {
#ifdef LENS_AVX2_KERNELS
  if (lens::Avx2KernelsAvailable()) return RowPairAvx2;
#endif
  return RowPairBaseline;
}

}  // namespace

void RemapPerspective(const RemapJob& job) {
  const std::int32_t row_pairs = job.out_h / 2;
  if (row_pairs <= 0) return;

  const FILTER_PROC_INFO& info = *job.proc_info;
  const auto projection = static_cast<lens::SourceProjection>(job.source_projection);
  const bool equirectangular = projection == lens::SourceProjection::Equirectangular;
  const FrameSetup setup{
      lens::SourceFrame{info.ycp_edit, info.w, info.h, info.max_w},
      info.ycp_temp,
      info.max_w,
      lens::PrepareLens(projection, job.in_fov, job.in_mask, job.shift_x, job.shift_y, job.pi,
                        info.w, info.h),
      lens::SampleOptions{job.bilinear != 0.0f, job.green_back != 0, equirectangular},
      job.rotation,
      job.out_w / 2,
      PerspectiveFocal(job.out_w, job.out_fov, job.pi),
      (static_cast<double>(job.out_w) - 1.0) * 0.5,
      (static_cast<double>(job.out_h) - 1.0) * 0.5};
  static const RowPairFunction row_pair = ChooseRowPair();

#pragma omp parallel for schedule(static)
  for (std::int32_t i = 0; i < row_pairs; ++i) row_pair(setup, i);
}

}  // namespace varnel
