// The row loop of a batched remap, compiled once per instruction set
// (kernel_set.h) with its whole pipeline inlined, and run over the threads.
//
// A remap describes one row (or one mirrored row pair) as a struct
//
//   struct Rows {
//     using Setup = ...;  // what every row of the frame shares
//     template <KernelSet set> static void Run(const Setup& setup, std::int32_t row);
//   };
//
// and calls ForEachRow<Rows>(setup, count): rows 0 .. count - 1 are split
// over the default team of OpenMP threads in contiguous static blocks, each
// row run by the widest copy the processor has (or the one LENS_KERNELS
// names), and its streamed stores fenced.
#pragma once

#include <cstdint>

#include "batch/kernel_set.h"
#include "batch/stream.h"

namespace lens {

template <typename Rows>
struct RowCopies {
  using Setup = typename Rows::Setup;
  LENS_BASELINE_KERNEL static void Baseline(const Setup& setup, std::int32_t row) {
    Rows::template Run<KernelSet::Baseline>(setup, row);
  }
#ifdef LENS_AVX2_KERNELS
  LENS_AVX2_KERNEL static void Avx2(const Setup& setup, std::int32_t row) {
    Rows::template Run<KernelSet::Avx2>(setup, row);
  }
  LENS_AVX512_KERNEL static void Avx512(const Setup& setup, std::int32_t row) {
    Rows::template Run<KernelSet::Avx512>(setup, row);
  }
#endif
};

template <typename Rows>
inline void ForEachRow(const typename Rows::Setup& setup, std::int32_t count) {
  using Function = void (*)(const typename Rows::Setup&, std::int32_t);
#ifdef LENS_AVX2_KERNELS
  static const Function row = PickKernel<Function>(ChooseKernelSet(), &RowCopies<Rows>::Baseline,
                                                   &RowCopies<Rows>::Avx2, &RowCopies<Rows>::Avx512);
#else
  static const Function row = &RowCopies<Rows>::Baseline;
#endif
#pragma omp parallel for schedule(static)
  for (std::int32_t i = 0; i < count; ++i) {
    row(setup, i);
    StreamFence();
  }
}

}  // namespace lens
