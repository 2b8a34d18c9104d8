// Where a lane reads, for each sampler, and the reads and writes of a batch
// whose lanes are placed.
#pragma once

#include <cstdint>
#include <cstring>

#include "batch/kernel_set.h"
#include "batch/lanes.h"
#include "batch/mix_lanes.h"
#include "batch/stream.h"
#include "sampling.h"

namespace lens {

// The two samplers, as template arguments of the passes.
struct Nearest {
  static constexpr bool kBilinear = false;
};
struct Bilinear {
  static constexpr bool kBilinear = true;
};

// Nearest: the pixel's index in the frame (it fits 32 bits, see RunBatch) or
// -1 for the fill. Bilinear: the verdict and the four taps.
struct LanePlace {
  std::int32_t source;
  std::int32_t take;
  BilinearTaps taps;
};

// A rejected lane is placed at 0, 0 (harmless; never read).
template <typename View, typename Sampler>
inline LanePlace PlaceLane(AdmittedPosition a, const SourceFrame& src, const SampleOptions& options) {
  constexpr PixelConvention convention = View::kPixels.convention;
  const bool in_range = a.in_range;
  const float x = in_range ? a.x : 0.0f;
  const float y = in_range ? a.y : 0.0f;
  LanePlace place{};
  if (Sampler::kBilinear) {
    place.taps = BilinearTapsAt(src, x, y, options.equirectangular, convention);
    place.take = in_range ? 1 : 0;
  } else {
    const PixelTap t = NearestTap(src, x, y, options.equirectangular, convention);
    const std::int32_t index = t.row * src.stride + t.column;
    place.source = in_range ? index : -1;
  }
  return place;
}

template <typename Sampler>
inline void StorePlace(PixelBatch& b, int k, const LanePlace& place) {
  if (Sampler::kBilinear) {
    b.take[k] = place.take;
    b.x0[k] = place.taps.x0;
    b.x1[k] = place.taps.x1;
    b.y0[k] = place.taps.y0;
    b.y1[k] = place.taps.y1;
    b.fx[k] = place.taps.fx;
    b.fy[k] = place.taps.fy;
  } else {
    b.source[k] = place.source;
  }
}

// Lanes whose source positions are known to lie within boxes [x_lo, x_hi] x
// [y_lo, y_hi]; ok = 0 where no box is proven.
struct PositionBoxes {
  float x_lo[kBatchLanes], x_hi[kBatchLanes];
  float y_lo[kBatchLanes], y_hi[kBatchLanes];
  std::int32_t ok[kBatchLanes];
};

// The nearest pixel of lanes 0 .. n - 1 of `boxes`: source[k] the pixel and
// redo[k] = 0 where the box decides it, otherwise source[k] = -1 and
// redo[k] = 1; `edge` is scratch. The view's in-range test and pixel choice
// never decrease as a coordinate grows, so a box whose two corners give one
// pixel gives it at every point. Within [0, W) x [0, H) (after the half-pixel
// shift of pixel centres, in float as the view does it) both are a plain
// truncation: the test admits the position, x < W needs no wrap, and a y in
// (H - 1, H) is clamped to H - 1, its truncation. So most boxes are decided
// by four conversions; the few that reach beyond take their corners through
// the view's own test and choice.
template <typename View>
inline void ChooseBoxPixels(const PositionBoxes& boxes, int n, const SourceFrame& src, const SampleOptions& options,
                            std::int32_t* __restrict source, std::int32_t* __restrict redo,
                            std::int32_t* __restrict edge) {
  const float shift = View::kPixels.convention == PixelConvention::PixelCentre ? 0.5f : 0.0f;
  const float W = static_cast<float>(src.w);
  const float H = static_cast<float>(src.h);
  const std::int32_t stride = src.stride;
  const auto clamp = [](float v, float top) {
    const float above = v > 0.0f ? v : 0.0f;
    return above < top ? above : top;
  };
  for (int k = 0; k < n; ++k) {
    const float x_lo = boxes.x_lo[k] + shift, x_hi = boxes.x_hi[k] + shift;
    const float y_lo = boxes.y_lo[k] + shift, y_hi = boxes.y_hi[k] + shift;
    const bool inside = (x_lo >= 0.0f) & (x_hi < W) & (y_lo >= 0.0f) & (y_hi < H);
    // (Clamped to [0, W] and [0, H], a NaN to 0, so that every conversion
    // is in range; for a box inside the frame they change nothing.)
    const std::int32_t column_lo = static_cast<std::int32_t>(clamp(x_lo, W));
    const std::int32_t column_hi = static_cast<std::int32_t>(clamp(x_hi, W));
    const std::int32_t row_lo = static_cast<std::int32_t>(clamp(y_lo, H));
    const std::int32_t row_hi = static_cast<std::int32_t>(clamp(y_hi, H));
    const bool ok = boxes.ok[k] != 0;
    const bool decided = ok & inside & (column_lo == column_hi) & (row_lo == row_hi);
    source[k] = decided ? row_lo * stride + column_lo : -1;
    redo[k] = decided ? 0 : 1;
    edge[k] = (ok & !inside) ? 1 : 0;
  }
  ForEachSetLane(edge, n, [&](int k) {
    const AdmittedPosition lo =
        AdmitPosition<View, float>(src, SourcePoint{boxes.x_lo[k], boxes.y_lo[k], false}, options, true);
    const AdmittedPosition hi =
        AdmitPosition<View, float>(src, SourcePoint{boxes.x_hi[k], boxes.y_hi[k], false}, options, true);
    const std::int32_t pixel_lo = PlaceLane<View, Nearest>(lo, src, options).source;
    const std::int32_t pixel_hi = PlaceLane<View, Nearest>(hi, src, options).source;
    const bool decided = (pixel_lo >= 0) & (pixel_lo == pixel_hi);
    source[k] = decided ? pixel_lo : -1;
    redo[k] = decided ? 0 : 1;
  });
}

// How far ahead of its copy a nearest lane's source line is asked for.
constexpr int kPrefetchLanes = 48;

// The reads and writes of the placed lanes. The nearest sampler's copy
// streams the outputs where the batch gives them as runs.
template <KernelSet set, typename Sampler>
inline void WritePlaced(const PixelBatch& b, const SourceFrame& src, PIXEL_YC fill) {
  const int n = b.n;
  if (Sampler::kBilinear) {
    MixLanes<set>(src, b.MixArrays(), fill, n);
  } else {
    // Each lane's address first, in a vector loop (as integers: a select of
    // pointers stays scalar); a fill lane reads the fill. Then a copy of a
    // few instructions a lane. The source lines are asked for
    // kPrefetchLanes lanes ahead of their copies (the first ones before the
    // copies start): the loads of the copies alone keep too few of their
    // cache misses in flight at once.
    const std::uintptr_t pixels = reinterpret_cast<std::uintptr_t>(src.pixels);
    const std::uintptr_t fill_pixel = reinterpret_cast<std::uintptr_t>(&fill);
    const std::int32_t* __restrict source = b.source;
    std::uintptr_t from_at[kBatchLanes];
    for (int k = 0; k < n; ++k) {
      const std::int32_t index = source[k];
      const std::uintptr_t offset = static_cast<std::uintptr_t>(static_cast<std::intptr_t>(index)) * sizeof(PIXEL_YC);
      from_at[k] = index >= 0 ? pixels + offset : fill_pixel;
    }
    PIXEL_YC* const* __restrict out = b.out;
    const auto from = [&](int k) { return reinterpret_cast<const PIXEL_YC*>(from_at[k]); };
    for (int k = 0; k < n && k < kPrefetchLanes; ++k) __builtin_prefetch(from(k));
    if (b.runs == 0) {
      for (int k = 0; k < n; ++k) {
        if (k + kPrefetchLanes < n) __builtin_prefetch(from(k + kPrefetchLanes));
        std::memcpy(out[k], from(k), sizeof(PIXEL_YC));
      }
      return;
    }
    // Runs of adjacent outputs: each run's pixels in the order of their
    // addresses into `staged`, then streamed (stream.h), so that the output's
    // lines are written without being read first.
    PIXEL_YC staged[kBatchLanes];
    for (int r = 0; r < b.runs; ++r) {
      const OutputRun run = b.run[r];
      for (int g = 0; g < run.count; ++g) {
        const int k = run.first + g;
        if (k + kPrefetchLanes < n) __builtin_prefetch(from(k + kPrefetchLanes));
        const int slot = run.descending ? run.first + run.count - 1 - g : k;
        std::memcpy(&staged[slot], from(k), sizeof(PIXEL_YC));
      }
    }
    for (int r = 0; r < b.runs; ++r) {
      const OutputRun run = b.run[r];
      if (run.count <= 0) continue;
      PIXEL_YC* const lowest = out[run.descending ? run.first + run.count - 1 : run.first];
      StreamBytes(lowest, &staged[run.first], static_cast<std::size_t>(run.count) * sizeof(PIXEL_YC));
    }
  }
}

inline PIXEL_YC FillOf(const SampleOptions& options) { return options.green_back ? GreenBack : kBlack; }

}  // namespace lens
