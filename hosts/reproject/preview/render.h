// The preview's pictures: a frame of the input run through the plug-in as a
// conversion runs it (the same reader and seeking, the same import to YC48
// and capacity, the same frame function), then encoded as PNG by the writer
// a conversion uses (what `reproject ... OUT.png` writes), or as JPEG for the
// page to show and scale.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "conversion.h"
#include "state.h"

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace reproject {
namespace preview {

enum class PictureFormat { kJpeg, kPng };

// A picture file in memory.
struct Picture {
  std::string bytes;
  int w = 0;
  int h = 0;
  double decode_ms = 0;  // reading and importing the input frame (0 when it was at hand)
  double filter_ms = 0;  // the plug-in
  double encode_ms = 0;
};

// Encodes a YC48 frame (rows of `stride` pixels) as the PNG a conversion
// writes (`reproject ... OUT.png`), with `reader`'s input as the
// conversion's writer sees it.
bool EncodePng(const PIXEL_YC* frame, int stride, int w, int h, const MediaReader& reader, std::string* bytes,
               std::string* error);

// JPEG for the page to show: JFIF's Y'CbCr (BT.601, full range, 4:2:0 with
// centred chroma) made by the conversion's own loops (yuv.h), split over the
// processors, and an encoder kept open between pictures of one size.
class JpegEncoder {
 public:
  JpegEncoder() = default;
  ~JpegEncoder();
  JpegEncoder(const JpegEncoder&) = delete;
  JpegEncoder& operator=(const JpegEncoder&) = delete;
  bool Encode(const PIXEL_YC* frame, int stride, int w, int h, std::string* bytes, std::string* error);

 private:
  bool Open(int w, int h, std::string* error);
  void Close();
  AVCodecContext* encoder_ = nullptr;
  AVFrame* picture_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::int64_t count_ = 0;
};

// Not thread-safe: RenderQueue runs it on one thread. Keeps the last input
// frame read, the frame buffers and one filter instance per plug-in.
class FrameRenderer {
 public:
  // `options`: the preview's command line (the input and --max-size).
  explicit FrameRenderer(const Options& options) : options_(options) {}

  bool Render(const ViewState& state, PictureFormat format, Picture* picture, std::string* error);
  // The input frame itself, scaled down to at most `most_w` pixels across.
  bool InputPicture(long frame, int most_w, Picture* picture, std::string* error);
  // Puts the input back into the buffer the plug-in reads, if the last run
  // may have changed it: done between requests, so that the next one finds
  // it ready.
  void Restore();

 private:
  bool LoadFrame(long frame, std::string* error);

  const Options options_;
  std::unique_ptr<MediaReader> reader_;
  long frame_ = -1;
  int in_w_ = 0, in_h_ = 0;
  std::vector<PIXEL_YC> input_;  // in_w_ x in_h_
  std::vector<PIXEL_YC> unturned_;
  FrameImporter importer_;
  std::unique_ptr<host::FrameBuffers> buffers_;
  bool restored_ = false;  // buffers_->a holds the input as read
  std::map<const PluginEntry*, std::unique_ptr<host::FilterInstance>> instances_;
  JpegEncoder jpeg_;
};

// Runs the renderer's work on one thread of its own, in the order asked.
// Work of a replaceable kind (the page's view while a control moves, the
// input's picture while the frame moves) carries a generation number; when
// it is due and a newer request of its kind has arrived, it is dropped
// unstarted: the newer state is what the page wants.
class RenderQueue {
 public:
  explicit RenderQueue(const Options& options);
  ~RenderQueue();

  using Work = std::function<bool(FrameRenderer&, std::string*)>;
  enum class Outcome { kDone, kFailed, kSuperseded };
  enum class Kind { kKept, kView, kInput };  // kKept: never dropped (a lossless frame)
  Outcome Run(const Work& work, Kind kind, std::string* error);

 private:
  struct Task;
  void Serve();

  FrameRenderer renderer_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<Task*> tasks_;
  std::map<Kind, std::uint64_t> latest_;  // generation of the newest request of each kind
  std::uint64_t generations_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace preview
}  // namespace reproject
