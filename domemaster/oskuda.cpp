// The Oskuda filter table and frame entry.
#include "oskuda.h"

#include "controls.h"
#include "filter_table.h"

namespace oskuda {
namespace {

using lens::Text;
namespace captions = lens::captions;

char* track_names[kTrackCount] = {
    Text(captions::kInFov.text),   Text(captions::kInMask.text), Text(captions::kOutFov.text),
    Text(captions::kPitch.text),   Text(captions::kAzimuth.text), Text(captions::kRoll.text),
    Text(captions::kShiftX.text),  Text(captions::kShiftY.text), Text(captions::kHeight.text),
};
int track_default[kTrackCount] = {1800, 3600, 1800, 0, 0, 0, 0, 0, 480};
int track_s[kTrackCount] = {0, 0, 0, -1800, -1800, -1800, -1200, -200, 1};
int track_e[kTrackCount] = {3600, 3600, 3600, 1800, 1800, 1800, 1200, 200, 4096};

char* check_names[kCheckCount] = {
    Text(captions::kUseHeight.text),
    Text(captions::kOrthographicInput.text),
    Text(captions::kEquisolidInput.text),
    Text(captions::kCentralInput.text),
    Text(captions::kEquirectangular.text),
    Text(captions::kSquareCutOut.text),
    Text(captions::kCircleMask.text),
    Text(captions::kGreenBack.text),
    Text(captions::kBilinear.text),
};
int check_default[kCheckCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0};

// Oskuda for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
constexpr const char* kInformation =
    "Oskuda for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5, Version 2017/08/31(x10) by ORDANE";

FILTER_DLL filter_table = lens::MakeFilterTable(
    "Oskuda(x10)", kInformation, kTrackCount, track_names, track_default, track_s, track_e,
    kCheckCount, check_names, check_default, func_proc);

}  // namespace

lens::SourceProjection DomeInput(const int* check) {
  return lens::SelectedInput(check, kInputBoxes, lens::SourceProjection::Equidistant);
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
  return lens::HandBackScratchFrame(fpip, job.out_w, job.out_h);
}

FILTER_DLL* FilterTable() { return &filter_table; }

}  // namespace oskuda

LENS_PLUGIN_EXPORT FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void) { return oskuda::FilterTable(); }
