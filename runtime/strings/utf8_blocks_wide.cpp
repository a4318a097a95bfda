// The UTF-8 converters' wide block steps: thirty-two units or sixty-four bytes a step with AVX2.
//
// Decoding finds, from bit masks over sixty-four bytes, the whole characters at the front of the
// block (a character running past it is left for the next block, which starts at its lead byte),
// then works out each byte's value as if it ended a character and keeps the values at the ends of
// characters, eight at a time through the shared shuffle table. Counting needs the masks alone.
//
// Encoding builds, for each of sixteen units, the three bytes a three-byte character would take,
// and for each half of a surrogate pair the two bytes of the pair's four that it gives (the high
// half the first two, the low half the last two, with two bits from the high half), then keeps
// the first one, two or three of them. Thirty-two ASCII units are narrowed at once.
//
// A terminated string is measured in one pass, its length and its UTF-8 bytes together. That scan
// reads aligned blocks of sixty-four bytes: the first from before the string, the last from past
// its terminator. An aligned block never crosses a page, so every byte read lies on a page the
// string itself occupies, and the bytes outside the string are masked off.
//
// These functions are compiled for AVX2 (with BMI1, LZCNT and POPCNT, which every processor with
// AVX2 has) and only called once the processor has been seen to have all of them.
#include <bit>
#include <cstdint>

#include "runtime/strings/utf8_blocks.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZN_UTF8_WIDE 1
#include <immintrin.h>

#include "runtime/strings/utf8_block_tables.h"
#if defined(__GLIBC__) && __has_include(<sys/platform/x86.h>)
#define _Bool bool  // the header is written for C, whose _Bool clang's C++ does not know
#include <sys/platform/x86.h>
#undef _Bool
#endif
#define ZN_WIDE __attribute__((target("avx2,bmi,lzcnt,popcnt")))
#else
#define ZN_UTF8_WIDE 0
#endif

namespace zn::internal {

#if ZN_UTF8_WIDE

namespace {

using V = __m256i;

// Room a wide step needs ahead of it: encoding 32 units writes at most 96 bytes and stores up to
// 4 more; decoding 64 bytes gives at most 64 units and stores up to 8 more.
constexpr int64_t kWideEncodeRoom = 112;
constexpr int64_t kWideDecodeRoom = 80;
constexpr int32_t kWideUnits = kUtf8WideUnits;
constexpr int32_t kWideBytes = kUtf8WideBytes;

ZN_WIDE inline V Load(const void* p) {
  return _mm256_loadu_si256(static_cast<const V*>(p));
}

ZN_WIDE inline void Store(void* p, V value) {
  _mm256_storeu_si256(static_cast<V*>(p), value);
}

ZN_WIDE inline void Store128(void* p, __m128i value) {
  _mm_storeu_si128(static_cast<__m128i*>(p), value);
}

ZN_WIDE inline V Splat16(uint32_t value) {
  return _mm256_set1_epi16(static_cast<int16_t>(value));
}

ZN_WIDE inline V Splat8(int value) {
  return _mm256_set1_epi8(static_cast<char>(value));
}

ZN_WIDE inline V Select(V mask, V if_set, V if_clear) {
  return _mm256_blendv_epi8(if_clear, if_set, mask);
}

ZN_WIDE inline uint32_t Mask8(V bytes) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(bytes));
}

// One bit per byte of the sixty-four in `a` then `b`.
ZN_WIDE inline uint64_t Mask64(V a, V b) {
  return Mask8(a) | uint64_t{Mask8(b)} << 32;
}

ZN_WIDE inline V UnitsEqual(V units, uint32_t bits, uint32_t value) {
  return _mm256_cmpeq_epi16(_mm256_and_si256(units, Splat16(bits)), Splat16(value));
}

// One bit per unit of `a` then `b` (32 units) for the lanes where (unit & bits) == value.
ZN_WIDE inline uint32_t UnitMask(V a, V b, uint32_t bits, uint32_t value) {
  const V packed = _mm256_packs_epi16(UnitsEqual(a, bits, value), UnitsEqual(b, bits, value));
  return Mask8(_mm256_permute4x64_epi64(packed, 0xD8));
}

ZN_WIDE inline bool AllAscii(V a, V b) {
  return _mm256_testz_si256(_mm256_or_si256(a, b), Splat16(0xFF80)) != 0;
}

// Two shuffle masks of the shared tables, one per 128-bit half.
ZN_WIDE inline V Masks(const Utf8ShuffleTable& table, uint32_t low, uint32_t high) {
  return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(table.masks[high].data()),
                             reinterpret_cast<const __m128i*>(table.masks[low].data()));
}

// ---------------------------------------------------------------------------------------------
// UTF-16 to UTF-8

// The UTF-8 of the sixteen units in `units` up to the first one left to the rules, written at
// `out` (up to 52 bytes are stored). Left to the rules: a surrogate that is not half of a pair
// within the sixteen; a high one in the last place only when something else stops the block too,
// since its pair may be whole in the next. Returns the bytes; *taken is the units converted and
// *stuck whether the rules must take the next unit.
ZN_WIDE inline int32_t EncodeSixteen(V units, char* out, int32_t* taken, bool* stuck) {
  const V zero = _mm256_setzero_si256();
  const V one_byte = _mm256_cmpeq_epi16(_mm256_and_si256(units, Splat16(0xFF80)), zero);
  const V up_to_two = _mm256_cmpeq_epi16(_mm256_and_si256(units, Splat16(0xF800)), zero);
  const uint32_t surrogates = Mask8(UnitsEqual(units, 0xF800, 0xD800));
  // Two mask bits per unit from here on.
  uint32_t left_out = 0;
  *taken = 16;
  *stuck = false;
  const V low6 = _mm256_and_si256(units, Splat16(0x3F));
  const V shifted6 = _mm256_srli_epi16(units, 6);
  const V lead2 = _mm256_or_si256(shifted6, Splat16(0xC0));
  const V lead3 = _mm256_or_si256(_mm256_srli_epi16(units, 12), Splat16(0xE0));
  const V third_byte = _mm256_or_si256(low6, Splat16(0x80));
  V first_byte = Select(one_byte, units, Select(up_to_two, lead2, lead3));
  V second_byte = _mm256_or_si256(
      Select(up_to_two, low6, _mm256_and_si256(shifted6, Splat16(0x3F))), Splat16(0x80));
  if (surrogates != 0) {
    const V high = UnitsEqual(units, 0xFC00, 0xD800);
    const uint32_t highs = Mask8(high);
    const uint32_t lows = surrogates & ~highs;
    const uint32_t unpaired = surrogates & ~((highs & lows >> 2) | (lows & highs << 2));
    if (unpaired != 0) {
      const auto first = static_cast<uint32_t>(std::countr_zero(unpaired));
      *taken = static_cast<int32_t>(first / 2);
      *stuck = first < 30 || (highs >> 30) == 0;
      if (first == 0) {
        return 0;
      }
      left_out = ~0u << first;
    }
    // The pair's value shifted right by ten is the high half's ten bits plus 0x40; its last six
    // bits and the low half's ten make the last three six-bit groups.
    const V plane = _mm256_add_epi16(_mm256_and_si256(units, Splat16(0x3FF)), Splat16(0x40));
    const V high_first = _mm256_or_si256(_mm256_srli_epi16(plane, 8), Splat16(0xF0));
    const V high_second = _mm256_or_si256(
        _mm256_and_si256(_mm256_srli_epi16(plane, 2), Splat16(0x3F)), Splat16(0x80));
    const V before = _mm256_alignr_epi8(units, _mm256_permute2x128_si256(units, units, 0x08), 14);
    const V low_first =
        _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(before, Splat16(3)), 4),
                                        _mm256_and_si256(shifted6, Splat16(0x0F))),
                        Splat16(0x80));
    const V low = UnitsEqual(units, 0xFC00, 0xDC00);
    first_byte = Select(high, high_first, Select(low, low_first, first_byte));
    second_byte = Select(high, high_second, Select(low, third_byte, second_byte));
  }
  // A surrogate keeps two bytes, as a unit from 0x80 to 0x7FF does.
  const uint32_t from_two = ~Mask8(one_byte) & ~left_out;
  const uint32_t from_three = (~Mask8(up_to_two) & ~surrogates) | left_out;
  const uint32_t index = (from_two & 0x55555555) | (from_three & 0xAAAAAAAA);
  const V pairs = _mm256_or_si256(first_byte, _mm256_slli_epi16(second_byte, 8));
  // Units 0 to 3 and 8 to 11, then 4 to 7 and 12 to 15, four bytes each.
  const V slots_low = _mm256_unpacklo_epi16(pairs, third_byte);
  const V slots_high = _mm256_unpackhi_epi16(pairs, third_byte);
  const uint32_t i0 = index & 0xFF;
  const uint32_t i1 = index >> 8 & 0xFF;
  const uint32_t i2 = index >> 16 & 0xFF;
  const uint32_t i3 = index >> 24;
  const V bytes_low = _mm256_shuffle_epi8(slots_low, Masks(kUtf8EncodeTable, i0, i2));
  const V bytes_high = _mm256_shuffle_epi8(slots_high, Masks(kUtf8EncodeTable, i1, i3));
  int32_t n = 0;
  Store128(out, _mm256_castsi256_si128(bytes_low));
  n += kUtf8EncodeTable.lengths[i0];
  Store128(out + n, _mm256_castsi256_si128(bytes_high));
  n += kUtf8EncodeTable.lengths[i1];
  Store128(out + n, _mm256_extracti128_si256(bytes_low, 1));
  n += kUtf8EncodeTable.lengths[i2];
  Store128(out + n, _mm256_extracti128_si256(bytes_high, 1));
  return n + kUtf8EncodeTable.lengths[i3];
}

}  // namespace

ZN_WIDE Utf8BlockRun Utf8WideEncode(const char16_t* source, int32_t units, char* out,
                                    int64_t room) {
  int32_t in = 0;
  int64_t given = 0;
  while (units - in >= kWideUnits && room - given >= kWideEncodeRoom) {
    const V a = Load(source + in);
    const V b = Load(source + in + 16);
    if (AllAscii(a, b)) {
      Store(out + given, _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
      in += kWideUnits;
      given += kWideUnits;
      continue;
    }
    int32_t taken = 0;
    bool stuck = false;
    given += EncodeSixteen(a, out + given, &taken, &stuck);
    in += taken;
    if (taken < 16) {
      if (stuck) {
        break;
      }
      continue;  // a pair cut by the middle of the block: the next block starts with it
    }
    given += EncodeSixteen(b, out + given, &taken, &stuck);
    in += taken;
    if (stuck) {
      break;
    }
  }
  return {in, given};
}

// Counting takes surrogate pairs as the sixteen-unit count does: each half counts two bytes; a
// block is counted up to its first lone surrogate, or up to a high one in its last place.
ZN_WIDE Utf8BlockRun Utf8WideCountEncoded(const char16_t* source, int32_t units, int64_t room) {
  int32_t in = 0;
  int64_t given = 0;
  while (units - in >= kWideUnits && room - given >= 3 * kWideUnits) {
    const V a = Load(source + in);
    const V b = Load(source + in + 16);
    if (AllAscii(a, b)) {
      in += kWideUnits;
      given += kWideUnits;
      continue;
    }
    const uint32_t one_byte = UnitMask(a, b, 0xFF80, 0);
    const uint32_t up_to_two = UnitMask(a, b, 0xF800, 0);
    const uint32_t high = UnitMask(a, b, 0xFC00, 0xD800);
    const uint32_t low = UnitMask(a, b, 0xFC00, 0xDC00);
    uint32_t n = kWideUnits;
    bool stuck = false;
    const uint64_t unpaired = (uint64_t{high} << 1) ^ low;
    if (unpaired != 0) {
      const auto first = static_cast<uint32_t>(std::countr_zero(unpaired));
      n = first > 0 && (high >> (first - 1) & 1) != 0 ? first - 1 : first;
      stuck = first < kWideUnits;
      if (n == 0) {
        break;
      }
    }
    const uint32_t kept = n == 32 ? ~0u : (1u << n) - 1;
    given += 3 * static_cast<int64_t>(n) - std::popcount(one_byte & kept) -
             std::popcount(up_to_two & kept) - std::popcount((high | low) & kept);
    in += static_cast<int32_t>(n);
    if (stuck) {
      break;
    }
  }
  return {in, given};
}

namespace {

// The scan reads whole aligned blocks, and the sanitizers are told so: they would report the
// bytes beside the string, which lie on its own pages.
#define ZN_WIDE_SCAN __attribute__((no_sanitize("address"))) ZN_WIDE

ZN_WIDE_SCAN inline void LoadAligned(const char16_t* block, V* a, V* b) {
  *a = _mm256_load_si256(reinterpret_cast<const V*>(block));
  *b = _mm256_load_si256(reinterpret_cast<const V*>(block + 16));
}

// The first 0 unit from the aligned block `block` on.
ZN_WIDE_SCAN const char16_t* FindTerminator(const char16_t* block) {
  for (;; block += kWideUnits) {
    V a;
    V b;
    LoadAligned(block, &a, &b);
    const uint32_t zero = UnitMask(a, b, 0xFFFF, 0);
    if (zero != 0) {
      return block + std::countr_zero(zero);
    }
  }
}

}  // namespace

// Counts as the rules count a source with its terminator: each character's bytes, a pair's four
// given at its low half, a lone low surrogate three; the count ends before a high surrogate that
// no low one follows (the terminator at the latest), and the scan then only looks for the end.
ZN_WIDE_SCAN Utf16Measure Utf8WideMeasure(const char16_t* s) {
  const auto address = reinterpret_cast<uintptr_t>(s);
  const char16_t* block = s - (address & 63) / 2;
  uint32_t lanes = ~0u << ((address & 63) / 2);  // the string's units in this block
  uint32_t carry = 0;  // the last unit of the previous block was a high surrogate, not counted
  int64_t bytes = 0;
  for (;; block += kWideUnits, lanes = ~0u) {
    V a;
    V b;
    LoadAligned(block, &a, &b);
    const bool plain = carry == 0 && lanes == ~0u && AllAscii(a, b);
    const uint32_t zero = UnitMask(a, b, 0xFFFF, 0) & lanes;
    if (plain && zero == 0) {
      bytes += kWideUnits;
      continue;
    }
    if (zero != 0) {
      lanes &= (zero & -zero) * 2 - 1;  // up to the terminator, which counts one byte
    }
    const uint32_t one_byte = UnitMask(a, b, 0xFF80, 0) & lanes;
    const uint32_t up_to_two = UnitMask(a, b, 0xF800, 0) & lanes;
    const uint32_t high = UnitMask(a, b, 0xFC00, 0xD800) & lanes;
    const uint32_t low = UnitMask(a, b, 0xFC00, 0xDC00) & lanes;
    const uint32_t paired_low = low & (high << 1 | carry);
    const uint32_t waiting = high >> 31;  // its low half, if any, opens the next block
    uint32_t counted = lanes;
    bool stopped = carry != 0 && (paired_low & 1) == 0;
    const uint32_t unpaired_high = high & ~(paired_low >> 1) & ~(waiting << 31);
    if (stopped) {
      counted = 0;
    } else if (unpaired_high != 0) {
      counted &= (unpaired_high & -unpaired_high) - 1;
      stopped = true;
    }
    bytes += 3 * std::popcount(counted) - std::popcount(one_byte & counted) -
             std::popcount(up_to_two & counted) - 3 * std::popcount(high & counted) +
             std::popcount(paired_low & counted);
    if (zero != 0) {
      const char16_t* end = block + std::countr_zero(zero);
      return {end - s + 1, bytes};
    }
    if (stopped) {
      const char16_t* end = FindTerminator(block + kWideUnits);
      return {end - s + 1, bytes};
    }
    carry = waiting;
  }
}

// The bytes before the first one that is not ASCII or is 0, by the same aligned blocks.
ZN_WIDE_SCAN int64_t Utf8WideAsciiRun(const char* text) {
  const auto address = reinterpret_cast<uintptr_t>(text);
  const char* block = text - (address & 63);
  uint64_t lanes = ~uint64_t{0} << (address & 63);  // the text's bytes in this block
  for (;; block += kWideBytes, lanes = ~uint64_t{0}) {
    const V a = _mm256_load_si256(reinterpret_cast<const V*>(block));
    const V b = _mm256_load_si256(reinterpret_cast<const V*>(block + 32));
    const V zero = _mm256_setzero_si256();
    const uint64_t stop =
        (Mask64(a, b) | Mask64(_mm256_cmpeq_epi8(a, zero), _mm256_cmpeq_epi8(b, zero))) & lanes;
    if (stop != 0) {
      return block + std::countr_zero(stop) - text;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// UTF-8 to UTF-16

namespace {

// The whole characters at the front of sixty-four bytes: each with all its continuation bytes,
// and a four-byte one only when its value lies from U+10000 to U+10FFFF (so it is exactly one
// pair). A character running past the block is left out without stopping the steps.
struct WholePart {
  uint32_t bytes;  // how many of the sixty-four bytes
  uint64_t ends;   // a bit per unit the part gives: each character's last byte, a pair's third
  bool stuck;      // something other than a character running past the block ends the part
};

ZN_WIDE inline WholePart WholePartOf(V a, V b, uint64_t high_bit) {
  const uint64_t from_c0 =
      Mask64(_mm256_cmpgt_epi8(a, Splat8(-65)), _mm256_cmpgt_epi8(b, Splat8(-65))) & high_bit;
  const uint64_t from_e0 =
      Mask64(_mm256_cmpgt_epi8(a, Splat8(-33)), _mm256_cmpgt_epi8(b, Splat8(-33))) & high_bit;
  const uint64_t from_f0 =
      Mask64(_mm256_cmpgt_epi8(a, Splat8(-17)), _mm256_cmpgt_epi8(b, Splat8(-17))) & high_bit;
  const uint64_t from_f5 =
      Mask64(_mm256_cmpgt_epi8(a, Splat8(-12)), _mm256_cmpgt_epi8(b, Splat8(-12))) & high_bit;
  const uint64_t below_90 =
      Mask64(_mm256_cmpgt_epi8(Splat8(-112), a), _mm256_cmpgt_epi8(Splat8(-112), b));
  const uint64_t is_f0 =
      Mask64(_mm256_cmpeq_epi8(a, Splat8(-16)), _mm256_cmpeq_epi8(b, Splat8(-16)));
  const uint64_t is_f4 =
      Mask64(_mm256_cmpeq_epi8(a, Splat8(-12)), _mm256_cmpeq_epi8(b, Splat8(-12)));
  const uint64_t continuation = high_bit & ~from_c0;
  const uint64_t starts = ~continuation;
  // F0 before 80..8F is below U+10000, F4 before 90..BF above U+10FFFF: marked at the lead. An F4
  // in the last place runs past the block, which leaves it to the next.
  const uint64_t next_below_90 = below_90 >> 1;
  const uint64_t out_of_range =
      (is_f0 & next_below_90) | (is_f4 & ~next_below_90 & ~(uint64_t{1} << 63));
  // Where continuation bytes must be: one after every lead, two after three- and four-byte leads;
  // `beyond` holds those that lie past the block.
  const uint64_t expected = from_c0 << 1 | from_e0 << 2 | from_f0 << 3;
  const uint64_t beyond = from_c0 >> 63 | from_e0 >> 62 | from_f0 >> 61;
  const uint64_t wrong = (expected ^ continuation) | from_f5 | out_of_range;
  uint32_t whole = kWideBytes;
  bool stuck = false;
  if (wrong != 0 || beyond != 0) {
    // A stray continuation byte or a lead that cannot start a whole character: what is before it
    // is whole. A continuation byte missing there (or lying past the block): the character it
    // belongs to begins at the last start before it, and is left out.
    const auto first = static_cast<uint32_t>(wrong != 0 ? std::countr_zero(wrong) : 64);
    const bool missing = first == 64 || (expected >> first & 1) != 0;
    const uint64_t before = first == 64 ? starts : starts & ((uint64_t{1} << first) - 1);
    whole = missing ? static_cast<uint32_t>(63 - std::countl_zero(before | 1)) : first;
    stuck = first < 64;
  }
  const uint64_t kept = whole == 64 ? ~uint64_t{0} : (uint64_t{1} << whole) - 1;
  // A character ends before each start and at the end of the part; a pair's high half ends at
  // the third byte.
  const uint64_t last = whole == 0 ? 0 : uint64_t{1} << (whole - 1);
  const uint64_t ends = ((starts & kept) >> 1) | last | (from_f0 & kept) << 2;
  return {whole, ends, stuck};
}

// The value each of sixteen bytes ends, as 16-bit lanes, from the byte and the three before it.
// Only the lanes at the last byte of a well-formed character mean anything, and, for a four-byte
// character, the lane of its third byte (the high surrogate) and of its fourth (the low one).
ZN_WIDE inline V ValuesOf(V byte, V before1, V before2, V before3) {
  const V ascii = _mm256_cmpgt_epi16(Splat16(0x80), byte);
  const V low6 = _mm256_and_si256(byte, Splat16(0x3F));
  // A continuation byte ends a three-byte character when the byte before it is a continuation
  // byte too; a two-byte lead's value bits are its low six (bit 5 is 0 in 110xxxxx).
  const V third = _mm256_cmpgt_epi16(Splat16(0xC0), before1);
  const V value = _mm256_or_si256(
      _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(before1, Splat16(0x3F)), 6), low6),
      _mm256_and_si256(third, _mm256_slli_epi16(_mm256_and_si256(before2, Splat16(0x0F)), 12)));
  // Four bytes: the third gives the high surrogate, ((value - 0x10000) >> 10) over 0xD800, the
  // fourth the low one, the value's low ten bits over 0xDC00.
  const V high_surrogate = _mm256_add_epi16(
      _mm256_or_si256(
          _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(before2, Splat16(0x07)), 8),
                          _mm256_slli_epi16(_mm256_and_si256(before1, Splat16(0x3F)), 2)),
          _mm256_srli_epi16(low6, 4)),
      Splat16(0xD800 - 0x40));
  const V low_surrogate = _mm256_or_si256(
      _mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(before1, Splat16(0x0F)), 6), low6),
      Splat16(0xDC00));
  const V four_third = _mm256_cmpgt_epi16(before2, Splat16(0xEF));
  const V four_fourth = _mm256_cmpgt_epi16(before3, Splat16(0xEF));
  return Select(ascii, byte,
                Select(four_third, high_surrogate, Select(four_fourth, low_surrogate, value)));
}

ZN_WIDE inline V Widen(__m128i bytes) {
  return _mm256_cvtepu8_epi16(bytes);
}

// Decodes the whole part of the sixty-four bytes at `source` to `out`, sixteen bytes at a time;
// returns the units given.
ZN_WIDE inline int64_t DecodePart(const unsigned char* source, const WholePart& part,
                                  char16_t* out) {
  int64_t given = 0;
  __m128i previous = _mm_setzero_si128();
  for (uint32_t at = 0; at < part.bytes; at += 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + at));
    const V values = ValuesOf(Widen(bytes), Widen(_mm_alignr_epi8(bytes, previous, 15)),
                              Widen(_mm_alignr_epi8(bytes, previous, 14)),
                              Widen(_mm_alignr_epi8(bytes, previous, 13)));
    previous = bytes;
    const auto ends = static_cast<uint32_t>(part.ends >> at);
    const uint32_t low = ends & 0xFF;
    const uint32_t high = ends >> 8 & 0xFF;
    const V units = _mm256_shuffle_epi8(values, Masks(kUtf8DecodeTable, low, high));
    Store128(out + given, _mm256_castsi256_si128(units));
    given += kUtf8DecodeTable.lengths[low];
    Store128(out + given, _mm256_extracti128_si256(units, 1));
    given += kUtf8DecodeTable.lengths[high];
  }
  return given;
}

}  // namespace

ZN_WIDE Utf8BlockRun Utf8WideDecode(const unsigned char* source, int32_t bytes, char16_t* out,
                                    int64_t room) {
  int32_t in = 0;
  int64_t given = 0;
  while (bytes - in >= kWideBytes && room - given >= kWideDecodeRoom) {
    const V a = Load(source + in);
    const V b = Load(source + in + 32);
    const uint64_t high_bit = Mask64(a, b);
    if (high_bit == 0) {
      Store(out + given, Widen(_mm256_castsi256_si128(a)));
      Store(out + given + 16, Widen(_mm256_extracti128_si256(a, 1)));
      Store(out + given + 32, Widen(_mm256_castsi256_si128(b)));
      Store(out + given + 48, Widen(_mm256_extracti128_si256(b, 1)));
      in += kWideBytes;
      given += kWideBytes;
      continue;
    }
    const WholePart part = WholePartOf(a, b, high_bit);
    if (part.bytes == 0) {
      break;
    }
    given += DecodePart(source + in, part, out + given);
    in += static_cast<int32_t>(part.bytes);
    if (part.stuck) {
      break;
    }
  }
  return {in, given};
}

ZN_WIDE Utf8BlockRun Utf8WideCountDecoded(const unsigned char* source, int32_t bytes) {
  int32_t in = 0;
  int64_t given = 0;
  while (bytes - in >= kWideBytes) {
    const V a = Load(source + in);
    const V b = Load(source + in + 32);
    const uint64_t high_bit = Mask64(a, b);
    if (high_bit == 0) {
      in += kWideBytes;
      given += kWideBytes;
      continue;
    }
    const WholePart part = WholePartOf(a, b, high_bit);
    if (part.bytes == 0) {
      break;
    }
    given += std::popcount(part.ends);
    in += static_cast<int32_t>(part.bytes);
    if (part.stuck) {
      break;
    }
  }
  return {in, given};
}

// AVX2 with the operating system's support for its registers, as the C library saw it at start.
bool Utf8WideDetect() {
#if defined(CPU_FEATURE_ACTIVE)
  return CPU_FEATURE_ACTIVE(AVX2) && CPU_FEATURE_ACTIVE(BMI1) && CPU_FEATURE_ACTIVE(LZCNT) &&
         CPU_FEATURE_ACTIVE(POPCNT);
#else
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("popcnt");
#endif
}

#else

bool Utf8WideDetect() {
  return false;
}

#endif

}  // namespace zn::internal
