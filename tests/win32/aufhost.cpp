// The editor's side of a filter plug-in on 32-bit Windows, for tests:
// LoadLibraryA on <dir>\<Name>.auf, GetProcAddress "GetFilterTable", the
// table checks and the frames of host_cases.h, one result file per case.
//   aufhost.exe <plug-in folder> <result folder>
#include <windows.h>

#include <cstdio>
#include <string>

#include "host_runner.h"

namespace {

std::string WindowsPath(std::string path) {
  for (char& ch : path) {
    if (ch == '/') ch = '\\';
  }
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: aufhost <plug-in folder> <result folder>\n");
    return 2;
  }
  const std::string dir = argv[1];
  const wincheck::LoadPlugin load = [&dir](const std::string& plugin, bool* missing,
                                           std::string* error) -> const FILTER_DLL* {
    const std::string path = WindowsPath(dir + "/" + plugin + ".auf");
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      *missing = true;
      return nullptr;
    }
    // Loaded for the life of the process, as the editor keeps its plug-ins.
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
      *error = "LoadLibraryA failed on " + path + ", error " + std::to_string(GetLastError());
      return nullptr;
    }
    // FARPROC is a generic function pointer; going through void* states that
    // the real type is the table function's.
    auto get_table = reinterpret_cast<GetFilterTableFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetFilterTable")));
    if (get_table == nullptr) {
      *error = "no export named GetFilterTable in " + path;
      return nullptr;
    }
    FILTER_DLL* table = get_table();
    if (table == nullptr || get_table() != table) {
      *error = "GetFilterTable gave no table, or a different one on the second call";
      return nullptr;
    }
    return table;
  };
  return wincheck::RunAllCases(load, argv[2]);
}
