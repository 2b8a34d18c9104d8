// reproject: runs a lens plug-in on pictures and videos the way the editor
// does: the plug-in is loaded with dlopen and GetFilterTable, every frame is
// converted to YC48 with the editor's formulas, handed to func_proc in
// buffers of max_w x max_h pixels, and the frame it hands back is converted to
// RGB and written.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "colour.h"
#include "plugin_controls.h"
#include "media.h"
#include "options.h"
#include "output_file.h"
#include "plugin_host.h"

namespace reproject {
namespace {

int Fail(int status, const std::string& message) {
  std::fprintf(stderr, "reproject: %s\n", message.c_str());
  return status;
}

// The capacity that never limits what the controls ask for: the output is at
// most the input size, or the height setting with the input's aspect ratio,
// or twice the height (the widest aspect box), whichever is largest.
void AutomaticCapacity(const ControlSet& controls, const ControlValues& values, int in_w, int in_h,
                       int* max_w, int* max_h) {
  long h = in_h;
  if (const TrackControl* height = controls.FindTrack("height"))
    h = std::max<long>(h, values.tracks[height->index].Max());
  long w = std::max<long>(in_w, 2 * h);
  w = std::max<long>(w, (static_cast<long>(in_w) * h + in_h - 1) / in_h + 1);
  *max_w = static_cast<int>(w + (w & 1));
  *max_h = static_cast<int>(h + (h & 1));
}

class Progress {
 public:
  Progress(bool enabled, long total) : enabled_(enabled), total_(total),
      start_(std::chrono::steady_clock::now()) {}
  void Update(long done, bool final = false) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!final && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double fps = seconds > 0.0 ? static_cast<double>(done) / seconds : 0.0;
    char eta[32] = "--:--";
    if (total_ > 0 && fps > 0.0) {
      const long left = static_cast<long>(static_cast<double>(total_ - done) / fps + 0.5);
      std::snprintf(eta, sizeof(eta), "%ld:%02ld:%02ld", left / 3600, left / 60 % 60, left % 60);
    }
    char bar[31] = {0};
    const int filled = total_ > 0 ? static_cast<int>(30 * std::min(done, total_) / total_) : 0;
    for (int i = 0; i < 30; ++i) bar[i] = i < filled ? '#' : '.';
    if (total_ > 0)
      std::fprintf(stderr, "\r[%s] %ld/%ld frames  %.1f fps  %s left ", bar, done, total_, fps, eta);
    else
      std::fprintf(stderr, "\r%ld frames  %.1f fps ", done, fps);
    if (final) std::fputc('\n', stderr);
    std::fflush(stderr);
  }

 private:
  bool enabled_;
  long total_;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_;
};

int Run(int argc, char** argv) {
  if (argc < 2 || std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help") {
    std::fputs(HostUsage().c_str(), argc < 2 ? stderr : stdout);
    return argc < 2 ? kExitUsage : kExitOk;
  }
  std::string plugin_path;
  if (!ResolvePlugin(argv[1], &plugin_path)) {
    return Fail(kExitUsage, std::string("unknown plug-in '") + argv[1] +
                                "'; use varnel, oskuda, trimbel or the path of a plug-in library");
  }
  std::string error;
  std::unique_ptr<host::PluginLibrary> library = host::PluginLibrary::Open(plugin_path, &error);
  if (!library) return Fail(kExitFailed, error);
  const ControlSet controls = ControlSet::FromTable(library->table());

  Options options;
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (!ParseOptions(args, controls, &options, &error)) return Fail(kExitUsage, error);
  if (options.help) {
    std::printf("%s\n%s", HostUsage().c_str(), controls.Help().c_str());
    return kExitOk;
  }

  bool single_image = false;
  if (!OutputFormatKnown(options.output, &single_image)) {
    return Fail(kExitUsage, options.output +
                                ": cannot tell the output format from the extension (use .png, .jpg, .tif, .mp4, .mkv, .mov ...)");
  }
  struct stat in_stat, out_stat;
  const bool output_exists = stat(options.output.c_str(), &out_stat) == 0;
  if (output_exists && stat(options.input.c_str(), &in_stat) == 0 && in_stat.st_dev == out_stat.st_dev &&
      in_stat.st_ino == out_stat.st_ino) {
    return Fail(kExitUsage, options.output + ": is the input file; choose another output");
  }
  if (output_exists && !options.overwrite) {
    return Fail(kExitFailed, options.output + ": already exists (use -y to overwrite)");
  }
  if (output_exists && S_ISDIR(out_stat.st_mode)) {
    return Fail(kExitFailed, options.output + ": is a folder");
  }

  std::unique_ptr<MediaReader> reader = MediaReader::Open(options.input, &error);
  if (!reader) return Fail(kExitFailed, error);
  if (single_image && !reader->still() && options.frames != 1) {
    return Fail(kExitUsage, options.output +
                                ": a picture holds one frame; pick it with --start N --frames 1, or write a video");
  }
  if (reader->still() && options.start > 0) {
    return Fail(kExitUsage, "--start " + std::to_string(options.start) + ": " + options.input +
                                " is a single picture (frame 0 only)");
  }

  InstallInterruptHandlers();
  PendingOutput pending(options.output);
  if (!pending.Create(&error)) return Fail(kExitFailed, error);

  long total = reader->frame_count() > 0 ? std::max(0L, reader->frame_count() - options.start) : 0;
  if (options.frames > 0) total = total > 0 ? std::min(total, options.frames) : options.frames;
  Progress progress(isatty(2) && !options.quiet && total != 1, total);

  host::FilterInstance instance(library->table());
  std::copy(options.values.checks.begin(), options.values.checks.end(), instance.check.begin());
  std::unique_ptr<host::FrameBuffers> buffers;
  int auto_w = 0, auto_h = 0;
  bool limit_checked = false;
  std::unique_ptr<MediaWriter> writer;
  int out_w = 0, out_h = 0;
  std::vector<std::uint8_t> out_rgb;
  std::int64_t first_pts = 0, end_pts = -1;
  long done = 0;
  RgbFrame frame;
  for (;;) {
    if (Interrupted()) {
      progress.Update(done, true);
      return Fail(kExitInterrupted, "interrupted; " + options.output + " not written");
    }
    if (options.frames > 0 && done >= options.frames) break;
    const int got = reader->Next(&frame, &error);
    if (got < 0) return Fail(kExitFailed, error);
    if (got == 0) break;
    if (frame.index < options.start) continue;

    AutomaticCapacity(controls, options.values, frame.w, frame.h, &auto_w, &auto_h);
    const int cap_w = options.max_w > 0 ? options.max_w : auto_w;
    const int cap_h = options.max_h > 0 ? options.max_h : auto_h;
    if (frame.w > cap_w || frame.h > cap_h) {
      return Fail(kExitUsage, "--max-size " + std::to_string(cap_w) + "x" + std::to_string(cap_h) +
                                  ": smaller than the input frame " + std::to_string(frame.w) + "x" +
                                  std::to_string(frame.h));
    }
    if (!buffers || buffers->max_w != cap_w || buffers->max_h != cap_h) {
      buffers.reset(new host::FrameBuffers(cap_w, cap_h));
    }
    const std::vector<int> tracks = options.values.TracksAt(frame.index);
    std::copy(tracks.begin(), tracks.end(), instance.track.begin());
    RgbFrameToYc48(frame.rgb.data(), 3 * frame.w, frame.w, frame.h, buffers->a.data(), cap_w);
    const host::FrameResult result = host::RunFrame(instance, *buffers, frame.w, frame.h, true);
    if (result.returned == 0) {
      return Fail(kExitFailed, "the plug-in reported a failure at frame " + std::to_string(frame.index));
    }
    if (result.w <= 0 || result.h <= 0 || result.w > cap_w || result.h > cap_h) {
      return Fail(kExitFailed, "the plug-in handed back a " + std::to_string(result.w) + "x" +
                                   std::to_string(result.h) + " frame at frame " +
                                   std::to_string(frame.index) + "; nothing to write");
    }
    // With a capacity from --max-size, find out once whether it cut the output
    // by running the same frame with the automatic capacity.
    if (!limit_checked && options.max_w > 0 && (result.w == cap_w || result.h == cap_h)) {
      limit_checked = true;
      host::FrameBuffers probe(std::max(auto_w, cap_w), std::max(auto_h, cap_h));
      host::FilterInstance probe_instance(library->table());
      probe_instance.track = instance.track;
      probe_instance.check = instance.check;
      probe_instance.filter.track = probe_instance.track.data();
      probe_instance.filter.check = probe_instance.check.data();
      RgbFrameToYc48(frame.rgb.data(), 3 * frame.w, frame.w, frame.h, probe.a.data(), probe.max_w);
      const host::FrameResult full = host::RunFrame(probe_instance, probe, frame.w, frame.h, true);
      if (full.w != result.w || full.h != result.h) {
        std::fprintf(stderr, "reproject: note: the output is limited to %dx%d by --max-size; the controls ask for %dx%d\n",
                     result.w, result.h, full.w, full.h);
      }
    }
    if (!writer) {
      out_w = result.w;
      out_h = result.h;
      first_pts = frame.pts;
      WriterSettings settings;
      settings.path = pending.temp_path();
      settings.format_path = options.output;
      settings.codec = options.codec;
      settings.crf = options.crf;
      settings.w = out_w;
      settings.h = out_h;
      settings.time_base = reader->time_base();
      settings.frame_rate = reader->frame_rate();
      settings.copy_audio = options.audio;
      writer = MediaWriter::Open(settings, reader.get(), first_pts, &error);
      if (!writer) return Fail(kExitFailed, error);
      if (!writer->audio_note().empty() && !options.quiet)
        std::fprintf(stderr, "reproject: note: %s\n", writer->audio_note().c_str());
      out_rgb.resize(static_cast<size_t>(3) * out_w * out_h);
    } else if (result.w != out_w || result.h != out_h) {
      return Fail(kExitUsage, "the output size changes from " + std::to_string(out_w) + "x" +
                                  std::to_string(out_h) + " to " + std::to_string(result.w) + "x" +
                                  std::to_string(result.h) + " at frame " + std::to_string(frame.index) +
                                  "; a video keeps one size (do not animate the height)");
    }
    if (writer->single_image() && done >= 1) {
      return Fail(kExitUsage, options.output + ": a picture holds one frame; use --frames 1 or write a video");
    }
    Yc48FrameToRgb(result.frame, cap_w, out_w, out_h, out_rgb.data(), 3 * out_w);
    if (!writer->Write(out_rgb.data(), frame.pts - first_pts, frame.duration, &error))
      return Fail(kExitFailed, error);
    end_pts = frame.pts - first_pts + (frame.duration > 0 ? frame.duration : 1);
    ++done;
    if (options.frames < 0 || done < options.frames) progress.Update(done);
  }
  if (done == 0) {
    return Fail(kExitUsage, "--start " + std::to_string(options.start) + ": the input has only " +
                                std::to_string(frame.index + 1) + " frames");
  }
  // Audio to the end of the input when the whole rest was converted, else to
  // the end of the last frame.
  if (!writer->Finish(options.frames > 0 ? end_pts : -1, &error)) return Fail(kExitFailed, error);
  if (Interrupted()) return Fail(kExitInterrupted, "interrupted; " + options.output + " not written");
  if (!pending.Commit(options.overwrite, &error)) return Fail(kExitFailed, error);
  progress.Update(done, true);
  return kExitOk;
}

}  // namespace
}  // namespace reproject

int main(int argc, char** argv) { return reproject::Run(argc, argv); }
