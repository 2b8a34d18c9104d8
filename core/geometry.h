// Shared values of the re-projection pipeline.
//
// Coordinate systems
// - Output ray (X, Y, Z): a unit vector in the output's frame. For the
//   perspective and dome filters X runs along the output row (right), Y down
//   the output column, Z along the view axis. For the panorama filter Z is the
//   pole and X, Y span the equator.
// - Source angles: theta is the polar angle from the input's axis (or from the
//   panorama's pole), phi the azimuth about it; radians, single precision.
// - Source position (x, y): source pixels, x to the right, y down. With the
//   pixel-edge convention pixel c spans [c, c+1); with the pixel-centre
//   convention it spans [c-0.5, c+0.5).
//
// One output pixel: ray -> RotateToSource -> SourceAngles -> MapToSource ->
// SourcePoint -> SampleOrFill -> one PIXEL_YC of the scratch frame.
//
// Precision: geometry is float; sin, cos, tan, atan, acos and sqrt are the C
// library's double functions on widened floats. Every change of precision is
// written as a cast so each line can be checked against its formula.
#pragma once

#include <cstdint>

#include "pixel.h"

namespace lens {

// The single-precision pi used everywhere, also where it is widened.
constexpr float kPi = 3.1415927f;

enum class SourceProjection : std::int32_t {
  Equidistant = 0,
  Orthographic = 1,
  Equisolid = 2,
  Central = 3,
  Equirectangular = 4,
};
constexpr int kSourceProjectionCount = 5;

// Cosines and sines of the view angles, each a double result rounded to float.
struct ViewRotation {
  float cos_roll;
  float sin_roll;
  float cos_azimuth;
  float sin_azimuth;
  float cos_pitch;
  float sin_pitch;
};

struct SourceAngles {
  float theta;  // polar angle from the input's axis, 0..pi
  float phi;    // azimuth about it, -pi/2..3pi/2
};

struct SourcePoint {
  float x;
  float y;
  bool outside;  // the lens model rejected the direction; x and y are meaningless
};

// PixelEdge: integer coordinates are pixel edges (perspective and dome
// filters). PixelCentre: integer coordinates are pixel centres (panorama).
enum class PixelConvention { PixelEdge, PixelCentre };

// How a filter's pixel grid meets the samplers and the panorama model.
struct PixelRules {
  PixelConvention convention;
  bool nearest_upper_open;          // the nearest sampler's bounds exclude W + 0.5 and H + 0.5
  bool panorama_azimuth_in_double;  // a panorama input's azimuth is wrapped and scaled in double
};

constexpr PIXEL_YC kBlack = {0, 0, 0};
// The editor's pure green: 0x0964, 0xFAB3, 0xF94D as 16-bit words.
constexpr PIXEL_YC GreenBack = {2404, -1357, -1715};

}  // namespace lens
