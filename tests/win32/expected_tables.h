// The filter tables as the editor must find them: titles, information
// strings, captions (Shift-JIS bytes), defaults and ranges of each plug-in.
// Both test hosts check every table they load against these.
#pragma once

namespace wincheck {

struct ExpectedTable {
  const char* plugin;
  const char* title;
  const char* information;
  int track_n;
  const char* const* track_names;
  const int* track_default;
  const int* track_s;
  const int* track_e;
  int check_n;
  const char* const* check_names;
};

namespace expected {

// Each caption once; the lists below name them.
constexpr const char kInFov[] = "\x93\xFC\x97\xCD\x89\xE6\x8Ap";  // 入力画角
constexpr const char kInMask[] = "\x93\xFC\x97\xCD\xCF\xBD\xB8";  // 入力ﾏｽｸ
constexpr const char kOutFov[] = "\x8Fo\x97\xCD\x89\xE6\x8Ap";  // 出力画角
constexpr const char kPitch[] = "\x98\xEB\x8B\xC2\x8Ap";  // 俯仰角
constexpr const char kAzimuth[] = "\x95\xFB\x88\xCA\x8Ap";  // 方位角
constexpr const char kRoll[] = "\x89\xF1\x93]\x8Ap";  // 回転角
constexpr const char kShiftX[] = "\x83V\x83t\x83g\x82w";  // シフトＸ
constexpr const char kShiftY[] = "\x83V\x83t\x83g\x82x";  // シフトＹ
constexpr const char kHeight[] = "\x8F" "c\x95\x9D\x8Ew\x92\xE8";  // 縦幅指定
constexpr const char kUseHeight[] = "\x8F" "c\x95\x9D\x8Ew\x92\xE8\x82\xF0\x97L\x8C\xF8\x89\xBB";  // 縦幅指定を有効化
constexpr const char kEquidistantInput[] = "\x93\x99\x8B\x97\x97\xA3\x8E\xCB\x89" "e/\x83h\x81[\x83\x80\x83}\x83X\x83^\x93\xFC\x97\xCD";  // 等距離射影/ドームマスタ入力
constexpr const char kOrthographicInput[] = "\x90\xB3\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD";  // 正射影魚眼入力
constexpr const char kEquisolidInput[] = "\x93\x99\x97\xA7\x91\xCC\x8Ap\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD";  // 等立体角射影魚眼入力
constexpr const char kEquirectangularInput[] = "\x90\xB3\x8B\x97\x89~\x93\x9B\x90}\x96@(Equirectangular)";  // 正距円筒図法(Equirectangular)
constexpr const char kWidth16x9[] = "\x89\xA1\x95\x9D\x81\x81" "16/9\x81~\x8F" "c\x95\x9D\x82\xC9\x82\xB7\x82\xE9";  // 横幅＝16/9×縦幅にする
constexpr const char kWidth4x3[] = "\x89\xA1\x95\x9D\x81\x81" "4/3\x81~\x8F" "c\x95\x9D\x82\xC9\x82\xB7\x82\xE9";  // 横幅＝4/3×縦幅にする
constexpr const char kWidthSquare[] = "\x89\xA1\x95\x9D\x81\x81\x8F" "c\x95\x9D\x82\xC9\x82\xB7\x82\xE9";  // 横幅＝縦幅にする
constexpr const char kGreenBack[] = "\x83O\x83\x8A\x81[\x83\x93\x83o\x83" "b\x83N";  // グリーンバック
constexpr const char kBilinear[] = "\x83o\x83" "C\x83\x8A\x83j\x83" "A\x95\xE2\x8A\xD4";  // バイリニア補間
constexpr const char kCentralInput[] = "\x92\x86\x90S\x8E\xCB\x89" "e(\x8E\xCA\x90^)\x93\xFC\x97\xCD";  // 中心射影(写真)入力
constexpr const char kSquareCutOut[] = "\x90\xB3\x95\xFB\x8C`\x90\xD8\x94\xB2";  // 正方形切抜
constexpr const char kCircleMask[] = "\x89~\x8C`\x8Fo\x97\xCD\x83}\x83X\x83N";  // 円形出力マスク
constexpr const char kEquidistant[] = "\x93\x99\x8B\x97\x97\xA3\x8E\xCB\x89" "e/\x83h\x81[\x83\x80\x83}\x83X\x83^";  // 等距離射影/ドームマスタ
constexpr const char kTwoToOne[] = "\x89\xA1:\x8F" "c\x82\xF0" "2:1\x82\xC9\x82\xB7\x82\xE9";  // 横:縦を2:1にする

// Varnel. Oskuda shows the same track-bar captions.
constexpr const char* kVarnelTracks[] = {
    kInFov, kInMask, kOutFov, kPitch, kAzimuth, kRoll, kShiftX, kShiftY, kHeight,
};
constexpr int kVarnelTrackDefault[] = {1800, 3600, 900, 0, 0, 0, 0, 0, 480};
constexpr int kVarnelTrackS[] = {0, 0, 0, -1800, -1800, -1800, -1200, -200, 1};
constexpr int kVarnelTrackE[] = {3600, 3600, 1800, 1800, 1800, 1800, 1200, 200, 4096};
constexpr const char* kVarnelChecks[] = {
    kUseHeight, kEquidistantInput, kOrthographicInput, kEquisolidInput, kEquirectangularInput, kWidth16x9,
    kWidth4x3, kWidthSquare, kGreenBack, kBilinear,
};

// Oskuda's track bars carry Varnel's captions; only the output angle range differs.
constexpr int kOskudaTrackDefault[] = {1800, 3600, 1800, 0, 0, 0, 0, 0, 480};
constexpr int kOskudaTrackS[] = {0, 0, 0, -1800, -1800, -1800, -1200, -200, 1};
constexpr int kOskudaTrackE[] = {3600, 3600, 3600, 1800, 1800, 1800, 1200, 200, 4096};
constexpr const char* kOskudaChecks[] = {
    kUseHeight, kOrthographicInput, kEquisolidInput, kCentralInput, kEquirectangularInput, kSquareCutOut,
    kCircleMask, kGreenBack, kBilinear,
};

constexpr const char* kTrimbelTracks[] = {
    kInFov, kInMask, kPitch, kAzimuth, kRoll, kShiftX, kShiftY, kHeight,
};
constexpr int kTrimbelTrackDefault[] = {1800, 3600, 0, 0, 0, 0, 0, 480};
constexpr int kTrimbelTrackS[] = {0, 0, -1800, -1800, -1800, -1200, -200, 1};
constexpr int kTrimbelTrackE[] = {3600, 3600, 1800, 1800, 1800, 1200, 200, 4096};
constexpr const char* kTrimbelChecks[] = {
    kUseHeight, kEquidistant, kOrthographicInput, kEquisolidInput, kCentralInput, kTwoToOne, kGreenBack,
    kBilinear,
};

constexpr const char* kInformation[] = {
    "Varnel\x83v\x83\x89\x83O\x83" "C\x83\x93 for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5, Version 2017/08/31(x10) by ORDANE",  // Varnelプラグイン for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
    "Oskuda for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5, Version 2017/08/31(x10) by ORDANE",  // Oskuda for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
    "Trimbel for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5, Version 2017/08/31(x10) by ORDANE",  // Trimbel for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
};

}  // namespace expected

constexpr ExpectedTable kExpectedTables[] = {
    {"Varnel", "Varnel(x10)", expected::kInformation[0], 9, expected::kVarnelTracks,
     expected::kVarnelTrackDefault, expected::kVarnelTrackS, expected::kVarnelTrackE, 10,
     expected::kVarnelChecks},
    {"Oskuda", "Oskuda(x10)", expected::kInformation[1], 9, expected::kVarnelTracks,
     expected::kOskudaTrackDefault, expected::kOskudaTrackS, expected::kOskudaTrackE, 9,
     expected::kOskudaChecks},
    {"Trimbel", "Trimbel(x10)", expected::kInformation[2], 8, expected::kTrimbelTracks,
     expected::kTrimbelTrackDefault, expected::kTrimbelTrackS, expected::kTrimbelTrackE, 8,
     expected::kTrimbelChecks},
};

}  // namespace wincheck
