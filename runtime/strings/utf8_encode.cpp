// UTF-16 to UTF-8: the encoding rules shared by counting and converting.
//
// A high surrogate followed by a low one is one character; every other unit, a lone low surrogate
// included, is encoded as its own value, so text with stray low surrogates survives a round trip.
// A high surrogate at the end stops the conversion quietly (the caller may have cut a pair in two);
// one followed by anything but a low surrogate stops counting and is a fault when converting.
// Only whole characters are written: a destination too small for the next character ends the
// conversion before it, so the bytes written are always complete UTF-8.
//
// Speed: the block steps take whole blocks where the processor has them; without them converting
// takes ASCII up to sixteen units per step and counting sizes sixteen units of the Basic
// Multilingual Plane per step. Everything else goes one character at a time.
#include <cstdint>

#include "runtime/strings/ascii_blocks.h"
#include "runtime/strings/strings_internal.h"
#include "runtime/strings/utf8_blocks.h"

namespace zn::internal {
namespace {

bool IsHighSurrogate(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

int32_t EncodedBytes(uint32_t code_point) {
  if (code_point < 0x80) {
    return 1;
  }
  if (code_point < 0x800) {
    return 2;
  }
  if (code_point < 0x10000) {
    return 3;
  }
  return 4;
}

void Encode(uint32_t code_point, int32_t bytes, char* destination) {
  auto* out = reinterpret_cast<unsigned char*>(destination);
  switch (bytes) {
    case 1:
      out[0] = static_cast<unsigned char>(code_point);
      break;
    case 2:
      out[0] = static_cast<unsigned char>(0xC0 | code_point >> 6);
      out[1] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
      break;
    case 3:
      out[0] = static_cast<unsigned char>(0xE0 | code_point >> 12);
      out[1] = static_cast<unsigned char>(0x80 | (code_point >> 6 & 0x3F));
      out[2] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
      break;
    default:
      out[0] = static_cast<unsigned char>(0xF0 | code_point >> 18);
      out[1] = static_cast<unsigned char>(0x80 | (code_point >> 12 & 0x3F));
      out[2] = static_cast<unsigned char>(0x80 | (code_point >> 6 & 0x3F));
      out[3] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
      break;
  }
}

template <bool kConvert>
Converted EncodeAll(const char16_t* source, int32_t source_length, char* destination,
                    int32_t destination_length) {
  // Counting may pass INT32_MAX on long texts of three-byte characters: it stops at the last
  // character that still fits, so every count is a length a destination can have.
  const int64_t limit = kConvert ? destination_length : INT32_MAX;
  int32_t in = 0;
  int64_t out = 0;
  int32_t unit_by_unit_until = 0;
  const Utf8BlockLevel level = Utf8BlocksLevel();
  const bool blocks = level != Utf8BlockLevel::kPortable;
  int32_t blocked_at = -1;
  while (in < source_length) {
    // A full destination ends the conversion before the next unit is even looked at.
    if (kConvert && out >= limit) {
      break;
    }
    // The block steps take all they can; the one character they stopped before goes by the rules
    // below.
    if (blocks) {
      if (in != blocked_at && source_length - in >= kUtf8BlockSource &&
          limit - out >= kUtf8BlockEncodeRoom) {
        const Utf8BlockRun run =
            Utf8BlocksEncode(level, source + in, source_length - in,
                             kConvert ? destination + out : nullptr, limit - out);
        in += run.taken;
        out += run.given;
        blocked_at = in;
        continue;
      }
    } else if (source_length - in >= kAsciiBlock && limit - out >= 3 * kAsciiBlock) {
      // Blocks of sixteen units: converting takes the run of ASCII at the front in one step (a
      // block narrowed whole writes bytes past the run, inside the destination, that the
      // characters behind it overwrite); counting sizes a whole block without surrogates at once.
      // A block that holds a surrogate is counted unit by unit up to its end.
      if (kConvert) {
        const int32_t run = AsciiPrefixUnits(source + in);
        if (run > 0) {
          NarrowBlock(source + in, destination + out);
          in += run;
          out += run;
          continue;
        }
      } else if (in >= unit_by_unit_until) {
        const int32_t bytes = Utf8BytesOfBlock(source + in);
        if (bytes >= 0) {
          in += kAsciiBlock;
          out += bytes;
          continue;
        }
        unit_by_unit_until = in + kAsciiBlock;
      }
    }
    uint32_t code_point = source[in++];
    if (IsHighSurrogate(code_point)) {
      if (in >= source_length) {
        break;
      }
      const uint32_t low = source[in];
      if (!IsLowSurrogate(low)) {
        if (kConvert) {
          return {static_cast<int32_t>(out), true};
        }
        break;
      }
      ++in;
      code_point = (((code_point & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
    }
    const int32_t bytes = EncodedBytes(code_point);
    if (limit - out < bytes) {
      break;
    }
    if (kConvert) {
      Encode(code_point, bytes, destination + out);
    }
    out += bytes;
  }
  return {static_cast<int32_t>(out), false};
}

}  // namespace

// Counting stops before a high surrogate that no low one follows (the terminator included), and
// a conversion sized by that count never reaches it; here the one pass stops there. Units are
// read only up to the terminator, so nothing past the string is touched.
int32_t Utf16ToUtf8Terminated(const char16_t* s, char* buffer, int32_t capacity) {
  int32_t in = 0;
  int32_t out = 0;
  for (;;) {
    if (capacity - out < 4) {
      return -1;
    }
    uint32_t code_point = s[in++];
    if (code_point < 0x80) {
      buffer[out++] = static_cast<char>(code_point);
      if (code_point == 0) {
        return out;
      }
      continue;
    }
    if (IsHighSurrogate(code_point)) {
      const uint32_t low = s[in];
      if (!IsLowSurrogate(low)) {
        return out;
      }
      ++in;
      code_point = (((code_point & 0x3FF) << 10) | (low & 0x3FF)) + 0x10000;
    }
    const int32_t bytes = EncodedBytes(code_point);
    Encode(code_point, bytes, buffer + out);
    out += bytes;
  }
}

Converted Utf16ToUtf8(const char16_t* source, int32_t source_length, char* destination,
                      int32_t destination_length) {
  if (destination == nullptr) {
    return EncodeAll<false>(source, source_length, nullptr, 0);
  }
  return EncodeAll<true>(source, source_length, destination, destination_length);
}

}  // namespace zn::internal
