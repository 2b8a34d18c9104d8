// Frame helpers for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "aviutl_filter.h"
#include "plugin_host.h"

namespace testing_support {

constexpr PIXEL_YC kSentinel = {-32768, 32767, -32768};

inline bool SamePixel(const PIXEL_YC& a, const PIXEL_YC& b) {
  return a.y == b.y && a.cb == b.cb && a.cr == b.cr;
}

// Y = column, Cb = row, Cr = a per-frame tag: each sampled pixel tells which
// source pixel it came from.
void FillCoordinates(std::vector<PIXEL_YC>& buffer, int max_w, int w, int h, short tag = 7);

// Deterministic pseudo-random content over the whole buffer (values across
// the full 16-bit range, negatives included).
void FillNoise(std::vector<PIXEL_YC>& buffer, std::uint32_t seed);

void FillWith(std::vector<PIXEL_YC>& buffer, PIXEL_YC value);

// Number of pixels that differ between two buffers over a w x h window with
// the given stride.
long CountDifferences(const PIXEL_YC* a, const PIXEL_YC* b, int w, int h, int stride);

// Runs a plug-in frame with a fixed OpenMP thread count (0: the default).
host::FrameResult RunWithThreads(host::FilterInstance& instance, host::FrameBuffers& buffers,
                                 int w, int h, int threads);

// Loads a plug-in from the build tree; aborts the test program if it fails.
std::unique_ptr<host::PluginLibrary> LoadBuiltPlugin(const std::string& name);

}  // namespace testing_support
