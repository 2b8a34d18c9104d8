// make_sample: draws an equirectangular test scene in which a wrong rotation or
// a mirror shows at a glance: a lat/long grid every 15 degrees, a sky above and
// a ground below the horizon, the compass letters N E S W standing on the
// horizon (N in the middle, E to its right), a sun up in the north-east, and a
// checkered floor.
//
//   make_sample OUTPUT.png [WIDTH]     (height = WIDTH / 2, default 2048)
//
// Longitude runs from -180 degrees at the left edge to +180 at the right
// (0 = north, +90 = east); latitude from +90 at the top to -90 at the bottom.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "colour.h"
#include "media_output.h"
#include "output_file.h"
#include "output_file.h"

namespace {

struct Rgb {
  double r, g, b;
};

struct Stroke {
  double x0, y0, x1, y1;  // in a letter box 0..1 wide and tall, y up
};

// A tiny stroke font, just the four compass letters.
const std::vector<Stroke>& Glyph(char c) {
  static const std::vector<Stroke> n = {{0, 0, 0, 1}, {0, 1, 1, 0}, {1, 0, 1, 1}};
  static const std::vector<Stroke> e = {{0, 0, 0, 1}, {0, 1, 1, 1}, {0, 0.5, 0.75, 0.5}, {0, 0, 1, 0}};
  static const std::vector<Stroke> s = {{1, 1, 0, 1}, {0, 1, 0, 0.5}, {0, 0.5, 1, 0.5},
                                        {1, 0.5, 1, 0}, {1, 0, 0, 0}, {1, 1, 1, 0.85}};
  static const std::vector<Stroke> w = {{0, 1, 0.25, 0}, {0.25, 0, 0.5, 0.6}, {0.5, 0.6, 0.75, 0},
                                        {0.75, 0, 1, 1}};
  switch (c) {
    case 'N': return n;
    case 'E': return e;
    case 'S': return s;
    default: return w;
  }
}

double SegmentDistance(double px, double py, const Stroke& s) {
  const double dx = s.x1 - s.x0, dy = s.y1 - s.y0;
  double t = ((px - s.x0) * dx + (py - s.y0) * dy) / (dx * dx + dy * dy);
  t = t < 0.0 ? 0.0 : (t > 1.0 ? 1.0 : t);
  const double ex = px - (s.x0 + t * dx), ey = py - (s.y0 + t * dy);
  return std::sqrt(ex * ex + ey * ey);
}

double WrapDegrees(double d) {
  while (d > 180.0) d -= 360.0;
  while (d < -180.0) d += 360.0;
  return d;
}

// Colour of the scene in the direction (lon, lat), degrees.
Rgb Scene(double lon, double lat) {
  Rgb c;
  if (lat >= 0.0) {  // sky: pale at the horizon, deep blue at the zenith
    const double t = lat / 90.0;
    c = {0.62 - 0.45 * t, 0.78 - 0.45 * t, 0.95 - 0.25 * t};
  } else if (lat > -15.0) {  // meadow
    c = {0.30, 0.55, 0.22};
  } else {  // checkered floor, 15 x 7.5 degree cells
    const int a = static_cast<int>(std::floor((lon + 180.0) / 15.0));
    const int b = static_cast<int>(std::floor(-lat / 7.5));
    c = ((a + b) & 1) ? Rgb{0.78, 0.70, 0.55} : Rgb{0.35, 0.25, 0.18};
  }
  // Grid every 15 degrees.
  const double glon = std::fabs(std::remainder(lon, 15.0));
  const double glat = std::fabs(std::remainder(lat, 15.0));
  const double line = 0.18;
  if (glon < line || glat < line) c = {c.r * 0.55 + 0.45, c.g * 0.55 + 0.45, c.b * 0.55 + 0.45};
  // The prime meridian, red, as a thin line on the floor and sky.
  if (std::fabs(lon) < 0.3) c = {0.9, 0.1, 0.1};
  // The horizon.
  if (std::fabs(lat) < 0.45) c = {1.0, 1.0, 1.0};
  // A sun in the north-east, 40 degrees up.
  {
    const double sl = 45.0 * M_PI / 180.0, sb = 40.0 * M_PI / 180.0;
    const double l = lon * M_PI / 180.0, b = lat * M_PI / 180.0;
    const double cosd = std::sin(b) * std::sin(sb) + std::cos(b) * std::cos(sb) * std::cos(l - sl);
    if (cosd > std::cos(6.0 * M_PI / 180.0)) c = {1.0, 0.85, 0.15};
  }
  // Compass letters standing on the horizon.
  struct Letter {
    char c;
    double lon;
    Rgb colour;
  };
  static const Letter letters[] = {{'N', 0.0, {0.85, 0.05, 0.05}},
                                   {'E', 90.0, {0.95, 0.55, 0.0}},
                                   {'S', 180.0, {0.1, 0.1, 0.75}},
                                   {'W', -90.0, {0.45, 0.0, 0.55}}};
  const double box_w = 12.0, box_h = 16.0, bottom = 3.0, stroke = 0.09;
  for (const Letter& letter : letters) {
    const double x = (WrapDegrees(lon - letter.lon) + box_w / 2.0) / box_w;
    const double y = (lat - bottom) / box_h;
    if (x < -0.2 || x > 1.2 || y < -0.2 || y > 1.2) continue;
    for (const Stroke& s : Glyph(letter.c)) {
      if (SegmentDistance(x, y * (box_h / box_w), {s.x0, s.y0 * (box_h / box_w), s.x1, s.y1 * (box_h / box_w)}) <
          stroke) {
        c = letter.colour;
      }
    }
  }
  return c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: make_sample OUTPUT.png [WIDTH]\n");
    return 2;
  }
  const int w = argc == 3 ? std::atoi(argv[2]) : 2048;
  if (w < 64 || w % 2 != 0 || w > 16384) {
    std::fprintf(stderr, "make_sample: WIDTH must be even, 64..16384\n");
    return 2;
  }
  const int h = w / 2;
  std::vector<std::uint8_t> rgb(static_cast<size_t>(3) * w * h);
  constexpr int kSub = 3;  // kSub x kSub samples per pixel smooth the edges
  for (int row = 0; row < h; ++row) {
    for (int col = 0; col < w; ++col) {
      double r = 0, g = 0, b = 0;
      for (int sy = 0; sy < kSub; ++sy) {
        for (int sx = 0; sx < kSub; ++sx) {
          const double lon = ((col + (sx + 0.5) / kSub) / w) * 360.0 - 180.0;
          const double lat = 90.0 - ((row + (sy + 0.5) / kSub) / h) * 180.0;
          const Rgb c = Scene(lon, lat);
          r += c.r, g += c.g, b += c.b;
        }
      }
      std::uint8_t* p = &rgb[3 * (static_cast<size_t>(row) * w + col)];
      const double n = kSub * kSub;
      p[0] = static_cast<std::uint8_t>(std::lround(255.0 * r / n));
      p[1] = static_cast<std::uint8_t>(std::lround(255.0 * g / n));
      p[2] = static_cast<std::uint8_t>(std::lround(255.0 * b / n));
    }
  }
  // Written through YC48, which gives every 8-bit colour back unchanged.
  std::vector<PIXEL_YC> yc(static_cast<size_t>(w) * h);
  yc48::RgbFrameToYc48(rgb.data(), 3 * w, w, h, yc.data(), w);
  const std::string output = argv[1];
  reproject::OutputFile file(output);
  std::string error;
  reproject::WriterSettings settings;
  settings.request.path = output;
  std::unique_ptr<reproject::MediaWriter> writer;
  if (file.Create(&error) && reproject::PlanPicture(output, &settings.plan, &error)) {
    settings.fd = file.fd();
    settings.w = w;
    settings.h = h;
    settings.time_base = {1, 25};
    settings.frame_rate = {25, 1};
    writer = reproject::MediaWriter::Open(settings, nullptr, &error);
  }
  if (!writer || !writer->WriteVideo(yc.data(), w, 0, &error) || !writer->Finish(&error) ||
      !file.Commit(true, &error)) {
    std::fprintf(stderr, "make_sample: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
