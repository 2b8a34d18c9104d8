// RemapPerspectiveReference: the pin-hole view, one pixel at a time through
// the per-pixel functions. It is the reference that the batched
// RemapPerspective (remap_perspective_batch.cpp) must match bit for bit.
//
// The output grid is symmetric about its centre under both mirrors, so one
// output ray (the costly square root, arc tangents, sines and cosines) serves
// four pixels, one per quadrant; only the signs of X and Y differ. Row pairs i
// are split over the threads in contiguous static blocks; pair i writes rows
// out_h/2 + i and out_h/2 - 1 - i only.
#include <cstddef>

#include "lens/lens_models.h"
#include "remap_frame.h"
#include "rotation.h"
#include "sampling.h"
#include "varnel.h"
#include "varnel_view.h"

namespace varnel {

void RemapPerspectiveReference(const RemapJob& job) {
  const std::int32_t row_pairs = job.out_h / 2;
  const std::int32_t column_pairs = job.out_w / 2;
  if (row_pairs <= 0) return;

  const lens::RemapFrame frame =
      lens::MakeRemapFrame(*job.proc_info, job.source_projection, job.in_fov, job.in_mask, job.shift_x,
                           job.shift_y, job.pi, job.bilinear != 0.0f, job.green_back != 0, job.rotation);
  const lens::SourceFrame& src = frame.src;
  PIXEL_YC* const dst = frame.dst;
  const std::ptrdiff_t stride = frame.stride;
  const lens::LensModel& lens_model = frame.lens_model;
  const lens::SampleOptions& options = frame.options;
  const bool equirectangular = options.equirectangular;
  const lens::ViewRotation rotation = job.rotation;

  // cx, cy: the image centre, with pixel n centred at n.
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
    for (std::int32_t j = 0; j < column_pairs; ++j) {
      const float xf = static_cast<float>(static_cast<double>(j) + 0.5);
      const GroupRay ray = PerspectiveGroupRay(xf, yf, yf_squared, focal);
      const float Xm = ray.Xm;
      const float Ym = ray.Ym;
      const float Z = ray.Z;
      const float Zs = Z * rotation.sin_pitch;
      const float Zc = Z * rotation.cos_pitch;
      const auto right = static_cast<std::ptrdiff_t>(static_cast<float>(cx + static_cast<double>(xf)));
      const auto left = static_cast<std::ptrdiff_t>(static_cast<float>(cx - static_cast<double>(xf)));

      struct Quadrant { PIXEL_YC* out; float X; float Y; };
      const Quadrant quadrants[4] = {
          {out_below + right, Xm, Ym},
          {out_below + left, -Xm, Ym},
          {out_above + right, Xm, -Ym},
          {out_above + left, -Xm, -Ym},
      };
      for (const Quadrant& q : quadrants) {
        const lens::SourceAngles angles =
            lens::RotateToSource<View>(q.X, q.Y, Zc, Zs, rotation, equirectangular);
        const lens::SourcePoint point = lens::MapToSource<View>(lens_model, angles);
        lens::SampleOrFill<View>(src, q.out, point, options);
      }
    }
  }
}

}  // namespace varnel
