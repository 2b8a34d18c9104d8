// Varnel: the batched remap against the per-pixel reference
// (centred_grid_identity.h), and the batched group rays against
// PerspectiveGroupRay one by one.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "centred_grid_identity.h"
#include "varnel.h"

namespace {

struct Filter {
  using Job = varnel::RemapJob;
  static constexpr int kTrackCount = varnel::kTrackCount;
  static constexpr int kCheckCount = varnel::kCheckCount;
  static constexpr int kUseHeight = varnel::kUseHeight;
  static constexpr int kBilinear = varnel::kBilinear;
  static constexpr int kGreenBack = varnel::kGreenBack;
  static constexpr int kCircleMask = -1;
  static constexpr int kProjections[] = {0, varnel::kEquidistantInput, varnel::kOrthographicInput,
                                         varnel::kEquisolidInput, varnel::kEquirectangularInput};
  static constexpr int kWideField = 1800;  // 180 degrees: a negative focal distance
  static Job MakeJob(const FILTER* fp, FILTER_PROC_INFO* fpip) { return varnel::MakeRemapJob(fp, fpip); }
  static void Batched(const Job& job) { varnel::RemapPerspective(job); }
  static void Reference(const Job& job) { varnel::RemapPerspectiveReference(job); }
};

TEST(VarnelIdentity, EveryProjectionSamplerAndFillOverAngleAndFieldSpread) {
  fastpath::CheckAngleAndFieldSpread<Filter>();
}

TEST(VarnelIdentity, TinyOddAndLargerSizes) { fastpath::CheckSizes<Filter>(); }

// The batched group rays are PerspectiveGroupRay's bits for every group,
// including the degenerate focal distances (infinite for a field of 0,
// negative for 180) and batches that straddle the internal block size.
TEST(VarnelIdentity, GroupRaysMatchOneByOne) {
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

}  // namespace
