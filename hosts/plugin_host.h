// Loading and driving a filter plug-in the way the editor does: dlopen,
// GetFilterTable, a FILTER copy of the table with the host's own track and
// check arrays, a FILTER_PROC_INFO with two buffers of max_w x max_h pixels,
// func_proc, then the frame it hands back. Used by the tests, the benchmark
// and the command-line host.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "aviutl_filter.h"

namespace host {

// A loaded plug-in library. Closing it (destruction) invalidates the table.
class PluginLibrary {
 public:
  // Returns null and sets *error when the file cannot be loaded or has no
  // GetFilterTable export or returns no table.
  static std::unique_ptr<PluginLibrary> Open(const std::string& path, std::string* error);
  ~PluginLibrary();
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const FILTER_DLL& table() const { return *table_; }
  const std::string& path() const { return path_; }

 private:
  PluginLibrary() = default;
  void* handle_ = nullptr;
  FILTER_DLL* table_ = nullptr;
  std::string path_;
};

// The editor's run-time copy of a table: track and check point at arrays the
// host owns, initialised from the table's defaults.
struct FilterInstance {
  FILTER filter;
  std::vector<int> track;
  std::vector<int> check;

  explicit FilterInstance(const FILTER_DLL& table);
  // The table with these control values in place of its defaults.
  FilterInstance(const FILTER_DLL& table, std::vector<int> track_values, std::vector<int> check_values);
  FilterInstance(const FilterInstance&) = delete;
  // New control values, the FILTER's arrays pointing at them.
  void SetControls(std::vector<int> track_values, std::vector<int> check_values);
  FilterInstance& operator=(const FilterInstance&) = delete;
};

// The two frame buffers of max_w x max_h pixels each, as the editor owns them.
struct FrameBuffers {
  int max_w = 0;
  int max_h = 0;
  std::vector<PIXEL_YC> a;
  std::vector<PIXEL_YC> b;

  FrameBuffers(int max_w, int max_h);
};

// What one call of func_proc did.
struct FrameResult {
  BOOL returned = 0;
  int w = 0;  // size reported back
  int h = 0;
  bool exchanged = false;  // ycp_edit now points at the former scratch buffer
  const PIXEL_YC* frame = nullptr;  // the frame handed back (ycp_edit after the call)
  const PIXEL_YC* scratch = nullptr;  // the other buffer (ycp_temp after the call)
};

// Runs func_proc with `edit` as the current frame of size w x h and the other
// buffer as scratch. `edit_is_a` picks which of the two buffers holds the
// current frame.
FrameResult RunFrame(FilterInstance& instance, FrameBuffers& buffers, int w, int h,
                     bool edit_is_a = true);

// Runs func_proc on two buffers the caller owns (capacity max_w x max_h each),
// `edit` holding the current frame of size w x h.
FrameResult RunFrame(FilterInstance& instance, PIXEL_YC* edit, PIXEL_YC* temp, int w, int h,
                     int max_w, int max_h);

// Path of a plug-in built beside this program's build tree
// (<build>/plugins/<Name>.so), for a name such as "Varnel".
std::string BuiltPluginPath(const std::string& name);

}  // namespace host
