// The 64-bit editor's filter plug-in records (its second plug-in interface),
// written for this project from the published layout. Only the fields this
// project reads or fills are typed; every record is x64-only and its offsets
// are checked below. The editor appends fields in later versions, so records
// the editor allocates (FILTER_PROC_VIDEO, OBJECT_INFO) are declared as the
// prefix this project uses.
#pragma once

#include <cstddef>
#include <cstdint>

namespace editor2 {

// Strings are UTF-16 (LPCWSTR). On Windows wchar_t is 16 bits.
typedef wchar_t WideChar;

enum : int {
  FILTER_FLAG_VIDEO = 1,
  FILTER_FLAG_AUDIO = 2,
  FILTER_FLAG_INPUT = 4,     // media object / generator
  FILTER_FLAG_FILTER = 8,    // usable as a filter object; the size cannot change there
  FILTER_FLAG_USERDATA = 16,
};

struct PIXEL_RGBA {  // 8-bit straight RGBA, DXGI R8G8B8A8_UNORM order
  std::uint8_t r, g, b, a;
};

struct SCENE_INFO {
  int width, height;
  int rate, scale;  // frames per second = rate / scale
  int sample_rate;
};

struct OBJECT_INFO {
  std::int64_t id;
  int frame;        // local to the object
  int frame_total;
  double time;      // seconds, local to the object
  double time_total;
  int width;        // size of the image get_image_data returns
  int height;
  std::int64_t sample_index;
  std::int64_t sample_total;
  int sample_num;
  int channel_num;
  std::int64_t effect_id;
  int flag;         // 1: filter object
  int layer;
  int index;
  int num;
  int frame_s, frame_e;
  int effect_layer;
};

struct FILTER_PROC_VIDEO {
  const SCENE_INFO* scene;
  const OBJECT_INFO* object;
  // Copies the current image (object->width x object->height pixels, rows of
  // width pixels) into buf.
  void (*get_image_data)(PIXEL_RGBA* buf);
  // Replaces the image by w x h pixels from buf (rows of w pixels).
  void (*set_image_data)(const PIXEL_RGBA* buf, int w, int h);
  // Later editor versions append more members here; this project uses none.
};

struct FILTER_PROC_AUDIO;  // not used: these filters have no audio part

// Items. Each starts with its type string and its name; the name is shown to
// the user and is also the setting's key in alias and project files. The
// editor writes the current value into `value` before each call of
// func_proc_video.
struct FILTER_ITEM_TRACK {  // type L"track"
  const WideChar* type;
  const WideChar* name;
  double value;
  double s, e;  // minimum, maximum
  double step;  // 1.0, 0.1, 0.01 or 0.001
};

struct FILTER_ITEM_CHECK {  // type L"check"
  const WideChar* type;
  const WideChar* name;
  bool value;
};

struct FILTER_ITEM_SELECT_ITEM {  // one choice; a null name ends the list
  const WideChar* name;
  int value;
};

struct FILTER_ITEM_SELECT {  // type L"select"
  const WideChar* type;
  const WideChar* name;
  int value;
  const FILTER_ITEM_SELECT_ITEM* list;
};

struct FILTER_PLUGIN_TABLE {
  int flag;
  const WideChar* name;         // effect name, also its key in alias files
  const WideChar* label;        // null: the default label
  const WideChar* information;
  void** items;                 // null-terminated list of item pointers
  bool (*func_proc_video)(FILTER_PROC_VIDEO* video);
  bool (*func_proc_audio)(FILTER_PROC_AUDIO* audio);
  void* (*func_create)(std::int64_t effect_id);              // read only with USERDATA
  void (*func_destroy)(std::int64_t effect_id, void* data);  // read only with USERDATA
};

#if defined(_WIN32)
static_assert(sizeof(WideChar) == 2, "the editor's strings are UTF-16");
#endif

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
static_assert(offsetof(FILTER_PLUGIN_TABLE, name) == 8, "table name");
static_assert(offsetof(FILTER_PLUGIN_TABLE, label) == 16, "table label");
static_assert(offsetof(FILTER_PLUGIN_TABLE, information) == 24, "table information");
static_assert(offsetof(FILTER_PLUGIN_TABLE, items) == 32, "table items");
static_assert(offsetof(FILTER_PLUGIN_TABLE, func_proc_video) == 40, "table func_proc_video");
static_assert(offsetof(FILTER_PLUGIN_TABLE, func_proc_audio) == 48, "table func_proc_audio");
static_assert(offsetof(FILTER_PLUGIN_TABLE, func_create) == 56, "table func_create");
static_assert(offsetof(FILTER_PLUGIN_TABLE, func_destroy) == 64, "table func_destroy");

static_assert(offsetof(FILTER_ITEM_TRACK, name) == 8, "track name");
static_assert(offsetof(FILTER_ITEM_TRACK, value) == 16, "track value");
static_assert(offsetof(FILTER_ITEM_TRACK, s) == 24, "track minimum");
static_assert(offsetof(FILTER_ITEM_TRACK, e) == 32, "track maximum");
static_assert(offsetof(FILTER_ITEM_TRACK, step) == 40, "track step");
static_assert(offsetof(FILTER_ITEM_CHECK, value) == 16, "check value");
static_assert(offsetof(FILTER_ITEM_SELECT, value) == 16, "select value");
static_assert(offsetof(FILTER_ITEM_SELECT, list) == 24, "select list");
static_assert(offsetof(FILTER_ITEM_SELECT_ITEM, value) == 8, "select choice value");

static_assert(sizeof(PIXEL_RGBA) == 4, "PIXEL_RGBA is four bytes");
static_assert(offsetof(FILTER_PROC_VIDEO, object) == 8, "video object");
static_assert(offsetof(FILTER_PROC_VIDEO, get_image_data) == 16, "video get_image_data");
static_assert(offsetof(FILTER_PROC_VIDEO, set_image_data) == 24, "video set_image_data");
static_assert(offsetof(OBJECT_INFO, frame) == 8, "object frame");
static_assert(offsetof(OBJECT_INFO, frame_total) == 12, "object frame_total");
static_assert(offsetof(OBJECT_INFO, time) == 16, "object time");
static_assert(offsetof(OBJECT_INFO, time_total) == 24, "object time_total");
static_assert(offsetof(OBJECT_INFO, width) == 32, "object width");
static_assert(offsetof(OBJECT_INFO, height) == 36, "object height");
static_assert(offsetof(OBJECT_INFO, sample_index) == 40, "object sample_index");
static_assert(offsetof(OBJECT_INFO, sample_total) == 48, "object sample_total");
static_assert(offsetof(OBJECT_INFO, sample_num) == 56, "object sample_num");
static_assert(offsetof(OBJECT_INFO, channel_num) == 60, "object channel_num");
static_assert(offsetof(OBJECT_INFO, effect_id) == 64, "object effect_id");
static_assert(offsetof(OBJECT_INFO, flag) == 72, "object flag");
static_assert(offsetof(OBJECT_INFO, layer) == 76, "object layer");
static_assert(offsetof(OBJECT_INFO, index) == 80, "object index");
static_assert(offsetof(OBJECT_INFO, num) == 84, "object num");
static_assert(offsetof(OBJECT_INFO, frame_s) == 88, "object frame_s");
static_assert(offsetof(OBJECT_INFO, frame_e) == 92, "object frame_e");
static_assert(offsetof(OBJECT_INFO, effect_layer) == 96, "object effect_layer");
#endif

// The one export of a .auf2 file.
typedef FILTER_PLUGIN_TABLE* (*GetFilterPluginTableFn)(void);

}  // namespace editor2
