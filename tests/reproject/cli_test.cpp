// The reproject program end to end: its output equals the plug-in run
// in-process on the same YC48 frame; videos keep frame count, rate and audio;
// keyframes reach every frame; every failure is one line, the documented exit
// status and no file left behind.
#include <gtest/gtest.h>
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "colour.h"
#include "plugin_controls.h"
#include "media.h"
#include "plugin_host.h"

namespace {

using namespace reproject;

struct Outcome {
  int status = -1;
  std::string err;
};

class ReprojectCli : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/reproject-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    // A small copy of the bundled scene, and a short video with audio.
    ASSERT_EQ(std::system((std::string(MAKE_SAMPLE_BIN) + " " + dir_ + "/scene.png 256").c_str()), 0);
    const std::string video = "ffmpeg -v error -y -f lavfi -i testsrc=size=128x64:rate=25:duration=0.32 "
                              "-f lavfi -i sine=frequency=440:duration=0.32 -c:v libx264 -pix_fmt yuv420p "
                              "-c:a aac -shortest " + dir_ + "/clip.mp4";
    ASSERT_EQ(std::system(video.c_str()), 0);
  }
  static void TearDownTestSuite() { std::system(("rm -rf " + dir_).c_str()); }

  static std::string Path(const std::string& name) { return dir_ + "/" + name; }

  static Outcome Run(const std::string& args) {
    const std::string err = Path("stderr.txt");
    const std::string cmd = std::string(REPROJECT_BIN) + " " + args + " >/dev/null 2>" + err;
    Outcome o;
    const int rc = std::system(cmd.c_str());
    o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    std::ifstream in(err);
    std::stringstream s;
    s << in.rdbuf();
    o.err = s.str();
    return o;
  }

  // Files in the test folder whose name marks an unfinished output.
  static int LeftoverParts() {
    int n = 0;
    DIR* d = opendir(dir_.c_str());
    while (dirent* e = readdir(d)) n += std::string(e->d_name).find(".part") != std::string::npos;
    closedir(d);
    return n;
  }

  static bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
  }

  static std::vector<RgbFrame> ReadAll(const std::string& path) {
    std::string error;
    auto reader = MediaReader::Open(path, &error);
    EXPECT_TRUE(reader) << error;
    std::vector<RgbFrame> frames;
    if (!reader) return frames;
    RgbFrame f;
    while (reader->Next(&f, &error) > 0) frames.push_back(f);
    return frames;
  }

  // The plug-in run in this process on the frame, as the editor would: RGB to
  // YC48, func_proc, YC48 to RGB.
  static RgbFrame RunInProcess(const host::PluginLibrary& library, const RgbFrame& in,
                               const std::vector<int>& tracks, const std::vector<int>& checks, int cap_w,
                               int cap_h) {
    host::FilterInstance instance(library.table());
    std::copy(tracks.begin(), tracks.end(), instance.track.begin());
    std::copy(checks.begin(), checks.end(), instance.check.begin());
    host::FrameBuffers buffers(cap_w, cap_h);
    RgbFrameToYc48(in.rgb.data(), 3 * in.w, in.w, in.h, buffers.a.data(), cap_w);
    const host::FrameResult r = host::RunFrame(instance, buffers, in.w, in.h);
    RgbFrame out;
    out.w = r.w;
    out.h = r.h;
    out.rgb.resize(static_cast<size_t>(3) * r.w * r.h);
    Yc48FrameToRgb(r.frame, cap_w, r.w, r.h, out.rgb.data(), 3 * r.w);
    return out;
  }

  static std::string dir_;
};
std::string ReprojectCli::dir_;

std::unique_ptr<host::PluginLibrary> Load(const std::string& name) {
  std::string error;
  if (!std::ifstream(host::BuiltPluginPath(name)).good()) return nullptr;
  return host::PluginLibrary::Open(host::BuiltPluginPath(name), &error);
}

// Round trip per plug-in: a picture through the program equals the in-process
// run with the same controls, byte for byte.
TEST_F(ReprojectCli, PictureEqualsInProcessRunForEachPlugin) {
  struct Case {
    const char* plugin;
    const char* name;
    std::string options;
    std::vector<std::pair<int, int>> tracks;  // index, value
    std::vector<int> checks;                  // ticked boxes
  };
  const Case cases[] = {
      {"Varnel", "varnel", "--input equirect --azimuth 30.5 --pitch -15 --out-fov 100 --bilinear",
       {{4, 305}, {3, -150}, {2, 1000}}, {4, 9}},
      {"Oskuda", "oskuda", "--input equirect --pitch 90 --square --circle-mask --green",
       {{3, 900}}, {4, 5, 6, 7}},
      {"Trimbel", "trimbel", "--pitch 30 --azimuth -45 --roll 10 --bilinear --use-height --height 100",
       {{2, 300}, {3, -450}, {4, 100}, {7, 100}}, {0, 7}},
  };
  for (const Case& c : cases) {
    auto library = Load(c.plugin);
    if (!library) {
      ADD_FAILURE() << c.plugin << " is not built";
      continue;
    }
    const std::string out = Path(std::string("rt-") + c.name + ".png");
    const Outcome o = Run(std::string(c.name) + " " + c.options + " " + Path("scene.png") + " " + out);
    ASSERT_EQ(o.status, 0) << o.err;
    const std::vector<RgbFrame> in = ReadAll(Path("scene.png"));
    const std::vector<RgbFrame> got = ReadAll(out);
    ASSERT_EQ(in.size(), 1u);
    ASSERT_EQ(got.size(), 1u);
    const ControlSet set = ControlSet::FromTable(library->table());
    std::vector<int> tracks, checks(set.checks.size(), 0);
    for (const TrackControl& t : set.tracks) tracks.push_back(t.def);
    for (auto& [index, value] : c.tracks) tracks[index] = value;
    for (int index : c.checks) checks[index] = 1;
    const RgbFrame expected = RunInProcess(*library, in[0], tracks, checks, 512, 512);
    EXPECT_EQ(got[0].w, expected.w) << c.plugin;
    EXPECT_EQ(got[0].h, expected.h) << c.plugin;
    EXPECT_TRUE(got[0].rgb == expected.rgb) << c.plugin << ": output differs from the in-process run";
  }
}

// A capacity smaller than the output the controls ask for limits it, as in the
// editor, and the program says so once.
TEST_F(ReprojectCli, SmallCapacityLimitsTheOutputWithANote) {
  const std::string out = Path("limited.png");
  const Outcome o = Run("varnel --input equirect --use-height --height 200 --max-size 256x150 " +
                        Path("scene.png") + " " + out);
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("limited to 256x150 by --max-size; the controls ask for 400x200"), std::string::npos)
      << o.err;
  const std::vector<RgbFrame> got = ReadAll(out);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].w, 256);
  EXPECT_EQ(got[0].h, 150);
  // The default capacity does not limit the same request.
  ASSERT_EQ(Run("varnel --input equirect --use-height --height 200 " + Path("scene.png") + " " +
                Path("unlimited.png")).status, 0);
  const std::vector<RgbFrame> full = ReadAll(Path("unlimited.png"));
  ASSERT_EQ(full.size(), 1u);
  EXPECT_EQ(full[0].w, 400);
  EXPECT_EQ(full[0].h, 200);
}

// A video: every frame, the frame rate and the audio kept; keyframed azimuth
// reaches each frame with the interpolated track value (checked against the
// in-process run through a lossless codec).
TEST_F(ReprojectCli, VideoWithKeyframedAzimuth) {
  auto library = Load("Varnel");
  ASSERT_TRUE(library);
  const std::string mp4 = Path("pan.mp4");
  Outcome o = Run("varnel --input equirect --out-fov 120 --azimuth 0@0,70@7 " + Path("clip.mp4") + " " + mp4);
  ASSERT_EQ(o.status, 0) << o.err;
  std::string error;
  auto reader = MediaReader::Open(mp4, &error);
  ASSERT_TRUE(reader) << error;
  EXPECT_EQ(reader->frame_count(), 8);
  EXPECT_EQ(reader->frame_rate().num, 25);
  EXPECT_EQ(reader->frame_rate().den, 1);
  EXPECT_TRUE(reader->has_audio());
  EXPECT_EQ(ReadAll(mp4).size(), 8u);

  const std::string mkv = Path("pan.mkv");
  o = Run("varnel --input equirect --out-fov 120 --azimuth 0@0,70@7 --codec ffv1 --start 2 --frames 5 " +
          Path("clip.mp4") + " " + mkv);
  ASSERT_EQ(o.status, 0) << o.err;
  const std::vector<RgbFrame> in = ReadAll(Path("clip.mp4"));
  const std::vector<RgbFrame> got = ReadAll(mkv);
  ASSERT_EQ(in.size(), 8u);
  ASSERT_EQ(got.size(), 5u);
  for (int k = 0; k < 5; ++k) {
    const int frame = 2 + k;
    std::vector<int> tracks = {1800, 3600, 1200, 0, 100 * frame, 0, 0, 0, 480};  // 10 degrees per frame
    std::vector<int> checks(10, 0);
    checks[4] = 1;
    const RgbFrame expected = RunInProcess(*library, in[frame], tracks, checks, 256, 128);
    EXPECT_TRUE(got[k].rgb == expected.rgb) << "frame " << frame;
    // A neighbouring azimuth gives a different picture, so the check has teeth.
    tracks[4] += 100;
    EXPECT_FALSE(got[k].rgb == RunInProcess(*library, in[frame], tracks, checks, 256, 128).rgb);
  }
  auto mkv_reader = MediaReader::Open(mkv, &error);
  ASSERT_TRUE(mkv_reader) << error;
  EXPECT_TRUE(mkv_reader->has_audio());
}

// Every failure: one line naming the file or option, the documented status,
// and neither the output nor a temporary file left.
TEST_F(ReprojectCli, FailuresAreOneLineWithStatusAndNoFileLeft) {
  const std::string scene = Path("scene.png");
  std::ofstream(Path("empty.png")).close();
  {
    std::ifstream in(scene, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream(Path("truncated.png"), std::ios::binary) << bytes.substr(0, bytes.size() / 2);
    std::string corrupt = bytes;
    for (size_t i = 64; i < corrupt.size(); i += 7) corrupt[i] = static_cast<char>(corrupt[i] ^ 0x5A);
    std::ofstream(Path("corrupt.png"), std::ios::binary) << corrupt;
    std::ofstream(Path("notes.txt")) << "not a picture\n";
    std::ofstream(Path("existing.png")) << "keep me";
  }
  const std::string out = Path("out.png");
  struct Case {
    std::string args;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"varnel " + Path("missing.png") + " " + out, 1, "missing.png: cannot read input"},
      {"varnel " + Path("empty.png") + " " + out, 1, "empty.png: cannot read input"},
      {"varnel " + Path("truncated.png") + " " + out, 1, "truncated.png:"},
      {"varnel " + Path("corrupt.png") + " " + out, 1, "corrupt.png:"},
      {"varnel " + Path("notes.txt") + " " + out, 1, "notes.txt: cannot read input"},
      {"varnel " + scene + " " + Path("out.xyz"), 2, "out.xyz: cannot tell the output format"},
      {"varnel " + scene + " " + Path("no-such-folder/out.png"), 1, "cannot write in folder"},
      {"varnel " + scene + " " + Path("notes.txt") + "/out.png", 1, "cannot write in folder"},
      {"varnel " + scene + " " + Path("existing.png"), 1, "existing.png: already exists (use -y to overwrite)"},
      {"varnel --azimuth 200 " + scene + " " + out, 2, "--azimuth 200: out of range; allowed -180.0..180.0"},
      {"varnel --pitch 1.25 " + scene + " " + out, 2, "--pitch 1.25: not a number"},
      {"varnel --fisheye " + scene + " " + out, 2, "unknown option --fisheye"},
      {"trimbel --input equirect --input polar " + scene + " " + out, 2, "--input polar: not an input"},
      {"varnel --check 12=1 " + scene + " " + out, 2, "--check 12=1: no check box 12"},
      {"nosuchplugin " + scene + " " + out, 2, "unknown plug-in 'nosuchplugin'"},
      {Path("notes.txt") + " " + scene + " " + out, 1, "cannot load plug-in"},
      {"varnel " + Path("clip.mp4") + " " + out, 2, "a picture holds one frame"},
      {"varnel --start 50 " + Path("clip.mp4") + " " + Path("out.mp4"), 2, "--start 50: the input has only 8 frames"},
      {"varnel " + scene, 2, "expected INPUT and OUTPUT"},
  };
  for (const Case& c : cases) {
    const Outcome o = Run(c.args);
    EXPECT_EQ(o.status, c.status) << c.args << "\n" << o.err;
    EXPECT_NE(o.err.find(c.message), std::string::npos) << c.args << "\n" << o.err;
    EXPECT_EQ(o.err.rfind("reproject: ", 0), 0u) << o.err;
    EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
    EXPECT_FALSE(Exists(out)) << c.args;
    EXPECT_FALSE(Exists(Path("out.mp4"))) << c.args;
    EXPECT_EQ(LeftoverParts(), 0) << c.args;
  }
  std::ifstream kept(Path("existing.png"));
  std::string content;
  std::getline(kept, content);
  EXPECT_EQ(content, "keep me");
  // With -y the existing file is replaced.
  EXPECT_EQ(Run("varnel -y " + scene + " " + Path("existing.png")).status, 0);
  EXPECT_EQ(ReadAll(Path("existing.png")).size(), 1u);
}

// Ctrl-C in the middle of a video: status 130, nothing written.
TEST_F(ReprojectCli, InterruptLeavesNoFile) {
  const std::string longer = Path("long.mp4");
  ASSERT_EQ(std::system(("ffmpeg -v error -y -f lavfi -i testsrc=size=640x320:rate=25:duration=20 -c:v libx264 "
                         "-preset ultrafast " + longer).c_str()), 0);
  const std::string out = Path("interrupted.mp4");
  const pid_t pid = fork();
  if (pid == 0) {
    freopen("/dev/null", "w", stderr);
    execl(REPROJECT_BIN, REPROJECT_BIN, "varnel", "--input", "equirect", "--bilinear", longer.c_str(),
          out.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  usleep(700 * 1000);
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_FALSE(Exists(out));
  EXPECT_EQ(LeftoverParts(), 0);
}

}  // namespace
