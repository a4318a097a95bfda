// Internal to the structure walks and arrays: one descriptor entry decoded into its fields, so
// that the three walks read the word layout of each kind in one place. Not installed.
#pragma once

#include <cstdint>
#include <cstring>

#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/strings/strings.h"

namespace zn::internal {

// The kind of a string field; any first word of 0 or more is one.
inline constexpr int64_t kLayoutString = 0;
// A word below -7: it names no field (a string offset cannot be negative) and is stepped over.
inline constexpr int64_t kLayoutSkip = -8;

struct LayoutEntry {
  int64_t kind = kLayoutEnd;  // kLayoutString, kLayoutSkip or one of the kinds -1 to -7
  int64_t offset = 0;         // byte offset of the field in the structure
  int64_t span = 0;           // bytes the field covers in the structure
  int64_t count = 0;          // fixed array: elements; dynamic array: initial count; -7: dims
  int64_t size = 0;           // element, value or nested structure size
  int32_t type = 0;           // element or value type code
  int32_t buckets = 0;        // map bucket count
  LayoutDescriptor layout = nullptr;  // element, value or nested descriptor
  const int64_t* counts = nullptr;    // -7: the element count of each dimension
};

// LayoutEntryRead: decodes the entry at `word` into *entry and returns the first word of the next
// entry (or `word` itself for the end entry).
const int64_t* LayoutEntryRead(const int64_t* word, LayoutEntry* entry);

// LayoutSame: true when two descriptors describe the same fields (same address, or the same
// words entry by entry); null only matches null.
bool LayoutSame(LayoutDescriptor a, LayoutDescriptor b);

// LayoutExtent: the end of the furthest field a layout describes, in bytes from the structure's
// start (INT64_MAX when that cannot be counted).
int64_t LayoutExtent(LayoutDescriptor layout);

// StructuresCopyWhole: deep-copies `count` structures of `size` bytes each from `source` into
// `destination`, all or none. The destination's old bytes are set aside first and the copies are
// built in their place; only once every copy exists is what the old bytes own freed. When a copy
// cannot be made, the copies made are freed and the old bytes come back: false, the destination as
// it was. Needs room for the bytes it may change (on the stack when they are few).
bool StructuresCopyWhole(char* destination, const char* source, int64_t count, int64_t size,
                         LayoutDescriptor layout);

// StructureCopyString: a fresh copy of a string value in a block of its own, as StringDuplicate
// makes; null for null and when memory is exhausted, which the walks report as a failed copy
// instead of ending the process.
StringValue StructureCopyString(const char16_t* text);

// FieldLoad and FieldStore: the pointer held in a field, read and written byte-wise so that a
// field at any offset is handled without an alignment assumption.
inline void* FieldLoad(const void* field) {
  void* value = nullptr;
  std::memcpy(&value, field, sizeof value);
  return value;
}

inline void FieldStore(void* field, const void* value) {
  std::memcpy(field, &value, sizeof value);
}

}  // namespace zn::internal
