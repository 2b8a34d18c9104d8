// The names of the filters this tree builds, from the build's one list
// (LENS_PLUGIN_NAMES, comma-separated): for hosts and tests that go through
// every plug-in.
#pragma once

#include <string>
#include <vector>

namespace host {

inline std::vector<std::string> PluginNames() {
  std::vector<std::string> names;
  const std::string list = LENS_PLUGIN_NAMES;
  std::size_t start = 0;
  while (start < list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) names.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

}  // namespace host
