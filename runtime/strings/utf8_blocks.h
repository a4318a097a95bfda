// Internal to the string library: the UTF-8 converters' block steps, in two widths chosen at run
// time: sixteen bytes or units a step on processors with SSSE3 and POPCNT, and up to sixty-four
// bytes a step on processors with AVX2. Each takes whole blocks of well-formed text (ASCII, two-
// and three-byte characters, surrogate pairs) from the front of its source and stops before the
// first character it cannot take whole; the caller's character-at-a-time rules take that one, so
// every fault, stop and limit keeps its exact place. Not installed.
//
// A block step never reads outside its source. When converting it may write past the characters
// it took, inside the room it was given; the characters after them overwrite those bytes. The one
// exception to the first rule is the scan of a terminated string, which must find its end.
#pragma once

#include <cstdint>

namespace zn::internal {

// What a block step took from its source and gave to its destination (or counted).
struct Utf8BlockRun {
  int32_t taken;
  int64_t given;
};

// The kinds of step, from the portable ones (sixteen ASCII bytes or units at a time with SSE2,
// or one at a time) to the widest.
enum class Utf8BlockLevel : int { kPortable = 0, kSixteen = 1, kWide = 2 };

// The widest steps this processor runs, within the tests' cap.
Utf8BlockLevel Utf8BlocksLevel();

// Set by the tests to run narrower steps on a processor that has wider ones.
extern Utf8BlockLevel utf8_blocks_cap;

// The room (bytes, or units) a converting block step needs ahead of it to take one more block.
inline constexpr int64_t kUtf8BlockEncodeRoom = 64;
inline constexpr int64_t kUtf8BlockDecodeRoom = 32;
inline constexpr int32_t kUtf8BlockSource = 16;
// The source a wide step takes at once.
inline constexpr int32_t kUtf8WideUnits = 32;
inline constexpr int32_t kUtf8WideBytes = 64;

// UTF-16 to UTF-8 over `units` units with the block steps of `level` (not the portable one).
// With a null destination it counts; else it writes into `room` bytes. Characters outside the
// surrogates are converted, and complete surrogate pairs by the wide steps or when counting.
Utf8BlockRun Utf8BlocksEncode(Utf8BlockLevel level, const char16_t* source, int32_t units,
                              char* destination, int64_t room);

// UTF-8 to UTF-16 over `bytes` bytes with the block steps of `level`: ASCII, two- and three-byte
// sequences whose continuation bytes are all present, and four-byte ones from U+10000 to
// U+10FFFF. With a null destination it counts; else it writes into `room` units.
Utf8BlockRun Utf8BlocksDecode(Utf8BlockLevel level, const unsigned char* source, int32_t bytes,
                              char16_t* destination, int64_t room);

// A terminated string measured in one pass: its units with the terminator, and the UTF-8 bytes a
// count of those units gives, before that count is limited to a signed 32-bit value.
struct Utf16Measure {
  int64_t units;
  int64_t bytes;
};

// Measures `s` with the wide steps; false where they do not run.
bool Utf8BlocksMeasure(const char16_t* s, Utf16Measure* measure);

// The bytes of a terminated text before its first byte that is not ASCII or is 0, found with the
// wide steps; 0 where they do not run.
int64_t Utf8BlocksAsciiRun(const char* text);

// The wide steps themselves (utf8_blocks_wide.cpp), for a processor that has been seen to run
// them: whole blocks only, the callers above take the rest with the sixteen-byte steps.
bool Utf8WideDetect();
Utf8BlockRun Utf8WideEncode(const char16_t* source, int32_t units, char* destination, int64_t room);
Utf8BlockRun Utf8WideCountEncoded(const char16_t* source, int32_t units, int64_t room);
Utf8BlockRun Utf8WideDecode(const unsigned char* source, int32_t bytes, char16_t* destination,
                            int64_t room);
Utf8BlockRun Utf8WideCountDecoded(const unsigned char* source, int32_t bytes);
Utf16Measure Utf8WideMeasure(const char16_t* s);
int64_t Utf8WideAsciiRun(const char* text);

}  // namespace zn::internal
