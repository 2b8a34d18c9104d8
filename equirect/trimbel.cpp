// The Trimbel filter table and frame entry.
#include "trimbel.h"

#include <cstdlib>

#include "controls.h"
#include "filter_table.h"

namespace trimbel {
namespace {

using lens::Text;
namespace captions = lens::captions;

char* track_names[kTrackCount] = {
    Text(captions::kInFov.text),  Text(captions::kInMask.text), Text(captions::kPitch.text),
    Text(captions::kAzimuth.text), Text(captions::kRoll.text),  Text(captions::kShiftX.text),
    Text(captions::kShiftY.text), Text(captions::kHeight.text),
};
int track_default[kTrackCount] = {1800, 3600, 0, 0, 0, 0, 0, 480};
int track_s[kTrackCount] = {0, 0, -1800, -1800, -1800, -1200, -200, 1};
int track_e[kTrackCount] = {3600, 3600, 1800, 1800, 1800, 1200, 200, 4096};

char* check_names[kCheckCount] = {
    Text(captions::kUseHeight.text),
    Text(captions::kEquidistant.text),
    Text(captions::kOrthographicInput.text),
    Text(captions::kEquisolidInput.text),
    Text(captions::kCentralInput.text),
    Text(captions::kWidth2x1.text),
    Text(captions::kGreenBack.text),
    Text(captions::kBilinear.text),
};
int check_default[kCheckCount] = {0, 0, 0, 0, 0, 0, 0, 0};

// Trimbel for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
constexpr const char* kInformation =
    "Trimbel for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5, Version 2017/08/31(x10) by ORDANE";

FILTER_DLL filter_table = lens::MakeFilterTable(
    "Trimbel(x10)", kInformation, kTrackCount, track_names, track_default, track_s, track_e,
    kCheckCount, check_names, check_default, func_proc);

void* HeapAllocate(std::size_t bytes) { return std::malloc(bytes); }
void HeapRelease(void* table) { std::free(table); }

}  // namespace

lens::SourceProjection EquirectInput(const int* check) {
  return lens::SelectedInput(check, kInputBoxes, lens::SourceProjection::Equirectangular);
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

  return lens::HandBackScratchFrame(fpip, size.w, size.h);
}

BOOL func_proc(FILTER* fp, FILTER_PROC_INFO* fpip) {
  static constexpr TableAllocator kHeap{HeapAllocate, HeapRelease};
  return FrameEntry(fp, fpip, kHeap);
}

FILTER_DLL* FilterTable() { return &filter_table; }

}  // namespace trimbel

LENS_PLUGIN_EXPORT FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void) { return trimbel::FilterTable(); }
