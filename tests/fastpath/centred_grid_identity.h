// The identity checks shared by the filters whose remap uses the four-fold
// symmetry of a centred output grid (perspective view, dome master): the
// batched remap against the per-pixel reference, byte for byte, over every
// input projection, both samplers and fills, a spread of angles, fields of
// view, shifts and masks, and tiny, odd and larger sizes.
//
// Filter describes the plug-in: Job, kTrackCount, kCheckCount, the check
// indices kUseHeight, kBilinear, kGreenBack and kCircleMask (-1: none),
// kProjections (the input boxes, 0 for none), kWideField (the widest output
// field of its track) and MakeJob, Batched, Reference.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "identity.h"

namespace fastpath {

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
template <typename Filter>
long CompareOnGrid(const GridSize& size, const GridControls& c, int projection_box, bool bilinear,
                   bool green, bool circle_mask, std::uint32_t seed) {
  int track[Filter::kTrackCount] = {c.in_fov, c.in_mask, c.out_fov, c.pitch, c.azimuth,
                                    c.roll,   c.shift_x, c.shift_y, size.height};
  int check[Filter::kCheckCount] = {};
  check[Filter::kUseHeight] = size.height > 0 ? 1 : 0;
  if (projection_box > 0) check[projection_box] = 1;
  check[Filter::kBilinear] = bilinear ? 1 : 0;
  check[Filter::kGreenBack] = green ? 1 : 0;
  if (Filter::kCircleMask >= 0) check[Filter::kCircleMask] = circle_mask ? 1 : 0;
  FILTER filter{};
  filter.track = track;
  filter.check = check;
  HostFrame frame(size.w, size.h, size.max_w, size.max_h, seed);
  const typename Filter::Job job = Filter::MakeJob(&filter, &frame.info);
  const auto reference = Render(frame, job, Filter::Reference);
  const auto fast1 = Render(frame, job, Filter::Batched, 1);
  const auto fast3 = Render(frame, job, Filter::Batched, seed % 4 == 0 ? 3 : 0);
  const long d1 = DifferingBytes(reference, fast1);
  const long d3 = DifferingBytes(reference, fast3);
  return d1 > d3 ? d1 : d3;
}

// Every projection, sampler and fill (the circle mask with green) over a
// spread of angles and fields on a 40 x 30 frame.
template <typename Filter>
void CheckAngleAndFieldSpread() {
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
          EXPECT_EQ(CompareOnGrid<Filter>(size, c, projection, bilinear, green, green, seed++), 0)
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
template <typename Filter>
void CheckSizes() {
  const std::vector<GridSize> sizes = {
      {1, 1, 1, 1, 0},     {2, 2, 2, 2, 0},     {3, 3, 3, 3, 0},   {4, 2, 4, 2, 0},
      {41, 31, 41, 31, 40},  // height setting beyond capacity: odd output 41 x 31
      {17, 9, 23, 11, 0},    // stride wider than the frame
      {7, 300, 7, 300, 0},   // one batch shorter than a vector
      {600, 40, 600, 40, 0},  // several batches per row pair
      {384, 216, 384, 216, 0},
  };
  const GridControls c{1800, 3600, 1000, 150, 300, -200, 0, 0};
  std::uint32_t seed = 100;
  for (const GridSize& size : sizes) {
    for (int projection : Filter::kProjections) {
      for (bool bilinear : {false, true}) {
        EXPECT_EQ(CompareOnGrid<Filter>(size, c, projection, bilinear, bilinear, !bilinear, seed++), 0)
            << size.w << "x" << size.h << " capacity " << size.max_w << "x" << size.max_h
            << " box " << projection << (bilinear ? " bilinear" : " nearest");
      }
    }
  }
}

}  // namespace fastpath
