#include "conversion.h"

#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "capacity.h"
#include "frame_convert.h"
#include "media_util.h"
#include "output_file.h"
#include "work_queue.h"

namespace reproject {

void AutomaticCapacity(const ControlSet& controls, const ControlValues& values, int in_w, int in_h,
                       int* max_w, int* max_h) {
  int height_setting = 0;
  const TrackControl* height = controls.FindTrack("height");
  const CheckControl* use_height = controls.FindCheck("use-height");
  if (height != nullptr && (use_height == nullptr || values.checks[use_height->index] != 0))
    height_setting = values.tracks[height->index].Max();
  yc48::CapacityFor(in_w, in_h, height_setting, 0, max_w, max_h);
}

namespace {

// Frames in flight: the two buffers the plug-in sees, and where the frame
// came from and went.
struct FrameSlot {
  host::FrameBuffers buffers;
  long index = 0;
  std::int64_t pts = 0;
  std::int64_t duration = 0;
  int in_w = 0;
  int in_h = 0;
  host::FrameResult result;
  FrameSlot(int w, int h) : buffers(w, h) {}
};
using SlotPtr = std::unique_ptr<FrameSlot>;

// At most three frames in flight, and no more than 1.5 GiB of buffers.
constexpr int kMostSlots = 3;
constexpr double kSlotBudgetBytes = 1.5 * 1024.0 * 1024.0 * 1024.0;

std::string Mebibytes(double bytes) { return std::to_string(static_cast<long>(bytes / (1024.0 * 1024.0) + 0.5)); }

// The picture turned by quarter turns clockwise: src is w x h with stride w.
void RotateInto(const PIXEL_YC* src, int w, int h, int rotation, PIXEL_YC* dst, int dst_stride) {
  for (int r = 0; r < h; ++r) {
    const PIXEL_YC* s = src + static_cast<std::ptrdiff_t>(r) * w;
    for (int c = 0; c < w; ++c) {
      int x = c, y = r;
      if (rotation == 90) x = h - 1 - r, y = c;
      else if (rotation == 180) x = w - 1 - c, y = h - 1 - r;
      else if (rotation == 270) x = r, y = w - 1 - c;
      dst[static_cast<std::ptrdiff_t>(y) * dst_stride + x] = s[c];
    }
  }
}

class Pipeline {
 public:
  Pipeline(const ConversionJob& job, MediaReader* reader, Console* console)
      : job_(job), options_(job.options), reader_(*reader), console_(*console), decoded_(3), to_filter_(1),
        filtered_(2), free_slots_(kMostSlots) {}

  int Run(std::string* failure);

 private:
  // Interrupted by a signal, or cancelled by the job's owner.
  bool Stopped() const { return Interrupted() || (job_.cancel != nullptr && job_.cancel->load()); }
  std::string StopMessage() const {
    return std::string(Interrupted() ? "interrupted" : "cancelled") + "; " + options_.output.path + " not written";
  }
  void Fail(int status, const std::string& message) {
    {
      std::lock_guard<std::mutex> lock(failure_mutex_);
      if (failed_) return;
      failed_ = true;
      status_ = status;
      message_ = message;
    }
    CancelAll();
  }
  bool Failed() {
    std::lock_guard<std::mutex> lock(failure_mutex_);
    return failed_;
  }
  void CancelAll() {
    decoded_.Cancel();
    to_filter_.Cancel();
    filtered_.Cancel();
    free_slots_.Cancel();
  }
  template <typename Body>
  void Guarded(Body body) {
    try {
      body();
    } catch (const std::bad_alloc&) {
      Fail(kExitFailed, "out of memory");
    } catch (const std::exception& e) {
      Fail(kExitFailed, e.what());
    }
  }

  void ReadFrames();
  void ImportFrames();
  void FilterFrames();
  void WriteFrames();
  bool GetSlot(SlotPtr* slot);
  bool OpenOutput(const FrameSlot& first, std::string* error);
  bool WritePicture(const FrameSlot& slot, std::string* error);
  bool WriteAudio(bool final, std::int64_t until_pts, std::string* error);
  bool AudioOwned(const AVPacket* p);

  const ConversionJob& job_;
  const Options& options_;
  MediaReader& reader_;
  Console& console_;

  WorkQueue<VideoFrame> decoded_;
  WorkQueue<SlotPtr> to_filter_;
  WorkQueue<SlotPtr> filtered_;
  WorkQueue<SlotPtr> free_slots_;
  int cap_w_ = 0, cap_h_ = 0;
  int slots_made_ = 0;
  int slots_allowed_ = kMostSlots;

  std::mutex failure_mutex_;
  bool failed_ = false;
  int status_ = kExitOk;
  std::string message_;

  // Audio packets from the reader, in order, until the writer takes them.
  std::mutex audio_mutex_;
  std::deque<AVPacket*> audio_;
  AVRational audio_time_base_{1, 1};
  AVRational video_time_base_{1, 1};

  // Where the frames converted end: the time of the next frame of the input,
  // if there is one (audio starting from there belongs to the next segment).
  std::mutex end_mutex_;
  bool has_boundary_ = false;
  std::int64_t boundary_pts_ = 0;

  // The writer's side.
  std::unique_ptr<OutputFile> file_;
  std::unique_ptr<MediaWriter> writer_;
  std::vector<std::string> pictures_written_;
  int out_w_ = 0, out_h_ = 0;
  std::int64_t first_pts_ = 0;
};

void Pipeline::ReadFrames() {
  Guarded([&] {
    std::string error;
    if (!reader_.SeekToFrame(options_.start, &error)) {
      Fail(kExitFailed, error);
      return;
    }
    long count = 0;
    bool ended = false;
    VideoFrame frame;
    while (options_.frames < 0 || count < options_.frames) {
      const int got = reader_.Next(&frame, &error);
      if (got < 0) {
        Fail(kExitFailed, error);
        return;
      }
      if (got == 0) {
        ended = true;
        break;
      }
      if (!decoded_.Push(std::move(frame))) return;
      ++count;
    }
    if (count == 0) {
      Fail(kExitUsage, "--start " + std::to_string(options_.start) + ": the input has only " +
                           std::to_string(reader_.frames_passed()) + " frames");
      return;
    }
    if (!ended) {
      // The first frame after those converted marks where their audio ends;
      // the audio up to it is read on. A damaged input past that point does
      // not concern this run.
      if (reader_.Next(&frame, &error) > 0) {
        {
          std::lock_guard<std::mutex> lock(end_mutex_);
          has_boundary_ = true;
          boundary_pts_ = frame.pts;
        }
        frame.frame.reset();
        if (!reader_.ReadAudioUntil(frame.pts, &error)) {
          Fail(kExitFailed, error);
          return;
        }
      }
    }
    decoded_.Close();
  });
}

bool Pipeline::GetSlot(SlotPtr* slot) {
  if (free_slots_.TryPop(slot)) return true;
  if (slots_made_ < slots_allowed_) {
    try {
      slot->reset(new FrameSlot(cap_w_, cap_h_));
      ++slots_made_;
      return true;
    } catch (const std::bad_alloc&) {
      if (slots_made_ == 0) {
        const double bytes = 2.0 * cap_w_ * cap_h_ * sizeof(PIXEL_YC);
        Fail(kExitFailed, "out of memory: the plug-in's two frame buffers of " + std::to_string(cap_w_) + "x" +
                              std::to_string(cap_h_) + " need " + Mebibytes(bytes) + " MiB" +
                              (options_.max_w > 0 ? " (see --max-size)" : ""));
        return false;
      }
      slots_allowed_ = slots_made_;
    }
  }
  return free_slots_.Pop(slot);
}

void Pipeline::ImportFrames() {
  Guarded([&] {
    FrameImporter importer;
    std::vector<PIXEL_YC> unturned;
    const int rotation = reader_.info().rotation;
    VideoFrame frame;
    bool first = true;
    std::string error;
    while (decoded_.Pop(&frame)) {
      const AVFrame* f = frame.frame.get();
      int w = 0, h = 0;
      TurnedSize(f->width, f->height, rotation, &w, &h);
      if (first) {
        first = false;
        int auto_w = 0, auto_h = 0;
        AutomaticCapacity(*job_.controls, options_.values, w, h, &auto_w, &auto_h);
        cap_w_ = options_.max_w > 0 ? options_.max_w : auto_w;
        cap_h_ = options_.max_h > 0 ? options_.max_h : auto_h;
        const double slot_bytes = 2.0 * cap_w_ * cap_h_ * sizeof(PIXEL_YC);
        slots_allowed_ = std::max(1, std::min(kMostSlots, static_cast<int>(kSlotBudgetBytes / slot_bytes)));
      }
      if (w > cap_w_ || h > cap_h_) {
        Fail(kExitUsage, "--max-size " + std::to_string(cap_w_) + "x" + std::to_string(cap_h_) +
                             ": smaller than the input frame " + std::to_string(w) + "x" + std::to_string(h));
        return;
      }
      SlotPtr slot;
      if (!GetSlot(&slot)) return;
      if (!importer.Prepare(f, &error)) {
        Fail(kExitFailed, reader_.name() + ": frame " + std::to_string(frame.index) + ": " + error);
        return;
      }
      ImportTurned(importer, f, rotation, slot->buffers.a.data(), cap_w_, &unturned);
      slot->in_w = w;
      slot->in_h = h;
      slot->index = frame.index;
      slot->pts = frame.pts;
      slot->duration = frame.duration;
      frame.frame.reset();
      if (!to_filter_.Push(std::move(slot))) return;
    }
    to_filter_.Close();
  });
}

void Pipeline::FilterFrames() {
  Guarded([&] {
    omp_set_num_threads(PluginThreads());
    host::FilterInstance instance(job_.library->table());
    bool limit_checked = false;
    SlotPtr slot;
    std::string error;
    while (to_filter_.Pop(&slot)) {
      host::FrameResult result;
      if (!FilterFrame(instance, options_.values, slot->index, slot->buffers, slot->in_w, slot->in_h, &result,
                       &error)) {
        Fail(kExitFailed, error);
        return;
      }
      // With a capacity from --max-size, find out once whether it cut the
      // output, by running the same frame with the automatic capacity.
      if (!limit_checked && options_.max_w > 0 && (result.w == cap_w_ || result.h == cap_h_)) {
        limit_checked = true;
        int auto_w = 0, auto_h = 0;
        AutomaticCapacity(*job_.controls, options_.values, slot->in_w, slot->in_h, &auto_w, &auto_h);
        host::FrameBuffers probe(std::max(auto_w, cap_w_), std::max(auto_h, cap_h_));
        for (int r = 0; r < slot->in_h; ++r)
          std::copy_n(slot->buffers.a.data() + static_cast<std::ptrdiff_t>(r) * cap_w_, slot->in_w,
                      probe.a.data() + static_cast<std::ptrdiff_t>(r) * probe.max_w);
        host::FilterInstance probe_instance(job_.library->table());
        std::copy(instance.track.begin(), instance.track.end(), probe_instance.track.begin());
        std::copy(instance.check.begin(), instance.check.end(), probe_instance.check.begin());
        const host::FrameResult full = host::RunFrame(probe_instance, probe, slot->in_w, slot->in_h, true);
        if (full.w != result.w || full.h != result.h) {
          console_.Note("the output is limited to " + std::to_string(result.w) + "x" + std::to_string(result.h) +
                        " by --max-size; the controls ask for " + std::to_string(full.w) + "x" +
                        std::to_string(full.h));
        }
      }
      slot->result = result;
      if (!filtered_.Push(std::move(slot))) return;
    }
    filtered_.Close();
  });
}

bool Pipeline::AudioOwned(const AVPacket* p) {
  const std::int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
  if (ts == AV_NOPTS_VALUE) return true;
  std::lock_guard<std::mutex> lock(end_mutex_);
  // A packet belongs to the run in whose frames it starts; the first run
  // also takes what starts before its first frame (an encoder's priming).
  if (options_.start > 0 && av_compare_ts(ts, audio_time_base_, first_pts_, video_time_base_) < 0) return false;
  return !has_boundary_ || av_compare_ts(ts, audio_time_base_, boundary_pts_, video_time_base_) < 0;
}

// Writes the audio packets that start before `until_pts` (picture time base),
// or, when `final`, all that belong to this run.
bool Pipeline::WriteAudio(bool final, std::int64_t until_pts, std::string* error) {
  if (writer_ == nullptr) return true;
  const std::int64_t shift = av_rescale_q(first_pts_, video_time_base_, audio_time_base_);
  for (;;) {
    AVPacket* p = nullptr;
    {
      std::lock_guard<std::mutex> lock(audio_mutex_);
      if (audio_.empty()) return true;
      p = audio_.front();
      const std::int64_t ts = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
      if (!final && ts != AV_NOPTS_VALUE && av_compare_ts(ts, audio_time_base_, until_pts, video_time_base_) >= 0)
        return true;
      audio_.pop_front();
    }
    const bool ok = !AudioOwned(p) || writer_->WriteAudio(p, shift, error);
    av_packet_free(&p);
    if (!ok) return false;
  }
}

bool Pipeline::OpenOutput(const FrameSlot& first, std::string* error) {
  out_w_ = first.result.w;
  out_h_ = first.result.h;
  first_pts_ = first.pts;
  if (job_.plan.numbered) return true;
  file_.reset(new OutputFile(options_.output.path));
  if (!file_->Create(error)) return false;
  WriterSettings settings;
  settings.request = options_.output;
  settings.plan = job_.plan;
  settings.fd = file_->fd();
  settings.w = out_w_;
  settings.h = out_h_;
  settings.time_base = reader_.info().time_base;
  settings.frame_rate = reader_.info().frame_rate;
  settings.equirectangular = job_.equirectangular_output;
  writer_ = MediaWriter::Open(settings, &reader_, error);
  return writer_ != nullptr;
}

// One numbered picture, complete under its name or not at all.
bool Pipeline::WritePicture(const FrameSlot& slot, std::string* error) {
  std::string name;
  NumberedName(options_.output.path, slot.index, &name);
  OutputFile file(name);
  if (!file.Create(error)) return false;
  WriterSettings settings;
  settings.request = options_.output;
  settings.request.path = name;
  settings.plan = job_.plan;
  settings.fd = file.fd();
  settings.w = out_w_;
  settings.h = out_h_;
  settings.time_base = reader_.info().time_base;
  settings.frame_rate = reader_.info().frame_rate;
  std::unique_ptr<MediaWriter> writer = MediaWriter::Open(settings, &reader_, error);
  if (writer == nullptr || !writer->WriteVideo(slot.result.frame, cap_w_, 0, error) || !writer->Finish(error) ||
      !file.Commit(options_.overwrite, error))
    return false;
  pictures_written_.push_back(name);
  return true;
}

void Pipeline::WriteFrames() {
  Guarded([&] {
    long total = reader_.info().frame_count > 0 ? std::max(0L, reader_.info().frame_count - options_.start) : 0;
    if (options_.frames > 0) total = total > 0 ? std::min(total, options_.frames) : options_.frames;
    long done = 0;
    std::string error;
    SlotPtr slot;
    while (filtered_.Pop(&slot)) {
      if (done == 0) {
        if (!OpenOutput(*slot, &error)) {
          Fail(kExitFailed, error);
          return;
        }
      } else if (slot->result.w != out_w_ || slot->result.h != out_h_) {
        Fail(kExitUsage, "the output size changes from " + std::to_string(out_w_) + "x" + std::to_string(out_h_) +
                             " to " + std::to_string(slot->result.w) + "x" + std::to_string(slot->result.h) +
                             " at frame " + std::to_string(slot->index) +
                             "; a video keeps one size (do not animate the height)");
        return;
      }
      bool ok = true;
      if (job_.plan.numbered) {
        ok = WritePicture(*slot, &error);
      } else if (job_.plan.picture && done >= 1) {
        Fail(kExitUsage, options_.output.path + ": a picture holds one frame; use --frames 1 or write a video");
        return;
      } else {
        ok = writer_->WriteVideo(slot->result.frame, cap_w_, slot->pts - first_pts_, &error) &&
             WriteAudio(false, slot->pts + std::max<std::int64_t>(slot->duration, 1), &error);
      }
      if (!ok) {
        Fail(kExitFailed, error);
        return;
      }
      ++done;
      console_.Progress(done, total);
      if (job_.progress) job_.progress(done, total);
      free_slots_.Push(std::move(slot));
    }
    if (Failed()) return;
    if (writer_ != nullptr) {
      if (!WriteAudio(true, 0, &error) || !writer_->Finish(&error)) {
        Fail(kExitFailed, error);
        return;
      }
      if (Stopped()) return;
      if (!file_->Commit(options_.overwrite, &error)) {
        Fail(kExitFailed, error);
        return;
      }
    }
    console_.Progress(done, total, true);
  });
}

int Pipeline::Run(std::string* failure) {
  video_time_base_ = ToAv(reader_.info().time_base);
  if (!job_.plan.audio.empty() && reader_.audio_stream() != nullptr) {
    audio_time_base_ = reader_.audio_stream()->time_base;
    reader_.SetAudioSink([this](const AVPacket* p) {
      AVPacket* copy = av_packet_clone(p);
      if (copy == nullptr) throw std::bad_alloc();
      std::lock_guard<std::mutex> lock(audio_mutex_);
      audio_.push_back(copy);
    });
  }
  std::atomic<bool> finished{false};
  std::thread watcher([&] {
    while (!finished.load()) {
      if (Stopped()) {
        Fail(kExitInterrupted, StopMessage());
        return;
      }
      usleep(50 * 1000);
    }
  });
  std::thread reader([this] { ReadFrames(); });
  std::thread importer([this] { ImportFrames(); });
  std::thread filter([this] { FilterFrames(); });
  WriteFrames();
  reader.join();
  importer.join();
  filter.join();
  finished = true;
  watcher.join();
  for (AVPacket*& p : audio_) av_packet_free(&p);
  audio_.clear();
  if (Stopped() && !failed_) Fail(kExitInterrupted, StopMessage());
  if (failed_) {
    // Pictures of a numbered output that were finished go too.
    for (const std::string& name : pictures_written_) unlink(name.c_str());
    writer_.reset();
    file_.reset();
    console_.Error(message_);
    if (failure != nullptr) *failure = message_;
    return status_;
  }
  return kExitOk;
}

}  // namespace

int PluginThreads() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency()) / 2); }

void TurnedSize(int width, int height, int rotation, int* w, int* h) {
  const bool turned = rotation == 90 || rotation == 270;
  *w = turned ? height : width;
  *h = turned ? width : height;
}

void ImportTurned(const FrameImporter& importer, const AVFrame* frame, int rotation, PIXEL_YC* out, int stride,
                  std::vector<PIXEL_YC>* unturned) {
  if (rotation == 0) {
    importer.Convert(frame, 0, frame->height, out, stride);
    return;
  }
  unturned->resize(static_cast<std::size_t>(frame->width) * frame->height);
  importer.Convert(frame, 0, frame->height, unturned->data(), frame->width);
  RotateInto(unturned->data(), frame->width, frame->height, rotation, out, stride);
}

bool FilterFrame(host::FilterInstance& instance, const ControlValues& values, long index, host::FrameBuffers& buffers,
                 int w, int h, host::FrameResult* result, std::string* error) {
  const std::vector<int> tracks = values.TracksAt(index);
  std::copy(tracks.begin(), tracks.end(), instance.track.begin());
  std::copy(values.checks.begin(), values.checks.end(), instance.check.begin());
  *result = host::RunFrame(instance, buffers, w, h, true);
  const std::string at = " at frame " + std::to_string(index);
  if (result->returned == 0) {
    *error = "the plug-in reported a failure" + at;
    return false;
  }
  if (result->w <= 0 || result->h <= 0 || result->w > buffers.max_w || result->h > buffers.max_h) {
    *error = "the plug-in handed back a " + std::to_string(result->w) + "x" + std::to_string(result->h) + " frame" +
             at + "; nothing to write";
    return false;
  }
  return true;
}

int PrepareConversion(ConversionJob* job, std::unique_ptr<MediaReader>* reader, Console* console,
                      std::string* error) {
  Options& options = job->options;
  const ControlSet& controls = *job->controls;
  const std::string& output = options.output.path;
  bool picture = false;
  if (!OutputFormatKnown(output, &picture)) {
    *error = output + ": cannot tell the output format from the extension (use .png, .jpg, .tif, .mp4, .mkv, .mov ...)";
    return kExitUsage;
  }
  struct stat in_stat, out_stat;
  const bool output_exists = stat(output.c_str(), &out_stat) == 0;
  if (output_exists && stat(options.input.c_str(), &in_stat) == 0 && in_stat.st_dev == out_stat.st_dev &&
      in_stat.st_ino == out_stat.st_ino) {
    *error = output + ": is the input file; choose another output";
    return kExitUsage;
  }
  if (output_exists && S_ISDIR(out_stat.st_mode)) {
    *error = output + ": is a folder";
    return kExitFailed;
  }
  if (output_exists && !options.overwrite) {
    *error = output + ": already exists (use -y to overwrite)";
    return kExitFailed;
  }
  if (!CheckOutputRequest(options.output, error)) return kExitUsage;

  *reader = MediaReader::Open(options.input, error);
  if (!*reader) return kExitFailed;
  const InputInfo& info = (*reader)->info();
  if (!PlanOutput(options.output, info, **reader, &job->plan, error)) return kExitUsage;
  if (picture && !job->plan.numbered && !info.still && options.frames != 1) {
    *error = output + ": a picture holds one frame; pick it with --start N --frames 1, write numbered pictures "
                      "(name%04d.png), or write a video";
    return kExitUsage;
  }
  if (info.still && options.start > 0) {
    *error = "--start " + std::to_string(options.start) + ": " + options.input + " is a single picture (frame 0 only)";
    return kExitUsage;
  }
  // A 360-degree panorama says so in its tags: read it as one unless the
  // command line chose an input projection.
  if (info.equirect_360 && !options.input_given && controls.default_input != InputKind::Equirect) {
    for (InputKind kind : controls.InputChoices()) {
      if (kind != InputKind::Equirect) continue;
      ApplyControlOption(controls, "input", "equirect", &options.values, error);
      console->Note(options.input + " is tagged as a 360-degree equirectangular video: read with --input equirect");
    }
  }
  for (const std::string& note : IdleControlNotes(controls, options.values, options.given_tracks))
    console->Note(note);
  for (const std::string& note : job->plan.notes) console->Note(note);
  if (info.rotation != 0) {
    console->Note(options.input + " is shown turned by " + std::to_string(info.rotation) +
                  " degrees: the plug-in gets it turned so");
  }
  return kExitOk;
}

int RunConversion(const ConversionJob& job, MediaReader* reader, Console* console, std::string* failure) {
  Pipeline pipeline(job, reader, console);
  return pipeline.Run(failure);
}

}  // namespace reproject
