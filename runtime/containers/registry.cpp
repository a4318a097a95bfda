// The numbered-object registry: creating registries, allocating, finding and releasing records.
//
// Numbered ids index the slot table directly; a slot keeps its record once made, so an id used
// again reuses it. Free-standing records live in 16-byte-headed nodes on the AnyIdList, newest
// first, and their address is their id. An object is live while the first 64-bit field of its
// record is not zero; records are therefore never smaller than that field.
#include <pthread.h>

#include <bit>
#include <cstring>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

pthread_once_t create_once = PTHREAD_ONCE_INIT;
pthread_mutex_t create_mutex;

void CreateMutexInit() {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&create_mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

// Bytes of one record: the object size, but never less than the liveness field that every
// lookup reads.
uint64_t RecordBytes(const ObjectRegistry* registry) {
  return registry->object_size < 8 ? 8 : static_cast<uint64_t>(registry->object_size);
}

bool RecordLive(const void* record) {
  uint64_t first = 0;
  std::memcpy(&first, record, sizeof first);
  return first != 0;
}

// A free-standing id is its record's address.
void* RecordOf(int64_t id) {
  return std::bit_cast<void*>(static_cast<uintptr_t>(id));
}

RegistryNode* NodeOf(int64_t id) {
  return std::bit_cast<RegistryNode*>(static_cast<uintptr_t>(id) - sizeof(RegistryNode));
}

int64_t IdOf(RegistryNode* node) {
  return static_cast<int64_t>(reinterpret_cast<uintptr_t>(node) + sizeof(RegistryNode));
}

bool IsSlotId(const ObjectRegistry* registry, int64_t id) {
  return id >= 0 && id < registry->slot_count;
}

// True when `id` is a free-standing record this registry gave out and has not released.
bool IsAnyId(const ObjectRegistry* registry, int64_t id) {
  return !IsSlotId(registry, id) && id > 0 &&
         internal::RegistryIdsContain(registry, static_cast<uintptr_t>(id));
}

void* AllocateFreeStanding(ObjectRegistry* registry) {
  uint64_t bytes = 0;
  if (!MemorySizeFits(1, RecordBytes(registry), sizeof(RegistryNode), &bytes)) {
    return nullptr;
  }
  auto* node = static_cast<RegistryNode*>(SizedAllocZeroed(bytes));
  if (node == nullptr) {
    return nullptr;
  }
  if (!internal::RegistryIdsInsert(registry, static_cast<uintptr_t>(IdOf(node)))) {
    SizedFree(node);
    return nullptr;
  }
  node->next = registry->any_id_list;
  if (node->next != nullptr) {
    node->next->previous = node;
  }
  registry->any_id_list = node;
  return reinterpret_cast<char*>(node) + sizeof(RegistryNode);
}

// The growth rule: a table too small for `id` grows to id + increment slots. The slot count is
// written only once the resize has succeeded.
bool SlotsGrow(ObjectRegistry* registry, int64_t id) {
  // A registry made with no increment would otherwise grow to exactly `id` slots, one short of
  // the slot it is about to write.
  const int64_t increment = registry->increment < 1 ? 1 : registry->increment;
  int64_t count = 0;
  uint64_t bytes = 0;
  if (__builtin_add_overflow(id, increment, &count) ||
      !MemorySizeFits(static_cast<uint64_t>(count), sizeof(void*), 0, &bytes)) {
    return false;
  }
  auto* slots =
      static_cast<void**>(SizedResizeZeroed(registry->slots, static_cast<int64_t>(bytes)));
  if (slots == nullptr) {
    return false;
  }
  registry->slots = slots;
  registry->slot_count = count;
  return true;
}

}  // namespace

ObjectRegistry* RegistryCreate(int32_t object_size, int32_t increment,
                               ObjectFreeCallback free_callback) {
  if (object_size < 0 || increment < 0) {
    return nullptr;
  }
  auto* registry = static_cast<ObjectRegistry*>(SizedAllocZeroed(sizeof(ObjectRegistry)));
  if (registry == nullptr) {
    return nullptr;
  }
  registry->slots =
      static_cast<void**>(SizedAllocZeroed(static_cast<uint64_t>(increment) * sizeof(void*)));
  if (registry->slots == nullptr) {
    SizedFree(registry);
    return nullptr;
  }
  registry->object_size = object_size;
  registry->increment = increment;
  registry->slot_count = increment;
  registry->free_callback = free_callback;
  return registry;
}

void RegistryFree(ObjectRegistry* registry) {
  if (registry == nullptr) {
    return;
  }
  for (int64_t id = 0; id < registry->slot_count; ++id) {
    SizedFree(registry->slots[id]);
  }
  SizedFree(registry->slots);
  for (RegistryNode* node = registry->any_id_list; node != nullptr;) {
    RegistryNode* next = node->next;
    SizedFree(node);
    node = next;
  }
  SizedFree(registry->live_ids);
  SizedFree(registry);
}

void RegistryCreateOnce(ObjectRegistry** variable, int32_t object_size, int32_t increment,
                        ObjectFreeCallback free_callback) {
  if (variable == nullptr) {
    return;
  }
  pthread_once(&create_once, CreateMutexInit);
  pthread_mutex_lock(&create_mutex);
  if (*variable == nullptr) {
    *variable = RegistryCreate(object_size, increment, free_callback);
  }
  pthread_mutex_unlock(&create_mutex);
}

void* RegistryAllocate(ObjectRegistry* registry, int64_t id) {
  if (registry == nullptr) {
    return nullptr;
  }
  if (id == AnyId) {
    return AllocateFreeStanding(registry);
  }
  if (id < 0) {
    return nullptr;
  }
  if (id >= registry->slot_count && !SlotsGrow(registry, id)) {
    return nullptr;
  }
  if (void* record = registry->slots[id]) {
    // The id is in use (or was): the library frees the old object, which zero-fills the record
    // through RegistryRelease, and the record is handed out again.
    if (registry->free_callback != nullptr) {
      registry->free_callback(id);
    }
    return record;
  }
  void* record = SizedAllocZeroed(RecordBytes(registry));
  if (record != nullptr) {
    registry->slots[id] = record;
  }
  return record;
}

void* RegistryLookup(ObjectRegistry* registry, int64_t id) {
  if (registry == nullptr) {
    return nullptr;
  }
  void* candidate = nullptr;
  if (IsSlotId(registry, id)) {
    candidate = registry->slots[id];
  } else if (IsAnyId(registry, id)) {
    candidate = RecordOf(id);
  }
  return candidate != nullptr && RecordLive(candidate) ? candidate : nullptr;
}

void* RegistryVerify(ObjectRegistry* registry, int64_t id) {
  if (registry == nullptr) {
    return nullptr;
  }
  if (IsSlotId(registry, id)) {
    return RegistryLookup(registry, id);
  }
  // A free-standing id is checked against the list itself; its liveness is not examined.
  for (RegistryNode* node = registry->any_id_list; node != nullptr; node = node->next) {
    if (IdOf(node) == id) {
      return RecordOf(id);
    }
  }
  return nullptr;
}

void RegistryRelease(ObjectRegistry* registry, int64_t id) {
  if (registry == nullptr) {
    return;
  }
  if (IsSlotId(registry, id)) {
    if (registry->slots[id] != nullptr) {
      std::memset(registry->slots[id], 0, RecordBytes(registry));
    }
    return;
  }
  // Only a record this registry gave out is unlinked and freed; any other number is ignored
  // rather than taken as an address to write through.
  if (!IsAnyId(registry, id)) {
    return;
  }
  internal::RegistryIdsRemove(registry, static_cast<uintptr_t>(id));
  RegistryNode* node = NodeOf(id);
  if (registry->list_cursor == node) {
    registry->list_cursor = node->previous;
  }
  if (node->previous != nullptr) {
    node->previous->next = node->next;
  } else {
    registry->any_id_list = node->next;
  }
  if (node->next != nullptr) {
    node->next->previous = node->previous;
  }
  SizedFree(node);
}

}  // namespace zn
