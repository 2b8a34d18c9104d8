// Running the reproject program from tests: a child process under limits
// (file size, address space, a signal after a delay, a time limit), the test
// media made once per test program, and the pictures of an output read back
// as YC48 (through the same conversions the program uses).
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "aviutl_filter.h"

namespace reproject_test {

struct Limits {
  long file_size_bytes = -1;       // RLIMIT_FSIZE, -1: none
  bool file_size_signal = false;   // keep SIGXFSZ's default action (end the process)
  long address_space_bytes = -1;   // RLIMIT_AS, -1: none
  int signal_after_ms = -1;        // send `signal` this long after the start
  int signal = 0;
  std::string stdin_path;          // a file for the standard input ("": /dev/null)
};

struct Outcome {
  bool finished = false;  // ended by itself within the time limit
  int status = -1;        // exit status, -1 if ended by a signal
  int signal = 0;
  std::string err;
};

Outcome RunReproject(const std::vector<std::string>& args, const Limits& limits = Limits());

// A shell command's exit status is 0.
bool Shell(const std::string& command);
std::string ReadFile(const std::string& path);
bool Exists(const std::string& path);

// Names in `folder` that mark an unfinished output (hidden temporary files).
std::vector<std::string> Leftovers(const std::string& folder);

// What every failure must look like: on time, `status`, one line naming the
// program, and neither the output nor an unfinished file left.
void ExpectCleanFailure(const Outcome& o, int status, const std::string& output, const std::string& what);

// The test media folder of this program (made on first use, removed at
// exit), and named media in it, made with ffmpeg on first use:
// scene.png (256 x 128 bundled scene), clip.mp4 (8 frames 128x64 at 25 fps
// with AAC audio), long.mp4 (20 s 640x320, no audio), pcm.mov (PCM audio).
std::string Folder();
std::string Media(const std::string& name);
std::string Path(const std::string& name);  // a file name in the folder

struct Picture {
  int w = 0;
  int h = 0;
  std::vector<PIXEL_YC> yc;
  bool operator==(const Picture& o) const;
};

// Every frame of a file (at most `limit`), as the program would read it.
std::vector<Picture> ReadPictures(const std::string& path, long limit = -1);

// A plug-in run in this process on a picture, as the editor would: its
// table's defaults with `tracks` (index, value) set and the `ticked` boxes.
Picture RunInProcess(const std::string& plugin, const Picture& in, const std::vector<std::pair<int, int>>& tracks,
                     const std::vector<int>& ticked, int cap_w, int cap_h);

// The YC48 an output shows after the editor's conversion to 8-bit RGB and
// back, which is what an 8-bit picture file keeps.
Picture ThroughRgb8(const Picture& p);

}  // namespace reproject_test
