#include "media_input.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/spherical.h>
}

#include "frame_convert.h"
#include "media_util.h"

namespace reproject {

void VideoFrame::FrameFree::operator()(AVFrame* f) const { av_frame_free(&f); }

bool NumberedName(const std::string& pattern, long index, std::string* name) {
  char buffer[4096];
  if (av_get_frame_filename2(buffer, sizeof(buffer), pattern.c_str(), static_cast<int>(index), 0) < 0)
    return false;
  *name = buffer;
  return true;
}

namespace {

// Where the picture stream should end, in seconds from its start, or a
// negative value when the file does not say: the stream's own duration, the
// duration a muxer wrote into the track's tags (Matroska keeps it there), or
// the file's duration when the picture is its only stream (another stream may
// run longer than the picture).
double DeclaredVideoEnd(const AVFormatContext* format, const AVStream* st) {
  if (st->duration != AV_NOPTS_VALUE && st->duration > 0) return st->duration * av_q2d(st->time_base);
  const AVDictionaryEntry* tag = av_dict_get(st->metadata, "DURATION", nullptr, 0);
  int hours = 0, minutes = 0;
  double seconds = 0.0;
  if (tag != nullptr && std::sscanf(tag->value, "%d:%d:%lf", &hours, &minutes, &seconds) == 3)
    return hours * 3600.0 + minutes * 60.0 + seconds;
  if (format->nb_streams == 1 && format->duration > 0)
    return static_cast<double>(format->duration) / AV_TIME_BASE;
  return -1.0;
}

// Clockwise quarter turns a player applies for the stream's display matrix.
int DisplayRotation(const AVStream* st) {
  const std::uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
  if (matrix == nullptr) return 0;
  const double counterclockwise = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
  if (std::isnan(counterclockwise)) return 0;
  const long quarter = std::lround(-counterclockwise / 90.0);
  return static_cast<int>(((quarter % 4) + 4) % 4) * 90;
}

bool TaggedEquirectangular(const AVStream* st) {
  const std::uint8_t* data = av_stream_get_side_data(st, AV_PKT_DATA_SPHERICAL, nullptr);
  return data != nullptr &&
         reinterpret_cast<const AVSphericalMapping*>(data)->projection == AV_SPHERICAL_EQUIRECTANGULAR;
}

}  // namespace

struct MediaReader::Impl {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  int audio = -1;
  bool sequence = false;
  bool draining = false;
  bool finished = false;
  long next_index = 0;       // index of the next frame the decoder gives
  long skip_before = 0;      // frames before this index are dropped
  // After a seek: frames before this time are dropped, and the first frame
  // kept must be at exactly this time.
  std::int64_t seek_pts = AV_NOPTS_VALUE;
  long seek_index = 0;
  std::int64_t last_pts = AV_NOPTS_VALUE;
  std::int64_t last_duration = 0;
  std::function<void(const AVPacket*)> audio_sink;
  // Audio read while a seek is not yet confirmed: handed on once it is,
  // dropped if the file is read again from the start.
  std::vector<AVPacket*> held_audio;

  ~Impl() { Close(); }
  void DropHeldAudio() {
    for (AVPacket*& p : held_audio) av_packet_free(&p);
    held_audio.clear();
  }
  void PassHeldAudio() {
    for (const AVPacket* p : held_audio) audio_sink(p);
    DropHeldAudio();
  }
  void Close() {
    DropHeldAudio();
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
  }
};

std::unique_ptr<MediaReader> MediaReader::Open(const std::string& path, std::string* error) {
  QuietLibraryLog();
  std::unique_ptr<MediaReader> reader(new MediaReader());
  reader->impl_.reset(new Impl());
  reader->name_ = path;
  reader->path_ = path == "-" ? "pipe:0" : path;
  struct stat st;
  std::string first;
  reader->impl_->sequence = path != "-" && stat(path.c_str(), &st) != 0 && NumberedName(path, 0, &first);
  if (!reader->OpenStreams(error)) return nullptr;
  return reader;
}

bool MediaReader::OpenStreams(std::string* error) {
  Impl& m = *impl_;
  m.Close();
  AVDictionary* options = nullptr;
  const AVInputFormat* forced = nullptr;
  if (m.sequence) {
    forced = av_find_input_format("image2");
    av_dict_set(&options, "pattern_type", "sequence", 0);
  } else {
    // A name that exists is that file, even with a % in it.
    av_dict_set(&options, "pattern_type", "none", 0);
  }
  int rc = avformat_open_input(&m.format, path_.c_str(), forced, &options);
  av_dict_free(&options);
  if (rc < 0) {
    *error = name_ + ": cannot read input: " + AvError(rc);
    return false;
  }
  rc = avformat_find_stream_info(m.format, nullptr);
  if (rc < 0) {
    *error = name_ + ": cannot read input: " + AvError(rc);
    return false;
  }
  const AVCodec* codec = nullptr;
  m.stream = av_find_best_stream(m.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (m.stream < 0 || codec == nullptr) {
    *error = name_ + ": no picture or video stream that can be decoded";
    return false;
  }
  AVStream* st = m.format->streams[m.stream];
  m.decoder = avcodec_alloc_context3(codec);
  if (m.decoder == nullptr || avcodec_parameters_to_context(m.decoder, st->codecpar) < 0) {
    *error = name_ + ": out of memory";
    return false;
  }
  m.decoder->pkt_timebase = st->time_base;
  m.decoder->thread_count = 0;  // as many as the machine has
  rc = avcodec_open2(m.decoder, codec, nullptr);
  if (rc < 0) {
    *error = name_ + ": cannot open decoder " + codec->name + ": " + AvError(rc);
    return false;
  }
  if (st->codecpar->width <= 0 || st->codecpar->height <= 0) {
    *error = name_ + ": the picture size is unknown (corrupt file?)";
    return false;
  }
  m.packet = av_packet_alloc();
  m.frame = av_frame_alloc();
  if (m.packet == nullptr || m.frame == nullptr) {
    *error = name_ + ": out of memory";
    return false;
  }
  InputInfo& info = info_;
  info.width = st->codecpar->width;
  info.height = st->codecpar->height;
  info.time_base = FromAv(st->time_base);
  const AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
  info.frame_rate = rate.num > 0 && rate.den > 0 ? FromAv(rate) : Rational{0, 1};
  info.frame_count = st->nb_frames > 0 ? static_cast<long>(st->nb_frames) : 0;
  const std::string demuxer = m.format->iformat->name;
  info.sequence = m.sequence;
  info.still = !m.sequence && (demuxer.find("image2") != std::string::npos ||
                               demuxer.find("_pipe") != std::string::npos);
  if (info.still) info.frame_count = 1;
  if (info.frame_count == 0 && rate.num > 0) {
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0) {
      info.frame_count = static_cast<long>(av_rescale_q(st->duration, st->time_base, av_inv_q(rate)));
    } else if (m.format->duration > 0) {
      info.frame_count = static_cast<long>(av_rescale_q(m.format->duration, AV_TIME_BASE_Q, av_inv_q(rate)));
    }
  }
  info.deep = PixelFormatIsDeep(st->codecpar->format) || st->codecpar->bits_per_raw_sample > 8;
  info.rotation = DisplayRotation(st);
  info.equirect_360 = TaggedEquirectangular(st);
  m.audio = av_find_best_stream(m.format, AVMEDIA_TYPE_AUDIO, -1, m.stream, nullptr, 0);
  if (m.audio < 0) m.audio = -1;
  info.has_audio = m.audio >= 0;
  // Only the picture stream, and the audio when someone takes it, are read.
  for (unsigned i = 0; i < m.format->nb_streams; ++i) {
    const int index = static_cast<int>(i);
    const bool wanted = index == m.stream || (index == m.audio && m.audio_sink);
    m.format->streams[i]->discard = wanted ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  m.draining = false;
  m.finished = false;
  m.next_index = 0;
  m.last_pts = AV_NOPTS_VALUE;
  m.last_duration = 0;
  return true;
}

MediaReader::~MediaReader() = default;

const AVFormatContext* MediaReader::container() const { return impl_->format; }
const AVStream* MediaReader::video_stream() const { return impl_->format->streams[impl_->stream]; }
const AVStream* MediaReader::audio_stream() const {
  return impl_->audio >= 0 ? impl_->format->streams[impl_->audio] : nullptr;
}

long MediaReader::frames_passed() const { return impl_->next_index; }

void MediaReader::SetAudioSink(std::function<void(const AVPacket*)> sink) {
  Impl& m = *impl_;
  m.audio_sink = std::move(sink);
  if (m.audio >= 0) m.format->streams[m.audio]->discard = m.audio_sink ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

int MediaReader::ReadPacket(std::string* error) {
  Impl& m = *impl_;
  int rc = av_read_frame(m.format, m.packet);
  if (rc == AVERROR_EOF) return 0;
  if (rc < 0) {
    *error = name_ + ": read error at frame " + std::to_string(m.next_index) + ": " + AvError(rc);
    return -1;
  }
  if (m.packet->stream_index == m.stream) {
    rc = avcodec_send_packet(m.decoder, m.packet);
    if (rc < 0 && rc != AVERROR(EAGAIN)) {
      av_packet_unref(m.packet);
      *error = name_ + ": cannot decode frame " + std::to_string(m.next_index) + ": " + AvError(rc) +
               " (corrupt file?)";
      return -1;
    }
  } else if (m.packet->stream_index == m.audio && m.audio_sink) {
    if (m.seek_pts == AV_NOPTS_VALUE) {
      m.audio_sink(m.packet);
    } else {
      AVPacket* copy = av_packet_clone(m.packet);
      if (copy == nullptr) {
        av_packet_unref(m.packet);
        *error = name_ + ": out of memory";
        return -1;
      }
      m.held_audio.push_back(copy);
    }
  }
  av_packet_unref(m.packet);
  return 1;
}

namespace {

struct PacketTime {
  std::int64_t pts;
  std::int64_t dts;
  bool key;
};

}  // namespace

bool MediaReader::SeekToFrame(long index, std::string* error) {
  Impl& m = *impl_;
  if (index <= 0) return true;
  m.skip_before = index;  // the way that always works: decode and drop
  const bool seekable = m.format->pb == nullptr ? m.sequence
                                                : (m.format->pb->seekable & AVIO_SEEKABLE_NORMAL) != 0;
  if (!seekable || info_.still) return true;

  // The presentation times of the picture packets from the start, read (not
  // decoded) from a second opening of the file, until the index-th smallest
  // is certain: once a packet's decoding time passes it, every later packet
  // shows later.
  Impl probe;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "pattern_type", m.sequence ? "sequence" : "none", 0);
  int rc = avformat_open_input(&probe.format, path_.c_str(),
                               m.sequence ? av_find_input_format("image2") : nullptr, &options);
  av_dict_free(&options);
  if (rc < 0 || avformat_find_stream_info(probe.format, nullptr) < 0 ||
      static_cast<int>(probe.format->nb_streams) <= m.stream) {
    return true;
  }
  for (unsigned i = 0; i < probe.format->nb_streams; ++i)
    probe.format->streams[i]->discard = static_cast<int>(i) == m.stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  probe.packet = av_packet_alloc();
  if (probe.packet == nullptr) return true;
  std::vector<PacketTime> packets;
  std::vector<std::int64_t> sorted;
  std::int64_t target = AV_NOPTS_VALUE;
  bool reorders = m.decoder->has_b_frames > 0 || probe.format->streams[m.stream]->codecpar->video_delay > 0;
  while (av_read_frame(probe.format, probe.packet) >= 0) {
    const AVPacket* p = probe.packet;
    if (p->stream_index == m.stream) {
      std::int64_t pts = p->pts;
      if (pts != AV_NOPTS_VALUE && p->dts != AV_NOPTS_VALUE && pts != p->dts) reorders = true;
      if (pts == AV_NOPTS_VALUE && !reorders) pts = p->dts;
      if (pts == AV_NOPTS_VALUE) {
        av_packet_unref(probe.packet);
        return true;  // no times to go by: decode from the start
      }
      packets.push_back({pts, p->dts, (p->flags & AV_PKT_FLAG_KEY) != 0});
      if (static_cast<long>(packets.size()) > index) {
        sorted.clear();
        for (const PacketTime& t : packets) sorted.push_back(t.pts);
        std::nth_element(sorted.begin(), sorted.begin() + index, sorted.end());
        target = sorted[static_cast<std::size_t>(index)];
        const std::int64_t decode_time = p->dts != AV_NOPTS_VALUE ? p->dts : pts;
        if (decode_time > target || !reorders) {
          av_packet_unref(probe.packet);
          break;
        }
      }
    }
    av_packet_unref(probe.packet);
  }
  if (static_cast<long>(packets.size()) <= index) return true;  // the decoder will tell how many there are
  // The last key frame, in decoding order, before the wanted frame and not
  // shown after it.
  std::size_t wanted = 0;
  while (packets[wanted].pts != target) ++wanted;
  long key = -1;
  for (std::size_t i = 0; i <= wanted; ++i)
    if (packets[i].key && packets[i].pts <= target) key = static_cast<long>(i);
  if (key < 0) return true;
  const PacketTime& k = packets[static_cast<std::size_t>(key)];
  const std::int64_t seek_to = k.dts != AV_NOPTS_VALUE ? std::min(k.dts, k.pts) : k.pts;
  if (av_seek_frame(m.format, m.stream, seek_to, AVSEEK_FLAG_BACKWARD) < 0) {
    return OpenStreams(error);  // the position is unknown now: start again
  }
  avcodec_flush_buffers(m.decoder);
  m.draining = false;
  m.finished = false;
  m.seek_pts = target;
  m.seek_index = index;
  return true;
}

int MediaReader::Next(VideoFrame* out, std::string* error) {
  Impl& m = *impl_;
  for (;;) {
    if (m.finished) return 0;
    int rc = avcodec_receive_frame(m.decoder, m.frame);
    if (rc == AVERROR_EOF) {
      m.finished = true;
      if (decoded_frames_ == 0) {
        *error = name_ + ": no frame could be decoded (truncated or corrupt file?)";
        return -1;
      }
      if (m.seek_pts != AV_NOPTS_VALUE) {
        // The frame sought never came: read again from the start.
        m.seek_pts = AV_NOPTS_VALUE;
        if (!OpenStreams(error)) return -1;
        continue;
      }
      const AVStream* st = m.format->streams[m.stream];
      if (!info_.still && info_.frame_count > 0 && st->nb_frames > 0 && m.next_index < info_.frame_count) {
        *error = name_ + ": input ends after " + std::to_string(m.next_index) + " of " +
                 std::to_string(info_.frame_count) + " frames (truncated file?)";
        return -1;
      }
      // Containers without a frame count (Matroska): the last frame must
      // reach the end the file declares, give or take half a second or two
      // frames, or the file was cut short.
      if (!info_.still && !info_.sequence) {
        const double declared = DeclaredVideoEnd(m.format, st);
        if (declared > 0.0 && m.last_pts != AV_NOPTS_VALUE) {
          const std::int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
          const double tb = av_q2d(st->time_base);
          const double reached = (m.last_pts - start + m.last_duration) * tb;
          const double frame = info_.frame_rate.num > 0
                                   ? static_cast<double>(info_.frame_rate.den) / info_.frame_rate.num
                                   : 0.0;
          const double slack = std::max(0.5, 2.0 * frame);
          if (reached + slack < declared) {
            char text[160];
            std::snprintf(text, sizeof(text),
                          ": input ends at %.2f s of the %.2f s it declares (truncated file?)", reached,
                          declared);
            *error = name_ + text;
            return -1;
          }
        }
      }
      return 0;
    }
    if (rc == AVERROR(EAGAIN)) {
      if (m.draining) {
        *error = name_ + ": decoder stalled";
        return -1;
      }
      rc = ReadPacket(error);
      if (rc < 0) return -1;
      if (rc == 0) {
        m.draining = true;
        avcodec_send_packet(m.decoder, nullptr);
      }
      continue;
    }
    if (rc < 0) {
      *error = name_ + ": cannot decode frame " + std::to_string(m.next_index) + ": " + AvError(rc);
      return -1;
    }
    ++decoded_frames_;
    AVFrame* f = m.frame;
    if (f->decode_error_flags != 0 || (f->flags & AV_FRAME_FLAG_CORRUPT)) {
      *error = name_ + ": frame " + std::to_string(m.next_index) + " is corrupt";
      av_frame_unref(f);
      return -1;
    }
    std::int64_t pts = f->best_effort_timestamp;
    if (m.seek_pts != AV_NOPTS_VALUE) {
      // Positioned by a seek: drop what shows before the frame sought; a
      // later frame first means the file's times were not what they seemed.
      if (pts != AV_NOPTS_VALUE && pts < m.seek_pts) {
        av_frame_unref(f);
        continue;
      }
      if (pts != m.seek_pts) {
        av_frame_unref(f);
        m.seek_pts = AV_NOPTS_VALUE;
        if (!OpenStreams(error)) return -1;
        continue;
      }
      m.seek_pts = AV_NOPTS_VALUE;
      m.next_index = m.seek_index;
      m.last_pts = AV_NOPTS_VALUE;
      m.PassHeldAudio();
    }
    if (pts == AV_NOPTS_VALUE) {
      pts = m.last_pts == AV_NOPTS_VALUE ? 0 : m.last_pts + (f->pkt_duration > 0 ? f->pkt_duration : 1);
    }
    if (m.last_pts != AV_NOPTS_VALUE && pts <= m.last_pts) pts = m.last_pts + 1;
    m.last_pts = pts;
    m.last_duration = f->pkt_duration > 0 ? f->pkt_duration : 0;
    const long index = m.next_index++;
    if (index < m.skip_before) {
      av_frame_unref(f);
      continue;
    }
    out->frame.reset(av_frame_clone(f));
    av_frame_unref(f);
    if (!out->frame) {
      *error = name_ + ": out of memory";
      return -1;
    }
    out->index = index;
    out->pts = pts;
    out->duration = m.last_duration;
    if (out->duration <= 0 && info_.frame_rate.num > 0)  // one frame at the nominal rate
      out->duration = av_rescale_q(1, AVRational{info_.frame_rate.den, info_.frame_rate.num},
                                   ToAv(info_.time_base));
    return 1;
  }
}

bool MediaReader::ReadAudioUntil(std::int64_t video_pts, std::string* error) {
  Impl& m = *impl_;
  if (m.audio < 0 || !m.audio_sink) return true;
  const AVRational video_tb = m.format->streams[m.stream]->time_base;
  const AVRational audio_tb = m.format->streams[m.audio]->time_base;
  for (;;) {
    const int rc = av_read_frame(m.format, m.packet);
    if (rc == AVERROR_EOF) return true;
    if (rc < 0) {
      *error = name_ + ": read error: " + AvError(rc);
      return false;
    }
    bool past = false;
    if (m.packet->stream_index == m.audio) {
      m.audio_sink(m.packet);
      const std::int64_t ts = m.packet->pts != AV_NOPTS_VALUE ? m.packet->pts : m.packet->dts;
      past = ts != AV_NOPTS_VALUE && av_compare_ts(ts, audio_tb, video_pts, video_tb) >= 0;
    }
    av_packet_unref(m.packet);
    if (past) return true;
  }
}

}  // namespace reproject
