// Reading pictures and videos through FFmpeg's libraries: one demuxer for the
// picture stream and the audio stream (so a pipe is read once), a threaded
// decoder, frame-exact positioning, and what the file says about itself
// (size, rate, depth, display rotation, 360 projection).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct AVFrame;
struct AVPacket;
struct AVStream;
struct AVFormatContext;

namespace reproject {

struct Rational {
  int num = 0;
  int den = 1;
};

// What an input holds, as far as a conversion needs it.
struct InputInfo {
  int width = 0;               // as stored, before any display rotation
  int height = 0;
  Rational time_base;          // of the picture stream's timestamps
  Rational frame_rate;         // 0/1 when unknown
  long frame_count = 0;        // 0 when unknown
  bool still = false;          // a single picture
  bool sequence = false;       // numbered pictures (name%04d.png)
  bool deep = false;           // more than 8 bits a sample
  int rotation = 0;            // clockwise degrees a player turns the picture: 0, 90, 180, 270
  bool equirect_360 = false;   // tagged as an equirectangular 360-degree video
  bool has_audio = false;
};

// One decoded picture. Owns its FFmpeg frame.
struct VideoFrame {
  struct FrameFree {
    void operator()(AVFrame* f) const;
  };
  std::unique_ptr<AVFrame, FrameFree> frame;
  long index = 0;             // position in the input, from 0
  std::int64_t pts = 0;       // in the input stream's time base
  std::int64_t duration = 0;  // in the input stream's time base, 0 if unknown
};

class MediaReader {
 public:
  // `path`: a file (taken as it is when it exists), a numbered sequence
  // (name%d.png, name%04d.png) when no file has that name, or - for the
  // standard input. Null and a one-line *error (naming the input) on failure.
  static std::unique_ptr<MediaReader> Open(const std::string& path, std::string* error);
  ~MediaReader();

  const InputInfo& info() const { return info_; }
  const std::string& name() const { return name_; }

  // Makes frame `index` the next one Next returns: on a file that can seek,
  // from the key frame before it (found by reading the packets' timestamps),
  // else by decoding and dropping the frames before it.
  bool SeekToFrame(long index, std::string* error);

  // Audio packets met while reading go to `sink` (which takes a reference of
  // its own) when set; otherwise the audio is not read.
  void SetAudioSink(std::function<void(const AVPacket*)> sink);

  // Next picture: 1 = a frame, 0 = end of input, -1 = error (*error set).
  int Next(VideoFrame* frame, std::string* error);

  // Reads on, passing audio packets to the sink and skipping pictures, until
  // an audio packet starts at or after `video_pts` (picture time base) or the
  // input ends.
  bool ReadAudioUntil(std::int64_t video_pts, std::string* error);

  // For the writer: the streams and the container, to copy parameters and tags.
  const AVFormatContext* container() const;
  const AVStream* video_stream() const;
  const AVStream* audio_stream() const;  // null without audio

  // Frames the decoder produced so far, including those dropped to reach a
  // position (for tests of seeking).
  long decoded_frames() const { return decoded_frames_; }
  // Frames of the input passed so far (returned or dropped): at the end of
  // the input, how many it holds.
  long frames_passed() const;

 private:
  MediaReader() = default;
  bool OpenStreams(std::string* error);
  int ReadPacket(std::string* error);  // 1 a packet handled, 0 end of input, -1 error
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string path_;   // what FFmpeg opens
  std::string name_;   // what the user gave, for messages
  InputInfo info_;
  long decoded_frames_ = 0;
};

// A file name with a frame-number pattern (%d, %04d): true and the name of
// frame `index` in *name.
bool NumberedName(const std::string& pattern, long index, std::string* name);

}  // namespace reproject
