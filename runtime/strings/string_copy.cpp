// Copies of strings into buffers that the caller provides.
//
// StringCopyPadded behaves like strncpy: it fills the rest of the count with 0 units, and writes
// no terminator when the source has the count of units or more.
#include <cstdint>
#include <cstring>

#include "runtime/strings/strings.h"

namespace zn {

char16_t* StringCopyTo(char16_t* destination, const char16_t* source) {
  if (source == nullptr) {
    source = EmptyString;
  }
  const int64_t units = StringCountUnits(source);
  std::memmove(destination, source, static_cast<size_t>(units + 1) * sizeof(char16_t));
  return destination;
}

char16_t* StringCopyPadded(char16_t* destination, const char16_t* source, uint64_t count) {
  if (source == nullptr) {
    source = EmptyString;
  }
  uint64_t i = 0;
  for (; i < count && source[i] != 0; ++i) {
    destination[i] = source[i];
  }
  for (; i < count; ++i) {
    destination[i] = 0;
  }
  return destination;
}

}  // namespace zn
