// A stand-in for the 64-bit editor, for tests under wine: loads
// <dir>\<Name>.auf2 with LoadLibraryW, takes its table from
// GetFilterPluginTable, checks the table and its items and writes them to
// <results>\<Name>.items.txt, then makes the calls of editor2_cases.h: it
// writes item values as the editor does, calls func_proc_video with its own
// get_image_data / set_image_data and records every image handed back in
// <results>\<case>.<call>.res.
//   auf2host.exe <plug-in folder> <result folder>
// With --bench it times the adapter instead (see Bench below):
//   auf2host.exe --bench <plug-in folder> [frames]
#include <windows.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "editor2_cases.h"
#include "editor2_results.h"
#include "filter2_records.h"
#include "plugin_names.h"
#include "transparency.h"

using namespace editor2;
using namespace editor2check;

namespace {

std::vector<std::string> faults;

void Fault(const std::string& where, const std::string& what) {
  faults.push_back(where + ": " + what);
}

std::string Utf8(const WideChar* text) {
  if (text == nullptr) return "(null)";
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return "";
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

std::wstring Wide(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &out[0], n);
  out.resize(out.size() - 1);
  return out;
}

// The editor's side of one call: the current image and what the plug-in did
// with the two callbacks.
struct HostImage {
  std::string where;
  int w = 0, h = 0;
  std::vector<PIXEL_RGBA> pixels;
  int get_calls = 0;
  int set_calls = 0;
} image;

// The adapter's buffers come from the C runtime's malloc (msvcrt.dll, shared
// with this program), so _msize tells how many bytes the buffer really has.
bool BufferHolds(const void* buf, std::size_t bytes, const char* what) {
  if (buf == nullptr) {
    Fault(image.where, std::string(what) + " got a null buffer");
    return false;
  }
  const std::size_t size = _msize(const_cast<void*>(buf));
  if (size == static_cast<std::size_t>(-1) || size < bytes) {
    Fault(image.where, std::string(what) + ": buffer of " + std::to_string(size) + " bytes for " +
                           std::to_string(bytes));
    return false;
  }
  return true;
}

void GetImageData(PIXEL_RGBA* buf) {
  ++image.get_calls;
  const std::size_t bytes = image.pixels.size() * sizeof(PIXEL_RGBA);
  if (BufferHolds(buf, bytes, "get_image_data")) std::memcpy(buf, image.pixels.data(), bytes);
}

void SetImageData(const PIXEL_RGBA* buf, int w, int h) {
  ++image.set_calls;
  if (w <= 0 || h <= 0 || w > 16384 || h > 16384) {
    Fault(image.where, "set_image_data with size " + std::to_string(w) + "x" + std::to_string(h));
    return;
  }
  const std::size_t count = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
  if (!BufferHolds(buf, count * sizeof(PIXEL_RGBA), "set_image_data")) return;
  image.w = w;
  image.h = h;
  image.pixels.assign(buf, buf + count);
}

struct Item {
  std::string type;
  std::string name;
  void* record;
};

// Checks the table and its items, writes them out; returns the items.
bool ReadTable(const std::string& plugin, FILTER_PLUGIN_TABLE* t, const std::string& out_dir,
               std::vector<Item>* items) {
  const std::string where = plugin + " table";
  if (t->flag != FILTER_FLAG_VIDEO) Fault(where, "flag " + std::to_string(t->flag));
  if (t->label != nullptr) Fault(where, "label is not null");
  if (t->func_proc_video == nullptr) Fault(where, "func_proc_video is null");
  if (t->func_proc_audio != nullptr || t->func_create != nullptr || t->func_destroy != nullptr) {
    Fault(where, "audio or user data functions are set");
  }
  if (t->name == nullptr || t->information == nullptr || t->items == nullptr) {
    Fault(where, "name, information or items is null");
    return false;
  }
  std::vector<std::string> lines;
  lines.push_back("name " + Utf8(t->name));
  lines.push_back("information " + Utf8(t->information));
  for (int i = 0; t->items[i] != nullptr; ++i) {
    if (i > 256) {
      Fault(where, "item list does not end");
      return false;
    }
    // Every item starts with its type and name.
    const auto* head = static_cast<const FILTER_ITEM_CHECK*>(t->items[i]);
    Item item{Utf8(head->type), Utf8(head->name), t->items[i]};
    for (const Item& other : *items) {
      if (other.name == item.name) Fault(where, "two items named " + item.name);
    }
    if (item.type == "track") {
      const auto* r = static_cast<const FILTER_ITEM_TRACK*>(item.record);
      if (!(r->s <= r->value && r->value <= r->e && r->step > 0.0)) {
        Fault(where, item.name + ": default outside its range or bad step");
      }
      lines.push_back(TrackLine(item.name, r->value, r->s, r->e, r->step));
    } else if (item.type == "check") {
      lines.push_back(CheckLine(item.name, static_cast<const FILTER_ITEM_CHECK*>(item.record)->value));
    } else if (item.type == "select") {
      const auto* r = static_cast<const FILTER_ITEM_SELECT*>(item.record);
      std::string choices;
      int n = 0;
      for (; r->list != nullptr && r->list[n].name != nullptr && n < 64; ++n) {
        choices += (n ? "|" : "") + Utf8(r->list[n].name) + "=" + std::to_string(r->list[n].value);
      }
      if (n == 0 || n == 64) Fault(where, item.name + ": empty or endless choice list");
      lines.push_back(SelectLine(item.name, r->value, choices));
    } else {
      Fault(where, "item " + item.name + " of unexpected type " + item.type);
    }
    items->push_back(item);
  }
  if (out_dir.empty()) return true;
  const std::string path = out_dir + "/" + plugin + ".items.txt";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    Fault(where, "cannot write " + path);
    return false;
  }
  for (const std::string& line : lines) std::fprintf(f, "%s\n", line.c_str());
  std::fclose(f);
  return true;
}

// Item values as bytes, to put every item back to its default between cases.
std::vector<std::vector<unsigned char>> SaveValues(const std::vector<Item>& items) {
  std::vector<std::vector<unsigned char>> saved;
  for (const Item& item : items) {
    const std::size_t size = item.type == "track" ? sizeof(FILTER_ITEM_TRACK)
                             : item.type == "select" ? sizeof(FILTER_ITEM_SELECT)
                                                     : sizeof(FILTER_ITEM_CHECK);
    const auto* p = static_cast<const unsigned char*>(item.record);
    saved.emplace_back(p, p + size);
  }
  return saved;
}

void RestoreValues(const std::vector<Item>& items,
                   const std::vector<std::vector<unsigned char>>& saved) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    std::memcpy(items[i].record, saved[i].data(), saved[i].size());
  }
}

// Writes "name=value" settings into the items, as the editor does.
bool SetItems(const std::string& where, const char* settings, const std::vector<Item>& items) {
  std::istringstream words(settings);
  std::string word;
  while (words >> word) {
    const std::size_t eq = word.rfind('=');
    const std::string name = eq == std::string::npos ? word : word.substr(0, eq);
    const std::string value = eq == std::string::npos ? "1" : word.substr(eq + 1);
    const Item* found = nullptr;
    for (const Item& item : items) {
      if (item.name == name) found = &item;
    }
    if (found == nullptr) {
      Fault(where, "no item named " + name);
      return false;
    }
    if (found->type == "track") {
      static_cast<FILTER_ITEM_TRACK*>(found->record)->value = std::strtod(value.c_str(), nullptr);
    } else if (found->type == "check") {
      static_cast<FILTER_ITEM_CHECK*>(found->record)->value = std::atoi(value.c_str()) != 0;
    } else {
      static_cast<FILTER_ITEM_SELECT*>(found->record)->value = std::atoi(value.c_str());
    }
  }
  return true;
}

void RunCase(const Case& c, FILTER_PLUGIN_TABLE* table, const std::vector<Item>& items,
             const std::string& out_dir) {
  SCENE_INFO scene = {1920, 1080, 30, 1, 48000};
  for (int k = 0; k < CallCount(c); ++k) {
    const Call& call = c.calls[k];
    const std::size_t before = faults.size();
    image = HostImage();
    image.where = std::string(c.name) + "." + std::to_string(k);
    if (!SetItems(image.where, call.items, items)) return;
    image.w = call.w;
    image.h = call.h;
    image.pixels.resize(static_cast<std::size_t>(call.w) * call.h);
    FillRgba(reinterpret_cast<unsigned char*>(image.pixels.data()), call.w, call.h, call.seed, call.alpha);
    OBJECT_INFO object;
    std::memset(&object, 0, sizeof(object));
    object.id = 1;
    object.frame = k;
    object.frame_total = CallCount(c);
    object.time = k / 30.0;
    object.time_total = CallCount(c) / 30.0;
    object.width = call.w;
    object.height = call.h;
    object.effect_id = 1;
    FILTER_PROC_VIDEO video;
    video.scene = &scene;
    video.object = &object;
    video.get_image_data = GetImageData;
    video.set_image_data = SetImageData;

    CallResult result;
    result.returned = table->func_proc_video(&video) ? 1 : 0;
    result.set_calls = image.set_calls;
    result.w = image.w;
    result.h = image.h;
    const auto* bytes = reinterpret_cast<const unsigned char*>(image.pixels.data());
    result.rgba.assign(bytes, bytes + image.pixels.size() * sizeof(PIXEL_RGBA));
    if (result.returned != 1) Fault(image.where, "func_proc_video returned false");
    if (image.get_calls != 1) Fault(image.where, "get_image_data called " + std::to_string(image.get_calls) + " times");
    if (image.set_calls != 1) Fault(image.where, "set_image_data called " + std::to_string(image.set_calls) + " times");
    const std::string path = out_dir + "/" + image.where + ".res";
    if (!WriteCallResult(path, result)) Fault(image.where, "cannot write " + path);
    std::printf("%s %-40s %dx%d -> %dx%d\n", faults.size() == before ? "ok  " : "FAIL",
                image.where.c_str(), call.w, call.h, result.w, result.h);
  }
}

// Loads <dir>\<plugin>.auf2 for the life of the process; its table, or null.
FILTER_PLUGIN_TABLE* LoadTable(const std::string& dir, const std::string& plugin) {
  std::wstring path = Wide(dir + "\\" + plugin + ".auf2");
  for (wchar_t& ch : path) ch = ch == L'/' ? L'\\' : ch;
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) {
    Fault(plugin, "LoadLibraryW failed, error " + std::to_string(GetLastError()));
    return nullptr;
  }
  auto get_table = reinterpret_cast<GetFilterPluginTableFn>(
      reinterpret_cast<void*>(GetProcAddress(module, "GetFilterPluginTable")));
  FILTER_PLUGIN_TABLE* table = get_table != nullptr ? get_table() : nullptr;
  if (table == nullptr || get_table() != table) {
    Fault(plugin, "no GetFilterPluginTable, no table, or another table on the second call");
    return nullptr;
  }
  return table;
}

// Median milliseconds of `frames` runs of `run` (given the run's number),
// after one run to warm up.
template <typename Run>
double MedianMs(int frames, Run run) {
  std::vector<double> ms;
  for (int k = 0; k <= frames; ++k) {
    const auto start = std::chrono::steady_clock::now();
    run(k);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (k > 0) ms.push_back(took.count());
  }
  std::sort(ms.begin(), ms.end());
  return ms[ms.size() / 2];
}

// Median milliseconds of `frames` calls of func_proc_video on a w x h
// frame (after one call to warm up), the items as they are.
double TimeCalls(FILTER_PLUGIN_TABLE* table, int w, int h, unsigned seed, bool alpha, int frames) {
  SCENE_INFO scene = {1920, 1080, 30, 1, 48000};
  std::vector<PIXEL_RGBA> input(static_cast<std::size_t>(w) * h);
  FillRgba(reinterpret_cast<unsigned char*>(input.data()), w, h, seed, alpha);
  std::vector<double> ms;
  for (int k = 0; k <= frames; ++k) {
    image = HostImage();
    image.where = "bench";
    image.w = w;
    image.h = h;
    image.pixels = input;
    OBJECT_INFO object;
    std::memset(&object, 0, sizeof(object));
    object.frame = k;
    object.frame_total = frames + 1;
    object.width = w;
    object.height = h;
    FILTER_PROC_VIDEO video;
    video.scene = &scene;
    video.object = &object;
    video.get_image_data = GetImageData;
    video.set_image_data = SetImageData;
    const auto start = std::chrono::steady_clock::now();
    if (!table->func_proc_video(&video)) Fault("bench", "func_proc_video returned false");
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    if (k > 0) ms.push_back(took.count());
  }
  std::sort(ms.begin(), ms.end());
  return ms.empty() ? 0.0 : ms[ms.size() / 2];
}

// The adapter's own conversions for an opaque w x h input and an out_w x
// out_h output, as it runs them (the same functions, rows over the threads):
// for the bilinear sampler the colour plane in and out; for the nearest, the
// output gathered by index (the index plane is kept between frames).
double TimeConversions(int w, int h, int out_w, int out_h, bool nearest, int frames) {
  std::vector<PIXEL_RGBA> in(static_cast<std::size_t>(w) * h), out(static_cast<std::size_t>(out_w) * out_h);
  FillRgba(reinterpret_cast<unsigned char*>(in.data()), w, h, 1, false);
  std::vector<PIXEL_YC> plane(static_cast<std::size_t>(w) * h);
  for (int row = 0; row < h; ++row) {
    const std::size_t at = static_cast<std::size_t>(row) * w;
    ToIndexRow(static_cast<std::uint32_t>(at), w, plane.data() + at);
  }
  return MedianMs(frames, [&](int) {
    if (!nearest) {
#pragma omp parallel for schedule(static)
      for (int row = 0; row < h; ++row) {
        const std::size_t at = static_cast<std::size_t>(row) * w;
        ToColourRow(in.data() + at, w, true, plane.data() + at);
      }
    }
#pragma omp parallel for schedule(static)
    for (int row = 0; row < out_h; ++row) {
      const std::size_t at = static_cast<std::size_t>(row) * w;
      PIXEL_RGBA* const o = out.data() + static_cast<std::size_t>(row) * out_w;
      if (nearest) {
        FromIndexRow(plane.data() + at, out_w, in.data(), in.size(), Fill::kBlack, true, o);
      } else {
        FromPlanes(plane.data() + at, nullptr, out_w, Fill::kBlack, false, o);
      }
    }
  });
}

// The output words of a w x h frame from the re-projected planes, as the
// adapter finishes them (rows over the threads): an opaque colour plane
// alone, and a translucent one divided by its alpha plane.
void TimeFinishing(int w, int h, int frames) {
  std::vector<PIXEL_YC> colour(static_cast<std::size_t>(w) * h), alpha(colour.size());
  for (std::size_t i = 0; i < colour.size(); ++i) {
    const int a = 1 + static_cast<int>(i * 37 % 254);
    const int v = static_cast<int>(i % 4096);
    colour[i] = PIXEL_YC{static_cast<short>(v * a / 255), static_cast<short>((v - 2048) * a / 255),
                         static_cast<short>((2047 - v) * a / 255)};
    alpha[i] = PIXEL_YC{static_cast<short>(a * kAlphaScale), 0, 0};
  }
  std::vector<PIXEL_RGBA> out(colour.size());
  double medians[2];
  for (int translucent = 0; translucent < 2; ++translucent) {
    medians[translucent] = MedianMs(frames, [&](int) {
#pragma omp parallel for schedule(static)
      for (int row = 0; row < h; ++row) {
        const std::size_t at = static_cast<std::size_t>(row) * w;
        FromPlanes(colour.data() + at, translucent ? alpha.data() + at : nullptr, w, Fill::kBlack, translucent != 0,
                   out.data() + at);
      }
    });
  }
  std::printf("auf2 case=finishing size=%dx%d opaque_ms=%.2f translucent_ms=%.2f\n", w, h, medians[0], medians[1]);
}

// The adapter's cost: Varnel's .auf2 making a 1920 x 1080 view of a 3840 x
// 1920 panorama, opaque and with alpha, each fill, both samplers; the share
// of its conversions; the finishing of the output words alone; and a small
// frame whose unticked height setting once sized the buffers.
int Bench(const std::string& dir, int frames) {
  FILTER_PLUGIN_TABLE* table = LoadTable(dir, "Varnel");
  std::vector<Item> items;
  if (table == nullptr || !ReadTable("Varnel", table, "", &items)) {
    for (const std::string& f : faults) std::printf("fault: %s\n", f.c_str());
    return 1;
  }
  const auto defaults = SaveValues(items);
  const char* view = "入力射影=4 縦幅指定を有効化 縦幅指定=1080 横幅＝16/9×縦幅にする 俯仰角=-20 方位角=30";
  for (const char* interp : {"near", "bilinear"}) {
    const double conversions = TimeConversions(3840, 1920, 1920, 1080, std::strcmp(interp, "near") == 0, frames);
    RestoreValues(items, defaults);
    SetItems("bench", view, items);
    SetItems("bench", std::strcmp(interp, "near") == 0 ? "バイリニア補間=0" : "バイリニア補間", items);
    SetItems("bench", "背景=0", items);
    const double opaque = TimeCalls(table, 3840, 1920, 1, false, frames);
    const double alpha = TimeCalls(table, 3840, 1920, 1, true, frames);
    SetItems("bench", "背景=2", items);
    const double transparent = TimeCalls(table, 3840, 1920, 1, false, frames);
    const double transparent_alpha = TimeCalls(table, 3840, 1920, 1, true, frames);
    // The frame function's own time is what the opaque frame spends beyond
    // the conversions; the alpha pass is what a transparent input adds.
    const double frame_function = opaque - conversions;
    std::printf("auf2 case=varnel_view interp=%s opaque_ms=%.2f alpha_ms=%.2f transparent_fill_ms=%.2f "
                "alpha_transparent_ms=%.2f conversions_ms=%.2f conversions_share=%.1f%% "
                "frame_function_ms=%.2f alpha_pass_ms=%.2f alpha_pass_in_frame_functions=%.2f\n",
                interp, opaque, alpha, transparent, transparent_alpha, conversions,
                100.0 * conversions / opaque, frame_function, alpha - opaque,
                (alpha - opaque) / frame_function);
  }
  TimeFinishing(1920, 1080, frames);
  // 64 x 48 with the height box unticked: the height setting no longer
  // sizes the buffers.
  for (int height : {480, 4096}) {
    RestoreValues(items, defaults);
    SetItems("bench", ("縦幅指定=" + std::to_string(height)).c_str(), items);
    std::printf("auf2 case=small_unticked_height interp=near height_setting=%d ms=%.3f\n", height,
                TimeCalls(table, 64, 48, 2, false, frames));
  }
  for (const std::string& f : faults) std::printf("fault: %s\n", f.c_str());
  return faults.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--bench") == 0) {
    return Bench(argv[2], argc > 3 ? std::max(1, std::atoi(argv[3])) : 10);
  }
  if (argc != 3) {
    std::fprintf(stderr, "usage: auf2host <plug-in folder> <result folder>\n"
                         "       auf2host --bench <plug-in folder> [frames]\n");
    return 2;
  }
  const std::string dir = argv[1];
  const std::string out_dir = argv[2];
  int ran = 0;
  for (const std::string& name : host::PluginNames()) {
    const char* plugin = name.c_str();
    // Loaded for the life of the process, as the editor keeps its plug-ins.
    FILTER_PLUGIN_TABLE* table = LoadTable(dir, plugin);
    if (table == nullptr) continue;
    std::vector<Item> items;
    const std::size_t before = faults.size();
    const bool read = ReadTable(plugin, table, out_dir, &items);
    std::printf("%s %s table, %d items\n", faults.size() == before ? "ok  " : "FAIL", plugin,
                static_cast<int>(items.size()));
    if (!read || table->func_proc_video == nullptr) continue;
    const auto defaults = SaveValues(items);
    for (const Case& c : kCases) {
      if (std::strcmp(c.plugin, plugin) != 0) continue;
      RestoreValues(items, defaults);
      RunCase(c, table, items, out_dir);
      ++ran;
    }
  }
  for (const std::string& f : faults) std::printf("fault: %s\n", f.c_str());
  std::printf("%d cases run, %d faults\n", ran, static_cast<int>(faults.size()));
  std::fflush(stdout);
  return faults.empty() && ran == kCaseCount ? 0 : 1;
}
