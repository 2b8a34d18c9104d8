#include "state.h"

#include <sys/random.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

#include "media_output.h"
#include "plugin_names.h"

namespace reproject {
namespace preview {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Track bars that hold angles: the ones keys record.
bool IsAngle(const TrackControl& t) { return std::strcmp(t.unit.name, "degrees") == 0; }

// A curve that holds the track's default at every frame (keys included).
bool AtDefault(const TrackCurve& curve, int def) { return curve.Min() == def && curve.Max() == def; }

bool ParseFrame(const std::string& text, long frame_count, long* frame, std::string* error) {
  char* end = nullptr;
  const long v = text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) ? -1
                                                                                     : std::strtol(text.c_str(), &end, 10);
  if (v < 0 || *end != '\0' || text.size() > 10) {
    *error = "frame " + text + ": expected a frame number 0 or more";
    return false;
  }
  if (frame_count > 0 && v >= frame_count) {
    *error = "frame " + text + ": the input has " + std::to_string(frame_count) +
             (frame_count == 1 ? " frame" : " frames");
    return false;
  }
  *frame = v;
  return true;
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (const std::string& item : items) out += (out.size() > 1 ? "," : "") + item;
  return out + "]";
}

}  // namespace

bool NamesPlugin(const std::string& arg) {
  for (const std::string& name : host::PluginNames())
    if (arg == Lower(name)) return true;
  return arg.size() > 3 && arg.compare(arg.size() - 3, 3, ".so") == 0;
}

bool LoadPlugins(const std::string& chosen, const std::string& folder, std::vector<PluginEntry>* plugins,
                 std::string* error) {
  std::vector<std::string> names = {chosen};
  for (const std::string& name : host::PluginNames())
    if (Lower(name) != chosen) names.push_back(Lower(name));
  for (const std::string& name : names) {
    std::string path, why;
    for (const std::string& library : host::PluginNames())
      if (!folder.empty() && name == Lower(library)) path = folder + "/" + library + ".so";
    if (path.empty() && !ResolvePlugin(name, &path)) {
      *error = "unknown plug-in '" + name + "'; use varnel, oskuda, trimbel or the path of a plug-in library";
      return false;
    }
    PluginEntry entry;
    entry.name = name;
    entry.library = host::PluginLibrary::Open(path, &why);
    if (!entry.library) {
      if (name == chosen) {
        *error = why;
        return false;
      }
      continue;
    }
    entry.controls = ControlSet::FromTable(entry.library->table());
    plugins->push_back(std::move(entry));
  }
  return true;
}

const PluginEntry* FindEntry(const std::vector<PluginEntry>& plugins, const std::string& name) {
  for (const PluginEntry& p : plugins)
    if (p.name == name) return &p;
  return nullptr;
}

bool IsPageParam(const std::string& name) {
  static const char* const kNames[] = {"token", "plugin", "frame", "fmt", "output", "overwrite", "this_frame"};
  for (const char* n : kNames)
    if (name == n) return true;
  return false;
}

bool ParseState(const Params& params, const std::vector<PluginEntry>& plugins, long frame_count, ViewState* state,
                std::string* error) {
  state->plugin = plugins.empty() ? nullptr : &plugins.front();
  state->frame = 0;
  for (const auto& [name, value] : params) {
    if (name == "plugin") {
      state->plugin = FindEntry(plugins, value);
      if (state->plugin == nullptr) {
        std::string offered;
        for (const PluginEntry& p : plugins) offered += (offered.empty() ? "" : ", ") + p.name;
        *error = "unknown plug-in '" + value + "'; offered: " + offered;
        return false;
      }
    } else if (name == "frame" && !ParseFrame(value, frame_count, &state->frame, error)) {
      return false;
    }
  }
  if (state->plugin == nullptr) {
    *error = "no plug-in loaded";
    return false;
  }
  const ControlSet& controls = state->plugin->controls;
  state->values = ControlValues::Defaults(controls);
  for (const auto& [name, value] : params) {
    if (IsPageParam(name)) continue;
    if (const CheckControl* c = controls.FindCheck(name)) {
      if (value != "0" && value != "1") {
        *error = "--" + name + " " + value + ": a box is 0 or 1";
        return false;
      }
      state->values.checks[c->index] = value == "1" ? 1 : 0;
      continue;
    }
    const int applied = ApplyControlOption(controls, name, value, &state->values, error);
    if (applied < 0) return false;
    if (applied == 0) {
      *error = "unknown control '" + name + "' for " + state->plugin->name + " (see reproject " + state->plugin->name +
               " --help)";
      return false;
    }
  }
  return true;
}

Options ConversionOptions(const ViewState& state, const Options& base, const std::string& name, bool overwrite,
                          bool this_frame) {
  Options o = base;
  o.values = state.values;
  o.output.path = name;
  o.overwrite = overwrite;
  if (this_frame) {
    o.start = state.frame;
    o.frames = 1;
  }
  const ControlSet& controls = state.plugin->controls;
  o.given_tracks.clear();
  for (const TrackControl& t : controls.tracks)
    if (!AtDefault(o.values.tracks[t.index], t.def)) o.given_tracks.push_back(t.index);
  o.input_given = controls.InputIn(o.values.checks) != controls.InputIn(ControlValues::Defaults(controls).checks);
  return o;
}

std::vector<std::string> CommandArgs(const std::string& plugin, const ControlSet& controls, const Options& o) {
  std::vector<std::string> args = {plugin};
  // The input projection by its name, then any box that still differs.
  ControlValues shown = ControlValues::Defaults(controls);
  const InputKind input = controls.InputIn(o.values.checks);
  if (input != controls.InputIn(shown.checks)) {
    std::string unused;
    args.insert(args.end(), {"--input", InputKindName(input)});
    ApplyControlOption(controls, "input", InputKindName(input), &shown, &unused);
  }
  for (const TrackControl& t : controls.tracks) {
    const TrackCurve& curve = o.values.tracks[t.index];
    if (AtDefault(curve, t.def)) continue;
    if (t.name.empty()) {
      args.insert(args.end(), {"--track", std::to_string(t.index) + "=" + FormatCurve(curve, 1)});
    } else {
      args.insert(args.end(), {"--" + t.name, FormatCurve(curve, t.unit.scale)});
    }
  }
  for (const CheckControl& c : controls.checks) {
    const int v = o.values.checks[c.index];
    if (v == shown.checks[c.index]) continue;
    if (!c.name.empty() && v == 1) args.push_back("--" + c.name);
    else args.insert(args.end(), {"--check", std::to_string(c.index) + "=" + std::to_string(v)});
  }
  const OutputRequest defaults;
  const OutputRequest& out = o.output;
  if (o.start > 0) args.insert(args.end(), {"--start", std::to_string(o.start)});
  if (o.frames > 0) args.insert(args.end(), {"--frames", std::to_string(o.frames)});
  if (o.max_w > 0) args.insert(args.end(), {"--max-size", std::to_string(o.max_w) + "x" + std::to_string(o.max_h)});
  if (!out.codec.empty()) args.insert(args.end(), {"--codec", out.codec});
  if (out.crf != defaults.crf) args.insert(args.end(), {"--crf", std::to_string(out.crf)});
  if (!out.preset.empty()) args.insert(args.end(), {"--preset", out.preset});
  if (out.bitrate > 0) args.insert(args.end(), {"--bitrate", std::to_string(out.bitrate)});
  if (!out.pix_fmt.empty()) args.insert(args.end(), {"--pix-fmt", out.pix_fmt});
  if (!out.audio_codec.empty()) args.insert(args.end(), {"--audio-codec", out.audio_codec});
  if (!out.audio) args.push_back("--no-audio");
  if (o.overwrite) args.push_back("-y");
  // A name that begins with '-' would be read as an option.
  if (o.input.rfind('-', 0) == 0 || out.path.rfind('-', 0) == 0) args.push_back("--");
  args.insert(args.end(), {o.input, out.path});
  return args;
}

std::string ShellLine(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) {
    const bool plain = !a.empty() && std::all_of(a.begin(), a.end(), [](char c) {
      return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("_@%+=:,./-", c) != nullptr;
    });
    std::string word = a;
    if (!plain) {
      word = "'";
      for (char c : a) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
      word += "'";
    }
    line += (line.empty() ? "" : " ") + word;
  }
  return line;
}

std::vector<std::string> StateNotes(const ViewState& state) {
  const Options o = ConversionOptions(state, Options(), "", false, false);
  return IdleControlNotes(state.plugin->controls, o.values, o.given_tracks);
}

bool CheckOutputName(const std::string& folder, const std::string& name, std::string* error) {
  const std::string shown = "output '" + name + "'";
  if (name.empty()) {
    *error = "no output name";
    return false;
  }
  if (name == "." || name == ".." || name.find('/') != std::string::npos) {
    *error = shown + ": a file name in the working folder, without a folder (no '/' or '..')";
    return false;
  }
  if (name.size() > 255 || std::any_of(name.begin(), name.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
      })) {
    *error = shown + ": too long or holds control characters";
    return false;
  }
  bool picture = false;
  if (!OutputFormatKnown(name, &picture)) {
    *error = shown + ": cannot tell the output format from the extension (use .png, .jpg, .mp4, .mkv, .mov ...)";
    return false;
  }
  struct stat st;
  if (lstat((folder + "/" + name).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    *error = shown + ": is a link; choose another name";
    return false;
  }
  return true;
}

bool HostAllowed(const std::string& host, int port) {
  const std::string suffix = ":" + std::to_string(port);
  return host == "127.0.0.1" + suffix || host == "localhost" + suffix;
}

std::string NewToken() {
  unsigned char bytes[16];
  std::size_t got = 0;
  while (got < sizeof(bytes)) {
    const ssize_t n = getrandom(bytes + got, sizeof(bytes) - got, 0);
    if (n > 0) got += static_cast<std::size_t>(n);
  }
  std::string token;
  char hex[3];
  for (unsigned char b : bytes) {
    std::snprintf(hex, sizeof(hex), "%02x", b);
    token += hex;
  }
  return token;
}

bool TokenMatches(const std::string& given, const std::string& token) {
  unsigned diff = given.size() == token.size() ? 0u : 1u;
  for (std::size_t i = 0; i < token.size(); ++i)
    diff |= static_cast<unsigned char>(token[i]) ^ static_cast<unsigned char>(i < given.size() ? given[i] : 0);
  return diff == 0 && !token.empty();
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof(code), "\\u%04x", u);
      out += code;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string ControlsJson(const PluginEntry& plugin) {
  const ControlSet& set = plugin.controls;
  std::vector<std::string> tracks, checks, inputs;
  for (const TrackControl& t : set.tracks) {
    const int scale = t.unit.scale;
    tracks.push_back("{\"index\":" + std::to_string(t.index) + ",\"name\":" + JsonString(t.name) +
                     ",\"caption\":" + JsonString(t.caption) + ",\"unit\":" + JsonString(t.unit.name) +
                     ",\"scale\":" + std::to_string(scale) + ",\"def\":" + JsonString(FormatScaledValue(t.def, scale)) +
                     ",\"min\":" + JsonString(FormatScaledValue(t.min, scale)) +
                     ",\"max\":" + JsonString(FormatScaledValue(t.max, scale)) +
                     ",\"angle\":" + (IsAngle(t) ? "true" : "false") + "}");
  }
  for (const CheckControl& c : set.checks) {
    checks.push_back("{\"index\":" + std::to_string(c.index) + ",\"name\":" + JsonString(c.name) +
                     ",\"caption\":" + JsonString(c.caption) + ",\"def\":" + std::to_string(c.def) +
                     ",\"input\":" + JsonString(InputKindName(c.input)) + "}");
  }
  for (InputKind kind : set.InputChoices()) inputs.push_back(JsonString(InputKindName(kind)));
  return "{\"plugin\":" + JsonString(plugin.name) + ",\"title\":" + JsonString(set.title) +
         ",\"tracks\":" + JsonList(tracks) + ",\"checks\":" + JsonList(checks) + ",\"inputs\":" + JsonList(inputs) +
         ",\"default_input\":" + JsonString(InputKindName(set.default_input)) + "}";
}

std::string StateJson(const ViewState& state, const Options& options) {
  const ControlSet& set = state.plugin->controls;
  std::vector<std::string> values, checks, notes;
  for (const TrackControl& t : set.tracks)
    values.push_back(JsonString(FormatScaledValue(state.values.tracks[t.index].At(state.frame), t.unit.scale)));
  for (int v : state.values.checks) checks.push_back(std::to_string(v));
  for (const std::string& note : StateNotes(state)) notes.push_back(JsonString(note));
  return "{\"plugin\":" + JsonString(state.plugin->name) + ",\"frame\":" + std::to_string(state.frame) +
         ",\"values\":" + JsonList(values) + ",\"checks\":" + JsonList(checks) +
         ",\"input\":" + JsonString(InputKindName(set.InputIn(state.values.checks))) +
         ",\"notes\":" + JsonList(notes) +
         ",\"command\":" + JsonString("reproject " + ShellLine(CommandArgs(state.plugin->name, set, options))) + "}";
}

std::string InitialStateJson(const ViewState& state) {
  const ControlSet& set = state.plugin->controls;
  std::vector<std::string> tracks, checks, keys;
  std::set<long> key_frames;
  for (const TrackControl& t : set.tracks) {
    const TrackCurve& curve = state.values.tracks[t.index];
    tracks.push_back(JsonString(FormatCurve(curve, t.unit.scale)));
    if (IsAngle(t) && curve.animated())
      for (const Keyframe& k : curve.keys()) key_frames.insert(k.frame);
  }
  for (int v : state.values.checks) checks.push_back(std::to_string(v));
  for (long frame : key_frames) {
    std::vector<std::string> at;
    for (const TrackControl& t : set.tracks) {
      if (!IsAngle(t)) continue;
      at.push_back(JsonString(std::to_string(t.index)) + ":" +
                   JsonString(FormatScaledValue(state.values.tracks[t.index].At(frame), t.unit.scale)));
    }
    std::string object = "{";
    for (const std::string& a : at) object += (object.size() > 1 ? "," : "") + a;
    object += "}";
    keys.push_back("{\"frame\":" + std::to_string(frame) + ",\"values\":" + object + "}");
  }
  return "{\"plugin\":" + JsonString(state.plugin->name) + ",\"frame\":" + std::to_string(state.frame) +
         ",\"tracks\":" + JsonList(tracks) + ",\"checks\":" + JsonList(checks) +
         ",\"input\":" + JsonString(InputKindName(set.InputIn(state.values.checks))) + ",\"keys\":" + JsonList(keys) + "}";
}

}  // namespace preview
}  // namespace reproject
