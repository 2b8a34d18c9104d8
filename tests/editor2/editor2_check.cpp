// The Linux side of the .auf2 check: builds, from each classic plug-in's own
// table (the shared library of this build), the item list the 64-bit editor
// must see, and repeats every call of editor2_cases.h on the classic
// func_proc with the same RGBA frame converted to YC48 and back with the
// editor's formulas. Then compares both with what the stand-in host recorded
// under wine.
//   editor2_check <classic plug-in folder> <stand-in host result folder>
#include <iconv.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "colour.h"
#include "editor2_cases.h"
#include "editor2_results.h"
#include "plugin_host.h"

namespace editor2check {
namespace {

// How each filter shows its classic controls in the 64-bit editor: angle
// tracks in degrees, the input boxes as one select whose first choice is the
// projection used when no box is ticked.
struct Layout {
  const char* plugin;
  unsigned angle_tracks;
  int first_input_box, last_input_box;
  const char* no_input_box;  // UTF-8
};
constexpr const char* kSelectName = "入力射影";
// The green box becomes this list: black, green (the box's caption), transparent.
constexpr const char* kFillName = "背景";
constexpr const char* kGreenBox = "グリーンバック";
enum { kFillBlack = 0, kFillGreen = 1, kFillTransparent = 2 };
constexpr Layout kLayouts[] = {
    {"Varnel", 0x3Fu, 1, 4, "中心射影(写真)入力"},
    {"Oskuda", 0x3Fu, 1, 4, "等距離射影/ドームマスタ入力"},
    {"Trimbel", 0x1Fu, 1, 4, "正距円筒図法(Equirectangular)"},
};

std::string Utf8(const char* sjis) {
  if (sjis == nullptr) return "(null)";
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "(no CP932 converter)";
  std::string out(std::strlen(sjis) * 4 + 4, '\0');
  char* in = const_cast<char*>(sjis);
  std::size_t in_left = std::strlen(sjis);
  char* o = &out[0];
  std::size_t out_left = out.size();
  const std::size_t rc = iconv(cd, &in, &in_left, &o, &out_left);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) return "(invalid Shift-JIS)";
  out.resize(out.size() - out_left);
  return out;
}

// One item the editor must see, and the classic control behind it.
struct ExpectedItem {
  enum Kind { kTrack, kCheck, kSelect, kFill } kind;
  std::string name;
  int index;      // classic track or check index
  double scale;   // tracks: classic value = item value x scale
  double value;   // default, in item units
};

std::vector<std::string> ExpectedLines(const FILTER_DLL& t, const Layout& layout,
                                       std::vector<ExpectedItem>* items) {
  std::vector<std::string> lines = {"name " + Utf8(t.name), "information " + Utf8(t.information)};
  for (int i = 0; i < t.track_n; ++i) {
    const bool angle = (layout.angle_tracks >> i & 1u) != 0;
    const double scale = angle ? 10.0 : 1.0;
    const ExpectedItem item{ExpectedItem::kTrack, Utf8(t.track_name[i]), i, scale,
                            t.track_default[i] / scale};
    lines.push_back(TrackLine(item.name, item.value, t.track_s[i] / scale, t.track_e[i] / scale,
                              angle ? 0.1 : 1.0));
    items->push_back(item);
  }
  for (int i = 0; i < t.check_n; ++i) {
    if (i == layout.first_input_box) {
      std::string choices = std::string(layout.no_input_box) + "=0";
      for (int box = layout.first_input_box; box <= layout.last_input_box; ++box) {
        choices += "|" + Utf8(t.check_name[box]) + "=" + std::to_string(box);
      }
      lines.push_back(SelectLine(kSelectName, 0, choices));
      items->push_back(ExpectedItem{ExpectedItem::kSelect, kSelectName, -1, 1.0, 0.0});
    } else if (i > layout.first_input_box && i <= layout.last_input_box) {
      continue;
    } else if (Utf8(t.check_name[i]) == kGreenBox) {
      const int chosen = t.check_default[i] != 0 ? kFillGreen : kFillBlack;
      lines.push_back(SelectLine(kFillName, chosen, std::string("黒=0|") + kGreenBox + "=1|透明=2"));
      items->push_back(ExpectedItem{ExpectedItem::kFill, kFillName, i, 1.0, static_cast<double>(chosen)});
    } else {
      lines.push_back(CheckLine(Utf8(t.check_name[i]), t.check_default[i] != 0));
      items->push_back(ExpectedItem{ExpectedItem::kCheck, Utf8(t.check_name[i]), i, 1.0,
                                    t.check_default[i] != 0 ? 1.0 : 0.0});
    }
  }
  return lines;
}

int CompareItems(const std::string& plugin, const std::vector<std::string>& expected,
                 const std::string& path) {
  std::ifstream file(path);
  if (!file) {
    std::printf("FAIL %s items: %s missing\n", plugin.c_str(), path.c_str());
    return 1;
  }
  std::vector<std::string> actual;
  for (std::string line; std::getline(file, line);) actual.push_back(line);
  int faults = 0;
  for (std::size_t i = 0; i < std::max(expected.size(), actual.size()); ++i) {
    const std::string e = i < expected.size() ? expected[i] : "(nothing)";
    const std::string a = i < actual.size() ? actual[i] : "(nothing)";
    if (e != a) {
      std::printf("  expected: %s\n  got:      %s\n", e.c_str(), a.c_str());
      ++faults;
    }
  }
  std::printf("%s %s items: %d lines compared\n", faults == 0 ? "ok  " : "FAIL", plugin.c_str(),
              static_cast<int>(expected.size()));
  for (const std::string& line : expected) std::printf("       %s\n", line.c_str());
  return faults == 0 ? 0 : 1;
}

// The classic value of a track item: nearest integer of value x scale,
// limited to the track's range.
int ClassicTrack(double value, double scale, int lo, int hi) {
  const double v = value * scale;
  if (v <= lo) return lo;
  if (v >= hi) return hi;
  return static_cast<int>(std::lround(v));
}

// The frame a classic run handed back, in rows of the capacity's width.
struct ClassicFrame {
  int returned = 0, w = 0, h = 0;
  std::vector<PIXEL_YC> frame;
};

// One run of the classic plug-in on a YC48 frame of w x h.
ClassicFrame RunClassic(const FILTER_DLL& table, const std::vector<int>& track, const std::vector<int>& check,
                             const std::vector<PIXEL_YC>& frame, int w, int h, int cap_w, int cap_h) {
  host::FilterInstance instance(table, track, check);
  host::FrameBuffers buffers(cap_w, cap_h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) buffers.a[static_cast<std::size_t>(r) * cap_w + c] = frame[static_cast<std::size_t>(r) * w + c];
  const host::FrameResult result = host::RunFrame(instance, buffers, w, h);
  ClassicFrame out{result.returned, result.w, result.h, {}};
  out.frame.assign(result.frame, result.frame + static_cast<std::size_t>(cap_w) * cap_h);
  return out;
}

// round(v * num / den), halves away from zero.
short Scaled(int v, int num, int den) {
  return static_cast<short>(std::lround(static_cast<double>(v) * num / den));
}

// The classic plug-in on one call: the output frame as the adapter must hand
// it to the editor (an empty frame as one transparent pixel). An opaque input
// with an opaque fill is the plug-in's frame, opaque. Otherwise the plug-in
// also runs on the colour premultiplied by alpha and on alpha x 16 in Y with
// the green fill, which marks what no input direction covers; the colour is
// the premultiplied result divided by the alpha result.
CallResult ClassicCall(const FILTER_DLL& table, const std::vector<int>& track, const std::vector<int>& check,
                       int fill, const Call& call, int height_setting) {
  std::vector<unsigned char> rgba(static_cast<std::size_t>(call.w) * call.h * 4);
  FillRgba(rgba.data(), call.w, call.h, call.seed, call.alpha);
  // A capacity far above anything the controls can ask for.
  const int cap_h = std::max(call.h, height_setting) + 2;
  const int cap_w = std::max({call.w, 2 * cap_h, call.w * cap_h / call.h + 2}) + 2;
  bool opaque = true;
  std::vector<PIXEL_YC> colour(static_cast<std::size_t>(call.w) * call.h), alpha(colour.size());
  for (std::size_t i = 0; i < colour.size(); ++i) opaque = opaque && rgba[i * 4 + 3] == 255;
  for (std::size_t i = 0; i < colour.size(); ++i) {
    const unsigned char* p = &rgba[i * 4];
    const PIXEL_YC yc = yc48::RgbToYc48(p[0], p[1], p[2]);
    const int a = opaque ? 255 : p[3];
    colour[i] = PIXEL_YC{Scaled(yc.y, a, 255), Scaled(yc.cb, a, 255), Scaled(yc.cr, a, 255)};
    alpha[i] = PIXEL_YC{static_cast<short>(p[3] * 16), 0, 0};
  }
  const ClassicFrame frame = RunClassic(table, track, check, colour, call.w, call.h, cap_w, cap_h);
  const bool alpha_pass = !opaque || fill == kFillTransparent;
  ClassicFrame covered;
  if (alpha_pass) {
    std::vector<int> green = check;
    for (int i = 0; i < table.check_n; ++i)
      if (Utf8(table.check_name[i]) == kGreenBox) green[i] = 1;
    covered = RunClassic(table, track, green, alpha, call.w, call.h, cap_w, cap_h);
  }
  CallResult out;
  out.returned = frame.returned;
  out.set_calls = 1;
  if (frame.w == 0 || frame.h == 0) {
    out.w = out.h = 1;
    out.rgba.assign(4, 0);
    return out;
  }
  out.w = frame.w;
  out.h = frame.h;
  out.rgba.resize(static_cast<std::size_t>(frame.w) * frame.h * 4);
  for (int r = 0; r < frame.h; ++r) {
    for (int c = 0; c < frame.w; ++c) {
      const std::size_t at = static_cast<std::size_t>(r) * cap_w + c;
      unsigned char* d = &out.rgba[(static_cast<std::size_t>(r) * frame.w + c) * 4];
      PIXEL_YC yc = frame.frame[at];
      int a = 255;
      if (alpha_pass) {
        const PIXEL_YC m = covered.frame[at];
        if (m.cb != 0 || m.cr != 0) {
          a = fill == kFillTransparent ? 0 : 255;
        } else {
          const int a16 = std::min(std::max(static_cast<int>(m.y), 0), 4080);
          a = (a16 + 8) / 16;
          if (!opaque && a > 0) {
            yc = PIXEL_YC{Scaled(yc.y, 4080, a16), Scaled(yc.cb, 4080, a16), Scaled(yc.cr, 4080, a16)};
          }
        }
      }
      if (a == 0) {
        d[0] = d[1] = d[2] = d[3] = 0;
        continue;
      }
      yc48::Yc48ToRgb(yc, &d[0], &d[1], &d[2]);
      d[3] = static_cast<unsigned char>(a);
    }
  }
  return out;
}

int Run(const std::string& so_dir, const std::string& results) {
  int failures = 0;
  long total_differing = 0;
  int compared = 0;
  for (const Layout& layout : kLayouts) {
    std::string error;
    auto library = host::PluginLibrary::Open(so_dir + "/" + layout.plugin + ".so", &error);
    if (library == nullptr) {
      std::printf("FAIL %s: %s\n", layout.plugin, error.c_str());
      ++failures;
      continue;
    }
    // Kept loaded until the process ends: the OpenMP runtime comes in with
    // the plug-in, and unloading it under its idle worker threads crashes.
    const FILTER_DLL& table = library.release()->table();
    std::vector<ExpectedItem> items;
    const std::vector<std::string> lines = ExpectedLines(table, layout, &items);
    failures += CompareItems(layout.plugin, lines, results + "/" + layout.plugin + ".items.txt");
    int height_track = -1;
    for (int i = 0; i < table.track_n; ++i) {
      if (Utf8(table.track_name[i]) == "縦幅指定") height_track = i;
    }

    std::printf("%-34s %9s %9s %8s %6s  %s\n", "call", "size", "pixels", "differ", "max|d|",
                "verdict");
    for (const Case& c : kCases) {
      if (std::strcmp(c.plugin, layout.plugin) != 0) continue;
      std::map<std::string, double> values;
      for (const ExpectedItem& item : items) values[item.name] = item.value;
      for (int k = 0; k < CallCount(c); ++k) {
        const Call& call = c.calls[k];
        const std::string where = std::string(c.name) + "." + std::to_string(k);
        std::istringstream words(call.items);
        for (std::string word; words >> word;) {
          const std::size_t eq = word.rfind('=');
          const std::string name = eq == std::string::npos ? word : word.substr(0, eq);
          values[name] = eq == std::string::npos ? 1.0 : std::strtod(word.c_str() + eq + 1, nullptr);
        }
        std::vector<int> track(table.track_default, table.track_default + table.track_n);
        std::vector<int> check(table.check_default, table.check_default + table.check_n);
        int fill = kFillBlack;
        for (const ExpectedItem& item : items) {
          const double v = values[item.name];
          if (item.kind == ExpectedItem::kTrack) {
            track[item.index] =
                ClassicTrack(v, item.scale, table.track_s[item.index], table.track_e[item.index]);
          } else if (item.kind == ExpectedItem::kCheck) {
            check[item.index] = v != 0.0 ? 1 : 0;
          } else if (item.kind == ExpectedItem::kFill) {
            fill = static_cast<int>(v);
            check[item.index] = fill == kFillGreen ? 1 : 0;
          } else {
            for (int box = layout.first_input_box; box <= layout.last_input_box; ++box) {
              check[box] = static_cast<int>(v) == box ? 1 : 0;
            }
          }
        }
        const CallResult expected =
            ClassicCall(table, track, check, fill, call, height_track >= 0 ? track[height_track] : 0);
        CallResult actual;
        std::string verdict;
        long differing = 0;
        int max_delta = 0;
        ++compared;
        if (!ReadCallResult(results + "/" + where + ".res", &actual)) {
          verdict = "FAIL: no result from the stand-in host";
        } else if (actual.returned != 1 || actual.set_calls != 1) {
          verdict = "FAIL: returned " + std::to_string(actual.returned) + ", set_image_data called " +
                    std::to_string(actual.set_calls) + " times";
        } else if (actual.w != expected.w || actual.h != expected.h) {
          verdict = "FAIL: size " + std::to_string(actual.w) + "x" + std::to_string(actual.h) +
                    ", classic " + std::to_string(expected.w) + "x" + std::to_string(expected.h);
        } else {
          for (std::size_t i = 0; i < expected.rgba.size(); i += 4) {
            bool same = true;
            for (int ch = 0; ch < 4; ++ch) {
              const int d = std::abs(expected.rgba[i + ch] - actual.rgba[i + ch]);
              same = same && d == 0;
              max_delta = std::max(max_delta, d);
            }
            if (!same) ++differing;
          }
          const long pixels = static_cast<long>(expected.rgba.size() / 4);
          // More than one pixel in 10,000 is more than last-bit differences
          // of the two C runtimes' double functions explain.
          verdict = differing * 10000 > pixels ? "FAIL: too many pixels differ"
                    : differing != 0           ? "ok (within 1/10000)"
                                               : "ok (identical)";
        }
        total_differing += differing;
        if (verdict.compare(0, 4, "FAIL") == 0) ++failures;
        char size[32];
        std::snprintf(size, sizeof(size), "%dx%d", expected.w, expected.h);
        std::printf("%-34s %9s %9ld %8ld %6d  %s\n", where.c_str(), size,
                    static_cast<long>(expected.w) * expected.h, differing, max_delta,
                    verdict.c_str());
      }
    }
  }
  std::printf("%d calls compared, %ld differing pixels in all, %d failures\n", compared,
              total_differing, failures);
  return failures == 0 && compared > 0 ? 0 : 1;
}

}  // namespace
}  // namespace editor2check

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: editor2_check <classic plug-in folder> <stand-in host results>\n");
    return 2;
  }
  return editor2check::Run(argv[1], argv[2]);
}
