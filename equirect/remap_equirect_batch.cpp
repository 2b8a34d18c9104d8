// RemapEquirectangular: the output panorama in batches, bit-identical to
// RemapEquirectangularReference.
//
// Each row is cut into runs of up to kBatchLanes columns whose rays go
// through the batched pipeline of batch_pipeline.h together. The per-row
// values (latitude, its sine and cosine, Z * cos_pitch, Z * sin_pitch) are
// formed once per row as in the reference, and the rows are split over the
// threads in the same contiguous static blocks. Each row runs in the AVX2
// or AVX-512 copy of the loop where the CPU has it (kernel_set.h).
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "batch_pipeline.h"
#include "lens_models.h"
#include "sampling.h"
#include "trimbel.h"
#include "trimbel_view.h"

namespace trimbel {

namespace {

// What every row of one frame shares.
struct FrameSetup {
  const RemapJob* job;
  lens::SourceFrame src;
  PIXEL_YC* dst;
  std::ptrdiff_t stride;
  lens::LensModel lens_model;
  lens::SampleOptions options;
  lens::ViewRotation rotation;
  bool tables;  // both longitude tables, or neither as in the reference
  float row_span;
};

template <lens::KernelSet set>
inline void RemapRow(const FrameSetup& f, std::int32_t r) {
  const RemapJob& job = *f.job;
  const std::int32_t out_w = job.out_w;
  const float pi = job.pi;
  const lens::ViewRotation& rotation = f.rotation;
  const float lat = static_cast<float>(r) * pi / f.row_span;
  const float sin_lat = static_cast<float>(std::sin(static_cast<double>(lat)));
  const float cos_lat = static_cast<float>(std::cos(static_cast<double>(lat)));
  if (out_w < 1) return;
  const float Zc = cos_lat * rotation.cos_pitch;
  const float Zs = cos_lat * rotation.sin_pitch;
  PIXEL_YC* const out_row = f.dst + static_cast<std::ptrdiff_t>(r) * f.stride;
  lens::PixelBatch batch;
  for (std::int32_t c0 = 0; c0 < out_w; c0 += lens::kBatchLanes) {
    const int n = static_cast<int>(std::min<std::int32_t>(lens::kBatchLanes, out_w - c0));
    if (f.tables) {
      // Plain loops over the tables, so that they are vector code.
      const float* __restrict sin_lon = job.sin_lon + c0;
      const float* __restrict cos_lon = job.cos_lon + c0;
      float* __restrict X = batch.X;
      float* __restrict Y = batch.Y;
      float* __restrict BZc = batch.Zc;
      float* __restrict BZs = batch.Zs;
      for (int k = 0; k < n; ++k) {
        X[k] = -(sin_lon[k] * sin_lat);
        Y[k] = cos_lon[k] * sin_lat;
        BZc[k] = Zc;
        BZs[k] = Zs;
      }
    } else {
      for (int k = 0; k < n; ++k) {
        const double lon = static_cast<double>(ColumnLongitude(c0 + k, out_w, pi));
        batch.X[k] = -(static_cast<float>(std::sin(lon)) * sin_lat);
        batch.Y[k] = static_cast<float>(std::cos(lon)) * sin_lat;
        batch.Zc[k] = Zc;
        batch.Zs[k] = Zs;
      }
    }
    PIXEL_YC** const out = batch.out;
    for (int k = 0; k < n; ++k) out[k] = out_row + c0 + k;
    batch.n = n;
    lens::RunBatch<View, set>(batch, rotation, f.lens_model, f.src, f.options);
  }
}

using RowFunction = void (*)(const FrameSetup&, std::int32_t);

LENS_BASELINE_KERNEL void RowBaseline(const FrameSetup& f, std::int32_t r) {
  RemapRow<lens::KernelSet::Baseline>(f, r);
}

#ifdef LENS_AVX2_KERNELS
LENS_AVX2_KERNEL void RowAvx2(const FrameSetup& f, std::int32_t r) {
  RemapRow<lens::KernelSet::Avx2>(f, r);
}
LENS_AVX512_KERNEL void RowAvx512(const FrameSetup& f, std::int32_t r) {
  RemapRow<lens::KernelSet::Avx512>(f, r);
}
#else
constexpr RowFunction RowAvx2 = nullptr;
constexpr RowFunction RowAvx512 = nullptr;
#endif

}  // namespace

void RemapEquirectangular(const RemapJob& job) {
  if (job.out_h < 1) return;

  const FILTER_PROC_INFO& info = *job.proc_info;
  const auto projection = static_cast<lens::SourceProjection>(job.source_projection);
  const bool equirectangular = projection == lens::SourceProjection::Equirectangular;
  const FrameSetup setup{
      &job,
      lens::SourceFrame{info.ycp_edit, info.w, info.h, info.max_w},
      info.ycp_temp,
      info.max_w,
      lens::PrepareLens(projection, job.in_fov, job.in_mask, job.shift_x, job.shift_y, job.pi,
                        info.w, info.h),
      lens::SampleOptions{job.bilinear != 0, job.green_back != 0, equirectangular},
      lens::ViewRotation{job.cos_roll, job.sin_roll, job.cos_azimuth, job.sin_azimuth,
                         job.cos_pitch, job.sin_pitch},
      job.cos_lon != nullptr && job.sin_lon != nullptr,
      static_cast<float>(job.out_h - 1)};
  static const RowFunction row =
      lens::PickKernel(lens::ChooseKernelSet(), RowBaseline, RowAvx2, RowAvx512);

#pragma omp parallel for schedule(static)
  for (std::int32_t r = 0; r < job.out_h; ++r) row(setup, r);
}

}  // namespace trimbel
