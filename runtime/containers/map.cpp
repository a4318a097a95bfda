// Hash maps as a whole: creating, clearing, copying and freeing them, and the map hooks through
// which structure code reaches map fields.
//
// Without MapGrowing the bucket count is fixed for the life of a map and chains grow instead; a
// growing map doubles it (map_grow.cpp). Elements come from the shared pool of their element
// size, so maps (and lists) whose elements have one size share one pool, and a map holds one
// reference to it.
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

// Calls `copy` with each element the source holds now, in the order copies are made: a growing
// map oldest first, so that its copies keep its order, another bucket by bucket. It stops after
// the elements the source held when it began, so that a map copied onto itself never copies its
// copies (in a map without MapGrowing they land at chain heads, behind the walk, anyway), and at
// the first copy that fails. False when one failed.
template <typename Copy>
bool SourceWalk(const HashMap* source, Copy copy) {
  int32_t left = source->element_count;
  if (internal::MapIsGrowing(source)) {
    for (MapElement* element = internal::MapGrowthOf(source).oldest; left > 0;
         element = internal::MapLinksOf(element)->newer, --left) {
      if (!copy(element)) {
        return false;
      }
    }
    return true;
  }
  for (uint32_t bucket = 0; bucket < source->bucket_count && left > 0; ++bucket) {
    for (MapElement* element = source->buckets[bucket]; element != nullptr && left > 0;
         element = element->next, --left) {
      if (!copy(element)) {
        return false;
      }
    }
  }
  return true;
}

// Adds copies of the source's elements to `destination`, all or none: when memory runs out the
// copies made so far are deleted again and the destination's current element is put back.
int32_t CopyAdding(HashMap* source, HashMap* destination) {
  const int32_t count = source->element_count;
  if (count == 0) {
    return 1;
  }
  // Each copy, so that a failed copy can take them back; asked for before anything changes.
  auto* added = static_cast<MapElement**>(SizedAlloc(static_cast<uint64_t>(count) * sizeof(void*)));
  if (added == nullptr) {
    return 0;
  }
  const HashMap before = *destination;
  int32_t made = 0;
  const bool copied = SourceWalk(source, [&](MapElement* element) {
    if (!ElementCopyInto(source, element, destination)) {
      return false;
    }
    added[made++] = destination->current;
    return true;
  });
  if (!copied) {
    while (made > 0) {
      internal::MapElementDelete(destination, added[--made]);
    }
    internal::MapPositionRestore(destination, before);
  }
  SizedFree(added);
  return copied ? 1 : 0;
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
  if (!SourceWalk(source,
                  [&](MapElement* element) { return ElementCopyInto(source, element, copy); })) {
    MapFree(copy);
    return 0;
  }
  MapClear(destination);
  std::swap(destination->buckets, copy->buckets);
  std::swap(destination->index, copy->index);
  std::swap(destination->element_count, copy->element_count);
  if (internal::MapIsGrowing(destination)) {  // the copy may have doubled on the way
    std::swap(destination->bucket_count, copy->bucket_count);
    std::swap(internal::MapGrowthOf(destination), internal::MapGrowthOf(copy));
  }
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
  MapElementGive(map, element);
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
  const bool growing = (flags & MapGrowing) != 0;
  uint64_t element_size = 0;
  if (!internal::ElementSizeFits(value_size, &element_size) ||
      (growing && !MemorySizeFits(1, element_size, sizeof(MapOrderLinks), &element_size))) {
    return nullptr;
  }
  uint32_t bucket_count = buckets >= 2 ? static_cast<uint32_t>(buckets) : 1;
  if (growing) {
    bucket_count = internal::MapGrowingBucketCount(buckets);
  }
  uint64_t bucket_bytes = 0;
  if (!MemorySizeFits(bucket_count, sizeof(void*), 0, &bucket_bytes)) {
    return nullptr;
  }
  auto* map =
      static_cast<HashMap*>(SizedAllocZeroed(growing ? sizeof(GrowingHashMap) : sizeof(HashMap)));
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
  map->flags = flags & (MapKeyNoCase | MapIntegerKeys | MapGrowing);
  if (LayoutNeedsInit(layout) != 0) {
    map->flags |= MapStructured;
  }
  if (growing) {
    internal::MapGrowthStart(map);
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
  if (internal::MapIsGrowing(map)) {
    internal::MapGrowthOf(map).newest = nullptr;
    internal::MapGrowthOf(map).oldest = nullptr;
  }
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
  internal::MapPositionRestore(source, saved);
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
