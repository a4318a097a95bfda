// Arrays: creating, re-creating and freeing arrays whose ArrayHeader stands directly in front of
// their elements, inside one SizedBlock, and registering them in the ContainerHooks.
#include <cstdint>

#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"
#include "runtime/memory/structures_internal.h"

namespace zn {
namespace {

using internal::FieldLoad;
using internal::FieldStore;

constexpr uint64_t kArrayHeaderBytes = sizeof(ArrayHeader);

// The multiplier slots of a multi-dimensional variable record follow its element pointer.
int64_t* RecordSlots(void* record) {
  return reinterpret_cast<int64_t*>(static_cast<char*>(record) + sizeof(void*));
}

}  // namespace

ArrayHeader* ArrayHeaderOf(void* elements) {
  return reinterpret_cast<ArrayHeader*>(static_cast<char*>(elements) - kArrayHeaderBytes);
}

void* ArrayCreate(uint64_t element_size, int64_t count, int32_t type, LayoutDescriptor layout,
                  void* variable) {
  // An array always names the variable that holds it; without one it could never be freed.
  if (variable == nullptr) {
    return nullptr;
  }
  ArrayFree(FieldLoad(variable));
  FieldStore(variable, nullptr);
  if (count <= 0) {
    return nullptr;
  }
  // An overflowing size fails like exhausted memory rather than allocating a wrapped size.
  uint64_t bytes = 0;
  if (!MemorySizeFits(static_cast<uint64_t>(count), element_size, kArrayHeaderBytes, &bytes)) {
    return nullptr;
  }
  void* block = SizedAllocZeroed(bytes);
  if (block == nullptr) {
    return nullptr;
  }
  auto* header = static_cast<ArrayHeader*>(block);
  header->dimensions = 1;
  header->element_size = static_cast<int64_t>(element_size);
  header->layout = layout;
  header->variable = variable;
  header->count = count;
  header->type = type;
  char* elements = static_cast<char*>(block) + kArrayHeaderBytes;
  FieldStore(variable, elements);
  if (LayoutNeedsInit(layout) != 0) {
    for (int64_t i = 0; i < count; ++i) {
      // An element whose containers cannot all be made fails the whole array: the element undid
      // its own, and freeing the array clears the ones before it (the rest are still zeroed).
      if (StructureInit(elements + static_cast<uint64_t>(i) * element_size, layout) == 0) {
        ArrayFree(elements);
        return nullptr;
      }
    }
  }
  return elements;
}

void* ArrayCreateDims(int64_t dimensions, uint64_t element_size, int32_t type,
                      LayoutDescriptor layout, void* record) {
  if (record == nullptr) {
    return nullptr;
  }
  int64_t* slots = RecordSlots(record);
  // From the last dimension back: each slot's count is replaced by the product of the counts
  // after it, read before they were replaced.
  uint64_t multiplier = 1;
  bool refused = false;
  bool overflow = false;
  for (int64_t k = dimensions - 1; k >= 0; --k) {
    const int64_t count = slots[k];
    slots[k] = static_cast<int64_t>(multiplier);
    if (count <= 0) {
      // Refused in the end, but the record is left holding multipliers either way: the slots
      // in front still get the product of the counts behind them (wrapping, never trapping).
      refused = true;
      multiplier *= static_cast<uint64_t>(count);
      continue;
    }
    uint64_t product = 0;
    if (!MemorySizeFits(multiplier, static_cast<uint64_t>(count), 0, &product)) {
      overflow = true;
      product = multiplier * static_cast<uint64_t>(count);
    }
    multiplier = product;
  }
  // A count of 0 or less leaves the record's old array in place.
  if (refused) {
    return nullptr;
  }
  // A total that cannot be counted fails as exhausted memory does: the old array is gone.
  if (overflow) {
    ArrayFree(FieldLoad(record));
    FieldStore(record, nullptr);
    return nullptr;
  }
  void* elements =
      ArrayCreate(element_size, static_cast<int64_t>(multiplier), type, layout, record);
  if (elements != nullptr) {
    ArrayHeaderOf(elements)->dimensions = static_cast<int32_t>(dimensions);
  }
  return elements;
}

void ArrayFree(void* elements) {
  if (elements == nullptr) {
    return;
  }
  ArrayHeader* header = ArrayHeaderOf(elements);
  if (header->layout != nullptr && header->count > 0) {
    char* element = static_cast<char*>(elements);
    for (int64_t i = 0; i < header->count; ++i, element += header->element_size) {
      StructureClear(element, header->layout);
    }
  }
  if (header->variable != nullptr) {
    FieldStore(header->variable, nullptr);
  }
  SizedFree(header);
}

void ArrayHooksRegister() {
  Hooks.ArrayCreateHook = ArrayCreate;
  Hooks.ArrayCreateDimsHook = ArrayCreateDims;
  Hooks.ArrayCopyHook = ArrayCopyInto;
  Hooks.ArrayFreeHook = ArrayFree;
}

}  // namespace zn
