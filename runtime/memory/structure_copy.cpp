// StructureCopy: the deep copy of a structure by its LayoutDescriptor; and StructureRenew, which
// gives a structure fresh containers in place of its old ones. Bytes that no entry describes are
// copied as they are; described fields get copies of their own, and whatever the destination's
// fields owned before is freed.
//
// A copy is all or nothing. The destination's old bytes are set aside, the fields that own
// something are emptied, and the copies are built in place (where the containers' records can name
// the field that holds them). A copy that cannot be made frees what was built and puts the old
// bytes back; only when everything is built are the old strings and containers freed.
#include <algorithm>
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

constexpr int64_t kListHolderBytes = 16;

// Room for the old bytes of a copy: on the stack for the usual small records, so that copying
// them costs no heap request, on the heap beyond that.
class SetAside {
 public:
  explicit SetAside(uint64_t bytes)
      : block_(bytes <= sizeof local_ ? local_ : static_cast<char*>(MemoryAlloc(bytes))) {}
  ~SetAside() {
    if (block_ != local_) {
      MemoryRelease(block_);
    }
  }
  SetAside(const SetAside&) = delete;
  SetAside& operator=(const SetAside&) = delete;
  char* Block() const { return block_; }

 private:
  alignas(16) char local_[256];
  char* block_;
};

// Empties the fields that own something (string and container pointers, list holders), so that a
// build in their place starts from nothing and a failed one frees only what it made. Undescribed
// bytes and the multipliers of a multi-dimensional record stay.
void OwnersEmpty(char* structure, LayoutDescriptor layout) {
  if (layout == nullptr) {
    return;
  }
  LayoutEntry entry;
  for (const int64_t* word = layout; *word != kLayoutEnd;) {
    word = internal::LayoutEntryRead(word, &entry);
    char* field = structure + entry.offset;
    switch (entry.kind) {
      case kLayoutString:
      case kLayoutArray:
      case kLayoutArrayDims:
      case kLayoutMap:
        FieldStore(field, nullptr);
        break;
      case kLayoutList:
        std::memset(field, 0, kListHolderBytes);
        break;
      case kLayoutStruct:
        OwnersEmpty(field, entry.layout);
        break;
      case kLayoutStructArray:
        for (int64_t i = 0; i < entry.count; ++i) {
          OwnersEmpty(field + i * entry.size, entry.layout);
        }
        break;
      default:
        break;
    }
  }
}

bool BuildString(char* destination, const char* source) {
  const auto* text = static_cast<const char16_t*>(FieldLoad(source));
  if (text == nullptr) {
    return true;
  }
  StringValue copy = internal::StructureCopyString(text);
  FieldStore(destination, copy);
  return copy != nullptr;
}

bool BuildArray(char* destination, const char* source, bool dimensions) {
  void* from = FieldLoad(source);
  if (from == nullptr || Hooks.ArrayCreateHook == nullptr || Hooks.ArrayCopyHook == nullptr) {
    return true;
  }
  const ArrayHeader* header = ArrayHeaderOf(from);
  void* to = Hooks.ArrayCreateHook(static_cast<uint64_t>(header->element_size), header->count,
                                   header->type, header->layout, destination);
  if (to == nullptr) {
    return false;
  }
  // A multi-dimensional copy takes the source's dimension count first, so that the element copy
  // accepts it and carries the multipliers over into the destination's record.
  if (dimensions) {
    ArrayHeaderOf(to)->dimensions = header->dimensions;
  }
  return Hooks.ArrayCopyHook(from, to, 0) != 0;
}

// The list and map headers belong to their own library and are not read here: the re-created
// container takes its value size, layout, type code and bucket count from the field's own entry,
// which names exactly what the field's container was created with.
bool BuildList(char* destination, const char* source, const LayoutEntry& entry) {
  auto* from = static_cast<LinkedList*>(FieldLoad(source));
  if (from == nullptr || Hooks.ListCreateHook == nullptr || Hooks.ListCopyHook == nullptr) {
    return true;
  }
  LinkedList* to =
      Hooks.ListCreateHook(static_cast<uint64_t>(entry.size),
                           reinterpret_cast<ListHolder*>(destination), entry.layout, entry.type);
  return to != nullptr && Hooks.ListCopyHook(from, 0, to, 0, 0) != 0;
}

bool BuildMap(char* destination, const char* source, const LayoutEntry& entry) {
  auto* from = static_cast<HashMap*>(FieldLoad(source));
  if (from == nullptr || Hooks.MapCreateHook == nullptr || Hooks.MapCopyHook == nullptr) {
    return true;
  }
  HashMap* to = Hooks.MapCreateHook(static_cast<uint64_t>(entry.size), entry.type, entry.layout,
                                    reinterpret_cast<HashMap**>(destination), entry.buckets);
  return to != nullptr && Hooks.MapCopyHook(from, to, 0) != 0;
}

bool Build(char* destination, int64_t size, LayoutDescriptor layout, const char* source);

bool BuildEntry(char* destination, const char* source, const LayoutEntry& entry) {
  char* to = destination + entry.offset;
  const char* from = source + entry.offset;
  switch (entry.kind) {
    case kLayoutString:
      return BuildString(to, from);
    case kLayoutStructArray:
      for (int64_t i = 0; i < entry.count; ++i) {
        if (!Build(to + i * entry.size, entry.size, entry.layout, from + i * entry.size)) {
          return false;
        }
      }
      return true;
    case kLayoutStruct:
      return Build(to, entry.size, entry.layout, from);
    case kLayoutArray:
      return BuildArray(to, from, false);
    case kLayoutArrayDims:
      return BuildArray(to, from, true);
    case kLayoutList:
      return BuildList(to, from, entry);
    case kLayoutMap:
      return BuildMap(to, from, entry);
    default:
      return true;
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

// The copy into a destination whose owning fields are empty; false at the first copy that cannot
// be made, with what was built still in the destination for the caller to free.
bool Build(char* destination, int64_t size, LayoutDescriptor layout, const char* source) {
  if (layout == nullptr) {
    CopyBytes(destination, source, 0, size, size);
    return true;
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
    CopyBytes(destination, source, handled, entry.offset, size);
    if (!BuildEntry(destination, source, entry)) {
      return false;
    }
    if (__builtin_add_overflow(entry.offset, entry.span, &handled)) {
      handled = INT64_MAX;
    }
  }
  CopyBytes(destination, source, handled, size, size);
  return true;
}

// Frees an old container through `release` with its old bytes back in the field it lives in,
// since freeing it clears that field; the field then gets its new bytes again.
template <typename Release>
void ReleaseInPlace(char* field, const char* old, int64_t bytes, Release release) {
  char fresh[kListHolderBytes];
  std::memcpy(fresh, field, static_cast<size_t>(bytes));
  std::memcpy(field, old, static_cast<size_t>(bytes));
  release();
  std::memcpy(field, fresh, static_cast<size_t>(bytes));
}

void OldWalk(char* structure, char* old, LayoutDescriptor layout, const char* source);

// One entry of the two passes over the old bytes. With a source, the first pass: what the source
// holds too (a string or container left shared by a byte copy) stays with the source, and the old
// bytes forget it. Without one, the second: everything the old bytes still own is freed. The
// passes are apart because the source may live inside an old container, which the second frees.
void OldEntry(char* structure, char* old, const char* source, const LayoutEntry& entry) {
  char* field = structure + entry.offset;
  char* was = old + entry.offset;
  const char* with = source != nullptr ? source + entry.offset : nullptr;
  if (entry.kind == kLayoutStruct) {
    OldWalk(field, was, entry.layout, with);
    return;
  }
  if (entry.kind == kLayoutStructArray) {
    for (int64_t i = 0; i < entry.count; ++i) {
      const int64_t at = i * entry.size;
      OldWalk(field + at, was + at, entry.layout, with != nullptr ? with + at : nullptr);
    }
    return;
  }
  if (entry.kind == internal::kLayoutSkip) {
    return;
  }
  void* owned = FieldLoad(was);
  if (owned == nullptr) {
    return;
  }
  if (with != nullptr) {
    if (owned == FieldLoad(with)) {
      FieldStore(was, nullptr);
    }
    return;
  }
  switch (entry.kind) {
    case kLayoutString:
      StringRelease(static_cast<StringValue>(owned));
      break;
    case kLayoutArray:
    case kLayoutArrayDims:
      if (Hooks.ArrayFreeHook != nullptr) {
        ReleaseInPlace(field, was, 8, [owned] { Hooks.ArrayFreeHook(owned); });
      }
      break;
    case kLayoutList:
      if (Hooks.ListFreeHook != nullptr) {
        ReleaseInPlace(field, was, kListHolderBytes,
                       [owned] { Hooks.ListFreeHook(static_cast<LinkedList*>(owned)); });
      }
      break;
    case kLayoutMap:
      if (Hooks.MapFreeHook != nullptr) {
        ReleaseInPlace(field, was, 8, [owned] { Hooks.MapFreeHook(static_cast<HashMap*>(owned)); });
      }
      break;
    default:
      break;
  }
}

void OldWalk(char* structure, char* old, LayoutDescriptor layout, const char* source) {
  if (layout == nullptr) {
    return;
  }
  LayoutEntry entry;
  for (const int64_t* word = layout; *word != kLayoutEnd;) {
    word = internal::LayoutEntryRead(word, &entry);
    OldEntry(structure, old, source, entry);
  }
}

}  // namespace

namespace internal {

int64_t LayoutExtent(LayoutDescriptor layout) {
  int64_t extent = 0;
  LayoutEntry entry;
  for (const int64_t* word = layout; word != nullptr && *word != kLayoutEnd;) {
    word = LayoutEntryRead(word, &entry);
    if (entry.kind == kLayoutSkip) {
      continue;
    }
    int64_t end = 0;
    extent =
        __builtin_add_overflow(entry.offset, entry.span, &end) ? INT64_MAX : std::max(extent, end);
  }
  return extent;
}

StringValue StructureCopyString(const char16_t* text) {
  if (text == nullptr) {
    return nullptr;
  }
  // The block a string value gets: its units, the terminator and four spare units.
  const int64_t units = StringCountUnits(text);
  if (units > INT32_MAX - 5) {
    return nullptr;
  }
  auto* copy = static_cast<StringValue>(MemoryAlloc(static_cast<uint64_t>(units + 5) * 2));
  if (copy != nullptr) {
    StringCopyUnits(copy, text, static_cast<int32_t>(units));
  }
  return copy;
}

bool StructuresCopyWhole(char* destination, const char* source, int64_t count, int64_t size,
                         LayoutDescriptor layout) {
  if (count <= 0) {
    return true;
  }
  // The bytes the copy may change: every structure's size, and the fields of the last one even
  // where its layout reaches past its size.
  const int64_t stride = size > 0 ? size : 0;
  int64_t bytes = 0;
  if (__builtin_mul_overflow(count - 1, stride, &bytes) ||
      __builtin_add_overflow(bytes, std::max(stride, LayoutExtent(layout)), &bytes)) {
    return false;
  }
  const SetAside aside(static_cast<uint64_t>(bytes));
  char* old = aside.Block();
  if (old == nullptr) {
    return false;
  }
  std::memcpy(old, destination, static_cast<size_t>(bytes));
  for (int64_t i = 0; i < count; ++i) {
    OwnersEmpty(destination + i * size, layout);
  }
  for (int64_t i = 0; i < count; ++i) {
    const int64_t at = i * size;
    if (!Build(destination + at, size, layout, source + at)) {
      for (int64_t k = 0; k <= i; ++k) {
        StructureClear(destination + k * size, layout);
      }
      std::memcpy(destination, old, static_cast<size_t>(bytes));
      return false;
    }
  }
  for (int64_t i = 0; i < count; ++i) {
    const int64_t at = i * size;
    OldWalk(destination + at, old + at, layout, source + at);
  }
  for (int64_t i = 0; i < count; ++i) {
    OldWalk(destination + i * size, old + i * size, layout, nullptr);
  }
  return true;
}

}  // namespace internal

int32_t StructureCopy(void* destination, int64_t size, LayoutDescriptor layout,
                      const void* source) {
  if (destination == source || destination == nullptr || source == nullptr) {
    return 1;
  }
  auto* to = static_cast<char*>(destination);
  const auto* from = static_cast<const char*>(source);
  if (layout == nullptr) {
    CopyBytes(to, from, 0, size, size);
    return 1;
  }
  return internal::StructuresCopyWhole(to, from, 1, size, layout) ? 1 : 0;
}

int32_t StructureRenew(void* structure, int64_t size, LayoutDescriptor layout) {
  if (structure == nullptr) {
    return 1;
  }
  auto* bytes = static_cast<char*>(structure);
  const int64_t span = size > 0 ? size : 0;
  // Without containers to create nothing can fail: the old contents go first, as they always did.
  if (LayoutNeedsInit(layout) == 0) {
    StructureClear(structure, layout);
    std::memset(bytes, 0, static_cast<size_t>(span));
    return 1;
  }
  // The fresh containers are made while the old ones are set aside, and the old ones are freed
  // only once all the new ones exist.
  const int64_t extent = std::max(span, internal::LayoutExtent(layout));
  const SetAside aside(static_cast<uint64_t>(extent));
  char* old = aside.Block();
  if (old == nullptr) {
    return 0;
  }
  std::memcpy(old, bytes, static_cast<size_t>(extent));
  std::memset(bytes, 0, static_cast<size_t>(span));
  OwnersEmpty(bytes, layout);
  if (StructureInit(structure, layout) == 0) {
    std::memcpy(bytes, old, static_cast<size_t>(extent));
    return 0;
  }
  OldWalk(bytes, old, layout, nullptr);
  return 1;
}

}  // namespace zn
