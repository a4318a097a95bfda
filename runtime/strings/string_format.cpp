// Numbers formatted into text by a printf-style format string.
//
// The format goes to UTF-8 for vsnprintf and the formatted bytes come back as UTF-16. The result is
// always terminated: when the formatted bytes do not decode to the end (a "%s" of malformed
// UTF-8), the terminator is written behind what decoded and the count says how much that was.
// Failures (exhausted memory, an encoding error in vsnprintf) give 0 and leave the destination as
// it was.
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

int32_t StringFormat(char16_t* destination, const char16_t* format, ...) {
  // The format's own conversion reports exhausted memory too: this operation promises 0 and an
  // untouched destination then, where the public converter would end the process.
  char* narrow = internal::NarrowTextMake(CodePageUtf8, format);
  if (narrow == nullptr) {
    return 0;
  }
  va_list values;
  va_start(values, format);
  const int length = std::vsnprintf(nullptr, 0, narrow, values);
  va_end(values);
  int32_t units = 0;
  if (length >= 0 && destination == nullptr) {
    units = length;
  } else if (length >= 0) {
    const size_t size = static_cast<size_t>(length) + 1;
    auto* bytes = static_cast<char*>(MemoryAlloc(size));
    if (bytes != nullptr) {
      va_start(values, format);
      const int written = std::vsnprintf(bytes, size, narrow, values);
      va_end(values);
      if (written == length) {
        units = WidenInto(destination, bytes, size);
      }
      MemoryRelease(bytes);
    }
  }
  NarrowTextFree(narrow);
  return units;
}

}  // namespace zn
