// Copying arrays: element by element through the layout, or byte for byte for plain data, into a
// destination that is re-created first when asked.
#include <cstdint>
#include <cstring>

#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/memory/structures_internal.h"

namespace zn {
namespace {

// The multiplier slots of a multi-dimensional variable record follow its element pointer.
char* RecordSlots(void* record) {
  return static_cast<char*>(record) + sizeof(void*);
}

}  // namespace

int32_t ArrayCopyInto(void* source, void* destination, int32_t recreate) {
  if (source == nullptr || destination == nullptr) {
    return 0;
  }
  // An array copied onto itself already holds what the copy would give; re-creating it would
  // free the very elements it reads from.
  if (source == destination) {
    return 1;
  }
  const ArrayHeader* from = ArrayHeaderOf(source);
  ArrayHeader* to = ArrayHeaderOf(destination);
  if (from->dimensions != to->dimensions) {
    return 0;
  }
  if (recreate != 0) {
    destination = ArrayCreate(static_cast<uint64_t>(from->element_size), from->count, from->type,
                              from->layout, to->variable);
    if (destination == nullptr) {
      return 0;
    }
    to = ArrayHeaderOf(destination);
    to->dimensions = from->dimensions;
  }
  if (from->dimensions >= 2 && from->variable != nullptr && to->variable != nullptr) {
    std::memcpy(RecordSlots(to->variable), RecordSlots(from->variable),
                static_cast<size_t>(from->dimensions) * sizeof(int64_t));
  }
  if (from->count != to->count) {
    return 0;
  }
  // Elements of another size would take the source's bytes past the end of the destination's
  // block (or cut fields apart); elements of another layout would share or lose what their
  // fields own. Both are refused.
  if (from->element_size != to->element_size) {
    return 0;
  }
  if (!internal::LayoutSame(from->layout, to->layout)) {
    return 0;
  }
  const auto* in = static_cast<const char*>(source);
  auto* out = static_cast<char*>(destination);
  if (from->layout == nullptr) {
    std::memcpy(out, in,
                static_cast<size_t>(from->count) * static_cast<size_t>(from->element_size));
    return 1;
  }
  for (int64_t i = 0; i < from->count; ++i) {
    const int64_t at = i * from->element_size;
    StructureCopy(out + at, from->element_size, from->layout, in + at);
  }
  return 1;
}

int32_t ArrayCopy(void* source, void* destination) {
  return ArrayCopyInto(source, destination, 1);
}

}  // namespace zn
