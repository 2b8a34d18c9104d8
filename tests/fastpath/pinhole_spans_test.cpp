// The span boxes of a pin-hole view on a panorama: every box that claims a
// proof holds the per-pixel position, over views that meet the poles, the
// seam, wide and narrow fields and large panoramas; and on an ordinary view
// almost every lane is decided by its box.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "batch/pinhole_spans.h"
#include "lens/lens_models.h"
#include "mirror.h"
#include "rotation.h"
#include "varnel.h"
#include "varnel_view.h"

namespace {

struct SpanView {
  int out_fov, pitch, azimuth, roll;  // tenths of a degree
  int src_w, src_h, out_h;
};

struct Tally {
  long lanes = 0;
  long proven = 0;   // the box claims a proof
  long decided = 0;  // and both corners give one pixel
  long outside = 0;  // a proven box that misses the per-pixel position
};

// Every tenth row pair of the view, all four quadrants, every column pair.
Tally CheckBoxes(const SpanView& v) {
  int track[varnel::kTrackCount] = {1800, 3600, v.out_fov, v.pitch, v.azimuth, v.roll, 0, 0, v.out_h};
  int check[varnel::kCheckCount] = {};
  check[varnel::kUseHeight] = 1;
  check[varnel::kEquirectangularInput] = 1;
  FILTER filter{};
  filter.track = track;
  filter.check = check;
  // Only the geometry is computed: no pixel is read.
  FILTER_PROC_INFO info{};
  std::vector<PIXEL_YC> pixels(1);
  info.ycp_edit = pixels.data();
  info.ycp_temp = pixels.data();
  info.w = v.src_w;
  info.h = v.src_h;
  info.max_w = v.src_w;
  info.max_h = v.src_h;
  const varnel::RemapJob job = varnel::MakeRemapJob(&filter, &info);
  const lens::RemapFrame frame = lens::MakeRemapFrame(job);
  const double focal = varnel::PerspectiveFocal(job.out_w, job.out_fov, job.pi);
  const lens::PinholePanorama p =
      lens::PreparePinholePanorama<varnel::View>(frame.rotation, frame.lens_model, frame.src, focal);
  EXPECT_TRUE(p.applies);
  const lens::SampleOptions options{false, false, true};
  Tally t;
  lens::PositionBoxes boxes;
  for (std::int32_t i = 0; i < job.out_h / 2; i += 10) {
    const float yf = lens::PairOffset(i);
    const std::int32_t pairs = job.out_w / 2;
    for (std::int32_t j0 = 0; j0 < pairs; j0 += lens::kQuadrantLanes) {
      const int n = pairs - j0 < lens::kQuadrantLanes ? pairs - j0 : lens::kQuadrantLanes;
      lens::PinholeSpanBoxes(p, lens::SpanBlockOf(p, j0, n, yf), boxes);
      for (int k = 0; k < 4; ++k) {
        for (int lane = k * n; lane < k * n + n; ++lane) {
          const int g = lane - k * n;
          ++t.lanes;
          if (boxes.ok[lane] == 0) continue;
          ++t.proven;
          const varnel::GroupRay ray = varnel::PerspectiveGroupRay(lens::PairOffset(j0 + g), yf, yf * yf, focal);
          const float X = (k & 1) != 0 ? -ray.Xm : ray.Xm;
          const float Y = (k & 2) != 0 ? -ray.Ym : ray.Ym;
          const lens::SourceAngles angles = lens::RotateToSource<varnel::View>(
              X, Y, ray.Z * frame.rotation.cos_pitch, ray.Z * frame.rotation.sin_pitch, frame.rotation, true);
          const lens::SourcePoint point = lens::MapToSource<varnel::View>(frame.lens_model, angles);
          const bool inside = point.x >= boxes.x_lo[lane] && point.x <= boxes.x_hi[lane] && point.y >= boxes.y_lo[lane] &&
                              point.y <= boxes.y_hi[lane];
          if (!inside) {
            ++t.outside;
            ADD_FAILURE() << "row pair " << i << " pair " << j0 + g << " quadrant " << k << ": (" << point.x
                          << ", " << point.y << ") outside [" << boxes.x_lo[lane] << ", " << boxes.x_hi[lane] << "] x ["
                          << boxes.y_lo[lane] << ", " << boxes.y_hi[lane] << "]";
            if (t.outside > 5) return t;
          }
          const auto pixel = [&](float x, float y) {
            const lens::AdmittedPosition a =
                lens::AdmitPosition<varnel::View>(frame.src, lens::SourcePoint{x, y, false}, options);
            return lens::PlaceLane<varnel::View, lens::Nearest>(a, frame.src, options).source;
          };
          const std::int32_t lo = pixel(boxes.x_lo[lane], boxes.y_lo[lane]);
          t.decided += lo >= 0 && lo == pixel(boxes.x_hi[lane], boxes.y_hi[lane]);
        }
      }
    }
  }
  return t;
}

TEST(PinholeSpans, EveryProvenBoxHoldsThePerPixelPosition) {
  const std::vector<SpanView> views = {
      {900, 100, 300, 0, 3840, 1920, 1080},      // an ordinary view
      {900, 900, 0, 0, 3840, 1920, 540},         // straight up: the pole inside the view
      {1200, -850, 1800, 450, 3840, 1920, 540},  // near the other pole, the seam, a roll
      {1790, 200, -1800, -300, 4096, 2048, 400}, // nearly 180 degrees wide
      {5, 10, 20, 30, 8192, 4096, 270},          // half a degree of a large panorama
      {600, -300, 1799, 1799, 40, 30, 200},      // a tiny panorama
  };
  for (const SpanView& v : views) {
    const Tally t = CheckBoxes(v);
    EXPECT_EQ(t.outside, 0) << "fov " << v.out_fov << " pitch " << v.pitch;
    // The ordinary view: the boxes are narrow enough to be worth their cost.
    if (&v == &views[0]) {
      EXPECT_GT(t.decided, t.lanes * 97 / 100);
    }
    std::printf("fov %d pitch %d azimuth %d roll %d %dx%d: %ld lanes, %.2f %% proven, %.2f %% decided\n",
                v.out_fov, v.pitch, v.azimuth, v.roll, v.src_w, v.src_h, t.lanes, 100.0 * t.proven / t.lanes,
                100.0 * t.decided / t.lanes);
  }
}

}  // namespace
