// One adapter for every classic filter plug-in: it turns the plug-in's
// FILTER_DLL into the 64-bit editor's FILTER_PLUGIN_TABLE and runs the
// plug-in's own func_proc on each frame the editor hands over. The plug-in is
// reached only through its GetFilterTable and the func_proc of that table,
// as the classic editor reaches it.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "aviutl_filter.h"
#include "filter2_records.h"

namespace editor2 {

// What the classic table does not say and the new item list needs. Strings
// are Shift-JIS (code page 932) bytes, like the table's own captions.
struct ClassicFilter {
  GetFilterTableFn get_table;
  unsigned angle_tracks;   // bit i set: track i holds tenths of a degree
  int height_track;        // the track that sets the output height, or -1
  int first_input_box;     // check boxes first..last pick the input projection
  int last_input_box;      // (the highest ticked wins); -1, -1 if none
  const char* input_name;  // caption of the select item that replaces them
  const char* no_input_box_name;  // the choice meaning "no input box ticked"
};

// Where a classic control went in the item list.
struct ItemSource {
  enum Kind { kTrack, kCheck, kInputSelect } kind;
  int index;     // track or check index in the classic table (-1 for the select)
  double scale;  // classic value = item value x scale (tracks)
};

// The classic control values for one frame, built from the item values.
struct ClassicControls {
  std::vector<int> track;
  std::vector<int> check;
};

// An enlarged output is limited per side, as the classic editor limits it by
// its maximum image size; the input itself always fits.
constexpr int kMaxEnlargedSide = 8192;

// Shift-JIS bytes to UTF-16; invalid bytes become U+FFFD.
std::wstring ShiftJisToWide(const char* text);

class ClassicAdapter {
 public:
  // `proc_video` is the plain function the editor calls; it forwards to
  // ProcessVideo of this adapter.
  ClassicAdapter(const ClassicFilter& filter, bool (*proc_video)(FILTER_PROC_VIDEO*));
  ClassicAdapter(const ClassicAdapter&) = delete;
  ClassicAdapter& operator=(const ClassicAdapter&) = delete;

  // Null if the classic table was missing or unusable.
  FILTER_PLUGIN_TABLE* table() { return usable_ ? &table_ : nullptr; }

  // The classic values the items hold now (degrees to tenths, rounded to the
  // nearest integer and limited to the classic range).
  ClassicControls ReadControls() const;

  // One frame: RGBA -> YC48, the classic func_proc, YC48 -> opaque RGBA.
  // Returns false (the editor then stops processing this frame) only when the
  // frame cannot be processed at all: no memory, or the plug-in handed back
  // something unusable.
  bool ProcessVideo(FILTER_PROC_VIDEO* video) const;

 private:
  const ClassicFilter filter_;
  const FILTER_DLL* classic_ = nullptr;
  bool usable_ = false;
  // Item storage: fixed once built, so the pointers in items_ stay valid.
  std::deque<std::wstring> strings_;  // a deque never moves what it holds
  std::unique_ptr<FILTER_ITEM_TRACK[]> tracks_;
  std::unique_ptr<FILTER_ITEM_CHECK[]> checks_;
  FILTER_ITEM_SELECT select_{};
  std::vector<FILTER_ITEM_SELECT_ITEM> select_list_;
  std::vector<void*> items_;
  std::vector<ItemSource> sources_;  // parallel to items_ (without its null end)
  FILTER_PLUGIN_TABLE table_{};

  const WideChar* Keep(std::wstring text);
};

}  // namespace editor2

// The export of a .auf2 built around one classic table. The entry
// file of each filter only names its ClassicFilter.
#define LENS_EDITOR2_ENTRY(classic_filter)                                                \
  namespace {                                                                             \
  bool LensEditor2ProcVideo(editor2::FILTER_PROC_VIDEO* video);                           \
  editor2::ClassicAdapter& LensEditor2Adapter() {                                         \
    static editor2::ClassicAdapter adapter(classic_filter, LensEditor2ProcVideo);         \
    return adapter;                                                                       \
  }                                                                                       \
  bool LensEditor2ProcVideo(editor2::FILTER_PROC_VIDEO* video) {                          \
    return LensEditor2Adapter().ProcessVideo(video);                                      \
  }                                                                                       \
  }                                                                                       \
  extern "C" __declspec(dllexport) editor2::FILTER_PLUGIN_TABLE* GetFilterPluginTable(void) { \
    return LensEditor2Adapter().table();                                                  \
  }
