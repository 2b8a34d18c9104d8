// The Varnel filter table and frame entry.
#include "varnel.h"

#include "controls.h"
#include "filter_table.h"

namespace varnel {
namespace {

using lens::Text;
namespace captions = lens::captions;

char* track_names[kTrackCount] = {
    Text(captions::kInFov.text),   Text(captions::kInMask.text), Text(captions::kOutFov.text),
    Text(captions::kPitch.text),   Text(captions::kAzimuth.text), Text(captions::kRoll.text),
    Text(captions::kShiftX.text),  Text(captions::kShiftY.text), Text(captions::kHeight.text),
};
int track_default[kTrackCount] = {1800, 3600, 900, 0, 0, 0, 0, 0, 480};
int track_s[kTrackCount] = {0, 0, 0, -1800, -1800, -1800, -1200, -200, 1};
int track_e[kTrackCount] = {3600, 3600, 1800, 1800, 1800, 1800, 1200, 200, 4096};

char* check_names[kCheckCount] = {
    Text(captions::kUseHeight.text),
    Text(captions::kEquidistantInput.text),
    Text(captions::kOrthographicInput.text),
    Text(captions::kEquisolidInput.text),
    Text(captions::kEquirectangular.text),
    Text(captions::kWidth16x9.text),
    Text(captions::kWidth4x3.text),
    Text(captions::kWidthSquare.text),
    Text(captions::kGreenBack.text),
    Text(captions::kBilinear.text),
};
int check_default[kCheckCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

// Varnelプラグイン for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
constexpr const char* kInformation =
    "Varnel\x83v\x83\x89\x83O\x83" "C\x83\x93 for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5,"
    " Version 2017/08/31(x10) by ORDANE";

FILTER_DLL filter_table = lens::MakeFilterTable(
    "Varnel(x10)", kInformation, kTrackCount, track_names, track_default, track_s, track_e,
    kCheckCount, check_names, check_default, func_proc);

}  // namespace

lens::SourceProjection PerspectiveInput(const int* check) {
  return lens::SelectedInput(check, kInputBoxes, lens::SourceProjection::Central);
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
  return lens::HandBackScratchFrame(fpip, job.out_w, job.out_h);
}

FILTER_DLL* FilterTable() { return &filter_table; }

}  // namespace varnel

LENS_PLUGIN_EXPORT FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void) { return varnel::FilterTable(); }
