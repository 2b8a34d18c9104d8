// The command line: [HOST OPTIONS] PLUGIN [OPTIONS] INPUT OUTPUT, where
// OPTIONS mixes host options and the plug-in's control options.
#pragma once

#include <string>
#include <vector>

#include "media_output.h"
#include "plugin_controls.h"

namespace reproject {

// Exit statuses.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;   // an input or output failed
constexpr int kExitUsage = 2;    // bad usage: unknown option, bad value ...
constexpr int kExitInterrupted = 130;

struct Options {
  std::string input;
  OutputRequest output;        // the output's name and encoder choices
  bool overwrite = false;
  bool quiet = false;
  bool help = false;
  long start = 0;      // first input frame
  long frames = -1;    // number of frames, -1: to the end
  int max_w = 0;       // capacity given by --max-size; 0: automatic
  int max_h = 0;
  ControlValues values;
  std::vector<int> given_tracks;  // track bars the command line set, in order
  bool input_given = false;       // an input projection was chosen (--input or an input box)
};

// Splits the arguments into the plug-in's name and the rest: host options may
// come before the plug-in. False and *error if there is no plug-in name or an
// option before it is not a host option.
bool FindPlugin(const std::vector<std::string>& args, std::string* plugin, std::vector<std::string>* rest,
                std::string* error);

// Parses everything but the plug-in's name. False and a one-line *error on
// bad usage. `with_output`: the arguments end with INPUT OUTPUT; otherwise
// with INPUT alone (options.output.path stays empty).
bool ParseOptions(const std::vector<std::string>& args, const ControlSet& controls, Options* options,
                  std::string* error, bool with_output = true);

// The plug-in library for a name (varnel, oskuda, trimbel), found beside this
// program (installed: <prefix>/lib/lens-reprojection/plugins; in a build
// tree: <build>/plugins), or a path. False if `arg` is neither a known name
// nor something that looks like a path.
bool ResolvePlugin(const std::string& arg, std::string* path);

std::string HostUsage();

}  // namespace reproject
