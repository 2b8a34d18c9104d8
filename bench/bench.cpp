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
// (min..max). v360's per-frame filter time comes from two ffmpeg runs of
// different lengths with and without the filter (each the fastest of three),
// so that decoding the test source and building v360's table cancel out.
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
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
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

// Seconds of wall time ffmpeg reports for a run (-benchmark's rtime).
double FfmpegSeconds(const std::string& args) {
#ifdef _WIN32
  (void)args;
  return NAN;  // no ffmpeg beside the Windows build
#else
  const std::string command = "ffmpeg -hide_banner -nostdin -benchmark " + args + " -f null - 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return NAN;
  char line[4096];
  double rtime = NAN;
  while (std::fgets(line, sizeof(line), pipe)) {
    const char* p = std::strstr(line, "rtime=");
    if (p) rtime = std::atof(p + 6);
  }
  const int status = pclose(pipe);
  if (status != 0) return NAN;
  return rtime;
#endif
}

double FastestFfmpegSeconds(const std::string& args) {
  double fastest = NAN;
  for (int run = 0; run < 3; ++run) {
    const double seconds = FfmpegSeconds(args);
    if (std::isnan(fastest) || seconds < fastest) fastest = seconds;
  }
  return fastest;
}

std::string Source(const Case& c, int frames) {
  char buf[256];
  std::snprintf(buf, sizeof(buf),
                "-f lavfi -i testsrc2=s=%dx%d:r=25,format=yuv444p16le -frames:v %d", c.in_w, c.in_h,
                frames);
  return buf;
}

// v360's filter time per frame. Static cases: the slope between a short and a
// long run, minus the same slope without the filter, so the one-off table
// build drops out. Animated case: one new yaw per frame through sendcmd, so
// every frame pays for a rebuilt table.
double TimeV360(const Case& c, bool bilinear, int threads, int frames) {
  const std::string interp = bilinear ? ":interp=line" : ":interp=near";
  const std::string thread_args =
      " -filter_threads " + std::to_string(threads) + " -threads " + std::to_string(threads);
  if (c.azimuth_track >= 0) {
    const std::string commands = "/tmp/lens_bench_sendcmd.txt";
    std::ofstream out(commands);
    for (int f = 1; f < frames; ++f) {
      out << f * 0.04 << " v360 yaw " << 30.0 + 0.1 * f << ";\n";
    }
    out.close();
    const std::string filter =
        " -vf \"sendcmd=f=" + commands + ",v360=" + c.v360 + interp + "\"";
    const double with = FfmpegSeconds(Source(c, frames) + thread_args + filter);
    const double without = FfmpegSeconds(Source(c, frames) + thread_args + " -vf null");
    return (with - without) / frames * 1000.0;
  }
  // ffmpeg's run times carry a few milliseconds of noise, so the static runs
  // are long (at least 80 frames), each is the fastest of three, and the
  // difference spans three quarters of the frames.
  const int long_run = std::max(4 * frames, 80);
  const int short_run = long_run / 4;
  const std::string filter = " -vf v360=" + std::string(c.v360) + interp;
  const double with_long = FastestFfmpegSeconds(Source(c, long_run) + thread_args + filter);
  const double with_short = FastestFfmpegSeconds(Source(c, short_run) + thread_args + filter);
  // The bare slope is the same for both samplers: measured once per source.
  static std::map<std::string, double> bare_slopes;
  const std::string bare_key = Source(c, long_run) + thread_args;
  if (bare_slopes.count(bare_key) == 0) {
    bare_slopes[bare_key] =
        FastestFfmpegSeconds(Source(c, long_run) + thread_args + " -vf null") -
        FastestFfmpegSeconds(Source(c, short_run) + thread_args + " -vf null");
  }
  return ((with_long - with_short) - bare_slopes[bare_key]) / (long_run - short_run) * 1000.0;
}

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
        // A v360 time at or below zero is lost in ffmpeg's noise: no ratio.
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
