// reproject: runs a lens plug-in on pictures and videos the way the editor
// does: the plug-in is loaded with dlopen and GetFilterTable, every frame is
// converted to YC48 with the editor's formulas, handed to func_proc in
// buffers of max_w x max_h pixels, and the frame it hands back is converted
// and written.
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "console.h"
#include "conversion.h"
#include "media_input.h"
#include "media_output.h"
#include "options.h"
#include "output_file.h"
#include "plugin_controls.h"
#include "plugin_host.h"

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
  const std::string& output = options.output.path;

  bool picture = false;
  if (!OutputFormatKnown(output, &picture)) {
    return Fail(console, kExitUsage, output +
                                         ": cannot tell the output format from the extension (use .png, .jpg, .tif, "
                                         ".mp4, .mkv, .mov ...)");
  }
  struct stat in_stat, out_stat;
  const bool output_exists = stat(output.c_str(), &out_stat) == 0;
  if (output_exists && stat(options.input.c_str(), &in_stat) == 0 && in_stat.st_dev == out_stat.st_dev &&
      in_stat.st_ino == out_stat.st_ino) {
    return Fail(console, kExitUsage, output + ": is the input file; choose another output");
  }
  if (output_exists && S_ISDIR(out_stat.st_mode)) return Fail(console, kExitFailed, output + ": is a folder");
  if (output_exists && !options.overwrite) {
    return Fail(console, kExitFailed, output + ": already exists (use -y to overwrite)");
  }
  if (!CheckOutputRequest(options.output, &error)) return Fail(console, kExitUsage, error);

  std::unique_ptr<MediaReader> reader = MediaReader::Open(options.input, &error);
  if (!reader) return Fail(console, kExitFailed, error);
  const InputInfo& info = reader->info();
  if (!PlanOutput(options.output, info, *reader, &job.plan, &error)) return Fail(console, kExitUsage, error);
  if (picture && !job.plan.numbered && !info.still && options.frames != 1) {
    return Fail(console, kExitUsage, output +
                                         ": a picture holds one frame; pick it with --start N --frames 1, write "
                                         "numbered pictures (name%04d.png), or write a video");
  }
  if (info.still && options.start > 0) {
    return Fail(console, kExitUsage, "--start " + std::to_string(options.start) + ": " + options.input +
                                         " is a single picture (frame 0 only)");
  }
  // A 360-degree panorama says so in its tags: read it as one unless the
  // command line chose an input projection.
  if (info.equirect_360 && !options.input_given && controls.default_input != InputKind::Equirect) {
    for (InputKind kind : controls.InputChoices()) {
      if (kind != InputKind::Equirect) continue;
      ApplyControlOption(controls, "input", "equirect", &options.values, &error);
      console.Note(options.input + " is tagged as a 360-degree equirectangular video: read with --input equirect");
    }
  }
  for (const std::string& note : IdleControlNotes(controls, options.values, options.given_tracks))
    console.Note(note);
  for (const std::string& note : job.plan.notes) console.Note(note);
  if (info.rotation != 0) {
    console.Note(options.input + " is shown turned by " + std::to_string(info.rotation) +
                 " degrees: the plug-in gets it turned so");
  }

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
