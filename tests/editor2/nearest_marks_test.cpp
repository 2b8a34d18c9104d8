// The 64-bit adapter runs the nearest sampler once, on a plane of input
// indices, and gathers colour and alpha by the indices that come out. That
// holds only if the nearest sampler hands every output pixel either one
// input pixel unchanged or the fill: checked here on every plug-in with
// random controls, against the same frame run on noise.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "captions.h"
#include "frames.h"
#include "plugin_cases.h"
#include "plugin_host.h"
#include "transparency.h"

namespace {

class NearestMarks : public ::testing::TestWithParam<std::string> {};

TEST_P(NearestMarks, EachOutputPixelIsOneInputPixelOrTheFill) {
  std::unique_ptr<host::PluginLibrary> library = testing_support::LoadBuiltPlugin(GetParam());
  const FILTER_DLL& table = library->table();
  int bilinear_box = -1;
  for (int i = 0; i < table.check_n; ++i) {
    if (lens::captions::FindCheck(table.check_name[i]) == &lens::captions::kBilinear) bilinear_box = i;
  }
  ASSERT_GE(bilinear_box, 0);
  reliability::Rng rng(11);
  const int shapes[][2] = {{96, 48}, {61, 37}, {40, 40}, {7, 3}};
  int compared = 0;
  for (int k = 0; k < 120; ++k) {
    reliability::Controls controls = reliability::RandomInRange(table, rng);
    controls.check[static_cast<std::size_t>(bilinear_box)] = 0;
    const int w = shapes[k % 4][0];
    const int h = shapes[k % 4][1];
    const int max_w = w * 2 + 3;
    const int max_h = h * 2 + 1;
    host::FilterInstance instance(table);
    reliability::Apply(instance, controls);
    host::FrameBuffers noise(max_w, max_h), marks(max_w, max_h);
    testing_support::FillNoise(noise.a, static_cast<std::uint32_t>(k + 1));
    for (int row = 0; row < h; ++row) {
      editor2::ToIndexRow(static_cast<std::uint32_t>(row * w), w, marks.a.data() + static_cast<std::size_t>(row) * max_w);
    }
    const std::vector<PIXEL_YC> input = noise.a;
    const host::FrameResult by_noise = host::RunFrame(instance, noise, w, h);
    const host::FrameResult by_marks = host::RunFrame(instance, marks, w, h);
    ASSERT_EQ(by_noise.w, by_marks.w);
    ASSERT_EQ(by_noise.h, by_marks.h);
    for (int y = 0; y < by_noise.h; ++y) {
      for (int x = 0; x < by_noise.w; ++x) {
        const PIXEL_YC m = by_marks.frame[static_cast<std::size_t>(y) * max_w + x];
        const PIXEL_YC p = by_noise.frame[static_cast<std::size_t>(y) * max_w + x];
        PIXEL_YC expected = m;  // the fill, the same in both runs
        if (m.cr == 1) {
          const int index = m.y | m.cb << 15;
          ASSERT_TRUE(m.y >= 0 && m.cb >= 0 && index < w * h) << GetParam() << " " << reliability::Describe(controls);
          expected = input[static_cast<std::size_t>(index / w) * max_w + index % w];
        }
        ASSERT_TRUE(p.y == expected.y && p.cb == expected.cb && p.cr == expected.cr)
            << GetParam() << " pixel " << x << "," << y << " " << reliability::Describe(controls);
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 100000);
}

INSTANTIATE_TEST_SUITE_P(Plugins, NearestMarks, ::testing::ValuesIn(host::PluginNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
