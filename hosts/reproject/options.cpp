#include "options.h"

#include <cstdlib>

#include "plugin_host.h"

namespace reproject {
namespace {

bool ParseCount(const std::string& text, long min, long* out) {
  int v = 0;
  if (!ParseScaledValue(text, 1, &v) || v < min || text[0] == '+') return false;
  *out = v;
  return true;
}

}  // namespace

std::string HostUsage() {
  return
      "usage: reproject PLUGIN [OPTIONS] INPUT OUTPUT\n"
      "       reproject PLUGIN --help      (lists the plug-in's controls)\n"
      "PLUGIN: varnel (perspective view), oskuda (dome master), trimbel (equirectangular\n"
      "        panorama), or the path of a plug-in library.\n"
      "INPUT: a picture (PNG, JPEG, TIFF, ...) or a video (MP4, MOV, MKV, ...).\n"
      "OUTPUT: its extension selects the format: .png for a picture, .mp4/.mov/.mkv for\n"
      "        H.264 video with the input's frame rate, timestamps and audio.\n"
      "Host options:\n"
      "  -y, --overwrite     replace an existing OUTPUT\n"
      "  -q, --quiet         no progress bar or notes\n"
      "  --start N           first input frame to convert (from 0)\n"
      "  --frames N          number of frames to convert\n"
      "  --max-size WxH      capacity of the frame buffers the plug-in sees\n"
      "                      (default: large enough for every output the controls ask for)\n"
      "  --crf N             H.264/H.265 quality, 0 (best) to 51, default 18\n"
      "  --codec NAME        video encoder, e.g. libx264, ffv1, png\n"
      "  --no-audio          do not copy the audio stream\n"
      "Exit status: 0 success, 1 an input or output failed, 2 bad usage, 130 interrupted.\n";
}

bool ResolvePlugin(const std::string& arg, std::string* path) {
  if (arg == "varnel") *path = host::BuiltPluginPath("Varnel");
  else if (arg == "oskuda") *path = host::BuiltPluginPath("Oskuda");
  else if (arg == "trimbel") *path = host::BuiltPluginPath("Trimbel");
  else if (arg.find('/') != std::string::npos || (arg.size() > 3 && arg.compare(arg.size() - 3, 3, ".so") == 0))
    *path = arg.find('/') == std::string::npos ? "./" + arg : arg;
  else return false;
  return true;
}

bool ParseOptions(const std::vector<std::string>& args, const ControlSet& controls, Options* o,
                  std::string* error) {
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
    if (arg == "--no-audio") { o->audio = false; continue; }
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
    const bool host_option = name == "start" || name == "frames" || name == "max-size" ||
                             name == "crf" || name == "codec";
    if (!known && !host_option) {
      *error = "unknown option --" + name + " (see reproject PLUGIN --help)";
      return false;
    }
    if (host_option) takes_value = true;
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
      o->crf = static_cast<int>(crf);
    } else if (name == "codec") {
      o->codec = value;
    } else if (ApplyControlOption(controls, name, value, &o->values, error) < 0) {
      return false;
    }
  }
  if (o->help) return true;
  if (positional.size() != 2) {
    *error = positional.size() < 2 ? "expected INPUT and OUTPUT (see reproject PLUGIN --help)"
                                   : "too many arguments: '" + positional[2] + "' (expected INPUT OUTPUT)";
    return false;
  }
  o->input = positional[0];
  o->output = positional[1];
  return true;
}

}  // namespace reproject
