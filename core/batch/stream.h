// Writes that go past the caches: for output that is written once and not
// read back while a frame is remapped. A plain store to part of a cache line
// first reads the line in; a non-temporal store of a whole aligned block does
// not. Such stores are ordered loosely against other threads' reads until a
// fence: a row loop fences after each row (row_dispatch.h), before any other
// thread may look at it. The thread that streams sees its own stores in
// order, plain or not.
//
// The 64-bit Windows build streams nothing: its assembler rewrites every
// aligned vector move as an unaligned one and its export check admits none
// (kernel_set.h), and a non-temporal store has no unaligned form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) && !defined(LENS_UNALIGNED_VECTOR_MOVES)
#define LENS_STREAMED_STORES 1
#include <emmintrin.h>
#endif

namespace lens {

// Copies `bytes` bytes from `from` to `to` (not overlapping): the aligned
// 16-byte blocks of the destination by non-temporal stores, the ends and
// short copies by plain ones.
inline void StreamBytes(void* to, const void* from, std::size_t bytes) {
#if defined(LENS_STREAMED_STORES)
  unsigned char* const dst = static_cast<unsigned char*>(to);
  const unsigned char* const src = static_cast<const unsigned char*>(from);
  const std::size_t head = (16 - (reinterpret_cast<std::uintptr_t>(dst) & 15)) & 15;
  if (bytes < head + 16) {
    std::memcpy(dst, src, bytes);
    return;
  }
  std::memcpy(dst, src, head);
  std::size_t i = head;
  for (; i + 16 <= bytes; i += 16) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
  }
  std::memcpy(dst + i, src + i, bytes - i);
#else
  std::memcpy(to, from, bytes);
#endif
}

// Makes the streamed stores visible to other threads before the plain
// stores that follow.
inline void StreamFence() {
#if defined(LENS_STREAMED_STORES)
  _mm_sfence();
#endif
}

}  // namespace lens
