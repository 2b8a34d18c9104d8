#include "plugin_controls.h"

#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <sstream>

#include "captions.h"

namespace reproject {
namespace {

constexpr TrackUnit kDegrees{10, "degrees"};
constexpr TrackUnit kPixels{1, "pixels"};
constexpr TrackUnit kRaw{1, ""};

TrackUnit UnitOf(lens::captions::Unit unit) {
  switch (unit) {
    case lens::captions::Unit::kTenthsOfDegree: return kDegrees;
    case lens::captions::Unit::kPixels: return kPixels;
    case lens::captions::Unit::kNone: break;
  }
  return kRaw;
}

InputKind KindOf(lens::SourceProjection projection) { return static_cast<InputKind>(projection); }

const InputKind kAllInputs[] = {InputKind::Equirect, InputKind::Equidistant,
                                InputKind::Orthographic, InputKind::Equisolid, InputKind::Central};

bool ParseIndexed(const std::string& value, int* index, std::string* rest) {
  const size_t eq = value.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  if (!ParseScaledValue(value.substr(0, eq), 1, index)) return false;
  *rest = value.substr(eq + 1);
  return true;
}

// Parses a curve for track `t` and checks every keyframe against its range.
// `shown` is the option as the user wrote it, for messages.
int SetTrack(const TrackControl& t, const TrackUnit& unit, const std::string& shown,
             const std::string& value, ControlValues* values, std::string* error) {
  TrackCurve curve;
  std::string why;
  if (!TrackCurve::Parse(value, unit, &curve, &why)) {
    *error = shown + ": " + why + " (allowed: " +
             FormatScaledValue(t.min, unit.scale) + ".." + FormatScaledValue(t.max, unit.scale) +
             (unit.name[0] ? std::string(" ") + unit.name : std::string()) + ", or VALUE@FRAME,...)";
    return -1;
  }
  if (curve.Min() < t.min || curve.Max() > t.max) {
    *error = shown + ": out of range; allowed " + FormatScaledValue(t.min, unit.scale) + ".." +
             FormatScaledValue(t.max, unit.scale) +
             (unit.name[0] ? std::string(" ") + unit.name : std::string());
    return -1;
  }
  values->tracks[t.index] = curve;
  return 1;
}

}  // namespace

const char* InputKindName(InputKind kind) {
  if (kind == InputKind::None) return "";
  return lens::captions::InputBoxOf(static_cast<lens::SourceProjection>(kind)).name;
}

std::string ShiftJisToUtf8(const char* text) {
  if (text == nullptr) return "";
  std::string out;
  iconv_t cd = iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-8", "SHIFT_JIS");
  const size_t length = std::strlen(text);
  if (cd != reinterpret_cast<iconv_t>(-1)) {
    std::string buffer(length * 4 + 4, '\0');
    char* in = const_cast<char*>(text);
    size_t in_left = length;
    char* o = &buffer[0];
    size_t out_left = buffer.size();
    const size_t rc = iconv(cd, &in, &in_left, &o, &out_left);
    iconv_close(cd);
    if (rc != static_cast<size_t>(-1) && in_left == 0) return buffer.substr(0, buffer.size() - out_left);
  }
  // No converter or invalid bytes: ASCII as it is, everything else escaped.
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof(hex), "\\x%02X", c);
      out += hex;
    }
  }
  return out;
}

ControlSet ControlSet::FromTable(const FILTER_DLL& table) {
  ControlSet set;
  set.title = ShiftJisToUtf8(table.name);
  for (int i = 0; i < table.track_n; ++i) {
    TrackControl t;
    t.index = i;
    const char* caption = table.track_name ? table.track_name[i] : nullptr;
    t.caption = ShiftJisToUtf8(caption);
    t.unit = kRaw;
    const lens::captions::Control* known = lens::captions::FindTrack(caption);
    if (known != nullptr && set.FindTrack(known->name) == nullptr) {
      t.name = known->name;
      t.unit = UnitOf(known->unit);
    }
    t.def = table.track_default ? table.track_default[i] : 0;
    t.min = table.track_s ? table.track_s[i] : 0;
    t.max = table.track_e ? table.track_e[i] : 0;
    set.tracks.push_back(t);
  }
  bool has_input_box = false;
  for (int i = 0; i < table.check_n; ++i) {
    CheckControl c;
    c.index = i;
    const char* caption = table.check_name ? table.check_name[i] : nullptr;
    c.caption = ShiftJisToUtf8(caption);
    if (const lens::captions::InputBox* box = lens::captions::FindInputBox(caption)) {
      const InputKind kind = KindOf(box->projection);
      bool taken = false;
      for (const CheckControl& other : set.checks) taken = taken || other.input == kind;
      if (!taken) c.input = kind;
      has_input_box = has_input_box || !taken;
    } else if (const lens::captions::Control* known = lens::captions::FindCheck(caption)) {
      if (set.FindCheck(known->name) == nullptr) c.name = known->name;
    }
    c.def = table.check_default ? table.check_default[i] : 0;
    set.checks.push_back(c);
  }
  if (has_input_box) {
    // The projection without a box of its own is the one used when no box is
    // ticked; with several missing the plug-in is unknown to us, and only the
    // boxes themselves are offered.
    int missing = 0;
    for (InputKind kind : kAllInputs) {
      bool present = false;
      for (const CheckControl& c : set.checks) present = present || c.input == kind;
      if (!present) {
        ++missing;
        set.default_input = kind;
      }
    }
    if (missing != 1) set.default_input = InputKind::None;
  }
  return set;
}

const TrackControl* ControlSet::FindTrack(const std::string& name) const {
  for (const TrackControl& t : tracks)
    if (!t.name.empty() && t.name == name) return &t;
  return nullptr;
}

const CheckControl* ControlSet::FindCheck(const std::string& name) const {
  for (const CheckControl& c : checks)
    if (!c.name.empty() && c.name == name) return &c;
  return nullptr;
}

std::vector<InputKind> ControlSet::InputChoices() const {
  std::vector<InputKind> choices;
  for (const CheckControl& c : checks)
    if (c.input != InputKind::None) choices.push_back(c.input);
  if (default_input != InputKind::None) choices.push_back(default_input);
  return choices;
}

InputKind ControlSet::InputIn(const std::vector<int>& values) const {
  InputKind kind = default_input;
  for (const CheckControl& c : checks)
    if (c.input != InputKind::None && values[c.index] != 0) kind = c.input;
  return kind;
}

bool ControlSet::MakesPanoramas() const { return FindCheck(lens::captions::kWidth2x1.name) != nullptr; }

std::vector<std::string> IdleControlNotes(const ControlSet& set, const ControlValues& values,
                                          const std::vector<int>& given_tracks) {
  std::vector<std::string> notes;
  std::vector<int> seen;
  const CheckControl* use_height = set.FindCheck("use-height");
  const bool panorama_input = set.InputIn(values.checks) == InputKind::Equirect;
  for (int index : given_tracks) {
    if (index < 0 || index >= static_cast<int>(set.tracks.size()) ||
        std::find(seen.begin(), seen.end(), index) != seen.end())
      continue;
    seen.push_back(index);
    const std::string& name = set.tracks[index].name;
    if (name == "height" && use_height != nullptr && values.checks[use_height->index] == 0) {
      notes.push_back("--height has no effect without --use-height");
    } else if (panorama_input && (name == "in-fov" || name == "in-mask" || name == "shift-x" || name == "shift-y")) {
      notes.push_back("--" + name + " has no effect on an equirect input" +
                      (set.default_input == InputKind::Equirect ? " (the default; choose another with --input)" : ""));
    }
  }
  return notes;
}

std::string ControlSet::Help() const {
  std::ostringstream out;
  char line[512];
  out << "Track bars of " << title << " (angles in degrees with one decimal, keyframes as "
      << "VALUE@FRAME,...):\n";
  for (const TrackControl& t : tracks) {
    const std::string option = t.name.empty() ? "--track " + std::to_string(t.index) + "=V" : "--" + t.name;
    std::snprintf(line, sizeof(line), "  %-16s %-8s default %-7s range %-16s track %d  %s\n",
                  option.c_str(), t.unit.name[0] ? t.unit.name : "units",
                  FormatScaledValue(t.def, t.unit.scale).c_str(),
                  (FormatScaledValue(t.min, t.unit.scale) + ".." + FormatScaledValue(t.max, t.unit.scale)).c_str(),
                  t.index, t.caption.c_str());
    out << line;
  }
  out << "Check boxes of " << title << ":\n";
  for (const CheckControl& c : checks) {
    std::string option;
    if (c.input != InputKind::None) option = std::string("--input ") + InputKindName(c.input);
    else if (!c.name.empty()) option = "--" + c.name;
    else option = "--check " + std::to_string(c.index) + "=1";
    std::snprintf(line, sizeof(line), "  %-25s default %d  check %d  %s\n", option.c_str(), c.def,
                  c.index, c.caption.c_str());
    out << line;
  }
  if (default_input != InputKind::None) {
    std::snprintf(line, sizeof(line), "  %-25s (no input box ticked: the plug-in's default input)\n",
                  (std::string("--input ") + InputKindName(default_input)).c_str());
    out << line;
  }
  out << "Any control by index: --track N=V (track units, keyframes allowed), --check N=0|1\n";
  return out.str();
}

ControlValues ControlValues::Defaults(const ControlSet& set) {
  ControlValues v;
  for (const TrackControl& t : set.tracks) v.tracks.push_back(TrackCurve::Constant(t.def));
  for (const CheckControl& c : set.checks) v.checks.push_back(c.def);
  return v;
}

std::vector<int> ControlValues::TracksAt(long frame) const {
  std::vector<int> out;
  out.reserve(tracks.size());
  for (const TrackCurve& c : tracks) out.push_back(c.At(frame));
  return out;
}

bool ControlOptionTakesValue(const ControlSet& set, const std::string& name, bool* known) {
  *known = true;
  if (name == "input" || name == "track" || name == "check") return true;
  if (set.FindTrack(name) != nullptr) return true;
  if (set.FindCheck(name) != nullptr) return false;
  *known = false;
  return false;
}

int ApplyControlOption(const ControlSet& set, const std::string& name, const std::string& value,
                       ControlValues* values, std::string* error) {
  if (const TrackControl* t = set.FindTrack(name)) {
    return SetTrack(*t, t->unit, "--" + name + " " + value, value, values, error);
  }
  if (const CheckControl* c = set.FindCheck(name)) {
    values->checks[c->index] = 1;
    return 1;
  }
  if (name == "input") {
    const std::vector<InputKind> choices = set.InputChoices();
    std::string allowed;
    for (InputKind k : choices) allowed += std::string(allowed.empty() ? "" : "|") + InputKindName(k);
    for (InputKind k : choices) {
      if (value != InputKindName(k)) continue;
      for (const CheckControl& c : set.checks)
        if (c.input != InputKind::None) values->checks[c.index] = c.input == k ? 1 : 0;
      return 1;
    }
    *error = "--input " + value + ": not an input this plug-in offers; allowed " +
             (allowed.empty() ? std::string("none") : allowed);
    return -1;
  }
  if (name == "track") {
    int index = 0;
    std::string rest;
    if (!ParseIndexed(value, &index, &rest)) {
      *error = "--track " + value + ": expected N=VALUE with N in 0.." +
               std::to_string(static_cast<int>(set.tracks.size()) - 1);
      return -1;
    }
    if (index < 0 || index >= static_cast<int>(set.tracks.size())) {
      *error = "--track " + value + ": no track bar " + std::to_string(index) + "; allowed 0.." +
               std::to_string(static_cast<int>(set.tracks.size()) - 1);
      return -1;
    }
    return SetTrack(set.tracks[index], kRaw, "--track " + value, rest, values, error);
  }
  if (name == "check") {
    int index = 0, v = 0;
    std::string rest;
    const int n = static_cast<int>(set.checks.size());
    if (!ParseIndexed(value, &index, &rest) || !ParseScaledValue(rest, 1, &v) || (v != 0 && v != 1)) {
      *error = "--check " + value + ": expected N=0 or N=1 with N in 0.." + std::to_string(n - 1);
      return -1;
    }
    if (index < 0 || index >= n) {
      *error = "--check " + value + ": no check box " + std::to_string(index) + "; allowed 0.." +
               std::to_string(n - 1);
      return -1;
    }
    values->checks[index] = v;
    return 1;
  }
  return 0;
}

}  // namespace reproject
