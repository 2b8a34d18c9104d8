// Where a lane reads, for each sampler, and the reads and writes of a batch
// whose lanes are placed.
#pragma once

#include <cstdint>
#include <cstring>

#include "batch/kernel_set.h"
#include "batch/lanes.h"
#include "batch/mix_lanes.h"
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

// How far ahead of its copy a nearest lane's source line is asked for.
constexpr int kPrefetchLanes = 48;

// The reads and writes of the placed lanes.
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
    for (int k = 0; k < n; ++k) {
      if (k + kPrefetchLanes < n) __builtin_prefetch(from(k + kPrefetchLanes));
      std::memcpy(out[k], from(k), sizeof(PIXEL_YC));
    }
  }
}

inline PIXEL_YC FillOf(const SampleOptions& options) { return options.green_back ? GreenBack : kBlack; }

}  // namespace lens
