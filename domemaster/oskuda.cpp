// The Oskuda filter table and frame entry.
#include "oskuda.h"

#include "controls.h"

namespace oskuda {
namespace {

// Captions are the editor's Shift-JIS bytes. A string is split where a hex
// escape would otherwise swallow the next letter.
char* Text(const char* s) { return const_cast<char*>(s); }

char* track_names[kTrackCount] = {
    Text("\x93\xFC\x97\xCD\x89\xE6\x8Ap"),       // 入力画角 input angle of view
    Text("\x93\xFC\x97\xCD\xCF\xBD\xB8"),        // 入力ﾏｽｸ input mask (half-width katakana)
    Text("\x8Fo\x97\xCD\x89\xE6\x8Ap"),          // 出力画角 output angle of view
    Text("\x98\xEB\x8B\xC2\x8Ap"),               // 俯仰角 pitch
    Text("\x95\xFB\x88\xCA\x8Ap"),               // 方位角 azimuth
    Text("\x89\xF1\x93]\x8Ap"),                  // 回転角 roll
    Text("\x83V\x83t\x83g\x82w"),                // シフトＸ shift X (full-width X)
    Text("\x83V\x83t\x83g\x82x"),                // シフトＹ shift Y (full-width Y)
    Text("\x8F" "c\x95\x9D\x8Ew\x92\xE8"),       // 縦幅指定 height setting
};
int track_default[kTrackCount] = {1800, 3600, 1800, 0, 0, 0, 0, 0, 480};
int track_s[kTrackCount] = {0, 0, 0, -1800, -1800, -1800, -1200, -200, 1};
int track_e[kTrackCount] = {3600, 3600, 3600, 1800, 1800, 1800, 1200, 200, 4096};

char* check_names[kCheckCount] = {
    Text("\x8F" "c\x95\x9D\x8Ew\x92\xE8\x82\xF0\x97L\x8C\xF8\x89\xBB"),  // 縦幅指定を有効化
    Text("\x90\xB3\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD"),  // 正射影魚眼入力
    Text("\x93\x99\x97\xA7\x91\xCC\x8Ap\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD"),  // 等立体角射影魚眼入力
    Text("\x92\x86\x90S\x8E\xCB\x89" "e(\x8E\xCA\x90^)\x93\xFC\x97\xCD"),  // 中心射影(写真)入力
    Text("\x90\xB3\x8B\x97\x89~\x93\x9B\x90}\x96@(Equirectangular)"),  // 正距円筒図法(Equirectangular)
    Text("\x90\xB3\x95\xFB\x8C`\x90\xD8\x94\xB2"),                      // 正方形切抜 square cut-out
    Text("\x89~\x8C`\x8Fo\x97\xCD\x83}\x83X\x83N"),                    // 円形出力マスク circular output mask
    Text("\x83O\x83\x8A\x81[\x83\x93\x83o\x83" "b\x83N"),              // グリーンバック
    Text("\x83o\x83" "C\x83\x8A\x83j\x83" "A\x95\xE2\x8A\xD4"),        // バイリニア補間
};
int check_default[kCheckCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0};

FILTER_DLL filter_table = {
    FILTER_FLAG_EX_INFORMATION,
    0, 0,
    Text("Oskuda(x10)"),
    kTrackCount, track_names, track_default, track_s, track_e,
    kCheckCount, check_names, check_default,
    func_proc,
    nullptr, nullptr, nullptr, nullptr,  // init, exit, update, window procedure
    nullptr, nullptr,                    // track, check: the editor's own arrays
    nullptr, 0,                          // extra data
    // Oskuda for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
    Text("Oskuda for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5, Version 2017/08/31(x10) by ORDANE"),
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr,
    {0, 0},
};

}  // namespace

lens::SourceProjection DomeInput(const int* check) {
  // Boxes in index order, each ticked one overriding: the highest wins.
  static constexpr lens::SourceProjection kByBox[] = {
      lens::SourceProjection::Equidistant,  // no box: index 0 stands for "none"
      lens::SourceProjection::Orthographic, lens::SourceProjection::Equisolid,
      lens::SourceProjection::Central, lens::SourceProjection::Equirectangular};
  return kByBox[lens::HighestTicked(check, kOrthographicInput, kEquirectangularInput, 0)];
}

lens::ViewRotation DomeRotation(float pitch, float azimuth, float roll,
                                lens::SourceProjection projection) {
  // The Oskuda chain of the core expects these offsets: with them, positive
  // pitch looks up, positive azimuth right, positive roll turns the picture
  // counter-clockwise, as in the other filters.
  if (projection == lens::SourceProjection::Equirectangular) azimuth = azimuth - 90.0f;
  roll = roll + 90.0f;
  azimuth = -azimuth;
  return lens::MakeViewRotation(roll, azimuth, pitch);
}

OutputSize DomeOutputSize(const int* track, const int* check, int w, int h, int max_w,
                          int max_h) {
  std::int32_t out_w = w;
  std::int32_t out_h = h;
  if (check[kUseHeight] != 0) {
    out_h = track[kHeight];
    // (w / h) * H: the quotient first (Varnel multiplies first). A zero
    // height makes the quotient infinite or NaN; TruncateSize gives 0 then.
    const float aspect = static_cast<float>(w) / static_cast<float>(h);
    out_w = lens::TruncateSize(aspect * static_cast<float>(out_h));
  }
  out_w = lens::EvenDown(out_w);
  out_h = lens::EvenDown(out_h);
  if (check[kSquareCutOut] != 0) out_w = out_h;
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
  const lens::SourceProjection projection = DomeInput(check);
  const lens::ViewRotation rotation =
      DomeRotation(lens::TenthsToDegrees(track[kPitch]), lens::TenthsToDegrees(track[kAzimuth]),
                   lens::TenthsToDegrees(track[kRoll]), projection);
  const OutputSize size = DomeOutputSize(track, check, fpip->w, fpip->h, fpip->max_w, fpip->max_h);
  RemapJob job;
  job.cos_roll = rotation.cos_roll;
  job.sin_roll = rotation.sin_roll;
  job.cos_azimuth = rotation.cos_azimuth;
  job.sin_azimuth = rotation.sin_azimuth;
  job.cos_pitch = rotation.cos_pitch;
  job.sin_pitch = rotation.sin_pitch;
  job.out_w = size.w;
  job.out_h = size.h;
  job.green_back = check[kGreenBack] != 0 ? 1 : 0;
  job.circle_mask = check[kCircleMask] != 0 ? 1 : 0;
  job.bilinear = check[kBilinear] != 0 ? 1.0f : 0.0f;
  job.source_projection = static_cast<std::int32_t>(projection);
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
  RemapDomeMasterReference(job);  // the benchmark's per-pixel build (OskudaReference)
#else
  RemapDomeMaster(job);
#endif
  PIXEL_YC* const written = fpip->ycp_temp;
  fpip->ycp_temp = fpip->ycp_edit;
  fpip->ycp_edit = written;
  fpip->w = job.out_w;
  fpip->h = job.out_h;
  return 1;
}

FILTER_DLL* FilterTable() { return &filter_table; }

}  // namespace oskuda

LENS_PLUGIN_EXPORT FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void) { return oskuda::FilterTable(); }
