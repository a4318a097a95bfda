// Walking the fields of a separated string, each in turn, in one pass over the source.
//
// The fields are those StringFieldAt cuts (a one-unit separator, or an empty one that only the
// terminator matches; a longer separator found left to right without overlap), so that a walk and
// the field numbers agree. Text inside the temporary buffer is followed by its offset: a
// reservation made between two steps may move the block.
#include <cstdint>

#include "runtime/strings/strings.h"
#include "runtime/strings/strings_internal.h"

namespace zn {
namespace {

const char16_t* OrEmpty(const char16_t* s) {
  return s == nullptr ? EmptyString : s;
}

// The text's address now: it follows the buffer's block when it lies inside.
const char16_t* Resolve(const char16_t* text, int32_t buffer_offset) {
  if (buffer_offset == 0) {
    return text;
  }
  const char* base = reinterpret_cast<const char*>(TempTextAddress(0));
  return reinterpret_cast<const char16_t*>(base + (buffer_offset - 1));
}

// The index of the unit that ends the field starting at `from`: a separator or the terminator.
int64_t FieldEnd(const char16_t* source, int64_t from, const char16_t* separator,
                 int32_t separator_length) {
  const char16_t* at = source + from;
  const char16_t first = separator[0];
  if (separator_length <= 1) {
    while (*at != first && *at != 0) {
      ++at;
    }
    return at - source;
  }
  for (;; ++at) {
    if (*at == 0) {
      return at - source;
    }
    if (*at != first) {
      continue;
    }
    // The separator's units are not 0, so the source's terminator ends a comparison as a mismatch.
    int32_t k = 1;
    while (k < separator_length && at[k] == separator[k]) {
      ++k;
    }
    if (k == separator_length) {
      return at - source;
    }
  }
}

}  // namespace

void StringFieldCursorStart(StringFieldCursor* cursor, const char16_t* source,
                            const char16_t* separator) {
  cursor->source = OrEmpty(source);
  cursor->separator = OrEmpty(separator);
  cursor->source_offset = TempTextOffsetOf(cursor->source);
  cursor->separator_offset = TempTextOffsetOf(cursor->separator);
  cursor->separator_length = internal::StringLengthChecked(StringCountUnits(cursor->separator));
  cursor->next = 0;
}

int32_t StringFieldCursorNext(StringFieldCursor* cursor, int32_t* start, int32_t* length) {
  if (cursor->next < 0) {
    return 0;
  }
  const char16_t* source = Resolve(cursor->source, cursor->source_offset);
  const char16_t* separator = Resolve(cursor->separator, cursor->separator_offset);
  const int64_t end = FieldEnd(source, cursor->next, separator, cursor->separator_length);
  *start = cursor->next;
  *length = internal::StringLengthChecked(end - cursor->next);
  if (source[end] == 0) {
    cursor->next = -1;
  } else {
    const int64_t after = end + (cursor->separator_length > 1 ? cursor->separator_length : 1);
    cursor->next = internal::StringLengthChecked(after);
  }
  return 1;
}

int32_t StringFieldCount(const char16_t* source, const char16_t* separator) {
  StringFieldCursor cursor;
  StringFieldCursorStart(&cursor, source, separator);
  int32_t fields = 0;
  int32_t start = 0;
  int32_t length = 0;
  while (StringFieldCursorNext(&cursor, &start, &length) != 0) {
    ++fields;
  }
  return fields;
}

}  // namespace zn
