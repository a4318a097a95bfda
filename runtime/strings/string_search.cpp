// Finding a needle in a string, replacing every occurrence, and testing the two ends.
//
// Matching compares code units, but a match whose edge falls between the two halves of a
// surrogate pair of the source is no match: it would hand back, or replace, half a character. Only
// a needle that begins with a low half or ends with a high half can meet that, so the check costs
// nothing in the usual case. The search itself compares the first unit, then the rest: simple, and
// quick for the short needles that programs look for.
#include <cstdint>
#include <cstring>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {
namespace {

const char16_t* OrEmpty(const char16_t* s) {
  return s == nullptr ? EmptyString : s;
}

// Whether a match of `length` units at `at` in `source` (`units` long) keeps every surrogate pair
// whole: neither its start nor its end lies between a high half and the low half behind it.
bool KeepsPairs(const char16_t* source, int64_t units, int64_t at, int64_t length) {
  const auto between = [&](int64_t edge) {
    return edge > 0 && edge < units && internal::UnitIsLowHalf(source[edge]) &&
           internal::UnitIsHighHalf(source[edge - 1]);
  };
  return !between(at) && !between(at + length);
}

// The first match of `needle` (`length` units) in `source` (`units` long) at or after `from`, or
// -1.
int64_t FindFrom(const char16_t* source, int64_t units, const char16_t* needle, int64_t length,
                 int64_t from) {
  for (int64_t at = from; at + length <= units; ++at) {
    if (length > 0 && (source[at] != needle[0] ||
                       std::memcmp(source + at + 1, needle + 1,
                                   static_cast<size_t>(length - 1) * sizeof(char16_t)) != 0)) {
      continue;
    }
    if (KeepsPairs(source, units, at, length)) {
      return at;
    }
  }
  return -1;
}

}  // namespace

int32_t StringFind(const char16_t* source, const char16_t* needle, int32_t start) {
  source = OrEmpty(source);
  needle = OrEmpty(needle);
  const int64_t units = StringCountUnits(source);
  const int64_t from = start < 0 ? 0 : start;
  if (from > units) {
    return -1;
  }
  const int64_t found = FindFrom(source, units, needle, StringCountUnits(needle), from);
  return found < 0 ? -1 : internal::StringLengthChecked(found);
}

StringValue StringReplace(const char16_t* source, const char16_t* needle,
                          const char16_t* replacement) {
  source = OrEmpty(source);
  needle = OrEmpty(needle);
  replacement = OrEmpty(replacement);
  const int64_t units = StringCountUnits(source);
  const int64_t length = StringCountUnits(needle);
  const int64_t added = StringCountUnits(replacement);
  // Measured first: the matches are found twice, but the result is allocated once, exactly.
  int64_t matches = 0;
  for (int64_t at = 0; length > 0 && (at = FindFrom(source, units, needle, length, at)) >= 0;
       at += length) {
    ++matches;
  }
  const int32_t total = internal::StringLengthChecked(units + matches * (added - length));
  char16_t* result = internal::StringBlockFor(total);
  char16_t* out = result;
  int64_t copied = 0;
  for (int64_t k = 0; k < matches; ++k) {
    const int64_t at = FindFrom(source, units, needle, length, copied);
    std::memcpy(out, source + copied, static_cast<size_t>(at - copied) * sizeof(char16_t));
    out += at - copied;
    std::memcpy(out, replacement, static_cast<size_t>(added) * sizeof(char16_t));
    out += added;
    copied = at + length;
  }
  std::memcpy(out, source + copied, static_cast<size_t>(units - copied) * sizeof(char16_t));
  result[total] = 0;
  return result;
}

int32_t StringStartsWith(const char16_t* source, const char16_t* prefix) {
  source = OrEmpty(source);
  prefix = OrEmpty(prefix);
  int64_t length = 0;
  for (; prefix[length] != 0; ++length) {
    if (source[length] != prefix[length]) {
      return 0;
    }
  }
  // The source is at least as long as the prefix, so the unit behind it can be read.
  const bool cuts = length > 0 && internal::UnitIsHighHalf(source[length - 1]) &&
                    internal::UnitIsLowHalf(source[length]);
  return cuts ? 0 : 1;
}

int32_t StringEndsWith(const char16_t* source, const char16_t* suffix) {
  source = OrEmpty(source);
  suffix = OrEmpty(suffix);
  const int64_t units = StringCountUnits(source);
  const int64_t length = StringCountUnits(suffix);
  if (length > units) {
    return 0;
  }
  const int64_t at = units - length;
  const bool same = std::memcmp(source + at, suffix, static_cast<size_t>(length) * 2) == 0;
  return same && KeepsPairs(source, units, at, length) ? 1 : 0;
}

}  // namespace zn
