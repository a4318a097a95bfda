// Hash maps as a whole: creating, clearing, copying and freeing them, and the map hooks through
// which structure code reaches map fields.
//
// The bucket count is fixed for the life of a map; chains grow instead. Elements come from the
// shared pool of their element size, so maps (and lists) whose elements have one size share one
// pool, and a map holds one reference to it.
#include <cstring>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"

namespace zn {
namespace {

constexpr int32_t kPoolMinimum = 16;
constexpr int32_t kPoolMaximum = 65536;

// The hook's shape: structure code creates maps without creation flags.
HashMap* MapCreateHookTarget(uint64_t value_size, int32_t type, LayoutDescriptor layout,
                             HashMap** variable, int32_t buckets) {
  return MapCreate(value_size, type, layout, variable, buckets);
}

bool IntegerKeys(const HashMap* map) {
  return (map->flags & MapIntegerKeys) != 0;
}

// Adds a copy of `element` (a source element) to `destination` in mode 0; false when memory is
// exhausted.
bool ElementCopyInto(const HashMap* source, MapElement* element, HashMap* destination) {
  void* value = IntegerKeys(source) ? MapAddInteger(destination, element->key.number, 0)
                                    : MapAdd(destination, element->key.text, 0);
  if (value == nullptr) {
    return false;
  }
  StructureCopy(value, static_cast<int64_t>(source->value_size), source->layout,
                internal::ElementValue(element));
  return true;
}

}  // namespace

namespace internal {

void MapElementRelease(HashMap* map, MapElement* element) {
  if (!IntegerKeys(map)) {
    SizedFree(element->key.text);
  }
  if (map->layout != nullptr) {
    StructureClear(ElementValue(element), map->layout);
  }
  PoolGive(map->pool, element);
}

}  // namespace internal

HashMap* MapCreate(uint64_t value_size, int32_t type, LayoutDescriptor layout, HashMap** variable,
                   int32_t buckets, uint8_t flags) {
  if (variable != nullptr) {
    MapFree(*variable);
    // The freed map clears only the variable it was created into; this one may be another copy
    // of its address, which a failed creation below would otherwise leave pointing at freed memory.
    *variable = nullptr;
  }
  uint64_t element_size = 0;
  if (!internal::ElementSizeFits(value_size, &element_size)) {
    return nullptr;
  }
  const uint32_t bucket_count = buckets >= 2 ? static_cast<uint32_t>(buckets) : 1;
  uint64_t bucket_bytes = 0;
  if (!MemorySizeFits(bucket_count, sizeof(void*), 0, &bucket_bytes)) {
    return nullptr;
  }
  auto* map = static_cast<HashMap*>(SizedAllocZeroed(sizeof(HashMap)));
  if (map == nullptr) {
    return nullptr;
  }
  map->buckets = static_cast<MapElement**>(SizedAllocZeroed(bucket_bytes));
  map->pool = PoolCreate(element_size, kPoolMinimum, kPoolMaximum, PoolShared);
  if (map->buckets == nullptr || map->pool == nullptr) {
    PoolDestroy(map->pool);
    SizedFree(map->buckets);
    SizedFree(map);
    return nullptr;
  }
  map->bucket_count = bucket_count;
  map->value_size = value_size;
  map->type = type;
  map->layout = layout;
  map->owner = variable;
  map->current_bucket = -1;
  map->saved_bucket = -1;
  map->flags = flags & (MapKeyNoCase | MapIntegerKeys);
  if (LayoutNeedsInit(layout) != 0) {
    map->flags |= MapStructured;
  }
  if (variable != nullptr) {
    *variable = map;
  }
  return map;
}

void MapClear(HashMap* map) {
  if (map == nullptr) {
    return;
  }
  internal::MapIndexDrop(map);
  // Each element's successor is read before the element goes back to the pool.
  for (uint32_t bucket = 0; bucket < map->bucket_count; ++bucket) {
    MapElement* element = map->buckets[bucket];
    map->buckets[bucket] = nullptr;
    while (element != nullptr) {
      MapElement* next = element->next;
      internal::MapElementRelease(map, element);
      element = next;
    }
  }
  MapReset(map);
  map->saved_bucket = -1;
  map->element_count = 0;
}

void MapFree(HashMap* map) {
  if (map == nullptr) {
    return;
  }
  MapClear(map);
  PoolDestroy(map->pool);
  SizedFree(map->buckets);
  if (map->owner != nullptr && *map->owner == map) {
    *map->owner = nullptr;
  }
  SizedFree(map);
}

int32_t MapCopy(HashMap* source, HashMap* destination, int32_t clear_first) {
  if (source == nullptr || destination == nullptr) {
    return 0;
  }
  // Copying values of another size, key kind or layout would write past the destination's
  // values or free keys that are numbers: such copies are refused.
  if (source->value_size != destination->value_size ||
      IntegerKeys(source) != IntegerKeys(destination) || source->layout != destination->layout) {
    return 0;
  }
  // A map copied onto itself after clearing is the map as it was.
  if (source == destination && clear_first != 0) {
    return 1;
  }
  const HashMap saved = *source;
  if (clear_first != 0) {
    MapClear(destination);
  }
  // Copies land at the head of their key's chain, behind this walk's position, so a map copied
  // onto itself has each of its elements copied exactly once.
  int32_t result = 1;
  for (uint32_t bucket = 0; bucket < source->bucket_count && result != 0; ++bucket) {
    for (MapElement* element = source->buckets[bucket]; element != nullptr;
         element = element->next) {
      if (!ElementCopyInto(source, element, destination)) {
        result = 0;
        break;
      }
    }
  }
  source->current = saved.current;
  source->current_bucket = saved.current_bucket;
  source->previous = saved.previous;
  source->saved_bucket = saved.saved_bucket;
  return result;
}

int32_t MapElementCount(const HashMap* map) {
  return map == nullptr ? 0 : map->element_count;
}

void MapHooksRegister() {
  Hooks.MapCreateHook = MapCreateHookTarget;
  Hooks.MapCopyHook = MapCopy;
  Hooks.MapFreeHook = MapFree;
}

}  // namespace zn
