// UTF-8 to UTF-16: the decoding rules shared by counting and converting.
//
// The decoder is lenient by design: overlong forms and encoded surrogates pass, and a sequence cut
// short by a byte that is not a continuation byte ends there, that byte consumed with it and the
// character being the bits gathered so far. It stops (keeping what it has) on a sequence announcing
// more bytes than remain, on a value above U+10FFFF, and when the destination is full; a malformed
// lead byte stops it as a fault. Counting and converting share one template so that they stop at
// exactly the same places: a destination sized by a count is always filled exactly.
//
// Speed: the block steps take whole blocks of well-formed text where the processor has them
// (without them ASCII goes up to sixteen bytes per step), and the well-formed two- and three-byte
// shapes are decoded inline; only the rest goes through the full rules.
#include <cstdint>

#include "runtime/strings/ascii_blocks.h"
#include "runtime/strings/strings_internal.h"
#include "runtime/strings/utf8_blocks.h"

namespace zn::internal {
namespace {

constexpr uint32_t kLargestCodePoint = 0x10FFFF;

bool IsContinuation(unsigned byte) {
  return (byte & 0xC0) == 0x80;
}

// One character from a lead byte of 0x80 or more, by the full rules; `in` moves past what the
// character consumed. Returns false where decoding stops (a cut-off sequence, a value above
// U+10FFFF), with *faulted set for a malformed lead byte.
bool DecodeSlow(const unsigned char* source, int32_t source_length, int32_t* in, uint32_t* value,
                bool* faulted) {
  const unsigned lead = source[*in];
  int32_t continuations = 0;
  if (lead < 0xC0 || lead >= 0xF8) {
    *faulted = true;
    return false;
  }
  if (lead < 0xE0) {
    continuations = 1;
    *value = lead & 0x1F;
  } else if (lead < 0xF0) {
    continuations = 2;
    *value = lead & 0x0F;
  } else {
    continuations = 3;
    *value = lead & 0x07;
  }
  if (source_length - *in - 1 < continuations) {
    return false;
  }
  ++*in;
  for (int32_t k = 0; k < continuations; ++k) {
    const unsigned next = source[(*in)++];
    if (!IsContinuation(next)) {
      break;  // consumed, and the character ends here
    }
    *value = *value << 6 | (next & 0x3F);
  }
  return *value <= kLargestCodePoint;
}

template <bool kConvert>
Converted Decode(const unsigned char* source, int32_t source_length, char16_t* destination,
                 int32_t destination_length) {
  int32_t in = 0;
  int32_t out = 0;
  const Utf8BlockLevel level = Utf8BlocksLevel();
  const bool blocks = level != Utf8BlockLevel::kPortable;
  int32_t blocked_at = -1;
  while (in < source_length) {
    // The block steps take all they can; the one character they stopped before goes by the rules
    // below.
    if (blocks) {
      if (in != blocked_at && source_length - in >= kUtf8BlockSource &&
          (!kConvert || destination_length - out >= kUtf8BlockDecodeRoom)) {
        const Utf8BlockRun run =
            Utf8BlocksDecode(level, source + in, source_length - in,
                             kConvert ? destination + out : nullptr, destination_length - out);
        in += run.taken;
        out += static_cast<int32_t>(run.given);
        blocked_at = in;
        continue;
      }
    } else if (source_length - in >= kAsciiBlock &&
               (!kConvert || destination_length - out >= kAsciiBlock)) {
      // ASCII goes a block at a time: the run of ASCII bytes at the front of the next sixteen is
      // taken in one step. A block widened whole writes units past the run, inside the
      // destination; the characters behind the run overwrite them.
      const int32_t run = AsciiPrefixBytes(source + in);
      if (run > 0) {
        if (kConvert) {
          WidenBlock(source + in, destination + out);
        }
        in += run;
        out += run;
        continue;
      }
    }
    const unsigned lead = source[in];
    uint32_t value = lead;
    const int32_t left = source_length - in;
    // The common well-formed shapes first; anything else takes the full rules.
    if (lead < 0x80) {
      ++in;
    } else if (lead >= 0xC0 && lead < 0xE0 && left >= 2 && IsContinuation(source[in + 1])) {
      value = (lead & 0x1F) << 6 | (source[in + 1] & 0x3Fu);
      in += 2;
    } else if (lead >= 0xE0 && lead < 0xF0 && left >= 3 && IsContinuation(source[in + 1]) &&
               IsContinuation(source[in + 2])) {
      value = (lead & 0x0F) << 12 | (source[in + 1] & 0x3Fu) << 6 | (source[in + 2] & 0x3Fu);
      in += 3;
    } else {
      bool faulted = false;
      if (!DecodeSlow(source, source_length, &in, &value, &faulted)) {
        return {out, kConvert && faulted};
      }
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
