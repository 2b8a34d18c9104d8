// The 64-bit adapter's transparency arithmetic, on Linux: an opaque input
// keeps the classic conversion, premultiplying and dividing back returns
// the colour, the fill mark and the fill choice decide the alpha, and the
// nearest sampler's index plane gives the bytes of the two planes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "colour.h"
#include "transparency.h"
#include "unpremultiply_lanes.h"

namespace {

using editor2::Fill;
using editor2::PIXEL_RGBA;

// One row through both planes and back, as the adapter runs it when the
// frame function leaves the planes unchanged (black fill, premultiplied).
struct Planes {
  std::vector<PIXEL_YC> colour, alpha;
  std::vector<PIXEL_RGBA> out;
};

Planes RoundTrip(const std::vector<PIXEL_RGBA>& in) {
  const int w = static_cast<int>(in.size());
  Planes p{std::vector<PIXEL_YC>(in.size()), std::vector<PIXEL_YC>(in.size()), std::vector<PIXEL_RGBA>(in.size())};
  editor2::ToColourRow(in.data(), w, true, p.colour.data());
  editor2::ToAlphaRow(in.data(), w, p.alpha.data());
  editor2::FromPlanes(p.colour.data(), p.alpha.data(), w, Fill::kBlack, true, p.out.data());
  return p;
}

TEST(Transparency, OpaqueInputIsTheClassicConversion) {
  std::vector<PIXEL_RGBA> in;
  for (int v = 0; v < 256; v += 5) {
    in.push_back(PIXEL_RGBA{static_cast<std::uint8_t>(v), 17, static_cast<std::uint8_t>(255 - v), 255});
  }
  const int w = static_cast<int>(in.size());
  const Planes planes = RoundTrip(in);
  const std::vector<PIXEL_YC>& colour = planes.colour;
  const std::vector<PIXEL_YC>& alpha = planes.alpha;
  const std::vector<PIXEL_RGBA>& out = planes.out;
  for (int i = 0; i < w; ++i) {
    const PIXEL_YC expected = yc48::RgbToYc48(in[i].r, in[i].g, in[i].b);
    EXPECT_EQ(colour[i].y, expected.y);
    EXPECT_EQ(colour[i].cr, expected.cr);
    EXPECT_EQ(alpha[i].y, 255 * editor2::kAlphaScale);
    EXPECT_EQ(out[i].a, 255);
  }
  EXPECT_TRUE(editor2::ToColourRow(in.data(), w, true, std::vector<PIXEL_YC>(in.size()).data()));
}

TEST(Transparency, PremultipliedColourDividesBack) {
  // Every alpha from 1 to 255 on one colour: the alpha comes back exactly,
  // the colour within the rounding of the 12-bit premultiplied value.
  std::vector<PIXEL_RGBA> in;
  for (int a = 1; a < 256; ++a) in.push_back(PIXEL_RGBA{200, 40, 120, static_cast<std::uint8_t>(a)});
  const int w = static_cast<int>(in.size());
  const std::vector<PIXEL_RGBA> out = RoundTrip(in).out;
  for (int i = 0; i < w; ++i) {
    EXPECT_EQ(out[i].a, in[i].a);
    const int tolerance = in[i].a >= 32 ? 1 : 8;  // one 12-bit step is up to 255 / a 8-bit levels
    EXPECT_NEAR(out[i].r, 200, tolerance) << "alpha " << int(in[i].a);
    EXPECT_NEAR(out[i].g, 40, tolerance) << "alpha " << int(in[i].a);
    EXPECT_NEAR(out[i].b, 120, tolerance) << "alpha " << int(in[i].a);
  }
  EXPECT_FALSE(editor2::ToColourRow(in.data(), w, true, std::vector<PIXEL_YC>(in.size()).data()));
}

TEST(Transparency, FillMarkAndChoiceDecideTheAlpha) {
  // Pixel 0 sampled at alpha 0, pixel 1 the green mark of an uncovered pixel.
  const PIXEL_YC alpha[2] = {{0, 0, 0}, {2404, -1357, -1715}};
  const PIXEL_YC colour[2] = {{100, 10, 10}, {2404, -1357, -1715}};
  PIXEL_RGBA out[2];
  editor2::FromPlanes(colour, alpha, 2, Fill::kTransparent, true, out);
  EXPECT_EQ(out[0].a, 0);
  EXPECT_EQ(out[0].r, 0);  // nothing under alpha 0 keeps a colour
  EXPECT_EQ(out[1].a, 0);
  editor2::FromPlanes(colour, alpha, 2, Fill::kGreen, true, out);
  EXPECT_EQ(out[0].a, 0);
  EXPECT_EQ(out[1].a, 255);
  EXPECT_GT(out[1].g, 200);  // the fill colour, opaque
}

TEST(Transparency, RoundingIsExactOverTheWholeRange) {
  // Premultiplying: every short value and every alpha; dividing back: every
  // value a re-projected premultiplied YC48 colour can take, and beyond.
  for (int v = -32768; v <= 32767; ++v) {
    for (int a = 0; a <= 255; ++a) {
      const int p = v * a;
      const int expected = p >= 0 ? (p + 127) / 255 : -((127 - p) / 255);
      ASSERT_EQ(editor2::Premultiplied(v, a), expected) << v << " x " << a;
    }
  }
  for (int v = -8000; v <= 8000; ++v) {
    for (int s = 1; s <= editor2::kOpaqueScaled; ++s) {
      const long long num = 4080LL * v;
      long long q = num >= 0 ? (2 * num + s) / (2 * s) : -((s - 2 * num) / (2 * s));
      q = q < -32768 ? -32768 : q > 32767 ? 32767 : q;
      ASSERT_EQ(editor2::Unpremultiplied(v, s), q) << v << " / " << s;
    }
  }
}

#if HOST_HAS_AVX2
// 32 quotients of the finishing kernels' lanes, each over its own divisor:
// two groups of sixteen AVX2 lanes, or where AVX-512 runs one group of 32.
HOST_AVX2 void VectorQuotientsAvx2(const short* v, const short* scaled, short* out) {
  for (int g = 0; g < 32; g += 16) {
    const __m256i q = editor2::Unpremultiplied16(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v + g)),
        editor2::DivisorsOf(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(scaled + g))));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + g), q);
  }
}

HOST_AVX512 void VectorQuotientsAvx512(const short* v, const short* scaled, short* out) {
  _mm512_storeu_si512(out, editor2::Unpremultiplied32(_mm512_loadu_si512(v),
                                                      editor2::DivisorsOf32(_mm512_loadu_si512(scaled))));
}

// The lanes take the reciprocal of each divisor once and multiply: the same
// quotients as the division, above all where the quotient is a whole number.
// Every lane meets every divisor, the lanes of one group different ones.
TEST(Transparency, VectorQuotientsAreTheDivision) {
  if (!HasAvx2()) GTEST_SKIP() << "the AVX2 kernels do not run here";
  const auto quotients = HasAvx512() ? VectorQuotientsAvx512 : VectorQuotientsAvx2;
  std::vector<short> values;
  for (int v = -32768; v < -31744; ++v) values.push_back(static_cast<short>(v));
  for (int v = -8000; v <= 8000; ++v) values.push_back(static_cast<short>(v));
  for (int v = 31744; v <= 32767; ++v) values.push_back(static_cast<short>(v));
  while (values.size() % 32 != 0) values.push_back(0);
  short divisors[32], q[32];
  for (int s = 0; s < editor2::kOpaqueScaled; ++s) {
    for (int k = 0; k < 32; ++k) divisors[k] = static_cast<short>((s + 257 * k) % editor2::kOpaqueScaled + 1);
    for (std::size_t i = 0; i < values.size(); i += 32) {
      quotients(&values[i], divisors, q);
      for (int k = 0; k < 32; ++k) {
        ASSERT_EQ(q[k], editor2::Unpremultiplied(values[i + k], divisors[k])) << values[i + k] << " / " << divisors[k];
      }
    }
  }
}
#endif

TEST(Transparency, PlaneRowsAreThePixelFormulasForEveryColour) {
  // Every 8-bit colour, each with an alpha that runs through 0..255 (and
  // whole opaque groups of eight), in rows of an odd width: the colour plane
  // is RgbToYc48, premultiplied or not, and the alpha plane alpha x 16,
  // written alone or in the colour's pass.
  const int w = 4099;
  std::vector<PIXEL_RGBA> in(w);
  std::vector<PIXEL_YC> colour(w), straight(w), alpha(w), alpha_with_colour(w);
  for (std::uint32_t first = 0; first < (1u << 24); first += w) {
    bool all_opaque = true;
    for (int i = 0; i < w; ++i) {
      const std::uint32_t v = (first + static_cast<std::uint32_t>(i)) & 0xFFFFFFu;
      const std::uint8_t a = (v >> 5) % 3 == 0 ? 255 : static_cast<std::uint8_t>(v * 7 + (v >> 12));
      in[i] = PIXEL_RGBA{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                         static_cast<std::uint8_t>(v >> 16), a};
      all_opaque = all_opaque && a == 255;
    }
    ASSERT_EQ(editor2::ToColourRow(in.data(), w, true, colour.data(), alpha_with_colour.data()), all_opaque);
    editor2::ToColourRow(in.data(), w, false, straight.data());
    editor2::ToAlphaRow(in.data(), w, alpha.data());
    for (int i = 0; i < w; ++i) {
      const PIXEL_YC c = yc48::RgbToYc48(in[i].r, in[i].g, in[i].b);
      const int a = in[i].a;
      const PIXEL_YC p{static_cast<short>(editor2::Premultiplied(c.y, a)),
                       static_cast<short>(editor2::Premultiplied(c.cb, a)),
                       static_cast<short>(editor2::Premultiplied(c.cr, a))};
      const PIXEL_YC s{static_cast<short>(a * editor2::kAlphaScale), 0, 0};
      ASSERT_EQ(std::memcmp(&colour[i], &p, sizeof(p)), 0) << "pixel " << first + i;
      ASSERT_EQ(std::memcmp(&straight[i], &c, sizeof(c)), 0) << "pixel " << first + i;
      ASSERT_EQ(std::memcmp(&alpha[i], &s, sizeof(s)), 0) << "pixel " << first + i;
      ASSERT_EQ(std::memcmp(&alpha_with_colour[i], &s, sizeof(s)), 0) << "pixel " << first + i;
    }
  }
}

TEST(Transparency, OutputWordsAreTheEditorsFormulasForEveryShort) {
  // Every luma with a sweep of red chroma, then a grid of both chroma
  // values with any luma, in rows of an odd width: the words of an opaque
  // output are Yc48ToRgb's bytes and alpha 255.
  std::mt19937 rng(3);
  std::vector<PIXEL_YC> row;
  std::vector<PIXEL_RGBA> out;
  auto check = [&]() {
    out.resize(row.size());
    editor2::FromPlanes(row.data(), nullptr, static_cast<int>(row.size()), Fill::kBlack, false, out.data());
    for (std::size_t i = 0; i < row.size(); ++i) {
      PIXEL_RGBA e{0, 0, 0, 255};
      yc48::Yc48ToRgb(row[i], &e.r, &e.g, &e.b);
      ASSERT_EQ(std::memcmp(&out[i], &e, sizeof(e)), 0)
          << "pixel " << row[i].y << " " << row[i].cb << " " << row[i].cr;
    }
    row.clear();
  };
  for (int cr = -32768; cr <= 32767; cr += 257) {
    for (int y = -32768; y <= 32767; ++y) {
      row.push_back(PIXEL_YC{static_cast<short>(y), static_cast<short>(rng()), static_cast<short>(cr)});
    }
    row.push_back(PIXEL_YC{32767, 32767, 32767});
    row.push_back(PIXEL_YC{-32768, -32768, -32768});
    row.push_back(PIXEL_YC{4096, -2048, 2047});
    check();
  }
  for (int cb = -32768; cb <= 32767; cb += 17) {
    for (int cr = -32768; cr <= 32767; cr += 17) {
      row.push_back(PIXEL_YC{static_cast<short>(rng()), static_cast<short>(cb), static_cast<short>(cr)});
    }
    check();
  }
}

TEST(Transparency, FinishedWordsAreThePixelFormulasForEveryAlpha) {
  // Re-projected planes as a bilinear run leaves them: every alpha-plane
  // luma from below 0 to above 4080, some pixels uncovered, colours across
  // the whole short range, in rows of an odd width whose every chunk holds a
  // translucent pixel (so that dividing is asked for everywhere). Each word
  // is the straight colour's Yc48ToRgb with its alpha, or 0 at alpha 0.
  std::mt19937 rng(11);
  const int w = 1001;
  for (Fill fill : {Fill::kBlack, Fill::kTransparent}) {
    for (bool divide : {false, true}) {
      for (int first = -40; first <= 4120; first += w) {
        std::vector<PIXEL_YC> colour(w), alpha(w);
        for (int i = 0; i < w; ++i) {
          const bool uncovered = rng() % 7 == 0 && i % 256 != 0;
          const short luma = static_cast<short>(i % 256 == 0 ? 2000 : first + i);
          alpha[i] = uncovered ? PIXEL_YC{2404, -1357, -1715} : PIXEL_YC{luma, 0, 0};
          colour[i] = PIXEL_YC{static_cast<short>(rng()), static_cast<short>(rng()), static_cast<short>(rng())};
        }
        std::vector<PIXEL_RGBA> out(w);
        editor2::FromPlanes(colour.data(), alpha.data(), w, fill, divide, out.data());
        for (int i = 0; i < w; ++i) {
          const bool uncovered = alpha[i].cb != 0;
          const int scaled = std::min(std::max(static_cast<int>(alpha[i].y), 0), editor2::kOpaqueScaled);
          const int a = uncovered ? (fill == Fill::kTransparent ? 0 : 255) : (scaled + 8) / 16;
          PIXEL_YC yc = colour[i];
          if (divide && !uncovered) {
            const int s = std::max(scaled, 1);
            yc = PIXEL_YC{static_cast<short>(editor2::Unpremultiplied(yc.y, s)),
                          static_cast<short>(editor2::Unpremultiplied(yc.cb, s)),
                          static_cast<short>(editor2::Unpremultiplied(yc.cr, s))};
          }
          PIXEL_RGBA e{0, 0, 0, 0};
          if (a != 0) {
            yc48::Yc48ToRgb(yc, &e.r, &e.g, &e.b);
            e.a = static_cast<std::uint8_t>(a);
          }
          ASSERT_EQ(std::memcmp(&out[i], &e, sizeof(e)), 0) << "pixel " << i << " alpha luma " << alpha[i].y;
        }
      }
    }
  }
}

TEST(Transparency, MarksOfNoInputPixelAreTheFill) {
  // Values with a mark's Cr that name no input pixel (past the end, or with
  // a negative half) are the fill, never a read, in whole groups too.
  const std::vector<PIXEL_RGBA> in(10, PIXEL_RGBA{1, 2, 3, 4});
  std::vector<PIXEL_YC> marks;
  for (int k = 0; k < 40; ++k) {
    const PIXEL_YC bad[4] = {{static_cast<short>(10 + k), 0, 1}, {32767, 32767, 1}, {-1, 0, 1}, {5, -3, 1}};
    marks.push_back(bad[k % 4]);
  }
  const int n = static_cast<int>(marks.size());
  const std::vector<PIXEL_YC> uncovered(marks.size(), PIXEL_YC{2404, -1357, -1715});
  for (Fill fill : {Fill::kBlack, Fill::kTransparent}) {
    std::vector<PIXEL_RGBA> by_index(marks.size()), by_planes(marks.size());
    editor2::FromIndexRow(marks.data(), n, in.data(), in.size(), fill, true, by_index.data());
    editor2::FromPlanes(marks.data(), uncovered.data(), n, fill, true, by_planes.data());
    ASSERT_EQ(std::memcmp(by_index.data(), by_planes.data(), sizeof(PIXEL_RGBA) * marks.size()), 0);
  }
}

TEST(Transparency, IndexPlaneGivesTheBytesOfTheTwoPlanes) {
  // A random nearest re-projection: each output pixel copies one input pixel
  // or is the fill. The index plane's marks must finish to the same bytes as
  // the colour and alpha planes re-projected the same way, for each fill,
  // with and without transparency in the input, with and without uncovered
  // pixels (an opaque chunk with none is copied from the input).
  std::mt19937 rng(7);
  const int in_w = 300;
  const int in_h = 5;
  const int out_w = 700;  // several chunks
  const PIXEL_YC green{2404, -1357, -1715};
  for (bool transparent_input : {false, true}) {
    std::vector<PIXEL_RGBA> in(static_cast<std::size_t>(in_w) * in_h);
    for (PIXEL_RGBA& p : in) {
      const unsigned v = rng();
      const unsigned a = rng() % 4;
      p = PIXEL_RGBA{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                     static_cast<std::uint8_t>(v >> 16),
                     static_cast<std::uint8_t>(!transparent_input ? 255 : a == 0 ? 0 : a == 1 ? 255 : v >> 24)};
    }
    std::vector<PIXEL_YC> colour_plane(in.size()), alpha_plane(in.size()), index_plane(in.size());
    bool opaque = true;
    for (int row = 0; row < in_h; ++row) {
      const std::size_t at = static_cast<std::size_t>(row) * in_w;
      opaque = editor2::ToColourRow(in.data() + at, in_w, true, colour_plane.data() + at) && opaque;
      editor2::ToAlphaRow(in.data() + at, in_w, alpha_plane.data() + at);
      editor2::ToIndexRow(static_cast<std::uint32_t>(at), in_w, index_plane.data() + at);
    }
    ASSERT_EQ(opaque, !transparent_input);
    for (int k = 0; k < 6; ++k) {
      const Fill fill = k % 3 == 0 ? Fill::kBlack : k % 3 == 1 ? Fill::kGreen : Fill::kTransparent;
      const bool all_covered = k >= 3;
      const PIXEL_YC fill_colour = fill == Fill::kGreen ? green : PIXEL_YC{0, 0, 0};
      std::vector<PIXEL_YC> colour(out_w), alpha(out_w), marks(out_w);
      for (int i = 0; i < out_w; ++i) {
        const bool covered = all_covered || rng() % 5 != 0;
        const std::size_t from = rng() % in.size();
        colour[i] = covered ? colour_plane[from] : fill_colour;
        alpha[i] = covered ? alpha_plane[from] : green;  // the alpha pass runs with the green fill
        marks[i] = covered ? index_plane[from] : fill_colour;
      }
      // The planes as the adapter finishes them: no alpha pass for an opaque
      // input with an opaque fill, no division for an opaque input.
      const bool alpha_pass = transparent_input || fill == Fill::kTransparent;
      std::vector<PIXEL_RGBA> by_planes(out_w), by_index(out_w);
      editor2::FromPlanes(colour.data(), alpha_pass ? alpha.data() : nullptr, out_w, fill, transparent_input,
                          by_planes.data());
      editor2::FromIndexRow(marks.data(), out_w, in.data(), in.size(), fill, true, by_index.data());
      for (int i = 0; i < out_w; ++i) {
        ASSERT_EQ(std::memcmp(&by_planes[i], &by_index[i], sizeof(PIXEL_RGBA)), 0)
            << "pixel " << i << " fill " << static_cast<int>(fill) << " transparent " << transparent_input;
      }
    }
  }
}

}  // namespace
