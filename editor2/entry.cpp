// The export of a .auf2: the classic plug-in it is linked with, behind the
// adapter. The same file serves every filter; the adapter finds what the
// item list needs in the classic table itself.
#include "classic_adapter.h"

extern "C" FILTER_DLL* LENS_PLUGIN_CALL GetFilterTable(void);  // the classic plug-in's export

namespace {

bool ProcVideo(editor2::FILTER_PROC_VIDEO* video);

editor2::ClassicAdapter& Adapter() {
  static editor2::ClassicAdapter adapter(GetFilterTable, ProcVideo);
  return adapter;
}

bool ProcVideo(editor2::FILTER_PROC_VIDEO* video) { return Adapter().ProcessVideo(video); }

}  // namespace

extern "C" __declspec(dllexport) editor2::FILTER_PLUGIN_TABLE* GetFilterPluginTable(void) {
  return Adapter().table();
}
