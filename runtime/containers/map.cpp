// Hash maps as a whole: creating, clearing, copying and freeing them, and the map hooks through
// which structure code reaches map fields.
//
// The bucket count is fixed for the life of a map; chains grow instead. Elements come from the
// shared pool of their element size, so maps (and lists) whose elements have one size share one
// pool, and a map holds one reference to it.
#include <cstring>
#include <utility>

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
// exhausted, with nothing added.
bool ElementCopyInto(const HashMap* source, MapElement* element, HashMap* destination) {
  void* value = IntegerKeys(source) ? MapAddInteger(destination, element->key.number, 0)
                                    : MapAdd(destination, element->key.text, 0);
  if (value == nullptr) {
    return false;
  }
  if (StructureCopy(value, static_cast<int64_t>(source->value_size), source->layout,
                    internal::ElementValue(element)) == 0) {
    MapDeleteCurrent(destination);  // the new element, current at the head of its chain
    return false;
  }
  return true;
}

// Adds copies of the source's elements to `destination`, all or none: when memory runs out the
// copies made so far are deleted again and the destination's current element is put back. Copies
// land at the head of their key's chain, behind the walk's position, so a map copied onto itself
// has each of its elements copied exactly once.
int32_t CopyAdding(HashMap* source, HashMap* destination) {
  const int32_t count = source->element_count;
  if (count == 0) {
    return 1;
  }
  // Where each copy went, so that a failed copy can take them back; asked for before anything
  // changes.
  struct Added {
    MapElement* element;
    int32_t bucket;
  };
  auto* added = static_cast<Added*>(SizedAlloc(static_cast<uint64_t>(count) * sizeof(Added)));
  if (added == nullptr) {
    return 0;
  }
  const HashMap before = *destination;
  int32_t made = 0;
  for (uint32_t bucket = 0; bucket < source->bucket_count && made >= 0; ++bucket) {
    for (MapElement* element = source->buckets[bucket]; element != nullptr && made < count;
         element = element->next) {
      if (!ElementCopyInto(source, element, destination)) {
        // Newest first: each copy is then the head of its chain when it goes.
        while (made > 0) {
          --made;
          destination->current = added[made].element;
          destination->current_bucket = added[made].bucket;
          destination->previous = nullptr;
          MapDeleteCurrent(destination);
        }
        made = -1;
        break;
      }
      added[made++] = {destination->current, destination->current_bucket};
    }
  }
  if (made < 0) {
    destination->current = before.current;
    destination->current_bucket = before.current_bucket;
    destination->previous = before.previous;
    destination->saved_bucket = before.saved_bucket;
  }
  SizedFree(added);
  return made < 0 ? 0 : 1;
}

// Replaces the destination's elements by copies of the source's, all or none: the copies are made
// in a map of the destination's shape first, and only once all of them exist do the old elements
// go and the new chains take their place. Both maps take their elements from the same shared pool.
int32_t CopyReplacing(HashMap* source, HashMap* destination) {
  HashMap* copy =
      MapCreate(destination->value_size, destination->type, destination->layout, nullptr,
                static_cast<int32_t>(destination->bucket_count), destination->flags);
  if (copy == nullptr) {
    return 0;
  }
  for (uint32_t bucket = 0; bucket < source->bucket_count; ++bucket) {
    for (MapElement* element = source->buckets[bucket]; element != nullptr;
         element = element->next) {
      if (!ElementCopyInto(source, element, copy)) {
        MapFree(copy);
        return 0;
      }
    }
  }
  MapClear(destination);
  std::swap(destination->buckets, copy->buckets);
  std::swap(destination->index, copy->index);
  std::swap(destination->element_count, copy->element_count);
  destination->current = copy->current;
  destination->current_bucket = copy->current_bucket;
  destination->previous = nullptr;
  MapFree(copy);  // an empty map now: its chains and index are the destination's old, empty ones
  return 1;
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
  const int32_t result =
      clear_first != 0 ? CopyReplacing(source, destination) : CopyAdding(source, destination);
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
