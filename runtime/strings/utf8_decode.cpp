// UTF-8 to UTF-16: the decoding rules shared by counting and converting.
//
// The decoder is lenient by design: overlong forms and encoded surrogates pass, and a sequence cut
// short by a byte that is not a continuation byte ends there, that byte consumed with it and the
// character being the bits gathered so far. It stops (keeping what it has) on a sequence announcing
// more bytes than remain, on a value above U+10FFFF, and when the destination is full; a malformed
// lead byte stops it as a fault. Counting and converting share one template so that they stop at
// exactly the same places: a destination sized by a count is always filled exactly.
#include <cstdint>

#include "runtime/strings/strings_internal.h"

namespace zn::internal {
namespace {

constexpr uint32_t kLargestCodePoint = 0x10FFFF;

template <bool kConvert>
Converted Decode(const unsigned char* source, int32_t source_length, char16_t* destination,
                 int32_t destination_length) {
  int32_t in = 0;
  int32_t out = 0;
  while (in < source_length) {
    const unsigned lead = source[in];
    if (lead < 0x80) {
      if (kConvert) {
        if (out >= destination_length) {
          break;
        }
        destination[out] = static_cast<char16_t>(lead);
      }
      ++out;
      ++in;
      continue;
    }
    int32_t continuations = 0;
    uint32_t value = 0;
    if (lead < 0xC0 || lead >= 0xF8) {
      return {out, kConvert};
    }
    if (lead < 0xE0) {
      continuations = 1;
      value = lead & 0x1F;
    } else if (lead < 0xF0) {
      continuations = 2;
      value = lead & 0x0F;
    } else {
      continuations = 3;
      value = lead & 0x07;
    }
    if (source_length - in - 1 < continuations) {
      break;
    }
    ++in;
    for (int32_t k = 0; k < continuations; ++k) {
      const unsigned next = source[in++];
      if ((next & 0xC0) != 0x80) {
        break;  // consumed, and the character ends here
      }
      value = value << 6 | (next & 0x3F);
    }
    if (value > kLargestCodePoint) {
      break;
    }
    if (value >= 0x10000) {
      if (kConvert) {
        if (destination_length - out < 2) {
          break;
        }
        destination[out] = static_cast<char16_t>(0xD800 | (value - 0x10000) >> 10);
        destination[out + 1] = static_cast<char16_t>(0xDC00 | (value & 0x3FF));
      }
      out += 2;
    } else {
      if (kConvert) {
        if (out >= destination_length) {
          break;
        }
        destination[out] = static_cast<char16_t>(value);
      }
      ++out;
    }
  }
  return {out, false};
}

}  // namespace

Converted Utf8ToUtf16(const unsigned char* source, int32_t source_length, char16_t* destination,
                      int32_t destination_length) {
  if (destination == nullptr) {
    return Decode<false>(source, source_length, nullptr, 0);
  }
  return Decode<true>(source, source_length, destination, destination_length);
}

}  // namespace zn::internal
