// StructureCopy: the deep copy of a structure by its LayoutDescriptor. Bytes that no entry
// describes are copied as they are; described fields get copies of their own, and whatever the
// destination's fields owned before is freed.
#include <cstdint>
#include <cstring>

#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/memory/structures_internal.h"
#include "runtime/strings/strings.h"

namespace zn {
namespace {

using internal::FieldLoad;
using internal::FieldStore;
using internal::kLayoutString;
using internal::LayoutEntry;

void CopyString(char* destination, const char* source) {
  auto* old = static_cast<StringValue>(FieldLoad(destination));
  const auto* text = static_cast<const char16_t*>(FieldLoad(source));
  // The copy is made before the old string is freed: a destination that shares the source's
  // block (left behind by a byte copy) must not free it under the source.
  StringValue copy = nullptr;
  StringDuplicate(&copy, text);
  if (old != nullptr && old != text) {
    StringRelease(old);
  }
  FieldStore(destination, copy);
}

// Frees the container a destination field holds, unless it is the very container of the source
// field, which the source still owns; the field is null afterwards either way.
void DropDestinationArray(char* destination, const void* source_elements) {
  void* elements = FieldLoad(destination);
  if (elements != nullptr && elements != source_elements && Hooks.ArrayFreeHook != nullptr) {
    Hooks.ArrayFreeHook(elements);
  }
  FieldStore(destination, nullptr);
}

void CopyArray(char* destination, const char* source, bool dimensions) {
  void* from = FieldLoad(source);
  DropDestinationArray(destination, from);
  if (from == nullptr || Hooks.ArrayCreateHook == nullptr || Hooks.ArrayCopyHook == nullptr) {
    return;
  }
  const ArrayHeader* header = ArrayHeaderOf(from);
  void* to = Hooks.ArrayCreateHook(static_cast<uint64_t>(header->element_size), header->count,
                                   header->type, header->layout, destination);
  if (to == nullptr) {
    return;  // the field stays null
  }
  // A multi-dimensional copy takes the source's dimension count first, so that the element copy
  // accepts it and carries the multipliers over into the destination's record.
  if (dimensions) {
    ArrayHeaderOf(to)->dimensions = header->dimensions;
  }
  Hooks.ArrayCopyHook(from, to, 0);
}

// The list and map headers belong to their own library and are not read here: the re-created
// container takes its value size, layout, type code and bucket count from the field's own entry,
// which names exactly what the field's container was created with.
void CopyList(char* destination, const char* source, const LayoutEntry& entry) {
  auto* from = static_cast<LinkedList*>(FieldLoad(source));
  auto* old = static_cast<LinkedList*>(FieldLoad(destination));
  if (old != nullptr && old != from && Hooks.ListFreeHook != nullptr) {
    Hooks.ListFreeHook(old);
  }
  std::memset(destination, 0, 16);  // the whole ListHolder: list and current element
  if (from == nullptr || Hooks.ListCreateHook == nullptr || Hooks.ListCopyHook == nullptr) {
    return;
  }
  LinkedList* to =
      Hooks.ListCreateHook(static_cast<uint64_t>(entry.size),
                           reinterpret_cast<ListHolder*>(destination), entry.layout, entry.type);
  if (to != nullptr) {
    Hooks.ListCopyHook(from, 0, to, 0, 0);
  }
}

void CopyMap(char* destination, const char* source, const LayoutEntry& entry) {
  auto* from = static_cast<HashMap*>(FieldLoad(source));
  auto* old = static_cast<HashMap*>(FieldLoad(destination));
  if (old != nullptr && old != from && Hooks.MapFreeHook != nullptr) {
    Hooks.MapFreeHook(old);
  }
  FieldStore(destination, nullptr);
  if (from == nullptr || Hooks.MapCreateHook == nullptr || Hooks.MapCopyHook == nullptr) {
    return;
  }
  HashMap* to = Hooks.MapCreateHook(static_cast<uint64_t>(entry.size), entry.type, entry.layout,
                                    reinterpret_cast<HashMap**>(destination), entry.buckets);
  if (to != nullptr) {
    Hooks.MapCopyHook(from, to, 0);
  }
}

void CopyEntry(char* destination, const char* source, const LayoutEntry& entry) {
  char* to = destination + entry.offset;
  const char* from = source + entry.offset;
  switch (entry.kind) {
    case kLayoutString:
      CopyString(to, from);
      break;
    case kLayoutStructArray:
      for (int64_t i = 0; i < entry.count; ++i) {
        StructureCopy(to + i * entry.size, entry.size, entry.layout, from + i * entry.size);
      }
      break;
    case kLayoutStruct:
      StructureCopy(to, entry.size, entry.layout, from);
      break;
    case kLayoutArray:
      CopyArray(to, from, false);
      break;
    case kLayoutArrayDims:
      CopyArray(to, from, true);
      break;
    case kLayoutList:
      CopyList(to, from, entry);
      break;
    case kLayoutMap:
      CopyMap(to, from, entry);
      break;
    default:
      break;
  }
}

// Copies the undescribed bytes from `begin` up to `end`, never beyond the structure's size.
void CopyBytes(char* destination, const char* source, int64_t begin, int64_t end, int64_t size) {
  if (end > size) {
    end = size;
  }
  if (begin < 0) {
    begin = 0;
  }
  if (end > begin) {
    std::memmove(destination + begin, source + begin, static_cast<size_t>(end - begin));
  }
}

}  // namespace

void StructureCopy(void* destination, int64_t size, LayoutDescriptor layout, const void* source) {
  if (destination == source || destination == nullptr || source == nullptr) {
    return;
  }
  auto* to = static_cast<char*>(destination);
  const auto* from = static_cast<const char*>(source);
  if (layout == nullptr) {
    CopyBytes(to, from, 0, size, size);
    return;
  }
  // Entries stand in ascending order of their offsets, so one running count of the bytes already
  // handled says which undescribed bytes lie in front of each field.
  int64_t handled = 0;
  LayoutEntry entry;
  for (const int64_t* word = layout; *word != kLayoutEnd;) {
    word = internal::LayoutEntryRead(word, &entry);
    if (entry.kind == internal::kLayoutSkip) {
      continue;
    }
    CopyBytes(to, from, handled, entry.offset, size);
    CopyEntry(to, from, entry);
    if (__builtin_add_overflow(entry.offset, entry.span, &handled)) {
      handled = INT64_MAX;
    }
  }
  CopyBytes(to, from, handled, size, size);
}

}  // namespace zn
