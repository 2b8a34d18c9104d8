// The Oskuda filter table, as the editor sees it through the built plug-in:
// title, information, captions (Shift-JIS bytes), defaults, ranges, and the
// one export.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/frames.h"

namespace {

// The expected bytes come from the UTF-8 text through the C library's CP932
// converter, independently of the escapes in the plug-in's source.
std::string Cp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "no CP932 converter: " << std::strerror(errno);
    return std::string();
  }
  std::vector<char> in(utf8.begin(), utf8.end());
  std::vector<char> out(utf8.size() * 2 + 16);
  char* in_p = in.data();
  char* out_p = out.data();
  size_t in_left = in.size();
  size_t out_left = out.size();
  const size_t done = iconv(cd, &in_p, &in_left, &out_p, &out_left);
  iconv_close(cd);
  EXPECT_NE(done, static_cast<size_t>(-1)) << "cannot convert " << utf8;
  EXPECT_EQ(in_left, 0u);
  return std::string(out.data(), out.size() - out_left);
}

std::string Hex(const std::string& bytes) {
  std::string s;
  char buf[4];
  for (unsigned char c : bytes) {
    std::snprintf(buf, sizeof(buf), "%02X ", c);
    s += buf;
  }
  return s;
}

#define EXPECT_BYTES(expected, actual) EXPECT_EQ(Hex(expected), Hex(actual))

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

TEST_F(OskudaTable, TitleInformationFlagAndCounts) {
  EXPECT_EQ(table().flag, 0x00040000);
  EXPECT_EQ(table().x, 0);
  EXPECT_EQ(table().y, 0);
  ASSERT_NE(table().name, nullptr);
  EXPECT_STREQ(table().name, "Oskuda(x10)");
  ASSERT_NE(table().information, nullptr);
  const std::string information =
      Cp932("Oskuda for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE");
  EXPECT_BYTES(information, std::string(table().information));
  // The three kanji of 対応版 are two bytes each.
  EXPECT_EQ(information.size(), std::strlen("Oskuda for AviUtl OpenMP, Version 2017/08/31(x10) by ORDANE") + 6);
  EXPECT_EQ(table().track_n, 9);
  EXPECT_EQ(table().check_n, 9);
  EXPECT_NE(table().func_proc, nullptr);
}

struct TrackRow {
  const char* caption;
  int def, min, max;
};

TEST_F(OskudaTable, TrackCaptionsDefaultsAndRanges) {
  const TrackRow rows[] = {
      {"入力画角", 1800, 0, 3600},      {"入力ﾏｽｸ", 3600, 0, 3600},
      {"出力画角", 1800, 0, 3600},      {"俯仰角", 0, -1800, 1800},
      {"方位角", 0, -1800, 1800},       {"回転角", 0, -1800, 1800},
      {"シフトＸ", 0, -1200, 1200},     {"シフトＹ", 0, -200, 200},
      {"縦幅指定", 480, 1, 4096},
  };
  ASSERT_EQ(table().track_n, 9);
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(rows[i].caption);
    ASSERT_NE(table().track_name[i], nullptr);
    EXPECT_BYTES(Cp932(rows[i].caption), std::string(table().track_name[i]));
    EXPECT_EQ(table().track_default[i], rows[i].def);
    EXPECT_EQ(table().track_s[i], rows[i].min);
    EXPECT_EQ(table().track_e[i], rows[i].max);
  }
}

TEST_F(OskudaTable, HalfWidthKatakanaAndFullWidthLettersAreSingleAndDoubleBytes) {
  // 入力ﾏｽｸ: two kanji of two bytes, three half-width katakana of one byte.
  EXPECT_BYTES(std::string("\x93\xFC\x97\xCD\xCF\xBD\xB8"), std::string(table().track_name[1]));
  // シフトＸ and シフトＹ end in the full-width letters 0x8277 and 0x8278.
  const std::string x(table().track_name[6]);
  const std::string y(table().track_name[7]);
  ASSERT_EQ(x.size(), 8u);
  ASSERT_EQ(y.size(), 8u);
  EXPECT_BYTES(std::string("\x82\x77"), x.substr(6));
  EXPECT_BYTES(std::string("\x82\x78"), y.substr(6));
}

TEST_F(OskudaTable, CheckCaptionsAndDefaults) {
  const char* captions[] = {
      "縦幅指定を有効化",   "正射影魚眼入力",
      "等立体角射影魚眼入力", "中心射影(写真)入力",
      "正距円筒図法(Equirectangular)", "正方形切抜",
      "円形出力マスク",     "グリーンバック",
      "バイリニア補間",
  };
  ASSERT_EQ(table().check_n, 9);
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(captions[i]);
    ASSERT_NE(table().check_name[i], nullptr);
    EXPECT_BYTES(Cp932(captions[i]), std::string(table().check_name[i]));
    EXPECT_EQ(table().check_default[i], 0);
  }
}

TEST_F(OskudaTable, EveryOtherFieldIsNullOrZero) {
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
