// Varnel's filter table as the editor reads it, and the frame entry's
// choices of input projection and output size.
#include <gtest/gtest.h>

#include <string>

#include "frames.h"
#include "plugin_checks.h"
#include "varnel.h"

namespace {

TEST(VarnelTable, FieldsCaptionsDefaultsAndRanges) {
  auto library = testing_support::LoadBuiltPlugin("Varnel");
  testing_support::ExpectTable(library->table(), {
      "Varnel(x10)", "Varnelプラグイン for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE",
      {{"入力画角", 1800, 0, 3600}, {"入力ﾏｽｸ", 3600, 0, 3600}, {"出力画角", 900, 0, 1800},
       {"俯仰角", 0, -1800, 1800}, {"方位角", 0, -1800, 1800}, {"回転角", 0, -1800, 1800},
       {"シフトＸ", 0, -1200, 1200}, {"シフトＹ", 0, -200, 200}, {"縦幅指定", 480, 1, 4096}},
      {"縦幅指定を有効化", "等距離射影/ドームマスタ入力", "正射影魚眼入力", "等立体角射影魚眼入力",
       "正距円筒図法(Equirectangular)", "横幅＝16/9×縦幅にする", "横幅＝4/3×縦幅にする",
       "横幅＝縦幅にする", "グリーンバック", "バイリニア補間"}});
}

TEST(VarnelInput, HighestTickedBoxWins) {
  using lens::SourceProjection;
  struct Case { int boxes[4]; SourceProjection expected; };
  const Case cases[] = {
      {{0, 0, 0, 0}, SourceProjection::Central},
      {{1, 0, 0, 0}, SourceProjection::Equidistant},
      {{0, 1, 0, 0}, SourceProjection::Orthographic},
      {{1, 0, 1, 0}, SourceProjection::Equisolid},
      {{1, 1, 1, 1}, SourceProjection::Equirectangular},
      {{0, 0, 0, 5}, SourceProjection::Equirectangular},
  };
  for (const Case& c : cases) {
    int check[10] = {};
    for (int i = 0; i < 4; ++i) check[1 + i] = c.boxes[i];
    EXPECT_EQ(lens::SelectedInput(check, varnel::kInputBoxes), c.expected);
  }
}

struct SizeCase {
  const char* what;
  int height_box, height, box5, box6, box7;
  int w, h, max_w, max_h;
  int out_w, out_h;
};

TEST(VarnelOutputSize, Examples) {
  const SizeCase cases[] = {
      {"defaults keep the input", 0, 480, 0, 0, 0, 1920, 1080, 4096, 4096, 1920, 1080},
      {"odd input sizes round down", 0, 480, 0, 0, 0, 1919, 1079, 4096, 4096, 1918, 1078},
      {"height 480 keeps 16:9", 1, 480, 0, 0, 0, 1920, 1080, 4096, 4096, 852, 480},
      {"16:9 box at 480", 1, 480, 1, 0, 0, 1920, 1080, 4096, 4096, 852, 480},
      {"16:9 box at 481", 1, 481, 1, 0, 0, 1920, 1080, 4096, 4096, 854, 480},
      {"4:3 box", 1, 480, 0, 1, 0, 1920, 1080, 4096, 4096, 640, 480},
      {"4:3 over 16:9", 1, 480, 1, 1, 0, 1920, 1080, 4096, 4096, 640, 480},
      {"square over both", 1, 480, 1, 1, 1, 1920, 1080, 4096, 4096, 480, 480},
      {"square alone", 0, 480, 0, 0, 1, 1920, 1080, 4096, 4096, 1080, 1080},
      {"3840x2160 cut to the capacity", 1, 2160, 0, 0, 0, 1920, 1080, 2000, 1500, 2000, 1500},
      {"height above capacity keeps the wide width", 1, 2000, 0, 0, 0, 1920, 1080, 4096, 1200, 3554, 1200},
      {"height 1 gives an empty frame", 1, 1, 0, 0, 0, 1920, 1080, 4096, 4096, 0, 0},
      {"odd capacity gives odd sizes", 0, 480, 0, 0, 0, 1920, 1080, 1001, 701, 1001, 701},
      {"zero-height input with the height box", 1, 480, 0, 0, 0, 1920, 0, 4096, 4096, 0, 480},
  };
  for (const SizeCase& c : cases) {
    int track[9] = {1800, 3600, 900, 0, 0, 0, 0, 0, c.height};
    int check[10] = {c.height_box, 0, 0, 0, 0, c.box5, c.box6, c.box7, 0, 0};
    const lens::OutputSize size =
        varnel::PerspectiveOutputSize(track, check, c.w, c.h, c.max_w, c.max_h);
    EXPECT_EQ(size.w, c.out_w) << c.what;
    EXPECT_EQ(size.h, c.out_h) << c.what;
  }
}

}  // namespace
