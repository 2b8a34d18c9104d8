// The Oskuda filter table, as the editor sees it through the built plug-in:
// title, information, captions (Shift-JIS bytes), defaults, ranges, and the
// one export.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/frames.h"
#include "support/plugin_checks.h"

namespace {

class OskudaTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { library_ = testing_support::LoadBuiltPlugin("Oskuda").release(); }
  static void TearDownTestSuite() {
    delete library_;
    library_ = nullptr;
  }
  const FILTER_DLL& table() const { return library_->table(); }
  static host::PluginLibrary* library_;
};
host::PluginLibrary* OskudaTable::library_ = nullptr;

TEST_F(OskudaTable, FieldsCaptionsDefaultsAndRanges) {
  testing_support::ExpectTable(table(), {
      "Oskuda(x10)", "Oskuda for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE",
      {{"入力画角", 1800, 0, 3600}, {"入力ﾏｽｸ", 3600, 0, 3600}, {"出力画角", 1800, 0, 3600},
       {"俯仰角", 0, -1800, 1800}, {"方位角", 0, -1800, 1800}, {"回転角", 0, -1800, 1800},
       {"シフトＸ", 0, -1200, 1200}, {"シフトＹ", 0, -200, 200}, {"縦幅指定", 480, 1, 4096}},
      {"縦幅指定を有効化", "正射影魚眼入力", "等立体角射影魚眼入力", "中心射影(写真)入力",
       "正距円筒図法(Equirectangular)", "正方形切抜", "円形出力マスク", "グリーンバック",
       "バイリニア補間"}});
}

TEST_F(OskudaTable, HalfWidthKatakanaAndFullWidthLettersAreSingleAndDoubleBytes) {
  // 入力ﾏｽｸ: two kanji of two bytes, three half-width katakana of one byte.
  EXPECT_EQ(testing_support::Hex("\x93\xFC\x97\xCD\xCF\xBD\xB8"), testing_support::Hex(table().track_name[1]));
  // シフトＸ and シフトＹ end in the full-width letters 0x8277 and 0x8278.
  const std::string x(table().track_name[6]);
  const std::string y(table().track_name[7]);
  ASSERT_EQ(x.size(), 8u);
  ASSERT_EQ(y.size(), 8u);
  EXPECT_EQ(x.substr(6), "\x82\x77");
  EXPECT_EQ(y.substr(6), "\x82\x78");
}

TEST_F(OskudaTable, GetFilterTableReturnsTheSameTableEveryTime) {
  auto again = testing_support::LoadBuiltPlugin("Oskuda");
  EXPECT_EQ(&again->table(), &table());  // one library, one static table
}

TEST_F(OskudaTable, TheOnlyExportIsGetFilterTable) {
  const std::string command = "nm -D --defined-only '" + host::BuiltPluginPath("Oskuda") + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::vector<std::string> symbols;
  char line[512];
  while (std::fgets(line, sizeof(line), pipe) != nullptr) {
    std::string s(line);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    const size_t last_space = s.rfind(' ');
    symbols.push_back(last_space == std::string::npos ? s : s.substr(last_space + 1));
  }
  const int status = pclose(pipe);
  if (status != 0 && symbols.empty()) GTEST_SKIP() << "nm is not available";
  ASSERT_EQ(symbols.size(), 1u);
  EXPECT_EQ(symbols[0], "GetFilterTable");
}

}  // namespace
