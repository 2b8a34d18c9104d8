// Oskuda: the batched remap against the per-pixel reference, with and
// without the circular output mask (centred_grid_identity.h), and the
// batched pair rays against PairRay one by one.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "centred_grid_identity.h"
#include "oskuda.h"

namespace {

struct Filter {
  using Job = oskuda::RemapJob;
  static constexpr int kTrackCount = oskuda::kTrackCount;
  static constexpr int kCheckCount = oskuda::kCheckCount;
  static constexpr int kUseHeight = oskuda::kUseHeight;
  static constexpr int kBilinear = oskuda::kBilinear;
  static constexpr int kGreenBack = oskuda::kGreenBack;
  static constexpr int kCircleMask = oskuda::kCircleMask;
  static constexpr int kProjections[] = {0, oskuda::kOrthographicInput, oskuda::kEquisolidInput,
                                         oskuda::kCentralInput, oskuda::kEquirectangularInput};
  static constexpr int kWideField = 3600;  // 360 degrees
  static Job MakeJob(const FILTER* fp, FILTER_PROC_INFO* fpip) { return oskuda::MakeRemapJob(fp, fpip); }
  static void Batched(const Job& job) { oskuda::RemapDomeMaster(job); }
  static void Reference(const Job& job) { oskuda::RemapDomeMasterReference(job); }
};

TEST(OskudaIdentity, EveryProjectionSamplerAndFillOverAngleAndFieldSpread) {
  fastpath::CheckAngleAndFieldSpread<Filter>();
}

TEST(OskudaIdentity, TinyOddAndLargerSizes) { fastpath::CheckSizes<Filter>(); }

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
