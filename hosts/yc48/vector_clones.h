// The conversion loops are plain integer loops that the compiler vectorises;
// on x86-64 Linux each is compiled three times (AVX-512, AVX2, baseline) and
// the loader picks the widest the processor has. Integer arithmetic gives the
// same numbers in every copy.
#pragma once

#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define HOST_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define HOST_VECTOR_CLONES
#endif

// Where the loader cannot pick a copy (64-bit Windows), the row loops that
// the 64-bit editor's adapter runs have one AVX2 copy beside the baseline
// one, chosen at run time (the baseline instruction set has no 32-bit
// vector multiply).
#if defined(__x86_64__) && defined(_WIN32) && defined(__GNUC__)
#define HOST_AVX2_COPY __attribute__((target("avx2")))
#define HOST_HAS_AVX2_COPY 1
inline bool HasAvx2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}
#else
#define HOST_HAS_AVX2_COPY 0
#endif

// Helpers of those loops, so that each copy carries its own.
#if defined(__GNUC__)
#define HOST_INLINE __attribute__((always_inline)) inline
#else
#define HOST_INLINE inline
#endif
