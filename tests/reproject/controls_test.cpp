// Options read from the plug-ins' own tables: names, units, ranges, input
// choices, keyframes, and the messages of every kind of bad value.
#include <gtest/gtest.h>

#include <fstream>

#include "plugin_controls.h"
#include "keyframes.h"
#include "conversion.h"
#include "options.h"
#include "plugin_host.h"

namespace {

using namespace reproject;

std::unique_ptr<host::PluginLibrary> Load(const std::string& name) {
  std::string error;
  const std::string path = host::BuiltPluginPath(name);
  if (!std::ifstream(path).good()) return nullptr;
  return host::PluginLibrary::Open(path, &error);
}

TEST(Keyframes, ParseAndInterpolate) {
  const TrackUnit degrees{10, "degrees"};
  struct Case {
    const char* text;
    long frame;
    int expected;
  };
  const Case cases[] = {
      {"12.5", 7, 125},         {"-0.5", 0, -5},           {"30", 99, 300},
      {"0@0,360@299", 0, 0},    {"0@0,360@299", 299, 3600}, {"0@0,360@299", 1000, 3600},
      {"0@0,360@299", 1, 12},   // 3600/299 = 12.04
      {"0@0,360@299", 150, 1806},  // 1805.95 rounds up
      {"10@10,0@20", 0, 100},   {"10@10,0@20", 15, 50},    {"0@0,-1@2", 1, -5},  // -0.5 -> away from zero
      {"90@20,0@0", 10, 450},   // keyframes in any order
  };
  for (const Case& c : cases) {
    TrackCurve curve;
    std::string error;
    ASSERT_TRUE(TrackCurve::Parse(c.text, degrees, &curve, &error)) << c.text << ": " << error;
    EXPECT_EQ(curve.At(c.frame), c.expected) << c.text << " at " << c.frame;
  }
  for (const char* bad : {"", "1.23", "abc", "1e3", "5@", "@3", "5@-1", "5@1.5", "1@2,3@2", "1@0,,2@5",
                          "--3", "."}) {
    TrackCurve curve;
    std::string error;
    EXPECT_FALSE(TrackCurve::Parse(bad, degrees, &curve, &error)) << "'" << bad << "'";
  }
  int v = 0;
  EXPECT_FALSE(ParseScaledValue("1.5", 1, &v));  // pixels take no decimals
  EXPECT_FALSE(ParseScaledValue("99999999999", 1, &v));
  EXPECT_EQ(FormatScaledValue(-1805, 10), "-180.5");
  EXPECT_EQ(FormatScaledValue(-5, 10), "-0.5");
}

TEST(Controls, NamesComeFromTheCaptionsOfEachTable) {
  struct Expected {
    const char* plugin;
    std::vector<std::string> tracks;
    std::vector<std::string> checks;  // "input:<kind>" for input boxes
    const char* default_input;
  };
  const Expected expected[] = {
      {"Varnel",
       {"in-fov", "in-mask", "out-fov", "pitch", "azimuth", "roll", "shift-x", "shift-y", "height"},
       {"use-height", "input:equidistant", "input:orthographic", "input:equisolid", "input:equirect",
        "width-16x9", "width-4x3", "width-square", "green", "bilinear"},
       "central"},
      {"Oskuda",
       {"in-fov", "in-mask", "out-fov", "pitch", "azimuth", "roll", "shift-x", "shift-y", "height"},
       {"use-height", "input:orthographic", "input:equisolid", "input:central", "input:equirect", "square",
        "circle-mask", "green", "bilinear"},
       "equidistant"},
      {"Trimbel",
       {"in-fov", "in-mask", "pitch", "azimuth", "roll", "shift-x", "shift-y", "height"},
       {"use-height", "input:equidistant", "input:orthographic", "input:equisolid", "input:central",
        "width-2x1", "green", "bilinear"},
       "equirect"},
  };
  for (const Expected& e : expected) {
    auto library = Load(e.plugin);
    if (!library) {
      ADD_FAILURE() << e.plugin << " is not built";
      continue;
    }
    const ControlSet set = ControlSet::FromTable(library->table());
    std::vector<std::string> tracks, checks;
    for (const TrackControl& t : set.tracks) tracks.push_back(t.name);
    for (const CheckControl& c : set.checks)
      checks.push_back(c.input != InputKind::None ? std::string("input:") + InputKindName(c.input) : c.name);
    EXPECT_EQ(tracks, e.tracks) << e.plugin;
    EXPECT_EQ(checks, e.checks) << e.plugin;
    EXPECT_STREQ(InputKindName(set.default_input), e.default_input) << e.plugin;
    EXPECT_EQ(set.tracks[0].caption, "\xE5\x85\xA5\xE5\x8A\x9B\xE7\x94\xBB\xE8\xA7\x92") << e.plugin;  // 入力画角 in UTF-8
    // Units and ranges come from the table: angles shown in degrees.
    const std::string help = set.Help();
    EXPECT_NE(help.find("--azimuth        degrees  default 0.0     range -180.0..180.0"), std::string::npos)
        << help;
  }
}

// The command line against Varnel's table: what each option sets, and what
// each bad one says.
TEST(Controls, OptionsSetTrackAndCheckValues) {
  auto library = Load("Varnel");
  ASSERT_TRUE(library);
  const ControlSet set = ControlSet::FromTable(library->table());
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--input", "equirect", "--azimuth=-12.5", "--pitch", "-30", "--height", "720",
                            "--use-height", "--bilinear", "--track", "6=-100", "--check", "8=1",
                            "--max-size", "4000x3000", "--start", "5", "--frames", "10", "-y", "in.png",
                            "out.png"},
                           set, &o, &error))
      << error;
  EXPECT_EQ(o.values.TracksAt(0), (std::vector<int>{1800, 3600, 900, -300, -125, 0, -100, 0, 720}));
  EXPECT_EQ(o.values.checks, (std::vector<int>{1, 0, 0, 0, 1, 0, 0, 0, 1, 1}));
  EXPECT_EQ(o.max_w, 4000);
  EXPECT_EQ(o.max_h, 3000);
  EXPECT_EQ(o.start, 5);
  EXPECT_EQ(o.frames, 10);
  EXPECT_TRUE(o.overwrite);
  EXPECT_EQ(o.input, "in.png");
  EXPECT_EQ(o.output.path, "out.png");

  // A later --input replaces the earlier one; the default ticks no box.
  ASSERT_TRUE(ParseOptions({"--input", "equisolid", "--input", "central", "a", "b"}, set, &o, &error));
  EXPECT_EQ(o.values.checks, (std::vector<int>(10, 0)));

  struct Bad {
    std::vector<std::string> args;
    std::string message;
  };
  const Bad bad[] = {
      {{"--azimuth", "180.1", "a", "b"}, "--azimuth 180.1: out of range; allowed -180.0..180.0 degrees"},
      {{"--azimuth", "0@0,181@9", "a", "b"}, "--azimuth 0@0,181@9: out of range"},
      {{"--out-fov", "ninety", "a", "b"}, "--out-fov ninety: not a number"},
      {{"--shift-x", "1.5", "a", "b"}, "--shift-x 1.5: not a number"},
      {{"--height", "0", "a", "b"}, "--height 0: out of range; allowed 1..4096 pixels"},
      {{"--input", "mercator", "a", "b"}, "--input mercator: not an input this plug-in offers"},
      {{"--track", "9=1", "a", "b"}, "--track 9=1: no track bar 9; allowed 0..8"},
      {{"--track", "2=1801", "a", "b"}, "--track 2=1801: out of range; allowed 0..1800"},
      {{"--check", "10=1", "a", "b"}, "--check 10=1: no check box 10; allowed 0..9"},
      {{"--check", "1=2", "a", "b"}, "--check 1=2: expected N=0 or N=1"},
      {{"--width-2x1", "a", "b"}, "unknown option --width-2x1"},  // Trimbel's, not Varnel's
      {{"--azimuth"}, "option --azimuth needs a value"},
      {{"--green=1", "a", "b"}, "option --green is a flag"},
      {{"-x", "a", "b"}, "unknown option -x"},
      {{"--crf", "52", "a", "b"}, "--crf 52: out of range; allowed 0..51"},
      {{"--max-size", "100", "a", "b"}, "--max-size 100: expected WIDTHxHEIGHT"},
      {{"--frames", "0", "a", "b"}, "--frames 0: expected a number of frames, 1 or more"},
      {{"a"}, "expected INPUT and OUTPUT"},
      {{"a", "b", "c"}, "too many arguments: 'c'"},
  };
  for (const Bad& b : bad) {
    Options bad_options;
    std::string message;
    EXPECT_FALSE(ParseOptions(b.args, set, &bad_options, &message)) << b.message;
    EXPECT_EQ(message.compare(0, b.message.size(), b.message), 0) << message;
  }
}

// Host options may come before the plug-in's name, with their values.
TEST(Controls, HostOptionsBeforeThePlugin) {
  std::string plugin, error;
  std::vector<std::string> rest;
  ASSERT_TRUE(FindPlugin({"-q", "--start", "5", "--codec=ffv1", "varnel", "--pitch", "3", "a", "b"}, &plugin, &rest, &error));
  EXPECT_EQ(plugin, "varnel");
  EXPECT_EQ(rest, (std::vector<std::string>{"-q", "--start", "5", "--codec=ffv1", "--pitch", "3", "a", "b"}));
  EXPECT_FALSE(FindPlugin({"--pitch", "3", "varnel", "a", "b"}, &plugin, &rest, &error));
  EXPECT_EQ(error.rfind("unknown option --pitch before PLUGIN", 0), 0u) << error;
  EXPECT_FALSE(FindPlugin({"-y"}, &plugin, &rest, &error));
}

// A control that does nothing with the boxes as they are is named, and the
// automatic capacity does not grow for a height whose box is not ticked.
TEST(Controls, IdleControlsAndTheCapacityTheyDoNotNeed) {
  auto library = Load("Varnel");
  ASSERT_TRUE(library);
  const ControlSet set = ControlSet::FromTable(library->table());
  Options o;
  std::string error;
  ASSERT_TRUE(ParseOptions({"--height", "4000", "--in-fov", "90", "a", "b"}, set, &o, &error)) << error;
  EXPECT_EQ(IdleControlNotes(set, o.values, o.given_tracks),
            std::vector<std::string>{"--height has no effect without --use-height"});
  int w = 0, h = 0;
  AutomaticCapacity(set, o.values, 640, 320, &w, &h);
  EXPECT_EQ(h, 320);
  EXPECT_LT(w, 1300);
  ASSERT_TRUE(ParseOptions({"--height", "4000", "--use-height", "--input", "equirect", "--in-fov", "90", "a", "b"}, set,
                           &o, &error));
  EXPECT_EQ(IdleControlNotes(set, o.values, o.given_tracks),
            std::vector<std::string>{"--in-fov has no effect on an equirect input"});
  AutomaticCapacity(set, o.values, 640, 320, &w, &h);
  EXPECT_EQ(h, 4000);
  EXPECT_GE(w, 8000);
}

}  // namespace
