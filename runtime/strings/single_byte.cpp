// The single-byte code page: each byte is one character with the code 0 to 255.
//
// Narrowing keeps the units below 256 and drops the others without trace; widening zero-extends.
// Both go a block of sixteen at a time where they can, in plain loops that the compiler turns into
// vector code; only blocks holding a unit of 256 or more are narrowed unit by unit.
#include <cstdint>

#include "runtime/strings/strings_internal.h"

namespace zn::internal {
namespace {

constexpr int32_t kBlock = 16;

int32_t CountBelow256(const char16_t* source, int32_t source_length) {
  int32_t kept = 0;
  for (int32_t i = 0; i < source_length; ++i) {
    kept += source[i] < 0x100 ? 1 : 0;
  }
  return kept;
}

}  // namespace

int32_t Utf16ToSingleByte(const char16_t* source, int32_t source_length, char* destination,
                          int32_t destination_length) {
  if (destination == nullptr) {
    return CountBelow256(source, source_length);
  }
  int32_t in = 0;
  int32_t kept = 0;
  while (source_length - in >= kBlock && destination_length - kept >= kBlock) {
    unsigned bits = 0;
    for (int32_t k = 0; k < kBlock; ++k) {
      bits |= source[in + k];
    }
    if (bits < 0x100) {
      for (int32_t k = 0; k < kBlock; ++k) {
        destination[kept + k] = static_cast<char>(source[in + k]);
      }
      kept += kBlock;
    } else {
      // A block keeps at most its sixteen units, which the room checked above holds.
      for (int32_t k = 0; k < kBlock; ++k) {
        const char16_t unit = source[in + k];
        if (unit < 0x100) {
          destination[kept++] = static_cast<char>(unit);
        }
      }
    }
    in += kBlock;
  }
  for (; in < source_length && kept < destination_length; ++in) {
    const char16_t unit = source[in];
    if (unit < 0x100) {
      destination[kept++] = static_cast<char>(unit);
    }
  }
  return kept;
}

void SingleByteWiden(const unsigned char* source, int32_t count, char16_t* destination) {
  for (int32_t i = 0; i < count; ++i) {
    destination[i] = source[i];
  }
}

}  // namespace zn::internal
