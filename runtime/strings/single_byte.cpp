// The single-byte code page: each byte is one character with the code 0 to 255.
//
// Narrowing keeps the units below 256 and drops the others without trace; widening zero-extends.
#include <cstdint>

#include "runtime/strings/strings_internal.h"

namespace zn::internal {

int32_t Utf16ToSingleByte(const char16_t* source, int32_t source_length, char* destination,
                          int32_t destination_length) {
  int32_t kept = 0;
  if (destination == nullptr) {
    for (int32_t i = 0; i < source_length; ++i) {
      kept += source[i] < 0x100 ? 1 : 0;
    }
    return kept;
  }
  for (int32_t i = 0; i < source_length && kept < destination_length; ++i) {
    const char16_t unit = source[i];
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
