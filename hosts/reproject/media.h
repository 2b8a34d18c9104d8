// Reading and writing pictures and videos through FFmpeg's libraries. Frames
// cross this boundary as packed 8-bit RGB; everything about containers,
// codecs, pixel formats, timestamps and the copied audio stays in here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace reproject {

// A decoded frame as packed RGB24, rows of 3 * w bytes.
struct RgbFrame {
  int w = 0;
  int h = 0;
  std::vector<std::uint8_t> rgb;
  long index = 0;         // position in the input, from 0
  std::int64_t pts = 0;   // in the input stream's time base
  std::int64_t duration = 0;  // in the input stream's time base, 0 if unknown
};

struct Rational {
  int num = 0;
  int den = 1;
};

class MediaReader {
 public:
  // Null and *error on failure (a single line naming the file).
  static std::unique_ptr<MediaReader> Open(const std::string& path, std::string* error);
  ~MediaReader();

  // Next frame; 1 = a frame, 0 = end of input, -1 = error (*error set).
  int Next(RgbFrame* frame, std::string* error);

  int width() const { return width_; }
  int height() const { return height_; }
  Rational time_base() const { return time_base_; }
  Rational frame_rate() const { return frame_rate_; }  // 0/1 when unknown
  long frame_count() const { return frame_count_; }    // 0 when unknown
  bool still() const { return still_; }                // a single picture
  bool has_audio() const { return audio_stream_ >= 0; }
  const std::string& path() const { return path_; }

 private:
  friend class MediaWriter;
  MediaReader() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string path_;
  int width_ = 0;
  int height_ = 0;
  Rational time_base_;
  Rational frame_rate_;
  long frame_count_ = 0;
  bool still_ = false;
  int audio_stream_ = -1;
};

struct WriterSettings {
  std::string path;          // the file written (a temporary name)
  std::string format_path;   // the name whose extension selects the container
  std::string codec;         // encoder name; empty: the container's choice (libx264 for H.264)
  int crf = 18;              // quality of libx264/libx265 (0 best .. 51)
  int w = 0;
  int h = 0;
  Rational time_base;        // of the timestamps handed to Write
  Rational frame_rate;
  bool copy_audio = true;
};

class MediaWriter {
 public:
  // `audio_source`: the input whose audio stream is copied, or null.
  static std::unique_ptr<MediaWriter> Open(const WriterSettings& settings,
                                           const MediaReader* audio_source,
                                           std::int64_t audio_start_pts, std::string* error);
  ~MediaWriter();

  // Encodes one frame (packed RGB24 of the size given at Open) with the
  // timestamp `pts` (settings' time base), and copies the audio up to its end.
  bool Write(const std::uint8_t* rgb, std::int64_t pts, std::int64_t duration, std::string* error);
  // Copies the audio up to `end_pts` (settings' time base; -1: to the end),
  // flushes the encoder and writes the trailer.
  bool Finish(std::int64_t end_pts, std::string* error);

  // A note for the user when the input's audio could not be copied, else "".
  const std::string& audio_note() const { return audio_note_; }
  bool single_image() const { return single_image_; }

 private:
  MediaWriter() = default;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string audio_note_;
  bool single_image_ = false;
};

// True if the extension of `path` names a container FFmpeg can write, and
// whether it holds one still picture (PNG, JPEG, TIFF, BMP, ...).
bool OutputFormatKnown(const std::string& path, bool* single_image);

}  // namespace reproject
