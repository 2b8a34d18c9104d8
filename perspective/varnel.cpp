// The Varnel filter table and frame entry.
#include "varnel.h"

#include "controls.h"
#include "filter_table.h"

namespace varnel {
namespace {

namespace captions = lens::captions;

// A perspective view stops short of 180 degrees.
constexpr captions::Control kTracks[kTrackCount] = {
    captions::kInFov,  captions::kInMask,  captions::kOutFov.WithRange(900, 0, 1800),
    captions::kPitch,  captions::kAzimuth, captions::kRoll,
    captions::kShiftX, captions::kShiftY,  captions::kHeight,
};
constexpr const char* kChecks[kCheckCount] = {
    captions::kUseHeight.text,  captions::kEquidistantInput.text, captions::kOrthographicInput.text,
    captions::kEquisolidInput.text, captions::kEquirectangular.text, captions::kWidth16x9.text,
    captions::kWidth4x3.text,   captions::kWidthSquare.text,      captions::kGreenBack.text,
    captions::kBilinear.text,
};

// Varnelプラグイン for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
constexpr const char* kInformation =
    "Varnel\x83v\x83\x89\x83O\x83" "C\x83\x93 for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5,"
    " Version 2017/08/31(x10) by ORDANE";

lens::FilterDefinition<kTrackCount, kCheckCount> definition{
    "Varnel(x10)", kInformation, kTracks, kChecks,
    lens::RemapEntry<RemapJob, MakeRemapJob, RemapPerspective, RemapPerspectiveReference>};

}  // namespace

lens::OutputSize PerspectiveOutputSize(const int* track, const int* check, int w, int h, int max_w,
                                       int max_h) {
  std::int32_t out_w = w;
  std::int32_t out_h = h;
  if (check[kUseHeight] != 0) {
    out_h = track[kHeight];
    out_w = lens::WidthAtHeightProductFirst(w, h, out_h);
  }
  switch (lens::HighestTicked(check, kWidth16x9, kWidthSquare, -1)) {
    case kWidthSquare: out_w = out_h; break;
    case kWidth4x3: out_w = lens::TruncateSize(static_cast<double>(out_h) * 4.0 / 3.0); break;
    case kWidth16x9: out_w = lens::TruncateSize(static_cast<double>(out_h) * 16.0 / 9.0); break;
    default: break;
  }
  return lens::LimitToCapacity(lens::EvenDown(out_w), lens::EvenDown(out_h), max_w, max_h);
}

RemapJob MakeRemapJob(const FILTER* fp, FILTER_PROC_INFO* fpip) {
  const int* track = fp->track;
  const int* check = fp->check;
  RemapJob job;
  job.rotation = lens::TrackRotation<Track>(track);
  job.out_fov = lens::TenthsToDegrees(track[kOutFov]);
  lens::ReadSharedControls<Track, Check>(
      track, check, PerspectiveOutputSize(track, check, fpip->w, fpip->h, fpip->max_w, fpip->max_h),
      lens::SelectedInput(check, kInputBoxes), &job);
  job.proc_info = fpip;
  return job;
}

FILTER_DLL* FilterTable() { return &definition.table; }

}  // namespace varnel

LENS_PLUGIN_EXPORT FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void) { return varnel::FilterTable(); }
