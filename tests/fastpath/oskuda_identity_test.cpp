// Oskuda: the batched remap against the per-pixel reference, byte for byte,
// over every input projection, both samplers and fills, with and without the
// circular output mask, and a spread of angles, fields of view, shifts,
// masks and sizes. Also the batched pair rays against PairRay one by one.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "identity.h"
#include "oskuda.h"

namespace {

using fastpath::DifferingBytes;
using fastpath::HostFrame;
using fastpath::Render;

struct Controls {
  int in_fov, in_mask, out_fov, pitch, azimuth, roll, shift_x, shift_y;
};

struct Size {
  int w, h, max_w, max_h;
  int height;  // 0: output the input's size; otherwise the height setting (may exceed capacity)
};

// Runs both remaps on one frame and returns the differing bytes; the batched
// one on 1 thread and on the default team, or three threads (uneven static
// blocks) for every fourth frame, as oversubscribed teams are slow to join.
long Compare(const Size& size, const Controls& c, int projection_box, bool bilinear, bool green,
             std::uint32_t seed, bool circle_mask = false) {
  int track[oskuda::kTrackCount] = {c.in_fov, c.in_mask, c.out_fov, c.pitch, c.azimuth,
                                    c.roll,   c.shift_x, c.shift_y, size.height};
  int check[oskuda::kCheckCount] = {};
  check[oskuda::kUseHeight] = size.height > 0 ? 1 : 0;
  if (projection_box > 0) check[projection_box] = 1;
  check[oskuda::kBilinear] = bilinear ? 1 : 0;
  check[oskuda::kGreenBack] = green ? 1 : 0;
  check[oskuda::kCircleMask] = circle_mask ? 1 : 0;
  FILTER filter{};
  filter.track = track;
  filter.check = check;
  HostFrame frame(size.w, size.h, size.max_w, size.max_h, seed);
  const oskuda::RemapJob job = oskuda::MakeRemapJob(&filter, &frame.info);
  const auto reference = Render(frame, job, oskuda::RemapDomeMasterReference);
  const auto fast1 = Render(frame, job, oskuda::RemapDomeMaster, 1);
  const auto fast3 = Render(frame, job, oskuda::RemapDomeMaster, seed % 4 == 0 ? 3 : 0);
  const long d1 = DifferingBytes(reference, fast1);
  const long d3 = DifferingBytes(reference, fast3);
  return d1 > d3 ? d1 : d3;
}

// Projection boxes: none (Equidistant), orthographic, equisolid, central,
// equirectangular.
const int kProjections[] = {0, oskuda::kOrthographicInput, oskuda::kEquisolidInput,
                            oskuda::kCentralInput, oskuda::kEquirectangularInput};

TEST(OskudaIdentity, EveryProjectionSamplerAndFillOverAngleAndFieldSpread) {
  const std::vector<Controls> controls = {
      {1800, 3600, 900, 0, 0, 0, 0, 0},            // all angles zero
      {1800, 3600, 900, 900, -900, 900, 0, 0},     // +-90
      {1800, 3600, 900, 1800, -1800, -1800, 0, 0},  // +-180
      {2000, 3000, 1230, 123, -457, 311, 10, -7},  // odd values, shifts, a mask
      {3600, 3600, 1799, -613, 1234, -77, -120, 20},
      {10, 100, 10, 50, 1700, 899, 3, 3},           // tiny fields of view
      {1799, 3599, 3600, 45, 450, 0, 0, 0},         // output field 360
      {3600, 0, 0, 10, 20, 30, 0, 0},               // output field 0, input mask 0
      {0, 3600, 600, 300, 300, 300, 0, 0},          // input field 0
      {1800, 3600, 1, -1799, 1799, 1, 1200, -200},  // output field 0.1
      {1800, 3600, 1800, 0, 0, 0, 0, 0},            // the default dome
  };
  const Size size{40, 30, 40, 30, 0};
  std::uint32_t seed = 1;
  for (const Controls& c : controls) {
    for (int projection : kProjections) {
      for (bool bilinear : {false, true}) {
        for (bool green : {false, true}) {
          EXPECT_EQ(Compare(size, c, projection, bilinear, green, seed++, green), 0)
              << "box " << projection << (bilinear ? " bilinear" : " nearest")
              << (green ? " green" : " black") << " fov " << c.in_fov << "/" << c.out_fov
              << " angles " << c.pitch << "," << c.azimuth << "," << c.roll;
        }
      }
    }
  }
}

TEST(OskudaIdentity, TinyOddAndLargerSizes) {
  const std::vector<Size> sizes = {
      {1, 1, 1, 1, 0},     {2, 2, 2, 2, 0},     {3, 3, 3, 3, 0},   {4, 2, 4, 2, 0},
      {41, 31, 41, 31, 40},  // height setting beyond capacity: odd output 41 x 31
      {17, 9, 23, 11, 0},    // stride wider than the frame
      {7, 300, 7, 300, 0},   // one batch shorter than a vector
      {600, 40, 600, 40, 0},  // several batches per row pair
      {384, 216, 384, 216, 0},
  };
  const Controls c{1800, 3600, 1000, 150, 300, -200, 0, 0};
  std::uint32_t seed = 100;
  for (const Size& size : sizes) {
    for (int projection : kProjections) {
      for (bool bilinear : {false, true}) {
        EXPECT_EQ(Compare(size, c, projection, bilinear, bilinear, seed++, !bilinear), 0)
            << size.w << "x" << size.h << " capacity " << size.max_w << "x" << size.max_h
            << " box " << projection << (bilinear ? " bilinear" : " nearest");
      }
    }
  }
}

// The batched pair rays are PairRay's bits for every pair, across fields of
// view (0 gives theta 0 everywhere) and batches that straddle the internal
// block size.
TEST(OskudaIdentity, PairRaysMatchOneByOne) {
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

}  // namespace
