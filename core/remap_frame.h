// What a remap of one frame shares across its rows: the source, where the
// rows go, the input's lens, the sampler and fill, and the view's rotation,
// from the host's frame record and the frame entry's settings; and one
// output pixel through the per-pixel functions with them.
#pragma once

#include <cstddef>

#include "aviutl_filter.h"
#include "geometry.h"
#include "lens/lens_model.h"
#include "lens/lens_models.h"
#include "rotation.h"
#include "sampling.h"

namespace lens {

struct RemapFrame {
  SourceFrame src;         // the host's current frame, read only
  PIXEL_YC* dst;           // the host's scratch frame, written
  std::ptrdiff_t stride;   // pixels per row of both (max_w)
  LensModel lens_model;
  SampleOptions options;
  ViewRotation rotation;
};

// The frame of a remap job: any job record with the fields proc_info,
// source_projection, in_fov, in_mask, shift_x, shift_y, pi, bilinear (any
// value but 0 selects the bilinear sampler), green_back and rotation.
template <typename Job>
inline RemapFrame MakeRemapFrame(const Job& job) {
  const FILTER_PROC_INFO& info = *job.proc_info;
  const auto projection = static_cast<SourceProjection>(job.source_projection);
  return RemapFrame{SourceFrame{info.ycp_edit, info.w, info.h, info.max_w},
                    info.ycp_temp,
                    info.max_w,
                    PrepareLens(projection, job.in_fov, job.in_mask, job.shift_x, job.shift_y, job.pi, info.w,
                                info.h),
                    SampleOptions{job.bilinear != 0, job.green_back != 0,
                                  projection == SourceProjection::Equirectangular},
                    job.rotation};
}

// One output pixel through the per-pixel functions: the ray (X, Y, and Z as
// Zc = Z cos(pitch), Zs = Z sin(pitch)) turned, mapped into the source and
// sampled, or the fill where `admitted` is false.
template <typename View>
inline void RemapPixel(const RemapFrame& f, PIXEL_YC* out, float X, float Y, float Zc, float Zs,
                       bool admitted = true) {
  const SourceAngles angles = RotateToSource<View>(X, Y, Zc, Zs, f.rotation, f.options.equirectangular);
  const SourcePoint point = MapToSource<View>(f.lens_model, angles);
  SampleOrFill<View>(f.src, out, point, f.options, admitted);
}

}  // namespace lens
