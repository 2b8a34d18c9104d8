// Whole-command timings: reproject against ffmpeg's v360 filter, each
// decoding the same H.264 panorama, re-projecting it and encoding the result
// with libx264 (-crf 18 -preset medium, no audio). This is what a user waits
// for; bench/bench times the frame conversion alone.
//
//   cmake --build build --target bench_e2e && build/bench/bench_e2e
//
//   bench_e2e [--frames N] [--rounds N] [--case e2e_view|e2e_keyframed]
//             [--interp near|bilinear] [--input FILE] [--reproject PATH] [--keep DIR]
//
// The input is made once in a temporary folder (removed at exit): a 3840 x 1920
// clip, N frames (default 60) at 30 fps, yuv420p H.264 (see MakeInput), unless
// --input gives one. --keep DIR writes the outputs to DIR and keeps them.
//
// Cases, each with the nearest (v360 interp=near) and the bilinear sampler
// (v360 interp=line):
//   e2e_view       a 1920 x 1080 view, 90 degrees wide, azimuth 30, pitch 10;
//                  v360 with the equivalent flat output (yaw=30, pitch=10, ypr).
//   e2e_keyframed  a level 1920 x 1080 view panning from azimuth 0 to 90 over
//                  the clip: reproject with --azimuth 0@0,90@(N-1), v360 with a
//                  sendcmd script that turns it by the same amount every frame,
//                  so v360 rebuilds its table for every frame. The pan is level
//                  because v360 (ffmpeg 5.1) applies a commanded yaw as a turn
//                  on top of its current orientation, about the camera's own
//                  vertical axis: with a pitch the two paths would differ.
//
// Each round runs both commands, alternating which goes first; the median
// wall time of the rounds is reported per frame, with the CPU use of each
// command ((user + sys) / wall, from wait4). The outputs are then checked:
// frame count, size, and the PSNR of reproject's output against v360's, which
// must show the same pictures (a view turned the wrong way or a yaw command
// that did not take effect falls far below the threshold).
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef REPROJECT_BIN
#define REPROJECT_BIN "reproject"
#endif
#ifndef MAKE_SAMPLE_BIN
#define MAKE_SAMPLE_BIN "make_sample"
#endif

namespace {

namespace fs = std::filesystem;

const int kOutW = 1920;
const int kOutH = 1080;
// v360's vertical field for a 90-degree-wide 16:9 view: 2*atan(tan(45 deg)*1080/1920).
const char* kV360View = "e:flat:h_fov=90:v_fov=58.7155:roll=0:rorder=ypr:w=1920:h=1080";
// Below this the two outputs are not the same pictures. Measured on the
// generated clip: about 40 dB (nearest) and 42 dB (bilinear) for the
// equivalent views, 23 dB for a view turned 2 degrees further, 13 dB for a
// pan whose yaw commands do nothing.
const double kMinPsnr = 30.0;

std::string g_temp;  // the temporary folder, removed at exit
volatile sig_atomic_t g_interrupted = 0;

void RemoveTemp() {
  if (g_temp.empty()) return;
  std::error_code ec;
  fs::remove_all(g_temp, ec);
}

void OnSignal(int) { g_interrupted = 1; }

std::string StderrPath() { return g_temp + "/stderr.txt"; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Join(const std::vector<std::string>& args) {
  std::string s;
  for (const std::string& a : args) s += (s.empty() ? "" : " ") + a;
  return s;
}

struct RunResult {
  int status = -1;  // exit status; -1: killed or not started
  double wall_ms = 0;
  double cpu_ms = 0;  // user + sys of the child and of what it waited for
};

// Runs a command without a shell: stdout to `stdout_path` (or /dev/null),
// stderr to the temporary folder's stderr.txt.
RunResult Run(const std::vector<std::string>& args, const std::string& stdout_path = "") {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  RunResult r;
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return r;
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = stdout_path.empty() ? open("/dev/null", O_WRONLY)
                                        : open(stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(StderrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execvp(argv[0], argv.data());
    std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const auto end = std::chrono::steady_clock::now();
  r.wall_ms = std::chrono::duration<double, std::milli>(end - start).count();
  r.cpu_ms = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-3;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

// Runs the command; on failure prints it with its stderr and exits with 1.
RunResult MustRun(const std::vector<std::string>& args, const std::string& stdout_path = "") {
  const RunResult r = Run(args, stdout_path);
  if (g_interrupted) {
    std::fprintf(stderr, "bench_e2e: interrupted\n");
    std::exit(1);
  }
  if (r.status != 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "failed (status %d): %s\n%s", r.status, Join(args).c_str(),
                 ReadFile(StderrPath()).c_str());
    std::exit(1);
  }
  return r;
}

struct VideoInfo {
  int w = 0, h = 0;
  long frames = 0;
  int rate_num = 0, rate_den = 1;  // average frame rate
};

// Size, frame count (H.264 packets, counted without decoding) and frame rate
// of the first video stream.
VideoInfo Probe(const std::string& path) {
  const std::string out = g_temp + "/probe.txt";
  MustRun({"ffprobe", "-v", "error", "-select_streams", "v:0", "-count_packets", "-show_entries",
           "stream=width,height,avg_frame_rate,nb_read_packets", "-of",
           "default=noprint_wrappers=1", path},
          out);
  VideoInfo info;
  std::istringstream lines(ReadFile(out));
  std::string line;
  while (std::getline(lines, line)) {
    const size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "width") info.w = std::atoi(value.c_str());
    else if (key == "height") info.h = std::atoi(value.c_str());
    else if (key == "nb_read_packets") info.frames = std::atol(value.c_str());
    else if (key == "avg_frame_rate") std::sscanf(value.c_str(), "%d/%d", &info.rate_num, &info.rate_den);
  }
  return info;
}

// The test panorama: the project's sample scene (grid, horizon, letters,
// sun, checkered floor) at 3840 x 1920, turning slowly about the vertical
// (the scroll filter moves it a pixel and a half a frame) with a camera's
// grain in every frame, as a 360-degree camera records a slow pan; H.264
// -crf 18 -preset veryfast, about 30 Mbit/s.
void MakeInput(const std::string& path, int frames) {
  const std::string scene = g_temp + "/scene.png";
  MustRun({MAKE_SAMPLE_BIN, scene, "3840"});
  MustRun({"ffmpeg", "-v", "error", "-nostdin", "-y", "-loop", "1", "-framerate", "30", "-i", scene, "-vf",
           "scroll=h=0.0004,noise=alls=4:allf=t,format=yuv420p", "-frames:v", std::to_string(frames),
           "-c:v", "libx264", "-crf", "18", "-preset", "veryfast", path});
}

// Azimuth of the pan at frame f in tenths of a degree, as reproject
// interpolates 0@0,90@(frames-1): 900*f/(frames-1) rounded half away from zero.
int PanTenths(long f, long frames) {
  const long den = frames - 1;
  return static_cast<int>((2 * 900 * f + den) / (2 * den));
}

std::string Tenths(int v) {
  const int a = std::abs(v);
  return std::string(v < 0 ? "-" : "") + std::to_string(a / 10) + "." + std::to_string(a % 10);
}

// sendcmd script for the pan. Each v360 command turns the view by its angle
// from where it is, so frame f gets the step from frame f-1. The command goes
// half a frame before the frame's time, clear of rounding in the timestamps.
void WritePanCommands(const std::string& path, long frames, const VideoInfo& in) {
  std::ofstream out(path);
  for (long f = 1; f < frames; ++f) {
    const double t = (f - 0.5) * in.rate_den / in.rate_num;
    char line[96];
    std::snprintf(line, sizeof(line), "%.6f v360@v yaw %s;\n", t,
                  Tenths(PanTenths(f, frames) - PanTenths(f - 1, frames)).c_str());
    out << line;
  }
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// PSNR (average over all planes and frames, dB) of a against b.
double Psnr(const std::string& a, const std::string& b) {
  MustRun({"ffmpeg", "-hide_banner", "-nostats", "-nostdin", "-i", a, "-i", b, "-lavfi",
           "[0:v][1:v]psnr", "-f", "null", "-"});
  const std::string log = ReadFile(StderrPath());
  const size_t p = log.rfind("average:");
  return p == std::string::npos ? 0.0 : std::atof(log.c_str() + p + 8);  // "inf" if identical
}

}  // namespace

int main(int argc, char** argv) {
  int frames = 60;
  bool frames_given = false;
  int rounds = 3;
  std::string only_case, only_interp, input, keep;
  std::string reproject = REPROJECT_BIN;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool has_value = i + 1 < argc;
    if (a == "--frames" && has_value) frames = std::atoi(argv[++i]), frames_given = true;
    else if (a == "--rounds" && has_value) rounds = std::atoi(argv[++i]);
    else if (a == "--case" && has_value) only_case = argv[++i];
    else if (a == "--interp" && has_value) only_interp = argv[++i];
    else if (a == "--input" && has_value) input = argv[++i];
    else if (a == "--reproject" && has_value) reproject = argv[++i];
    else if (a == "--keep" && has_value) keep = argv[++i];
    else frames = 0;  // bad usage
  }
  if (frames < 2 || rounds < 1 ||
      (!only_case.empty() && only_case != "e2e_view" && only_case != "e2e_keyframed") ||
      (!only_interp.empty() && only_interp != "near" && only_interp != "bilinear")) {
    std::fprintf(stderr,
                 "usage: bench_e2e [--frames N (at least 2)] [--rounds N] [--case e2e_view|e2e_keyframed]\n"
                 "                 [--interp near|bilinear] [--input FILE] [--reproject PATH] [--keep DIR]\n");
    return 2;
  }

  const char* tmpdir = std::getenv("TMPDIR");
  std::string pattern = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/bench_e2e.XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  g_temp = pattern;
  std::atexit(RemoveTemp);
  // An interrupt also reaches the running child; its failure then ends the
  // run through exit(), which removes the folder.
  struct sigaction action{};
  action.sa_handler = OnSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);

  std::string out_dir = g_temp;
  if (!keep.empty()) {
    std::error_code ec;
    fs::create_directories(keep, ec);
    out_dir = keep;
  }

  if (input.empty()) {
    input = g_temp + "/input.mp4";
    std::printf("# making the input: %d frames of 3840x1920 at 30 fps ...\n", frames);
    std::fflush(stdout);
    MakeInput(input, frames);
  }
  const VideoInfo in = Probe(input);
  if (in.frames < 2 || in.rate_num <= 0 || in.rate_den <= 0) {
    std::fprintf(stderr, "bench_e2e: %s: no video frames or no frame rate\n", input.c_str());
    return 1;
  }
  if (!frames_given || frames > in.frames) frames = static_cast<int>(in.frames);
  const double seconds = static_cast<double>(in.frames) * in.rate_den / in.rate_num;
  std::printf("# input %s: %dx%d, %ld frames at %.3g fps, %.1f Mbit/s; timing %d frames\n",
              input.c_str(), in.w, in.h, in.frames, static_cast<double>(in.rate_num) / in.rate_den,
              fs::file_size(input) * 8 / seconds / 1e6, frames);

  const long threads = sysconf(_SC_NPROCESSORS_ONLN);
  double load[3] = {0, 0, 0};
  getloadavg(load, 3);
  std::printf("# %s; %ld online processors, load average %.2f; %d rounds\n\n", reproject.c_str(),
              threads, load[0], rounds);
  std::printf("%-14s %-8s %14s %9s %14s %9s %8s %8s\n", "case", "interp", "ours ms/frame", "cpu/wall",
              "v360 ms/frame", "cpu/wall", "ratio", "psnr dB");
  std::fflush(stdout);

  const std::string commands = g_temp + "/cmds.txt";
  WritePanCommands(commands, frames, in);
  const std::string n = std::to_string(frames);
  std::vector<std::string> summary, warnings;
  for (const bool keyframed : {false, true}) {
    const std::string name = keyframed ? "e2e_keyframed" : "e2e_view";
    if (!only_case.empty() && only_case != name) continue;
    for (const bool bilinear : {false, true}) {
      const std::string interp = bilinear ? "bilinear" : "near";
      if (!only_interp.empty() && only_interp != interp) continue;
      const std::string ours_out = out_dir + "/" + name + "-" + interp + "-ours.mp4";
      const std::string v360_out = out_dir + "/" + name + "-" + interp + "-v360.mp4";

      std::vector<std::string> ours = {reproject, "varnel", "-q", "-y", "--no-audio", "--input",
                                       "equirect", "--out-fov", "90", "--pitch",
                                       keyframed ? "0" : "10", "--azimuth",
                                       keyframed ? "0@0,90@" + std::to_string(frames - 1) : "30",
                                       "--use-height", "--height", "1080", "--width-16x9"};
      if (bilinear) ours.push_back("--bilinear");
      for (const char* a : {"--crf", "18", "--preset", "medium"}) ours.push_back(a);
      for (const std::string& a : {std::string("--frames"), n, input, ours_out}) ours.push_back(a);

      const std::string view = std::string(kV360View) + ":interp=" + (bilinear ? "line" : "near");
      const std::string filter = keyframed
                                     ? "sendcmd=f=" + commands + ",v360@v=" + view + ":yaw=0:pitch=0"
                                     : "v360=" + view + ":yaw=30:pitch=10";
      const std::vector<std::string> v360 = {"ffmpeg", "-v", "error", "-nostdin", "-y", "-i", input,
                                             "-frames:v", n, "-vf", filter, "-c:v", "libx264", "-crf",
                                             "18", "-preset", "medium", "-an", v360_out};

      std::vector<double> ours_ms, ours_cpu, v360_ms, v360_cpu;
      for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 2; ++k) {
          const bool run_ours = (k == 0) == (round % 2 == 0);
          const RunResult r = MustRun(run_ours ? ours : v360);
          (run_ours ? ours_ms : v360_ms).push_back(r.wall_ms);
          (run_ours ? ours_cpu : v360_cpu).push_back(r.cpu_ms / r.wall_ms);
        }
      }
      const double ours_frame = Median(ours_ms) / frames;
      const double v360_frame = Median(v360_ms) / frames;
      const double ratio = ours_frame / v360_frame;

      for (const std::string& path : {ours_out, v360_out}) {
        const VideoInfo o = Probe(path);
        if (o.frames != frames || o.w != kOutW || o.h != kOutH) {
          char w[512];
          std::snprintf(w, sizeof(w), "warning: %s: %ld frames of %dx%d, expected %d of %dx%d",
                        path.c_str(), o.frames, o.w, o.h, frames, kOutW, kOutH);
          warnings.push_back(w);
        }
      }
      const double psnr = Psnr(ours_out, v360_out);
      if (psnr < kMinPsnr) {
        char w[256];
        std::snprintf(w, sizeof(w), "warning: %s %s: the outputs differ (PSNR %.1f dB, expected %.0f or more)",
                      name.c_str(), interp.c_str(), psnr, kMinPsnr);
        warnings.push_back(w);
      }

      std::printf("%-14s %-8s %14.2f %9.2f %14.2f %9.2f %8.3f %8.1f\n", name.c_str(), interp.c_str(),
                  ours_frame, Median(ours_cpu), v360_frame, Median(v360_cpu), ratio, psnr);
      std::fflush(stdout);
      char line[256];
      std::snprintf(line, sizeof(line), "case=%s interp=%s threads=%ld ours_ms=%.3f v360_ms=%.3f ratio=%.3f",
                    name.c_str(), interp.c_str(), threads, ours_frame, v360_frame, ratio);
      summary.push_back(line);
    }
  }
  std::printf("\n");
  for (const std::string& w : warnings) std::printf("%s\n", w.c_str());
  for (const std::string& line : summary) std::printf("%s\n", line.c_str());
  if (!keep.empty()) std::printf("# outputs kept in %s\n", keep.c_str());
  return 0;
}
