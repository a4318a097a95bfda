// Walking a registry's objects: iteration and releasing everything.
//
// Iteration keeps its place in the registry's scan index; releasing everything keeps its own, so
// that a free callback may iterate. Numbered objects come first, by ascending id; then
// the free-standing ones, oldest first when iterating and newest first when releasing (the head of
// the list is simply taken again and again until the list is empty).
#include <cstring>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"

namespace zn {
namespace {

bool RecordLive(const void* record) {
  if (record == nullptr) {
    return false;
  }
  uint64_t first = 0;
  std::memcpy(&first, record, sizeof first);
  return first != 0;
}

int64_t IdOf(RegistryNode* node) {
  return static_cast<int64_t>(reinterpret_cast<uintptr_t>(node) + sizeof(RegistryNode));
}

}  // namespace

void RegistryReleaseAll(ObjectRegistry* registry) {
  if (registry == nullptr || registry->free_callback == nullptr) {
    return;
  }
  // The walk keeps its own index rather than the iteration's scan index: a free callback that
  // iterates its registry (to find a window's parent, say) rewinds and runs out that index, and
  // the walk would then end early and leave the later objects alive. The slot table is read
  // afresh each time: the callback may reallocate it.
  for (int64_t index = 0; index < registry->slot_count; ++index) {
    if (RecordLive(registry->slots[index])) {
      registry->free_callback(index);
    }
  }
  while (RegistryNode* node = registry->any_id_list) {
    const int64_t id = IdOf(node);
    registry->free_callback(id);
    // A callback that leaves the object in place would have this loop spin for ever; the
    // registry then releases the record itself so that the walk always ends.
    if (registry->any_id_list == node &&
        internal::RegistryIdsContain(registry, static_cast<uintptr_t>(id))) {
      RegistryRelease(registry, id);
    }
  }
}

void* RegistryFreeLookup(ObjectRegistry* registry, int64_t id,
                         void (*free_all)(ObjectRegistry* registry)) {
  if (registry == nullptr) {
    return nullptr;
  }
  if (id == RegistryAllObjects) {
    free_all(registry);
    return nullptr;
  }
  return RegistryLookup(registry, id);
}

void RegistryFirst(ObjectRegistry* registry) {
  if (registry == nullptr) {
    return;
  }
  registry->scan_index = 0;
  RegistryNode* oldest = registry->any_id_list;
  while (oldest != nullptr && oldest->next != nullptr) {
    oldest = oldest->next;
  }
  registry->list_cursor = oldest;
}

void* RegistryNext(ObjectRegistry* registry, int64_t* id) {
  if (registry == nullptr) {
    return nullptr;
  }
  while (registry->scan_index >= 0 && registry->scan_index < registry->slot_count) {
    const int64_t index = registry->scan_index++;
    void* record = registry->slots[index];
    if (RecordLive(record)) {
      if (id != nullptr) {
        *id = index;
      }
      return record;
    }
  }
  RegistryNode* node = registry->list_cursor;
  if (node == nullptr) {
    return nullptr;
  }
  // Free-standing objects are handed out whether or not their first field is set yet.
  registry->list_cursor = node->previous;
  if (id != nullptr) {
    *id = IdOf(node);
  }
  return reinterpret_cast<char*>(node) + sizeof(RegistryNode);
}

void RegistryDone(ObjectRegistry* registry) {
  (void)registry;
}

}  // namespace zn
