// RemapDomeMasterReference: the dome master view, one pixel at a time
// through the per-pixel functions. It is the reference that the batched
// RemapDomeMaster (remap_domemaster_batch.cpp) must match bit for bit.
//
// The dome circle is centred on the frame and its radius is half the output
// width; the polar angle of a pixel's ray grows in proportion to its distance
// from the centre and reaches out_fov / 2 on the circle (equidistant fisheye).
// The output grid is symmetric about its centre under both mirrors, so one
// output ray (square root, arc tangent, sines and cosines) serves four pixels,
// one per quadrant; only the signs of X and Y differ (mirror.h).
#include <cmath>

#include "mirror.h"
#include "oskuda.h"
#include "oskuda_view.h"
#include "remap_frame.h"

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
  ray.ox = lens::PairOffset(j);
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
  const float oy = lens::PairOffset(i);
  return PairRay(PrepareDomeScale(out_fov, out_w, pi), oy, oy * oy, j);
}

bool InsideCircle(std::int32_t half_w, float rho) { return static_cast<float>(half_w) > rho; }

namespace {

// The ray of row pair i and column pair j, and whether the circle admits it.
auto PairRayAt(const RemapJob& job, const lens::RemapFrame& frame) {
  const DomeScale scale = PrepareDomeScale(job.out_fov, job.out_w, job.pi);
  const bool circle_mask = job.circle_mask != 0;
  const std::int32_t half_w = job.out_w / 2;
  const lens::ViewRotation rotation = frame.rotation;
  return [scale, circle_mask, half_w, rotation](std::int32_t i, std::int32_t j) {
    const float oy = lens::PairOffset(i);
    const DomeRay ray = PairRay(scale, oy, oy * oy, j);
    return lens::MirroredRay{ray.X0, ray.Y0, ray.Z * rotation.cos_pitch, ray.Z * rotation.sin_pitch,
                             !circle_mask || InsideCircle(half_w, ray.rho)};
  };
}

}  // namespace

void RemapDomeMasterReference(const RemapJob& job) { lens::RemapMirroredGrid<View>(job, PairRayAt); }

void RemapDomeMasterOddEdges(const RemapJob& job) { lens::RemapOddEdges<View>(job, PairRayAt); }

}  // namespace oskuda
