// libFuzzer entry for one filter, linked with its plug-in's sources (the
// fuzz_<filter> targets): see fuzz_frame.h for the input layout.
#include <omp.h>

#include <cstddef>
#include <cstdint>

#include "fuzz_frame.h"

extern "C" FILTER_DLL* GetFilterTable(void);

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // One worker: the fuzzer looks for bad accesses, not for races (the
  // concurrency tests cover those), and a team per call only slows it down.
  omp_set_num_threads(1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzzing::RunFrameFromBytes(*GetFilterTable(), data, size);
}
