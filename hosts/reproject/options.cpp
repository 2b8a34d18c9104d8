#include "options.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "plugin_names.h"

namespace reproject {
namespace {

struct HostOption {
  const char* name;   // without "--"
  const char* short_name;
  bool takes_value;
};
const HostOption kHostOptions[] = {
    {"overwrite", "-y", false}, {"quiet", "-q", false},    {"help", "-h", false},
    {"no-audio", nullptr, false}, {"start", nullptr, true}, {"frames", nullptr, true},
    {"max-size", nullptr, true}, {"crf", nullptr, true},    {"codec", nullptr, true},
    {"preset", nullptr, true},   {"bitrate", nullptr, true}, {"pix-fmt", nullptr, true},
    {"audio-codec", nullptr, true},
};

// The host option `arg` names (with or without "=value"), or null.
const HostOption* FindHostOption(const std::string& arg) {
  for (const HostOption& o : kHostOptions) {
    if (o.short_name != nullptr && arg == o.short_name) return &o;
    const std::string long_name = std::string("--") + o.name;
    if (arg == long_name || (o.takes_value && arg.compare(0, long_name.size() + 1, long_name + "=") == 0))
      return &o;
  }
  return nullptr;
}

bool ParseCount(const std::string& text, long min, long* out) {
  int v = 0;
  if (text.empty() || !ParseScaledValue(text, 1, &v) || v < min || text[0] == '+') return false;
  *out = v;
  return true;
}

// "8M", "2500k", "800000": bits per second.
bool ParseBitrate(const std::string& text, std::int64_t* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  double scale = 1.0;
  if (*end == 'k' || *end == 'K') scale = 1e3, ++end;
  else if (*end == 'M') scale = 1e6, ++end;
  else if (*end == 'G') scale = 1e9, ++end;
  if (*end != '\0' || !(v > 0.0) || v * scale > 1e12) return false;
  *out = static_cast<std::int64_t>(v * scale + 0.5);
  return *out > 0;
}

std::string ProgramFolder() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<std::size_t>(n));
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool IsFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string HostUsage() {
  return
      "usage: reproject [HOST OPTIONS] PLUGIN [OPTIONS] INPUT OUTPUT\n"
      "       reproject PLUGIN --help      (lists the plug-in's controls)\n"
      "       reproject preview [PLUGIN] [OPTIONS] INPUT   (a page on 127.0.0.1 to choose the\n"
      "                                    view by looking; see reproject preview --help)\n"
      "PLUGIN: varnel (perspective view), oskuda (dome master), trimbel (equirectangular\n"
      "        panorama), or the path of a plug-in library.\n"
      "INPUT:  a picture (PNG, JPEG, TIFF, ...), a video (MP4, MOV, MKV, ...), numbered\n"
      "        pictures (in%04d.png) or - for the standard input.\n"
      "OUTPUT: its extension selects the format: a picture (.png, .jpg, .tif; out%04d.png\n"
      "        for one numbered picture a frame) or a video (.mp4, .mov, .mkv, ...) with the\n"
      "        input's frame rate, timestamps, tags and audio.\n"
      "Host options:\n"
      "  -y, --overwrite     replace an existing OUTPUT\n"
      "  -q, --quiet         nothing on stderr unless the run fails\n"
      "  --start N           first input frame to convert (from 0)\n"
      "  --frames N          number of frames to convert\n"
      "  --max-size WxH      capacity of the frame buffers the plug-in sees\n"
      "                      (default: large enough for every output the controls ask for)\n"
      "  --codec NAME        video encoder, e.g. libx264, libx265, ffv1, prores_ks\n"
      "                      (default: the container's; 10-bit H.265 for inputs of more than 8 bits)\n"
      "  --crf N             quality of libx264/libx265, 0 (best) to 51, default 18\n"
      "  --preset NAME       speed of libx264/libx265, ultrafast .. placebo, default medium\n"
      "  --bitrate RATE      target bit rate instead of a quality, e.g. 8M or 2500k\n"
      "  --pix-fmt NAME      pixel format of the output, e.g. yuv420p, yuv420p10le, rgb48be\n"
      "  --audio-codec NAME  copy (default where the container takes it) or an encoder, e.g. aac\n"
      "  --no-audio          leave the audio out\n"
      "Exit status: 0 success, 1 an input or output failed, 2 bad usage, 130 interrupted.\n";
}

bool FindPlugin(const std::vector<std::string>& args, std::string* plugin, std::vector<std::string>* rest,
                std::string* error) {
  rest->clear();
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
      const HostOption* option = FindHostOption(arg);
      if (option == nullptr) {
        *error = "unknown option " + arg + " before PLUGIN (the plug-in's controls come after its name)";
        return false;
      }
      rest->push_back(arg);
      if (option->takes_value && arg.find('=') == std::string::npos && i + 1 < args.size()) rest->push_back(args[++i]);
      continue;
    }
    *plugin = arg;
    rest->insert(rest->end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
    return true;
  }
  *error = "expected PLUGIN, INPUT and OUTPUT (see reproject --help)";
  return false;
}

bool ResolvePlugin(const std::string& arg, std::string* path) {
  // A filter's name in lower case names its plug-in.
  std::string library;
  for (const std::string& name : host::PluginNames()) {
    std::string command = name;
    for (char& c : command) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (arg == command) library = name;
  }
  if (!library.empty()) {
    const std::string folder = ProgramFolder();
    const std::string installed = folder + "/" + LENS_PLUGIN_RELATIVE_DIR + "/" + library + ".so";
    const std::string build_tree = folder + "/../../plugins/" + library + ".so";
    *path = IsFile(installed) || !IsFile(build_tree) ? installed : build_tree;
    return true;
  }
  if (arg.find('/') != std::string::npos || (arg.size() > 3 && arg.compare(arg.size() - 3, 3, ".so") == 0)) {
    *path = arg.find('/') == std::string::npos ? "./" + arg : arg;
    return true;
  }
  return false;
}

bool ParseOptions(const std::vector<std::string>& args, const ControlSet& controls, Options* o,
                  std::string* error, bool with_output) {
  o->values = ControlValues::Defaults(controls);
  std::vector<std::string> positional;
  bool only_positional = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (only_positional || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      only_positional = true;
      continue;
    }
    if (arg == "-y" || arg == "--overwrite") { o->overwrite = true; continue; }
    if (arg == "-q" || arg == "--quiet") { o->quiet = true; continue; }
    if (arg == "-h" || arg == "--help") { o->help = true; continue; }
    if (arg == "--no-audio") { o->output.audio = false; continue; }
    if (arg.compare(0, 2, "--") != 0) {
      *error = "unknown option " + arg + " (see reproject PLUGIN --help)";
      return false;
    }
    std::string name = arg.substr(2);
    std::string value;
    bool has_value = false;
    const size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    bool known = false;
    bool takes_value = ControlOptionTakesValue(controls, name, &known);
    const HostOption* host_option = FindHostOption("--" + name);
    if (!known && host_option == nullptr) {
      *error = "unknown option --" + name + " (see reproject PLUGIN --help)";
      return false;
    }
    if (host_option != nullptr) takes_value = host_option->takes_value;
    if (takes_value && !has_value) {
      if (i + 1 >= args.size()) {
        *error = "option --" + name + " needs a value";
        return false;
      }
      value = args[++i];
    } else if (!takes_value && has_value) {
      *error = "option --" + name + " is a flag and takes no value (got '" + value + "')";
      return false;
    }
    const std::string shown = "--" + name + " " + value;
    if (name == "start") {
      if (!ParseCount(value, 0, &o->start)) {
        *error = shown + ": expected a frame number 0 or more";
        return false;
      }
    } else if (name == "frames") {
      if (!ParseCount(value, 1, &o->frames)) {
        *error = shown + ": expected a number of frames, 1 or more";
        return false;
      }
    } else if (name == "max-size") {
      const size_t x = value.find('x');
      long w = 0, h = 0;
      if (x == std::string::npos || !ParseCount(value.substr(0, x), 2, &w) ||
          !ParseCount(value.substr(x + 1), 2, &h) || w > 32768 || h > 32768) {
        *error = shown + ": expected WIDTHxHEIGHT, each 2..32768";
        return false;
      }
      o->max_w = static_cast<int>(w);
      o->max_h = static_cast<int>(h);
    } else if (name == "crf") {
      long crf = 0;
      if (!ParseCount(value, 0, &crf) || crf > 51) {
        *error = shown + ": out of range; allowed 0..51";
        return false;
      }
      o->output.crf = static_cast<int>(crf);
    } else if (name == "bitrate") {
      if (!ParseBitrate(value, &o->output.bitrate)) {
        *error = shown + ": expected bits per second, e.g. 8M, 2500k or 800000";
        return false;
      }
    } else if (name == "codec" || name == "preset" || name == "pix-fmt" || name == "audio-codec") {
      if (value.empty()) {
        *error = "option --" + name + " needs a value";
        return false;
      }
      std::string& field = name == "codec" ? o->output.codec : name == "preset" ? o->output.preset
                           : name == "pix-fmt" ? o->output.pix_fmt : o->output.audio_codec;
      field = value;
    } else if (name == "help") {
      o->help = true;
    } else {
      if (ApplyControlOption(controls, name, value, &o->values, error) < 0) return false;
      if (name == "input") {
        o->input_given = true;
      } else if (name == "check") {
        const int index = std::atoi(value.c_str());
        if (index >= 0 && index < static_cast<int>(controls.checks.size()) &&
            controls.checks[static_cast<std::size_t>(index)].input != InputKind::None)
          o->input_given = true;
      } else if (const TrackControl* t = controls.FindTrack(name)) {
        o->given_tracks.push_back(t->index);
      } else if (name == "track") {
        o->given_tracks.push_back(std::atoi(value.c_str()));
      }
    }
  }
  o->output.quiet = o->quiet;
  if (o->help) return true;
  const std::size_t wanted = with_output ? 2 : 1;
  if (positional.size() != wanted) {
    *error = positional.size() < wanted
                 ? std::string(with_output ? "expected INPUT and OUTPUT" : "expected INPUT") +
                       " (see reproject PLUGIN --help)"
                 : "too many arguments: '" + positional[wanted] + "' (expected " +
                       (with_output ? "INPUT OUTPUT" : "INPUT") + ")";
    return false;
  }
  o->input = positional[0];
  if (with_output) o->output.path = positional[1];
  return true;
}

}  // namespace reproject
