// Faults found by the fuzz targets and the guarded-buffer grid, each pinned
// at the function where it was fixed.
#include <gtest/gtest.h>

#include <climits>

#include "trimbel.h"

namespace {

// A height below -2^30 with the height track and 2:1 ticked: twice the height
// wrapped to a positive 32-bit width beyond the capacity (146911068 for
// -2074028113), so the editor would have been told of a frame wider than its
// buffers, and the tables were allocated for that width.
TEST(TrimbelOutputSize, DoubledNegativeHeightDoesNotWrapIntoAWidth) {
  int track[trimbel::kTrackCount] = {1800, 3600, 0, 0, 0, 0, 0, 0};
  int check[trimbel::kCheckCount] = {};
  check[trimbel::kUseHeight] = 1;
  check[trimbel::kTwoToOne] = 1;
  for (int height : {-2074028113, -1500000001, INT_MIN / 2 - 1, INT_MIN + 1, INT_MIN}) {
    track[trimbel::kHeight] = height;
    const lens::OutputSize size = trimbel::EquirectOutputSize(track, check, 26, 10, 29, 11);
    EXPECT_EQ(size.w, 0) << height;
    EXPECT_EQ(size.h, 0) << height;
  }
  // A positive height whose double leaves 32 bits is limited as before.
  track[trimbel::kHeight] = 1500000001;
  const lens::OutputSize size = trimbel::EquirectOutputSize(track, check, 26, 10, 29, 11);
  EXPECT_EQ(size.w, 29);
  EXPECT_EQ(size.h, 11);
}

}  // namespace
