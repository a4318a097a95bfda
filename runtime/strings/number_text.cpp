// Integers as decimal text, and runs of spaces, for string expressions.
//
// Digits come least significant first into a local array and are copied out in reverse. A
// negative value is negated as an unsigned number, so the most negative value has its digits too.
// TempTextAppendInteger reserves a fixed 64 units instead of measuring first, then gives back
// what the digits did not use.
#include <cstdint>

#include "runtime/strings/strings.h"

namespace zn {
namespace {

constexpr int32_t kIntegerRoomUnits = 64;

// Writes the digits of `value` and a terminator; returns the number of digits.
template <typename Unit, typename Unsigned>
int32_t WriteDigits(Unit* destination, Unsigned value) {
  Unit digits[24];
  int32_t count = 0;
  while (value > 9) {
    digits[count++] = static_cast<Unit>('0' + value % 10);
    value /= 10;
  }
  digits[count++] = static_cast<Unit>('0' + value);
  for (int32_t i = 0; i < count; ++i) {
    destination[i] = digits[count - 1 - i];
  }
  destination[count] = 0;
  return count;
}

template <typename Unit, typename Signed, typename Unsigned>
int32_t WriteSigned(Unit* destination, Signed value) {
  if (value >= 0) {
    return WriteDigits(destination, static_cast<Unsigned>(value));
  }
  destination[0] = '-';
  // 0 - (unsigned) value is the magnitude even for the most negative value.
  return 1 + WriteDigits(destination + 1, Unsigned{0} - static_cast<Unsigned>(value));
}

}  // namespace

char16_t* IntegerToText(char16_t* destination, int64_t value) {
  WriteSigned<char16_t, int64_t, uint64_t>(destination, value);
  return destination;
}

char16_t* UnsignedToText(char16_t* destination, uint64_t value) {
  WriteDigits(destination, value);
  return destination;
}

void IntegerToAsciiText(int32_t value, char* destination) {
  WriteSigned<char, int32_t, uint32_t>(destination, value);
}

void TempTextAppendInteger(int64_t value, int32_t offset) {
  char16_t* address = TempTextReserve(kIntegerRoomUnits, offset);
  const int32_t units = WriteSigned<char16_t, int64_t, uint64_t>(address, value);
  TempTextUnreserve(kIntegerRoomUnits - units);
}

void TempTextAppendSpaces(int32_t count, int32_t offset) {
  const int32_t n = count > 0 ? count : 0;
  char16_t* address = TempTextReserve(n, offset);
  for (int32_t i = 0; i < n; ++i) {
    address[i] = u' ';
  }
  address[n] = 0;
}

}  // namespace zn
