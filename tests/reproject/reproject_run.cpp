#include "reproject_run.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#include "colour.h"
#include "frame_convert.h"
#include "media_input.h"
#include "plugin_host.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace reproject_test {
namespace {

constexpr int kTimeLimitSeconds = 120;

std::string& FolderName() {
  static std::string folder;
  return folder;
}

void RemoveFolder() {
  if (!FolderName().empty()) std::system(("rm -rf '" + FolderName() + "'").c_str());
}

}  // namespace

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::string Folder() {
  if (FolderName().empty()) {
    char pattern[] = "/tmp/reproject-test-XXXXXX";
    FolderName() = mkdtemp(pattern);
    std::atexit(RemoveFolder);
  }
  return FolderName();
}

std::string Path(const std::string& name) { return Folder() + "/" + name; }

std::string Media(const std::string& name) {
  static const std::map<std::string, std::string> recipes = {
      {"scene.png", std::string(MAKE_SAMPLE_BIN) + " {} 256"},
      {"clip.mp4", "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=128x64:rate=25:duration=0.32 "
                   "-f lavfi -i sine=frequency=440:duration=0.32 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest {}"},
      {"long.mp4", "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=640x320:rate=25:duration=20 "
                   "-c:v libx264 -preset ultrafast {}"},
      {"pcm.mov", "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=128x64:rate=10:duration=1 "
                  "-f lavfi -i sine=frequency=440:duration=1 -c:v libx264 -c:a pcm_s16le -shortest {}"},
  };
  const std::string path = Path(name);
  if (!Exists(path)) {
    const auto recipe = recipes.find(name);
    EXPECT_NE(recipe, recipes.end()) << name;
    if (recipe == recipes.end()) return path;
    std::string command = recipe->second;
    command.replace(command.find("{}"), 2, "'" + path + "'");
    EXPECT_TRUE(Shell(command)) << command;
  }
  return path;
}

Outcome RunReproject(const std::vector<std::string>& args, const Limits& limits) {
  const std::string err_path = Path("stderr.txt");
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int in_fd = open(limits.stdin_path.empty() ? "/dev/null" : limits.stdin_path.c_str(), O_RDONLY);
    const int null_fd = open("/dev/null", O_WRONLY);
    const int err_fd = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in_fd, 0);
    dup2(null_fd, 1);
    dup2(err_fd, 2);
    if (limits.file_size_bytes >= 0) {
      if (!limits.file_size_signal) signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(limits.file_size_bytes);
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (limits.address_space_bytes >= 0) {
      struct rlimit limit;
      limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(limits.address_space_bytes);
      setrlimit(RLIMIT_AS, &limit);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(REPROJECT_BIN));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(REPROJECT_BIN, argv.data());
    _exit(127);
  }
  Outcome o;
  bool signalled = false;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (done == pid) {
      o.finished = true;
      break;
    }
    if (!signalled && limits.signal_after_ms >= 0 && elapsed * 1000.0 >= limits.signal_after_ms) {
      kill(pid, limits.signal);
      signalled = true;
    }
    if (elapsed > kTimeLimitSeconds) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  o.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  o.err = ReadFile(err_path);
  return o;
}

std::vector<std::string> Leftovers(const std::string& folder) {
  std::vector<std::string> names;
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) return names;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.find(".reproject-") != std::string::npos || name.find(".part") != std::string::npos)
      names.push_back(name);
  }
  closedir(d);
  return names;
}

void ExpectCleanFailure(const Outcome& o, int status, const std::string& output, const std::string& what) {
  EXPECT_TRUE(o.finished) << what << ": still running after " << kTimeLimitSeconds << " s";
  EXPECT_EQ(o.status, status) << what << "\n" << o.err;
  EXPECT_EQ(o.err.rfind("reproject: ", 0), 0u) << what << "\n" << o.err;
  EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << what << "\n" << o.err;
  EXPECT_FALSE(Exists(output)) << what << ": " << output << " was left behind";
  const std::size_t slash = output.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : output.substr(0, slash);
  EXPECT_TRUE(Leftovers(folder).empty()) << what << ": an unfinished file was left behind";
}

bool Picture::operator==(const Picture& o) const {
  if (w != o.w || h != o.h || yc.size() != o.yc.size()) return false;
  return std::memcmp(yc.data(), o.yc.data(), yc.size() * sizeof(PIXEL_YC)) == 0;
}

std::vector<Picture> ReadPictures(const std::string& path, long limit) {
  std::vector<Picture> pictures;
  std::string error;
  auto reader = reproject::MediaReader::Open(path, &error);
  EXPECT_TRUE(reader) << error;
  if (!reader) return pictures;
  reproject::FrameImporter importer;
  reproject::VideoFrame frame;
  while ((limit < 0 || static_cast<long>(pictures.size()) < limit) && reader->Next(&frame, &error) > 0) {
    Picture p;
    p.w = frame.frame->width;
    p.h = frame.frame->height;
    p.yc.resize(static_cast<std::size_t>(p.w) * p.h);
    EXPECT_TRUE(importer.ToYc48(frame.frame.get(), p.yc.data(), p.w, &error)) << error;
    pictures.push_back(std::move(p));
  }
  return pictures;
}

Picture RunInProcess(const std::string& plugin, const Picture& in, const std::vector<std::pair<int, int>>& tracks,
                     const std::vector<int>& ticked, int cap_w, int cap_h) {
  std::string error;
  auto library = host::PluginLibrary::Open(host::BuiltPluginPath(plugin), &error);
  EXPECT_TRUE(library) << error;
  Picture out;
  if (!library) return out;
  host::FilterInstance instance(library->table());
  for (auto [index, value] : tracks) instance.track[index] = value;
  for (int index : ticked) instance.check[index] = 1;
  host::FrameBuffers buffers(cap_w, cap_h);
  for (int r = 0; r < in.h; ++r)
    std::copy_n(in.yc.data() + static_cast<std::size_t>(r) * in.w, in.w, buffers.a.data() + static_cast<std::size_t>(r) * cap_w);
  const host::FrameResult result = host::RunFrame(instance, buffers, in.w, in.h);
  out.w = result.w;
  out.h = result.h;
  for (int r = 0; r < out.h; ++r)
    out.yc.insert(out.yc.end(), result.frame + static_cast<std::size_t>(r) * cap_w,
                  result.frame + static_cast<std::size_t>(r) * cap_w + out.w);
  return out;
}

Picture ThroughRgb8(const Picture& p) {
  Picture q = p;
  for (PIXEL_YC& v : q.yc) {
    std::uint8_t r, g, b;
    yc48::Yc48ToRgb(v, &r, &g, &b);
    v = yc48::RgbToYc48(r, g, b);
  }
  return q;
}

}  // namespace reproject_test
