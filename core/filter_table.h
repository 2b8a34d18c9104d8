// What every filter's table and frame entry share: a table with every
// unused field null or 0, and handing the written scratch frame back to the
// editor. The captions are in captions.h.
#pragma once

#include <cstddef>

#include "aviutl_filter.h"
#include "captions.h"

namespace lens {

// The arrays a filter table points to: the track bars' captions, defaults
// and ranges, and the check boxes' captions and defaults (all unticked).
// The editor only reads them; they live as long as the plug-in.
template <std::size_t Tracks, std::size_t Checks>
struct TableArrays {
  char* track_name[Tracks];
  int track_default[Tracks];
  int track_s[Tracks];
  int track_e[Tracks];
  char* check_name[Checks];
  int check_default[Checks];
};

// `tracks` in table order, each with its default and range; `checks` the
// check boxes' captions in table order.
template <std::size_t Tracks, std::size_t Checks>
constexpr TableArrays<Tracks, Checks> MakeTableArrays(const captions::Control (&tracks)[Tracks],
                                                      const char* const (&checks)[Checks]) {
  TableArrays<Tracks, Checks> arrays{};
  for (std::size_t i = 0; i < Tracks; ++i) {
    arrays.track_name[i] = Text(tracks[i].text);
    arrays.track_default[i] = tracks[i].default_value;
    arrays.track_s[i] = tracks[i].start;
    arrays.track_e[i] = tracks[i].end;
  }
  for (std::size_t i = 0; i < Checks; ++i) arrays.check_name[i] = Text(checks[i]);
  return arrays;
}

// A filter table over `arrays`, with the information string supplied and
// every field not named here (callbacks, extra data, the editor's own
// arrays) null or 0.
template <std::size_t Tracks, std::size_t Checks>
constexpr FILTER_DLL MakeFilterTable(const char* name, const char* information,
                                     TableArrays<Tracks, Checks>& arrays, FilterProcFn func_proc) {
  FILTER_DLL table{};
  table.flag = FILTER_FLAG_EX_INFORMATION;
  table.name = Text(name);
  table.track_n = static_cast<int>(Tracks);
  table.track_name = arrays.track_name;
  table.track_default = arrays.track_default;
  table.track_s = arrays.track_s;
  table.track_e = arrays.track_e;
  table.check_n = static_cast<int>(Checks);
  table.check_name = arrays.check_name;
  table.check_default = arrays.check_default;
  table.func_proc = func_proc;
  table.information = Text(information);
  return table;
}

// A filter's table together with the arrays it points to, for a filter
// that lives as long as the plug-in.
template <std::size_t Tracks, std::size_t Checks>
struct FilterDefinition {
  TableArrays<Tracks, Checks> arrays;
  FILTER_DLL table;

  constexpr FilterDefinition(const char* name, const char* information,
                             const captions::Control (&tracks)[Tracks], const char* const (&checks)[Checks],
                             FilterProcFn func_proc)
      : arrays(MakeTableArrays(tracks, checks)), table(MakeFilterTable(name, information, arrays, func_proc)) {}
};

// The remap wrote the new frame into the scratch buffer: exchange the two
// buffers so the editor receives it, store its size, and report success.
inline BOOL HandBackScratchFrame(FILTER_PROC_INFO* fpip, int w, int h) {
  PIXEL_YC* const written = fpip->ycp_temp;
  fpip->ycp_temp = fpip->ycp_edit;
  fpip->ycp_edit = written;
  fpip->w = w;
  fpip->h = h;
  return 1;
}

// The remap a frame entry runs: the batched one, or, in the benchmark's
// per-pixel build of a plug-in (compiled with LENS_REFERENCE_REMAP), the
// reference it must match.
template <typename Job>
constexpr auto ChosenRemap(void (*batched)(const Job&), void (*reference)(const Job&)) {
#ifdef LENS_REFERENCE_REMAP
  static_cast<void>(batched);
  return reference;
#else
  static_cast<void>(reference);
  return batched;
#endif
}

// A filter's frame entry, its func_proc: the job from the controls and the
// frame, the chosen remap, and the scratch frame handed back as the output.
template <typename Job, Job (*kMakeJob)(const FILTER*, FILTER_PROC_INFO*), void (*kBatched)(const Job&),
          void (*kReference)(const Job&)>
BOOL RemapEntry(FILTER* fp, FILTER_PROC_INFO* fpip) {
  const Job job = kMakeJob(fp, fpip);
  ChosenRemap(kBatched, kReference)(job);
  return HandBackScratchFrame(fpip, job.out_w, job.out_h);
}

}  // namespace lens
