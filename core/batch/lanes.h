// The batched pipeline: RotateToSource, MapToSource and SampleOrFill run
// over a batch of output pixels (lanes) at a time, with the same bits as
// the per-pixel functions.
//
// A remap fills a PixelBatch with the rays of up to kBatchLanes output pixels
// and the addresses they go to, and hands it to RunBatch (dispatch.h). Float
// arithmetic is the per-pixel functions' own code in plain loops (float
// vector instructions round exactly as scalar ones; the build forbids
// contraction). Double-precision functions come from inline estimates
// (math/inverse_trig.h) or run over whole arrays (math/vector_math.h); a lane
// is accepted only when the estimate, carried through the rest of the
// formula, is too far from a float rounding boundary for its error to
// matter, and any other lane is recomputed by the per-pixel functions. The
// nearest sampler's quick passes (quick_passes.h) go further and take a
// lane's source pixel from a bracket of its position. Each pass returns how
// many lanes it recomputed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "batch/mix_lanes.h"
#include "geometry.h"
#include "sampling.h"

namespace lens {

constexpr int kBatchLanes = 256;

// Sources whose bounds AdmitPosition may compare in float.
inline bool SmallSource(const SourceFrame& src) {
  return src.w < (1 << 22) && src.h < (1 << 22);
}

// Whether any of the n flags is set, in a loop that becomes vector code: the
// scalar loops over the lanes to redo (none, or a few, in most batches) start
// only when there are some.
inline bool AnyLaneSet(const std::int32_t* flags, int n) {
  std::int32_t any = 0;
  for (int k = 0; k < n; ++k) any |= flags[k];
  return any != 0;
}

// Calls redo_lane(k), in order, for each lane k < n whose flag is set, and
// returns how many there were: for the nearest sampler's quick passes, which
// leave a few lanes in most batches (where a pass leaves none in most, one
// AnyLaneSet over the batch before a plain loop costs less). The flags are
// gathered sixteen at a time into the bits of a word (a loop that becomes a
// vector comparison), and the set bits are visited in order: no test of a
// single flag, whose branch the processor could not predict.
template <typename RedoLane>
inline int ForEachSetLane(const std::int32_t* flags, int n, RedoLane&& redo_lane) {
  constexpr int kBlock = 16;
  int count = 0;
  for (int base = 0; base < n; base += kBlock) {
    const int end = n - base < kBlock ? n - base : kBlock;
    // (A full block with the constant length, so that the compiler drops
    // the loop's count and bounds checks.)
    const bool any = end == kBlock ? AnyLaneSet(flags + base, kBlock) : AnyLaneSet(flags + base, end);
    if (!any) continue;
    std::uint32_t bits = 0;
    for (int k = 0; k < end; ++k) bits |= static_cast<std::uint32_t>(flags[base + k] != 0) << k;
    while (bits != 0) {
      redo_lane(base + __builtin_ctz(bits));
      bits &= bits - 1;
      ++count;
    }
  }
  return count;
}

// Lanes first .. first + count - 1 of a batch whose outputs are adjacent
// pixels, in lane order or, where descending, in reverse.
struct OutputRun {
  int first, count;
  bool descending;
};
constexpr int kMaxOutputRuns = 4;

// The lanes of one batch, one array per value. Flags that the passes read in
// vector loops are 32-bit (a bool array keeps such a loop scalar).
struct PixelBatch {
  int n = 0;  // lanes in use
  // Filled by the remap: the ray, Z * cos_pitch and Z * sin_pitch, and where
  // the pixel goes.
  float X[kBatchLanes];
  float Y[kBatchLanes];
  float Zc[kBatchLanes];
  float Zs[kBatchLanes];
  PIXEL_YC* out[kBatchLanes];
  // Where the outputs form runs that cover lanes 0 .. n - 1 (the quadrants
  // of a mirrored batch, SetQuadrantRuns), the nearest sampler's copy streams
  // them (place.h). 0, the default: each lane's output stands alone. Whoever
  // reuses a batch with new outputs sets it again.
  int runs = 0;
  OutputRun run[kMaxOutputRuns];
  std::int32_t admit[kBatchLanes];  // the output mask (dome master), 0 or 1, where there is one
  // The angles, and the double-precision arguments and results of the
  // array functions: cos psi, sin psi and the model's function of theta.
  float theta[kBatchLanes];
  float phi[kBatchLanes];
  double psi_argument[kBatchLanes];
  double theta_argument[kBatchLanes];
  double cos_psi[kBatchLanes];
  double sin_psi[kBatchLanes];
  double f_theta[kBatchLanes];
  // Lanes whose values a pass could not decide: the per-pixel functions redo them.
  std::int32_t redo[kBatchLanes];
  // Where each lane reads. Nearest sampler: the source pixel's index, or -1
  // for the fill. Bilinear: the verdict (0: the fill) and the four taps.
  std::int32_t source[kBatchLanes];
  std::int32_t take[kBatchLanes];
  std::int32_t x0[kBatchLanes], x1[kBatchLanes], y0[kBatchLanes], y1[kBatchLanes];
  float fx[kBatchLanes], fy[kBatchLanes];
  // The nearest passes' scratch (ChooseBoxPixels): the boxes that reach
  // past an edge of the frame.
  std::int32_t box_edge[kBatchLanes];
  // The staged path (staged.h), for sources too large for the fused passes:
  // the turned ray, MapToSource's SourcePoint, and SampleOrFill's verdict
  // and nearest pixel.
  float axis[kBatchLanes];
  float den[kBatchLanes];
  float num[kBatchLanes];
  float px[kBatchLanes];
  float py[kBatchLanes];
  bool outside[kBatchLanes];
  bool in_range[kBatchLanes];
  std::ptrdiff_t index[kBatchLanes];

  MixLaneArrays MixArrays() const { return MixLaneArrays{take, x0, x1, y0, y1, fx, fy, out}; }
  SourcePoint Point(int k) const { return SourcePoint{px[k], py[k], outside[k]}; }
  void SetPoint(int k, SourcePoint p) {
    px[k] = p.x;
    py[k] = p.y;
    outside[k] = p.outside;
  }
};

}  // namespace lens
