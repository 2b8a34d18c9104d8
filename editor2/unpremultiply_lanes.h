// Unpremultiplied (transparency.h) on AVX2 and AVX-512 lanes, for the
// finishing kernels of the adapter: the same quotients, one division a pixel
// for its three channels. Compiled where HOST_HAS_AVX2 and run only when
// HasAvx2() (HasAvx512() for the AVX-512 forms).
#pragma once

#include "transparency.h"
#include "vector_clones.h"

#if HOST_HAS_AVX2
// GCC 12 warns inside its own AVX-512 headers (their "undefined" vectors).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

namespace editor2 {

// The first (half 0) or last eight of sixteen shorts as int32 lanes.
HOST_AVX2 inline __m256i WidenHalf(__m256i v, int half) {
  return _mm256_cvtepi16_epi32(half == 0 ? _mm256_castsi256_si128(v) : _mm256_extracti128_si256(v, 1));
}

// The divisors of sixteen pixels for Unpremultiplied16: each pixel's
// `scaled` (as int32 lanes) and 1 / (2 scaled) rounded to double, four
// lanes to a vector. One division a pixel serves its three channels.
struct Divisors {
  __m256i scaled[2];
  __m256d reciprocal[4];
};

HOST_AVX2 inline Divisors DivisorsOf(__m256i scaled16) {
  Divisors d;
  const __m256d one = _mm256_set1_pd(1.0);
  for (int half = 0; half < 2; ++half) {
    d.scaled[half] = WidenHalf(scaled16, half);
    const __m256i twice = _mm256_add_epi32(d.scaled[half], d.scaled[half]);
    d.reciprocal[2 * half] = _mm256_div_pd(one, _mm256_cvtepi32_pd(_mm256_castsi256_si128(twice)));
    d.reciprocal[2 * half + 1] = _mm256_div_pd(one, _mm256_cvtepi32_pd(_mm256_extracti128_si256(twice, 1)));
  }
  return d;
}

// floor(n / (2 s)) for 0 <= n < 2^28 and 1 <= s <= 4080, as Unpremultiplied
// has it, from r = 1 / (2 s) rounded to double: truncate n r + 2^-20. With
// Q = n / (2 s) < 2^27, r and the product each carry a relative error of at
// most 2^-53, so the product is within Q (2^-52 + 2^-106) < 2^-24 of Q;
// adding 2^-20 rounds by at most half an ulp near 2^27, 2^-26. The sum lies
// in (Q, Q + 2^-19): an integer Q truncates to itself, and any other Q (a
// multiple of 1 / (2 s)) is at least 1 / 8160 > 2^-19 below the next
// integer, so it truncates to floor(Q). n and Q are exact in double.
HOST_AVX2 inline __m128i QuotientOf(__m128i n, __m256d reciprocal) {
  const __m256d product = _mm256_mul_pd(_mm256_cvtepi32_pd(n), reciprocal);
  return _mm256_cvttpd_epi32(_mm256_add_pd(product, _mm256_set1_pd(0x1p-20)));
}

// Unpremultiplied on eight int32 lanes (half 0 or 1 of the sixteen pixels
// of `d`): the same integers and the same quotients; the clamp to a short is
// left to the caller's saturating pack.
HOST_AVX2 inline __m256i Unpremultiplied8(__m256i v, const Divisors& d, int half) {
  const __m256i num = _mm256_mullo_epi32(v, _mm256_set1_epi32(kOpaqueScaled));
  const __m256i sign = _mm256_srai_epi32(num, 31);
  const __m256i magnitude = _mm256_abs_epi32(num);  // num is never INT_MIN
  const __m256i n = _mm256_add_epi32(_mm256_add_epi32(magnitude, magnitude), d.scaled[half]);
  const __m128i low = QuotientOf(_mm256_castsi256_si128(n), d.reciprocal[2 * half]);
  const __m128i high = QuotientOf(_mm256_extracti128_si256(n, 1), d.reciprocal[2 * half + 1]);
  return _mm256_sub_epi32(_mm256_xor_si256(_mm256_set_m128i(high, low), sign), sign);
}

// Unpremultiplied on sixteen shorts, clamped to a short.
HOST_AVX2 inline __m256i Unpremultiplied16(__m256i v, const Divisors& d) {
  const __m256i low = Unpremultiplied8(WidenHalf(v, 0), d, 0);
  const __m256i high = Unpremultiplied8(WidenHalf(v, 1), d, 1);
  return _mm256_permute4x64_epi64(_mm256_packs_epi32(low, high), 0xD8);
}

// The same on AVX-512 lanes, for 32 pixels: their divisors as two halves of
// sixteen int32 lanes and four vectors of eight reciprocals, and the
// quotients by the same double arithmetic (QuotientOf's proof holds lane by
// lane).
struct Divisors32 {
  __m512i scaled[2];
  __m512d reciprocal[4];
};

HOST_AVX512 inline __m512i WidenHalf32(__m512i v, int half) {
  return _mm512_cvtepi16_epi32(half == 0 ? _mm512_castsi512_si256(v) : _mm512_extracti64x4_epi64(v, 1));
}

HOST_AVX512 inline Divisors32 DivisorsOf32(__m512i scaled32) {
  Divisors32 d;
  const __m512d one = _mm512_set1_pd(1.0);
  for (int half = 0; half < 2; ++half) {
    d.scaled[half] = WidenHalf32(scaled32, half);
    const __m512i twice = _mm512_add_epi32(d.scaled[half], d.scaled[half]);
    d.reciprocal[2 * half] = _mm512_div_pd(one, _mm512_cvtepi32_pd(_mm512_castsi512_si256(twice)));
    d.reciprocal[2 * half + 1] = _mm512_div_pd(one, _mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(twice, 1)));
  }
  return d;
}

HOST_AVX512 inline __m256i QuotientOf8(__m256i n, __m512d reciprocal) {
  const __m512d product = _mm512_mul_pd(_mm512_cvtepi32_pd(n), reciprocal);
  return _mm512_cvttpd_epi32(_mm512_add_pd(product, _mm512_set1_pd(0x1p-20)));
}

HOST_AVX512 inline __m512i Unpremultiplied16Lanes(__m512i v, const Divisors32& d, int half) {
  const __m512i num = _mm512_mullo_epi32(v, _mm512_set1_epi32(kOpaqueScaled));
  const __m512i sign = _mm512_srai_epi32(num, 31);
  const __m512i magnitude = _mm512_abs_epi32(num);
  const __m512i n = _mm512_add_epi32(_mm512_add_epi32(magnitude, magnitude), d.scaled[half]);
  const __m256i low = QuotientOf8(_mm512_castsi512_si256(n), d.reciprocal[2 * half]);
  const __m256i high = QuotientOf8(_mm512_extracti64x4_epi64(n, 1), d.reciprocal[2 * half + 1]);
  const __m512i q = _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
  return _mm512_sub_epi32(_mm512_xor_si512(q, sign), sign);
}

// Unpremultiplied on 32 shorts, clamped to a short.
HOST_AVX512 inline __m512i Unpremultiplied32(__m512i v, const Divisors32& d) {
  const __m512i low = Unpremultiplied16Lanes(WidenHalf32(v, 0), d, 0);
  const __m512i high = Unpremultiplied16Lanes(WidenHalf32(v, 1), d, 1);
  return _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtsepi32_epi16(low)), _mm512_cvtsepi32_epi16(high), 1);
}

}  // namespace editor2

#endif  // HOST_HAS_AVX2
