// The Oskuda filter table and frame entry.
#include "oskuda.h"

#include "controls.h"
#include "filter_table.h"

namespace oskuda {
namespace {

namespace captions = lens::captions;

constexpr captions::Control kTracks[kTrackCount] = {
    captions::kInFov,  captions::kInMask,  captions::kOutFov,  captions::kPitch,  captions::kAzimuth,
    captions::kRoll,   captions::kShiftX,  captions::kShiftY,  captions::kHeight,
};
constexpr const char* kChecks[kCheckCount] = {
    captions::kUseHeight.text,    captions::kOrthographicInput.text, captions::kEquisolidInput.text,
    captions::kCentralInput.text, captions::kEquirectangular.text,   captions::kSquareCutOut.text,
    captions::kCircleMask.text,   captions::kGreenBack.text,         captions::kBilinear.text,
};

// Oskuda for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
constexpr const char* kInformation =
    "Oskuda for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5, Version 2017/08/31(x10) by ORDANE";

lens::FilterDefinition<kTrackCount, kCheckCount> definition{
    "Oskuda(x10)", kInformation, kTracks, kChecks,
    lens::RemapEntry<RemapJob, MakeRemapJob, RemapDomeMaster, RemapDomeMasterReference>};

}  // namespace

lens::ViewRotation DomeRotation(float pitch, float azimuth, float roll,
                                lens::SourceProjection projection) {
  // The rotation chain of the view (oskuda_view.h) expects these offsets: with them, positive
  // pitch looks up, positive azimuth right, positive roll turns the picture
  // counter-clockwise, as in the other filters.
  if (projection == lens::SourceProjection::Equirectangular) azimuth = azimuth - 90.0f;
  roll = roll + 90.0f;
  azimuth = -azimuth;
  return lens::MakeViewRotation(roll, azimuth, pitch);
}

lens::OutputSize DomeOutputSize(const int* track, const int* check, int w, int h, int max_w,
                                int max_h) {
  const lens::OutputSize chosen = lens::SizeAtChosenHeight(check[kUseHeight] != 0, track[kHeight], w, h);
  const std::int32_t out_h = lens::EvenDown(chosen.h);
  const std::int32_t out_w = check[kSquareCutOut] != 0 ? out_h : lens::EvenDown(chosen.w);
  return lens::LimitToCapacity(out_w, out_h, max_w, max_h);
}

RemapJob MakeRemapJob(const FILTER* fp, FILTER_PROC_INFO* fpip) {
  const int* track = fp->track;
  const int* check = fp->check;
  const lens::SourceProjection projection = lens::SelectedInput(check, kInputBoxes);
  const lens::OutputSize size = DomeOutputSize(track, check, fpip->w, fpip->h, fpip->max_w, fpip->max_h);
  RemapJob job;
  job.rotation = DomeRotation(lens::TenthsToDegrees(track[kPitch]), lens::TenthsToDegrees(track[kAzimuth]),
                              lens::TenthsToDegrees(track[kRoll]), projection);
  job.circle_mask = check[kCircleMask] != 0 ? 1 : 0;
  job.out_fov = lens::TenthsToDegrees(track[kOutFov]);
  lens::ReadSharedControls<Track, Check>(track, check, size, projection, &job);
  job.proc_info = fpip;
  return job;
}

FILTER_DLL* FilterTable() { return &definition.table; }

}  // namespace oskuda

LENS_PLUGIN_EXPORT FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void) { return oskuda::FilterTable(); }
