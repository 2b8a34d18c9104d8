#include "render.h"

#include <omp.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

#include "media_output.h"
#include "media_util.h"
#include "yuv.h"

namespace reproject {
namespace preview {
namespace {

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// A file descriptor closed on scope exit.
struct Fd {
  int fd;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

bool EncodePng(const PIXEL_YC* frame, int stride, int w, int h, const MediaReader& reader, std::string* bytes,
               std::string* error) {
  WriterSettings settings;
  settings.request.path = "frame.png";
  settings.request.quiet = true;
  if (!PlanOutput(settings.request, reader.info(), reader, &settings.plan, error)) return false;
  const Fd file{memfd_create("reproject-preview", MFD_CLOEXEC)};
  if (file.fd < 0) {
    *error = std::string("cannot make a picture in memory: ") + std::strerror(errno);
    return false;
  }
  settings.fd = file.fd;
  settings.w = w;
  settings.h = h;
  settings.time_base = reader.info().time_base;
  settings.frame_rate = reader.info().frame_rate;
  std::unique_ptr<MediaWriter> writer = MediaWriter::Open(settings, &reader, error);
  if (writer == nullptr || !writer->WriteVideo(frame, stride, 0, error) || !writer->Finish(error)) return false;
  const off_t size = lseek(file.fd, 0, SEEK_END);
  bytes->resize(size > 0 ? static_cast<std::size_t>(size) : 0);
  std::size_t got = 0;
  while (got < bytes->size()) {
    const ssize_t n = pread(file.fd, &(*bytes)[got], bytes->size() - got, static_cast<off_t>(got));
    if (n <= 0) {
      *error = std::string("cannot read the picture back: ") + (n < 0 ? std::strerror(errno) : "short file");
      return false;
    }
    got += static_cast<std::size_t>(n);
  }
  return true;
}

JpegEncoder::~JpegEncoder() { Close(); }

void JpegEncoder::Close() {
  avcodec_free_context(&encoder_);
  av_frame_free(&picture_);
  av_packet_free(&packet_);
}

bool JpegEncoder::Open(int w, int h, std::string* error) {
  Close();
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
  encoder_ = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
  picture_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (encoder_ == nullptr || picture_ == nullptr || packet_ == nullptr) {
    *error = codec == nullptr ? "this FFmpeg has no JPEG encoder" : "out of memory";
    Close();
    return false;
  }
  encoder_->width = picture_->width = w;
  encoder_->height = picture_->height = h;
  encoder_->pix_fmt = AV_PIX_FMT_YUVJ420P;
  picture_->format = AV_PIX_FMT_YUVJ420P;
  encoder_->color_range = picture_->color_range = AVCOL_RANGE_JPEG;
  encoder_->colorspace = AVCOL_SPC_BT470BG;
  encoder_->chroma_sample_location = picture_->chroma_location = AVCHROMA_LOC_CENTER;
  encoder_->time_base = AVRational{1, 25};
  encoder_->thread_count = 1;
  // Good quality in one pass: the standard Huffman tables.
  encoder_->flags |= AV_CODEC_FLAG_QSCALE;
  encoder_->global_quality = FF_QP2LAMBDA * 3;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "huffman", "default", 0);
  const int rc = avcodec_open2(encoder_, codec, &options);
  av_dict_free(&options);
  if (rc < 0 || av_frame_get_buffer(picture_, 0) < 0) {
    *error = "cannot open the JPEG encoder: " + AvError(rc);
    Close();
    return false;
  }
  return true;
}

bool JpegEncoder::Encode(const PIXEL_YC* frame, int stride, int w, int h, std::string* bytes, std::string* error) {
  if ((encoder_ == nullptr || encoder_->width != w || encoder_->height != h) && !Open(w, h, error)) return false;
  if (av_frame_make_writable(picture_) < 0) {
    *error = "out of memory";
    return false;
  }
  YuvFormat format;
  format.full_range = true;
  format.matrix = YuvMatrix::kBt601;
  format.chroma_cosited_x = false;
  format.chroma_cosited_y = false;
  MutableYuvPlanes planes;
  for (int p = 0; p < 3; ++p) {
    planes.data[p] = picture_->data[p];
    planes.stride[p] = picture_->linesize[p];
  }
  // Blocks of rows that begin on even rows, as the 4:2:0 chroma needs.
  constexpr int kRows = 64;
#pragma omp parallel for schedule(dynamic)
  for (int begin = 0; begin < h; begin += kRows)
    Yc48ToYuv(frame, stride, w, h, begin, std::min(h, begin + kRows), format, planes);
  picture_->pts = count_++;
  int rc = avcodec_send_frame(encoder_, picture_);
  if (rc >= 0) rc = avcodec_receive_packet(encoder_, packet_);
  if (rc < 0) {
    *error = "JPEG encoding failed: " + AvError(rc);
    Open(w, h, error);
    return false;
  }
  bytes->assign(reinterpret_cast<const char*>(packet_->data), static_cast<std::size_t>(packet_->size));
  av_packet_unref(packet_);
  return true;
}

bool FrameRenderer::LoadFrame(long frame, std::string* error) {
  if (reader_ != nullptr && frame_ == frame) return true;
  reader_.reset();
  frame_ = -1;
  std::unique_ptr<MediaReader> reader = MediaReader::Open(options_.input, error);
  if (reader == nullptr || !reader->SeekToFrame(frame, error)) return false;
  VideoFrame decoded;
  const int got = reader->Next(&decoded, error);
  if (got < 0) return false;
  if (got == 0) {
    *error = "frame " + std::to_string(frame) + ": the input has only " + std::to_string(reader->frames_passed()) +
             " frames";
    return false;
  }
  const AVFrame* f = decoded.frame.get();
  if (!importer_.Prepare(f, error)) {
    *error = reader->name() + ": frame " + std::to_string(frame) + ": " + *error;
    return false;
  }
  TurnedSize(f->width, f->height, reader->info().rotation, &in_w_, &in_h_);
  input_.resize(static_cast<std::size_t>(in_w_) * in_h_);
  ImportTurned(importer_, f, reader->info().rotation, input_.data(), in_w_, &unturned_);
  reader_ = std::move(reader);
  frame_ = frame;
  restored_ = false;
  return true;
}

bool FrameRenderer::Render(const ViewState& state, PictureFormat format, Picture* picture, std::string* error) {
  auto start = std::chrono::steady_clock::now();
  const bool loaded = reader_ != nullptr && frame_ == state.frame;
  if (!LoadFrame(state.frame, error)) return false;
  picture->decode_ms = loaded ? 0.0 : MsSince(start);

  start = std::chrono::steady_clock::now();
  int cap_w = options_.max_w, cap_h = options_.max_h;
  if (cap_w <= 0) AutomaticCapacity(state.plugin->controls, state.values, in_w_, in_h_, &cap_w, &cap_h);
  if (in_w_ > cap_w || in_h_ > cap_h) {
    *error = "--max-size " + std::to_string(cap_w) + "x" + std::to_string(cap_h) + ": smaller than the input frame " +
             std::to_string(in_w_) + "x" + std::to_string(in_h_);
    return false;
  }
  if (buffers_ == nullptr || buffers_->max_w != cap_w || buffers_->max_h != cap_h) {
    buffers_.reset();
    buffers_.reset(new host::FrameBuffers(cap_w, cap_h));
    restored_ = false;
  }
  Restore();
  std::unique_ptr<host::FilterInstance>& instance = instances_[state.plugin];
  if (instance == nullptr) instance.reset(new host::FilterInstance(state.plugin->library->table()));
  host::FrameResult result;
  restored_ = false;
  if (!FilterFrame(*instance, state.values, state.frame, *buffers_, in_w_, in_h_, &result, error)) return false;
  picture->filter_ms = MsSince(start);

  start = std::chrono::steady_clock::now();
  picture->w = result.w;
  picture->h = result.h;
  const bool encoded = format == PictureFormat::kPng
                           ? EncodePng(result.frame, cap_w, result.w, result.h, *reader_, &picture->bytes, error)
                           : jpeg_.Encode(result.frame, cap_w, result.w, result.h, &picture->bytes, error);
  if (!encoded) return false;
  picture->encode_ms = MsSince(start);
  return true;
}

void FrameRenderer::Restore() {
  if (restored_ || buffers_ == nullptr || in_w_ > buffers_->max_w || in_h_ > buffers_->max_h) return;
  // The plug-in gets the input as read every time, as in a conversion,
  // whatever the last run left in the buffers.
  const int stride = buffers_->max_w;
#pragma omp parallel for schedule(static)
  for (int r = 0; r < in_h_; ++r)
    std::copy_n(input_.data() + static_cast<std::ptrdiff_t>(r) * in_w_, in_w_,
                buffers_->a.data() + static_cast<std::ptrdiff_t>(r) * stride);
  restored_ = true;
}

bool FrameRenderer::InputPicture(long frame, int most_w, Picture* picture, std::string* error) {
  if (!LoadFrame(frame, error)) return false;
  const int step = std::max(1, (in_w_ + most_w - 1) / most_w);
  const int w = std::max(1, in_w_ / step), h = std::max(1, in_h_ / step);
  std::vector<PIXEL_YC> small(static_cast<std::size_t>(w) * h);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c)
      small[static_cast<std::size_t>(r) * w + c] = input_[static_cast<std::size_t>(r) * step * in_w_ + c * step];
  picture->w = w;
  picture->h = h;
  JpegEncoder jpeg;
  return jpeg.Encode(small.data(), w, w, h, &picture->bytes, error);
}

struct RenderQueue::Task {
  const Work* work = nullptr;
  Kind kind = Kind::kKept;
  std::uint64_t generation = 0;
  bool done = false;
  Outcome outcome = Outcome::kFailed;
  std::string error;
};

RenderQueue::RenderQueue(const Options& options) : renderer_(options), thread_([this] { Serve(); }) {}

RenderQueue::~RenderQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

RenderQueue::Outcome RenderQueue::Run(const Work& work, Kind kind, std::string* error) {
  Task task;
  task.work = &work;
  task.kind = kind;
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_) {
    *error = "the preview is stopping";
    return Outcome::kFailed;
  }
  if (kind != Kind::kKept) task.generation = latest_[kind] = ++generations_;
  tasks_.push_back(&task);
  wake_.notify_all();
  finished_.wait(lock, [&] { return task.done; });
  *error = task.error;
  return task.outcome;
}

void RenderQueue::Serve() {
  omp_set_num_threads(PluginThreads());
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
    if (tasks_.empty()) return;
    Task* task = tasks_.front();
    tasks_.pop_front();
    if (stopping_ || (task->kind != Kind::kKept && task->generation < latest_[task->kind])) {
      task->outcome = Outcome::kSuperseded;
      task->error = stopping_ ? "the preview is stopping" : "superseded by a newer request";
    } else {
      lock.unlock();
      std::string error;
      bool ok = false;
      try {
        ok = (*task->work)(renderer_, &error);
      } catch (const std::bad_alloc&) {
        error = "out of memory";
      }
      lock.lock();
      task->outcome = ok ? Outcome::kDone : Outcome::kFailed;
      task->error = error;
    }
    task->done = true;
    finished_.notify_all();
    // While the answer travels, the input goes back in place for the next.
    lock.unlock();
    renderer_.Restore();
    lock.lock();
  }
}

}  // namespace preview
}  // namespace reproject
