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
// the pipeline in batch_pipeline.h does so everywhere.
#pragma once

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

}  // namespace vmath
}  // namespace lens
