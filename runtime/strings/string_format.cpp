// Numbers formatted into text by a printf-style format string.
//
// The format goes to UTF-8 for vsnprintf and the formatted bytes come back as UTF-16. The result is
// always terminated: when the formatted bytes do not decode to the end (a "%s" of malformed
// UTF-8), the terminator is written behind what decoded and the count says how much that was.
// Failures (exhausted memory, an encoding error in vsnprintf, a refused directive) give 0 and leave
// the destination as it was. A format with "%ls" is filled directive by directive
// (format_directives.cpp); any other goes to vsnprintf whole, as it always has.
#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {
namespace {

// The formatted bytes (terminator included) as units at the destination, always terminated;
// returns the units before the terminator.
//
// The destination is not bounded, but the caller only owes room for the text and its terminator,
// and the converter may use all the room it is told of (its block steps store whole blocks and
// let the next characters overwrite the tail). So the units are counted first and the conversion
// told exactly that many: it stops at the same places as with any larger room, and writes
// nothing behind them.
int32_t WidenInto(char16_t* destination, const char* bytes, size_t size) {
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  const auto length = static_cast<int32_t>(size);
  const int32_t counted = internal::Utf8ToUtf16(in, length, nullptr, 0).count;
  const int32_t units = internal::Utf8ToUtf16(in, length, destination, counted).count;
  if (units > 0 && destination[units - 1] == 0) {
    return units - 1;
  }
  destination[units] = 0;
  return units;
}

}  // namespace

namespace {

// A format without "%ls": the C library formats it whole, once to measure and once to write.
int32_t FormatWhole(char16_t* destination, const char* format, va_list values) {
  va_list again;
  va_copy(again, values);
  const int length = std::vsnprintf(nullptr, 0, format, values);
  int32_t units = 0;
  if (length >= 0 && destination == nullptr) {
    units = length;
  } else if (length >= 0) {
    const size_t size = static_cast<size_t>(length) + 1;
    auto* bytes = static_cast<char*>(MemoryAlloc(size));
    if (bytes != nullptr) {
      const int written = std::vsnprintf(bytes, size, format, again);
      if (written == length) {
        units = WidenInto(destination, bytes, size);
      }
      MemoryRelease(bytes);
    }
  }
  va_end(again);
  return units;
}

}  // namespace

int32_t StringFormat(char16_t* destination, const char16_t* format, ...) {
  // The format's own conversion reports exhausted memory too: this operation promises 0 and an
  // untouched destination then, where the public converter would end the process.
  char* narrow = internal::NarrowTextMake(CodePageUtf8, format);
  if (narrow == nullptr) {
    return 0;
  }
  const internal::FormatScan scan = internal::FormatScanDirectives(narrow);
  int32_t units = 0;
  va_list values;
  va_start(values, format);
  if (!scan.refused && !scan.wide) {
    units = FormatWhole(destination, narrow, values);
  } else if (!scan.refused) {
    int32_t length = 0;
    char* bytes = internal::FormatPieces(narrow, &values, &length);
    if (bytes != nullptr) {
      units = destination == nullptr
                  ? length
                  : WidenInto(destination, bytes, static_cast<size_t>(length) + 1);
      MemoryRelease(bytes);
    }
  }
  va_end(values);
  NarrowTextFree(narrow);
  return units;
}

}  // namespace zn
