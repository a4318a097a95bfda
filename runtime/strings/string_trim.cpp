// Trimming white space from both ends of a string.
//
// White space is Unicode's White_Space property, which every character of it has in the Basic
// Multilingual Plane and which has not changed since Unicode 6.3: so a unit test suffices, and a
// surrogate pair is never white space. It is not the C library's isspace (which follows the
// locale) nor Python's str.isspace (which adds the information separators U+001C to U+001F).
#include <cstdint>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {
namespace {

bool IsWhiteSpace(char16_t unit) {
  if (unit <= 0x20) {
    return unit == 0x20 || (unit >= 0x09 && unit <= 0x0D);
  }
  switch (unit) {
    case 0x0085:
    case 0x00A0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
      return true;
    default:
      return unit >= 0x2000 && unit <= 0x200A;
  }
}

}  // namespace

StringValue StringTrim(const char16_t* source) {
  if (source == nullptr) {
    source = EmptyString;
  }
  int64_t end = StringCountUnits(source);
  int64_t begin = 0;
  while (begin < end && IsWhiteSpace(source[begin])) {
    ++begin;
  }
  while (end > begin && IsWhiteSpace(source[end - 1])) {
    --end;
  }
  const int32_t units = internal::StringLengthChecked(end - begin);
  char16_t* result = internal::StringBlockFor(units);
  StringCopyUnits(result, source + begin, units);
  return result;
}

}  // namespace zn
