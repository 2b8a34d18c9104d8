#include "plugin_host.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#ifndef LENS_PLUGIN_DIR
#define LENS_PLUGIN_DIR "."
#endif

namespace host {

#ifdef _WIN32
// LoadLibraryA and GetProcAddress, as the editor loads a .auf.
namespace {
void* OpenLibrary(const std::string& path, std::string* reason) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) *reason = "LoadLibraryA error " + std::to_string(GetLastError());
  return reinterpret_cast<void*>(module);
}
void* FindSymbol(void* handle, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void CloseLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
}  // namespace
#else
namespace {
void* OpenLibrary(const std::string& path, std::string* reason) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* text = dlerror();
    *reason = text ? text : "unknown error";
  }
  return handle;
}
void* FindSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void CloseLibrary(void* handle) { dlclose(handle); }
}  // namespace
#endif

std::unique_ptr<PluginLibrary> PluginLibrary::Open(const std::string& path, std::string* error) {
  std::string reason;
  void* handle = OpenLibrary(path, &reason);
  if (handle == nullptr) {
    *error = "cannot load plug-in " + path + ": " + reason;
    return nullptr;
  }
  auto get_table = reinterpret_cast<GetFilterTableFn>(FindSymbol(handle, "GetFilterTable"));
  if (get_table == nullptr) {
    *error = "not a filter plug-in (no GetFilterTable export): " + path;
    CloseLibrary(handle);
    return nullptr;
  }
  FILTER_DLL* table = get_table();
  if (table == nullptr || table->func_proc == nullptr || table->track_n < 0 || table->check_n < 0) {
    *error = "plug-in returned no usable filter table: " + path;
    CloseLibrary(handle);
    return nullptr;
  }
  std::unique_ptr<PluginLibrary> library(new PluginLibrary());
  library->handle_ = handle;
  library->table_ = table;
  library->path_ = path;
  return library;
}

PluginLibrary::~PluginLibrary() {
  if (handle_ != nullptr) CloseLibrary(handle_);
}

FilterInstance::FilterInstance(const FILTER_DLL& table) {
  static_assert(sizeof(FILTER) == sizeof(FILTER_DLL), "same layout");
  std::memcpy(&filter, &table, sizeof(FILTER));
  SetControls(std::vector<int>(table.track_default, table.track_default + table.track_n),
              std::vector<int>(table.check_default, table.check_default + table.check_n));
}

FilterInstance::FilterInstance(const FILTER_DLL& table, std::vector<int> track_values,
                               std::vector<int> check_values)
    : FilterInstance(table) {
  SetControls(std::move(track_values), std::move(check_values));
}

void FilterInstance::SetControls(std::vector<int> track_values, std::vector<int> check_values) {
  track = std::move(track_values);
  check = std::move(check_values);
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
  return RunFrame(instance, edit, temp, w, h, buffers.max_w, buffers.max_h);
}

FrameResult RunFrame(FilterInstance& instance, PIXEL_YC* edit, PIXEL_YC* temp, int w, int h,
                     int max_w, int max_h) {
  FILTER_PROC_INFO info = MakeFrameInfo(edit, temp, w, h, max_w, max_h);
  FrameResult result;
  result.returned = instance.filter.func_proc(&instance.filter, &info);
  result.w = info.w;
  result.h = info.h;
  result.exchanged = info.ycp_edit == temp && info.ycp_temp == edit;
  result.frame = info.ycp_edit;
  result.scratch = info.ycp_temp;
  return result;
}


#ifdef _WIN32
// <folder of this program>\..\plugins\<Name>.auf: the Windows build tree.
std::string BuiltPluginPath(const std::string& name) {
  char program[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string folder(program, length);
  const std::size_t slash = folder.find_last_of("\\/");
  folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
  return folder + "\\..\\plugins\\" + name + ".auf";
}
#else
std::string BuiltPluginPath(const std::string& name) {
  return std::string(LENS_PLUGIN_DIR) + "/" + name + ".so";
}
#endif

}  // namespace host
