// Internal to the string library: the converters' sixteen-at-a-time steps over ASCII (and, when
// counting UTF-8 bytes, over any block without surrogates). SSE2 where the target has it (every
// x86-64), plain loops elsewhere; both give the same results. Not installed.
#pragma once

#include <bit>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zn::internal {

inline constexpr int32_t kAsciiBlock = 16;

#if defined(__SSE2__)

inline __m128i Load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// The number of leading units below 0x80 among 16 units, as a mask of two bits per unit.
inline uint32_t AsciiUnitMask(const char16_t* p) {
  const __m128i high = _mm_set1_epi16(static_cast<int16_t>(0xFF80));
  const __m128i zero = _mm_setzero_si128();
  const auto a =
      static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(Load(p), high), zero)));
  const auto b = static_cast<uint32_t>(
      _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(Load(p + 8), high), zero)));
  return a | b << 16;
}

#endif

// How many of the 16 bytes at `p` are ASCII before the first that is not (16 when all are).
inline int32_t AsciiPrefixBytes(const unsigned char* p) {
#if defined(__SSE2__)
  const auto mask = static_cast<uint32_t>(_mm_movemask_epi8(Load(p)));
  return mask == 0 ? kAsciiBlock : std::countr_zero(mask);
#else
  int32_t n = 0;
  while (n < kAsciiBlock && p[n] < 0x80)
    ++n;
  return n;
#endif
}

// Widens 16 bytes to 16 units.
inline void WidenBlock(const unsigned char* p, char16_t* destination) {
#if defined(__SSE2__)
  const __m128i bytes = Load(p);
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(destination), _mm_unpacklo_epi8(bytes, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + 8), _mm_unpackhi_epi8(bytes, zero));
#else
  for (int32_t k = 0; k < kAsciiBlock; ++k)
    destination[k] = p[k];
#endif
}

// How many of the 16 units at `p` are below 0x80 before the first that is not.
inline int32_t AsciiPrefixUnits(const char16_t* p) {
#if defined(__SSE2__)
  const uint32_t mask = AsciiUnitMask(p);
  return mask == 0xFFFFFFFF ? kAsciiBlock : std::countr_one(mask) / 2;
#else
  int32_t n = 0;
  while (n < kAsciiBlock && p[n] < 0x80)
    ++n;
  return n;
#endif
}

// Narrows 16 units to their low bytes (exact for units below 256).
inline void NarrowBlock(const char16_t* p, char* destination) {
#if defined(__SSE2__)
  const __m128i low = _mm_set1_epi16(0xFF);
  const __m128i packed =
      _mm_packus_epi16(_mm_and_si128(Load(p), low), _mm_and_si128(Load(p + 8), low));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(destination), packed);
#else
  for (int32_t k = 0; k < kAsciiBlock; ++k)
    destination[k] = static_cast<char>(p[k]);
#endif
}

// The UTF-8 bytes of 16 units when none of them is a surrogate, else -1.
inline int32_t Utf8BytesOfBlock(const char16_t* p) {
#if defined(__SSE2__)
  const __m128i first = Load(p);
  const __m128i second = Load(p + 8);
  const __m128i zero = _mm_setzero_si128();
  const __m128i any = _mm_or_si128(first, second);
  if (_mm_movemask_epi8(_mm_cmpeq_epi16(
          _mm_and_si128(any, _mm_set1_epi16(static_cast<int16_t>(0xFF80))), zero)) == 0xFFFF) {
    return kAsciiBlock;
  }
  const __m128i surrogate_bits = _mm_set1_epi16(static_cast<int16_t>(0xF800));
  const __m128i surrogate = _mm_set1_epi16(static_cast<int16_t>(0xD800));
  const __m128i is_surrogate =
      _mm_or_si128(_mm_cmpeq_epi16(_mm_and_si128(first, surrogate_bits), surrogate),
                   _mm_cmpeq_epi16(_mm_and_si128(second, surrogate_bits), surrogate));
  if (_mm_movemask_epi8(is_surrogate) != 0) {
    return -1;
  }
  // Per lane -1 for each bound the unit lies at or below (saturating subtraction leaves 0 exactly
  // there): 3 bytes per unit plus these lanes.
  const __m128i one_byte = _mm_set1_epi16(0x7F);
  const __m128i two_bytes = _mm_set1_epi16(0x7FF);
  __m128i lanes = _mm_add_epi16(_mm_cmpeq_epi16(_mm_subs_epu16(first, one_byte), zero),
                                _mm_cmpeq_epi16(_mm_subs_epu16(first, two_bytes), zero));
  lanes = _mm_add_epi16(lanes, _mm_cmpeq_epi16(_mm_subs_epu16(second, one_byte), zero));
  lanes = _mm_add_epi16(lanes, _mm_cmpeq_epi16(_mm_subs_epu16(second, two_bytes), zero));
  __m128i sums = _mm_madd_epi16(lanes, _mm_set1_epi16(1));
  sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0x4E));
  sums = _mm_add_epi32(sums, _mm_shuffle_epi32(sums, 0xB1));
  return 3 * kAsciiBlock + _mm_cvtsi128_si32(sums);
#else
  int32_t bytes = 0;
  for (int32_t k = 0; k < kAsciiBlock; ++k) {
    const char16_t unit = p[k];
    if (unit >= 0xD800 && unit <= 0xDFFF) return -1;
    bytes += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
  }
  return bytes;
#endif
}

}  // namespace zn::internal
