// The calls that the 64-bit stand-in host (under wine) makes on each .auf2
// and that the Linux checker repeats on the classic plug-in, so that both see
// the same frames and the same control values.
//
// Items are set by name (UTF-8), as the editor sets them: "方位角=45.5"
// writes 45.5 into the azimuth track item, "バイリニア補間" ticks that check
// item ("バイリニア補間=0" unticks it), "入力射影=2" picks choice value 2 of
// the input projection select, "背景=2" the fill list's third choice
// (0 black, 1 green, 2 transparent). Each case starts from the items' defaults and
// every call keeps the values of the calls before it, as the editor's item
// structs keep them. The frame is w x h RGBA pixels from `seed`.
#pragma once

namespace editor2check {

struct Call {
  int w, h;
  unsigned seed;
  const char* items;
  bool alpha = false;  // false: every pixel opaque; true: alpha 0, 255 and between
};

constexpr int kMaxCalls = 6;

struct Case {
  const char* name;    // also the result file names <name>.<call>.res
  const char* plugin;  // Varnel, Oskuda or Trimbel
  Call calls[kMaxCalls];  // ends at the first call with w == 0
};

// Input projection choices (select values):
//   Varnel  0 central, 1 equidistant, 2 orthographic, 3 equisolid, 4 equirectangular
//   Oskuda  0 equidistant, 1 orthographic, 2 equisolid, 3 central, 4 equirectangular
//   Trimbel 0 equirectangular, 1 equidistant, 2 orthographic, 3 equisolid, 4 central
constexpr Case kCases[] = {
    {"varnel_defaults", "Varnel", {{320, 240, 1, ""}}},
    {"varnel_equidistant_nearest", "Varnel", {{320, 240, 2, "入力射影=1 俯仰角=30 方位角=-45"}}},
    {"varnel_equidistant_bilinear_shift", "Varnel",
     {{320, 240, 3, "入力射影=1 バイリニア補間 回転角=15 シフトＸ=12 シフトＹ=-7"}}},
    {"varnel_orthographic_green", "Varnel", {{256, 256, 4, "入力射影=2 俯仰角=-60 背景=1"}}},
    {"varnel_equisolid_bilinear", "Varnel",
     {{256, 256, 5, "入力射影=3 入力画角=200 入力ﾏｽｸ=270 バイリニア補間"}}},
    {"varnel_equirect_nearest", "Varnel", {{384, 192, 6, "入力射影=4 俯仰角=45 方位角=135 回転角=-30"}}},
    {"varnel_equirect_bilinear", "Varnel",
     {{384, 192, 7, "入力射影=4 バイリニア補間 方位角=-180 出力画角=150"}}},
    // Larger than the input: 852x480 from 320x240.
    {"varnel_enlarged_16x9", "Varnel",
     {{320, 240, 8, "入力射影=1 縦幅指定を有効化 縦幅指定=480 横幅＝16/9×縦幅にする バイリニア補間"}}},
    // Azimuth per frame (values between tenths, beyond the range), with the
    // frame size changing between calls and an enlarged frame in between.
    {"varnel_azimuth_sequence", "Varnel",
     {{320, 240, 9, "入力射影=1 バイリニア補間 方位角=-90"},
      {320, 240, 10, "方位角=-45.04"},
      {256, 192, 11, "方位角=0.06"},
      {384, 216, 12, "方位角=45.26 縦幅指定を有効化 縦幅指定=300"},
      {200, 150, 13, "方位角=179.96"},
      {200, 150, 14, "方位角=-200 縦幅指定を有効化=0"}}},
    // A small frame with a large height setting whose box is not ticked: the
    // frame keeps its size (the setting no longer sizes the buffers).
    {"varnel_unticked_height", "Varnel", {{64, 48, 16, "縦幅指定=4096 入力射影=1"}}},
    // Height 1 rounds down to an empty frame.
    {"varnel_empty_output", "Varnel", {{320, 240, 15, "縦幅指定を有効化 縦幅指定=1"}}},

    {"oskuda_defaults", "Oskuda", {{256, 256, 21, ""}}},
    {"oskuda_turned_bilinear", "Oskuda",
     {{256, 256, 22, "俯仰角=20 方位角=-30 回転角=45 バイリニア補間"}}},
    {"oskuda_orthographic_mask", "Oskuda", {{256, 256, 23, "入力射影=1 円形出力マスク"}}},
    {"oskuda_equisolid_green", "Oskuda",
     {{256, 256, 24, "入力射影=2 入力画角=220 入力ﾏｽｸ=240 円形出力マスク 背景=1"}}},
    {"oskuda_central_square", "Oskuda",
     {{320, 240, 25, "入力射影=3 入力画角=90 正方形切抜 バイリニア補間"}}},
    {"oskuda_equirect", "Oskuda",
     {{384, 192, 26, "入力射影=4 正方形切抜 方位角=-90 出力画角=360 バイリニア補間"}}},
    // 400x400 from 256x192.
    {"oskuda_enlarged", "Oskuda",
     {{256, 192, 27, "縦幅指定を有効化 縦幅指定=400 正方形切抜 バイリニア補間"}}},
    {"oskuda_azimuth_sequence", "Oskuda",
     {{256, 256, 28, "方位角=-120.5 円形出力マスク"},
      {256, 256, 29, "方位角=-60.25"},
      {192, 192, 30, "方位角=0.04 バイリニア補間"},
      {320, 240, 31, "方位角=60.15 正方形切抜"},
      {320, 240, 32, "方位角=120"}}},

    {"trimbel_defaults", "Trimbel", {{384, 192, 41, ""}}},
    {"trimbel_turned", "Trimbel", {{384, 192, 42, "俯仰角=30 方位角=-45 回転角=20"}}},
    {"trimbel_bilinear", "Trimbel",
     {{384, 192, 43, "バイリニア補間 俯仰角=-90 方位角=180 回転角=-180"}}},
    // 512x256 from 256x256.
    {"trimbel_equidistant_2to1", "Trimbel", {{256, 256, 44, "入力射影=1 横:縦を2:1にする"}}},
    {"trimbel_orthographic", "Trimbel",
     {{256, 256, 45, "入力射影=2 横:縦を2:1にする バイリニア補間 背景=1"}}},
    {"trimbel_equisolid", "Trimbel", {{256, 256, 46, "入力射影=3 横:縦を2:1にする 入力画角=200"}}},
    {"trimbel_central", "Trimbel",
     {{320, 240, 47, "入力射影=4 横:縦を2:1にする 入力画角=90 方位角=30 バイリニア補間"}}},
    // 600x300 from 192x96.
    {"trimbel_enlarged", "Trimbel",
     {{192, 96, 48, "縦幅指定を有効化 縦幅指定=300 横:縦を2:1にする バイリニア補間"}}},
    {"trimbel_azimuth_sequence", "Trimbel",
     {{384, 192, 49, "方位角=-170 バイリニア補間"},
      {384, 192, 50, "方位角=-85.05"},
      {256, 128, 51, "方位角=0.01"},
      {512, 256, 52, "方位角=85.55 俯仰角=10"},
      {384, 192, 53, "方位角=170"}}},

    // Transparency: a semi-transparent input under each fill and both
    // samplers; an opaque input with the transparent fill, and with the
    // black one after a semi-transparent frame.
    {"varnel_alpha", "Varnel",
     {{320, 240, 61, "入力射影=1 入力画角=150 背景=0", true},
      {320, 240, 62, "背景=1", true},
      {320, 240, 63, "背景=2", true},
      {320, 240, 64, "バイリニア補間 背景=0", true},
      {320, 240, 65, "背景=1", true},
      {320, 240, 66, "背景=2", true}}},
    {"oskuda_alpha", "Oskuda",
     {{256, 256, 67, "入力画角=160 円形出力マスク バイリニア補間 背景=2", true},
      {256, 256, 68, "背景=1", true},
      {256, 256, 73, "背景=0", false},
      {256, 256, 69, "バイリニア補間=0 背景=2", false}}},
    {"trimbel_alpha", "Trimbel",
     {{256, 256, 70, "入力射影=1 横:縦を2:1にする 背景=2", true},
      {256, 256, 71, "バイリニア補間 背景=0", true},
      {256, 256, 72, "背景=2", false}}},
};

constexpr int kCaseCount = static_cast<int>(sizeof(kCases) / sizeof(kCases[0]));

inline int CallCount(const Case& c) {
  int n = 0;
  while (n < kMaxCalls && c.calls[n].w != 0) ++n;
  return n;
}

// An RGBA frame from a seed: any colour; alpha 255, or with `alpha` about a
// fifth each of 0 and 255 and the rest between.
inline void FillRgba(unsigned char* rgba, int w, int h, unsigned seed, bool alpha) {
  unsigned s = seed * 2654435761u + 0x9E3779B9u;
  for (long i = 0; i < 4L * w * h; ++i) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    unsigned char v = static_cast<unsigned char>(s >> 24);
    if (i % 4 == 3) v = !alpha || v > 204 ? 255 : v < 51 ? 0 : v;
    rgba[i] = v;
  }
}

}  // namespace editor2check
