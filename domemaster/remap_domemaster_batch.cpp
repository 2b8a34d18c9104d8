// RemapDomeMaster: the dome master view in batches, bit-identical to
// RemapDomeMasterReference.
//
// Per row pair the pair rays are formed for up to kPairs column pairs at a
// time (the arc tangent estimated in the loop, the sines and cosines over
// arrays), then the four mirrored pixels of each pair go through the batched
// pipeline of batch_pipeline.h with the pair's circular-mask verdict. The
// row pairs are split over the threads exactly as in the reference. Each row
// pair runs in the AVX2 or AVX-512 copy of the loop where the CPU has it
// (kernel_set.h).
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "batch_pipeline.h"
#include "lens_models.h"
#include "oskuda.h"
#include "sampling.h"
#include "vector_math.h"

namespace oskuda {
namespace {

// Four pixels per pair fill one batch.
constexpr int kPairs = lens::kBatchLanes / 4;

}  // namespace

int PairRays(const DomeScale& scale, float oy, float oy_squared, std::int32_t j0, int count,
             DomeRay* rays) {
  namespace vm = lens::vmath;
  int recomputed = 0;
  for (int start = 0; start < count; start += kPairs) {
    const int n = std::min(kPairs, count - start);
    double phi_o[kPairs], theta_o[kPairs];
    double sin_theta[kPairs], cos_theta[kPairs], cos_phi[kPairs], sin_phi[kPairs];
    bool ok[kPairs];
    for (int g = 0; g < n; ++g) {
      DomeRay& ray = rays[start + g];
      ray.oy = oy;
      ray.ox = static_cast<float>(static_cast<double>(j0 + start + g) + 0.5);
      ray.rho = static_cast<float>(std::sqrt(static_cast<double>(ray.ox * ray.ox + oy_squared)));
      ray.theta_o = static_cast<float>(static_cast<double>(scale.half_pi * ray.rho) *
                                       scale.fov_ratio / static_cast<double>(scale.half_width));
      theta_o[g] = static_cast<double>(ray.theta_o);
      phi_o[g] = vm::AtanEstimate(static_cast<double>(oy / ray.ox));
      ok[g] = vm::RoundsSafely(phi_o[g], std::fabs(phi_o[g]) * vm::kMargin);
      rays[start + g].phi_o = static_cast<float>(phi_o[g]);
      // The rounded angle feeds the sine and cosine, as in the reference.
      phi_o[g] = static_cast<double>(rays[start + g].phi_o);
    }
    vm::Sin(theta_o, sin_theta, n);
    vm::Cos(theta_o, cos_theta, n);
    vm::Cos(phi_o, cos_phi, n);
    vm::Sin(phi_o, sin_phi, n);
    for (int g = 0; g < n; ++g) {
      DomeRay& ray = rays[start + g];
      const double x0 = cos_phi[g] * sin_theta[g];
      const double y0 = sin_phi[g] * sin_theta[g];
      if (ok[g] && vm::RoundsSafely(x0, std::fabs(x0) * vm::kMargin) &&
          vm::RoundsSafely(y0, std::fabs(y0) * vm::kMargin) &&
          vm::RoundsSafely(cos_theta[g], std::fabs(cos_theta[g]) * vm::kMargin)) {
        ray.X0 = static_cast<float>(x0);
        ray.Y0 = static_cast<float>(y0);
        ray.Z = static_cast<float>(cos_theta[g]);
      } else {
        ray = PairRay(scale, oy, oy_squared, j0 + start + g);
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
  bool circle_mask;
  DomeScale scale;
  std::int32_t half_w;
  double cx, cy;
  // Output columns of pair j (ox = j + 0.5): PixelIndexOf(cx, ox, true) and
  // PixelIndexOf(cx, ox, false), computed once per frame.
  const std::int32_t* right;
  const std::int32_t* left;
};

// Row pair i: rows out_h/2 + i and out_h/2 - 1 - i.
template <lens::KernelSet set>
inline void RemapRowPair(const FrameSetup& f, std::int32_t i) {
  const lens::ViewRotation& rotation = f.rotation;
  const std::int32_t half_w = f.half_w;
  const float oy = static_cast<float>(static_cast<double>(i) + 0.5);
  const float oy_squared = oy * oy;
  PIXEL_YC* const out_below = f.dst + static_cast<std::ptrdiff_t>(PixelIndexOf(f.cy, oy, true)) * f.stride;
  PIXEL_YC* const out_above = f.dst + static_cast<std::ptrdiff_t>(PixelIndexOf(f.cy, oy, false)) * f.stride;
  lens::PixelBatch batch;
  DomeRay rays[kPairs];
  bool admitted[lens::kBatchLanes];
  for (std::int32_t j0 = 0; j0 < half_w; j0 += kPairs) {
    const int pairs = static_cast<int>(std::min<std::int32_t>(kPairs, half_w - j0));
    PairRays(f.scale, oy, oy_squared, j0, pairs, rays);
    // Lane k * pairs + g is quadrant k of pair g (k as in the reference).
    for (int g = 0; g < pairs; ++g) {
      const DomeRay& ray = rays[g];
      const float Zc = ray.Z * rotation.cos_pitch;
      const float Zs = ray.Z * rotation.sin_pitch;
      const bool inside = !f.circle_mask || InsideCircle(half_w, ray.rho);
      const std::ptrdiff_t right = f.right[j0 + g];
      const std::ptrdiff_t left = f.left[j0 + g];
      PIXEL_YC* const outs[4] = {out_below + right, out_below + left, out_above + right,
                                 out_above + left};
      const float Xs[4] = {ray.X0, -ray.X0, ray.X0, -ray.X0};
      const float Ys[4] = {ray.Y0, ray.Y0, -ray.Y0, -ray.Y0};
      for (int k = 0; k < 4; ++k) {
        const int lane = k * pairs + g;
        batch.X[lane] = Xs[k];
        batch.Y[lane] = Ys[k];
        batch.Zc[lane] = Zc;
        batch.Zs[lane] = Zs;
        batch.out[lane] = outs[k];
        admitted[lane] = inside;
      }
    }
    batch.n = 4 * pairs;
    lens::RunBatch<lens::Filter::Oskuda, set>(batch, rotation, f.lens_model, f.src, f.options, admitted);
  }
}

using RowPairFunction = void (*)(const FrameSetup&, std::int32_t);

void RowPairBaseline(const FrameSetup& f, std::int32_t i) {
  RemapRowPair<lens::KernelSet::Baseline>(f, i);
}

#ifdef LENS_AVX2_KERNELS
LENS_AVX2_KERNEL void RowPairAvx2(const FrameSetup& f, std::int32_t i) {
  RemapRowPair<lens::KernelSet::Avx2>(f, i);
}
LENS_AVX512_KERNEL void RowPairAvx512(const FrameSetup& f, std::int32_t i) {
  RemapRowPair<lens::KernelSet::Avx512>(f, i);
}
#else
constexpr RowPairFunction RowPairAvx2 = nullptr;
constexpr RowPairFunction RowPairAvx512 = nullptr;
#endif

}  // namespace

void RemapDomeMaster(const RemapJob& job) {
  const std::int32_t half_h = job.out_h / 2;
  if (half_h <= 0) return;

  const FILTER_PROC_INFO& info = *job.proc_info;
  const auto projection = static_cast<lens::SourceProjection>(job.source_projection);
  const bool equirectangular = projection == lens::SourceProjection::Equirectangular;
  const std::int32_t half_w = job.out_w / 2;
  const double cx = static_cast<double>(job.out_w - 1) * 0.5;
  std::vector<std::int32_t> columns(2 * static_cast<std::size_t>(half_w > 0 ? half_w : 0));
  for (std::int32_t j = 0; j < half_w; ++j) {
    // The ox of PairRays and PairRay.
    const float ox = static_cast<float>(static_cast<double>(j) + 0.5);
    columns[j] = PixelIndexOf(cx, ox, true);
    columns[half_w + j] = PixelIndexOf(cx, ox, false);
  }
  const FrameSetup setup{
      lens::SourceFrame{info.ycp_edit, info.w, info.h, info.max_w},
      info.ycp_temp,
      info.max_w,
      lens::PrepareLens(projection, job.in_fov, job.in_mask, job.shift_x, job.shift_y, job.pi,
                        info.w, info.h),
      lens::SampleOptions{job.bilinear != 0.0f, job.green_back != 0, equirectangular},
      lens::ViewRotation{job.cos_roll, job.sin_roll, job.cos_azimuth, job.sin_azimuth,
                         job.cos_pitch, job.sin_pitch},
      job.circle_mask != 0,
      PrepareDomeScale(job.out_fov, job.out_w, job.pi),
      half_w,
      cx,
      static_cast<double>(job.out_h - 1) * 0.5,
      columns.data(),
      columns.data() + half_w};
  static const RowPairFunction row_pair =
      lens::PickKernel(lens::ChooseKernelSet(), RowPairBaseline, RowPairAvx2, RowPairAvx512);

#pragma omp parallel for schedule(static)
  for (std::int32_t i = 0; i < half_h; ++i) row_pair(setup, i);
}

}  // namespace oskuda
