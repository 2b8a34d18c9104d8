// The four pixels of each ray of a centred grid (mirror.h) as the lanes of
// one batch.
#pragma once

#include <cstddef>
#include <cstdint>

#include "batch/lanes.h"

namespace lens {

// Quadrant k of the n rays into lanes k * n .. k * n + n - 1: X mirrored in
// the left quadrants, Y in the upper ones.
template <bool masked, bool negate_x, bool negate_y>
inline void QuadrantIntoLanes(PixelBatch& batch, int k, int n, const float* X0, const float* Y0,
                              const float* Zc, const float* Zs, const std::int32_t* inside, PIXEL_YC* row,
                              const std::ptrdiff_t* columns) {
  float* __restrict X = batch.X + k * n;
  float* __restrict Y = batch.Y + k * n;
  float* __restrict BZc = batch.Zc + k * n;
  float* __restrict BZs = batch.Zs + k * n;
  PIXEL_YC** __restrict out = batch.out + k * n;
  for (int g = 0; g < n; ++g) {
    X[g] = negate_x ? -X0[g] : X0[g];
    Y[g] = negate_y ? -Y0[g] : Y0[g];
    BZc[g] = Zc[g];
    BZs[g] = Zs[g];
    out[g] = row + columns[g];
  }
  if (masked) {
    std::int32_t* __restrict admit = batch.admit + k * n;
    for (int g = 0; g < n; ++g) admit[g] = inside[g];
  }
}

// Lane k * n + g is quadrant k of ray g, k in the order below right, below
// left, above right, above left; `right` and `left` give the columns of the
// n rays. With `masked`, `inside` gives each ray's verdict to its four lanes
// (batch.admit).
template <bool masked>
inline void MirrorIntoLanes(PixelBatch& batch, int n, const float* X0, const float* Y0, const float* Zc,
                            const float* Zs, const std::int32_t* inside, PIXEL_YC* below, PIXEL_YC* above,
                            const std::ptrdiff_t* right, const std::ptrdiff_t* left) {
  QuadrantIntoLanes<masked, false, false>(batch, 0, n, X0, Y0, Zc, Zs, inside, below, right);
  QuadrantIntoLanes<masked, true, false>(batch, 1, n, X0, Y0, Zc, Zs, inside, below, left);
  QuadrantIntoLanes<masked, false, true>(batch, 2, n, X0, Y0, Zc, Zs, inside, above, right);
  QuadrantIntoLanes<masked, true, true>(batch, 3, n, X0, Y0, Zc, Zs, inside, above, left);
  batch.n = 4 * n;
}

}  // namespace lens
