// Double-precision sin, cos, tan, atan and acos over arrays.
//
// On x86-64 Linux with AVX2 (or AVX-512) these run glibc's vector functions
// (libmvec), four or eight lanes per call; elsewhere (other CPUs, the
// Windows builds) the sine and cosine are the branch-free estimates of
// sincos_estimate.h and the others the C library's scalar functions. The
// results are within a few units in the last place of the exact value but
// need not equal the scalar C library's bits. Callers that round a result to
// float therefore accept a lane only when the rounding cannot depend on that
// error (RoundsSafely) and recompute the other lanes with the scalar code;
// the batched pipeline (core/batch/) does so everywhere.
#pragma once

#include <cstdint>
#include <cstring>

namespace lens {
namespace vmath {

enum class MathPath { Scalar, Avx2, Avx512 };

// The path chosen once for this process, from what the CPU supports.
MathPath ActivePath();
// Whether a path can run on this CPU (Scalar always can).
bool PathAvailable(MathPath path);
const char* PathName(MathPath path);

// out[k] = f(in[k]) for k < n, on the active path. in and out may be the
// same array; n may be any count, including 0.
void Acos(const double* in, double* out, int n);
void Atan(const double* in, double* out, int n);
void Sin(const double* in, double* out, int n);
void Cos(const double* in, double* out, int n);
void Tan(const double* in, double* out, int n);

// The same on a chosen path (for tests); an unavailable path runs Scalar.
void Acos(MathPath path, const double* in, double* out, int n);
void Atan(MathPath path, const double* in, double* out, int n);
void Sin(MathPath path, const double* in, double* out, int n);
void Cos(MathPath path, const double* in, double* out, int n);
void Tan(MathPath path, const double* in, double* out, int n);

// Relative bound used for the error of a double value computed from vector
// results: 2^-40 is about 4000 units in the last place, far above the few
// units that the vector functions and the following double operations add.
constexpr double kMargin = 0x1p-40;

// True when every double within `margin` of `value` rounds to the same float,
// and that float has a definite sign. Then the exactly computed value, which
// lies within the margin, rounds to float(value) too. NaN, infinities and
// intervals that touch zero answer false (the sign of a zero result must come
// from the exact computation).
// (Written without branches so that loops over lanes stay vector code.)
inline bool RoundsSafely(double value, double margin) {
  const double lo = value - margin;
  const double hi = value + margin;
  const bool clear_of_zero = (lo > 0.0) | (hi < 0.0);
  return clear_of_zero & (static_cast<float>(lo) == static_cast<float>(hi));
}

// RoundsSafely(value, |value| * kMargin), a little stricter, read from the
// bits. A double's rounding to float is decided by the 29 bits below the
// float's last place and changes only across the halfway pattern 2^28
// (stepping over a power of two leaves it alone: both sides round to that
// power). |value| * kMargin is less than 2^13 units in value's last place, so
// when those bits keep more than 2^13 from the halfway pattern, every double
// within the margin rounds to float(value). The magnitude must lie in the
// normal float range (below it the float steps are no longer relative to the
// value; near the top the rounding overflows), which also refuses zero, NaN
// and infinities. Half the vector work of RoundsSafely, in 32-bit integer
// operations, which every vector instruction set has.
inline bool RoundsSafelyRelative(double value) {
  std::uint64_t bits;
  std::memcpy(&bits, &value, sizeof(bits));
  const std::int32_t low = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits) & 0x1FFFFFFFu);
  const std::int32_t into_band = low - ((1 << 28) - (1 << 13));
  const bool near_halfway = (into_band >= 0) & (into_band <= (1 << 14));
  const double magnitude = value < 0.0 ? -value : value;
  return !near_halfway & (magnitude >= 0x1p-126) & (magnitude < 0x1p127);
}

}  // namespace vmath
}  // namespace lens
