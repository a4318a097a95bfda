// Text to integer: blanks, an optional sign, then decimal digits, "$" and hexadecimal digits, or
// "%" and binary digits.
//
// Reading stops at the first unit that is not a digit of the base and ignores the rest; text that
// does not start with a number gives 0. The arithmetic is done on unsigned 64-bit values, so
// overflow wraps around (two's complement) without undefined behaviour: 2^63 reads as the most
// negative value and 2^64 as 0.
#include <cstdint>

#include "runtime/strings/strings.h"

namespace zn {
namespace {

// The value of `unit` as a digit of `base` (2, 10 or 16), or -1.
int32_t DigitValue(char16_t unit, uint32_t base) {
  int32_t digit = -1;
  if (unit >= u'0' && unit <= u'9') {
    digit = unit - u'0';
  } else if (unit >= u'a' && unit <= u'f') {
    digit = unit - u'a' + 10;
  } else if (unit >= u'A' && unit <= u'F') {
    digit = unit - u'A' + 10;
  }
  return digit >= 0 && static_cast<uint32_t>(digit) < base ? digit : -1;
}

}  // namespace

int64_t TextToInteger(const char16_t* s) {
  if (s == nullptr) {
    return 0;
  }
  while (*s == u' ' || *s == u'\t') {
    ++s;
  }
  const char16_t sign = *s;
  if (sign == u'+' || sign == u'-') {
    ++s;
  }
  uint32_t base = 10;
  if (*s == u'%') {
    base = 2;
    ++s;
  } else if (*s == u'$') {
    base = 16;
    ++s;
  }
  uint64_t value = 0;
  for (int32_t digit = DigitValue(*s, base); digit >= 0; digit = DigitValue(*++s, base)) {
    value = value * base + static_cast<uint32_t>(digit);
  }
  if (sign == u'-') {
    value = 0 - value;
  }
  return static_cast<int64_t>(value);
}

}  // namespace zn
