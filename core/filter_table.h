// What every filter's table and frame entry share: a table with every
// unused field null or 0, and handing the written scratch frame back to the
// editor. The captions are in captions.h.
#pragma once

#include "aviutl_filter.h"
#include "captions.h"

namespace lens {

// A filter table with the information string supplied and every field not
// named here (callbacks, extra data, the editor's own arrays) null or 0.
constexpr FILTER_DLL MakeFilterTable(const char* name, const char* information, int track_n,
                                     char** track_name, int* track_default, int* track_s,
                                     int* track_e, int check_n, char** check_name,
                                     int* check_default, FilterProcFn func_proc) {
  FILTER_DLL table{};
  table.flag = FILTER_FLAG_EX_INFORMATION;
  table.name = Text(name);
  table.track_n = track_n;
  table.track_name = track_name;
  table.track_default = track_default;
  table.track_s = track_s;
  table.track_e = track_e;
  table.check_n = check_n;
  table.check_name = check_name;
  table.check_default = check_default;
  table.func_proc = func_proc;
  table.information = Text(information);
  return table;
}

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

}  // namespace lens
