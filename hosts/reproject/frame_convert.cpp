#include "frame_convert.h"

#include <algorithm>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "colour.h"

namespace reproject {
namespace {

const AVPixFmtDescriptor* Describe(int pix_fmt) {
  return av_pix_fmt_desc_get(static_cast<AVPixelFormat>(pix_fmt));
}

bool Unusual(const AVPixFmtDescriptor* d) {
  return (d->flags & (AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL |
                      AV_PIX_FMT_FLAG_FLOAT)) != 0;
}

bool NativeEndian(const AVPixFmtDescriptor* d) {
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return (d->flags & AV_PIX_FMT_FLAG_BE) != 0 || d->comp[0].depth <= 8;
#else
  return (d->flags & AV_PIX_FMT_FLAG_BE) == 0 || d->comp[0].depth <= 8;
#endif
}

// Three planes Y, Cb, Cr of whole samples (bytes up to 8 bits, native 16-bit
// words from 9 to 16), chroma subsampled by at most 2 either way.
bool IsPlanarYuv(const AVPixFmtDescriptor* d) {
  if (d == nullptr || Unusual(d) || (d->flags & AV_PIX_FMT_FLAG_RGB) || d->nb_components < 3) return false;
  if (d->log2_chroma_w > 1 || d->log2_chroma_h > 1 || !NativeEndian(d)) return false;
  const int depth = d->comp[0].depth;
  if (depth < 8 || depth > 16) return false;
  for (int c = 0; c < 3; ++c) {
    const AVComponentDescriptor& comp = d->comp[c];
    if (comp.plane != c || comp.offset != 0 || comp.shift != 0 || comp.depth != depth ||
        comp.step != (depth > 8 ? 2 : 1))
      return false;
  }
  return true;
}

// RGB (packed or planar) or grey, each sample within one byte or one 16-bit
// word, no subsampling.
bool IsDirectRgb(const AVPixFmtDescriptor* d) {
  if (d == nullptr || Unusual(d) || d->log2_chroma_w != 0 || d->log2_chroma_h != 0) return false;
  const bool rgb = (d->flags & AV_PIX_FMT_FLAG_RGB) != 0;
  if (!rgb && d->nb_components > 2) return false;
  const int colours = rgb ? 3 : 1;
  for (int c = 0; c < colours; ++c) {
    const AVComponentDescriptor& comp = d->comp[c];
    if (comp.depth < 1 || comp.depth + comp.shift > 16) return false;
    if (comp.depth + comp.shift > 8 && comp.step % 2 != 0) return false;
  }
  return true;
}

int DepthOf(const AVPixFmtDescriptor* d) {
  int depth = 0;
  for (int c = 0; c < d->nb_components; ++c) depth = std::max(depth, d->comp[c].depth);
  return depth;
}

// One component of one row as integers.
void ReadComponent(const AVPixFmtDescriptor* d, int c, const std::uint8_t* const* data,
                   const int* linesize, int row, int w, std::int32_t* out) {
  const AVComponentDescriptor& comp = d->comp[c];
  const std::uint8_t* p = data[comp.plane] + static_cast<std::ptrdiff_t>(row) * linesize[comp.plane] + comp.offset;
  const int step = comp.step;
  const int mask = (1 << comp.depth) - 1;
  if (comp.depth + comp.shift <= 8) {
    for (int x = 0; x < w; ++x) out[x] = (p[x * step] >> comp.shift) & mask;
  } else if ((d->flags & AV_PIX_FMT_FLAG_BE) != 0) {
    for (int x = 0; x < w; ++x) out[x] = (((p[x * step] << 8) | p[x * step + 1]) >> comp.shift) & mask;
  } else {
    for (int x = 0; x < w; ++x) out[x] = (((p[x * step + 1] << 8) | p[x * step]) >> comp.shift) & mask;
  }
}

void WriteComponent(const AVPixFmtDescriptor* d, int c, std::uint8_t* const* data, const int* linesize,
                    int row, int w, const std::int32_t* in) {
  const AVComponentDescriptor& comp = d->comp[c];
  std::uint8_t* p = data[comp.plane] + static_cast<std::ptrdiff_t>(row) * linesize[comp.plane] + comp.offset;
  const int step = comp.step;
  if (comp.depth + comp.shift <= 8) {
    if (comp.shift == 0 && comp.depth == 8) {
      for (int x = 0; x < w; ++x) p[x * step] = static_cast<std::uint8_t>(in[x]);
    } else {
      const int mask = ((1 << comp.depth) - 1) << comp.shift;
      for (int x = 0; x < w; ++x)
        p[x * step] = static_cast<std::uint8_t>((p[x * step] & ~mask) | (in[x] << comp.shift));
    }
    return;
  }
  const int mask = ((1 << comp.depth) - 1) << comp.shift;
  const bool big = (d->flags & AV_PIX_FMT_FLAG_BE) != 0;
  for (int x = 0; x < w; ++x) {
    std::uint8_t* s = p + x * step;
    const int old = big ? (s[0] << 8) | s[1] : (s[1] << 8) | s[0];
    const int v = (old & ~mask) | (in[x] << comp.shift);
    s[big ? 0 : 1] = static_cast<std::uint8_t>(v >> 8);
    s[big ? 1 : 0] = static_cast<std::uint8_t>(v);
  }
}

// v of `from` bits to `to` bits: round(v * (2^to - 1) / (2^from - 1)).
void Rescale(std::int32_t* v, int w, int from, int to) {
  if (from == to) return;
  const std::int64_t num = (1LL << to) - 1;
  const std::int64_t den = (1LL << from) - 1;
  for (int x = 0; x < w; ++x) v[x] = static_cast<std::int32_t>((v[x] * num + den / 2) / den);
}

AVPixelFormat PlanarYuvLike(const AVPixFmtDescriptor* d) {
  const int depth = DepthOf(d);
  std::string name = "yuv";
  name += d->log2_chroma_w == 0 ? (d->log2_chroma_h == 0 ? "444" : "440")
                                : (d->log2_chroma_h == 0 ? "422" : "420");
  name += "p";
#if __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  if (depth > 8) name += std::to_string(depth) + "be";
#else
  if (depth > 8) name += std::to_string(depth) + "le";
#endif
  const AVPixelFormat f = av_get_pix_fmt(name.c_str());
  return IsPlanarYuv(Describe(f)) ? f : AV_PIX_FMT_NONE;
}

int SwsColourspace(YuvMatrix m) {
  switch (m) {
    case YuvMatrix::kBt601: return SWS_CS_ITU601;
    case YuvMatrix::kBt2020: return SWS_CS_BT2020;
    case YuvMatrix::kSmpte240: return SWS_CS_SMPTE240M;
    case YuvMatrix::kBt709: break;
  }
  return SWS_CS_ITU709;
}

}  // namespace

bool PixelFormatIsDeep(int pix_fmt) {
  const AVPixFmtDescriptor* d = Describe(pix_fmt);
  return d != nullptr && DepthOf(d) > 8;
}

YuvFormat DecodedYuvFormat(const AVFrame* f) {
  const AVPixFmtDescriptor* d = Describe(f->format);
  YuvFormat y;
  y.depth = d != nullptr ? d->comp[0].depth : 8;
  y.chroma_shift_x = d != nullptr ? d->log2_chroma_w : 1;
  y.chroma_shift_y = d != nullptr ? d->log2_chroma_h : 1;
  const bool jpeg_format = f->format == AV_PIX_FMT_YUVJ420P || f->format == AV_PIX_FMT_YUVJ422P ||
                           f->format == AV_PIX_FMT_YUVJ444P || f->format == AV_PIX_FMT_YUVJ440P;
  y.full_range = f->color_range == AVCOL_RANGE_JPEG || jpeg_format;
  switch (f->colorspace) {
    case AVCOL_SPC_BT709: y.matrix = YuvMatrix::kBt709; break;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M: y.matrix = YuvMatrix::kBt601; break;
    case AVCOL_SPC_SMPTE240M: y.matrix = YuvMatrix::kSmpte240; break;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL: y.matrix = YuvMatrix::kBt2020; break;
    default: y.matrix = f->height >= 720 ? YuvMatrix::kBt709 : YuvMatrix::kBt601; break;
  }
  switch (f->chroma_location) {
    case AVCHROMA_LOC_CENTER: y.chroma_cosited_x = false; y.chroma_cosited_y = false; break;
    case AVCHROMA_LOC_TOP: y.chroma_cosited_x = false; y.chroma_cosited_y = true; break;
    case AVCHROMA_LOC_TOPLEFT: y.chroma_cosited_x = true; y.chroma_cosited_y = true; break;
    case AVCHROMA_LOC_LEFT: y.chroma_cosited_x = true; y.chroma_cosited_y = false; break;
    default:  // unspecified, bottom: MPEG's left siting, JPEG's centre
      y.chroma_cosited_x = !jpeg_format;
      y.chroma_cosited_y = false;
      break;
  }
  return y;
}

// ------------------------------------------------------------ import

struct FrameImporter::Impl {
  enum class Path { kNone, kYuv, kRgb };
  Path path = Path::kNone;
  int format = -1;  // pixel format Prepare decided for
  int w = 0, h = 0;
  YuvFormat yuv;
  const AVPixFmtDescriptor* desc = nullptr;
  // A frame in another layout is first rearranged into `staged`.
  bool staged_in_use = false;
  AVFrame* staged = nullptr;
  SwsContext* sws = nullptr;

  ~Impl() {
    av_frame_free(&staged);
    sws_freeContext(sws);
  }
  const AVFrame* Source(const AVFrame* frame) const { return staged_in_use ? staged : frame; }
};

FrameImporter::FrameImporter() : impl_(new Impl()) {}
FrameImporter::~FrameImporter() = default;

bool FrameImporter::Prepare(const AVFrame* frame, std::string* error) {
  Impl& m = *impl_;
  const AVPixFmtDescriptor* d = Describe(frame->format);
  if (d == nullptr) {
    *error = "unknown pixel format";
    return false;
  }
  m.staged_in_use = false;
  AVPixelFormat target = AV_PIX_FMT_NONE;
  if (IsPlanarYuv(d)) {
    m.path = Impl::Path::kYuv;
  } else if (IsDirectRgb(d)) {
    m.path = Impl::Path::kRgb;
  } else {
    // Rearranged by libswscale: Y'CbCr into planes of the same subsampling
    // and depth, everything else into packed RGB of 8 or 16 bits.
    if (!(d->flags & AV_PIX_FMT_FLAG_RGB) && !(d->flags & AV_PIX_FMT_FLAG_PAL) && d->nb_components >= 3 &&
        !(d->flags & AV_PIX_FMT_FLAG_FLOAT))
      target = PlanarYuvLike(d);
    if (target == AV_PIX_FMT_NONE) target = DepthOf(d) > 8 ? AV_PIX_FMT_RGB48 : AV_PIX_FMT_RGB24;
    m.path = IsPlanarYuv(Describe(target)) ? Impl::Path::kYuv : Impl::Path::kRgb;
    m.sws = sws_getCachedContext(m.sws, frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                 frame->width, frame->height, target,
                                 SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP,
                                 nullptr, nullptr, nullptr);
    if (m.sws == nullptr) {
      const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
      *error = std::string("cannot read pixel format ") + (name ? name : "unknown");
      return false;
    }
    if (m.staged == nullptr || m.staged->format != target || m.staged->width != frame->width ||
        m.staged->height != frame->height) {
      av_frame_free(&m.staged);
      m.staged = av_frame_alloc();
      m.staged->format = target;
      m.staged->width = frame->width;
      m.staged->height = frame->height;
      if (m.staged == nullptr || av_frame_get_buffer(m.staged, 0) < 0) {
        *error = "out of memory";
        return false;
      }
    }
    av_frame_copy_props(m.staged, frame);
    sws_scale(m.sws, frame->data, frame->linesize, 0, frame->height, m.staged->data, m.staged->linesize);
    m.staged_in_use = true;
  }
  const AVFrame* source = m.Source(frame);
  m.desc = Describe(source->format);
  m.format = source->format;
  m.w = frame->width;
  m.h = frame->height;
  if (m.path == Impl::Path::kYuv) m.yuv = DecodedYuvFormat(source);
  return true;
}

void FrameImporter::Convert(const AVFrame* frame, int row_begin, int row_end, PIXEL_YC* yc,
                            int yc_stride) const {
  const Impl& m = *impl_;
  const AVFrame* s = m.Source(frame);
  if (m.path == Impl::Path::kYuv) {
    YuvPlanes planes;
    for (int p = 0; p < 3; ++p) {
      planes.data[p] = s->data[p];
      planes.stride[p] = s->linesize[p];
    }
    YuvToYc48(m.yuv, planes, m.w, m.h, row_begin, row_end, yc, yc_stride);
    return;
  }
  const AVPixFmtDescriptor* d = m.desc;
  const bool rgb = (d->flags & AV_PIX_FMT_FLAG_RGB) != 0;
  const int depth = DepthOf(d);
  const int bits = depth > 8 ? 16 : 8;
  std::vector<std::int32_t> work(static_cast<std::size_t>(3 * m.w));
  std::int32_t* channel[3] = {work.data(), work.data() + m.w, work.data() + 2 * m.w};
  const std::uint8_t* const* data = s->data;
  for (int row = row_begin; row < row_end; ++row) {
    for (int c = 0; c < 3; ++c) {
      if (!rgb && c > 0) {
        std::memcpy(channel[c], channel[0], sizeof(std::int32_t) * m.w);
        continue;
      }
      ReadComponent(d, c, data, s->linesize, row, m.w, channel[c]);
      Rescale(channel[c], m.w, d->comp[c].depth, bits);
    }
    PIXEL_YC* out = yc + static_cast<std::ptrdiff_t>(row) * yc_stride;
    if (bits == 16) {
      yc48::Rgb16RowToYc48(channel[0], channel[1], channel[2], m.w, out);
    } else {
      yc48::RgbRowToYc48(channel[0], channel[1], channel[2], m.w, out);
    }
  }
}

bool FrameImporter::ToYc48(const AVFrame* frame, PIXEL_YC* yc, int yc_stride, std::string* error) {
  if (!Prepare(frame, error)) return false;
  Convert(frame, 0, frame->height, yc, yc_stride);
  return true;
}

// ------------------------------------------------------------ export

struct FrameExporter::Impl {
  AVFrame* staged = nullptr;  // RGB for libswscale to rearrange
  SwsContext* sws = nullptr;
  ~Impl() {
    av_frame_free(&staged);
    sws_freeContext(sws);
  }
};

FrameExporter::FrameExporter() : impl_(new Impl()) {}
FrameExporter::~FrameExporter() = default;

namespace {

// RGB of `bits` (8 or 16) into a frame whose format IsDirectRgb.
void WriteRgbRows(const PIXEL_YC* yc, int yc_stride, int w, int h, AVFrame* frame) {
  const AVPixFmtDescriptor* d = Describe(frame->format);
  const bool rgb = (d->flags & AV_PIX_FMT_FLAG_RGB) != 0;
  const int bits = DepthOf(d) > 8 ? 16 : 8;
  std::vector<std::int32_t> work(static_cast<std::size_t>(4 * w));
  std::int32_t* channel[4] = {work.data(), work.data() + w, work.data() + 2 * w, work.data() + 3 * w};
  std::vector<PIXEL_YC> luma_only(rgb ? 0 : static_cast<std::size_t>(w));
  for (int row = 0; row < h; ++row) {
    const PIXEL_YC* s = yc + static_cast<std::ptrdiff_t>(row) * yc_stride;
    if (!rgb) {
      // Grey: the editor's RGB of the picture without its chroma (R = G = B).
      for (int x = 0; x < w; ++x) luma_only[x] = PIXEL_YC{s[x].y, 0, 0};
      s = luma_only.data();
    }
    if (bits == 16) {
      yc48::Yc48RowToRgb16(s, w, channel[0], channel[1], channel[2]);
    } else {
      yc48::Yc48RowToRgb(s, w, channel[0], channel[1], channel[2]);
    }
    const int colours = rgb ? 3 : 1;
    for (int c = 0; c < d->nb_components; ++c) {
      std::int32_t* values = channel[std::min(c, 3)];
      if (c >= colours) {  // alpha: opaque
        for (int x = 0; x < w; ++x) values[x] = (1 << d->comp[c].depth) - 1;
      } else {
        Rescale(values, w, bits, d->comp[c].depth);
      }
      WriteComponent(d, c, frame->data, frame->linesize, row, w, values);
    }
  }
}

}  // namespace

bool FrameExporter::FromYc48(const PIXEL_YC* yc, int yc_stride, const EncodedColour& colour,
                             AVFrame* frame, std::string* error) {
  Impl& m = *impl_;
  const AVPixFmtDescriptor* d = Describe(frame->format);
  if (IsPlanarYuv(d)) {
    YuvFormat f;
    f.depth = d->comp[0].depth;
    f.chroma_shift_x = d->log2_chroma_w;
    f.chroma_shift_y = d->log2_chroma_h;
    f.full_range = colour.full_range;
    f.matrix = colour.matrix;
    f.chroma_cosited_x = frame->chroma_location != AVCHROMA_LOC_CENTER && frame->chroma_location != AVCHROMA_LOC_TOP;
    f.chroma_cosited_y = frame->chroma_location == AVCHROMA_LOC_TOPLEFT || frame->chroma_location == AVCHROMA_LOC_TOP;
    MutableYuvPlanes planes;
    for (int p = 0; p < 3; ++p) {
      planes.data[p] = frame->data[p];
      planes.stride[p] = frame->linesize[p];
    }
    Yc48ToYuv(yc, yc_stride, frame->width, frame->height, 0, frame->height, f, planes);
    // A fourth plane (alpha) is opaque.
    if (d->nb_components == 4) {
      std::vector<std::int32_t> opaque(static_cast<std::size_t>(frame->width), (1 << d->comp[3].depth) - 1);
      for (int row = 0; row < frame->height; ++row)
        WriteComponent(d, 3, frame->data, frame->linesize, row, frame->width, opaque.data());
    }
    return true;
  }
  if (IsDirectRgb(d)) {
    // Padding bits and bytes (rgb0, rgb555) are written as zeros.
    for (int p = 0; p < 4 && frame->data[p] != nullptr; ++p)
      std::memset(frame->data[p], 0, static_cast<std::size_t>(frame->linesize[p]) * frame->height);
    WriteRgbRows(yc, yc_stride, frame->width, frame->height, frame);
    return true;
  }
  // Any other layout: RGB first, then libswscale.
  const AVPixelFormat staged_format = DepthOf(d) > 8 ? AV_PIX_FMT_RGB48 : AV_PIX_FMT_RGB24;
  if (m.staged == nullptr || m.staged->width != frame->width || m.staged->height != frame->height ||
      m.staged->format != staged_format) {
    av_frame_free(&m.staged);
    m.staged = av_frame_alloc();
    if (m.staged == nullptr) {
      *error = "out of memory";
      return false;
    }
    m.staged->format = staged_format;
    m.staged->width = frame->width;
    m.staged->height = frame->height;
    if (av_frame_get_buffer(m.staged, 0) < 0) {
      *error = "out of memory";
      return false;
    }
  }
  WriteRgbRows(yc, yc_stride, frame->width, frame->height, m.staged);
  m.sws = sws_getCachedContext(m.sws, frame->width, frame->height, staged_format, frame->width,
                               frame->height, static_cast<AVPixelFormat>(frame->format),
                               SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
  if (m.sws == nullptr) {
    const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(frame->format));
    *error = std::string("cannot write pixel format ") + (name ? name : "unknown");
    return false;
  }
  if (!(d->flags & AV_PIX_FMT_FLAG_RGB) && d->nb_components >= 3) {
    const int* coefficients = sws_getCoefficients(SwsColourspace(colour.matrix));
    sws_setColorspaceDetails(m.sws, coefficients, 1, coefficients, colour.full_range ? 1 : 0, 0, 1 << 16,
                             1 << 16);
  }
  sws_scale(m.sws, m.staged->data, m.staged->linesize, 0, frame->height, frame->data, frame->linesize);
  return true;
}

}  // namespace reproject
