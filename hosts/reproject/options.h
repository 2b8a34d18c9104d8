// The command line: PLUGIN [OPTIONS] INPUT OUTPUT, host options and the
// plug-in's control options together.
#pragma once

#include <string>
#include <vector>

#include "plugin_controls.h"

namespace reproject {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // an input or output failed
constexpr int kExitUsage = 2;    // bad usage: unknown option, bad value ...
constexpr int kExitInterrupted = 130;

struct Options {
  std::string input;
  std::string output;
  bool overwrite = false;
  bool quiet = false;
  bool help = false;
  bool audio = true;
  long start = 0;      // first input frame
  long frames = -1;    // number of frames, -1: to the end
  int max_w = 0;       // capacity given by --max-size; 0: automatic
  int max_h = 0;
  int crf = 18;
  std::string codec;
  ControlValues values;
};

// Parses everything after PLUGIN. False and a one-line *error on bad usage.
bool ParseOptions(const std::vector<std::string>& args, const ControlSet& controls, Options* options,
                  std::string* error);

// The plug-in library for a name (varnel, oskuda, trimbel) or a path.
// False if `arg` is neither a known name nor something that looks like a path.
bool ResolvePlugin(const std::string& arg, std::string* path);

std::string HostUsage();

}  // namespace reproject
