// What a remap of one frame shares across its rows: the source, where the
// rows go, the input's lens, the sampler and fill, and the view's rotation,
// from the host's frame record and the frame entry's settings.
#pragma once

#include <cstddef>

#include "aviutl_filter.h"
#include "geometry.h"
#include "lens/lens_model.h"
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

// A job that carries its rotation as six fields, cos_roll .. sin_pitch.
template <typename Job>
inline ViewRotation RotationOf(const Job& job) {
  return ViewRotation{job.cos_roll,    job.sin_roll,  job.cos_azimuth,
                      job.sin_azimuth, job.cos_pitch, job.sin_pitch};
}

inline RemapFrame MakeRemapFrame(const FILTER_PROC_INFO& info, std::int32_t source_projection, float in_fov,
                                 float in_mask, float shift_x, float shift_y, float pi, bool bilinear,
                                 bool green_back, const ViewRotation& rotation) {
  const auto projection = static_cast<SourceProjection>(source_projection);
  return RemapFrame{SourceFrame{info.ycp_edit, info.w, info.h, info.max_w},
                    info.ycp_temp,
                    info.max_w,
                    PrepareLens(projection, in_fov, in_mask, shift_x, shift_y, pi, info.w, info.h),
                    SampleOptions{bilinear, green_back, projection == SourceProjection::Equirectangular},
                    rotation};
}

}  // namespace lens
