// What the two test hosts share: checking a loaded filter table, driving
// func_proc over the cases of host_cases.h the way the editor does, writing
// each result to a file, and comparing two sets of result files. Plain C++
// with no system calls, so the same code runs in the 32-bit Windows host
// under wine and in its Linux counterpart; only loading a plug-in differs.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "aviutl_filter.h"
#include "host_cases.h"

namespace wincheck {

// Faults found while checking or running; each line names what went wrong.
using Faults = std::vector<std::string>;

// Compares every field of a plug-in's static table with what the editor
// expects of that plug-in. Returns false if the plug-in is not known.
bool CheckTable(const std::string& plugin, const FILTER_DLL& table, Faults* faults);

// Sets the controls of a case ("t3=450 c1 c2=0") in the host's arrays.
bool ApplyControls(const std::string& controls, std::vector<int>* track, std::vector<int>* check,
                   Faults* faults);

// One call of func_proc, as recorded in a result file.
struct CaseResult {
  int returned = 0;
  int w = 0;
  int h = 0;
  int exchanged = 0;       // ycp_edit and ycp_temp came back swapped
  int outside_writes = 0;  // pixels changed outside the reported frame
  int source_changes = 0;  // pixels changed in the source frame
  int guard_damage = 0;    // pixels changed outside the host's buffers
  std::vector<PIXEL_YC> pixels;  // the w x h frame handed back, row by row
};

// Runs one case with the table's func_proc on a FILTER copy of the table,
// checks what the host can check by itself (return value, size within the
// capacity, buffers and memory around them untouched) and fills *result.
// Returns false when the case could not be run at all.
bool RunCase(const HostCase& c, const FILTER_DLL& table, CaseResult* result, Faults* faults);

bool WriteResult(const std::string& path, const CaseResult& result);
bool ReadResult(const std::string& path, CaseResult* result);

// Loads a plug-in by name. Returns null and sets *missing when its file does
// not exist, or null and *error when it exists but does not load.
using LoadPlugin =
    std::function<const FILTER_DLL*(const std::string& plugin, bool* missing, std::string* error)>;

// Checks the table of every plug-in named in the cases and runs its cases,
// writing <out_dir>/<case>.res. A plug-in whose file is missing is reported
// and skipped. Returns the process exit code: 0 when nothing went wrong.
int RunAllCases(const LoadPlugin& load, const std::string& out_dir);

// Compares the result files of two hosts case by case and prints a line per
// case. Frame sizes, return values and pointer exchange must agree exactly;
// pixels may differ in at most one pixel in 10,000 (last-bit differences of
// the two C runtimes' double functions). Returns the exit code.
int CompareResultDirs(const std::string& reference_dir, const std::string& other_dir);

}  // namespace wincheck
