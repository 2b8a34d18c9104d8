// reproject: runs a lens plug-in on pictures and videos the way the editor
// does: the plug-in is loaded with dlopen and GetFilterTable, every frame is
// converted to YC48 with the editor's formulas, handed to func_proc in
// buffers of max_w x max_h pixels, and the frame it hands back is converted
// and written.
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "console.h"
#include "conversion.h"
#include "media_input.h"
#include "options.h"
#include "output_file.h"
#include "plugin_controls.h"
#include "plugin_host.h"
#include "server.h"

namespace reproject {
namespace {

int Fail(Console& console, int status, const std::string& message) {
  console.Error(message);
  return status;
}

bool AskedForHelp(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "-h" || a == "--help") return true;
  return false;
}

int Run(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  Console plain(false);
  std::string error;
  std::string plugin_arg;
  std::vector<std::string> rest;
  if (args.empty() || !FindPlugin(args, &plugin_arg, &rest, &error)) {
    if (!args.empty() && AskedForHelp(args)) {
      std::fputs(HostUsage().c_str(), stdout);
      return kExitOk;
    }
    if (args.empty()) {
      std::fputs(HostUsage().c_str(), stderr);
      return kExitUsage;
    }
    return Fail(plain, kExitUsage, error);
  }
  if (plugin_arg == "preview") return preview::RunPreview(rest);
  std::string plugin_path;
  if (!ResolvePlugin(plugin_arg, &plugin_path)) {
    return Fail(plain, kExitUsage, "unknown plug-in '" + plugin_arg +
                                       "'; use varnel, oskuda, trimbel or the path of a plug-in library");
  }
  std::unique_ptr<host::PluginLibrary> library = host::PluginLibrary::Open(plugin_path, &error);
  if (!library) return Fail(plain, kExitFailed, error);
  const ControlSet controls = ControlSet::FromTable(library->table());

  ConversionJob job;
  job.library = library.get();
  job.controls = &controls;
  job.equirectangular_output = controls.MakesPanoramas();
  Options& options = job.options;
  if (!ParseOptions(rest, controls, &options, &error)) return Fail(plain, kExitUsage, error);
  if (options.help) {
    std::printf("%s\n%s", HostUsage().c_str(), controls.Help().c_str());
    return kExitOk;
  }
  Console console(options.quiet);
  std::unique_ptr<MediaReader> reader;
  const int status = PrepareConversion(&job, &reader, &console, &error);
  if (status != kExitOk) return Fail(console, status, error);

  InstallInterruptHandlers();
  return RunConversion(job, reader.get(), &console);
}

}  // namespace
}  // namespace reproject

int main(int argc, char** argv) {
  try {
    return reproject::Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs("reproject: out of memory\n", stderr);
    return reproject::kExitFailed;
  }
}
