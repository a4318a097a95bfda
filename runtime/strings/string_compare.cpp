// Length, equality and ordering of strings.
//
// Units are ordered as signed 16-bit values: units from 0x8000 up sort before the ASCII range.
// The hash map orders its keys by these functions, so the rule is part of what callers rely on.
// Null is taken as the empty string everywhere, also where callers promise not to pass it.
#include <cstdint>
#include <cwctype>

#include "runtime/strings/strings.h"

namespace zn {
namespace {

int32_t Signed(char16_t unit) {
  return static_cast<int16_t>(unit);
}

const char16_t* OrEmpty(const char16_t* s) {
  return s == nullptr ? EmptyString : s;
}

// The case-blind value of a unit: the unit, taken as a signed value, through the locale's wide
// lower-case mapping. Units from 0x8000 up thus reach towlower as values outside Unicode, which it
// returns unchanged; they compare as their negative values, as in StringCompare.
int32_t Lowered(char16_t unit) {
  const auto mapped = std::towlower(static_cast<wint_t>(Signed(unit)));
  return static_cast<int32_t>(mapped);
}

}  // namespace

int32_t StringLength(const char16_t* s) {
  if (s == nullptr) {
    return 0;
  }
  const int64_t units = StringCountUnits(s);
  return units < INT32_MAX ? static_cast<int32_t>(units) : INT32_MAX;
}

int32_t StringEqual(const char16_t* a, const char16_t* b) {
  return StringCompare(OrEmpty(a), OrEmpty(b)) == 0 ? 1 : 0;
}

int32_t StringCompare(const char16_t* a, const char16_t* b) {
  a = OrEmpty(a);
  b = OrEmpty(b);
  while (*a == *b) {
    if (*a == 0) {
      return 0;
    }
    ++a;
    ++b;
  }
  return Signed(*a) - Signed(*b);
}

int32_t StringCompareUnits(const char16_t* a, const char16_t* b, uint64_t count) {
  a = OrEmpty(a);
  b = OrEmpty(b);
  for (uint64_t i = 0; i < count; ++i) {
    if (a[i] != b[i]) {
      return Signed(a[i]) - Signed(b[i]);
    }
    if (a[i] == 0) {
      return 0;
    }
  }
  return 0;
}

int32_t StringCompareNoCase(const char16_t* a, const char16_t* b) {
  a = OrEmpty(a);
  b = OrEmpty(b);
  for (;; ++a, ++b) {
    const int32_t la = Lowered(*a);
    const int32_t lb = Lowered(*b);
    if (la != lb) {
      return la - lb;
    }
    if (*a == 0) {
      return 0;
    }
  }
}

}  // namespace zn
