// Cutting one field out of a separated list into the temporary buffer.
//
// The field is located first (start and length), then written by the result-offset convention.
// A source that lies inside the temporary buffer moves when the reservation resizes the block, so
// it is followed by its offset into the block, and the field is moved with a copy that allows the
// source and the result to overlap. Any address inside the block counts, not only those below the
// position: released text just above the position is still in the block that a resize frees, and
// one that shrinks the block may cut it off.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {
namespace {

struct Field {
  int64_t start;
  int64_t length;
};

constexpr Field kNoField = {0, 0};

// A one-unit separator (0 for an empty one, which only the terminator matches).
Field FindBySeparatorUnit(const char16_t* source, int32_t n, char16_t separator) {
  int32_t field = 1;
  int64_t start = 0;
  for (int64_t i = 0;; ++i) {
    const char16_t unit = source[i];
    if (unit != separator && unit != 0) {
      continue;
    }
    if (field == n) {
      return {start, i - start};
    }
    if (unit == 0) {
      return kNoField;
    }
    ++field;
    start = i + 1;
  }
}

// A separator of two units or more, found left to right without overlap.
Field FindBySeparatorText(const char16_t* source, int32_t n, const char16_t* separator,
                          int64_t separator_length) {
  int32_t field = 1;
  int64_t start = 0;
  for (int64_t i = 0;; ++i) {
    const bool at_end = source[i] == 0;
    if (!at_end &&
        StringCompareUnits(source + i, separator, static_cast<uint64_t>(separator_length)) != 0) {
      continue;
    }
    if (field == n) {
      return {start, i - start};
    }
    if (at_end) {
      return kNoField;
    }
    ++field;
    i += separator_length - 1;
    start = i + 1;
  }
}

}  // namespace

namespace internal {

int64_t TempTextBlockOffsetOf(const void* address) {
  const auto at = reinterpret_cast<uintptr_t>(address);
  const auto start = reinterpret_cast<uintptr_t>(TempTextAddress(0));
  const auto bytes = static_cast<uintptr_t>(TempTextBlockBytes());
  if (start == 0 || at < start || at - start >= bytes) {
    return 0;
  }
  return static_cast<int64_t>(at - start) + 1;
}

}  // namespace internal

void StringFieldAt(const char16_t* source, int32_t n, const char16_t* separator, int32_t offset) {
  if (n <= 0) {
    TempTextCut(offset);
    return;
  }
  if (source == nullptr) {
    source = EmptyString;
  }
  if (separator == nullptr) {
    separator = EmptyString;
  }
  const int64_t separator_length = StringCountUnits(separator);
  const Field field = separator_length <= 1
                          ? FindBySeparatorUnit(source, n, separator[0])
                          : FindBySeparatorText(source, n, separator, separator_length);
  if (field.length >= INT32_MAX) {
    FatalExit("string too long");
  }
  const auto length = static_cast<int32_t>(field.length);
  const char16_t* from = source + field.start;
  const int64_t inside = internal::TempTextBlockOffsetOf(from);
  if (inside - 1 > TempTextPosition()) {
    // Released text above the position: a shrinking reservation may cut it off, so it is set
    // aside first. Callers keep to live text, so this path costs nothing in their use.
    const size_t bytes = internal::StringBlockBytes(length, 1);
    auto* aside = static_cast<char16_t*>(internal::StringHeapAlloc(bytes));
    StringCopyUnits(aside, from, length);
    StringCopyUnits(TempTextReserve(length, offset), aside, length);
    MemoryRelease(aside);
    return;
  }
  char16_t* destination = TempTextReserve(length, offset);
  if (inside != 0) {
    // Below the position the text survives any reservation (the need covers it), but the block
    // may have moved.
    from = reinterpret_cast<const char16_t*>(reinterpret_cast<const char*>(TempTextAddress(0)) +
                                             (inside - 1));
  }
  std::memmove(destination, from, static_cast<size_t>(length) * sizeof(char16_t));
  destination[length] = 0;
}

}  // namespace zn
