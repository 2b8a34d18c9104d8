// RemapEquirectangularReference: the output panorama, one pixel at a time
// through the per-pixel functions. It is the reference that the batched
// RemapEquirectangular (remap_equirect_batch.cpp) must match bit for bit.
//
// Row r has the polar angle pi r / (out_h - 1), so the first and last rows
// are the poles; column c has the longitude 2 pi c / out_w. The ray of a pixel
// is X = -sin(lon) sin(lat), Y = cos(lon) sin(lat), Z = cos(lat) with Z the
// pole. Rows are split over the threads in contiguous static blocks; each row
// writes only its own out_w pixels.
#include <cmath>
#include <cstddef>

#include "remap_frame.h"
#include "trimbel.h"
#include "trimbel_view.h"

namespace trimbel {

void RemapEquirectangularReference(const RemapJob& job) {
  if (job.out_h < 1) return;

  const lens::RemapFrame frame = lens::MakeRemapFrame(job);
  const std::int32_t out_w = job.out_w;
  const float pi = job.pi;
  // Both tables or neither: one table alone would still need a call per pixel.
  const bool tables = job.cos_lon != nullptr && job.sin_lon != nullptr;
  // out_h = 1 divides 0 by 0: a NaN latitude, and the row is filled.
  const float row_span = static_cast<float>(job.out_h - 1);

#pragma omp parallel for schedule(static)
  for (std::int32_t r = 0; r < job.out_h; ++r) {
    const float lat = static_cast<float>(r) * pi / row_span;
    const float sin_lat = static_cast<float>(std::sin(static_cast<double>(lat)));
    const float cos_lat = static_cast<float>(std::cos(static_cast<double>(lat)));
    if (out_w < 1) continue;
    const float Zc = cos_lat * frame.rotation.cos_pitch;
    const float Zs = cos_lat * frame.rotation.sin_pitch;
    PIXEL_YC* const out_row = frame.dst + static_cast<std::ptrdiff_t>(r) * frame.stride;
    for (std::int32_t c = 0; c < out_w; ++c) {
      float slon;
      float clon;
      if (tables) {
        slon = job.sin_lon[c];
        clon = job.cos_lon[c];
      } else {
        const double lon = static_cast<double>(ColumnLongitude(c, out_w, pi));
        slon = static_cast<float>(std::sin(lon));
        clon = static_cast<float>(std::cos(lon));
      }
      const float X = -(slon * sin_lat);
      const float Y = clon * sin_lat;
      lens::RemapPixel<View>(frame, out_row + c, X, Y, Zc, Zs);
    }
  }
}

}  // namespace trimbel
