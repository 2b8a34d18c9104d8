// The Linux counterpart of aufhost.exe: the same table checks and frames on
// the shared-library build of each plug-in, and the comparison of two sets
// of result files.
//   nativehost run <plug-in folder> <result folder>
//   nativehost compare <reference result folder> <other result folder>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "host_runner.h"
#include "plugin_host.h"

int main(int argc, char** argv) {
  const std::string mode = argc == 4 ? argv[1] : "";
  if (mode == "compare") return wincheck::CompareResultDirs(argv[2], argv[3]);
  if (mode != "run") {
    std::fprintf(stderr,
                 "usage: nativehost run <plug-in folder> <result folder>\n"
                 "       nativehost compare <reference results> <other results>\n");
    return 2;
  }
  const std::string dir = argv[2];
  std::map<std::string, std::unique_ptr<host::PluginLibrary>> loaded;
  const wincheck::LoadPlugin load = [&](const std::string& plugin, bool* missing,
                                        std::string* error) -> const FILTER_DLL* {
    const std::string path = dir + "/" + plugin + ".so";
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
      *missing = true;
      return nullptr;
    }
    std::unique_ptr<host::PluginLibrary> library = host::PluginLibrary::Open(path, error);
    if (library == nullptr) return nullptr;
    const FILTER_DLL* table = &library->table();
    loaded[plugin] = std::move(library);
    return table;
  };
  return wincheck::RunAllCases(load, argv[3]);
}
