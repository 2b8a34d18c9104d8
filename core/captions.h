// The captions of the filters' controls, as the editor's Shift-JIS bytes,
// with the name a host gives each control and its unit: one table for the
// plug-ins' own filter tables and for the hosts that offer the same controls
// (reproject's options, the 64-bit editor's items), which find a control by
// its caption. A string is split where a hex escape would otherwise swallow
// the next letter.
#pragma once

#include <cstring>

#include "geometry.h"

namespace lens {
namespace captions {

enum class Unit { kNone, kTenthsOfDegree, kPixels };

struct Control {
  const char* text;  // Shift-JIS
  const char* name;  // the host's name: the option --name of reproject
  Unit unit;
  // Track bars: the default and the range of the filters' tables.
  int default_value = 0;
  int start = 0;
  int end = 0;

  // The same track bar with another default and range.
  constexpr Control WithRange(int default_to, int from, int to) const {
    return Control{text, name, unit, default_to, from, to};
  }
};

// Track bars.
constexpr Control kInFov{"\x93\xFC\x97\xCD\x89\xE6\x8Ap", "in-fov", Unit::kTenthsOfDegree, 1800, 0, 3600};      // 入力画角
constexpr Control kInMask{"\x93\xFC\x97\xCD\xCF\xBD\xB8", "in-mask", Unit::kTenthsOfDegree, 3600, 0, 3600};     // 入力ﾏｽｸ
constexpr Control kOutFov{"\x8Fo\x97\xCD\x89\xE6\x8Ap", "out-fov", Unit::kTenthsOfDegree, 1800, 0, 3600};       // 出力画角
constexpr Control kPitch{"\x98\xEB\x8B\xC2\x8Ap", "pitch", Unit::kTenthsOfDegree, 0, -1800, 1800};              // 俯仰角
constexpr Control kAzimuth{"\x95\xFB\x88\xCA\x8Ap", "azimuth", Unit::kTenthsOfDegree, 0, -1800, 1800};          // 方位角
constexpr Control kRoll{"\x89\xF1\x93]\x8Ap", "roll", Unit::kTenthsOfDegree, 0, -1800, 1800};                   // 回転角
constexpr Control kShiftX{"\x83V\x83t\x83g\x82w", "shift-x", Unit::kPixels, 0, -1200, 1200};                    // シフトＸ
constexpr Control kShiftY{"\x83V\x83t\x83g\x82x", "shift-y", Unit::kPixels, 0, -200, 200};                      // シフトＹ
constexpr Control kHeight{"\x8F" "c\x95\x9D\x8Ew\x92\xE8", "height", Unit::kPixels, 480, 1, 4096};              // 縦幅指定

// Check boxes other than the input projections.
constexpr Control kUseHeight{"\x8F" "c\x95\x9D\x8Ew\x92\xE8\x82\xF0\x97L\x8C\xF8\x89\xBB", "use-height",
                             Unit::kNone};                                                       // 縦幅指定を有効化
constexpr Control kWidth16x9{"\x89\xA1\x95\x9D\x81\x81" "16/9\x81~\x8F" "c\x95\x9D\x82\xC9\x82\xB7\x82\xE9",
                             "width-16x9", Unit::kNone};                                         // 横幅＝16/9×縦幅にする
constexpr Control kWidth4x3{"\x89\xA1\x95\x9D\x81\x81" "4/3\x81~\x8F" "c\x95\x9D\x82\xC9\x82\xB7\x82\xE9",
                            "width-4x3", Unit::kNone};                                           // 横幅＝4/3×縦幅にする
constexpr Control kWidthSquare{"\x89\xA1\x95\x9D\x81\x81\x8F" "c\x95\x9D\x82\xC9\x82\xB7\x82\xE9", "width-square",
                               Unit::kNone};                                                     // 横幅＝縦幅にする
constexpr Control kSquareCutOut{"\x90\xB3\x95\xFB\x8C`\x90\xD8\x94\xB2", "square", Unit::kNone};  // 正方形切抜
constexpr Control kCircleMask{"\x89~\x8C`\x8Fo\x97\xCD\x83}\x83X\x83N", "circle-mask", Unit::kNone};  // 円形出力マスク
constexpr Control kWidth2x1{"\x89\xA1:\x8F" "c\x82\xF0" "2:1\x82\xC9\x82\xB7\x82\xE9", "width-2x1",
                            Unit::kNone};                                                        // 横:縦を2:1にする
constexpr Control kGreenBack{"\x83O\x83\x8A\x81[\x83\x93\x83o\x83" "b\x83N", "green", Unit::kNone};  // グリーンバック
constexpr Control kBilinear{"\x83o\x83" "C\x83\x8A\x83j\x83" "A\x95\xE2\x8A\xD4", "bilinear",
                            Unit::kNone};                                                        // バイリニア補間

constexpr const Control* kTracks[] = {&kInFov, &kInMask, &kOutFov, &kPitch, &kAzimuth,
                                      &kRoll,  &kShiftX, &kShiftY, &kHeight};
constexpr const Control* kChecks[] = {&kUseHeight,    &kWidth16x9,  &kWidth4x3, &kWidthSquare, &kSquareCutOut,
                                      &kCircleMask,   &kWidth2x1,   &kGreenBack, &kBilinear};

// The input projections' boxes: each lens model's caption, and the short
// form of the equidistant one that the panorama filter's table uses.
struct InputBox {
  const char* text;  // Shift-JIS
  SourceProjection projection;
  const char* name;  // the host's name: reproject's --input name
};
constexpr InputBox kEquidistantInput{
    "\x93\x99\x8B\x97\x97\xA3\x8E\xCB\x89" "e/\x83h\x81[\x83\x80\x83}\x83X\x83^\x93\xFC\x97\xCD",
    SourceProjection::Equidistant, "equidistant"};  // 等距離射影/ドームマスタ入力
constexpr InputBox kEquidistant{"\x93\x99\x8B\x97\x97\xA3\x8E\xCB\x89" "e/\x83h\x81[\x83\x80\x83}\x83X\x83^",
                                SourceProjection::Equidistant, "equidistant"};  // 等距離射影/ドームマスタ
constexpr InputBox kOrthographicInput{"\x90\xB3\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD",
                                      SourceProjection::Orthographic, "orthographic"};  // 正射影魚眼入力
constexpr InputBox kEquisolidInput{"\x93\x99\x97\xA7\x91\xCC\x8Ap\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD",
                                   SourceProjection::Equisolid, "equisolid"};  // 等立体角射影魚眼入力
constexpr InputBox kCentralInput{"\x92\x86\x90S\x8E\xCB\x89" "e(\x8E\xCA\x90^)\x93\xFC\x97\xCD",
                                 SourceProjection::Central, "central"};  // 中心射影(写真)入力
constexpr InputBox kEquirectangular{"\x90\xB3\x8B\x97\x89~\x93\x9B\x90}\x96@(Equirectangular)",
                                    SourceProjection::Equirectangular, "equirect"};  // 正距円筒図法(Equirectangular)

// Every box, the first of each projection being its own caption.
constexpr const InputBox* kInputBoxes[] = {&kEquidistantInput, &kOrthographicInput, &kEquisolidInput,
                                           &kCentralInput,     &kEquirectangular,   &kEquidistant};

// The label of the list that stands for the input boxes where a host offers
// one: 入力射影 (input projection).
constexpr const char* kInputProjection = "\x93\xFC\x97\xCD\x8E\xCB\x89" "e";

// The list that stands for the fill box where a host also offers
// transparency: 背景 (background) with 黒 (black), the green box's own
// caption, and 透明 (transparent).
constexpr const char* kBackground = "\x94\x77\x8C\x69";
constexpr const char* kBlackBackground = "\x8D\x95";
constexpr const char* kTransparentBackground = "\x93\xA7\x96\xBE";

// The entries a caption names, or null.
inline const Control* FindTrack(const char* text) {
  for (const Control* c : kTracks)
    if (text != nullptr && std::strcmp(text, c->text) == 0) return c;
  return nullptr;
}
inline const Control* FindCheck(const char* text) {
  for (const Control* c : kChecks)
    if (text != nullptr && std::strcmp(text, c->text) == 0) return c;
  return nullptr;
}
inline const InputBox* FindInputBox(const char* text) {
  for (const InputBox* b : kInputBoxes)
    if (text != nullptr && std::strcmp(text, b->text) == 0) return b;
  return nullptr;
}
// A projection's own caption.
inline const InputBox& InputBoxOf(SourceProjection projection) {
  for (const InputBox* b : kInputBoxes)
    if (b->projection == projection) return *b;
  return kEquidistantInput;
}

}  // namespace captions

// The editor's table records hold plain char pointers; it never writes them.
constexpr char* Text(const char* s) { return const_cast<char*>(s); }

}  // namespace lens
