// `reproject preview`: a page on 127.0.0.1 that shows the plug-in's output
// for the controls the user moves, and starts the conversion. Every request
// must carry the access token printed at start and name the loopback address
// in its Host header; nothing is read but the input and the page's own files,
// and outputs are written only as plain names in the working folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "options.h"
#include "state.h"

namespace reproject {
namespace preview {

struct PreviewSettings {
  std::vector<PluginEntry> plugins;  // the one chosen on the command line first
  Options options;                   // the rest of the command line: input, controls, host options
  std::string folder = ".";          // where conversions from the page write
  int port = 0;                      // 0: a free port
  bool open_browser = true;
};

// Reads `reproject preview [PLUGIN] [OPTIONS] INPUT` (the arguments after
// "preview"; PLUGIN defaults to varnel) and the preview's own options
// --port N and --no-browser. False and a one-line *error on bad usage; with
// --help, true and settings->options.help.
// `plugin_folder`: where the plug-ins lie, when not where reproject finds them.
bool ParsePreviewArgs(const std::vector<std::string>& args, PreviewSettings* settings, std::string* error,
                      const std::string& plugin_folder = "");

class PreviewServer {
 public:
  // Opens the input, binds 127.0.0.1 and serves on a thread of its own. Null
  // and a one-line *error when the input cannot be previewed or the port
  // cannot be had; *status (if given) then says which: kExitUsage for an
  // input the command line cannot ask for (the standard input, a frame past
  // a single picture), kExitFailed otherwise.
  static std::unique_ptr<PreviewServer> Start(PreviewSettings settings, std::string* error,
                                              int* status = nullptr);
  // Stops serving, cancels a conversion started from the page and waits for
  // it.
  ~PreviewServer();

  int port() const;
  const std::string& token() const;
  std::string Url() const;  // the page's address with its token

 private:
  PreviewServer();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The command: parses, serves until interrupted (Ctrl-C), returns the exit
// status.
int RunPreview(const std::vector<std::string>& args);

std::string PreviewUsage();

}  // namespace preview
}  // namespace reproject
