// The 64-bit adapter's transparency arithmetic, on Linux: an opaque input
// keeps the classic conversion, premultiplying and dividing back returns
// the colour, and the fill mark and the fill choice decide the alpha.
#include <gtest/gtest.h>

#include <vector>

#include "colour.h"
#include "transparency.h"

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
  editor2::ToPlanes(in.data(), w, true, p.colour.data(), p.alpha.data());
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
  EXPECT_TRUE(editor2::AllOpaque(in.data(), in.size()));
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
  EXPECT_FALSE(editor2::AllOpaque(in.data(), in.size()));
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

}  // namespace
