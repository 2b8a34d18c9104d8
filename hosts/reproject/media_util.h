// Small helpers shared by the reader and the writer.
#pragma once

#include <string>

extern "C" {
#include <libavutil/rational.h>
}

#include "media_input.h"

namespace reproject {

std::string AvError(int code);
inline AVRational ToAv(Rational r) { return AVRational{r.num, r.den}; }
inline Rational FromAv(AVRational r) { return Rational{r.num, r.den}; }
// FFmpeg's own messages stay off the terminal: every failure is reported by
// this program in one line.
void QuietLibraryLog();

}  // namespace reproject
