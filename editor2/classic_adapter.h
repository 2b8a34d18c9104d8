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
#include "transparency.h"

namespace editor2 {

// What the item list needs beyond the classic table, found from the
// table's captions in the filters' caption table. Strings are Shift-JIS
// (code page 932) bytes, like the table's own captions.
struct ClassicFilter {
  unsigned angle_tracks = 0;  // bit i set: track i holds tenths of a degree
  int height_track = -1;      // the track that sets the output height, or -1
  int first_input_box = -1;   // check boxes first..last pick the input projection
  int last_input_box = -1;    // (the highest ticked wins); -1, -1 if none
  const char* input_name = nullptr;         // caption of the select item that replaces them
  const char* no_input_box_name = nullptr;  // the choice meaning "no input box ticked"
  int use_height_box = -1;  // the box that lets the height track set the output, or -1
  int green_box = -1;       // the green fill's box, offered as the fill list, or -1
  int bilinear_box = -1;    // the box that picks the bilinear sampler over the nearest, or -1
};

// The description of a classic table; false if its input boxes are not one
// run of check boxes or leave more than one projection without a box.
bool DescribeClassic(const FILTER_DLL& table, ClassicFilter* filter);

// Where a classic control went in the item list.
struct ItemSource {
  enum Kind { kTrack, kCheck, kInputSelect, kFillSelect } kind;
  int index;     // track or check index in the classic table (-1 for the select)
  double scale;  // classic value = item value x scale (tracks)
};

// The classic control values for one frame, built from the item values.
struct ClassicControls {
  std::vector<int> track;
  std::vector<int> check;
  Fill fill = Fill::kBlack;  // the fill list (the green box is ticked for kGreen)
};

// The fill list's values.
enum FillChoice { kFillBlack = 0, kFillGreen = 1, kFillTransparent = 2 };

// An enlarged output is limited per side, as the classic editor limits it by
// its maximum image size; the input itself always fits.
constexpr int kMaxEnlargedSide = 8192;

// Shift-JIS bytes to UTF-16; invalid bytes become U+FFFD.
std::wstring ShiftJisToWide(const char* text);

class ClassicAdapter {
 public:
  // `get_table` is the classic plug-in's export; `proc_video` is the plain
  // function the editor calls, which forwards to ProcessVideo of this adapter.
  ClassicAdapter(GetFilterTableFn get_table, bool (*proc_video)(FILTER_PROC_VIDEO*));
  ClassicAdapter(const ClassicAdapter&) = delete;
  ClassicAdapter& operator=(const ClassicAdapter&) = delete;

  // Null if the classic table was missing or unusable.
  FILTER_PLUGIN_TABLE* table() { return usable_ ? &table_ : nullptr; }

  // The classic values the items hold now (degrees to tenths, rounded to the
  // nearest integer and limited to the classic range).
  ClassicControls ReadControls() const;

  // One frame: RGBA -> YC48, the classic func_proc, YC48 -> RGBA, with the
  // input's alpha and a transparent fill carried by a second run on the
  // alpha plane; with the nearest sampler, one run on the index plane
  // (transparency.h). Returns false (the editor then stops processing this frame) only when the
  // frame cannot be processed at all: no memory, or the plug-in handed back
  // something unusable.
  bool ProcessVideo(FILTER_PROC_VIDEO* video) const;

 private:
  ClassicFilter filter_;
  const FILTER_DLL* classic_ = nullptr;
  bool usable_ = false;
  // Item storage: fixed once built, so the pointers in items_ stay valid.
  std::deque<std::wstring> strings_;  // a deque never moves what it holds
  std::unique_ptr<FILTER_ITEM_TRACK[]> tracks_;
  std::unique_ptr<FILTER_ITEM_CHECK[]> checks_;
  FILTER_ITEM_SELECT select_{};
  std::vector<FILTER_ITEM_SELECT_ITEM> select_list_;
  FILTER_ITEM_SELECT fill_select_{};
  std::vector<FILTER_ITEM_SELECT_ITEM> fill_list_;
  std::vector<void*> items_;
  std::vector<ItemSource> sources_;  // parallel to items_ (without its null end)
  FILTER_PLUGIN_TABLE table_{};

  const WideChar* Keep(std::wstring text);
};

}  // namespace editor2
