// The editor's colour formulas: known values, and the measured loss of a
// round trip RGB -> YC48 -> RGB over every 8-bit colour.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "colour.h"

namespace {

using reproject::RgbToYc48;
using reproject::Yc48ToRgb;

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
    const PIXEL_YC p = RgbToYc48(c.r, c.g, c.b);
    EXPECT_EQ(p.y, c.y) << c.r << "," << c.g << "," << c.b;
    EXPECT_EQ(p.cb, c.cb) << c.r << "," << c.g << "," << c.b;
    EXPECT_EQ(p.cr, c.cr) << c.r << "," << c.g << "," << c.b;
  }
}

TEST(Colour, OutOfRangeYc48IsClampedNotWrapped) {
  std::uint8_t r, g, b;
  Yc48ToRgb(PIXEL_YC{32767, 32767, 32767}, &r, &g, &b);
  EXPECT_EQ(r, 255);
  EXPECT_EQ(b, 255);
  Yc48ToRgb(PIXEL_YC{-32768, -32768, -32768}, &r, &g, &b);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(b, 0);
  Yc48ToRgb(PIXEL_YC{4096, 0, 0}, &r, &g, &b);
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
        Yc48ToRgb(RgbToYc48(r, g, b), &r2, &g2, &b2);
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

}  // namespace
