// Control settings and frame sizes that the reliability tests run every
// plug-in over, worked out from the plug-in's own table (track ranges and
// check-box count), so the same grid applies to any filter.
#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "aviutl_filter.h"
#include "plugin_host.h"
#include "plugin_names.h"

namespace reliability {

struct Controls {
  std::vector<int> track;
  std::vector<int> check;
};

inline Controls Defaults(const FILTER_DLL& table) {
  Controls k;
  k.track.assign(table.track_default, table.track_default + table.track_n);
  k.check.assign(table.check_default, table.check_default + table.check_n);
  return k;
}

inline void Apply(host::FilterInstance& instance, const Controls& k) { instance.SetControls(k.track, k.check); }

inline std::string Describe(const Controls& k) {
  std::string s = "track";
  for (int v : k.track) s += " " + std::to_string(v);
  s += " check";
  for (int v : k.check) s += " " + std::to_string(v);
  return s;
}

// Values a track bar can take that are worth visiting: both ends, their
// neighbours inside the range, the middle and the default.
inline std::vector<int> RangeValues(const FILTER_DLL& table, int i) {
  const int s = table.track_s[i];
  const int e = table.track_e[i];
  std::vector<int> values = {s, s + 1, s + (e - s) / 2, table.track_default[i], e - 1, e};
  if (s <= 0 && e >= 0) values.push_back(0);
  return values;
}

// Values the editor cannot produce but a damaged project or another host
// might pass.
inline std::vector<int> OutOfRangeValues(const FILTER_DLL& table, int i) {
  // -1500000001 and 1500000001: twice them leaves the 32-bit range, halves of
  // INT_MIN and INT_MAX: twice them just stays inside.
  return {INT_MIN, INT_MIN + 1, -1500000001, INT_MIN / 2, -1000000, table.track_s[i] - 1,
          table.track_e[i] + 1, 1000000, INT_MAX / 2, 1500000001, INT_MAX - 1, INT_MAX};
}

// Check-box sets: none, each box alone, all, and the first box together
// with each other one (the first box enables the height track in every
// filter here, which changes the output size).
inline std::vector<std::vector<int>> CheckSets(int check_n) {
  std::vector<std::vector<int>> sets;
  sets.emplace_back(check_n, 0);
  for (int i = 0; i < check_n; ++i) {
    std::vector<int> one(check_n, 0);
    one[i] = 1;
    sets.push_back(one);
  }
  sets.emplace_back(check_n, 1);
  for (int i = 1; i < check_n; ++i) {
    std::vector<int> two(check_n, 0);
    two[0] = 1;
    two[i] = 1;
    sets.push_back(two);
  }
  return sets;
}

// A small deterministic generator for random settings.
struct Rng {
  std::uint64_t s;
  explicit Rng(std::uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint32_t Next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return static_cast<std::uint32_t>(s >> 16);
  }
  int Between(int lo, int hi) {  // inclusive
    const std::uint64_t span = static_cast<std::uint64_t>(static_cast<std::int64_t>(hi) - lo) + 1;
    return static_cast<int>(lo + static_cast<std::int64_t>(Next() % span));
  }
};

inline Controls RandomInRange(const FILTER_DLL& table, Rng& rng) {
  Controls k = Defaults(table);
  for (int i = 0; i < table.track_n; ++i) {
    // Ends and their neighbours come up often: that is where faults live.
    switch (rng.Next() % 6) {
      case 0: k.track[i] = table.track_s[i]; break;
      case 1: k.track[i] = table.track_e[i]; break;
      default: k.track[i] = rng.Between(table.track_s[i], table.track_e[i]); break;
    }
  }
  for (int i = 0; i < table.check_n; ++i) k.check[i] = (rng.Next() % 3 == 0) ? 1 : 0;
  return k;
}

// Tells which case was running when the process dies of a fault: the
// description is printed from the signal handler, then the previous handler
// (the sanitizer's, or the default) takes over.
void InstallCrashReporter();
void SetCurrentCase(const std::string& description);

}  // namespace reliability
