// The Trimbel table as the editor reads it from the loaded library.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <vector>

#include "support/frames.h"

namespace {

// The editor's code page, converted here rather than copied from the plug-in's
// escapes, so a wrong byte in the plug-in cannot hide in the expectation.
std::string ToCp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::vector<char> in(utf8.begin(), utf8.end());
  std::vector<char> out(utf8.size() * 2 + 4);
  char* in_ptr = in.data();
  char* out_ptr = out.data();
  size_t in_left = in.size();
  size_t out_left = out.size();
  const size_t converted = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
  iconv_close(cd);
  EXPECT_NE(converted, static_cast<size_t>(-1)) << utf8;
  return std::string(out.data(), out.size() - out_left);
}

class TrimbelTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { library_ = testing_support::LoadBuiltPlugin("Trimbel").release(); }
  static void TearDownTestSuite() {
    delete library_;
    library_ = nullptr;
  }
  static const FILTER_DLL& table() { return library_->table(); }
  static host::PluginLibrary* library_;
};
host::PluginLibrary* TrimbelTable::library_ = nullptr;

TEST_F(TrimbelTable, TitleInformationAndCounts) {
  EXPECT_EQ(table().flag, 0x00040000);
  EXPECT_EQ(table().x, 0);
  EXPECT_EQ(table().y, 0);
  EXPECT_STREQ(table().name, "Trimbel(x10)");
  EXPECT_EQ(std::string(table().information),
            ToCp932("Trimbel for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE"));
  EXPECT_EQ(table().track_n, 8);
  EXPECT_EQ(table().check_n, 8);
  EXPECT_NE(table().func_proc, nullptr);
}

TEST_F(TrimbelTable, TrackCaptionsDefaultsAndRanges) {
  struct Track { const char* caption; int def, lo, hi; };
  const Track expected[] = {
      {"入力画角", 1800, 0, 3600},     {"入力ﾏｽｸ", 3600, 0, 3600},
      {"俯仰角", 0, -1800, 1800},      {"方位角", 0, -1800, 1800},
      {"回転角", 0, -1800, 1800},      {"シフトＸ", 0, -1200, 1200},
      {"シフトＹ", 0, -200, 200},      {"縦幅指定", 480, 1, 4096},
  };
  ASSERT_EQ(table().track_n, 8);
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::string(table().track_name[i]), ToCp932(expected[i].caption));
    EXPECT_EQ(table().track_default[i], expected[i].def);
    EXPECT_EQ(table().track_s[i], expected[i].lo);
    EXPECT_EQ(table().track_e[i], expected[i].hi);
  }
  // The half-width katakana of the mask caption is part of its bytes.
  EXPECT_EQ(std::string(table().track_name[1]), "\x93\xFC\x97\xCD\xCF\xBD\xB8");
}

TEST_F(TrimbelTable, CheckCaptionsAndDefaults) {
  const char* expected[] = {"縦幅指定を有効化",     "等距離射影/ドームマスタ", "正射影魚眼入力",
                            "等立体角射影魚眼入力", "中心射影(写真)入力",     "横:縦を2:1にする",
                            "グリーンバック",       "バイリニア補間"};
  ASSERT_EQ(table().check_n, 8);
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(std::string(table().check_name[i]), ToCp932(expected[i]));
    EXPECT_EQ(table().check_default[i], 0);
  }
}

TEST_F(TrimbelTable, EveryOtherFieldIsEmpty) {
  const FILTER_DLL& t = table();
  EXPECT_EQ(t.func_init, nullptr);
  EXPECT_EQ(t.func_exit, nullptr);
  EXPECT_EQ(t.func_update, nullptr);
  EXPECT_EQ(t.func_WndProc, nullptr);
  EXPECT_EQ(t.track, nullptr);
  EXPECT_EQ(t.check, nullptr);
  EXPECT_EQ(t.ex_data_ptr, nullptr);
  EXPECT_EQ(t.ex_data_size, 0);
  EXPECT_EQ(t.func_save_start, nullptr);
  EXPECT_EQ(t.func_save_end, nullptr);
  EXPECT_EQ(t.exfunc, nullptr);
  EXPECT_EQ(t.hwnd, nullptr);
  EXPECT_EQ(t.dll_hinst, nullptr);
  EXPECT_EQ(t.ex_data_def, nullptr);
  EXPECT_EQ(t.func_is_saveframe, nullptr);
  EXPECT_EQ(t.func_project_load, nullptr);
  EXPECT_EQ(t.func_project_save, nullptr);
  EXPECT_EQ(t.func_modify_title, nullptr);
  EXPECT_EQ(t.dll_path, nullptr);
  EXPECT_EQ(t.reserve[0], 0);
  EXPECT_EQ(t.reserve[1], 0);
}

}  // namespace
