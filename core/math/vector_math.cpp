// Array wrappers around glibc's vector math functions, chosen once per
// process by what the CPU supports. Without them (other platforms, the
// Windows builds) the sine and cosine are branch-free estimates (in AVX2 and
// AVX-512 copies on x86) and the other functions the scalar C library.
//
// Only the functions that call the vector code are compiled for AVX2 or
// AVX-512, through target attributes; the rest of the build stays generic.
// FMA is never enabled here (the vector library may use it inside its own
// functions; that only changes which lanes the callers recompute).
#include "vector_math.h"

#include <cmath>

#include "inverse_trig.h"
#include "batch/kernel_set.h"
#include "sincos_estimate.h"

#if defined(LENS_HAVE_MVEC) && defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define LENS_VECTOR_MATH 1
#include <immintrin.h>
#endif

namespace lens {
namespace vmath {
namespace {

using ArrayFunction = void (*)(const double*, double*, int);

struct Kernels {
  ArrayFunction acos;
  ArrayFunction atan;
  ArrayFunction sin;
  ArrayFunction cos;
  ArrayFunction tan;
};

#define LENS_SCALAR_KERNEL(name, f)                                   \
  void name(const double* in, double* out, int n) {                   \
    for (int k = 0; k < n; ++k) out[k] = std::f(in[k]);               \
  }
LENS_SCALAR_KERNEL(ScalarAcos, acos)
LENS_SCALAR_KERNEL(ScalarAtan, atan)
LENS_SCALAR_KERNEL(ScalarTan, tan)
#undef LENS_SCALAR_KERNEL

// Sine and cosine without the vector library: the branch-free estimates over
// all lanes (vector code), then the C library for arguments beyond their
// reduction (and NaN, infinities).
template <bool sine>
void EstimatedSinOrCos(const double* in, double* out, int n) {
  for (int k = 0; k < n; ++k) {
    const SinCos e = SinCosEstimate(in[k]);
    out[k] = sine ? e.sin : e.cos;
  }
  for (int k = 0; k < n; ++k) {
    if (!(Abs(in[k]) <= kSinCosLimit)) out[k] = sine ? std::sin(in[k]) : std::cos(in[k]);
  }
}

void ScalarSin(const double* in, double* out, int n) { EstimatedSinOrCos<true>(in, out, n); }
void ScalarCos(const double* in, double* out, int n) { EstimatedSinOrCos<false>(in, out, n); }

constexpr Kernels kScalar{ScalarAcos, ScalarAtan, ScalarSin, ScalarCos, ScalarTan};

#ifdef LENS_VECTOR_MATH

}  // namespace
}  // namespace vmath
}  // namespace lens

// The vector-ABI names of glibc's libmvec: d = AVX2 (4 lanes), e = AVX-512
// (8 lanes), N = unmasked, v = one vector argument.
#pragma GCC push_options
#pragma GCC target("avx2")
extern "C" {
__m256d _ZGVdN4v_acos(__m256d);
__m256d _ZGVdN4v_atan(__m256d);
__m256d _ZGVdN4v_sin(__m256d);
__m256d _ZGVdN4v_cos(__m256d);
__m256d _ZGVdN4v_tan(__m256d);
}
#pragma GCC pop_options
#pragma GCC push_options
#pragma GCC target("avx512f")
extern "C" {
__m512d _ZGVeN8v_acos(__m512d);
__m512d _ZGVeN8v_atan(__m512d);
__m512d _ZGVeN8v_sin(__m512d);
__m512d _ZGVeN8v_cos(__m512d);
__m512d _ZGVeN8v_tan(__m512d);
}
#pragma GCC pop_options

namespace lens {
namespace vmath {
namespace {

// `width` lanes of `vf` at a time, whole vectors straight from the arrays
// with the ISA's unaligned load and store; the tail goes through a padded
// copy so no lane reads or writes past n.
#define LENS_MVEC(name, isa, width, vf, load, store)                                  \
  __attribute__((target(isa))) void name(const double* in, double* out, int n) {        \
    int k = 0;                                                                          \
    for (; k + (width) <= n; k += (width)) store(out + k, vf(load(in + k)));            \
    if (k < n) {                                                                        \
      double tail[width] = {};                                                          \
      for (int i = 0; k + i < n; ++i) tail[i] = in[k + i];                              \
      store(tail, vf(load(tail)));                                                      \
      for (int i = 0; k + i < n; ++i) out[k + i] = tail[i];                             \
    }                                                                                   \
  }
#define LENS_MVEC_AVX2(name, vf) LENS_MVEC(name, "avx2", 4, vf, _mm256_loadu_pd, _mm256_storeu_pd)
#define LENS_MVEC_AVX512(name, vf) LENS_MVEC(name, "avx512f", 8, vf, _mm512_loadu_pd, _mm512_storeu_pd)
LENS_MVEC_AVX2(Avx2Acos, _ZGVdN4v_acos)
LENS_MVEC_AVX2(Avx2Atan, _ZGVdN4v_atan)
LENS_MVEC_AVX2(Avx2Sin, _ZGVdN4v_sin)
LENS_MVEC_AVX2(Avx2Cos, _ZGVdN4v_cos)
LENS_MVEC_AVX2(Avx2Tan, _ZGVdN4v_tan)
LENS_MVEC_AVX512(Avx512Acos, _ZGVeN8v_acos)
LENS_MVEC_AVX512(Avx512Atan, _ZGVeN8v_atan)
LENS_MVEC_AVX512(Avx512Sin, _ZGVeN8v_sin)
LENS_MVEC_AVX512(Avx512Cos, _ZGVeN8v_cos)
LENS_MVEC_AVX512(Avx512Tan, _ZGVeN8v_tan)
#undef LENS_MVEC_AVX512
#undef LENS_MVEC_AVX2
#undef LENS_MVEC

constexpr Kernels kAvx2{Avx2Acos, Avx2Atan, Avx2Sin, Avx2Cos, Avx2Tan};
constexpr Kernels kAvx512{Avx512Acos, Avx512Atan, Avx512Sin, Avx512Cos, Avx512Tan};

#elif defined(LENS_AVX2_KERNELS)

// x86 builds without the vector library (32-bit Windows): the sine and
// cosine estimates compiled for AVX2 and AVX-512 as well, the other
// functions scalar.
LENS_AVX2_KERNEL void Avx2Sin(const double* in, double* out, int n) {
  EstimatedSinOrCos<true>(in, out, n);
}
LENS_AVX2_KERNEL void Avx2Cos(const double* in, double* out, int n) {
  EstimatedSinOrCos<false>(in, out, n);
}
LENS_AVX512_KERNEL void Avx512Sin(const double* in, double* out, int n) {
  EstimatedSinOrCos<true>(in, out, n);
}
LENS_AVX512_KERNEL void Avx512Cos(const double* in, double* out, int n) {
  EstimatedSinOrCos<false>(in, out, n);
}

constexpr Kernels kAvx2{ScalarAcos, ScalarAtan, Avx2Sin, Avx2Cos, ScalarTan};
constexpr Kernels kAvx512{ScalarAcos, ScalarAtan, Avx512Sin, Avx512Cos, ScalarTan};

#endif  // LENS_VECTOR_MATH

bool CpuSupports(MathPath path) {
#if defined(LENS_VECTOR_MATH)
  __builtin_cpu_init();
  switch (path) {
    case MathPath::Scalar: return true;
    case MathPath::Avx2: return __builtin_cpu_supports("avx2") != 0;
    case MathPath::Avx512: return __builtin_cpu_supports("avx512f") != 0;
  }
  return false;
#elif defined(LENS_AVX2_KERNELS)
  switch (path) {
    case MathPath::Scalar: return true;
    case MathPath::Avx2: return lens::KernelSetSupported(lens::KernelSet::Avx2);
    case MathPath::Avx512: return lens::KernelSetSupported(lens::KernelSet::Avx512);
  }
  return false;
#else
  return path == MathPath::Scalar;
#endif
}

const Kernels& KernelsOf(MathPath path) {
#if defined(LENS_VECTOR_MATH) || defined(LENS_AVX2_KERNELS)
  if (path == MathPath::Avx512 && CpuSupports(path)) return kAvx512;
  if (path == MathPath::Avx2 && CpuSupports(path)) return kAvx2;
#endif
  (void)path;
  return kScalar;
}

// The vector width follows the row loops (kernel_set.h): AVX-512 when they
// run their AVX-512 copy, AVX2 otherwise. When LENS_KERNELS asks for the
// baseline loops, the scalar functions run too (as in builds without the
// vector library).
MathPath Choose() {
  const lens::KernelSet rows = lens::ChooseKernelSet();
  if (rows == lens::KernelSet::Baseline) return MathPath::Scalar;
  if (rows == lens::KernelSet::Avx512 && CpuSupports(MathPath::Avx512)) return MathPath::Avx512;
  if (CpuSupports(MathPath::Avx2)) return MathPath::Avx2;
  return MathPath::Scalar;
}

const Kernels& Active() {
  static const Kernels& kernels = KernelsOf(ActivePath());
  return kernels;
}

}  // namespace

MathPath ActivePath() {
  static const MathPath path = Choose();
  return path;
}

bool PathAvailable(MathPath path) { return CpuSupports(path); }

const char* PathName(MathPath path) {
  switch (path) {
    case MathPath::Scalar: return "scalar";
    case MathPath::Avx2: return "avx2";
    case MathPath::Avx512: return "avx512";
  }
  return "?";
}

void Acos(const double* in, double* out, int n) { Active().acos(in, out, n); }
void Atan(const double* in, double* out, int n) { Active().atan(in, out, n); }
void Sin(const double* in, double* out, int n) { Active().sin(in, out, n); }
void Cos(const double* in, double* out, int n) { Active().cos(in, out, n); }
void Tan(const double* in, double* out, int n) { Active().tan(in, out, n); }

void Acos(MathPath path, const double* in, double* out, int n) { KernelsOf(path).acos(in, out, n); }
void Atan(MathPath path, const double* in, double* out, int n) { KernelsOf(path).atan(in, out, n); }
void Sin(MathPath path, const double* in, double* out, int n) { KernelsOf(path).sin(in, out, n); }
void Cos(MathPath path, const double* in, double* out, int n) { KernelsOf(path).cos(in, out, n); }
void Tan(MathPath path, const double* in, double* out, int n) { KernelsOf(path).tan(in, out, n); }

}  // namespace vmath
}  // namespace lens
