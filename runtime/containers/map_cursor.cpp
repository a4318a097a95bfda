// Map walks with a cursor of their own, and the operations on an element known by its value's
// address (its key, deleting it).
//
// A cursor holds the element it stands on, never the map's current element, so finds and adds
// leave it where it is, and a delete of another element cannot pull an element from under it. It
// reads its next element only when it steps: in a growing map the next older element (the order
// of adding does not change when the buckets double, and new elements join at the newest end,
// behind the walk); in another map the next element of the chain or the head of the next
// non-empty bucket (new elements join at chain heads, so whether the walk meets them depends on
// their bucket). Deleting through the cursor first notes the element that follows, which the
// next step returns.
#include <cstdint>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"

namespace zn {
namespace {

enum CursorState : int32_t {
  kBeforeFirst,  // no step taken yet
  kOnElement,    // standing on `element`, visited
  kBeforeNext,  // after a delete: `element` is the next to visit (in a map without MapGrowing, null
                // means the head of the first non-empty bucket after `bucket`)
  kOver,
};

MapElement* ElementOf(const void* value) {
  return static_cast<MapElement*>(const_cast<void*>(
      static_cast<const void*>(static_cast<const char*>(value) - sizeof(MapElement))));
}

// The head of the first non-empty bucket from `bucket` on, with its bucket; null after the last.
MapElement* ScanFrom(const HashMap* map, uint32_t bucket, uint32_t* found) {
  for (; bucket < map->bucket_count; ++bucket) {
    if (map->buckets[bucket] != nullptr) {
      *found = bucket;
      return map->buckets[bucket];
    }
  }
  return nullptr;
}

// The element a walk meets after `element` in its chain (or, growing, in the order of adding).
MapElement* Following(const HashMap* map, const MapElement* element) {
  return internal::MapIsGrowing(map) ? internal::MapLinksOf(element)->older : element->next;
}

bool StringKeys(const HashMap* map) {
  return (map->flags & MapIntegerKeys) == 0;
}

}  // namespace

MapCursor MapCursorStart(HashMap* map) {
  return MapCursor{map, nullptr, 0, map != nullptr ? kBeforeFirst : kOver};
}

void* MapCursorNext(MapCursor* cursor) {
  if (cursor == nullptr || cursor->map == nullptr) {
    return nullptr;
  }
  const HashMap* map = cursor->map;
  const bool growing = internal::MapIsGrowing(map);
  MapElement* next = nullptr;
  switch (cursor->state) {
    case kBeforeFirst:
      next = growing ? internal::MapGrowthOf(map).newest : ScanFrom(map, 0, &cursor->bucket);
      break;
    case kOnElement:
      next = Following(map, cursor->element);
      if (next == nullptr && !growing) {
        next = ScanFrom(map, cursor->bucket + 1, &cursor->bucket);
      }
      break;
    case kBeforeNext:
      next = cursor->element;
      if (next == nullptr && !growing) {
        next = ScanFrom(map, cursor->bucket + 1, &cursor->bucket);
      }
      break;
    default:
      return nullptr;
  }
  cursor->element = next;
  cursor->state = next != nullptr ? kOnElement : kOver;
  return next != nullptr ? internal::ElementValue(next) : nullptr;
}

const char16_t* MapCursorKey(const MapCursor* cursor) {
  if (cursor == nullptr || cursor->state != kOnElement) {
    return nullptr;
  }
  return MapValueKey(cursor->map, internal::ElementValue(cursor->element));
}

int64_t MapCursorIntegerKey(const MapCursor* cursor) {
  if (cursor == nullptr || cursor->state != kOnElement) {
    return -1;
  }
  return MapValueIntegerKey(cursor->map, internal::ElementValue(cursor->element));
}

int32_t MapCursorDelete(MapCursor* cursor) {
  if (cursor == nullptr || cursor->state != kOnElement) {
    return 0;
  }
  MapElement* element = cursor->element;
  MapElement* next = Following(cursor->map, element);
  if (!internal::MapElementDelete(cursor->map, element)) {
    return 0;
  }
  cursor->element = next;
  cursor->state = kBeforeNext;
  return 1;
}

const char16_t* MapValueKey(const HashMap* map, const void* value) {
  if (map == nullptr || value == nullptr || !StringKeys(map)) {
    return nullptr;
  }
  return ElementOf(value)->key.text;
}

int64_t MapValueIntegerKey(const HashMap* map, const void* value) {
  if (map == nullptr || value == nullptr || StringKeys(map)) {
    return -1;
  }
  return ElementOf(value)->key.number;
}

int32_t MapDeleteValue(HashMap* map, void* value) {
  if (map == nullptr || value == nullptr) {
    return 0;
  }
  return internal::MapElementDelete(map, ElementOf(value)) ? 1 : 0;
}

}  // namespace zn
