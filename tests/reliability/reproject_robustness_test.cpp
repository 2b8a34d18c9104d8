// The reproject program against damaged media and a failing environment:
// files that are empty, cut short, corrupt or misnamed, picture headers with
// absurd sizes, media without a picture stream, a disk that fills up while
// the output is written, too little memory, and runs that are killed. Each
// must end within a bounded time with one line on stderr, the documented
// exit status, and no output file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "reproject_run.h"

namespace {

using namespace reproject_test;

constexpr int kExitFailed = 1;
constexpr int kExitInterrupted = 130;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::uint32_t Crc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string Be32(std::uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
}

std::string PngChunk(const std::string& type, const std::string& data) {
  return Be32(static_cast<std::uint32_t>(data.size())) + type + data + Be32(Crc32(type + data));
}

// A PNG whose header claims w x h with valid checksums, followed by a few
// bytes of stored (uncompressed) image data.
std::string PngWithSize(std::uint32_t w, std::uint32_t h) {
  const std::string ihdr = Be32(w) + Be32(h) + std::string("\x08\x02\x00\x00\x00", 5);
  const std::string row = std::string(1, '\0') + std::string(30, '\x40');
  // zlib stream of one stored block: header, block header, data, adler32.
  std::uint32_t a = 1, b = 0;
  for (unsigned char c : row) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  const std::uint16_t len = static_cast<std::uint16_t>(row.size());
  std::string z = "\x78\x01";
  z += '\x01';
  z += static_cast<char>(len & 0xFF);
  z += static_cast<char>(len >> 8);
  z += static_cast<char>(~len & 0xFF);
  z += static_cast<char>((~len >> 8) & 0xFF);
  z += row + Be32((b << 16) | a);
  return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr) + PngChunk("IDAT", z) +
         PngChunk("IEND", "");
}

class ReprojectRobustness : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const std::string ff = "ffmpeg -v error -y -nostdin ";
    const std::string src = "-f lavfi -i testsrc=size=320x160:rate=25:duration=4 ";
    ok_ = Shell(ff + src + "-c:v libx264 -preset ultrafast -movflags +faststart " + Path("front.mp4")) &&
          Shell(ff + src + "-c:v libx264 -preset ultrafast " + Path("back.mp4")) &&
          Shell(ff + src + "-c:v libx264 -preset ultrafast " + Path("clip.mkv")) &&
          Shell(ff + "-f lavfi -i testsrc=size=320x160:rate=25:duration=3,noise=alls=60:allf=t "
                     "-c:v libx264 -preset ultrafast " + Path("noisy.mp4")) &&
          Shell(ff + "-f lavfi -i testsrc=size=256x128 -frames:v 1 " + Path("small.png")) &&
          Shell(ff + "-f lavfi -i sine=frequency=440:duration=1 -c:a aac " + Path("audio.m4a")) &&
          Shell(ff + "-f lavfi -i sine=frequency=440:duration=1 " + Path("audio.wav")) &&
          Shell(ff + "-f lavfi -i sine=frequency=440:duration=1 -c:a aac " + Path("sound-only.mp4"));
  }

  void SetUp() override { ASSERT_TRUE(ok_) << "ffmpeg could not make the test media"; }

  static bool ok_;
};
bool ReprojectRobustness::ok_ = false;

// Damaged and misleading inputs, including picture headers whose sizes no
// decoder should try to honour.
TEST_F(ReprojectRobustness, BadInputsFailWithOneLine) {
  const std::string mp4 = ReadFile(Path("front.mp4"));
  const std::string back = ReadFile(Path("back.mp4"));
  const std::string png = ReadFile(Path("small.png"));
  WriteFile(Path("empty.mp4"), "");
  WriteFile(Path("empty.mkv"), "");
  WriteFile(Path("cut-header.mp4"), mp4.substr(0, 40));
  WriteFile(Path("cut-front.mp4"), mp4.substr(0, mp4.size() / 2));
  WriteFile(Path("cut-back.mp4"), back.substr(0, back.size() / 2));
  WriteFile(Path("cut.png"), png.substr(0, png.size() * 3 / 4));
  std::string noise(50000, '\0');
  std::uint32_t s = 12345;
  for (char& c : noise) {
    s = s * 1103515245u + 12345u;
    c = static_cast<char>(s >> 16);
  }
  WriteFile(Path("noise.mp4"), noise);
  WriteFile(Path("noise.png"), noise);
  std::string flipped = mp4;
  for (std::size_t i = 2000; i < flipped.size(); i += 97) flipped[i] = static_cast<char>(~flipped[i]);
  WriteFile(Path("flipped.mp4"), flipped);
  WriteFile(Path("notes.mkv"), "just some text\n");
  WriteFile(Path("sound.png"), ReadFile(Path("audio.wav")));  // a wave file named as a picture
  WriteFile(Path("huge.png"), PngWithSize(0x7FFFFFFF, 0x7FFFFFFF));
  WriteFile(Path("big.png"), PngWithSize(60000, 60000));
  WriteFile(Path("wide.png"), PngWithSize(1000000, 1));
  WriteFile(Path("tall.png"), PngWithSize(1, 200000));
  WriteFile(Path("large.png"), PngWithSize(16000, 16000));
  WriteFile(Path("zero.png"), PngWithSize(0, 0));
  WriteFile(Path("huge.ppm"), "P6\n99999 99999\n255\n" + std::string(300, '\x10'));
  WriteFile(Path("negative.ppm"), "P6\n-5 -7\n255\n" + std::string(300, '\x10'));

  const std::string inputs[] = {"empty.mp4",  "empty.mkv",   "cut-header.mp4", "cut-front.mp4",
                                "cut-back.mp4", "cut.png",   "noise.mp4",      "noise.png",
                                "flipped.mp4", "notes.mkv",  "sound.png",      "audio.m4a",
                                "audio.wav",  "sound-only.mp4", "huge.png",    "big.png",
                                "wide.png",   "tall.png",    "large.png",      "zero.png",
                                "huge.ppm",   "negative.ppm"};
  for (const std::string& input : inputs) {
    // A video that is still partly readable into a picture is a usage error
    // found before any decoding; only write those to a video.
    const bool video = input.find(".mp4") != std::string::npos || input.find(".mkv") != std::string::npos;
    for (const std::string& output : {std::string("out.png"), std::string("out.mp4")}) {
      if (video && output == "out.png") continue;
      const Outcome o = RunReproject({"varnel", Path(input), Path(output)});
      ExpectCleanFailure(o, kExitFailed, Path(output), input + " -> " + output);
    }
  }
}

// A picture stream that stops before its last frame: the frames that were
// decoded must not be passed off as the whole video.
TEST_F(ReprojectRobustness, InputEndingEarlyIsAnError) {
  const std::string mp4 = ReadFile(Path("front.mp4"));
  WriteFile(Path("short.mp4"), mp4.substr(0, mp4.size() * 2 / 3));
  const Outcome o = RunReproject({"oskuda", Path("short.mp4"), Path("short-out.mp4")});
  ExpectCleanFailure(o, kExitFailed, Path("short-out.mp4"), "short.mp4");
}

// Matroska keeps no frame count in its header: a cut-off .mkv is caught by
// the duration it declares, and the whole file still converts.
TEST_F(ReprojectRobustness, MatroskaEndingEarly) {
  const std::string mkv = ReadFile(Path("clip.mkv"));
  WriteFile(Path("short.mkv"), mkv.substr(0, mkv.size() * 2 / 3));
  const Outcome o = RunReproject({"oskuda", Path("short.mkv"), Path("short-out.mkv")});
  EXPECT_TRUE(o.finished);
  ExpectCleanFailure(o, kExitFailed, Path("short-out.mkv"), "short.mkv");
  EXPECT_NE(o.err.find("declares"), std::string::npos) << o.err;
  const Outcome whole = RunReproject({"oskuda", Path("clip.mkv"), Path("whole-out.mkv")});
  EXPECT_EQ(whole.status, 0) << whole.err;
  std::remove(Path("whole-out.mkv").c_str());
}

// The output outgrows what the file system allows while it is written: the
// limit is set below the size the same run writes without it (a tenth and a
// half of it), so the write fails part-way, in the encoder's stream or when
// the file is finished.
TEST_F(ReprojectRobustness, FileSizeLimitMidWrite) {
  const std::pair<std::string, std::string> cases[] = {
      {"front.mp4", "full.mp4"}, {"front.mp4", "full.mkv"}, {"front.mp4", "full.mov"},
      {"small.png", "full.png"}, {"small.png", "full.tif"}, {"long.mp4", "full-long.mp4"},
  };
  for (const auto& [input, name] : cases) {
    const std::string output = Path(name);
    const std::string source = input == "long.mp4" ? Media(input) : Path(input);
    const std::vector<std::string> args = {"trimbel", "--bilinear", "--frames", "40", source, output};
    const Outcome free_run = RunReproject(args);
    ASSERT_EQ(free_run.status, 0) << name << "\n" << free_run.err;
    struct stat st;
    ASSERT_EQ(stat(output.c_str(), &st), 0);
    std::remove(output.c_str());
    for (long limit : {static_cast<long>(st.st_size) / 10, static_cast<long>(st.st_size) / 2}) {
      // With the file-size signal ignored, writes fail; with its default
      // action it would end the process, which the program prevents.
      for (bool signal_kept : {false, true}) {
        Limits limits;
        limits.file_size_bytes = limit;
        limits.file_size_signal = signal_kept;
        const Outcome o = RunReproject(args, limits);
        ExpectCleanFailure(o, kExitFailed, output,
                           name + " limited to " + std::to_string(limit) + " of " + std::to_string(st.st_size) +
                               " bytes" + (signal_kept ? " (SIGXFSZ kept)" : ""));
        std::remove(output.c_str());
      }
    }
  }
}

// A real full disk: a small tmpfs. Needs the right to mount; skipped elsewhere
// (the file size limit above covers the same path without privileges).
TEST_F(ReprojectRobustness, FullTmpfs) {
  const std::vector<std::string> run = {"varnel", "--bilinear", Path("noisy.mp4")};
  std::vector<std::string> args = run;
  args.push_back(Path("unlimited.mp4"));
  const Outcome free_run = RunReproject(args);
  ASSERT_EQ(free_run.status, 0) << free_run.err;
  struct stat st;
  ASSERT_EQ(stat(Path("unlimited.mp4").c_str(), &st), 0);
  const long kib = std::max(8L, static_cast<long>(st.st_size) / 2 / 1024);
  const std::string mount_point = Path("small-disk");
  mkdir(mount_point.c_str(), 0755);
  if (mount("tmpfs", mount_point.c_str(), "tmpfs", 0, ("size=" + std::to_string(kib) + "k").c_str()) != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { umount(path.c_str()); }
  } unmount{mount_point};
  const std::string output = mount_point + "/out.mp4";
  args = run;
  args.push_back(output);
  const Outcome o = RunReproject(args);
  ExpectCleanFailure(o, kExitFailed, output,
                     std::to_string(kib) + " KiB tmpfs for " + std::to_string(st.st_size) + " bytes");
}

// Too little memory for the frame buffers the capacity asks for: a failed
// run, not a crash.
TEST_F(ReprojectRobustness, OutOfMemoryIsAFailedRun) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit leaves";
#endif
  Limits limits;
  limits.address_space_bytes = 2000L * 1000L * 1024L;
  const std::string output = Path("oom.png");
  const Outcome o = RunReproject({"varnel", "--max-size", "32768x32768", Path("small.png"), output}, limits);
  ExpectCleanFailure(o, kExitFailed, output, "--max-size 32768x32768 in 2 GB");
  EXPECT_NE(o.err.find("out of memory"), std::string::npos) << o.err;
}

// A run ended from outside: SIGTERM and SIGHUP are handled like Ctrl-C;
// SIGKILL cannot be handled, but nothing is left, not even a hidden file, and
// a new run to the same name afterwards succeeds.
TEST_F(ReprojectRobustness, KilledRunLeavesNothing) {
  const std::string input = Media("long.mp4");
  for (int sig : {SIGTERM, SIGHUP}) {
    const std::string output = Path("stopped.mp4");
    Limits limits;
    limits.signal_after_ms = 800;
    limits.signal = sig;
    const Outcome o = RunReproject({"varnel", "--bilinear", input, output}, limits);
    ExpectCleanFailure(o, kExitInterrupted, output, std::string("signal ") + strsignal(sig));
  }
  const std::string output = Path("killed.mp4");
  Limits limits;
  limits.signal_after_ms = 800;
  limits.signal = SIGKILL;
  const Outcome o = RunReproject({"varnel", "--bilinear", input, output}, limits);
  EXPECT_TRUE(o.finished);
  EXPECT_EQ(o.signal, SIGKILL);
  EXPECT_FALSE(Exists(output)) << "a killed run left a file under the output name";
  EXPECT_TRUE(Leftovers(Folder()).empty()) << "a killed run left a hidden file";
  const Outcome again = RunReproject({"varnel", "--frames", "5", input, output});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_TRUE(Exists(output));
}

}  // namespace
