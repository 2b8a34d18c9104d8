// Checks shared by the three plug-ins' tests: the filter table against an
// expected description, one frame run through func_proc, and the invariants
// every frame must keep.
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "frames.h"

namespace testing_support {

// UTF-8 to the editor's code page with the C library's converter, so that a
// wrong byte in the plug-in's escapes cannot hide in the expectation.
inline std::string ToShiftJis(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    ADD_FAILURE() << "no CP932 converter";
    return std::string();
  }
  std::string in = utf8, out(utf8.size() * 2 + 4, '\0');
  char* inp = in.data();
  char* outp = out.data();
  size_t in_left = in.size(), out_left = out.size();
  const size_t rc = iconv(cd, &inp, &in_left, &outp, &out_left);
  iconv_close(cd);
  EXPECT_NE(rc, static_cast<size_t>(-1)) << "cannot convert " << utf8;
  out.resize(out.size() - out_left);
  return out;
}

inline std::string Hex(const char* bytes) {
  if (bytes == nullptr) return "(null)";
  std::string s;
  char buf[4];
  for (const char* p = bytes; *p != '\0'; ++p) {
    std::snprintf(buf, sizeof(buf), "%02X ", static_cast<unsigned char>(*p));
    s += buf;
  }
  return s;
}

struct TrackSpec {
  const char* caption;  // UTF-8
  int def, lo, hi;
};

struct TableSpec {
  const char* name;
  const char* information;  // UTF-8
  std::vector<TrackSpec> tracks;
  std::vector<const char*> checks;  // UTF-8 captions; every default is 0
};

// The whole FILTER_DLL as the editor reads it: flag, title, information,
// captions as Shift-JIS bytes, defaults, ranges, and every other field empty.
inline void ExpectTable(const FILTER_DLL& t, const TableSpec& spec) {
  EXPECT_EQ(t.flag, 0x00040000);
  EXPECT_EQ(t.x, 0);
  EXPECT_EQ(t.y, 0);
  EXPECT_EQ(Hex(t.name), Hex(spec.name));
  EXPECT_EQ(Hex(t.information), Hex(ToShiftJis(spec.information).c_str()));
  ASSERT_EQ(t.track_n, static_cast<int>(spec.tracks.size()));
  ASSERT_EQ(t.check_n, static_cast<int>(spec.checks.size()));
  for (int i = 0; i < t.track_n; ++i) {
    const TrackSpec& e = spec.tracks[i];
    SCOPED_TRACE(e.caption);
    EXPECT_EQ(Hex(t.track_name[i]), Hex(ToShiftJis(e.caption).c_str()));
    EXPECT_EQ(t.track_default[i], e.def);
    EXPECT_EQ(t.track_s[i], e.lo);
    EXPECT_EQ(t.track_e[i], e.hi);
  }
  for (int i = 0; i < t.check_n; ++i) {
    SCOPED_TRACE(spec.checks[i]);
    EXPECT_EQ(Hex(t.check_name[i]), Hex(ToShiftJis(spec.checks[i]).c_str()));
    EXPECT_EQ(t.check_default[i], 0);
  }
  EXPECT_NE(t.func_proc, nullptr);
  const void* empty[] = {reinterpret_cast<const void*>(t.func_init), reinterpret_cast<const void*>(t.func_exit),
                         reinterpret_cast<const void*>(t.func_update), reinterpret_cast<const void*>(t.func_WndProc),
                         t.track, t.check, t.ex_data_ptr,
                         reinterpret_cast<const void*>(t.func_save_start), reinterpret_cast<const void*>(t.func_save_end),
                         t.exfunc, t.hwnd, t.dll_hinst, t.ex_data_def,
                         reinterpret_cast<const void*>(t.func_is_saveframe), reinterpret_cast<const void*>(t.func_project_load),
                         reinterpret_cast<const void*>(t.func_project_save), reinterpret_cast<const void*>(t.func_modify_title),
                         t.dll_path};
  for (size_t i = 0; i < sizeof(empty) / sizeof(empty[0]); ++i) EXPECT_EQ(empty[i], nullptr) << "field " << i;
  EXPECT_EQ(t.ex_data_size, 0);
  EXPECT_EQ(t.reserve[0], 0);
  EXPECT_EQ(t.reserve[1], 0);
}

// Settings as (index, value) pairs over the table's defaults.
struct Settings {
  std::vector<std::pair<int, int>> tracks;
  std::vector<int> ticked;
};

enum class Source { kNoise, kCoordinates };

// One func_proc call: the source is noise (seeded from the size) or the
// coordinate pattern over a -1 background, the scratch buffer holds the
// sentinel, so unwritten pixels show.
struct FrameRun {
  host::FrameResult result;
  int max_w = 0, max_h = 0;
  std::vector<PIXEL_YC> source;  // the source before the call
  std::vector<PIXEL_YC> frame;   // the handed-back buffer
  std::vector<PIXEL_YC> after;   // the source buffer after the call
  const PIXEL_YC& at(int c, int r) const { return frame[static_cast<size_t>(r) * max_w + c]; }
};

inline FrameRun RunPlugin(const FILTER_DLL& table, const std::vector<int>& track,
                          const std::vector<int>& check, int w, int h, int max_w, int max_h,
                          Source source = Source::kNoise, int threads = 0) {
  host::FilterInstance instance(table, track, check);
  host::FrameBuffers buffers(max_w, max_h);
  if (source == Source::kNoise) {
    FillNoise(buffers.a, static_cast<std::uint32_t>(w * 31 + h));
  } else {
    FillWith(buffers.a, PIXEL_YC{-1, -1, -1});
    FillCoordinates(buffers.a, max_w, w, h);
  }
  FillWith(buffers.b, kSentinel);
  FrameRun run;
  run.max_w = max_w;
  run.max_h = max_h;
  run.source = buffers.a;
  run.result = RunWithThreads(instance, buffers, w, h, threads);
  run.frame.assign(run.result.frame, run.result.frame + buffers.b.size());
  run.after.assign(run.result.scratch, run.result.scratch + buffers.a.size());
  return run;
}

inline FrameRun RunPlugin(const FILTER_DLL& table, const Settings& s, int w, int h, int max_w,
                          int max_h, Source source = Source::kNoise, int threads = 0) {
  std::vector<int> track(table.track_default, table.track_default + table.track_n);
  std::vector<int> check(table.check_n, 0);
  for (auto [i, v] : s.tracks) track[i] = v;
  for (int i : s.ticked) check[i] = 1;
  return RunPlugin(table, track, check, w, h, max_w, max_h, source, threads);
}

struct InvariantCase {
  const char* what;
  int w, h, max_w, max_h;
  Settings settings;
};

// Every frame: func_proc returns 1 and exchanges the buffers, every pixel of
// the reported output is written (the last column and row of an odd size
// too), nothing else is, the source is only read, and 1, 2, 3 or 8 threads
// give the same bytes.
inline void ExpectFrameInvariants(const FILTER_DLL& table, const std::vector<InvariantCase>& cases) {
  for (const InvariantCase& k : cases) {
    SCOPED_TRACE(k.what);
    const FrameRun run = RunPlugin(table, k.settings, k.w, k.h, k.max_w, k.max_h);
    EXPECT_EQ(run.result.returned, 1);
    EXPECT_TRUE(run.result.exchanged);
    const int ww = run.result.w;
    const int wh = run.result.h;
    long unwritten = 0, outside = 0;
    for (int r = 0; r < k.max_h; ++r)
      for (int c = 0; c < k.max_w; ++c) {
        const bool sentinel = SamePixel(run.at(c, r), kSentinel);
        if (c < ww && r < wh) unwritten += sentinel;
        else outside += !sentinel;
      }
    EXPECT_EQ(unwritten, 0);
    EXPECT_EQ(outside, 0);
    EXPECT_EQ(CountDifferences(run.after.data(), run.source.data(), k.max_w, k.max_h, k.max_w), 0)
        << "the source was written";
    for (int threads : {1, 2, 3, 8}) {
      const FrameRun again = RunPlugin(table, k.settings, k.w, k.h, k.max_w, k.max_h, Source::kNoise, threads);
      EXPECT_EQ(CountDifferences(again.frame.data(), run.frame.data(), k.max_w, k.max_h, k.max_w), 0)
          << threads << " threads";
    }
  }
}

}  // namespace testing_support
