// A filter whose remap uses the four-fold symmetry of a centred output grid
// (the perspective view, or the dome master when LENS_IDENTITY_DOME_MASTER is
// defined; the build makes one test program of each): the batched remap
// against the per-pixel reference, byte for byte, over every input
// projection, both samplers and fills, a spread of angles, fields of view,
// shifts and masks, and tiny, odd and larger sizes; and the batched rays of a
// row against the per-pixel ray one by one.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "identity.h"
#if defined(LENS_IDENTITY_DOME_MASTER)
#include "oskuda.h"
#else
#include "varnel.h"
#endif

namespace {

#if defined(LENS_IDENTITY_DOME_MASTER)
struct Filter {
  static constexpr int kCircleMask = oskuda::kCircleMask;
  static constexpr int kProjections[] = {0, oskuda::kOrthographicInput, oskuda::kEquisolidInput,
                                         oskuda::kCentralInput, oskuda::kEquirectangularInput};
  static constexpr int kWideField = 3600;  // 360 degrees
  static void Batched(const oskuda::RemapJob& job) { oskuda::RemapDomeMaster(job); }
  static void Reference(const oskuda::RemapJob& job) { oskuda::RemapDomeMasterReference(job); }
};
namespace plugin = oskuda;
#else
struct Filter {
  static constexpr int kCircleMask = -1;  // none
  static constexpr int kProjections[] = {0, varnel::kEquidistantInput, varnel::kOrthographicInput,
                                         varnel::kEquisolidInput, varnel::kEquirectangularInput};
  static constexpr int kWideField = 1800;  // 180 degrees: a negative focal distance
  static void Batched(const varnel::RemapJob& job) { varnel::RemapPerspective(job); }
  static void Reference(const varnel::RemapJob& job) { varnel::RemapPerspectiveReference(job); }
};
namespace plugin = varnel;
#endif

using fastpath::DifferingBytes;
using fastpath::HostFrame;
using fastpath::Render;

struct GridControls {
  int in_fov, in_mask, out_fov, pitch, azimuth, roll, shift_x, shift_y;
};

struct GridSize {
  int w, h, max_w, max_h;
  int height;  // 0: output the input's size; otherwise the height setting (may exceed capacity)
};

// Runs both remaps on one frame and returns the differing bytes; the batched
// one on 1 thread and on the default team, or three threads (uneven static
// blocks) for every fourth frame, as oversubscribed teams are slow to join.
long CompareOnGrid(const GridSize& size, const GridControls& c, int projection_box, bool bilinear,
                   bool green, bool circle_mask, std::uint32_t seed) {
  int track[plugin::kTrackCount] = {c.in_fov, c.in_mask, c.out_fov, c.pitch, c.azimuth,
                                    c.roll,   c.shift_x, c.shift_y, size.height};
  int check[plugin::kCheckCount] = {};
  check[plugin::kUseHeight] = size.height > 0 ? 1 : 0;
  if (projection_box > 0) check[projection_box] = 1;
  check[plugin::kBilinear] = bilinear ? 1 : 0;
  check[plugin::kGreenBack] = green ? 1 : 0;
  if (Filter::kCircleMask >= 0) check[Filter::kCircleMask] = circle_mask ? 1 : 0;
  FILTER filter{};
  filter.track = track;
  filter.check = check;
  HostFrame frame(size.w, size.h, size.max_w, size.max_h, seed);
  const plugin::RemapJob job = plugin::MakeRemapJob(&filter, &frame.info);
  const auto reference = Render(frame, job, Filter::Reference);
  const auto fast1 = Render(frame, job, Filter::Batched, 1);
  const auto fast3 = Render(frame, job, Filter::Batched, seed % 4 == 0 ? 3 : 0);
  const long d1 = DifferingBytes(reference, fast1);
  const long d3 = DifferingBytes(reference, fast3);
  return d1 > d3 ? d1 : d3;
}

// Every projection, sampler and fill (the circle mask with green) over a
// spread of angles and fields on a 40 x 30 frame.
TEST(CentredGridIdentity, EveryProjectionSamplerAndFillOverAngleAndFieldSpread) {
  const std::vector<GridControls> controls = {
      {1800, 3600, 900, 0, 0, 0, 0, 0},                       // all angles zero
      {1800, 3600, 900, 900, -900, 900, 0, 0},                // +-90
      {1800, 3600, 900, 1800, -1800, -1800, 0, 0},            // +-180
      {2000, 3000, 1230, 123, -457, 311, 10, -7},             // odd values, shifts, a mask
      {3600, 3600, 1799, -613, 1234, -77, -120, 20},
      {10, 100, 10, 50, 1700, 899, 3, 3},                     // tiny fields of view
      {1799, 3599, Filter::kWideField, 45, 450, 0, 0, 0},     // the widest output field
      {1800, 3600, 1800, 0, 0, 0, 0, 0},                      // output field 180
      {3600, 0, 0, 10, 20, 30, 0, 0},                         // output field 0, input mask 0
      {0, 3600, 600, 300, 300, 300, 0, 0},                    // input field 0
      {1800, 3600, 1, -1799, 1799, 1, 1200, -200},            // output field 0.1
  };
  const GridSize size{40, 30, 40, 30, 0};
  std::uint32_t seed = 1;
  for (const GridControls& c : controls) {
    for (int projection : Filter::kProjections) {
      for (bool bilinear : {false, true}) {
        for (bool green : {false, true}) {
          EXPECT_EQ(CompareOnGrid(size, c, projection, bilinear, green, green, seed++), 0)
              << "box " << projection << (bilinear ? " bilinear" : " nearest")
              << (green ? " green" : " black") << " fov " << c.in_fov << "/" << c.out_fov
              << " mask " << c.in_mask << " angles " << c.pitch << "," << c.azimuth << "," << c.roll;
        }
      }
    }
  }
}

// Tiny, odd and larger frames, capacities wider than the frame, a height
// setting beyond the capacity.
TEST(CentredGridIdentity, TinyOddAndLargerSizes) {
  const std::vector<GridSize> sizes = {
      {1, 1, 1, 1, 0},     {2, 2, 2, 2, 0},     {3, 3, 3, 3, 0},   {4, 2, 4, 2, 0},
      {41, 31, 41, 31, 40},  // height setting beyond capacity: odd output 41 x 31
      {17, 9, 23, 11, 0},    // stride wider than the frame
      {7, 300, 7, 300, 0},   // one batch shorter than a vector
      {600, 40, 600, 40, 0},  // several batches per row pair
      {384, 216, 384, 216, 0},
      {1920, 960, 1920, 960, 240},  // a larger panorama than the output (480 x 240)
      {16384, 2, 16384, 2, 0},  // rows long enough to leave more lanes than a batch holds
  };
  const GridControls c{1800, 3600, 1000, 150, 300, -200, 0, 0};
  std::uint32_t seed = 100;
  for (const GridSize& size : sizes) {
    for (int projection : Filter::kProjections) {
      for (bool bilinear : {false, true}) {
        EXPECT_EQ(CompareOnGrid(size, c, projection, bilinear, bilinear, !bilinear, seed++), 0)
            << size.w << "x" << size.h << " capacity " << size.max_w << "x" << size.max_h
            << " box " << projection << (bilinear ? " bilinear" : " nearest");
      }
    }
  }
}


#if defined(LENS_IDENTITY_DOME_MASTER)
// The batched pair rays are PairRay's bits for every pair, across fields of
// view (0 gives theta 0 everywhere) and batches that straddle the internal
// block size.
TEST(CentredGridIdentity, PairRaysMatchOneByOne) {
  std::vector<oskuda::DomeRay> rays(300);
  for (float out_fov : {180.0f, 0.0f, 0.1f, 360.0f, 123.4f}) {
    for (std::int32_t out_w : {2048, 7, 600}) {
      const oskuda::DomeScale scale = oskuda::PrepareDomeScale(out_fov, out_w, lens::kPi);
      for (int i : {0, 1, 7, 539}) {
        const float oy = static_cast<float>(static_cast<double>(i) + 0.5);
        for (int j0 : {0, 5, 1000}) {
          oskuda::PairRays(scale, oy, oy * oy, j0, 300, rays.data());
          for (int g = 0; g < 300; ++g) {
            const oskuda::DomeRay want = oskuda::PairRay(scale, oy, oy * oy, j0 + g);
            ASSERT_EQ(std::memcmp(&want, &rays[g], sizeof(want)), 0)
                << "fov " << out_fov << " width " << out_w << " i " << i << " j " << j0 + g;
          }
        }
      }
    }
  }
}
#else
// The batched group rays are PerspectiveGroupRay's bits for every group,
// including the degenerate focal distances (infinite for a field of 0,
// negative for 180) and batches that straddle the internal block size.
TEST(CentredGridIdentity, GroupRaysMatchOneByOne) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> focals = {960.0, 0.279, 1.9999999, -4.6e-8, inf, 1e-300, 123456.0};
  std::vector<varnel::GroupRay> rays(300);
  for (double focal : focals) {
    for (int i : {0, 1, 7, 539}) {
      const float yf = static_cast<float>(static_cast<double>(i) + 0.5);
      const float yf_squared = yf * yf;
      for (int j0 : {0, 5, 1000}) {
        const int count = 300;
        varnel::PerspectiveGroupRays(j0, count, yf, yf_squared, focal, rays.data());
        for (int g = 0; g < count; ++g) {
          const float xf = static_cast<float>(static_cast<double>(j0 + g) + 0.5);
          const varnel::GroupRay want = varnel::PerspectiveGroupRay(xf, yf, yf_squared, focal);
          ASSERT_EQ(std::memcmp(&want, &rays[g], sizeof(want)), 0)
              << "focal " << focal << " i " << i << " j " << j0 + g;
        }
      }
    }
  }
}
#endif

}  // namespace
