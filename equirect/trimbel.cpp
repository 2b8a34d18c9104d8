// The Trimbel filter table and frame entry.
#include "trimbel.h"

#include <cstdlib>

#include "controls.h"
#include "filter_table.h"

namespace trimbel {
namespace {

namespace captions = lens::captions;

constexpr captions::Control kTracks[kTrackCount] = {
    captions::kInFov, captions::kInMask, captions::kPitch,  captions::kAzimuth,
    captions::kRoll,  captions::kShiftX, captions::kShiftY, captions::kHeight,
};
// The equidistant box has the short caption here.
constexpr const char* kChecks[kCheckCount] = {
    captions::kUseHeight.text,      captions::kEquidistant.text, captions::kOrthographicInput.text,
    captions::kEquisolidInput.text, captions::kCentralInput.text, captions::kWidth2x1.text,
    captions::kGreenBack.text,      captions::kBilinear.text,
};

// Trimbel for AviUtl OpenMP対応版, Version 2017/08/31(x10) by ORDANE
constexpr const char* kInformation =
    "Trimbel for AviUtl OpenMP\x91\xCE\x89\x9E\x94\xC5, Version 2017/08/31(x10) by ORDANE";

lens::FilterDefinition<kTrackCount, kCheckCount> definition{"Trimbel(x10)", kInformation, kTracks, kChecks,
                                                            func_proc};

void* HeapAllocate(std::size_t bytes) { return std::malloc(bytes); }
void HeapRelease(void* table) { std::free(table); }

}  // namespace

lens::OutputSize EquirectOutputSize(const int* track, const int* check, int w, int h, int max_w,
                                    int max_h) {
  const lens::OutputSize chosen = lens::SizeAtChosenHeight(check[kUseHeight] != 0, track[kHeight], w, h);
  const std::int32_t out_h = lens::EvenDown(chosen.h);
  // 2:1 from the even height, worked out in 64 bits: twice a height below
  // -2^30 does not fit 32 bits and would wrap to a width beyond the capacity.
  const std::int64_t wide =
      check[kTwoToOne] != 0 ? 2 * static_cast<std::int64_t>(out_h) : lens::EvenDown(chosen.w);
  return lens::LimitToCapacity(wide, out_h, max_w, max_h);
}

BOOL FrameEntry(FILTER* fp, FILTER_PROC_INFO* fpip, const TableAllocator& allocator) {
  const int* track = fp->track;
  const int* check = fp->check;
  const lens::OutputSize size =
      EquirectOutputSize(track, check, fpip->w, fpip->h, fpip->max_w, fpip->max_h);

  // The tables only save trigonometry: a table that cannot be had stays null
  // and the remap computes the same values itself.
  const std::size_t table_bytes = static_cast<std::size_t>(size.w) * sizeof(float);
  float* const sin_lon = static_cast<float*>(allocator.allocate(table_bytes));
  float* const cos_lon = static_cast<float*>(allocator.allocate(table_bytes));
  FillLongitudeTables(cos_lon, sin_lon, size.w, lens::kPi);

  RemapJob job;
  job.cos_lon = cos_lon;
  job.sin_lon = sin_lon;
  job.rotation = lens::TrackRotation<Track>(track);
  lens::ReadSharedControls<Track, Check>(track, check, size, lens::SelectedInput(check, kInputBoxes), &job);
  job.proc_info = fpip;
  lens::ChosenRemap(RemapEquirectangular, RemapEquirectangularReference)(job);

  // Releasing a null table does nothing, as free(nullptr) does.
  if (sin_lon != nullptr) allocator.release(sin_lon);
  if (cos_lon != nullptr) allocator.release(cos_lon);

  return lens::HandBackScratchFrame(fpip, size.w, size.h);
}

BOOL func_proc(FILTER* fp, FILTER_PROC_INFO* fpip) {
  static constexpr TableAllocator kHeap{HeapAllocate, HeapRelease};
  return FrameEntry(fp, fpip, kHeap);
}

FILTER_DLL* FilterTable() { return &definition.table; }

}  // namespace trimbel

LENS_PLUGIN_EXPORT FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void) { return trimbel::FilterTable(); }
