// The UTF-8 converters' block steps: sixteen units or bytes per step, with SSSE3 byte shuffles
// from small tables to put each character's bytes or units side by side.
//
// Encoding builds, for each of eight units, the three bytes a three-byte character would take and
// keeps the first one, two or three of them, as the unit's range asks. Decoding works out each
// byte's value as if it ended a character, then keeps the values at the ends of characters.
// Where a block holds something the steps do not take (a surrogate when converting, a four-byte
// sequence, a malformed or cut-off one, a character running past the block), the step takes the
// characters before it and returns; the caller's rules take the next character.
//
// These functions are compiled for SSSE3 and POPCNT and only called once the processor has been
// seen to have both; every other processor keeps to the callers' portable steps. Where the
// processor has AVX2 as well, the wide steps (utf8_blocks_wide.cpp) go first and these take the
// tail that is too short for them.
#include "runtime/strings/utf8_blocks.h"

#include <bit>
#include <cstdint>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define ZN_UTF8_BLOCKS 1
#include <tmmintrin.h>

#include "runtime/strings/utf8_block_tables.h"
#if defined(__GLIBC__) && __has_include(<sys/platform/x86.h>)
#define _Bool bool  // the header is written for C, whose _Bool clang's C++ does not know
#include <sys/platform/x86.h>
#undef _Bool
#endif
#define ZN_UTF8_BLOCKS_TARGET __attribute__((target("ssse3,popcnt")))
#else
#define ZN_UTF8_BLOCKS 0
#endif

namespace zn::internal {

Utf8BlockLevel utf8_blocks_cap = Utf8BlockLevel::kWide;

#if ZN_UTF8_BLOCKS

namespace {

constexpr const Utf8ShuffleTable& kEncodeTable = kUtf8EncodeTable;
constexpr const Utf8ShuffleTable& kDecodeTable = kUtf8DecodeTable;

ZN_UTF8_BLOCKS_TARGET inline __m128i Load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

ZN_UTF8_BLOCKS_TARGET inline void Store(void* p, __m128i value) {
  _mm_storeu_si128(static_cast<__m128i*>(p), value);
}

ZN_UTF8_BLOCKS_TARGET inline __m128i Shuffle(__m128i value, const Utf8ShuffleTable& table,
                                             uint32_t index) {
  return _mm_shuffle_epi8(value, Load(table.masks[index].data()));
}

ZN_UTF8_BLOCKS_TARGET inline __m128i Select(__m128i mask, __m128i if_set, __m128i if_clear) {
  return _mm_or_si128(_mm_and_si128(mask, if_set), _mm_andnot_si128(mask, if_clear));
}

ZN_UTF8_BLOCKS_TARGET inline __m128i Splat16(uint32_t value) {
  return _mm_set1_epi16(static_cast<int16_t>(value));
}

ZN_UTF8_BLOCKS_TARGET inline uint32_t Mask8(__m128i bytes) {
  return static_cast<uint32_t>(_mm_movemask_epi8(bytes));
}

// One bit per unit of `a` then `b` (16 units) for the lanes where (unit & bits) == value.
ZN_UTF8_BLOCKS_TARGET inline uint32_t UnitMask(__m128i a, __m128i b, uint32_t bits,
                                               uint32_t value) {
  const __m128i select = Splat16(bits);
  const __m128i want = Splat16(value);
  return Mask8(_mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(a, select), want),
                               _mm_cmpeq_epi16(_mm_and_si128(b, select), want)));
}

// The UTF-8 of the eight units in `units` up to the first surrogate, written at `out` (up to 28
// bytes are stored). Returns the bytes; *taken is the units converted.
ZN_UTF8_BLOCKS_TARGET inline int32_t EncodeEight(__m128i units, char* out, int32_t* taken) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i above_ascii = Splat16(0xFF80);
  const __m128i above_two = Splat16(0xF800);
  // Two mask bits per unit from here on.
  const uint32_t surrogates =
      Mask8(_mm_cmpeq_epi16(_mm_and_si128(units, above_two), Splat16(0xD800)));
  uint32_t left_out = 0;
  *taken = 8;
  if (surrogates != 0) {
    const auto first = static_cast<uint32_t>(std::countr_zero(surrogates));
    *taken = static_cast<int32_t>(first / 2);
    if (first == 0) {
      return 0;
    }
    left_out = (0xFFFFu << first) & 0xFFFF;
  }
  const __m128i one_byte = _mm_cmpeq_epi16(_mm_and_si128(units, above_ascii), zero);
  const __m128i up_to_two = _mm_cmpeq_epi16(_mm_and_si128(units, above_two), zero);
  const __m128i low6 = _mm_and_si128(units, Splat16(0x3F));
  const __m128i shifted6 = _mm_srli_epi16(units, 6);
  const __m128i lead2 = _mm_or_si128(shifted6, Splat16(0xC0));
  const __m128i lead3 = _mm_or_si128(_mm_srli_epi16(units, 12), Splat16(0xE0));
  const __m128i first_byte = Select(one_byte, units, Select(up_to_two, lead2, lead3));
  const __m128i second_byte =
      _mm_or_si128(Select(up_to_two, low6, _mm_and_si128(shifted6, Splat16(0x3F))), Splat16(0x80));
  const __m128i third_byte = _mm_or_si128(low6, Splat16(0x80));
  const __m128i pairs = _mm_or_si128(first_byte, _mm_slli_epi16(second_byte, 8));
  const __m128i slots_low = _mm_unpacklo_epi16(pairs, third_byte);
  const __m128i slots_high = _mm_unpackhi_epi16(pairs, third_byte);
  const uint32_t from_two = ~Mask8(one_byte) & 0xFFFF & ~left_out;
  const uint32_t from_three = (~Mask8(up_to_two) & 0xFFFF) | left_out;
  const uint32_t index = (from_two & 0x5555) | (from_three & 0xAAAA);
  Store(out, Shuffle(slots_low, kEncodeTable, index & 0xFF));
  const int32_t low_bytes = kEncodeTable.lengths[index & 0xFF];
  Store(out + low_bytes, Shuffle(slots_high, kEncodeTable, index >> 8));
  return low_bytes + kEncodeTable.lengths[index >> 8];
}

// Whether all sixteen units of `a` and `b` are ASCII: then a block converts by narrowing alone.
ZN_UTF8_BLOCKS_TARGET inline bool SixteenAscii(__m128i a, __m128i b) {
  const __m128i outside = _mm_and_si128(_mm_or_si128(a, b), Splat16(0xFF80));
  return Mask8(_mm_cmpeq_epi16(outside, _mm_setzero_si128())) == 0xFFFF;
}

ZN_UTF8_BLOCKS_TARGET Utf8BlockRun EncodeBlocks(const char16_t* source, int32_t units, char* out,
                                                int64_t room) {
  int32_t in = 0;
  int64_t given = 0;
  while (units - in >= kUtf8BlockSource && room - given >= kUtf8BlockEncodeRoom) {
    const __m128i a = Load(source + in);
    const __m128i b = Load(source + in + 8);
    if (SixteenAscii(a, b)) {
      Store(out + given, _mm_packus_epi16(a, b));
      in += 16;
      given += 16;
      continue;
    }
    int32_t taken = 0;
    given += EncodeEight(a, out + given, &taken);
    in += taken;
    if (taken < 8) {
      break;
    }
    given += EncodeEight(b, out + given, &taken);
    in += taken;
    if (taken < 8) {
      break;
    }
  }
  return {in, given};
}

// Counting takes surrogate pairs too: each half of a pair counts two bytes. A block is counted up
// to its first lone surrogate, or up to a high surrogate in its last place (its partner, if any,
// is in the next block).
ZN_UTF8_BLOCKS_TARGET Utf8BlockRun CountEncodedBlocks(const char16_t* source, int32_t units,
                                                      int64_t room) {
  int32_t in = 0;
  int64_t given = 0;
  while (units - in >= kUtf8BlockSource && room - given >= kUtf8BlockEncodeRoom) {
    const __m128i a = Load(source + in);
    const __m128i b = Load(source + in + 8);
    if (SixteenAscii(a, b)) {
      in += 16;
      given += 16;
      continue;
    }
    const uint32_t one_byte = UnitMask(a, b, 0xFF80, 0);
    const uint32_t up_to_two = UnitMask(a, b, 0xF800, 0);
    const uint32_t high = UnitMask(a, b, 0xFC00, 0xD800);
    const uint32_t low = UnitMask(a, b, 0xFC00, 0xDC00);
    uint32_t n = 16;
    bool stuck = false;
    const uint32_t unpaired = (high << 1) ^ low;
    if (unpaired != 0) {
      // Stop before a high surrogate that no low one follows, or at a lone low one; a high
      // surrogate in the last place only waits for the next block.
      const auto first = static_cast<uint32_t>(std::countr_zero(unpaired));
      n = first > 0 && (high >> (first - 1) & 1) != 0 ? first - 1 : first;
      stuck = first < 16;
      if (n == 0) {
        break;
      }
    }
    const uint32_t kept = (1u << n) - 1;
    given += 3 * static_cast<int64_t>(n) - std::popcount(one_byte & kept) -
             std::popcount(up_to_two & kept) - std::popcount((high | low) & kept);
    in += static_cast<int32_t>(n);
    if (stuck) {
      break;
    }
  }
  return {in, given};
}

// The values that the sixteen bytes `bytes` end, as 16-bit lanes: `low` for bytes 0 to 7, `high`
// for 8 to 15. Only the lanes at the last byte of a well-formed character mean anything, and, for
// a four-byte character, the lane of its third byte (the high surrogate) and of its fourth (the
// low one).
struct EndValues {
  __m128i low;
  __m128i high;
};

ZN_UTF8_BLOCKS_TARGET inline __m128i ValuesOf(__m128i byte, __m128i before1, __m128i before2,
                                              __m128i before3) {
  const __m128i ascii = _mm_cmplt_epi16(byte, Splat16(0x80));
  const __m128i low6 = _mm_and_si128(byte, Splat16(0x3F));
  // A continuation byte ends a three-byte character when the byte before it is a continuation
  // byte too; a two-byte lead's value bits are its low six (bit 5 is 0 in 110xxxxx).
  const __m128i third = _mm_cmplt_epi16(before1, Splat16(0xC0));
  const __m128i value =
      _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(before1, Splat16(0x3F)), 6), low6),
                   _mm_and_si128(third, _mm_slli_epi16(_mm_and_si128(before2, Splat16(0x0F)), 12)));
  // Four bytes: the third gives the high surrogate, ((value - 0x10000) >> 10) over 0xD800, the
  // fourth the low one, the value's low ten bits over 0xDC00.
  const __m128i high_surrogate = _mm_add_epi16(
      _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(before2, Splat16(0x07)), 8),
                                _mm_slli_epi16(_mm_and_si128(before1, Splat16(0x3F)), 2)),
                   _mm_srli_epi16(low6, 4)),
      Splat16(0xD800 - 0x40));
  const __m128i low_surrogate =
      _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(before1, Splat16(0x0F)), 6), low6),
                   Splat16(0xDC00));
  const __m128i four_third = _mm_cmpgt_epi16(before2, Splat16(0xEF));
  const __m128i four_fourth = _mm_cmpgt_epi16(before3, Splat16(0xEF));
  return Select(ascii, byte,
                Select(four_third, high_surrogate, Select(four_fourth, low_surrogate, value)));
}

ZN_UTF8_BLOCKS_TARGET inline EndValues EndValuesOf(__m128i bytes) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i before1 = _mm_slli_si128(bytes, 1);
  const __m128i before2 = _mm_slli_si128(bytes, 2);
  const __m128i before3 = _mm_slli_si128(bytes, 3);
  return {ValuesOf(_mm_unpacklo_epi8(bytes, zero), _mm_unpacklo_epi8(before1, zero),
                   _mm_unpacklo_epi8(before2, zero), _mm_unpacklo_epi8(before3, zero)),
          ValuesOf(_mm_unpackhi_epi8(bytes, zero), _mm_unpackhi_epi8(before1, zero),
                   _mm_unpackhi_epi8(before2, zero), _mm_unpackhi_epi8(before3, zero))};
}

// The front of a block that holds whole characters, each with all its continuation bytes and a
// four-byte one only when its value lies from U+10000 to U+10FFFF (so it is exactly one pair).
struct WholePart {
  uint32_t bytes;  // how many of the sixteen bytes
  uint32_t ends;   // a bit per unit the part gives: each character's last byte, a pair's third
  bool stuck;      // something other than a character running past the block ends the part
};

ZN_UTF8_BLOCKS_TARGET inline WholePart WholePartOf(__m128i bytes, uint32_t high_bit) {
  const uint32_t from_c0 = Mask8(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(-65))) & high_bit;
  const uint32_t from_e0 = Mask8(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(-33))) & high_bit;
  const uint32_t from_f0 = Mask8(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(-17))) & high_bit;
  const uint32_t from_f5 = Mask8(_mm_cmpgt_epi8(bytes, _mm_set1_epi8(-12))) & high_bit;
  const uint32_t continuation = high_bit & ~from_c0;
  const uint32_t starts = ~continuation & 0xFFFF;
  // F0 before 80..8F is below U+10000, F4 before 90..BF above U+10FFFF: marked at the lead.
  const __m128i before1 = _mm_slli_si128(bytes, 1);
  const __m128i below_90 = _mm_cmplt_epi8(bytes, _mm_set1_epi8(-112));
  const uint32_t out_of_range =
      Mask8(
          _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(before1, _mm_set1_epi8(-16)), below_90),
                       _mm_andnot_si128(below_90, _mm_cmpeq_epi8(before1, _mm_set1_epi8(-12))))) >>
      1;
  // Where continuation bytes must be: one after every lead, two after three- and four-byte leads.
  const uint32_t expected = from_c0 << 1 | from_e0 << 2 | from_f0 << 3;
  // The first wrong place; a bit past the block stands for "nothing wrong".
  const uint32_t wrong = (expected ^ continuation) | from_f5 | out_of_range | 1u << 16;
  const auto first = static_cast<uint32_t>(std::countr_zero(wrong));
  // A stray continuation byte or a lead that cannot start a whole character: what is before it
  // is whole. A continuation byte missing there (or lying past the block): the character it
  // belongs to begins at the last start before it, and is left out. Chosen without branches, as
  // mixed text takes either often.
  const uint32_t before = starts & ((1u << first) - 1);
  const auto last_start = static_cast<uint32_t>(31 - std::countl_zero(before | 1));
  const uint32_t whole = (expected >> first & 1) != 0 ? last_start : first;
  const uint32_t kept = (1u << whole) - 1;
  // A character ends before each start and at the end of the part; a pair's high half ends at
  // the third byte.
  const uint32_t ends = (((starts & kept) | 1u << whole) >> 1) | (from_f0 & kept) << 2;
  return {whole, ends, first < 16};
}

ZN_UTF8_BLOCKS_TARGET Utf8BlockRun DecodeBlocks(const unsigned char* source, int32_t bytes,
                                                char16_t* out, int64_t room) {
  const __m128i zero = _mm_setzero_si128();
  int32_t in = 0;
  int64_t given = 0;
  while (bytes - in >= kUtf8BlockSource && room - given >= kUtf8BlockDecodeRoom) {
    const __m128i block = Load(source + in);
    const uint32_t high_bit = Mask8(block);
    if (high_bit == 0) {
      Store(out + given, _mm_unpacklo_epi8(block, zero));
      Store(out + given + 8, _mm_unpackhi_epi8(block, zero));
      in += 16;
      given += 16;
      continue;
    }
    const WholePart part = WholePartOf(block, high_bit);
    if (part.bytes == 0) {
      break;
    }
    const EndValues values = EndValuesOf(block);
    Store(out + given, Shuffle(values.low, kDecodeTable, part.ends & 0xFF));
    given += kDecodeTable.lengths[part.ends & 0xFF];
    Store(out + given, Shuffle(values.high, kDecodeTable, part.ends >> 8));
    given += kDecodeTable.lengths[part.ends >> 8];
    in += static_cast<int32_t>(part.bytes);
    if (part.stuck) {
      break;
    }
  }
  return {in, given};
}

ZN_UTF8_BLOCKS_TARGET Utf8BlockRun CountDecodedBlocks(const unsigned char* source, int32_t bytes) {
  int32_t in = 0;
  int64_t given = 0;
  while (bytes - in >= kUtf8BlockSource) {
    const __m128i block = Load(source + in);
    const uint32_t high_bit = Mask8(block);
    if (high_bit == 0) {
      in += 16;
      given += 16;
      continue;
    }
    const WholePart part = WholePartOf(block, high_bit);
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

// The C library has asked the processor already when the process started; the compiler's own
// detection would ask again, in a constructor that every program linking this library would run
// at start-up, and each question costs tens of microseconds on a virtual machine.
__attribute__((noinline, cold)) Utf8BlockLevel DetectLevel() {
#if defined(CPU_FEATURE_ACTIVE)
  const bool sixteen = CPU_FEATURE_ACTIVE(SSSE3) && CPU_FEATURE_ACTIVE(POPCNT);
#else
  __builtin_cpu_init();
  const bool sixteen = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
#endif
  if (!sixteen) {
    return Utf8BlockLevel::kPortable;
  }
  return Utf8WideDetect() ? Utf8BlockLevel::kWide : Utf8BlockLevel::kSixteen;
}

// The wide steps take what they can; the sixteen-unit steps go on from there over a tail too
// short for a wide block, or stop at once before the character that stopped the wide ones.
// Apart, so that the short texts' way through the steps below saves no registers for them.
__attribute__((noinline)) Utf8BlockRun EncodeWide(const char16_t* source, int32_t units,
                                                  char* destination, int64_t room) {
  const Utf8BlockRun wide = destination == nullptr
                                ? Utf8WideCountEncoded(source, units, room)
                                : Utf8WideEncode(source, units, destination, room);
  const Utf8BlockRun rest =
      destination == nullptr
          ? CountEncodedBlocks(source + wide.taken, units - wide.taken, room - wide.given)
          : EncodeBlocks(source + wide.taken, units - wide.taken, destination + wide.given,
                         room - wide.given);
  return {wide.taken + rest.taken, wide.given + rest.given};
}

__attribute__((noinline)) Utf8BlockRun DecodeWide(const unsigned char* source, int32_t bytes,
                                                  char16_t* destination, int64_t room) {
  const Utf8BlockRun wide = destination == nullptr
                                ? Utf8WideCountDecoded(source, bytes)
                                : Utf8WideDecode(source, bytes, destination, room);
  const Utf8BlockRun rest = destination == nullptr
                                ? CountDecodedBlocks(source + wide.taken, bytes - wide.taken)
                                : DecodeBlocks(source + wide.taken, bytes - wide.taken,
                                               destination + wide.given, room - wide.given);
  return {wide.taken + rest.taken, wide.given + rest.given};
}

}  // namespace

Utf8BlockLevel Utf8BlocksLevel() {
  static const Utf8BlockLevel detected = DetectLevel();
  return detected < utf8_blocks_cap ? detected : utf8_blocks_cap;
}

Utf8BlockRun Utf8BlocksEncode(Utf8BlockLevel level, const char16_t* source, int32_t units,
                              char* destination, int64_t room) {
  if (units >= kUtf8WideUnits && level == Utf8BlockLevel::kWide) {
    return EncodeWide(source, units, destination, room);
  }
  return destination == nullptr ? CountEncodedBlocks(source, units, room)
                                : EncodeBlocks(source, units, destination, room);
}

Utf8BlockRun Utf8BlocksDecode(Utf8BlockLevel level, const unsigned char* source, int32_t bytes,
                              char16_t* destination, int64_t room) {
  if (bytes >= kUtf8WideBytes && level == Utf8BlockLevel::kWide) {
    return DecodeWide(source, bytes, destination, room);
  }
  return destination == nullptr ? CountDecodedBlocks(source, bytes)
                                : DecodeBlocks(source, bytes, destination, room);
}

bool Utf8BlocksMeasure(const char16_t* s, Utf16Measure* measure) {
  // The scan's units must lie on the lanes of its aligned blocks.
  if (Utf8BlocksLevel() != Utf8BlockLevel::kWide || reinterpret_cast<uintptr_t>(s) % 2 != 0) {
    return false;
  }
  *measure = Utf8WideMeasure(s);
  return true;
}

int64_t Utf8BlocksAsciiRun(const char* text) {
  return Utf8BlocksLevel() == Utf8BlockLevel::kWide ? Utf8WideAsciiRun(text) : 0;
}

#else

Utf8BlockLevel Utf8BlocksLevel() {
  return Utf8BlockLevel::kPortable;
}

Utf8BlockRun Utf8BlocksEncode(Utf8BlockLevel /*level*/, const char16_t* /*source*/,
                              int32_t /*units*/, char* /*destination*/, int64_t /*room*/) {
  return {0, 0};
}

Utf8BlockRun Utf8BlocksDecode(Utf8BlockLevel /*level*/, const unsigned char* /*source*/,
                              int32_t /*bytes*/, char16_t* /*destination*/, int64_t /*room*/) {
  return {0, 0};
}

bool Utf8BlocksMeasure(const char16_t* /*s*/, Utf16Measure* /*measure*/) {
  return false;
}

int64_t Utf8BlocksAsciiRun(const char* /*text*/) {
  return 0;
}

#endif

}  // namespace zn::internal
