// The set of live free-standing ids beside a registry's AnyIdList.
//
// A free-standing id is the address of its record, and the program hands ids back to the
// registry as plain numbers. This set lets a lookup tell an id the registry gave out from any other
// number in constant time, so that a stale or made-up id gives null instead of a read at an
// arbitrary address. Open addressing with linear probing, at most half full; 0 marks an empty
// cell, which no record address can be.
#include <cstdint>

#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

constexpr int64_t kFirstCapacity = 16;

uint64_t IdHome(uintptr_t id, int64_t capacity) {
  // Records are at least 8-byte aligned; Fibonacci hashing spreads the remaining bits.
  const uint64_t mixed = (static_cast<uint64_t>(id) >> 3) * 0x9E3779B97F4A7C15ULL;
  return (mixed >> 17) & static_cast<uint64_t>(capacity - 1);
}

void IdPlace(uintptr_t* table, int64_t capacity, uintptr_t id) {
  uint64_t at = IdHome(id, capacity);
  const auto mask = static_cast<uint64_t>(capacity - 1);
  while (table[at] != 0) {
    at = (at + 1) & mask;
  }
  table[at] = id;
}

// Doubles the table (or makes the first one); false when memory is exhausted, the set unchanged.
bool IdTableGrow(ObjectRegistry* registry) {
  const int64_t capacity =
      registry->live_capacity == 0 ? kFirstCapacity : registry->live_capacity * 2;
  uint64_t bytes = 0;
  if (!MemorySizeFits(static_cast<uint64_t>(capacity), sizeof(uintptr_t), 0, &bytes)) {
    return false;
  }
  auto* table = static_cast<uintptr_t*>(SizedAllocZeroed(bytes));
  if (table == nullptr) {
    return false;
  }
  for (int64_t i = 0; i < registry->live_capacity; ++i) {
    if (registry->live_ids[i] != 0) {
      IdPlace(table, capacity, registry->live_ids[i]);
    }
  }
  SizedFree(registry->live_ids);
  registry->live_ids = table;
  registry->live_capacity = capacity;
  return true;
}

// The cell holding `id`, or -1.
int64_t IdFind(const ObjectRegistry* registry, uintptr_t id) {
  if (registry->live_capacity == 0 || id == 0) {
    return -1;
  }
  const auto mask = static_cast<uint64_t>(registry->live_capacity - 1);
  for (uint64_t at = IdHome(id, registry->live_capacity);; at = (at + 1) & mask) {
    if (registry->live_ids[at] == id) {
      return static_cast<int64_t>(at);
    }
    if (registry->live_ids[at] == 0) {
      return -1;
    }
  }
}

}  // namespace

namespace internal {

bool RegistryIdsInsert(ObjectRegistry* registry, uintptr_t id) {
  if ((registry->live_count + 1) * 2 > registry->live_capacity && !IdTableGrow(registry)) {
    return false;
  }
  IdPlace(registry->live_ids, registry->live_capacity, id);
  ++registry->live_count;
  return true;
}

bool RegistryIdsContain(const ObjectRegistry* registry, uintptr_t id) {
  return IdFind(registry, id) >= 0;
}

void RegistryIdsRemove(ObjectRegistry* registry, uintptr_t id) {
  int64_t hole = IdFind(registry, id);
  if (hole < 0) {
    return;
  }
  // Backward-shift deletion: pull later members of the probe run into the hole so that every
  // member stays reachable from its home cell without tombstones.
  const int64_t capacity = registry->live_capacity;
  const auto mask = static_cast<uint64_t>(capacity - 1);
  uintptr_t* table = registry->live_ids;
  auto at = static_cast<uint64_t>(hole);
  for (;;) {
    at = (at + 1) & mask;
    if (table[at] == 0) {
      break;
    }
    const uint64_t home = IdHome(table[at], capacity);
    // The member at `at` may move into the hole unless its home lies cyclically in (hole, at].
    const uint64_t distance_home = (at - home) & mask;
    const uint64_t distance_hole = (at - static_cast<uint64_t>(hole)) & mask;
    if (distance_home >= distance_hole) {
      table[hole] = table[at];
      hole = static_cast<int64_t>(at);
    }
  }
  table[hole] = 0;
  --registry->live_count;
}

}  // namespace internal
}  // namespace zn
