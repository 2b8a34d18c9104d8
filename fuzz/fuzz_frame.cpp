#include "fuzz_frame.h"

#include <omp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace fuzzing {
namespace {

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::int32_t Int() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    return static_cast<std::int32_t>(v);
  }
  const std::uint8_t* rest() const { return data_ + pos_; }
  std::size_t rest_size() const { return pos_ < size_ ? size_ - pos_ : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

[[noreturn]] void Fault(const char* what, int w, int h, int max_w, int max_h) {
  std::fprintf(stderr, "fault: %s (frame %dx%d, capacity %dx%d)\n", what, w, h, max_w, max_h);
  std::abort();
}

}  // namespace

int RunFrameFromBytes(const FILTER_DLL& table, const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  std::vector<int> track(table.track_n);
  for (int i = 0; i < table.track_n; ++i) {
    const int how = in.Byte() % 4;
    const std::int32_t raw = in.Int();
    const std::int64_t lo = table.track_s[i];
    const std::int64_t span = static_cast<std::int64_t>(table.track_e[i]) - lo + 1;
    switch (how) {
      case 0: track[i] = static_cast<int>(lo + (static_cast<std::int64_t>(static_cast<std::uint32_t>(raw)) % span)); break;
      case 1: track[i] = raw; break;
      case 2: track[i] = table.track_s[i]; break;
      default: track[i] = table.track_e[i]; break;
    }
  }
  const unsigned ticked = in.Byte() | (static_cast<unsigned>(in.Byte()) << 8);
  const int ticked_value = (in.Byte() & 1) ? -1 : 1;
  std::vector<int> check(table.check_n);
  for (int i = 0; i < table.check_n; ++i) check[i] = ((ticked >> (i % 16)) & 1u) ? ticked_value : 0;
  const int w = in.Byte() % (kMaxSide + 1);
  const int h = in.Byte() % (kMaxSide + 1);
  const int max_w = w + in.Byte() % 8;
  const int max_h = h + in.Byte() % 8;

  const std::size_t n = static_cast<std::size_t>(max_w) * static_cast<std::size_t>(max_h);
  PIXEL_YC* const source = new PIXEL_YC[n];
  PIXEL_YC* const scratch = new PIXEL_YC[n];
  const std::uint8_t* pixels = in.rest();
  const std::size_t pixel_bytes = in.rest_size();
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t b[6] = {0, 0, 0, 0, 0, 0};
    if (pixel_bytes > 0) {
      for (int k = 0; k < 6; ++k) b[k] = pixels[(i * 6 + static_cast<std::size_t>(k)) % pixel_bytes];
    }
    source[i] = PIXEL_YC{static_cast<short>(b[0] | (b[1] << 8)), static_cast<short>(b[2] | (b[3] << 8)),
                         static_cast<short>(b[4] | (b[5] << 8))};
    scratch[i] = PIXEL_YC{static_cast<short>(0x5A5A), static_cast<short>(i), -1};
  }
  const std::vector<PIXEL_YC> source_copy(source, source + n);

  FILTER filter;
  static_assert(sizeof(FILTER) == sizeof(FILTER_DLL), "same layout");
  std::memcpy(&filter, &table, sizeof(filter));
  filter.track = track.empty() ? nullptr : track.data();
  filter.check = check.empty() ? nullptr : check.data();
  FILTER_PROC_INFO info = MakeFrameInfo(source, scratch, w, h, max_w, max_h);

  const BOOL returned = filter.func_proc(&filter, &info);

  if (returned != 1) Fault("func_proc did not return 1", w, h, max_w, max_h);
  if (info.ycp_edit != scratch || info.ycp_temp != source)
    Fault("the buffers were not exchanged", w, h, max_w, max_h);
  if (info.w < 0 || info.h < 0 || info.w > max_w || info.h > max_h)
    Fault("the reported size does not fit the capacity", w, h, max_w, max_h);
  if (n > 0 && std::memcmp(source, source_copy.data(), n * sizeof(PIXEL_YC)) != 0)
    Fault("the source frame was modified", w, h, max_w, max_h);
  for (int r = 0; r < max_h; ++r) {
    for (int c = 0; c < max_w; ++c) {
      if (r < info.h && c < info.w) continue;
      const std::size_t i = static_cast<std::size_t>(r) * max_w + c;
      const PIXEL_YC p = scratch[i];
      if (p.y != 0x5A5A || p.cb != static_cast<short>(i) || p.cr != -1)
        Fault("a pixel outside the reported output was written", w, h, max_w, max_h);
    }
  }
  delete[] source;
  delete[] scratch;
  return 0;
}

}  // namespace fuzzing
