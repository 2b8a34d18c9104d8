// Helpers for comparing a batched remap with its per-pixel reference.
#pragma once

#include <omp.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "aviutl_filter.h"
#include "frames.h"

namespace fastpath {

// One frame of the host: the source in ycp_edit, a scratch frame filled with
// a sentinel (so that a pixel written by one remap and not the other shows).
struct HostFrame {
  int w, h, max_w, max_h;
  std::vector<PIXEL_YC> source;
  std::vector<PIXEL_YC> scratch;
  FILTER_PROC_INFO info{};

  HostFrame(int w_, int h_, int max_w_, int max_h_, std::uint32_t seed)
      : w(w_), h(h_), max_w(max_w_), max_h(max_h_),
        source(static_cast<size_t>(max_w_) * max_h_),
        scratch(static_cast<size_t>(max_w_) * max_h_) {
    testing_support::FillNoise(source, seed);
    testing_support::FillWith(scratch, testing_support::kSentinel);
    info.ycp_edit = source.data();
    info.ycp_temp = scratch.data();
    info.w = w;
    info.h = h;
    info.max_w = max_w;
    info.max_h = max_h;
  }
};

// Bytes in which two frames differ over the whole capacity.
inline long DifferingBytes(const std::vector<PIXEL_YC>& a, const std::vector<PIXEL_YC>& b) {
  if (a.size() != b.size()) return -1;
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  long count = 0;
  for (size_t i = 0; i < a.size() * sizeof(PIXEL_YC); ++i) count += pa[i] != pb[i];
  return count;
}

// Runs `remap` on a fresh copy of the frame's scratch with a fixed number of
// OpenMP threads (0: the default) and returns the written scratch frame.
template <typename Job, typename Remap>
std::vector<PIXEL_YC> Render(HostFrame& frame, Job job, Remap remap, int threads = 0) {
  std::vector<PIXEL_YC> out(frame.scratch);
  FILTER_PROC_INFO info = frame.info;
  info.ycp_temp = out.data();
  job.proc_info = &info;
  const int previous = omp_get_max_threads();
  if (threads > 0) omp_set_num_threads(threads);
  remap(job);
  omp_set_num_threads(previous);
  return out;
}

}  // namespace fastpath
