// The editor's colour formulas: known values, the measured loss of a round
// trip RGB -> YC48 -> RGB over every 8-bit colour, the 16-bit forms, and the
// Y'CbCr conversions of video frames.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <algorithm>
#include <random>
#include <vector>

#include "colour.h"
#include "yuv.h"

namespace {

using yc48::Rgb16ToYc48;
using yc48::RgbToYc48;
using yc48::Yc48ToRgb;
using yc48::Yc48ToRgb16;

TEST(Colour, KnownValuesOfTheEditorsFormulas) {
  struct Case {
    int r, g, b;
    short y, cb, cr;
  };
  const Case cases[] = {
      {0, 255, 0, 2404, -1357, -1715},  // the plug-ins' green back
      {0, 0, 0, 0, 0, 0},
      {255, 255, 255, 4096, 0, 0},
      // Hand-evaluated with the integer formulas.
      {255, 0, 0, 1225, -691, 2048},
      {0, 0, 255, 467, 2048, -333},
  };
  for (const Case& c : cases) {
    const PIXEL_YC p = yc48::RgbToYc48(c.r, c.g, c.b);
    EXPECT_EQ(p.y, c.y) << c.r << "," << c.g << "," << c.b;
    EXPECT_EQ(p.cb, c.cb) << c.r << "," << c.g << "," << c.b;
    EXPECT_EQ(p.cr, c.cr) << c.r << "," << c.g << "," << c.b;
  }
}

TEST(Colour, OutOfRangeYc48IsClampedNotWrapped) {
  std::uint8_t r, g, b;
  yc48::Yc48ToRgb(PIXEL_YC{32767, 32767, 32767}, &r, &g, &b);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(b, 255);
  yc48::Yc48ToRgb(PIXEL_YC{-32768, -32768, -32768}, &r, &g, &b);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(b, 0);
  yc48::Yc48ToRgb(PIXEL_YC{4096, 0, 0}, &r, &g, &b);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(g, 255);
  EXPECT_EQ(b, 255);
}

// Every one of the 2^24 colours through YC48 and back. The editor's two
// formulas invert each other exactly on 8-bit RGB; the figures are printed so
// that a change shows as numbers, not just a failure.
TEST(Colour, RoundTripOfAllColours) {
  long exact = 0;
  long channel_off[4] = {0, 0, 0, 0};  // channels off by 0, 1, 2, more
  int worst = 0;
  double sum_abs = 0.0;
  for (int r = 0; r < 256; ++r) {
    for (int g = 0; g < 256; ++g) {
      for (int b = 0; b < 256; ++b) {
        std::uint8_t r2, g2, b2;
        yc48::Yc48ToRgb(yc48::RgbToYc48(r, g, b), &r2, &g2, &b2);
        const int d[3] = {std::abs(r2 - r), std::abs(g2 - g), std::abs(b2 - b)};
        bool same = true;
        for (int k = 0; k < 3; ++k) {
          channel_off[d[k] > 3 ? 3 : d[k]]++;
          worst = d[k] > worst ? d[k] : worst;
          sum_abs += d[k];
          same = same && d[k] == 0;
        }
        exact += same;
      }
    }
  }
  const double n = 16777216.0;
  std::printf("round trip of 2^24 colours: %.4f%% exact, channels off by 0/1/2/>2: %ld/%ld/%ld/%ld, "
              "worst %d, mean |error| %.4f per channel\n",
              100.0 * exact / n, channel_off[0], channel_off[1], channel_off[2], channel_off[3], worst,
              sum_abs / (3.0 * n));
  RecordProperty("exact_percent", std::to_string(100.0 * exact / n));
  RecordProperty("worst_channel_error", worst);
  EXPECT_EQ(worst, 0);
  EXPECT_EQ(exact, 16777216L);
}

// The 16-bit formulas: an 8-bit colour widened (x 257) gives exactly the
// 8-bit YC48, for every colour; a grey ramp of every 16-bit level comes back
// within one YC48 step, any colour within two (each of the three terms of a
// component is truncated on its own).
TEST(Colour, SixteenBitFormulas) {
  for (int r = 0; r < 256; ++r)
    for (int g = 0; g < 256; ++g)
      for (int b = 0; b < 256; ++b) {
        const PIXEL_YC wide = yc48::Rgb16ToYc48(257 * r, 257 * g, 257 * b);
        const PIXEL_YC narrow = yc48::RgbToYc48(r, g, b);
        ASSERT_TRUE(wide.y == narrow.y && wide.cb == narrow.cb && wide.cr == narrow.cr) << r << "," << g << "," << b;
      }
  auto round_trip_error = [](int r, int g, int b) {
    const PIXEL_YC p = yc48::Rgb16ToYc48(r, g, b);
    std::uint16_t r2, g2, b2;
    yc48::Yc48ToRgb16(p, &r2, &g2, &b2);
    const PIXEL_YC q = yc48::Rgb16ToYc48(r2, g2, b2);
    return std::max({std::abs(p.y - q.y), std::abs(p.cb - q.cb), std::abs(p.cr - q.cr)});
  };
  int grey = 0, any = 0;
  for (int v = 0; v < 65536; ++v) grey = std::max(grey, round_trip_error(v, v, v));
  std::mt19937 random(5);
  for (int n = 0; n < 1000000; ++n) any = std::max(any, round_trip_error(random() & 65535, random() & 65535, random() & 65535));
  EXPECT_LE(grey, 1);
  EXPECT_LE(any, 2);
  std::uint16_t r, g, b;
  yc48::Yc48ToRgb16(PIXEL_YC{4096, 0, 0}, &r, &g, &b);  // white
  EXPECT_EQ(r, 65535);
  yc48::Yc48ToRgb16(PIXEL_YC{-32768, 32767, -32768}, &r, &g, &b);  // far outside: clamped
  EXPECT_EQ(r, 0);
  EXPECT_EQ(b, 65535);
}

struct YuvCase {
  int depth, shift_x, shift_y;
  bool cosited_x, cosited_y, full_range;
};

std::vector<YuvCase> AllLayouts() {
  std::vector<YuvCase> cases;
  for (int depth : {8, 10})
    for (int sx : {0, 1})
      for (int sy : {0, 1})
        for (bool cx : {false, true})
          for (bool cy : {false, true}) cases.push_back({depth, sx, sy, cx, cy, depth == 10});
  return cases;
}

reproject::YuvFormat FormatOf(const YuvCase& c) {
  reproject::YuvFormat f;
  f.depth = c.depth;
  f.chroma_shift_x = c.shift_x;
  f.chroma_shift_y = c.shift_y;
  f.chroma_cosited_x = c.cosited_x;
  f.chroma_cosited_y = c.cosited_y;
  f.full_range = c.full_range;
  return f;
}

// Planes of a w x h picture, 16-bit samples (used for 8-bit ones too, read
// through their low bytes by packing them when depth is 8).
struct Planes {
  std::vector<std::uint16_t> p16[3];
  std::vector<std::uint8_t> p8[3];
  int cw, ch;
  Planes(const YuvCase& c, int w, int h) {
    cw = (w + (1 << c.shift_x) - 1) >> c.shift_x;
    ch = (h + (1 << c.shift_y) - 1) >> c.shift_y;
    for (int k = 0; k < 3; ++k) {
      const std::size_t n = k == 0 ? static_cast<std::size_t>(w) * h : static_cast<std::size_t>(cw) * ch;
      p16[k].assign(n, 0);
      p8[k].assign(n, 0);
    }
  }
  reproject::MutableYuvPlanes Mutable(const YuvCase& c, int w) {
    reproject::MutableYuvPlanes m;
    for (int k = 0; k < 3; ++k) {
      const int width = k == 0 ? w : cw;
      if (c.depth > 8) {
        m.data[k] = p16[k].data();
        m.stride[k] = 2 * width;
      } else {
        m.data[k] = p8[k].data();
        m.stride[k] = width;
      }
    }
    return m;
  }
  reproject::YuvPlanes Const(const YuvCase& c, int w) {
    const reproject::MutableYuvPlanes m = Mutable(c, w);
    reproject::YuvPlanes p;
    for (int k = 0; k < 3; ++k) {
      p.data[k] = m.data[k];
      p.stride[k] = m.stride[k];
    }
    return p;
  }
};

// Known codes: black and white of each range to YC48, and the editor's green
// to BT.709 limited-range 8-bit Y'CbCr.
TEST(Yuv, KnownColours) {
  struct Case {
    bool full;
    int y, cb, cr;
    PIXEL_YC expected;
  };
  const Case cases[] = {
      {false, 16, 128, 128, {0, 0, 0}},     {false, 235, 128, 128, {4096, 0, 0}},
      {true, 0, 128, 128, {0, 0, 0}},       {true, 255, 128, 128, {4096, 0, 0}},
  };
  for (const Case& c : cases) {
    reproject::YuvFormat f;
    f.full_range = c.full;
    f.chroma_shift_x = f.chroma_shift_y = 0;
    const std::uint8_t y = static_cast<std::uint8_t>(c.y), cb = static_cast<std::uint8_t>(c.cb),
                       cr = static_cast<std::uint8_t>(c.cr);
    reproject::YuvPlanes planes{{&y, &cb, &cr}, {1, 1, 1}};
    PIXEL_YC out{};
    reproject::YuvToYc48(f, planes, 1, 1, 0, 1, &out, 1);
    EXPECT_EQ(out.y, c.expected.y) << c.y << "," << c.cb << "," << c.cr;
    EXPECT_EQ(out.cb, c.expected.cb) << c.y << "," << c.cb << "," << c.cr;
    EXPECT_EQ(out.cr, c.expected.cr) << c.y << "," << c.cb << "," << c.cr;
  }
  reproject::YuvFormat f;
  f.chroma_shift_x = f.chroma_shift_y = 0;
  const PIXEL_YC green = yc48::RgbToYc48(0, 255, 0);
  std::uint8_t y = 0, cb = 0, cr = 0;
  reproject::Yc48ToYuv(&green, 1, 1, 1, 0, 1, f, reproject::MutableYuvPlanes{{&y, &cb, &cr}, {1, 1, 1}});
  EXPECT_EQ(y, 173);  // 16 + 219 x 0.7152
  EXPECT_EQ(cb, 42);  // 128 - 224 x 0.7152 / 1.8556
  EXPECT_EQ(cr, 26);  // 128 - 224 x 0.7152 / 1.5748
}

// Every layout, siting and odd size: a flat colour stays flat to the last
// pixel of every edge (where the interpolation meets its clamped
// neighbours), both ways; and a smooth picture survives the round trip
// through 4:4:4 closely.
TEST(Yuv, EdgesAndRoundTripsOfEveryLayout) {
  const PIXEL_YC colour = yc48::RgbToYc48(200, 60, 90);
  for (const YuvCase& c : AllLayouts()) {
    const reproject::YuvFormat f = FormatOf(c);
    for (int w : {1, 2, 3, 7, 16}) {
      for (int h : {1, 2, 5}) {
        const std::string where = std::to_string(w) + "x" + std::to_string(h) + " depth " + std::to_string(c.depth) +
                                  " shift " + std::to_string(c.shift_x) + std::to_string(c.shift_y) + " cosited " +
                                  std::to_string(c.cosited_x) + std::to_string(c.cosited_y);
        std::vector<PIXEL_YC> flat(static_cast<std::size_t>(w) * h, colour);
        Planes planes(c, w, h);
        reproject::Yc48ToYuv(flat.data(), w, w, h, 0, h, f, planes.Mutable(c, w));
        std::vector<PIXEL_YC> back(flat.size(), PIXEL_YC{-1, -1, -1});
        reproject::YuvToYc48(f, planes.Const(c, w), w, h, 0, h, back.data(), w);
        for (std::size_t i = 0; i < back.size(); ++i)
          ASSERT_TRUE(back[i].y == back[0].y && back[i].cb == back[0].cb && back[i].cr == back[0].cr)
              << where << " pixel " << i;
        EXPECT_LE(std::abs(back[0].y - colour.y), c.depth > 8 ? 4 : 24) << where;
        EXPECT_LE(std::abs(back[0].cr - colour.cr), c.depth > 8 ? 8 : 40) << where;
      }
    }
    if (c.shift_x != 0 || c.shift_y != 0) continue;
    // A smooth picture through 4:4:4: within a code of the depth.
    const int w = 33, h = 9;
    std::vector<PIXEL_YC> smooth;
    for (int r = 0; r < h; ++r)
      for (int x = 0; x < w; ++x) smooth.push_back(yc48::RgbToYc48(7 * x, 255 - 6 * x, 20 * r));
    Planes planes(c, w, h);
    reproject::Yc48ToYuv(smooth.data(), w, w, h, 0, h, f, planes.Mutable(c, w));
    std::vector<PIXEL_YC> back(smooth.size());
    reproject::YuvToYc48(f, planes.Const(c, w), w, h, 0, h, back.data(), w);
    int worst = 0;
    for (std::size_t i = 0; i < back.size(); ++i)
      worst = std::max({worst, std::abs(back[i].y - smooth[i].y), std::abs(back[i].cb - smooth[i].cb),
                        std::abs(back[i].cr - smooth[i].cr)});
    EXPECT_LE(worst, c.depth > 8 ? 12 : 48) << "depth " << c.depth;
  }
}

// Converting in pieces of rows (as threads would) gives the same picture as
// one pass.
TEST(Yuv, RowRangesJoinUp) {
  const YuvCase c{8, 1, 1, true, false, false};
  const reproject::YuvFormat f = FormatOf(c);
  const int w = 37, h = 11;
  std::vector<PIXEL_YC> picture;
  for (int i = 0; i < w * h; ++i) picture.push_back(yc48::RgbToYc48(i % 256, (i * 7) % 256, (i * 13) % 256));
  Planes whole(c, w, h), pieces(c, w, h);
  reproject::Yc48ToYuv(picture.data(), w, w, h, 0, h, f, whole.Mutable(c, w));
  reproject::Yc48ToYuv(picture.data(), w, w, h, 0, 4, f, pieces.Mutable(c, w));
  reproject::Yc48ToYuv(picture.data(), w, w, h, 4, h, f, pieces.Mutable(c, w));
  for (int k = 0; k < 3; ++k) EXPECT_EQ(whole.p8[k], pieces.p8[k]);
  std::vector<PIXEL_YC> a(picture.size()), b(picture.size());
  reproject::YuvToYc48(f, whole.Const(c, w), w, h, 0, h, a.data(), w);
  reproject::YuvToYc48(f, whole.Const(c, w), w, h, 0, 5, b.data(), w);
  reproject::YuvToYc48(f, whole.Const(c, w), w, h, 5, h, b.data(), w);
  EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(PIXEL_YC)));
}

}  // namespace
