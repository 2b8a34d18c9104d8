// Transparency around a classic frame function, which knows only YC48
// colour. The colour is premultiplied by alpha and re-projected as it is;
// alpha is re-projected once more as a plane of its own (alpha x 16 in Y,
// no chroma), with the same geometry and sampling; the colour is then
// divided by the re-projected alpha. Nothing under alpha 0 reaches a
// visible edge, and a bilinear edge mixes colour by coverage.
//
// Which output pixels no input direction covers: the alpha pass runs with
// the green fill, whose chroma is not 0, while every sampled pixel of the
// alpha plane has chroma 0.
//
// The nearest sampler copies one input pixel or the fill to each output
// pixel, so for it one run on an index plane does the work of both: each
// input pixel carries its own index, and the output row gathers colour and
// alpha from the input by the indices that arrive (FromIndexRow). The bytes
// are those of the two planes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aviutl_filter.h"
#include "filter2_records.h"

namespace editor2 {

// Whether the editor's RGBA8 frames carry premultiplied colour. Taken as
// straight (the usual meaning of an 8-bit R8G8B8A8 exchange frame); set to
// true if the editor hands over premultiplied colour.
constexpr bool kEditorAlphaPremultiplied = false;

// The fill of uncovered pixels.
enum class Fill { kBlack, kGreen, kTransparent };

// Alpha a (0..255) in the alpha plane's Y.
constexpr int kAlphaScale = 16;
constexpr int kOpaqueScaled = 255 * kAlphaScale;

// round(v * a / 255), halves away from zero (255 is odd: no quotient is a
// half), for a YC48 value v and alpha a in 0..255. With m = |v * a| + 127 <
// 2^24, floor(m / 255) = m * 8421505 >> 31: 255 * 8421505 = 2^31 + 127, so
// the product over 2^31 exceeds m / 255 by 127 m / (255 * 2^31) < 1 / 255,
// less than the distance from m / 255 (whose fraction is at most 254/255)
// to the next integer.
inline int Premultiplied(int v, int a) {
  const int p = v * a;
  const int sign = p >> 31;  // 0 or -1
  const std::uint32_t m = static_cast<std::uint32_t>((p ^ sign) - sign) + 127u;
  const int q = static_cast<int>(static_cast<std::uint64_t>(m) * 8421505u >> 31);
  return (q ^ sign) - sign;
}

// round(v * 4080 / scaled), halves away from zero, limited to a short, for
// 0 < scaled <= 4080: the premultiplied value divided back. With n = 2 |v *
// 4080| + scaled < 2^28 and the divisor 2 scaled <= 8160, the quotient
// n / (2 scaled) rounded to double is off by less than 2^-25, less than the
// distance 1/8160 from a quotient that is not an integer to the next one,
// and exact when it is one: truncating it is the floor.
inline int Unpremultiplied(int v, int scaled) {
  const int num = v * kOpaqueScaled;
  const int sign = num >> 31;
  const int n = 2 * ((num ^ sign) - sign) + scaled;
  const int k = static_cast<int>(static_cast<double>(n) / static_cast<double>(2 * scaled));
  const int q = (k ^ sign) - sign;
  return q < -32768 ? -32768 : q > 32767 ? 32767 : q;
}

// Row of the input (w pixels) as YC48 colour, premultiplied where
// `premultiply` (at alpha 255 that is the colour itself, so a chunk of
// opaque pixels is left as converted), and where `alpha` is not null the
// row of the alpha plane (ToAlphaRow) in the same pass over the input.
// Returns whether every alpha of the row is 255.
bool ToColourRow(const PIXEL_RGBA* in, int w, bool premultiply, PIXEL_YC* colour, PIXEL_YC* alpha = nullptr);

// Row of the alpha plane: alpha x 16 in Y, no chroma.
void ToAlphaRow(const PIXEL_RGBA* in, int w, PIXEL_YC* alpha);

// The index plane: at most kMaxIndexedPixels input pixels, pixel `first + i`
// of the input at out[i]. A mark has Cr 1, which neither fill has.
constexpr std::uint32_t kMaxIndexedPixels = 1u << 30;
void ToIndexRow(std::uint32_t first, int w, PIXEL_YC* out);

// One output row from the re-projected planes: `alpha` null when the alpha
// pass did not run (an opaque input with an opaque fill: today's colour,
// alpha 255). `divide`: the colour plane was premultiplied here.
void FromPlanes(const PIXEL_YC* colour, const PIXEL_YC* alpha, int w, Fill fill, bool divide,
                PIXEL_RGBA* out);

// One output row of the nearest sampler run on the index plane of `rgba`
// (`count` pixels): what FromPlanes gives for the colour plane
// (premultiplied where `premultiply`) and the alpha plane of that input.
// A value that is no mark of an input pixel is the fill.
void FromIndexRow(const PIXEL_YC* marks, int w, const PIXEL_RGBA* rgba, std::size_t count, Fill fill,
                  bool premultiply, PIXEL_RGBA* out);

}  // namespace editor2
