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

bool InitWalk(void* structure, LayoutDescriptor layout);

// A container the layout asks for with a count of 0 or less is not made, and is no failure; any
// other null from a creation hook is exhausted memory.
bool InitEntry(void* structure, const LayoutEntry& entry) {
  char* field = FieldAt(structure, entry);
  switch (entry.kind) {
    case kLayoutStructArray:
      for (int64_t i = 0; i < entry.count; ++i) {
        if (!InitWalk(field + i * entry.size, entry.layout)) {
          return false;
        }
      }
      return true;
    case kLayoutStruct:
      return InitWalk(field, entry.layout);
    case kLayoutArray:
      return Hooks.ArrayCreateHook == nullptr || entry.count <= 0 ||
             Hooks.ArrayCreateHook(static_cast<uint64_t>(entry.size), entry.count, entry.type,
                                   entry.layout, field) != nullptr;
    case kLayoutList:
      return Hooks.ListCreateHook == nullptr ||
             Hooks.ListCreateHook(static_cast<uint64_t>(entry.size),
                                  reinterpret_cast<ListHolder*>(field), entry.layout,
                                  entry.type) != nullptr;
    case kLayoutMap:
      return Hooks.MapCreateHook == nullptr ||
             Hooks.MapCreateHook(static_cast<uint64_t>(entry.size), entry.type, entry.layout,
                                 reinterpret_cast<HashMap**>(field), entry.buckets) != nullptr;
    case kLayoutArrayDims: {
      // The variable record takes the dimension counts in its multiplier slots; creation turns
      // them into multipliers.
      bool empty = false;
      if (entry.count > 0) {
        std::memcpy(field + 8, entry.counts, static_cast<size_t>(entry.count) * 8);
        for (int64_t k = 0; k < entry.count; ++k) {
          empty = empty || entry.counts[k] <= 0;
        }
      }
      return Hooks.ArrayCreateDimsHook == nullptr ||
             Hooks.ArrayCreateDimsHook(entry.count, static_cast<uint64_t>(entry.size), entry.type,
                                       entry.layout, field) != nullptr ||
             empty;
    }
    default:
      // Strings start as null, the empty string, on zeroed memory.
      return true;
  }
}

bool InitWalk(void* structure, LayoutDescriptor layout) {
  LayoutEntry entry;
  for (const int64_t* word = layout; *word != kLayoutEnd;) {
    word = internal::LayoutEntryRead(word, &entry);
    if (!InitEntry(structure, entry)) {
      return false;
    }
  }
  return true;
}

// After a failed StructureInit: frees what it made and zeroes the multiplier slots it wrote, so
// that the structure is zeroed as it came.
void InitUndo(void* structure, LayoutDescriptor layout) {
  StructureClear(structure, layout);
  LayoutEntry entry;
  for (const int64_t* word = layout; *word != kLayoutEnd;) {
    word = internal::LayoutEntryRead(word, &entry);
    char* field = FieldAt(structure, entry);
    if (entry.kind == kLayoutArrayDims && entry.count > 0) {
      std::memset(field + 8, 0, static_cast<size_t>(entry.count) * 8);
    } else if (entry.kind == kLayoutStruct) {
      InitUndo(field, entry.layout);
    } else if (entry.kind == kLayoutStructArray) {
      for (int64_t i = 0; i < entry.count; ++i) {
        InitUndo(field + i * entry.size, entry.layout);
      }
    }
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

int32_t StructureInit(void* structure, LayoutDescriptor layout) {
  if (structure == nullptr || layout == nullptr) {
    return 1;
  }
  if (!InitWalk(structure, layout)) {
    InitUndo(structure, layout);
    return 0;
  }
  return 1;
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
