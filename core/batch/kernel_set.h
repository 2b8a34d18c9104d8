// Which compiled copy of the row loops a remap runs.
//
// The batched remaps compile their row loops up to three times: for the
// baseline instruction set, and in GCC builds for x86 (Linux, and 32-bit
// Windows) also for AVX2 and for AVX-512 (F, DQ, VL, BW with 512-bit vectors
// preferred). None of
// the copies enables contraction (the build forbids it), so every product and
// sum rounds on its own in all three and they give the same bits; they only
// differ in speed. LENS_AVX2_KERNEL and LENS_AVX512_KERNEL mark the copies;
// `flatten` pulls the whole pipeline into each so that its inline stages are
// compiled for that instruction set.
//
// The copy is chosen once per process: the widest the CPU supports, or the
// one named by the environment variable LENS_KERNELS ("baseline", "avx2",
// "avx512") when the CPU supports it. Tests and benchmarks use the variable
// to run each copy on one machine.
#pragma once

#include <cstdlib>
#include <cstring>

namespace lens {

enum class KernelSet { Baseline, Avx2, Avx512 };

// (In 64-bit Windows builds only where the assembler turns aligned vector
// moves into unaligned ones: GCC does not realign the stack there, and
// aligned spills of 32- and 64-byte vectors would fault. CMakeLists.txt
// sets both.)
#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__)) && \
    !(defined(_WIN32) && defined(__x86_64__) && !defined(LENS_UNALIGNED_VECTOR_MOVES))
#define LENS_AVX2_KERNELS 1
#define LENS_AVX2_TARGET __attribute__((target("avx2")))
#define LENS_AVX512_TARGET \
  __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw,prefer-vector-width=512")))
#define LENS_AVX2_KERNEL LENS_AVX2_TARGET __attribute__((flatten))
#define LENS_AVX512_KERNEL LENS_AVX512_TARGET __attribute__((flatten))
#endif

// The baseline copy of a row loop inlines everything it calls too, as the
// wider ones do: the compiler's own inlining limits stop short of the whole
// pipeline, and a pass left as a call keeps its loops from vector code.
#if defined(__GNUC__) && !defined(__clang__)
#define LENS_BASELINE_KERNEL __attribute__((flatten))
#else
#define LENS_BASELINE_KERNEL
#endif

inline bool KernelSetSupported(KernelSet set) {
#ifdef LENS_AVX2_KERNELS
  __builtin_cpu_init();
  switch (set) {
    case KernelSet::Baseline: return true;
    case KernelSet::Avx2: return __builtin_cpu_supports("avx2") != 0;
    case KernelSet::Avx512:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw");
  }
  return false;
#else
  return set == KernelSet::Baseline;
#endif
}

inline const char* KernelSetName(KernelSet set) {
  switch (set) {
    case KernelSet::Baseline: return "baseline";
    case KernelSet::Avx2: return "avx2";
    case KernelSet::Avx512: return "avx512";
  }
  return "?";
}

// The widest supported set, or the supported set LENS_KERNELS names.
inline KernelSet ChooseKernelSet() {
  const KernelSet sets[] = {KernelSet::Avx512, KernelSet::Avx2, KernelSet::Baseline};
  const char* requested = std::getenv("LENS_KERNELS");
  if (requested != nullptr) {
    for (KernelSet set : sets) {
      if (std::strcmp(requested, KernelSetName(set)) == 0 && KernelSetSupported(set)) return set;
    }
  }
  for (KernelSet set : sets) {
    if (KernelSetSupported(set)) return set;
  }
  return KernelSet::Baseline;
}

// One of three function pointers by the chosen set; copies that are not
// compiled in are null and never chosen.
template <typename Function>
Function PickKernel(KernelSet set, Function baseline, Function avx2, Function avx512) {
  if (set == KernelSet::Avx512 && avx512 != nullptr) return avx512;
  if (set != KernelSet::Baseline && avx2 != nullptr) return avx2;
  return baseline;
}

}  // namespace lens
