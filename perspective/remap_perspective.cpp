// RemapPerspectiveReference: the pin-hole view, one pixel at a time through
// the per-pixel functions. It is the reference that the batched
// RemapPerspective (remap_perspective_batch.cpp) must match bit for bit.
//
// The output grid is symmetric about its centre under both mirrors, so one
// output ray (the costly square root, arc tangents, sines and cosines) serves
// four pixels, one per quadrant; only the signs of X and Y differ (mirror.h).
#include "mirror.h"
#include "remap_frame.h"
#include "varnel.h"
#include "varnel_view.h"

namespace varnel {
namespace {

// The ray of row pair i and column pair j.
auto PairRayAt(const RemapJob& job, const lens::RemapFrame& frame) {
  const double focal = PerspectiveFocal(job.out_w, job.out_fov, job.pi);
  const lens::ViewRotation rotation = frame.rotation;
  return [focal, rotation](std::int32_t i, std::int32_t j) {
    const float yf = lens::PairOffset(i);
    const GroupRay ray = PerspectiveGroupRay(lens::PairOffset(j), yf, yf * yf, focal);
    return lens::MirroredRay{ray.Xm, ray.Ym, ray.Z * rotation.cos_pitch, ray.Z * rotation.sin_pitch, true};
  };
}

}  // namespace

void RemapPerspectiveReference(const RemapJob& job) { lens::RemapMirroredGrid<View>(job, PairRayAt); }

void RemapPerspectiveOddEdges(const RemapJob& job) { lens::RemapOddEdges<View>(job, PairRayAt); }

}  // namespace varnel
