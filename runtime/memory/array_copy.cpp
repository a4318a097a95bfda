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

// Re-creation: the new array is built in full under a variable of its own and takes the
// destination's place only then, so that a copy that runs out of memory leaves the old array
// (and a source held inside it) alive and untouched.
int32_t CopyRecreating(void* source, void* destination) {
  const ArrayHeader* from = ArrayHeaderOf(source);
  void* variable = ArrayHeaderOf(destination)->variable;
  if (variable == nullptr) {
    return 0;  // an array must be held to take the destination's place
  }
  void* fresh = nullptr;
  auto* out = static_cast<char*>(ArrayCreate(static_cast<uint64_t>(from->element_size), from->count,
                                             from->type, from->layout, &fresh));
  if (out == nullptr) {
    return 0;
  }
  ArrayHeader* to = ArrayHeaderOf(out);
  to->dimensions = from->dimensions;
  const auto* in = static_cast<const char*>(source);
  if (from->layout == nullptr) {
    std::memcpy(out, in,
                static_cast<size_t>(from->count) * static_cast<size_t>(from->element_size));
  } else {
    for (int64_t i = 0; i < from->count; ++i) {
      const int64_t at = i * from->element_size;
      if (StructureCopy(out + at, from->element_size, from->layout, in + at) == 0) {
        ArrayFree(out);
        return 0;
      }
    }
  }
  // The multipliers go over before the old array is freed: the source may live inside it.
  if (from->dimensions >= 2 && from->variable != nullptr) {
    std::memcpy(RecordSlots(variable), RecordSlots(from->variable),
                static_cast<size_t>(from->dimensions) * sizeof(int64_t));
  }
  ArrayFree(internal::FieldLoad(variable));
  to->variable = variable;
  internal::FieldStore(variable, out);
  return 1;
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
  const ArrayHeader* to = ArrayHeaderOf(destination);
  if (from->dimensions != to->dimensions) {
    return 0;
  }
  if (recreate != 0) {
    return CopyRecreating(source, destination);
  }
  // Elements of another size would take the source's bytes past the end of the destination's
  // block (or cut fields apart); elements of another layout would share or lose what their
  // fields own. Both are refused, as is another count.
  const bool refused = from->count != to->count || from->element_size != to->element_size ||
                       !internal::LayoutSame(from->layout, to->layout);
  // The multipliers go over before the shape is judged, and after a copy that succeeded.
  if (!refused) {
    const auto* in = static_cast<const char*>(source);
    auto* out = static_cast<char*>(destination);
    if (from->layout == nullptr) {
      std::memcpy(out, in,
                  static_cast<size_t>(from->count) * static_cast<size_t>(from->element_size));
    } else if (!internal::StructuresCopyWhole(out, in, from->count, from->element_size,
                                              from->layout)) {
      return 0;
    }
  }
  if (from->dimensions >= 2 && from->variable != nullptr && to->variable != nullptr) {
    std::memcpy(RecordSlots(to->variable), RecordSlots(from->variable),
                static_cast<size_t>(from->dimensions) * sizeof(int64_t));
  }
  return refused ? 0 : 1;
}

int32_t ArrayCopy(void* source, void* destination) {
  return ArrayCopyInto(source, destination, 1);
}

}  // namespace zn
