// One fuzz input drives one call of a plug-in's func_proc, as the editor
// would make it but with anything the bytes say: track values inside and far
// outside their ranges, any check values, frame sizes from empty upwards,
// capacities at or above the frame size, and the frame's contents.
//
// Input layout (missing bytes read as zero):
//   per track: 1 byte how (0: within the range, 1: raw, 2: minimum,
//              3: maximum) and 4 bytes of value (little endian)
//   2 bytes: check boxes ticked (bit i: box i); 1 byte: bit 0 set makes a
//            ticked box hold -1 instead of 1
//   4 bytes: w, h (0..kMaxSide), spare columns, spare rows (0..7)
//   the rest: source pixels, repeated over the whole source buffer
//
// The buffers are heap blocks of exactly max_w x max_h pixels, so the
// sanitizer sees any access past either end. After the call the harness
// traps when the reported size does not fit the capacity, the buffers were
// not exchanged, the source changed, or a pixel outside the reported output
// changed.
#pragma once

#include <cstddef>
#include <cstdint>

#include "aviutl_filter.h"

namespace fuzzing {

constexpr int kMaxSide = 64;

int RunFrameFromBytes(const FILTER_DLL& table, const std::uint8_t* data, std::size_t size);

}  // namespace fuzzing
