// The Trimbel table as the editor reads it from the loaded library.
#include <gtest/gtest.h>

#include "plugin_checks.h"

namespace {

TEST(TrimbelTable, FieldsCaptionsDefaultsAndRanges) {
  auto library = testing_support::LoadBuiltPlugin("Trimbel");
  testing_support::ExpectTable(library->table(), {
      "Trimbel(x10)", "Trimbel for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE",
      {{"入力画角", 1800, 0, 3600}, {"入力ﾏｽｸ", 3600, 0, 3600}, {"俯仰角", 0, -1800, 1800},
       {"方位角", 0, -1800, 1800}, {"回転角", 0, -1800, 1800}, {"シフトＸ", 0, -1200, 1200},
       {"シフトＹ", 0, -200, 200}, {"縦幅指定", 480, 1, 4096}},
      {"縦幅指定を有効化", "等距離射影/ドームマスタ", "正射影魚眼入力", "等立体角射影魚眼入力",
       "中心射影(写真)入力", "横:縦を2:1にする", "グリーンバック", "バイリニア補間"}});
}

}  // namespace
