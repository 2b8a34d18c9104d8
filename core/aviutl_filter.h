// The editor's filter plug-in records, field for field as its published
// interface lays them out. Only the layout matters to the plug-ins; every field
// the editor defines is present so that a build for the 32-bit editor loads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pixel.h"

#if defined(_WIN32) && defined(LENS_PLUGIN_NOT_EXPORTED)
// Linked into another module (the 64-bit editor's adapter), whose own .def
// names its exports.
#define LENS_PLUGIN_EXPORT extern "C"
#define LENS_PLUGIN_CALL __stdcall
#elif defined(_WIN32)
#define LENS_PLUGIN_EXPORT extern "C" __declspec(dllexport)
#define LENS_PLUGIN_CALL __stdcall
#else
#define LENS_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))
#define LENS_PLUGIN_CALL
#endif

typedef int BOOL;  // the editor's 32-bit boolean; TRUE is 1

struct PIXEL {
  unsigned char b;
  unsigned char g;
  unsigned char r;
};

struct FILTER_PROC_INFO {
  int flag;
  PIXEL_YC* ycp_edit;  // current frame
  PIXEL_YC* ycp_temp;  // scratch frame of the same capacity
  int w, h;            // current frame size
  int max_w, max_h;    // capacity of both buffers; max_w is the row stride
  int frame;
  int frame_n;
  int org_w, org_h;
  short* audiop;
  int audio_n;
  int audio_ch;
  PIXEL* pixelp;
  void* editp;
  int yc_size;
  int line_size;
  int reserve[8];
};

struct FILTER;
typedef void* HWND_PTR;  // window and module handles are opaque pointers here
typedef void* HINSTANCE_PTR;

typedef BOOL (*FilterProcFn)(FILTER* fp, FILTER_PROC_INFO* fpip);
typedef BOOL (*FilterInitFn)(FILTER* fp);
typedef BOOL (*FilterExitFn)(FILTER* fp);
typedef BOOL (*FilterUpdateFn)(FILTER* fp, int status);
typedef BOOL (*FilterWndProcFn)(HWND_PTR hwnd, unsigned int message, std::uintptr_t wparam,
                                std::intptr_t lparam, void* editp, FILTER* fp);
typedef BOOL (*FilterSaveStartFn)(FILTER* fp, int s, int e, void* editp);
typedef BOOL (*FilterSaveEndFn)(FILTER* fp, void* editp);
typedef BOOL (*FilterIsSaveFrameFn)(FILTER* fp, void* editp, int saveno, int frame, int fps,
                                    int edit_flag, int inter);
typedef BOOL (*FilterProjectLoadFn)(FILTER* fp, void* editp, void* data, int size);
typedef BOOL (*FilterProjectSaveFn)(FILTER* fp, void* editp, void* data, int* size);
typedef BOOL (*FilterModifyTitleFn)(FILTER* fp, void* editp, int frame, char* title, int max_title);

// The plug-in's static table (FILTER_DLL) and the editor's run-time copy of it
// (FILTER) share one layout.
#define LENS_FILTER_FIELDS                   \
  int flag;                                  \
  int x, y;                                  \
  char* name;                                \
  int track_n;                               \
  char** track_name;                         \
  int* track_default;                        \
  int* track_s;                              \
  int* track_e;                              \
  int check_n;                               \
  char** check_name;                         \
  int* check_default;                        \
  FilterProcFn func_proc;                    \
  FilterInitFn func_init;                    \
  FilterExitFn func_exit;                    \
  FilterUpdateFn func_update;                \
  FilterWndProcFn func_WndProc;              \
  int* track;                                \
  int* check;                                \
  void* ex_data_ptr;                         \
  int ex_data_size;                          \
  char* information;                         \
  FilterSaveStartFn func_save_start;         \
  FilterSaveEndFn func_save_end;             \
  void* exfunc;                              \
  HWND_PTR hwnd;                             \
  HINSTANCE_PTR dll_hinst;                   \
  void* ex_data_def;                         \
  FilterIsSaveFrameFn func_is_saveframe;     \
  FilterProjectLoadFn func_project_load;     \
  FilterProjectSaveFn func_project_save;     \
  FilterModifyTitleFn func_modify_title;     \
  char* dll_path;                            \
  int reserve[2];

struct FILTER {
  LENS_FILTER_FIELDS
};

struct FILTER_DLL {
  LENS_FILTER_FIELDS
};

#undef LENS_FILTER_FIELDS

constexpr int FILTER_FLAG_EX_INFORMATION = 0x00040000;

static_assert(sizeof(FILTER) == sizeof(FILTER_DLL), "FILTER and FILTER_DLL share a layout");

#if UINTPTR_MAX == 0xFFFFFFFFu
// The editor is a 32-bit program: these are its sizes and offsets.
static_assert(sizeof(FILTER_PROC_INFO) == 104, "FILTER_PROC_INFO is 104 bytes");
static_assert(offsetof(FILTER_PROC_INFO, ycp_edit) == 4, "ycp_edit offset");
static_assert(offsetof(FILTER_PROC_INFO, ycp_temp) == 8, "ycp_temp offset");
static_assert(offsetof(FILTER_PROC_INFO, w) == 12, "w offset");
static_assert(offsetof(FILTER_PROC_INFO, h) == 16, "h offset");
static_assert(offsetof(FILTER_PROC_INFO, max_w) == 20, "max_w offset");
static_assert(offsetof(FILTER_PROC_INFO, max_h) == 24, "max_h offset");
static_assert(sizeof(FILTER_DLL) == 140, "FILTER_DLL is 140 bytes");
static_assert(offsetof(FILTER_DLL, name) == 12, "name offset");
static_assert(offsetof(FILTER_DLL, track_n) == 16, "track_n offset");
static_assert(offsetof(FILTER_DLL, check_n) == 36, "check_n offset");
static_assert(offsetof(FILTER_DLL, func_proc) == 48, "func_proc offset");
static_assert(offsetof(FILTER_DLL, track) == 68, "track offset");
static_assert(offsetof(FILTER_DLL, check) == 72, "check offset");
static_assert(offsetof(FILTER_DLL, information) == 84, "information offset");
static_assert(offsetof(FILTER, track) == 68, "FILTER track offset");
#endif

// Every plug-in exports exactly this one function.
typedef FILTER_DLL* (LENS_PLUGIN_CALL* GetFilterTableFn)(void);

// The frame record a host hands func_proc, as the editor fills it: `edit`
// holds the w x h frame in rows of max_w pixels, `temp` is the scratch frame
// of the same capacity; everything else is 0.
inline FILTER_PROC_INFO MakeFrameInfo(PIXEL_YC* edit, PIXEL_YC* temp, int w, int h, int max_w, int max_h) {
  FILTER_PROC_INFO info;
  std::memset(&info, 0, sizeof(info));
  info.ycp_edit = edit;
  info.ycp_temp = temp;
  info.w = w;
  info.h = h;
  info.max_w = max_w;
  info.max_h = max_h;
  info.org_w = w;
  info.org_h = h;
  info.yc_size = static_cast<int>(sizeof(PIXEL_YC));
  info.line_size = max_w * static_cast<int>(sizeof(PIXEL_YC));
  return info;
}
