// What the preview page sends and is sent, as plain functions: the view's
// state read from a request's parameters, the command line that converts
// it, the checks every request and every output name pass, and the JSON the
// page reads. The HTTP layer (server.h) only calls these.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "options.h"
#include "plugin_controls.h"
#include "plugin_host.h"

namespace reproject {
namespace preview {

// A plug-in the page offers.
struct PluginEntry {
  std::string name;  // as reproject takes it: varnel, ..., or the path given
  std::unique_ptr<host::PluginLibrary> library;
  ControlSet controls;
};

// Loads every plug-in reproject knows by name, and `chosen` (a name or a
// path) if it is none of them; `chosen` comes first. A plug-in that does not
// load is not offered, except `chosen`, whose failure is an error. The
// libraries are found as reproject finds them, or in `folder` when given.
bool LoadPlugins(const std::string& chosen, const std::string& folder, std::vector<PluginEntry>* plugins,
                 std::string* error);
const PluginEntry* FindEntry(const std::vector<PluginEntry>& plugins, const std::string& name);

// True if `arg` names a plug-in rather than an input: a name reproject knows
// or a library file (.so).
bool NamesPlugin(const std::string& arg);

// A request's parameters in order (a name may repeat: track=, check=).
using Params = std::vector<std::pair<std::string, std::string>>;

// What the page shows: a plug-in, its controls' values and a frame of the
// input.
struct ViewState {
  const PluginEntry* plugin = nullptr;
  ControlValues values;
  long frame = 0;
};

// Reads a state from the page's parameters: `plugin` (a name from
// `plugins`; the first one if absent), `frame` (0 .. frame_count - 1, any
// when frame_count is 0) and one parameter per control, named as its option
// with the value as the command line takes it (`azimuth=0@0,90@120`,
// `input=equirect`, `bilinear=1` or `=0`, `track=N=V`, `check=N=V`). Controls
// not named keep their defaults. Parameters in `page_params` are the page's
// own and skipped. False and one line in *error for an unknown plug-in or
// control, a value out of range or not a number.
bool ParseState(const Params& params, const std::vector<PluginEntry>& plugins, long frame_count, ViewState* state,
                std::string* error);

// The page's own parameters: everything a request may carry besides the
// controls.
bool IsPageParam(const std::string& name);

// What a conversion of the state writes: `base` (the preview's command line:
// input and host options) with the state's controls, the output `name`,
// overwrite, and with `this_frame` only the state's frame.
Options ConversionOptions(const ViewState& state, const Options& base, const std::string& name, bool overwrite,
                          bool this_frame);

// The arguments that make reproject run `options` with `plugin`, beginning
// with the plug-in's name: controls that differ from the table's defaults,
// host options that differ from reproject's, then INPUT OUTPUT.
std::vector<std::string> CommandArgs(const std::string& plugin, const ControlSet& controls, const Options& options);

// The arguments as one line a POSIX shell reads back as they are.
std::string ShellLine(const std::vector<std::string>& args);

// Notes for the state's controls that do nothing with the boxes as they are.
std::vector<std::string> StateNotes(const ViewState& state);

// Output names: a plain file name in `folder` (no folder part, not `.` or
// `..`, no control characters), with an extension reproject can write, and
// not a link. False and one line in *error otherwise.
bool CheckOutputName(const std::string& folder, const std::string& name, std::string* error);

// Requests come from this machine's page: the Host header names the loopback
// address (127.0.0.1 or localhost) with the server's port, which a page of
// another site reaching this port through its own name (DNS rebinding)
// cannot send.
bool HostAllowed(const std::string& host, int port);

// A new access token (128 random bits in hex), and its comparison in a time
// that does not depend on where the two differ.
std::string NewToken();
bool TokenMatches(const std::string& given, const std::string& token);

// JSON text.
std::string JsonString(const std::string& text);
// The plug-in's controls for the page: captions, option names, units,
// ranges and defaults in user units, the input projections.
std::string ControlsJson(const PluginEntry& plugin);
// The state at its frame: every track's value there (as reproject
// interpolates it), the boxes, the input projection, the notes, and the
// command line for `options`.
std::string StateJson(const ViewState& state, const Options& options);
// The state as the page starts from it: each track's curve and box, and the
// keys (frames where an angle track has a keyframe, with every angle's value
// there).
std::string InitialStateJson(const ViewState& state);

}  // namespace preview
}  // namespace reproject
