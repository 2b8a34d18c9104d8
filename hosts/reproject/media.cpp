#include "media.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace reproject {
namespace {

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {0};
  av_strerror(code, text, sizeof(text));
  return text;
}

AVRational ToAv(Rational r) { return AVRational{r.num, r.den}; }
Rational FromAv(AVRational r) { return Rational{r.num, r.den}; }

bool IsImageMuxer(const AVOutputFormat* format) {
  return std::strcmp(format->name, "image2") == 0 || std::strcmp(format->name, "image2pipe") == 0;
}

// The colour matrix of a decoded frame: what the file says, else the usual
// guess by size (BT.601 below 720 lines, BT.709 from there on).
int InputColourspace(const AVFrame* f) {
  switch (f->colorspace) {
    case AVCOL_SPC_BT709: return SWS_CS_ITU709;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return SWS_CS_ITU601;
    case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
    default: return f->height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
  }
}

}  // namespace

bool OutputFormatKnown(const std::string& path, bool* single_image) {
  const AVOutputFormat* format = av_guess_format(nullptr, path.c_str(), nullptr);
  if (format == nullptr || format->video_codec == AV_CODEC_ID_NONE) return false;
  if (single_image != nullptr) *single_image = IsImageMuxer(format);
  return true;
}

// ---------------------------------------------------------------- reading

struct MediaReader::Impl {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  SwsContext* sws = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  bool draining = false;
  bool finished = false;
  long next_index = 0;
  std::int64_t last_pts = AV_NOPTS_VALUE;
  std::int64_t last_duration = 0;  // of the last frame, in the stream's time base

  ~Impl() {
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
  }
};

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

std::unique_ptr<MediaReader> MediaReader::Open(const std::string& path, std::string* error) {
  av_log_set_level(AV_LOG_QUIET);
  std::unique_ptr<MediaReader> reader(new MediaReader());
  reader->impl_.reset(new Impl());
  reader->path_ = path;
  Impl& m = *reader->impl_;
  int rc = avformat_open_input(&m.format, path.c_str(), nullptr, nullptr);
  if (rc < 0) {
    *error = path + ": cannot read input: " + AvError(rc);
    return nullptr;
  }
  rc = avformat_find_stream_info(m.format, nullptr);
  if (rc < 0) {
    *error = path + ": cannot read input: " + AvError(rc);
    return nullptr;
  }
  const AVCodec* codec = nullptr;
  m.stream = av_find_best_stream(m.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (m.stream < 0 || codec == nullptr) {
    *error = path + ": no picture or video stream that can be decoded";
    return nullptr;
  }
  AVStream* st = m.format->streams[m.stream];
  m.decoder = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(m.decoder, st->codecpar);
  m.decoder->pkt_timebase = st->time_base;
  rc = avcodec_open2(m.decoder, codec, nullptr);
  if (rc < 0) {
    *error = path + ": cannot open decoder " + codec->name + ": " + AvError(rc);
    return nullptr;
  }
  if (st->codecpar->width <= 0 || st->codecpar->height <= 0) {
    *error = path + ": the picture size is unknown (corrupt file?)";
    return nullptr;
  }
  m.packet = av_packet_alloc();
  m.frame = av_frame_alloc();
  reader->width_ = st->codecpar->width;
  reader->height_ = st->codecpar->height;
  reader->time_base_ = FromAv(st->time_base);
  AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
  reader->frame_rate_ = rate.num > 0 && rate.den > 0 ? FromAv(rate) : Rational{0, 1};
  reader->frame_count_ = st->nb_frames > 0 ? static_cast<long>(st->nb_frames) : 0;
  const std::string demuxer = m.format->iformat->name;
  reader->still_ = demuxer.find("image2") != std::string::npos ||
                   demuxer.find("_pipe") != std::string::npos;
  if (reader->still_) reader->frame_count_ = 1;
  if (reader->frame_count_ == 0 && m.format->duration > 0 && rate.num > 0) {
    reader->frame_count_ = static_cast<long>(
        av_rescale_q(m.format->duration, AV_TIME_BASE_Q, av_inv_q(rate)));
  }
  reader->audio_stream_ = av_find_best_stream(m.format, AVMEDIA_TYPE_AUDIO, -1, m.stream, nullptr, 0);
  if (reader->audio_stream_ < 0) reader->audio_stream_ = -1;
  // Only the picture stream is demuxed here; the audio is copied through an
  // input of its own (see MediaWriter), so nothing queues up.
  for (unsigned i = 0; i < m.format->nb_streams; ++i)
    if (static_cast<int>(i) != m.stream) m.format->streams[i]->discard = AVDISCARD_ALL;
  return reader;
}

MediaReader::~MediaReader() = default;

int MediaReader::Next(RgbFrame* out, std::string* error) {
  Impl& m = *impl_;
  if (m.finished) return 0;
  for (;;) {
    int rc = avcodec_receive_frame(m.decoder, m.frame);
    if (rc == 0) break;
    if (rc == AVERROR_EOF) {
      m.finished = true;
      if (m.next_index == 0) {
        *error = path_ + ": no frame could be decoded (truncated or corrupt file?)";
        return -1;
      }
      if (!still_ && frame_count_ > 0 && m.format->streams[m.stream]->nb_frames > 0 &&
          m.next_index < frame_count_) {
        *error = path_ + ": input ends after " + std::to_string(m.next_index) + " of " +
                 std::to_string(frame_count_) + " frames (truncated file?)";
        return -1;
      }
      // Containers without a frame count (Matroska): the last frame must
      // reach the end the file declares, give or take half a second or two
      // frames, or the file was cut short.
      if (!still_) {
        const AVStream* st = m.format->streams[m.stream];
        const double declared = DeclaredVideoEnd(m.format, st);
        if (declared > 0.0 && m.last_pts != AV_NOPTS_VALUE) {
          const std::int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
          const double tb = av_q2d(st->time_base);
          const double reached = (m.last_pts - start + m.last_duration) * tb;
          const double frame = frame_rate_.num > 0
                                   ? static_cast<double>(frame_rate_.den) / frame_rate_.num
                                   : 0.0;
          const double slack = std::max(0.5, 2.0 * frame);
          if (reached + slack < declared) {
            char text[160];
            std::snprintf(text, sizeof(text),
                          ": input ends at %.2f s of the %.2f s it declares (truncated file?)",
                          reached, declared);
            *error = path_ + text;
            return -1;
          }
        }
      }
      return 0;
    }
    if (rc != AVERROR(EAGAIN)) {
      *error = path_ + ": cannot decode frame " + std::to_string(m.next_index) + ": " + AvError(rc);
      return -1;
    }
    if (m.draining) {
      *error = path_ + ": decoder stalled";
      return -1;
    }
    rc = av_read_frame(m.format, m.packet);
    if (rc == AVERROR_EOF) {
      m.draining = true;
      avcodec_send_packet(m.decoder, nullptr);
      continue;
    }
    if (rc < 0) {
      *error = path_ + ": read error at frame " + std::to_string(m.next_index) + ": " + AvError(rc);
      return -1;
    }
    if (m.packet->stream_index == m.stream) {
      rc = avcodec_send_packet(m.decoder, m.packet);
      if (rc < 0 && rc != AVERROR(EAGAIN)) {
        av_packet_unref(m.packet);
        *error = path_ + ": cannot decode frame " + std::to_string(m.next_index) + ": " +
                 AvError(rc) + " (corrupt file?)";
        return -1;
      }
    }
    av_packet_unref(m.packet);
  }
  AVFrame* f = m.frame;
  if (f->decode_error_flags != 0 || (f->flags & AV_FRAME_FLAG_CORRUPT)) {
    *error = path_ + ": frame " + std::to_string(m.next_index) + " is corrupt";
    av_frame_unref(f);
    return -1;
  }
  m.sws = sws_getCachedContext(m.sws, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                               f->width, f->height, AV_PIX_FMT_RGB24,
                               SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                               nullptr, nullptr);
  if (m.sws == nullptr) {
    *error = path_ + ": cannot convert pixel format " +
             (av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format))
                  ? av_get_pix_fmt_name(static_cast<AVPixelFormat>(f->format))
                  : "unknown") + " to RGB";
    av_frame_unref(f);
    return -1;
  }
  {
    int* inv_table = nullptr;
    int* table = nullptr;
    int src_range = 0, dst_range = 0, brightness = 0, contrast = 0, saturation = 0;
    if (sws_getColorspaceDetails(m.sws, &inv_table, &src_range, &table, &dst_range, &brightness,
                                 &contrast, &saturation) >= 0) {
      src_range = f->color_range == AVCOL_RANGE_JPEG ? 1 : src_range;
      sws_setColorspaceDetails(m.sws, sws_getCoefficients(InputColourspace(f)), src_range, table,
                               1, brightness, contrast, saturation);
    }
  }
  out->w = f->width;
  out->h = f->height;
  out->rgb.resize(static_cast<size_t>(3) * f->width * f->height);
  std::uint8_t* dst[4] = {out->rgb.data(), nullptr, nullptr, nullptr};
  int dst_stride[4] = {3 * f->width, 0, 0, 0};
  sws_scale(m.sws, f->data, f->linesize, 0, f->height, dst, dst_stride);
  std::int64_t pts = f->best_effort_timestamp;
  if (pts == AV_NOPTS_VALUE) {
    pts = m.last_pts == AV_NOPTS_VALUE ? 0 : m.last_pts + (f->pkt_duration > 0 ? f->pkt_duration : 1);
  }
  if (m.last_pts != AV_NOPTS_VALUE && pts <= m.last_pts) pts = m.last_pts + 1;
  m.last_pts = pts;
  m.last_duration = f->pkt_duration > 0 ? f->pkt_duration : 0;
  out->pts = pts;
  out->duration = f->pkt_duration;
  if (out->duration <= 0 && frame_rate_.num > 0)  // one frame at the nominal rate
    out->duration = av_rescale_q(1, AVRational{frame_rate_.den, frame_rate_.num}, ToAv(time_base_));
  out->index = m.next_index++;
  av_frame_unref(f);
  return 1;
}

// ---------------------------------------------------------------- writing

struct MediaWriter::Impl {
  AVFormatContext* format = nullptr;
  AVCodecContext* encoder = nullptr;
  SwsContext* sws = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  AVStream* video = nullptr;
  bool header_written = false;
  int frames_written = 0;
  int w = 0, h = 0;
  AVRational in_time_base{1, 25};
  std::string name;  // the output file as the user named it, for messages

  // Audio copied from its own input, packet by packet.
  AVFormatContext* audio_in = nullptr;
  int audio_in_stream = -1;
  AVStream* audio = nullptr;
  AVPacket* audio_packet = nullptr;
  bool audio_pending = false;  // audio_packet holds a packet not yet written
  bool audio_done = true;
  std::int64_t audio_start = 0;  // in the audio input's time base

  ~Impl() {
    if (format != nullptr) {
      if (format->pb != nullptr && !(format->oformat->flags & AVFMT_NOFILE)) avio_closep(&format->pb);
      avformat_free_context(format);
    }
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    av_packet_free(&audio_packet);
    avcodec_free_context(&encoder);
    avformat_close_input(&audio_in);
  }

  bool Drain(std::string* error, const std::string& path) {
    for (;;) {
      int rc = avcodec_receive_packet(encoder, packet);
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
      if (rc < 0) {
        *error = path + ": encoding failed: " + AvError(rc);
        return false;
      }
      av_packet_rescale_ts(packet, encoder->time_base, video->time_base);
      packet->stream_index = video->index;
      rc = av_interleaved_write_frame(format, packet);
      if (rc < 0) {
        *error = path + ": cannot write: " + AvError(rc);
        return false;
      }
    }
  }

  // Copies audio packets whose start lies before `until` (in the video time
  // base of the caller; AV_NOPTS_VALUE: everything).
  bool CopyAudio(std::int64_t until, std::string* error, const std::string& path) {
    if (audio == nullptr || audio_done) return true;
    AVRational in_tb = audio_in->streams[audio_in_stream]->time_base;
    for (;;) {
      if (!audio_pending) {
        int rc = av_read_frame(audio_in, audio_packet);
        if (rc < 0) {
          audio_done = true;
          return true;
        }
        if (audio_packet->stream_index != audio_in_stream) {
          av_packet_unref(audio_packet);
          continue;
        }
        audio_pending = true;
      }
      std::int64_t ts = audio_packet->pts != AV_NOPTS_VALUE ? audio_packet->pts : audio_packet->dts;
      if (ts != AV_NOPTS_VALUE && ts < audio_start) {  // before the selected range
        av_packet_unref(audio_packet);
        audio_pending = false;
        continue;
      }
      if (until != AV_NOPTS_VALUE && ts != AV_NOPTS_VALUE &&
          av_compare_ts(ts - audio_start, in_tb, until, in_time_base) >= 0) {
        return true;  // keep it for later
      }
      if (audio_packet->pts != AV_NOPTS_VALUE) audio_packet->pts -= audio_start;
      if (audio_packet->dts != AV_NOPTS_VALUE) audio_packet->dts -= audio_start;
      av_packet_rescale_ts(audio_packet, in_tb, audio->time_base);
      audio_packet->stream_index = audio->index;
      audio_packet->pos = -1;
      int rc = av_interleaved_write_frame(format, audio_packet);
      audio_pending = false;
      if (rc < 0) {
        *error = path + ": cannot write audio: " + AvError(rc);
        return false;
      }
    }
  }
};

std::unique_ptr<MediaWriter> MediaWriter::Open(const WriterSettings& s,
                                               const MediaReader* audio_source,
                                               std::int64_t audio_start_pts, std::string* error) {
  std::unique_ptr<MediaWriter> writer(new MediaWriter());
  writer->impl_.reset(new Impl());
  Impl& m = *writer->impl_;
  const std::string& name = s.format_path;
  const AVOutputFormat* oformat = av_guess_format(nullptr, s.format_path.c_str(), nullptr);
  if (oformat == nullptr) {
    *error = name + ": cannot tell the output format from the file name";
    return nullptr;
  }
  writer->single_image_ = IsImageMuxer(oformat);
  int rc = avformat_alloc_output_context2(&m.format, oformat, nullptr, s.path.c_str());
  if (rc < 0 || m.format == nullptr) {
    *error = name + ": cannot create output: " + AvError(rc);
    return nullptr;
  }
  const AVCodec* codec = nullptr;
  if (!s.codec.empty()) {
    codec = avcodec_find_encoder_by_name(s.codec.c_str());
    if (codec == nullptr || codec->type != AVMEDIA_TYPE_VIDEO) {
      *error = "--codec " + s.codec + ": no such video encoder";
      return nullptr;
    }
  } else {
    AVCodecID id = av_guess_codec(oformat, nullptr, s.format_path.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
    if (id == AV_CODEC_ID_H264) codec = avcodec_find_encoder_by_name("libx264");
    if (codec == nullptr) codec = avcodec_find_encoder(id);
    if (codec == nullptr) {
      *error = name + ": no encoder for the format '" + oformat->name + "'";
      return nullptr;
    }
  }
  m.encoder = avcodec_alloc_context3(codec);
  m.name = name;
  m.w = s.w;
  m.h = s.h;
  m.in_time_base = ToAv(s.time_base);
  m.encoder->width = s.w;
  m.encoder->height = s.h;
  m.encoder->time_base = ToAv(s.time_base);
  if (s.frame_rate.num > 0) m.encoder->framerate = ToAv(s.frame_rate);
  m.encoder->sample_aspect_ratio = AVRational{1, 1};
  // Pixel format: RGB where the encoder takes it (PNG, TIFF, FFV1 ...), else
  // the nearest YUV; for H.264/H.265 4:2:0 when the size allows, which every
  // player decodes.
  AVPixelFormat pix = AV_PIX_FMT_RGB24;
  const bool is_x26x = std::strcmp(codec->name, "libx264") == 0 || std::strcmp(codec->name, "libx265") == 0;
  if (codec->pix_fmts != nullptr) {
    pix = avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, AV_PIX_FMT_RGB24, 0, nullptr);
    if (is_x26x && s.w % 2 == 0 && s.h % 2 == 0) pix = AV_PIX_FMT_YUV420P;
  }
  m.encoder->pix_fmt = pix;
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pix);
  const bool yuv = desc != nullptr && !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3;
  if (yuv) {
    m.encoder->colorspace = AVCOL_SPC_BT709;
    m.encoder->color_primaries = AVCOL_PRI_BT709;
    m.encoder->color_trc = AVCOL_TRC_BT709;
    m.encoder->color_range = (pix == AV_PIX_FMT_YUVJ420P || pix == AV_PIX_FMT_YUVJ422P ||
                              pix == AV_PIX_FMT_YUVJ444P)
                                 ? AVCOL_RANGE_JPEG
                                 : AVCOL_RANGE_MPEG;
  }
  if (oformat->flags & AVFMT_GLOBALHEADER) m.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  if (is_x26x) {
    av_dict_set_int(&options, "crf", s.crf, 0);
    av_dict_set(&options, "preset", "medium", 0);
  } else if (codec->id == AV_CODEC_ID_MJPEG) {
    m.encoder->flags |= AV_CODEC_FLAG_QSCALE;
    m.encoder->global_quality = FF_QP2LAMBDA * 2;
  }
  rc = avcodec_open2(m.encoder, codec, &options);
  av_dict_free(&options);
  if (rc < 0) {
    *error = name + ": cannot open encoder " + codec->name + ": " + AvError(rc);
    return nullptr;
  }
  m.video = avformat_new_stream(m.format, nullptr);
  avcodec_parameters_from_context(m.video->codecpar, m.encoder);
  m.video->time_base = m.encoder->time_base;
  if (s.frame_rate.num > 0) m.video->avg_frame_rate = ToAv(s.frame_rate);
  m.video->sample_aspect_ratio = AVRational{1, 1};

  if (audio_source != nullptr && audio_source->has_audio() && s.copy_audio && !writer->single_image_) {
    const AVStream* ast = audio_source->impl_->format->streams[audio_source->audio_stream_];
    const int supported = avformat_query_codec(oformat, ast->codecpar->codec_id, FF_COMPLIANCE_NORMAL);
    if (supported == 1 || (supported < 0 && oformat->audio_codec != AV_CODEC_ID_NONE)) {
      rc = avformat_open_input(&m.audio_in, audio_source->path().c_str(), nullptr, nullptr);
      if (rc >= 0) rc = avformat_find_stream_info(m.audio_in, nullptr);
      if (rc < 0) {
        *error = audio_source->path() + ": cannot read the audio: " + AvError(rc);
        return nullptr;
      }
      m.audio_in_stream = audio_source->audio_stream_;
      const AVStream* in = m.audio_in->streams[m.audio_in_stream];
      for (unsigned i = 0; i < m.audio_in->nb_streams; ++i)
        if (static_cast<int>(i) != m.audio_in_stream) m.audio_in->streams[i]->discard = AVDISCARD_ALL;
      m.audio = avformat_new_stream(m.format, nullptr);
      avcodec_parameters_copy(m.audio->codecpar, in->codecpar);
      m.audio->codecpar->codec_tag = 0;
      m.audio->time_base = in->time_base;
      m.audio_packet = av_packet_alloc();
      m.audio_done = false;
      m.audio_start = av_rescale_q(audio_start_pts, ToAv(audio_source->time_base()), in->time_base);
    } else {
      writer->audio_note_ = "the audio stream (" +
                            std::string(avcodec_get_name(ast->codecpar->codec_id)) +
                            ") is not copied: the output format does not take it";
    }
  }

  if (!(oformat->flags & AVFMT_NOFILE)) {
    rc = avio_open(&m.format->pb, s.path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
      *error = name + ": cannot write: " + AvError(rc);
      return nullptr;
    }
  }
  AVDictionary* mux_options = nullptr;
  if (writer->single_image_) av_dict_set(&mux_options, "update", "1", 0);
  rc = avformat_write_header(m.format, &mux_options);
  av_dict_free(&mux_options);
  if (rc < 0) {
    *error = name + ": cannot write the header: " + AvError(rc);
    return nullptr;
  }
  m.header_written = true;
  m.frame = av_frame_alloc();
  m.frame->format = pix;
  m.frame->width = s.w;
  m.frame->height = s.h;
  if (av_frame_get_buffer(m.frame, 0) < 0) {
    *error = name + ": out of memory";
    return nullptr;
  }
  m.packet = av_packet_alloc();
  m.sws = sws_getContext(s.w, s.h, AV_PIX_FMT_RGB24, s.w, s.h, pix,
                         SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
  if (m.sws == nullptr) {
    *error = name + ": cannot convert RGB to " + av_get_pix_fmt_name(pix);
    return nullptr;
  }
  if (yuv) {
    sws_setColorspaceDetails(m.sws, sws_getCoefficients(SWS_CS_ITU709), 1,
                             sws_getCoefficients(SWS_CS_ITU709),
                             m.encoder->color_range == AVCOL_RANGE_JPEG ? 1 : 0, 0, 1 << 16, 1 << 16);
  }
  return writer;
}

MediaWriter::~MediaWriter() = default;

bool MediaWriter::Write(const std::uint8_t* rgb, std::int64_t pts, std::int64_t duration,
                        std::string* error) {
  Impl& m = *impl_;
  if (av_frame_make_writable(m.frame) < 0) {
    *error = "out of memory";
    return false;
  }
  const std::uint8_t* src[4] = {rgb, nullptr, nullptr, nullptr};
  const int src_stride[4] = {3 * m.w, 0, 0, 0};
  sws_scale(m.sws, src, src_stride, 0, m.h, m.frame->data, m.frame->linesize);
  m.frame->pts = pts;
  int rc = avcodec_send_frame(m.encoder, m.frame);
  if (rc < 0) {
    *error = m.name + ": encoding failed: " + AvError(rc);
    return false;
  }
  ++m.frames_written;
  if (!m.Drain(error, m.name)) return false;
  return m.CopyAudio(pts + (duration > 0 ? duration : 1), error, m.name);
}

bool MediaWriter::Finish(std::int64_t end_pts, std::string* error) {
  Impl& m = *impl_;
  int rc = avcodec_send_frame(m.encoder, nullptr);
  if (rc < 0 && rc != AVERROR_EOF) {
    *error = m.name + ": encoding failed: " + AvError(rc);
    return false;
  }
  if (!m.Drain(error, m.name)) return false;
  if (!m.CopyAudio(end_pts < 0 ? AV_NOPTS_VALUE : end_pts, error, m.name)) return false;
  rc = av_write_trailer(m.format);
  if (rc < 0) {
    *error = m.name + ": cannot finish the file: " + AvError(rc);
    return false;
  }
  if (m.format->pb != nullptr && !(m.format->oformat->flags & AVFMT_NOFILE)) {
    rc = avio_closep(&m.format->pb);
    if (rc < 0) {
      *error = m.name + ": cannot write: " + AvError(rc);
      return false;
    }
  }
  return true;
}

}  // namespace reproject
