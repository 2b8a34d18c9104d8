// RemapPerspectiveReference: the pin-hole view, one pixel at a time through
// the per-pixel functions. It is the reference that the batched
// RemapPerspective (remap_perspective_batch.cpp) must match bit for bit.
//
// The output grid is symmetric about its centre under both mirrors, so one
// output ray (the costly square root, arc tangents, sines and cosines) serves
// four pixels, one per quadrant; only the signs of X and Y differ (mirror.h).
// Row pairs i are split over the threads in contiguous static blocks; pair i
// writes rows out_h/2 + i and out_h/2 - 1 - i only.
#include "mirror.h"
#include "remap_frame.h"
#include "varnel.h"
#include "varnel_view.h"

namespace varnel {

void RemapPerspectiveReference(const RemapJob& job) {
  const std::int32_t row_pairs = job.out_h / 2;
  if (job.out_w <= 0 || job.out_h <= 0) return;

  const lens::RemapFrame frame = lens::MakeRemapFrame(job);
  const lens::MirroredColumns columns(job.out_w);
  const double focal = PerspectiveFocal(job.out_w, job.out_fov, job.pi);
  const double cy = lens::GridCentre(job.out_h);

#pragma omp parallel for schedule(static)
  for (std::int32_t i = 0; i < row_pairs; ++i) {
    const float yf = lens::PairOffset(i);
    const float yf_squared = yf * yf;
    PIXEL_YC* const below = frame.dst + lens::MirroredIndex(cy, yf, true) * frame.stride;
    PIXEL_YC* const above = frame.dst + lens::MirroredIndex(cy, yf, false) * frame.stride;
    for (std::int32_t j = 0; j < columns.pairs; ++j) {
      const GroupRay ray = PerspectiveGroupRay(lens::PairOffset(j), yf, yf_squared, focal);
      lens::RemapMirroredPixels<View>(frame, below, above, columns.right()[j], columns.left()[j], ray.Xm,
                                      ray.Ym, ray.Z * frame.rotation.cos_pitch, ray.Z * frame.rotation.sin_pitch);
    }
  }
  RemapPerspectiveOddEdges(job);
}

void RemapPerspectiveOddEdges(const RemapJob& job) {
  if (job.out_w % 2 == 0 && job.out_h % 2 == 0) return;
  const lens::RemapFrame frame = lens::MakeRemapFrame(job);
  const double focal = PerspectiveFocal(job.out_w, job.out_fov, job.pi);
  lens::RemapOddEdges<View>(frame, job.out_w, job.out_h, [&](std::int32_t i, std::int32_t j) {
    const float yf = lens::PairOffset(i);
    const GroupRay ray = PerspectiveGroupRay(lens::PairOffset(j), yf, yf * yf, focal);
    return lens::MirroredRay{ray.Xm, ray.Ym, ray.Z * frame.rotation.cos_pitch, ray.Z * frame.rotation.sin_pitch,
                             true};
  });
}

}  // namespace varnel
