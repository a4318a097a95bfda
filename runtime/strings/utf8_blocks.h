// Internal to the string library: the UTF-8 converters' block steps for processors with SSSE3 and
// POPCNT. Each takes whole blocks of well-formed text (ASCII, two- and three-byte characters,
// surrogate pairs when counting units to bytes) from the front of its source and stops before the
// first character it cannot take whole; the caller's character-at-a-time rules take that one, so
// every fault, stop and limit keeps its exact place. Not installed.
//
// A block step never reads outside its source. When converting it may write past the characters
// it took, inside the room it was given; the characters after them overwrite those bytes.
#pragma once

#include <cstdint>

namespace zn::internal {

// What a block step took from its source and gave to its destination (or counted).
struct Utf8BlockRun {
  int32_t taken;
  int64_t given;
};

// Whether this processor runs the block steps (and they are not switched off); when it does not,
// the callers keep to their portable steps.
bool Utf8BlocksAvailable();

// Set by the tests to run the portable steps on a processor that has the block steps.
extern bool utf8_blocks_switched_off;

// The room (bytes, or units) a converting block step needs ahead of it to take one more block.
inline constexpr int64_t kUtf8BlockEncodeRoom = 64;
inline constexpr int64_t kUtf8BlockDecodeRoom = 32;
inline constexpr int32_t kUtf8BlockSource = 16;

// UTF-16 to UTF-8 over `units` units. With a null destination it counts; else it writes into
// `room` bytes. Only characters of the Basic Multilingual Plane outside the surrogates are
// converted; counting also takes complete surrogate pairs.
Utf8BlockRun Utf8BlocksEncode(const char16_t* source, int32_t units, char* destination,
                              int64_t room);

// UTF-8 to UTF-16 over `bytes` bytes: ASCII, two- and three-byte sequences whose continuation
// bytes are all present. With a null destination it counts; else it writes into `room` units.
Utf8BlockRun Utf8BlocksDecode(const unsigned char* source, int32_t bytes, char16_t* destination,
                              int64_t room);

}  // namespace zn::internal
