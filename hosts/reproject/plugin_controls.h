// A plug-in's controls as its table declares them, with English option names
// and user units. Names and units come from the caption table (captions.h):
// a control is found by its Shift-JIS caption whatever its index; a control
// with an unknown caption is still reachable as --track N=V or --check N=V.
#pragma once

#include <string>
#include <vector>

#include "aviutl_filter.h"
#include "keyframes.h"

namespace reproject {

// The input projections a plug-in can offer, each as a check box except one:
// the projection the plug-in assumes when no input box is ticked. The same
// codes as lens::SourceProjection, and None.
enum class InputKind { Equidistant, Orthographic, Equisolid, Central, Equirect, None };
const char* InputKindName(InputKind kind);  // "equidistant", ...

struct TrackControl {
  int index = 0;
  std::string caption;  // UTF-8
  std::string name;     // option name without "--"; empty if the caption is unknown
  TrackUnit unit;
  int def = 0, min = 0, max = 0;
};

struct CheckControl {
  int index = 0;
  std::string caption;  // UTF-8
  std::string name;     // flag name without "--"; empty for input boxes and unknown captions
  InputKind input = InputKind::None;  // the projection this box selects, if it is an input box
  int def = 0;
};

struct ControlSet {
  std::string title;  // UTF-8
  std::vector<TrackControl> tracks;
  std::vector<CheckControl> checks;
  // The projection when no input box is ticked; None if the table has no
  // input boxes at all.
  InputKind default_input = InputKind::None;

  static ControlSet FromTable(const FILTER_DLL& table);

  const TrackControl* FindTrack(const std::string& name) const;
  const CheckControl* FindCheck(const std::string& name) const;
  std::vector<InputKind> InputChoices() const;  // in table order, the default last
  // The projection the plug-in reads with these boxes: the ticked input box
  // of the highest index, or the default.
  InputKind InputIn(const std::vector<int>& checks) const;
  // The plug-in makes equirectangular (360-degree) panoramas: it is the one
  // that offers the 2:1 box.
  bool MakesPanoramas() const;
  std::string Help() const;  // the control part of --help
};

// Current settings: a curve per track bar, a value per check box.
struct ControlValues {
  std::vector<TrackCurve> tracks;
  std::vector<int> checks;

  static ControlValues Defaults(const ControlSet& set);
  // Track values for one input frame.
  std::vector<int> TracksAt(long frame) const;
};

// Notes for controls the command line set that do nothing with the boxes as
// they are: the height without its box, the input's field of view, mask and
// shift with a panorama input.
std::vector<std::string> IdleControlNotes(const ControlSet& set, const ControlValues& values,
                                          const std::vector<int>& given_tracks);

// Shift-JIS (code page 932) bytes to UTF-8; bytes that do not convert come
// out as \xNN.
std::string ShiftJisToUtf8(const char* text);

// Applies one control option (name without "--") with its value (empty for
// flags). Returns 0 if the option is not a control option, 1 if applied,
// -1 on a bad value (*error names option, value and what is allowed).
// ControlOptionTakesValue tells whether an option is a control option
// (*known) and whether it needs a value.
bool ControlOptionTakesValue(const ControlSet& set, const std::string& name, bool* known);
int ApplyControlOption(const ControlSet& set, const std::string& name, const std::string& value,
                       ControlValues* values, std::string* error);

}  // namespace reproject
