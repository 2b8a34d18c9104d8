#include "media_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/spherical.h>
#include <libswresample/swresample.h>
}

#include "media_util.h"
#include "mov_spherical.h"

namespace reproject {
namespace {

const char* const kX26xPresets[] = {"ultrafast", "superfast", "veryfast", "faster", "fast",
                                    "medium",    "slow",      "slower",   "veryslow", "placebo"};

bool IsImageMuxer(const AVOutputFormat* format) {
  return std::strcmp(format->name, "image2") == 0 || std::strcmp(format->name, "image2pipe") == 0;
}

bool IsX26x(const AVCodec* codec) {
  return std::strcmp(codec->name, "libx264") == 0 || std::strcmp(codec->name, "libx265") == 0;
}

// The encoder for a codec: x264 and x265 where they are, else FFmpeg's first.
const AVCodec* EncoderFor(AVCodecID id) {
  const AVCodec* codec = nullptr;
  if (id == AV_CODEC_ID_H264) codec = avcodec_find_encoder_by_name("libx264");
  if (id == AV_CODEC_ID_HEVC) codec = avcodec_find_encoder_by_name("libx265");
  return codec != nullptr ? codec : avcodec_find_encoder(id);
}

AVCodecID PictureCodec(const std::string& path) {
  const AVOutputFormat* image2 = av_guess_format("image2", nullptr, nullptr);
  return av_guess_codec(image2, nullptr, path.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
}

// Whether a container holds a codec: 1 yes, 0 no, -1 it does not say.
int Holds(const AVOutputFormat* format, AVCodecID id) {
  const int answer = avformat_query_codec(format, id, FF_COMPLIANCE_NORMAL);
  return answer < 0 ? -1 : answer;
}

std::string PixelFormatList(const AVCodec* codec) {
  std::string list;
  int shown = 0;
  for (const AVPixelFormat* p = codec->pix_fmts; p != nullptr && *p != AV_PIX_FMT_NONE; ++p) {
    if (shown == 10) {
      list += ", ...";
      break;
    }
    list += std::string(shown++ ? ", " : "") + av_get_pix_fmt_name(*p);
  }
  return list;
}

bool Offers(const AVCodec* codec, AVPixelFormat format) {
  if (codec->pix_fmts == nullptr) return true;
  for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
    if (*p == format) return true;
  return false;
}

// "the mp4 container", for messages.
std::string ContainerName(const AVOutputFormat* format) {
  std::string name = format->name;
  const std::size_t comma = name.find(',');
  return "the " + (comma == std::string::npos ? name : name.substr(0, comma)) + " container";
}

// Tags the writer sets itself, or that describe the input file and not the
// picture (its length, its muxer, a rotation applied while reading).
bool TagKept(const char* key) {
  static const char* const kDropped[] = {"encoder", "major_brand", "minor_version", "compatible_brands",
                                         "rotate", "DURATION", "NUMBER_OF_FRAMES", "NUMBER_OF_BYTES",
                                         "_STATISTICS_WRITING_APP", "_STATISTICS_WRITING_DATE_UTC",
                                         "_STATISTICS_TAGS", "BPS"};
  for (const char* dropped : kDropped)
    if (av_strcasecmp(key, dropped) == 0) return false;
  return true;
}

void CopyTags(const AVDictionary* from, AVDictionary** to) {
  const AVDictionaryEntry* tag = nullptr;
  while ((tag = av_dict_get(from, "", tag, AV_DICT_IGNORE_SUFFIX)) != nullptr)
    if (TagKept(tag->key)) av_dict_set(to, tag->key, tag->value, 0);
}

YuvMatrix MatrixOf(AVColorSpace space) {
  switch (space) {
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: return YuvMatrix::kBt601;
    case AVCOL_SPC_SMPTE240M: return YuvMatrix::kSmpte240;
    case AVCOL_SPC_BT2020_NCL: return YuvMatrix::kBt2020;
    default: return YuvMatrix::kBt709;
  }
}

// The 4:4:4 format of the same depth, for sizes that 4:2:0 cannot take.
AVPixelFormat FullChromaOf(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  if (d == nullptr || (d->log2_chroma_w == 0 && d->log2_chroma_h == 0)) return format;
  return d->comp[0].depth > 8 ? AV_PIX_FMT_YUV444P10 : AV_PIX_FMT_YUV444P;
}

// ------------------------------------------------------------ file output

int WriteToFd(void* opaque, std::uint8_t* data, int size) {
  const int fd = *static_cast<int*>(opaque);
  int left = size;
  while (left > 0) {
    const ssize_t n = write(fd, data, static_cast<std::size_t>(left));
    if (n < 0) {
      if (errno == EINTR) continue;
      return AVERROR(errno);
    }
    data += n;
    left -= static_cast<int>(n);
  }
  return size;
}

std::int64_t SeekFd(void* opaque, std::int64_t offset, int whence) {
  const int fd = *static_cast<int*>(opaque);
  if (whence & AVSEEK_SIZE) {
    struct stat st;
    return fstat(fd, &st) == 0 ? static_cast<std::int64_t>(st.st_size) : AVERROR(errno);
  }
  const off_t at = lseek(fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
}

}  // namespace

bool OutputFormatKnown(const std::string& path, bool* picture) {
  const AVOutputFormat* format = av_guess_format(nullptr, path.c_str(), nullptr);
  if (format == nullptr || format->video_codec == AV_CODEC_ID_NONE) return false;
  if (picture != nullptr) *picture = IsImageMuxer(format);
  return true;
}

bool CheckOutputRequest(const OutputRequest& request, std::string* error) {
  const AVOutputFormat* format = av_guess_format(nullptr, request.path.c_str(), nullptr);
  if (format == nullptr) {
    *error = request.path + ": cannot tell the output format from the extension";
    return false;
  }
  const bool picture = IsImageMuxer(format);
  if (!request.codec.empty()) {
    const AVCodec* codec = avcodec_find_encoder_by_name(request.codec.c_str());
    if (codec == nullptr) {
      *error = "--codec " + request.codec + ": no such encoder (ffmpeg -encoders lists them)";
      return false;
    }
    if (codec->type != AVMEDIA_TYPE_VIDEO) {
      *error = "--codec " + request.codec + ": not a video encoder";
      return false;
    }
    if (picture) {
      const AVCodecID expected = PictureCodec(request.path);
      if (codec->id != expected) {
        const AVCodec* right = EncoderFor(expected);
        *error = "--codec " + request.codec + ": " + request.path + " is a picture file, written by " +
                 (right != nullptr ? right->name : "its own encoder") +
                 "; for another encoder write a video (.mkv, .mp4, ...)";
        return false;
      }
    } else if (Holds(format, codec->id) == 0) {
      *error = "--codec " + request.codec + ": " + ContainerName(format) + " cannot hold " +
               avcodec_get_name(codec->id) + " video";
      return false;
    }
    if (!request.preset.empty() && !IsX26x(codec)) {
      *error = "--preset " + request.preset + ": only libx264 and libx265 take a preset; the encoder is " +
               codec->name;
      return false;
    }
  }
  if (!request.pix_fmt.empty() && av_get_pix_fmt(request.pix_fmt.c_str()) == AV_PIX_FMT_NONE) {
    *error = "--pix-fmt " + request.pix_fmt + ": no such pixel format (ffmpeg -pix_fmts lists them)";
    return false;
  }
  if (!request.preset.empty()) {
    bool known = false;
    for (const char* p : kX26xPresets) known = known || request.preset == p;
    if (!known) {
      *error = "--preset " + request.preset + ": allowed ultrafast, superfast, veryfast, faster, fast, "
               "medium, slow, slower, veryslow, placebo";
      return false;
    }
  }
  if (!request.audio_codec.empty() && request.audio_codec != "copy") {
    const AVCodec* codec = avcodec_find_encoder_by_name(request.audio_codec.c_str());
    if (codec == nullptr || codec->type != AVMEDIA_TYPE_AUDIO) {
      *error = "--audio-codec " + request.audio_codec + ": no such audio encoder (ffmpeg -encoders lists them)";
      return false;
    }
    if (picture) {
      *error = "--audio-codec " + request.audio_codec + ": " + request.path + " is a picture and holds no sound";
      return false;
    }
    if (Holds(format, codec->id) == 0) {
      *error = "--audio-codec " + request.audio_codec + ": " + ContainerName(format) + " cannot hold " +
               avcodec_get_name(codec->id) + " audio";
      return false;
    }
  }
  return true;
}

bool PlanOutput(const OutputRequest& request, const InputInfo& input, const MediaReader& reader,
                OutputPlan* plan, std::string* error) {
  const AVOutputFormat* format = av_guess_format(nullptr, request.path.c_str(), nullptr);
  plan->picture = IsImageMuxer(format);
  std::string first;
  plan->numbered = plan->picture && NumberedName(request.path, 0, &first);
  const AVCodec* codec = nullptr;
  if (!request.codec.empty()) {
    codec = avcodec_find_encoder_by_name(request.codec.c_str());
  } else if (plan->picture) {
    codec = EncoderFor(PictureCodec(request.path));
  } else {
    const AVCodec* hevc = avcodec_find_encoder_by_name("libx265");
    if (input.deep && hevc != nullptr && Holds(format, AV_CODEC_ID_HEVC) != 0) {
      codec = hevc;
      plan->notes.push_back(std::string("the input has more than 8 bits a sample: writing 10-bit H.265 (Main 10); ") +
                            "--codec libx264 for H.264, --pix-fmt yuv420p for 8 bits");
    } else {
      codec = EncoderFor(av_guess_codec(format, nullptr, request.path.c_str(), nullptr, AVMEDIA_TYPE_VIDEO));
    }
  }
  if (codec == nullptr) {
    *error = request.path + ": this FFmpeg has no encoder for " + ContainerName(format);
    return false;
  }
  if (!request.preset.empty() && !IsX26x(codec)) {
    *error = "--preset " + request.preset + ": only libx264 and libx265 take a preset; the encoder is " + codec->name;
    return false;
  }
  plan->codec = codec->name;
  if (!request.pix_fmt.empty()) {
    const AVPixelFormat chosen = av_get_pix_fmt(request.pix_fmt.c_str());
    if (!Offers(codec, chosen)) {
      *error = "--pix-fmt " + request.pix_fmt + ": " + codec->name + " takes " + PixelFormatList(codec);
      return false;
    }
    plan->pix_fmt = chosen;
    plan->pix_fmt_chosen = true;
  } else if (IsX26x(codec)) {
    const AVPixelFormat wanted = input.deep ? AV_PIX_FMT_YUV420P10 : AV_PIX_FMT_YUV420P;
    plan->pix_fmt = Offers(codec, wanted) ? wanted : AV_PIX_FMT_YUV420P;
  } else if (codec->pix_fmts != nullptr) {
    plan->pix_fmt = avcodec_find_best_pix_fmt_of_list(
        codec->pix_fmts, input.deep ? AV_PIX_FMT_RGB48 : AV_PIX_FMT_RGB24, 0, nullptr);
  } else {
    plan->pix_fmt = input.deep ? AV_PIX_FMT_RGB48 : AV_PIX_FMT_RGB24;
  }

  plan->audio.clear();
  const AVStream* audio = reader.audio_stream();
  if (!request.audio || plan->picture || audio == nullptr) return true;
  const AVCodecID in_codec = audio->codecpar->codec_id;
  const std::string in_name = avcodec_get_name(in_codec);
  if (request.audio_codec == "copy") {
    if (Holds(format, in_codec) == 0) {
      *error = "--audio-codec copy: " + ContainerName(format) + " cannot hold the input's " + in_name +
               " audio; name an encoder (e.g. --audio-codec aac)";
      return false;
    }
    plan->audio = "copy";
  } else if (!request.audio_codec.empty()) {
    plan->audio = request.audio_codec;
  } else {
    const int holds = Holds(format, in_codec);
    if (holds == 1 || (holds < 0 && format->audio_codec != AV_CODEC_ID_NONE)) {
      plan->audio = "copy";
    } else {
      const AVCodec* encoder = format->audio_codec != AV_CODEC_ID_NONE ? avcodec_find_encoder(format->audio_codec) : nullptr;
      if (encoder == nullptr) {
        plan->notes.push_back("the audio (" + in_name + ") is left out: " + ContainerName(format) +
                              " cannot hold it");
      } else {
        plan->audio = encoder->name;
        plan->notes.push_back("the audio (" + in_name + ") is re-encoded as " + encoder->name + ": " +
                              ContainerName(format) + " cannot hold it as it is");
      }
    }
  }
  return true;
}

bool PlanPicture(const std::string& path, OutputPlan* plan, std::string* error) {
  const AVCodec* codec = EncoderFor(PictureCodec(path));
  if (codec == nullptr) {
    *error = path + ": no picture encoder for this name";
    return false;
  }
  plan->picture = true;
  plan->codec = codec->name;
  plan->pix_fmt = codec->pix_fmts != nullptr
                      ? avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, AV_PIX_FMT_RGB24, 0, nullptr)
                      : AV_PIX_FMT_RGB24;
  return true;
}

// ------------------------------------------------------------ writer

namespace {

// Audio decoded, resampled to what the encoder takes and encoded again, for
// containers that cannot hold the input's audio as it is.
struct AudioTranscoder {
  AVCodecContext* decoder = nullptr;
  AVCodecContext* encoder = nullptr;
  SwrContext* resampler = nullptr;
  AVAudioFifo* fifo = nullptr;
  AVFrame* decoded = nullptr;
  AVFrame* block = nullptr;
  AVPacket* packet = nullptr;
  std::int64_t next_pts = AV_NOPTS_VALUE;  // in 1 / sample rate

  ~AudioTranscoder() {
    avcodec_free_context(&decoder);
    avcodec_free_context(&encoder);
    swr_free(&resampler);
    if (fifo != nullptr) av_audio_fifo_free(fifo);
    av_frame_free(&decoded);
    av_frame_free(&block);
    av_packet_free(&packet);
  }
};

}  // namespace

struct MediaWriter::Impl {
  AVFormatContext* format = nullptr;
  AVIOContext* io = nullptr;
  int fd = -1;
  AVCodecContext* encoder = nullptr;
  AVStream* video = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  FrameExporter exporter;
  EncodedColour colour;
  bool constant_rate = false;  // the container keeps no times: frames are counted
  std::int64_t frames_written = 0;
  std::string name;  // the output as the user named it, for messages

  bool spherical_box_pending = false;  // a .mov whose 360 tag is added when finished

  AVStream* audio = nullptr;
  AVRational audio_in_time_base{1, 1};
  // In containers that count frames, audio that starts before the first
  // frame (an encoder's priming) is moved to start with it, as such a file
  // has no earlier time to put it at.
  std::int64_t audio_lead = AV_NOPTS_VALUE;
  std::unique_ptr<AudioTranscoder> transcoder;

  ~Impl() {
    if (format != nullptr) avformat_free_context(format);
    if (io != nullptr) {
      av_freep(&io->buffer);
      avio_context_free(&io);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&encoder);
  }

  bool Drain(AVCodecContext* codec, AVStream* stream, AVPacket* p, std::string* error) {
    for (;;) {
      int rc = avcodec_receive_packet(codec, p);
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
      if (rc < 0) {
        *error = name + ": encoding failed: " + AvError(rc);
        return false;
      }
      av_packet_rescale_ts(p, codec->time_base, stream->time_base);
      p->stream_index = stream->index;
      rc = av_interleaved_write_frame(format, p);
      if (rc < 0) {
        *error = name + ": cannot write: " + AvError(rc);
        return false;
      }
    }
  }

  bool OpenTranscoder(const AVStream* in, const std::string& encoder_name, std::string* error);
  bool TakeDecodedAudio(bool flush, std::string* error);
  bool EncodeAudioBlocks(bool flush, std::string* error);
};

bool MediaWriter::Impl::OpenTranscoder(const AVStream* in, const std::string& encoder_name,
                                       std::string* error) {
  transcoder.reset(new AudioTranscoder());
  AudioTranscoder& t = *transcoder;
  const AVCodec* decoder = avcodec_find_decoder(in->codecpar->codec_id);
  const AVCodec* encoder = avcodec_find_encoder_by_name(encoder_name.c_str());
  if (decoder == nullptr || encoder == nullptr) {
    *error = name + ": cannot re-encode the audio (" + avcodec_get_name(in->codecpar->codec_id) + ")";
    return false;
  }
  t.decoder = avcodec_alloc_context3(decoder);
  t.encoder = avcodec_alloc_context3(encoder);
  if (t.decoder == nullptr || t.encoder == nullptr ||
      avcodec_parameters_to_context(t.decoder, in->codecpar) < 0) {
    *error = name + ": out of memory";
    return false;
  }
  t.decoder->pkt_timebase = in->time_base;
  int rc = avcodec_open2(t.decoder, decoder, nullptr);
  if (rc < 0) {
    *error = name + ": cannot decode the audio: " + AvError(rc);
    return false;
  }
  int rate = t.decoder->sample_rate > 0 ? t.decoder->sample_rate : 48000;
  if (encoder->supported_samplerates != nullptr) {
    int best = encoder->supported_samplerates[0];
    for (const int* r = encoder->supported_samplerates; *r != 0; ++r)
      if (*r == rate) best = *r;
    rate = best;
  }
  t.encoder->sample_rate = rate;
  t.encoder->sample_fmt = encoder->sample_fmts != nullptr ? encoder->sample_fmts[0] : t.decoder->sample_fmt;
  if (av_channel_layout_copy(&t.encoder->ch_layout, &t.decoder->ch_layout) < 0 ||
      t.encoder->ch_layout.nb_channels <= 0) {
    av_channel_layout_default(&t.encoder->ch_layout, 2);
  }
  t.encoder->time_base = AVRational{1, rate};
  if (format->oformat->flags & AVFMT_GLOBALHEADER) t.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  rc = avcodec_open2(t.encoder, encoder, nullptr);
  if (rc < 0) {
    *error = name + ": cannot open audio encoder " + encoder->name + ": " + AvError(rc);
    return false;
  }
  rc = swr_alloc_set_opts2(&t.resampler, &t.encoder->ch_layout, t.encoder->sample_fmt, t.encoder->sample_rate,
                           &t.decoder->ch_layout, t.decoder->sample_fmt, t.decoder->sample_rate, 0, nullptr);
  if (rc < 0 || swr_init(t.resampler) < 0) {
    *error = name + ": cannot convert the audio for " + encoder->name;
    return false;
  }
  t.fifo = av_audio_fifo_alloc(t.encoder->sample_fmt, t.encoder->ch_layout.nb_channels, 4096);
  t.decoded = av_frame_alloc();
  t.block = av_frame_alloc();
  t.packet = av_packet_alloc();
  if (t.fifo == nullptr || t.decoded == nullptr || t.block == nullptr || t.packet == nullptr) {
    *error = name + ": out of memory";
    return false;
  }
  audio = avformat_new_stream(format, nullptr);
  if (audio == nullptr || avcodec_parameters_from_context(audio->codecpar, t.encoder) < 0) {
    *error = name + ": out of memory";
    return false;
  }
  audio->time_base = t.encoder->time_base;
  return true;
}

// The decoder's frames, resampled into the queue of samples, then encoded.
bool MediaWriter::Impl::TakeDecodedAudio(bool flush, std::string* error) {
  AudioTranscoder& t = *transcoder;
  for (;;) {
    const int rc = avcodec_receive_frame(t.decoder, t.decoded);
    const bool got_frame = rc == 0;
    if (!got_frame && !flush) break;
    if (got_frame && t.next_pts == AV_NOPTS_VALUE) {
      const std::int64_t start =
          t.decoded->best_effort_timestamp != AV_NOPTS_VALUE ? t.decoded->best_effort_timestamp : 0;
      t.next_pts = av_rescale_q(start, audio_in_time_base, t.encoder->time_base);
    }
    // Without a frame (flushing), what the resampler still holds.
    const int in_samples = got_frame ? t.decoded->nb_samples : 0;
    const int out_samples = swr_get_out_samples(t.resampler, in_samples);
    if (out_samples > 0) {
      std::uint8_t** planes = nullptr;
      if (av_samples_alloc_array_and_samples(&planes, nullptr, t.encoder->ch_layout.nb_channels, out_samples,
                                             t.encoder->sample_fmt, 0) < 0) {
        av_frame_unref(t.decoded);
        *error = name + ": out of memory";
        return false;
      }
      const int converted = swr_convert(
          t.resampler, planes, out_samples,
          got_frame ? const_cast<const std::uint8_t**>(t.decoded->extended_data) : nullptr, in_samples);
      if (converted > 0) av_audio_fifo_write(t.fifo, reinterpret_cast<void**>(planes), converted);
      av_freep(&planes[0]);
      av_freep(&planes);
    }
    av_frame_unref(t.decoded);
    if (!got_frame) break;
    if (!EncodeAudioBlocks(false, error)) return false;
  }
  if (!flush) return true;
  if (t.next_pts == AV_NOPTS_VALUE) t.next_pts = 0;
  return EncodeAudioBlocks(true, error);
}

// Encodes whole blocks of the encoder's frame size from the queue (and, when
// flushing, the rest as a shorter last block, then the encoder's delay).
bool MediaWriter::Impl::EncodeAudioBlocks(bool flush, std::string* error) {
  AudioTranscoder& t = *transcoder;
  const int size = t.encoder->frame_size > 0 ? t.encoder->frame_size : 1024;
  while (av_audio_fifo_size(t.fifo) >= size || (flush && av_audio_fifo_size(t.fifo) > 0)) {
    const int n = std::min(size, av_audio_fifo_size(t.fifo));
    av_frame_unref(t.block);
    t.block->nb_samples = n;
    t.block->format = t.encoder->sample_fmt;
    t.block->sample_rate = t.encoder->sample_rate;
    if (av_channel_layout_copy(&t.block->ch_layout, &t.encoder->ch_layout) < 0 ||
        av_frame_get_buffer(t.block, 0) < 0) {
      *error = name + ": out of memory";
      return false;
    }
    av_audio_fifo_read(t.fifo, reinterpret_cast<void**>(t.block->data), n);
    t.block->pts = t.next_pts;
    t.next_pts += n;
    const int rc = avcodec_send_frame(t.encoder, t.block);
    if (rc < 0) {
      *error = name + ": audio encoding failed: " + AvError(rc);
      return false;
    }
    if (!Drain(t.encoder, audio, t.packet, error)) return false;
  }
  if (flush) {
    avcodec_send_frame(t.encoder, nullptr);
    if (!Drain(t.encoder, audio, t.packet, error)) return false;
  }
  return true;
}

std::unique_ptr<MediaWriter> MediaWriter::Open(const WriterSettings& s, const MediaReader* input,
                                               std::string* error) {
  QuietLibraryLog();
  std::unique_ptr<MediaWriter> writer(new MediaWriter());
  writer->impl_.reset(new Impl());
  Impl& m = *writer->impl_;
  m.name = s.request.path;
  m.fd = s.fd;
  const AVOutputFormat* oformat = s.plan.picture ? av_guess_format("image2pipe", nullptr, nullptr)
                                                 : av_guess_format(nullptr, s.request.path.c_str(), nullptr);
  int rc = avformat_alloc_output_context2(&m.format, oformat, nullptr, nullptr);
  if (rc < 0 || m.format == nullptr) {
    *error = m.name + ": cannot create output: " + AvError(rc);
    return nullptr;
  }
  constexpr int kBufferSize = 1 << 16;
  std::uint8_t* buffer = static_cast<std::uint8_t*>(av_malloc(kBufferSize));
  m.io = buffer != nullptr ? avio_alloc_context(buffer, kBufferSize, 1, &m.fd, nullptr, WriteToFd, SeekFd) : nullptr;
  if (m.io == nullptr) {
    av_free(buffer);
    *error = m.name + ": out of memory";
    return nullptr;
  }
  m.format->pb = m.io;
  m.format->flags |= AVFMT_FLAG_CUSTOM_IO;

  const AVCodec* codec = avcodec_find_encoder_by_name(s.plan.codec.c_str());
  m.encoder = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
  if (m.encoder == nullptr) {
    *error = m.name + ": cannot open encoder " + s.plan.codec;
    return nullptr;
  }
  m.encoder->width = s.w;
  m.encoder->height = s.h;
  m.encoder->sample_aspect_ratio = AVRational{1, 1};
  m.encoder->thread_count = 0;  // as many as the machine has
  // Containers that keep no times (AVI) count frames at the nominal rate.
  m.constant_rate = !s.plan.picture && !(oformat->flags & (AVFMT_VARIABLE_FPS | AVFMT_NOTIMESTAMPS));
  const Rational rate = s.frame_rate.num > 0 ? s.frame_rate : Rational{25, 1};
  m.encoder->time_base = m.constant_rate ? AVRational{rate.den, rate.num} : ToAv(s.time_base);
  if (s.frame_rate.num > 0 || m.constant_rate) m.encoder->framerate = ToAv(rate);

  AVPixelFormat pix = static_cast<AVPixelFormat>(s.plan.pix_fmt);
  if (pix == AV_PIX_FMT_NONE) {
    pix = codec->pix_fmts != nullptr ? avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, AV_PIX_FMT_RGB24, 0, nullptr)
                                     : AV_PIX_FMT_RGB24;
  }
  if (!s.plan.pix_fmt_chosen && ((s.w | s.h) & 1) && Offers(codec, FullChromaOf(pix))) pix = FullChromaOf(pix);
  m.encoder->pix_fmt = pix;
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pix);
  AVCodecParameters* unknown = avcodec_parameters_alloc();
  if (unknown == nullptr) {
    *error = m.name + ": out of memory";
    return nullptr;
  }
  std::unique_ptr<AVCodecParameters, void (*)(AVCodecParameters*)> unknown_owner(
      unknown, [](AVCodecParameters* p) { avcodec_parameters_free(&p); });
  const AVCodecParameters* in = input != nullptr ? input->video_stream()->codecpar : unknown;
  const bool yuv = desc != nullptr && !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3;
  if (yuv) {
    // The input's colour properties where it gives them, else BT.709.
    const bool in_yuv = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(in->format)) != nullptr &&
                        !(av_pix_fmt_desc_get(static_cast<AVPixelFormat>(in->format))->flags & AV_PIX_FMT_FLAG_RGB);
    m.colour.matrix = MatrixOf(in->color_space);
    m.encoder->colorspace = in->color_space != AVCOL_SPC_UNSPECIFIED && in->color_space != AVCOL_SPC_RGB
                                ? in->color_space : AVCOL_SPC_BT709;
    m.colour.matrix = MatrixOf(m.encoder->colorspace);
    m.encoder->color_primaries = in->color_primaries != AVCOL_PRI_UNSPECIFIED ? in->color_primaries : AVCOL_PRI_BT709;
    m.encoder->color_trc = in->color_trc != AVCOL_TRC_UNSPECIFIED ? in->color_trc : AVCOL_TRC_BT709;
    const bool jpeg_format = pix == AV_PIX_FMT_YUVJ420P || pix == AV_PIX_FMT_YUVJ422P || pix == AV_PIX_FMT_YUVJ444P;
    m.colour.full_range = jpeg_format || (in_yuv && in->color_range == AVCOL_RANGE_JPEG);
    m.encoder->color_range = m.colour.full_range ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    if (desc->log2_chroma_w == 1) m.encoder->chroma_sample_location = jpeg_format ? AVCHROMA_LOC_CENTER : AVCHROMA_LOC_LEFT;
  }
  if (oformat->flags & AVFMT_GLOBALHEADER) m.encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  if (IsX26x(codec)) {
    if (s.request.bitrate <= 0) av_dict_set_int(&options, "crf", s.request.crf, 0);
    av_dict_set(&options, "preset", s.request.preset.empty() ? "medium" : s.request.preset.c_str(), 0);
    if (std::strcmp(codec->name, "libx265") == 0)
      av_dict_set(&options, "x265-params", s.request.quiet ? "log-level=none" : "log-level=error", 0);
  } else if (codec->id == AV_CODEC_ID_MJPEG && s.request.bitrate <= 0) {
    m.encoder->flags |= AV_CODEC_FLAG_QSCALE;
    m.encoder->global_quality = FF_QP2LAMBDA * 2;
  }
  if (s.request.bitrate > 0) m.encoder->bit_rate = s.request.bitrate;
  rc = avcodec_open2(m.encoder, codec, &options);
  av_dict_free(&options);
  if (rc < 0) {
    *error = m.name + ": cannot open encoder " + codec->name + " (" + av_get_pix_fmt_name(pix) + ", " +
             std::to_string(s.w) + "x" + std::to_string(s.h) + "): " + AvError(rc);
    return nullptr;
  }
  m.video = avformat_new_stream(m.format, nullptr);
  if (m.video == nullptr || avcodec_parameters_from_context(m.video->codecpar, m.encoder) < 0) {
    *error = m.name + ": out of memory";
    return nullptr;
  }
  m.video->time_base = m.encoder->time_base;
  if (s.frame_rate.num > 0 || m.constant_rate) m.video->avg_frame_rate = ToAv(rate);
  m.video->sample_aspect_ratio = AVRational{1, 1};

  if (!s.plan.picture && input != nullptr) {
    CopyTags(input->container()->metadata, &m.format->metadata);
    CopyTags(input->video_stream()->metadata, &m.video->metadata);
  }
  if (!s.plan.picture) {
    if (s.equirectangular) {
      std::size_t size = 0;
      AVSphericalMapping* mapping = av_spherical_alloc(&size);
      if (mapping == nullptr) {
        *error = m.name + ": out of memory";
        return nullptr;
      }
      mapping->projection = AV_SPHERICAL_EQUIRECTANGULAR;
      if (av_stream_add_side_data(m.video, AV_PKT_DATA_SPHERICAL, reinterpret_cast<std::uint8_t*>(mapping),
                                  size) < 0) {
        av_free(mapping);
        *error = m.name + ": out of memory";
        return nullptr;
      }
      // The MP4 muxer writes its spherical boxes only below the usual
      // strictness (they are a published extension, not ISO's own); for a
      // .mov they are added to the finished file.
      m.format->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
      m.spherical_box_pending = std::strcmp(oformat->name, "mov") == 0;
    }
  }

  const AVStream* audio_in = input != nullptr ? input->audio_stream() : nullptr;
  if (!s.plan.audio.empty() && audio_in != nullptr) {
    m.audio_in_time_base = audio_in->time_base;
    if (s.plan.audio == "copy") {
      m.audio = avformat_new_stream(m.format, nullptr);
      if (m.audio == nullptr || avcodec_parameters_copy(m.audio->codecpar, audio_in->codecpar) < 0) {
        *error = m.name + ": out of memory";
        return nullptr;
      }
      m.audio->codecpar->codec_tag = 0;
      m.audio->time_base = audio_in->time_base;
    } else if (!m.OpenTranscoder(audio_in, s.plan.audio, error)) {
      return nullptr;
    }
    CopyTags(audio_in->metadata, &m.audio->metadata);
  }

  rc = avformat_write_header(m.format, nullptr);
  if (rc < 0) {
    *error = m.name + ": cannot write the header: " + AvError(rc);
    return nullptr;
  }
  m.frame = av_frame_alloc();
  m.packet = av_packet_alloc();
  if (m.frame == nullptr || m.packet == nullptr) {
    *error = m.name + ": out of memory";
    return nullptr;
  }
  m.frame->format = pix;
  m.frame->width = s.w;
  m.frame->height = s.h;
  m.frame->chroma_location = m.encoder->chroma_sample_location;
  if (av_frame_get_buffer(m.frame, 0) < 0) {
    *error = m.name + ": out of memory";
    return nullptr;
  }
  return writer;
}

MediaWriter::~MediaWriter() = default;

bool MediaWriter::WriteVideo(const PIXEL_YC* yc, int stride, std::int64_t pts, std::string* error) {
  Impl& m = *impl_;
  if (av_frame_make_writable(m.frame) < 0) {
    *error = m.name + ": out of memory";
    return false;
  }
  if (!m.exporter.FromYc48(yc, stride, m.colour, m.frame, error)) {
    *error = m.name + ": " + *error;
    return false;
  }
  m.frame->pts = m.constant_rate ? m.frames_written : pts;
  const int rc = avcodec_send_frame(m.encoder, m.frame);
  if (rc < 0) {
    *error = m.name + ": encoding failed: " + AvError(rc);
    return false;
  }
  ++m.frames_written;
  return m.Drain(m.encoder, m.video, m.packet, error);
}

bool MediaWriter::WriteAudio(const AVPacket* packet, std::int64_t shift, std::string* error) {
  Impl& m = *impl_;
  if (m.audio == nullptr) return true;
  AVPacket* p = av_packet_clone(packet);
  if (p == nullptr) {
    *error = m.name + ": out of memory";
    return false;
  }
  if (p->pts != AV_NOPTS_VALUE) p->pts -= shift;
  if (p->dts != AV_NOPTS_VALUE) p->dts -= shift;
  if (m.constant_rate) {
    if (m.audio_lead == AV_NOPTS_VALUE) {
      const std::int64_t first = p->dts != AV_NOPTS_VALUE ? p->dts : p->pts;
      m.audio_lead = first != AV_NOPTS_VALUE && first < 0 ? -first : 0;
    }
    if (p->pts != AV_NOPTS_VALUE) p->pts += m.audio_lead;
    if (p->dts != AV_NOPTS_VALUE) p->dts += m.audio_lead;
  }
  int rc = 0;
  if (!m.transcoder) {
    av_packet_rescale_ts(p, m.audio_in_time_base, m.audio->time_base);
    p->stream_index = m.audio->index;
    p->pos = -1;
    rc = av_interleaved_write_frame(m.format, p);
    av_packet_free(&p);
    if (rc < 0) {
      *error = m.name + ": cannot write audio: " + AvError(rc);
      return false;
    }
    return true;
  }
  rc = avcodec_send_packet(m.transcoder->decoder, p);
  av_packet_free(&p);
  if (rc < 0 && rc != AVERROR(EAGAIN) && rc != AVERROR_INVALIDDATA) {
    *error = m.name + ": cannot decode the audio: " + AvError(rc);
    return false;
  }
  return m.TakeDecodedAudio(false, error);
}

bool MediaWriter::Finish(std::string* error) {
  Impl& m = *impl_;
  int rc = avcodec_send_frame(m.encoder, nullptr);
  if (rc < 0 && rc != AVERROR_EOF) {
    *error = m.name + ": encoding failed: " + AvError(rc);
    return false;
  }
  if (!m.Drain(m.encoder, m.video, m.packet, error)) return false;
  if (m.transcoder) {
    avcodec_send_packet(m.transcoder->decoder, nullptr);
    if (!m.TakeDecodedAudio(true, error)) return false;
  }
  rc = av_write_trailer(m.format);
  if (rc < 0) {
    *error = m.name + ": cannot finish the file: " + AvError(rc);
    return false;
  }
  avio_flush(m.io);
  if (m.io->error < 0) {
    *error = m.name + ": cannot write: " + AvError(m.io->error);
    return false;
  }
  if (m.spherical_box_pending && !AddEquirectangularBox(m.fd, error)) {
    *error = m.name + ": cannot add the 360 tag: " + *error;
    return false;
  }
  return true;
}

}  // namespace reproject
