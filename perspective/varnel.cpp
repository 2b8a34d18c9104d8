// The Varnel filter table and frame entry.
#include "varnel.h"

#include "controls.h"

namespace varnel {
namespace {

// Captions are the editor's Shift-JIS bytes. A string is split where a hex
// escape would otherwise swallow the next letter.
char* Text(const char* s) { return const_cast<char*>(s); }

char* track_names[kTrackCount] = {
    Text("\x93\xFC\x97\xCD\x89\xE6\x8Ap"),       // 入力画角 input angle of view
    Text("\x93\xFC\x97\xCD\xCF\xBD\xB8"),        // 入力ﾏｽｸ input mask
    Text("\x8Fo\x97\xCD\x89\xE6\x8Ap"),          // 出力画角 output angle of view
    Text("\x98\xEB\x8B\xC2\x8Ap"),               // 俯仰角 pitch
    Text("\x95\xFB\x88\xCA\x8Ap"),               // 方位角 azimuth
    Text("\x89\xF1\x93]\x8Ap"),                  // 回転角 roll
    Text("\x83V\x83t\x83g\x82w"),                // シフトＸ shift X
    Text("\x83V\x83t\x83g\x82x"),                // シフトＹ shift Y
    Text("\x8F" "c\x95\x9D\x8Ew\x92\xE8"),       // 縦幅指定 height setting
};
int track_default[kTrackCount] = {1800, 3600, 900, 0, 0, 0, 0, 0, 480};
int track_s[kTrackCount] = {0, 0, 0, -1800, -1800, -1800, -1200, -200, 1};
int track_e[kTrackCount] = {3600, 3600, 1800, 1800, 1800, 1800, 1200, 200, 4096};

char* check_names[kCheckCount] = {
    Text("\x8F" "c\x95\x9D\x8Ew\x92\xE8\x82\xF0\x97L\x8C\xF8\x89\xBB"),  // 縦幅指定を有効化
    Text("\x93\x99\x8B\x97\x97\xA3\x8E\xCB\x89" "e/\x83h\x81[\x83\x80\x83}\x83X\x83^"
         "\x93\xFC\x97\xCD"),                                         // 等距離射影/ドームマスタ入力
    Text("\x90\xB3\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD"),  // 正射影魚眼入力
    Text("\x93\x99\x97\xA7\x91\xCC\x8Ap\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD"),  // 等立体角射影魚眼入力
    Text("\x90\xB3\x8B\x97\x89~\x93\x9B\x90}\x96@(Equirectangular)"),  // 正距円筒図法(Equirectangular)
    Text("\x89\xA1\x95\x9D\x81\x81" "16/9\x81~\x8F" "c\x95\x9D\x82\xC9\x82\xB7\x82\xE9"),  // 横幅＝16/9×縦幅にする
    Text("\x89\xA1\x95\x9D\x81\x81" "4/3\x81~\x8F" "c\x95\x9D\x82\xC9\x82\xB7\x82\xE9"),   // 横幅＝4/3×縦幅にする
    Text("\x89\xA1\x95\x9D\x81\x81\x8F" "c\x95\x9D\x82\xC9\x82\xB7\x82\xE9"),            // 横幅＝縦幅にする
    Text("\x83O\x83\x8A\x81[\x83\x93\x83o\x83" "b\x83N"),              // グリーンバック
    Text("\x83o\x83" "C\x83\x8A\x83j\x83" "A\x95\xE2\x8A\xD4"),        // バイリニア補間
};
int check_default[kCheckCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

FILTER_DLL filter_table = {
    FILTER_FLAG_EX_INFORMATION,
    0, 0,
    Text("Varnel(x10)"),
    kTrackCount, track_names, track_default, track_s, track_e,
    kCheckCount, check_names, check_default,
    func_proc,
    nullptr, nullptr, nullptr, nullptr,  // init, exit, update, window procedure
    nullptr, nullptr,                    // track, check: the editor's own arrays
    nullptr, 0,                          // extra data
    // Varnelプラグイン for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
    Text("Varnel\x83v\x83\x89\x83O\x83" "C\x83\x93 for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5,"
         " Version 2017/08/31(x10) by ORDANE"),
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr,
    {0, 0},
};

}  // namespace

lens::SourceProjection PerspectiveInput(const int* check) {
  // Boxes in index order, each ticked one overriding: the highest wins.
  static constexpr lens::SourceProjection kByBox[] = {
      lens::SourceProjection::Central,  // no box: index 0 stands for "none"
      lens::SourceProjection::Equidistant, lens::SourceProjection::Orthographic,
      lens::SourceProjection::Equisolid, lens::SourceProjection::Equirectangular};
  return kByBox[lens::HighestTicked(check, kEquidistantInput, kEquirectangularInput, 0)];
}

OutputSize PerspectiveOutputSize(const int* track, const int* check, int w, int h, int max_w,
                                 int max_h) {
  std::int32_t out_w = w;
  std::int32_t out_h = h;
  if (check[kUseHeight] != 0) {
    out_h = track[kHeight];
    const float product = static_cast<float>(w) * static_cast<float>(out_h);
    out_w = lens::TruncateSize(product / static_cast<float>(h));
  }
  switch (lens::HighestTicked(check, kWidth16x9, kWidthSquare, -1)) {
    case kWidthSquare: out_w = out_h; break;
    case kWidth4x3: out_w = lens::TruncateSize(static_cast<double>(out_h) * 4.0 / 3.0); break;
    case kWidth16x9: out_w = lens::TruncateSize(static_cast<double>(out_h) * 16.0 / 9.0); break;
    default: break;
  }
  out_w = lens::EvenDown(out_w);
  out_h = lens::EvenDown(out_h);
  if (out_w > max_w) out_w = max_w;
  if (out_h > max_h) out_h = max_h;
  // Values the editor's track bars cannot produce must still give a valid size.
  if (out_w < 0) out_w = 0;
  if (out_h < 0) out_h = 0;
  return OutputSize{out_w, out_h};
}

RemapJob MakeRemapJob(const FILTER* fp, FILTER_PROC_INFO* fpip) {
  const int* track = fp->track;
  const int* check = fp->check;
  const float pitch = lens::TenthsToDegrees(track[kPitch]);
  const float azimuth = lens::TenthsToDegrees(track[kAzimuth]);
  const float roll = lens::TenthsToDegrees(track[kRoll]);
  const OutputSize size =
      PerspectiveOutputSize(track, check, fpip->w, fpip->h, fpip->max_w, fpip->max_h);
  RemapJob job;
  job.rotation = lens::MakeViewRotation(roll, azimuth, pitch);
  job.out_w = size.w;
  job.out_h = size.h;
  job.green_back = check[kGreenBack] != 0 ? 1 : 0;
  job.source_projection = static_cast<std::int32_t>(PerspectiveInput(check));
  job.bilinear = check[kBilinear] != 0 ? 1.0f : 0.0f;
  job.shift_y = static_cast<float>(track[kShiftY]);
  job.shift_x = static_cast<float>(track[kShiftX]);
  job.out_fov = lens::TenthsToDegrees(track[kOutFov]);
  job.in_mask = lens::TenthsToDegrees(track[kInMask]);
  job.in_fov = lens::TenthsToDegrees(track[kInFov]);
  job.pi = lens::kPi;
  job.proc_info = fpip;
  return job;
}

BOOL func_proc(FILTER* fp, FILTER_PROC_INFO* fpip) {
  const RemapJob job = MakeRemapJob(fp, fpip);
#ifdef LENS_REFERENCE_REMAP
  RemapPerspectiveReference(job);  // the benchmark's per-pixel build (VarnelReference)
#else
  RemapPerspective(job);
#endif
  PIXEL_YC* const written = fpip->ycp_temp;
  fpip->ycp_temp = fpip->ycp_edit;
  fpip->ycp_edit = written;
  fpip->w = job.out_w;
  fpip->h = job.out_h;
  return 1;
}

FILTER_DLL* FilterTable() { return &filter_table; }

}  // namespace varnel

LENS_PLUGIN_EXPORT FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void) { return varnel::FilterTable(); }
