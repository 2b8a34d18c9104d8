// Track values over time: a constant, or keyframes "value@frame,..." joined by
// straight lines and rounded to the track bar's integer for every frame.
#pragma once

#include <string>
#include <vector>

namespace reproject {

// How a user value becomes the integer a track bar holds.
struct TrackUnit {
  int scale = 1;             // stored integer = value x scale (10 for tenths of a degree)
  const char* name = "";     // "degrees", "pixels", "" for raw track units
};

struct Keyframe {
  long frame = 0;
  int value = 0;  // in track units
};

class TrackCurve {
 public:
  TrackCurve() = default;
  static TrackCurve Constant(int value) { return TrackCurve({{0, value}}); }

  // Parses "V" or "V@F,V@F,...". Values are in user units with at most as many
  // decimals as the scale allows (one decimal for tenths). Returns false and
  // sets *error (without the option's name) on malformed text.
  static bool Parse(const std::string& text, const TrackUnit& unit, TrackCurve* curve,
                    std::string* error);

  // Value at a frame of the input: constant before the first and after the
  // last keyframe, linear in between, rounded half away from zero.
  int At(long frame) const;

  bool animated() const { return keys_.size() > 1; }
  const std::vector<Keyframe>& keys() const { return keys_; }
  int Min() const;
  int Max() const;

 private:
  explicit TrackCurve(std::vector<Keyframe> keys) : keys_(std::move(keys)) {}
  std::vector<Keyframe> keys_;
};

// "12.5" with scale 10 -> 125. False on malformed text, too many decimals or
// a value beyond the int range.
bool ParseScaledValue(const std::string& text, int scale, int* out);

// 125 with scale 10 -> "12.5".
std::string FormatScaledValue(int value, int scale);

// A curve as TrackCurve::Parse reads it: "12.5" for a constant (keyframes
// that all hold one value included), "0.0@0,90.0@120" otherwise.
std::string FormatCurve(const TrackCurve& curve, int scale);

}  // namespace reproject
