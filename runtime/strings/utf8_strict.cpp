// The converters' replacing mode, for text from outside that must come through whole: ill-formed
// input becomes U+FFFD instead of stopping or passing as it stands.
//
// UTF-8 in: a sequence is well-formed only in the shapes of the Unicode Standard (no overlong
// forms, no encoded surrogates, nothing above U+10FFFF). Each maximal subpart of an ill-formed
// sequence, that is the longest start of a well-formed sequence that it holds, or else its single
// first byte, becomes one U+FFFD; decoding goes on behind it. This is the standard's recommended
// practice, which other decoders (ICU, browsers) follow, so a text decodes to the same units here
// and there. UTF-16 out: a surrogate that is not half of a pair, at the end of the text too,
// becomes EF BF BD.
//
// Nothing ever stops these conversions but a full destination, where they end before the first
// character that does not fit whole. The default rules live in utf8_decode.cpp and
// utf8_encode.cpp and are not touched by this mode.
#include <cstdint>

#include "runtime/strings/strings_internal.h"

namespace zn::internal {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

// The continuation bytes a lead byte announces and the range its first continuation byte must
// lie in; 0 continuations for a byte that cannot start a sequence.
struct LeadShape {
  int32_t continuations;
  unsigned first_low;
  unsigned first_high;
};

LeadShape ShapeOf(unsigned lead) {
  if (lead >= 0xC2 && lead <= 0xDF) {
    return {1, 0x80, 0xBF};
  }
  if (lead == 0xE0) {
    return {2, 0xA0, 0xBF};  // below A0 would be overlong
  }
  if (lead == 0xED) {
    return {2, 0x80, 0x9F};  // above 9F would encode a surrogate
  }
  if (lead >= 0xE1 && lead <= 0xEF) {
    return {2, 0x80, 0xBF};
  }
  if (lead == 0xF0) {
    return {3, 0x90, 0xBF};  // below 90 would be overlong
  }
  if (lead >= 0xF1 && lead <= 0xF3) {
    return {3, 0x80, 0xBF};
  }
  if (lead == 0xF4) {
    return {3, 0x80, 0x8F};  // above 8F would pass U+10FFFF
  }
  return {0, 0, 0};
}

// One character at `in`: its value (U+FFFD for an ill-formed subpart) and the bytes it takes.
uint32_t DecodeOne(const unsigned char* source, int32_t source_length, int32_t in, int32_t* taken) {
  const unsigned lead = source[in];
  *taken = 1;
  if (lead < 0x80) {
    return lead;
  }
  const LeadShape shape = ShapeOf(lead);
  if (shape.continuations == 0) {
    return kReplacement;
  }
  uint32_t value = lead & (0x7Fu >> (shape.continuations + 1));
  for (int32_t k = 1; k <= shape.continuations; ++k) {
    if (in + k >= source_length) {
      *taken = k;
      return kReplacement;  // cut off by the end of the source
    }
    const unsigned next = source[in + k];
    const unsigned low = k == 1 ? shape.first_low : 0x80;
    const unsigned high = k == 1 ? shape.first_high : 0xBF;
    if (next < low || next > high) {
      *taken = k;  // the byte that breaks the sequence starts the next character
      return kReplacement;
    }
    value = value << 6 | (next & 0x3F);
  }
  *taken = shape.continuations + 1;
  return value;
}

bool IsHighSurrogate(uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

int32_t EncodedBytes(uint32_t code_point) {
  return code_point < 0x80 ? 1 : code_point < 0x800 ? 2 : code_point < 0x10000 ? 3 : 4;
}

void Encode(uint32_t code_point, int32_t bytes, char* destination) {
  auto* out = reinterpret_cast<unsigned char*>(destination);
  if (bytes == 1) {
    out[0] = static_cast<unsigned char>(code_point);
    return;
  }
  static constexpr unsigned kLeadMarks[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (int32_t k = bytes - 1; k > 0; --k) {
    out[k] = static_cast<unsigned char>(0x80 | (code_point & 0x3F));
    code_point >>= 6;
  }
  out[0] = static_cast<unsigned char>(kLeadMarks[bytes] | code_point);
}

}  // namespace

int32_t Utf8ToUtf16Replacing(const unsigned char* source, int32_t source_length,
                             char16_t* destination, int32_t destination_length) {
  int32_t in = 0;
  int32_t out = 0;
  while (in < source_length) {
    int32_t taken = 0;
    const uint32_t value = DecodeOne(source, source_length, in, &taken);
    const int32_t units = value >= 0x10000 ? 2 : 1;
    if (destination != nullptr) {
      if (destination_length - out < units) {
        break;
      }
      if (units == 2) {
        destination[out] = static_cast<char16_t>(0xD800 | (value - 0x10000) >> 10);
        destination[out + 1] = static_cast<char16_t>(0xDC00 | (value & 0x3FF));
      } else {
        destination[out] = static_cast<char16_t>(value);
      }
    }
    in += taken;
    out += units;  // never more units than bytes, so this cannot pass the source length
  }
  return out;
}

int32_t Utf16ToUtf8Replacing(const char16_t* source, int32_t source_length, char* destination,
                             int32_t destination_length) {
  // Counting stops at the last character that still fits a signed 32-bit count, as the default
  // rules do, so every count is a length a destination can have.
  const int64_t limit = destination != nullptr ? destination_length : INT32_MAX;
  int32_t in = 0;
  int64_t out = 0;
  while (in < source_length) {
    uint32_t code_point = source[in];
    int32_t taken = 1;
    if (IsHighSurrogate(code_point) && in + 1 < source_length && IsLowSurrogate(source[in + 1])) {
      code_point = (((code_point & 0x3FF) << 10) | (source[in + 1] & 0x3FFu)) + 0x10000;
      taken = 2;
    } else if (IsHighSurrogate(code_point) || IsLowSurrogate(code_point)) {
      code_point = kReplacement;
    }
    const int32_t bytes = EncodedBytes(code_point);
    if (limit - out < bytes) {
      break;
    }
    if (destination != nullptr) {
      Encode(code_point, bytes, destination + out);
    }
    in += taken;
    out += bytes;
  }
  return static_cast<int32_t>(out);
}

}  // namespace zn::internal
