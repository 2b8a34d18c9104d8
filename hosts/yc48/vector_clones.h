// The conversion loops are plain integer loops that the compiler vectorises;
// on x86-64 Linux each is compiled three times (AVX-512, AVX2, baseline) and
// the loader picks the widest the processor has. Integer arithmetic gives the
// same numbers in every copy.
#pragma once

#include "batch/kernel_set.h"

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define HOST_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define HOST_VECTOR_CLONES
#endif

// On x86-64 (HOST_HAS_AVX2) the hand-written AVX2 row kernels (rgba_lanes.h)
// are compiled in and run where HasAvx2() says so. Where the loader cannot
// pick a copy (64-bit Windows), the row loops that the 64-bit editor's
// adapter runs also have one AVX2 copy (HOST_AVX2_COPY) beside the baseline
// one, chosen the same way (the baseline instruction set has no 32-bit
// vector multiply).
#if defined(__x86_64__) && defined(__GNUC__)
#define HOST_HAS_AVX2 1
#define HOST_AVX2 __attribute__((target("avx2")))
// The processor has AVX2 and LENS_KERNELS does not ask for "baseline": the
// plug-ins' own choice of row-loop copy (batch/kernel_set.h), so that one
// switch picks both.
inline bool HasAvx2() {
  static const bool has = lens::ChooseKernelSet() != lens::KernelSet::Baseline;
  return has;
}
// The processor has AVX-512 (F, DQ, VL, BW) and LENS_KERNELS leaves the
// widest copy: the row kernels that have a sixteen-pixel AVX-512 form.
#define HOST_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq")))
inline bool HasAvx512() {
  static const bool has = lens::ChooseKernelSet() == lens::KernelSet::Avx512;
  return has;
}
#else
#define HOST_HAS_AVX2 0
#endif
#if HOST_HAS_AVX2 && defined(_WIN32)
#define HOST_AVX2_COPY HOST_AVX2
#define HOST_HAS_AVX2_COPY 1
#else
#define HOST_HAS_AVX2_COPY 0
#endif

// Helpers of those loops, so that each copy carries its own.
#if defined(__GNUC__)
#define HOST_INLINE __attribute__((always_inline)) inline
#else
#define HOST_INLINE inline
#endif
