// RemapEquirectangular: the output panorama in batches, bit-identical to
// RemapEquirectangularReference.
//
// Each row is cut into runs of up to kBatchLanes columns whose rays go
// through the batched pipeline (core/batch/) together. The per-row values
// (latitude, its sine and cosine, Z * cos_pitch, Z * sin_pitch) are formed
// once per row as in the reference, and the rows are split over the threads
// in the same contiguous static blocks.
#include <algorithm>
#include <cmath>
#include <cstddef>

#include "batch/dispatch.h"
#include "batch/row_dispatch.h"
#include "remap_frame.h"
#include "trimbel.h"
#include "trimbel_view.h"

namespace trimbel {

namespace {

struct Rows {
  struct Setup {
    const RemapJob* job;
    lens::RemapFrame frame;
    bool tables;  // both longitude tables, or neither as in the reference
    float row_span;
  };

  template <lens::KernelSet set>
  static void Run(const Setup& f, std::int32_t r) {
    const RemapJob& job = *f.job;
    const lens::RemapFrame& frame = f.frame;
    const std::int32_t out_w = job.out_w;
    const float pi = job.pi;
    const lens::ViewRotation& rotation = frame.rotation;
    const float lat = static_cast<float>(r) * pi / f.row_span;
    const float sin_lat = static_cast<float>(std::sin(static_cast<double>(lat)));
    const float cos_lat = static_cast<float>(std::cos(static_cast<double>(lat)));
    if (out_w < 1) return;
    const float Zc = cos_lat * rotation.cos_pitch;
    const float Zs = cos_lat * rotation.sin_pitch;
    PIXEL_YC* const out_row = frame.dst + static_cast<std::ptrdiff_t>(r) * frame.stride;
    lens::PixelBatch batch;
    lens::RestLanes rest;
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
      lens::RunBatch<View, set, false>(batch, rest, rotation, frame.lens_model, frame.src, frame.options);
    }
    lens::RunRestLanes<View, set>(rest, rotation, frame.lens_model, frame.src, frame.options);
  }
};

}  // namespace

void RemapEquirectangular(const RemapJob& job) {
  if (job.out_h < 1) return;
  const Rows::Setup setup{
      &job,
      lens::MakeRemapFrame(job),
      job.cos_lon != nullptr && job.sin_lon != nullptr,
      static_cast<float>(job.out_h - 1)};
  lens::ForEachRow<Rows>(setup, job.out_h);
}

}  // namespace trimbel
