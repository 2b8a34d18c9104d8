#include "classic_adapter.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "capacity.h"
#include "captions.h"
#include "colour.h"

namespace editor2 {
namespace {

const WideChar kTrackType[] = L"track";
const WideChar kCheckType[] = L"check";
const WideChar kSelectType[] = L"select";

bool IsInputBox(const ClassicFilter& f, int box) {
  return f.first_input_box >= 0 && box >= f.first_input_box && box <= f.last_input_box;
}

// A double the editor wrote, as the classic integer: nearest integer, ties
// away from zero, limited to [lo, hi]; not a number gives `fallback`.
int ToClassic(double value, double scale, int lo, int hi, int fallback) {
  const double scaled = value * scale;
  if (std::isnan(scaled)) return fallback;
  if (scaled <= static_cast<double>(lo)) return lo;
  if (scaled >= static_cast<double>(hi)) return hi;
  return static_cast<int>(std::lround(scaled));
}

}  // namespace

std::wstring ShiftJisToWide(const char* text) {
  if (text == nullptr || *text == '\0') return std::wstring();
  const int length = static_cast<int>(std::strlen(text));
  // Without MB_ERR_INVALID_CHARS an invalid byte becomes U+FFFD (or the
  // code page's default character) instead of failing the whole caption.
  const int n = MultiByteToWideChar(932, 0, text, length, nullptr, 0);
  if (n <= 0) return std::wstring(L"?");
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(932, 0, text, length, &out[0], n);
  return out;
}

const WideChar* ClassicAdapter::Keep(std::wstring text) {
  strings_.push_back(std::move(text));
  return strings_.back().c_str();
}

bool DescribeClassic(const FILTER_DLL& t, ClassicFilter* filter) {
  namespace captions = lens::captions;
  ClassicFilter f;
  for (int i = 0; i < t.track_n; ++i) {
    const captions::Control* control = captions::FindTrack(t.track_name[i]);
    if (control == nullptr) continue;
    if (control->unit == captions::Unit::kTenthsOfDegree && i < 32) f.angle_tracks |= 1u << i;
    if (control == &captions::kHeight) f.height_track = i;
  }
  for (int i = 0; i < t.check_n; ++i) {
    const captions::Control* control = captions::FindCheck(t.check_name[i]);
    if (control == &captions::kUseHeight) f.use_height_box = i;
    if (control == &captions::kGreenBack) f.green_box = i;
    if (control == &captions::kBilinear) f.bilinear_box = i;
  }
  // The input boxes: one run of check boxes, each naming a lens model. Every
  // filter takes all of them; no box ticked stands for the one left without
  // a box.
  bool boxed[lens::kSourceProjectionCount] = {};
  for (int i = 0; i < t.check_n; ++i) {
    const captions::InputBox* box = captions::FindInputBox(t.check_name[i]);
    if (box == nullptr) continue;
    if (f.first_input_box >= 0 && f.last_input_box != i - 1) return false;
    if (f.first_input_box < 0) f.first_input_box = i;
    f.last_input_box = i;
    boxed[static_cast<int>(box->projection)] = true;
  }
  if (f.first_input_box >= 0) {
    int unboxed = -1;
    for (int p = 0; p < lens::kSourceProjectionCount; ++p) {
      if (boxed[p]) continue;
      if (unboxed >= 0) return false;
      unboxed = p;
    }
    if (unboxed < 0) return false;
    f.input_name = captions::kInputProjection;
    f.no_input_box_name = captions::InputBoxOf(static_cast<lens::SourceProjection>(unboxed)).text;
  }
  *filter = f;
  return true;
}

ClassicAdapter::ClassicAdapter(GetFilterTableFn get_table, bool (*proc_video)(FILTER_PROC_VIDEO*)) {
  classic_ = get_table != nullptr ? get_table() : nullptr;
  const FILTER_DLL* t = classic_;
  if (t == nullptr || t->func_proc == nullptr || t->track_n < 0 || t->check_n < 0 ||
      (t->track_n > 0 && (t->track_name == nullptr || t->track_default == nullptr ||
                          t->track_s == nullptr || t->track_e == nullptr)) ||
      (t->check_n > 0 && (t->check_name == nullptr || t->check_default == nullptr)) ||
      !DescribeClassic(*t, &filter_)) {
    return;
  }
  const bool has_select = filter_.first_input_box >= 0;

  tracks_.reset(new FILTER_ITEM_TRACK[static_cast<std::size_t>(t->track_n) + 1]());
  checks_.reset(new FILTER_ITEM_CHECK[static_cast<std::size_t>(t->check_n) + 1]());

  for (int i = 0; i < t->track_n; ++i) {
    const bool angle = i < 32 && (filter_.angle_tracks >> i & 1u) != 0;
    const double scale = angle ? 10.0 : 1.0;
    FILTER_ITEM_TRACK& item = tracks_[static_cast<std::size_t>(i)];
    item.type = kTrackType;
    item.name = Keep(ShiftJisToWide(t->track_name[i]));
    item.value = static_cast<double>(t->track_default[i]) / scale;
    item.s = static_cast<double>(t->track_s[i]) / scale;
    item.e = static_cast<double>(t->track_e[i]) / scale;
    item.step = angle ? 0.1 : 1.0;
    items_.push_back(&item);
    sources_.push_back(ItemSource{ItemSource::kTrack, i, scale});
  }
  int checks_used = 0;
  for (int i = 0; i < t->check_n; ++i) {
    if (has_select && IsInputBox(filter_, i)) {
      if (i != filter_.first_input_box) continue;
      // One select in place of the input boxes: the first choice is "no box
      // ticked", then one choice per box, its value the box index. The
      // default is the highest box ticked by default, as the plug-in reads it.
      select_list_.push_back(
          FILTER_ITEM_SELECT_ITEM{Keep(ShiftJisToWide(filter_.no_input_box_name)), 0});
      int chosen = 0;
      for (int box = filter_.first_input_box; box <= filter_.last_input_box; ++box) {
        select_list_.push_back(FILTER_ITEM_SELECT_ITEM{Keep(ShiftJisToWide(t->check_name[box])), box});
        if (t->check_default[box] != 0) chosen = box;
      }
      select_list_.push_back(FILTER_ITEM_SELECT_ITEM{nullptr, 0});
      select_.type = kSelectType;
      select_.name = Keep(ShiftJisToWide(filter_.input_name));
      select_.value = chosen;
      select_.list = select_list_.data();
      items_.push_back(&select_);
      sources_.push_back(ItemSource{ItemSource::kInputSelect, -1, 1.0});
      continue;
    }
    if (i == filter_.green_box) {
      // The fill box becomes a list that also offers transparency.
      fill_list_ = {
          FILTER_ITEM_SELECT_ITEM{Keep(ShiftJisToWide(lens::captions::kBlackBackground)), kFillBlack},
          FILTER_ITEM_SELECT_ITEM{Keep(ShiftJisToWide(t->check_name[i])), kFillGreen},
          FILTER_ITEM_SELECT_ITEM{Keep(ShiftJisToWide(lens::captions::kTransparentBackground)), kFillTransparent},
          FILTER_ITEM_SELECT_ITEM{nullptr, 0}};
      fill_select_.type = kSelectType;
      fill_select_.name = Keep(ShiftJisToWide(lens::captions::kBackground));
      fill_select_.value = t->check_default[i] != 0 ? kFillGreen : kFillBlack;
      fill_select_.list = fill_list_.data();
      items_.push_back(&fill_select_);
      sources_.push_back(ItemSource{ItemSource::kFillSelect, i, 1.0});
      continue;
    }
    FILTER_ITEM_CHECK& item = checks_[static_cast<std::size_t>(checks_used++)];
    item.type = kCheckType;
    item.name = Keep(ShiftJisToWide(t->check_name[i]));
    item.value = t->check_default[i] != 0;
    items_.push_back(&item);
    sources_.push_back(ItemSource{ItemSource::kCheck, i, 1.0});
  }

  // The item name is also the setting's key: two items with one name would
  // share a stored value. Captions repeat in no table this adapter wraps, but
  // a repeated one is numbered rather than merged.
  std::vector<std::wstring> seen;
  for (void* p : items_) {
    const WideChar** name = &static_cast<FILTER_ITEM_CHECK*>(p)->name;  // every item: type, name
    std::wstring candidate = *name;
    for (int n = 2; std::find(seen.begin(), seen.end(), candidate) != seen.end(); ++n) {
      candidate = std::wstring(*name) + L" (" + std::to_wstring(n) + L")";
    }
    if (candidate != *name) *name = Keep(candidate);
    seen.push_back(candidate);
  }
  items_.push_back(nullptr);

  table_.flag = FILTER_FLAG_VIDEO;  // not FILTER: the output size changes
  table_.name = Keep(ShiftJisToWide(t->name));
  table_.label = nullptr;
  table_.information = Keep(ShiftJisToWide(t->information));
  table_.items = items_.data();
  table_.func_proc_video = proc_video;
  usable_ = true;
}

ClassicControls ClassicAdapter::ReadControls() const {
  const FILTER_DLL& t = *classic_;
  ClassicControls c;
  c.track.assign(t.track_default, t.track_default + t.track_n);
  c.check.assign(t.check_default, t.check_default + t.check_n);
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    const ItemSource& source = sources_[i];
    switch (source.kind) {
      case ItemSource::kTrack: {
        const auto* item = static_cast<const FILTER_ITEM_TRACK*>(items_[i]);
        const int k = source.index;
        c.track[k] = ToClassic(item->value, source.scale, t.track_s[k], t.track_e[k],
                               t.track_default[k]);
        break;
      }
      case ItemSource::kCheck:
        c.check[source.index] = static_cast<const FILTER_ITEM_CHECK*>(items_[i])->value ? 1 : 0;
        break;
      case ItemSource::kInputSelect: {
        // The same values as ticking that one box; a value outside the list
        // (or 0) leaves every input box unticked.
        const int chosen = static_cast<const FILTER_ITEM_SELECT*>(items_[i])->value;
        for (int box = filter_.first_input_box; box <= filter_.last_input_box; ++box) {
          c.check[box] = box == chosen ? 1 : 0;
        }
        break;
      }
      case ItemSource::kFillSelect: {
        const int chosen = static_cast<const FILTER_ITEM_SELECT*>(items_[i])->value;
        c.fill = chosen == kFillGreen ? Fill::kGreen : chosen == kFillTransparent ? Fill::kTransparent : Fill::kBlack;
        c.check[source.index] = c.fill == Fill::kGreen ? 1 : 0;
        break;
      }
    }
  }
  return c;
}

namespace {

// The buffers of one frame, kept between frames by the thread that runs
// them (the editor's threading is not documented): they grow to the largest
// frame seen and are given back when a frame needs less than a quarter.
struct FrameBuffers {
  std::vector<PIXEL_RGBA> rgba;
  std::vector<PIXEL_YC> colour, colour_temp, alpha, alpha_temp;
  std::vector<PIXEL_RGBA> out;
  bool translucent = false;  // the last frame through the planes had transparency
  // The index plane of a w x h input in rows of `index_stride`, kept while
  // the shape stays: the classic filters read their input frame and write
  // only the other one (the frame tests check that they leave it untouched).
  std::vector<PIXEL_YC> index;
  int index_w = 0, index_h = 0, index_stride = 0;
};

template <typename T>
void Reserve(std::vector<T>& v, std::size_t n) {
  if (v.capacity() / 4 > n) std::vector<T>().swap(v);
  v.resize(n);
}

FrameBuffers& ThreadBuffers() {
  static thread_local FrameBuffers buffers;
  return buffers;
}

void BuildIndexPlane(FrameBuffers& b, int w, int h, int max_w, std::size_t capacity) {
  if (b.index_w == w && b.index_h == h && b.index_stride == max_w && b.index.size() == capacity) return;
  b.index_w = 0;
  Reserve(b.index, capacity);
#pragma omp parallel for schedule(static)
  for (int row = 0; row < h; ++row) {
    ToIndexRow(static_cast<std::uint32_t>(row) * static_cast<std::uint32_t>(w), w,
               b.index.data() + static_cast<std::size_t>(row) * max_w);
  }
  b.index_w = w;
  b.index_h = h;
  b.index_stride = max_w;
}

// The classic func_proc on one YC48 frame in `edit` (w x h in rows of
// max_w), with `temp` as its scratch frame; the result, or null when the
// plug-in failed or handed back something outside the two buffers.
const PIXEL_YC* RunClassic(const FILTER_DLL& classic, ClassicControls& controls, const OBJECT_INFO& object,
                           PIXEL_YC* edit, PIXEL_YC* temp, int w, int h, int max_w, int max_h, int* out_w,
                           int* out_h) {
  // The classic editor's run-time copy of the table, with this call's
  // control arrays.
  FILTER fp;
  std::memcpy(&fp, &classic, sizeof(FILTER));
  fp.track = controls.track.data();
  fp.check = controls.check.data();
  FILTER_PROC_INFO info = MakeFrameInfo(edit, temp, w, h, max_w, max_h);
  info.frame = object.frame;
  info.frame_n = object.frame_total;
  if (classic.func_proc(&fp, &info) == 0) return nullptr;
  if ((info.ycp_edit != edit && info.ycp_edit != temp) || info.w < 0 || info.h < 0 || info.w > max_w ||
      info.h > max_h) {
    return nullptr;
  }
  *out_w = info.w;
  *out_h = info.h;
  return info.ycp_edit;
}

}  // namespace

bool ClassicAdapter::ProcessVideo(FILTER_PROC_VIDEO* video) const {
  if (!usable_ || video == nullptr || video->object == nullptr ||
      video->get_image_data == nullptr || video->set_image_data == nullptr) {
    return false;
  }
  const int w = video->object->width;
  const int h = video->object->height;
  if (w <= 0 || h <= 0) return true;  // nothing to re-project

  // This call's controls, read once: the editor has written this frame's
  // (possibly animated) values into the items.
  ClassicControls controls = ReadControls();
  // The buffers hold what the ticked controls can produce: the height
  // setting counts only where its box is ticked.
  const bool height_ticked =
      filter_.height_track >= 0 && (filter_.use_height_box < 0 || controls.check[filter_.use_height_box] != 0);
  const int height_setting = height_ticked ? controls.track[static_cast<std::size_t>(filter_.height_track)] : 0;
  int max_w = 0;
  int max_h = 0;
  yc48::CapacityFor(w, h, height_setting, kMaxEnlargedSide, &max_w, &max_h);

  try {
    FrameBuffers& buffers = ThreadBuffers();
    const std::size_t in_pixels = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    const std::size_t capacity = static_cast<std::size_t>(max_w) * static_cast<std::size_t>(max_h);
    Reserve(buffers.rgba, in_pixels);
    video->get_image_data(buffers.rgba.data());
    Reserve(buffers.colour_temp, capacity);

    // Colour (and alpha) come from the input by index for the nearest
    // sampler, from the re-projected planes for the bilinear one.
    const bool by_index = filter_.bilinear_box >= 0 && controls.check[filter_.bilinear_box] == 0 &&
                          filter_.green_box >= 0 && in_pixels <= kMaxIndexedPixels;
    const bool premultiply = !kEditorAlphaPremultiplied && filter_.green_box >= 0;
    int out_w = 0;
    int out_h = 0;
    const PIXEL_YC* colour = nullptr;
    const PIXEL_YC* alpha = nullptr;
    bool divide = false;
    if (by_index) {
      Reserve(buffers.colour, 0);
      Reserve(buffers.alpha, 0);
      Reserve(buffers.alpha_temp, 0);
      BuildIndexPlane(buffers, w, h, max_w, capacity);
      colour = RunClassic(*classic_, controls, *video->object, buffers.index.data(), buffers.colour_temp.data(), w,
                          h, max_w, max_h, &out_w, &out_h);
      // A frame handed back in the index plane itself has changed it.
      if (colour == nullptr || colour == buffers.index.data()) buffers.index_w = 0;
      if (colour == nullptr) return false;
    } else {
      Reserve(buffers.index, 0);
      buffers.index_w = 0;
      Reserve(buffers.colour, capacity);
      // The alpha plane comes in the same pass over the input where the
      // alpha pass is expected: always with the transparent fill, and after
      // a frame with transparency (a clip keeps it, as a rule).
      const bool alpha_possible = filter_.green_box >= 0;
      const bool alpha_expected =
          alpha_possible && (controls.fill == Fill::kTransparent || buffers.translucent);
      if (alpha_expected) Reserve(buffers.alpha, capacity);
      PIXEL_YC* const alpha_plane = alpha_expected ? buffers.alpha.data() : nullptr;
      bool opaque = true;
#pragma omp parallel for schedule(static) reduction(&& : opaque)
      for (int row = 0; row < h; ++row) {
        const std::size_t at = static_cast<std::size_t>(row) * max_w;
        opaque = ToColourRow(buffers.rgba.data() + static_cast<std::size_t>(row) * w, w, premultiply,
                             buffers.colour.data() + at, alpha_plane != nullptr ? alpha_plane + at : nullptr) &&
                 opaque;
      }
      // The alpha pass runs for an input with transparency, and for the
      // transparent fill, which needs to know what is covered.
      const bool alpha_pass = (!opaque || controls.fill == Fill::kTransparent) && alpha_possible;
      buffers.translucent = !opaque;
      divide = premultiply && !opaque;
      if (!alpha_expected) Reserve(buffers.alpha, alpha_pass ? capacity : 0);
      Reserve(buffers.alpha_temp, alpha_pass ? capacity : 0);
      colour = RunClassic(*classic_, controls, *video->object, buffers.colour.data(), buffers.colour_temp.data(), w,
                          h, max_w, max_h, &out_w, &out_h);
      if (colour == nullptr) return false;
      if (alpha_pass) {
        if (!alpha_expected) {
#pragma omp parallel for schedule(static)
          for (int row = 0; row < h; ++row) {
            ToAlphaRow(buffers.rgba.data() + static_cast<std::size_t>(row) * w, w,
                       buffers.alpha.data() + static_cast<std::size_t>(row) * max_w);
          }
        }
        ClassicControls green = controls;
        green.check[static_cast<std::size_t>(filter_.green_box)] = 1;
        int alpha_w = 0;
        int alpha_h = 0;
        alpha = RunClassic(*classic_, green, *video->object, buffers.alpha.data(), buffers.alpha_temp.data(), w, h,
                           max_w, max_h, &alpha_w, &alpha_h);
        if (alpha == nullptr || alpha_w != out_w || alpha_h != out_h) return false;
      }
    }
    if (out_w == 0 || out_h == 0) {
      // The controls asked for an empty frame: one transparent pixel stands
      // for it, as the editor is not handed a zero size.
      Reserve(buffers.out, 1);
      buffers.out[0] = PIXEL_RGBA{0, 0, 0, 0};
      video->set_image_data(buffers.out.data(), 1, 1);
      return true;
    }
    Reserve(buffers.out, static_cast<std::size_t>(out_w) * static_cast<std::size_t>(out_h));
#pragma omp parallel for schedule(static)
    for (int row = 0; row < out_h; ++row) {
      const std::size_t at = static_cast<std::size_t>(row) * max_w;
      PIXEL_RGBA* const out = buffers.out.data() + static_cast<std::size_t>(row) * out_w;
      if (by_index) {
        FromIndexRow(colour + at, out_w, buffers.rgba.data(), in_pixels, controls.fill, premultiply, out);
      } else {
        FromPlanes(colour + at, alpha != nullptr ? alpha + at : nullptr, out_w, controls.fill, divide, out);
      }
    }
    video->set_image_data(buffers.out.data(), out_w, out_h);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace editor2
