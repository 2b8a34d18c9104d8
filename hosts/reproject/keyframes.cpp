#include "keyframes.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace reproject {

bool ParseScaledValue(const std::string& text, int scale, int* out) {
  int decimals_allowed = 0;
  for (int s = scale; s > 1; s /= 10) ++decimals_allowed;
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long whole = 0;
  size_t digits = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
    whole = whole * 10 + (text[i] - '0');
    if (whole > std::numeric_limits<int>::max()) return false;
  }
  long long fraction = 0;
  int fraction_digits = 0;
  if (i < text.size() && text[i] == '.') {
    ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++fraction_digits) {
      if (fraction_digits >= decimals_allowed) return false;
      fraction = fraction * 10 + (text[i] - '0');
    }
    if (fraction_digits == 0) return false;
  }
  if (digits == 0 || i != text.size()) return false;
  for (int d = fraction_digits; d < decimals_allowed; ++d) fraction *= 10;
  long long v = whole * scale + fraction;
  if (negative) v = -v;
  if (v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min()) return false;
  *out = static_cast<int>(v);
  return true;
}

std::string FormatScaledValue(int value, int scale) {
  if (scale == 1) return std::to_string(value);
  const long long v = value;
  const long long a = v < 0 ? -v : v;
  std::string fraction = std::to_string(a % scale);
  for (int s = scale / 10; s > 1; s /= 10)
    if (a % scale < s) fraction = "0" + fraction;
  return std::string(v < 0 ? "-" : "") + std::to_string(a / scale) + "." + fraction;
}

std::string FormatCurve(const TrackCurve& curve, int scale) {
  if (curve.Min() == curve.Max()) return FormatScaledValue(curve.Min(), scale);
  std::string text;
  for (const Keyframe& k : curve.keys())
    text += (text.empty() ? "" : ",") + FormatScaledValue(k.value, scale) + "@" + std::to_string(k.frame);
  return text;
}

bool TrackCurve::Parse(const std::string& text, const TrackUnit& unit, TrackCurve* curve,
                       std::string* error) {
  std::vector<Keyframe> keys;
  if (text.find('@') == std::string::npos) {
    int v = 0;
    if (!ParseScaledValue(text, unit.scale, &v)) {
      *error = "not a number";
      if (unit.scale == 10) *error += " with at most one decimal";
      return false;
    }
    *curve = Constant(v);
    return true;
  }
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    const std::string item = text.substr(start, end - start);
    const size_t at = item.find('@');
    if (at == std::string::npos) {
      *error = "keyframe '" + item + "' is not VALUE@FRAME";
      return false;
    }
    Keyframe k;
    if (!ParseScaledValue(item.substr(0, at), unit.scale, &k.value)) {
      *error = "keyframe '" + item + "' has a malformed value";
      return false;
    }
    const std::string frame = item.substr(at + 1);
    char* tail = nullptr;
    const long f = frame.empty() ? -1 : std::strtol(frame.c_str(), &tail, 10);
    if (frame.empty() || *tail != '\0' || f < 0 || frame[0] == '+' || frame[0] == '-') {
      *error = "keyframe '" + item + "' has a malformed frame number";
      return false;
    }
    k.frame = f;
    keys.push_back(k);
    start = end + 1;
  }
  std::sort(keys.begin(), keys.end(),
            [](const Keyframe& a, const Keyframe& b) { return a.frame < b.frame; });
  for (size_t i = 1; i < keys.size(); ++i) {
    if (keys[i].frame == keys[i - 1].frame) {
      *error = "two keyframes at frame " + std::to_string(keys[i].frame);
      return false;
    }
  }
  *curve = TrackCurve(std::move(keys));
  return true;
}

int TrackCurve::At(long frame) const {
  if (keys_.empty()) return 0;
  if (frame <= keys_.front().frame) return keys_.front().value;
  if (frame >= keys_.back().frame) return keys_.back().value;
  size_t i = 1;
  while (keys_[i].frame < frame) ++i;
  const Keyframe& a = keys_[i - 1];
  const Keyframe& b = keys_[i];
  // Exact rational interpolation, rounded half away from zero: no drift from
  // floating point over long animations.
  const long long num = static_cast<long long>(b.value - a.value) * (frame - a.frame);
  const long long den = b.frame - a.frame;
  const long long q = (2 * std::llabs(num) + den) / (2 * den);
  return static_cast<int>(a.value + (num < 0 ? -q : q));
}

int TrackCurve::Min() const {
  int m = keys_.empty() ? 0 : keys_.front().value;
  for (const Keyframe& k : keys_) m = std::min(m, k.value);
  return m;
}

int TrackCurve::Max() const {
  int m = keys_.empty() ? 0 : keys_.front().value;
  for (const Keyframe& k : keys_) m = std::max(m, k.value);
  return m;
}

}  // namespace reproject
