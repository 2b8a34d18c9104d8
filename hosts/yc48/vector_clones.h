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

// Helpers of those loops, so that each copy carries its own.
#if defined(__GNUC__)
#define HOST_INLINE __attribute__((always_inline)) inline
#else
#define HOST_INLINE inline
#endif
