// The Trimbel filter table and frame entry.
#include "trimbel.h"

#include <cstdlib>

#include "controls.h"

namespace trimbel {
namespace {

// Captions are the editor's Shift-JIS bytes. A string is split where a hex
// escape would otherwise swallow the next letter.
char* Text(const char* s) { return const_cast<char*>(s); }

char* track_names[kTrackCount] = {
    Text("\x93\xFC\x97\xCD\x89\xE6\x8Ap"),       // 入力画角 input angle of view
    Text("\x93\xFC\x97\xCD\xCF\xBD\xB8"),        // 入力ﾏｽｸ input mask
    Text("\x98\xEB\x8B\xC2\x8Ap"),               // 俯仰角 pitch
    Text("\x95\xFB\x88\xCA\x8Ap"),               // 方位角 azimuth
    Text("\x89\xF1\x93]\x8Ap"),                  // 回転角 roll
    Text("\x83V\x83t\x83g\x82w"),                // シフトＸ shift X
    Text("\x83V\x83t\x83g\x82x"),                // シフトＹ shift Y
    Text("\x8F" "c\x95\x9D\x8Ew\x92\xE8"),       // 縦幅指定 height setting
};
int track_default[kTrackCount] = {1800, 3600, 0, 0, 0, 0, 0, 480};
int track_s[kTrackCount] = {0, 0, -1800, -1800, -1800, -1200, -200, 1};
int track_e[kTrackCount] = {3600, 3600, 1800, 1800, 1800, 1200, 200, 4096};

char* check_names[kCheckCount] = {
    Text("\x8F" "c\x95\x9D\x8Ew\x92\xE8\x82\xF0\x97L\x8C\xF8\x89\xBB"),  // 縦幅指定を有効化
    Text("\x93\x99\x8B\x97\x97\xA3\x8E\xCB\x89" "e/\x83h\x81[\x83\x80\x83}\x83X\x83^"),  // 等距離射影/ドームマスタ
    Text("\x90\xB3\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD"),  // 正射影魚眼入力
    Text("\x93\x99\x97\xA7\x91\xCC\x8Ap\x8E\xCB\x89" "e\x8B\x9B\x8A\xE1\x93\xFC\x97\xCD"),  // 等立体角射影魚眼入力
    Text("\x92\x86\x90S\x8E\xCB\x89" "e(\x8E\xCA\x90^)\x93\xFC\x97\xCD"),  // 中心射影(写真)入力
    Text("\x89\xA1:\x8F" "c\x82\xF0" "2:1\x82\xC9\x82\xB7\x82\xE9"),     // 横:縦を2:1にする
    Text("\x83O\x83\x8A\x81[\x83\x93\x83o\x83" "b\x83N"),              // グリーンバック
    Text("\x83o\x83" "C\x83\x8A\x83j\x83" "A\x95\xE2\x8A\xD4"),        // バイリニア補間
};
int check_default[kCheckCount] = {0, 0, 0, 0, 0, 0, 0, 0};

FILTER_DLL filter_table = {
    FILTER_FLAG_EX_INFORMATION,
    0, 0,
    Text("Trimbel(x10)"),
    kTrackCount, track_names, track_default, track_s, track_e,
    kCheckCount, check_names, check_default,
    func_proc,
    nullptr, nullptr, nullptr, nullptr,  // init, exit, update, window procedure
    nullptr, nullptr,                    // track, check: the editor's own arrays
    nullptr, 0,                          // extra data
    // Trimbel for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
    Text("Trimbel for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5, Version 2017/08/31(x10) by ORDANE"),
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, nullptr, nullptr, nullptr,
    {0, 0},
};

void* HeapAllocate(std::size_t bytes) { return std::malloc(bytes); }
void HeapRelease(void* table) { std::free(table); }

}  // namespace

lens::SourceProjection EquirectInput(const int* check) {
  // Boxes in index order, each ticked one overriding: the highest wins.
  static constexpr lens::SourceProjection kByBox[] = {
      lens::SourceProjection::Equirectangular,  // no box: index 0 stands for "none"
      lens::SourceProjection::Equidistant, lens::SourceProjection::Orthographic,
      lens::SourceProjection::Equisolid, lens::SourceProjection::Central};
  return kByBox[lens::HighestTicked(check, kEquidistantInput, kCentralInput, 0)];
}

OutputSize EquirectOutputSize(const int* track, const int* check, int w, int h, int max_w,
                              int max_h) {
  std::int32_t out_w = w;
  std::int32_t out_h = h;
  if (check[kUseHeight] != 0) {
    out_h = track[kHeight];
    // The input's aspect ratio first, then scaled; a zero height makes the
    // ratio infinite or NaN, which TruncateSize turns into an empty width.
    const float aspect = static_cast<float>(w) / static_cast<float>(h);
    out_w = lens::TruncateSize(aspect * static_cast<float>(out_h));
  }
  out_w = lens::EvenDown(out_w);
  out_h = lens::EvenDown(out_h);
  // 2:1 from the even height, worked out in 64 bits so that no height can
  // overflow the doubling; the limit below brings it back into range.
  std::int64_t wide = out_w;
  if (check[kTwoToOne] != 0) wide = 2 * static_cast<std::int64_t>(out_h);
  // Both limits before the narrowing: twice a height below -2^30 does not
  // fit 32 bits and would wrap to a positive width beyond the capacity.
  if (wide > max_w) wide = max_w;
  if (wide < 0) wide = 0;
  out_w = static_cast<std::int32_t>(wide);
  if (out_h > max_h) out_h = max_h;
  // Values the editor's track bars cannot produce must still give a valid size.
  if (out_w < 0) out_w = 0;
  if (out_h < 0) out_h = 0;
  return OutputSize{out_w, out_h};
}

BOOL FrameEntry(FILTER* fp, FILTER_PROC_INFO* fpip, const TableAllocator& allocator) {
  const int* track = fp->track;
  const int* check = fp->check;
  const float pitch = lens::TenthsToDegrees(track[kPitch]);
  const float azimuth = lens::TenthsToDegrees(track[kAzimuth]);
  const float roll = lens::TenthsToDegrees(track[kRoll]);
  const OutputSize size =
      EquirectOutputSize(track, check, fpip->w, fpip->h, fpip->max_w, fpip->max_h);

  // The tables only save trigonometry: a table that cannot be had stays null
  // and the remap computes the same values itself.
  const std::size_t table_bytes = static_cast<std::size_t>(size.w) * sizeof(float);
  float* const sin_lon = static_cast<float*>(allocator.allocate(table_bytes));
  float* const cos_lon = static_cast<float*>(allocator.allocate(table_bytes));
  FillLongitudeTables(cos_lon, sin_lon, size.w, lens::kPi);

  const lens::ViewRotation rotation = lens::MakeViewRotation(roll, azimuth, pitch);
  RemapJob job;
  job.cos_lon = cos_lon;
  job.sin_lon = sin_lon;
  job.cos_roll = rotation.cos_roll;
  job.sin_roll = rotation.sin_roll;
  job.cos_azimuth = rotation.cos_azimuth;
  job.sin_azimuth = rotation.sin_azimuth;
  job.cos_pitch = rotation.cos_pitch;
  job.sin_pitch = rotation.sin_pitch;
  job.out_w = size.w;
  job.out_h = size.h;
  job.green_back = check[kGreenBack] != 0 ? 1 : 0;
  job.bilinear = check[kBilinear] != 0 ? 1 : 0;
  job.source_projection = static_cast<std::int32_t>(EquirectInput(check));
  job.shift_y = static_cast<float>(track[kShiftY]);
  job.shift_x = static_cast<float>(track[kShiftX]);
  job.in_mask = lens::TenthsToDegrees(track[kInMask]);
  job.in_fov = lens::TenthsToDegrees(track[kInFov]);
  job.pi = lens::kPi;
  job.proc_info = fpip;
#ifdef LENS_REFERENCE_REMAP
  RemapEquirectangularReference(job);  // the benchmark's per-pixel build (TrimbelReference)
#else
  RemapEquirectangular(job);
#endif

  // Releasing a null table does nothing, as free(nullptr) does.
  if (sin_lon != nullptr) allocator.release(sin_lon);
  if (cos_lon != nullptr) allocator.release(cos_lon);

  PIXEL_YC* const written = fpip->ycp_temp;
  fpip->ycp_temp = fpip->ycp_edit;
  fpip->ycp_edit = written;
  fpip->w = size.w;
  fpip->h = size.h;
  return 1;
}

BOOL func_proc(FILTER* fp, FILTER_PROC_INFO* fpip) {
  static constexpr TableAllocator kHeap{HeapAllocate, HeapRelease};
  return FrameEntry(fp, fpip, kHeap);
}

FILTER_DLL* FilterTable() { return &filter_table; }

}  // namespace trimbel

LENS_PLUGIN_EXPORT FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void) { return trimbel::FilterTable(); }
