// Frame timings of the three plug-ins, through the editor's loading path,
// beside ffmpeg's v360 filter on the same conversions in the same run.
//
//   bench [--frames N] [--quick] [--no-v360] [--case NAME] [--interp near|bilinear]
//         [--threads N] [--verify] [--verify-only]
//
// --case, --interp and --threads restrict the table to one case, sampler or
// thread count (handy under perf or callgrind).
//
// --verify first runs one full-size frame of every case and sampler through
// the plug-in and through its per-pixel reference build (<Name>Reference,
// same frame entry, straightforward remap) and prints the number of bytes in
// which the two output frames differ; any difference makes the exit status 1.
//
// For each case, sampler (nearest, bilinear) and thread count (default, 1):
// warm-up, then N timed frames of func_proc; the median and the spread
// (min..max). v360 runs in the same process through libavfilter, on a
// source frame of the same size, and its median time per frame beside ours
// gives the ratio (TimeV360).
//
// The Windows build (bench.exe beside the .auf files of that build tree, run
// under wine) times the .auf files the same way, without v360 and without
// --verify (there are no reference builds on Windows).
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/frame.h>
}
#endif

#include "plugin_host.h"

namespace {

struct Case {
  const char* name;
  const char* plugin;
  int in_w, in_h;  // source frame
  int max_w, max_h;
  std::vector<std::pair<int, int>> tracks;  // index, value
  std::vector<int> checks;                  // ticked boxes
  int bilinear_box;
  int azimuth_track;  // animated: this track grows by 1 (0.1 degree) per frame; -1: static
  const char* v360;   // v360 options without interp
  int out_w, out_h;   // expected output size
};

// Varnel: tracks in_fov 0, in_mask 1, out_fov 2, pitch 3, azimuth 4, roll 5, height 8;
// boxes: use height 0, equirect 4, 16:9 5, bilinear 9.
// Oskuda: out_fov 2, height 8; boxes: use height 0, equirect 4, square 5, bilinear 8.
// Trimbel: in_fov 0, pitch 2, roll 4; boxes: equidistant 1, 2:1 5, bilinear 7.
std::vector<Case> Cases() {
  return {
      {"varnel_view", "Varnel", 3840, 1920, 3840, 1920,
       {{2, 900}, {3, 100}, {4, 300}, {8, 1080}}, {0, 4, 5}, 9, -1,
       "e:flat:h_fov=90:v_fov=58.7155:yaw=30:pitch=10:roll=0:rorder=ypr:w=1920:h=1080", 1920, 1080},
      // The same view looking straight up (the pole in the picture), and a
      // 170-degree view across the seam: where the rows bend the most.
      {"varnel_up", "Varnel", 3840, 1920, 3840, 1920,
       {{2, 900}, {3, 900}, {4, 300}, {8, 1080}}, {0, 4, 5}, 9, -1,
       "e:flat:h_fov=90:v_fov=58.7155:yaw=30:pitch=90:roll=0:rorder=ypr:w=1920:h=1080", 1920, 1080},
      {"varnel_wide", "Varnel", 3840, 1920, 3840, 1920,
       {{2, 1700}, {3, 300}, {4, 1800}, {8, 1080}}, {0, 4, 5}, 9, -1,
       "e:flat:h_fov=170:v_fov=162.3186:yaw=180:pitch=30:roll=0:rorder=ypr:w=1920:h=1080", 1920, 1080},
      {"oskuda_dome", "Oskuda", 3840, 1920, 3840, 2048,
       {{2, 1800}, {8, 2048}}, {0, 4, 5}, 8, -1,
       "e:fisheye:h_fov=180:v_fov=180:yaw=0:pitch=0:roll=0:w=2048:h=2048", 2048, 2048},
      {"trimbel_fisheye", "Trimbel", 2048, 2048, 4096, 2048,
       {{0, 1800}}, {1, 5}, 7, -1,
       "fisheye:e:ih_fov=180:iv_fov=180:w=4096:h=2048", 4096, 2048},
      {"trimbel_rotate", "Trimbel", 3840, 1920, 3840, 1920,
       {{2, 200}, {4, 100}}, {}, 7, -1,
       "e:e:yaw=0:pitch=20:roll=-10:rorder=rpy:w=3840:h=1920", 3840, 1920},
      {"varnel_animated", "Varnel", 3840, 1920, 3840, 1920,
       {{2, 900}, {3, 100}, {4, 300}, {8, 1080}}, {0, 4, 5}, 9, 4,
       "e:flat:h_fov=90:v_fov=58.7155:yaw=30:pitch=10:roll=0:rorder=ypr:w=1920:h=1080", 1920, 1080},
  };
}

struct Timing {
  double median_ms = 0, min_ms = 0, max_ms = 0;
  double cpu_ms = 0;  // median processor time of the process per frame, all threads
};

double ProcessCpuMs() {
#ifdef _WIN32
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return NAN;
  const auto ticks = [](const FILETIME& t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime);
  };
  return (ticks(kernel) + ticks(user)) * 1e-4;  // 100 ns units
#else
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) * 1e-6;
#endif
}

Timing Summarise(std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  Timing t;
  t.median_ms = ms[ms.size() / 2];
  t.min_ms = ms.front();
  t.max_ms = ms.back();
  return t;
}

// A smooth, varied source frame (a panorama-like gradient with texture).
void FillSource(std::vector<PIXEL_YC>& buffer, int max_w, int w, int h) {
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      buffer[static_cast<size_t>(r) * max_w + c] = PIXEL_YC{
          static_cast<short>((c * 4096) / std::max(1, w) + ((c ^ r) & 63)),
          static_cast<short>((r * 4096) / std::max(1, h) - 2048),
          static_cast<short>(((c / 16 + r / 16) & 1) ? 600 : -600)};
}

// Bytes in which the frames of the plug-in and of its reference build differ,
// for one frame of the case (the animated case at its first azimuth).
long DifferingBytes(const host::PluginLibrary& plugin, const host::PluginLibrary& reference,
                    const Case& c, bool bilinear) {
  std::vector<PIXEL_YC> frames[2];
  const host::PluginLibrary* libraries[2] = {&plugin, &reference};
  for (int v = 0; v < 2; ++v) {
    host::FilterInstance instance(libraries[v]->table());
    for (auto [index, value] : c.tracks) instance.track[index] = value;
    for (int box : c.checks) instance.check[box] = 1;
    instance.check[c.bilinear_box] = bilinear ? 1 : 0;
    host::FrameBuffers buffers(c.max_w, c.max_h);
    FillSource(buffers.a, c.max_w, c.in_w, c.in_h);
    std::fill(buffers.b.begin(), buffers.b.end(), PIXEL_YC{-32768, 32767, -32768});
    const host::FrameResult r = host::RunFrame(instance, buffers, c.in_w, c.in_h, true);
    frames[v].assign(r.frame, r.frame + static_cast<size_t>(c.max_w) * c.max_h);
  }
  long differing = 0;
  const auto* a = reinterpret_cast<const unsigned char*>(frames[0].data());
  const auto* b = reinterpret_cast<const unsigned char*>(frames[1].data());
  for (size_t i = 0; i < frames[0].size() * sizeof(PIXEL_YC); ++i) differing += a[i] != b[i];
  return differing;
}

Timing TimeOurs(const host::PluginLibrary& library, const Case& c, bool bilinear, int threads,
                int frames) {
  host::FilterInstance instance(library.table());
  for (auto [index, value] : c.tracks) instance.track[index] = value;
  for (int box : c.checks) instance.check[box] = 1;
  instance.check[c.bilinear_box] = bilinear ? 1 : 0;
  host::FrameBuffers buffers(c.max_w, c.max_h);
  FillSource(buffers.a, c.max_w, c.in_w, c.in_h);
  FillSource(buffers.b, c.max_w, c.in_w, c.in_h);
  const int previous = omp_get_max_threads();
  omp_set_num_threads(threads);
  std::vector<double> ms;
  std::vector<double> cpu;
  const int warm_up = 2;
  bool edit_is_a = true;
  const int base_azimuth = c.azimuth_track >= 0 ? instance.track[c.azimuth_track] : 0;
  for (int f = 0; f < warm_up + frames; ++f) {
    if (c.azimuth_track >= 0) instance.track[c.azimuth_track] = base_azimuth + f;
    const double cpu_start = ProcessCpuMs();
    const auto start = std::chrono::steady_clock::now();
    const host::FrameResult r = host::RunFrame(instance, buffers, c.in_w, c.in_h, edit_is_a);
    const auto end = std::chrono::steady_clock::now();
    const double cpu_end = ProcessCpuMs();
    if (r.w != c.out_w || r.h != c.out_h) {
      std::fprintf(stderr, "%s: output %dx%d, expected %dx%d\n", c.name, r.w, r.h, c.out_w, c.out_h);
      std::exit(1);
    }
    // The returned frame becomes scratch; the source stays in place for the next frame.
    if (f >= warm_up) {
      ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
      cpu.push_back(cpu_end - cpu_start);
    }
  }
  omp_set_num_threads(previous);
  Timing t = Summarise(ms);
  std::sort(cpu.begin(), cpu.end());
  t.cpu_ms = cpu[cpu.size() / 2];
  return t;
}

#ifndef _WIN32
// v360's time per frame, in this process through libavfilter: a graph
// buffer -> v360 -> buffersink with `threads` slice threads, on one
// yuv444p16le source frame of the case's size (v360's work does not depend
// on the pictures). Two warm-up frames build v360's table; then the same
// source frame goes in and the output comes out `frames` times, each pair
// timed, and the median is returned. The animated case sends v360 a new yaw
// (0.1 degree more) before every frame, so that every frame pays for a
// rebuilt table, as a keyframed view does. NAN where the graph cannot be
// built.
double TimeV360(const Case& c, bool bilinear, int threads, int frames) {
  AVFilterGraph* graph = avfilter_graph_alloc();
  AVFrame* source = av_frame_alloc();
  AVFrame* output = av_frame_alloc();
  std::vector<double> ms;
  if (graph && source && output) {
    graph->nb_threads = threads;
    char buffer_args[160];
    std::snprintf(buffer_args, sizeof(buffer_args), "video_size=%dx%d:pix_fmt=%d:time_base=1/25:pixel_aspect=1/1",
                  c.in_w, c.in_h, static_cast<int>(AV_PIX_FMT_YUV444P16LE));
    const std::string v360_args = std::string(c.v360) + (bilinear ? ":interp=line" : ":interp=near");
    AVFilterContext* in = nullptr;
    AVFilterContext* v360 = nullptr;
    AVFilterContext* out = nullptr;
    bool ready =
        avfilter_graph_create_filter(&in, avfilter_get_by_name("buffer"), "in", buffer_args, nullptr, graph) >= 0 &&
        avfilter_graph_create_filter(&v360, avfilter_get_by_name("v360"), "v360", v360_args.c_str(), nullptr,
                                     graph) >= 0 &&
        avfilter_graph_create_filter(&out, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr, graph) >= 0 &&
        avfilter_link(in, 0, v360, 0) >= 0 && avfilter_link(v360, 0, out, 0) >= 0 &&
        avfilter_graph_config(graph, nullptr) >= 0;
    source->format = AV_PIX_FMT_YUV444P16LE;
    source->width = c.in_w;
    source->height = c.in_h;
    ready = ready && av_frame_get_buffer(source, 0) >= 0;
    if (ready) {
      for (int plane = 0; plane < 3; ++plane) {
        for (int y = 0; y < c.in_h; ++y) {
          auto* row = reinterpret_cast<std::uint16_t*>(source->data[plane] + static_cast<std::ptrdiff_t>(y) *
                                                                                 source->linesize[plane]);
          for (int x = 0; x < c.in_w; ++x) row[x] = static_cast<std::uint16_t>((x * 7 + y * 13 + plane * 4099) & 0xffff);
        }
      }
    }
    const int warm_up = 2;
    for (int f = 0; ready && f < warm_up + frames; ++f) {
      const std::string yaw = std::to_string(30.0 + 0.1 * f);
      source->pts = f;
      const auto start = std::chrono::steady_clock::now();
      // (v360 rebuilds its table within the command.)
      if (c.azimuth_track >= 0) ready = avfilter_graph_send_command(graph, "v360", "yaw", yaw.c_str(), nullptr, 0, 0) >= 0;
      ready = ready && av_buffersrc_add_frame_flags(in, source, AV_BUFFERSRC_FLAG_KEEP_REF) >= 0 &&
              av_buffersink_get_frame(out, output) >= 0;
      const auto end = std::chrono::steady_clock::now();
      av_frame_unref(output);
      if (ready && f >= warm_up) ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    if (!ready) ms.clear();
  }
  av_frame_free(&output);
  av_frame_free(&source);
  avfilter_graph_free(&graph);
  if (ms.empty()) return NAN;
  return Summarise(ms).median_ms;
}
#else
double TimeV360(const Case&, bool, int, int) { return NAN; }  // no libavfilter beside the Windows build
#endif

}  // namespace

int main(int argc, char** argv) {
  int frames = 20;
#ifdef _WIN32
  bool run_v360 = false;  // Windows build (run under wine): no ffmpeg, no reference builds
#else
  bool run_v360 = true;
#endif
  std::string only;
  std::string only_interp;
  int only_threads = 0;
  bool verify = false;
  bool verify_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--frames" && i + 1 < argc) frames = std::max(3, std::atoi(argv[++i]));
    else if (a == "--quick") frames = 5;
    else if (a == "--no-v360") run_v360 = false;
    else if (a == "--case" && i + 1 < argc) only = argv[++i];
    else if (a == "--interp" && i + 1 < argc) only_interp = argv[++i];
    else if (a == "--threads" && i + 1 < argc) only_threads = std::atoi(argv[++i]);
    else if (a == "--verify") verify = true;
    else if (a == "--verify-only") verify = verify_only = true;
    else {
      std::fprintf(stderr,
                   "usage: bench [--frames N] [--quick] [--no-v360] [--case NAME] "
                   "[--interp near|bilinear] [--threads N] [--verify] [--verify-only]\n");
      return 2;
    }
  }
  long total_differing = 0;
  if (verify) {
    std::printf("fast remap against the per-pixel reference, one full-size frame each:\n");
    for (const Case& c : Cases()) {
      if (!only.empty() && only != c.name) continue;
      std::string error;
      auto plugin = host::PluginLibrary::Open(host::BuiltPluginPath(c.plugin), &error);
      auto reference =
          host::PluginLibrary::Open(host::BuiltPluginPath(std::string(c.plugin) + "Reference"), &error);
      if (!plugin || !reference) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
      }
      for (bool bilinear : {false, true}) {
        const long differing = DifferingBytes(*plugin, *reference, c, bilinear);
        total_differing += differing;
        std::printf("verify case=%s interp=%s size=%dx%d differing_bytes=%ld\n", c.name,
                    bilinear ? "bilinear" : "near", c.out_w, c.out_h, differing);
        std::fflush(stdout);
      }
    }
    std::printf("\n");
    if (verify_only) return total_differing == 0 ? 0 : 1;
  }
  const int default_threads = omp_get_max_threads();
  std::printf("threads available: %d; %d timed frames per measurement\n\n", default_threads, frames);
  std::printf("%-16s %-8s %7s %22s %8s %10s %8s %10s\n", "case", "interp", "threads",
              "ours ms (min..max)", "cpu ms", "v360 ms", "ratio", "Mpixel/s");
  std::vector<std::string> summary;
  for (const Case& c : Cases()) {
    if (!only.empty() && only != c.name) continue;
    std::string error;
    auto library = host::PluginLibrary::Open(host::BuiltPluginPath(c.plugin), &error);
    if (!library) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    for (bool bilinear : {false, true}) {
      if (!only_interp.empty() && only_interp != (bilinear ? "bilinear" : "near")) continue;
      const std::vector<int> thread_counts =
          only_threads > 0 ? std::vector<int>{only_threads} : std::vector<int>{default_threads, 1};
      for (int threads : thread_counts) {
#ifdef _WIN32
        // Each Windows plug-in carries its own static OpenMP runtime, which
        // takes its thread count from OMP_NUM_THREADS when the plug-in is
        // loaded; omp_set_num_threads here does not reach it. Load the
        // plug-in afresh with the variable set for this measurement.
        const std::string count = std::to_string(threads);
        SetEnvironmentVariableA("OMP_NUM_THREADS", count.c_str());
        _putenv_s("OMP_NUM_THREADS", count.c_str());
        library.reset();
        library = host::PluginLibrary::Open(host::BuiltPluginPath(c.plugin), &error);
        if (!library) {
          std::fprintf(stderr, "%s\n", error.c_str());
          return 1;
        }
#endif
        const Timing ours = TimeOurs(*library, c, bilinear, threads, frames);
        const double v360 = run_v360 ? TimeV360(c, bilinear, threads, frames) : NAN;
        const double ratio = v360 > 0.0 ? ours.median_ms / v360 : NAN;
        const double mpix = static_cast<double>(c.out_w) * c.out_h / (ours.median_ms * 1000.0);
        char range[64];
        std::snprintf(range, sizeof(range), "%.2f (%.2f..%.2f)", ours.median_ms, ours.min_ms, ours.max_ms);
        std::printf("%-16s %-8s %7d %22s %8.2f %10.2f %8.3f %10.1f\n", c.name,
                    bilinear ? "bilinear" : "near", threads, range, ours.cpu_ms, v360, ratio, mpix);
        std::fflush(stdout);
        char line[256];
        std::snprintf(line, sizeof(line), "case=%s interp=%s threads=%d ours_ms=%.3f cpu_ms=%.3f v360_ms=%.3f "
                      "ratio=%.3f",
                      c.name, bilinear ? "bilinear" : "near", threads, ours.median_ms, ours.cpu_ms, v360,
                      ratio);
        summary.push_back(line);
      }
    }
  }
  std::printf("\n");
  for (const std::string& line : summary) std::printf("%s\n", line.c_str());
  return total_differing == 0 ? 0 : 1;
}
