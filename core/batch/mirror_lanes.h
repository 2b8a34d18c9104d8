// A centred grid (mirror.h) in batches: the four pixels of each ray as the
// lanes of one batch, and the row-pair loop of a batched remap.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "batch/dispatch.h"
#include "batch/lanes.h"
#include "batch/pinhole_spans.h"
#include "batch/row_dispatch.h"
#include "batch/stream.h"
#include "geometry.h"
#include "mirror.h"
#include "remap_frame.h"

namespace lens {

// Quadrant k of the n rays into lanes k * n .. k * n + n - 1: X mirrored in
// the left quadrants, Y in the upper ones; Z's products with the pitch's
// cosine and sine, which the four quadrants share.
template <bool masked, bool negate_x, bool negate_y>
inline void QuadrantIntoLanes(PixelBatch& batch, int k, int n, const float* X0, const float* Y0, const float* Z,
                              float cos_pitch, float sin_pitch, const std::int32_t* inside, PIXEL_YC* row,
                              const std::ptrdiff_t* columns) {
  float* __restrict X = batch.X + k * n;
  float* __restrict Y = batch.Y + k * n;
  float* __restrict BZc = batch.Zc + k * n;
  float* __restrict BZs = batch.Zs + k * n;
  PIXEL_YC** __restrict out = batch.out + k * n;
  for (int g = 0; g < n; ++g) {
    X[g] = negate_x ? -X0[g] : X0[g];
    Y[g] = negate_y ? -Y0[g] : Y0[g];
    BZc[g] = Z[g] * cos_pitch;
    BZs[g] = Z[g] * sin_pitch;
    out[g] = row + columns[g];
  }
  if (masked) {
    // (The verdicts are 0 or 1, so `& 1` changes nothing: it keeps this a
    // vector loop, where GCC makes a plain copy a `rep movs`, which costs
    // more than the loop for a few hundred bytes.)
    std::int32_t* __restrict admit = batch.admit + k * n;
    for (int g = 0; g < n; ++g) admit[g] = inside[g] & 1;
  }
}

// The outputs of a mirrored batch of n pairs as four runs, where the columns
// are adjacent: the right quadrants' pixels in lane order, the left ones' in
// reverse. (Only the spans stream them: where a batch's pixels take the
// batched passes, the copy is a smaller part of their cost than staging the
// pixels adds.)
inline void SetQuadrantRuns(PixelBatch& batch, int n, bool adjacent) {
  batch.runs = adjacent ? 4 : 0;
  for (int k = 0; k < 4; ++k) batch.run[k] = OutputRun{k * n, n, (k & 1) != 0};
}

// Lane k * n + g is quadrant k of ray g, k in the order below right, below
// left, above right, above left; `right` and `left` give the columns of the
// n rays. With `masked`, `inside` gives each ray's verdict to its four lanes
// (batch.admit). Their outputs are left as no runs (batch.runs = 0).
template <bool masked>
inline void MirrorIntoLanes(PixelBatch& batch, int n, const float* X0, const float* Y0, const float* Z,
                            const ViewRotation& rotation, const std::int32_t* inside, PIXEL_YC* below,
                            PIXEL_YC* above, const std::ptrdiff_t* right, const std::ptrdiff_t* left) {
  const float c = rotation.cos_pitch;
  const float s = rotation.sin_pitch;
  QuadrantIntoLanes<masked, false, false>(batch, 0, n, X0, Y0, Z, c, s, inside, below, right);
  QuadrantIntoLanes<masked, true, false>(batch, 1, n, X0, Y0, Z, c, s, inside, below, left);
  QuadrantIntoLanes<masked, false, true>(batch, 2, n, X0, Y0, Z, c, s, inside, above, right);
  QuadrantIntoLanes<masked, true, true>(batch, 3, n, X0, Y0, Z, c, s, inside, above, left);
  batch.n = 4 * n;
  batch.runs = 0;
}

// Column pairs per batch: their four pixels fill it.
constexpr int kMirroredGroup = kBatchLanes / 4;

// The rays of up to kMirroredGroup column pairs, and each pair's admission
// by the output where the output admits some pairs only.
struct MirroredRays {
  float X[kMirroredGroup];
  float Y[kMirroredGroup];
  float Z[kMirroredGroup];
  std::int32_t inside[kMirroredGroup];
};

// The batched remap of a centred grid: for each row pair, the rays of up to
// kMirroredGroup column pairs at a time come from the filter's ray source,
// their four pixels fill one batch and go through the batched passes; the
// column pairs the output turns away are filled directly. A ray source is a
// record with
//
//   static constexpr bool kMasked;  // the output admits some pairs only
//   // how many leading column pairs of the row pair the output admits (the
//   // admitted pairs are a prefix)
//   std::int32_t AdmittedPairs(float oy_squared, std::int32_t pairs) const;
//   // the rays of column pairs j0 .. j0 + n - 1 of the row pair at oy, and
//   // where kMasked each pair's admission
//   void Into(float oy, float oy_squared, std::int32_t j0, int n, MirroredRays& rays) const;
//   // a pin-hole camera's rays (d ~ (x, y, focal)): a panorama source with the
//   // nearest sampler then goes by spans (pinhole_spans.h), and asks for the
//   // rays of the lanes they leave at the column offsets xs (any order)
//   static constexpr bool kPinhole;
//   double focal;  // where kPinhole
//   void RaysAt(float oy, float oy_squared, const float* xs, int n, float* X, float* Y, float* Z) const;
template <typename View, typename Source>
struct MirroredRowPairs {
  struct Setup {
    RemapFrame frame;
    Source source;
    double cy;
    const MirroredColumns* columns;
  };

  // Row pair i: rows cy + oy and cy - oy.
  template <KernelSet set>
  static void Run(const Setup& f, std::int32_t i) {
    const RemapFrame& frame = f.frame;
    const std::int32_t pairs = f.columns->pairs;
    const std::ptrdiff_t* const right = f.columns->right();
    const std::ptrdiff_t* const left = f.columns->left();
    const float oy = PairOffset(i);
    const float oy_squared = oy * oy;
    PIXEL_YC* const below = frame.dst + MirroredIndex(f.cy, oy, true) * frame.stride;
    PIXEL_YC* const above = frame.dst + MirroredIndex(f.cy, oy, false) * frame.stride;
    const std::int32_t admitted = Source::kMasked ? f.source.AdmittedPairs(oy_squared, pairs) : pairs;
    const PIXEL_YC fill = FillOf(frame.options);
    for (std::int32_t j = admitted; j < pairs; ++j) {
      below[right[j]] = fill;
      below[left[j]] = fill;
      above[right[j]] = fill;
      above[left[j]] = fill;
    }
    PixelBatch batch;
    RestLanes rest;
    if constexpr (Source::kPinhole && !Source::kMasked) {
      if (!frame.options.bilinear && Indexable(frame.src)) {
        const PinholePanorama spans =
            PreparePinholePanorama<View>(frame.rotation, frame.lens_model, frame.src, f.source.focal);
        if (spans.applies) {
          SpanRest span_rest;
          for (std::int32_t j0 = 0; j0 < admitted; j0 += kMirroredGroup) {
            const int n = static_cast<int>(std::min<std::int32_t>(kMirroredGroup, admitted - j0));
            RunSpans<set>(f, spans, batch, span_rest, rest, oy, oy_squared, j0, n, below, above);
          }
          RunSpanRest<set>(f, span_rest, oy, oy_squared);
          RunRestLanes<View, set>(rest, frame.rotation, frame.lens_model, frame.src, frame.options);
          return;
        }
      }
    }
    MirroredRays rays;
    for (std::int32_t j0 = 0; j0 < admitted; j0 += kMirroredGroup) {
      const int n = static_cast<int>(std::min<std::int32_t>(kMirroredGroup, admitted - j0));
      f.source.Into(oy, oy_squared, j0, n, rays);
      MirrorIntoLanes<Source::kMasked>(batch, n, rays.X, rays.Y, rays.Z, frame.rotation, rays.inside, below, above,
                                       right + j0, left + j0);
      RunBatch<View, set, Source::kMasked>(batch, rest, frame.rotation, frame.lens_model, frame.src, frame.options);
    }
    RunRestLanes<View, set>(rest, frame.rotation, frame.lens_model, frame.src, frame.options);
  }

  // The lanes the spans leave, gathered from the batches of a row pair:
  // each one's output, column offset and quadrant.
  struct SpanRest {
    PixelBatch batch;
    float xs[kBatchLanes];
    std::int32_t quadrant[kBatchLanes];
  };

  // Pairs j0 .. j0 + n - 1 by spans; the lanes they leave go to `span_rest`,
  // which runs when it is full and at the end of the row pair (a few lanes
  // a batch: run each time, its set-up would cost more than their pixels).
  // Their fill is written first, their pixels after. A block whose
  // spans would leave too many goes the batched pipeline's way whole, its
  // quick passes' rest to `rest`.
  template <KernelSet set>
  static void RunSpans(const Setup& f, const PinholePanorama& spans, PixelBatch& batch, SpanRest& span_rest,
                       RestLanes& rest, float oy, float oy_squared, std::int32_t j0, int n, PIXEL_YC* below,
                       PIXEL_YC* above) {
    const RemapFrame& frame = f.frame;
    const std::ptrdiff_t* const right = f.columns->right() + j0;
    const std::ptrdiff_t* const left = f.columns->left() + j0;
    PIXEL_YC* const rows[4] = {below, below, above, above};
    const std::ptrdiff_t* const columns[4] = {right, left, right, left};
    for (int k = 0; k < 4; ++k) {
      PIXEL_YC** __restrict out = batch.out + k * n;
      for (int g = 0; g < n; ++g) out[g] = rows[k] + columns[k][g];
    }
    batch.n = 4 * n;
    SetQuadrantRuns(batch, n, f.columns->adjacent);
    if (!PlacePinholeSpans<View>(batch, n, j0, oy, spans, frame.src, frame.options)) {
      MirroredRays rays;
      f.source.Into(oy, oy_squared, j0, n, rays);
      MirrorIntoLanes<false>(batch, n, rays.X, rays.Y, rays.Z, frame.rotation, rays.inside, below, above, right,
                             left);
      RunBatch<View, set, false>(batch, rest, frame.rotation, frame.lens_model, frame.src, frame.options);
      return;
    }
    // (The lanes left get the fill here, and their pixels from the rest.)
    WritePlaced<set, Nearest>(batch, frame.src, FillOf(frame.options));
    ForEachSetLane(batch.redo, batch.n, [&](int lane) {
      if (span_rest.batch.n == kBatchLanes) RunSpanRest<set>(f, span_rest, oy, oy_squared);
      const int r = span_rest.batch.n++;
      const int k = lane / n;
      span_rest.batch.out[r] = batch.out[lane];
      span_rest.xs[r] = PairOffset(j0 + (lane - k * n));
      span_rest.quadrant[r] = k;
    });
  }

  // The rest's rays, mirrored into their quadrants, and their pixels from
  // the exact angles (the panorama pass): these lanes lie near a pixel's
  // edge, where the quick pass's brackets would mostly leave them to the
  // per-pixel functions too. Their fill may have been streamed: the fence
  // orders it before these plain stores.
  template <KernelSet set>
  static void RunSpanRest(const Setup& f, SpanRest& rest, float oy, float oy_squared) {
    PixelBatch& b = rest.batch;
    if (b.n == 0) return;
    const RemapFrame& frame = f.frame;
    float X[kBatchLanes], Y[kBatchLanes], Z[kBatchLanes];
    f.source.RaysAt(oy, oy_squared, rest.xs, b.n, X, Y, Z);
    const float c = frame.rotation.cos_pitch;
    const float s = frame.rotation.sin_pitch;
    for (int r = 0; r < b.n; ++r) {
      const std::int32_t k = rest.quadrant[r];
      b.X[r] = (k & 1) != 0 ? -X[r] : X[r];
      b.Y[r] = (k & 2) != 0 ? -Y[r] : Y[r];
      b.Zc[r] = Z[r] * c;
      b.Zs[r] = Z[r] * s;
    }
    PlacePanoramaLanes<View, Nearest, false>(b, frame.rotation, frame.lens_model, frame.src, frame.options);
    StreamFence();
    WritePlaced<set, Nearest>(b, frame.src, FillOf(frame.options));
    b.n = 0;
  }
};

// The batched remap of the whole grid but its odd edges.
template <typename View, typename Job, typename Source>
inline void RemapMirroredRows(const Job& job, const Source& source) {
  if (job.out_w <= 0 || job.out_h <= 0) return;
  using Rows = MirroredRowPairs<View, Source>;
  const MirroredColumns columns(job.out_w);
  const typename Rows::Setup setup{MakeRemapFrame(job), source, GridCentre(job.out_h), &columns};
  if (job.out_h / 2 > 0) ForEachRow<Rows>(setup, job.out_h / 2);
}

}  // namespace lens
