// What the three filters' tables and frame entries share: the captions they
// have in common, a table with every unused field null or 0, and handing the
// written scratch frame back to the editor.
#pragma once

#include "aviutl_filter.h"

namespace lens {

// Captions as the editor's Shift-JIS bytes. A string is split where a hex
// escape would otherwise swallow the next letter.
namespace caption {
constexpr const char* kInFov = "\x93\xFC\x97\xCD\x89\xE6\x8Ap";              // 入力画角
constexpr const char* kInMask = "\x93\xFC\x97\xCD\xCF\xBD\xB8";              // 入力ﾏｽｸ (half-width katakana)
constexpr const char* kOutFov = "\x8Fo\x97\xCD\x89\xE6\x8Ap";                // 出力画角
constexpr const char* kPitch = "\x98\xEB\x8B\xC2\x8Ap";                      // 俯仰角
constexpr const char* kAzimuth = "\x95\xFB\x88\xCA\x8Ap";                    // 方位角
constexpr const char* kRoll = "\x89\xF1\x93]\x8Ap";                          // 回転角
constexpr const char* kShiftX = "\x83V\x83t\x83g\x82w";                      // シフトＸ (full-width X)
constexpr const char* kShiftY = "\x83V\x83t\x83g\x82x";                      // シフトＹ (full-width Y)
constexpr const char* kHeight = "\x8F" "c\x95\x9D\x8Ew\x92\xE8";             // 縦幅指定
constexpr const char* kUseHeight =
    "\x8F" "c\x95\x9D\x8Ew\x92\xE8\x82\xF0\x97L\x8C\xF8\x89\xBB";            // 縦幅指定を有効化
constexpr const char* kEquidistant =
    "\x93\x99\x8B\x97\x97\xA3\x8E\xCB\x89" "e/\x83h\x81[\x83\x80\x83}\x83X\x83^";  // 等距離射影/ドームマスタ
constexpr const char* kOrthographicInput =
    "\x90\xB3\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD";              // 正射影魚眼入力
constexpr const char* kEquisolidInput =
    "\x93\x99\x97\xA7\x91\xCC\x8Ap\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD";  // 等立体角射影魚眼入力
constexpr const char* kCentralInput =
    "\x92\x86\x90S\x8E\xCB\x89" "e(\x8E\xCA\x90^)\x93\xFC\x97\xCD";          // 中心射影(写真)入力
constexpr const char* kEquirectangular =
    "\x90\xB3\x8B\x97\x89~\x93\x9B\x90}\x96@(Equirectangular)";              // 正距円筒図法(Equirectangular)
constexpr const char* kGreenBack = "\x83O\x83\x8A\x81[\x83\x93\x83o\x83" "b\x83N";  // グリーンバック
constexpr const char* kBilinear = "\x83o\x83" "C\x83\x8A\x83j\x83" "A\x95\xE2\x8A\xD4";  // バイリニア補間
}  // namespace caption

// The editor's table records hold plain char pointers; it never writes them.
constexpr char* Text(const char* s) { return const_cast<char*>(s); }

// A filter table with the information string supplied and every field not
// named here (callbacks, extra data, the editor's own arrays) null or 0.
constexpr FILTER_DLL MakeFilterTable(const char* name, const char* information, int track_n,
                                     char** track_name, int* track_default, int* track_s,
                                     int* track_e, int check_n, char** check_name,
                                     int* check_default, FilterProcFn func_proc) {
  FILTER_DLL table{};
  table.flag = FILTER_FLAG_EX_INFORMATION;
  table.name = Text(name);
  table.track_n = track_n;
  table.track_name = track_name;
  table.track_default = track_default;
  table.track_s = track_s;
  table.track_e = track_e;
  table.check_n = check_n;
  table.check_name = check_name;
  table.check_default = check_default;
  table.func_proc = func_proc;
  table.information = Text(information);
  return table;
}

// The remap wrote the new frame into the scratch buffer: exchange the two
// buffers so the editor receives it, store its size, and report success.
inline BOOL HandBackScratchFrame(FILTER_PROC_INFO* fpip, int w, int h) {
  PIXEL_YC* const written = fpip->ycp_temp;
  fpip->ycp_temp = fpip->ycp_edit;
  fpip->ycp_edit = written;
  fpip->w = w;
  fpip->h = h;
  return 1;
}

}  // namespace lens
