// RemapDomeMasterReference: the dome master view, one pixel at a time
// through the per-pixel functions. It is the reference that the batched
// RemapDomeMaster (remap_domemaster_batch.cpp) must match bit for bit.
//
// The dome circle is centred on the frame and its radius is half the output
// width; the polar angle of a pixel's ray grows in proportion to its distance
// from the centre and reaches out_fov / 2 on the circle (equidistant fisheye).
// The output grid is symmetric about its centre under both mirrors, so one
// output ray (square root, arc tangent, sines and cosines) serves four pixels,
// one per quadrant; only the signs of X and Y differ. Row pairs i are split
// over the threads in contiguous static blocks; pair i writes rows
// cy + oy and cy - oy only (out_h/2 + i and out_h/2 - 1 - i for even sizes).
#include <cmath>
#include <cstddef>

#include "lens/lens_models.h"
#include "remap_frame.h"
#include "oskuda.h"
#include "oskuda_view.h"
#include "rotation.h"
#include "sampling.h"

namespace oskuda {

DomeScale PrepareDomeScale(float out_fov, std::int32_t out_w, float pi) {
  DomeScale scale;
  scale.half_pi = pi * 0.5f;
  scale.fov_ratio = static_cast<double>(out_fov) / 180.0;
  scale.half_width = static_cast<float>(out_w) * 0.5f;
  return scale;
}

DomeRay PairRay(const DomeScale& scale, float oy, float oy_squared, std::int32_t j) {
  DomeRay ray;
  ray.oy = oy;
  ray.ox = static_cast<float>(static_cast<double>(j) + 0.5);
  ray.rho = static_cast<float>(std::sqrt(static_cast<double>(ray.ox * ray.ox + oy_squared)));
  // (pi / 2) * rho in float, then * (out_fov / 180) and / (out_w / 2) in double.
  ray.theta_o = static_cast<float>(static_cast<double>(scale.half_pi * ray.rho) * scale.fov_ratio /
                                   static_cast<double>(scale.half_width));
  // ox > 0 always: no quadrant rule is needed.
  ray.phi_o = static_cast<float>(std::atan(static_cast<double>(oy / ray.ox)));
  const double sin_theta = std::sin(static_cast<double>(ray.theta_o));
  ray.X0 = static_cast<float>(std::cos(static_cast<double>(ray.phi_o)) * sin_theta);
  ray.Y0 = static_cast<float>(std::sin(static_cast<double>(ray.phi_o)) * sin_theta);
  ray.Z = static_cast<float>(std::cos(static_cast<double>(ray.theta_o)));
  return ray;
}

DomeRay PairRay(std::int32_t i, std::int32_t j, float out_fov, std::int32_t out_w, float pi) {
  const float oy = static_cast<float>(static_cast<double>(i) + 0.5);
  return PairRay(PrepareDomeScale(out_fov, out_w, pi), oy, oy * oy, j);
}

bool InsideCircle(std::int32_t half_w, float rho) { return static_cast<float>(half_w) > rho; }

std::int32_t PixelIndexOf(double centre, float offset, bool plus) {
  const double position = plus ? centre + static_cast<double>(offset)
                               : centre - static_cast<double>(offset);
  return static_cast<std::int32_t>(static_cast<float>(position));
}

void RemapDomeMasterReference(const RemapJob& job) {
  const std::int32_t half_w = job.out_w / 2;
  const std::int32_t half_h = job.out_h / 2;
  if (half_h <= 0) return;

  const lens::RemapFrame frame = lens::MakeRemapFrame(
      *job.proc_info, job.source_projection, job.in_fov, job.in_mask, job.shift_x, job.shift_y, job.pi,
      job.bilinear != 0.0f, job.green_back != 0, lens::RotationOf(job));
  const lens::SourceFrame& src = frame.src;
  PIXEL_YC* const dst = frame.dst;
  const std::ptrdiff_t stride = frame.stride;
  const lens::LensModel& lens_model = frame.lens_model;
  const lens::SampleOptions& options = frame.options;
  const bool equirectangular = options.equirectangular;
  const lens::ViewRotation rotation = frame.rotation;
  const bool circle_mask = job.circle_mask != 0;
  const DomeScale scale = PrepareDomeScale(job.out_fov, job.out_w, job.pi);

  // cx, cy: the frame centre, with pixel n centred at n.
  const double cx = static_cast<double>(job.out_w - 1) * 0.5;
  const double cy = static_cast<double>(job.out_h - 1) * 0.5;

#pragma omp parallel for schedule(static)
  for (std::int32_t i = 0; i < half_h; ++i) {
    const float oy = static_cast<float>(static_cast<double>(i) + 0.5);
    const float oy_squared = oy * oy;
    PIXEL_YC* const out_below = dst + static_cast<std::ptrdiff_t>(PixelIndexOf(cy, oy, true)) * stride;
    PIXEL_YC* const out_above = dst + static_cast<std::ptrdiff_t>(PixelIndexOf(cy, oy, false)) * stride;
    for (std::int32_t j = 0; j < half_w; ++j) {
      const DomeRay ray = PairRay(scale, oy, oy_squared, j);
      const float Zc = ray.Z * rotation.cos_pitch;
      const float Zs = ray.Z * rotation.sin_pitch;
      const bool admitted = !circle_mask || InsideCircle(half_w, ray.rho);
      const std::ptrdiff_t right = PixelIndexOf(cx, ray.ox, true);
      const std::ptrdiff_t left = PixelIndexOf(cx, ray.ox, false);

      struct Quadrant { PIXEL_YC* out; float X; float Y; };
      const Quadrant quadrants[4] = {
          {out_below + right, ray.X0, ray.Y0},
          {out_below + left, -ray.X0, ray.Y0},
          {out_above + right, ray.X0, -ray.Y0},
          {out_above + left, -ray.X0, -ray.Y0},
      };
      for (const Quadrant& q : quadrants) {
        const lens::SourceAngles angles =
            lens::RotateToSource<View>(q.X, q.Y, Zc, Zs, rotation, equirectangular);
        const lens::SourcePoint point = lens::MapToSource<View>(lens_model, angles);
        lens::SampleOrFill<View>(src, q.out, point, options, admitted);
      }
    }
  }
}

}  // namespace oskuda
