// Trimbel: the batched remap against the per-pixel reference, byte for byte,
// over every input projection, both samplers and fills, a spread of angles,
// fields of view, shifts, masks and sizes, with and without the longitude
// tables.
#include <gtest/gtest.h>

#include <vector>

#include "controls.h"
#include "identity.h"
#include "trimbel.h"

namespace {

using fastpath::DifferingBytes;
using fastpath::HostFrame;
using fastpath::Render;

struct Controls {
  int in_fov, in_mask, pitch, azimuth, roll, shift_x, shift_y;
};

// The job the frame entry builds, for an output of out_w x out_h.
trimbel::RemapJob MakeJob(const Controls& c, lens::SourceProjection projection, bool bilinear,
                          bool green, int out_w, int out_h, float* cos_lon, float* sin_lon) {
  const lens::ViewRotation rotation = lens::MakeViewRotation(
      lens::TenthsToDegrees(c.roll), lens::TenthsToDegrees(c.azimuth), lens::TenthsToDegrees(c.pitch));
  trimbel::RemapJob job{};
  job.cos_lon = cos_lon;
  job.sin_lon = sin_lon;
  job.rotation = rotation;
  job.out_w = out_w;
  job.out_h = out_h;
  job.green_back = green ? 1 : 0;
  job.bilinear = bilinear ? 1 : 0;
  job.source_projection = static_cast<std::int32_t>(projection);
  job.shift_y = static_cast<float>(c.shift_y);
  job.shift_x = static_cast<float>(c.shift_x);
  job.in_mask = lens::TenthsToDegrees(c.in_mask);
  job.in_fov = lens::TenthsToDegrees(c.in_fov);
  job.pi = lens::kPi;
  return job;
}

const lens::SourceProjection kProjections[] = {
    lens::SourceProjection::Equidistant, lens::SourceProjection::Orthographic,
    lens::SourceProjection::Equisolid, lens::SourceProjection::Central,
    lens::SourceProjection::Equirectangular};

// Differing bytes between the reference (with tables) and the batched remap
// with tables on 1 and 3 threads and without tables.
long Compare(int w, int h, int out_w, int out_h, const Controls& c,
             lens::SourceProjection projection, bool bilinear, bool green, std::uint32_t seed) {
  const int max_w = w > out_w ? w : out_w;
  const int max_h = h > out_h ? h : out_h;
  HostFrame frame(w, h, max_w, max_h, seed);
  std::vector<float> cos_lon(static_cast<size_t>(out_w) + 1), sin_lon(static_cast<size_t>(out_w) + 1);
  trimbel::FillLongitudeTables(cos_lon.data(), sin_lon.data(), out_w, lens::kPi);
  const trimbel::RemapJob with_tables =
      MakeJob(c, projection, bilinear, green, out_w, out_h, cos_lon.data(), sin_lon.data());
  const trimbel::RemapJob without_tables =
      MakeJob(c, projection, bilinear, green, out_w, out_h, nullptr, nullptr);
  const auto reference = Render(frame, with_tables, trimbel::RemapEquirectangularReference);
  long worst = 0;
  // One thread, and the default team; three threads (uneven static blocks)
  // for every fourth frame only, as oversubscribed teams are slow to join.
  const int threads = seed % 4 == 0 ? 3 : 0;
  for (const auto& fast : {Render(frame, with_tables, trimbel::RemapEquirectangular, 1),
                           Render(frame, with_tables, trimbel::RemapEquirectangular, threads),
                           Render(frame, without_tables, trimbel::RemapEquirectangular)}) {
    const long d = DifferingBytes(reference, fast);
    if (d > worst || d < 0) worst = d;
  }
  return worst;
}

TEST(TrimbelIdentity, EveryProjectionSamplerAndFillOverAngleAndFieldSpread) {
  const std::vector<Controls> controls = {
      {1800, 3600, 0, 0, 0, 0, 0},               // all angles zero: poles, seam, axis lanes
      {1800, 3600, 900, -900, 900, 0, 0},        // +-90
      {1800, 3600, 1800, -1800, -1800, 0, 0},    // +-180
      {2000, 3000, 123, -457, 311, 10, -7},      // odd values, shifts, a mask
      {3600, 3600, -613, 1234, -77, -120, 20},
      {10, 100, 50, 1700, 899, 3, 3},            // tiny field of view
      {1799, 3599, 45, 450, 0, 0, 0},
      {0, 3600, 300, 300, 300, 0, 0},            // input field 0
      {3600, 0, 10, 20, 30, 0, 0},               // input mask 0
  };
  std::uint32_t seed = 1;
  for (const Controls& c : controls) {
    for (lens::SourceProjection projection : kProjections) {
      for (bool bilinear : {false, true}) {
        for (bool green : {false, true}) {
          EXPECT_EQ(Compare(36, 18, 40, 21, c, projection, bilinear, green, seed++), 0)
              << "projection " << static_cast<int>(projection) << (bilinear ? " bilinear" : " nearest")
              << (green ? " green" : " black") << " fov " << c.in_fov << " mask " << c.in_mask
              << " angles " << c.pitch << "," << c.azimuth << "," << c.roll;
        }
      }
    }
  }
}

TEST(TrimbelIdentity, TinyOddAndLargerSizes) {
  struct Sizes { int w, h, out_w, out_h; };
  const std::vector<Sizes> sizes = {
      {1, 1, 1, 1},    {2, 2, 2, 2},    {3, 3, 3, 3},     {2, 1, 4, 2},  // out_h 1: NaN latitude
      {5, 7, 13, 7},   {64, 32, 300, 3},  // rows longer than one batch
      {360, 180, 360, 180}, {200, 150, 257, 129},
  };
  const Controls c{1850, 3400, 200, 300, -100, 4, -3};
  std::uint32_t seed = 500;
  for (const Sizes& s : sizes) {
    for (lens::SourceProjection projection : kProjections) {
      for (bool bilinear : {false, true}) {
        EXPECT_EQ(Compare(s.w, s.h, s.out_w, s.out_h, c, projection, bilinear, !bilinear, seed++), 0)
            << s.w << "x" << s.h << " -> " << s.out_w << "x" << s.out_h << " projection "
            << static_cast<int>(projection) << (bilinear ? " bilinear" : " nearest");
      }
    }
  }
}

}  // namespace
