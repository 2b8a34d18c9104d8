// Writing pictures and videos through FFmpeg's libraries: the choice of
// encoder and pixel format, the container's tags, the 360 tag, and the audio
// (copied packet by packet, or re-encoded where the container cannot hold it).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "aviutl_filter.h"
#include "frame_convert.h"
#include "media_input.h"

struct AVPacket;

namespace reproject {

// What the user asked of the output.
struct OutputRequest {
  std::string path;          // the name as given; its extension selects the container
  std::string codec;         // --codec; empty: chosen
  std::string pix_fmt;       // --pix-fmt; empty: chosen
  std::string preset;        // --preset; empty: the encoder's usual (medium for x264/x265)
  std::int64_t bitrate = 0;  // --bitrate in bit/s; 0: constant quality (--crf)
  int crf = 18;
  std::string audio_codec;   // --audio-codec: empty (copy when possible), "copy" or an encoder
  bool audio = true;         // false with --no-audio
  bool quiet = false;
};

// The extension of `path` names a container FFmpeg can write; *picture: it
// holds one still picture (PNG, JPEG, TIFF, ...).
bool OutputFormatKnown(const std::string& path, bool* picture);

// Checks of the request that need no input: the encoders exist and fit the
// container, the pixel format and the preset are known. False and a one-line
// *error (bad usage) otherwise.
bool CheckOutputRequest(const OutputRequest& request, std::string* error);

// Settled once the input is open.
struct OutputPlan {
  bool picture = false;       // one picture per file
  bool numbered = false;      // a numbered picture for each frame (name%04d.png)
  std::string codec;          // video encoder
  int pix_fmt = -1;           // preferred pixel format; -1: the encoder's best for the frame size
  bool pix_fmt_chosen = false;  // given with --pix-fmt (kept even for odd sizes)
  std::string audio;          // "" no audio, "copy", or the audio encoder
  std::vector<std::string> notes;  // what the user should know about these choices
};

// False and a one-line *error (bad usage) when the request cannot be met for
// this input.
bool PlanOutput(const OutputRequest& request, const InputInfo& input, const MediaReader& reader,
                OutputPlan* plan, std::string* error);

// The plan for writing one 8-bit picture to `path` (for programs that make
// pictures of their own).
bool PlanPicture(const std::string& path, OutputPlan* plan, std::string* error);

struct WriterSettings {
  OutputRequest request;
  OutputPlan plan;
  int fd = -1;                // the open file written through
  int w = 0;
  int h = 0;
  Rational time_base;         // of the timestamps handed to WriteVideo
  Rational frame_rate;
  bool equirectangular = false;  // tag the video as a 360-degree panorama
};

class MediaWriter {
 public:
  // `input`: the source of the tags, colour properties and audio
  // parameters, or null for none.
  static std::unique_ptr<MediaWriter> Open(const WriterSettings& settings, const MediaReader* input,
                                           std::string* error);
  ~MediaWriter();

  // Encodes one YC48 frame (the size given at Open, row stride `stride`
  // pixels) at `pts` (settings' time base).
  bool WriteVideo(const PIXEL_YC* yc, int stride, std::int64_t pts, std::string* error);
  // One packet of the input's audio stream, its times moved back by `shift`
  // (in the packet's time base).
  bool WriteAudio(const AVPacket* packet, std::int64_t shift, std::string* error);
  // Flushes the encoders and finishes the file.
  bool Finish(std::string* error);

 private:
  MediaWriter() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace reproject
