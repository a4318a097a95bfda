// StructureInit and StructureClear: the two walks that create and free what a structure's fields
// own. They reach containers only through the ContainerHooks, so that this library does not
// depend on the list and map libraries.
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

char* FieldAt(void* structure, const LayoutEntry& entry) {
  return static_cast<char*>(structure) + entry.offset;
}

void InitEntry(void* structure, const LayoutEntry& entry) {
  char* field = FieldAt(structure, entry);
  switch (entry.kind) {
    case kLayoutStructArray:
      for (int64_t i = 0; i < entry.count; ++i) {
        StructureInit(field + i * entry.size, entry.layout);
      }
      break;
    case kLayoutStruct:
      StructureInit(field, entry.layout);
      break;
    case kLayoutArray:
      if (Hooks.ArrayCreateHook != nullptr) {
        Hooks.ArrayCreateHook(static_cast<uint64_t>(entry.size), entry.count, entry.type,
                              entry.layout, field);
      }
      break;
    case kLayoutList:
      if (Hooks.ListCreateHook != nullptr) {
        Hooks.ListCreateHook(static_cast<uint64_t>(entry.size),
                             reinterpret_cast<ListHolder*>(field), entry.layout, entry.type);
      }
      break;
    case kLayoutMap:
      if (Hooks.MapCreateHook != nullptr) {
        Hooks.MapCreateHook(static_cast<uint64_t>(entry.size), entry.type, entry.layout,
                            reinterpret_cast<HashMap**>(field), entry.buckets);
      }
      break;
    case kLayoutArrayDims:
      // The variable record takes the dimension counts in its multiplier slots; creation turns
      // them into multipliers.
      if (entry.count > 0) {
        std::memcpy(field + 8, entry.counts, static_cast<size_t>(entry.count) * 8);
      }
      if (Hooks.ArrayCreateDimsHook != nullptr) {
        Hooks.ArrayCreateDimsHook(entry.count, static_cast<uint64_t>(entry.size), entry.type,
                                  entry.layout, field);
      }
      break;
    default:
      // Strings start as null, the empty string, on zeroed memory.
      break;
  }
}

void ClearEntry(void* structure, const LayoutEntry& entry) {
  char* field = FieldAt(structure, entry);
  switch (entry.kind) {
    case kLayoutString: {
      auto* text = static_cast<StringValue>(FieldLoad(field));
      if (text != nullptr) {
        StringRelease(text);
        FieldStore(field, nullptr);
      }
      break;
    }
    case kLayoutStructArray:
      for (int64_t i = 0; i < entry.count; ++i) {
        StructureClear(field + i * entry.size, entry.layout);
      }
      break;
    case kLayoutStruct:
      StructureClear(field, entry.layout);
      break;
    case kLayoutArray:
    case kLayoutArrayDims: {
      void* elements = FieldLoad(field);
      // The array's own variable is normally this field, which the free sets to null; the field
      // is cleared here as well so that it never keeps a freed address.
      if (elements != nullptr && Hooks.ArrayFreeHook != nullptr) {
        Hooks.ArrayFreeHook(elements);
        FieldStore(field, nullptr);
      }
      break;
    }
    case kLayoutList: {
      auto* list = static_cast<LinkedList*>(FieldLoad(field));
      if (list != nullptr && Hooks.ListFreeHook != nullptr) {
        Hooks.ListFreeHook(list);
        std::memset(field, 0, 16);  // the whole ListHolder: list and current element
      }
      break;
    }
    case kLayoutMap: {
      auto* map = static_cast<HashMap*>(FieldLoad(field));
      if (map != nullptr && Hooks.MapFreeHook != nullptr) {
        Hooks.MapFreeHook(map);
        FieldStore(field, nullptr);
      }
      break;
    }
    default:
      break;
  }
}

}  // namespace

void StructureInit(void* structure, LayoutDescriptor layout) {
  if (structure == nullptr || layout == nullptr) {
    return;
  }
  LayoutEntry entry;
  for (const int64_t* word = layout; *word != kLayoutEnd;) {
    word = internal::LayoutEntryRead(word, &entry);
    InitEntry(structure, entry);
  }
}

void StructureClear(void* structure, LayoutDescriptor layout) {
  if (structure == nullptr || layout == nullptr) {
    return;
  }
  LayoutEntry entry;
  for (const int64_t* word = layout; *word != kLayoutEnd;) {
    word = internal::LayoutEntryRead(word, &entry);
    ClearEntry(structure, entry);
  }
}

}  // namespace zn
