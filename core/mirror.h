// The four-fold symmetry of a centred output grid. Pixel pair n of a side
// lies at the offset o = n + 0.5 from the centre, on both sides of it; a ray
// through (o_x, o_y) serves the four pixels (+-o_x, +-o_y), only the signs of
// its X and Y differing. A remap that uses this forms one ray per pair of
// columns and pair of rows and writes the four pixels, below right, below
// left, above right, above left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "remap_frame.h"

namespace lens {

// The centre of a side of n pixels, pixel k centred at k.
inline double GridCentre(std::int32_t n) { return static_cast<double>(n - 1) * 0.5; }

// The offset of pair n from the centre: n + 0.5, rounded to float.
inline float PairOffset(std::int32_t n) { return static_cast<float>(static_cast<double>(n) + 0.5); }

// The pixel at the centre plus or minus the offset: in double, rounded to
// float, truncated toward zero.
inline std::int32_t MirroredIndex(double centre, float offset, bool plus) {
  const double position = plus ? centre + static_cast<double>(offset) : centre - static_cast<double>(offset);
  return static_cast<std::int32_t>(static_cast<float>(position));
}

// The columns of the pairs of a row of `width` pixels, worked out once per
// frame: right[n] = centre + o, left[n] = centre - o.
struct MirroredColumns {
  std::int32_t pairs;
  std::vector<std::ptrdiff_t> index;  // the right columns, then the left ones
  bool adjacent;  // right[n + 1] = right[n] + 1 and left[n + 1] = left[n] - 1 throughout

  explicit MirroredColumns(std::int32_t width)
      : pairs(width / 2), index(2 * static_cast<std::size_t>(width > 1 ? width / 2 : 0)), adjacent(true) {
    const double centre = GridCentre(width);
    for (std::int32_t n = 0; n < pairs; ++n) {
      index[static_cast<std::size_t>(n)] = MirroredIndex(centre, PairOffset(n), true);
      index[static_cast<std::size_t>(pairs + n)] = MirroredIndex(centre, PairOffset(n), false);
    }
    for (std::int32_t n = 1; n < pairs; ++n) {
      adjacent = adjacent && right()[n] == right()[n - 1] + 1 && left()[n] == left()[n - 1] - 1;
    }
  }
  const std::ptrdiff_t* right() const { return index.data(); }
  const std::ptrdiff_t* left() const { return index.data() + pairs; }
};

// The four pixels of one ray: columns `right` and `left` of the rows `below`
// and `above`.
template <typename View>
inline void RemapMirroredPixels(const RemapFrame& f, PIXEL_YC* below, PIXEL_YC* above, std::int32_t right,
                                std::int32_t left, float X, float Y, float Zc, float Zs, bool admitted = true) {
  RemapPixel<View>(f, below + right, X, Y, Zc, Zs, admitted);
  RemapPixel<View>(f, below + left, -X, Y, Zc, Zs, admitted);
  RemapPixel<View>(f, above + right, X, -Y, Zc, Zs, admitted);
  RemapPixel<View>(f, above + left, -X, -Y, Zc, Zs, admitted);
}

// The ray of pair (i, j) as the upper right quadrant's pixel sees it; the
// other quadrants mirror X and Y.
struct MirroredRay {
  float X, Y, Zc, Zs;
  bool admitted;
};

// An odd side has one pixel more than its pairs cover: the last column
// (row) lies one pair further out, on the plus side only (its mirror would
// fall outside the frame). The grid simply continues there: the pixels of
// that column and row, and the corner where both sides are odd, take the
// ray of pair `pairs` (ray_at(i, j) gives the ray of pair (i, j)) and the
// per-pixel pipeline, as their neighbours do. A few pixels per row or
// column, so both remaps share this per-pixel code.
template <typename View, typename RayAt>
inline void RemapOddEdges(const RemapFrame& f, std::int32_t out_w, std::int32_t out_h, RayAt&& ray_at) {
  const std::int32_t column_pairs = out_w / 2;
  const std::int32_t row_pairs = out_h / 2;
  const bool odd_w = out_w % 2 != 0;
  const bool odd_h = out_h % 2 != 0;
  const double cx = GridCentre(out_w);
  const double cy = GridCentre(out_h);
  auto row = [&](std::int32_t i, bool plus) {
    return f.dst + static_cast<std::ptrdiff_t>(MirroredIndex(cy, PairOffset(i), plus)) * f.stride;
  };
  auto column = [&](std::int32_t j, bool plus) { return MirroredIndex(cx, PairOffset(j), plus); };
  if (odd_w) {
    const std::int32_t last = column(column_pairs, true);
    for (std::int32_t i = 0; i < row_pairs; ++i) {
      const MirroredRay r = ray_at(i, column_pairs);
      RemapPixel<View>(f, row(i, true) + last, r.X, r.Y, r.Zc, r.Zs, r.admitted);
      RemapPixel<View>(f, row(i, false) + last, r.X, -r.Y, r.Zc, r.Zs, r.admitted);
    }
  }
  if (odd_h) {
    PIXEL_YC* const last = row(row_pairs, true);
    for (std::int32_t j = 0; j < column_pairs; ++j) {
      const MirroredRay r = ray_at(row_pairs, j);
      RemapPixel<View>(f, last + column(j, true), r.X, r.Y, r.Zc, r.Zs, r.admitted);
      RemapPixel<View>(f, last + column(j, false), -r.X, r.Y, r.Zc, r.Zs, r.admitted);
    }
  }
  if (odd_w && odd_h) {
    const MirroredRay r = ray_at(row_pairs, column_pairs);
    RemapPixel<View>(f, row(row_pairs, true) + column(column_pairs, true), r.X, r.Y, r.Zc, r.Zs, r.admitted);
  }
}

// The whole centred grid one pixel at a time: each ray of a pair of rows
// and a pair of columns, ray_at(i, j), serves its four pixels; then the odd
// edges. Row pairs are split over the threads in contiguous static blocks;
// pair i writes its two rows only.
template <typename View, typename RayAt>
inline void RemapMirroredGrid(const RemapFrame& f, std::int32_t out_w, std::int32_t out_h, RayAt&& ray_at) {
  if (out_w <= 0 || out_h <= 0) return;
  const std::int32_t row_pairs = out_h / 2;
  const MirroredColumns columns(out_w);
  const double cy = GridCentre(out_h);
#pragma omp parallel for schedule(static)
  for (std::int32_t i = 0; i < row_pairs; ++i) {
    const float oy = PairOffset(i);
    PIXEL_YC* const below = f.dst + MirroredIndex(cy, oy, true) * f.stride;
    PIXEL_YC* const above = f.dst + MirroredIndex(cy, oy, false) * f.stride;
    for (std::int32_t j = 0; j < columns.pairs; ++j) {
      const MirroredRay r = ray_at(i, j);
      RemapMirroredPixels<View>(f, below, above, columns.right()[j], columns.left()[j], r.X, r.Y, r.Zc, r.Zs,
                                r.admitted);
    }
  }
  RemapOddEdges<View>(f, out_w, out_h, ray_at);
}

// The same two for a filter's job record (see MakeRemapFrame): the frame
// comes from the job, and pair_rays(job, frame) gives the ray_at of above.
template <typename View, typename Job, typename PairRays>
inline void RemapMirroredGrid(const Job& job, PairRays&& pair_rays) {
  const RemapFrame frame = MakeRemapFrame(job);
  RemapMirroredGrid<View>(frame, job.out_w, job.out_h, pair_rays(job, frame));
}

template <typename View, typename Job, typename PairRays>
inline void RemapOddEdges(const Job& job, PairRays&& pair_rays) {
  if (job.out_w % 2 == 0 && job.out_h % 2 == 0) return;
  const RemapFrame frame = MakeRemapFrame(job);
  RemapOddEdges<View>(frame, job.out_w, job.out_h, pair_rays(job, frame));
}

}  // namespace lens
