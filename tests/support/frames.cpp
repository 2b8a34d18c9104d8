#include "frames.h"

#include <omp.h>

#include <cstdio>
#include <cstdlib>

namespace testing_support {

void FillCoordinates(std::vector<PIXEL_YC>& buffer, int max_w, int w, int h, short tag) {
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      buffer[static_cast<size_t>(r) * max_w + c] =
          PIXEL_YC{static_cast<short>(c), static_cast<short>(r), tag};
    }
  }
}

void FillNoise(std::vector<PIXEL_YC>& buffer, std::uint32_t seed) {
  std::uint32_t s = seed * 2654435761u + 1u;
  auto next = [&s]() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return static_cast<short>(s & 0xFFFF);
  };
  for (PIXEL_YC& p : buffer) {
    p.y = next();
    p.cb = next();
    p.cr = next();
  }
}

void FillWith(std::vector<PIXEL_YC>& buffer, PIXEL_YC value) {
  for (PIXEL_YC& p : buffer) p = value;
}

long CountDifferences(const PIXEL_YC* a, const PIXEL_YC* b, int w, int h, int stride) {
  long count = 0;
  for (int r = 0; r < h; ++r) {
    for (int c = 0; c < w; ++c) {
      const size_t i = static_cast<size_t>(r) * stride + c;
      if (!SamePixel(a[i], b[i])) ++count;
    }
  }
  return count;
}

host::FrameResult RunWithThreads(host::FilterInstance& instance, host::FrameBuffers& buffers,
                                 int w, int h, int threads) {
  const int previous = omp_get_max_threads();
  if (threads > 0) omp_set_num_threads(threads);
  host::FrameResult result = host::RunFrame(instance, buffers, w, h);
  omp_set_num_threads(previous);
  return result;
}

std::unique_ptr<host::PluginLibrary> LoadBuiltPlugin(const std::string& name) {
  std::string error;
  auto library = host::PluginLibrary::Open(host::BuiltPluginPath(name), &error);
  if (!library) {
    std::fprintf(stderr, "%s\n", error.c_str());
    std::abort();
  }
  return library;
}

}  // namespace testing_support
