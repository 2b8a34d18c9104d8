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
#pragma once

#include <cstddef>

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

bool AllOpaque(const PIXEL_RGBA* rgba, std::size_t count);

// Row `row` of the input (w pixels) into the colour plane, premultiplied
// where `premultiply`, and the alpha plane if not null.
void ToPlanes(const PIXEL_RGBA* in, int w, bool premultiply, PIXEL_YC* colour, PIXEL_YC* alpha);

// One output row from the re-projected planes: `alpha` null when the alpha
// pass did not run (an opaque input with an opaque fill: today's colour,
// alpha 255). `divide`: the colour plane was premultiplied here.
void FromPlanes(const PIXEL_YC* colour, const PIXEL_YC* alpha, int w, Fill fill, bool divide,
                PIXEL_RGBA* out);

}  // namespace editor2
