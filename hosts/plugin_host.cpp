#include "plugin_host.h"

#include <dlfcn.h>

#include <cstring>

#ifndef LENS_PLUGIN_DIR
#define LENS_PLUGIN_DIR "."
#endif

namespace host {

std::unique_ptr<PluginLibrary> PluginLibrary::Open(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* reason = dlerror();
    *error = "cannot load plug-in " + path + ": " + (reason ? reason : "unknown error");
    return nullptr;
  }
  auto get_table = reinterpret_cast<GetFilterTableFn>(dlsym(handle, "GetFilterTable"));
  if (get_table == nullptr) {
    *error = "not a filter plug-in (no GetFilterTable export): " + path;
    dlclose(handle);
    return nullptr;
  }
  FILTER_DLL* table = get_table();
  if (table == nullptr || table->func_proc == nullptr || table->track_n < 0 || table->check_n < 0) {
    *error = "plug-in returned no usable filter table: " + path;
    dlclose(handle);
    return nullptr;
  }
  std::unique_ptr<PluginLibrary> library(new PluginLibrary());
  library->handle_ = handle;
  library->table_ = table;
  library->path_ = path;
  return library;
}

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

FilterInstance::FilterInstance(const FILTER_DLL& table) {
  static_assert(sizeof(FILTER) == sizeof(FILTER_DLL), "same layout");
  std::memcpy(&filter, &table, sizeof(FILTER));
  track.assign(table.track_default, table.track_default + table.track_n);
  check.assign(table.check_default, table.check_default + table.check_n);
  filter.track = track.empty() ? nullptr : track.data();
  filter.check = check.empty() ? nullptr : check.data();
}

FrameBuffers::FrameBuffers(int w, int h)
    : max_w(w), max_h(h),
      a(static_cast<size_t>(w) * static_cast<size_t>(h)),
      b(static_cast<size_t>(w) * static_cast<size_t>(h)) {}

FrameResult RunFrame(FilterInstance& instance, FrameBuffers& buffers, int w, int h,
                     bool edit_is_a) {
  PIXEL_YC* edit = edit_is_a ? buffers.a.data() : buffers.b.data();
  PIXEL_YC* temp = edit_is_a ? buffers.b.data() : buffers.a.data();
  FILTER_PROC_INFO info;
  std::memset(&info, 0, sizeof(info));
  info.ycp_edit = edit;
  info.ycp_temp = temp;
  info.w = w;
  info.h = h;
  info.max_w = buffers.max_w;
  info.max_h = buffers.max_h;
  info.org_w = w;
  info.org_h = h;
  info.yc_size = static_cast<int>(sizeof(PIXEL_YC));
  info.line_size = buffers.max_w * static_cast<int>(sizeof(PIXEL_YC));
  FrameResult result;
  result.returned = instance.filter.func_proc(&instance.filter, &info);
  result.w = info.w;
  result.h = info.h;
  result.exchanged = info.ycp_edit == temp && info.ycp_temp == edit;
  result.frame = info.ycp_edit;
  result.scratch = info.ycp_temp;
  return result;
}

std::string BuiltPluginPath(const std::string& name) {
  return std::string(LENS_PLUGIN_DIR) + "/" + name + ".so";
}

}  // namespace host
